#include "jobs/batchexchange.h"

#include "jobs/mainstate.h"
#include "jobs/mainwindowport.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>

#include <algorithm>

void ExchangeBatch(MainWindowPort& port, QStringList& queue, QStringList& batch, int& count, int limit)
{
    // The lists and labels belong to the main thread: a worker reaches them only through a blocking call.
    Q_ASSERT(QThread::currentThread() == qApp->thread());
    // The label is the running total; the progress bar always shows the same number.
    const int sent = port.sentCountLabel()->text().toInt() + count;
    port.sentCountLabel()->setText(QString::number(sent));
    port.progressBar()->setValue(sent);
    count = 0;

    port.state().FailedList.append(batch);
    batch.clear();

    const qsizetype take = std::clamp<qsizetype>(limit, 0, queue.size());
    batch = queue.mid(0, take);
    queue.remove(0, take);
}

int fairBatchSize(qsizetype queueLength, int workers)
{
    if (queueLength <= 0)
        return 0;
    const qsizetype share = (queueLength + std::max(workers, 1) - 1) / std::max(workers, 1);
    return int(std::min<qsizetype>(kBatchSize, share));
}
