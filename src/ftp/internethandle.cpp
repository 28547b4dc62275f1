#include "ftp/internethandle.h"

#include "ftp/addressrule.h"
#include "ftp/tlsconnectionsetup.h"
#include "ftp/uploadreader.h"

#include <QFile>
#include <QHostAddress>
#include <QThread>

#include <curl/curl.h>

#include <cstring>
#include <utility>

#include <sys/select.h>

namespace {

constexpr long kUploadBufferBytes = 512 * 1024;

long secondsRoundedUp(DWORD ms)
{
    return long(qMax<DWORD>(1, (ms + 999) / 1000));
}

bool isSafeCommandText(const QByteArray& text)
{
    return !text.isEmpty() && !text.contains('\r') && !text.contains('\n') && !text.contains('\0');
}

// The URL path of a remote path used exactly as given: a leading "/" is encoded, so that the server sees an
// absolute path and not one relative to the login directory; everything but "/" and the unreserved characters
// is percent-encoded (blanks, "#", "%", "?", non-ASCII bytes).
QByteArray urlPathOf(const QByteArray& remote)
{
    if (remote.startsWith('/'))
        return "%2F" + remote.mid(1).toPercentEncoding("/");
    return remote.toPercentEncoding("/");
}

struct ListingWriter
{
    const std::function<void(const QByteArray&)>* sink = nullptr;
    qint64 bytes = 0;
};

size_t writeCallback(char* data, size_t size, size_t items, void* userp)
{
    auto* writer = static_cast<ListingWriter*>(userp);
    const size_t n = size * items;
    writer->bytes += qint64(n);
    if (*writer->sink)
        (*writer->sink)(QByteArray(data, qsizetype(n)));
    return n;
}

int progressCallback(void* userp, curl_off_t downloaded, curl_off_t, curl_off_t, curl_off_t uploaded)
{
    return static_cast<InternetHandle*>(userp)->onProgress(qint64(downloaded) + qint64(uploaded)) ? 0 : 1;
}

CURLcode sslContextCallback(CURL* curl, void* sslContext, void* watch)
{
    return CURLcode(tlsConnectionHook(curl, sslContext, watch));
}

QHostAddress addressInfo(CURL* curl, CURLINFO info)
{
    const char* text = nullptr;
    if (curl_easy_getinfo(curl, info, &text) != CURLE_OK || !text)
        return {};
    return QHostAddress(QString::fromLatin1(text));
}

int debugCallback(CURL*, curl_infotype type, char* data, size_t size, void* userp)
{
    static_cast<InternetHandle*>(userp)->onDebug(int(type), data, size);
    return 0;
}

// Only a line of three digits and a space ends a reply, as libcurl ends it; "ddd-text", a bare "ddd" and lines
// without a code continue it. A bare "250" before "550 No such directory" must not make a refusal read as success.
int finalReplyCode(const QByteArray& line)
{
    if (line.size() < 4 || line[3] != ' ')
        return 0;
    for (int i = 0; i < 3; ++i) {
        if (line[i] < '0' || line[i] > '9')
            return 0;
    }
    return line.left(3).toInt();
}

} // namespace

bool ftpActiveDataCanBeEncrypted()
{
    // libcurl 7.87.0 up to 8.0.0 leaves the TLS layer off the data connection that it accepts in active mode
    // (fixed upstream in 8.0.0); what it then sends under PROT P is clear text.
    const unsigned int version = curl_version_info(CURLVERSION_NOW)->version_num;
    return version < 0x075700 || version >= 0x080000;
}

InternetHandle::~InternetHandle()
{
    close();
}

bool InternetHandle::setOption(DWORD option, DWORD value)
{
    // Zero time-outs would mean "wait for ever" to some and "fail at once" to others; refuse them.
    switch (option) {
    case INTERNET_OPTION_CONNECT_RETRIES:
        options.retries = value;
        return true;
    case INTERNET_OPTION_CONNECT_BACKOFF:
        options.backoffMs = value;
        return true;
    case INTERNET_OPTION_CONNECT_TIMEOUT:
    case INTERNET_OPTION_SEND_TIMEOUT:
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
    case INTERNET_OPTION_DATA_SEND_TIMEOUT:
    case INTERNET_OPTION_DATA_RECEIVE_TIMEOUT:
        if (value == 0)
            return false;
        break;
    default:
        return false;
    }
    switch (option) {
    case INTERNET_OPTION_CONNECT_TIMEOUT:
        options.connectTimeoutMs = value;
        break;
    case INTERNET_OPTION_SEND_TIMEOUT:
        options.sendTimeoutMs = value;
        break;
    case INTERNET_OPTION_RECEIVE_TIMEOUT:
        options.receiveTimeoutMs = value;
        break;
    case INTERNET_OPTION_DATA_SEND_TIMEOUT:
        options.dataSendTimeoutMs = value;
        break;
    default:
        options.dataReceiveTimeoutMs = value;
        break;
    }
    return true;
}

void InternetHandle::prepare(const QByteArray& url)
{
    // Resetting the options keeps the connection: every operation starts from the same settings.
    curl_easy_reset(curl);
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(curl, CURLOPT_USERNAME, user.constData());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, password.constData());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROXY, ""); // a proxy would not give us a control connection of our own
    if (!passive)
        curl_easy_setopt(curl, CURLOPT_FTPPORT, "-");
    curl_easy_setopt(curl, CURLOPT_FTP_FILEMETHOD, long(CURLFTPMETHOD_NOCWD));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(options.connectTimeoutMs));
    const DWORD replyMs = qMax(options.sendTimeoutMs, options.receiveTimeoutMs);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, secondsRoundedUp(replyMs));
    curl_easy_setopt(curl, CURLOPT_ACCEPTTIMEOUT_MS, long(replyMs));
    // The data time-out is watched in the progress callback (libcurl calls it at least once a second): its own
    // low-speed limit averages over five seconds and so would notice a stall seconds late.
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, progressCallback);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl, CURLOPT_VERBOSE, 1L); // feeds the debug callback only, nothing is printed
    curl_easy_setopt(curl, CURLOPT_DEBUGFUNCTION, debugCallback);
    curl_easy_setopt(curl, CURLOPT_DEBUGDATA, this);
    prepareTls();
}

void InternetHandle::prepareTls()
{
    if (settings.tls == TlsMode::Off)
        return;
    // Clear text is allowed only while nothing says the server speaks TLS: not when TLS is required, not once a
    // login of this handle went over TLS, not with a pinned key (that server spoke TLS before). Otherwise a
    // refused AUTH TLS on a later login, which anyone on the way can fake, would send the password readable.
    const bool pinned = isPinnedKeyText(settings.pinnedKey);
    const bool mustEncrypt = settings.tls == TlsMode::Required || controlEncrypted || pinned;
    curl_easy_setopt(curl, CURLOPT_USE_SSL, long(mustEncrypt ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    curl_easy_setopt(curl, CURLOPT_FTPSSLAUTH, long(CURLFTPAUTH_TLS));
    // A pinned key replaces the authorities and the name: the user trusted exactly that key for this server.
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, pinned ? 0L : 1L);
    curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, pinned ? 0L : 2L);
    if (pinned)
        curl_easy_setopt(curl, CURLOPT_PINNEDPUBLICKEY, settings.pinnedKey.toLatin1().constData());
    // The authorities come from the process's one trust store, which the hook below gives every connection
    // (SSL_CERT_FILE and SSL_CERT_DIR included); libcurl would read the whole bundle again for each of them.
    curl_easy_setopt(curl, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, sslContextCallback);
    curl_easy_setopt(curl, CURLOPT_SSL_CTX_DATA, &certificateWatch);
}

bool InternetHandle::activeConnectionRefused(int rc) const
{
    if (settings.dataConnection != DataConnectionMode::Automatic || passive)
        return false;
    return rc == CURLE_FTP_PORT_FAILED || rc == CURLE_FTP_ACCEPT_FAILED || rc == CURLE_FTP_ACCEPT_TIMEOUT ||
           watchedReplyCode == 425;
}

int InternetHandle::performCounted(const QByteArray& watchedCommand)
{
    lastReplyCode = 0;
    refusal.clear();
    watching = watchedCommand;
    awaitingWatchedReply = false;
    watchedReplyCode = 0;
    dataPhase = false;
    stalled = false;
    countedBytes = 0; // libcurl counts every transfer from zero
    const CURLcode rc = CURLcode(perform());
    watching.clear();
    awaitingWatchedReply = false;
    dataPhase = false;
    if (rc == CURLE_OK)
        lastError.clear();
    else
        noteFailure(rc);
    return rc;
}

// libcurl 7.88 sometimes leaves a passive data connection's connect pending without a socket to wait on: its
// own curl_easy_perform then sleeps out a whole second in its poll before it tries again, once every few files.
// The operation runs in a multi handle of ours instead, which goes on at once when libcurl waits on nothing. The
// multi handle also holds the connection between operations.
int InternetHandle::perform()
{
    if (!multi)
        multi = curl_multi_init();
    if (!multi || curl_multi_add_handle(multi, curl) != CURLM_OK)
        return CURLE_OUT_OF_MEMORY;
    int running = 1;
    CURLMcode mc = CURLM_OK;
    while (mc == CURLM_OK) {
        mc = curl_multi_perform(multi, &running);
        if (mc != CURLM_OK || running == 0)
            break;
        fd_set readSet, writeSet, errorSet;
        FD_ZERO(&readSet);
        FD_ZERO(&writeSet);
        FD_ZERO(&errorSet);
        int highest = -1;
        mc = curl_multi_fdset(multi, &readSet, &writeSet, &errorSet, &highest);
        if (mc != CURLM_OK)
            break;
        // libcurl shortens the wait to its own next time-out; the second is only an upper bound. Nothing to wait
        // on (or a socket beyond what fd_set holds) gets a millisecond: enough not to spin, short enough not to
        // matter.
        mc = curl_multi_poll(multi, nullptr, 0, highest < 0 ? 1 : 1000, nullptr);
    }
    CURLcode rc = mc == CURLM_OK ? CURLE_OK : CURLE_OUT_OF_MEMORY;
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == curl)
            rc = message->data.result;
    }
    curl_multi_remove_handle(multi, curl);
    return rc;
}

void InternetHandle::noteFailure(int code)
{
    long osError = 0;
    if (code == CURLE_COULDNT_CONNECT && curl_easy_getinfo(curl, CURLINFO_OS_ERRNO, &osError) == CURLE_OK &&
        osError != 0) {
        lastError = QString::fromLocal8Bit(std::strerror(int(osError)));
        return;
    }
    if (stalled) {
        lastError = QStringLiteral("no data moved for %1 ms").arg(dataTimeoutMs());
        return;
    }
    // libcurl's error buffer is not used: it keeps the first message of an operation, which is often an
    // unrelated remark about an address. The server's refusal says more.
    lastError = QString::fromUtf8(curl_easy_strerror(CURLcode(code)));
    if (!refusal.isEmpty())
        lastError += QStringLiteral(": ") + QString::fromUtf8(refusal);
}

DWORD InternetHandle::dataTimeoutMs() const
{
    return qMax(options.dataSendTimeoutMs, options.dataReceiveTimeoutMs);
}

bool InternetHandle::onProgress(qint64 bytes)
{
    // Counted outside the data phase too: libcurl's last call for a transfer may come after the final reply.
    if (byteCounter && bytes > countedBytes) {
        byteCounter->fetch_add(bytes - countedBytes, std::memory_order_relaxed);
        countedBytes = bytes;
    }
    if (!dataPhase)
        return true;
    if (bytes != progressBytes) {
        progressBytes = bytes;
        progressClock.restart();
        return true;
    }
    if (progressClock.elapsed() < qint64(dataTimeoutMs()))
        return true;
    stalled = true;
    return false;
}

void InternetHandle::onDebug(int type, const char* data, size_t size)
{
    if (type != CURLINFO_HEADER_OUT && type != CURLINFO_HEADER_IN)
        return;
    const QList<QByteArray> lines = QByteArray(data, qsizetype(size)).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (i == lines.size() - 1 && line.isEmpty())
            break; // the text ended with its line end
        if (line.endsWith('\r'))
            line.chop(1);
        if (type == CURLINFO_HEADER_OUT) {
            if (line.startsWith("PASS "))
                line = "PASS ****";
            if (watching.isEmpty() == false && line == watching)
                awaitingWatchedReply = true;
            if (transcript)
                transcript(FtpTranscriptKind::Command, line);
            continue;
        }
        replyText += line + '\n';
        if (const int code = finalReplyCode(line)) {
            lastReplyCode = code;
            lastReplyText = std::exchange(replyText, {});
            if (code >= 400)
                refusal = line;
            if (awaitingWatchedReply && code < 200) {
                // the data connection is open: from now on the data time-out applies
                dataPhase = true;
                progressBytes = -1;
                progressClock.restart();
            } else if (awaitingWatchedReply) {
                watchedReplyCode = code;
                awaitingWatchedReply = false;
                dataPhase = false;
            }
        }
        if (transcript)
            transcript(FtpTranscriptKind::Reply, line);
    }
}

bool InternetHandle::connect(const QString& host, quint16 port, const QByteArray& userName,
                             const QByteArray& userPassword, bool passiveMode)
{
    curl = curl_easy_init();
    if (!curl) {
        lastError = QStringLiteral("out of memory");
        return false;
    }
    const QByteArray hostText = host.contains(QLatin1Char(':')) ? "[" + host.toUtf8() + "]" : host.toUtf8();
    baseUrl = (isSftp() ? "sftp://" : "ftp://") + hostText + ":" + QByteArray::number(port);
    user = userName;
    password = userPassword;
    this->host = host;
    passive = passiveMode || settings.dataConnection == DataConnectionMode::Passive;
    controlEncrypted = false;
    certificateProblem = {};
    tlsRefused = false;
    activeTlsUnavailable = false;
    connectFailure = FtpConnectFailure::None;
    if (isSftp())
        return sftpConnect();

    for (DWORD attempt = 0;; ++attempt) {
        prepare(baseUrl + "/");
        curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
        certificateWatch.reset();
        const int rc = performCounted({});
        if (rc == CURLE_OK)
            break;
        if (rc == CURLE_PEER_FAILED_VERIFICATION || rc == CURLE_SSL_PINNEDPUBKEYNOTMATCH)
            certificateProblem =
                certificateWatch.describe(host, rc == CURLE_SSL_PINNEDPUBKEYNOTMATCH, settings.pinnedKey);
        tlsRefused = rc == CURLE_USE_SSL_FAILED;
        if (rc != CURLE_COULDNT_CONNECT || attempt >= options.retries) {
            connectFailure = connectFailureOf(rc);
            release();
            return false;
        }
        QThread::msleep(options.backoffMs);
    }
    // The login succeeded, so a certificate seen on the way was accepted: the control connection is encrypted.
    controlEncrypted = settings.tls != TlsMode::Off && certificateWatch.sawHandshake();
    if (controlEncrypted && !passive && !ftpActiveDataCanBeEncrypted()) {
        // The data would go out readable while both ends believe it protected (PROT P); a server that insists on
        // TLS fails the transfer, a lenient one may even report an empty file as stored.
        if (settings.dataConnection == DataConnectionMode::Automatic) {
            passive = true;
        } else {
            activeTlsUnavailable = true;
            lastError = QStringLiteral("libcurl %1 cannot encrypt active data connections; use passive or "
                                       "automatic data connections with TLS")
                            .arg(QString::fromLatin1(curl_version_info(CURLVERSION_NOW)->version));
            connectFailure = FtpConnectFailure::Rejected;
            close();
            return false;
        }
    }
    if (settings.dataConnection == DataConnectionMode::Automatic && !passive)
        passive = passiveModeNeeded(addressInfo(curl, CURLINFO_LOCAL_IP), addressInfo(curl, CURLINFO_PRIMARY_IP),
                                    controlEncrypted);
    const char* entryPath = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_FTP_ENTRY_PATH, &entryPath) == CURLE_OK && entryPath)
        loginDirectory = QString::fromUtf8(entryPath);
    return true;
}

// A 421 is checked first: libcurl reports it as a time-out. Replies are what the debug callback saw of the
// greeting and the login.
FtpConnectFailure InternetHandle::connectFailureOf(int rc) const
{
    // Some servers say that they are full in a refusal of USER or PASS instead of a 421 greeting.
    if (lastReplyCode == 421 ||
        ((lastReplyCode == 530 || lastReplyCode == 550) && ftpReplySaysConnectionLimit(lastReplyText)))
        return FtpConnectFailure::Busy;
    if (lastReplyCode >= 400)
        return FtpConnectFailure::Rejected;
    switch (rc) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_OPERATION_TIMEDOUT:
        return FtpConnectFailure::Unreachable;
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_PARTIAL_FILE:
        // The connection was there and ended before the login completed; a reset reads the same.
        return FtpConnectFailure::Busy;
    default:
        return FtpConnectFailure::Rejected;
    }
}

bool InternetHandle::putFile(const QString& localFile, const QByteArray& remoteFile, bool ascii)
{
    if (!isSafeCommandText(remoteFile) || remoteFile.endsWith('/')) {
        lastError = QStringLiteral("invalid remote file name");
        return false;
    }
    QFile file(localFile);
    if (!file.open(QIODevice::ReadOnly)) {
        lastError = file.errorString();
        return false;
    }
    if (isSftp())
        return sftpPutFile(file, remoteFile, ascii);
    UploadReader reader;
    const auto attempt = [&] {
        reader = UploadReader();
        reader.file = &file;
        reader.ascii = ascii;
        file.seek(0);
        prepare(baseUrl + "/" + urlPathOf(remoteFile));
        curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(curl, CURLOPT_READFUNCTION, uploadReadCallback);
        curl_easy_setopt(curl, CURLOPT_READDATA, &reader);
        curl_easy_setopt(curl, CURLOPT_TRANSFERTEXT, ascii ? 1L : 0L);
        // libcurl's default of 64 KiB costs a read, a send and a poll for every 64 KiB; ten workers with a
        // larger buffer each still hold little memory.
        curl_easy_setopt(curl, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
        // A binary upload of a size known in advance lets libcurl notice a file that changed while it was sent.
        curl_easy_setopt(curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(ascii ? -1 : file.size()));
        // libcurl sends the path as it decoded it from the URL
        return performCounted("STOR " + remoteFile);
    };
    int rc = attempt();
    // In the automatic mode a refused active connection is tried once more passively, and stays passive.
    if (activeConnectionRefused(rc)) {
        passive = true;
        rc = attempt();
    }
    if (reader.failed)
        lastError = file.errorString();
    return rc == CURLE_OK && !reader.failed && (watchedReplyCode == 226 || watchedReplyCode == 250);
}

int InternetHandle::sendCommand(const QByteArray& command)
{
    if (!isSafeCommandText(command)) {
        lastError = QStringLiteral("invalid command text");
        return 0;
    }
    if (isSftp())
        return sftpCommand(command);
    prepare(baseUrl + "/");
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    // "*" lets the operation go on after a refusal: the reply code is the answer, not a libcurl error.
    curl_slist* quote = curl_slist_append(nullptr, QByteArray("*" + command).constData());
    curl_easy_setopt(curl, CURLOPT_QUOTE, quote);
    performCounted(command.startsWith("PASS ") ? QByteArray("PASS ****") : command);
    curl_slist_free_all(quote);
    return watchedReplyCode;
}

int InternetHandle::renameFile(const QByteArray& from, const QByteArray& to)
{
    const QByteArray rnfr = "RNFR " + from;
    const QByteArray rnto = "RNTO " + to;
    if (!isSafeCommandText(rnfr) || !isSafeCommandText(rnto)) {
        lastError = QStringLiteral("invalid command text");
        return 0;
    }
    if (isSftp()) {
        const int ready = sftpCommand(rnfr);
        return ready == 350 ? sftpCommand(rnto) : ready;
    }
    prepare(baseUrl + "/");
    curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
    // Both go out as one list: a server forgets an RNFR when any other command comes between. A refused RNFR ends
    // the list (no "*"), so RNTO never renames what another RNFR named.
    curl_slist* quote = curl_slist_append(nullptr, rnfr.constData());
    quote = curl_slist_append(quote, QByteArray("*" + rnto).constData());
    curl_easy_setopt(curl, CURLOPT_QUOTE, quote);
    const int rc = performCounted(rnto);
    curl_slist_free_all(quote);
    if (rc != 0 && watchedReplyCode == 0 && lastReplyCode >= 400)
        return watchedReplyCode = lastReplyCode; // the refusal of the RNFR
    return watchedReplyCode;
}

int InternetHandle::listing(const QByteArray& command, const std::function<void(const QByteArray&)>& sink,
                            qint64* bytes, const QByteArray& directory)
{
    if (bytes)
        *bytes = 0;
    if (!isSafeCommandText(command) || (!directory.isEmpty() && !isSafeCommandText(directory))) {
        lastError = QStringLiteral("invalid command text");
        return 0;
    }
    if (isSftp())
        return sftpListing(command, sink, bytes, directory);
    ListingWriter writer;
    writer.sink = &sink;
    // A refused CWD stops the listing: it would otherwise list whatever directory the server is in.
    curl_slist* quote = directory.isEmpty() ? nullptr : curl_slist_append(nullptr, QByteArray("CWD " + directory));
    const auto attempt = [&] {
        prepare(baseUrl + "/");
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, command.constData());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeCallback);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &writer);
        curl_easy_setopt(curl, CURLOPT_QUOTE, quote);
        return performCounted(command);
    };
    int rc = attempt();
    // Nothing was listed when the active connection was refused, so the passive repeat cannot list twice.
    if (activeConnectionRefused(rc) && writer.bytes == 0) {
        passive = true;
        rc = attempt();
    }
    curl_slist_free_all(quote);
    if (bytes)
        *bytes = writer.bytes;
    if (rc == CURLE_QUOTE_ERROR && watchedReplyCode == 0)
        return lastReplyCode; // the refusal of the CWD
    return watchedReplyCode;
}

void InternetHandle::close()
{
    if (!curl)
        return;
    // Freeing the multi handle closes the connection it holds with QUIT, with the time-outs of the last handle
    // added to it: bound the wait for the goodbye.
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     qMin(5L, secondsRoundedUp(qMax(options.sendTimeoutMs, options.receiveTimeoutMs))));
    if (multi && curl_multi_add_handle(multi, curl) == CURLM_OK)
        curl_multi_remove_handle(multi, curl);
    release();
}

void InternetHandle::release()
{
    if (multi)
        curl_multi_cleanup(multi);
    multi = nullptr;
    if (curl)
        curl_easy_cleanup(curl);
    curl = nullptr;
}
