// The SFTP side of InternetHandle: the same operations as FTP, over libcurl's SFTP (libssh2). See ftpconnection.h
// for what callers may rely on.

#include "ftp/internethandle.h"

#include "ftp/uploadreader.h"

#include <QThread>

#include <utility>

#include <curl/curl.h>

namespace {

// libssh2 pipelines its writes only within the buffer that libcurl hands it: with the default 64 KiB one
// connection moves a few MB/s at 20 ms round trips, with 1 MiB several times that.
constexpr long kSftpUploadBufferBytes = 1024 * 1024;
// The probe that names why a key exchange failed waits no longer than this.
constexpr int kProbeTimeoutMs = 5000;

long secondsRoundedUp(DWORD ms)
{
    return long(qMax<DWORD>(1, (ms + 999) / 1000));
}

int hostKeyCallback(void* userp, int, const char* key, size_t length)
{
    const bool trusted = static_cast<InternetHandle*>(userp)->onHostKey(QByteArray(key, qsizetype(length)));
    return trusted ? CURLKHMATCH_OK : CURLKHMATCH_MISMATCH;
}

int progressCallback(void* userp, curl_off_t downloaded, curl_off_t, curl_off_t, curl_off_t uploaded)
{
    return static_cast<InternetHandle*>(userp)->onProgress(qint64(downloaded) + qint64(uploaded)) ? 0 : 1;
}

struct SftpListingWriter
{
    std::function<void(const QByteArray&)> sink;
    qint64 bytes = 0;
};

size_t listingWriteCallback(char* data, size_t size, size_t items, void* userp)
{
    auto* writer = static_cast<SftpListingWriter*>(userp);
    const size_t n = size * items;
    writer->bytes += qint64(n);
    if (writer->sink)
        writer->sink(QByteArray(data, qsizetype(n)));
    return n;
}

// A path of the tree ("/" the login directory) as an absolute SFTP path of libcurl's: "/~" is the login directory.
QByteArray loginRelative(const QByteArray& path)
{
    return path.startsWith('/') ? "/~" + path : "/~/" + path;
}

// A path as a quote command's argument: relative, which the server takes from the directory the session started
// in, the login directory (libcurl expands "/~/" only in a path without quotes); in double quotes, with the quote
// and the backslash escaped.
QByteArray quotedPath(const QByteArray& path)
{
    QByteArray quoted = path;
    while (quoted.startsWith('/'))
        quoted.remove(0, 1);
    if (quoted.isEmpty())
        quoted = ".";
    quoted.replace("\\", "\\\\").replace("\"", "\\\"");
    return '"' + quoted + '"';
}

QByteArray joined(const QByteArray& directory, const QByteArray& name)
{
    if (name.startsWith('/'))
        return name;
    return directory.endsWith('/') ? directory + name : directory + "/" + name;
}

bool answeredRefusal(int rc)
{
    switch (rc) {
    case CURLE_QUOTE_ERROR:
    case CURLE_REMOTE_FILE_NOT_FOUND:
    case CURLE_REMOTE_ACCESS_DENIED:
    case CURLE_REMOTE_DISK_FULL:
    case CURLE_REMOTE_FILE_EXISTS:
    case CURLE_UPLOAD_FAILED:
    case CURLE_SSH:
        return true;
    default:
        return false;
    }
}

} // namespace

bool InternetHandle::onHostKey(const QByteArray& keyBlob)
{
    offeredHostKey = describeSshHostKey(keyBlob);
    return isHostKeyText(settings.hostKey) && offeredHostKey.fingerprint == settings.hostKey;
}

void InternetHandle::prepareSftp(const QByteArray& path, bool directory)
{
    curl_easy_reset(curl);
    QByteArray urlPath = loginRelative(path).toPercentEncoding("/~");
    if (directory && !urlPath.endsWith('/'))
        urlPath += '/';
    const QByteArray url = baseUrl + urlPath;
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "sftp");
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(options.connectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     secondsRoundedUp(qMax(options.sendTimeoutMs, options.receiveTimeoutMs)));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progressCallback);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    errorText.fill('\0', CURL_ERROR_SIZE + 1);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText.data());
    // The host key is checked by us against the profile's, never against ~/.ssh/known_hosts: libssh2 1.10 misreads
    // its hashed and its RSA entries.
    curl_easy_setopt(curl, CURLOPT_SSH_HOSTKEYFUNCTION, hostKeyCallback);
    curl_easy_setopt(curl, CURLOPT_SSH_HOSTKEYDATA, this);
    long auth = CURLSSH_AUTH_PASSWORD;
    if (!settings.keyFile.isEmpty()) {
        auth |= CURLSSH_AUTH_PUBLICKEY;
        curl_easy_setopt(curl, CURLOPT_SSH_PRIVATE_KEYFILE, settings.keyFile.toLocal8Bit().constData());
        // An empty public key file lets libssh2 derive the public key from the private one.
        curl_easy_setopt(curl, CURLOPT_SSH_PUBLIC_KEYFILE, "");
        if (!settings.keyPassphrase.isEmpty())
            curl_easy_setopt(curl, CURLOPT_KEYPASSWD, settings.keyPassphrase.toUtf8().constData());
    } else if (!qEnvironmentVariableIsEmpty("SSH_AUTH_SOCK")) {
        auth |= CURLSSH_AUTH_AGENT;
    }
    curl_easy_setopt(curl, CURLOPT_SSH_AUTH_TYPES, auth);
    curl_easy_setopt(curl, CURLOPT_NEW_FILE_PERMS, 0644L);
    curl_easy_setopt(curl, CURLOPT_NEW_DIRECTORY_PERMS, 0755L);
}

int InternetHandle::performSftp(bool watchData)
{
    lastReplyCode = 0;
    refusal.clear();
    watching.clear();
    awaitingWatchedReply = false;
    watchedReplyCode = 0;
    stalled = false;
    countedBytes = 0;
    // SFTP has no data connection of its own: the whole transfer is watched for moving bytes.
    dataPhase = watchData;
    progressBytes = -1;
    progressClock.restart();
    const int rc = perform();
    dataPhase = false;
    if (rc == CURLE_OK)
        lastError.clear();
    else
        sftpFailure(rc);
    return rc;
}

void InternetHandle::sftpFailure(int rc)
{
    noteFailure(rc);
    const QByteArray detail = QByteArray(errorText.constData());
    if (!stalled && !detail.isEmpty() && rc != CURLE_COULDNT_CONNECT)
        lastError = QString::fromUtf8(detail);
}

void InternetHandle::sftpReply(int code, const QByteArray& text)
{
    const QByteArray line = QByteArray::number(code) + ' ' + text;
    lastReplyCode = code;
    lastReplyText = line + '\n';
    if (code >= 400)
        refusal = line;
    if (transcript)
        transcript(FtpTranscriptKind::Reply, line);
}

// Whether the server still answers on the connection that the last operation used. A refused operation and a
// connection that broke both end in a libcurl error; only a connection that still works afterwards (libcurl made
// no new one) shows that the refusal was the server's answer.
bool InternetHandle::sftpServerAnswers()
{
    const QString error = lastError;
    prepareSftp("/", true);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    const int rc = performSftp(false);
    long connects = 0;
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
    lastError = error;
    return rc == CURLE_OK && connects == 0;
}

bool InternetHandle::sftpConnect()
{
    hostKeyProblem = {};
    sshProblem = SshLoginProblem::None;
    sftpDirectory = "/";
    loginDirectory = QStringLiteral("/");
    int rc = CURLE_OK;
    for (DWORD attempt = 0;; ++attempt) {
        offeredHostKey = {};
        prepareSftp("/", true);
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        rc = performSftp(false);
        if (rc != CURLE_COULDNT_CONNECT || attempt >= options.retries)
            break;
        QThread::msleep(options.backoffMs);
    }
    const bool keyAccepted = !offeredHostKey.isNull() && rc != CURLE_PEER_FAILED_VERIFICATION;
    if (keyAccepted) {
        sftpReply(220, "SSH " + offeredHostKey.text().toUtf8());
        if (transcript)
            transcript(FtpTranscriptKind::Command, "USER " + user);
        sftpReply(331, settings.keyFile.isEmpty() ? "Password required." : "Key or password required.");
        if (transcript)
            transcript(FtpTranscriptKind::Command, "PASS ****");
    }
    if (rc == CURLE_OK) {
        sftpReply(230, "Logged in.");
        return true;
    }
    const QString error = lastError;
    if (rc == CURLE_PEER_FAILED_VERIFICATION && !offeredHostKey.isNull()) {
        hostKeyProblem = offeredHostKey;
        hostKeyProblem.trusted = isHostKeyText(settings.hostKey) ? settings.hostKey : QString();
        lastError = hostKeyProblem.changed()
                        ? QStringLiteral("the server's host key %1 is not the trusted key %2")
                              .arg(hostKeyProblem.fingerprint, hostKeyProblem.trusted)
                        : QStringLiteral("the server's host key %1 is not trusted yet").arg(hostKeyProblem.fingerprint);
        connectFailure = FtpConnectFailure::Rejected;
    } else if (rc == CURLE_LOGIN_DENIED) {
        sftpReply(530, "Login incorrect.");
        connectFailure = FtpConnectFailure::Rejected;
        if (!settings.keyFile.isEmpty() && sshPrivateKeyType(settings.keyFile) == QLatin1String("ssh-rsa")) {
            sshProblem = SshLoginProblem::RsaUserKey;
            lastError = QStringLiteral("the key file holds an RSA key: libssh2 %1 cannot sign with RSA keys for "
                                       "current OpenSSH servers (no rsa-sha2); use an ed25519 key")
                            .arg(QString::fromLatin1(curl_version_info(CURLVERSION_NOW)->libssh_version));
        }
    } else if (rc == CURLE_COULDNT_CONNECT || rc == CURLE_COULDNT_RESOLVE_HOST || rc == CURLE_OPERATION_TIMEDOUT) {
        connectFailure = FtpConnectFailure::Unreachable;
    } else if (keyAccepted) {
        // logged in, but the server would not open the file transfer session (sshd's MaxSessions)
        sftpReply(421, "The server refused the session.");
        connectFailure = FtpConnectFailure::Busy;
    } else {
        // No host key came: the server ended the connection before the key exchange (sshd's MaxStartups), or the
        // key exchange failed. The server's own offer tells which.
        const std::optional<QStringList> offer =
            sshHostKeyAlgorithms(host, quint16(QByteArray(baseUrl.mid(baseUrl.lastIndexOf(':') + 1)).toUInt()),
                                 qMin<int>(kProbeTimeoutMs, int(options.connectTimeoutMs)));
        if (offer && !sshHostKeyUsable(*offer)) {
            sshProblem = SshLoginProblem::RsaHostKeyOnly;
            lastError = QStringLiteral("the server offers only host keys that libssh2 %1 cannot check (%2); it "
                                       "needs an ed25519 or ECDSA host key")
                            .arg(QString::fromLatin1(curl_version_info(CURLVERSION_NOW)->libssh_version),
                                 offer->join(QLatin1Char(',')));
            connectFailure = FtpConnectFailure::Rejected;
        } else {
            connectFailure = FtpConnectFailure::Busy;
        }
    }
    if (lastError.isEmpty())
        lastError = error;
    release();
    return false;
}

bool InternetHandle::sftpPutFile(QFile& file, const QByteArray& remoteFile, bool ascii)
{
    UploadReader reader;
    reader.file = &file;
    reader.ascii = ascii;
    const QByteArray path = joined(sftpDirectory, remoteFile);
    if (transcript)
        transcript(FtpTranscriptKind::Command, "STOR " + remoteFile);
    prepareSftp(path, false);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, uploadReadCallback);
    curl_easy_setopt(curl, CURLOPT_READDATA, &reader);
    curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kSftpUploadBufferBytes);
    curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(ascii ? -1 : file.size()));
    const int rc = performSftp(true);
    if (reader.failed)
        lastError = file.errorString();
    if (rc == CURLE_OK && !reader.failed) {
        sftpReply(226, "Transfer complete.");
        watchedReplyCode = 226;
        return true;
    }
    if (!reader.failed && answeredRefusal(rc) && sftpServerAnswers()) {
        sftpReply(553, "Could not create file.");
        watchedReplyCode = 553;
    }
    return false;
}

bool InternetHandle::sftpQuote(const QByteArray& operation, const QByteArray& path, const QByteArray& target)
{
    prepareSftp("/", true);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    QByteArray line = operation + ' ' + quotedPath(path);
    if (!target.isEmpty())
        line += ' ' + quotedPath(target);
    curl_slist* quote = curl_slist_append(nullptr, line.constData());
    curl_easy_setopt(curl, CURLOPT_QUOTE, quote);
    const int rc = performSftp(false);
    curl_slist_free_all(quote);
    return rc == CURLE_OK;
}

// A rename replaces an existing target, as FTP servers' RNTO does. OpenSSH refuses to rename onto an existing name
// (libssh2 does not use its posix-rename extension), so the target is removed first, in the same operation as the
// rename; and only once a stat has shown that the source is there, so a missing source never costs the target.
bool InternetHandle::sftpRename(const QByteArray& from, const QByteArray& to)
{
    prepareSftp(from, false);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    if (performSftp(false) != CURLE_OK)
        return false;
    prepareSftp("/", true);
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    // "*": a target that is not there is no failure
    curl_slist* quote = curl_slist_append(nullptr, QByteArray("*rm " + quotedPath(to)).constData());
    quote = curl_slist_append(quote, QByteArray("rename " + quotedPath(from) + ' ' + quotedPath(to)).constData());
    curl_easy_setopt(curl, CURLOPT_QUOTE, quote);
    const int rc = performSftp(false);
    curl_slist_free_all(quote);
    return rc == CURLE_OK;
}

// A directory exists when it can be opened and read. The names are read to the end and dropped: a transfer
// stopped early makes libcurl close the connection, and the next operation would log in again.
bool InternetHandle::sftpDirectoryExists(const QByteArray& path)
{
    SftpListingWriter writer;
    prepareSftp(path, true);
    curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, listingWriteCallback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &writer);
    return performSftp(false) == CURLE_OK;
}

int InternetHandle::sftpCommand(const QByteArray& command)
{
    const qsizetype blank = command.indexOf(' ');
    const QByteArray verb = (blank < 0 ? command : command.left(blank)).toUpper();
    const QByteArray argument = blank < 0 ? QByteArray() : command.mid(blank + 1);
    if (transcript)
        transcript(FtpTranscriptKind::Command, command);
    watchedReplyCode = 0;
    const auto answer = [this](int code, const QByteArray& text) {
        sftpReply(code, text);
        watchedReplyCode = code;
        return code;
    };
    if (verb == "PWD")
        return answer(257, '"' + sftpDirectory + "\" is the current directory.");
    if (verb == "NOOP") {
        prepareSftp("/", true);
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        return performSftp(false) == CURLE_OK ? answer(200, "OK.") : 0;
    }
    const QByteArray path = joined(sftpDirectory, argument);
    bool done = false;
    int success = 250;
    if (argument.isEmpty()) {
        return answer(501, "A path is required.");
    } else if (verb == "CWD") {
        done = sftpDirectoryExists(path);
        if (done)
            sftpDirectory = path;
    } else if (verb == "MKD") {
        done = sftpQuote("mkdir", path);
        success = 257;
    } else if (verb == "DELE") {
        done = sftpQuote("rm", path);
    } else if (verb == "RMD") {
        done = sftpQuote("rmdir", path);
    } else if (verb == "RNFR") {
        // Nothing is sent yet: the rename goes out with RNTO, as one operation.
        sftpRenameFrom = path;
        return answer(350, "Ready for the new name.");
    } else if (verb == "RNTO") {
        if (sftpRenameFrom.isEmpty())
            return answer(503, "RNFR first.");
        done = sftpRename(std::exchange(sftpRenameFrom, QByteArray()), path);
    } else {
        return answer(502, verb + " is not available over SFTP.");
    }
    if (done)
        return answer(success, success == 257 ? '"' + path + "\" created." : QByteArray("OK."));
    // A refusal and a broken connection end alike in libcurl; only a server that still answers refused.
    if (!sftpServerAnswers())
        return 0;
    return answer(550, path + ": " + lastError.toUtf8());
}

int InternetHandle::sftpListing(const QByteArray& command, const std::function<void(const QByteArray&)>& sink,
                                qint64* bytes, const QByteArray& directory)
{
    const qsizetype blank = command.indexOf(' ');
    const QByteArray verb = (blank < 0 ? command : command.left(blank)).toUpper();
    QByteArray target = directory.isEmpty() ? sftpDirectory : joined(sftpDirectory, directory);
    // Options such as "-al" mean nothing here: the server's long names are what "ls -l" shows.
    for (const QByteArray& word : command.mid(blank < 0 ? command.size() : blank + 1).split(' ')) {
        if (!word.isEmpty() && !word.startsWith('-'))
            target = joined(target, word);
    }
    bool opened = false;
    const auto open = [&] {
        if (opened)
            return;
        opened = true;
        if (!directory.isEmpty())
            sftpReply(250, "Directory changed.");
        if (transcript)
            transcript(FtpTranscriptKind::Command, command);
        sftpReply(150, "Here comes the directory listing.");
    };
    if (!directory.isEmpty() && transcript)
        transcript(FtpTranscriptKind::Command, "CWD " + directory);
    SftpListingWriter writer;
    writer.sink = [&](const QByteArray& data) {
        open();
        if (sink)
            sink(data);
    };
    prepareSftp(target, true);
    if (verb == "NLST")
        curl_easy_setopt(curl, CURLOPT_DIRLISTONLY, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, listingWriteCallback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &writer);
    const int rc = performSftp(true);
    if (bytes)
        *bytes = writer.bytes;
    if (rc == CURLE_OK) {
        open();
        sftpReply(226, "Transfer complete.");
        watchedReplyCode = 226;
        if (!directory.isEmpty())
            sftpDirectory = joined(sftpDirectory, directory);
        return 226;
    }
    if (writer.bytes == 0 && answeredRefusal(rc) && sftpServerAnswers()) {
        sftpReply(550, target + ": " + lastError.toUtf8());
        return 550;
    }
    return 0;
}
