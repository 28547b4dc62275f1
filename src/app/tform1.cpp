#include "app/tform1.h"

#include "app/tform6.h"
#include "browse/filelistview.h"
#include "browse/remotebrowser.h"
#include "browse/remotetreewidget.h"
#include "dialogs/tform2.h"
#include "remove/deletecontroller.h"
#include "settings/appconfig.h"
#include "settings/appfolders.h"
#include "upload/uploadcontroller.h"
#include "webpanes/links.h"
#include "webpanes/sidepanerule.h"
#include "webpanes/webpane.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int kClientWidth = 780;
constexpr int kClientHeight = 550;

QString startFallbackPage()
{
    return QStringLiteral("<html><head><meta charset=\"utf-8\"></head>"
                          "<body style=\"font-family: sans-serif; margin: 32px; color: #333\">"
                          "<h2>高速FTP送信ツール PELNO</h2>"
                          "<p>「ファイル(&amp;F)」→「接続(&amp;O)」でサーバーに接続してください。</p>"
                          "</body></html>");
}
} // namespace

TForm1::TForm1(QWidget* parent) : QMainWindow(parent)
{
    FormCreate();
}

TForm1::~TForm1()
{
    // A window destroyed without a close event still stops its workers before the state goes away.
    if (!m_closed)
        FormClose();
}

void TForm1::FormCreate()
{
    setWindowTitle(QStringLiteral("高速FTP送信ツール PELNO"));
    setObjectName(QStringLiteral("Form1"));
    QFont font(QStringLiteral("ＭＳ Ｐゴシック"));
    font.setPixelSize(12);
    setFont(font);

    QMenu* file = menuBar()->addMenu(QStringLiteral("ファイル(&F)"));
    QAction* connectAction = file->addAction(QStringLiteral("接続(&O)"), this, &TForm1::C1Click);
    connectAction->setObjectName(QStringLiteral("C1"));
    file->addSeparator();
    file->addAction(QStringLiteral("終了(&X)"), this, &TForm1::X1Click)->setObjectName(QStringLiteral("X1"));
    QMenu* help = menuBar()->addMenu(QStringLiteral("ヘルプ(&H)"));
    help->addAction(QStringLiteral("取り扱い説明書(&M)"), this, &TForm1::M1Click)->setObjectName(QStringLiteral("M1"));
    help->addAction(QStringLiteral("バージョン情報(&A)"), this, &TForm1::A1Click)->setObjectName(QStringLiteral("A1"));

    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("StatusBar1"));
    statusBar()->addWidget(m_status, 1);
    statusBar()->setSizeGripEnabled(false);
    statusBar()->setFixedHeight(19);
    m_connection = new QLabel(this);
    m_connection->setObjectName(QStringLiteral("ConnectionLabel"));
    statusBar()->addPermanentWidget(m_connection);

    // Esc stops in every layout: a deletion runs while the browser layout stays in view.
    auto* stopAction = new QAction(QStringLiteral("中止"), this);
    stopAction->setObjectName(QStringLiteral("StopAction"));
    stopAction->setShortcut(Qt::Key_Escape);
    connect(stopAction, &QAction::triggered, this, &TForm1::StopClick);
    addAction(stopAction);
    auto* refreshAction = new QAction(QStringLiteral("最新の情報に更新"), this);
    refreshAction->setObjectName(QStringLiteral("RefreshAction"));
    refreshAction->setShortcut(Qt::Key_F5);
    connect(refreshAction, &QAction::triggered, this, &TForm1::RefreshClick);
    addAction(refreshAction);

    m_timer = new QTimer(this);
    m_timer->setObjectName(QStringLiteral("Timer1"));
    m_timer->setInterval(1000);

    auto* central = new QWidget(this);
    auto* stack = new QVBoxLayout(central);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);
    m_startLayout = buildStartLayout();
    m_browserLayout = buildBrowserLayout();
    m_progressLayout = buildProgressLayout();
    for (QWidget* layout : {m_startLayout, m_browserLayout, m_progressLayout})
        stack->addWidget(layout);
    setCentralWidget(central);
    showLayout(Layout::Start);

    m_browser = new RemoteBrowser(*this, *m_fileList, this);
    // The drop hook is in place before the window can be shown, so that no drop can pass unseen.
    m_uploader = new UploadController(*this, *m_browser, this);
    m_remover = new DeleteController(*this, *m_browser, this);
    connect(m_timer, &QTimer::timeout, m_uploader, &UploadController::Timer1Timer);

    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());

    m_state.DataDirectory = AppFolders::current().dataDirectory;
    QDir().mkpath(m_state.DataDirectory); // a failure shows only when a conversion needs the folder

    setStatusText(QStringLiteral("アプリーケーションを起動しています"), false);
    m_state.BusyLock = false;
}

QWidget* TForm1::buildStartLayout()
{
    auto* layout = new QWidget(this);
    layout->setObjectName(QStringLiteral("StartLayout"));
    auto* box = new QVBoxLayout(layout);
    box->setContentsMargins(0, 0, 0, 0);
    m_startPane = new WebPane(layout, startFallbackPage());
    m_startPane->setObjectName(QStringLiteral("WebBrowser1"));
    box->addWidget(m_startPane);
    return layout;
}

QWidget* TForm1::buildBrowserLayout()
{
    auto* layout = new QWidget(this);
    layout->setObjectName(QStringLiteral("BrowserLayout"));
    auto* column = new QVBoxLayout(layout);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // The option bar: encoding and transfer mode of the next drop.
    auto* bar = new QWidget(layout);
    bar->setObjectName(QStringLiteral("OptionBar"));
    bar->setFixedHeight(78);
    m_encode = new QCheckBox(QStringLiteral("エンコード"), bar);
    m_encode->setObjectName(QStringLiteral("CheckBox1"));
    m_encode->setGeometry(8, 4, 120, 17);
    m_charset = new QComboBox(bar);
    m_charset->setObjectName(QStringLiteral("ComboBox1"));
    m_charset->addItems({QStringLiteral("UFT-8"), QStringLiteral("Shift-JIS"), QStringLiteral("EUC-JP")});
    m_charset->setCurrentIndex(0);
    m_charset->setEditable(false);
    m_charset->setGeometry(24, 24, 97, 20);
    m_charset->setEnabled(false);
    connect(m_encode, &QCheckBox::toggled, this, &TForm1::CheckBox1Click);

    auto* group = new QGroupBox(QStringLiteral("転送方式"), bar);
    group->setObjectName(QStringLiteral("RadioGroup1"));
    group->setGeometry(140, 5, 237, 69);
    m_modeAscii = new QRadioButton(QStringLiteral("アスキーモードで転送"), group);
    m_modeBinary = new QRadioButton(QStringLiteral("バイナリモードで転送"), group);
    m_modeAuto = new QRadioButton(QStringLiteral("自動判別で転送"), group);
    m_modes = new QButtonGroup(this);
    int top = 16;
    for (QRadioButton* button : {m_modeAscii, m_modeBinary, m_modeAuto}) {
        button->setGeometry(8, top, 220, 17);
        m_modes->addButton(button);
        top += 17;
    }
    m_modeAuto->setChecked(true);
    m_changedOnly = new QCheckBox(QStringLiteral("変更分のみ送信"), bar);
    m_changedOnly->setObjectName(QStringLiteral("ChangedOnlyBox"));
    m_changedOnly->setGeometry(385, 10, 140, 17);
    column->addWidget(bar);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    auto* splitter = new QSplitter(Qt::Horizontal, layout);
    splitter->setObjectName(QStringLiteral("Splitter1"));
    splitter->setChildrenCollapsible(false);
    m_tree = new RemoteTreeWidget(splitter);
    m_treeMenu = new QMenu(m_tree);
    QAction* createInTree = m_treeMenu->addAction(QStringLiteral("ディレクトリ作成(&C)..."));
    createInTree->setObjectName(QStringLiteral("C2"));
    m_treeMenu->addSeparator();
    QAction* deleteInTree = m_treeMenu->addAction(QStringLiteral("ディレクトリ削除(&D)"));
    deleteInTree->setObjectName(QStringLiteral("D1"));
    m_tree->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tree, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { m_treeMenu->popup(m_tree->viewport()->mapToGlobal(pos)); });

    auto* fileArea = new QWidget(splitter);
    auto* fileColumn = new QVBoxLayout(fileArea);
    fileColumn->setContentsMargins(0, 0, 0, 0);
    fileColumn->setSpacing(0);
    auto* toolbar = new QWidget(fileArea);
    toolbar->setObjectName(QStringLiteral("ToolBar1"));
    toolbar->setFixedHeight(40);
    m_fileList = new FileListView(fileArea);
    const struct
    {
        const char* caption;
        FileListView::Style style;
        int left;
        int top;
    } styles[] = {{"アイコン", FileListView::Style::LargeIcon, 0, 0},
                  {"小さいアイコン", FileListView::Style::SmallIcon, 80, 0},
                  {"一覧", FileListView::Style::List, 0, 20},
                  {"詳細", FileListView::Style::Report, 80, 20}};
    for (const auto& style : styles) {
        auto* button = new QPushButton(QString::fromUtf8(style.caption), toolbar);
        button->setFlat(true);
        button->setGeometry(style.left, style.top, 80, 20);
        const FileListView::Style target = style.style;
        connect(button, &QPushButton::clicked, this, [this, target] { m_fileList->setViewStyle(target); });
    }
    m_listMenu = new QMenu(m_fileList);
    QAction* createInList = m_listMenu->addAction(QStringLiteral("ディレクトリ作成(&D)..."));
    createInList->setObjectName(QStringLiteral("D2"));
    m_listMenu->addSeparator();
    QAction* deleteInList = m_listMenu->addAction(QStringLiteral("削除(&D)"));
    deleteInList->setObjectName(QStringLiteral("D3"));
    m_fileList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_fileList, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { m_listMenu->popup(m_fileList->mapToGlobal(pos)); });
    fileColumn->addWidget(toolbar);
    fileColumn->addWidget(m_fileList, 1);
    splitter->addWidget(m_tree);
    splitter->addWidget(fileArea);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({216, 400});
    row->addWidget(splitter, 1);

    m_sidePane = new WebPane(layout);
    m_sidePane->setObjectName(QStringLiteral("WebBrowser3"));
    m_sidePane->setPage(new SidePanePage(links::kRightSide, m_sidePane));
    m_sidePane->setFixedWidth(182);
    row->addWidget(m_sidePane);
    column->addLayout(row, 1);

    connect(createInTree, &QAction::triggered, this, [this] { m_browser->C2Click(); });
    connect(deleteInTree, &QAction::triggered, this, [this] { m_remover->D1Click(); });
    connect(createInList, &QAction::triggered, this, [this] { m_browser->D2Click(); });
    connect(deleteInList, &QAction::triggered, this, [this] { m_remover->D3Click(); });
    return layout;
}

QWidget* TForm1::buildProgressLayout()
{
    auto* layout = new QWidget(this);
    layout->setObjectName(QStringLiteral("ProgressLayout"));
    auto* column = new QVBoxLayout(layout);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* group = new QGroupBox(QStringLiteral("進捗"), layout);
    group->setObjectName(QStringLiteral("GroupBox1"));
    group->setFixedHeight(167);
    const auto caption = [group](const char* text, int top) {
        auto* label = new QLabel(QString::fromUtf8(text), group);
        label->move(12, top);
        label->adjustSize();
    };
    caption("送信予定ファイル数：", 16);
    caption("送信済みファイル数：", 36);
    caption("経過時間：", 56);
    caption("転送速度：", 76);
    caption("残り時間：", 96);
    caption("変更なしファイル数：", 116);
    const auto value = [group](const char* name, const QString& text, int top) {
        auto* label = new QLabel(text, group);
        label->setObjectName(QString::fromUtf8(name));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        label->setGeometry(134, top, 80, 14);
        return label;
    };
    m_plannedCount = value("PlannedCount", QStringLiteral("0"), 16);
    m_sentCount = value("SentCount", QStringLiteral("0"), 36);
    m_elapsed = value("ElapsedTime", QStringLiteral("00:00:00"), 56);
    m_elapsed->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_elapsed->setGeometry(176, 56, 100, 14);
    m_rate = value("TransferRate", QStringLiteral("--"), 76);
    m_timeLeft = value("TimeLeft", QStringLiteral("--:--:--"), 96);
    m_unchangedCount = value("UnchangedCount", QStringLiteral("0"), 116);
    for (QLabel* label : {m_rate, m_timeLeft}) {
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        label->setGeometry(176, label->y(), 120, 14);
    }

    m_stop = new QPushButton(QStringLiteral("中止"), group);
    m_stop->setObjectName(QStringLiteral("StopButton"));
    m_stop->setGeometry(400, 16, 75, 25);
    connect(m_stop, &QPushButton::clicked, this, &TForm1::StopClick);

    m_progress = new QProgressBar(group);
    m_progress->setObjectName(QStringLiteral("ProgressBar1"));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 1); // a range of 0..0 would animate as "busy"
    m_progress->setValue(0);
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->setContentsMargins(8, 134, 8, 0);
    groupLayout->addWidget(m_progress);
    groupLayout->addStretch();
    m_progress->setFixedHeight(13);
    m_progress->setMinimumWidth(474);
    column->addWidget(group);

    m_progressPane = new WebPane(layout);
    m_progressPane->setObjectName(QStringLiteral("WebBrowser2"));
    column->addWidget(m_progressPane, 1);
    return layout;
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        FormShow();
    }
}

void TForm1::FormShow()
{
    m_startPane->navigate(links::kProductHome);
    m_progressPane->navigate(links::kSendTo);
    m_sidePane->navigate(links::kRightSide);
    setStatusText(QStringLiteral("準備完了"));
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!m_closed)
        FormClose();
    event->accept();
}

void TForm1::X1Click()
{
    close();
}

// Closing order: mark the state as closing (completion handlers that run during the wait then start nothing new
// and show nothing), ask every worker to stop, then wait for each while still serving
// their blocking main-thread calls (a worker may be waiting for its batch exchange or its completion handler),
// and only then free the lists.
void TForm1::FormClose()
{
    m_closed = true;
    setStatusText(QStringLiteral("アプリケーションを終了しています"));
    m_state.closing = true;
    // Every worker is asked to stop before the first wait: otherwise a worker in a later slot would go on taking
    // files while the earlier ones are awaited. The workers are taken from their slots first, because a completion
    // handler that runs during a wait empties its slot before its thread has quite ended.
    QList<QPointer<QThread>> workers;
    for (const QPointer<QThread>& worker : m_state.WorkerSlots) {
        if (worker) {
            worker->requestInterruption();
            workers.append(worker);
        }
    }
    for (const QPointer<QThread>& worker : workers)
        waitForWorker(worker);
    // The kept listing connection ends with the window, not with the program.
    m_browser->closeConnection();
    m_state.ListingLines.clear();
    m_state.DeferredDirectoryQueue.clear();
    m_state.DeleteQueue.clear();
    m_state.UploadQueue.clear();
}

void TForm1::waitForWorker(QPointer<QThread> worker)
{
    if (!worker)
        return;
    // Event-driven wait: the worker's blocking queued calls need this thread's event loop.
    QEventLoop loop;
    connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    connect(worker, &QObject::destroyed, &loop, &QEventLoop::quit);
    if (worker && !worker->isFinished())
        loop.exec();
    if (worker)
        worker->wait();
}

void TForm1::setStatusText(const QString& text, bool repaintNow)
{
    m_status->setText(text);
    if (repaintNow)
        m_status->repaint();
}

QString TForm1::statusText() const
{
    return m_status->text();
}

void TForm1::showLayout(Layout layout)
{
    m_layout = layout;
    m_startLayout->setVisible(layout == Layout::Start);
    m_browserLayout->setVisible(layout == Layout::Browser);
    m_progressLayout->setVisible(layout == Layout::Progress);
}

QTreeWidget* TForm1::tree()
{
    return m_tree;
}

TForm1::UploadOptions TForm1::uploadOptions() const
{
    UploadOptions options;
    options.convert = m_encode->isChecked();
    options.charsetIndex = m_charset->currentIndex();
    options.charsetText = m_charset->currentText();
    options.mode1 = m_modeAscii->isChecked();
    options.mode2 = m_modeBinary->isChecked();
    options.mode3 = m_modeAuto->isChecked();
    options.changedOnly = m_changedOnly->isChecked();
    return options;
}

void TForm1::applyUploadOptions(const UploadOptions& options)
{
    m_encode->setChecked(options.convert);
    m_changedOnly->setChecked(options.changedOnly);
    m_charset->setCurrentIndex(
        options.charsetIndex >= 0 && options.charsetIndex < m_charset->count() ? options.charsetIndex : -1);
    // Selecting a button clears the other two, so the last true value wins; all three false leaves none on.
    const bool anyOn = options.mode1 || options.mode2 || options.mode3;
    if (!anyOn) {
        m_modes->setExclusive(false);
        for (QAbstractButton* button : m_modes->buttons())
            button->setChecked(false);
        m_modes->setExclusive(true);
        return;
    }
    if (options.mode1)
        m_modeAscii->setChecked(true);
    if (options.mode2)
        m_modeBinary->setChecked(true);
    if (options.mode3)
        m_modeAuto->setChecked(true);
}

void TForm1::CheckBox1Click()
{
    m_charset->setEnabled(m_encode->isChecked());
}

void TForm1::C1Click()
{
    if (m_state.closing)
        return;
    if (!m_connectDialog || m_connectDialog->exec() != QDialog::Accepted)
        return;
    showLayout(Layout::Browser);
    m_connection->setText(
        QStringLiteral("%1 (%2)").arg(m_connectDialog->ProfileName()->currentText(), m_state.credentials.server));

    if (const AppConfig config; config.exists()) {
        const UploadSettings stored = readUploadSettings(config);
        m_state.RemoteTarget = stored.remoteTarget;
        applyUploadOptions(stored.options);
    }

    // The new profile lists over a connection of its own; the last one's ends.
    m_browser->closeConnection();
    // BusyLock is cleared also when the listing raises; the error then reaches the error display.
    m_state.BusyLock = true;
    const auto clear = qScopeGuard([this] { m_state.BusyLock = false; });
    m_browser->listRoot();
}

void TForm1::StopClick()
{
    // Both can run at once: a drop is possible while a deletion goes on in the browser layout.
    m_uploader->stop();
    m_remover->stop();
}

void TForm1::RefreshClick()
{
    // The same as selecting the node: a listing under way makes it wait its turn. Only where the tree is in view.
    if (m_layout != Layout::Browser || m_state.credentials.server.isEmpty() || m_state.BusyLock)
        return;
    if (QTreeWidgetItem* node = m_browser->selectedNode())
        m_browser->TreeView1Change(node);
    else
        m_browser->listRoot();
}

void TForm1::M1Click()
{
    if (m_state.closing)
        return;
    OpenExternally(links::kManual);
}

void TForm1::A1Click()
{
    if (m_state.closing)
        return;
    TForm6 dialog(this);
    dialog.exec();
}
