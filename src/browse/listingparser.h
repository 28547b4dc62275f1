#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// One entry of a long listing line as "ls -al" prints it.
struct TrecFileData
{
    QString Name;        // the ninth token and everything after it, blanks trimmed
    qint64 Size = 0;     // the fifth token, decimal (64-bit: files of 2 GiB and more list with their size)
    QString Permissions; // the first token
    QString Reserved;    // nothing writes or reads it
    QString DateText;    // tokens six, seven and eight joined by single spaces
};

Q_DECLARE_METATYPE(TrecFileData)

// Fills record from line. Throws AppError("'<token>' は整数ではありません") when the size token is not a decimal
// number; Permissions then holds the first token and the other fields keep their previous values.
void ParseListingLine(TrecFileData& record, const QString& line);

// The entry's name exactly as ParseListingLine stores it in Name (the ninth token and everything after it, blanks
// trimmed), without converting any column: a size that is not a number does not stop it.
QString ListingEntryName(const QString& line);

// Splits captured client output into lines at CR LF, CR or LF.
QStringList splitListingOutput(const QString& output);

// True when the client's transcript shows a "cd" that the server refused: the echoed "ftp> cd ..." line is
// followed by a 4xx or 5xx reply. Such a listing is not a listing of the wanted directory.
bool transcriptShowsRefusedCd(const QStringList& lines);

// The text without the blanks and control characters (codes up to the space) at both ends. The parser cuts them
// from the rest of the line after every token, so runs of spaces between columns act as one separator and a
// name loses trailing blanks.
QString trimmedBlanks(const QString& text);
