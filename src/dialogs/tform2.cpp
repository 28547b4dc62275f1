#include "dialogs/tform2.h"

#include "dialogs/certificatedialog.h"
#include "dialogs/hostkeydialog.h"
#include "dialogs/messagebox.h"
#include "ftp/ftpconnection.h"
#include "ftp/ftpsession.h"
#include "settings/appconfig.h"
#include "settings/apperror.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalBlocker>

namespace {

const QString FailureText = QStringLiteral("接続に失敗しました");
const QString TlsRefusedText = QStringLiteral("サーバーがTLS（AUTH TLS）を受け付けませんでした。"
                                              "この設定ではTLSなしで接続しません。");
const QString ActiveTlsText = QStringLiteral("この環境ではTLSで暗号化したアクティブのデータ接続を使えません。"
                                             "データ接続を「自動」か「パッシブ」にしてください。");
const QString RsaUserKeyText = QStringLiteral("この鍵ファイルはRSA鍵です。この環境のlibssh2 (1.10) は、現在の"
                                              "OpenSSHサーバーが求めるRSA署名 (rsa-sha2) を作れません。"
                                              "ed25519の鍵を作って使ってください。");
const QString RsaHostKeyText = QStringLiteral("サーバーがRSAのホスト鍵しか提示しません。この環境のlibssh2 (1.10) "
                                              "はそれを確かめられないため接続できません。サーバーにed25519か"
                                              "ECDSAのホスト鍵を加えてもらってください。");
// The rows of the fields, top to bottom: y = 12 + 24 * row.
enum Row
{
    NameRow,
    ProtocolRow,
    ServerRow,
    UserRow,
    PasswordRow,
    DataRow,
    SecurityRow,
    KeyFileRow,
    PassphraseRow,
    RowCount
};
constexpr int rowY(int row)
{
    return 12 + 24 * row;
}

// A server text's port, when it names one ("host:port", "[v6]:port"); 0 otherwise.
int portOf(const QString& server)
{
    const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
    if (colon < 0 || (server.indexOf(QLatin1Char(':')) != colon && !server.startsWith(QLatin1Char('['))))
        return 0;
    bool ok = false;
    const int port = server.mid(colon + 1).toInt(&ok);
    return ok ? port : 0;
}

// A server that shows yet another key after the user trusted one is asked about again, but not for ever.
constexpr int MaxCertificateQuestions = 3;

// Sets the text of the profile list without a change notification and without the list picking an item of its
// own (an editable list that gains its first item would otherwise show that item's text).
void setProfileText(QComboBox* box, const QString& text)
{
    const QSignalBlocker blocker(box);
    box->setCurrentIndex(box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive));
    box->setEditText(text);
}

} // namespace

TForm2::TForm2(Credentials& target, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_target(target)
{
    setWindowTitle(QStringLiteral("接続情報設定"));
    QFont dialogFont(QStringLiteral("ＭＳ Ｐゴシック"));
    dialogFont.setPixelSize(12);
    setFont(dialogFont);
    setFixedSize(260, rowY(RowCount) + 52);

    // The first six keep the names they had before the protocol and key rows came.
    const QList<std::pair<QString, int>> captions = {{QStringLiteral("設定名"), NameRow},
                                                     {QStringLiteral("サーバー"), ServerRow},
                                                     {QStringLiteral("ユーザー"), UserRow},
                                                     {QStringLiteral("パスワード"), PasswordRow},
                                                     {QStringLiteral("データ接続"), DataRow},
                                                     {QStringLiteral("暗号化"), SecurityRow},
                                                     {QStringLiteral("プロトコル"), ProtocolRow},
                                                     {QStringLiteral("鍵ファイル"), KeyFileRow},
                                                     {QStringLiteral("パスフレーズ"), PassphraseRow}};
    for (int i = 0; i < captions.size(); ++i) {
        auto* label = new QLabel(captions.at(i).first, this);
        label->setObjectName(QStringLiteral("Label%1").arg(i + 1));
        label->setGeometry(10, rowY(captions.at(i).second), 72, 21); // "パスフレーズ" needs the width
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }

    m_profileName = new QComboBox(this);
    m_profileName->setObjectName(QStringLiteral("ComboBox1"));
    m_profileName->setEditable(true);
    // Typing names a profile; only "接続" adds a name to the list, and typed text is never completed into
    // another stored name behind the user's back.
    m_profileName->setInsertPolicy(QComboBox::NoInsert);
    m_profileName->setCompleter(nullptr);
    m_profileName->setGeometry(84, rowY(NameRow), 169, 21);

    // The items stand in the order of TransferProtocol.
    m_protocol = new QComboBox(this);
    m_protocol->setObjectName(QStringLiteral("ComboBox4"));
    m_protocol->addItems({QStringLiteral("FTP"), QStringLiteral("SFTP")});
    m_protocol->setGeometry(84, rowY(ProtocolRow), 169, 21);

    m_server = new QLineEdit(this);
    m_server->setObjectName(QStringLiteral("Edit1"));
    m_server->setGeometry(84, rowY(ServerRow), 169, 21);
    m_user = new QLineEdit(this);
    m_user->setObjectName(QStringLiteral("Edit2"));
    m_user->setGeometry(84, rowY(UserRow), 169, 21);
    m_password = new QLineEdit(this);
    m_password->setObjectName(QStringLiteral("Edit3"));
    m_password->setGeometry(84, rowY(PasswordRow), 169, 21);

    // The items stand in the order of the enumerations.
    m_dataConnection = new QComboBox(this);
    m_dataConnection->setObjectName(QStringLiteral("ComboBox2"));
    m_dataConnection->addItems({QStringLiteral("自動"), QStringLiteral("アクティブ"), QStringLiteral("パッシブ")});
    m_dataConnection->setGeometry(84, rowY(DataRow), 169, 21);
    m_security = new QComboBox(this);
    m_security->setObjectName(QStringLiteral("ComboBox3"));
    m_security->addItems(
        {QStringLiteral("TLS（対応していれば）"), QStringLiteral("TLS必須"), QStringLiteral("TLSなし")});
    m_security->setGeometry(84, rowY(SecurityRow), 169, 21);

    m_keyFile = new QLineEdit(this);
    m_keyFile->setObjectName(QStringLiteral("Edit4"));
    m_keyFile->setGeometry(84, rowY(KeyFileRow), 143, 21);
    m_keyFileButton = new QPushButton(QStringLiteral("..."), this);
    m_keyFileButton->setObjectName(QStringLiteral("Button3"));
    m_keyFileButton->setGeometry(229, rowY(KeyFileRow), 24, 21);
    m_keyFileButton->setAutoDefault(false);
    m_passphrase = new QLineEdit(this);
    m_passphrase->setObjectName(QStringLiteral("Edit5"));
    m_passphrase->setEchoMode(QLineEdit::Password);
    m_passphrase->setGeometry(84, rowY(PassphraseRow), 169, 21);

    auto* rule = new QFrame(this);
    rule->setObjectName(QStringLiteral("Bevel1"));
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    rule->setGeometry(12, rowY(RowCount) + 4, 241, 2);

    m_connect = new QPushButton(QStringLiteral("接続"), this);
    m_connect->setObjectName(QStringLiteral("Button1"));
    m_connect->setGeometry(92, rowY(RowCount) + 20, 75, 25);
    m_connect->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("中止"), this);
    m_cancel->setObjectName(QStringLiteral("Button2"));
    m_cancel->setGeometry(176, rowY(RowCount) + 20, 75, 25);

    setTabOrder(m_server, m_user);
    setTabOrder(m_user, m_password);
    setTabOrder(m_password, m_protocol);
    setTabOrder(m_protocol, m_dataConnection);
    setTabOrder(m_dataConnection, m_security);
    setTabOrder(m_security, m_keyFile);
    setTabOrder(m_keyFile, m_keyFileButton);
    setTabOrder(m_keyFileButton, m_passphrase);
    setTabOrder(m_passphrase, m_connect);
    setTabOrder(m_connect, m_cancel);
    setTabOrder(m_cancel, m_profileName);
    m_server->setFocus();

    connect(m_connect, &QPushButton::clicked, this, &TForm2::Button1Click);
    connect(m_cancel, &QPushButton::clicked, this, &TForm2::Button2Click);
    // A key trusted for one server says nothing about another one.
    connect(m_server, &QLineEdit::textEdited, this, [this] {
        m_pinnedKey.clear();
        m_hostKey.clear();
    });
    connect(m_protocol, &QComboBox::currentIndexChanged, this, &TForm2::protocolChanged);
    connect(m_keyFileButton, &QPushButton::clicked, this, &TForm2::chooseKeyFile);
    protocolChanged(m_protocol->currentIndex());

    m_profileName->setEditText(QStringLiteral("ComboBox1"));
    FormCreate();
    // Picking a name from the list changes the edit text as well, so this one signal covers picking and typing.
    connect(m_profileName, &QComboBox::editTextChanged, this, &TForm2::ComboBox1Change);
}

void TForm2::FormCreate()
{
    const AppConfig config;
    if (!config.exists())
        return;
    const QString name = readDefaultProfileName(config);
    {
        const QSignalBlocker blocker(m_profileName);
        m_profileName->addItems(readProfileNames(config));
    }
    setProfileText(m_profileName, name);
    showProfile(readProfile(config, name));
}

void TForm2::showProfile(const Credentials& profile)
{
    m_server->setText(profile.server);
    m_user->setText(profile.userId);
    m_password->setText(profile.password);
    m_dataConnection->setCurrentIndex(int(profile.settings.dataConnection));
    m_security->setCurrentIndex(int(profile.settings.tls));
    m_pinnedKey = profile.settings.pinnedKey;
    m_keyFile->setText(profile.settings.keyFile);
    m_passphrase->setText(profile.settings.keyPassphrase);
    {
        // the stored server text keeps its port whatever the protocol's default
        const QSignalBlocker blocker(m_protocol);
        m_protocol->setCurrentIndex(int(profile.settings.protocol));
    }
    m_shownProtocol = m_protocol->currentIndex();
    protocolChanged(m_protocol->currentIndex());
    m_hostKey = profile.settings.hostKey;
}

void TForm2::protocolChanged(int index)
{
    const auto protocol = TransferProtocol(qBound(0, index, 1));
    const bool sftp = protocol == TransferProtocol::Sftp;
    m_dataConnection->setEnabled(!sftp);
    m_security->setEnabled(!sftp);
    m_keyFile->setEnabled(sftp);
    m_keyFileButton->setEnabled(sftp);
    m_passphrase->setEnabled(sftp);
    // A server text that names the other protocol's default port names this one's instead; any other port stays.
    const auto previous = TransferProtocol(qBound(0, m_shownProtocol, 1));
    const QString server = m_server->text().trimmed();
    if (previous != protocol && portOf(server) == defaultPort(previous)) {
        const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
        m_server->setText(server.left(colon + 1) + QString::number(defaultPort(protocol)));
    }
    if (previous != protocol)
        m_hostKey.clear(); // a key trusted for one protocol's server says nothing about the other's
    m_shownProtocol = int(protocol);
    m_server->setPlaceholderText(QStringLiteral("ホスト名（ポート %1）").arg(defaultPort(protocol)));
}

void TForm2::chooseKeyFile()
{
    const QString start = m_keyFile->text().isEmpty() ? QDir::homePath() + QStringLiteral("/.ssh") : m_keyFile->text();
    const QString chosen = QFileDialog::getOpenFileName(this, QStringLiteral("鍵ファイルの選択"), start);
    if (!chosen.isEmpty())
        m_keyFile->setText(chosen);
}

Credentials TForm2::entered(const FtpConnectionSettings& settings) const
{
    return {m_server->text(), m_user->text(), m_password->text(), settings};
}

FtpConnectionSettings TForm2::chosenSettings() const
{
    FtpConnectionSettings settings;
    settings.dataConnection = DataConnectionMode(qBound(0, m_dataConnection->currentIndex(), 2));
    settings.tls = TlsMode(qBound(0, m_security->currentIndex(), 2));
    settings.pinnedKey = m_pinnedKey;
    settings.protocol = TransferProtocol(qBound(0, m_protocol->currentIndex(), 1));
    settings.hostKey = m_hostKey;
    settings.keyFile = m_keyFile->text().trimmed();
    settings.keyPassphrase = m_passphrase->text();
    return settings;
}

void TForm2::ComboBox1Change()
{
    const AppConfig config;
    if (!config.exists())
        return;
    showProfile(readProfile(config, m_profileName->currentText()));
}

void TForm2::Button1Click()
{
    // The pointer shows the hourglass while the connection test blocks, and comes back however the click ends.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    auto hourglass = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    bool accepted = false;
    QString detail;
    try {
        if (TestConnection(detail)) {
            m_target = entered(m_testedWith);
            storeCurrentProfile();
            accepted = true;
        }
    } catch (const std::exception&) {
        // A refused settings write ends here like a refused login; Credentials keep what was copied.
        accepted = false;
    }
    hourglass.dismiss();
    QApplication::restoreOverrideCursor();
    if (accepted)
        accept();
    else
        showMessage(this, detail.isEmpty() ? FailureText : FailureText + QLatin1Char('\n') + detail);
}

void TForm2::Button2Click()
{
    reject();
}

bool TForm2::TestConnection(QString& detail)
{
    FtpConnectionSettings settings = chosenSettings();
    for (int question = 0; question <= MaxCertificateQuestions; ++question) {
        // The session ends (QUIT) before anything is shown: no connection stays open behind a question.
        FtpSession session(entered(settings));
        const bool connected = session.connect();
        if (!connected && !session.root())
            return false;
        const bool encrypted = ftpIsEncrypted(session.connection());
        const FtpCertificate certificate = ftpCertificateProblem(session.root());
        const bool tlsRefused = ftpTlsRefused(session.root());
        const bool activeTlsUnavailable = ftpActiveTlsUnavailable(session.root());
        const SshHostKey hostKey = ftpHostKeyProblem(session.root());
        const SshLoginProblem sshProblem = ftpSshProblem(session.root());
        session.close();
        if (connected && settings.protocol == TransferProtocol::Sftp) {
            m_hostKey = settings.hostKey;
            m_testedWith = settings;
            return true;
        }
        if (connected) {
            m_pinnedKey = settings.pinnedKey;
            m_testedWith = settings;
            // What the test learnt holds for the session: negotiated TLS is required from then on, so a later
            // login cannot be talked down to clear text; TLS the server refused is not asked for again, which
            // would cost every worker's and listing's login two refused commands (AUTH TLS, AUTH SSL).
            if (encrypted)
                m_testedWith.tls = TlsMode::Required;
            else if (settings.tls == TlsMode::WhenOffered) // logged in without TLS: the server refused it
                m_testedWith.tls = TlsMode::Off;
            return true;
        }
        if (tlsRefused)
            detail = TlsRefusedText;
        if (activeTlsUnavailable)
            detail = ActiveTlsText;
        if (sshProblem == SshLoginProblem::RsaUserKey)
            detail = RsaUserKeyText;
        if (sshProblem == SshLoginProblem::RsaHostKeyOnly)
            detail = RsaHostKeyText;
        if (!hostKey.isNull()) {
            // Nothing was sent to this server: the user decides first. Only an explicit "trust" connects.
            if (question == MaxCertificateQuestions || !askTrust(hostKey))
                return false;
            settings.hostKey = hostKey.fingerprint;
            continue;
        }
        if (certificate.isNull() || question == MaxCertificateQuestions || !askTrust(certificate))
            return false;
        settings.pinnedKey = certificate.publicKeyPin;
    }
    return false;
}

bool TForm2::askTrust(const FtpCertificate& certificate)
{
    // The question is the user's turn: no hourglass over it.
    QApplication::restoreOverrideCursor();
    CertificateDialog question(certificate, this);
    const bool trusted = question.exec() == QDialog::Accepted;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    return trusted;
}

bool TForm2::askTrust(const SshHostKey& key)
{
    QApplication::restoreOverrideCursor();
    HostKeyDialog question(m_server->text().trimmed(), key, this);
    const bool trusted = question.exec() == QDialog::Accepted;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    return trusted;
}

void TForm2::storeCurrentProfile()
{
    const QString name = m_profileName->currentText();
    if (name.isEmpty())
        return;
    AppConfig config;
    QStringList names;
    for (int i = 0; i < m_profileName->count(); ++i)
        names << m_profileName->itemText(i);
    FtpConnectionSettings settings = chosenSettings();
    settings.pinnedKey = m_pinnedKey;
    settings.hostKey = m_hostKey;
    storeProfile(config, name, entered(settings), names);
    if (names.size() > m_profileName->count()) {
        const QSignalBlocker blocker(m_profileName);
        m_profileName->addItem(names.last());
        setProfileText(m_profileName, name);
    }
}
