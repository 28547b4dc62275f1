#pragma once

// The fixed texts of our ftp client's input and transcript. The client writes them, the runner ends the client's
// input with kEndOfInput and the listing parser reads the transcript by them, so all three must agree.
namespace Transcript {

// Before each command line the client echoes ("ftp> cd /www").
inline constexpr char kPrompt[] = "ftp> ";
// The client's answer to a command that needs a connection when it has none.
inline constexpr char kNotConnected[] = "Not connected.";
// Ends the command lines on the client's standard input; the runner keeps the pipe open after it.
inline constexpr char kEndOfInput = 0x1A;

} // namespace Transcript
