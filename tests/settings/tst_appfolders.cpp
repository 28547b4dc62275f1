#include "settings/appconfig.h"
#include "settings/appfolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

unsigned modeOf(const QString& path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0xFFFF;
    return st.st_mode & 07777;
}

bool makeFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.setPermissions(file.permissions() | QFileDevice::ExeOwner);
}

} // namespace

// The folder decision runs for real: against a writable folder, a folder made read-only with chmod (which the
// superuser must respect as well, as the tests run as root) and an installed layout, with the XDG folders pointed
// into a temporary folder of the test.
class TestAppFolders : public QObject
{
    Q_OBJECT

private slots:
    void settingsAndCopiesGoWhereTheProgramMayWrite_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<bool>("besideExecutable");
        QTest::newRow("build folder or portable copy") << "writable" << true;
        QTest::newRow("folder without write permission") << "read-only" << false;
        QTest::newRow("installed, client in libexec") << "installed" << false;
    }

    void settingsAndCopiesGoWhereTheProgramMayWrite()
    {
        QFETCH(QString, layout);
        QFETCH(bool, besideExecutable);

        QTemporaryDir root;
        QVERIFY(root.isValid());
        const QString xdgConfig = root.filePath(QStringLiteral("home/.config"));
        const QString xdgCache = root.filePath(QStringLiteral("home/.cache"));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(xdgConfig));
        qputenv("XDG_CACHE_HOME", QFile::encodeName(xdgCache));

        const QString exeDir = root.filePath(QStringLiteral("prefix/bin"));
        QVERIFY(QDir().mkpath(exeDir));
        if (layout == QLatin1String("installed")) {
            QVERIFY(QDir().mkpath(root.filePath(QStringLiteral("prefix/libexec/pelno"))));
            QVERIFY(makeFile(root.filePath(QStringLiteral("prefix/libexec/pelno/ftp"))));
            QCOMPARE(AppFolders::clientFolder(exeDir), root.filePath(QStringLiteral("prefix/libexec/pelno")));
        }
        if (layout == QLatin1String("read-only"))
            QVERIFY(QFile::setPermissions(exeDir, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                      QFileDevice::ReadOther | QFileDevice::ExeOther));
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(exeDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        });
        QCOMPARE(isWritableFolder(exeDir), layout != QLatin1String("read-only"));

        const AppFolders folders = AppFolders::forExecutableFolder(exeDir);
        if (besideExecutable) {
            QCOMPARE(folders.configDirectory, exeDir);
            QCOMPARE(folders.dataDirectory, exeDir + QStringLiteral("/data"));
            QVERIFY(!QFileInfo::exists(xdgConfig));
            QVERIFY(!QFileInfo::exists(xdgCache));
        } else {
            QCOMPARE(folders.configDirectory, xdgConfig + QStringLiteral("/pelno"));
            QCOMPARE(folders.dataDirectory, xdgCache + QStringLiteral("/pelno/data"));
            QCOMPARE(modeOf(folders.configDirectory), 0700u);
            QCOMPARE(modeOf(xdgCache + QStringLiteral("/pelno")), 0700u);
        }
        QCOMPARE(folders.configFile(), folders.configDirectory + QStringLiteral("/AppConfig.ini"));

        // The settings file works the same in either place: written for its owner only, read back as written.
        AppConfig config(folders.configFile());
        config.writeString(QStringLiteral("cn_本番"), QStringLiteral("server"), QStringLiteral("127.0.0.1:2121"));
        QCOMPARE(AppConfig(folders.configFile()).readString(QStringLiteral("CN_本番"), QStringLiteral("server"), {}),
                 QStringLiteral("127.0.0.1:2121"));
        QCOMPARE(modeOf(folders.configFile()), 0600u);
        // nothing lands beside an executable whose folder is not its own to write
        QCOMPARE(QDir(exeDir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty(),
                 !besideExecutable);
    }
};

QTEST_GUILESS_MAIN(TestAppFolders)
#include "tst_appfolders.moc"
