#pragma once

#include "app/tform1.h"
#include "droppaths.h"
#include "ftpserverfixture.h"

#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class QTreeWidgetItem;

// The main window connected to the test server the way a user connects, with a local folder to drop from.
struct UploadSession
{
    UploadSession() = default;
    UploadSession(const UploadSession&) = delete;
    UploadSession& operator=(const UploadSession&) = delete;
    // Opens every FIFO below the local folder for writing once, so that a worker that wrongly opened one for
    // reading gets its end of file: such a fault then fails the test instead of hanging it.
    ~UploadSession();

    FtpServerFixture server;
    QTemporaryDir local;
    QStringList statusTexts; // every text the status line painted, in order
    std::unique_ptr<TForm1> form;

    QTreeWidget* tree() const { return form->tree(); }
    QWidget* treeViewport() const;
    QWidget* listViewport() const;
    QString localPath(const QString& relative) const { return local.path() + QLatin1Char('/') + relative; }
};

// Starts the server, shows the window, answers the connect dialog like a user and lists the root. Records the
// status line from then on. False when a check failed on the way (the test has failed then).
bool connectSession(UploadSession& s, const FtpServerFixture::Options& options = {});

// Clicks the tree node with this name (the click lists it).
bool selectNode(UploadSession& s, const QString& name);

// Presses the transfer-mode button with this caption; checks or unchecks "エンコード" and picks a character set.
void chooseMode(TForm1& form, const QString& caption);
void chooseEncoding(TForm1& form, bool convert, const QString& charset = QString());

// Arms the answer to the next modal window: a message box is confirmed, the failure report is read and closed.
// The text of the message box or the report's list lands in *seen, its window title in *title when given.
void answerEnd(QString* seen, QString* title = nullptr, int timeoutMs = 120000);

// Waits for the browser layout to come back after an upload.
bool waitForBrowser(TForm1& form, int timeoutMs = 120000);

// What the server stores for a file sent in ASCII mode: line ends arrive as LF.
QByteArray storedAsText(const QByteArray& bytes);
