// Sniffing and conversion of upload files: a converted file decodes cleanly in its target charset and holds the
// same text as the source; anything else leaves the bytes exactly as they were.
//
// Input: the file's bytes. The last byte picks the target (Shift-JIS, EUC-JP, UTF-8) and whether the bytes are
// repeated past the 64 KiB detection sample and conversion block.

#include "transfer/codepage.h"

#include "fuzzcheck.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <unicode/ucnv.h>

namespace {

// The converters the product encodes with, by code page.
const char* icuNameOf(int codePage)
{
    switch (codePage) {
    case 932:
        return "windows-31j";
    case 51932:
        return "euc-jp-2007";
    case 65001:
        return "UTF-8";
    default:
        return nullptr;
    }
}

// The text of bytes in the charset, or nothing when a byte sequence is not valid there.
std::optional<std::u16string> strictDecode(const QByteArray& bytes, const char* charset)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(charset, &status);
    FUZZ_CHECK(U_SUCCESS(status), QString::fromLatin1(charset));
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    std::u16string text(size_t(bytes.size()) * 2 + 16, u'\0');
    const int32_t length =
        ucnv_toUChars(converter, text.data(), int32_t(text.size()), bytes.constData(), int32_t(bytes.size()), &status);
    ucnv_close(converter);
    if (U_FAILURE(status))
        return std::nullopt;
    text.resize(size_t(length));
    return text;
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::ReadOnly), path);
    return file.readAll();
}

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.left(200).toHex(' '));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    if (size == 0)
        return 0;
    const uint8_t choice = data[size - 1];
    QByteArray source(reinterpret_cast<const char*>(data), qsizetype(size - 1));
    if ((choice & 4) && !source.isEmpty()) {
        const QByteArray unit = source;
        while (source.size() < 64 * 1024 + 100)
            source += unit;
    }
    static const char* const names[] = {"Shift-JIS", "EUC-JP", "UFT-8"};
    const QString encoding = QString::fromLatin1(names[choice % 3]);

    const QString sourcePath = dir.filePath(QStringLiteral("source"));
    const QString targetPath = dir.filePath(QStringLiteral("target"));
    {
        QFile file(sourcePath);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), sourcePath);
        file.write(source);
    }
    QFile::remove(targetPath);

    int controls = 0;
    for (qsizetype i = 0; i < qMin<qsizetype>(source.size(), 1024); ++i) {
        const auto b = static_cast<unsigned char>(source.at(i));
        controls += (b <= 8 || (b >= 14 && b <= 31) || b == 127 || b >= 253) ? 1 : 0;
    }
    FUZZ_CHECK(IsBinaryFile(sourcePath) == std::optional<bool>(controls > 5), hex(source));

    const ConvertResult result = ConvertCodePage(sourcePath, targetPath, encoding);
    FUZZ_CHECK(result != ConvertResult::Failed, hex(source));
    const QByteArray target = readAll(targetPath);
    if (result == ConvertResult::Unchanged) {
        FUZZ_CHECK(target == source, hex(source));
        return 0;
    }

    const int to = targetCodePage(encoding);
    const std::optional<std::u16string> converted = strictDecode(target, icuNameOf(to));
    FUZZ_CHECK(converted.has_value(),
               encoding + QLatin1String(": ") + hex(source) + QLatin1String(" -> ") + hex(target));

    // Where the source's charset is one of the three, its text is what the target holds (a UTF-8 mark may go).
    int from = DetectCodePage(source);
    if (from == 1252 || from == 1254)
        from = 65001;
    FUZZ_CHECK(from != to, encoding + QLatin1String(": ") + hex(source));
    if (const char* fromName = icuNameOf(from)) {
        std::optional<std::u16string> original = strictDecode(source, fromName);
        FUZZ_CHECK(original.has_value(), encoding + QLatin1String(": ") + hex(source));
        std::u16string text = *converted;
        if (!original->empty() && original->front() == u'\uFEFF' && (text.empty() || text.front() != u'\uFEFF'))
            original->erase(0, 1);
        FUZZ_CHECK(*original == text,
                   encoding + QLatin1String(": ") + hex(source) + QLatin1String(" -> ") + hex(target));
    }
    return 0;
}
