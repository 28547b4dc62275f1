#include "connectedwindow.h"

#include "browse/filelistview.h"
#include "browse/remotebrowser.h"
#include "connectdialog.h"
#include "dialogs/tform2.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

namespace {

class StatusRecorder : public QObject
{
public:
    StatusRecorder(QLabel* label, QStringList* texts) : QObject(label), m_label(label), m_texts(texts)
    {
        label->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && (m_texts->isEmpty() || m_texts->last() != m_label->text()))
            m_texts->append(m_label->text());
        return false;
    }

private:
    QLabel* m_label;
    QStringList* m_texts;
};

} // namespace

QWidget* ConnectedWindow::treeViewport() const
{
    return form->tree()->viewport();
}

QWidget* ConnectedWindow::listViewport() const
{
    return form->fileList()->currentView()->viewport();
}

std::unique_ptr<TForm1> showMainWindow()
{
    auto form = std::make_unique<TForm1>();
    form->setConnectDialog(new TForm2(form->state().credentials, form.get()));
    form->show();
    if (!QTest::qWaitForWindowExposed(form.get())) {
        QTest::qFail("the main window was never exposed", __FILE__, __LINE__);
        return nullptr;
    }
    return form;
}

bool connectWindow(ConnectedWindow& s)
{
    // The checks inside return from the lambda; the caller learns of a failure from the result.
    [&] {
        s.statusTexts.clear();
        s.form = showMainWindow();
        QVERIFY(s.form);
        if (s.sshd)
            connectLikeAUserOverSftp(*s.form, s.sshd->host(), s.sshd->user(), SshdFixture::password());
        else
            connectLikeAUser(*s.form, s.server.host(), FtpServerFixture::user(), FtpServerFixture::password());
        QCOMPARE(s.form->state().credentials.server, s.sshd ? s.sshd->host() : s.server.host());
        QCOMPARE(s.form->currentLayout(), MainWindowPort::Layout::Browser);
        QVERIFY(!s.form->state().BusyLock);
        auto* status = s.form->findChild<QLabel*>(QStringLiteral("StatusBar1"));
        QVERIFY(status);
        new StatusRecorder(status, &s.statusTexts);
    }();
    return !QTest::currentTestFailed();
}

bool startSftpServer(ConnectedWindow& s)
{
    if (!SshdFixture::isAvailable()) {
        QTest::qFail("SFTP needs root and Debian's openssh-server", __FILE__, __LINE__);
        return false;
    }
    s.sshd = std::make_unique<SshdFixture>();
    if (!s.sshd->start()) {
        QTest::qFail("sshd did not start", __FILE__, __LINE__);
        return false;
    }
    return true;
}

bool connectSession(ConnectedWindow& s, const FtpServerFixture::Options& options)
{
    if (!s.server.start(options)) {
        QTest::qFail("the test server did not start", __FILE__, __LINE__);
        return false;
    }
    return connectWindow(s);
}

QTreeWidgetItem* nodeNamed(QTreeWidget* tree, const QString& name)
{
    const QList<QTreeWidgetItem*> found = tree->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : found.first();
}

QStringList childNames(QTreeWidget* tree, const QTreeWidgetItem* node)
{
    QStringList names;
    const int count = node ? node->childCount() : tree->topLevelItemCount();
    for (int i = 0; i < count; ++i)
        names << (node ? node->child(i) : tree->topLevelItem(i))->text(0);
    return names;
}

QPoint centreOf(QTreeWidget* tree, QTreeWidgetItem* node)
{
    tree->scrollToItem(node);
    return tree->visualItemRect(node).center();
}

void clickNode(QTreeWidget* tree, QTreeWidgetItem* node, Qt::KeyboardModifiers modifiers, Qt::MouseButton button)
{
    QTest::mouseClick(tree->viewport(), button, modifiers, centreOf(tree, node));
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
}

bool selectNode(ConnectedWindow& s, const QString& name)
{
    // The checks inside return from the lambda; the caller learns of a failure from the result.
    [&] {
        QTreeWidgetItem* node = nodeNamed(s.tree(), name);
        QVERIFY2(node, qPrintable(name));
        clickNode(s.tree(), node);
        QTRY_VERIFY(node->isSelected() && !s.form->state().BusyLock);
    }();
    return !QTest::currentTestFailed();
}

QStringList captions(FileListView* list, int imageIndex)
{
    QStringList names;
    for (int row = 0; row < list->count(); ++row)
        if (imageIndex < 0 || list->imageIndex(row) == imageIndex)
            names << list->caption(row);
    return names;
}

int rowOf(FileListView* list, const QString& caption)
{
    for (int row = 0; row < list->count(); ++row)
        if (list->caption(row) == caption)
            return row;
    return -1;
}

void doubleClickRow(FileListView* list, int row)
{
    QAbstractItemView* view = list->currentView();
    const QPoint at = view->visualRect(view->model()->index(row, 0)).center();
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
}

bool triggerAction(TForm1& form, const char* name)
{
    auto* action = form.findChild<QAction*>(QString::fromLatin1(name));
    if (!action) {
        QTest::qFail(qPrintable(QStringLiteral("no action %1").arg(QString::fromLatin1(name))), __FILE__, __LINE__);
        return false;
    }
    action->trigger();
    return true;
}

QRadioButton* modeButton(TForm1& form, const QString& caption)
{
    for (auto* button : form.findChildren<QRadioButton*>())
        if (button->text() == caption)
            return button;
    return nullptr;
}

bool waitForBrowser(TForm1& form, int timeoutMs)
{
    return QTest::qWaitFor([&form] { return form.currentLayout() == MainWindowPort::Layout::Browser; }, timeoutMs);
}
