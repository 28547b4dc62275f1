#pragma once

#include <QString>
#include <QStringList>

#include <utility>

// Reader and writer of AppConfig.ini, the one settings file, which lives beside the executable (or, for an
// installed program, in the user's configuration folder: AppFolders).
//
// Contract (main thread; every handler opens the file for its own reads or writes, nothing is cached):
// - Format: lines "[section]" and "key=value"; section and key names compare without regard to letter case.
//   The file is UTF-8. A new file is created readable and writable by its owner only (it holds passwords).
// - Text values are returned exactly as written (enclosing quotes are kept), cut to 2047 bytes.
// - Integers are written in decimal; a stored text longer than 2 characters that starts with "0x"/"0X" reads
//   as hexadecimal, anything else as decimal; text that does not convert reads as the default. Blanks in front
//   are skipped and the leading digits count ("12abc" and " 12" read 12); no digits, or a number outside the
//   range of int, reads as the default.
// - Booleans are written "1"/"0" and read as integers with default 1/0; any non-zero value is true.
// - Readers return the default when the file, the section or the key is missing. Callers that must skip all
//   their reads when the file is missing test exists() first.
// - Writers create the file and the section when missing; a refused write throws AppError with the message
//   "<full path> に書き込めません". A write replaces the file in one step (a failed write leaves it as it was)
//   and leaves it readable by its owner only; a write that would store a line the file already holds, in a file
//   readable by its owner only, leaves the file untouched. A section, key or value holding a line break (which would
//   forge lines of its own), an empty key or one holding "=" is refused the same way.
class AppConfig
{
public:
    // The running program's settings file (AppFolders::current()).
    AppConfig();
    explicit AppConfig(QString path);

    static QString defaultPath();
    const QString& path() const { return m_path; }
    bool exists() const;

    QString readString(const QString& section, const QString& key, const QString& defaultValue) const;
    int readInteger(const QString& section, const QString& key, int defaultValue) const;
    bool readBool(const QString& section, const QString& key, bool defaultValue) const;

    void writeString(const QString& section, const QString& key, const QString& value);
    // Several keys of one section in one replacement of the file: all of them reach it, or none does.
    void writeStrings(const QString& section, const QList<std::pair<QString, QString>>& values);
    void writeInteger(const QString& section, const QString& key, int value);
    void writeBool(const QString& section, const QString& key, bool value);

private:
    QString m_path;
};

// The comma list of "cn_names". Names holding a character of code 32 or less, a double quote or a comma are
// written in double quotes with inner quotes doubled; an empty list is the empty text and a list of one empty
// name is two double quotes.
QString writeCommaList(const QStringList& names);
QStringList readCommaList(const QString& value);
