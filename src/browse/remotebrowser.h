#pragma once

#include <QObject>
#include <QString>

class MainWindowPort;
class QTreeWidgetItem;

// Browsing the server: listing a directory into the tree and the file list, selecting and double-clicking, and
// creating a directory. Lives on the main thread; listings run our command-line client and keep processing
// events while it runs, so user input, worker exchanges and completion handlers may run in the middle.
class RemoteBrowser : public QObject
{
    Q_OBJECT
public:
    explicit RemoteBrowser(MainWindowPort& port, QObject* parent = nullptr);

    // "/a/b" for node b below the root-level node a; the empty text for no node (the root).
    QString RemotePathOfNode(const QTreeWidgetItem* node) const;
    // Lists path (begins and ends with "/") into node's children (root-level nodes without a node) and the file
    // list.
    void ListRemoteDirectory(QTreeWidgetItem* node, const QString& path);
    // Empties the tree and lists the root, as connecting does.
    void listRoot();
    // Lists the tree's selected node again; with no node selected, lists the root as connecting does.
    void listSelectedAgain();

public slots:
    void TreeView1Change(QTreeWidgetItem* node);
    void ListView1DblClick();
    void C2Click();
    void D2Click();
    void CreateRemoteDirectory(const QString& path);

private:
    MainWindowPort& m_port;
};
