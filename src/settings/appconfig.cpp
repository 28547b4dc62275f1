#include "appconfig.h"

#include "apperror.h"
#include "appfolders.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <cstdio>
#include <limits>
#include <optional>
#include <unistd.h>

namespace {

// A stored text value is cut to this many bytes, on a character boundary.
constexpr qsizetype MaxValueBytes = 2047;

// The file as a list of lines without their line ends. The line end of the file (LF, or CR LF for a file written
// elsewhere) is kept for the lines a write adds, so a write never mixes the two.
struct IniLines
{
    QList<QByteArray> lines;
    // Per line: it ended with "\r" before its "\n", which lines holds without. A file whose line ends are "\n"
    // gives such a line its "\r" back when written, so a rewrite changes no line it did not mean to.
    QList<bool> hadCr;
    QByteArray eol = "\n";

    void insert(qsizetype at, const QByteArray& line)
    {
        lines.insert(at, line);
        hadCr.insert(at, false);
    }
    void append(const QByteArray& line) { insert(lines.size(), line); }
    void replace(qsizetype at, const QByteArray& line)
    {
        lines[at] = line;
        hadCr[at] = false;
    }
};

IniLines splitLines(const QByteArray& data)
{
    IniLines ini;
    if (data.isEmpty())
        return ini;
    const qsizetype firstLf = data.indexOf('\n');
    if (firstLf > 0 && data.at(firstLf - 1) == '\r')
        ini.eol = "\r\n";
    ini.lines = data.split('\n');
    // a last line without a line end is still a line; after a final line end split() yields one empty extra
    if (data.endsWith('\n'))
        ini.lines.removeLast();
    ini.hadCr.reserve(ini.lines.size());
    for (QByteArray& line : ini.lines) {
        ini.hadCr.append(line.endsWith('\r'));
        if (ini.hadCr.last())
            line.chop(1);
    }
    return ini;
}

QByteArray joinLines(const IniLines& ini)
{
    QByteArray out;
    for (qsizetype i = 0; i < ini.lines.size(); ++i) {
        out += ini.lines.at(i);
        if (ini.hadCr.at(i) && ini.eol == "\n")
            out += '\r';
        out += ini.eol;
    }
    return out;
}

// UTF-8 text of the file as it stands: a U+FEFF at the start of a value or name is part of it (QString::fromUtf8
// would take it for a byte-order mark and drop it); the file's own mark is cut by withoutBom.
QString decodedUtf8(const QByteArray& bytes)
{
    // Stateless: an incomplete sequence at the end of the value becomes U+FFFD rather than being held back (and
    // lost) as the start of a character that never comes.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::ConvertInitialBom | QStringDecoder::Flag::Stateless);
    return decoder.decode(bytes);
}

// Without the byte-order mark an editor may have put in front of the first line.
QByteArray withoutBom(const QByteArray& line, qsizetype index)
{
    if (index == 0 && line.startsWith("\xEF\xBB\xBF"))
        return line.mid(3);
    return line;
}

// The section name of a "[name]" line. The name runs to the last "]", so a profile name that itself holds "]"
// finds its section again; blanks inside the brackets belong to the name (profile names are kept as typed).
std::optional<QString> sectionOf(const QByteArray& rawLine, qsizetype index)
{
    const QByteArray line = withoutBom(rawLine, index).trimmed();
    if (!line.startsWith('['))
        return std::nullopt;
    qsizetype end = line.lastIndexOf(']');
    if (end < 1)
        end = line.size();
    return decodedUtf8(line.mid(1, end - 1));
}

struct KeyLine
{
    QString key;
    QByteArray value;
};

// A "key=value" line. The key is compared without the blanks around it; the value is everything after the
// first "=", exactly as stored.
std::optional<KeyLine> keyOf(const QByteArray& rawLine, qsizetype index)
{
    const QByteArray line = withoutBom(rawLine, index);
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(';') || trimmed.startsWith('['))
        return std::nullopt;
    const qsizetype eq = line.indexOf('=');
    if (eq < 0)
        return std::nullopt;
    return KeyLine{decodedUtf8(line.left(eq)).trimmed(), line.mid(eq + 1)};
}

bool sameName(const QString& a, const QString& b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Index of the first "[section]" line, or -1.
qsizetype findSection(const IniLines& ini, const QString& section)
{
    for (qsizetype i = 0; i < ini.lines.size(); ++i) {
        const auto name = sectionOf(ini.lines.at(i), i);
        if (name && sameName(*name, section))
            return i;
    }
    return -1;
}

// One past the last line of the section that starts at sectionLine.
qsizetype sectionEnd(const IniLines& ini, qsizetype sectionLine)
{
    qsizetype i = sectionLine + 1;
    while (i < ini.lines.size() && !sectionOf(ini.lines.at(i), i))
        ++i;
    return i;
}

// The stored keys are compared without their surrounding blanks, so the asked key is too: otherwise a key
// written with a blank at an end would never be found again, and each write would add another line for it.
qsizetype findKey(const IniLines& ini, qsizetype sectionLine, const QString& key)
{
    const QString wanted = key.trimmed();
    const qsizetype end = sectionEnd(ini, sectionLine);
    for (qsizetype i = sectionLine + 1; i < end; ++i) {
        const auto kv = keyOf(ini.lines.at(i), i);
        if (kv && sameName(kv->key, wanted))
            return i;
    }
    return -1;
}

// Cuts UTF-8 text to at most maxBytes without splitting a character: continuation bytes (10xxxxxx) at the cut
// are given back together with the lead byte they belong to.
QByteArray cutUtf8(const QByteArray& bytes, qsizetype maxBytes)
{
    if (bytes.size() <= maxBytes)
        return bytes;
    qsizetype end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(bytes.at(end)) & 0xC0) == 0x80)
        --end;
    return bytes.left(end);
}

QString fullPathOf(const QString& path)
{
    return QFileInfo(path).absoluteFilePath();
}

[[noreturn]] void refuseWrite(const QString& path)
{
    throw AppError(QStringLiteral("%1 に書き込めません").arg(fullPathOf(path)));
}

// The stored value, or nothing when the file, the section or the key is missing.
std::optional<QByteArray> readRaw(const QString& path, const QString& section, const QString& key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const IniLines ini = splitLines(file.readAll());
    const qsizetype s = findSection(ini, section);
    if (s < 0)
        return std::nullopt;
    const qsizetype k = findKey(ini, s, key);
    if (k < 0)
        return std::nullopt;
    return keyOf(ini.lines.at(k), k)->value;
}

// Integer reading of a stored text: "0x"/"0X" followed by at least one more character reads the rest as
// hexadecimal, anything else as decimal with an optional sign. Blanks in front are skipped and the leading digits
// count, as the desktop reader does ("12abc" is 12, " 12" is 12); text without digits, or a number outside the
// range of int, yields nothing.
std::optional<int> parseInteger(const QByteArray& stored)
{
    qsizetype i = 0;
    while (i < stored.size() && (stored.at(i) == ' ' || stored.at(i) == '\t'))
        ++i;
    const QByteArray text = stored.mid(i);

    if (text.size() > 2 && text.at(0) == '0' && (text.at(1) == 'x' || text.at(1) == 'X')) {
        qint64 value = 0;
        qsizetype digits = 0;
        for (qsizetype p = 2; p < text.size(); ++p) {
            const char c = text.at(p);
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                break;
            value = value * 16 + d;
            ++digits;
            if (value > std::numeric_limits<int>::max())
                return std::nullopt;
        }
        if (digits == 0)
            return std::nullopt;
        return static_cast<int>(value);
    }

    qsizetype p = 0;
    bool negative = false;
    if (p < text.size() && (text.at(p) == '-' || text.at(p) == '+')) {
        negative = text.at(p) == '-';
        ++p;
    }
    qint64 value = 0;
    qsizetype digits = 0;
    for (; p < text.size() && text.at(p) >= '0' && text.at(p) <= '9'; ++p) {
        value = value * 10 + (text.at(p) - '0');
        ++digits;
        if (value > qint64(std::numeric_limits<int>::max()) + 1)
            return std::nullopt;
    }
    if (digits == 0)
        return std::nullopt;
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        return std::nullopt;
    return static_cast<int>(value);
}

bool hasLineBreak(const QString& text)
{
    return text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
}

bool ownerOnly(const QFileInfo& info)
{
    constexpr QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                                QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                                QFileDevice::WriteOther | QFileDevice::ExeOther;
    return !(info.permissions() & others);
}

// Replaces the file with data in one step: the new contents go to a temporary file in the same folder, which
// then takes the file's name. A failure at any point leaves the old file as it was. The file holds passwords in
// clear text, so it is readable by its owner only, whatever mode it had before.
void replaceFile(const QString& path, const QByteArray& data)
{
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        refuseWrite(path);

    QTemporaryFile temp(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    if (!temp.open())
        refuseWrite(path);
    if (!temp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        refuseWrite(path);
    if (temp.write(data) != data.size() || !temp.flush() || ::fsync(temp.handle()) != 0)
        refuseWrite(path);

    const QByteArray from = QFile::encodeName(temp.fileName());
    const QByteArray to = QFile::encodeName(info.absoluteFilePath());
    if (std::rename(from.constData(), to.constData()) != 0)
        refuseWrite(path);
    temp.setAutoRemove(false);
}

} // namespace

AppConfig::AppConfig() : m_path(defaultPath()) {}

AppConfig::AppConfig(QString path) : m_path(std::move(path)) {}

QString AppConfig::defaultPath()
{
    return AppFolders::current().configFile();
}

bool AppConfig::exists() const
{
    return QFileInfo(m_path).isFile();
}

QString AppConfig::readString(const QString& section, const QString& key, const QString& defaultValue) const
{
    const auto raw = readRaw(m_path, section, key);
    if (!raw)
        return defaultValue;
    return decodedUtf8(cutUtf8(*raw, MaxValueBytes));
}

int AppConfig::readInteger(const QString& section, const QString& key, int defaultValue) const
{
    const auto raw = readRaw(m_path, section, key);
    if (!raw)
        return defaultValue;
    return parseInteger(cutUtf8(*raw, MaxValueBytes)).value_or(defaultValue);
}

bool AppConfig::readBool(const QString& section, const QString& key, bool defaultValue) const
{
    return readInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void AppConfig::writeString(const QString& section, const QString& key, const QString& value)
{
    writeStrings(section, {{key, value}});
}

void AppConfig::writeStrings(const QString& section, const QList<std::pair<QString, QString>>& values)
{
    // A line break would end the line early and let the rest of the value pose as keys or sections of its own;
    // such a name or value cannot be stored, so the write is refused and the file stays as it was. Every value is
    // checked before any is written: a profile must not be left half replaced.
    if (hasLineBreak(section))
        refuseWrite(m_path);
    for (const auto& [key, value] : values) {
        const QString trimmedKey = key.trimmed();
        if (hasLineBreak(key) || hasLineBreak(value) || trimmedKey.isEmpty() || key.contains(QLatin1Char('=')) ||
            trimmedKey.startsWith(QLatin1Char('[')) || trimmedKey.startsWith(QLatin1Char(';')))
            refuseWrite(m_path);
    }

    IniLines ini;
    const QFileInfo info(m_path);
    if (info.exists()) {
        QFile file(m_path);
        // an existing file that cannot be read must not be replaced by one holding only these values
        if (!info.isFile() || !file.open(QIODevice::ReadOnly))
            refuseWrite(m_path);
        ini = splitLines(file.readAll());
        if (file.error() != QFileDevice::NoError)
            refuseWrite(m_path);
    }

    bool changed = false;
    for (const auto& [key, value] : values) {
        const QByteArray line = key.toUtf8() + '=' + value.toUtf8();
        const qsizetype s = findSection(ini, section);
        if (s < 0) {
            ini.append('[' + section.toUtf8() + ']');
            ini.append(line);
            changed = true;
        } else if (const qsizetype k = findKey(ini, s, key); k >= 0) {
            if (ini.lines.at(k) != line) {
                ini.replace(k, line);
                changed = true;
            }
        } else {
            // after the section's last non-blank line, so blank lines that set sections apart stay in between
            qsizetype at = sectionEnd(ini, s);
            while (at > s + 1 && ini.lines.at(at - 1).trimmed().isEmpty())
                --at;
            ini.insert(at, line);
            changed = true;
        }
    }
    // Every drop stores the upload options, mostly unchanged; replacing the file costs a flush to the disk each
    // time, in front of the upload. A file that already holds exactly these lines, with the owner-only mode a
    // write gives it, is left alone.
    if (!changed && info.exists() && ownerOnly(info))
        return;
    replaceFile(m_path, joinLines(ini));
}

void AppConfig::writeInteger(const QString& section, const QString& key, int value)
{
    writeString(section, key, QString::number(value));
}

void AppConfig::writeBool(const QString& section, const QString& key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

QString writeCommaList(const QStringList& names)
{
    if (names.isEmpty())
        return QString();
    if (names.size() == 1 && names.first().isEmpty())
        return QStringLiteral("\"\"");

    QString out;
    for (const QString& name : names) {
        bool quote = false;
        for (const QChar c : name) {
            if (c.unicode() <= 32 || c == QLatin1Char('"') || c == QLatin1Char(',')) {
                quote = true;
                break;
            }
        }
        if (quote) {
            out += QLatin1Char('"');
            for (const QChar c : name) {
                if (c == QLatin1Char('"'))
                    out += QLatin1Char('"');
                out += c;
            }
            out += QLatin1Char('"');
        } else {
            out += name;
        }
        out += QLatin1Char(',');
    }
    out.chop(1);
    return out;
}

QStringList readCommaList(const QString& stored)
{
    // the stored value ends at a NUL character, as a C string would
    const qsizetype nul = stored.indexOf(QChar(0));
    const QString value = nul < 0 ? stored : stored.left(nul);
    const qsizetype n = value.size();
    const auto isBlank = [&](qsizetype i) { return value.at(i).unicode() >= 1 && value.at(i).unicode() <= 32; };

    QStringList names;
    qsizetype i = 0;
    while (i < n && isBlank(i))
        ++i;
    while (i < n) {
        QString name;
        if (value.at(i) == QLatin1Char('"')) {
            ++i;
            while (i < n) {
                if (value.at(i) == QLatin1Char('"')) {
                    if (i + 1 < n && value.at(i + 1) == QLatin1Char('"')) {
                        name += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                name += value.at(i);
                ++i;
            }
        } else {
            while (i < n && value.at(i).unicode() > 32 && value.at(i) != QLatin1Char(','))
                name += value.at(i++);
        }
        names.append(name);
        while (i < n && isBlank(i))
            ++i;
        if (i < n && value.at(i) == QLatin1Char(',')) {
            if (i == n - 1)
                names.append(QString());
            ++i;
            while (i < n && isBlank(i))
                ++i;
        }
    }
    return names;
}
