#include "transfer/codepage.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <thread>
#include <unicode/ucnv.h>
#include <vector>

namespace {

const QString Japanese = QStringLiteral("吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。\n"
                                        "何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。\n"
                                        "営業時間は９時～１８時です。①受付 ②相談 ㈱サンプル商事 ｶﾀｶﾅ －\n");

const QString Russian = QStringLiteral("Съешь же ещё этих мягких французских булок, да выпей чаю. "
                                       "Широкая электрификация южных губерний даст мощный толчок подъёму "
                                       "сельского хозяйства. В чащах юга жил бы цитрус? Да, но фальшивый "
                                       "экземпляр!\n");

// Bytes of text in the code page named as ICU names it; empty when a character has no mapping there.
QByteArray encode(const QString& text, const char* icuName)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(icuName, &status);
    ucnv_setFromUCallBack(conv, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    QByteArray out(text.size() * 4 + 16, Qt::Uninitialized);
    const int32_t n = ucnv_fromUChars(conv, out.data(), int32_t(out.size()),
                                      reinterpret_cast<const UChar*>(text.utf16()), int32_t(text.size()), &status);
    ucnv_close(conv);
    return U_SUCCESS(status) ? out.left(n) : QByteArray();
}

// Text of bytes in the code page named as ICU names it; a null string when the bytes are not valid there.
QString decode(const QByteArray& bytes, const char* icuName)
{
    UErrorCode status = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(icuName, &status);
    ucnv_setToUCallBack(conv, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    QString out(bytes.size() + 16, Qt::Uninitialized);
    const int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), int32_t(out.size()), bytes.constData(),
                                    int32_t(bytes.size()), &status);
    ucnv_close(conv);
    return U_SUCCESS(status) ? out.left(n) : QString();
}

// The ICU converter of each encoding name of the character-set list; the same tables Windows uses.
const char* icuNameOf(const QString& encodingName)
{
    if (encodingName == QLatin1String("Shift-JIS"))
        return "windows-31j";
    if (encodingName == QLatin1String("EUC-JP"))
        return "euc-jp-2007";
    return "UTF-8";
}

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(char(v));
    return b;
}

// The text with ASCII put in front so that the first byte of a multi-byte character lands at position. Shift-JIS
// is walked character by character, as its second bytes may look like first bytes; in UTF-8 and EUC-JP every
// byte from 0xC0 (UTF-8) or 0xA1 (EUC-JP) that follows an ASCII byte or ends a character starts one.
QByteArray leadByteAt(const QByteArray& text, qsizetype position, bool shiftJis)
{
    qsizetype lead = -1;
    for (qsizetype i = 0; i < text.size() && i <= position;) {
        const unsigned char b = static_cast<unsigned char>(text.at(i));
        qsizetype length = 1;
        if (shiftJis && ((b >= 0x81 && b <= 0x9F) || b >= 0xE0))
            length = 2;
        else if (!shiftJis && b >= 0xE0 && b < 0xF0)
            length = 3; // UTF-8 kanji and kana
        else if (!shiftJis && b >= 0xC0)
            length = 2;
        else if (!shiftJis && b >= 0xA1)
            length = 2; // EUC-JP (never reached for UTF-8 text, whose first bytes are all from 0xC2)
        else if (!shiftJis && b == 0x8E)
            length = 2;
        if (length > 1)
            lead = i;
        i += length;
    }
    return QByteArray(position - lead, 'x') + text;
}

long peakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

class TestCodePage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_serial = 0;

    QString fileWith(const QByteArray& bytes)
    {
        const QString path = m_dir.filePath(QStringLiteral("src%1.txt").arg(++m_serial));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            qFatal("cannot write the test file %s", qPrintable(path));
        return path;
    }
    QString targetPath() { return m_dir.filePath(QStringLiteral("c_0_%1.txt").arg(++m_serial)); }
    static QByteArray contents(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
    }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void binarySniffing_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("binary");
        const QByteArray text(2000, 'a');
        const auto withAt = [&](QByteArray base, std::initializer_list<int> positions, char value) {
            for (int p : positions)
                base[p] = value;
            return base;
        };
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("plain text") << text << false;
        QTest::newRow("five NULs") << withAt(text, {0, 10, 20, 30, 40}, 0) << false;
        QTest::newRow("six NULs") << withAt(text, {0, 10, 20, 30, 40, 50}, 0) << true;
        QTest::newRow("sixth at byte 1024") << withAt(text, {0, 10, 20, 30, 40, 1023}, 0) << true;
        QTest::newRow("sixth past byte 1024") << withAt(text, {0, 10, 20, 30, 40, 1024}, 0) << false;
        QTest::newRow("all after 1024") << withAt(text, {1024, 1100, 1200, 1300, 1400, 1500, 1600}, 0) << false;
        QTest::newRow("six of byte 8") << withAt(text, {1, 2, 3, 4, 5, 6}, 8) << true;
        QTest::newRow("six of byte 14") << withAt(text, {1, 2, 3, 4, 5, 6}, 14) << true;
        QTest::newRow("six of byte 31") << withAt(text, {1, 2, 3, 4, 5, 6}, 31) << true;
        QTest::newRow("six of byte 127") << withAt(text, {1, 2, 3, 4, 5, 6}, 127) << true;
        QTest::newRow("six of byte 253") << withAt(text, {1, 2, 3, 4, 5, 6}, char(253)) << true;
        QTest::newRow("six of byte 254") << withAt(text, {1, 2, 3, 4, 5, 6}, char(254)) << true;
        QTest::newRow("six of byte 255") << withAt(text, {1, 2, 3, 4, 5, 6}, char(255)) << true;
        QTest::newRow("five of byte 255") << withAt(text, {1, 2, 3, 4, 5}, char(255)) << false;
        QByteArray lineEnds;
        for (int i = 0; i < 200; ++i)
            lineEnds += "\t\n\v\f\r";
        QTest::newRow("bytes 9 to 13") << lineEnds << false;
        QByteArray high;
        for (int b = 128; b <= 252; ++b)
            high.append(char(b));
        QTest::newRow("bytes 128 to 252") << high + high + high << false;
        QTest::newRow("space and tilde") << QByteArray(1024, ' ') + QByteArray(100, '~') << false;
        QTest::newRow("shift-jis text") << encode(Japanese, "windows-31j") << false;
        QTest::newRow("utf-8 text") << Japanese.toUtf8() << false;
        QTest::newRow("utf-16 text") << encode(QStringLiteral("Hello, world"), "UTF-16LE") << true;
    }
    void binarySniffing()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, binary);
        QCOMPARE(IsBinaryFile(fileWith(bytes)), std::optional<bool>(binary));
    }

    void unreadableFile_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("missing") << m_dir.filePath(QStringLiteral("no such file"));
        QTest::newRow("folder") << m_dir.path();
    }
    void unreadableFile()
    {
        QFETCH(QString, path);
        QCOMPARE(IsBinaryFile(path), std::nullopt);
        QCOMPARE(ConvertCodePage(path, targetPath(), QStringLiteral("Shift-JIS")), ConvertResult::Failed);
    }

    void detection_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("codePage");
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("ascii") << QByteArray("<html><body>Hello</body></html>\n") << 20127;
        QTest::newRow("shift-jis") << encode(Japanese, "windows-31j") << 932;
        QTest::newRow("euc-jp") << encode(Japanese, "euc-jp-2007") << 51932;
        QTest::newRow("utf-8") << Japanese.toUtf8() << 65001;
        QTest::newRow("utf-8 with mark") << "\xEF\xBB\xBF" + Japanese.toUtf8() << 65001;
        QTest::newRow("utf-16le with mark") << encode(QChar(0xFEFF) + Japanese, "UTF-16LE") << 1200;
        QTest::newRow("utf-16be with mark") << encode(QChar(0xFEFF) + Japanese, "UTF-16BE") << 1201;
        QTest::newRow("utf-16le without mark") << encode(QStringLiteral("Hello, world"), "UTF-16LE") << 0;
        QTest::newRow("iso-2022-jp") << encode(Japanese.left(60), "ISO-2022-JP") << 50220;
        QTest::newRow("latin-1") << encode(QStringLiteral("Ça a été déjà vu à la française, résumé naïf.\n"),
                                           "ISO-8859-1")
                                 << 1252;
        QTest::newRow("turkish") << encode(QStringLiteral("Türkçe metin: şğıİöüç Ağaç ışık çiçek\n"), "windows-1254")
                                 << 1254;
        QTest::newRow("windows-1251") << encode(Russian, "windows-1251") << 1251;
        QTest::newRow("koi8-r") << encode(Russian, "KOI8-R") << 20866;
        QTest::newRow("gb18030") << encode(QStringLiteral("这是一个中文文本，你好世界。我们测试编码检测。"), "GB18030")
                                 << 54936;
        QTest::newRow("big5") << encode(QStringLiteral("這是一個中文文本，你好世界。我們測試編碼檢測。"), "Big5")
                              << 950;
        // a few words: the detector alone names TIS-620 here
        QTest::newRow("short utf-8") << QStringLiteral("テスト").toUtf8() << 65001;
        // the detector alone names a Mac code page here; the bytes are also Shift-JIS, so the answer stays open
        QTest::newRow("short shift-jis") << encode(QStringLiteral("ファイル"), "windows-31j") << 0;
        QTest::newRow("binary") << bytesOf({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0,    0,    0,   0x0D,
                                            'I',  'H', 'D', 'R', 0,    0,    1,    0,    0xE3, 0x81, 0x82})
                                << 0;
        QTest::newRow("control bytes without NUL") << QByteArray("\x01\x02\x03\x04\x05\x06\xE3\x81\x82") << 0;
        // samples whose 65536th byte is the first byte of a two- or three-byte character
        QTest::newRow("shift-jis cut in a character")
            << leadByteAt(encode(Japanese, "windows-31j").repeated(400), 64 * 1024 - 1, true) << 932;
        QTest::newRow("utf-8 cut in a character")
            << leadByteAt(Japanese.toUtf8().repeated(400), 64 * 1024 - 1, false) << 65001;
        QTest::newRow("euc-jp cut in a character")
            << leadByteAt(encode(Japanese, "euc-jp-2007").repeated(400), 64 * 1024 - 1, false) << 51932;
    }
    void detection()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, codePage);
        QVERIFY(!bytes.isNull() || codePage == 0);
        QCOMPARE(DetectCodePage(bytes), codePage);
    }

    void targetNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("codePage");
        QTest::newRow("UFT-8") << "UFT-8" << 65001;
        QTest::newRow("Shift-JIS") << "Shift-JIS" << 932;
        QTest::newRow("EUC-JP") << "EUC-JP" << 51932;
        QTest::newRow("lower case shift-jis") << "shift-jis" << 65001;
        QTest::newRow("lower case euc-jp") << "euc-jp" << 65001;
        QTest::newRow("UTF-8 spelled right") << "UTF-8" << 65001;
        QTest::newRow("SJIS") << "SJIS" << 65001;
        QTest::newRow("empty") << "" << 65001;
    }
    void targetNames()
    {
        QFETCH(QString, name);
        QFETCH(int, codePage);
        QCOMPARE(targetCodePage(name), codePage);
    }

    void japaneseConversion_data()
    {
        QTest::addColumn<QString>("sourceEncoding");
        QTest::addColumn<QString>("targetEncoding");
        const QStringList names{QStringLiteral("UFT-8"), QStringLiteral("Shift-JIS"), QStringLiteral("EUC-JP")};
        for (const QString& from : names) {
            for (const QString& to : names)
                QTest::addRow("%s to %s", qPrintable(from), qPrintable(to)) << from << to;
        }
    }
    void japaneseConversion()
    {
        QFETCH(QString, sourceEncoding);
        QFETCH(QString, targetEncoding);
        const QByteArray original = encode(Japanese, icuNameOf(sourceEncoding));
        QVERIFY(!original.isEmpty());
        const QString target = targetPath();
        const ConvertResult result = ConvertCodePage(fileWith(original), target, targetEncoding);
        const QByteArray converted = contents(target);
        if (sourceEncoding == targetEncoding) {
            QCOMPARE(result, ConvertResult::Unchanged);
            QCOMPARE(converted, original);
        } else {
            QCOMPARE(result, ConvertResult::Converted);
            QCOMPARE(converted, encode(Japanese, icuNameOf(targetEncoding)));
            QCOMPARE(decode(converted, icuNameOf(targetEncoding)), Japanese);
        }
    }

    // Byte values as Windows code pages 932 and 51932 hold them, independent of the conversion tables.
    void windowsCompatibleBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("shiftJis");
        QTest::addColumn<QByteArray>("eucJp");
        QTest::newRow("hiragana") << "あ" << bytesOf({0x82, 0xA0}) << bytesOf({0xA4, 0xA2});
        QTest::newRow("full-width tilde") << "～" << bytesOf({0x81, 0x60}) << bytesOf({0xA1, 0xC1});
        QTest::newRow("circled one") << "①" << bytesOf({0x87, 0x40}) << bytesOf({0xAD, 0xA1});
        QTest::newRow("kabushiki") << "㈱" << bytesOf({0x87, 0x8A}) << bytesOf({0xAD, 0xEA});
        QTest::newRow("full-width minus") << "－" << bytesOf({0x81, 0x7C}) << bytesOf({0xA1, 0xDD});
        QTest::newRow("half-width katakana") << "ｱ" << bytesOf({0xB1}) << bytesOf({0x8E, 0xB1});
        QTest::newRow("kanji") << "漢字" << bytesOf({0x8A, 0xBF, 0x8E, 0x9A}) << bytesOf({0xB4, 0xC1, 0xBB, 0xFA});
    }
    void windowsCompatibleBytes()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, shiftJis);
        QFETCH(QByteArray, eucJp);
        // enough plain Japanese around the character for the detection to be sure
        const QString sample = Japanese + text + QLatin1Char('\n');
        const QString fromUtf8 = fileWith(sample.toUtf8());
        const QString sjis = targetPath();
        const QString euc = targetPath();
        QCOMPARE(ConvertCodePage(fromUtf8, sjis, QStringLiteral("Shift-JIS")), ConvertResult::Converted);
        QCOMPARE(ConvertCodePage(fromUtf8, euc, QStringLiteral("EUC-JP")), ConvertResult::Converted);
        QVERIFY(contents(sjis).endsWith(shiftJis + '\n'));
        QVERIFY(contents(euc).endsWith(eucJp + '\n'));

        // and back to UTF-8 from either
        const QString back1 = targetPath();
        const QString back2 = targetPath();
        QCOMPARE(ConvertCodePage(sjis, back1, QStringLiteral("UFT-8")), ConvertResult::Converted);
        QCOMPARE(ConvertCodePage(euc, back2, QStringLiteral("UFT-8")), ConvertResult::Converted);
        QCOMPARE(contents(back1), sample.toUtf8());
        QCOMPARE(contents(back2), sample.toUtf8());
    }

    void leftUnchanged_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("targetEncoding");
        const QByteArray latin1 =
            encode(QStringLiteral("Ça a été déjà vu à la française, résumé naïf.\n"), "ISO-8859-1");
        const QByteArray turkish = encode(QStringLiteral("Türkçe metin: şğıİöüç Ağaç ışık çiçek\n"), "windows-1254");
        QVERIFY(!latin1.isEmpty() && !turkish.isEmpty());
        QByteArray binary;
        for (int i = 0; i < 4096; ++i)
            binary.append(char((i * 7919 + 13) % 256));
        QTest::newRow("latin-1 to UFT-8") << latin1 << "UFT-8";
        QTest::newRow("turkish to UFT-8") << turkish << "UFT-8";
        QTest::newRow("latin-1 to Shift-JIS") << latin1 << "Shift-JIS";
        QTest::newRow("turkish to EUC-JP") << turkish << "EUC-JP";
        QTest::newRow("binary to UFT-8") << binary << "UFT-8";
        QTest::newRow("binary to Shift-JIS") << binary << "Shift-JIS";
        QTest::newRow("binary to EUC-JP") << binary << "EUC-JP";
        // bytes the detector alone takes for ISO-8859-13 text
        const QByteArray named = bytesOf({0, 1, 2, 0xFF, 0xFE, 0x80, 0x90, 'b', 'i', 'n', 'a', 'r', 'y', 0, 0});
        QTest::newRow("binary named a code page to UFT-8") << named << "UFT-8";
        QTest::newRow("binary named a code page to Shift-JIS") << named << "Shift-JIS";
        // 64 KiB of binary in the ASCII range (no escape, which would start ISO-2022 text), then text: the
        // binary head decides
        QByteArray lowBinary;
        for (int i = 0; i < 64 * 1024; ++i)
            lowBinary.append(char(i % 128 == 27 ? 0 : i % 128));
        QTest::newRow("binary head, text later") << lowBinary + Japanese.toUtf8() << "Shift-JIS";
        QTest::newRow("ascii to Shift-JIS") << QByteArray("plain ASCII text\r\n") << "Shift-JIS";
        QTest::newRow("empty to EUC-JP") << QByteArray() << "EUC-JP";
        QTest::newRow("emoji to Shift-JIS") << (Japanese + QStringLiteral("猫\U0001F408\n")).toUtf8() << "Shift-JIS";
        QTest::newRow("emoji to EUC-JP") << (Japanese + QStringLiteral("猫\U0001F408\n")).toUtf8() << "EUC-JP";
        // U+301C has no Windows mapping of its own (～ is U+FF5E there): no substitute is put in
        QTest::newRow("wave dash to Shift-JIS") << (Japanese + QStringLiteral("〜\n")).toUtf8() << "Shift-JIS";
        QTest::newRow("cut shift-jis to UFT-8") << encode(Japanese, "windows-31j") + "\x88"
                                                << "UFT-8";
        QTest::newRow("bad euc-jp to Shift-JIS") << encode(Japanese, "euc-jp-2007") + "\xA4\x20\n"
                                                 << "Shift-JIS";
        // only a mark at the very start is dropped; one inside the text has no Shift-JIS form
        QTest::newRow("inner mark to Shift-JIS") << (Japanese + QChar(0xFEFF) + Japanese).toUtf8() << "Shift-JIS";
        QTest::newRow("zero-width space to EUC-JP") << (Japanese + QChar(0x200B) + Japanese).toUtf8() << "EUC-JP";
        QTest::newRow("short shift-jis to UFT-8") << encode(QStringLiteral("ファイル"), "windows-31j") << "UFT-8";
    }
    void leftUnchanged()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, targetEncoding);
        const QString target = targetPath();
        QCOMPARE(ConvertCodePage(fileWith(bytes), target, targetEncoding), ConvertResult::Unchanged);
        QCOMPARE(contents(target), bytes);
    }

    void byteOrderMark_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("targetEncoding");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray bom = "\xEF\xBB\xBF";
        const QByteArray utf8 = Japanese.toUtf8();
        QTest::newRow("utf-8 to Shift-JIS") << bom + utf8 << "Shift-JIS" << encode(Japanese, "windows-31j");
        QTest::newRow("utf-8 to EUC-JP") << bom + utf8 << "EUC-JP" << encode(Japanese, "euc-jp-2007");
        QTest::newRow("utf-8 to UFT-8 kept") << bom + utf8 << "UFT-8" << bom + utf8;
        const QByteArray utf16 = encode(QChar(0xFEFF) + Japanese, "UTF-16LE");
        QTest::newRow("utf-16 to Shift-JIS") << utf16 << "Shift-JIS" << encode(Japanese, "windows-31j");
        QTest::newRow("utf-16 to UFT-8 keeps its mark") << utf16 << "UFT-8" << bom + utf8;
    }
    void byteOrderMark()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, targetEncoding);
        QFETCH(QByteArray, expected);
        const QString target = targetPath();
        const ConvertResult result = ConvertCodePage(fileWith(bytes), target, targetEncoding);
        QCOMPARE(contents(target), expected);
        QCOMPARE(result, expected == bytes ? ConvertResult::Unchanged : ConvertResult::Converted);
    }

    // Files longer than the detection sample and the conversion block, with characters straddling every block
    // boundary for one of the paddings.
    void largeFile_data()
    {
        QTest::addColumn<QString>("sourceEncoding");
        QTest::addColumn<QString>("targetEncoding");
        QTest::addColumn<int>("padding");
        const QList<std::pair<QString, QString>> pairs{
            {"UFT-8", "Shift-JIS"}, {"Shift-JIS", "UFT-8"}, {"EUC-JP", "Shift-JIS"}, {"UFT-8", "EUC-JP"}};
        for (const auto& [from, to] : pairs) {
            for (int padding = 0; padding < 3; ++padding)
                QTest::addRow("%s to %s, +%d", qPrintable(from), qPrintable(to), padding) << from << to << padding;
        }
    }
    void largeFile()
    {
        QFETCH(QString, sourceEncoding);
        QFETCH(QString, targetEncoding);
        QFETCH(int, padding);
        const QString text = QString(padding, QLatin1Char('x')) + Japanese.repeated(1500);
        const QByteArray original = encode(text, icuNameOf(sourceEncoding));
        QVERIFY(original.size() > 3 * 64 * 1024);
        const QString target = targetPath();
        QCOMPARE(ConvertCodePage(fileWith(original), target, targetEncoding), ConvertResult::Converted);
        QCOMPARE(decode(contents(target), icuNameOf(targetEncoding)), text);
    }

    // A long ASCII head (markup, scripts) before the first Japanese character.
    void asciiHeadBeyondSample_data()
    {
        QTest::addColumn<QString>("sourceEncoding");
        QTest::addColumn<QString>("targetEncoding");
        QTest::newRow("Shift-JIS to UFT-8") << "Shift-JIS"
                                            << "UFT-8";
        QTest::newRow("EUC-JP to UFT-8") << "EUC-JP"
                                         << "UFT-8";
        QTest::newRow("UFT-8 to Shift-JIS") << "UFT-8"
                                            << "Shift-JIS";
    }
    void asciiHeadBeyondSample()
    {
        QFETCH(QString, sourceEncoding);
        QFETCH(QString, targetEncoding);
        QString head;
        while (head.size() < 200 * 1024)
            head += QStringLiteral("<script>var total = 0; for (var i = 0; i < 10; ++i) total += i;</script>\n");
        const QString text = head + Japanese.repeated(5);
        const QString target = targetPath();
        QCOMPARE(ConvertCodePage(fileWith(encode(text, icuNameOf(sourceEncoding))), target, targetEncoding),
                 ConvertResult::Converted);
        QCOMPARE(decode(contents(target), icuNameOf(targetEncoding)), text);
    }

    void otherLanguagesToUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("windows-1251") << encode(Russian, "windows-1251") << Russian;
        QTest::newRow("koi8-r") << encode(Russian, "KOI8-R") << Russian;
        QTest::newRow("utf-16le") << encode(QChar(0xFEFF) + Russian, "UTF-16LE") << QChar(0xFEFF) + Russian;
    }
    void otherLanguagesToUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const QString target = targetPath();
        QCOMPARE(ConvertCodePage(fileWith(bytes), target, QStringLiteral("UFT-8")), ConvertResult::Converted);
        QCOMPARE(contents(target), text.toUtf8());
    }

    void sameFileConvertsInPlace()
    {
        const QString path = fileWith(encode(Japanese, "windows-31j"));
        QCOMPARE(ConvertCodePage(path, path, QStringLiteral("EUC-JP")), ConvertResult::Converted);
        QCOMPARE(contents(path), encode(Japanese, "euc-jp-2007"));
        QCOMPARE(ConvertCodePage(path, path, QStringLiteral("EUC-JP")), ConvertResult::Unchanged);
        QCOMPARE(contents(path), encode(Japanese, "euc-jp-2007"));
    }

    void unwritableTarget_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("converting") << Japanese.toUtf8();
        QTest::newRow("copying") << QByteArray("ascii");
    }
    void unwritableTarget()
    {
        QFETCH(QByteArray, bytes);
        const QString source = fileWith(bytes);
        const QString target = m_dir.filePath(QStringLiteral("missing folder/c_0_x.txt"));
        QCOMPARE(ConvertCodePage(source, target, QStringLiteral("Shift-JIS")), ConvertResult::Failed);
        QVERIFY(!QFile::exists(target));
        QCOMPARE(contents(source), bytes);
    }

    // A converted file leaves nothing but itself: no temporary files pile up in the data folder.
    void noLeftoverFiles()
    {
        QTemporaryDir dir;
        const QString source = dir.filePath(QStringLiteral("page.html"));
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write((Japanese + QStringLiteral("\U0001F408")).toUtf8());
        }
        QCOMPARE(ConvertCodePage(source, dir.filePath(QStringLiteral("c_3_page.html")), QStringLiteral("EUC-JP")),
                 ConvertResult::Unchanged);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 (QStringList{QStringLiteral("c_3_page.html"), QStringLiteral("page.html")}));
    }

    // Ten workers convert at once; every call works on its own.
    void tenAtOnce()
    {
        const QStringList names{QStringLiteral("UFT-8"), QStringLiteral("Shift-JIS"), QStringLiteral("EUC-JP")};
        std::vector<QString> sources, targets;
        std::vector<ConvertResult> results(10, ConvertResult::Failed);
        for (int i = 0; i < 10; ++i) {
            const QString text = Japanese.repeated(200 + i);
            sources.push_back(fileWith(encode(text, icuNameOf(names.at(i % 3)))));
            targets.push_back(targetPath());
        }
        std::vector<std::thread> workers;
        for (int i = 0; i < 10; ++i) {
            workers.emplace_back(
                [&, i] { results[i] = ConvertCodePage(sources[i], targets[i], names.at((i + 1) % 3)); });
        }
        for (std::thread& t : workers)
            t.join();
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(results[i], ConvertResult::Converted);
            QCOMPARE(decode(contents(targets[i]), icuNameOf(names.at((i + 1) % 3))), Japanese.repeated(200 + i));
        }
    }

    // A file far larger than any buffer converts without its size showing in the memory in use.
    void memoryStaysBounded()
    {
        const QString source = m_dir.filePath(QStringLiteral("big.txt"));
        const QByteArray block = Japanese.toUtf8().repeated(1000);
        qint64 size = 0;
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            while (size < 96 * 1024 * 1024) {
                QCOMPARE(f.write(block), block.size());
                size += block.size();
            }
        }
        const long before = peakRssKiB();
        const QString target = targetPath();
        QCOMPARE(ConvertCodePage(source, target, QStringLiteral("Shift-JIS")), ConvertResult::Converted);
        const long growth = peakRssKiB() - before;
        QVERIFY2(growth < 16 * 1024, qPrintable(QStringLiteral("peak memory grew by %1 KiB").arg(growth)));

        QFile out(target);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray sjisBlock = encode(Japanese, "windows-31j").repeated(1000);
        QCOMPARE(out.size(), size / block.size() * sjisBlock.size());
        QCOMPARE(out.read(sjisBlock.size()), sjisBlock);
        QVERIFY(out.seek(out.size() - sjisBlock.size()));
        QCOMPARE(out.readAll(), sjisBlock);
        out.close();
        QFile::remove(source);
        QFile::remove(target);
    }
};

QTEST_GUILESS_MAIN(TestCodePage)
#include "tst_codepage.moc"
