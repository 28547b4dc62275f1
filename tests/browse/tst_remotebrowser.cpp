#include "app/application.h"
#include "browse/filelistview.h"
#include "browse/remotebrowser.h"
#include "connectdialog.h"
#include "connectedwindow.h"
#include "ftp/ftprunner.h"
#include "modal.h"
#include "testfiles.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QStyledItemDelegate>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>

namespace {

QStringList sorted(QStringList names)
{
    names.sort();
    return names;
}

QStringList selectedNames(QTreeWidget* tree)
{
    QStringList names;
    for (QTreeWidgetItem* node : tree->selectedItems())
        names << node->text(0);
    return sorted(names);
}

bool scriptExists()
{
    return QFile::exists(ftpScriptPath());
}

} // namespace

class TestRemoteBrowser : public QObject
{
    Q_OBJECT
    QTemporaryDir m_iconTheme;

private slots:
    void initTestCase();
    void init();
    void connectListsRoot();
    void selectingNodeListsIt();
    void treeMarksAndRefreshKey();
    void directoryPassRules();
    void doubleClick_data();
    void doubleClick();
    void selectionRefusedWhileListing();
    void refusedCdYieldsEmptyListing_data();
    void refusedCdYieldsEmptyListing();
    void failedLoginYieldsEmptyListing();
    void unusualNames_data();
    void unusualNames();
    void sizeBeyondFourGiB();
    void sizeThatDoesNotConvert();
    void selectionDuringUnlockedListing();
    void nodeDeletedWhileListing();
    void viewStyles_data();
    void viewStyles();
    void iconsSharedByKind();
    void largeFolderContentAndOrder();
    void siblingOnlySelection();
    void rightClickSelects();
    void createDirectory_data();
    void createDirectory();
    void keptConnection_data();
    void keptConnection();
    void keptConnectionEnds_data();
    void keptConnectionEnds();
};

// A small icon theme of our own, so that a folder and a web page have pictures of the theme and a file of no known
// type falls back to the style's: the three kinds a listing can show, whatever the machine has installed.
void TestRemoteBrowser::initTestCase()
{
    QVERIFY(m_iconTheme.isValid());
    const QString theme = m_iconTheme.filePath(QStringLiteral("pelno-test"));
    QVERIFY(writeAll(theme + QStringLiteral("/index.theme"), "[Icon Theme]\nName=pelno-test\n"
                                                             "Directories=16x16/places,16x16/mimetypes\n\n"
                                                             "[16x16/places]\nSize=16\nType=Fixed\n\n"
                                                             "[16x16/mimetypes]\nSize=16\nType=Fixed\n"));
    for (const char* picture : {"places/folder.png", "mimetypes/text-html.png"}) {
        QImage image(16, 16, QImage::Format_ARGB32);
        image.fill(Qt::darkYellow);
        QVERIFY(QDir().mkpath(QFileInfo(theme + QStringLiteral("/16x16/") + picture).path()));
        QVERIFY(image.save(theme + QStringLiteral("/16x16/") + picture));
    }
    QIcon::setThemeSearchPaths({m_iconTheme.path()});
    QIcon::setThemeName(QStringLiteral("pelno-test"));
}

void TestRemoteBrowser::init()
{
    QFile::remove(QCoreApplication::applicationDirPath() + QStringLiteral("/AppConfig.ini"));
}

void TestRemoteBrowser::connectListsRoot()
{
    ConnectedWindow s;
    QDir root;
    QVERIFY(root.mkpath(s.server.root() + QStringLiteral("/www/img")));
    QVERIFY(root.mkpath(s.server.root() + QStringLiteral("/cgi-bin")));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/index.html"), QByteArray(1234, 'x')));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/empty.txt"), QByteArray()));
    QVERIFY(connectSession(s));

    QCOMPARE(sorted(childNames(s.tree(), nullptr)), (QStringList{"cgi-bin", "www"}));
    QCOMPARE(nodeNamed(s.tree(), "www")->childCount(), 0); // a node gets children only when it is listed
    QCOMPARE(sorted(captions(s.list())), (QStringList{"cgi-bin", "empty.txt", "index.html", "www"}));
    // Directories first, then files, whatever the server's order.
    QCOMPARE(sorted(captions(s.list()).mid(0, 2)), (QStringList{"cgi-bin", "www"}));
    QCOMPARE(s.list()->sizeText(rowOf(s.list(), "index.html")), QStringLiteral("1234"));
    QCOMPARE(s.list()->sizeText(rowOf(s.list(), "empty.txt")), QStringLiteral("0"));
    QCOMPARE(s.list()->imageIndex(rowOf(s.list(), "www")), FileListView::kDirectoryImage);
    QCOMPARE(s.list()->record(rowOf(s.list(), "index.html")).Size, 1234);
    QVERIFY(s.list()->record(rowOf(s.list(), "www")).Permissions.startsWith('d'));
    QVERIFY(!s.form->state().ListingLines.isEmpty());
    QVERIFY(!scriptExists());
    // The root listing changes no directory.
    QVERIFY(!s.server.commands().join('\n').contains("CWD"));
    QCOMPARE(s.browser().RemotePathOfNode(nullptr), QString());
    QCOMPARE(s.browser().RemotePathOfNode(nodeNamed(s.tree(), "www")), QStringLiteral("/www"));
}

void TestRemoteBrowser::selectingNodeListsIt()
{
    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/img/icons")));
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/css")));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/www/img/logo.png"), QByteArray(77, 'p')));
    QVERIFY(connectSession(s));

    QTreeWidgetItem* www = nodeNamed(s.tree(), "www");
    clickNode(s.tree(), www);
    QCOMPARE(sorted(childNames(s.tree(), www)), (QStringList{"css", "img"}));
    QVERIFY(www->isExpanded());
    QCOMPARE(sorted(captions(s.list())), (QStringList{"css", "img"}));
    QVERIFY(!s.form->state().BusyLock);
    QVERIFY(!scriptExists());

    QTreeWidgetItem* img = nodeNamed(s.tree(), "img");
    clickNode(s.tree(), img);
    QCOMPARE(s.browser().RemotePathOfNode(img), QStringLiteral("/www/img"));
    QCOMPARE(childNames(s.tree(), img), QStringList{"icons"});
    QCOMPARE(captions(s.list()), (QStringList{"icons", "logo.png"}));
    QCOMPARE(s.list()->sizeText(1), QStringLiteral("77"));
    QVERIFY(s.server.commands().join('\n').contains("CWD /www/img"));

    // Listed again, www has the same children once each, and what was listed below them is gone.
    clickNode(s.tree(), www);
    QCOMPARE(sorted(childNames(s.tree(), www)), (QStringList{"css", "img"}));
    QVERIFY(!nodeNamed(s.tree(), "icons"));
    s.browser().listSelectedAgain();
    QCOMPARE(sorted(childNames(s.tree(), www)), (QStringList{"css", "img"}));
    QCOMPARE(sorted(captions(s.list())), (QStringList{"css", "img"}));
    QVERIFY(!scriptExists());
}

// Nodes not listed yet carry the expand mark and every node a folder picture; F5 lists the selected directory
// again; the status line names the server while connected.
void TestRemoteBrowser::treeMarksAndRefreshKey()
{
    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/img")));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/www/index.html"), "<p>"));
    QVERIFY(connectSession(s));
    QVERIFY(s.form->findChild<QLabel*>("ConnectionLabel")->text().contains(s.server.host()));

    QTreeWidgetItem* www = nodeNamed(s.tree(), "www");
    QCOMPARE(www->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QVERIFY(!www->icon(0).isNull());
    clickNode(s.tree(), www);
    QTreeWidgetItem* img = nodeNamed(s.tree(), "img");
    QCOMPARE(www->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);
    QCOMPARE(img->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QVERIFY(!img->icon(0).isNull());
    clickNode(s.tree(), img);
    // Listed and empty: no mark any more.
    QCOMPARE(img->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicatorWhenChildless);

    clickNode(s.tree(), www);
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/new")));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/www/later.txt"), "x"));
    s.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(s.form.get()));
    QTest::keyClick(s.form.get(), Qt::Key_F5);
    QTRY_COMPARE(sorted(childNames(s.tree(), www)), (QStringList{"img", "new"}));
    QCOMPARE(sorted(captions(s.list())), (QStringList{"img", "index.html", "later.txt", "new"}));
    QVERIFY(!s.form->state().BusyLock);
}

// A disk cannot hold a name twice, and this server lists no "." and "..": the output of a real listing gets such
// lines added, made from its own lines, and is shown as a listing.
void TestRemoteBrowser::directoryPassRules()
{
    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/img")));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/www/a.html"), "<p>"));
    QVERIFY(connectSession(s));
    QTreeWidgetItem* www = nodeNamed(s.tree(), "www");
    clickNode(s.tree(), www);

    QStringList lines = s.form->state().ListingLines;
    const qsizetype dirLine = lines.indexOf(QRegularExpression("^d.* img$"));
    const qsizetype fileLine = lines.indexOf(QRegularExpression("^-.* a\\.html$"));
    QVERIFY(dirLine >= 0 && fileLine >= 0);
    QString dot = lines[dirLine];
    dot.chop(3);
    // The file line comes first: directory items still lead the list.
    lines = QStringList{lines[fileLine], dot + ".", dot + "..", lines[dirLine], lines[dirLine]};
    s.browser().showListing(www, lines);

    QCOMPARE(childNames(s.tree(), www), QStringList{"img"});
    QCOMPARE(captions(s.list()), (QStringList{"img", "img", "a.html"}));
}

void TestRemoteBrowser::doubleClick_data()
{
    QTest::addColumn<int>("preparation"); // 0 www selected; 1 www listed, nothing selected; 2 then the root
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("expectedNode"); // empty: nothing changes

    QTest::newRow("directory item below the selected node") << 0 << "img"
                                                            << "img";
    QTest::newRow("file item") << 0 << "img.txt"
                               << "";
    QTest::newRow("no node selected: first node of the name in tree order") << 1 << "img"
                                                                            << "img";
    QTest::newRow("no node selected: a file named like a node elsewhere") << 2 << "img"
                                                                          << "";
}

void TestRemoteBrowser::doubleClick()
{
    QFETCH(int, preparation);
    QFETCH(QString, item);
    QFETCH(QString, expectedNode);

    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/img/x")));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/www/img.txt"), "t"));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/img"), "a file in the root"));
    QVERIFY(connectSession(s));
    QTreeWidgetItem* www = nodeNamed(s.tree(), "www");
    if (preparation == 0) {
        clickNode(s.tree(), www);
    } else {
        s.browser().ListRemoteDirectory(www, "/www/");
        if (preparation == 2) {
            s.browser().ListRemoteDirectory(nullptr, "/");
            QCOMPARE(childNames(s.tree(), nullptr), QStringList{"www"}); // no second root-level www
        }
        QVERIFY(s.tree()->selectedItems().isEmpty());
    }
    const QStringList listBefore = captions(s.list());
    const QStringList selectedBefore = selectedNames(s.tree());

    const int row = rowOf(s.list(), item);
    QVERIFY(row >= 0);
    doubleClickRow(s.list(), row);

    if (expectedNode.isEmpty()) {
        QCOMPARE(selectedNames(s.tree()), selectedBefore);
        QCOMPARE(captions(s.list()), listBefore);
    } else {
        QCOMPARE(selectedNames(s.tree()), QStringList{expectedNode});
        QTreeWidgetItem* node = s.tree()->selectedItems().first();
        QCOMPARE(s.browser().RemotePathOfNode(node), QStringLiteral("/www/img"));
        QCOMPARE(childNames(s.tree(), node), QStringList{"x"});
        QCOMPARE(captions(s.list()), QStringList{"x"});
    }
    QVERIFY(!scriptExists());
}

void TestRemoteBrowser::selectionRefusedWhileListing()
{
    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/img")));
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/cgi-bin/perl")));
    QVERIFY(connectSession(s));
    QTreeWidgetItem* www = nodeNamed(s.tree(), "www");
    QTreeWidgetItem* cgi = nodeNamed(s.tree(), "cgi-bin");

    bool triedDuringListing = false;
    bool currentKept = false;
    QTimer::singleShot(0, this, [&] {
        triedDuringListing = s.form->state().BusyLock;
        clickNode(s.tree(), cgi);
        QTest::keyClick(s.tree(), Qt::Key_Down);
        QTest::keyClick(s.tree(), Qt::Key_Up);
        currentKept = s.tree()->currentItem() == www;
        s.tree()->setCurrentItem(cgi);
    });
    clickNode(s.tree(), www);

    QVERIFY(triedDuringListing);
    QVERIFY(currentKept);
    QCOMPARE(selectedNames(s.tree()), QStringList{"www"});
    QCOMPARE(captions(s.list()), QStringList{"img"});
    QCOMPARE(cgi->childCount(), 0);
    QVERIFY(!s.form->state().BusyLock);
    QVERIFY(!s.server.commands().join('\n').contains("CWD /cgi-bin"));

    // Afterwards the same change goes through.
    clickNode(s.tree(), cgi);
    QCOMPARE(selectedNames(s.tree()), QStringList{"cgi-bin"});
    QCOMPARE(captions(s.list()), QStringList{"perl"});
}

void TestRemoteBrowser::refusedCdYieldsEmptyListing_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("may not be entered") << QStringLiteral("locked");
    for (const FtpServerFixture::BadCwdReply& bad : FtpServerFixture::badCwdReplies())
        QTest::addRow("reply %s", qPrintable(bad.dir)) << bad.dir;
}

void TestRemoteBrowser::refusedCdYieldsEmptyListing()
{
    QFETCH(QString, folder);
    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QLatin1Char('/') + folder + QStringLiteral("/inner")));
    QVERIFY(writeAll(s.server.root() + QLatin1Char('/') + folder + QStringLiteral("/secret.txt"), "s"));
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www")));
    FtpServerFixture::Options options;
    options.noEnterDirs << QStringLiteral("locked");
    s.server.setBadCwdReplies();
    QVERIFY(connectSession(s, options));

    QTreeWidgetItem* node = nodeNamed(s.tree(), folder);
    QVERIFY(node);
    clickNode(s.tree(), node);
    // The client stayed in the login directory; its entries (and nothing the reply forged) are not shown as the
    // folder's.
    QCOMPARE(node->childCount(), 0);
    QCOMPARE(s.list()->count(), 0);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!s.form->state().BusyLock);
    QVERIFY(!scriptExists());
}

void TestRemoteBrowser::failedLoginYieldsEmptyListing()
{
    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/img")));
    QVERIFY(connectSession(s));
    QTreeWidgetItem* www = nodeNamed(s.tree(), "www");
    clickNode(s.tree(), www);
    QCOMPARE(www->childCount(), 1);

    s.form->state().credentials.password = QStringLiteral("wrong");
    s.browser().listSelectedAgain();
    QCOMPARE(www->childCount(), 0);
    QCOMPARE(s.list()->count(), 0);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(!scriptExists());
}

void TestRemoteBrowser::unusualNames_data()
{
    QTest::addColumn<QString>("directory");
    QTest::addColumn<QString>("file");

    QTest::newRow("blanks") << "my docs"
                            << "a  b.txt";
    QTest::newRow("Japanese") << "日本語 フォルダ"
                              << "資料一覧.txt";
}

void TestRemoteBrowser::unusualNames()
{
    QFETCH(QString, directory);
    QFETCH(QString, file);

    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + '/' + directory + "/sub"));
    QVERIFY(writeAll(s.server.root() + '/' + directory + '/' + file, "12345"));
    QVERIFY(connectSession(s));

    QTreeWidgetItem* node = nodeNamed(s.tree(), directory);
    QVERIFY(node);
    clickNode(s.tree(), node);
    QCOMPARE(childNames(s.tree(), node), QStringList{"sub"});
    QCOMPARE(captions(s.list()), (QStringList{"sub", file}));
    QCOMPARE(s.list()->sizeText(1), QStringLiteral("5"));
    QCOMPARE(s.browser().RemotePathOfNode(node), '/' + directory);
}

void TestRemoteBrowser::sizeBeyondFourGiB()
{
    ConnectedWindow s;
    const qint64 size = 5LL * 1024 * 1024 * 1024 + 7;
    QFile big(s.server.root() + QStringLiteral("/big.iso"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QVERIFY(big.resize(size)); // sparse: no disk space used
    big.close();
    QVERIFY(connectSession(s));

    const int row = rowOf(s.list(), "big.iso");
    QVERIFY(row >= 0);
    QCOMPARE(s.list()->sizeText(row), QString::number(size));
    QCOMPARE(s.list()->record(row).Size, size);
}

// A name holding a line break makes the listing show a line whose size column is no number.
void TestRemoteBrowser::sizeThatDoesNotConvert()
{
    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/bad/sub")));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/bad/x\n-rw-r--r-- 1 u g many Jan 1 12:00 y"), "z"));
    QVERIFY(connectSession(s));

    QString message;
    answerNext(&message);
    QTreeWidgetItem* bad = nodeNamed(s.tree(), "bad");
    clickNode(s.tree(), bad);
    QTRY_COMPARE(message, QStringLiteral("'many' は整数ではありません"));
    QCOMPARE(childNames(s.tree(), bad), QStringList{"sub"}); // what came before the line stays
    QVERIFY(!bad->isExpanded());
    QVERIFY(!s.form->state().BusyLock);
    QVERIFY(!scriptExists()); // it holds the password
    // The window stays usable.
    clickNode(s.tree(), nodeNamed(s.tree(), "sub"));
    QCOMPARE(selectedNames(s.tree()), QStringList{"sub"});
}

void TestRemoteBrowser::selectionDuringUnlockedListing()
{
    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/img/icons")));
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/css")));
    QVERIFY(connectSession(s));
    clickNode(s.tree(), nodeNamed(s.tree(), "www"));
    clickNode(s.tree(), nodeNamed(s.tree(), "img"));

    // A listing that sets no lock (the end of an upload lists the selected node again); meanwhile the user
    // selects css, then www. Their listings wait for the running one, which goes on listing www/img. By then css
    // is no longer selected and is not listed.
    s.server.clearLog();
    bool waited = false;
    QTimer::singleShot(0, this, [&] {
        clickNode(s.tree(), nodeNamed(s.tree(), "css"));
        clickNode(s.tree(), nodeNamed(s.tree(), "www"));
        waited = s.browser().listingUnderWay() && !s.server.commands().join('\n').contains("CWD /www/css");
    });
    s.browser().listSelectedAgain();
    QVERIFY(waited);
    QCOMPARE(captions(s.list()), QStringList{"icons"});
    QCOMPARE(selectedNames(s.tree()), QStringList{"www"});

    QTRY_COMPARE(sorted(captions(s.list())), (QStringList{"css", "img"}));
    QCOMPARE(sorted(childNames(s.tree(), nodeNamed(s.tree(), "www"))), (QStringList{"css", "img"}));
    QVERIFY(!nodeNamed(s.tree(), "icons"));
    QVERIFY(!s.server.commands().join('\n').contains("CWD /www/css"));
    QVERIFY(!s.form->state().BusyLock);
    QVERIFY(!scriptExists());
}

void TestRemoteBrowser::nodeDeletedWhileListing()
{
    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/img/icons")));
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/css")));
    QVERIFY(connectSession(s));
    QTreeWidgetItem* www = nodeNamed(s.tree(), "www");
    clickNode(s.tree(), www);
    QTreeWidgetItem* img = nodeNamed(s.tree(), "img");

    QTimer::singleShot(0, this, [img] { delete img; });
    s.browser().ListRemoteDirectory(img, "/www/img/");

    QCOMPARE(childNames(s.tree(), www), QStringList{"css"});
    QCOMPARE(sorted(captions(s.list())), (QStringList{"css", "img"})); // www's listing, untouched
    QVERIFY(!scriptExists());
}

void TestRemoteBrowser::viewStyles_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("viewMode"); // of the icon views; -1 for the report

    QTest::newRow("large icons") << "アイコン" << int(FileListView::Style::LargeIcon) << int(QListView::IconMode);
    QTest::newRow("small icons") << "小さいアイコン" << int(FileListView::Style::SmallIcon) << int(QListView::ListMode);
    QTest::newRow("list") << "一覧" << int(FileListView::Style::List) << int(QListView::ListMode);
    QTest::newRow("report") << "詳細" << int(FileListView::Style::Report) << -1;
}

void TestRemoteBrowser::viewStyles()
{
    QFETCH(QString, button);
    QFETCH(int, style);
    QFETCH(int, viewMode);

    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www")));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/a.txt"), "a"));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/b.txt"), "bb"));
    QVERIFY(connectSession(s));
    // start from another style, so that every button has a change to make
    s.list()->setViewStyle(style == int(FileListView::Style::Report) ? FileListView::Style::List
                                                                     : FileListView::Style::Report);
    s.list()->setSelected(rowOf(s.list(), "b.txt"), true);
    s.list()->setSelected(rowOf(s.list(), "www"), true);
    const QList<int> selected{rowOf(s.list(), "www"), rowOf(s.list(), "b.txt")};
    const QStringList before = captions(s.list());

    QPushButton* pressed = nullptr;
    for (auto* candidate : s.form->findChildren<QPushButton*>())
        if (candidate->text() == button)
            pressed = candidate;
    QVERIFY(pressed);
    QTest::mouseClick(pressed, Qt::LeftButton);

    QCOMPARE(int(s.list()->viewStyle()), style);
    QVERIFY(s.list()->currentView()->isVisible());
    if (viewMode >= 0)
        QCOMPARE(int(qobject_cast<QListView*>(s.list()->currentView())->viewMode()), viewMode);
    QCOMPARE(captions(s.list()), before);
    if (viewMode >= 0) {
        // The icon views measure an item without looking up its picture, to the size the style's delegate gives.
        auto* view = qobject_cast<QListView*>(s.list()->currentView());
        QStyleOptionViewItem option;
        option.initFrom(view);
        option.widget = view;
        option.decorationSize = view->iconSize();
        option.decorationPosition =
            view->viewMode() == QListView::IconMode ? QStyleOptionViewItem::Top : QStyleOptionViewItem::Left;
        const QStyledItemDelegate styleDelegate;
        for (int row = 0; row < s.list()->count(); ++row) {
            const QModelIndex index = s.list()->model()->index(row, 0);
            QCOMPARE(view->itemDelegate()->sizeHint(option, index), styleDelegate.sizeHint(option, index));
        }
    }
    QCOMPARE(s.list()->selectedRows(), selected);
    for (int row : selected)
        QVERIFY(s.list()->currentView()->selectionModel()->isRowSelected(row, QModelIndex()));
    QVERIFY(!s.list()->currentView()->selectionModel()->isRowSelected(rowOf(s.list(), "a.txt"), QModelIndex()));
}

// Every entry of a kind shows the one picture of that kind, in the list and in the tree: a folder, a file by its
// type (here the theme's web page) and a file of no known type (the style's generic file).
void TestRemoteBrowser::iconsSharedByKind()
{
    ConnectedWindow s;
    const QString folder = s.server.root() + QStringLiteral("/mixed/");
    const QStringList kinds{QStringLiteral("dir"), QStringLiteral("page"), QStringLiteral("notes")};
    for (int i = 0; i < 1000; ++i) {
        const QString name = kinds[i % 3] + QString::number(i);
        QVERIFY(i % 3 == 0 ? QDir().mkpath(folder + name) : writeAll(folder + name + (i % 3 == 1 ? ".html" : ""), ""));
    }
    QVERIFY(connectSession(s));
    QTreeWidgetItem* mixed = nodeNamed(s.tree(), "mixed");
    clickNode(s.tree(), mixed);
    QCOMPARE(s.list()->count(), 1000);

    QMap<QString, QSet<qint64>> iconsOfKind;
    QMap<QString, QString> themeNameOfKind;
    for (int row = 0; row < s.list()->count(); ++row) {
        const QString caption = s.list()->caption(row);
        const QString kind =
            *std::find_if(kinds.begin(), kinds.end(), [&](const QString& k) { return caption.startsWith(k); });
        const auto icon = s.list()->model()->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
        QVERIFY(!icon.isNull());
        iconsOfKind[kind].insert(icon.cacheKey());
        themeNameOfKind[kind] = icon.name();
    }
    QSet<qint64> all;
    for (const QString& kind : kinds) {
        QCOMPARE(iconsOfKind[kind].size(), 1);
        all += iconsOfKind[kind];
    }
    QCOMPARE(all.size(), 3);
    QCOMPARE(themeNameOfKind["dir"], QStringLiteral("folder"));
    QCOMPARE(themeNameOfKind["page"], QStringLiteral("text-html"));
    QCOMPARE(themeNameOfKind["notes"], QString()); // the style's own picture
    QCOMPARE(mixed->childCount(), 334);
    for (int i = 0; i < mixed->childCount(); ++i)
        QCOMPARE(mixed->child(i)->icon(0).cacheKey(), *iconsOfKind["dir"].begin());
}

// 20,000 entries of the real server, directories among the files: the list shows each once, the directories first,
// both in the order the server listed them, with their sizes; the tree gets the directories in that order.
void TestRemoteBrowser::largeFolderContentAndOrder()
{
    ConnectedWindow s;
    const QString folder = s.server.root() + QStringLiteral("/big/");
    for (int i = 0; i < 20000; ++i) {
        const QString name = QStringLiteral("n%1").arg(i, 5, 10, QLatin1Char('0'));
        QVERIFY(i % 50 == 7 ? QDir().mkpath(folder + name) : writeAll(folder + name + ".txt", QByteArray(i % 13, 'x')));
    }
    QVERIFY(connectSession(s));
    QTreeWidgetItem* big = nodeNamed(s.tree(), "big");
    clickNode(s.tree(), big);

    // The server's order and sizes, read from the transcript with a pattern of the standard layout.
    static const QRegularExpression listingLine(
        QStringLiteral("^([d-])\\S+ +\\d+ +\\S+ +\\S+ +(\\d+) +\\S+ +\\d+ +\\S+ (.+)$"));
    QStringList directories;
    QStringList files;
    QStringList sizes;
    bool fileBeforeDirectory = false;
    for (const QString& line : s.form->state().ListingLines) {
        const QRegularExpressionMatch match = listingLine.match(line);
        if (!match.hasMatch())
            continue;
        if (match.captured(1) == "d") {
            directories << match.captured(3);
            fileBeforeDirectory = fileBeforeDirectory || !files.isEmpty();
        } else {
            files << match.captured(3);
            sizes << match.captured(2);
        }
    }
    QCOMPARE(directories.size(), 400);
    QCOMPARE(files.size(), 19600);
    QVERIFY(fileBeforeDirectory); // the server mixes them (by name): the list puts the directories first itself

    QCOMPARE(captions(s.list()), directories + files);
    QCOMPARE(captions(s.list(), FileListView::kDirectoryImage), directories);
    QStringList shownSizes;
    for (int row = int(directories.size()); row < s.list()->count(); ++row)
        shownSizes << s.list()->sizeText(row);
    QCOMPARE(shownSizes, sizes);
    QCOMPARE(sorted(captions(s.list())), sorted(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)));
    QCOMPARE(childNames(s.tree(), big), directories);
    QVERIFY(big->isExpanded());
    QVERIFY(!s.form->state().BusyLock);
}

void TestRemoteBrowser::siblingOnlySelection()
{
    ConnectedWindow s;
    for (const char* dir : {"/a/a1", "/b/b1", "/c/c1"})
        QVERIFY(QDir().mkpath(s.server.root() + dir));
    QVERIFY(connectSession(s));
    QTreeWidget* tree = s.tree();
    QTreeWidgetItem* first = tree->topLevelItem(0);
    QTreeWidgetItem* middle = tree->topLevelItem(1);
    QTreeWidgetItem* last = tree->topLevelItem(2);

    clickNode(tree, middle); // listed and expanded: its child lies between the outer nodes
    clickNode(tree, first);
    QCOMPARE(selectedNames(tree), QStringList{first->text(0)});
    QTreeWidgetItem* nested = middle->child(0);
    QVERIFY(nested && middle->isExpanded());

    clickNode(tree, last, Qt::ShiftModifier);
    QCOMPARE(selectedNames(tree), (QStringList{"a", "b", "c"}));

    clickNode(tree, nested, Qt::ControlModifier);
    QCOMPARE(selectedNames(tree), QStringList{nested->text(0)});

    clickNode(tree, first, Qt::ShiftModifier);
    QCOMPARE(selectedNames(tree), QStringList{first->text(0)});
    clickNode(tree, last, Qt::ControlModifier);
    QCOMPARE(selectedNames(tree), sorted({first->text(0), last->text(0)}));
    QCOMPARE(tree->currentItem(), last);
    QCOMPARE(captions(s.list()), QStringList{last->child(0)->text(0)}); // the node just added was listed

    clickNode(tree, last, Qt::ControlModifier);
    QCOMPARE(selectedNames(tree), QStringList{first->text(0)});
    QCOMPARE(s.browser().selectedNode(), first);

    // A click on empty space keeps the selection the commands act on.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, QPoint(5, tree->viewport()->height() - 3));
    QCOMPARE(selectedNames(tree), QStringList{first->text(0)});
}

void TestRemoteBrowser::rightClickSelects()
{
    ConnectedWindow s;
    for (const char* dir : {"/a/a1", "/b/b1", "/c/c1"})
        QVERIFY(QDir().mkpath(s.server.root() + dir));
    QVERIFY(connectSession(s));
    QTreeWidget* tree = s.tree();
    QTreeWidgetItem* a = nodeNamed(tree, "a");
    QTreeWidgetItem* b = nodeNamed(tree, "b");
    QTreeWidgetItem* c = nodeNamed(tree, "c");

    clickNode(tree, a, {}, Qt::RightButton);
    QCOMPARE(selectedNames(tree), QStringList{"a"});
    QCOMPARE(captions(s.list()), QStringList{"a1"});

    clickNode(tree, b, Qt::ControlModifier);
    QCOMPARE(selectedNames(tree), (QStringList{"a", "b"}));
    // A right click inside the selection keeps it, so the menu acts on all of it.
    clickNode(tree, a, {}, Qt::RightButton);
    QCOMPARE(selectedNames(tree), (QStringList{"a", "b"}));
    clickNode(tree, c, {}, Qt::RightButton);
    QCOMPARE(selectedNames(tree), QStringList{"c"});
    QCOMPARE(captions(s.list()), QStringList{"c1"});
}

void TestRemoteBrowser::createDirectory_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<bool>("created"); // www/<answer> made and listed
    QTest::addColumn<QString>("message");

    const QString failed = QStringLiteral("ディレクトリの作成に失敗しました");
    QTest::newRow("tree menu") << QByteArray("C2") << "new" << false << true << "";
    QTest::newRow("list menu") << QByteArray("D2") << "new" << false << true << "";
    QTest::newRow("existing directory") << QByteArray("C2") << "img" << false << false << failed;
    QTest::newRow("missing parent") << QByteArray("D2") << "nothere/new" << false << false << failed;
    QTest::newRow("cancelled") << QByteArray("C2") << "typed, then cancelled" << true << false << "";
    QTest::newRow("empty answer") << QByteArray("D2") << "" << false << false << "";
}

void TestRemoteBrowser::createDirectory()
{
    QFETCH(QByteArray, command);
    QFETCH(QString, answer);
    QFETCH(bool, cancel);
    QFETCH(bool, created);
    QFETCH(QString, message);

    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/img")));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/www/index.html"), "i"));
    QVERIFY(connectSession(s));
    QTreeWidgetItem* www = nodeNamed(s.tree(), "www");
    clickNode(s.tree(), www);
    const int deleteContext = command == "D2" ? 1 : 0;
    s.form->state().DeleteContext = 1 - deleteContext;
    const QStringList childrenBefore = childNames(s.tree(), www);
    const QStringList listBefore = captions(s.list());
    const QStringList dirsBefore = QDir(s.server.root() + "/www").entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    const QString statusBefore = s.form->statusText();
    s.server.clearLog();

    QString prompt;
    QString seen;
    whenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        QVERIFY(dialog);
        prompt = dialog->windowTitle() + '|' + dialog->labelText() + '|' + dialog->textValue();
        QTest::keyClicks(dialog->findChild<QLineEdit*>(), answer);
        if (!message.isEmpty())
            answerNext(&seen);
        dialog->findChild<QDialogButtonBox*>()
            ->button(cancel ? QDialogButtonBox::Cancel : QDialogButtonBox::Ok)
            ->click();
    });
    QVERIFY(triggerAction(*s.form, command.constData()));

    QCOMPARE(prompt, QStringLiteral("ディレクトリ作成|ディレクトリ名|"));
    QCOMPARE(s.form->state().DeleteContext, deleteContext); // set whatever the answer
    QTRY_COMPARE(seen, message);
    QVERIFY(!QApplication::activeModalWidget());
    if (created) {
        QVERIFY(QFileInfo(s.server.root() + "/www/" + answer).isDir());
        QCOMPARE(s.form->state().RemoteTarget, "/www/" + answer + '/');
        QCOMPARE(sorted(childNames(s.tree(), www)), sorted(childrenBefore + QStringList{answer}));
        QCOMPARE(sorted(captions(s.list())), sorted(listBefore + QStringList{answer}));
        QCOMPARE(s.form->statusText(), QString());
        QVERIFY(!scriptExists());
        return;
    }
    QCOMPARE(QDir(s.server.root() + "/www").entryList(QDir::AllEntries | QDir::NoDotAndDotDot), dirsBefore);
    QCOMPARE(childNames(s.tree(), www), childrenBefore);
    QCOMPARE(captions(s.list()), listBefore);
    QCOMPARE(s.form->state().RemoteTarget, QStringLiteral("/"));
    if (message.isEmpty()) {
        QCOMPARE(s.server.logins(), 0); // nothing was even tried
        QCOMPARE(s.form->statusText(), statusBefore);
    } else {
        QCOMPARE(s.form->statusText(), QString());
    }
}

void TestRemoteBrowser::keptConnection_data()
{
    QTest::addColumn<bool>("dropAfterFive"); // the server ends every connection between the fifth and sixth listing
    QTest::newRow("ten listings") << false;
    QTest::newRow("the server drops the connection between two") << true;
}

// Clicks, F5 and double-clicks list over the connection the connect listing logged in with: one connection in all,
// or one more after the server dropped it, and every listing shows its directory.
void TestRemoteBrowser::keptConnection()
{
    QFETCH(bool, dropAfterFive);
    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/img")));
    QVERIFY(writeAll(s.server.root() + QStringLiteral("/cgi-bin/perl/p.cgi"), "#!"));
    QVERIFY(connectSession(s));
    s.form->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(s.form.get()));
    const QStringList expected[] = {{"img"}, {"perl"}, {"perl"}, {"p.cgi"}};
    for (int step = 0; step < 10; ++step) {
        if (dropAfterFive && step == 5) {
            s.server.stop();
            QVERIFY(s.server.start());
        }
        switch (step % 4) {
        case 0:
            clickNode(s.tree(), nodeNamed(s.tree(), "www"));
            break;
        case 1:
            clickNode(s.tree(), nodeNamed(s.tree(), "cgi-bin"));
            break;
        case 2:
            QTest::keyClick(s.form.get(), Qt::Key_F5);
            break;
        default:
            doubleClickRow(s.list(), rowOf(s.list(), "perl"));
        }
        QTRY_COMPARE(captions(s.list()), expected[step % 4]);
        QTRY_VERIFY(!s.form->state().BusyLock);
    }

    // Every listing since the (last) start of the server went over one connection that logged in once.
    QSet<QString> listing;
    int lists = 0;
    for (const QString& line : s.server.commands()) {
        if (line.section(' ', 1, 1) == "LIST") {
            listing.insert(line.section(' ', 0, 0));
            ++lists;
        }
    }
    QCOMPARE(listing.size(), 1);
    QCOMPARE(lists, dropAfterFive ? 5 : 11); // the connect listing's too
    QCOMPARE(s.server.commandsOfSession(listing.begin()->toInt()).filter(QRegularExpression("^USER ")).size(), 1);
    if (!dropAfterFive)
        QCOMPARE(s.browser().listingLogins(), 1);
    QVERIFY(!scriptExists());
}

void TestRemoteBrowser::keptConnectionEnds_data()
{
    QTest::addColumn<bool>("connectAgain"); // false: the window closes
    QTest::newRow("another connect") << true;
    QTest::newRow("the window closes") << false;
}

// The kept connection ends (QUIT) when another connect replaces the profile and when the window closes.
void TestRemoteBrowser::keptConnectionEnds()
{
    QFETCH(bool, connectAgain);
    ConnectedWindow s;
    QVERIFY(QDir().mkpath(s.server.root() + QStringLiteral("/www/img")));
    QVERIFY(connectSession(s));
    clickNode(s.tree(), nodeNamed(s.tree(), "www"));
    const auto listingSessions = [&s] {
        QSet<int> sessions;
        for (const QString& line : s.server.commands())
            if (line.section(' ', 1, 1) == "LIST")
                sessions.insert(line.section(' ', 0, 0).toInt());
        return sessions;
    };
    const QSet<int> first = listingSessions();
    QCOMPARE(first.size(), 1);
    QVERIFY(!s.server.closedSessions().contains(*first.begin()));

    if (connectAgain) {
        connectLikeAUser(*s.form, s.server.host(), FtpServerFixture::user(), FtpServerFixture::password());
        QCOMPARE(sorted(captions(s.list())), QStringList{"www"});
        QCOMPARE(listingSessions().size(), 2); // the new profile's listing logged in anew
    } else {
        s.form->close();
    }
    QTRY_VERIFY(s.server.closedSessions().contains(*first.begin()));
    QCOMPARE(s.server.commandsOfSession(*first.begin()).last(), QStringLiteral("QUIT"));
    // Every other connection but the new profile's listing has ended too.
    QSet<int> open;
    for (const QString& line : s.server.commands())
        open.insert(line.section(' ', 0, 0).toInt());
    for (const int closed : s.server.closedSessions())
        open.remove(closed);
    QCOMPARE(open, connectAgain ? listingSessions() - first : QSet<int>());
    QVERIFY(!scriptExists());
}

int main(int argc, char* argv[])
{
    PelnoApplication app(argc, argv);
    TestRemoteBrowser test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_remotebrowser.moc"
