#include "ftp/credentials.h"
#include "ftp/ftprunner.h"
#include "ftp/listingparser.h"
#include "ftp/remotelister.h"
#include "ftpserverfixture.h"
#include "settings/apperror.h"
#include "testfiles.h"
#include "transfer/deletionplan.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace {

// "d:name" / "f:name" per entry, so that a row can spell its expectation in one string list.
QStringList describe(const QList<ListedEntry>& entries)
{
    QStringList out;
    for (const ListedEntry& entry : entries)
        out << (entry.directory ? QStringLiteral("d:") : QStringLiteral("f:")) + entry.name;
    return out;
}

// A long listing line in the server's own layout, with the name separated by the given run of spaces.
QString line(const char* kind, const QString& size, const QString& name, int gap = 1)
{
    return QString::fromLatin1(kind) + QStringLiteral("rwxr-xr-x   2 owner    group    %1 Dec 08 01:50").arg(size, 8) +
           QString(gap, QLatin1Char(' ')) + name;
}

} // namespace

class TestDeletionPlan : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void entries_data();
    void entries();
    void collect_data();
    void collect();
    void collectWithoutLoginPlansNothing();
    void collectStopped();
    void split_data();
    void split();
    void levels_data();
    void levels();

private:
    Credentials credentials() const
    {
        return {m_server.host(), FtpServerFixture::user(), FtpServerFixture::password()};
    }
    FtpServerFixture m_server;
};

void TestDeletionPlan::initTestCase()
{
    FtpServerFixture::Options options;
    options.noEnterDirs = QStringList{QStringLiteral("locked"), QStringLiteral("b/locked")};
    m_server.setBadCwdReplies();
    QVERIFY(m_server.start(options));
}

void TestDeletionPlan::init()
{
    // Every row builds its own tree; the refused folders come back empty (the server keeps their rights by path).
    QDir root(m_server.root());
    for (const QString& name : root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        QVERIFY(QFileInfo(root.filePath(name)).isDir() ? QDir(root.filePath(name)).removeRecursively()
                                                       : root.remove(name));
    QVERIFY(root.mkpath(QStringLiteral("locked")) && root.mkpath(QStringLiteral("b/locked")));
}

void TestDeletionPlan::entries_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("expected");

    const QString size = QStringLiteral("4096");
    QTest::newRow("name with spaces kept whole")
        << QStringList{line("d", size, QStringLiteral("my docs")), line("-", size, QStringLiteral("a  b.txt"))}
        << QStringList{QStringLiteral("d:my docs"), QStringLiteral("f:a  b.txt")};
    QTest::newRow("64 spaces before the name")
        << QStringList{line("-", size, QStringLiteral("far.html"), 64)} << QStringList{QStringLiteral("f:far.html")};
    QTest::newRow("size column that does not convert")
        << QStringList{line("-", QStringLiteral("abc"), QStringLiteral("odd size")),
                       line("d", QStringLiteral("99999999999999999999999"), QStringLiteral("huge"))}
        << QStringList{QStringLiteral("f:odd size"), QStringLiteral("d:huge")};
    QTest::newRow("dot and dot-dot skipped, dot files kept")
        << QStringList{line("d", size, QStringLiteral(".")), line("d", size, QStringLiteral("..")),
                       line("-", size, QStringLiteral(".htaccess"))}
        << QStringList{QStringLiteral("f:.htaccess")};
    QTest::newRow("trailing blanks cut") << QStringList{line("-", size, QStringLiteral("end.txt  \t"))}
                                         << QStringList{QStringLiteral("f:end.txt")};
    QTest::newRow("transcript lines around the listing skipped")
        << QStringList{QStringLiteral("ftp> open 127.0.0.1"),
                       QStringLiteral("230 Login successful."),
                       QStringLiteral(" continued reply"),
                       QString(),
                       line("l", size, QStringLiteral("link -> x")),
                       line("-", size, QStringLiteral("after.txt")),
                       QStringLiteral("226 Transfer complete."),
                       QStringLiteral("ftp: 70 bytes received in 0.00Seconds 70.00Kbytes/sec.")}
        << QStringList{QStringLiteral("f:after.txt")};
    QTest::newRow("name that would leave the directory")
        << QStringList{line("-", size, QStringLiteral("../../etc/passwd")), line("d", size, QStringLiteral("x/y"))}
        << QStringList{};
    QTest::newRow("refused cd: the entries are another directory's")
        << QStringList{QStringLiteral("ftp> cd /gone/"), QStringLiteral("550 No such file or directory."),
                       QStringLiteral("ftp> dir"), line("d", size, QStringLiteral("www"))}
        << QStringList{};
}

void TestDeletionPlan::entries()
{
    QFETCH(QStringList, lines);
    QFETCH(QStringList, expected);
    QCOMPARE(describe(plannableEntries(lines)), expected);
    // The planning and the browsing parser agree on every name the parser can read.
    for (const QString& entry : lines) {
        TrecFileData record;
        try {
            ParseListingLine(record, entry);
        } catch (const AppError&) {
            continue;
        }
        QCOMPARE(ListingEntryName(entry), record.Name);
    }
}

void TestDeletionPlan::collect_data()
{
    QTest::addColumn<QStringList>("tree"); // files; a trailing "/" makes an empty folder
    QTest::addColumn<QString>("path");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("subdirectory before file, in listing order")
        << QStringList{"a/b/g", "a/f"} << "/a/" << QStringList{"/a/b/g", " /a/b", "/a/f"};
    QTest::newRow("file before subdirectory")
        << QStringList{"a/f", "a/s/g"} << "/a/" << QStringList{"/a/f", "/a/s/g", " /a/s"};
    QTest::newRow("deep chain, children before parents")
        << QStringList{"a/1/2/3/f"} << "/a/" << QStringList{"/a/1/2/3/f", " /a/1/2/3", " /a/1/2", " /a/1"};
    QTest::newRow("empty directories") << QStringList{"a/e/", "a/e2/"} << "/a/" << QStringList{" /a/e", " /a/e2"};
    QTest::newRow("names with spaces and a shared last word")
        << QStringList{"a/my docs/x y.txt", "a/docs", "a/two  spaces"} << "/a/"
        << QStringList{"/a/docs", "/a/my docs/x y.txt", " /a/my docs", "/a/two  spaces"};
    QTest::newRow("Japanese names") << QStringList{QString::fromUtf8("a/日本語/ファイル.txt")} << "/a/"
                                    << QStringList{QString::fromUtf8("/a/日本語/ファイル.txt"),
                                                   QString::fromUtf8(" /a/日本語")};
    QTest::newRow("dot files") << QStringList{"a/.htaccess"} << "/a/" << QStringList{"/a/.htaccess"};
    QTest::newRow("empty directory") << QStringList{"a/"} << "/a/" << QStringList{};
    QTest::newRow("missing directory: the login directory is not taken")
        << QStringList{"www/index.html", "www/img/"} << "/gone/" << QStringList{};
    QTest::newRow("refused directory: nothing below it")
        << QStringList{"locked/inner/x", "www/y"} << "/locked/" << QStringList{};
    QTest::newRow("refused subdirectory: its own entry only")
        << QStringList{"b/f", "b/locked/secret", "b/locked/deeper/z"} << "/b/" << QStringList{"/b/f", " /b/locked"};
    // A large tree, as the server's long listing orders it: every directory's entries sorted by name.
    QStringList large;
    for (int i = 0; i < 1200; ++i)
        large << QStringLiteral("big/s%1/d%2/f %3.html").arg(i % 6).arg(i % 54, 2, 10, QLatin1Char('0')).arg(i);
    large << "big/.htaccess"
          << "big/s0/.hidden/.x"
          << "big/empty/"
          << "big/s1/with blanks/"
          << "big/s2/d02/e/";
    QTest::newRow("1,200 files in 60 folders, empty folders, dot files, blanks")
        << large << "/big/" << QStringList{QStringLiteral("from disk")};
    // A cd answered with no reply or a reply that hides its refusal plans nothing from the login directory.
    for (const FtpServerFixture::BadCwdReply& bad : FtpServerFixture::badCwdReplies())
        QTest::addRow("reply %s: nothing planned", qPrintable(bad.dir))
            << QStringList{"www/index.html", "www/img/", bad.dir + QStringLiteral("/f")}
            << QLatin1Char('/') + bad.dir + QLatin1Char('/') << QStringList{};
}

void TestDeletionPlan::collect()
{
    QFETCH(QStringList, tree);
    QFETCH(QString, path);
    QFETCH(QStringList, expected);
    for (const QString& entry : tree) {
        const QString local = m_server.root() + QLatin1Char('/') + entry;
        QVERIFY(entry.endsWith(QLatin1Char('/')) ? QDir().mkpath(local) : writeAll(local, "x"));
    }
    if (expected == QStringList{QStringLiteral("from disk")})
        expected = deletionPlanOnDisk(m_server.root(), path);

    RemoteLister lister(credentials(), 10, ListingCommand::List);
    RemoteTreeListings listings;
    QVERIFY(ListRemoteTrees(lister, {path}, listings));
    QStringList queue{QStringLiteral("/kept")};
    CollectRemoteTree(listings, path, queue);
    QCOMPARE(queue, QStringList{QStringLiteral("/kept")} + expected);
    // Up to ten connections, each logged in once for all the levels.
    QVERIFY(lister.connectionsOpened() >= 1 && lister.connectionsOpened() <= 10);
    QCOMPARE(m_server.logins(), lister.connectionsOpened());
    m_server.clearLog();
    // No listing writes the script file that would hold the password.
    QVERIFY(!QFile::exists(ftpScriptPath()));
}

void TestDeletionPlan::collectWithoutLoginPlansNothing()
{
    QVERIFY(writeAll(m_server.root() + QStringLiteral("/a/f"), "x"));
    Credentials wrong = credentials();
    wrong.password = QStringLiteral("not the password");
    RemoteLister lister(wrong, 10, ListingCommand::List);
    RemoteTreeListings listings;
    QVERIFY(ListRemoteTrees(lister, {QStringLiteral("/a/")}, listings));
    QStringList queue;
    CollectRemoteTree(listings, QStringLiteral("/a/"), queue);
    QVERIFY(queue.isEmpty());
    QVERIFY(!QFile::exists(ftpScriptPath()));
}

// A stop once the first level is in: no deeper directory is listed and the listings say they are incomplete.
void TestDeletionPlan::collectStopped()
{
    QVERIFY(writeAll(m_server.root() + QStringLiteral("/a/b/c/f"), "x"));
    m_server.clearLog();
    RemoteLister lister(credentials(), 10, ListingCommand::List);
    RemoteTreeListings listings;
    QVERIFY(!ListRemoteTrees(lister, {QStringLiteral("/a/")}, listings, [&listings] { return !listings.isEmpty(); }));
    QCOMPARE(listings.keys(), QStringList{QStringLiteral("/a/")});
    int lists = 0;
    for (const QString& command : m_server.commands())
        lists += command.section(QLatin1Char(' '), 1).startsWith(QLatin1String("LIST")) ? 1 : 0;
    QCOMPARE(lists, 1);
}

void TestDeletionPlan::split_data()
{
    QTest::addColumn<QStringList>("plan");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QStringList>("directories");
    QTest::addColumn<int>("mode");

    QTest::newRow("files first, directories deferred in plan order")
        << QStringList{"/a/s/g", " /a/s", "/a/f", " /a"} << QStringList{"/a/s/g", "/a/f"} << QStringList{"/a/s", "/a"}
        << kDeleteFileMode;
    QTest::newRow("files only") << QStringList{"/a/x", "/a/y"} << QStringList{"/a/x", "/a/y"} << QStringList{}
                                << kDeleteFileMode;
    QTest::newRow("directories only go to the workers at once")
        << QStringList{" /a/img/", " /a/e"} << QStringList{"/a/img/", "/a/e"} << QStringList{} << kDeleteDirectoryMode;
    QTest::newRow("directories only: the deepest level first, the rest deferred in plan order")
        << QStringList{" /a/b/c", " /a/b", " /a/e/f/", " /a"} << QStringList{"/a/b/c", "/a/e/f/"}
        << QStringList{"/a/b", "/a"} << kDeleteDirectoryMode;
    QTest::newRow("mark and surrounding blanks removed, inner blanks kept")
        << QStringList{"/f", QStringLiteral(" /my docs/ \t\r")} << QStringList{"/f"} << QStringList{"/my docs/"}
        << kDeleteFileMode;
}

void TestDeletionPlan::split()
{
    QFETCH(QStringList, plan);
    QFETCH(QStringList, files);
    QFETCH(QStringList, directories);
    QFETCH(int, mode);
    const DeletionSplit result = splitDeletionPlan(plan);
    QCOMPARE(result.files, files);
    QCOMPARE(result.directories, directories);
    QCOMPARE(result.mode, mode);
}

void TestDeletionPlan::levels_data()
{
    QTest::addColumn<QStringList>("directories"); // deferred directories in plan order
    QTest::addColumn<QStringList>("levels");      // each level's directories joined by "|", deepest first

    QTest::newRow("one level") << QStringList{"/a/x", "/a/y/"} << QStringList{"/a/x|/a/y/"};
    QTest::newRow("nested, plan order kept within a level")
        << QStringList{"/a/s/t", "/a/s", "/a/u/v", "/a/u", "/a/w/", "/a"}
        << QStringList{"/a/s/t|/a/u/v", "/a/s|/a/u|/a/w/", "/a"};
    QTest::newRow("names with blanks and slashes at the end count by their names")
        << QStringList{"/my docs/a b/", "/my docs", "/x/y/z"} << QStringList{"/x/y/z", "/my docs/a b/", "/my docs"};
    QTest::newRow("sibling trees of different depth")
        << QStringList{"/p/1/2/3", "/p/1/2", "/p/1", "/p", "/q"} << QStringList{"/p/1/2/3", "/p/1/2", "/p/1", "/p|/q"};
}

void TestDeletionPlan::levels()
{
    QFETCH(QStringList, directories);
    QFETCH(QStringList, levels);
    QStringList taken;
    while (!directories.isEmpty()) {
        const qsizetype before = directories.size();
        taken << takeDeepestDirectories(directories).join(QLatin1Char('|'));
        QVERIFY(directories.size() < before);
    }
    QCOMPARE(taken, levels);
}

QTEST_GUILESS_MAIN(TestDeletionPlan)
#include "tst_deletionplan.moc"
