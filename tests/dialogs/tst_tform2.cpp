#include "dialogs/tform2.h"
#include "settings/appconfig.h"

#include "desktopguard.h"
#include "ftp/connectionsettings.h"
#include "ftp/tlscertificate.h"

#include "ftpserverfixture.h"
#include "modal.h"
#include "sshdfixture.h"
#include "testcertificates.h"
#include "testfiles.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

// The connect dialog with its real widgets, against the real test server and the real settings file beside the
// test program.
using namespace Qt::StringLiterals;

class TestTForm2 : public QObject
{
    Q_OBJECT

private:
    FtpServerFixture m_server;

    static QString iniPath() { return AppConfig::defaultPath(); }

    static void writeSettings(const QByteArray& text) { QVERIFY(writeAll(iniPath(), text)); }

    QByteArray storedProfiles() const
    {
        return "[app]\ndefaultConnection=work\ncn_names=home,work\n"
               "[cn_home]\nserver=home.example\nuserid=me\npassword=pw1\n"
               "[cn_work]\nserver=" +
               m_server.host().toUtf8() + "\nuserid=" + FtpServerFixture::user().toUtf8() +
               "\npassword=" + FtpServerFixture::password().toUtf8() + "\n";
    }

    static void fill(TForm2& dialog, const QString& name, const QString& server, const QString& user,
                     const QString& password)
    {
        dialog.ProfileName()->setEditText(name);
        dialog.serverEdit()->setText(server);
        dialog.userEdit()->setText(user);
        dialog.passwordEdit()->setText(password);
    }

    static QStringList items(const QComboBox* box)
    {
        QStringList list;
        for (int i = 0; i < box->count(); ++i)
            list << box->itemText(i);
        return list;
    }

    static QStringList fields(const TForm2& dialog)
    {
        return {dialog.serverEdit()->text(), dialog.userEdit()->text(), dialog.passwordEdit()->text()};
    }

    // Presses "接続"; answers the certificate question with answer and any message box with its first button;
    // returns what each modal window showed, in order. The answerer lives only for this click, so it never answers
    // a window of a later test. *hourglass tells whether the busy cursor was on under a window or after the click.
    static QStringList connectAnswering(TForm2& dialog, const QString& answer, bool* hourglass = nullptr)
    {
        QStringList shown;
        bool cursorUnderWindow = false;
        ModalAnswerer answerer([&](QWidget* modal) {
            if (modal == &dialog)
                return;
            shown << modal->windowTitle() + QLatin1Char('|') + modalText(modal);
            cursorUnderWindow = cursorUnderWindow || QApplication::overrideCursor();
            if (!pressButton(modal, answer))
                pressButton(modal);
        });
        QTest::mouseClick(dialog.connectButton(), Qt::LeftButton);
        if (hourglass)
            *hourglass = cursorUnderWindow || QApplication::overrideCursor();
        return shown;
    }

    // A connect that shows a message box at most: what it showed, if anything; no hourglass is left behind,
    // neither under the message nor after it.
    static QString connectAndAnswer(TForm2& dialog)
    {
        bool hourglass = false;
        const QStringList shown = connectAnswering(dialog, QString(), &hourglass);
        return hourglass ? QStringLiteral("hourglass left on") : shown.join(QLatin1Char('\n'));
    }

private slots:
    void initTestCase() { QVERIFY(m_server.start()); }
    void cleanupTestCase() { m_server.stop(); }
    void init() { QFile::remove(iniPath()); }
    void cleanup()
    {
        QDir().rmdir(iniPath());
        QFile::remove(iniPath());
    }

    void layoutAsTheUserSeesIt()
    {
        Credentials credentials;
        TForm2 dialog(credentials);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("接続情報設定"));
        QCOMPARE(dialog.size(), QSize(260, 280));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        const Qt::WindowFlags flags = dialog.windowFlags();
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(
            !(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowContextHelpButtonHint)));
        QCOMPARE(dialog.passwordEdit()->echoMode(), QLineEdit::Normal);

        // each caption stands on the row of its field, whole and inside the window, and nothing overlaps
        const QStringList captions = {
            QStringLiteral("設定名"),     QStringLiteral("サーバー"),   QStringLiteral("ユーザー"),
            QStringLiteral("パスワード"), QStringLiteral("データ接続"), QStringLiteral("暗号化"),
            QStringLiteral("プロトコル"), QStringLiteral("鍵ファイル"), QStringLiteral("パスフレーズ")};
        const QList<QWidget*> fieldsInRows = {
            dialog.ProfileName(),  dialog.serverEdit(),        dialog.userEdit(),
            dialog.passwordEdit(), dialog.dataConnectionBox(), dialog.securityBox(),
            dialog.protocolBox(),  dialog.keyFileEdit(),       dialog.passphraseEdit()};
        QList<QRect> taken = {dialog.connectButton()->geometry(), dialog.cancelButton()->geometry(),
                              dialog.keyFileButton()->geometry()};
        for (int row = 0; row < captions.size(); ++row) {
            QLabel* label = nullptr;
            for (QLabel* candidate : dialog.findChildren<QLabel*>()) {
                if (candidate->text() == captions.at(row))
                    label = candidate;
            }
            QVERIFY2(label && label->isVisible(), qPrintable(captions.at(row)));
            QVERIFY(label->sizeHint().width() <= label->width());
            QVERIFY(qAbs(label->geometry().center().y() - fieldsInRows.at(row)->geometry().center().y()) <= 2);
            taken << label->geometry() << fieldsInRows.at(row)->geometry();
        }
        for (int a = 0; a < taken.size(); ++a) {
            QVERIFY(dialog.rect().contains(taken.at(a)));
            for (int b = a + 1; b < taken.size(); ++b)
                QVERIFY2(!taken.at(a).intersects(taken.at(b)),
                         qPrintable(QString::number(a) + "/" + QString::number(b)));
        }
    }

    void tabOrderStartsAtTheServer()
    {
        Credentials credentials;
        TForm2 dialog(credentials);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        // the key file and passphrase are SFTP's: skipped while FTP is chosen
        const QList<QWidget*> order = {dialog.serverEdit(),    dialog.userEdit(),          dialog.passwordEdit(),
                                       dialog.protocolBox(),   dialog.dataConnectionBox(), dialog.securityBox(),
                                       dialog.connectButton(), dialog.cancelButton(),      dialog.ProfileName(),
                                       dialog.serverEdit()};
        QTRY_COMPARE(QApplication::focusWidget(), order.first());
        for (int i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            // the drop-down's own line edit holds the focus for it
            if (focused && focused->parentWidget() == dialog.ProfileName())
                focused = dialog.ProfileName();
            QCOMPARE(focused, order.at(i));
        }
    }

    void noSettingsFileGivesTheInitialContents()
    {
        Credentials credentials;
        TForm2 dialog(credentials);
        QCOMPARE(dialog.ProfileName()->currentText(), QStringLiteral("ComboBox1"));
        QCOMPARE(dialog.ProfileName()->count(), 0);
        QCOMPARE(fields(dialog), QStringList({QString(), QString(), QString()}));

        // without the file, changing the name reads nothing and keeps what was typed
        dialog.serverEdit()->setText(QStringLiteral("typed"));
        QTest::keyClicks(dialog.ProfileName()->lineEdit(), QStringLiteral("x"));
        QCOMPARE(dialog.serverEdit()->text(), QStringLiteral("typed"));
        QVERIFY(!QFile::exists(iniPath()));
    }

    void storedDefaultProfileIsLoaded()
    {
        writeSettings(storedProfiles());
        Credentials credentials;
        TForm2 dialog(credentials);
        QCOMPARE(items(dialog.ProfileName()), QStringList({QStringLiteral("home"), QStringLiteral("work")}));
        // the list starts with "home", but the text stays the default profile's name
        QCOMPARE(dialog.ProfileName()->currentText(), QStringLiteral("work"));
        QCOMPARE(fields(dialog),
                 QStringList({m_server.host(), FtpServerFixture::user(), FtpServerFixture::password()}));
    }

    void changingTheNameReadsItsProfile_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("new name empties the fields") << QStringLiteral("new") << QStringList({"", "", ""});
        QTest::newRow("stored name fills them") << QStringLiteral("home") << QStringList({"home.example", "me", "pw1"});
        QTest::newRow("stored name in other case")
            << QStringLiteral("HOME") << QStringList({"home.example", "me", "pw1"});
    }
    void changingTheNameReadsItsProfile()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        writeSettings(storedProfiles());
        Credentials credentials;
        TForm2 dialog(credentials);
        QLineEdit* edit = dialog.ProfileName()->lineEdit();
        edit->selectAll();
        QTest::keyClicks(edit, typed);
        QCOMPARE(dialog.ProfileName()->currentText(), typed);
        QCOMPARE(fields(dialog), expected);
    }

    void pickingFromTheListReadsItsProfile()
    {
        writeSettings(storedProfiles());
        Credentials credentials;
        TForm2 dialog(credentials);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.ProfileName()->setFocus();
        QTest::keyClick(dialog.ProfileName()->lineEdit(), Qt::Key_Up);
        QCOMPARE(dialog.ProfileName()->currentText(), QStringLiteral("home"));
        QCOMPARE(fields(dialog), QStringList({"home.example", "me", "pw1"}));
    }

    void successfulConnectStoresTheProfile()
    {
        Credentials credentials;
        TForm2 dialog(credentials);
        const int loginsBefore = m_server.logins();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        fill(dialog, QStringLiteral("ComboBox1"), m_server.host(), FtpServerFixture::user(),
             FtpServerFixture::password());
        // Enter in a field presses the default button
        QTest::keyClick(dialog.passwordEdit(), Qt::Key_Return);

        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(m_server.logins(), loginsBefore + 1);
        QCOMPARE(credentials.server, m_server.host());
        QCOMPARE(credentials.userId, FtpServerFixture::user());
        QCOMPARE(credentials.password, FtpServerFixture::password());

        const AppConfig config;
        QVERIFY(config.exists());
        QCOMPARE(config.readString("app", "defaultConnection", "-"), QStringLiteral("ComboBox1"));
        QCOMPARE(config.readString("app", "cn_names", "-"), QStringLiteral("ComboBox1"));
        QCOMPARE(config.readString("cn_ComboBox1", "server", "-"), m_server.host());
        QCOMPARE(config.readString("cn_ComboBox1", "userid", "-"), FtpServerFixture::user());
        QCOMPARE(config.readString("cn_ComboBox1", "password", "-"), FtpServerFixture::password());
        QCOMPARE(items(dialog.ProfileName()), QStringList({QStringLiteral("ComboBox1")}));
        QCOMPARE(dialog.ProfileName()->currentText(), QStringLiteral("ComboBox1"));
    }

    void enterInTheProfileNameConnectsWithoutListingTwice()
    {
        Credentials credentials;
        TForm2 dialog(credentials);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        fill(dialog, QString(), m_server.host(), FtpServerFixture::user(), FtpServerFixture::password());
        dialog.ProfileName()->setFocus();
        QTest::keyClicks(dialog.ProfileName()->lineEdit(), QStringLiteral("typed"));
        // the typed name alone empties the fields (the settings file does not exist yet, so it does not)
        QCOMPARE(fields(dialog),
                 QStringList({m_server.host(), FtpServerFixture::user(), FtpServerFixture::password()}));
        QTest::keyClick(dialog.ProfileName()->lineEdit(), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(items(dialog.ProfileName()), QStringList({QStringLiteral("typed")}));
        QCOMPARE(AppConfig().readString("app", "cn_names", "-"), QStringLiteral("typed"));
    }

    void emptyProfileNameConnectsAndWritesNothing_data()
    {
        QTest::addColumn<bool>("fileExists");
        QTest::newRow("no settings file") << false;
        QTest::newRow("stored profiles") << true;
    }
    void emptyProfileNameConnectsAndWritesNothing()
    {
        QFETCH(bool, fileExists);
        if (fileExists)
            writeSettings(storedProfiles());
        const QByteArray before = readAll(iniPath());
        Credentials credentials;
        TForm2 dialog(credentials);
        dialog.show();
        fill(dialog, QString(), m_server.host(), FtpServerFixture::user(), FtpServerFixture::password());
        QCOMPARE(connectAndAnswer(dialog), QString());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(credentials.server, m_server.host());
        QCOMPARE(QFile::exists(iniPath()), fileExists);
        QCOMPARE(readAll(iniPath()), before);
    }

    void nameInOtherCaseWritesTheSameProfile()
    {
        writeSettings(storedProfiles());
        Credentials credentials;
        TForm2 dialog(credentials);
        dialog.show();
        fill(dialog, QStringLiteral("WORK"), m_server.host(), FtpServerFixture::user(), FtpServerFixture::password());
        QCOMPARE(connectAndAnswer(dialog), QString());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));

        const AppConfig config;
        QCOMPARE(config.readString("app", "cn_names", "-"), QStringLiteral("home,work"));
        QCOMPARE(config.readString("app", "defaultConnection", "-"), QStringLiteral("WORK"));
        QCOMPARE(items(dialog.ProfileName()), QStringList({QStringLiteral("home"), QStringLiteral("work")}));
        const QString text = QString::fromUtf8(readAll(iniPath()));
        QCOMPARE(text.count(QStringLiteral("[cn_work]"), Qt::CaseInsensitive), 1);
        QCOMPARE(text.count(QStringLiteral("server="), Qt::CaseInsensitive), 2);
    }

    void nameWithASpaceComesBackWhole()
    {
        writeSettings(storedProfiles());
        Credentials credentials;
        {
            TForm2 dialog(credentials);
            dialog.show();
            fill(dialog, QStringLiteral("my site"), m_server.host(), FtpServerFixture::user(),
                 FtpServerFixture::password());
            QCOMPARE(connectAndAnswer(dialog), QString());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(items(dialog.ProfileName()),
                     QStringList({QStringLiteral("home"), QStringLiteral("work"), QStringLiteral("my site")}));
        }
        QCOMPARE(AppConfig().readString("app", "cn_names", "-"), QStringLiteral("home,work,\"my site\""));

        // the next start of the program shows it again as one name
        TForm2 next(credentials);
        QCOMPARE(items(next.ProfileName()),
                 QStringList({QStringLiteral("home"), QStringLiteral("work"), QStringLiteral("my site")}));
        QCOMPARE(next.ProfileName()->currentText(), QStringLiteral("my site"));
        QCOMPARE(fields(next), QStringList({m_server.host(), FtpServerFixture::user(), FtpServerFixture::password()}));
    }

    void certificateQuestionPinsTheKey()
    {
        TestCertificates certificates;
        const TestCertificates::Pair first = certificates.selfSigned(QStringLiteral("pelno-dialog"));
        QVERIFY(first.isValid());
        FtpServerFixture tls;
        tls.setTls(first.certificate, first.key);
        QVERIFY(tls.start());

        // the first connect asks, and trusting it connects and pins the key with the profile
        Credentials credentials;
        {
            TForm2 dialog(credentials);
            dialog.show();
            fill(dialog, QStringLiteral("secure"), tls.host(), FtpServerFixture::user(), FtpServerFixture::password());
            const QStringList shown = connectAnswering(dialog, QStringLiteral("信頼する"));
            QCOMPARE(shown.size(), 1);
            QVERIFY(shown.first().startsWith(QStringLiteral("証明書の確認|")));
            QVERIFY(shown.first().contains(certificateProblemText(FtpCertificate::Problem::SelfSigned)));
            QVERIFY(shown.first().contains(QStringLiteral("CN=pelno-dialog")));
            QVERIFY(shown.first().contains(TestCertificates::fingerprint(first.certificate)));
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        const QString pin = AppConfig().readString("cn_secure", "pinnedkey", QString());
        QVERIFY(isPinnedKeyText(pin));
        QCOMPARE(credentials.settings.pinnedKey, pin);
        QCOMPARE(credentials.settings.tls, TlsMode::Required); // negotiated TLS stays required for the session
        QCOMPARE(AppConfig().readString("cn_secure", "security", QString()), QStringLiteral("offered"));
        // the question came before any password: the only one arrived over TLS, after trusting
        QCOMPARE(tls.passwordsOverTls(), QList<bool>{true});

        // the stored profile connects without a question
        {
            TForm2 dialog(credentials);
            dialog.show();
            QCOMPARE(dialog.serverEdit()->text(), tls.host());
            QCOMPARE(connectAnswering(dialog, QString()), QStringList());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }

        // a new key on the same server is refused with the warning; not trusting it fails the test as usual
        tls.stop();
        const TestCertificates::Pair second = certificates.selfSigned(QStringLiteral("pelno-dialog"));
        tls.setTls(second.certificate, second.key);
        QVERIFY(tls.start());
        {
            TForm2 dialog(credentials);
            dialog.show();
            const QStringList shown = connectAnswering(dialog, QStringLiteral("信頼しない"));
            QCOMPARE(shown.size(), 2);
            QVERIFY(shown.at(0).contains(certificateProblemText(FtpCertificate::Problem::KeyChanged)));
            QVERIFY(shown.at(0).contains(pin));
            QVERIFY(shown.at(0).contains(TestCertificates::fingerprint(second.certificate)));
            QCOMPARE(shown.at(1), QStringLiteral("PELNO2.0|接続に失敗しました"));
            QVERIFY(dialog.isVisible());
        }
        QCOMPARE(AppConfig().readString("cn_secure", "pinnedkey", QString()), pin);
        QCOMPARE(tls.passwordsOverTls(), QList<bool>{});
    }

    void protocolChoiceShapesTheDialog_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("protocol");
        QTest::addColumn<QString>("shownServer");
        QTest::newRow("FTP's port becomes SFTP's") << u"host:21"_s << 1 << u"host:22"_s;
        QTest::newRow("another port stays") << u"host:2222"_s << 1 << u"host:2222"_s;
        QTest::newRow("no port, none added") << u"host"_s << 1 << u"host"_s;
        QTest::newRow("v6 with FTP's port") << u"[::1]:21"_s << 1 << u"[::1]:22"_s;
        QTest::newRow("there and back") << u"host:21"_s << 0 << u"host:21"_s;
    }
    void protocolChoiceShapesTheDialog()
    {
        QFETCH(QString, server);
        QFETCH(int, protocol);
        QFETCH(QString, shownServer);
        Credentials credentials;
        TForm2 dialog(credentials);
        dialog.show();
        dialog.serverEdit()->setText(server);
        dialog.protocolBox()->setCurrentIndex(protocol);
        if (protocol == 0) { // there and back: SFTP's default port goes back to FTP's
            dialog.protocolBox()->setCurrentIndex(1);
            QCOMPARE(dialog.serverEdit()->text(), u"host:22"_s);
            dialog.protocolBox()->setCurrentIndex(0);
        }
        QCOMPARE(dialog.serverEdit()->text(), shownServer);
        const bool sftp = protocol == 1;
        QCOMPARE(dialog.dataConnectionBox()->isEnabled(), !sftp);
        QCOMPARE(dialog.securityBox()->isEnabled(), !sftp);
        QCOMPARE(dialog.keyFileEdit()->isEnabled(), sftp);
        QCOMPARE(dialog.keyFileButton()->isEnabled(), sftp);
        QCOMPARE(dialog.passphraseEdit()->isEnabled(), sftp);
        QCOMPARE(dialog.passphraseEdit()->echoMode(), QLineEdit::Password);
        QVERIFY(dialog.serverEdit()->placeholderText().contains(sftp ? u"22"_s : u"21"_s));

        // a stored profile shows its server as stored, whatever the protocol's default port
        writeSettings("[app]\ndefaultConnection=x\ncn_names=x\n[cn_x]\nserver=" + server.toUtf8() +
                      "\nprotocol=" + (sftp ? "sftp" : "ftp") + "\n");
        Credentials stored;
        TForm2 reopened(stored);
        QCOMPARE(reopened.serverEdit()->text(), server);
        QCOMPARE(reopened.protocolBox()->currentIndex(), protocol);
        QCOMPARE(reopened.keyFileEdit()->isEnabled(), sftp);
    }

    void hostKeyQuestionDecidesWhatIsSent()
    {
        if (!SshdFixture::isAvailable())
            QSKIP("needs root and Debian's openssh-server");
        SshdFixture sshd;
        QVERIFY(sshd.start());
        const auto credentialsSent = [&sshd] {
            return sshd.log().filter(u"Accepted "_s).size() + sshd.log().filter(u"Failed "_s).size();
        };
        Credentials credentials;
        // not trusting the key connects nothing: no user name or password reaches the server
        {
            TForm2 dialog(credentials);
            dialog.show();
            fill(dialog, u"ssh"_s, sshd.host(), sshd.user(), SshdFixture::password());
            dialog.protocolBox()->setCurrentIndex(1);
            const QStringList shown = connectAnswering(dialog, u"信頼しない"_s);
            QCOMPARE(shown.size(), 2);
            QVERIFY(shown.at(0).startsWith(u"サーバーの鍵の確認|"_s));
            QVERIFY(shown.at(0).contains(u"このサーバーの鍵を信頼して接続しますか？"_s));
            QVERIFY(shown.at(0).contains(u"256 "_s + sshd.hostKeyFingerprint() + u" (ED25519)"_s));
            QCOMPARE(shown.at(1), u"PELNO2.0|接続に失敗しました"_s);
            QVERIFY(dialog.isVisible());
            QCOMPARE(credentialsSent(), 0);
        }
        QVERIFY(!AppConfig().exists() || AppConfig().readString("cn_ssh", "hostkey", QString()).isEmpty());
        // trusting it connects and stores it with the profile
        {
            TForm2 dialog(credentials);
            dialog.show();
            fill(dialog, u"ssh"_s, sshd.host(), sshd.user(), SshdFixture::password());
            dialog.protocolBox()->setCurrentIndex(1);
            QCOMPARE(connectAnswering(dialog, u"信頼する"_s).size(), 1);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        QCOMPARE(AppConfig().readString("cn_ssh", "hostkey", QString()), sshd.hostKeyFingerprint());
        QCOMPARE(AppConfig().readString("cn_ssh", "protocol", QString()), u"sftp"_s);
        QCOMPARE(credentials.settings.hostKey, sshd.hostKeyFingerprint());
        QCOMPARE(credentials.settings.protocol, TransferProtocol::Sftp);
        QCOMPARE(credentialsSent(), 1);
        // the stored profile connects without a question
        {
            TForm2 dialog(credentials);
            dialog.show();
            QCOMPARE(dialog.protocolBox()->currentIndex(), 1);
            QCOMPARE(connectAnswering(dialog, QString()), QStringList());
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
        }
        // a key other than the trusted one is refused with a warning naming both; not trusting it sends nothing
        const QString other = u"SHA256:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"_s;
        AppConfig().writeString("cn_ssh", "hostkey", other);
        {
            TForm2 dialog(credentials);
            dialog.show();
            const QStringList shown = connectAnswering(dialog, u"信頼しない"_s);
            QCOMPARE(shown.size(), 2);
            QVERIFY(shown.at(0).contains(u"信頼済みの鍵と異なります"_s));
            QVERIFY(shown.at(0).contains(other));
            QVERIFY(shown.at(0).contains(sshd.hostKeyFingerprint()));
            QCOMPARE(dialog.result(), int(QDialog::Rejected));
        }
        QCOMPARE(AppConfig().readString("cn_ssh", "hostkey", QString()), other);
        QCOMPARE(credentialsSent(), 2);
    }

    void sshKeyFilesLogIn_data()
    {
        QTest::addColumn<int>("key"); // -1: the password
        QTest::addColumn<QString>("passphrase");
        QTest::addColumn<bool>("rsaHostKeyOnly");
        QTest::addColumn<QString>("message"); // empty: connects
        QTest::newRow("ed25519") << int(SshdFixture::Key::Ed25519) << QString() << false << QString();
        QTest::newRow("ed25519 with passphrase")
            << int(SshdFixture::Key::Ed25519WithPassphrase) << SshdFixture::passphrase() << false << QString();
        QTest::newRow("RSA") << int(SshdFixture::Key::Rsa) << QString() << false
                             << u"ed25519の鍵を作って使ってください"_s;
        QTest::newRow("server with only an RSA host key")
            << -1 << QString() << true << u"RSAのホスト鍵しか提示しません"_s;
    }
    void sshKeyFilesLogIn()
    {
        if (!SshdFixture::isAvailable())
            QSKIP("needs root and Debian's openssh-server");
        QFETCH(int, key);
        QFETCH(QString, passphrase);
        QFETCH(bool, rsaHostKeyOnly);
        QFETCH(QString, message);
        SshdFixture sshd;
        SshdFixture::Options options;
        options.rsaHostKeyOnly = rsaHostKeyOnly;
        QVERIFY(sshd.start(options));
        Credentials credentials;
        TForm2 dialog(credentials);
        dialog.show();
        fill(dialog, u"key"_s, sshd.host(), sshd.user(), key < 0 ? SshdFixture::password() : QString());
        dialog.protocolBox()->setCurrentIndex(1);
        const QString keyFile = key < 0 ? QString() : sshd.keyFile(SshdFixture::Key(key));
        dialog.keyFileEdit()->setText(keyFile);
        dialog.passphraseEdit()->setText(passphrase);
        const QStringList shown = connectAnswering(dialog, u"信頼する"_s);
        // a key exchange that fails shows no host key to ask about
        if (!rsaHostKeyOnly)
            QVERIFY(shown.value(0).startsWith(u"サーバーの鍵の確認|"_s));
        if (message.isEmpty()) {
            QCOMPARE(shown.size(), 1);
            QCOMPARE(dialog.result(), int(QDialog::Accepted));
            QCOMPARE(AppConfig().readString("cn_key", "keyfile", QString()), keyFile);
            QCOMPARE(AppConfig().readString("cn_key", "keypassphrase", QString()), passphrase);
        } else {
            QCOMPARE(shown.size(), rsaHostKeyOnly ? 1 : 2);
            QVERIFY2(shown.last().contains(message), qPrintable(shown.last()));
            QVERIFY(dialog.isVisible());
        }
    }

    void settingsListsFollowTheProfile()
    {
        writeSettings("[app]\ndefaultConnection=new\ncn_names=old,new\n"
                      "[cn_old]\nserver=" +
                      m_server.host().toUtf8() + "\nuserid=" + FtpServerFixture::user().toUtf8() +
                      "\npassword=" + FtpServerFixture::password().toUtf8() +
                      "\n"
                      "[cn_new]\nserver=x\nuserid=y\npassword=z\ndataconnection=passive\nsecurity=none\n");
        Credentials credentials;
        TForm2 dialog(credentials);
        QCOMPARE(dialog.dataConnectionBox()->currentText(), QStringLiteral("パッシブ"));
        QCOMPARE(dialog.securityBox()->currentText(), QStringLiteral("TLSなし"));
        // a profile stored before these settings shows the defaults
        dialog.ProfileName()->setEditText(QStringLiteral("old"));
        QCOMPARE(dialog.dataConnectionBox()->currentText(), QStringLiteral("自動"));
        QCOMPARE(dialog.securityBox()->currentText(), QStringLiteral("TLS（対応していれば）"));
        // the plain server refuses AUTH TLS: "required" fails with its own explanation, "none" connects
        dialog.show();
        dialog.securityBox()->setCurrentIndex(int(TlsMode::Required));
        const QStringList shown = connectAnswering(dialog, QString());
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown.first().contains(QStringLiteral("TLS")));
        QVERIFY(dialog.isVisible());
        dialog.securityBox()->setCurrentIndex(int(TlsMode::Off));
        dialog.dataConnectionBox()->setCurrentIndex(int(DataConnectionMode::Active));
        QCOMPARE(connectAnswering(dialog, QString()), QStringList());
        QCOMPARE(credentials.settings.tls, TlsMode::Off);
        QCOMPARE(credentials.settings.dataConnection, DataConnectionMode::Active);
        // "when offered", refused by the test: the session asks no more, the profile keeps the choice
        dialog.securityBox()->setCurrentIndex(int(TlsMode::WhenOffered));
        dialog.show();
        QCOMPARE(connectAnswering(dialog, QString()), QStringList());
        QCOMPARE(credentials.settings.tls, TlsMode::Off);
        QCOMPARE(AppConfig().readString("cn_old", "security", QString()), QStringLiteral("offered"));
        dialog.securityBox()->setCurrentIndex(int(TlsMode::Off));
        dialog.show();
        QCOMPARE(connectAnswering(dialog, QString()), QStringList());
        QCOMPARE(AppConfig().readString("cn_old", "security", QString()), QStringLiteral("none"));
        QCOMPARE(AppConfig().readString("cn_old", "dataconnection", QString()), QStringLiteral("active"));
    }

    void refusedLoginKeepsTheDialogOpen_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("password");
        QTest::newRow("wrong password") << QString() << QStringLiteral("wrong");
        QTest::newRow("nobody listening") << QStringLiteral("127.0.0.1:1") << FtpServerFixture::password();
        QTest::newRow("empty server") << QStringLiteral("-") << FtpServerFixture::password();
    }
    void refusedLoginKeepsTheDialogOpen()
    {
        QFETCH(QString, server);
        QFETCH(QString, password);
        if (server.isEmpty())
            server = m_server.host();
        else if (server == QLatin1String("-"))
            server.clear();
        Credentials credentials{QStringLiteral("live"), QStringLiteral("liveuser"), QStringLiteral("livepw")};
        TForm2 dialog(credentials);
        dialog.show();
        fill(dialog, QStringLiteral("site"), server, FtpServerFixture::user(), password);

        QCOMPARE(connectAndAnswer(dialog), QStringLiteral("PELNO2.0|接続に失敗しました"));
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.result() != QDialog::Accepted);
        QCOMPARE(dialog.ProfileName()->currentText(), QStringLiteral("site"));
        QCOMPARE(fields(dialog), QStringList({server, FtpServerFixture::user(), password}));
        QCOMPARE(credentials.server, QStringLiteral("live"));
        QCOMPARE(credentials.userId, QStringLiteral("liveuser"));
        QCOMPARE(credentials.password, QStringLiteral("livepw"));
        QVERIFY(!QFile::exists(iniPath()));
    }

    // An installed message handler takes the failure instead of a modal box; when it goes, the box is back.
    void failureReachesAnInstalledMessageHandler()
    {
        Credentials credentials;
        TForm2 dialog(credentials);
        dialog.show();
        fill(dialog, QStringLiteral("site"), m_server.host(), FtpServerFixture::user(), QStringLiteral("wrong"));
        {
            MessageLog log;
            QTest::mouseClick(dialog.connectButton(), Qt::LeftButton); // returns at once: nothing waits for OK
            QCOMPARE(log.messages(), QStringList{QStringLiteral("接続に失敗しました")});
            QVERIFY(dialog.isVisible());
        }
        QCOMPARE(connectAndAnswer(dialog), QStringLiteral("PELNO2.0|接続に失敗しました"));
    }

    void refusedSettingsWriteShowsTheFailure()
    {
        // a folder in the place of the settings file refuses every write
        QVERIFY(QDir().mkdir(iniPath()));
        Credentials credentials;
        TForm2 dialog(credentials);
        dialog.show();
        fill(dialog, QStringLiteral("site"), m_server.host(), FtpServerFixture::user(), FtpServerFixture::password());

        QCOMPARE(connectAndAnswer(dialog), QStringLiteral("PELNO2.0|接続に失敗しました"));
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.result() != QDialog::Accepted);
        // the connection itself was accepted before the write failed
        QCOMPARE(credentials.server, m_server.host());
        QCOMPARE(credentials.password, FtpServerFixture::password());
        QCOMPARE(dialog.ProfileName()->count(), 0);
    }

    void cancelWritesAndCopiesNothing_data()
    {
        QTest::addColumn<bool>("escape");
        QTest::newRow("中止") << false;
        QTest::newRow("Esc") << true;
    }
    void cancelWritesAndCopiesNothing()
    {
        QFETCH(bool, escape);
        const int loginsBefore = m_server.logins();
        Credentials credentials;
        TForm2 dialog(credentials);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        fill(dialog, QStringLiteral("site"), m_server.host(), FtpServerFixture::user(), FtpServerFixture::password());
        if (escape)
            QTest::keyClick(dialog.serverEdit(), Qt::Key_Escape);
        else
            QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(!dialog.isVisible());
        QCOMPARE(credentials.server, QString());
        QVERIFY(!QFile::exists(iniPath()));
        QCOMPARE(m_server.logins(), loginsBefore);
        // shown again, the dialog still holds what was typed
        dialog.show();
        QCOMPARE(fields(dialog),
                 QStringList({m_server.host(), FtpServerFixture::user(), FtpServerFixture::password()}));
    }
};

QTEST_MAIN(TestTForm2)
#include "tst_tform2.moc"
