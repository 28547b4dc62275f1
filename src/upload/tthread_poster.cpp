#include "upload/tthread_poster.h"

#include "upload/uploadcontroller.h"

TThread_Poster::TThread_Poster(UploadController* controller) : m_controller(controller)
{
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TThread_Poster::run()
{
    QMetaObject::invokeMethod(m_controller, "UploadWorkerDone", Qt::BlockingQueuedConnection,
                              Q_ARG(TThread_Poster*, this));
}
