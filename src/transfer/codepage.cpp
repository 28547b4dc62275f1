#include "transfer/codepage.h"

#include <QFile>
#include <QSaveFile>

#include <memory>
#include <type_traits>
#include <uchardet/uchardet.h>
#include <unicode/ucnv.h>
#include <vector>

namespace {

// Detection looks at no more than this many bytes; conversion streams in blocks of the same size.
constexpr qint64 SampleSize = 64 * 1024;
constexpr qint64 BlockSize = 64 * 1024;

constexpr int CpShiftJis = 932;
constexpr int CpEucJp = 51932;
constexpr int CpUtf8 = 65001;
constexpr int CpAscii = 20127;

struct CodePage
{
    int number;
    const char* detectorName; // as the detector spells its answer, nullptr when it never gives this one
    const char* icuName;      // converter of the code page; Windows-compatible tables where there is a choice
    bool singleByte;
};

// The Japanese tables are the Windows ones: windows-31j is code page 932 with the NEC and IBM extensions
// (①, ㈱, 髙) and ～ as U+FF5E; euc-jp-2007 carries the same characters in EUC form as code page 51932 does.
constexpr CodePage CodePages[] = {
    {CpShiftJis, "SHIFT_JIS", "windows-31j", false},
    {CpEucJp, "EUC-JP", "euc-jp-2007", false},
    {CpUtf8, "UTF-8", "UTF-8", false},
    {CpAscii, "ASCII", "US-ASCII", true},
    {1200, nullptr, "UTF-16LE", false},
    {1201, nullptr, "UTF-16BE", false},
    {12000, nullptr, "UTF-32LE", false},
    {12001, nullptr, "UTF-32BE", false},
    {50220, "ISO-2022-JP", "ISO-2022-JP", false},
    {50225, "ISO-2022-KR", "ISO-2022-KR", false},
    {50227, "ISO-2022-CN", "ISO-2022-CN", false},
    {51949, "EUC-KR", "EUC-KR", false},
    {949, "UHC", "windows-949", false},
    {51950, "EUC-TW", "EUC-TW", false},
    {54936, "GB18030", "GB18030", false},
    {52936, "HZ-GB-2312", "HZ-GB-2312", false},
    {950, "BIG5", "windows-950", false},
    {852, "IBM852", "ibm-852", true},
    {855, "IBM855", "ibm-855", true},
    {866, "IBM866", "ibm-866", true},
    {874, "TIS-620", "windows-874", true},
    {874, "ISO-8859-11", "windows-874", true},
    {1250, "WINDOWS-1250", "windows-1250", true},
    {1251, "WINDOWS-1251", "windows-1251", true},
    {1252, "WINDOWS-1252", "windows-1252", true},
    {1252, "ISO-8859-1", "windows-1252", true},
    {1253, "WINDOWS-1253", "windows-1253", true},
    {1254, "WINDOWS-1254", "windows-1254", true},
    {1254, "ISO-8859-9", "windows-1254", true},
    {1255, "WINDOWS-1255", "windows-1255", true},
    {1256, "WINDOWS-1256", "windows-1256", true},
    {1257, "WINDOWS-1257", "windows-1257", true},
    {1258, "WINDOWS-1258", "windows-1258", true},
    {28592, "ISO-8859-2", "ISO-8859-2", true},
    {28593, "ISO-8859-3", "ISO-8859-3", true},
    {28594, "ISO-8859-4", "ISO-8859-4", true},
    {28595, "ISO-8859-5", "ISO-8859-5", true},
    {28596, "ISO-8859-6", "ISO-8859-6", true},
    {28597, "ISO-8859-7", "ISO-8859-7", true},
    {28598, "ISO-8859-8", "ISO-8859-8", true},
    {28603, "ISO-8859-13", "ISO-8859-13", true},
    {28605, "ISO-8859-15", "ISO-8859-15", true},
    {20866, "KOI8-R", "KOI8-R", true},
    {10029, "MAC-CENTRALEUROPE", "x-mac-centraleurroman", true},
    {10007, "MAC-CYRILLIC", "x-mac-cyrillic", true},
};

const CodePage* byDetectorName(const char* name)
{
    for (const CodePage& cp : CodePages) {
        if (cp.detectorName && qstrcmp(cp.detectorName, name) == 0)
            return &cp;
    }
    return nullptr;
}

const CodePage* byNumber(int number)
{
    for (const CodePage& cp : CodePages) {
        if (cp.number == number)
            return &cp;
    }
    return nullptr;
}

inline unsigned char byteAt(const QByteArray& b, qsizetype i)
{
    return static_cast<unsigned char>(b.at(i));
}

// The byte values that mark binary data; 9-13 (tab, line and page ends) are text, and so is everything from 128
// to 252, which lets Shift-JIS and UTF-8 text through.
inline bool isControlByte(unsigned char b)
{
    return (b < 32 && (b < 9 || b > 13)) || b == 127 || b > 252;
}

// Binary data makes the detector name some single-byte code page all the same; converting it with that table
// would ruin the file. A NUL byte, or more than five other control bytes (escape excepted: ISO-2022 text is made
// of escape sequences; 253-255 excepted: letters in Latin code pages), marks the sample as binary.
bool looksBinary(const QByteArray& sample)
{
    int controls = 0;
    for (qsizetype i = 0; i < sample.size(); ++i) {
        const unsigned char b = byteAt(sample, i);
        if (b == 0)
            return true;
        if (b != 27 && b <= 252 && isControlByte(b) && ++controls > 5)
            return true;
    }
    return false;
}

// Well-formed UTF-8 holding at least one multi-byte character. A character cut off at the end of the sample
// still counts as well-formed, as the sample may end anywhere in the file.
bool isUtf8Text(const QByteArray& sample)
{
    const qsizetype n = sample.size();
    bool multiByte = false;
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = byteAt(sample, i);
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length;
        unsigned char low = 0x80, high = 0xBF; // range of the second byte
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0; // no overlong forms
            else if (c == 0xED)
                high = 0x9F; // no surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F; // nothing above U+10FFFF
        } else {
            return false;
        }
        for (int k = 1; k < length; ++k) {
            if (i + k >= n)
                return multiByte;
            const unsigned char t = byteAt(sample, i + k);
            if (k == 1 ? (t < low || t > high) : (t < 0x80 || t > 0xBF))
                return false;
        }
        multiByte = true;
        i += length;
    }
    return multiByte;
}

bool isShiftJisText(const QByteArray& sample)
{
    const qsizetype n = sample.size();
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = byteAt(sample, i);
        if (c < 0x80 || (c >= 0xA1 && c <= 0xDF)) {
            ++i;
            continue;
        }
        if (!((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)))
            return false;
        if (i + 1 >= n)
            return true;
        const unsigned char t = byteAt(sample, i + 1);
        if (t < 0x40 || t == 0x7F || t > 0xFC)
            return false;
        i += 2;
    }
    return true;
}

bool isEucJpText(const QByteArray& sample)
{
    const qsizetype n = sample.size();
    const auto inRange = [&](qsizetype i, unsigned char low, unsigned char high) {
        return i >= n || (byteAt(sample, i) >= low && byteAt(sample, i) <= high);
    };
    for (qsizetype i = 0; i < n;) {
        const unsigned char c = byteAt(sample, i);
        if (c < 0x80) {
            ++i;
        } else if (c == 0x8E) { // half-width katakana
            if (!inRange(i + 1, 0xA1, 0xDF))
                return false;
            i += 2;
        } else if (c == 0x8F) { // JIS X 0212
            if (!inRange(i + 1, 0xA1, 0xFE) || !inRange(i + 2, 0xA1, 0xFE))
                return false;
            i += 3;
        } else if (c >= 0xA1 && c <= 0xFE) {
            if (!inRange(i + 1, 0xA1, 0xFE))
                return false;
            i += 2;
        } else {
            return false;
        }
    }
    return true;
}

struct DetectorDeleter
{
    void operator()(uchardet_t detector) const { uchardet_delete(detector); }
};

struct ConverterDeleter
{
    void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterDeleter>;

// Stops at every character the target cannot hold. ICU's own stop callback lets unmappable invisible characters
// (U+FEFF inside the text, U+200B, variation selectors) drop out silently; this one leaves the error standing, so
// such a file is copied unchanged instead of losing them.
void stopOnAnyUnmappable(const void*, UConverterFromUnicodeArgs*, const UChar*, int32_t, UChar32,
                         UConverterCallbackReason, UErrorCode*)
{}

// The sample for detection: the first 64 KiB. When those hold only ASCII text and the file goes on, the sample
// is taken from the first byte that is not ASCII, as a long head of markup or script would otherwise hide the
// code page of the text behind it (all bytes before that one are single-byte characters in every code page
// concerned, so the sample starts on a character boundary). Memory stays at two blocks whatever the file size.
std::optional<QByteArray> readSample(QFile& file)
{
    const QByteArray head = file.read(SampleSize);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    // escape counts as not ASCII here: ISO-2022-JP text is ASCII bytes between escape sequences
    const auto isAscii = [](unsigned char b) { return b < 0x80 && b != 27; };
    for (qsizetype i = 0; i < head.size(); ++i) {
        if (!isAscii(byteAt(head, i)))
            return head;
    }
    if (looksBinary(head))
        return head;
    while (!file.atEnd()) {
        const QByteArray block = file.read(BlockSize);
        if (file.error() != QFileDevice::NoError)
            return std::nullopt;
        for (qsizetype i = 0; i < block.size(); ++i) {
            if (isAscii(byteAt(block, i)))
                continue;
            QByteArray sample = block.mid(i);
            sample += file.read(SampleSize - sample.size());
            if (file.error() != QFileDevice::NoError)
                return std::nullopt;
            return sample;
        }
    }
    return head;
}

enum class Step
{
    Done,
    Unconvertible,
    IoError
};

// Copies the file unchanged into targetPath, replacing that file only once the copy is complete.
ConvertResult copyUnchanged(QFile& source, const QString& targetPath)
{
    if (!source.seek(0))
        return ConvertResult::Failed;
    QSaveFile target(targetPath);
    if (!target.open(QIODevice::WriteOnly))
        return ConvertResult::Failed;
    std::vector<char> block(BlockSize);
    for (;;) {
        const qint64 n = source.read(block.data(), BlockSize);
        if (n < 0)
            return ConvertResult::Failed;
        if (n == 0)
            break;
        if (target.write(block.data(), n) != n)
            return ConvertResult::Failed;
    }
    return target.commit() ? ConvertResult::Unchanged : ConvertResult::Failed;
}

// Encodes Unicode text into the target converter's code page and appends it to the file.
Step encodeInto(UConverter* encoder, const UChar* text, const UChar* end, bool flush, std::vector<char>& buffer,
                QSaveFile& target)
{
    for (;;) {
        UErrorCode status = U_ZERO_ERROR;
        char* out = buffer.data();
        ucnv_fromUnicode(encoder, &out, buffer.data() + buffer.size(), &text, end, nullptr, flush, &status);
        const bool full = status == U_BUFFER_OVERFLOW_ERROR;
        if (U_FAILURE(status) && !full)
            return Step::Unconvertible;
        const qint64 written = out - buffer.data();
        if (target.write(buffer.data(), written) != written)
            return Step::IoError;
        if (!full)
            return Step::Done;
    }
}

// Streams the source through Unicode into the target code page. Both converters stop at the first byte sequence
// that is not valid in the source and at the first character the target cannot hold, so a conversion either
// completes exactly or reports Unconvertible; the target file is replaced only after it completed.
Step convertStream(QFile& source, const QString& targetPath, int fromCodePage, int toCodePage)
{
    const CodePage* from = byNumber(fromCodePage);
    const CodePage* to = byNumber(toCodePage);
    if (!from || !to)
        return Step::Unconvertible;

    UErrorCode status = U_ZERO_ERROR;
    Converter decoder(ucnv_open(from->icuName, &status));
    Converter encoder(ucnv_open(to->icuName, &status));
    if (U_FAILURE(status) || !decoder || !encoder)
        return Step::Unconvertible;
    ucnv_setToUCallBack(decoder.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    ucnv_setFromUCallBack(encoder.get(), stopOnAnyUnmappable, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status))
        return Step::Unconvertible;

    if (!source.seek(0))
        return Step::IoError;
    QSaveFile target(targetPath);
    if (!target.open(QIODevice::WriteOnly))
        return Step::IoError;

    // A byte-order mark has no place in Shift-JIS or EUC-JP (and has no mapping there).
    const bool dropByteOrderMark = toCodePage == CpShiftJis || toCodePage == CpEucJp;
    bool atStart = true;
    std::vector<char> input(BlockSize);
    std::vector<UChar> unicode(BlockSize);
    std::vector<char> output(BlockSize);
    for (;;) {
        const qint64 n = source.read(input.data(), BlockSize);
        if (n < 0)
            return Step::IoError;
        // the last round, with no input left, makes both converters report a character cut off at the end
        const bool flush = n == 0;
        const char* in = input.data();
        const char* inEnd = in + n;
        bool full;
        do {
            status = U_ZERO_ERROR;
            UChar* u = unicode.data();
            ucnv_toUnicode(decoder.get(), &u, unicode.data() + unicode.size(), &in, inEnd, nullptr, flush, &status);
            full = status == U_BUFFER_OVERFLOW_ERROR;
            if (U_FAILURE(status) && !full)
                return Step::Unconvertible;
            const UChar* text = unicode.data();
            if (atStart && u > text) {
                if (dropByteOrderMark && *text == 0xFEFF)
                    ++text;
                atStart = false;
            }
            const Step step = encodeInto(encoder.get(), text, u, flush && !full, output, target);
            if (step != Step::Done)
                return step;
        } while (full);
        if (flush)
            break;
    }
    return target.commit() ? Step::Done : Step::IoError;
}

} // namespace

std::optional<bool> IsBinaryFile(const QString& localPath)
{
    QFile file(localPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(1024);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    int controls = 0;
    for (qsizetype i = 0; i < head.size(); ++i) {
        if (isControlByte(byteAt(head, i)))
            ++controls;
    }
    return controls > 5;
}

int DetectCodePage(const QByteArray& bytes)
{
    const QByteArray sample = bytes.left(SampleSize);
    if (sample.isEmpty())
        return 0;

    // Unicode byte-order marks are certain; the UTF-32 ones first, as FF FE also begins the UTF-16 mark.
    if (sample.startsWith(QByteArray("\xFF\xFE\x00\x00", 4)))
        return 12000;
    if (sample.startsWith(QByteArray("\x00\x00\xFE\xFF", 4)))
        return 12001;
    if (sample.startsWith("\xFF\xFE"))
        return 1200;
    if (sample.startsWith("\xFE\xFF"))
        return 1201;

    if (looksBinary(sample))
        return 0;
    // Well-formed UTF-8 with multi-byte characters is UTF-8: other text hardly ever forms such sequences by
    // chance, while the detector names a single-byte code page for short UTF-8 texts ("テスト").
    if (isUtf8Text(sample))
        return CpUtf8;

    std::unique_ptr<std::remove_pointer_t<uchardet_t>, DetectorDeleter> detector(uchardet_new());
    if (!detector)
        return 0;
    if (uchardet_handle_data(detector.get(), sample.constData(), size_t(sample.size())) != 0)
        return 0;
    uchardet_data_end(detector.get());
    const CodePage* cp = byDetectorName(uchardet_get_charset(detector.get()));
    if (!cp)
        return 0;

    // For a few words of Japanese the detector may name a single-byte table (a Greek or a Mac one); converting
    // with it would garble the text. Bytes that are also well-formed Shift-JIS or EUC-JP leave the answer open,
    // and an open answer copies the file unchanged. (Windows-1252 and 1254 are read as UTF-8, which such bytes
    // never are, so they cannot garble anything.)
    if (cp->singleByte && cp->number != CpAscii && cp->number != 1252 && cp->number != 1254 &&
        (isShiftJisText(sample) || isEucJpText(sample)))
        return 0;
    return cp->number;
}

int targetCodePage(const QString& encodingName)
{
    if (encodingName == QLatin1String("Shift-JIS"))
        return CpShiftJis;
    if (encodingName == QLatin1String("EUC-JP"))
        return CpEucJp;
    return CpUtf8;
}

ConvertResult ConvertCodePage(const QString& sourcePath, const QString& targetPath, const QString& encodingName)
{
    QFile source(sourcePath);
    if (!source.open(QIODevice::ReadOnly))
        return ConvertResult::Failed;
    const std::optional<QByteArray> sample = readSample(source);
    if (!sample)
        return ConvertResult::Failed;

    int from = DetectCodePage(*sample);
    if (from == 1252 || from == 1254)
        from = CpUtf8;
    const int to = targetCodePage(encodingName);

    // Unsure detection and pure ASCII (the same bytes in every target) are copied as they are.
    if (from != to && from != 0 && from != CpAscii) {
        switch (convertStream(source, targetPath, from, to)) {
        case Step::Done:
            return ConvertResult::Converted;
        case Step::IoError:
            return ConvertResult::Failed;
        case Step::Unconvertible:
            break;
        }
    }
    return copyUnchanged(source, targetPath);
}
