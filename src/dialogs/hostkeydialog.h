#pragma once

#include "ftp/sshkeys.h"

#include <QDialog>

class QPushButton;

// The question the connect dialog asks when an SFTP server shows a host key that the profile does not trust: the
// server, the key's type and its SHA-256 fingerprint as `ssh-keygen -l` prints them, and, when the profile trusted
// another key, a warning that names both fingerprints.
//
// Contract: main thread, shown modally by the connect dialog only. exec() returns Accepted when the user trusts
// the key ("信頼する"); "信頼しない", Escape and the close box reject it, and rejecting is the default button, so
// Enter never trusts by accident.
class HostKeyDialog : public QDialog
{
    Q_OBJECT

public:
    HostKeyDialog(const QString& server, const SshHostKey& key, QWidget* parent = nullptr);

    QPushButton* trustButton() const { return m_trust; }
    QPushButton* distrustButton() const { return m_distrust; }

private:
    QPushButton* m_trust = nullptr;
    QPushButton* m_distrust = nullptr;
};
