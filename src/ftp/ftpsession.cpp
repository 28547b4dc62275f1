#include "ftp/ftpsession.h"

#include "ftp/ftpconnection.h"

#include <utility>

FtpSession::FtpSession(Credentials credentials, std::optional<FtpTimeouts> timeouts, std::atomic<qint64>* byteCounter)
    : m_credentials(std::move(credentials)), m_timeouts(timeouts), m_byteCounter(byteCounter)
{}

FtpSession::~FtpSession()
{
    close();
}

bool FtpSession::connect()
{
    if (m_connection)
        return true;
    m_failure = FtpConnectFailure::Rejected;
    if (!m_root) {
        m_root = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        if (!m_root)
            return false;
        // Time-outs first, then the retry count: a server that does not answer costs each connect a bounded time.
        if (m_timeouts) {
            for (DWORD option : {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT,
                                 INTERNET_OPTION_DATA_SEND_TIMEOUT, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT,
                                 INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_CONNECT_BACKOFF})
                InternetSetOptionA(m_root, option, &m_timeouts->milliseconds, sizeof m_timeouts->milliseconds);
            InternetSetOptionA(m_root, INTERNET_OPTION_CONNECT_RETRIES, &m_timeouts->connectRetries,
                               sizeof m_timeouts->connectRetries);
        }
        if (m_byteCounter)
            ftpSetByteCounter(m_root, m_byteCounter);
        ftpSetConnectionSettings(m_root, m_credentials.settings);
    }
    m_connection =
        InternetConnectA(m_root, m_credentials.server.toUtf8().constData(),
                         defaultPort(m_credentials.settings.protocol), m_credentials.userId.toUtf8().constData(),
                         m_credentials.password.toUtf8().constData(), INTERNET_SERVICE_FTP, 0, 0);
    m_failure = ftpLastConnectFailure(m_root);
    return m_connection != nullptr;
}

void FtpSession::setByteCounter(std::atomic<qint64>* counter)
{
    m_byteCounter = counter;
    if (m_root)
        ftpSetByteCounter(m_root, counter);
}

void FtpSession::close()
{
    InternetCloseHandle(m_connection);
    m_connection = nullptr;
    InternetCloseHandle(m_root);
    m_root = nullptr;
}
