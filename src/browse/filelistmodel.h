#pragma once

#include "ftp/listingparser.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>

// The file list's items over the parsed records: column 0 the name with its picture ("ファイル名"), column 1 the
// size in decimal, right-aligned ("サイズ"). Directories come first, then files, each in the order given.
//
// A listing replaces every item at once (one model reset), so the views lay out the new items once instead of at
// each of 100,000 inserted rows. An item's picture is looked up when a view first asks for it, which the views do
// for the items they paint; the pictures themselves are shared (themeicons.h). Main thread only.
class FileListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    static constexpr int kFileImage = 0;
    static constexpr int kDirectoryImage = 1;
    static constexpr int kImageRole = Qt::UserRole + 1; // int: kFileImage or kDirectoryImage

    explicit FileListModel(QObject* parent = nullptr);

    // The lists are kept as they come, not copied into rows of their own.
    void setEntries(QList<TrecFileData> directories, QList<TrecFileData> files);
    void clear();
    const TrecFileData& record(int row) const
    {
        return row < m_directories.size() ? m_directories.at(row) : m_files.at(row - m_directories.size());
    }
    int image(int row) const { return row < m_directories.size() ? kDirectoryImage : kFileImage; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QList<TrecFileData> m_directories;
    QList<TrecFileData> m_files;
    mutable QList<QIcon> m_icons; // by row; null until a view asks
};
