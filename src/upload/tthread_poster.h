#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

class UploadController;

// One upload worker. The main thread fills the fields, stores the worker in its slot and starts it; afterwards
// only the worker touches them, except while it waits in its batch exchange (a blocking call into the
// controller on the main thread). At the end of run() the completion handler runs on the main thread while the
// thread waits. The object deletes itself once its thread has finished.
class TThread_Poster : public QThread
{
    Q_OBJECT
public:
    explicit TThread_Poster(UploadController* controller);

    int sentCount = 0;
    QString server;
    QString user;
    QString password;
    QString targetDirectory; // ends with "/"
    QStringList batch;
    int slotIndex = 0;
    int transferMode = 3;
    QString encodingName; // empty: no conversion
    QString dataDirectory;

protected:
    void run() override; // Execute

private:
    UploadController* m_controller;
};
