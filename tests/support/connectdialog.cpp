#include "connectdialog.h"

#include "app/tform1.h"
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
