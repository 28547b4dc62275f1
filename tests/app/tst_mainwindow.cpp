#include "app/application.h"
#include "app/tform1.h"
#include "browse/filelistview.h"
#include "connectedwindow.h"
#include "desktopguard.h"
#include "modal.h"
#include "threadguard.h"
#include "webpanes/links.h"
#include "webpanes/webpane.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QRadioButton>
#include <QStatusBar>
#include <QTest>
#include <QTreeWidget>

namespace {
QString configPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/AppConfig.ini");
}

void writeConfig(const QByteArray& text)
{
    QFile file(configPath());
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QComboBox* charsetList(TForm1& form)
{
    return form.findChild<QComboBox*>(QStringLiteral("ComboBox1"));
}

// A thread standing in for a worker: it calls into the main thread and blocks there, again and again, until it
// is asked to stop, then runs its completion call on the main thread, as the real workers do.
class BlockingWorker : public QThread
{
public:
    explicit BlockingWorker(MainState& state, int slot) : m_state(state), m_slot(slot) {}
    int exchanges = 0;
    bool completedOnMainThread = false;

protected:
    void run() override
    {
        QObject* main = QCoreApplication::instance();
        while (!isInterruptionRequested())
            QMetaObject::invokeMethod(
                main, [this] { ++exchanges; }, Qt::BlockingQueuedConnection);
        QMetaObject::invokeMethod(
            main,
            [this] {
                completedOnMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
                m_state.WorkerSlots[m_slot] = nullptr;
            },
            Qt::BlockingQueuedConnection);
    }

private:
    MainState& m_state;
    int m_slot;
};
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void startUpAndLayouts();
    void menus();
    void encodingCheckBoxEnablesCharsetList();
    void storedOptionsApplied_data();
    void storedOptionsApplied();
    void versionDialog();
    void closingWithoutWorkersFreesLists();
    void closingWaitsForWorkersWhileServingThem();
    void connectCancelledChangesNothing();
    void connectRestoresStoredOptionsAndListsRoot_data();
    void connectRestoresStoredOptionsAndListsRoot();
};

void TestMainWindow::init()
{
    QFile::remove(configPath());
}

void TestMainWindow::startUpAndLayouts()
{
    TForm1 form;
    QCOMPARE(form.statusText(), QStringLiteral("アプリーケーションを起動しています"));
    QCOMPARE(form.windowTitle(), QStringLiteral("高速FTP送信ツール PELNO"));
    QCOMPARE(form.currentLayout(), MainWindowPort::Layout::Start);
    QVERIFY(form.state().UploadQueue.isEmpty() && form.state().FailedList.isEmpty());
    QCOMPARE(form.state().RemoteTarget, QStringLiteral("/"));
    QCOMPARE(form.state().DataDirectory, QCoreApplication::applicationDirPath() + QStringLiteral("/data"));
    QVERIFY(QFileInfo(form.state().DataDirectory).isDir());

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.statusText(), QStringLiteral("準備完了"));
    QCOMPARE(form.width(), 780);
    QCOMPARE(form.centralWidget()->height() + form.statusBar()->height(), 550);
    QCOMPARE(form.statusBar()->height(), 19);
    QCOMPARE(form.startPane()->requestedAddress(), links::kProductHome);
    QCOMPARE(form.progressPane()->requestedAddress(), links::kSendTo);
    QCOMPARE(form.sidePane()->requestedAddress(), links::kRightSide);
    QVERIFY(form.startPane()->isVisible());
    // Before the first connect neither the tree nor the file list can receive a drop: they are not visible.
    QVERIFY(!form.tree()->isVisible());
    QVERIFY(!form.fileList()->isVisible());

    form.showLayout(MainWindowPort::Layout::Browser);
    QVERIFY(form.tree()->isVisible() && form.fileList()->isVisible() && form.sidePane()->isVisible());
    QVERIFY(!form.startPane()->isVisible());
    QCOMPARE(form.sidePane()->width(), 182);
    QCOMPARE(form.tree()->width(), 216);
    QVERIFY(modeButton(form, QStringLiteral("自動判別で転送"))->isChecked());
    QVERIFY(!charsetList(form)->isEnabled());
    QCOMPARE(charsetList(form)->currentText(), QStringLiteral("UFT-8"));
    QCOMPARE(form.fileList()->viewStyle(), FileListView::Style::Report);

    form.showLayout(MainWindowPort::Layout::Progress);
    QVERIFY(form.progressPane()->isVisible() && !form.tree()->isVisible());
    QCOMPARE(form.plannedCountLabel()->text(), QStringLiteral("0"));
    QCOMPARE(form.sentCountLabel()->text(), QStringLiteral("0"));
    QCOMPARE(form.elapsedLabel()->text(), QStringLiteral("00:00:00"));
    QStringList captions;
    for (auto* label : form.findChildren<QLabel*>())
        if (label->isVisible())
            captions << label->text();
    for (const char* caption : {"送信予定ファイル数：", "送信済みファイル数：", "経過時間："})
        QVERIFY2(captions.contains(QString::fromUtf8(caption)), caption);
    QCOMPARE(form.elapsedTimer()->interval(), 1000);
    QVERIFY(!form.elapsedTimer()->isActive());
}

void TestMainWindow::menus()
{
    TForm1 form;
    const QList<QAction*> top = form.menuBar()->actions();
    QCOMPARE(top.size(), 2);
    QCOMPARE(top[0]->text(), QStringLiteral("ファイル(&F)"));
    QCOMPARE(top[1]->text(), QStringLiteral("ヘルプ(&H)"));
    const QList<QAction*> file = top[0]->menu()->actions();
    QCOMPARE(file.size(), 3);
    QCOMPARE(file[0]->text(), QStringLiteral("接続(&O)"));
    QVERIFY(file[1]->isSeparator());
    QCOMPARE(file[2]->text(), QStringLiteral("終了(&X)"));
    const QList<QAction*> help = top[1]->menu()->actions();
    QCOMPARE(help.size(), 2);
    QCOMPARE(help[0]->text(), QStringLiteral("取り扱い説明書(&M)"));
    QCOMPARE(help[1]->text(), QStringLiteral("バージョン情報(&A)"));
}

void TestMainWindow::encodingCheckBoxEnablesCharsetList()
{
    TForm1 form;
    auto* box = form.findChild<QCheckBox*>(QStringLiteral("CheckBox1"));
    QVERIFY(box && box->text() == QStringLiteral("エンコード"));
    QVERIFY(!box->isChecked() && !charsetList(form)->isEnabled());
    box->click();
    QVERIFY(charsetList(form)->isEnabled());
    box->click();
    QVERIFY(!charsetList(form)->isEnabled());
    MainWindowPort::UploadOptions stored;
    stored.convert = true;
    form.applyUploadOptions(stored);
    QVERIFY(charsetList(form)->isEnabled());
}

void TestMainWindow::storedOptionsApplied_data()
{
    QTest::addColumn<bool>("mode1");
    QTest::addColumn<bool>("mode2");
    QTest::addColumn<bool>("mode3");
    QTest::addColumn<int>("charset");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<int>("charsetShown");

    QTest::newRow("ascii") << true << false << false << 1 << QStringLiteral("アスキーモードで転送") << 1;
    QTest::newRow("ascii and auto: the last true wins")
        << true << false << true << 2 << QStringLiteral("自動判別で転送") << 2;
    QTest::newRow("ascii and binary") << true << true << false << 0 << QStringLiteral("バイナリモードで転送") << 0;
    QTest::newRow("none on") << false << false << false << 0 << QString() << 0;
    QTest::newRow("charset out of range selects nothing")
        << false << true << false << 3 << QStringLiteral("バイナリモードで転送") << -1;
    QTest::newRow("negative charset") << false << false << true << -1 << QStringLiteral("自動判別で転送") << -1;
}

void TestMainWindow::storedOptionsApplied()
{
    QFETCH(bool, mode1);
    QFETCH(bool, mode2);
    QFETCH(bool, mode3);
    QFETCH(int, charset);
    QFETCH(QString, selected);
    QFETCH(int, charsetShown);
    TForm1 form;
    MainWindowPort::UploadOptions stored;
    stored.mode1 = mode1;
    stored.mode2 = mode2;
    stored.mode3 = mode3;
    stored.charsetIndex = charset;
    form.applyUploadOptions(stored);
    QStringList on;
    for (auto* button : form.findChildren<QRadioButton*>())
        if (button->isChecked())
            on << button->text();
    QCOMPARE(on, selected.isEmpty() ? QStringList() : QStringList{selected});
    QCOMPARE(charsetList(form)->currentIndex(), charsetShown);
    const MainWindowPort::UploadOptions read = form.uploadOptions();
    QCOMPARE(read.mode1, selected == QStringLiteral("アスキーモードで転送"));
    QCOMPARE(read.mode3, selected == QStringLiteral("自動判別で転送"));
}

void TestMainWindow::versionDialog()
{
    TForm1 form;
    form.show();
    QString caption;
    QSize size;
    QStringList texts;
    whenModal([&](QWidget* modal) {
        caption = modal->windowTitle();
        size = modal->size();
        for (auto* label : modal->findChildren<QLabel*>())
            texts << label->text();
        if (auto* link = modal->findChild<QLabel*>(QStringLiteral("Label2")))
            QTest::mouseClick(link, Qt::LeftButton);
        QTest::keyClick(modal, Qt::Key_Escape); // Esc presses "閉じる"
    });
    clearOpenedAddresses();
    form.A1Click();
    QCOMPARE(caption, QStringLiteral("バージョン情報"));
    QCOMPARE(size, QSize(195, 94));
    QVERIFY(texts.contains(QStringLiteral("PELNO Ver.2.10")));
    QVERIFY(texts.contains(links::kMakerHome));
    QCOMPARE(openedAddresses(), QStringList{links::kMakerHome}); // in the desktop's browser, the dialog stays
    // the help menu's manual opens in the desktop's browser as well
    QVERIFY(triggerAction(form, "M1"));
    QCOMPARE(openedAddresses(), QStringList({links::kMakerHome, links::kManual}));
    QVERIFY(!QApplication::activeModalWidget());

    bool closedByButton = false;
    whenModal([&](QWidget* modal) { closedByButton = pressButton(modal, QStringLiteral("閉じる")); });
    form.A1Click();
    QVERIFY(closedByButton);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestMainWindow::closingWithoutWorkersFreesLists()
{
    TForm1 form;
    form.show();
    form.state().UploadQueue << QStringLiteral("/tmp/a");
    form.state().DeleteQueue << QStringLiteral("/a");
    form.state().DeferredDirectoryQueue << QStringLiteral("/d");
    form.state().ListingLines << QStringLiteral("line");
    QVERIFY(form.close());
    QCOMPARE(form.statusText(), QStringLiteral("アプリケーションを終了しています"));
    QVERIFY(form.state().UploadQueue.isEmpty() && form.state().DeleteQueue.isEmpty());
    QVERIFY(form.state().DeferredDirectoryQueue.isEmpty() && form.state().ListingLines.isEmpty());
    QVERIFY(form.state().closing);
}

void TestMainWindow::closingWaitsForWorkersWhileServingThem()
{
    TForm1 form;
    form.show();
    // One worker in an upload slot and one in a delete slot, both busy calling into the main thread.
    BlockingWorker upload(form.state(), 3);
    BlockingWorker remove(form.state(), 12);
    ThreadGuard running;
    form.state().WorkerSlots[3] = &upload;
    form.state().WorkerSlots[12] = &remove;
    running.start(upload);
    running.start(remove);
    QTRY_VERIFY(upload.exchanges > 2 && remove.exchanges > 2);

    QVERIFY(form.close());
    QVERIFY(upload.isFinished() && remove.isFinished());
    QVERIFY(upload.completedOnMainThread && remove.completedOnMainThread);
    QVERIFY(!form.state().WorkerSlots[3] && !form.state().WorkerSlots[12]);
}

void TestMainWindow::connectCancelledChangesNothing()
{
    const std::unique_ptr<TForm1> form = showMainWindow();
    QVERIFY(form);
    whenModal([](QWidget* modal) { QVERIFY(pressButton(modal, QStringLiteral("中止"))); });
    form->C1Click();
    QCOMPARE(form->currentLayout(), MainWindowPort::Layout::Start);
    QVERIFY(form->state().credentials.server.isEmpty());
}

void TestMainWindow::connectRestoresStoredOptionsAndListsRoot_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("convert");
    QTest::addColumn<int>("charset");
    QTest::addColumn<QString>("mode");

    QTest::newRow("no settings file keeps the option bar")
        << QByteArray() << QStringLiteral("/") << false << 0 << QStringLiteral("自動判別で転送");
    QTest::newRow("stored options") << QByteArray(
                                           "[app]\ndir=/www/\nconv=0x1\ncharset=2\nmode1=1\nmode3=0\nchangedonly=1\n")
                                    << QStringLiteral("/www/") << true << 2 << QStringLiteral("アスキーモードで転送");
    QTest::newRow("conv 2, charset out of range, ascii and auto")
        << QByteArray("[APP]\nDir=/\nconv=2\ncharset=7\nmode1=1\nmode3=1\n") << QStringLiteral("/") << true << -1
        << QStringLiteral("自動判別で転送");
    QTest::newRow("conv letters reads false")
        << QByteArray("[app]\nconv=yes\nmode2=1\nmode3=0\n") << QStringLiteral("/") << false << 0
        << QStringLiteral("バイナリモードで転送");
}

void TestMainWindow::connectRestoresStoredOptionsAndListsRoot()
{
    QFETCH(QByteArray, stored);
    QFETCH(QString, target);
    QFETCH(bool, convert);
    QFETCH(int, charset);
    QFETCH(QString, mode);

    ConnectedWindow s;
    QVERIFY(QDir(s.server.root()).mkpath(QStringLiteral("www")));
    QVERIFY(QDir(s.server.root()).mkpath(QStringLiteral("cgi-bin")));
    if (!stored.isEmpty())
        writeConfig(stored);
    // The connect shows the browser layout, takes the server into the credentials and leaves no lock behind.
    QVERIFY(connectSession(s));

    TForm1& form = *s.form;
    QCOMPARE(form.state().RemoteTarget, target);
    QCOMPARE(form.uploadOptions().convert, convert);
    QCOMPARE(charsetList(form)->isEnabled(), convert);
    QCOMPARE(charsetList(form)->currentIndex(), charset);
    QVERIFY(modeButton(form, mode)->isChecked());
    // "変更分のみ送信" is on only where the file says so
    auto* changedOnly = form.findChild<QCheckBox*>(QStringLiteral("ChangedOnlyBox"));
    QVERIFY(changedOnly);
    QCOMPARE(changedOnly->isChecked(), stored.contains("changedonly=1"));
    QCOMPARE(form.uploadOptions().changedOnly, stored.contains("changedonly=1"));
    QStringList roots = childNames(form.tree(), nullptr);
    roots.sort();
    QCOMPARE(roots, (QStringList{QStringLiteral("cgi-bin"), QStringLiteral("www")}));
}

int main(int argc, char* argv[])
{
    PelnoApplication app(argc, argv);
    TestMainWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
