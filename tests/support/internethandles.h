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

// Bounds every wait of the handle's connections (each reply, the data, the connect) to ms, so a test that goes wrong
// fails in seconds instead of the layer's minute.
inline void setAllTimeouts(HINTERNET root, DWORD ms)
{
    for (DWORD option :
         {INTERNET_OPTION_SEND_TIMEOUT, INTERNET_OPTION_RECEIVE_TIMEOUT, INTERNET_OPTION_DATA_SEND_TIMEOUT,
          INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, INTERNET_OPTION_CONNECT_TIMEOUT})
        InternetSetOptionA(root, option, &ms, sizeof ms);
}
