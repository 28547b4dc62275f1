#pragma once

#include "upload/tthread_poster.h"

#include <QObject>
#include <QStringList>

#include <memory>

class MainWindowPort;
class RemoteDirectorySet;
class QMimeData;
class QTreeWidgetItem;
class QWidget;

// The upload: the application-wide drop hook, the start of the upload workers, their batch exchange, the end of
// each round with up to two resend rounds, and the failure report.
//
// Contract: lives on the main thread; every member runs there. The workers reach it only through exchangeBatch()
// and UploadWorkerDone(), which they call as blocking queued calls, and through the round's RemoteDirectorySet
// (its own lock; a new set every round). A drop is taken when it carries local files
// and lands on the tree or the file list; the drag is accepted there so that the drop can happen at all, and the
// drop itself is passed on to the widget afterwards. While the main window closes, the end of a round starts no
// resend round, lists nothing and shows nothing.
class UploadController : public QObject
{
    Q_OBJECT
public:
    // Installs AppMessageHook on the application object at once.
    explicit UploadController(MainWindowPort& port, QObject* parent = nullptr);
    ~UploadController() override;

    void StartUploadWorkers();

    // Called by a worker, on the main thread while it waits: reports its successes and failures and hands it the
    // next batch (empty when the queue is drained).
    void exchangeBatch(TThread_Poster* worker);

    // The number of rounds of one upload: the first and two automatic resend rounds.
    static constexpr int kRounds = 3;

public slots:
    void Timer1Timer();
    void Button2Click();
    void UploadWorkerDone(TThread_Poster* worker);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override; // AppMessageHook

private:
    void AppMessageHook(QObject* target, const QStringList& droppedPaths);
    bool isDropTarget(const QObject* object);
    QTreeWidgetItem* selectedNode();
    void saveUploadOptions();
    void finishUpload();

    MainWindowPort& m_port;
    int m_runningWorkers = 0; // upload workers started and not yet done, for the fair batch size
};
