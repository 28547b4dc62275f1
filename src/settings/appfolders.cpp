#include "settings/appfolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// The program's folder below the user's XDG configuration or cache folder; created for its owner only, as the
// settings and the script hold passwords and the copies hold the user's files.
QString privateFolder(QStandardPaths::StandardLocation location)
{
    const QString path = QStandardPaths::writableLocation(location) + QStringLiteral("/pelno");
    if (!QFileInfo(path).isDir() && QDir().mkpath(path))
        QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return path;
}

} // namespace

bool isWritableFolder(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info
    {
    };
    if (::stat(name.constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    // also catches a read-only file system, which stops the superuser too
    if (::access(name.constData(), W_OK | X_OK) != 0)
        return false;
    if (::geteuid() == 0 && (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return false;
    return true;
}

QString AppFolders::clientFolder(const QString& executableFolder)
{
    return QDir::cleanPath(executableFolder + QStringLiteral("/../libexec/pelno"));
}

AppFolders AppFolders::forExecutableFolder(const QString& executableFolder)
{
    const bool installed = QFileInfo(clientFolder(executableFolder) + QStringLiteral("/ftp")).isFile();
    if (!installed && isWritableFolder(executableFolder))
        return {executableFolder, executableFolder + QStringLiteral("/data")};
    return {privateFolder(QStandardPaths::GenericConfigLocation),
            privateFolder(QStandardPaths::GenericCacheLocation) + QStringLiteral("/data")};
}

AppFolders AppFolders::current()
{
    return forExecutableFolder(QCoreApplication::applicationDirPath());
}
