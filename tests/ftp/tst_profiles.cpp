#include "ftp/profiles.h"
#include "settings/appconfig.h"
#include "settings/apperror.h"

#include "testfiles.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

// The profile rules on a real settings file in a private folder.
class TestProfiles : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString iniPath() const { return m_dir.filePath(QStringLiteral("AppConfig.ini")); }

private slots:
    void init() { QFile::remove(iniPath()); }

    void storedProfileReadsBack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("storedList");
        QTest::newRow("plain") << QStringLiteral("site") << QStringLiteral("site");
        QTest::newRow("two words") << QStringLiteral("my site") << QStringLiteral("\"my site\"");
        QTest::newRow("comma") << QStringLiteral("a,b") << QStringLiteral("\"a,b\"");
        QTest::newRow("japanese") << QStringLiteral("本番サーバー") << QStringLiteral("本番サーバー");
    }
    void storedProfileReadsBack()
    {
        QFETCH(QString, name);
        QFETCH(QString, storedList);
        AppConfig config(iniPath());
        QStringList names;
        storeProfile(config, name, {QStringLiteral("127.0.0.1:2121"), QStringLiteral("user"), QStringLiteral("p w")},
                     names);

        QCOMPARE(names, QStringList{name});
        QCOMPARE(config.readString(QStringLiteral("app"), QStringLiteral("cn_names"), QString()), storedList);
        QCOMPARE(readProfileNames(config), QStringList{name});
        QCOMPARE(readDefaultProfileName(config), name);
        const Credentials profile = readProfile(config, name);
        QCOMPARE(profile.server, QStringLiteral("127.0.0.1:2121"));
        QCOMPARE(profile.userId, QStringLiteral("user"));
        QCOMPARE(profile.password, QStringLiteral("p w"));
        QCOMPARE(config.readString(QStringLiteral("cn_") + name, QStringLiteral("server"), QString()), profile.server);
    }

    void connectionSettingsReadBack_data()
    {
        QTest::addColumn<QByteArray>("stored"); // the lines of the profile's section after its password
        QTest::addColumn<int>("data");
        QTest::addColumn<int>("tls");
        QTest::addColumn<QString>("pin");
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("hostKey");
        QTest::addColumn<QString>("keyFile");
        QTest::addColumn<QString>("passphrase");
        const QString pin = QStringLiteral("sha256//") + QString::fromLatin1(QByteArray(32, 'k').toBase64());
        const QString hostKey = QStringLiteral("SHA256:") +
                                QString::fromLatin1(QByteArray(32, 'h').toBase64(QByteArray::OmitTrailingEquals));
        const int ftp = int(TransferProtocol::Ftp);
        const int sftp = int(TransferProtocol::Sftp);
        QTest::newRow("stored before the settings")
            << QByteArray() << int(DataConnectionMode::Automatic) << int(TlsMode::WhenOffered) << QString() << ftp
            << QString() << QString() << QString();
        QTest::newRow("all set") << "dataconnection=passive\nsecurity=required\npinnedkey=" + pin.toLatin1() + "\n"
                                 << int(DataConnectionMode::Passive) << int(TlsMode::Required) << pin << ftp
                                 << QString() << QString() << QString();
        QTest::newRow("active, no TLS") << QByteArray("DataConnection=active\nSecurity=none\n")
                                        << int(DataConnectionMode::Active) << int(TlsMode::Off) << QString() << ftp
                                        << QString() << QString() << QString();
        QTest::newRow("unknown values and a broken pin")
            << QByteArray("dataconnection=fast\nsecurity=maybe\npinnedkey=sha256//abc\n")
            << int(DataConnectionMode::Automatic) << int(TlsMode::WhenOffered) << QString() << ftp << QString()
            << QString() << QString();
        QTest::newRow("SFTP with key file and passphrase")
            << "protocol=sftp\nhostkey=" + hostKey.toLatin1() + "\nkeyfile=/home/u/.ssh/id ed25519\nkeypassphrase=p p\n"
            << int(DataConnectionMode::Automatic) << int(TlsMode::WhenOffered) << QString() << sftp << hostKey
            << QStringLiteral("/home/u/.ssh/id ed25519") << QStringLiteral("p p");
        QTest::newRow("unknown protocol and a padded host key")
            << "protocol=scp\nhostkey=" + hostKey.toLatin1() + "=\n"
            << int(DataConnectionMode::Automatic) << int(TlsMode::WhenOffered) << QString() << ftp << QString()
            << QString() << QString();
    }
    void connectionSettingsReadBack()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, data);
        QFETCH(int, tls);
        QFETCH(QString, pin);
        QFETCH(int, protocol);
        QFETCH(QString, hostKey);
        QFETCH(QString, keyFile);
        QFETCH(QString, passphrase);
        QVERIFY(writeAll(iniPath(), "[cn_site]\nserver=s\nuserid=u\npassword=p\n" + stored));
        AppConfig config(iniPath());
        const Credentials profile = readProfile(config, QStringLiteral("site"));
        QCOMPARE(int(profile.settings.dataConnection), data);
        QCOMPARE(int(profile.settings.tls), tls);
        QCOMPARE(profile.settings.pinnedKey, pin);
        QCOMPARE(int(profile.settings.protocol), protocol);
        QCOMPARE(profile.settings.hostKey, hostKey);
        QCOMPARE(profile.settings.keyFile, keyFile);
        QCOMPARE(profile.settings.keyPassphrase, passphrase);

        // what is stored reads back the same
        QStringList names;
        storeProfile(config, QStringLiteral("copy"), profile, names);
        QVERIFY(readProfile(config, QStringLiteral("copy")).settings == profile.settings);
    }

    void nameDifferingOnlyInCaseIsTheSameProfile_data()
    {
        QTest::addColumn<QString>("second");
        QTest::newRow("upper") << QStringLiteral("SITE");
        QTest::newRow("mixed") << QStringLiteral("Site");
        QTest::newRow("same") << QStringLiteral("site");
    }
    void nameDifferingOnlyInCaseIsTheSameProfile()
    {
        QFETCH(QString, second);
        AppConfig config(iniPath());
        QStringList names;
        storeProfile(config, QStringLiteral("site"), {QStringLiteral("old"), QStringLiteral("u"), QStringLiteral("p")},
                     names);
        storeProfile(config, second, {QStringLiteral("new"), QStringLiteral("u2"), QStringLiteral("p2")}, names);

        QCOMPARE(names, QStringList{QStringLiteral("site")});
        QCOMPARE(readProfileNames(config), QStringList{QStringLiteral("site")});
        QCOMPARE(readDefaultProfileName(config), second);
        // one section, found under either spelling
        QCOMPARE(readProfile(config, QStringLiteral("site")).server, QStringLiteral("new"));
        QCOMPARE(QString::fromUtf8(readAll(iniPath())).count(QStringLiteral("server="), Qt::CaseInsensitive), 1);
    }

    void newNamesAreAppendedInOrder()
    {
        AppConfig config(iniPath());
        QStringList names;
        for (const QString& name : {QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("c d")})
            storeProfile(config, name, {name, name, name}, names);
        const QStringList expected = {QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("c d")};
        QCOMPARE(names, expected);
        QCOMPARE(readProfileNames(config), expected);
        QCOMPARE(readDefaultProfileName(config), QStringLiteral("c d"));
        QCOMPARE(readProfile(config, QStringLiteral("a")).userId, QStringLiteral("a"));
    }

    void nameWithLineBreakIsLeftOut()
    {
        // A CR inside quotes, as an edit by hand may leave it: the name is not offered, and the next profile is
        // stored with the list written without it.
        AppConfig config(iniPath());
        QVERIFY(writeAll(iniPath(), "[app]\ncn_names=web,\"a\rb\",site\r"));
        QStringList names = readProfileNames(config);
        QCOMPARE(names, (QStringList{QStringLiteral("web"), QStringLiteral("site")}));
        storeProfile(config, QStringLiteral("new"), {QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p")},
                     names);
        QCOMPARE(readProfileNames(config),
                 (QStringList{QStringLiteral("web"), QStringLiteral("site"), QStringLiteral("new")}));
    }

    void missingValuesReadEmpty()
    {
        AppConfig config(iniPath());
        QVERIFY(writeAll(iniPath(), "[cn_half]\nserver=host\n"));
        const Credentials half = readProfile(config, QStringLiteral("half"));
        QCOMPARE(half.server, QStringLiteral("host"));
        QCOMPARE(half.userId, QString());
        QCOMPARE(half.password, QString());
        QCOMPARE(readProfile(config, QStringLiteral("other")).server, QString());
        QCOMPARE(readDefaultProfileName(config), QString());
        QCOMPARE(readProfileNames(config), QStringList());
    }

    void refusedValueLeavesTheStoredProfileWhole_data()
    {
        QTest::addColumn<int>("field"); // 0 server, 1 user ID, 2 password
        QTest::addColumn<QString>("value");
        QTest::newRow("server LF") << 0 << QStringLiteral("h\nx");
        QTest::newRow("user ID CR") << 1 << QStringLiteral("u\r");
        QTest::newRow("password LF") << 2 << QStringLiteral("p\n[app]");
    }
    void refusedValueLeavesTheStoredProfileWhole()
    {
        // Each field is refused only once the fields before it would have been written: the profile in the file
        // must stay the one stored before, not a mix of old and new values.
        QFETCH(int, field);
        QFETCH(QString, value);
        AppConfig config(iniPath());
        QStringList names;
        storeProfile(config, QStringLiteral("site"), {QStringLiteral("old"), QStringLiteral("u"), QStringLiteral("p")},
                     names);
        const QByteArray before = readAll(iniPath());
        Credentials changed{QStringLiteral("new"), QStringLiteral("u2"), QStringLiteral("p2")};
        (field == 0 ? changed.server : field == 1 ? changed.userId : changed.password) = value;
        QVERIFY_THROWS_EXCEPTION(AppError, storeProfile(config, QStringLiteral("site"), changed, names));
        QCOMPARE(readAll(iniPath()), before);
    }

    void refusedWriteKeepsTheListAsTheFileHasIt()
    {
        // A folder in place of the settings file makes every write fail.
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("AppConfig.ini")));
        AppConfig config(iniPath());
        QStringList names = {QStringLiteral("old")};
        QString message;
        try {
            storeProfile(config, QStringLiteral("new"), {QStringLiteral("h"), QStringLiteral("u"), QStringLiteral("p")},
                         names);
        } catch (const AppError& error) {
            message = error.message();
        }
        QVERIFY(QDir(m_dir.path()).rmdir(QStringLiteral("AppConfig.ini")));
        QCOMPARE(message, iniPath() + QStringLiteral(" に書き込めません"));
        QCOMPARE(names, QStringList{QStringLiteral("old")});
    }
};

QTEST_GUILESS_MAIN(TestProfiles)
#include "tst_profiles.moc"
