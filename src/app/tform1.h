#pragma once

#include "jobs/mainstate.h"
#include "jobs/mainwindowport.h"

#include <QMainWindow>
#include <QPointer>

class DeleteController;
class FileListView;
class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class RemoteBrowser;
class RemoteTreeWidget;
class TForm2;
class UploadController;
class WebPane;

// The main window: owns the state every other part shares, offers the start, browser and progress layouts, the
// menus and the status line, and stops every worker when it closes. Main thread only.
class TForm1 : public QMainWindow, public MainWindowPort
{
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The connect dialog, created once at start; the same object serves every connect command.
    void setConnectDialog(TForm2* dialog) { m_connectDialog = dialog; }
    TForm2* connectDialog() const { return m_connectDialog; }

    // MainWindowPort
    MainState& state() override { return m_state; }
    QWidget* window() override { return this; }
    void setStatusText(const QString& text, bool repaintNow = true) override;
    void showLayout(Layout layout) override;
    QTreeWidget* tree() override;
    QLabel* plannedCountLabel() override { return m_plannedCount; }
    QLabel* sentCountLabel() override { return m_sentCount; }
    QLabel* unchangedCountLabel() override { return m_unchangedCount; }
    QLabel* elapsedLabel() override { return m_elapsed; }
    QProgressBar* progressBar() override { return m_progress; }
    QTimer* elapsedTimer() override { return m_timer; }
    QLabel* rateLabel() override { return m_rate; }
    QLabel* timeLeftLabel() override { return m_timeLeft; }
    UploadOptions uploadOptions() const override;
    void applyUploadOptions(const UploadOptions& options) override;

    QString statusText() const;
    Layout currentLayout() const { return m_layout; }
    RemoteBrowser& browser() { return *m_browser; }
    FileListView* fileList() const { return m_fileList; }
    UploadController& uploader() { return *m_uploader; }
    DeleteController& remover() { return *m_remover; }
    WebPane* startPane() const { return m_startPane; }
    WebPane* progressPane() const { return m_progressPane; }
    WebPane* sidePane() const { return m_sidePane; }

public slots:
    void C1Click(); // "接続(&O)": the connect command
    void X1Click(); // "終了(&X)"
    void M1Click(); // "取り扱い説明書(&M)"
    void A1Click(); // "バージョン情報(&A)"
    void CheckBox1Click();
    // "中止" (Esc): stops the upload or the deletion under way, for good.
    void StopClick();
    // F5: lists the selected directory again, as selecting it does.
    void RefreshClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void FormClose();
    QWidget* buildStartLayout();
    QWidget* buildBrowserLayout();
    QWidget* buildProgressLayout();
    void waitForWorker(QPointer<QThread> worker);

    MainState m_state;
    Layout m_layout = Layout::Start;
    bool m_shownOnce = false;
    bool m_closed = false;
    TForm2* m_connectDialog = nullptr;

    QLabel* m_status = nullptr;
    QWidget* m_startLayout = nullptr;
    QWidget* m_browserLayout = nullptr;
    QWidget* m_progressLayout = nullptr;
    WebPane* m_startPane = nullptr;
    WebPane* m_progressPane = nullptr;
    WebPane* m_sidePane = nullptr;

    QCheckBox* m_encode = nullptr;  // CheckBox1 "エンコード"
    QComboBox* m_charset = nullptr; // "UFT-8", "Shift-JIS", "EUC-JP"
    QButtonGroup* m_modes = nullptr;
    QRadioButton* m_modeAscii = nullptr;
    QRadioButton* m_modeBinary = nullptr;
    QRadioButton* m_modeAuto = nullptr;
    QCheckBox* m_changedOnly = nullptr; // "変更分のみ送信"

    RemoteTreeWidget* m_tree = nullptr;
    FileListView* m_fileList = nullptr;
    QMenu* m_treeMenu = nullptr;
    QMenu* m_listMenu = nullptr;

    QLabel* m_plannedCount = nullptr;
    QLabel* m_sentCount = nullptr;
    QLabel* m_unchangedCount = nullptr;
    QLabel* m_elapsed = nullptr;
    QProgressBar* m_progress = nullptr;
    QTimer* m_timer = nullptr;
    QLabel* m_rate = nullptr;
    QLabel* m_timeLeft = nullptr;
    QPushButton* m_stop = nullptr;
    QLabel* m_connection = nullptr; // the status line's right end: profile and server while connected

    UploadController* m_uploader = nullptr;
    RemoteBrowser* m_browser = nullptr;
    DeleteController* m_remover = nullptr;
};
