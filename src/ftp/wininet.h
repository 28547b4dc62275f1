#pragma once

#include <cstdint>

// The FTP connection operations the rest of PELNO uses, with the names, arguments and results that callers
// rely on, implemented over libcurl.
//
// Contract:
// - A root handle carries options; a connection handle is one logged-in control connection to one server and is
//   reused for every operation made through it. Handles belong to the thread that opened them and are never
//   shared; up to twenty threads hold connections at once.
// - InternetConnectA returns a handle only when the control connection is open and USER/PASS were accepted.
//   Flags 0 means active data connections (the server connects back: EPRT/PORT).
// - The server text is a name or address, optionally with ":port" ("[v6]:port"); that port wins over the
//   port argument.
// - Options (set on the root handle before connecting, or on a connection for its later operations; values in
//   milliseconds except the retry count; a zero time-out or an unknown option is refused with false): send and
//   receive time-outs bound each wait for a server reply (in whole seconds, rounded up) and the wait for the
//   server's active data connection; data time-outs end a transfer that moved no byte for that long; the connect
//   time-out bounds each connect attempt. Retries and back-off repeat a refused connect; a timed-out connect is
//   not repeated (the kernel already retransmits within one attempt), so an unreachable or silent server costs
//   about one connect time-out plus one reply time-out. Defaults: 60 s for every time-out, 5 retries, 100 ms
//   back-off.
// - Both access types connect directly; no proxy is used.
// - Remote paths are used exactly as given (absolute, from the server's root). A path or name holding CR, LF or
//   NUL is refused before anything is sent. A failed operation leaves the handle usable; a connection that the
//   server closed is made anew (with a new login) by the next operation.
// - FTP_TRANSFER_TYPE_ASCII sends "TYPE A" and the file as network text (line ends CR LF, an existing CR LF
//   is not doubled); FTP_TRANSFER_TYPE_BINARY sends "TYPE I" and the bytes unchanged.
// - Closing a null handle does nothing. Closing the root handle does not close its connections.

struct InternetHandle;
using HINTERNET = InternetHandle*;
using DWORD = std::uint32_t;
using DWORD_PTR = std::uintptr_t;
using INTERNET_PORT = std::uint16_t;

constexpr DWORD INTERNET_OPEN_TYPE_PRECONFIG = 0;
constexpr DWORD INTERNET_OPEN_TYPE_DIRECT = 1;

constexpr DWORD INTERNET_OPTION_CONNECT_TIMEOUT = 2;
constexpr DWORD INTERNET_OPTION_CONNECT_RETRIES = 3;
constexpr DWORD INTERNET_OPTION_CONNECT_BACKOFF = 4;
constexpr DWORD INTERNET_OPTION_SEND_TIMEOUT = 5;
constexpr DWORD INTERNET_OPTION_RECEIVE_TIMEOUT = 6;
constexpr DWORD INTERNET_OPTION_DATA_SEND_TIMEOUT = 7;
constexpr DWORD INTERNET_OPTION_DATA_RECEIVE_TIMEOUT = 8;

constexpr INTERNET_PORT INTERNET_DEFAULT_FTP_PORT = 21;
constexpr DWORD INTERNET_SERVICE_FTP = 1;
constexpr DWORD INTERNET_FLAG_PASSIVE = 0x08000000;

constexpr DWORD FTP_TRANSFER_TYPE_ASCII = 1;
constexpr DWORD FTP_TRANSFER_TYPE_BINARY = 2;

HINTERNET InternetOpenA(const char* agent, DWORD accessType, const char* proxy, const char* proxyBypass, DWORD flags);
bool InternetSetOptionA(HINTERNET handle, DWORD option, const void* buffer, DWORD bufferLength);
HINTERNET InternetConnectA(HINTERNET root, const char* serverName, INTERNET_PORT port, const char* userName,
                           const char* password, DWORD service, DWORD flags, DWORD_PTR context);
bool FtpPutFileA(HINTERNET connection, const char* localFile, const char* remoteFile, DWORD flags, DWORD_PTR context);
bool FtpCreateDirectoryA(HINTERNET connection, const char* directory);
bool FtpDeleteFileA(HINTERNET connection, const char* fileName);
bool FtpRemoveDirectoryA(HINTERNET connection, const char* directory);
// Renames (RNFR, then RNTO in the same operation, nothing between them); true when RNTO was accepted. Whether a
// file of the new name is replaced is the server's choice: some refuse.
bool FtpRenameFileA(HINTERNET connection, const char* existingName, const char* newName);
// The final reply code of the command that the last FtpPutFileA (its STOR), FtpCreateDirectoryA, FtpDeleteFileA,
// FtpRemoveDirectoryA or FtpRenameFileA (its RNTO, or the refusal of its RNFR) sent on this connection; 0 when it got
// none (or for a null handle): so a refusal, after which the connection is fine, can be told from a connection that
// broke or timed out.
int ftpLastReplyCode(HINTERNET connection);
// Why the last InternetConnectA on this root handle failed, for a caller that decides whether trying again later
// can help. Busy: the server answered 421, or refused USER or PASS with a 530 or 550 whose text says it has as
// many connections as it allows (ftpReplySaysConnectionLimit), or closed the connection before the login
// completed (the ways servers turn away connections beyond their limit). Unreachable: no connection came about, or
// it broke or timed out without an answer (refused, reset, timed out). Rejected: the server gave an answer that
// holds for this account or these settings (a refused password and every other refusal, TLS or certificate
// trouble). None after a successful connect and for a null or connection handle.
enum class FtpConnectFailure
{
    None,
    Busy,
    Unreachable,
    Rejected
};
FtpConnectFailure ftpLastConnectFailure(HINTERNET root);
bool InternetCloseHandle(HINTERNET handle);
