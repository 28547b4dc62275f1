#include "jobs/batchworker.h"

#include <QDeadlineTimer>

#include <algorithm>
#include <utility>

namespace {

constexpr int kConnectionWaits = 3; // 1, 2, 3 s
constexpr int kLongestWaitMs = 3000;
constexpr int kWaitSliceMs = 50;

} // namespace

BatchWorker::BatchWorker(BatchHost* host, int slot, Credentials credentials, Policy policy)
    : m_host(host), m_slot(slot), m_credentials(std::move(credentials)), m_policy(std::move(policy))
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void BatchWorker::run()
{
    auto owned = std::make_unique<FtpSession>(m_credentials, m_policy.timeouts, &m_transferredBytes);
    FtpSession& session = *owned;
    BatchReport report;
    int waits = 0; // connection failures since the connection last worked
    bool drained = false;
    while (!isInterruptionRequested()) {
        report.connected = session.isConnected();
        const QStringList batch = exchange(report, true).batch;
        if (batch.isEmpty()) {
            drained = true;
            break;
        }
        const BatchResult result = workBatch(session, batch, report);
        if (result == BatchResult::Worked) {
            waits = 0;
            continue;
        }
        // A refused login ends the worker with its batch in hand, reported by the completion handler.
        if (result == BatchResult::LoginRefused) {
            report.loginRefused = true;
            break;
        }
        if (report.doneCount > 0)
            waits = 0;
        // What was not tried goes back before the wait, so that a connected worker can take it meanwhile.
        report.connected = session.isConnected();
        const bool othersConnected = exchange(report, false).othersConnected;
        if (result == BatchResult::NoConnection && othersConnected)
            break;
        // Ending leaves the entries in the queue: they fail only when the run's last worker ends, that is, when no
        // worker of the run could connect.
        if (waits == kConnectionWaits || !waitBeforeRetry(waits++))
            break;
    }
    if (drained && session.isConnected() && !isInterruptionRequested()) {
        session.setByteCounter(nullptr); // this worker and its counter go
        QMetaObject::invokeMethod(
            m_host, [this, &owned] { m_host->offerConnection(this, owned); }, Qt::BlockingQueuedConnection);
    }
    if (owned)
        owned->close();
    // What a stopped worker still holds (its count, the rest of its batch) is the completion handler's to report,
    // or to drop while the window closes.
    QMetaObject::invokeMethod(
        m_host, [this, &report] { m_host->workerDone(this, std::move(report)); }, Qt::BlockingQueuedConnection);
}

BatchOffer BatchWorker::exchange(BatchReport& report, bool take)
{
    BatchOffer offer;
    QMetaObject::invokeMethod(
        m_host, [&] { offer = m_host->exchangeBatch(this, std::move(report), take); }, Qt::BlockingQueuedConnection);
    report = BatchReport();
    return offer;
}

bool BatchWorker::waitBeforeRetry(int waitNumber)
{
    const int ms = int(std::min<qint64>(qint64(1000) << std::min(waitNumber, 20), kLongestWaitMs));
    QDeadlineTimer deadline(ms);
    // In slices, so that a stop or the closing window ends the wait at once.
    while (!deadline.hasExpired()) {
        if (isInterruptionRequested())
            return false;
        QThread::msleep(ulong(std::clamp<qint64>(deadline.remainingTime(), 1, kWaitSliceMs)));
    }
    return !isInterruptionRequested();
}

BatchWorker::BatchResult BatchWorker::workBatch(FtpSession& session, const QStringList& taken, BatchReport& report)
{
    if (!session.isConnected()) {
        if (!session.connect()) {
            if (!m_policy.waitForServer) {
                report.failed += taken;
                return BatchResult::Worked;
            }
            if (session.connectFailure() == FtpConnectFailure::Rejected) {
                report.failed += taken;
                return BatchResult::LoginRefused;
            }
            report.untried += taken;
            return BatchResult::NoConnection;
        }
        QMetaObject::invokeMethod(
            m_host, [this] { m_host->workerLoggedIn(this); }, Qt::BlockingQueuedConnection);
    }
    return processBatch(session, taken, report);
}

BatchWorker::BatchResult BatchWorker::workEntries(FtpSession& session, const QStringList& batch, BatchReport& report,
                                                  const EntryStep& step)
{
    m_noAnswer = false;
    for (qsizetype i = 0; i < batch.size(); ++i) {
        bool done = step(session.connection(), batch[i]);
        // Without the waits, an operation that got no answer is tried once more on a new connection: the server
        // may have ended the session (a limit of commands per session, an idle time-out) before it came.
        if (!done && m_noAnswer && !m_policy.waitForServer && !isInterruptionRequested()) {
            session.close();
            m_noAnswer = false;
            if (!session.connect()) {
                report.failed += batch.mid(i);
                return BatchResult::Worked;
            }
            done = step(session.connection(), batch[i]);
        }
        if (done)
            ++report.doneCount;
        else
            report.failed.append(batch[i]);
        // Whatever state the control connection is in after an operation without an answer, the rest is better
        // off with a new one, after a wait: the entries after this one would otherwise fail in a moment each.
        if (m_noAnswer && m_policy.waitForServer) {
            report.untried += batch.mid(i + 1);
            session.close();
            return BatchResult::ConnectionLost;
        }
        if (isInterruptionRequested()) {
            // The entries not tried stay after the failures, in batch order.
            report.failed += batch.mid(i + 1);
            break;
        }
    }
    return BatchResult::Worked;
}
