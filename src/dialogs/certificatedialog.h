#pragma once

#include "ftp/tlscertificate.h"

#include <QDialog>

class QPushButton;

// The question the connect dialog asks when a server's certificate did not pass the check: it shows the
// certificate (subject, issuer, validity, SHA-256 fingerprint, public key) and the reason, and, for a key that
// differs from the pinned one, both keys under a warning.
//
// Contract: main thread, shown modally by the connect dialog only. exec() returns Accepted when the user trusts
// the certificate ("信頼する"); "信頼しない", Escape and the close box reject it, and rejecting is the default
// button, so Enter never trusts by accident.
class CertificateDialog : public QDialog
{
    Q_OBJECT

public:
    CertificateDialog(const FtpCertificate& certificate, QWidget* parent = nullptr);

    QPushButton* trustButton() const { return m_trust; }
    QPushButton* distrustButton() const { return m_distrust; }

private:
    QPushButton* m_trust = nullptr;
    QPushButton* m_distrust = nullptr;
};
