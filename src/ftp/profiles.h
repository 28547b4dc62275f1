#pragma once

#include "ftp/credentials.h"

#include <QString>
#include <QStringList>

class AppConfig;

// Connection profiles in the settings file: the section "cn_" + name holds "server", "userid" and "password",
// and "dataconnection", "security" and "pinnedkey", "protocol", "hostkey", "keyfile" and "keypassphrase" (texts
// of connectionsettings.h; absent keys read as the defaults, so files written before these settings keep working
// and a profile without a protocol is FTP; the passphrase is kept like the password);
// "app"/"defaultConnection" names the profile of the last successful connect and "app"/"cn_names" lists every
// stored name as a comma list (a listed name holding a line break, which only an edit by hand can put there, is
// left out when the list is read).
//
// Contract (main thread, called by the connect dialog): readers return what the file holds, with empty texts for
// whatever is missing, and do not check whether the file exists (the dialog skips its reads itself when it does
// not). storeProfile throws AppError when the settings file refuses a write.
QString ProfileSection(const QString& name);

Credentials readProfile(const AppConfig& config, const QString& name);
QString readDefaultProfileName(const AppConfig& config);
QStringList readProfileNames(const AppConfig& config);

// Profile names compare without regard to letter case: a name that differs from a stored one only in case is the
// same profile.
bool isProfileListed(const QStringList& names, const QString& name);

// Writes the profile under name, then makes it the default, then, when the name is not yet listed, writes the
// list with the name appended. names is the list as the dialog shows it; it gains the name only once the list has
// reached the file, so a refused write never leaves a name that the file does not list.
void storeProfile(AppConfig& config, const QString& name, const Credentials& profile, QStringList& names);
