#pragma once

#include <QObject>
#include <QStringList>

class MainWindowPort;
class TThread_FTPDelete;

// Deleting on the server: planning the deletion of the tree's or the file list's selection, the delete workers
// of the file phase and the single worker of the directory phase. Lives on the main thread.
class DeleteController : public QObject
{
    Q_OBJECT
public:
    explicit DeleteController(MainWindowPort& port, QObject* parent = nullptr);

public slots:
    void D1Click();
    void D3Click();
    void StartDirectoryPhase();
    void DeleteWorkerFinished(TThread_FTPDelete* worker);

private:
    MainWindowPort& m_port;
};
