#include "ftp/listingparser.h"

#include "ftp/transcript.h"
#include "settings/apperror.h"

#include <charconv>
#include <optional>

namespace {

// The size column: an optional sign and decimal digits, nothing else, within 64 bits.
bool parseSize(QStringView token, qint64& value)
{
    for (QChar c : token) {
        if (c.unicode() > 0x7F)
            return false;
    }
    const QByteArray bytes = token.toLatin1();
    const char* first = bytes.constData();
    const char* last = first + bytes.size();
    if (first != last && *first == '+') {
        ++first;
        if (first != last && *first == '-')
            return false;
    }
    long long parsed = 0;
    const auto [end, error] = std::from_chars(first, last, parsed, 10);
    if (error != std::errc() || end != last)
        return false;
    value = parsed;
    return true;
}

} // namespace

namespace {

// The columns of a listing line in order, as far as the line reaches: the name (index 8) is everything left.
// Both the parser and the name taker go through here, so they never disagree on where a name begins.
QStringList listingTokens(const QString& line)
{
    QStringList tokens;
    QString rest = line;
    while (!rest.isEmpty()) {
        QString token;
        if (tokens.size() == 8) {
            // The name is everything left, inner runs of spaces included.
            token = rest;
            rest.clear();
        } else {
            // A token ends at a space; the last token on a line has no space after it and so is only ever taken
            // as the name: before that it reads as empty and stays in the rest.
            const qsizetype space = rest.indexOf(QLatin1Char(' '));
            if (space >= 0) {
                token = rest.left(space);
                rest.remove(0, space + 1);
            }
        }
        rest = trimmedBlanks(rest);
        tokens << token;
    }
    return tokens;
}

} // namespace

namespace {

// The tests of a token's shape look at views into the line: a listing of 100,000 lines would otherwise copy each
// token of each line once more.
bool isAsciiDigits(QStringView text, qsizetype from, qsizetype count)
{
    if (from < 0 || from + count > text.size())
        return false;
    for (qsizetype i = from; i < from + count; ++i) {
        if (text.at(i) < QLatin1Char('0') || text.at(i) > QLatin1Char('9'))
            return false;
    }
    return true;
}

// In any case; only ASCII letters count (no other letter lowercases to one of a month name's).
bool isMonthName(QStringView token)
{
    static constexpr const char* months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                             "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() != 3)
        return false;
    for (QChar c : token) {
        if (c.unicode() > 0x7F)
            return false;
    }
    for (const char* month : months) {
        if (token.compare(QLatin1String(month, 3), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool isDayOfMonth(QStringView token)
{
    if (token.isEmpty() || token.size() > 2 || !isAsciiDigits(token, 0, token.size()))
        return false;
    const int day = token.toInt();
    return day >= 1 && day <= 31;
}

// "9:05", "15:01", and with seconds (and a fraction) "23:45:56.477817180".
bool isTimeOfDay(QStringView token)
{
    const qsizetype hourDigits = token.indexOf(QLatin1Char(':'));
    if (hourDigits < 1 || hourDigits > 2 || !isAsciiDigits(token, 0, hourDigits) ||
        !isAsciiDigits(token, hourDigits + 1, 2))
        return false;
    qsizetype end = hourDigits + 3;
    if (end < token.size() && token.at(end) == QLatin1Char(':')) {
        if (!isAsciiDigits(token, end + 1, 2))
            return false;
        end += 3;
        if (end < token.size() && token.at(end) == QLatin1Char('.')) {
            const qsizetype fraction = token.size() - end - 1;
            if (fraction < 1 || !isAsciiDigits(token, end + 1, fraction))
                return false;
            end = token.size();
        }
    }
    return end == token.size() && token.left(hourDigits).toInt() <= 23 && token.mid(hourDigits + 1, 2).toInt() <= 59;
}

bool isYear(QStringView token)
{
    return token.size() == 4 && isAsciiDigits(token, 0, 4);
}

// "2012-02-07"
bool isIsoDate(QStringView token)
{
    if (token.size() != 10 || token.at(4) != QLatin1Char('-') || token.at(7) != QLatin1Char('-') ||
        !isAsciiDigits(token, 0, 4) || !isAsciiDigits(token, 5, 2) || !isAsciiDigits(token, 8, 2))
        return false;
    const int month = token.mid(5, 2).toInt();
    const int day = token.mid(8, 2).toInt();
    return month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

// "+0900", "-0400"
bool isZoneOffset(QStringView token)
{
    return token.size() == 5 && (token.at(0) == QLatin1Char('+') || token.at(0) == QLatin1Char('-')) &&
           isAsciiDigits(token, 1, 4);
}

// A token of the line and where the rest after it begins.
struct Token
{
    QStringView text; // into the line
    qsizetype restBegin = 0;
    qsizetype restEnd = 0;
};

// Every token of the line, split as listingTokens splits the first eight: a token ends at a space and the blanks
// after it are skipped. The last token (with no space after it) is not kept: it could only be a name.
QList<Token> spacedTokens(const QString& line)
{
    QList<Token> tokens;
    tokens.reserve(12);
    qsizetype begin = 0;
    qsizetype end = line.size();
    while (begin < end) {
        const qsizetype space = line.indexOf(QLatin1Char(' '), begin);
        if (space < 0 || space >= end)
            break;
        Token token;
        token.text = QStringView(line).mid(begin, space - begin);
        begin = space + 1;
        while (begin < end && line.at(begin).unicode() <= 0x20)
            ++begin;
        while (end > begin && line.at(end - 1).unicode() <= 0x20)
            --end;
        token.restBegin = begin;
        token.restEnd = end;
        tokens << token;
    }
    return tokens;
}

// The number of tokens a date starting at tokens[index] takes, 0 when none starts there: a month name with the
// day and a time or a year ("Jul 25 15:01", "May 10 1996"), or an ISO date with an optional time and, after a
// time, an optional zone ("2012-02-07 00:31", "2020-07-21 23:45:56.477817180 -0400").
qsizetype dateLength(const QList<Token>& tokens, qsizetype index)
{
    const auto text = [&tokens](qsizetype i) { return i < tokens.size() ? tokens.at(i).text : QStringView(); };
    if (isMonthName(text(index)) && isDayOfMonth(text(index + 1)) &&
        (isTimeOfDay(text(index + 2)) || isYear(text(index + 2))))
        return 3;
    if (!isIsoDate(text(index)))
        return 0;
    if (!isTimeOfDay(text(index + 1)))
        return 1;
    return isZoneOffset(text(index + 2)) ? 3 : 2;
}

// Where the columns of a line lie when they are found by their shape: the leftmost date after the first token,
// the size the token just before it, the name everything after it.
struct ShapedColumns
{
    QString permissions;
    QString size;
    QString dateText;
    QString name;
};

// The columns when the date starts at tokens[index] and a number stands before it and a name after it.
std::optional<ShapedColumns> columnsAt(const QString& line, const QList<Token>& tokens, qsizetype index)
{
    const qsizetype length = dateLength(tokens, index);
    if (length == 0)
        return std::nullopt;
    qint64 size = 0;
    const Token& last = tokens.at(index + length - 1);
    if (!parseSize(tokens.at(index - 1).text, size) || last.restBegin >= last.restEnd)
        return std::nullopt;
    ShapedColumns columns;
    columns.permissions = tokens.at(0).text.toString();
    columns.size = tokens.at(index - 1).text.toString();
    for (qsizetype i = index; i < index + length; ++i) {
        if (i > index)
            columns.dateText += QLatin1Char(' ');
        columns.dateText += tokens.at(i).text;
    }
    columns.name = line.mid(last.restBegin, last.restEnd - last.restBegin);
    return columns;
}

std::optional<ShapedColumns> shapedColumns(const QString& line)
{
    const QList<Token> tokens = spacedTokens(line);
    // The standard place first: an owner "may" with the group 20 and a size of 1024 reads as a date too.
    constexpr qsizetype StandardDate = 5;
    if (StandardDate < tokens.size()) {
        if (std::optional<ShapedColumns> columns = columnsAt(line, tokens, StandardDate))
            return columns;
    }
    for (qsizetype index = 2; index < tokens.size(); ++index) {
        if (dateLength(tokens, index) > 0)
            return columnsAt(line, tokens, index); // only the leftmost date counts: a later one is in the name
    }
    return std::nullopt;
}

} // namespace

void ParseListingLine(TrecFileData& record, const QString& line)
{
    // Servers that leave out the group or the link count, add words, or print ISO dates are read by the shape of
    // their date column; the standard layout gives the same columns either way.
    if (const std::optional<ShapedColumns> columns = shapedColumns(line)) {
        qint64 size = 0;
        parseSize(columns->size, size);
        record.Permissions = columns->permissions;
        record.Size = size;
        record.DateText = columns->dateText;
        record.Name = columns->name;
        return;
    }
    // No date found: the nine columns as they stand, which names the size column when it is not a number.
    const QStringList tokens = listingTokens(line);
    for (int index = 0; index < tokens.size(); ++index) {
        const QString& token = tokens.at(index);
        switch (index) {
        case 0:
            record.Permissions = token;
            break;
        case 4: {
            qint64 size = 0;
            if (!parseSize(token, size))
                throw AppError(QStringLiteral("'%1' は整数ではありません").arg(token));
            record.Size = size;
            break;
        }
        case 5:
            record.DateText = token;
            break;
        case 6:
        case 7:
            record.DateText += QLatin1Char(' ') + token;
            break;
        case 8:
            record.Name = token;
            break;
        default:
            // link count, owner and group are not kept
            break;
        }
    }
}

QString ListingEntryName(const QString& line)
{
    if (const std::optional<ShapedColumns> columns = shapedColumns(line))
        return columns->name;
    const QStringList tokens = listingTokens(line);
    return tokens.size() > 8 ? tokens.at(8) : QString();
}

QStringList splitListingOutput(const QString& output)
{
    // A line break at the very end closes the last line and does not open an empty one.
    QStringList lines;
    qsizetype start = 0;
    const qsizetype size = output.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = output.at(i);
        if (c != QLatin1Char('\r') && c != QLatin1Char('\n'))
            continue;
        lines << output.mid(start, i - start);
        if (c == QLatin1Char('\r') && i + 1 < size && output.at(i + 1) == QLatin1Char('\n'))
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines << output.mid(start);
    return lines;
}

namespace {

const QLatin1String Prompt(Transcript::kPrompt);

bool isCdEcho(const QString& line)
{
    if (!line.startsWith(Prompt))
        return false;
    const QString command = line.mid(Prompt.size()).trimmed();
    return command == QLatin1String("cd") || command.startsWith(QLatin1String("cd "));
}

// The line that ends a reply: three digits followed by a space. Other lines of a multi-line reply ("250-...", a
// bare "250") do not count, whatever their code: the client ends a reply at this line too and judges the command
// by it.
int finalReplyCode(const QString& line)
{
    if (line.size() < 4 || line.at(3) != QLatin1Char(' '))
        return -1;
    for (int i = 0; i < 3; ++i) {
        if (line.at(i) < QLatin1Char('0') || line.at(i) > QLatin1Char('9'))
            return -1;
    }
    return line.left(3).toInt();
}

} // namespace

bool transcriptShowsRefusedCd(const QStringList& lines)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!isCdEcho(lines.at(i)))
            continue;
        // Only a 2xx reply before the next echoed command means the client is in the wanted directory: a refusal,
        // "Not connected." or a lost connection (the client's own message and no reply) all leave it elsewhere.
        int code = -1;
        for (qsizetype j = i + 1; j < lines.size() && !lines.at(j).startsWith(Prompt) && code < 0; ++j)
            code = finalReplyCode(lines.at(j));
        if (code < 200 || code >= 300)
            return true;
    }
    return false;
}

ListingEntries readListingEntries(const QStringList& lines)
{
    ListingEntries entries;
    entries.refusedCd = transcriptShowsRefusedCd(lines);
    if (entries.refusedCd)
        return entries;
    const auto read = [&lines, &entries](QChar kind, QList<TrecFileData>& into) {
        for (const QString& line : lines) {
            if (!line.startsWith(kind))
                continue;
            TrecFileData record;
            try {
                ParseListingLine(record, line);
            } catch (const AppError& error) {
                entries.error = error.message();
                return false;
            }
            if (kind == QLatin1Char('d') && (record.Name == QLatin1String(".") || record.Name == QLatin1String("..")))
                continue;
            into.append(std::move(record));
        }
        return true;
    };
    if (read(QLatin1Char('d'), entries.directories))
        read(QLatin1Char('-'), entries.files);
    return entries;
}

QString trimmedBlanks(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return begin > 0 || end < text.size() ? text.mid(begin, end - begin) : text;
}
