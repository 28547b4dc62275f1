#pragma once

#include "ftp/connectionsettings.h"

#include <QString>

// The connection that the last successful connect test accepted. An empty server means that no connection has
// been made yet. The server may carry a port: "host:port" or "[v6 address]:port"; without one the port is 21.
struct Credentials
{
    QString server;
    QString userId;
    QString password;
    // How every connection to the server is made. TLS that the connect test negotiated is required from then on,
    // so a later connection cannot be talked down to clear text.
    FtpConnectionSettings settings = {};
};
