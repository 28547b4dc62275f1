#include "browse/filelistmodel.h"

#include "browse/themeicons.h"

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

void FileListModel::setEntries(QList<TrecFileData> directories, QList<TrecFileData> files)
{
    beginResetModel();
    m_directories = std::move(directories);
    m_files = std::move(files);
    m_icons = QList<QIcon>(m_directories.size() + m_files.size());
    endResetModel();
}

void FileListModel::clear()
{
    beginResetModel();
    m_directories.clear();
    m_files.clear();
    m_icons.clear();
    endResetModel();
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_directories.size() + m_files.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const int row = index.row();
    const TrecFileData& entry = record(row);
    if (index.column() == 1) {
        if (role == Qt::DisplayRole)
            return QString::number(entry.Size);
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignRight | Qt::AlignVCenter); // as an int: what the views and the header read
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        return entry.Name;
    case Qt::DecorationRole: {
        QIcon& icon = m_icons[row];
        if (icon.isNull())
            icon = image(row) == kDirectoryImage ? folderIcon() : fileIcon(entry.Name);
        return icon;
    }
    case kImageRole:
        return image(row);
    default:
        return {};
    }
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole)
        return section == 0 ? QStringLiteral("ファイル名") : QStringLiteral("サイズ");
    if (role == Qt::TextAlignmentRole && section == 1)
        return int(Qt::AlignRight | Qt::AlignVCenter); // as an int: what the views and the header read
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const
{
    // Selectable, never editable; the items are not dragged anywhere.
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}
