#pragma once

#include "ftp/credentials.h"
#include "ftp/wininet.h"

#include <QtGlobal>

#include <atomic>
#include <optional>

// Time-outs of a session: every reply, data and connect time-out and the back-off between connect attempts, in
// milliseconds, and how often the layer repeats a refused connect by itself.
struct FtpTimeouts
{
    DWORD milliseconds = 0;
    DWORD connectRetries = 0;
};

// One logged-in control connection to the server of some credentials: the root handle with its options and the
// connection made from it, closed together.
//
// Contract: lives on one thread, like the handles it holds; not copied. connect() opens the root handle (once),
// sets the time-outs (none given: the layer's defaults), the byte counter and the connection settings on it, and
// logs in; while a connection is open it returns true at once. A failed connect keeps the root handle, so the next
// attempt is made with the same options; connectFailure() says why it failed (Rejected when not even the root
// handle could be had). close() ends the connection (QUIT) and frees both handles; the destructor does the same.
class FtpSession
{
public:
    explicit FtpSession(Credentials credentials, std::optional<FtpTimeouts> timeouts = std::nullopt,
                        std::atomic<qint64>* byteCounter = nullptr);
    ~FtpSession();
    FtpSession(const FtpSession&) = delete;
    FtpSession& operator=(const FtpSession&) = delete;

    bool connect();
    void close();

    // Where the transfers of this session count their bytes from now on (nullptr: nowhere); for a session handed
    // over to another owner.
    void setByteCounter(std::atomic<qint64>* counter);

    bool isConnected() const { return m_connection != nullptr; }
    HINTERNET connection() const { return m_connection; }
    // For what the layer reports about a failed connect (certificate, refused TLS, ...).
    HINTERNET root() const { return m_root; }
    FtpConnectFailure connectFailure() const { return m_failure; }

private:
    Credentials m_credentials;
    std::optional<FtpTimeouts> m_timeouts;
    std::atomic<qint64>* m_byteCounter;
    HINTERNET m_root = nullptr;
    HINTERNET m_connection = nullptr;
    FtpConnectFailure m_failure = FtpConnectFailure::None;
};
