#pragma once

#include "ftp/connectionsettings.h"
#include "ftp/ftpconnection.h"
#include "ftp/sshkeys.h"
#include "ftp/tlscertificate.h"
#include "ftp/wininet.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QString>

#include <atomic>
#include <functional>

typedef void CURL;
typedef void CURLM;

// The object behind HINTERNET: a root handle (options only) or a connection handle (one libcurl easy handle, and
// with it one logged-in control connection that every operation reuses).
//
// Contract: used only by wininet.cpp and ftpconnection.cpp, on the thread that opened the handle. Every
// operation returns a result the caller must look at; nothing throws.
struct InternetHandle
{
    enum class Kind
    {
        Root,
        Connection
    };

    // Time-outs in milliseconds. A refused connect is repeated `retries` more times, `backoffMs` apart; a
    // connect that timed out is not repeated, because the kernel already retransmits within one attempt and a
    // repeat would multiply what an unreachable server costs. So a silent or unreachable server costs at most
    // the connect time-out plus one reply time-out, a refusing one at most retries x back-off.
    struct Options
    {
        DWORD connectTimeoutMs = 60000;
        DWORD retries = 5;
        DWORD backoffMs = 100;
        DWORD sendTimeoutMs = 60000;
        DWORD receiveTimeoutMs = 60000;
        DWORD dataSendTimeoutMs = 60000;
        DWORD dataReceiveTimeoutMs = 60000;
    };

    explicit InternetHandle(Kind kind) : kind(kind) {}
    ~InternetHandle();
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;

    bool setOption(DWORD option, DWORD value);

    // Opens the control connection and logs in; false (with lastError set) when that did not succeed.
    bool connect(const QString& host, quint16 port, const QByteArray& user, const QByteArray& password, bool passive);
    bool putFile(const QString& localFile, const QByteArray& remoteFile, bool ascii);
    // Sends one command line; the final reply code, or 0 when the command did not get a reply.
    int sendCommand(const QByteArray& command);
    // RNFR and RNTO in one operation; the final reply code of RNTO, of a refused RNFR, or 0.
    int renameFile(const QByteArray& from, const QByteArray& to);
    // Runs a listing command, after a CWD to directory when one is given; data goes to the sink as it arrives.
    // The final reply code of the listing (or of a refused CWD), or 0.
    int listing(const QByteArray& command, const std::function<void(const QByteArray&)>& sink, qint64* bytes,
                const QByteArray& directory);
    // Sends QUIT (bounded wait) and frees the connection.
    void close();

    const Kind kind;
    DWORD accessType = INTERNET_OPEN_TYPE_DIRECT;
    Options options;
    FtpTranscriptSink transcript;
    std::atomic<qint64>* byteCounter = nullptr; // see ftpSetByteCounter
    QString lastError;
    QString loginDirectory;
    // Data connections and TLS; a connection takes the root's. Without settings of its own a handle speaks
    // clear-text FTP with active data connections.
    FtpConnectionSettings settings{DataConnectionMode::Active, TlsMode::Off, {}};
    // Why the last connect failed when it was the certificate (null otherwise), and whether it failed because TLS
    // was required and the server refused it.
    FtpCertificate certificateProblem;
    bool tlsRefused = false;
    // The connect failed because active data connections were asked for over TLS, which the libcurl in use
    // cannot encrypt.
    bool activeTlsUnavailable = false;
    // Why the last connect failed, in the terms a caller decides on (see ftpLastConnectFailure).
    FtpConnectFailure connectFailure = FtpConnectFailure::None;

    // SFTP: why the last connect was refused when it was the host key (null otherwise), and a cause that needs
    // its own message.
    SshHostKey hostKeyProblem;
    SshLoginProblem sshProblem = SshLoginProblem::None;

    // internal state of a connection
    CURL* curl = nullptr;
    CURLM* multi = nullptr; // runs each operation of curl, and keeps its connection between them
    QByteArray baseUrl;     // "ftp://host:port"
    QByteArray user;
    QByteArray password;
    bool passive = false;
    QString host;
    bool controlEncrypted = false; // the login went over TLS: every later login of this handle must, too
    CertificateWatch certificateWatch;
    int lastReplyCode = 0;
    QByteArray lastReplyText; // every line of the last complete reply, each ending with LF
    QByteArray replyText;     // the lines of the reply under way
    QByteArray refusal;       // the last reply of 400 or more in this operation
    QByteArray watching;      // the command whose final reply the operation reports
    bool awaitingWatchedReply = false;
    int watchedReplyCode = 0;
    bool dataPhase = false; // between the 1xx and the final reply of the watched command
    bool stalled = false;
    qint64 progressBytes = -1;
    QElapsedTimer progressClock;
    qint64 countedBytes = 0; // of the operation under way, already added to byteCounter

    // SFTP (sftptransport.cpp)
    QByteArray sftpDirectory = "/"; // the current directory, from the login directory
    QByteArray errorText;           // libcurl's error buffer of the operation under way
    SshHostKey offeredHostKey;      // what the server showed in the last connect
    QByteArray sftpRenameFrom;      // the path of the last RNFR, until its RNTO
    bool isSftp() const { return settings.protocol == TransferProtocol::Sftp; }

    // called back by libcurl
    void onDebug(int type, const char* data, size_t size);
    bool onProgress(qint64 bytes);             // false stops the operation
    bool onHostKey(const QByteArray& keyBlob); // false refuses the server

private:
    bool sftpConnect();
    bool sftpPutFile(QFile& file, const QByteArray& remoteFile, bool ascii);
    int sftpCommand(const QByteArray& command);
    int sftpListing(const QByteArray& command, const std::function<void(const QByteArray&)>& sink, qint64* bytes,
                    const QByteArray& directory);
    void prepareSftp(const QByteArray& path, bool directory);
    int performSftp(bool watchData);
    bool sftpQuote(const QByteArray& operation, const QByteArray& path, const QByteArray& target = {});
    bool sftpDirectoryExists(const QByteArray& path);
    bool sftpRename(const QByteArray& from, const QByteArray& to);
    bool sftpServerAnswers();
    void sftpReply(int code, const QByteArray& text);
    void sftpFailure(int rc);
    void prepare(const QByteArray& url);
    int performCounted(const QByteArray& watchedCommand);
    int perform();
    void release();
    DWORD dataTimeoutMs() const;
    void noteFailure(int code);
    void prepareTls();
    bool activeConnectionRefused(int rc) const;
    FtpConnectFailure connectFailureOf(int rc) const;
};
