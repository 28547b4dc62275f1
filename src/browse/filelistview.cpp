#include "browse/filelistview.h"

#include "browse/themeicons.h"

#include <QApplication>
#include <QHeaderView>
#include <QListView>
#include <QStandardItemModel>
#include <QStyle>
#include <QTreeView>

namespace {
constexpr int kImageRole = Qt::UserRole + 1;
constexpr int kRecordRole = Qt::UserRole + 2;

QIcon imageFor(int imageIndex, const QString& name)
{
    return imageIndex == FileListView::kDirectoryImage ? folderIcon() : fileIcon(name);
}
} // namespace

FileListView::FileListView(QWidget* parent)
    : QStackedWidget(parent), m_model(new QStandardItemModel(0, 2, this)), m_report(new QTreeView(this)),
      m_icons(new QListView(this))
{
    setObjectName(QStringLiteral("ListView1"));
    m_model->setHorizontalHeaderLabels({QStringLiteral("ファイル名"), QStringLiteral("サイズ")});
    m_model->horizontalHeaderItem(1)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);

    m_report->setModel(m_model);
    m_report->setRootIsDecorated(false);
    m_report->setItemsExpandable(false);
    m_report->setUniformRowHeights(true);
    m_report->setColumnWidth(0, 200);
    m_icons->setModel(m_model);
    m_icons->setSelectionModel(m_report->selectionModel());

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
    m_model->removeRows(0, m_model->rowCount());
}

void FileListView::addItem(const TrecFileData& record, int imageIndex)
{
    auto* name = new QStandardItem(imageFor(imageIndex, record.Name), record.Name);
    name->setData(imageIndex, kImageRole);
    name->setData(QVariant::fromValue(record), kRecordRole);
    name->setEditable(false);
    auto* size = new QStandardItem(QString::number(record.Size));
    size->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    size->setEditable(false);
    m_model->appendRow({name, size});
}

int FileListView::count() const
{
    return m_model->rowCount();
}

QString FileListView::caption(int row) const
{
    return m_model->item(row, 0)->text();
}

int FileListView::imageIndex(int row) const
{
    return m_model->item(row, 0)->data(kImageRole).toInt();
}

QString FileListView::sizeText(int row) const
{
    return m_model->item(row, 1)->text();
}

TrecFileData FileListView::record(int row) const
{
    return m_model->item(row, 0)->data(kRecordRole).value<TrecFileData>();
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
    for (int row = 0; row < count(); ++row)
        if (isSelected(row))
            rows << row;
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
