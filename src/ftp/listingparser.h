#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// One entry of a long listing line as "ls -al" prints it, or as a server with another column layout prints it.
struct TrecFileData
{
    QString Name;    // everything after the date, blanks trimmed (the ninth token on in the standard layout)
    qint64 Size = 0; // the number just before the date, decimal (64-bit: files of 2 GiB and more list with their size)
    QString Permissions; // the first token
    QString Reserved;    // nothing writes or reads it
    QString DateText;    // the date's tokens joined by single spaces ("Jul 25 15:01", "2012-02-07 00:31")
};

Q_DECLARE_METATYPE(TrecFileData)
// Lists of 100,000 records grow by moving memory, not by moving each record.
Q_DECLARE_TYPEINFO(TrecFileData, Q_RELOCATABLE_TYPE);

// Fills record from line. The date is found by its shape: a month name with the day and a time or a year, or an
// ISO date with an optional time (and zone); the size is the number just before it and the name everything after
// it. So lines without a group or a link count, with a group of two words or with a word in the owner's place
// read as well as the standard nine columns, which give what they always gave (their date is looked for first
// where the standard layout has it). A line where no date with a number before and a name after is found is read
// as nine columns: the fifth is the size, and when it is not a decimal number AppError("'<token>' は整数では
// ありません") is thrown; Permissions then holds the first token and the other fields keep their previous values.
void ParseListingLine(TrecFileData& record, const QString& line);

// What a listing transcript shows of the listed directory: its directories and its files, each in the order the
// server listed them, from the lines that begin with "d" and "-"; "." and ".." are left out.
struct ListingEntries
{
    QList<TrecFileData> directories;
    QList<TrecFileData> files;
    // transcriptShowsRefusedCd: what was listed is not the wanted directory, and no entries are read.
    bool refusedCd = false;
    // Empty, or ParseListingLine's AppError text for the first line that did not convert: the entries read before
    // it are kept, the rest are not. Directories are read before files, so such a file leaves every directory.
    QString error;
};

// Reads every entry of a transcript split into lines (splitListingOutput). Throws nothing.
[[nodiscard]] ListingEntries readListingEntries(const QStringList& lines);

// The entry's name exactly as ParseListingLine stores it in Name, without converting any column: a size that is
// not a number does not stop it.
QString ListingEntryName(const QString& line);

// Splits captured client output into lines at CR LF, CR or LF.
QStringList splitListingOutput(const QString& output);

// True when the client's transcript shows a "cd" that did not succeed: the final reply line after an echoed
// "ftp> cd ..." line (three digits and a space, before the next echoed command) is not 2xx, or there is none
// (not connected, connection lost). Such a listing is not a listing of the wanted directory.
bool transcriptShowsRefusedCd(const QStringList& lines);

// The text without the blanks and control characters (codes up to the space) at both ends. The parser cuts them
// from the rest of the line after every token, so runs of spaces between columns act as one separator and a
// name loses trailing blanks.
QString trimmedBlanks(const QString& text);
