#include "upload/batchexchange.h"

#include "browse/mainstate.h"
#include "browse/mainwindowport.h"

#include <QLabel>
#include <QProgressBar>

void ExchangeBatch(MainWindowPort& port, QStringList& queue, QStringList& batch, int& count)
{
    // The label is the running total; the progress bar always shows the same number.
    const int sent = port.sentCountLabel()->text().toInt() + count;
    port.sentCountLabel()->setText(QString::number(sent));
    port.progressBar()->setValue(sent);
    count = 0;

    port.state().FailedList.append(batch);
    batch.clear();

    const int take = std::min<qsizetype>(kBatchSize, queue.size());
    batch = queue.mid(0, take);
    queue.remove(0, take);
}
