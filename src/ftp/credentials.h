#pragma once

#include "ftp/connectionsettings.h"

#include <QString>

// Where and how to log in: a stored profile, the connection of the main window (what the last successful connect
// test accepted; an empty server means that no connection has been made yet), and what each worker and listing
// connects with. The server may carry a port: "host:port" or "[v6 address]:port"; without one the port is the
// protocol's (21 for FTP, 22 for SFTP).
struct Credentials
{
    QString server;
    QString userId;
    QString password;
    // How every connection to the server is made. After a connect test, TLS that it negotiated is required from
    // then on, so a later connection cannot be talked down to clear text; TLS "when offered" that the server
    // refused is off from then on (the stored profile keeps what the user chose).
    FtpConnectionSettings settings = {};
};
