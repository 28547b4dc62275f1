#include "upload/uploadcontroller.h"

#include "browse/mainwindowport.h"
#include "upload/tthread_poster.h"

#include <QCoreApplication>

UploadController::UploadController(MainWindowPort& port, QObject* parent) : QObject(parent), m_port(port)
{
    qApp->installEventFilter(this);
}

UploadController::~UploadController()
{
    qApp->removeEventFilter(this);
}

void UploadController::StartUploadWorkers() {}

void UploadController::Timer1Timer() {}

void UploadController::Button2Click() {}

void UploadController::UploadWorkerDone(TThread_Poster*) {}

bool UploadController::eventFilter(QObject* watched, QEvent* event)
{
    return QObject::eventFilter(watched, event);
}
