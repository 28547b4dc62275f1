#pragma once

#include "ftp/connectionsettings.h"
#include "ftp/sshkeys.h"
#include "ftp/tlscertificate.h"
#include "ftp/wininet.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>

// Operations of our own on the handles of wininet.h, for our command-line client: a transcript of the control
// connection, raw commands, listings and the login directory.
//
// Contract: same thread rules as wininet.h (a handle stays on the thread that opened it). The transcript sink is
// called on that thread, during the call that caused the traffic, in the order of the traffic: every command
// line sent (the argument of PASS replaced by "****") and every reply line received, without line ends.

enum class FtpTranscriptKind
{
    Command,
    Reply
};
using FtpTranscriptSink = std::function<void(FtpTranscriptKind kind, const QByteArray& line)>;

// Splits "host", "host:port", "[v6]:port" or "[v6]" into host (brackets removed) and port (defaultPort when the
// text has none). False for an empty host, a port that is not 1-65535, or characters that cannot be part of a
// host name (blanks, "/", "@", control characters).
bool parseFtpServer(const QString& server, quint16 defaultPort, QString& host, quint16& port);

// A refusal whose text says that the server has as many connections as it allows, as servers word it in a 530
// or 550 to USER or PASS ("530 Sorry, the maximum number of clients (4) from your host are already connected.");
// the words are those that clients commonly look for. Case does not matter; reply holds one or more lines.
bool ftpReplySaysConnectionLimit(const QByteArray& reply);

// Set on a root handle before InternetConnectA (the connection takes it over, the login included) or on a
// connection handle. False for a null handle.
bool ftpSetTranscript(HINTERNET handle, FtpTranscriptSink sink);

// Counts the bytes the handle's data connections move (uploads and listings) into *counter as the transfer goes,
// so another thread can read the progress while the operation runs. Set on a root handle before InternetConnectA
// (the connection takes it over) or on a connection; nullptr stops the counting. The counter must outlive the
// handle. False for a null handle.
bool ftpSetByteCounter(HINTERNET handle, std::atomic<qint64>* counter);

// Sends one command line on the connection and returns the final reply code (0 when no reply came, or when the
// command holds CR, LF or NUL and was not sent).
int ftpSendCommand(HINTERNET connection, const QByteArray& command);

// Runs a listing command such as "LIST -al", "LIST" or "NLST" over a data connection of the handle's mode. With
// a directory, the server's current directory is set to it first (CWD) in the same operation, so the listing is
// of that directory even when the connection had to be made anew (which starts in the login directory); a
// refused CWD ends the operation with its reply code and nothing is listed. Without one, the listing is of the
// server's current directory. The listing's bytes go to sink as they arrive; bytes (if given) receives their
// total. Returns the final reply code (226 when complete), 0 when no reply came.
int ftpListing(HINTERNET connection, const QByteArray& command, const std::function<void(const QByteArray&)>& sink,
               qint64* bytes = nullptr, const QByteArray& directory = QByteArray());

// Every line of the last complete reply on the connection (each ending with LF), such as FEAT's list of features;
// empty for a null handle.
QByteArray ftpLastReplyText(HINTERNET connection);

// The directory the server reported right after the login (PWD), empty when unknown.
QString ftpLoginDirectory(HINTERNET connection);

// Why the last operation on the handle failed, such as "Connection refused"; for a failed InternetConnectA, read
// it from the root handle. Empty when the last operation succeeded.
QString ftpLastError(HINTERNET handle);

// Data connections and TLS for the connections made from a root handle (set before InternetConnectA; a connection
// keeps what it was made with). Without it a handle speaks clear-text FTP with active data connections; the flag
// INTERNET_FLAG_PASSIVE still makes a connection passive. False for a null handle.
// - Passive: every data connection is passive (EPSV/PASV). Active: always EPRT/PORT. Automatic: right after the
//   login the address rule of addressrule.h picks one; an active data connection that the server refuses (a
//   failed EPRT/PORT, a 425 reply, no connection within the reply time-out) is tried once more passively, and
//   the connection stays passive from then on.
// - TLS (explicit: AUTH TLS, then PBSZ 0 and PROT P after the login) protects control and data connections.
//   WhenOffered logs in without TLS only when the server refuses AUTH TLS, and never once a login of the same
//   handle went over TLS or a key is pinned; Required fails the connect instead (ftpTlsRefused). The server's
//   certificate must chain to a trusted authority (the system's, or those that SSL_CERT_FILE / SSL_CERT_DIR
//   name) and carry the server name; with a pinned key, only that public key is accepted. No credentials are
//   sent before the certificate has passed.
bool ftpSetConnectionSettings(HINTERNET root, const FtpConnectionSettings& settings);

// The login of the connection went over TLS.
bool ftpIsEncrypted(HINTERNET connection);
// The connection's data connections are passive now.
bool ftpIsPassive(HINTERNET connection);

// After a failed InternetConnectA, read from the root handle: the server's certificate when the check of it (or of
// the pinned key) failed the connect, with the reason; null for any other failure.
FtpCertificate ftpCertificateProblem(HINTERNET root);
// SFTP (a root handle whose settings say TransferProtocol::Sftp): the connection operations of wininet.h and the
// functions here work alike over SFTP, with these differences.
// - The server's host key must be the one the settings trust (hostKey); any other refuses the connect before
//   anything is sent (ftpHostKeyProblem tells which key the server showed). A key file in the settings logs in
//   with that key (its passphrase from the settings), otherwise with the password, or the agent when
//   SSH_AUTH_SOCK is set; ~/.ssh/known_hosts is never read.
// - Paths are from the login directory: "/" is the login directory, "/www/a.html" the file a.html in its folder
//   www (the server's own root is out of reach, as the tree shows it).
// - Commands are carried out as file operations: MKD, DELE, RMD, RNFR and RNTO (the rename goes out with RNTO and
//   replaces an existing target, as FTP servers do: the target is removed first, once the source has been seen),
//   CWD (whether the path is a directory that can be opened), PWD and NOOP; every other command gets 502. Their reply
//   codes are those FTP gives (257, 250, 550 for a refusal, 0 when the server did not answer), and the transcript shows
//   each command and a reply line made by this layer in FTP's form, the login as USER, PASS and their replies, so that
//   a reader of FTP transcripts reads it alike.
// - An ASCII upload arrives with LF line ends (CR LF and LF sources alike); a binary one byte for byte.
// - Listings show the server's long names ("ls -l" lines, "." and ".." included); NLST the names alone.
// - Busy: the server closed the connection before the key exchange (sshd's MaxStartups), or refused the session
//   after the login (MaxSessions); Rejected: a refused login, host key or key exchange.
enum class SshLoginProblem
{
    None,
    RsaUserKey,     // the key file holds an RSA key, which libssh2 1.10 cannot sign with for current servers
    RsaHostKeyOnly, // the server offers only an RSA host key, which libssh2 1.10 cannot check
};
SshLoginProblem ftpSshProblem(HINTERNET root);
// After a failed InternetConnectA over SFTP, read from the root handle: the server's host key when it was not the
// trusted one (SshHostKey::trusted holds the trusted fingerprint when there was one); null for any other failure.
SshHostKey ftpHostKeyProblem(HINTERNET root);

// After a failed InternetConnectA, read from the root handle: TLS was required and the server refused AUTH TLS.
bool ftpTlsRefused(HINTERNET root);

// Whether the libcurl in use encrypts active data connections. Where it does not, a login over TLS never uses
// them: the automatic mode goes passive, and the active mode fails the connect (ftpActiveTlsUnavailable) rather
// than send the data readable.
bool ftpActiveDataCanBeEncrypted();
// After a failed InternetConnectA, read from the root handle: the login went over TLS with active data connections
// chosen, and ftpActiveDataCanBeEncrypted() is false.
bool ftpActiveTlsUnavailable(HINTERNET root);
