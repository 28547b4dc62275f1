#pragma once

#include "ftp/credentials.h"

#include <QDateTime>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <array>

// The state the main window shares with browsing, uploading and deleting. The main window owns it; it lives as
// long as the window and is touched on the main thread only. Workers reach it solely through calls that run on
// the main thread while they wait (their batch exchange) and through their completion handlers, so no list
// needs a lock.
struct MainState
{
    static constexpr int kUploadSlotFirst = 0;  // slots 0-9: upload workers
    static constexpr int kDeleteSlotFirst = 10; // slots 10-19: delete workers
    static constexpr int kSlotsPerKind = 10;

    bool BusyLock = false; // a connect or tree-selection listing runs; tree selection changes are refused
    Credentials credentials;
    QString DataDirectory; // AppFolders::dataDirectory: converted temporary copies
    QStringList UploadQueue;
    QStringList DeleteQueue;
    QStringList DeferredDirectoryQueue;
    QStringList ListingLines;
    // A slot holds its running worker; the completion handler empties it. QPointer: a finished worker deletes
    // itself later, and nothing may reach it through a stale slot.
    std::array<QPointer<QThread>, 20> WorkerSlots;
    QDateTime StartTime;
    int ResendRound = 0;
    int DeleteContext = 0; // 1 when the last delete or mkdir command came from the file list, 0 from the tree

    // Values the user never sees nor edits; kept as texts like the settings they stand for.
    QString RemoteTarget = QStringLiteral("/");
    QString RetryCount = QStringLiteral("5");
    QString TimeoutSeconds = QStringLiteral("3");
    // Entries that failed, each whole (a file name may hold a line break, so this is a list, not one text).
    QStringList FailedList;

    // Set when the main window has begun to close: completion handlers that run while it waits for the workers
    // start no new round, no directory phase and show no report.
    bool closing = false;

    bool anyWorkerIn(int firstSlot) const
    {
        for (int i = firstSlot; i < firstSlot + kSlotsPerKind; ++i)
            if (WorkerSlots[i])
                return true;
        return false;
    }
};
