#pragma once

#include "connectedwindow.h"
#include "droppaths.h"

#include <QTemporaryDir>

// A connected main window with a local folder to drop from; each session starts without stored upload options and
// without publish records.
struct UploadSession : ConnectedWindow
{
    UploadSession();
    // Opens every FIFO below the local folder for writing once, so that a worker that wrongly opened one for
    // reading gets its end of file: such a fault then fails the test instead of hanging it.
    ~UploadSession();

    QTemporaryDir local;

    QString localPath(const QString& relative) const { return local.path() + QLatin1Char('/') + relative; }
};

// connectSession with the local folder checked first; the server's log starts after the connect.
bool connectSession(UploadSession& s, const FtpServerFixture::Options& options = {});

// Presses the transfer-mode button with this caption; checks or unchecks "エンコード" and picks a character set.
void chooseMode(TForm1& form, const QString& caption);
void chooseEncoding(TForm1& form, bool convert, const QString& charset = QString());

// A report's lines, sorted; none for an empty text.
QStringList sortedLines(const QString& text);

// What the server stores for a file sent in ASCII mode: line ends arrive as LF.
QByteArray storedAsText(const QByteArray& bytes);
