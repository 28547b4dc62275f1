#include "browse/filelistview.h"

#include "browse/filelistdelegate.h"
#include "browse/filelistmodel.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListView>
#include <QTreeView>

#include <algorithm>

static_assert(FileListView::kFileImage == FileListModel::kFileImage &&
              FileListView::kDirectoryImage == FileListModel::kDirectoryImage);

FileListView::FileListView(QWidget* parent)
    : QStackedWidget(parent), m_model(new FileListModel(this)), m_report(new QTreeView(this)),
      m_icons(new QListView(this))
{
    setObjectName(QStringLiteral("ListView1"));

    // Every row of the report has the same height, so it measures one row, not each of 100,000. The icon views
    // measure every item (a name's width decides its column in the list style), by its name alone, and lay them
    // out in batches between which the window repaints and takes input.
    m_report->setModel(m_model);
    m_report->setRootIsDecorated(false);
    m_report->setItemsExpandable(false);
    m_report->setUniformRowHeights(true);
    m_report->setColumnWidth(0, 200);
    m_icons->setModel(m_model);
    m_icons->setSelectionModel(m_report->selectionModel());
    m_icons->setItemDelegate(new FileListDelegate(m_icons));
    m_icons->setLayoutMode(QListView::Batched);
    m_icons->setBatchSize(2000);

    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(m_report), static_cast<QAbstractItemView*>(m_icons)}) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setContextMenuPolicy(Qt::NoContextMenu); // the menu belongs to this widget
        view->setAcceptDrops(true);
        view->viewport()->setAcceptDrops(true);
        connect(view, &QAbstractItemView::doubleClicked, this, &FileListView::itemDoubleClicked);
    }
    addWidget(m_report);
    addWidget(m_icons);
    setViewStyle(Style::Report);
}

void FileListView::setViewStyle(Style style)
{
    m_style = style;
    switch (style) {
    case Style::Report:
        setCurrentWidget(m_report);
        return;
    case Style::LargeIcon:
        m_icons->setViewMode(QListView::IconMode);
        m_icons->setIconSize(QSize(32, 32));
        m_icons->setGridSize(QSize(96, 64));
        m_icons->setFlow(QListView::LeftToRight);
        m_icons->setWrapping(true);
        break;
    case Style::SmallIcon:
        m_icons->setViewMode(QListView::ListMode);
        m_icons->setIconSize(QSize(16, 16));
        m_icons->setGridSize(QSize(160, 20));
        m_icons->setFlow(QListView::LeftToRight);
        m_icons->setWrapping(true);
        break;
    case Style::List:
        m_icons->setViewMode(QListView::ListMode);
        m_icons->setIconSize(QSize(16, 16));
        m_icons->setGridSize(QSize());
        m_icons->setFlow(QListView::TopToBottom);
        m_icons->setWrapping(true);
        break;
    }
    m_icons->setMovement(QListView::Static);
    m_icons->setResizeMode(QListView::Adjust);
    setCurrentWidget(m_icons);
}

void FileListView::clear()
{
    m_model->clear();
}

void FileListView::setEntries(QList<TrecFileData> directories, QList<TrecFileData> files)
{
    m_model->setEntries(std::move(directories), std::move(files));
}

int FileListView::count() const
{
    return m_model->rowCount();
}

QString FileListView::caption(int row) const
{
    return m_model->record(row).Name;
}

int FileListView::imageIndex(int row) const
{
    return m_model->image(row);
}

QString FileListView::sizeText(int row) const
{
    return QString::number(m_model->record(row).Size);
}

TrecFileData FileListView::record(int row) const
{
    return m_model->record(row);
}

QAbstractItemModel* FileListView::model() const
{
    return m_model;
}

bool FileListView::isSelected(int row) const
{
    return m_report->selectionModel()->isRowSelected(row, QModelIndex());
}

void FileListView::setSelected(int row, bool selected)
{
    m_report->selectionModel()->select(m_model->index(row, 0),
                                       (selected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect) |
                                           QItemSelectionModel::Rows);
}

QList<int> FileListView::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : m_report->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

QAbstractItemView* FileListView::currentView() const
{
    return m_style == Style::Report ? static_cast<QAbstractItemView*>(m_report) : m_icons;
}

bool FileListView::ownsWidget(const QWidget* widget) const
{
    return widget == this || widget == m_report || widget == m_icons || widget == m_report->viewport() ||
           widget == m_icons->viewport();
}
