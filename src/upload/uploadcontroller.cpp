#include "upload/uploadcontroller.h"

#include "browse/filelistview.h"
#include "browse/remotebrowser.h"
#include "dialogs/messagebox.h"
#include "ftp/remotelister.h"
#include "jobs/batchexchange.h"
#include "jobs/mainstate.h"
#include "jobs/mainwindowport.h"
#include "settings/appconfig.h"
#include "settings/apperror.h"
#include "settings/uploadoptions.h"
#include "transfer/changeplan.h"
#include "transfer/transfertypehints.h"
#include "transfer/uploadqueue.h"
#include "upload/remotedirectoryset.h"
#include "upload/tform5.h"
#include "upload/tthread_poster.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QMimeData>
#include <QThread>
#include <QTime>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>
#include <exception>
#include <limits>

namespace {

QStringList localFilesOf(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            paths.append(url.toLocalFile());
    }
    return paths;
}

// What the entries weigh locally; an entry without a file counts nothing (it fails and is reported).
qint64 localBytesOf(const QStringList& entries)
{
    qint64 total = 0;
    for (const QString& entry : entries) {
        if (const auto parts = splitUploadEntry(entry, [](const QString& path) { return QFileInfo::exists(path); }))
            total += QFileInfo(parts->localPath).size();
    }
    return total;
}

// Replies of the comparison's own connections time out as the workers' do.
constexpr FtpTimeouts kComparisonTimeouts{3000, 0};

// The remote path an entry goes to below the target; empty when the entry names nothing.
QString remotePathOf(const QString& entry, const QString& target)
{
    const auto parts = splitUploadEntry(entry, [](const QString& path) { return QFileInfo::exists(path); });
    return parts ? target + parts->relativeName : QString();
}

// Runs the event loop until the thread has finished, then frees it.
void waitKeepingEvents(QThread* thread)
{
    QEventLoop loop;
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    if (!thread->isFinished())
        loop.exec();
    thread->wait();
    delete thread;
}

// Seconds between a round that lost connections and its resend round, by the number of the round that ended.
int resendPauseSeconds(int endedRound)
{
    return endedRound <= 1 ? 3 : 10;
}

} // namespace

UploadController::UploadController(MainWindowPort& port, RemoteBrowser& browser, QObject* parent)
    : BatchHost(parent), m_port(port), m_browser(browser)
{
    qApp->installEventFilter(this);
    m_resendPause = new QTimer(this);
    m_resendPause->setInterval(1000);
    connect(m_resendPause, &QTimer::timeout, this, &UploadController::resendPauseTick);
}

UploadController::~UploadController()
{
    qApp->removeEventFilter(this);
}

bool UploadController::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        // The views would refuse file URLs (their model takes only its own items), so the hook accepts the drag
        // itself; otherwise no drop would ever arrive. Once the window closes, no drop is taken.
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (!m_port.state().closing && isDropTarget(watched) && !localFilesOf(drag->mimeData()).isEmpty()) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
            return true;
        }
        break;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        const QStringList paths = localFilesOf(drop->mimeData());
        if (!paths.isEmpty())
            AppMessageHook(watched, paths);
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

bool UploadController::isDropTarget(const QObject* object)
{
    const auto* widget = qobject_cast<const QWidget*>(object);
    if (!widget)
        return false;
    const QTreeWidget* tree = m_port.tree();
    if (tree && (widget == tree || widget == tree->viewport()))
        return true;
    const FileListView* list = m_browser.fileList();
    return list && list->ownsWidget(widget);
}

QTreeWidgetItem* UploadController::selectedNode()
{
    QTreeWidget* tree = m_port.tree();
    if (!tree)
        return nullptr;
    // With several siblings selected, the one the user touched last counts.
    if (QTreeWidgetItem* current = tree->currentItem(); current && current->isSelected())
        return current;
    const QList<QTreeWidgetItem*> selected = tree->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void UploadController::AppMessageHook(QObject* target, const QStringList& droppedPaths)
{
    MainState& state = m_port.state();
    // The closing window has passed the upload slots already and frees the lists once its wait is over: a worker
    // started now would outlive them.
    if (state.closing)
        return;
    if (state.credentials.server.isEmpty()) {
        showMessage(m_port.window(), QStringLiteral("サーバーに接続していません。"));
        return;
    }
    if (!state.UploadQueue.isEmpty() || m_resendPause->isActive()) {
        showMessage(m_port.window(), QStringLiteral("現在処理中です。\r\n処理が終了してから再度実行してください。"));
        return;
    }
    if (!isDropTarget(target))
        return;

    m_port.showLayout(MainWindowPort::Layout::Progress);
    // A drop on the file list goes to the directory the list shows, which need not be the tree's selection.
    const FileListView* list = m_browser.fileList();
    const bool onList = list && list->ownsWidget(qobject_cast<const QWidget*>(target));
    state.RemoteTarget =
        (onList ? list->remoteDirectory() : m_browser.RemotePathOfNode(selectedNode())) + QLatin1Char('/');
    state.ResendRound = 0;
    state.FailedList.clear();
    m_stopped = false;
    m_plannedBytes = 0;
    m_finishedBytes = 0;
    m_rate.clear();
    m_changedOnly = m_port.uploadOptions().changedOnly;
    m_unchanged = 0;
    m_pending.clear();
    m_existingFiles.reset();
    m_port.unchangedCountLabel()->setText(QStringLiteral("0"));
    m_port.setStatusText(QStringLiteral("ドロップされたファイルを解析しています"), true);
    state.StartTime = QDateTime::currentDateTime();
    m_port.elapsedTimer()->start();
    Timer1Timer();
    // Nothing is planned while the drop is walked.
    resetProgress(m_port, 0);

    try {
        saveUploadOptions();
    } catch (const AppError&) {
        // Nothing is queued yet: give the user the browser back before the error is shown.
        m_port.elapsedTimer()->stop();
        m_port.setStatusText(QString(), true);
        m_port.showLayout(MainWindowPort::Layout::Browser);
        throw;
    }

    for (const QString& path : droppedPaths)
        AddDroppedPath(path, state.UploadQueue, state.FailedList);
    if (m_changedOnly && !compareDroppedFiles())
        return;

    // What the walk rejected went straight to FailedList; it was dropped all the same, so the planned count
    // includes it and a finished upload shows sent + failed = planned.
    const qsizetype count = state.UploadQueue.size() + state.FailedList.size();
    m_plannedBytes = localBytesOf(state.UploadQueue);
    resetProgress(m_port, count);
    StartUploadWorkers();
}

bool UploadController::compareDroppedFiles()
{
    MainState& state = m_port.state();
    m_port.setStatusText(QStringLiteral("サーバー上のファイルと比較しています"), true);
    resetProgress(m_port, state.UploadQueue.size() + state.FailedList.size());
    m_comparing = true;
    m_comparisonStopped = false;
    const auto stopped = [this] { return m_stopped || m_port.state().closing; };

    m_recordPath = PublishRecord::filePath(state.DataDirectory, state.credentials.server, state.credentials.userId);
    m_record = PublishRecord::read(m_recordPath, state.credentials.server, state.credentials.userId);
    ChangeComparisonInput input;
    input.entries = state.UploadQueue;
    input.target = state.RemoteTarget;
    const MainWindowPort::UploadOptions options = m_port.uploadOptions();
    input.transferMode = options.mode3 ? 3 : options.mode2 ? 2 : options.mode1 ? 1 : 0;
    input.encodingName = options.convert ? options.charsetText : QString();
    input.dataDirectory = state.DataDirectory;
    input.record = m_record.files();
    // The local files are read (sniffed, and hashed where the record cannot vouch for them) while the server lists.
    QHash<QString, LocalFacts> localFacts;
    ChangeComparisonInput toRead; // a copy of its own: the listings go into input meanwhile
    toRead.entries = input.entries;
    toRead.target = input.target;
    toRead.transferMode = input.transferMode;
    toRead.record = input.record;
    QThread* reader = QThread::create([&localFacts, toRead = std::move(toRead), this] {
        localFacts = readLocalFacts(toRead, [this] { return m_comparisonStopped.load(); });
    });
    reader->start();
    {
        RemoteLister lister(state.credentials, MainState::kSlotsPerKind, ListingCommand::Best, kComparisonTimeouts);
        // The shallowest first, with the folders we published into before: what the shallowest show missing is not
        // listed at all (a first publish costs one listing), and a republish lists all its folders at once.
        const QStringList wanted = directoriesToCompare(state.UploadQueue, state.RemoteTarget);
        QStringList first;
        qsizetype depth = std::numeric_limits<qsizetype>::max();
        for (const QString& directory : wanted) {
            const qsizetype level = directory.count(QLatin1Char('/'));
            if (level < depth)
                first.clear();
            if (level <= depth) {
                depth = level;
                first.append(directory);
            }
        }
        for (const QString& directory : directoriesPublishedInto(wanted, input.record))
            if (!first.contains(directory))
                first.append(directory);
        input.listings = lister.list(first, stopped);
        input.listings += lister.list(directoriesLeftToList(wanted, input.listings), stopped);
        m_offersMlsd = lister.offersMlsd();
    }
    if (stopped())
        m_comparisonStopped = true; // the window closing stops the reader too
    waitKeepingEvents(reader);
    input.localFacts = std::move(localFacts);

    ChangeComparisonResult result;
    if (!stopped()) {
        QDir().mkpath(state.DataDirectory);
        const Credentials credentials = state.credentials;
        QThread* thread = QThread::create([&result, input = std::move(input), credentials, this] {
            result = compareWithServer(input, [this] { return m_comparisonStopped.load(); });
            if (result.leftovers.isEmpty() || m_comparisonStopped)
                return;
            FtpSession session(credentials, kComparisonTimeouts);
            if (session.connect()) {
                for (const QString& leftover : std::as_const(result.leftovers))
                    FtpDeleteFileA(session.connection(), leftover.toUtf8().constData());
            }
        });
        thread->start();
        waitKeepingEvents(thread);
    }
    m_comparing = false;
    if (stopped()) {
        if (state.closing) {
            m_port.elapsedTimer()->stop();
            return false;
        }
        // Nothing was sent: every dropped entry is reported.
        state.FailedList.append(state.UploadQueue);
        state.UploadQueue.clear();
        finishUpload();
        return false;
    }

    state.UploadQueue = result.toSend;
    m_unchanged = result.unchanged;
    m_pending = std::move(result.pending);
    m_existingFiles = std::make_shared<const QSet<QString>>(std::move(result.existing));
    m_port.unchangedCountLabel()->setText(groupedCount(m_unchanged));
    if (!result.recordUpdates.isEmpty()) {
        for (auto it = result.recordUpdates.cbegin(); it != result.recordUpdates.cend(); ++it)
            m_record.files().insert(it.key(), it.value());
        m_record.write(m_recordPath);
    }
    return true;
}

void UploadController::recordRound()
{
    MainState& state = m_port.state();
    const QSet<QString> failed(state.FailedList.cbegin(), state.FailedList.cend());
    QHash<QString, QString> arrived; // remote path -> entry
    QStringList directories;
    for (const QString& entry : std::as_const(m_roundEntries)) {
        if (failed.contains(entry) || !m_pending.contains(entry))
            continue;
        const QString remote = remotePathOf(entry, state.RemoteTarget);
        if (remote.isEmpty())
            continue;
        arrived.insert(remote, entry);
        const QString directory = remote.left(remote.lastIndexOf(QLatin1Char('/')) + 1);
        if (!directories.contains(directory))
            directories.append(directory);
    }
    m_roundEntries.clear();
    if (arrived.isEmpty())
        return;
    // What the server shows of each file now is what a later comparison compares with. The connections the round's
    // workers handed over as they ended are logged in already.
    std::unique_ptr<RemoteLister> lister = std::move(m_recordLister);
    if (!lister)
        lister = makeRecordLister(directories.size());
    const QList<RemoteDirectoryListing> listings = lister->list(directories, [this] { return m_port.state().closing; });
    lister.reset();
    for (const RemoteDirectoryListing& listing : std::as_const(listings)) {
        for (const RemoteEntry& remote : listing.entries) {
            const auto found = arrived.constFind(listing.path + remote.name);
            if (found == arrived.cend() || remote.kind != RemoteEntry::Kind::File)
                continue;
            PublishedFile file = m_pending.take(*found);
            file.remoteSize = remote.size;
            file.remoteModified =
                remote.modified.isValid() ? remote.modified.toSecsSinceEpoch() : PublishedFile::kUnknownTime;
            file.remotePrecision = remote.precisionSeconds;
            m_record.files().insert(found.key(), file);
        }
    }
    m_record.write(m_recordPath);
}

std::unique_ptr<RemoteLister> UploadController::makeRecordLister(qsizetype directories) const
{
    auto lister = std::make_unique<RemoteLister>(m_port.state().credentials,
                                                 int(qMin<qsizetype>(MainState::kSlotsPerKind, directories)),
                                                 ListingCommand::Best, kComparisonTimeouts);
    if (m_offersMlsd)
        lister->setOffersMlsd(*m_offersMlsd);
    return lister;
}

void UploadController::saveUploadOptions()
{
    AppConfig config;
    writeUploadSettings(config, {m_port.state().RemoteTarget, m_port.uploadOptions()});
}

void UploadController::StartUploadWorkers()
{
    MainState& state = m_port.state();
    if (state.closing)
        return;
    m_port.setStatusText(QStringLiteral("ファイルを送信しています"), true);

    const MainWindowPort::UploadOptions options = m_port.uploadOptions();
    const int transferMode = options.mode3 ? 3 : options.mode2 ? 2 : options.mode1 ? 1 : 0;
    const QString encodingName = options.convert ? options.charsetText : QString();

    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(state.UploadQueue.begin(), state.UploadQueue.end(),
              [&collator](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });

    m_connected.clear();
    m_connectionTrouble = false;
    m_loginRefused = false;
    m_waitingShown = false;
    // Every round asks for its directories anew: a directory refused in one round may be created in the next.
    m_typeHints = std::make_shared<TransferTypeHints>();
    const TThread_Poster::Round round{state.RemoteTarget,
                                      transferMode,
                                      encodingName,
                                      state.DataDirectory,
                                      std::make_shared<RemoteDirectorySet>(),
                                      m_typeHints,
                                      m_changedOnly ? m_existingFiles : nullptr};
    m_recordLister.reset();
    m_roundDirectories = 0;
    if (m_changedOnly) {
        m_roundEntries = state.UploadQueue;
        QSet<QString> directories;
        for (const QString& entry : std::as_const(m_roundEntries)) {
            if (!m_pending.contains(entry))
                continue;
            const QString remote = remotePathOf(entry, state.RemoteTarget);
            directories.insert(remote.left(remote.lastIndexOf(QLatin1Char('/')) + 1));
        }
        m_roundDirectories = directories.size();
    }
    for (int slot = MainState::kUploadSlotFirst; slot < MainState::kUploadSlotFirst + MainState::kSlotsPerKind;
         ++slot) {
        if (state.WorkerSlots[slot])
            continue;
        auto* worker = new TThread_Poster(this, slot, state.credentials, round);
        state.WorkerSlots[slot] = worker;
        ++m_runningWorkers;
        worker->start();
    }
}

bool UploadController::uploadUnderWay() const
{
    return m_comparing || m_port.state().anyWorkerIn(MainState::kUploadSlotFirst) || m_resendPause->isActive();
}

void UploadController::stop()
{
    MainState& state = m_port.state();
    if (m_stopped || !uploadUnderWay() || state.closing)
        return;
    m_stopped = true;
    m_comparisonStopped = true;
    if (m_comparing) {
        m_port.setStatusText(QStringLiteral("送信を中止しています"), true);
        return; // the comparison ends at its next look, and the run with it
    }
    if (m_resendPause->isActive()) {
        // Between rounds no worker runs: what waits for the next round is in FailedList already.
        m_resendPause->stop();
        finishUpload();
        return;
    }
    m_port.setStatusText(QStringLiteral("送信を中止しています"), true);
    // What no worker has taken yet is not sent: it is reported like a failure.
    state.FailedList.append(state.UploadQueue);
    state.UploadQueue.clear();
    for (int slot = MainState::kUploadSlotFirst; slot < MainState::kUploadSlotFirst + MainState::kSlotsPerKind; ++slot)
        if (QThread* worker = state.WorkerSlots[slot])
            worker->requestInterruption();
}

qint64 UploadController::transferredBytes() const
{
    qint64 total = m_finishedBytes;
    const MainState& state = m_port.state();
    for (int slot = MainState::kUploadSlotFirst; slot < MainState::kUploadSlotFirst + MainState::kSlotsPerKind; ++slot)
        if (const auto* worker = qobject_cast<const BatchWorker*>(state.WorkerSlots[slot].data()))
            total += worker->transferredBytes();
    return total;
}

BatchOffer UploadController::exchangeBatch(BatchWorker* worker, BatchReport report, bool take)
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    QStringList& queue = m_port.state().UploadQueue;
    if (report.connected)
        m_connected.insert(worker);
    else
        m_connected.remove(worker);
    const qsizetype queued = queue.size() + report.untried.size();
    const int limit = take && !m_stopped ? fairBatchSize(queued, m_runningWorkers) : 0;
    // Entries handed back untried go first, as they stand; otherwise the batch keeps the worker's transfer type
    // where the queue's head allows.
    const auto* poster = qobject_cast<const TThread_Poster*>(worker);
    if (limit > 0 && report.untried.isEmpty() && m_typeHints && poster && poster->lastPutBinary())
        m_typeHints->bringForward(queue, limit, *poster->lastPutBinary());
    BatchOffer offer;
    offer.batch = ExchangeBatch(m_port, queue, report, limit);
    if (take && offer.batch.isEmpty())
        m_connected.remove(worker); // it ends
    offer.othersConnected = m_connected.size() > (m_connected.contains(worker) ? 1 : 0);
    if (!take) {
        m_connectionTrouble = true;
        showWaitingForServer(!offer.othersConnected);
    }
    return offer;
}

void UploadController::workerLoggedIn(BatchWorker* worker)
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    m_connected.insert(worker);
    showWaitingForServer(false);
}

void UploadController::showWaitingForServer(bool waiting)
{
    if (waiting == m_waitingShown || m_stopped || m_port.state().closing)
        return;
    m_waitingShown = waiting;
    m_port.setStatusText(
        waiting ? QStringLiteral("サーバーへの接続を待っています") : QStringLiteral("ファイルを送信しています"), true);
}

void UploadController::offerConnection(BatchWorker* worker, std::unique_ptr<FtpSession>& session)
{
    Q_UNUSED(worker);
    // The round is draining: the listing that records it takes the worker's connection over instead of logging in
    // anew, and the server sees no more connections at a time than before.
    const MainState& state = m_port.state();
    if (!m_changedOnly || m_roundDirectories == 0 || !state.UploadQueue.isEmpty() || m_stopped || state.closing)
        return;
    if (!m_recordLister)
        m_recordLister = makeRecordLister(m_roundDirectories);
    m_recordLister->adopt(session);
}

void UploadController::UploadWorkerDone(BatchWorker* worker, BatchReport rest)
{
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    MainState& state = m_port.state();
    m_runningWorkers = std::max(0, m_runningWorkers - 1);
    m_connected.remove(worker);
    if (rest.loginRefused)
        m_loginRefused = true;
    // A stopped worker, or one that could not log in, comes here with its count and the rest of its batch
    // unreported (at a normal end both are empty); they count and fail like a batch handed back at an exchange, and
    // its untried entries go back to the queue. While the window closes the lists are about to be freed, and
    // nothing is reported.
    if (!state.closing)
        ExchangeBatch(m_port, state.UploadQueue, rest, 0);
    m_finishedBytes += worker->transferredBytes();
    const int slot = worker->slot();
    if (slot >= 0 && slot < int(state.WorkerSlots.size()) && state.WorkerSlots[slot] == worker)
        state.WorkerSlots[slot] = nullptr;
    if (state.anyWorkerIn(MainState::kUploadSlotFirst))
        return;
    // When no worker of the round could connect, entries are still queued; they failed this round as well.
    if (!state.closing) {
        state.FailedList.append(state.UploadQueue);
        state.UploadQueue.clear();
    }

    ++state.ResendRound;
    if (m_changedOnly && !state.closing)
        recordRound();
    if (state.closing) {
        // The window frees the lists once its workers have ended; nothing may start or show now.
        m_recordLister.reset();
        m_port.elapsedTimer()->stop();
        return;
    }
    if (!m_stopped && state.ResendRound < kRounds && !state.FailedList.isEmpty()) {
        if (m_connectionTrouble && !m_loginRefused)
            startResendPause(resendPauseSeconds(state.ResendRound));
        else
            Button2Click();
        return;
    }
    finishUpload();
}

void UploadController::startResendPause(int seconds)
{
    m_resendPauseLeft = seconds;
    m_port.setStatusText(QStringLiteral("再送信まで %1 秒待っています").arg(m_resendPauseLeft), true);
    m_resendPause->start();
}

void UploadController::resendPauseTick()
{
    // The closing window frees the lists without waiting for the pause: the next round must never start.
    if (m_port.state().closing || m_stopped) {
        m_resendPause->stop();
        return;
    }
    if (--m_resendPauseLeft > 0) {
        m_port.setStatusText(QStringLiteral("再送信まで %1 秒待っています").arg(m_resendPauseLeft), true);
        return;
    }
    m_resendPause->stop();
    Button2Click();
}

void UploadController::finishUpload()
{
    MainState& state = m_port.state();
    m_port.elapsedTimer()->stop();
    const qint64 elapsedMs = state.StartTime.msecsTo(QDateTime::currentDateTime());
    QString totals = completionTotals(m_port.sentCountLabel()->text().toLongLong(), transferredBytes(), elapsedMs);
    if (m_changedOnly)
        totals += QStringLiteral("変更のないファイル %1 件は送信しませんでした。").arg(groupedCount(m_unchanged));
    m_port.setStatusText(QStringLiteral("ファイルを送信しました"), true);

    // A listing that fails still lets the user see the outcome and get the browser back; its error follows.
    std::exception_ptr listingError;
    try {
        m_browser.listSelectedAgain();
    } catch (...) {
        listingError = std::current_exception();
    }

    // The listing keeps the event loop running: the window may have begun to close meanwhile.
    if (!state.closing) {
        if (state.FailedList.isEmpty()) {
            // The fixed text comes first, so whoever looks for it still finds it.
            showMessage(m_port.window(), QStringLiteral("送信処理が終了しました。") + totals);
        } else {
            TForm5 report(m_port.window());
            report.setFailedEntries(state.FailedList);
            report.exec();
        }
        m_port.showLayout(MainWindowPort::Layout::Browser);
    }
    if (listingError)
        std::rethrow_exception(listingError);
}

void UploadController::Button2Click()
{
    MainState& state = m_port.state();
    if (state.closing)
        return;
    m_port.elapsedTimer()->start();
    m_plannedBytes += localBytesOf(state.FailedList);
    state.UploadQueue.append(state.FailedList);
    state.FailedList.clear();
    StartUploadWorkers();
}

void UploadController::Timer1Timer()
{
    constexpr qint64 kDayMs = 24 * 60 * 60 * 1000;
    const qint64 elapsed = m_port.state().StartTime.msecsTo(QDateTime::currentDateTime());
    // The time of day of the difference: a run longer than a day shows its hours modulo 24.
    const qint64 timeOfDay = ((elapsed % kDayMs) + kDayMs) % kDayMs;
    m_port.elapsedLabel()->setText(
        QTime::fromMSecsSinceStartOfDay(int(timeOfDay)).toString(QStringLiteral("hh:mm:ss")));

    const qint64 sent = transferredBytes();
    m_rate.addSample(elapsed, sent);
    const std::optional<double> rate = m_rate.bytesPerSecond();
    m_port.rateLabel()->setText(formatRate(rate));
    m_port.timeLeftLabel()->setText(formatTimeLeft(secondsLeft(m_plannedBytes - sent, rate)));
}
