#pragma once

#include <QStringList>

class MainWindowPort;
struct BatchReport;

// The batch exchange of upload and delete workers. Runs on the main thread while the calling worker waits:
// adds the report's count to the sent-count label and the progress bar, appends its failed entries to FailedList,
// puts its untried entries back at the head of queue, and returns up to limit entries taken from the head of
// queue: the worker's next batch. A worker whose batch is empty ends.
inline constexpr int kBatchSize = 10;
QStringList ExchangeBatch(MainWindowPort& port, QStringList& queue, const BatchReport& report, int limit = kBatchSize);

// A worker's fair share at an exchange: up to ten entries, but no more than the queue length divided by the
// number of workers still running (the asking one included), rounded up, so that a few large files spread over
// many workers instead of waiting in one batch. At least one entry while the queue holds any.
int fairBatchSize(qsizetype queueLength, int workers);

// Puts the progress display at the start of an upload or a deletion: planned entries, none of them done yet.
void resetProgress(MainWindowPort& port, qsizetype planned);
