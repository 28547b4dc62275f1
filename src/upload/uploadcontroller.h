#pragma once

#include "upload/tthread_poster.h"

#include <QObject>

class MainWindowPort;

// The upload: the application-wide drop hook, the start of the upload workers, their batch exchange, the end of
// each round with up to two resend rounds, and the failure report. Lives on the main thread.
class UploadController : public QObject
{
    Q_OBJECT
public:
    // Installs AppMessageHook on the application object at once.
    explicit UploadController(MainWindowPort& port, QObject* parent = nullptr);
    ~UploadController() override;

    void StartUploadWorkers();

public slots:
    void Timer1Timer();
    void Button2Click();
    void UploadWorkerDone(TThread_Poster* worker);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override; // AppMessageHook

private:
    MainWindowPort& m_port;
};
