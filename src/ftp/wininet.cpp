#include "ftp/wininet.h"

#include "ftp/ftpconnection.h"
#include "ftp/internethandle.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>

namespace {

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

InternetHandle* connectionOf(HINTERNET handle)
{
    return handle && handle->kind == InternetHandle::Kind::Connection && handle->curl ? handle : nullptr;
}

bool isTwoHundred(int code)
{
    return code >= 200 && code < 300;
}

bool runCommand(HINTERNET connection, const char* verb, const char* path)
{
    InternetHandle* handle = connectionOf(connection);
    if (!handle)
        return false;
    handle->watchedReplyCode = 0; // a command refused before it was sent has no reply either
    if (!path || !*path)
        return false;
    return isTwoHundred(handle->sendCommand(QByteArray(verb) + ' ' + QByteArray(path)));
}

} // namespace

HINTERNET InternetOpenA(const char*, DWORD accessType, const char*, const char*, DWORD)
{
    // Both access types connect directly: there is no proxy configuration for FTP to take over.
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG && accessType != INTERNET_OPEN_TYPE_DIRECT)
        return nullptr;
    initialiseCurlOnce();
    auto* root = new InternetHandle(InternetHandle::Kind::Root);
    root->accessType = accessType;
    return root;
}

bool InternetSetOptionA(HINTERNET handle, DWORD option, const void* buffer, DWORD bufferLength)
{
    if (!handle || !buffer || bufferLength != sizeof(DWORD))
        return false;
    DWORD value = 0;
    std::memcpy(&value, buffer, sizeof value);
    return handle->setOption(option, value);
}

HINTERNET InternetConnectA(HINTERNET root, const char* serverName, INTERNET_PORT port, const char* userName,
                           const char* password, DWORD service, DWORD flags, DWORD_PTR)
{
    if (!root || root->kind != InternetHandle::Kind::Root)
        return nullptr;
    if (service != INTERNET_SERVICE_FTP || !serverName) {
        root->lastError = QStringLiteral("invalid arguments");
        root->connectFailure = FtpConnectFailure::Rejected;
        return nullptr;
    }
    QString host;
    quint16 actualPort = 0;
    if (!parseFtpServer(QString::fromUtf8(serverName), port ? port : defaultPort(root->settings.protocol), host,
                        actualPort)) {
        root->lastError = QStringLiteral("invalid server name");
        root->connectFailure = FtpConnectFailure::Rejected;
        return nullptr;
    }
    const QByteArray user = userName ? QByteArray(userName) : QByteArray("anonymous");
    const QByteArray pass = password ? QByteArray(password) : QByteArray();
    if (user.contains('\r') || user.contains('\n') || pass.contains('\r') || pass.contains('\n')) {
        root->lastError = QStringLiteral("invalid user name or password");
        root->connectFailure = FtpConnectFailure::Rejected;
        return nullptr;
    }
    initialiseCurlOnce();
    auto* connection = new InternetHandle(InternetHandle::Kind::Connection);
    connection->accessType = root->accessType;
    connection->options = root->options;
    connection->transcript = root->transcript;
    connection->byteCounter = root->byteCounter;
    connection->settings = root->settings;
    if (!connection->connect(host, actualPort, user, pass, (flags & INTERNET_FLAG_PASSIVE) != 0)) {
        root->lastError = connection->lastError;
        root->certificateProblem = connection->certificateProblem;
        root->tlsRefused = connection->tlsRefused;
        root->activeTlsUnavailable = connection->activeTlsUnavailable;
        root->connectFailure = connection->connectFailure;
        root->hostKeyProblem = connection->hostKeyProblem;
        root->sshProblem = connection->sshProblem;
        delete connection;
        return nullptr;
    }
    root->lastError.clear();
    root->certificateProblem = {};
    root->tlsRefused = false;
    root->activeTlsUnavailable = false;
    root->connectFailure = FtpConnectFailure::None;
    root->hostKeyProblem = {};
    root->sshProblem = SshLoginProblem::None;
    return connection;
}

bool FtpPutFileA(HINTERNET connection, const char* localFile, const char* remoteFile, DWORD flags, DWORD_PTR)
{
    InternetHandle* handle = connectionOf(connection);
    if (!handle)
        return false;
    handle->watchedReplyCode = 0;
    if (!localFile || !remoteFile)
        return false;
    const DWORD type = flags & 3;
    if (type != FTP_TRANSFER_TYPE_ASCII && type != FTP_TRANSFER_TYPE_BINARY)
        return false;
    return handle->putFile(QString::fromUtf8(localFile), QByteArray(remoteFile), type == FTP_TRANSFER_TYPE_ASCII);
}

bool FtpCreateDirectoryA(HINTERNET connection, const char* directory)
{
    return runCommand(connection, "MKD", directory);
}

bool FtpDeleteFileA(HINTERNET connection, const char* fileName)
{
    return runCommand(connection, "DELE", fileName);
}

bool FtpRemoveDirectoryA(HINTERNET connection, const char* directory)
{
    return runCommand(connection, "RMD", directory);
}

bool FtpRenameFileA(HINTERNET connection, const char* existingName, const char* newName)
{
    InternetHandle* handle = connectionOf(connection);
    if (!handle)
        return false;
    handle->watchedReplyCode = 0;
    if (!existingName || !*existingName || !newName || !*newName)
        return false;
    return isTwoHundred(handle->renameFile(QByteArray(existingName), QByteArray(newName)));
}

int ftpLastReplyCode(HINTERNET connection)
{
    InternetHandle* handle = connectionOf(connection);
    return handle ? handle->watchedReplyCode : 0;
}

FtpConnectFailure ftpLastConnectFailure(HINTERNET root)
{
    return root && root->kind == InternetHandle::Kind::Root ? root->connectFailure : FtpConnectFailure::None;
}

bool InternetCloseHandle(HINTERNET handle)
{
    if (!handle)
        return false;
    delete handle; // a connection says QUIT on its way out
    return true;
}
