#include "app/tform6.h"

#include "app/version.h"
#include "webpanes/links.h"
#include "webpanes/sidepanerule.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

namespace {
// A label that acts as a link: blue, underlined, hand pointer, a click opens the address.
class LinkLabel : public QLabel
{
public:
    LinkLabel(const QString& text, TForm6* dialog) : QLabel(text, dialog), m_dialog(dialog)
    {
        setObjectName(QStringLiteral("Label2"));
        setCursor(Qt::PointingHandCursor);
        setStyleSheet(QStringLiteral("color: blue; text-decoration: underline;"));
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
            m_dialog->Label2Click();
    }

private:
    TForm6* m_dialog;
};
} // namespace

TForm6::TForm6(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("バージョン情報"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    QFont base(QStringLiteral("ＭＳ Ｐゴシック"));
    base.setPixelSize(12);
    setFont(base);
    setFixedSize(195, 94);

    auto* version = new QLabel(QStringLiteral("PELNO Ver.") + QString::fromUtf8(kPelnoVersion), this);
    version->setObjectName(QStringLiteral("Label1"));
    QFont bold = base;
    bold.setPixelSize(19);
    bold.setBold(true);
    bold.setItalic(true);
    version->setFont(bold);
    version->move(24, 16);
    version->adjustSize();

    auto* link = new LinkLabel(links::kMakerHome, this);
    link->move(52, 44);
    link->adjustSize();

    auto* close = new QPushButton(QStringLiteral("閉じる"), this);
    close->setObjectName(QStringLiteral("Button1"));
    close->setGeometry(112, 64, 75, 25);
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &TForm6::Button1Click);
    // Esc presses the cancel button: QDialog rejects on Esc, which is what "閉じる" does.

    if (parent)
        move(parent->geometry().center() - rect().center());
}

void TForm6::Label2Click()
{
    OpenExternally(links::kMakerHome);
}

void TForm6::Button1Click()
{
    reject();
}
