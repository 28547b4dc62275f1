#pragma once

#include "ftp/connectionsettings.h"

#include <QObject>
#include <QString>
#include <QStringList>

// Runs our command-line FTP client on the script file and captures what it prints.
//
// Contract (main thread only; callers guard against re-entry themselves):
// - RunFtpScript starts the command line (program name first, found in the program's own folder first, then in
//   an installed program's libexec folder, AppFolders::clientFolder(), then on PATH), writes the input followed
//   by the byte 0x1A to the client's standard input and keeps it open until the client ends, drains standard
//   output and standard error together (so neither can stall the client), every byte kept (NULs too), and keeps
//   processing user-interface events while it waits. Output and errors are emptied first. Returns true when the
//   client process was started.
// - The script file "ftpcmd.txt" lives beside AppConfig.ini (AppFolders: beside the executable unless installed);
//   it holds the password, so it is written with mode 0600 immediately before each run, UTF-8 with every line
//   ended by CR LF, and every caller removes it after the run.
// A non-empty keyPassphrase reaches the client in its environment (keyPassphraseVariable), which only its owner can
// read, never on its command line.
bool RunFtpScript(const QString& commandLine, const QString& input, QString& output, QString& errors,
                  const QString& keyPassphrase = QString());

QString ftpScriptPath();  // <configuration folder>/ftpcmd.txt
QString ftpCommandLine(); // ftp -s:"<configuration folder>/ftpcmd.txt"
// The same with the client options that carry the connection settings in front of -s: (never the password).
QString ftpCommandLine(const FtpConnectionSettings& settings);
// Removes any earlier script first, so an old one is never run instead; false (and no file) when a line holds a
// CR or LF, which would smuggle further commands into the script, or when the file cannot be written.
bool writeFtpScript(const QStringList& lines);
void removeFtpScript();

// Writes the script, runs our client on it with an empty input and removes the script again, whatever happens.
// The script file is one file shared by every listing, so only one such run is under way at a time: while it
// runs (and keeps processing events), ftpScriptRunning() is true and callers defer or refuse their own run;
// ftpScriptEvents() signals released() when it ends. Returns false, with an empty output, when a run is already
// under way or the script could not be written (then nothing ran).
// The client connects as settings say; the script's lines are the same whatever they are.
bool runFtpScriptFile(const QStringList& lines, QString& output,
                      const FtpConnectionSettings& settings = FtpConnectionSettings());
bool ftpScriptRunning();

class FtpScriptEvents : public QObject
{
    Q_OBJECT
signals:
    void released();
};
FtpScriptEvents* ftpScriptEvents();
