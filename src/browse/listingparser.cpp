#include "browse/listingparser.h"

#include "settings/apperror.h"

#include <charconv>

namespace {

// The size column: an optional sign and decimal digits, nothing else, within 64 bits.
bool parseSize(const QString& token, qint64& value)
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

void ParseListingLine(TrecFileData& record, const QString& line)
{
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

const QLatin1String Prompt("ftp> ");

bool isCdEcho(const QString& line)
{
    if (!line.startsWith(Prompt))
        return false;
    const QString command = line.mid(Prompt.size()).trimmed();
    return command == QLatin1String("cd") || command.startsWith(QLatin1String("cd "));
}

// A reply line starts with a three-digit code followed by a space, a dash (the first line of a multi-line
// reply) or nothing.
int replyCode(const QString& line)
{
    if (line.size() < 3)
        return -1;
    for (int i = 0; i < 3; ++i) {
        if (!line.at(i).isDigit() || line.at(i).unicode() > 0x7F)
            return -1;
    }
    if (line.size() > 3 && line.at(3) != QLatin1Char(' ') && line.at(3) != QLatin1Char('-'))
        return -1;
    return line.left(3).toInt();
}

} // namespace

bool transcriptShowsRefusedCd(const QStringList& lines)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (!isCdEcho(lines.at(i)))
            continue;
        if (i + 1 < lines.size() && lines.at(i + 1).trimmed() == QLatin1String("Not connected."))
            return true;
        // The first reply after the echo answers the cd; the next echoed command ends the search.
        for (qsizetype j = i + 1; j < lines.size() && !lines.at(j).startsWith(Prompt); ++j) {
            const int code = replyCode(lines.at(j));
            if (code < 0)
                continue;
            if (code >= 400 && code < 600)
                return true;
            break;
        }
    }
    return false;
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
