#pragma once

#include "ftp/wininet.h"

// A root handle and its connection, closed (connection first) however a test function ends.
struct Handles
{
    HINTERNET root = nullptr;
    HINTERNET connection = nullptr;
    ~Handles()
    {
        InternetCloseHandle(connection);
        InternetCloseHandle(root);
    }
};
