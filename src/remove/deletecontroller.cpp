#include "remove/deletecontroller.h"

#include "browse/mainwindowport.h"

DeleteController::DeleteController(MainWindowPort& port, QObject* parent) : QObject(parent), m_port(port) {}

void DeleteController::D1Click() {}

void DeleteController::D3Click() {}

void DeleteController::StartDirectoryPhase() {}

void DeleteController::DeleteWorkerFinished(TThread_FTPDelete* worker)
{
    Q_UNUSED(worker);
}
