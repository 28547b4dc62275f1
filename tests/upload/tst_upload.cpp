#include "app/application.h"
#include "browse/filelistview.h"
#include "modal.h"
#include "settings/appconfig.h"
#include "testfiles.h"
#include "upload/uploadcontroller.h"
#include "uploadsession.h"

#include <QDir>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <sys/stat.h>

namespace {

// A site of a little over a thousand files: nested folders, Japanese names with blanks, dot files, an empty
// folder and a folder that holds only an empty folder; every third file binary, the others text with LF or CR LF
// line ends.
QMap<QString, QByteArray> makeSite(const QString& root)
{
    QMap<QString, QByteArray> files;
    QRandomGenerator random(20240601);
    for (int d = 0; d < 35; ++d) {
        const QString dir =
            d % 5 == 0 ? QStringLiteral("深い/階層 %1/p%2").arg(d).arg(d) : QStringLiteral("p%1").arg(d);
        for (int f = 0; f < 30; ++f) {
            QByteArray bytes;
            QString name;
            if (f % 3 == 0) {
                name = QStringLiteral("img%1.bin").arg(f);
                bytes.resize(200 + int(random.bounded(6000)));
                for (char& c : bytes)
                    c = char(random.bounded(256));
                bytes[0] = '\0';
            } else {
                name = f % 3 == 1 ? QStringLiteral("ページ %1.html").arg(f) : QStringLiteral("s%1.css").arg(f);
                const QByteArray end = f % 3 == 1 ? "\n" : "\r\n";
                for (int line = 0; line < 1 + f; ++line)
                    bytes += QStringLiteral("行 %1 のテキスト text\t%2").arg(line).arg(d).toUtf8() + end;
            }
            files.insert(dir + QLatin1Char('/') + name, bytes);
        }
    }
    files.insert(QStringLiteral(".htaccess"), "Options -Indexes\n");
    files.insert(QStringLiteral("p1/.hidden"), "");
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        writeAll(root + QLatin1Char('/') + it.key(), it.value());
    QDir().mkpath(root + QStringLiteral("/empty"));
    QDir().mkpath(root + QStringLiteral("/outer/inner"));
    return files;
}

bool isBinary(const QString& name)
{
    return name.endsWith(QLatin1String(".bin"));
}

} // namespace

class TestUpload : public QObject
{
    Q_OBJECT
private slots:
    void folderAndFilesOntoTree_data();
    void folderAndFilesOntoTree();
    void listDropIntoRoot();
    void refusedDrops();
    void foldersLinksFifosAndDeadLinks();
    void conversion_data();
    void conversion();
    void closingMidUpload();
    void settingsWriteRefused();
    void elapsedTime_data();
    void elapsedTime();
};

void TestUpload::folderAndFilesOntoTree_data()
{
    QTest::addColumn<bool>("sftp");
    QTest::newRow("FTP") << false;
    QTest::newRow("SFTP") << true;
}

void TestUpload::folderAndFilesOntoTree()
{
    QFETCH(bool, sftp);
    UploadSession s;
    if (sftp) {
        QVERIFY(startSftpServer(s));
        QVERIFY(QDir().mkpath(s.serverRoot() + "/www"));
        s.handOverServerFiles();
        QVERIFY(connectWindow(s));
    } else {
        QVERIFY(QDir().mkpath(s.server.root() + "/www"));
        QVERIFY(connectSession(s));
    }
    QVERIFY(selectNode(s, "www"));

    const QString site = s.localPath("site");
    const QMap<QString, QByteArray> files = makeSite(site);
    QVERIFY(writeAll(s.localPath("single.txt"), "one\ntwo\n"));
    QVERIFY(writeAll(s.localPath("photo.bin"),
                     QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\x01\0\0\0\x01\0\x08\x06\0\0\0", 29)));
    // Every folder is an entry of its own: the site, 28 plain ones, 深い with 7 階層 folders holding one each, and
    // the three (partly) empty ones.
    const int folders = 1 + 28 + 1 + 7 + 7 + 3;
    const int planned = int(files.size()) + 2 + folders;
    QCOMPARE(planned, 1101);

    // The bar and the sent count move together, batch by batch.
    QProgressBar* bar = s.form->progressBar();
    QStringList mismatches;
    connect(bar, &QProgressBar::valueChanged, this, [&](int value) {
        if (s.form->sentCountLabel()->text() != QString::number(value))
            mismatches << s.form->sentCountLabel()->text() + " != " + QString::number(value);
    });

    s.server.clearLog();
    const int loginsBefore = sftp ? s.sshd->logins() : 0;
    QVERIFY(dropPaths(s.treeViewport(), {site, s.localPath("single.txt"), s.localPath("photo.bin")}));
    QCOMPARE(s.form->currentLayout(), MainWindowPort::Layout::Progress);
    QCOMPARE(s.form->plannedCountLabel()->text(), QStringLiteral("1,101"));
    QCOMPARE(bar->maximum(), planned);
    QCOMPARE(s.form->elapsedLabel()->text(), QStringLiteral("00:00:00"));
    QVERIFY(s.form->elapsedTimer()->isActive());
    QCOMPARE(s.form->state().RemoteTarget, QStringLiteral("/www/"));

    QString message;
    answerNext(&message);
    QVERIFY(waitForBrowser(*s.form));
    // The fixed text, then the totals: entries sent (files and folders, as the counters show), bytes and the average
    // rate.
    static const QRegularExpression totals(
        QStringLiteral("^送信処理が終了しました。\\(1,101 ファイル, \\d+\\.\\d [KM]B, \\d+\\.\\d [KM]B/s\\)$"));
    QVERIFY2(totals.match(message).hasMatch(), qPrintable(message));
    QVERIFY(mismatches.isEmpty());
    QCOMPARE(s.form->sentCountLabel()->text(), QString::number(planned));
    QCOMPARE(bar->value(), planned);
    QVERIFY(!s.form->elapsedTimer()->isActive());
    QCOMPARE(s.form->state().ResendRound, 1);
    QVERIFY(s.form->state().FailedList.isEmpty());

    const QStringList expectedStatus{"ドロップされたファイルを解析しています", "ファイルを送信しています",
                                     "ファイルを送信しました"};
    qsizetype at = 0;
    for (const QString& text : expectedStatus) {
        at = s.statusTexts.indexOf(text, at);
        QVERIFY2(at >= 0, qPrintable(s.statusTexts.join(" | ")));
    }

    // The server holds the folder under its own name and the single files beside it; binary files byte for
    // byte, text files with the line ends the server stores for ASCII transfers. Empty folders arrive too.
    const QString www = s.serverRoot() + "/www/";
    QStringList expectedNames{"single.txt", "photo.bin"};
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        expectedNames << "site/" + it.key();
        const QByteArray stored = readAll(www + "site/" + it.key());
        QVERIFY2(stored == (isBinary(it.key()) ? it.value() : storedAsText(it.value())), qPrintable(it.key()));
    }
    expectedNames.sort();
    QCOMPARE(filesBelow(www), expectedNames);
    QVERIFY(QFileInfo(www + "site/empty").isDir());
    QVERIFY(QFileInfo(www + "site/outer/inner").isDir());
    QCOMPARE(readAll(www + "photo.bin"), readAll(s.localPath("photo.bin")));
    QCOMPARE(readAll(www + "single.txt"), QByteArray("one\ntwo\n"));

    // One login per worker; the listing afterwards goes over the browser's kept connection. One STOR per file.
    if (sftp) {
        QCOMPARE(s.sshd->logins() - loginsBefore, MainState::kSlotsPerKind);
    } else {
        const QStringList commands = s.server.commands();
        QCOMPARE(commands.filter(QRegularExpression("^\\d+ STOR ")).size(), planned - folders);
        QCOMPARE(s.server.logins(), MainState::kSlotsPerKind);
        qInfo("%d files: %lld commands in all", planned, commands.size());
    }

    // The listing afterwards shows the new folder below www.
    QTreeWidgetItem* node = nodeNamed(s.tree(), "www");
    QVERIFY(node);
    QVERIFY(childNames(s.tree(), node).contains("site"));

    AppConfig config;
    QCOMPARE(config.readString("app", "dir", QString()), QStringLiteral("/www/"));
    QCOMPARE(config.readBool("app", "mode3", false), true);
    QCOMPARE(config.readBool("app", "conv", true), false);
    QCOMPARE(config.readString("app", "changedonly", QString()), QStringLiteral("0"));
}

// A drop on the file list targets the tree's selected directory; with none selected, the root.
void TestUpload::listDropIntoRoot()
{
    UploadSession s;
    QVERIFY(QDir().mkpath(s.server.root() + "/www"));
    QVERIFY(connectSession(s));
    QVERIFY(s.tree()->selectedItems().isEmpty());
    chooseMode(*s.form, "バイナリモードで転送");
    QVERIFY(writeAll(s.localPath("a b.txt"), "x\r\ny\r\n"));
    QVERIFY(writeAll(s.localPath("d/.env"), "K=V\n"));

    QVERIFY(dropPaths(s.listViewport(), {s.localPath("a b.txt"), s.localPath("d")}));
    QCOMPARE(s.form->state().RemoteTarget, QStringLiteral("/"));
    QCOMPARE(s.form->plannedCountLabel()->text(), QStringLiteral("3"));
    QString message;
    answerNext(&message);
    QVERIFY(waitForBrowser(*s.form));
    QVERIFY2(message.startsWith(QStringLiteral("送信処理が終了しました。(")), qPrintable(message));
    // Binary mode keeps CR LF as it is.
    QCOMPARE(readAll(s.server.root() + "/a b.txt"), QByteArray("x\r\ny\r\n"));
    QCOMPARE(readAll(s.server.root() + "/d/.env"), QByteArray("K=V\n"));

    AppConfig config;
    QCOMPARE(config.readString("app", "dir", QString()), QStringLiteral("/"));
    QCOMPARE(config.readBool("app", "mode1", true), false);
    QCOMPARE(config.readBool("app", "mode2", false), true);
    QCOMPARE(config.readBool("app", "mode3", true), false);
    QCOMPARE(config.readInteger("app", "charset", -1), 0);
}

void TestUpload::refusedDrops()
{
    UploadSession s;
    QVERIFY(s.local.isValid());
    QVERIFY(writeAll(s.localPath("a.txt"), "a"));
    QFile::remove(QCoreApplication::applicationDirPath() + "/AppConfig.ini");

    // Not connected yet: the user is told so and nothing else happens.
    {
        TForm1 form;
        form.show();
        QString message;
        answerNext(&message, nullptr, 10000);
        QVERIFY(dropPaths(form.tree()->viewport(), {s.localPath("a.txt")}));
        QCOMPARE(message, QStringLiteral("サーバーに接続していません。"));
        QCOMPARE(form.currentLayout(), MainWindowPort::Layout::Start);
        QVERIFY(form.state().UploadQueue.isEmpty());
        QVERIFY(!QFile::exists(QCoreApplication::applicationDirPath() + "/AppConfig.ini"));
    }

    QVERIFY(connectSession(s));
    // Elsewhere in the window a drag is not taken and a drop changes nothing.
    QLabel* label = s.form->plannedCountLabel();
    QVERIFY(!dropPaths(label, {s.localPath("a.txt")}));
    {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile(s.localPath("a.txt"))});
        QDropEvent drop(QPointF(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(label, &drop);
    }
    QCOMPARE(s.form->currentLayout(), MainWindowPort::Layout::Browser);
    QVERIFY(s.form->state().UploadQueue.isEmpty());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    // Nor is a drag that carries no local file.
    {
        QMimeData data;
        data.setUrls({QUrl("https://www.example.com/a.txt")});
        QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(s.treeViewport(), &enter);
        QVERIFY(!enter.isAccepted());
    }

    // While the queue still holds entries a second drop is refused; the first goes on.
    QStringList first;
    for (int i = 0; i < 150; ++i) {
        first << s.localPath(QString("q/%1.txt").arg(i, 3, 10, QChar('0')));
        QVERIFY(writeAll(first.last(), QByteArray::number(i)));
    }
    QVERIFY(writeAll(s.localPath("late.txt"), "late"));
    QVERIFY(dropPaths(s.treeViewport(), first));
    QVERIFY(!s.form->state().UploadQueue.isEmpty());
    QString busy;
    answerNext(&busy, nullptr, 10000);
    QVERIFY(dropPaths(s.listViewport(), {s.localPath("late.txt")}));
    QCOMPARE(busy, QStringLiteral("現在処理中です。\r\n処理が終了してから再度実行してください。"));
    QCOMPARE(s.form->plannedCountLabel()->text(), QStringLiteral("150"));

    QString message;
    answerNext(&message);
    QVERIFY(waitForBrowser(*s.form));
    QVERIFY2(message.startsWith(QStringLiteral("送信処理が終了しました。(")), qPrintable(message));
    QCOMPARE(filesBelow(s.server.root()).size(), 150);
    QVERIFY(!QFile::exists(s.server.root() + "/late.txt"));
}

// Folders arrive by every way that leads to them and empty ones too; a loop ends; what cannot be sent (a FIFO in
// a folder or dropped itself, a dangling link) is reported at once, never opened, and the upload ends.
void TestUpload::foldersLinksFifosAndDeadLinks()
{
    UploadSession s;
    QVERIFY(connectSession(s));
    const QString site = s.localPath("site");
    QVERIFY(writeAll(site + "/img/a.png", "png"));
    QVERIFY(QFile::link(site + "/img", site + "/images"));
    QVERIFY(QFile::link(site, site + "/img/up"));
    QVERIFY(QFile::link(s.localPath("nowhere"), site + "/dead"));
    QVERIFY(::mkfifo(QFile::encodeName(site + "/pipe").constData(), 0600) == 0);
    QVERIFY(::mkfifo(QFile::encodeName(s.localPath("lone")).constData(), 0600) == 0);
    QVERIFY(QDir().mkpath(s.localPath("empty/only/folders")));

    QString listed;
    answerNext(&listed, nullptr, 60000);
    QVERIFY(dropPaths(s.treeViewport(), {site, s.localPath("lone"), s.localPath("empty")}));
    // site, img, images, the two pictures, the three empty folders; and the three that cannot be sent.
    QCOMPARE(s.form->plannedCountLabel()->text(), QStringLiteral("11"));
    QCOMPARE(s.form->progressBar()->maximum(), 11);
    QVERIFY(waitForBrowser(*s.form, 60000));

    QStringList reported = listed.split('\n');
    reported.sort();
    QStringList expected{"<>" + site + "<>" + site + "/dead", "<>" + site + "<>" + site + "/pipe", s.localPath("lone")};
    expected.sort();
    QCOMPARE(reported, expected);
    QCOMPARE(s.form->sentCountLabel()->text(), QStringLiteral("8"));
    QCOMPARE(filesBelow(s.server.root()), (QStringList{"site/images/a.png", "site/img/a.png"}));
    QVERIFY(QFileInfo(s.server.root() + "/empty/only/folders").isDir());
    QVERIFY(s.server.commands().filter(QRegularExpression("^\\d+ STOR .*(pipe|lone|dead)")).isEmpty());
}

void TestUpload::conversion_data()
{
    QTest::addColumn<QString>("charset");
    QTest::addColumn<QByteArray>("expected"); // the text as the server stores it

    // "日本語のテキストです。" and "半角 ASCII も" on two lines, LF line ends.
    const QByteArray sjis =
        QByteArray::fromHex("93fa967b8cea82cc8365834c8358836782c582b781420a94bc8a702041534349492082e00a");
    const QByteArray euc =
        QByteArray::fromHex("c6fccbdcb8eca4cea5c6a5ada5b9a5c8a4c7a4b9a1a30ac8beb3d120415343494920a4e20a");
    QTest::addColumn<bool>("sftp");
    QTest::newRow("Shift-JIS") << "Shift-JIS" << sjis << false;
    QTest::newRow("EUC-JP") << "EUC-JP" << euc << false;
    QTest::newRow("Shift-JIS over SFTP") << "Shift-JIS" << sjis << true;
}

void TestUpload::conversion()
{
    QFETCH(QString, charset);
    QFETCH(QByteArray, expected);
    QFETCH(bool, sftp);

    UploadSession s;
    QVERIFY(sftp ? startSftpServer(s) && connectWindow(s) : connectSession(s));
    chooseEncoding(*s.form, true, charset);
    QByteArray text;
    for (int i = 0; i < 40; ++i)
        text += QStringLiteral("日本語のテキストです。\n半角 ASCII も\n").toUtf8();
    QByteArray binary(4096, '\0');
    QRandomGenerator random(7);
    for (char& c : binary)
        c = char(random.bounded(256));
    QVERIFY(writeAll(s.localPath("in/文書.txt"), text));
    QVERIFY(writeAll(s.localPath("in/data.bin"), binary));

    QVERIFY(dropPaths(s.treeViewport(), {s.localPath("in")}));
    QString message;
    answerNext(&message);
    QVERIFY(waitForBrowser(*s.form));
    QVERIFY2(message.startsWith(QStringLiteral("送信処理が終了しました。(")), qPrintable(message));
    QCOMPARE(readAll(s.serverRoot() + "/in/文書.txt"), expected.repeated(40));
    QCOMPARE(readAll(s.serverRoot() + "/in/data.bin"), binary);
    // The converted copies are gone; the originals are untouched.
    QCOMPARE(QDir(s.form->state().DataDirectory).entryList(QDir::Files | QDir::Hidden), QStringList{});
    QCOMPARE(readAll(s.localPath("in/文書.txt")), text);
    AppConfig config;
    QCOMPARE(config.readBool("app", "conv", false), true);
    QCOMPARE(config.readString("app", "charset", QString()), QString::number(charset == "EUC-JP" ? 2 : 1));
}

// Closing while a worker is in the middle of a file: it finishes that file, stops, and nothing is shown.
void TestUpload::closingMidUpload()
{
    UploadSession s;
    // The server answers the upload of "f05" only when the test says so: its worker waits inside that file.
    s.server.setHeldUploadName("f05");
    QVERIFY(connectSession(s));
    // A hundred files and the folder's entry: the first worker's batch is the folder and f00-f08 (fair batches
    // give each of the ten workers ten), and the server holds that worker inside "f05".
    for (int i = 0; i < 100; ++i)
        QVERIFY(writeAll(s.localPath(QString("c/f%1").arg(i, 2, 10, QChar('0'))), QByteArray::number(i)));
    QVERIFY(dropPaths(s.treeViewport(), {s.localPath("c")}));
    QTRY_VERIFY_WITH_TIMEOUT(!s.server.commands().filter(QRegularExpression("^\\d+ STOR /c/f05$")).isEmpty(), 30000);

    bool modalSeen = false;
    bool released = false;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (QApplication::activeModalWidget())
            modalSeen = true;
        if (!released && s.statusTexts.contains("アプリケーションを終了しています")) {
            s.server.releaseHeldUpload();
            released = true;
        }
    });
    watch.start(10);
    s.form->close();
    watch.stop();

    QVERIFY(released);
    QVERIFY(!modalSeen);
    QVERIFY(s.form->state().UploadQueue.isEmpty());
    QVERIFY(!s.form->state().anyWorkerIn(0));
    // That worker finished "f05" and sent nothing of its batch after it; the other workers stopped likewise.
    const QStringList stored = filesBelow(s.server.root() + "/c");
    for (const char* name : {"f00", "f01", "f02", "f03", "f04", "f05"})
        QVERIFY2(stored.contains(name), name);
    for (const char* name : {"f06", "f07", "f08"})
        QVERIFY2(!stored.contains(name), name);
    QCOMPARE(readAll(s.server.root() + "/c/f05"), QByteArray("5"));
}

// A settings file that cannot be written: the error is shown and the user is back in the browser with
// nothing queued.
void TestUpload::settingsWriteRefused()
{
    UploadSession s;
    QVERIFY(connectSession(s));
    const QString ini = QCoreApplication::applicationDirPath() + "/AppConfig.ini";
    QFile::remove(ini);
    QVERIFY(QDir().mkpath(ini + "/blocked"));
    QVERIFY(writeAll(s.localPath("a.txt"), "a"));

    QString message;
    answerNext(&message, nullptr, 10000);
    QVERIFY(dropPaths(s.treeViewport(), {s.localPath("a.txt")}));
    QTRY_VERIFY(!message.isEmpty());
    QVERIFY(QDir(ini).removeRecursively());
    QCOMPARE(message, ini + " に書き込めません");
    QCOMPARE(s.form->currentLayout(), MainWindowPort::Layout::Browser);
    QVERIFY(!s.form->elapsedTimer()->isActive());
    QVERIFY(s.form->state().UploadQueue.isEmpty());
    QVERIFY(!s.form->state().anyWorkerIn(0));
    QVERIFY(!QFile::exists(s.server.root() + "/a.txt"));
}

void TestUpload::elapsedTime_data()
{
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("shown");
    QTest::newRow("just dropped") << 0LL << "00:00:00";
    QTest::newRow("minutes") << 3599LL << "00:59:59";
    QTest::newRow("hours") << 3661LL << "01:01:01";
    QTest::newRow("last second of a day") << 86399LL << "23:59:59";
    QTest::newRow("a day and more") << 90002LL << "01:00:02";
}

void TestUpload::elapsedTime()
{
    QFETCH(qint64, seconds);
    QFETCH(QString, shown);
    TForm1 form;
    // A little over the whole seconds, so that the tick rounds down to them whenever it runs.
    form.state().StartTime = QDateTime::currentDateTime().addMSecs(-(seconds * 1000 + 300));
    form.uploader().Timer1Timer();
    QCOMPARE(form.elapsedLabel()->text(), shown);
}

int main(int argc, char** argv)
{
    PelnoApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    TestUpload test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_upload.moc"
