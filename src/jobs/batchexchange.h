#pragma once

#include <QStringList>

class MainWindowPort;

// The batch exchange of upload and delete workers. Runs on the main thread while the calling worker waits:
// adds the worker's count to the sent-count label and the progress bar (count is reset to 0), appends every
// entry still in the batch (failed or not tried) to FailedList, and moves up to limit entries from the head of
// queue into the batch. A worker whose batch stays empty ends.
inline constexpr int kBatchSize = 10;
void ExchangeBatch(MainWindowPort& port, QStringList& queue, QStringList& batch, int& count, int limit = kBatchSize);

// A worker's fair share at an exchange: up to ten entries, but no more than the queue length divided by the
// number of workers still running (the asking one included), rounded up, so that a few large files spread over
// many workers instead of waiting in one batch. At least one entry while the queue holds any.
int fairBatchSize(qsizetype queueLength, int workers);
