#pragma once

#include <QStringList>

class MainWindowPort;

// The batch exchange of upload and delete workers. Runs on the main thread while the calling worker waits:
// adds the worker's count to the sent-count label and the progress bar (count is reset to 0), appends every
// entry still in the batch (failed or not tried) to FailedList, and moves up to ten entries from the head of
// queue into the batch. A worker whose batch stays empty ends.
void ExchangeBatch(MainWindowPort& port, QStringList& queue, QStringList& batch, int& count);

inline constexpr int kBatchSize = 10;
