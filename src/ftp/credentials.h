#pragma once

#include <QString>

// The connection that the last successful connect test accepted. An empty server means that no connection has
// been made yet. The server may carry a port: "host:port" or "[v6 address]:port"; without one the port is 21.
struct Credentials
{
    QString server;
    QString userId;
    QString password;
};
