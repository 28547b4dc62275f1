#pragma once

#include <QString>

class TForm1;

// Runs the main window's connect command and answers its dialog the way a user does: types the profile name, the
// server, the user ID and the password, and presses "接続". Returns when the command is done (the root listed, or
// the dialog still open after a refused login is left to the caller's own answer).
void connectLikeAUser(TForm1& form, const QString& server, const QString& user, const QString& password,
                      const QString& profile = QString());

// The same over SFTP: chooses the protocol too, and trusts the server's host key when the question comes, as a user
// who compared the fingerprint would.
void connectLikeAUserOverSftp(TForm1& form, const QString& server, const QString& user, const QString& password);
