#pragma once

#include <QStyledItemDelegate>

// Draws the file list's items as the style's item delegate does, but measures a file without its picture, as if
// the picture filled the view's icon size (which the pictures of files do): the icon views measure every item to
// lay them out, and a file's picture would cost a type lookup for each of 100,000 names. Only painted items look
// theirs up.
class FileListDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
