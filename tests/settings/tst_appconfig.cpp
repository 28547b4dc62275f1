#include "settings/appconfig.h"
#include "settings/apperror.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void writeAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(data), data.size());
}

ino_t inodeOf(const QString& path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_ino;
}

unsigned modeOf(const QString& path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0xFFFF;
    return st.st_mode & 07777;
}

} // namespace

class TestAppConfig : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("AppConfig.ini"));
        QFile::remove(m_path);
    }

    void defaultPathIsBesideExecutable()
    {
        QCOMPARE(AppConfig().path(), QCoreApplication::applicationDirPath() + QStringLiteral("/AppConfig.ini"));
    }

    void missingGivesDefaults_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::newRow("no file") << false << QByteArray() << "app"
                                 << "dir";
        QTest::newRow("empty file") << true << QByteArray() << "app"
                                    << "dir";
        QTest::newRow("no section") << true << QByteArray("[other]\ndir=/x/\n") << "app"
                                    << "dir";
        QTest::newRow("no key") << true << QByteArray("[app]\nconv=1\n") << "app"
                                << "dir";
        QTest::newRow("key in another section") << true << QByteArray("[app]\n[cn_a]\ndir=/x/\n") << "app"
                                                << "dir";
        QTest::newRow("key before any section") << true << QByteArray("dir=/x/\n[app]\n") << "app"
                                                << "dir";
        QTest::newRow("line without equals") << true << QByteArray("[app]\ndir\n") << "app"
                                             << "dir";
        QTest::newRow("comment line") << true << QByteArray("[app]\n;dir=/x/\n") << "app"
                                      << ";dir";
    }
    void missingGivesDefaults()
    {
        QFETCH(bool, fileExists);
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        if (fileExists)
            writeAll(m_path, content);
        const AppConfig config(m_path);
        QCOMPARE(config.exists(), fileExists);
        QCOMPARE(config.readString(section, key, QStringLiteral("/")), QStringLiteral("/"));
        QCOMPARE(config.readInteger(section, key, 42), 42);
        QCOMPARE(config.readBool(section, key, true), true);
        QCOMPARE(config.readBool(section, key, false), false);
    }

    void directoryIsNotAFile()
    {
        const AppConfig config(m_dir.path());
        QVERIFY(!config.exists());
        QCOMPARE(config.readString(QStringLiteral("app"), QStringLiteral("dir"), QStringLiteral("/")),
                 QStringLiteral("/"));
    }

    void writeCreatesPrivateFile()
    {
        AppConfig config(m_path);
        config.writeString(QStringLiteral("cn_web"), QStringLiteral("password"), QStringLiteral("secret"));
        QVERIFY(config.exists());
        QCOMPARE(modeOf(m_path), 0600u);
        QCOMPARE(readAll(m_path), QByteArray("[cn_web]\npassword=secret\n"));
        // nothing but the settings file is left in the folder
        QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"AppConfig.ini"});
    }

    void writeTightensExistingMode()
    {
        writeAll(m_path, "[app]\ndir=/\n");
        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), 0644) == 0);
        AppConfig(m_path).writeBool(QStringLiteral("app"), QStringLiteral("conv"), true);
        QCOMPARE(modeOf(m_path), 0600u);
        QCOMPARE(readAll(m_path), QByteArray("[app]\ndir=/\nconv=1\n"));
    }

    // A write that would store the very same line leaves the file in place (no new file, no flush); anything
    // else, a key only differing in letter case or a mode others may read included, replaces it.
    void unchangedWriteKeepsFile_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<unsigned>("mode");
        QTest::addColumn<bool>("replaced");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("same value") << "conv"
                                    << "1" << 0600u << false << QByteArray("[app]\r\ndir=/\r\nconv=1\r\n");
        QTest::newRow("other value") << "conv"
                                     << "0" << 0600u << true << QByteArray("[app]\r\ndir=/\r\nconv=0\r\n");
        QTest::newRow("key in other case") << "Conv"
                                           << "1" << 0600u << true << QByteArray("[app]\r\ndir=/\r\nConv=1\r\n");
        QTest::newRow("same value, readable by others")
            << "conv"
            << "1" << 0644u << true << QByteArray("[app]\r\ndir=/\r\nconv=1\r\n");
        QTest::newRow("new key") << "mode1"
                                 << "1" << 0600u << true << QByteArray("[app]\r\ndir=/\r\nconv=1\r\nmode1=1\r\n");
    }

    void unchangedWriteKeepsFile()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(unsigned, mode);
        QFETCH(bool, replaced);
        QFETCH(QByteArray, stored);
        writeAll(m_path, "[app]\r\ndir=/\r\nconv=1\r\n");
        QVERIFY(::chmod(QFile::encodeName(m_path).constData(), mode) == 0);
        const ino_t before = inodeOf(m_path);
        QVERIFY(before != 0);
        AppConfig(m_path).writeString(QStringLiteral("app"), key, value);
        QCOMPARE(inodeOf(m_path) != before, replaced);
        QCOMPARE(readAll(m_path), stored);
        QCOMPARE(modeOf(m_path), 0600u);
    }

    void namesIgnoreCase_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("upper section") << QByteArray("[APP]\ndir=/a/\n") << "app"
                                       << "dir"
                                       << "/a/";
        QTest::newRow("mixed key") << QByteArray("[app]\nDefaultConnection=x\n") << "app"
                                   << "defaultconnection"
                                   << "x";
        QTest::newRow("query upper") << QByteArray("[cn_Web]\nserver=h\n") << "CN_WEB"
                                     << "SERVER"
                                     << "h";
        QTest::newRow("blanks around key") << QByteArray("[app]\n  dir  =/b/\n") << "app"
                                           << "dir"
                                           << "/b/";
        QTest::newRow("blanks around asked key") << QByteArray("[app]\ndir=/f/\n") << "app"
                                                 << " dir\t"
                                                 << "/f/";
        QTest::newRow("first of two sections") << QByteArray("[app]\ndir=/1/\n[App]\ndir=/2/\n") << "app"
                                               << "dir"
                                               << "/1/";
        QTest::newRow("crlf lines") << QByteArray("[app]\r\ndir=/c/\r\n") << "app"
                                    << "dir"
                                    << "/c/";
        QTest::newRow("byte-order mark") << QByteArray("\xEF\xBB\xBF[app]\ndir=/d/\n") << "app"
                                         << "dir"
                                         << "/d/";
        QTest::newRow("japanese section") << QByteArray("[cn_本番サーバ]\nuserid=山田\n") << "cn_本番サーバ"
                                          << "userid"
                                          << "山田";
        QTest::newRow("bracket in name") << QByteArray("[cn_a]b]\nserver=s\n") << "cn_a]b"
                                         << "server"
                                         << "s";
        QTest::newRow("last line without end") << QByteArray("[app]\ndir=/e/") << "app"
                                               << "dir"
                                               << "/e/";
        // U+FEFF inside a value is text, not a byte-order mark: only the file's own first bytes are one.
        QTest::newRow("value beginning with U+FEFF") << QByteArray("\xEF\xBB\xBF[app]\ndir=\xEF\xBB\xBF/f/\n") << "app"
                                                     << "dir" << QString(QChar(0xFEFF)) + QStringLiteral("/f/");
        QTest::newRow("section name beginning with U+FEFF")
            << QByteArray("[\xEF\xBB\xBF"
                          "cn_a]\nserver=s\n")
            << QString(QChar(0xFEFF)) + QStringLiteral("cn_a") << "server"
            << "s";
    }
    void namesIgnoreCase()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeAll(m_path, content);
        QCOMPARE(AppConfig(m_path).readString(section, key, QStringLiteral("?")), expected);
    }

    void writeKeepsTheRest_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("after");
        const QByteArray file = "; kept comment\n[app]\ndir=/old/\nconv=0\n\n[cn_web]\nserver=example\n";
        QTest::newRow("replace in place") << file << "APP"
                                          << "DIR"
                                          << "/new/"
                                          << QByteArray("; kept comment\n[app]\nDIR=/new/\nconv=0\n\n[cn_web]\n"
                                                        "server=example\n");
        QTest::newRow("append to section before blank")
            << file << "app"
            << "mode3"
            << "1" << QByteArray("; kept comment\n[app]\ndir=/old/\nconv=0\nmode3=1\n\n[cn_web]\nserver=example\n");
        QTest::newRow("append to last section")
            << file << "cn_web"
            << "userid"
            << "u" << QByteArray("; kept comment\n[app]\ndir=/old/\nconv=0\n\n[cn_web]\nserver=example\nuserid=u\n");
        QTest::newRow("new section") << file << "cn_x"
                                     << "server"
                                     << "s" << file + QByteArray("[cn_x]\nserver=s\n");
        QTest::newRow("crlf file stays crlf") << QByteArray("[app]\r\ndir=/\r\n") << "app"
                                              << "conv"
                                              << "1" << QByteArray("[app]\r\ndir=/\r\nconv=1\r\n");
        // a line of another key keeps every byte, its CRs included, however often the file is rewritten
        QTest::newRow("CR before LF in an LF file") << QByteArray("[app]\nnames=a\r\r\ndir=/\r\n") << "app"
                                                    << "conv"
                                                    << "1" << QByteArray("[app]\nnames=a\r\r\ndir=/\r\nconv=1\n");
        QTest::newRow("no final line end") << QByteArray("[app]\ndir=/") << "app"
                                           << "conv"
                                           << "0" << QByteArray("[app]\ndir=/\nconv=0\n");
        QTest::newRow("first of duplicates") << QByteArray("[app]\ndir=1\ndir=2\n") << "app"
                                             << "dir"
                                             << "3" << QByteArray("[app]\ndir=3\ndir=2\n");
        QTest::newRow("empty section") << QByteArray("[app]\n[b]\nk=v\n") << "app"
                                       << "dir"
                                       << "/" << QByteArray("[app]\ndir=/\n[b]\nk=v\n");
        QTest::newRow("key with a blank replaces in place") << QByteArray("[app]\ndir=/old/\n") << "app"
                                                            << "dir\f"
                                                            << "/new/" << QByteArray("[app]\ndir\f=/new/\n");
        QTest::newRow("japanese value") << QByteArray() << "cn_テスト"
                                        << "userid"
                                        << "ユーザー名" << QByteArray("[cn_テスト]\nuserid=ユーザー名\n");
    }
    void writeKeepsTheRest()
    {
        QFETCH(QByteArray, before);
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(QByteArray, after);
        if (!before.isEmpty())
            writeAll(m_path, before);
        AppConfig config(m_path);
        config.writeString(section, key, value);
        QCOMPARE(readAll(m_path), after);
        QCOMPARE(config.readString(section, key, QString()), value);
        config.writeString(section, key, value + QLatin1Char('!'));
        config.writeString(section, key, value);
        QCOMPARE(readAll(m_path), after);
    }

    void brokenUtf8AtTheEndReadsAsReplacement()
    {
        // an incomplete sequence at the very end of a value is not held back as the start of a later character
        writeAll(m_path, "[app]\nname=ab\xE7\xE7\xE7\n");
        QCOMPARE(AppConfig(m_path).readString(QStringLiteral("app"), QStringLiteral("name"), QString()),
                 QStringLiteral("ab\uFFFD\uFFFD\uFFFD"));
    }

    void integers_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("decimal") << QByteArray("12") << 12;
        QTest::newRow("zero") << QByteArray("0") << 0;
        QTest::newRow("negative") << QByteArray("-5") << -5;
        QTest::newRow("plus sign") << QByteArray("+3") << 3;
        QTest::newRow("leading zeros") << QByteArray("0012") << 12;
        QTest::newRow("hex lower") << QByteArray("0x1f") << 31;
        QTest::newRow("hex upper prefix") << QByteArray("0X10") << 16;
        QTest::newRow("hex one") << QByteArray("0x1") << 1;
        QTest::newRow("bare 0x is decimal 0") << QByteArray("0x") << 0;
        QTest::newRow("hex without digits") << QByteArray("0xZZ") << -7;
        QTest::newRow("hex trailing text") << QByteArray("0x1g") << 1;
        QTest::newRow("trailing text") << QByteArray("12abc") << 12;
        QTest::newRow("1x") << QByteArray("1x") << 1;
        QTest::newRow("leading blank") << QByteArray(" 12") << 12;
        QTest::newRow("letters") << QByteArray("abc") << -7;
        QTest::newRow("empty") << QByteArray("") << -7;
        QTest::newRow("sign only") << QByteArray("-") << -7;
        QTest::newRow("int max") << QByteArray("2147483647") << 2147483647;
        QTest::newRow("int min") << QByteArray("-2147483648") << int(-2147483647 - 1);
        QTest::newRow("overflow") << QByteArray("2147483648") << -7;
        QTest::newRow("underflow") << QByteArray("-2147483649") << -7;
        QTest::newRow("long overflow") << QByteArray("99999999999999999999999") << -7;
        QTest::newRow("hex max") << QByteArray("0x7FFFFFFF") << 2147483647;
        QTest::newRow("hex overflow") << QByteArray("0xFFFFFFFF") << -7;
        QTest::newRow("full-width digits") << QByteArray("１２") << -7;
    }
    void integers()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, expected);
        writeAll(m_path, "[app]\ncharset=" + stored + "\n");
        QCOMPARE(AppConfig(m_path).readInteger(QStringLiteral("app"), QStringLiteral("charset"), -7), expected);
    }

    void integerRoundTrip_data()
    {
        QTest::addColumn<int>("value");
        QTest::newRow("2") << 2;
        QTest::newRow("-1") << -1;
        QTest::newRow("max") << 2147483647;
        QTest::newRow("min") << int(-2147483647 - 1);
    }
    void integerRoundTrip()
    {
        QFETCH(int, value);
        AppConfig config(m_path);
        config.writeInteger(QStringLiteral("app"), QStringLiteral("charset"), value);
        QCOMPARE(readAll(m_path), "[app]\ncharset=" + QByteArray::number(value) + "\n");
        QCOMPARE(config.readInteger(QStringLiteral("app"), QStringLiteral("charset"), 99), value);
    }

    void booleans_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<bool>("defaultValue");
        QTest::addColumn<bool>("expected");
        QTest::newRow("1") << QByteArray("1") << false << true;
        QTest::newRow("0") << QByteArray("0") << true << false;
        QTest::newRow("2") << QByteArray("2") << false << true;
        QTest::newRow("0x1") << QByteArray("0x1") << false << true;
        QTest::newRow("-1") << QByteArray("-1") << false << true;
        QTest::newRow("letters default false") << QByteArray("yes") << false << false;
        QTest::newRow("letters default true") << QByteArray("no") << true << true;
        QTest::newRow("empty default true") << QByteArray("") << true << true;
    }
    void booleans()
    {
        QFETCH(QByteArray, stored);
        QFETCH(bool, defaultValue);
        QFETCH(bool, expected);
        writeAll(m_path, "[app]\nconv=" + stored + "\n");
        QCOMPARE(AppConfig(m_path).readBool(QStringLiteral("app"), QStringLiteral("conv"), defaultValue), expected);
    }

    void booleanWrites()
    {
        AppConfig config(m_path);
        config.writeBool(QStringLiteral("app"), QStringLiteral("mode1"), true);
        config.writeBool(QStringLiteral("app"), QStringLiteral("mode3"), false);
        QCOMPARE(readAll(m_path), QByteArray("[app]\nmode1=1\nmode3=0\n"));
        QCOMPARE(config.readBool(QStringLiteral("app"), QStringLiteral("mode1"), false), true);
        QCOMPARE(config.readBool(QStringLiteral("app"), QStringLiteral("mode3"), true), false);
    }

    void longTextIsCut_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");
        const QString ascii(3000, QLatin1Char('a'));
        QTest::newRow("ascii") << ascii << ascii.left(2047);
        QTest::newRow("exactly 2047") << ascii.left(2047) << ascii.left(2047);
        // 3-byte characters: 682 of them fill 2046 bytes, the 683rd would end at byte 2049
        const QString kana(1000, QChar(0x3042));
        QTest::newRow("kana") << kana << kana.left(682);
        // one ASCII byte shifts the boundary: 1 + 682 * 3 = 2047 fits exactly
        QTest::newRow("kana after one byte") << QStringLiteral("x") + kana << QStringLiteral("x") + kana.left(682);
        // 4-byte characters (two QChars each): 511 fill 2044 bytes
        QString emoji;
        for (int i = 0; i < 600; ++i)
            emoji += QStringLiteral("\U0001F600");
        QTest::newRow("four-byte characters") << emoji << emoji.left(511 * 2);
    }
    void longTextIsCut()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        AppConfig config(m_path);
        config.writeString(QStringLiteral("app"), QStringLiteral("dir"), value);
        const QString read = config.readString(QStringLiteral("app"), QStringLiteral("dir"), QString());
        QCOMPARE(read, expected);
        QVERIFY(read.toUtf8().size() <= 2047);
        QVERIFY(!read.contains(QChar::ReplacementCharacter));
    }

    void textKeptAsWritten_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("enclosing quotes") << "\"two words\"";
        QTest::newRow("quoted list") << "\"a b\",\"c d\"";
        QTest::newRow("single quotes") << "'x'";
        QTest::newRow("blanks around") << "  pass word  ";
        QTest::newRow("equals sign") << "a=b=c";
        QTest::newRow("semicolon") << ";not a comment";
        QTest::newRow("brackets") << "[app]";
        QTest::newRow("empty") << "";
    }
    void textKeptAsWritten()
    {
        QFETCH(QString, value);
        AppConfig config(m_path);
        config.writeString(QStringLiteral("cn_a"), QStringLiteral("password"), value);
        config.writeString(QStringLiteral("cn_a"), QStringLiteral("server"), QStringLiteral("s"));
        QCOMPARE(config.readString(QStringLiteral("cn_a"), QStringLiteral("password"), QStringLiteral("?")), value);
        QCOMPARE(config.readString(QStringLiteral("cn_a"), QStringLiteral("server"), QStringLiteral("?")),
                 QStringLiteral("s"));
    }

    void refusedWrite_data()
    {
        QTest::addColumn<QString>("relativePath");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("path is a folder") << "folder"
                                          << "dir"
                                          << "/";
        QTest::newRow("folder missing") << "missing/AppConfig.ini"
                                        << "dir"
                                        << "/";
        QTest::newRow("parent is a file") << "plain/AppConfig.ini"
                                          << "dir"
                                          << "/";
        QTest::newRow("line break in value") << "AppConfig.ini"
                                             << "dir"
                                             << "/a/\n[app]\ndir=/b/";
        QTest::newRow("carriage return in value") << "AppConfig.ini"
                                                  << "dir"
                                                  << "x\ry";
        QTest::newRow("equals in key") << "AppConfig.ini"
                                       << "a=b"
                                       << "v";
        QTest::newRow("empty key") << "AppConfig.ini"
                                   << ""
                                   << "v";
    }
    void refusedWrite()
    {
        QFETCH(QString, relativePath);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("folder")));
        writeAll(m_dir.filePath(QStringLiteral("plain")), "not a folder");
        const QByteArray before = "[app]\ndir=/keep/\n";
        writeAll(m_path, before);

        const QString path = m_dir.filePath(relativePath);
        AppConfig config(path);
        try {
            config.writeString(QStringLiteral("app"), key, value);
            QFAIL("the write was not refused");
        } catch (const AppError& e) {
            QCOMPARE(e.message(), path + QStringLiteral(" に書き込めません"));
        }
        QCOMPARE(readAll(m_path), before);
        QVERIFY(QFileInfo(m_dir.filePath(QStringLiteral("folder"))).isDir());
        QCOMPARE(readAll(m_dir.filePath(QStringLiteral("plain"))), QByteArray("not a folder"));
    }

    void refusedWriteNamesFullPath()
    {
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        try {
            AppConfig(QStringLiteral("nowhere/AppConfig.ini"))
                .writeString(QStringLiteral("app"), QStringLiteral("dir"), QStringLiteral("/"));
            QDir::setCurrent(previous);
            QFAIL("the write was not refused");
        } catch (const AppError& e) {
            QDir::setCurrent(previous);
            QCOMPARE(e.message(), m_dir.path() + QStringLiteral("/nowhere/AppConfig.ini に書き込めません"));
        }
    }

    void writeCommaList_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty list") << QStringList{} << "";
        QTest::newRow("one empty name") << QStringList{""} << "\"\"";
        QTest::newRow("one name") << QStringList{"web"} << "web";
        QTest::newRow("bare names") << QStringList{"a", "b", "c"} << "a,b,c";
        QTest::newRow("space") << QStringList{"my server", "b"} << "\"my server\",b";
        QTest::newRow("comma") << QStringList{"a,b"} << "\"a,b\"";
        QTest::newRow("quote doubled") << QStringList{"say \"hi\""} << "\"say \"\"hi\"\"\"";
        QTest::newRow("tab") << QStringList{"a\tb"} << "\"a\tb\"";
        QTest::newRow("trailing empty name") << QStringList{"a", ""} << "a,";
        QTest::newRow("leading empty name") << QStringList{"", "a"} << ",a";
        QTest::newRow("japanese") << QStringList{"本番", "テスト サーバ"} << "本番,\"テスト サーバ\"";
        QTest::newRow("ideographic space is not a blank") << QStringList{"本番　環境"} << "本番　環境";
    }
    void writeCommaList()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, expected);
        QCOMPARE(::writeCommaList(names), expected);
    }

    void readCommaList_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("empty") << "" << QStringList{};
        QTest::newRow("blanks only") << "  \t " << QStringList{};
        QTest::newRow("two quotes") << "\"\"" << QStringList{""};
        QTest::newRow("bare") << "a,b,c" << QStringList{"a", "b", "c"};
        QTest::newRow("blanks around") << "  a ,  b  " << QStringList{"a", "b"};
        QTest::newRow("quoted with space") << "\"my server\",b" << QStringList{"my server", "b"};
        QTest::newRow("quoted comma") << "\"a,b\",c" << QStringList{"a,b", "c"};
        QTest::newRow("doubled quote") << "\"say \"\"hi\"\"\"" << QStringList{"say \"hi\""};
        QTest::newRow("trailing comma") << "a," << QStringList{"a", ""};
        QTest::newRow("trailing comma then blank") << "a, " << QStringList{"a"};
        QTest::newRow("lone comma") << "," << QStringList{"", ""};
        QTest::newRow("double comma") << "a,,b" << QStringList{"a", "", "b"};
        QTest::newRow("space splits bare name") << "a b" << QStringList{"a", "b"};
        QTest::newRow("unterminated quote") << "\"abc" << QStringList{"abc"};
        QTest::newRow("text after quote") << "\"a\"b" << QStringList{"a", "b"};
        QTest::newRow("japanese") << "本番,\"テスト サーバ\"" << QStringList{"本番", "テスト サーバ"};
        QTest::newRow("ends at NUL") << QStringLiteral("a,b") + QChar(0) + QStringLiteral(",c")
                                     << QStringList{"a", "b"};
    }
    void readCommaList()
    {
        QFETCH(QString, value);
        QFETCH(QStringList, expected);
        QCOMPARE(::readCommaList(value), expected);
    }

    void commaListThroughFile_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::newRow("empty") << QStringList{};
        QTest::newRow("one empty") << QStringList{""};
        QTest::newRow("one name with space") << QStringList{"two words"};
        QTest::newRow("first and last quoted") << QStringList{"a b", "c", "d,e"};
        QTest::newRow("quotes") << QStringList{"\"", "\"\"", "x\"y"};
        QTest::newRow("empty names") << QStringList{"", "", ""};
        QTest::newRow("trailing empty") << QStringList{"a", "b", ""};
        QTest::newRow("japanese") << QStringList{"本番サーバ", "検証 環境", "ｶﾅ"};
    }
    void commaListThroughFile()
    {
        QFETCH(QStringList, names);
        AppConfig config(m_path);
        config.writeString(QStringLiteral("app"), QStringLiteral("cn_names"), ::writeCommaList(names));
        const QString stored = config.readString(QStringLiteral("app"), QStringLiteral("cn_names"), QString());
        QCOMPARE(::readCommaList(stored), names);
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestAppConfig)
#include "tst_appconfig.moc"
