#pragma once

#include <QStringList>

// Our command-line FTP client, the program `ftp` that the listing runner starts.
//
// Contract: runFtpClient(arguments) is the whole program (arguments as QCoreApplication::arguments(), program
// name first). With "-s:<script>" (the path may stand in double quotes) it runs the script line by line, then
// reads further command lines from standard input up to the byte 0x1A or the end of input, and returns the exit
// code. Without -s: it reads commands from standard input only. "-data:auto|active|passive",
// "-tls:offered|required|none" and "-pin:sha256//<key>" set how "open" connects (connectionsettings.h); without
// them it connects in clear text with active data connections. A mistyped option is a usage error, never a weaker
// connection.
//
// "-protocol:sftp", "-hostkey:SHA256:<fingerprint>" and "-key:<key file>" make it connect over SFTP with that trusted
// host key and key file (the key's passphrase comes from the environment variable keyPassphraseVariable).
//
// Script lines end with CR LF or LF and are UTF-8. "open host[:port]" (or "open host port", "open sftp://host:port",
// "open ftp://host:port": the scheme chooses the protocol, the default port is that of the protocol) connects; the next
// two lines are always the user ID and the password, also when the connect fails, and are never printed.
// Commands: cd <path> (a path beginning with "/" is from the server's root, any other relative to the current
// directory, which starts at the login directory), ls -al / ls <options> (LIST <options>), ls (NLST), dir
// [options] (LIST), pwd, close / disconnect, quit / bye. Anything else prints "Invalid command.".
//
// Standard output is parsed by the callers and keeps this shape:
//   "ftp> <command line>" for each command (never for the user ID and password lines);
//   after open: "Connected to <host>.", the greeting, "User (<host>:(none)): ", the reply to USER, "Password:",
//   the reply to PASS; "Login failed." when the login is refused; "ftp: connect :<reason>" when no connection
//   came about, after which commands print "Not connected.";
//   every server reply line as received, its control characters (CR and NUL among them) replaced by "?", a line
//   that does not begin with a digit (inside a multi-line reply) with one leading space, so that no reply line
//   can look like a listing line or end early; a reply ends at its first line of three digits and a space;
//   a listing's lines exactly as received without CR, between the replies, then
//   "ftp: <n> bytes received in <s>Seconds <r>Kbytes/sec.";
//   after "cd" the server's reply to CWD, or "ftp: <reason>" when none came (the connection was lost).
// Errors of the client itself (usage, unreadable script) go to standard error.
int runFtpClient(const QStringList& arguments);
