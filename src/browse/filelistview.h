#pragma once

#include "ftp/listingparser.h"

#include <QStackedWidget>

class QAbstractItemView;
class QItemSelectionModel;
class QListView;
class QStandardItemModel;
class QTreeView;

// The file list (ListView1): one item per entry of the last listed directory, with the columns "ファイル名"
// (200 pixels) and "サイズ" (right-aligned), in one of four display styles. Both views share one model and one
// selection, so switching the style keeps the items and what is selected. Image index 1 is a directory, 0 a file.
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
    static constexpr int kFileImage = 0;
    static constexpr int kDirectoryImage = 1;

    explicit FileListView(QWidget* parent = nullptr);

    void setViewStyle(Style style);
    Style viewStyle() const { return m_style; }

    void clear();
    // The remote directory the items came from, as RemoteBrowser::RemotePathOfNode gives it ("" for the root,
    // "/www/img" below it). The list's commands act on this directory, whatever the tree selects meanwhile: a
    // Ctrl click can take the listed node out of the tree's selection without listing anything else.
    QString remoteDirectory() const { return m_remoteDirectory; }
    void setRemoteDirectory(const QString& path) { m_remoteDirectory = path; }
    void addItem(const TrecFileData& record, int imageIndex);
    int count() const;
    QString caption(int row) const;
    int imageIndex(int row) const;
    QString sizeText(int row) const;
    TrecFileData record(int row) const;
    bool isSelected(int row) const;
    void setSelected(int row, bool selected);
    QList<int> selectedRows() const; // in item order

    // The view that shows the items now; its viewport receives clicks and drops.
    QAbstractItemView* currentView() const;
    bool ownsWidget(const QWidget* widget) const; // one of the views or their viewports

signals:
    void itemDoubleClicked();

private:
    QStandardItemModel* m_model;
    QTreeView* m_report;
    QListView* m_icons;
    Style m_style = Style::Report;
    QString m_remoteDirectory;
};
