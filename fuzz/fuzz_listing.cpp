// The listing parser and the transcript checks on arbitrary client output.
//
// Input: the first line is a name and the second a size for a listing line built by the target; everything is
// also parsed as client output.

#include "ftp/listingparser.h"
#include "ftp/transcript.h"
#include "settings/apperror.h"

#include "fuzzcheck.h"

#include <cstdint>

namespace {

const QLatin1String Prompt(Transcript::kPrompt);

void checkSplit(const QString& output, const QStringList& lines)
{
    QString normalised = output;
    normalised.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (const QString& line : lines)
        FUZZ_CHECK(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')), line);
    const QString rejoined =
        lines.join(QLatin1Char('\n')) + (normalised.endsWith(QLatin1Char('\n')) ? QStringLiteral("\n") : QString());
    FUZZ_CHECK(rejoined == normalised, output);
}

void checkLine(const QString& line)
{
    TrecFileData record;
    record.Name = QStringLiteral("\x01name");
    record.Size = -12345;
    record.DateText = QStringLiteral("\x01date");
    try {
        ParseListingLine(record, line);
    } catch (const AppError&) {
        // only the size column refuses, and the fields after it keep what they held
        FUZZ_CHECK(record.Size == -12345 && record.Name == QStringLiteral("\x01name") &&
                       record.DateText == QStringLiteral("\x01date"),
                   line);
        return;
    }
    const QString name = ListingEntryName(line);
    if (!name.isEmpty()) {
        FUZZ_CHECK(record.Name == name, line);
        FUZZ_CHECK(trimmedBlanks(name) == name, line);
    }
    FUZZ_CHECK(!record.Permissions.contains(QLatin1Char(' ')), line);
}

// A line as "ls -al" prints it, with the fuzzer's name and size, reads back as written.
void checkBuiltLine(const QString& name, qint64 size)
{
    if (trimmedBlanks(name).isEmpty() || name.contains(QLatin1Char('\r')) || name.contains(QLatin1Char('\n')))
        return;
    const QString line = QStringLiteral("-rw-r--r--    1 owner    group %1 Jan  1  2020 ").arg(size) + name;
    TrecFileData record;
    try {
        ParseListingLine(record, line);
    } catch (const AppError& error) {
        FUZZ_CHECK(false, line + QLatin1String(" -> ") + error.message());
    }
    FUZZ_CHECK(record.Size == size && record.Name == trimmedBlanks(name) &&
                   record.DateText == QLatin1String("Jan 1 2020") && record.Permissions == QLatin1String("-rw-r--r--"),
               line);
    FUZZ_CHECK(ListingEntryName(line) == record.Name, line);
}

void checkTranscript(const QStringList& lines)
{
    const bool refused = transcriptShowsRefusedCd(lines);
    bool anyCd = false;
    for (const QString& line : lines)
        anyCd = anyCd || line.startsWith(Prompt);
    FUZZ_CHECK(anyCd || !refused, lines.join(QLatin1Char('\n')));
    // A cd that is answered with a refusal is seen wherever it stands; an accepted one changes nothing.
    FUZZ_CHECK(transcriptShowsRefusedCd(lines + QStringList{QStringLiteral("ftp> cd /x"), QStringLiteral("550 No.")}),
               lines.join(QLatin1Char('\n')));
    FUZZ_CHECK(transcriptShowsRefusedCd(
                   lines + QStringList{QStringLiteral("ftp> cd /x"), QStringLiteral("250 Okay.")}) == refused,
               lines.join(QLatin1Char('\n')));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString output = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList lines = splitListingOutput(output);
    checkSplit(output, lines);
    for (const QString& line : lines)
        checkLine(line);
    checkTranscript(lines);

    if (lines.size() >= 2) {
        bool ok = false;
        const qint64 built = lines.at(1).toLongLong(&ok);
        if (ok && built >= 0)
            checkBuiltLine(lines.at(0), built);
    }
    return 0;
}
