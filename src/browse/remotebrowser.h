#pragma once

#include "ftp/credentials.h"
#include "ftp/listingparser.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class FileListView;
class MainWindowPort;
class QTreeWidgetItem;
class RemoteLister;

// Browsing the server: listing a directory into the tree and the file list, selecting and double-clicking, and
// creating a directory.
//
// Contract: constructed by the main window on the main thread once the tree and the file list exist (the tree
// comes through the port, the file list with the constructor); it wires
// itself to the tree's selection changes, the tree's change guard and the file list's double-click. Listings go
// over one logged-in connection that the browser keeps while the profile is connected (a RemoteLister with one
// connection, LIST, paths below the login directory); it is made at the first listing, made anew when the
// server closed it or the connection's credentials changed, and closed by closeConnection(). Its LIST lines are
// the listing's transcript: they are read on a thread of their own, and the listing keeps processing events
// meanwhile, so user input, worker exchanges and completion handlers may run in the middle. A listing asked for
// meanwhile (a selection, the end of an upload or a deletion, a reconnect), or while a deletion is being planned
// (holdListings), is not started inside the running one: it runs, in order, from the event loop once the running
// listing or the planning is done. Each tree node carries the record it was made from (column 0, Qt::UserRole, a
// TrecFileData by value). A listing whose node disappeared meanwhile leaves the views as they are. Once the window
// has begun to close, no listing, dialog or command starts. A size that does not convert raises AppError, which
// reaches the application's error display. No listing writes a file that holds the password.
class RemoteBrowser : public QObject
{
    Q_OBJECT
public:
    RemoteBrowser(MainWindowPort& port, FileListView& fileList, QObject* parent = nullptr);
    ~RemoteBrowser() override; // closes the kept listing connection

    // The file list this browser fills (ListView1).
    FileListView* fileList() const { return m_fileList; }

    // "/a/b" for node b below the root-level node a; the empty text for no node (the root).
    QString RemotePathOfNode(const QTreeWidgetItem* node) const;
    // Lists path (begins and ends with "/") into node's children (root-level nodes without a node) and the file
    // list. Once the window has begun to close, nothing is listed.
    void ListRemoteDirectory(QTreeWidgetItem* node, const QString& path);
    // The second half of a listing: replaces node's children (root-level nodes are added without a node) and the
    // file list with what the client's captured output lines hold. Directories become nodes and items, files
    // items after them; "." and ".." are skipped; a name already a child of node makes no second node. A
    // transcript that shows a refused "cd" holds no entries of the wanted directory and shows none. The file list
    // remembers node's path as its directory; when the selected node was among the replaced children, node
    // becomes the selected node (without a listing of its own).
    void showListing(QTreeWidgetItem* node, const QStringList& lines);
    // The same with the entries already read from the lines; an entries.error raises AppError once the entries
    // before it are shown.
    void showEntries(QTreeWidgetItem* node, ListingEntries entries);
    // Empties the tree and lists the root, as connecting does.
    void listRoot();
    // Lists the tree's selected node again; with no node selected, lists the root as connecting does.
    void listSelectedAgain();
    // Lists the directory the file list shows again (its node's children too).
    void listShownAgain();
    // The node the commands act on: the current node when it is selected, else the first selected node, else
    // none.
    QTreeWidgetItem* selectedNode() const;
    // True while a listing runs or fills the views.
    bool listingUnderWay() const { return m_listing; }
    // While held, listings asked for wait; released, they run in order.
    void holdListings(bool hold);
    // Ends the kept listing connection (QUIT): another connect replaces the profile, or the window closes. A
    // listing under way finishes on it first; the next listing logs in anew.
    void closeConnection();
    // Logins the kept listing connection has made since it was opened; 0 when none is open.
    int listingLogins() const;

public slots:
    void TreeView1Change(QTreeWidgetItem* node);
    // While BusyLock is set, no selection change is allowed.
    void TreeView1Changing(QTreeWidgetItem* node, bool& allowChange) const;
    void ListView1DblClick();
    void C2Click();
    void D2Click();
    void CreateRemoteDirectory(const QString& path);

private:
    void selectionChanged();
    void askAndCreate();
    void runPending();
    // The kept listing connection for the connection in use, made when there is none or the credentials changed.
    std::shared_ptr<RemoteLister> listingConnection();

    MainWindowPort& m_port;
    FileListView* const m_fileList;
    // Set while a listing replaces nodes itself: the selection changes that follow from removing nodes are not
    // the user's and list nothing.
    bool m_replacingNodes = false;
    bool m_listing = false;                 // a listing runs its client or fills the views
    bool m_held = false;                    // a deletion is being planned: listings wait
    QList<std::function<void()>> m_pending; // listings asked for meanwhile, oldest first
    // Held by each listing while it runs too, so that closing it meanwhile ends it only once that listing is done.
    std::shared_ptr<RemoteLister> m_lister;
    Credentials m_listerCredentials;
};
