#pragma once

#include "app/tform1.h"
#include "ftpserverfixture.h"
#include "sshdfixture.h"

#include <QPoint>
#include <QStringList>
#include <memory>

class FileListView;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;
class RemoteBrowser;

// The main window connected to a test server the way a user connects: the connect dialog answered, then the root
// listed. A test that shares one server between its functions starts that server itself and calls
// connectWindow; any other calls connectSession.
struct ConnectedWindow
{
    FtpServerFixture server;
    // Set by startSftpServer: the window connects over SFTP to this server instead.
    std::unique_ptr<SshdFixture> sshd;
    QStringList statusTexts; // every text the status line painted since the connect, in order; outlives the form
    std::unique_ptr<TForm1> form;

    QTreeWidget* tree() const { return form->tree(); }
    FileListView* list() const { return form->fileList(); }
    RemoteBrowser& browser() const { return form->browser(); }
    // The folder that the server shows as the login directory, whichever server it is.
    QString serverRoot() const { return sshd ? sshd->root() : server.root(); }
    // After a test put files into serverRoot() itself: over SFTP they must be the test user's to be changed.
    void handOverServerFiles() const
    {
        if (sshd)
            sshd->handOver();
    }
    QWidget* treeViewport() const;
    QWidget* listViewport() const;
};

// A new main window with its connect dialog, shown and exposed. Null when a check failed on the way.
std::unique_ptr<TForm1> showMainWindow();

// Shows a new window and connects it to the running server; records the status line from then on. False when
// a check failed on the way (the test has failed then).
bool connectWindow(ConnectedWindow& s);

// Starts Debian's sshd as the server of s (connectWindow then connects over SFTP); false when it did not start.
bool startSftpServer(ConnectedWindow& s);

// Starts the server with these options, then connectWindow. The server's log keeps the connect's commands.
bool connectSession(ConnectedWindow& s, const FtpServerFixture::Options& options = {});

// The first tree node of this name in tree order, at any depth; null when there is none.
QTreeWidgetItem* nodeNamed(QTreeWidget* tree, const QString& name);

// The names of a node's children in tree order; of the top-level nodes for a null node.
QStringList childNames(QTreeWidget* tree, const QTreeWidgetItem* node);

// Scrolls the node into view and returns its centre in the tree's viewport.
QPoint centreOf(QTreeWidget* tree, QTreeWidgetItem* node);

// Clicks a node with the modifiers held; a context menu that a right click opened is closed again, as a user
// would dismiss it.
void clickNode(QTreeWidget* tree, QTreeWidgetItem* node, Qt::KeyboardModifiers modifiers = {},
               Qt::MouseButton button = Qt::LeftButton);

// Clicks the node with this name (the click lists it) and waits until it is selected and the listing is over.
bool selectNode(ConnectedWindow& s, const QString& name);

// The file list's captions in row order; only the items with this picture when imageIndex is given.
QStringList captions(FileListView* list, int imageIndex = -1);

// The row holding this caption; -1 when none does.
int rowOf(FileListView* list, const QString& caption);

// Double-clicks a file-list row as a user does: a click, then the double click and its release.
void doubleClickRow(FileListView* list, int row);

// Triggers the window's menu action of this object name, as choosing it in its menu does; false when the window
// has no such action.
bool triggerAction(TForm1& form, const char* name);

// The transfer-mode button with this caption; null when there is none.
QRadioButton* modeButton(TForm1& form, const QString& caption);

// Waits for the browser layout to come back after an upload.
bool waitForBrowser(TForm1& form, int timeoutMs = 120000);
