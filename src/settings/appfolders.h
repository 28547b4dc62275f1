#pragma once

#include <QString>

// Where the program keeps the files it writes: the settings file AppConfig.ini and the listing script ftpcmd.txt
// (both hold passwords) in the configuration folder, the converted copies of an upload in the data folder.
//
// Contract (any thread; nothing is cached, every call decides again):
// - A program that runs from a folder of its own that the user can write (the build folder, a portable copy)
//   keeps everything beside its executable: AppConfig.ini and ftpcmd.txt there, the copies in "data/" below it.
// - An installed program (its client sits in "<prefix>/libexec/pelno", see clientFolder()) or one whose folder the
//   user cannot write keeps AppConfig.ini and ftpcmd.txt in "<XDG config home>/pelno" and the copies in
//   "<XDG cache home>/pelno/data". forExecutableFolder() creates these folders when missing, readable by their
//   owner only (0700); it creates nothing beside an executable.
// - The files themselves are the same in both places: same format, modes and rules.
struct AppFolders
{
    QString configDirectory; // no trailing "/"
    QString dataDirectory;   // no trailing "/"; may not exist yet

    QString configFile() const { return configDirectory + QStringLiteral("/AppConfig.ini"); }

    static AppFolders forExecutableFolder(const QString& executableFolder);
    // The folders of the running program.
    static AppFolders current();

    // Where an installed program's own ftp client lives, relative to the folder of its executable
    // ("<prefix>/bin" → "<prefix>/libexec/pelno"), so it does not shadow the system's ftp command on PATH.
    static QString clientFolder(const QString& executableFolder);
};

// True when the user may create files in the folder. The superuser passes every permission check, so for it a
// folder whose mode grants nobody write access counts as not writable: that mode says the folder is not meant to
// be written into.
bool isWritableFolder(const QString& path);
