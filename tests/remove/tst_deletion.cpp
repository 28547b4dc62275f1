#include "app/application.h"
#include "browse/filelistview.h"
#include "browse/remotebrowser.h"
#include "connectedwindow.h"
#include "droppaths.h"
#include "modal.h"
#include "remove/deletecontroller.h"
#include "testfiles.h"

#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

namespace {

const QString EndMessage = QStringLiteral("削除処理が終了しました。");

FtpServerFixture::Options serverOptions()
{
    FtpServerFixture::Options options;
    options.readOnlyDirs = QStringList{QStringLiteral("p/ro")};
    options.noEnterDirs = QStringList{QStringLiteral("q/ne")};
    return options;
}

int deleteWorkersRunning(TForm1& form)
{
    int count = 0;
    for (int slot = MainState::kDeleteSlotFirst; slot < MainState::kDeleteSlotFirst + MainState::kSlotsPerKind; ++slot)
        count += form.state().WorkerSlots[slot] ? 1 : 0;
    return count;
}

// Selects the file-list items with these captions and no others; an empty list selects every item.
void selectItems(TForm1& form, const QStringList& chosen)
{
    for (int row = 0; row < form.fileList()->count(); ++row)
        form.fileList()->setSelected(row, chosen.isEmpty() || chosen.contains(form.fileList()->caption(row)));
}

// The commands the server received, without their session numbers, that begin with prefix.
QStringList received(const FtpServerFixture& server, const QString& prefix)
{
    QStringList out;
    for (const QString& line : server.commands()) {
        const QString command = line.section(QLatin1Char(' '), 1);
        if (command.startsWith(prefix))
            out << command;
    }
    return out;
}

QSet<QString> sessionsOf(const FtpServerFixture& server, const QString& prefix)
{
    QSet<QString> sessions;
    for (const QString& line : server.commands())
        if (line.section(QLatin1Char(' '), 1).startsWith(prefix))
            sessions.insert(line.section(QLatin1Char(' '), 0, 0));
    return sessions;
}

} // namespace

class TestDeletion : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void treeDeletionFilesThenDirectoriesInOrder_data();
    void treeDeletionFilesThenDirectoriesInOrder();
    void listDeletionOfDirectoryKeepsTrailingSlash();
    void listDeletionOfFilesOnlyRunsNoListing();
    void emptyDirectoriesOnlyGoToSeveralWorkers();
    void aWorkerKeepsItsLogin_data();
    void aWorkerKeepsItsLogin();
    void undeletableFileFailsWithItsAncestors();
    void exactlyTheChosenNamesAreDeleted();
    void refusedDirectoryIsNotEntered();
    void refusedConnection_data();
    void refusedConnection();
    void secondCommandWhileDeletingIsRefused();
    void closingStopsAfterTheEntryUnderWay();
    void listCommandsActOnTheListedDirectory_data();
    void listCommandsActOnTheListedDirectory();
    void nothingStartsWhileClosing();
    void stopDuringDeletion_data();
    void stopDuringDeletion();
    void stopDuringPlanningDeletesNothing();
    void directoryPhaseByDepth_data();
    void directoryPhaseByDepth();
    void largeTree_data();
    void largeTree();

private:
    // Creates the files (a trailing "/" makes an empty folder) below the server's root.
    void put(const QStringList& entries);
    // A main window connected to the shared test server through its dialog, as a user does it.
    void connectWindow();
    void chooseNode(const QString& name);
    // Clicks a node as the user does, with the keyboard modifiers held.
    void clickNode(const QString& name, Qt::KeyboardModifiers modifiers);
    // Presses Esc in the main window, as a user stops a deletion while the browser layout is in view.
    void pressEscape();
    // Chooses a context-menu command by its action's name, as the menu does.
    void choose(const char* action);
    // Waits until the deletion has ended and its message was answered.
    void waitForEnd();
    void runToEnd(const char* action)
    {
        choose(action);
        waitForEnd();
    }
    bool exists(const QString& relative) const { return QFileInfo::exists(m_window.serverRoot() + '/' + relative); }

    ConnectedWindow m_window;
    FtpServerFixture& m_server = m_window.server;
    std::unique_ptr<TForm1>& m_form = m_window.form;
    QStringList m_messages;
    // Message boxes are answered like a user does, whenever they open, and their texts noted.
    ModalAnswerer m_answerer{[this](QWidget* modal) {
                                 if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                                     m_messages << box->text();
                                     pressButton(box);
                                 }
                             },
                             false};
};

void TestDeletion::initTestCase()
{
    QVERIFY(m_server.start(serverOptions()));
}

void TestDeletion::init()
{
    if (!m_server.isRunning())
        QVERIFY(m_server.start(serverOptions()));
    QDir root(m_server.root());
    for (const QString& name : root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        QVERIFY(QFileInfo(root.filePath(name)).isDir() ? QDir(root.filePath(name)).removeRecursively()
                                                       : root.remove(name));
    m_messages.clear();
}

void TestDeletion::cleanup()
{
    // A drop saved the upload options beside the program; the next window starts without them.
    QFile::remove(QCoreApplication::applicationDirPath() + QStringLiteral("/AppConfig.ini"));
    m_answerer.stop();
    m_form.reset();
    m_window.sshd.reset(); // the next test speaks FTP again
}

void TestDeletion::put(const QStringList& entries)
{
    for (const QString& entry : entries) {
        const QString local = m_window.serverRoot() + QLatin1Char('/') + entry;
        QVERIFY(entry.endsWith(QLatin1Char('/')) ? QDir().mkpath(local) : writeAll(local, "content"));
    }
    m_window.handOverServerFiles();
}

void TestDeletion::connectWindow()
{
    QVERIFY(::connectWindow(m_window));
    m_answerer.start();
}

void TestDeletion::chooseNode(const QString& name)
{
    QTreeWidgetItem* item = nodeNamed(m_form->tree(), name);
    QVERIFY2(item, qPrintable(name));
    m_form->tree()->setCurrentItem(item); // lists it, as a click does
    QVERIFY(item->isSelected());
}

void TestDeletion::clickNode(const QString& name, Qt::KeyboardModifiers modifiers)
{
    QTreeWidgetItem* item = nodeNamed(m_form->tree(), name);
    QVERIFY2(item, qPrintable(name));
    ::clickNode(m_form->tree(), item, modifiers);
    QTRY_VERIFY(!m_form->state().BusyLock);
}

void TestDeletion::choose(const char* action)
{
    QVERIFY(triggerAction(*m_form, action));
}

void TestDeletion::waitForEnd()
{
    QTRY_VERIFY_WITH_TIMEOUT(m_messages.contains(EndMessage) && !m_form->remover().deletionUnderWay(), 60000);
    QCOMPARE(m_messages.count(EndMessage), 1);
    QCOMPARE(deleteWorkersRunning(*m_form), 0);
    QCOMPARE(m_form->statusText(), QString());
}

void TestDeletion::treeDeletionFilesThenDirectoriesInOrder_data()
{
    QTest::addColumn<bool>("sftp");
    QTest::newRow("FTP") << false;
    QTest::newRow("SFTP") << true;
}

void TestDeletion::treeDeletionFilesThenDirectoriesInOrder()
{
    QFETCH(bool, sftp);
    if (sftp)
        QVERIFY(startSftpServer(m_window));
    put({"a/s/g", "a/f", "keep/sub/"});
    connectWindow();
    chooseNode(QStringLiteral("keep"));
    QVERIFY(nodeNamed(m_form->tree(), QStringLiteral("sub")));
    chooseNode(QStringLiteral("a"));
    m_server.clearLog();

    choose("D1");
    // The plan is split and ten file workers are under way; none has had its first batch yet.
    MainState& state = m_form->state();
    QCOMPARE(state.DeleteQueue, (QStringList{"/a/f", "/a/s/g"}));
    QCOMPARE(state.DeferredDirectoryQueue, (QStringList{"/a/s", "/a"}));
    QCOMPARE(deleteWorkersRunning(*m_form), 10);
    QCOMPARE(state.DeleteContext, 0);
    QCOMPARE(m_form->plannedCountLabel()->text(), QStringLiteral("4"));
    QCOMPARE(m_form->progressBar()->maximum(), 4);
    QCOMPARE(m_form->statusText(), QStringLiteral("ファイルを削除しています"));
    QCOMPARE(m_form->currentLayout(), MainWindowPort::Layout::Browser);
    waitForEnd();

    QVERIFY(!exists("a") && exists("keep/sub"));
    QVERIFY(state.FailedList.isEmpty());
    QCOMPARE(m_form->sentCountLabel()->text(), QStringLiteral("4"));
    QCOMPARE(m_form->progressBar()->value(), 4);
    if (sftp) {
        // the listing afterwards no longer shows what went
        QTRY_VERIFY(!nodeNamed(m_form->tree(), QStringLiteral("a")));
        QVERIFY(nodeNamed(m_form->tree(), QStringLiteral("keep")));
        return;
    }
    // Files first, then the directories level by level, children before parents.
    const QStringList commands = m_server.commands();
    QCOMPARE(received(m_server, "RMD "), (QStringList{"RMD /a/s", "RMD /a"}));
    QStringList deletes = received(m_server, "DELE ");
    deletes.sort();
    QCOMPARE(deletes, (QStringList{"DELE /a/f", "DELE /a/s/g"}));
    int lastDelete = -1, firstRemove = int(commands.size());
    for (int i = 0; i < commands.size(); ++i) {
        if (commands[i].contains(" DELE "))
            lastDelete = i;
        if (commands[i].contains(" RMD "))
            firstRemove = std::min(firstRemove, i);
    }
    QVERIFY(lastDelete < firstRemove);
    // One refresh, over the browser's kept connection (it logged in before the command); a top-level directory was
    // deleted, so the root is listed again as after connecting: the connection changes back to where it logged in.
    const QSet<QString> refreshing = sessionsOf(m_server, "LIST") - sessionsOf(m_server, "USER");
    QCOMPARE(refreshing.size(), 1);
    const int refresh = refreshing.begin()->toInt();
    QCOMPARE(m_server.commandsOfSession(refresh).filter(QRegularExpression("^(CWD|LIST)")),
             (QStringList{"CWD /", "LIST -a"}));
    // The plan was listed over connections of its own, one login each.
    for (const QString& planning : sessionsOf(m_server, "LIST") - refreshing)
        QCOMPARE(m_server.commandsOfSession(planning.toInt()).filter(QRegularExpression("^USER ")).size(), 1);
    QVERIFY(!nodeNamed(m_form->tree(), QStringLiteral("a")));
    QVERIFY(nodeNamed(m_form->tree(), QStringLiteral("keep")) && !nodeNamed(m_form->tree(), QStringLiteral("sub")));
}

void TestDeletion::listDeletionOfDirectoryKeepsTrailingSlash()
{
    put({"www/img/x.png", "www/index.html"});
    connectWindow();
    chooseNode(QStringLiteral("www"));
    selectItems(*m_form, {"img"});
    m_server.clearLog();
    // The user selects another item while the planning listing runs: the command keeps what was chosen.
    bool changedDuringPlanning = false;
    QTimer::singleShot(0, this, [&] {
        changedDuringPlanning = m_form->remover().deletionUnderWay() && deleteWorkersRunning(*m_form) == 0;
        selectItems(*m_form, {"index.html"});
    });
    choose("D3");
    QVERIFY(changedDuringPlanning);
    QCOMPARE(m_form->state().DeleteQueue, QStringList{"/www/img/x.png"});
    QCOMPARE(m_form->state().DeferredDirectoryQueue, QStringList{"/www/img/"});
    QCOMPARE(m_form->state().DeleteContext, 1);
    waitForEnd();

    QCOMPARE(received(m_server, "RMD "), QStringList{"RMD /www/img/"});
    QVERIFY(!exists("www/img") && exists("www/index.html"));
    // The list command refreshes the directory the list shows.
    QCOMPARE(captions(m_form->fileList()), QStringList{"index.html"});
    QCOMPARE(nodeNamed(m_form->tree(), QStringLiteral("www"))->childCount(), 0);
}

void TestDeletion::listDeletionOfFilesOnlyRunsNoListing()
{
    put({"www/a.txt", "www/b.txt", "www/c.txt"});
    connectWindow();
    chooseNode(QStringLiteral("www"));
    selectItems(*m_form, {"a.txt", "b.txt"});
    m_server.clearLog();
    choose("D3");
    QCOMPARE(m_form->state().DeleteQueue, (QStringList{"/www/a.txt", "/www/b.txt"}));
    QVERIFY(m_form->state().DeferredDirectoryQueue.isEmpty());
    QCOMPARE(deleteWorkersRunning(*m_form), 10);
    waitForEnd();

    QCOMPARE(received(m_server, "LIST"), QStringList{"LIST -a"}); // the refresh only, no planning listing
    QVERIFY(received(m_server, "RMD").isEmpty());
    QVERIFY(!exists("www/a.txt") && !exists("www/b.txt") && exists("www/c.txt"));
    QCOMPARE(captions(m_form->fileList()), QStringList{"c.txt"});
}

void TestDeletion::emptyDirectoriesOnlyGoToSeveralWorkers()
{
    QStringList dirs;
    for (int i = 0; i < 25; ++i)
        dirs << QStringLiteral("e%1").arg(i, 2, 10, QLatin1Char('0'));
    for (const QString& dir : dirs)
        put({"www/" + dir + "/"});
    connectWindow();
    chooseNode(QStringLiteral("www"));
    selectItems(*m_form, {});
    m_server.clearLog();
    choose("D3");
    QCOMPARE(m_form->state().DeleteQueue.size(), 25);
    QCOMPARE(m_form->state().DeleteQueue.first(), QStringLiteral("/www/e00/"));
    QVERIFY(m_form->state().DeferredDirectoryQueue.isEmpty());
    QCOMPARE(m_form->plannedCountLabel()->text(), QStringLiteral("25"));
    waitForEnd();

    QCOMPARE(received(m_server, "RMD ").size(), 25);
    QVERIFY(received(m_server, "DELE").isEmpty());
    QVERIFY(sessionsOf(m_server, "RMD ").size() >= 3); // batches of ten spread over several workers
    QVERIFY(m_form->state().FailedList.isEmpty());
    QVERIFY(captions(m_form->fileList()).isEmpty());
}

void TestDeletion::aWorkerKeepsItsLogin_data()
{
    QTest::addColumn<int>("changesPerSession"); // the server ends a session after so many deletions; 0: never
    QTest::addColumn<int>("count");
    QTest::newRow("one login for all batches") << 0 << 150;
    // the next deletion meets the closed connection and is tried again after a new login
    QTest::newRow("session ended by the server") << 4 << 60;
}
void TestDeletion::aWorkerKeepsItsLogin()
{
    QFETCH(int, changesPerSession);
    QFETCH(int, count);
    if (changesPerSession > 0) {
        m_server.stop();
        m_server.setChangesPerSession(changesPerSession);
        QVERIFY(m_server.start(serverOptions()));
    }
    const auto restore = qScopeGuard([this, changesPerSession] {
        if (changesPerSession > 0) {
            m_server.stop();
            m_server.setChangesPerSession(0);
        }
    });
    QStringList files;
    for (int i = 0; i < count; ++i)
        files << QStringLiteral("www/f%1").arg(i, 3, 10, QLatin1Char('0'));
    put(files);
    connectWindow();
    chooseNode(QStringLiteral("www"));
    selectItems(*m_form, {});
    m_server.clearLog();
    runToEnd("D3");

    QCOMPARE(filesBelow(m_server.root() + "/www"), QStringList{});
    QCOMPARE(m_form->sentCountLabel()->text(), QString::number(count));
    QVERIFY(m_form->state().FailedList.isEmpty());
    if (changesPerSession > 0) {
        QVERIFY(m_server.logins() >= count / changesPerSession);
        return;
    }
    // Fifteen batches of ten over at most ten connections: one login each, ended with QUIT.
    const QSet<QString> deleting = sessionsOf(m_server, "DELE ");
    QVERIFY(!deleting.isEmpty() && deleting.size() <= MainState::kSlotsPerKind);
    for (const QString& session : deleting) {
        QCOMPARE(m_server.commandsOfSession(session.toInt()).filter(QRegularExpression("^USER ")).size(), 1);
        QTRY_COMPARE(m_server.commandsOfSession(session.toInt()).last(), QStringLiteral("QUIT"));
    }
}

void TestDeletion::undeletableFileFailsWithItsAncestors()
{
    put({"p/ok", "p/ro/x"});
    connectWindow();
    chooseNode(QStringLiteral("p"));
    runToEnd("D1");
    QCOMPARE(m_form->state().FailedList, (QStringList{"/p/ro/x", "/p/ro", "/p"}));
    QVERIFY(!exists("p/ok") && exists("p/ro/x"));
    QCOMPARE(m_form->sentCountLabel()->text(), QStringLiteral("1"));
}

void TestDeletion::exactlyTheChosenNamesAreDeleted()
{
    put({"n/my docs/a b.txt", "n/docs", "n/keep docs", "n/日本語/ファイル.txt", "n/two  spaces.txt", "n/x docs/"});
    connectWindow();
    chooseNode(QStringLiteral("n"));
    selectItems(*m_form, {"my docs", "docs", "日本語", "two  spaces.txt"});
    runToEnd("D3");
    QVERIFY(m_form->state().FailedList.isEmpty());
    QCOMPARE(filesBelow(m_server.root() + "/n"), QStringList{"keep docs"});
    QVERIFY(exists("n/x docs") && !exists("n/my docs") && !exists("n/日本語"));
}

void TestDeletion::refusedDirectoryIsNotEntered()
{
    put({"q/f", "q/ne/secret", "www/index.html", "top.txt"});
    connectWindow();
    chooseNode(QStringLiteral("q"));
    runToEnd("D1");
    QCOMPARE(m_form->state().FailedList, (QStringList{"/q/ne", "/q"}));
    QCOMPARE(filesBelow(m_server.root()), (QStringList{"q/ne/secret", "top.txt", "www/index.html"}));
}

void TestDeletion::refusedConnection_data()
{
    QTest::addColumn<bool>("serverStopped");
    QTest::newRow("login refused") << false;
    QTest::newRow("server stopped") << true;
}

void TestDeletion::refusedConnection()
{
    QFETCH(bool, serverStopped);
    QStringList files;
    QStringList paths;
    for (int i = 0; i < 25; ++i) {
        files << QStringLiteral("www/f%1").arg(i, 2, 10, QLatin1Char('0'));
        paths << QLatin1Char('/') + files.last();
    }
    put(files);
    connectWindow();
    chooseNode(QStringLiteral("www"));
    selectItems(*m_form, {});
    if (serverStopped)
        m_server.stop();
    else
        m_form->state().credentials.password = QStringLiteral("changed meanwhile");
    m_server.clearLog();
    runToEnd("D3");

    QStringList failed = m_form->state().FailedList;
    failed.sort();
    QCOMPARE(failed, paths);
    QCOMPARE(filesBelow(m_server.root() + "/www").size(), 25);
    QCOMPARE(m_form->sentCountLabel()->text(), QStringLiteral("0"));
    if (!serverStopped) {
        // One connect attempt per batch of ten (three batches), and one for the refresh listing.
        QCOMPARE(sessionsOf(m_server, "USER").size(), 4);
        QCOMPARE(m_server.logins(), 0);
    }
}

void TestDeletion::secondCommandWhileDeletingIsRefused()
{
    QStringList files;
    for (int i = 0; i < 60; ++i)
        files << QStringLiteral("big/f%1").arg(i, 3, 10, QLatin1Char('0'));
    put(files + QStringList{"other/y"});
    connectWindow();
    chooseNode(QStringLiteral("big"));
    selectItems(*m_form, {});
    choose("D3");

    // The tree command on another directory, chosen while the first deletion runs, is refused and changes nothing.
    QTreeWidgetItem* other = nodeNamed(m_form->tree(), QStringLiteral("other"));
    m_form->tree()->clearSelection();
    other->setSelected(true);
    choose("D1");
    QVERIFY(m_messages.contains(QStringLiteral("現在処理中です。\r\n処理が終了してから再度実行してください。")));
    QCOMPARE(m_form->state().DeleteContext, 1);

    waitForEnd();
    QCOMPARE(m_messages.size(), 2);
    QVERIFY(m_form->state().FailedList.isEmpty());
    QVERIFY(filesBelow(m_server.root() + "/big").isEmpty());
    QVERIFY(exists("other/y") && nodeNamed(m_form->tree(), QStringLiteral("other")));
}

void TestDeletion::closingStopsAfterTheEntryUnderWay()
{
    QStringList files;
    for (int i = 0; i < 300; ++i)
        files << QStringLiteral("big/f%1").arg(i, 3, 10, QLatin1Char('0'));
    put(files);
    connectWindow();
    chooseNode(QStringLiteral("big"));
    selectItems(*m_form, {});
    m_server.clearLog();
    choose("D3");
    // Close as soon as the first deletion reached the server, while the workers are in their batches.
    QDeadlineTimer deadline(30000);
    while (received(m_server, "DELE").isEmpty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    m_form->close();

    QCOMPARE(deleteWorkersRunning(*m_form), 0);
    const int tried = int(received(m_server, "DELE").size());
    const int left = int(filesBelow(m_server.root() + "/big").size());
    QVERIFY2(left > 0, "every file was deleted before the stop request");
    // Each deletion sent was finished, none was abandoned, and what was not tried is not reported as failed.
    QCOMPARE(tried + left, 300);
    QVERIFY(m_form->state().FailedList.isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(m_form->statusText(), QStringLiteral("アプリケーションを終了しています"));
    QCOMPARE(received(m_server, "DELE").size(), tried); // nothing reaches the server after the close
}

void TestDeletion::listCommandsActOnTheListedDirectory_data()
{
    QTest::addColumn<bool>("ctrlClicks"); // false: a tree deletion of www/old first
    QTest::addColumn<QString>("command"); // D3 delete, D2 create a directory, drop, double-click

    for (const bool ctrlClicks : {false, true}) {
        const char* sequence = ctrlClicks ? "Ctrl clicks, " : "tree deletion, ";
        for (const char* command : {"D3", "D2", "drop", "double-click"})
            QTest::newRow(QByteArray(sequence).append(command).constData()) << ctrlClicks << QString(command);
    }
}

// Two ordinary sequences leave the file list showing www while the tree selects something else or nothing: a
// tree deletion of www/old (its parent is listed again and the selected node goes with the old children), and a
// Ctrl click that takes www back out of the selection. The list's commands still act on www.
void TestDeletion::listCommandsActOnTheListedDirectory()
{
    QFETCH(bool, ctrlClicks);
    QFETCH(QString, command);
    put({"index.html", "www/index.html", "www/old/f", "www/sub/", "other/index.html", "other/sub/"});
    connectWindow();
    if (ctrlClicks) {
        chooseNode(QStringLiteral("other"));
        clickNode(QStringLiteral("www"), Qt::ControlModifier);
        clickNode(QStringLiteral("www"), Qt::ControlModifier);
        QCOMPARE(m_form->browser().selectedNode(), nodeNamed(m_form->tree(), QStringLiteral("other")));
    } else {
        chooseNode(QStringLiteral("www"));
        chooseNode(QStringLiteral("old"));
        runToEnd("D1");
        QVERIFY(!exists("www/old"));
        // The listed parent took the place of the deleted node in the selection.
        QCOMPARE(m_form->tree()->selectedItems(),
                 QList<QTreeWidgetItem*>{nodeNamed(m_form->tree(), QStringLiteral("www"))});
        m_messages.clear();
    }
    QCOMPARE(captions(m_form->fileList()).last(), QStringLiteral("index.html"));
    QVERIFY(captions(m_form->fileList()).contains(QStringLiteral("sub")));

    if (command == "D3") {
        selectItems(*m_form, {"index.html"});
        runToEnd("D3");
        QVERIFY(!exists("www/index.html"));
        QVERIFY(exists("index.html") && exists("other/index.html"));
    } else if (command == "D2") {
        whenModal([](QWidget* modal) {
            auto* dialog = qobject_cast<QInputDialog*>(modal);
            QVERIFY(dialog);
            dialog->setTextValue(QStringLiteral("made"));
            dialog->accept();
        });
        choose("D2");
        QTRY_VERIFY(exists("www/made"));
        QVERIFY(!exists("made") && !exists("other/made"));
        QVERIFY(captions(m_form->fileList()).contains(QStringLiteral("made"))); // the list shows www again
    } else if (command == "drop") {
        QTemporaryDir local;
        QVERIFY(writeAll(local.filePath("dropped.txt"), "dropped"));
        dropPaths(m_form->fileList()->currentView()->viewport(), {local.filePath("dropped.txt")});
        QTRY_VERIFY_WITH_TIMEOUT(
            !m_messages.filter(QRegularExpression(QStringLiteral("^送信処理が終了しました。"))).isEmpty(), 60000);
        QVERIFY(exists("www/dropped.txt"));
        QVERIFY(!exists("dropped.txt") && !exists("other/dropped.txt"));
    } else {
        doubleClickRow(m_form->fileList(), rowOf(m_form->fileList(), QStringLiteral("sub")));
        QTRY_VERIFY(!m_form->tree()->selectedItems().isEmpty() && !m_form->state().BusyLock);
        QCOMPARE(m_form->browser().RemotePathOfNode(m_form->browser().selectedNode()), QStringLiteral("/www/sub"));
    }
}

// The close waits for a deletion of many files; a drop and every menu command meanwhile start nothing: no worker
// outlives the lists, no listing or dialog opens, nothing reaches the server.
void TestDeletion::nothingStartsWhileClosing()
{
    // The planned count groups its digits like the upload's, also where the locale would leave them out.
    const QLocale savedLocale;
    QLocale::setDefault(QLocale::c());
    QStringList files;
    for (int i = 0; i < 1200; ++i)
        files << QStringLiteral("big/f%1").arg(i, 4, 10, QLatin1Char('0'));
    put(files);
    QTemporaryDir local;
    QVERIFY(writeAll(local.filePath("site/a.txt"), "a") && writeAll(local.filePath("site/img/b.png"), "b"));
    connectWindow();
    chooseNode(QStringLiteral("big"));
    selectItems(*m_form, {});
    choose("D3");
    QLocale::setDefault(savedLocale);
    QCOMPARE(m_form->plannedCountLabel()->text(), QStringLiteral("1,200"));
    QDeadlineTimer deadline(30000);
    while (received(m_server, "DELE").isEmpty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);

    // Any window that opens during the close is noted and closed, so that a fault shows instead of hanging.
    QStringList windows;
    ModalAnswerer closer([&windows](QWidget* modal) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            windows << dialog->metaObject()->className();
            dialog->reject();
        }
    });
    const qsizetype messagesBefore = m_messages.size();
    bool actedWhileWaiting = false;
    QTimer::singleShot(0, this, [&] {
        actedWhileWaiting = m_form->state().closing && deleteWorkersRunning(*m_form) > 0;
        m_server.clearLog();
        dropPaths(m_form->tree()->viewport(), {local.filePath("site")});
        dropPaths(m_form->fileList()->currentView()->viewport(), {local.filePath("site/a.txt")});
        for (const char* action : {"C1", "A1", "C2", "D1", "D2", "D3"})
            choose(action);
        m_form->tree()->setCurrentItem(m_form->tree()->topLevelItem(0));
    });
    m_form->close();
    closer.stop();

    QVERIFY(actedWhileWaiting);
    QCOMPARE(deleteWorkersRunning(*m_form), 0);
    for (int slot = 0; slot < int(m_form->state().WorkerSlots.size()); ++slot)
        QVERIFY2(!m_form->state().WorkerSlots[slot], qPrintable(QString::number(slot)));
    for (const char* command : {"STOR", "MKD", "LIST", "RMD"})
        QCOMPARE(received(m_server, command), QStringList());
    QCOMPARE(windows, QStringList());
    QCOMPARE(m_messages.size(), messagesBefore);
}

void TestDeletion::pressEscape()
{
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    QTest::keyClick(m_form.get(), Qt::Key_Escape);
}

// Everything below the server's root, directories included, as "/path".
static QStringList everythingOnServer(const QString& root)
{
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QLatin1Char('/') + QDir(root).relativeFilePath(it.next());
    out.sort();
    return out;
}

void TestDeletion::stopDuringDeletion_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("stopAfter"); // Esc once the progress has passed this many deletions
    QStringList files;
    for (int i = 0; i < 400; ++i)
        files << QStringLiteral("t/d%1/f%2").arg(i % 8).arg(i, 3, 10, QLatin1Char('0'));
    QTest::newRow("file phase") << files << 0;
    // Five files go at once; the stop comes once a worker of the directories' level has reported its first batch.
    QStringList directories{"t/f1", "t/f2", "t/f3", "t/f4", "t/f5"};
    for (int i = 0; i < 40; ++i)
        directories << QStringLiteral("t/d%1/").arg(i, 2, 10, QLatin1Char('0'));
    QTest::newRow("directory phase") << directories << 5;
}

// Esc while the workers delete: what the server still holds is exactly what stays in FailedList, and no directory
// is removed after the stop but the one under way.
void TestDeletion::stopDuringDeletion()
{
    QFETCH(QStringList, entries);
    QFETCH(int, stopAfter);
    put(entries);
    connectWindow();
    chooseNode(QStringLiteral("t"));
    m_form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
    m_server.clearLog();
    // The key goes in during the exchange that passed the mark, while that worker waits for its next batch: how
    // many directories were removed at the stop is then exact, however slow the build (a queued press let a
    // sanitizer build remove several more before it arrived).
    qsizetype removedAtStop = -1;
    int runningAtStop = 0;
    connect(
        m_form->progressBar(), &QProgressBar::valueChanged, this,
        [&](int value) {
            if (value > stopAfter && removedAtStop < 0) {
                removedAtStop = received(m_server, "RMD").size();
                runningAtStop = deleteWorkersRunning(*m_form);
                QTest::keyClick(m_form.get(), Qt::Key_Escape);
            }
        },
        Qt::DirectConnection);
    choose("D1");
    waitForEnd();
    QVERIFY(removedAtStop >= 0);

    QStringList failed = m_form->state().FailedList;
    failed.sort();
    QVERIFY2(!failed.isEmpty(), "the deletion ended before the stop took effect");
    QCOMPARE(everythingOnServer(m_server.root()), failed);
    // Each worker of the level finishes at most the removal it had under way.
    QVERIFY2(received(m_server, "RMD").size() <= removedAtStop + runningAtStop,
             qPrintable(QStringLiteral("%1 at the stop, %2 workers, %3 in all")
                            .arg(removedAtStop)
                            .arg(runningAtStop)
                            .arg(received(m_server, "RMD").size())));
    QVERIFY(m_form->state().DeleteQueue.isEmpty() && m_form->state().DeferredDirectoryQueue.isEmpty());
}

// Esc while the plan is still being listed: the planning ends before its next listing and nothing is deleted; a
// deletion chosen afterwards runs in full.
void TestDeletion::stopDuringPlanningDeletesNothing()
{
    const QStringList tree{"t/a/b/c/f", "t/a/x", "t/d/e/g", "t/h/", "t/i/j/k"};
    put(tree);
    connectWindow();
    chooseNode(QStringLiteral("t"));
    const QStringList before = everythingOnServer(m_server.root());
    m_server.clearLog();
    // Pressed from the event loop that the first planning listing keeps running.
    QTimer::singleShot(0, this, [this] { pressEscape(); });
    choose("D1");

    QCOMPARE(received(m_server, "LIST").size(), 1);
    QCOMPARE(received(m_server, "DELE").size() + received(m_server, "RMD").size(), 0);
    QCOMPARE(everythingOnServer(m_server.root()), before);
    QVERIFY(!m_form->remover().deletionUnderWay());
    QCOMPARE(deleteWorkersRunning(*m_form), 0);
    QCOMPARE(m_form->statusText(), QString());
    QVERIFY(m_messages.isEmpty());

    choose("D1");
    waitForEnd();
    QVERIFY(!exists("t"));
}

void TestDeletion::directoryPhaseByDepth_data()
{
    QTest::addColumn<QStringList>("entries"); // below t; a trailing "/" makes an empty folder
    QTest::addColumn<int>("widestLevel");     // the depth whose removals must spread over several connections
    QStringList wide;
    for (int i = 0; i < 30; ++i)
        wide << QStringLiteral("t/d%1/f").arg(i, 2, 10, QLatin1Char('0'));
    wide << "t/d03/sub/g"
         << "t/d17/sub/deeper/";
    QTest::newRow("a wide level with deeper branches") << wide << 2;
    QStringList emptyOnly;
    for (int i = 0; i < 24; ++i)
        emptyOnly << QStringLiteral("t/e%1/x%2/").arg(i % 3).arg(i);
    QTest::newRow("empty folders only, three levels") << emptyOnly << 3;
    QTest::newRow("one deep chain") << QStringList{"t/1/2/3/4/5/f", "t/1/2/3/4/g"} << 0;
}

// The directories go level by level, deepest first, a level over several workers: every removal reaches the
// server after the removal of everything below that directory, and the whole tree goes.
void TestDeletion::directoryPhaseByDepth()
{
    QFETCH(QStringList, entries);
    QFETCH(int, widestLevel);
    put(entries + QStringList{"keep/k"});
    connectWindow();
    chooseNode(QStringLiteral("t"));
    m_server.clearLog();
    runToEnd("D1");

    QCOMPARE(everythingOnServer(m_server.root()), (QStringList{"/keep", "/keep/k"}));
    QVERIFY(m_form->state().FailedList.isEmpty());
    QStringList removed; // the paths deleted or removed so far, in the order the server got them
    for (const QString& command : received(m_server, "")) {
        const bool directory = command.startsWith(QLatin1String("RMD "));
        if (!directory && !command.startsWith(QLatin1String("DELE ")))
            continue;
        const QString path = command.section(QLatin1Char(' '), 1);
        if (directory) {
            for (const QString& entry : entries) {
                const QString below = QLatin1Char('/') + entry;
                if (below.startsWith(path + QLatin1Char('/')) && below.size() > path.size() + 1) {
                    QString rest = below.mid(path.size() + 1);
                    if (rest.endsWith(QLatin1Char('/')))
                        rest.chop(1);
                    // Every name between the directory and the entry was removed before it.
                    QString step = path;
                    for (const QString& name : rest.split(QLatin1Char('/'))) {
                        step += QLatin1Char('/') + name;
                        QVERIFY2(removed.contains(step), qPrintable(path + QStringLiteral(" before ") + step));
                    }
                }
            }
        }
        removed << path;
    }
    if (widestLevel > 0) {
        QSet<QString> sessions;
        for (const QString& line : m_server.commands())
            if (line.section(QLatin1Char(' '), 1, 1) == QLatin1String("RMD") &&
                line.section(QLatin1Char(' '), 2).count(QLatin1Char('/')) == widestLevel)
                sessions.insert(line.section(QLatin1Char(' '), 0, 0));
        QVERIFY2(sessions.size() >= 2, qPrintable(QString::number(sessions.size())));
    }
}

void TestDeletion::largeTree_data()
{
    QTest::addColumn<bool>("stopDuringPlanning");
    QTest::newRow("deleted in full") << false;
    QTest::newRow("stopped while the plan is listed") << true;
}

// 1,200 files in 60 folders, with empty folders, dot files and names with blanks: the plan, listed in parallel,
// is the one the tree on the server's disk makes, entry for entry, and the server ends empty; a stop while it is
// listed lists no further folder and deletes nothing.
void TestDeletion::largeTree()
{
    QFETCH(bool, stopDuringPlanning);
    QStringList files;
    for (int i = 0; i < 1200; ++i)
        files << QStringLiteral("t/s%1/d %2/f%3.html").arg(i % 6).arg(i % 54, 2, 10, QLatin1Char('0')).arg(i);
    put(files + QStringList{"t/.htaccess", "t/s0/.hidden/", "t/empty/", "t/s1/two  blanks/", "keep/k"});
    connectWindow();
    chooseNode(QStringLiteral("t"));
    const QStringList before = everythingOnServer(m_server.root());
    const QStringList plan = deletionPlanOnDisk(m_server.root(), QStringLiteral("/t/"));
    QStringList planFiles;
    QStringList planDirectories;
    for (const QString& entry : plan)
        (entry.startsWith(QLatin1Char(' ')) ? planDirectories : planFiles) << entry.mid(entry.startsWith(' ') ? 1 : 0);
    m_server.clearLog();
    // Esc as soon as the server got the plan's first listing, from the event loop the listings keep running.
    QTimer stopper;
    if (stopDuringPlanning) {
        m_form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        connect(&stopper, &QTimer::timeout, this, [&] {
            if (!received(m_server, "LIST").isEmpty()) {
                stopper.stop();
                QTest::keyClick(m_form.get(), Qt::Key_Escape);
            }
        });
        stopper.start(1);
    }
    choose("D1");

    MainState& state = m_form->state();
    if (stopDuringPlanning) {
        QCOMPARE(everythingOnServer(m_server.root()), before);
        QVERIFY2(received(m_server, "LIST").size() < planDirectories.size(), "every folder was listed");
        QCOMPARE(received(m_server, "DELE").size() + received(m_server, "RMD").size(), 0);
        QVERIFY(state.DeleteQueue.isEmpty() && !m_form->remover().deletionUnderWay());
        QCOMPARE(deleteWorkersRunning(*m_form), 0);
        QVERIFY(m_messages.isEmpty());
        return;
    }
    // The workers have not had their first batch yet: the queues hold the split plan.
    QCOMPARE(state.DeleteQueue, planFiles);
    QCOMPARE(state.DeferredDirectoryQueue, planDirectories + QStringList{"/t"});
    QCOMPARE(m_form->plannedCountLabel()->text().remove(QRegularExpression("\\D")), QString::number(plan.size() + 1));
    // Every folder listed once, over at most ten connections that logged in once each.
    QCOMPARE(received(m_server, "LIST").size(), planDirectories.size() + 1);
    const QSet<QString> planning = sessionsOf(m_server, "LIST");
    QVERIFY(planning.size() <= MainState::kSlotsPerKind);
    for (const QString& session : planning)
        QCOMPARE(m_server.commandsOfSession(session.toInt()).filter(QRegularExpression("^USER ")).size(), 1);
    waitForEnd();
    QVERIFY(state.FailedList.isEmpty());
    QCOMPARE(everythingOnServer(m_server.root()), (QStringList{"/keep", "/keep/k"}));
}

int main(int argc, char* argv[])
{
    PelnoApplication app(argc, argv);
    TestDeletion test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_deletion.moc"
