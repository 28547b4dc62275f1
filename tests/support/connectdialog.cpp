#include "connectdialog.h"

#include "app/tform1.h"
#include "dialogs/hostkeydialog.h"
#include "dialogs/tform2.h"
#include "modal.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

void connectLikeAUser(TForm1& form, const QString& server, const QString& user, const QString& password,
                      const QString& profile)
{
    whenModal([=](QWidget* modal) {
        auto* dialog = qobject_cast<TForm2*>(modal);
        if (!dialog)
            return;
        dialog->ProfileName()->setEditText(profile);
        dialog->serverEdit()->setText(server);
        dialog->userEdit()->setText(user);
        dialog->passwordEdit()->setText(password);
        dialog->connectButton()->click();
    });
    form.C1Click();
}

void connectLikeAUserOverSftp(TForm1& form, const QString& server, const QString& user, const QString& password)
{
    whenModal([=](QWidget* modal) {
        auto* dialog = qobject_cast<TForm2*>(modal);
        if (!dialog)
            return;
        dialog->ProfileName()->setEditText(QString());
        dialog->protocolBox()->setCurrentIndex(int(TransferProtocol::Sftp));
        dialog->serverEdit()->setText(server);
        dialog->userEdit()->setText(user);
        dialog->passwordEdit()->setText(password);
        // the question opens while the click runs
        ModalAnswerer trust([](QWidget* question) {
            if (auto* hostKey = qobject_cast<HostKeyDialog*>(question))
                hostKey->trustButton()->click();
        });
        dialog->connectButton()->click();
    });
    form.C1Click();
}
