#include "jobs/batchexchange.h"

#include "jobs/batchhost.h"
#include "jobs/mainstate.h"
#include "jobs/mainwindowport.h"
#include "transfer/uploadqueue.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>

#include <algorithm>

QStringList ExchangeBatch(MainWindowPort& port, QStringList& queue, const BatchReport& report, int limit)
{
    // The lists and labels belong to the main thread: a worker reaches them only through a blocking call.
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    // The label is the running total; the progress bar always shows the same number.
    const int sent = port.sentCountLabel()->text().toInt() + report.doneCount;
    port.sentCountLabel()->setText(QString::number(sent));
    port.progressBar()->setValue(sent);

    port.state().FailedList.append(report.failed);
    // Untried entries go first: they were next in line when the worker took them.
    if (!report.untried.isEmpty())
        queue = report.untried + queue;

    const qsizetype take = std::clamp<qsizetype>(limit, 0, queue.size());
    QStringList batch = queue.mid(0, take);
    queue.remove(0, take);
    return batch;
}

int fairBatchSize(qsizetype queueLength, int workers)
{
    if (queueLength <= 0)
        return 0;
    const qsizetype share = (queueLength + std::max(workers, 1) - 1) / std::max(workers, 1);
    return int(std::min<qsizetype>(kBatchSize, share));
}

void resetProgress(MainWindowPort& port, qsizetype planned)
{
    port.plannedCountLabel()->setText(groupedCount(planned));
    port.sentCountLabel()->setText(QStringLiteral("0"));
    // A range of 0..0 would show the bar as busy; nothing planned shows an empty bar instead.
    port.progressBar()->setValue(0);
    port.progressBar()->setRange(0, int(std::max<qsizetype>(planned, 1)));
    port.progressBar()->setValue(0);
}
