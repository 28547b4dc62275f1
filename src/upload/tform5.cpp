#include "upload/tform5.h"

#include "webpanes/links.h"
#include "webpanes/webpane.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QShowEvent>
#include <QVBoxLayout>

namespace {
constexpr int kClientWidth = 409;
constexpr int kClientHeight = 299;
constexpr int kGroupHeight = 129;
} // namespace

TForm5::TForm5(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("Form5"));
    // A fixed frame with a close box and nothing else.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);
    setFixedSize(kClientWidth, kClientHeight);

    m_group = new QGroupBox(QStringLiteral("送信に失敗したファイルがあります"), this);
    m_group->setObjectName(QStringLiteral("GroupBox1"));
    m_group->setGeometry(0, 0, kClientWidth, kGroupHeight);
    auto* groupLayout = new QVBoxLayout(m_group);
    m_memo = new QPlainTextEdit(m_group);
    m_memo->setObjectName(QStringLiteral("Memo1"));
    m_memo->setFrameShape(QFrame::NoFrame);
    m_memo->setReadOnly(true);
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    groupLayout->addWidget(m_memo);

    m_pane = new WebPane(this);
    m_pane->setObjectName(QStringLiteral("WebBrowser1"));
    m_pane->setGeometry(0, kGroupHeight, kClientWidth, kClientHeight - kGroupHeight);
}

void TForm5::setFailedEntries(const QStringList& entries)
{
    m_memo->setPlainText(entries.join(QLatin1Char('\n')));
}

void TForm5::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TForm5::FormShow()
{
    if (QWidget* owner = parentWidget()) {
        const QRect frame = owner->window()->frameGeometry();
        move(frame.center() - QPoint(width() / 2, height() / 2));
    }
    m_pane->navigate(links::kErrList);
}
