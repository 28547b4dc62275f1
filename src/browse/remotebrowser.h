#pragma once

#include "ftp/listingparser.h"

#include <QList>
#include <QObject>
#include <QString>
#include <functional>

class FileListView;
class MainWindowPort;
class QTreeWidgetItem;

// Browsing the server: listing a directory into the tree and the file list, selecting and double-clicking, and
// creating a directory.
//
// Contract: constructed by the main window on the main thread once the tree and the file list exist (the tree
// comes through the port, the file list with the constructor); it wires
// itself to the tree's selection changes, the tree's change guard and the file list's double-click. Listings run
// our command-line client, then read its transcript on a thread of their own, and keep processing events
// meanwhile, so user input, worker exchanges and completion handlers may run in the middle. A listing asked for
// meanwhile (a selection, the end of an upload or a deletion, a reconnect) is not started inside the running one, since
// both would use the one script file: it runs, in order, from the event loop once the running listing is done. Each
// tree node carries the record it was made from (column 0, Qt::UserRole, a TrecFileData by value). A listing whose node
// disappeared while the client ran or its transcript was read leaves the views as they are. Once the window has begun
// to close, no listing, dialog or command starts. A size that does not convert raises AppError, which reaches the
// application's error display; the script file holding the password is removed in every case.
class RemoteBrowser : public QObject
{
    Q_OBJECT
public:
    RemoteBrowser(MainWindowPort& port, FileListView& fileList, QObject* parent = nullptr);

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

    MainWindowPort& m_port;
    FileListView* const m_fileList;
    // Set while a listing replaces nodes itself: the selection changes that follow from removing nodes are not
    // the user's and list nothing.
    bool m_replacingNodes = false;
    bool m_listing = false;                 // a listing runs its client or fills the views
    QList<std::function<void()>> m_pending; // listings asked for meanwhile, oldest first
};
