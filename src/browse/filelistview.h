#pragma once

#include "ftp/listingparser.h"

#include <QStackedWidget>

class FileListModel;
class QAbstractItemModel;
class QAbstractItemView;
class QListView;
class QTreeView;

// The file list (ListView1): one item per entry of the last listed directory, with the columns "ファイル名"
// (200 pixels) and "サイズ" (right-aligned), in one of four display styles. Both views share one model
// (FileListModel) and one selection, so switching the style keeps the items and what is selected. Image index 1
// is a directory, 0 a file.
class FileListView : public QStackedWidget
{
    Q_OBJECT
public:
    enum class Style
    {
        LargeIcon,
        SmallIcon,
        List,
        Report
    };
    static constexpr int kFileImage = 0;      // FileListModel::kFileImage
    static constexpr int kDirectoryImage = 1; // FileListModel::kDirectoryImage

    explicit FileListView(QWidget* parent = nullptr);

    void setViewStyle(Style style);
    Style viewStyle() const { return m_style; }

    void clear();
    // The remote directory the items came from, as RemoteBrowser::RemotePathOfNode gives it ("" for the root,
    // "/www/img" below it). The list's commands act on this directory, whatever the tree selects meanwhile: a
    // Ctrl click can take the listed node out of the tree's selection without listing anything else.
    QString remoteDirectory() const { return m_remoteDirectory; }
    void setRemoteDirectory(const QString& path) { m_remoteDirectory = path; }
    // Replaces every item at once: the directories, then the files, each in the order given.
    void setEntries(QList<TrecFileData> directories, QList<TrecFileData> files);
    int count() const;
    QString caption(int row) const;
    int imageIndex(int row) const;
    QString sizeText(int row) const;
    TrecFileData record(int row) const;
    bool isSelected(int row) const;
    void setSelected(int row, bool selected);
    QList<int> selectedRows() const; // in item order

    // The model both views show (column 0: the name, its picture as Qt::DecorationRole; column 1: the size).
    QAbstractItemModel* model() const;
    // The view that shows the items now; its viewport receives clicks and drops.
    QAbstractItemView* currentView() const;
    bool ownsWidget(const QWidget* widget) const; // one of the views or their viewports

signals:
    void itemDoubleClicked();

private:
    FileListModel* m_model;
    QTreeView* m_report;
    QListView* m_icons;
    Style m_style = Style::Report;
    QString m_remoteDirectory;
};
