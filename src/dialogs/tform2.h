#pragma once

#include "ftp/credentials.h"
#include "ftp/profiles.h"
#include "ftp/sshkeys.h"
#include "ftp/tlscertificate.h"

#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

// The connect dialog: picks or names a connection profile, tests the connection and, once the server has
// accepted the login, hands the Credentials (server, user ID, password and settings) to the main window and stores the
// profile. Below the password, two drop-down lists choose the data connections and TLS of the profile. When the
// server's certificate does not pass the check, the certificate question (CertificateDialog) asks whether to trust it;
// a trusted key is pinned and stored with the profile. A protocol list (FTP or SFTP) stands below the profile name;
// for SFTP the FTP-only lists are disabled and a key file (with a "..." button to choose it) and its passphrase can
// be given, and an SFTP server's host key that the profile does not trust yet is shown in the host key question
// (HostKeyDialog) before anything is sent; a trusted host key is stored with the profile.
//
// Contract: created once by the application on the main thread and shown modally on each connect command; between
// shows it keeps whatever its fields hold. exec() returns Accepted only after a successful connection test; a
// failed test or a refused settings write shows "接続に失敗しました" and keeps the dialog open. The connection test
// blocks the main thread for at most the FTP layer's default time-outs, under the hourglass pointer.
class TForm2 : public QDialog
{
    Q_OBJECT

public:
    TForm2(Credentials& target, QWidget* parent = nullptr);

    QComboBox* ProfileName() const { return m_profileName; }
    QLineEdit* serverEdit() const { return m_server; }
    QLineEdit* userEdit() const { return m_user; }
    QLineEdit* passwordEdit() const { return m_password; }
    QComboBox* dataConnectionBox() const { return m_dataConnection; }
    QComboBox* securityBox() const { return m_security; }
    QComboBox* protocolBox() const { return m_protocol; }
    QLineEdit* keyFileEdit() const { return m_keyFile; }
    QPushButton* keyFileButton() const { return m_keyFileButton; }
    QLineEdit* passphraseEdit() const { return m_passphrase; }
    QPushButton* connectButton() const { return m_connect; }
    QPushButton* cancelButton() const { return m_cancel; }

public slots:
    void ComboBox1Change();
    void Button1Click();
    void Button2Click();

private:
    void FormCreate();
    bool TestConnection(QString& detail);
    bool askTrust(const FtpCertificate& certificate);
    bool askTrust(const SshHostKey& key);
    void protocolChanged(int index);
    void chooseKeyFile();
    FtpConnectionSettings chosenSettings() const;
    // What the fields hold, to be used with settings.
    Credentials entered(const FtpConnectionSettings& settings) const;
    void showProfile(const Credentials& profile);
    void storeCurrentProfile();

    Credentials& m_target;
    QComboBox* m_profileName = nullptr;
    QLineEdit* m_server = nullptr;
    QLineEdit* m_user = nullptr;
    QLineEdit* m_password = nullptr;
    QComboBox* m_dataConnection = nullptr;
    QComboBox* m_security = nullptr;
    QComboBox* m_protocol = nullptr;
    QLineEdit* m_keyFile = nullptr;
    QPushButton* m_keyFileButton = nullptr;
    QLineEdit* m_passphrase = nullptr;
    int m_shownProtocol = 0;
    QString m_pinnedKey;                // of the profile shown, or trusted in this dialog
    QString m_hostKey;                  // the same for an SFTP server's host key
    FtpConnectionSettings m_testedWith; // what the last successful test used, negotiated TLS made required
    QPushButton* m_connect = nullptr;
    QPushButton* m_cancel = nullptr;
};
