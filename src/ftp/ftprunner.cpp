#include "ftp/ftprunner.h"

#include "ftp/transcript.h"
#include "settings/appfolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString resolveProgram(const QString& program)
{
    if (program.contains(QLatin1Char('/'))) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    // Our own client wins over any system program of the same name: beside the executable in a build folder or a
    // portable copy, in the private libexec folder of an installed program.
    const QString exeDir = QCoreApplication::applicationDirPath();
    const QString own = QStandardPaths::findExecutable(program, {exeDir, AppFolders::clientFolder(exeDir)});
    if (!own.isEmpty())
        return own;
    return QStandardPaths::findExecutable(program);
}

// Every byte is kept, NULs included: dropping what follows a NUL could drop a refusal that the reader of the
// transcript must see.
void drainChunks(QProcess& process, QProcess::ProcessChannel channel, QByteArray& target)
{
    process.setReadChannel(channel);
    target += process.readAll();
}

bool writeAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

bool RunFtpScript(const QString& commandLine, const QString& input, QString& output, QString& errors,
                  const QString& keyPassphrase)
{
    output.clear();
    errors.clear();

    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return false;
    const QString program = resolveProgram(arguments.takeFirst());
    if (program.isEmpty())
        return false;

    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QString::fromLatin1(keyPassphraseVariable));
    if (!keyPassphrase.isEmpty())
        environment.insert(QString::fromLatin1(keyPassphraseVariable), keyPassphrase);
    process.setProcessEnvironment(environment);

    QByteArray out;
    QByteArray err;
    QObject::connect(&process, &QProcess::readyReadStandardOutput,
                     [&] { drainChunks(process, QProcess::StandardOutput, out); });
    QObject::connect(&process, &QProcess::readyReadStandardError,
                     [&] { drainChunks(process, QProcess::StandardError, err); });

    process.start(QIODevice::ReadWrite);
    if (!process.waitForStarted(-1))
        return false;

    // One write, as the client expects its whole input at once; stdin is not closed here, the client ends by
    // itself after the end-of-input byte.
    QByteArray bytes = input.toUtf8();
    bytes.append(Transcript::kEndOfInput);
    process.write(bytes);

    // A local loop keeps user input, timers, queued calls and the blocking calls of workers served while the
    // client runs. finished() also arrives when the client crashes, so the loop always ends.
    if (process.state() != QProcess::NotRunning) {
        QEventLoop loop;
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        if (process.state() != QProcess::NotRunning)
            loop.exec();
    }

    drainChunks(process, QProcess::StandardOutput, out);
    drainChunks(process, QProcess::StandardError, err);
    output = QString::fromUtf8(out);
    errors = QString::fromUtf8(err);
    return true;
}

QString ftpScriptPath()
{
    return AppFolders::current().configDirectory + QStringLiteral("/ftpcmd.txt");
}

QString ftpCommandLine()
{
    return QStringLiteral("ftp -s:\"%1\"").arg(ftpScriptPath());
}

QString ftpCommandLine(const FtpConnectionSettings& settings)
{
    return QStringLiteral("ftp %1 -s:\"%2\"").arg(clientArguments(settings).join(QLatin1Char(' ')), ftpScriptPath());
}

bool writeFtpScript(const QStringList& lines)
{
    // The earlier script goes in any case, so a refused script never leaves an older one to be run instead.
    const QByteArray path = QFile::encodeName(ftpScriptPath());
    if (::unlink(path.constData()) != 0 && errno != ENOENT)
        return false;

    // A line break inside a value (a server name, a user ID, a password) would smuggle extra commands into the
    // script, so such a script is refused rather than written.
    QByteArray content;
    for (const QString& line : lines) {
        if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n')))
            return false;
        content += line.toUtf8();
        content += "\r\n";
    }

    // The script holds the password: it is created afresh with owner-only access before a byte is written, so
    // an earlier file with wider rights (or a link planted in its place) is never written through.
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, content);
    if (::close(fd) != 0)
        ok = false;
    if (!ok)
        ::unlink(path.constData());
    return ok;
}

void removeFtpScript()
{
    QFile::remove(ftpScriptPath());
}

namespace {
bool g_scriptRunning = false;
} // namespace

FtpScriptEvents* ftpScriptEvents()
{
    static FtpScriptEvents events;
    return &events;
}

bool ftpScriptRunning()
{
    return g_scriptRunning;
}

bool runFtpScriptFile(const QStringList& lines, QString& output, const FtpConnectionSettings& settings)
{
    output.clear();
    if (g_scriptRunning)
        return false;
    g_scriptRunning = true;
    const auto end = qScopeGuard([] {
        // The script holds the password: it goes as soon as the client is done.
        removeFtpScript();
        g_scriptRunning = false;
        emit ftpScriptEvents()->released();
    });
    if (!writeFtpScript(lines))
        return false;
    QString errors;
    RunFtpScript(ftpCommandLine(settings), QString(), output, errors, settings.keyPassphrase);
    return true;
}
