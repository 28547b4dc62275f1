#include "ftpserverfixture.h"
#include "testfiles.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Run
{
    bool finished = false;
    int exitCode = -1;
    QByteArray output;
    QByteArray errors;
    QStringList lines() const
    {
        QStringList result = QString::fromUtf8(output).split(u'\n');
        if (!result.isEmpty() && result.last().isEmpty())
            result.removeLast(); // after the line end of the last line
        return result;
    }
};

// The lines printed after the echo of `command` up to the next echoed command.
QStringList linesAfter(const QStringList& lines, const QString& command)
{
    const qsizetype at = lines.indexOf(u"ftp> "_s + command);
    if (at < 0)
        return {};
    QStringList result;
    for (qsizetype i = at + 1; i < lines.size() && !lines[i].startsWith(u"ftp> "_s); ++i)
        result << lines[i];
    return result;
}

// A long listing line as the server prints it: permissions, links, owner, group, size, date (3), then the name.
const QRegularExpression kListingLine(u"^([-d])\\S+ +\\d+ +\\S+ +\\S+ +(\\d+) +\\S+ +\\S+ +\\S+ (.*)$"_s);

} // namespace

// Runs the real `ftp` program on scripts against the real server and reads its transcript.
class TestFtpClient : public QObject
{
    Q_OBJECT

private:
    FtpServerFixture m_server;
    QTemporaryDir m_work;
    QString m_program;

    // Writes the script (lines ended by CR LF), starts the client, writes stdin and leaves it open unless
    // closeInput; returns once the client has ended (or after 30 s).
    Run run(const QStringList& script, const QByteArray& input = "\x1A", bool closeInput = false,
            const QStringList& arguments = {})
    {
        const QString scriptPath = m_work.filePath(u"ftp cmd.txt"_s);
        writeAll(scriptPath, script.isEmpty() ? QByteArray() : (script.join(u"\r\n"_s) + u"\r\n"_s).toUtf8());
        QProcess client;
        client.start(m_program, arguments.isEmpty() ? QStringList{u"-s:"_s + scriptPath} : arguments);
        Run result;
        if (!client.waitForStarted(10000))
            return result;
        client.write(input);
        if (closeInput)
            client.closeWriteChannel();
        result.finished = client.waitForFinished(30000);
        if (!result.finished)
            client.kill();
        result.exitCode = client.exitCode();
        result.output = client.readAllStandardOutput();
        result.errors = client.readAllStandardError();
        return result;
    }

    QStringList login() const
    {
        return {u"open "_s + m_server.host(), FtpServerFixture::user(), FtpServerFixture::password()};
    }

private slots:
    void initTestCase()
    {
        m_program = QStandardPaths::findExecutable(u"ftp"_s);
        QVERIFY2(m_program.endsWith(u"/bin/ftp"_s), qPrintable(m_program));
        FtpServerFixture::Options options;
        options.noEnterDirs << u"closed"_s;
        m_server.setBadCwdReplies();
        QVERIFY(m_server.start(options));
        QVERIFY(writeAll(m_server.root() + u"/www/index.html"_s, "<html>\n"));
        QVERIFY(writeAll(m_server.root() + u"/www/sub/a.txt"_s, "a"));
        QVERIFY(writeAll(m_server.root() + u"/www/my  docs/b.txt"_s, "bb"));
    }

    void sessionTranscript()
    {
        const Run r = run(login() + QStringList{u"cd /www"_s, u"ls -al"_s, u"dir"_s});
        QVERIFY(r.finished);
        QCOMPARE(r.exitCode, 0);
        const QStringList lines = r.lines();
        QVERIFY(lines.size() > 9);
        QCOMPARE(lines[0], u"ftp> open "_s + m_server.host());
        QCOMPARE(lines[1], u"Connected to 127.0.0.1."_s);
        QVERIFY(lines[2].startsWith(u"220 "_s));
        QCOMPARE(lines[3], u"User (127.0.0.1:(none)): "_s);
        QVERIFY(lines[4].startsWith(u"331 "_s));
        QCOMPARE(lines[5], u"Password:"_s);
        QVERIFY(lines[6].startsWith(u"230 "_s));
        QCOMPARE(lines[7], u"ftp> cd /www"_s);
        QVERIFY(lines[8].startsWith(u"250 "_s));

        for (const QString& command : {u"ls -al"_s, u"dir"_s}) {
            const QStringList after = linesAfter(lines, command);
            QStringList names;
            qint64 listedBytes = 0;
            for (const QString& line : after) {
                const QRegularExpressionMatch m = kListingLine.match(line);
                if (m.hasMatch()) {
                    names << m.captured(3);
                    listedBytes += line.toUtf8().size() + 1; // an ASCII listing arrives with LF line ends
                } else {
                    QVERIFY2(line.isEmpty() || line[0].isDigit() || line.startsWith(u"ftp: "_s), qPrintable(line));
                }
            }
            QCOMPARE(names, (QStringList{u"index.html"_s, u"my  docs"_s, u"sub"_s}));
            QVERIFY(after.filter(QRegularExpression(u"^226 "_s)).size() == 1);
            const QStringList bytesLine = after.filter(
                QRegularExpression(u"^ftp: \\d+ bytes received in \\d+\\.\\d\\dSeconds \\d+\\.\\d\\dKbytes/sec\\.$"_s));
            QCOMPARE(bytesLine.size(), 1);
            QCOMPARE(bytesLine[0].section(u' ', 1, 1).toLongLong(), listedBytes);
        }
        // the listing commands that reached the server
        QVERIFY(!m_server.commands().filter(QRegularExpression(u"^\\d+ LIST -al$"_s)).isEmpty());
        QVERIFY(!m_server.commands().filter(QRegularExpression(u"^\\d+ LIST$"_s)).isEmpty());
    }

    void credentialsNeverPrinted_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("accepted") << QString() << FtpServerFixture::password() << u"230 "_s;
        QTest::newRow("wrong password") << QString() << u"Wr0ng:Pass!"_s << u"Login failed."_s;
        QTest::newRow("refused connect") << u"127.0.0.1:%1"_s << FtpServerFixture::password()
                                         << u"ftp: connect :Connection refused"_s;
        QTest::newRow("bad host text") << u"no host"_s << FtpServerFixture::password() << u"Unknown host"_s;
    }
    void credentialsNeverPrinted()
    {
        QFETCH(QString, server);
        QFETCH(QString, password);
        QFETCH(QString, outcome);
        if (server.contains(u"%1"_s)) {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            server = server.arg(probe.serverPort());
            probe.close(); // nothing listens there any more
        }
        if (server.isEmpty())
            server = m_server.host();
        const Run r = run({u"open "_s + server, FtpServerFixture::user(), password, u"cd /www"_s, u"ls -al"_s});
        QVERIFY(r.finished);
        const QStringList lines = r.lines();
        QVERIFY2(lines.filter(outcome).size() == 1, r.output.constData());
        QVERIFY(!r.output.contains(password.toUtf8()));
        QVERIFY(!r.errors.contains(password.toUtf8()));
        QVERIFY(!r.output.contains(FtpServerFixture::user().toUtf8()));
        if (outcome != u"230 "_s) {
            QCOMPARE(linesAfter(lines, u"cd /www"_s), QStringList{u"Not connected."_s});
            QCOMPARE(linesAfter(lines, u"ls -al"_s), QStringList{u"Not connected."_s});
        }
    }

    void changeDirectory_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<QStringList>("replies"); // the code of the line that ends each cd's reply
        QTest::addColumn<QString>("finalDirectory");
        QTest::newRow("absolute") << QStringList{u"cd /www/sub"_s} << QStringList{u"250"_s} << u"/www/sub"_s;
        QTest::newRow("relative to login") << QStringList{u"cd www"_s} << QStringList{u"250"_s} << u"/www"_s;
        QTest::newRow("relative to current")
            << QStringList{u"cd /www"_s, u"cd sub"_s} << QStringList{u"250"_s, u"250"_s} << u"/www/sub"_s;
        QTest::newRow("parent") << QStringList{u"cd /www/sub"_s, u"cd .."_s} << QStringList{u"250"_s, u"250"_s}
                                << u"/www"_s;
        QTest::newRow("blanks in name") << QStringList{u"cd /www/my  docs"_s} << QStringList{u"250"_s}
                                        << u"/www/my  docs"_s;
        QTest::newRow("quoted name") << QStringList{u"cd /www"_s, u"cd \"my  docs\""_s}
                                     << QStringList{u"250"_s, u"250"_s} << u"/www/my  docs"_s;
        QTest::newRow("refused keeps directory")
            << QStringList{u"cd /www"_s, u"cd /closed"_s} << QStringList{u"250"_s, u"550"_s} << u"/www"_s;
        QTest::newRow("missing keeps directory") << QStringList{u"cd /www"_s, u"cd nothing"_s, u"cd sub"_s}
                                                 << QStringList{u"250"_s, u"550"_s, u"250"_s} << u"/www/sub"_s;
        // "250" CR LF "550 No such directory": the bare code ends nothing, the refusal ends the reply
        QTest::newRow("bare code before a refusal keeps directory")
            << QStringList{u"cd /www"_s, u"cd /barecode"_s, u"cd sub"_s} << QStringList{u"250"_s, u"550"_s, u"250"_s}
            << u"/www/sub"_s;
    }
    void changeDirectory()
    {
        QFETCH(QStringList, commands);
        QFETCH(QStringList, replies);
        QFETCH(QString, finalDirectory);
        const Run r = run(login() + commands + QStringList{u"pwd"_s});
        QVERIFY(r.finished);
        const QStringList lines = r.lines();
        qsizetype from = 0;
        for (qsizetype i = 0; i < commands.size(); ++i) {
            const qsizetype at = lines.indexOf(u"ftp> "_s + commands[i], from);
            QVERIFY2(at >= 0, r.output.constData());
            const qsizetype end = lines.indexOf(QRegularExpression(u"\\d{3} .*"_s), at + 1);
            QVERIFY2(end > at, r.output.constData());
            QVERIFY2(lines[end].startsWith(replies[i] + u' '), qPrintable(lines[end]));
            from = end;
        }
        QCOMPARE(linesAfter(lines, u"pwd"_s).value(0), u"257 \"%1\" is the current directory."_s.arg(finalDirectory));
    }

    void endOfInput_data()
    {
        QTest::addColumn<QStringList>("tail"); // script lines after the login
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<bool>("closeInput");
        QTest::addColumn<int>("pwdReplies");
        QTest::newRow("end byte, input kept open") << QStringList() << QByteArray("\x1A") << false << 0;
        QTest::newRow("end of input") << QStringList() << QByteArray() << true << 0;
        QTest::newRow("command from input") << QStringList() << QByteArray("pwd\r\n\x1A") << false << 1;
        QTest::newRow("nothing after end byte") << QStringList() << QByteArray("\x1Apwd\n") << false << 0;
        QTest::newRow("quit in script") << QStringList{u"pwd"_s, u"quit"_s} << QByteArray() << false << 1;
    }
    void endOfInput()
    {
        QFETCH(QStringList, tail);
        QFETCH(QByteArray, input);
        QFETCH(bool, closeInput);
        QFETCH(int, pwdReplies);
        const Run r = run(login() + tail, input, closeInput);
        QVERIFY2(r.finished, "the client did not end by itself");
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.lines().filter(QRegularExpression(u"^257 "_s)).size(), pwdReplies);
    }

    void unknownCommandGoesOn_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("echo");
        QTest::newRow("unknown word") << u"frobnicate now"_s << u"frobnicate now"_s;
        // found by fuzzing: the raw echo split the caller's line or cut its output short
        QTest::newRow("NUL inside") << u"frob"_s + QChar(0) + u"nicate"_s << u"frob nicate"_s;
        QTest::newRow("bare CR inside") << u"frob\rnicate"_s << u"frob nicate"_s;
    }
    void unknownCommandGoesOn()
    {
        QFETCH(QString, line);
        QFETCH(QString, echo);
        const Run r = run(login() + QStringList{line, u"pwd"_s});
        QCOMPARE(linesAfter(r.lines(), echo), QStringList{u"Invalid command."_s});
        QVERIFY(linesAfter(r.lines(), u"pwd"_s).value(0).startsWith(u"257 "_s));
        QVERIFY(!r.output.contains('\0') && !r.output.contains('\r'));
    }

    void continuationLinesCannotPassForListingLines()
    {
        FtpServerFixture server;
        server.setBanner(u"Welcome|-rw-r--r-- 1 u g 5 Jan 1 12:00 fake.txt|drwxr-xr-x 2 u g 4096 Jan 1 12:00 fake"_s);
        QVERIFY(server.start());
        const Run r = run({u"open "_s + server.host(), FtpServerFixture::user(), FtpServerFixture::password()});
        const QStringList lines = r.lines();
        QVERIFY2(lines.contains(u" -rw-r--r-- 1 u g 5 Jan 1 12:00 fake.txt"_s), r.output.constData());
        QVERIFY(lines.filter(QRegularExpression(u"^[-d]"_s)).isEmpty());
        QVERIFY(lines.filter(QRegularExpression(u"^220"_s)).size() == 2); // "220-Welcome" and the closing "220 "
    }

    void hostIsTakenAsWritten()
    {
        // A "%2" in the host must not be read as a place for the port: "127.0.0.%2" with port 99 is not
        // 127.0.0.99, where a server waits to see whether anyone logs in.
        FtpServerFixture server;
        server.setListenAddress(u"127.0.0.99"_s, 99);
        if (!server.start() || server.port() != 99)
            QSKIP("no server can listen on 127.0.0.99:99 here");
        const Run r = run({u"open 127.0.0.%2 99"_s, FtpServerFixture::user(), FtpServerFixture::password()});
        QVERIFY(r.finished);
        QCOMPARE(server.logins(), 0);
        QVERIFY2(!r.output.contains("230 "), r.output.constData());
        QVERIFY2(!r.output.contains("127.0.0.99"), r.output.constData());
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("missing script") << QStringList{u"-s:/nonexistent/ftpcmd.txt"_s} << 1 << u"cannot read"_s;
        QTest::newRow("quoted missing script")
            << QStringList{u"-s:\"/nonexistent/x y.txt\""_s} << 1 << u"/nonexistent/x y.txt:"_s;
        QTest::newRow("unknown option") << QStringList{u"-x"_s} << 2 << u"Usage"_s;
        QTest::newRow("empty script name") << QStringList{u"-s:"_s} << 2 << u"Usage"_s;
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        const Run r = run({}, "\x1A", false, arguments);
        QVERIFY(r.finished);
        QCOMPARE(r.exitCode, exitCode);
        QVERIFY(r.output.isEmpty());
        QVERIFY2(QString::fromUtf8(r.errors).contains(message), r.errors.constData());
    }

    void quotedScriptPathWithBlanks()
    {
        // the runner's command line puts the script path in double quotes right after -s:
        const QString scriptPath = m_work.filePath(u"ftp cmd.txt"_s);
        const Run r = run(login() + QStringList{u"pwd"_s}, "\x1A", false, {u"-s:\"%1\""_s.arg(scriptPath)});
        QVERIFY(r.finished);
        QVERIFY(linesAfter(r.lines(), u"pwd"_s).value(0).startsWith(u"257 \"/\""_s));
    }

    void listingAfterTheServerCameBack()
    {
        // The connection dies between "cd" and "ls -al"; the listing must still be of the directory of the cd.
        const QString scriptPath = m_work.filePath(u"restart.txt"_s);
        QVERIFY(writeAll(scriptPath, (login() + QStringList{u"cd /www/sub"_s}).join(u"\r\n"_s).toUtf8() + "\r\n"));
        QProcess client;
        client.start(m_program, {u"-s:"_s + scriptPath});
        QVERIFY(client.waitForStarted(10000));
        QByteArray output;
        QTRY_VERIFY_WITH_TIMEOUT((output += client.readAllStandardOutput()).contains("\n250 "), 20000);
        m_server.stop();
        FtpServerFixture::Options options;
        options.noEnterDirs << u"closed"_s;
        QVERIFY(m_server.start(options));
        client.write("ls -al\n\x1A");
        QVERIFY(client.waitForFinished(30000));
        output += client.readAllStandardOutput();
        const QStringList after = linesAfter(QString::fromUtf8(output).split(u'\n'), u"ls -al"_s);
        QVERIFY2(after.filter(kListingLine).size() == 1 && after.filter(kListingLine)[0].endsWith(u" a.txt"_s),
                 output.constData());
        // the new login stays out of the transcript
        QVERIFY2(after.filter(QRegularExpression(u"^(220|331|230|257) "_s)).isEmpty(), output.constData());
        QVERIFY(m_server.commands().filter(QRegularExpression(u"^\\d+ CWD /www/sub$"_s)).size() == 1);
    }

    void namesListCorrectly_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("directory");
        QTest::newRow("Japanese file") << u"日本語 ファイル.html"_s << false;
        QTest::newRow("Japanese folder") << u"写真"_s << true;
        QTest::newRow("inner blanks") << u"a  b   c.txt"_s << false;
        QTest::newRow("leading dash") << u"-draft.txt"_s << false;
    }
    void namesListCorrectly()
    {
        QFETCH(QString, name);
        QFETCH(bool, directory);
        static int counter = 0;
        const QString folder = u"/names/"_s + QString::number(++counter);
        const QString path = m_server.root() + folder + u'/' + name;
        QVERIFY(directory ? QDir().mkpath(path) : writeAll(path, "12345"));
        const Run r = run(login() + QStringList{u"cd "_s + folder, u"ls -al"_s});
        QStringList found;
        for (const QString& line : linesAfter(r.lines(), u"ls -al"_s)) {
            const QRegularExpressionMatch m = kListingLine.match(line);
            if (m.hasMatch())
                found << m.captured(1) + m.captured(3);
        }
        QCOMPARE(found, QStringList{(directory ? u"d"_s : u"-"_s) + name});
    }
};

QTEST_GUILESS_MAIN(TestFtpClient)
#include "tst_ftpclient.moc"
