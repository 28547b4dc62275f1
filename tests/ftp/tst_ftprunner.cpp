#include "ftp/ftprunner.h"

#include "ftpserverfixture.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <sys/stat.h>

// Drives the runner with small python programs standing in for the client, and once with our real client
// against the real server.
class TestFtpRunner : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_scripts;

    // A command line that runs the given python source as the client.
    QString client(const QString& name, const QByteArray& source)
    {
        const QString path = m_scripts.filePath(name + QStringLiteral(".py"));
        if (!writeAll(path, source))
            qFatal("cannot write %s", qPrintable(path));
        return QStringLiteral("/usr/bin/python3 \"%1\"").arg(path);
    }

private slots:
    void init() { removeFtpScript(); }
    void cleanupTestCase() { removeFtpScript(); }

    void stdinGetsOneEndByteAndStaysOpen_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty input") << QString() << QStringLiteral("b'\\x1a' open");
        QTest::newRow("text input") << QStringLiteral("dir") << QStringLiteral("b'dir\\x1a' open");
    }
    void stdinGetsOneEndByteAndStaysOpen()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        // The client reads what arrived, then looks for one second whether more bytes or the end of the pipe
        // follow; a runner that closed stdin early shows as "closed".
        const QString command = client(QStringLiteral("stdin"), R"(
import os, select, sys
data = b''
while not data.endswith(b'\x1a'):
    part = os.read(0, 100)
    if not part:
        break
    data += part
ready, _, _ = select.select([0], [], [], 1.0)
state = 'open'
if ready:
    state = 'closed' if os.read(0, 100) == b'' else 'more'
sys.stdout.write(repr(data) + ' ' + state)
)");
        QString output;
        QString errors = QStringLiteral("stale");
        QVERIFY(RunFtpScript(command, input, output, errors));
        QCOMPARE(output, expected);
        QCOMPARE(errors, QString());
    }

    void longOutputArrivesWholeAndInOrder_data()
    {
        QTest::addColumn<QString>("line");
        QTest::newRow("ascii") << QStringLiteral("-rw-r--r-- 1 user group 12 Jan 1 12:00 file");
        // multi-byte characters fall across the 1024-byte pieces
        QTest::newRow("japanese") << QStringLiteral("-rw-r--r-- 1 user group 12 Jan 1 12:00 日本語のファイル名");
    }
    void longOutputArrivesWholeAndInOrder()
    {
        QFETCH(QString, line);
        const QString command = client(QStringLiteral("long"), R"(
import sys
line = sys.argv[1]
out = sys.stdout.buffer
for i in range(5000):
    out.write(('%05d ' % i + line + '\r\n').encode('utf-8'))
    if i % 97 == 0:
        out.flush()
)");
        QString expected;
        for (int i = 0; i < 5000; ++i)
            expected += QStringLiteral("%1 ").arg(i, 5, 10, QLatin1Char('0')) + line + QStringLiteral("\r\n");
        QVERIFY(expected.toUtf8().size() > 200 * 1024);

        QString output;
        QString errors;
        QVERIFY(RunFtpScript(command + QStringLiteral(" \"%1\"").arg(line), QString(), output, errors));
        QCOMPARE(output.size(), expected.size());
        QCOMPARE(output, expected);
    }

    void muchOnStandardErrorDoesNotStall()
    {
        // A megabyte on stderr before the first byte on stdout fills the error pipe long before the client
        // reaches its output; only a runner that drains both at once lets it get there.
        const QString command = client(QStringLiteral("stderr"), R"(
import sys
block = ('e' * 1023 + '\n').encode()
for i in range(1024):
    sys.stderr.buffer.write(block)
sys.stderr.buffer.flush()
sys.stdout.write('listing after errors\n')
sys.stdout.flush()
sys.stderr.buffer.write(b'tail')
)");
        QString output;
        QString errors;
        QVERIFY(RunFtpScript(command, QString(), output, errors));
        QCOMPARE(output, QStringLiteral("listing after errors\n"));
        QCOMPARE(errors.size(), 1024 * 1024 + 4);
        QVERIFY(errors.startsWith(QString(1023, QLatin1Char('e')) + QLatin1Char('\n')));
        QVERIFY(errors.endsWith(QStringLiteral("\ntail")));
    }

    void nulKeepsTheRestOfTheRead_data()
    {
        QTest::addColumn<int>("fd");
        QTest::newRow("stdout") << 1;
        QTest::newRow("stderr") << 2;
    }
    void nulKeepsTheRestOfTheRead()
    {
        QFETCH(int, fd);
        // One write reaches the runner at once; what follows the NUL (a refusal, say) must not be lost with it.
        const QString command = client(QStringLiteral("nul"), R"(
import os, sys
os.write(int(sys.argv[1]), b'a' * 10 + b'\0' + b'b' * 1013 + b'c' * 1024)
)");
        QString output;
        QString errors;
        QVERIFY(RunFtpScript(command + QStringLiteral(" %1").arg(fd), QString(), output, errors));
        const QString expected = QString(10, QLatin1Char('a')) + QChar(0) + QString(1013, QLatin1Char('b')) +
                                 QString(1024, QLatin1Char('c'));
        QCOMPARE(fd == 1 ? output : errors, expected);
        QCOMPARE(fd == 1 ? errors : output, QString());
    }

    void eventsAreServedWhileTheClientRuns()
    {
        // The client waits until a worker thread has been answered by the main thread and a timer has fired
        // there; both can only happen while the runner serves events.
        QTemporaryDir flags;
        const QString flag = flags.filePath(QStringLiteral("served"));
        const QString command = client(QStringLiteral("wait"), R"(
import os, sys, time
deadline = time.time() + 30
while not os.path.exists(sys.argv[1]) and time.time() < deadline:
    time.sleep(0.02)
sys.stdout.write('served' if os.path.exists(sys.argv[1]) else 'not served')
)");
        int ticks = 0;
        bool workerAnswered = false;
        bool running = false;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] {
            if (running)
                ++ticks;
            if (ticks > 0 && workerAnswered)
                writeAll(flag, "1");
        });
        timer.start(10);

        QObject receiver;
        QThread* worker = QThread::create([&] {
            QMetaObject::invokeMethod(
                &receiver, [&] { workerAnswered = running; }, Qt::BlockingQueuedConnection);
        });

        QString output;
        QString errors;
        running = true;
        worker->start();
        const bool started = RunFtpScript(command + QStringLiteral(" \"%1\"").arg(flag), QString(), output, errors);
        running = false;
        QVERIFY(worker->wait(10000));
        delete worker;
        QVERIFY(started);
        QCOMPARE(output, QStringLiteral("served"));
        QVERIFY(ticks > 0);
        QVERIFY(workerAnswered);
    }

    void runInsideARunEndsFirst()
    {
        // A listing started from an event while another listing runs ends first; the outer one still gets its
        // own output once its client ends.
        QTemporaryDir flags;
        const QString flag = flags.filePath(QStringLiteral("inner done"));
        const QString outer = client(QStringLiteral("outer"), R"(
import os, sys, time
deadline = time.time() + 30
while not os.path.exists(sys.argv[1]) and time.time() < deadline:
    time.sleep(0.02)
sys.stdout.write('outer')
)");
        const QString inner = client(QStringLiteral("inner"), "import sys\nsys.stdout.write('inner')\n");
        QString innerOutput;
        QString innerErrors;
        bool innerStarted = false;
        QTimer::singleShot(50, [&] {
            innerStarted = RunFtpScript(inner, QString(), innerOutput, innerErrors);
            writeAll(flag, "1");
        });
        QString output;
        QString errors;
        QVERIFY(RunFtpScript(outer + QStringLiteral(" \"%1\"").arg(flag), QString(), output, errors));
        QVERIFY(innerStarted);
        QCOMPARE(innerOutput, QStringLiteral("inner"));
        QCOMPARE(output, QStringLiteral("outer"));
    }

    void crashingClientEndsTheRun()
    {
        const QString command = client(QStringLiteral("crash"), R"(
import os, signal, sys
sys.stdout.write('partial')
sys.stdout.flush()
os.kill(os.getpid(), signal.SIGKILL)
)");
        QString output;
        QString errors;
        QVERIFY(RunFtpScript(command, QString(), output, errors));
        QCOMPARE(output, QStringLiteral("partial"));
    }

    void clientThatCannotStart_data()
    {
        QTest::addColumn<QString>("commandLine");
        QTest::newRow("unknown program") << QStringLiteral("pelno-no-such-client -s:\"x.txt\"");
        QTest::newRow("missing path") << QStringLiteral("/nonexistent/folder/ftp -s:x");
        QTest::newRow("not executable") << QStringLiteral("/etc/hostname");
        QTest::newRow("empty command line") << QString();
    }
    void clientThatCannotStart()
    {
        QFETCH(QString, commandLine);
        QString output = QStringLiteral("stale");
        QString errors = QStringLiteral("stale");
        QVERIFY(!RunFtpScript(commandLine, QString(), output, errors));
        QCOMPARE(output, QString());
        QCOMPARE(errors, QString());
    }

    void programBesideTheExecutableWinsOverPath()
    {
        const QString name = QStringLiteral("pelno-runner-probe");
        QTemporaryDir pathDir;
        const QString own = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
        const QString onPath = pathDir.filePath(name);
        QVERIFY(writeAll(own, "#!/bin/sh\necho own\n"));
        QVERIFY(writeAll(onPath, "#!/bin/sh\necho path\n"));
        for (const QString& file : {own, onPath})
            QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        const QByteArray oldPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(pathDir.path()) + ':' + oldPath);
        QString output;
        QString errors;
        const bool ranOwn = RunFtpScript(name, QString(), output, errors);
        const QString ownOutput = output;
        QFile::remove(own);
        const bool ranPath = RunFtpScript(name, QString(), output, errors);
        qputenv("PATH", oldPath);

        QVERIFY(ranOwn);
        QCOMPARE(ownOutput, QStringLiteral("own\n"));
        QVERIFY(ranPath);
        QCOMPARE(output, QStringLiteral("path\n"));
    }

    void commandLineNamesTheScriptBesideTheExecutable()
    {
        const QString expectedPath = QCoreApplication::applicationDirPath() + QStringLiteral("/ftpcmd.txt");
        QCOMPARE(ftpScriptPath(), expectedPath);
        QCOMPARE(QProcess::splitCommand(ftpCommandLine()),
                 QStringList({QStringLiteral("ftp"), QStringLiteral("-s:") + expectedPath}));
    }

    void scriptFileIsPrivateWithCrLfLines()
    {
        // An earlier script with wide rights must not pass them on to the one holding the password.
        QVERIFY(writeAll(ftpScriptPath(), "old script that is longer than the new one\n"));
        QVERIFY(QFile::setPermissions(ftpScriptPath(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                                           QFile::ReadOther | QFile::WriteOther));

        const QStringList lines = {QStringLiteral("open 127.0.0.1:2121"), QStringLiteral("ユーザー"),
                                   QStringLiteral("pass word"), QStringLiteral("ls -al")};
        QVERIFY(writeFtpScript(lines));
        QCOMPARE(readAll(ftpScriptPath()), QByteArray("open 127.0.0.1:2121\r\n") + QStringLiteral("ユーザー").toUtf8() +
                                               QByteArray("\r\npass word\r\nls -al\r\n"));
        struct stat info;
        QCOMPARE(::stat(QFile::encodeName(ftpScriptPath()).constData(), &info), 0);
        QCOMPARE(info.st_mode & 07777, mode_t(0600));

        removeFtpScript();
        QVERIFY(!QFile::exists(ftpScriptPath()));
    }

    void lineBreakInsideAValueIsRefused_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("LF") << QStringLiteral("secret\nrm x");
        QTest::newRow("CR") << QStringLiteral("secret\rrm x");
    }
    void lineBreakInsideAValueIsRefused()
    {
        QFETCH(QString, password);
        QVERIFY(writeFtpScript({QStringLiteral("open old"), QStringLiteral("u"), QStringLiteral("p")}));
        QVERIFY(!writeFtpScript({QStringLiteral("open host"), QStringLiteral("user"), password}));
        // neither the refused script nor the earlier one is left to be run
        QVERIFY(!QFile::exists(ftpScriptPath()));
    }

    void listsTheRealServerWithOurClient()
    {
        FtpServerFixture server;
        QVERIFY(server.start());
        QVERIFY(writeAll(server.root() + QStringLiteral("/www/index.html"), "<html></html>\n"));
        QVERIFY(writeAll(server.root() + QStringLiteral("/www/img/logo.png"), "png"));

        QVERIFY(writeFtpScript({QStringLiteral("open ") + server.host(), FtpServerFixture::user(),
                                FtpServerFixture::password(), QStringLiteral("cd www"), QStringLiteral("ls -al")}));
        QString output;
        QString errors;
        QVERIFY(RunFtpScript(ftpCommandLine(), QString(), output, errors));
        removeFtpScript();
        QVERIFY(!QFile::exists(ftpScriptPath()));

        QStringList entries;
        for (const QString& line : output.split(QRegularExpression(QStringLiteral("[\r\n]+")))) {
            if (line.startsWith(QLatin1Char('d')) || line.startsWith(QLatin1Char('-')))
                entries << line.section(QLatin1Char(' '), -1);
        }
        QVERIFY2(entries.contains(QStringLiteral("index.html")), qPrintable(output + errors));
        QVERIFY2(entries.contains(QStringLiteral("img")), qPrintable(output + errors));
        // only www holds these, so the listing was made after the cd
        QVERIFY(!entries.contains(QStringLiteral("www")));
        QCOMPARE(server.logins(), 1);
    }

    // The script file is shared by every listing: a second run asked for while one is under way (from an event
    // served during it) is refused, and the end of the first is announced.
    void oneScriptRunAtATime()
    {
        FtpServerFixture server;
        QVERIFY(server.start());
        QVERIFY(writeAll(server.root() + QStringLiteral("/www/index.html"), "<html></html>\n"));
        const QStringList script{QStringLiteral("open ") + server.host(), FtpServerFixture::user(),
                                 FtpServerFixture::password(), QStringLiteral("cd www"), QStringLiteral("ls -al")};

        QSignalSpy released(ftpScriptEvents(), &FtpScriptEvents::released);
        bool secondAccepted = true;
        bool runningDuringFirst = false;
        QString secondOutput = QStringLiteral("untouched");
        QTimer::singleShot(0, [&] {
            runningDuringFirst = ftpScriptRunning();
            secondAccepted = runFtpScriptFile({QStringLiteral("open 127.0.0.1:1"), QStringLiteral("x"),
                                               QStringLiteral("y"), QStringLiteral("ls -al")},
                                              secondOutput);
        });
        QString output;
        QVERIFY(runFtpScriptFile(script, output));
        QVERIFY(runningDuringFirst);
        QVERIFY(!secondAccepted);
        QVERIFY(secondOutput.isEmpty());
        QVERIFY2(output.contains(QStringLiteral("index.html")), qPrintable(output));
        QCOMPARE(released.count(), 1);
        QVERIFY(!ftpScriptRunning());
        QVERIFY(!QFile::exists(ftpScriptPath()));
        QCOMPARE(server.logins(), 1);
    }
};

QTEST_GUILESS_MAIN(TestFtpRunner)
#include "tst_ftprunner.moc"
