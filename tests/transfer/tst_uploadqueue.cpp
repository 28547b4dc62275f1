#include "transfer/transfertypehints.h"
#include "transfer/uploadqueue.h"

#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class TestUploadQueue : public QObject
{
    Q_OBJECT

private slots:
    void splitEntry_data();
    void splitEntry();
    void splitPrefersTheExistingFile();
    void remoteDirectories_data();
    void remoteDirectories();
    void droppedFolder_data();
    void droppedFolder();
    void droppedFileMissingNameAndFifo();
    void symbolicLinks();
    void longPathsAreKeptWhole();
    void maskNarrowsTheWalk();
    void walkedEntriesSplitBack();
    void plannedCount_data();
    void plannedCount();
    void typeHintsOrderTheNextBatch_data();
    void typeHintsOrderTheNextBatch();
};

void TestUploadQueue::splitEntry_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("localPath");
    QTest::addColumn<QString>("relativeName");
    QTest::addColumn<bool>("directory");

    QTest::newRow("plain") << "/w/a.txt" << true << "/w/a.txt"
                           << "a.txt" << false;
    QTest::newRow("plain with blanks and Japanese")
        << "/home/u/デスク トップ/日本語 ファイル.txt" << true << "/home/u/デスク トップ/日本語 ファイル.txt"
        << "日本語 ファイル.txt" << false;
    QTest::newRow("plain holding <>") << "/w/a<>b.txt" << true << "/w/a<>b.txt"
                                      << "a<>b.txt" << false;
    QTest::newRow("plain dot file") << "/w/.htaccess" << true << "/w/.htaccess"
                                    << ".htaccess" << false;
    QTest::newRow("folder file") << "<>/w/site<>/w/site/index.html" << true << "/w/site/index.html"
                                 << "site/index.html" << false;
    QTest::newRow("nested") << "<>/w/site<>/w/site/img/logo.png" << true << "/w/site/img/logo.png"
                            << "site/img/logo.png" << false;
    QTest::newRow("deeply nested") << "<>/site<>/site/a/b/c/d.css" << true << "/site/a/b/c/d.css"
                                   << "site/a/b/c/d.css" << false;
    QTest::newRow("root folder") << "<>/<>/x/y.txt" << true << "/x/y.txt"
                                 << "x/y.txt" << false;
    QTest::newRow("folder name holds <>") << "<>/w/a<>b<>/w/a<>b/c<>d.txt" << true << "/w/a<>b/c<>d.txt"
                                          << "a<>b/c<>d.txt" << false;
    QTest::newRow("folder ends in <>") << "<>/w/x<><>/w/x<>/f" << true << "/w/x<>/f"
                                       << "x<>/f" << false;
    QTest::newRow("prefix repeats in a folder name") << "<>/a<>/a<>/a<>/a/f" << true << "/a<>/a/f"
                                                     << "a/f" << false;
    QTest::newRow("folder name is <>") << "<>/<><>/<>/f.txt" << true << "/<>/f.txt"
                                       << "<>/f.txt" << false;
    QTest::newRow("Japanese folder with blanks")
        << "<>/w/サイト 1<>/w/サイト 1/画像/ロゴ.png" << true << "/w/サイト 1/画像/ロゴ.png"
        << "サイト 1/画像/ロゴ.png" << false;
    QTest::newRow("dot files below") << "<>/w/s<>/w/s/.git/.keep" << true << "/w/s/.git/.keep"
                                     << "s/.git/.keep" << false;
    QTest::newRow("folder with trailing slash") << "<>/w/site/<>/w/site/a.txt" << true << "/w/site/a.txt"
                                                << "site/a.txt" << false;
    QTest::newRow("sibling with a longer name") << "<>/w/s<>/w/site/a.txt" << false << ""
                                                << "" << false;
    QTest::newRow("no second marker") << "<>/w/site" << false << ""
                                      << "" << false;
    QTest::newRow("file outside the folder") << "<>/w/site<>/other/x" << false << ""
                                             << "" << false;
    QTest::newRow("dropped folder's own entry") << "<>/w/site<>/w/site/" << true << "/w/site"
                                                << "site" << true;
    QTest::newRow("directory below") << "<>/w/site<>/w/site/img/空 き/" << true << "/w/site/img/空 き"
                                     << "site/img/空 き" << true;
    QTest::newRow("directory below the root") << "<>/<>/x/" << true << "/x"
                                              << "x" << true;
    QTest::newRow("own entry of a folder given with a slash") << "<>/w/site/<>/w/site/" << true << "/w/site"
                                                              << "site" << true;
    QTest::newRow("directory of a folder named <>") << "<>/w/<><>/w/<>/d<>/" << true << "/w/<>/d<>"
                                                    << "<>/d<>" << true;
    QTest::newRow("the root's own entry") << "<>/<>/" << false << ""
                                          << "" << false;
    QTest::newRow("doubled slash") << "<>/w/s<>/w/s/a//" << false << ""
                                   << "" << false;
    QTest::newRow("plain path with a slash") << "/w/site/" << false << ""
                                             << "" << false;
    QTest::newRow("empty") << "" << false << ""
                           << "" << false;
    QTest::newRow("empty folder part") << "<><>/x" << false << ""
                                       << "" << false;
}

void TestUploadQueue::splitEntry()
{
    QFETCH(QString, entry);
    QFETCH(bool, valid);
    QFETCH(QString, localPath);
    QFETCH(QString, relativeName);
    QFETCH(bool, directory);

    const auto parts = splitUploadEntry(entry);
    QCOMPARE(parts.has_value(), valid);
    if (valid) {
        QCOMPARE(parts->localPath, localPath);
        QCOMPARE(parts->relativeName, relativeName);
        QCOMPARE(parts->directory, directory);
    }
}

// A folder "x<>" that holds the path of its own parent again (T/x<>/T/x/b): the entry also reads as folder T/x
// with a file T/x/b<>..., and only the file system tells which reading is real.
void TestUploadQueue::splitPrefersTheExistingFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + "/x<>" + dir.path() + "/x/b";
    const QString file = root + "/f.txt";
    QVERIFY(writeAll(file, "x"));

    QStringList queue;
    QStringList rejected;
    AddDroppedPath(root, queue, rejected);
    QCOMPARE(queue, (QStringList{"<>" + root + "<>" + root + "/", "<>" + root + "<>" + file}));
    QCOMPARE(rejected, QStringList{});

    const auto exists = [](const QString& path) { return QFileInfo::exists(path); };
    const auto own = splitUploadEntry(queue.first(), exists);
    QVERIFY(own);
    QCOMPARE(own->localPath, root);
    QCOMPARE(own->relativeName, QStringLiteral("b"));
    const auto parts = splitUploadEntry(queue.last(), exists);
    QVERIFY(parts);
    QCOMPARE(parts->localPath, file);
    QCOMPARE(parts->relativeName, QStringLiteral("b/f.txt"));

    // Asked about nothing, the first reading stands; a lookup is made only when there is a choice.
    QVERIFY(splitUploadEntry(queue.last())->localPath != file);
    int asked = 0;
    splitUploadEntry("<>/w/site<>/w/site/a.txt", [&asked](const QString&) {
        ++asked;
        return false;
    });
    QCOMPARE(asked, 0);
}

void TestUploadQueue::remoteDirectories_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("relativeName");
    QTest::addColumn<QStringList>("directories");

    QTest::newRow("file only") << "/www/"
                               << "a.txt" << QStringList{};
    QTest::newRow("one level") << "/www/"
                               << "site/index.html" << QStringList{"/www/site"};
    QTest::newRow("two levels") << "/www/"
                                << "site/img/logo.png" << QStringList{"/www/site", "/www/site/img"};
    QTest::newRow("into the root") << "/"
                                   << "x/y/z.txt" << QStringList{"/x", "/x/y"};
    QTest::newRow("names with blanks and <>") << "/w w/"
                                              << "a<>b/c d/e.txt" << QStringList{"/w w/a<>b", "/w w/a<>b/c d"};
}

void TestUploadQueue::remoteDirectories()
{
    QFETCH(QString, target);
    QFETCH(QString, relativeName);
    QFETCH(QStringList, directories);
    QCOMPARE(remoteDirectoriesOf(target, relativeName), directories);
}

void TestUploadQueue::droppedFolder_data()
{
    QTest::addColumn<QStringList>("files");        // created below the dropped folder
    QTest::addColumn<QStringList>("emptyFolders"); // created below the dropped folder
    QTest::addColumn<QString>("folderName");
    QTest::addColumn<bool>("trailingSlash"); // the folder is dropped as ".../name/"

    QTest::newRow("flat") << QStringList{"index.html", "style.css"} << QStringList{} << "site" << false;
    QTest::newRow("nested") << QStringList{"index.html", "img/logo.png", "img/icons/a.ico", "js/app.js"}
                            << QStringList{} << "site" << false;
    QTest::newRow("hidden and dot files")
        << QStringList{".htaccess", ".hidden/.keep", "a/.b", "..double"} << QStringList{} << "dots" << false;
    QTest::newRow("only empty folders") << QStringList{} << QStringList{"e", "f/g/h"} << "empty" << false;
    QTest::newRow("empty folders beside files")
        << QStringList{"x/y.txt"} << QStringList{"e", "x/z"} << "mixed" << false;
    QTest::newRow("Japanese, blanks and <>") << QStringList{"日本語 ページ.html", "画像/写真 1.jpg", "a<>b/c<>d.txt"}
                                             << QStringList{} << "サイト <>" << false;
    QTest::newRow("dropped with a trailing slash")
        << QStringList{"a.txt", "b/c.txt"} << QStringList{} << "site" << true;
}

void TestUploadQueue::droppedFolder()
{
    QFETCH(QStringList, files);
    QFETCH(QStringList, emptyFolders);
    QFETCH(QString, folderName);
    QFETCH(bool, trailingSlash);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + "/" + folderName;
    QVERIFY(QDir().mkpath(root));
    for (const QString& file : files)
        QVERIFY(writeAll(root + "/" + file, file.toUtf8()));
    for (const QString& folder : emptyFolders)
        QVERIFY(QDir().mkpath(root + "/" + folder));

    QStringList queue{"/earlier/entry.txt"};
    QStringList rejected;
    AddDroppedPath(trailingSlash ? root + "/" : root, queue, rejected);

    // One entry per file and one per folder (the dropped one included), every folder before its contents.
    QStringList expected{"<>" + root + "<>" + root + "/"};
    for (const QString& file : files)
        expected << "<>" + root + "<>" + root + "/" + file;
    for (const QString& path : files + emptyFolders) {
        const QStringList parts = path.split('/');
        for (qsizetype depth = 1; depth < parts.size() + (emptyFolders.contains(path) ? 1 : 0); ++depth) {
            const QString entry = "<>" + root + "<>" + root + "/" + parts.mid(0, depth).join('/') + "/";
            if (!expected.contains(entry))
                expected << entry;
        }
    }
    QCOMPARE(rejected, QStringList{});
    QCOMPARE(queue.first(), QStringLiteral("/earlier/entry.txt"));
    QStringList queued = queue.mid(1);
    for (qsizetype i = 0; i < queued.size(); ++i) {
        QString parent = queued[i].chopped(queued[i].endsWith('/') ? 1 : 0);
        parent.truncate(parent.lastIndexOf('/') + 1);
        if (queued[i] != expected.first())
            QVERIFY2(queued.indexOf(parent) >= 0 && queued.indexOf(parent) < i, qPrintable(queued[i]));
    }
    queued.sort();
    expected.sort();
    QCOMPARE(queued, expected);
}

// Only what a worker can send is queued; everything else is reported at once in the form it would have had.
void TestUploadQueue::droppedFileMissingNameAndFifo()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString file = dir.path() + "/a b.txt";
    QVERIFY(writeAll(file, "a"));
    const QString missing = dir.path() + "/gone/none.txt";
    const QString fifo = dir.path() + "/pipe";
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const QString folder = dir.path() + "/f";
    QVERIFY(writeAll(folder + "/x.txt", "x"));

    QStringList queue;
    QStringList rejected;
    for (const QString& path : {file, missing, fifo, folder})
        AddDroppedPath(path, queue, rejected);
    QCOMPARE(queue, (QStringList{file, "<>" + folder + "<>" + folder + "/", "<>" + folder + "<>" + folder + "/x.txt"}));
    QCOMPARE(rejected, (QStringList{missing, fifo}));
}

// Every way into a folder is walked under its own name; only a way back up to an ancestor ends. Links to files
// are files; FIFOs and dangling links are reported.
void TestUploadQueue::symbolicLinks()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + "/site";
    QVERIFY(writeAll(root + "/img/a.png", "png"));
    QVERIFY(writeAll(dir.path() + "/outside.txt", "o"));
    QVERIFY(QFile::link(root + "/img", root + "/images")); // a second way into img
    QVERIFY(QFile::link(root, root + "/img/loop"));        // back up to the dropped folder: ends
    QVERIFY(QDir().mkpath(root + "/img/deep"));
    QVERIFY(QFile::link(root + "/img", root + "/img/deep/up"));     // back up two levels: ends
    QVERIFY(QFile::link(dir.path() + "/outside.txt", root + "/l")); // a link to a file is a file
    QVERIFY(QFile::link(dir.path() + "/nowhere", root + "/dead"));  // cannot arrive: reported
    QVERIFY(::mkfifo(QFile::encodeName(root + "/img/pipe").constData(), 0600) == 0);

    const auto namesOf = [&root](const QStringList& entries) {
        QStringList names;
        for (const QString& entry : entries) {
            if (!entry.startsWith("<>" + root + "<>" + root + "/"))
                return QStringList{"unexpected entry " + entry};
            names << entry.mid(2 * root.size() + 5);
        }
        names.sort();
        return names;
    };

    // The same folder dropped twice is walked twice, too.
    QStringList queue;
    QStringList rejected;
    AddDroppedPath(root, queue, rejected);
    AddDroppedPath(root, queue, rejected);
    const QStringList once{"", "images/", "images/a.png", "images/deep/", "img/", "img/a.png", "img/deep/", "l"};
    QStringList twice = once + once;
    twice.sort();
    QCOMPARE(namesOf(queue), twice);
    QCOMPARE(namesOf(rejected), (QStringList{"dead", "dead", "images/pipe", "images/pipe", "img/pipe", "img/pipe"}));
}

void TestUploadQueue::longPathsAreKeptWhole()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + "/long";
    QString path = root;
    for (int level = 0; level < 15; ++level)
        path += "/" + QString(60, QChar(u'あ' + level % 10));
    const QString file = path + "/" + QString(100, u'x') + ".txt";
    QVERIFY(file.toUtf8().size() > 2048);
    QVERIFY(writeAll(file, "deep"));

    QStringList queue;
    QStringList rejected;
    AddDroppedPath(root, queue, rejected);
    QCOMPARE(queue.size(), 17); // the file, the dropped folder and the 15 folders on the way
    QCOMPARE(queue.last(), "<>" + root + "<>" + file);
    QCOMPARE(splitUploadEntry(queue.last())->relativeName, file.mid(dir.path().size() + 1));
}

void TestUploadQueue::maskNarrowsTheWalk()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(writeAll(dir.path() + "/a.txt", ""));
    QVERIFY(writeAll(dir.path() + "/b.html", ""));
    QVERIFY(writeAll(dir.path() + "/noext", ""));

    QStringList rejected;
    for (const QString& everything : {QString(), QStringLiteral("*"), QStringLiteral("*.*")}) {
        QStringList queue;
        CollectFolderFiles(queue, rejected, dir.path(), everything, dir.path());
        QCOMPARE(queue.size(), 3);
    }
    QStringList queue;
    CollectFolderFiles(queue, rejected, dir.path(), "*.txt", "/r");
    QCOMPARE(rejected, QStringList{});
    QCOMPARE(queue, QStringList{"<>/r<>" + dir.path() + "/a.txt"});
}

// What the walk queues, a worker reads back as the same file under the folder's own name.
void TestUploadQueue::walkedEntriesSplitBack()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + "/公開 <>site";
    const QStringList files{"index.html", ".htaccess", "img/ロゴ 1.png", "a<>/b<>c/d"};
    for (const QString& file : files)
        QVERIFY(writeAll(root + "/" + file, "x"));

    QStringList queue;
    QStringList rejected;
    AddDroppedPath(root, queue, rejected);
    QStringList relative;
    for (const QString& entry : queue) {
        const auto parts = splitUploadEntry(entry, [](const QString& path) { return QFileInfo::exists(path); });
        QVERIFY(parts);
        QVERIFY(parts->directory ? QFileInfo(parts->localPath).isDir() : QFileInfo(parts->localPath).isFile());
        QVERIFY(isSendable(*parts));
        relative << parts->relativeName;
    }
    relative.sort();
    QStringList expected{"公開 <>site", "公開 <>site/img", "公開 <>site/a<>", "公開 <>site/a<>/b<>c"};
    for (const QString& file : files)
        expected << "公開 <>site/" + file;
    expected.sort();
    QCOMPARE(relative, expected);
}

void TestUploadQueue::plannedCount_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<qlonglong>("count");
    QTest::addColumn<QString>("text");

    const QLocale japanese(QLocale::Japanese, QLocale::Japan);
    const QLocale german(QLocale::German, QLocale::Germany);
    QTest::newRow("nothing") << japanese << 0LL << "0";
    QTest::newRow("below a thousand") << japanese << 999LL << "999";
    QTest::newRow("a thousand") << japanese << 1000LL << "1,000";
    QTest::newRow("millions") << japanese << 1234567LL << "1,234,567";
    QTest::newRow("German grouping") << german << 1234LL << "1.234";
    QTest::newRow("C locale still groups") << QLocale::c() << 1234LL << "1,234";
}

void TestUploadQueue::plannedCount()
{
    QFETCH(QLocale, locale);
    QFETCH(qlonglong, count);
    QFETCH(QString, text);
    const QLocale saved;
    QLocale::setDefault(locale);
    const QString shown = groupedCount(count);
    QLocale::setDefault(saved);
    QCOMPARE(shown, text);
}

// Notes are "<local path>=a" (sniffed ASCII) or "=b" (binary); the queue after bringForward shows the batch at
// its head, then what was left behind, in its old order.
void TestUploadQueue::typeHintsOrderTheNextBatch_data()
{
    QTest::addColumn<QStringList>("notes");
    QTest::addColumn<QStringList>("queue");
    QTest::addColumn<int>("limit");
    QTest::addColumn<bool>("binary");
    QTest::addColumn<QStringList>("expected");

    const QStringList mixed{"/s/1.html", "/s/1.png", "/s/2.html", "/s/2.png", "/s/3.html"};
    const QStringList seen{"/x/a.png=b", "/x/a.html=a"};
    QTest::newRow("binary worker takes the images")
        << seen << mixed << 2 << true << QStringList{"/s/1.png", "/s/2.png", "/s/1.html", "/s/2.html", "/s/3.html"};
    QTest::newRow("ASCII worker takes the pages")
        << seen << mixed << 2 << false << QStringList{"/s/1.html", "/s/2.html", "/s/1.png", "/s/2.png", "/s/3.html"};
    QTest::newRow("fewer of its type than the limit: the next come in queue order")
        << seen << mixed << 4 << true << QStringList{"/s/1.png", "/s/2.png", "/s/1.html", "/s/2.html", "/s/3.html"};
    QTest::newRow("nothing seen yet: the queue stays as it is") << QStringList() << mixed << 3 << true << mixed;
    QTest::newRow("folder entries and unseen suffixes before the other type")
        << QStringList{"/x/a.png=b"} << QStringList{"/s/b.png", "<>/s<>/s/d/", "/s/a.txt", "/s/d.png", "/s/c.gif"} << 3
        << false << QStringList{"<>/s<>/s/d/", "/s/a.txt", "/s/c.gif", "/s/b.png", "/s/d.png"};
    QTest::newRow("a suffix seen with both types predicts nothing")
        << QStringList{"/x/1.dat=b", "/x/2.dat=a", "/x/z.png=b"} << QStringList{"/s/1.png", "/s/2.dat", "/s/3.png"} << 3
        << false << QStringList{"/s/2.dat", "/s/1.png", "/s/3.png"};
    // The suffix is the file name's, in any case; a leading dot or a dot in a folder name is no suffix.
    QTest::newRow("suffix case, dot files, dotted folders")
        << QStringList{"/x/Logo.PNG=b", "/x/.htaccess=a"}
        << QStringList{"/s.v2/README", "/s/.profile", "/s/b.png", "/s/c.Png"} << 2 << true
        << QStringList{"/s/b.png", "/s/c.Png", "/s.v2/README", "/s/.profile"};
    QTest::newRow("marker entries end with their file")
        << seen << QStringList{"<>/r<>/r/a.html", "<>/r<>/r/img/b.png"} << 1 << true
        << QStringList{"<>/r<>/r/img/b.png", "<>/r<>/r/a.html"};

    // Only the head of the queue is searched.
    QStringList pages;
    for (int i = 0; i < TransferTypeHints::kWindow - 1; ++i)
        pages << QString("/s/p%1.html").arg(i);
    const QStringList lastInWindow = pages + QStringList{"/s/i.png", "/s/q.html"};
    QTest::newRow("image at the window's end")
        << seen << lastInWindow << 1 << true << QStringList{"/s/i.png"} + pages + QStringList{"/s/q.html"};
    const QStringList beyondWindow = pages + QStringList{"/s/q.html", "/s/i.png"};
    QTest::newRow("image beyond the window") << seen << beyondWindow << 1 << true << beyondWindow;
}

void TestUploadQueue::typeHintsOrderTheNextBatch()
{
    QFETCH(QStringList, notes);
    QFETCH(QStringList, queue);
    QFETCH(int, limit);
    QFETCH(bool, binary);
    QFETCH(QStringList, expected);

    TransferTypeHints hints;
    for (const QString& note : std::as_const(notes))
        hints.note(note.section('=', 0, 0), note.section('=', 1) == "b");
    hints.bringForward(queue, limit, binary);
    QCOMPARE(queue, expected);
}

QTEST_GUILESS_MAIN(TestUploadQueue)
#include "tst_uploadqueue.moc"
