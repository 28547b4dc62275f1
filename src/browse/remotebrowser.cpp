#include "browse/remotebrowser.h"

#include "browse/filelistview.h"
#include "browse/remotetreewidget.h"
#include "browse/themeicons.h"
#include "dialogs/messagebox.h"
#include "ftp/ftpsession.h"
#include "ftp/listingparser.h"
#include "ftp/remotelister.h"
#include "jobs/mainstate.h"
#include "jobs/mainwindowport.h"
#include "settings/apperror.h"

#include <QEventLoop>
#include <QInputDialog>
#include <QPersistentModelIndex>
#include <QScopeGuard>
#include <QSet>
#include <QThread>
#include <QTreeWidget>
#include <memory>

namespace {

constexpr int kRecordRole = Qt::UserRole;

TrecFileData recordOf(const QTreeWidgetItem* node)
{
    return node->data(0, kRecordRole).value<TrecFileData>();
}

// A node's place in the tree's model. The runner processes events while the client runs, and an inner listing
// may delete the node meanwhile; a persistent index notices that where a raw pointer would dangle.
QModelIndex indexOfNode(const QTreeWidget* tree, QTreeWidgetItem* node)
{
    QTreeWidgetItem* parent = node->parent();
    if (!parent)
        return tree->model()->index(tree->indexOfTopLevelItem(node), 0);
    return tree->model()->index(parent->indexOfChild(node), 0, indexOfNode(tree, parent));
}

QTreeWidgetItem* nodeAt(const QTreeWidget* tree, const QModelIndex& index)
{
    if (!index.isValid())
        return nullptr;
    if (!index.parent().isValid())
        return tree->topLevelItem(index.row());
    QTreeWidgetItem* parent = nodeAt(tree, index.parent());
    return parent ? parent->child(index.row()) : nullptr;
}

QTreeWidgetItem* childNamed(const QTreeWidget* tree, const QTreeWidgetItem* node, const QString& name)
{
    const int count = node ? node->childCount() : tree->topLevelItemCount();
    for (int i = 0; i < count; ++i) {
        QTreeWidgetItem* child = node ? node->child(i) : tree->topLevelItem(i);
        if (child->text(0) == name)
            return child;
    }
    return nullptr;
}

// The node a remote path ("/www/img", as RemotePathOfNode gives it) leads to; none for the root or a path
// whose node is not in the tree.
QTreeWidgetItem* nodeOfPath(const QTreeWidget* tree, const QString& path)
{
    QTreeWidgetItem* node = nullptr;
    const QStringList names = path.split(QLatin1Char('/'));
    for (qsizetype i = 1; i < names.size(); ++i) {
        node = childNamed(tree, node, names[i]);
        if (!node)
            return nullptr;
    }
    return node;
}

bool isBelow(const QTreeWidgetItem* item, const QTreeWidgetItem* ancestor)
{
    for (item = item ? item->parent() : nullptr; item; item = item->parent())
        if (item == ancestor)
            return true;
    return false;
}

// Runs work on a thread of its own and waits for it in a local event loop, so the window repaints and takes
// input meanwhile. Returns once work is done, also when the application quits meanwhile (its loops then return at
// once and the wait blocks).
void runOnOwnThread(std::function<void()> work)
{
    const std::unique_ptr<QThread> thread(QThread::create(std::move(work)));
    QEventLoop loop;
    QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
    thread->start();
    loop.exec();
    thread->wait();
}

} // namespace

RemoteBrowser::RemoteBrowser(MainWindowPort& port, FileListView& fileList, QObject* parent)
    : QObject(parent), m_port(port), m_fileList(&fileList)
{
    QTreeWidget* tree = m_port.tree();
    if (auto* remoteTree = qobject_cast<RemoteTreeWidget*>(tree)) {
        remoteTree->setChangeGuard([this] {
            bool allow = true;
            TreeView1Changing(nullptr, allow);
            return !allow;
        });
    }
    connect(tree, &QTreeWidget::itemSelectionChanged, this, &RemoteBrowser::selectionChanged);
    connect(m_fileList, &FileListView::itemDoubleClicked, this, &RemoteBrowser::ListView1DblClick);
}

RemoteBrowser::~RemoteBrowser() = default;

void RemoteBrowser::holdListings(bool hold)
{
    m_held = hold;
    // What waited for the planning starts once it is over, from the event loop.
    if (!hold && !m_pending.isEmpty())
        QMetaObject::invokeMethod(this, &RemoteBrowser::runPending, Qt::QueuedConnection);
}

std::shared_ptr<RemoteLister> RemoteBrowser::listingConnection()
{
    const Credentials& credentials = m_port.state().credentials;
    const bool same = m_lister && m_listerCredentials.server == credentials.server &&
                      m_listerCredentials.userId == credentials.userId &&
                      m_listerCredentials.password == credentials.password &&
                      m_listerCredentials.settings == credentials.settings;
    if (!same) {
        closeConnection();
        // One connection and LIST: its lines are what the parser reads, as from our client's transcript.
        m_lister = std::make_shared<RemoteLister>(credentials, 1, ListingCommand::List);
        m_lister->setPathsBelowLoginDirectory(true);
        m_listerCredentials = credentials;
    }
    return m_lister;
}

void RemoteBrowser::closeConnection()
{
    // The last holder closes it: this one, or the listing that runs on it.
    m_lister.reset();
}

int RemoteBrowser::listingLogins() const
{
    return m_lister ? m_lister->connectionsOpened() : 0;
}

QString RemoteBrowser::RemotePathOfNode(const QTreeWidgetItem* node) const
{
    QString path;
    for (; node; node = node->parent())
        path.prepend(QLatin1Char('/') + recordOf(node).Name);
    return path;
}

void RemoteBrowser::ListRemoteDirectory(QTreeWidgetItem* node, const QString& path)
{
    QTreeWidget* tree = m_port.tree();
    MainState& state = m_port.state();
    if (state.closing)
        return; // the lists are about to be freed

    const QPersistentModelIndex nodeIndex(node ? indexOfNode(tree, node) : QModelIndex());
    if (m_listing || m_held) {
        // One listing at a time fills the views, in the order they were asked for: this one runs when the running
        // listing (or the deletion's planning) is done.
        m_pending << [this, nodeIndex, root = !node, path] {
            if (root)
                ListRemoteDirectory(nullptr, path);
            else if (QTreeWidgetItem* target = nodeAt(m_port.tree(), nodeIndex))
                ListRemoteDirectory(target, path);
        };
        return;
    }
    m_listing = true;
    const auto endListing = qScopeGuard([this] {
        m_listing = false;
        if (!m_pending.isEmpty())
            QMetaObject::invokeMethod(this, &RemoteBrowser::runPending, Qt::QueuedConnection);
    });

    // "/" lists the login directory itself; "/www/img/" changes into www/img below it first. A listing that
    // cannot be made (no login, a refused directory) shows no entries, as a refused change of directory does.
    const std::shared_ptr<RemoteLister> lister = listingConnection();
    RemoteDirectoryListing listing = lister->list({path}).value(0);
    if (state.closing)
        return; // the window began to close while the listing ran

    // The lines of a folder of 100,000 entries take a while to read; the window keeps repainting and answering
    // meanwhile.
    QStringList lines = std::move(listing.lines);
    ListingEntries entries;
    runOnOwnThread([&lines, &entries] { entries = readListingEntries(lines); });
    entries.refusedCd = entries.refusedCd || !listing.listed;
    if (state.closing)
        return; // the window began to close while the listing ran or its lines were read

    if (node) {
        node = nodeAt(tree, nodeIndex);
        if (!node)
            return; // removed meanwhile: this listing has no node to fill any more
    }

    state.ListingLines = std::move(lines);
    showEntries(node, std::move(entries));
}

void RemoteBrowser::showListing(QTreeWidgetItem* node, const QStringList& lines)
{
    showEntries(node, readListingEntries(lines));
}

void RemoteBrowser::showEntries(QTreeWidgetItem* node, ListingEntries entries)
{
    QTreeWidget* tree = m_port.tree();
    FileListView* list = m_fileList;
    {
        m_replacingNodes = true;
        const auto endReplacing = qScopeGuard([this] { m_replacingNodes = false; });
        if (node) {
            // A listing of the parent after a tree deletion replaces the selected node itself. The listed node
            // takes its place, as a tree selects another node when its selected one goes away; left without a
            // selection, the tree commands would fall back to the root.
            bool selectionGoes = false;
            for (const QTreeWidgetItem* selected : tree->selectedItems())
                selectionGoes = selectionGoes || isBelow(selected, node);
            qDeleteAll(node->takeChildren());
            if (selectionGoes)
                tree->selectionModel()->setCurrentIndex(indexOfNode(tree, node), QItemSelectionModel::ClearAndSelect |
                                                                                     QItemSelectionModel::Rows);
        }
        list->clear();
        list->setRemoteDirectory(RemotePathOfNode(node));
    }

    // A refused "cd" leaves the client in the login directory, and what it lists there is not this directory.
    if (entries.refusedCd) {
        if (node) {
            node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
            node->setExpanded(true);
        }
        return;
    }

    // The nodes are made before they join the tree and join it together, so the tree is told of them once and
    // not 5,000 times. A name met twice gets a second list item but never a second node.
    QSet<QString> names;
    for (int i = 0, count = node ? node->childCount() : tree->topLevelItemCount(); i < count; ++i)
        names.insert((node ? node->child(i) : tree->topLevelItem(i))->text(0));
    QList<QTreeWidgetItem*> children;
    const QIcon folder = folderIcon();
    for (const TrecFileData& record : std::as_const(entries.directories)) {
        if (names.contains(record.Name))
            continue;
        names.insert(record.Name);
        auto* child = new QTreeWidgetItem(QStringList{record.Name});
        child->setIcon(0, folder);
        // Not listed yet: the mark tells the user there may be more below.
        child->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        child->setData(0, kRecordRole, QVariant::fromValue(record));
        children << child;
    }
    if (node)
        node->addChildren(children);
    else
        tree->addTopLevelItems(children);
    list->setEntries(std::move(entries.directories), std::move(entries.files));

    // What came before a line whose size does not convert stays in view; the node is not shown as listed.
    if (!entries.error.isEmpty())
        throw AppError(entries.error);
    if (node) {
        node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
        node->setExpanded(true);
    }
}

void RemoteBrowser::runPending()
{
    while (!m_listing && !m_held && !m_pending.isEmpty())
        m_pending.takeFirst()();
}

void RemoteBrowser::listRoot()
{
    if (m_port.state().closing)
        return;
    if (m_listing || m_held) {
        m_pending << [this] { listRoot(); };
        return;
    }
    {
        m_replacingNodes = true;
        const auto endReplacing = qScopeGuard([this] { m_replacingNodes = false; });
        m_port.tree()->clear();
    }
    ListRemoteDirectory(nullptr, QStringLiteral("/"));
}

QTreeWidgetItem* RemoteBrowser::selectedNode() const
{
    QTreeWidget* tree = m_port.tree();
    QTreeWidgetItem* current = tree->currentItem();
    if (current && current->isSelected())
        return current;
    const QList<QTreeWidgetItem*> selected = tree->selectedItems();
    return selected.isEmpty() ? nullptr : selected.first();
}

void RemoteBrowser::listSelectedAgain()
{
    if (QTreeWidgetItem* node = selectedNode())
        ListRemoteDirectory(node, RemotePathOfNode(node) + QLatin1Char('/'));
    else
        listRoot();
}

void RemoteBrowser::listShownAgain()
{
    const QString path = m_fileList->remoteDirectory();
    if (path.isEmpty()) {
        ListRemoteDirectory(nullptr, QStringLiteral("/"));
        return;
    }
    if (QTreeWidgetItem* node = nodeOfPath(m_port.tree(), path))
        ListRemoteDirectory(node, path + QLatin1Char('/'));
    else
        listSelectedAgain(); // its node went away with an ancestor's listing
}

void RemoteBrowser::selectionChanged()
{
    if (m_replacingNodes)
        return;
    // The newly selected node is the one the click or key made current; a Ctrl click that took a node out of
    // the selection selects nothing new.
    QTreeWidgetItem* current = m_port.tree()->currentItem();
    if (current && current->isSelected())
        TreeView1Change(current);
}

void RemoteBrowser::TreeView1Change(QTreeWidgetItem* node)
{
    if (!node)
        return;
    if (m_listing || m_held) {
        // Listed once the running listing is done, if it is still selected then.
        const QPersistentModelIndex nodeIndex(indexOfNode(m_port.tree(), node));
        m_pending << [this, nodeIndex] {
            QTreeWidgetItem* target = nodeAt(m_port.tree(), nodeIndex);
            if (target && target->isSelected())
                TreeView1Change(target);
        };
        return;
    }
    bool& lock = m_port.state().BusyLock;
    const bool before = lock;
    lock = true;
    const auto release = qScopeGuard([&lock, before] { lock = before; });
    ListRemoteDirectory(node, RemotePathOfNode(node) + QLatin1Char('/'));
}

void RemoteBrowser::TreeView1Changing(QTreeWidgetItem*, bool& allowChange) const
{
    allowChange = !m_port.state().BusyLock;
}

void RemoteBrowser::ListView1DblClick()
{
    FileListView* list = m_fileList;
    const QList<int> rows = list->selectedRows();
    if (rows.isEmpty())
        return;
    // Only a directory leads to a node: a file that shares its name with a directory elsewhere in the tree must
    // not select that directory.
    if (list->imageIndex(rows.first()) != FileListView::kDirectoryImage)
        return;
    const QString caption = list->caption(rows.first());

    // The item is a child of the directory the list shows, which need not be the tree's selection.
    QTreeWidget* tree = m_port.tree();
    QTreeWidgetItem* match = nullptr;
    const QString shown = list->remoteDirectory();
    if (shown.isEmpty())
        match = childNamed(tree, nullptr, caption);
    else if (QTreeWidgetItem* directory = nodeOfPath(tree, shown))
        match = childNamed(tree, directory, caption);
    if (match)
        tree->setCurrentItem(match); // the selection change lists it
}

void RemoteBrowser::C2Click()
{
    if (m_port.state().closing)
        return;
    m_port.state().DeleteContext = 0;
    askAndCreate();
}

void RemoteBrowser::D2Click()
{
    if (m_port.state().closing)
        return;
    m_port.state().DeleteContext = 1;
    askAndCreate();
}

void RemoteBrowser::askAndCreate()
{
    bool accepted = false;
    QString answer = QInputDialog::getText(m_port.window(), QStringLiteral("ディレクトリ作成"),
                                           QStringLiteral("ディレクトリ名"), QLineEdit::Normal, QString(), &accepted);
    if (!accepted)
        answer.clear();
    if (answer.isEmpty() || m_port.state().closing)
        return;
    // The directory is read after the prompt: whatever ran while it was open may have changed it. The tree's
    // command creates below the tree's selection, the list's below the directory the list shows.
    const QString parent =
        m_port.state().DeleteContext == 1 ? m_fileList->remoteDirectory() : RemotePathOfNode(selectedNode());
    CreateRemoteDirectory(parent + QLatin1Char('/') + answer);
}

void RemoteBrowser::CreateRemoteDirectory(const QString& path)
{
    m_port.setStatusText(QStringLiteral("ディレクトリを作成しています"), true);
    const auto clearStatus = qScopeGuard([this] { m_port.setStatusText(QString(), true); });

    MainState& state = m_port.state();
    const FtpTimeouts timeouts{DWORD(state.TimeoutSeconds.toInt()) * 1000, DWORD(state.RetryCount.toInt())};
    FtpSession session(state.credentials, timeouts);
    const bool created = session.connect() && FtpCreateDirectoryA(session.connection(), path.toUtf8().constData());
    session.close();

    if (!created) {
        showMessage(m_port.window(), QStringLiteral("ディレクトリの作成に失敗しました"));
        return;
    }
    state.RemoteTarget = path + QLatin1Char('/');
    if (state.DeleteContext == 1)
        listShownAgain();
    else
        listSelectedAgain();
}
