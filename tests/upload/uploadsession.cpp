#include "uploadsession.h"

#include "browse/filelistview.h"
#include "connectdialog.h"
#include "dialogs/tform2.h"
#include "modal.h"
#include "upload/tform5.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

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

UploadSession::~UploadSession()
{
    QDirIterator it(local.path(), QDir::System | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (it.fileInfo().isFile() || it.fileInfo().isDir())
            continue;
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
    }
}

QWidget* UploadSession::treeViewport() const
{
    return form->tree()->viewport();
}

QWidget* UploadSession::listViewport() const
{
    return form->fileList()->currentView()->viewport();
}

bool connectSession(UploadSession& s, const FtpServerFixture::Options& options)
{
    // The checks inside return from the lambda; the caller learns of a failure from the result.
    [&] {
        // A reader that has gone when a test writes into a FIFO must not end the test program.
        std::signal(SIGPIPE, SIG_IGN);
        QFile::remove(QCoreApplication::applicationDirPath() + QStringLiteral("/AppConfig.ini"));
        QVERIFY(s.local.isValid());
        QVERIFY(s.server.start(options));
        s.form = std::make_unique<TForm1>();
        s.form->setConnectDialog(new TForm2(s.form->state().credentials, s.form.get()));
        s.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(s.form.get()));
        connectLikeAUser(*s.form, s.server.host(), FtpServerFixture::user(), FtpServerFixture::password());
        QCOMPARE(s.form->currentLayout(), MainWindowPort::Layout::Browser);
        auto* status = s.form->findChild<QLabel*>(QStringLiteral("StatusBar1"));
        QVERIFY(status);
        new StatusRecorder(status, &s.statusTexts);
        s.server.clearLog();
    }();
    return !QTest::currentTestFailed();
}

bool selectNode(UploadSession& s, const QString& name)
{
    // The checks inside return from the lambda; the caller learns of a failure from the result.
    [&] {
        const QList<QTreeWidgetItem*> found = s.tree()->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        QVERIFY(!found.isEmpty());
        s.tree()->scrollToItem(found.first());
        QTest::mouseClick(s.treeViewport(), Qt::LeftButton, {}, s.tree()->visualItemRect(found.first()).center());
        QTRY_VERIFY(found.first()->isSelected() && !s.form->state().BusyLock);
    }();
    return !QTest::currentTestFailed();
}

void chooseMode(TForm1& form, const QString& caption)
{
    for (QRadioButton* button : form.findChildren<QRadioButton*>()) {
        if (button->text() == caption) {
            button->click();
            return;
        }
    }
    QFAIL("no such transfer mode");
}

void chooseEncoding(TForm1& form, bool convert, const QString& charset)
{
    auto* box = form.findChild<QCheckBox*>(QStringLiteral("CheckBox1"));
    auto* list = form.findChild<QComboBox*>(QStringLiteral("ComboBox1"));
    QVERIFY(box && list);
    if (box->isChecked() != convert)
        box->click();
    if (!charset.isEmpty())
        list->setCurrentIndex(list->findText(charset));
}

void answerEnd(QString* seen, QString* title, int timeoutMs)
{
    whenModal(
        [seen, title](QWidget* modal) {
            if (title)
                *title = modal->windowTitle();
            if (auto* report = qobject_cast<TForm5*>(modal)) {
                *seen = report->Memo1()->toPlainText();
                report->close();
                return;
            }
            *seen = modalText(modal);
            pressButton(modal);
        },
        timeoutMs);
}

bool waitForBrowser(TForm1& form, int timeoutMs)
{
    return QTest::qWaitFor([&form] { return form.currentLayout() == MainWindowPort::Layout::Browser; }, timeoutMs);
}

QByteArray storedAsText(const QByteArray& bytes)
{
    return QByteArray(bytes).replace("\r\n", "\n");
}
