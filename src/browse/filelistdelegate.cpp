#include "browse/filelistdelegate.h"

#include "browse/filelistmodel.h"
#include "browse/themeicons.h"

#include <QApplication>
#include <QStyle>

QSize FileListDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // What the style's delegate takes from the file list's items (the model sets no font, colour or check state),
    // without the picture itself; the option's decoration size is the view's icon size.
    QStyleOptionViewItem item = option;
    item.index = index;
    const QVariant alignment = index.data(Qt::TextAlignmentRole);
    if (alignment.isValid())
        item.displayAlignment = Qt::Alignment(alignment.toInt());
    item.features |= QStyleOptionViewItem::HasDecoration;
    // A folder's picture is at hand (the style's own may be smaller than the icon size); a file's would need a type
    // lookup, and the pictures of files fill the icon size.
    if (index.data(FileListModel::kImageRole).toInt() == FileListModel::kDirectoryImage)
        item.decorationSize = item.decorationSize.boundedTo(folderIcon().actualSize(item.decorationSize));
    const QVariant text = index.data(Qt::DisplayRole);
    if (text.isValid()) {
        item.features |= QStyleOptionViewItem::HasDisplay;
        item.text = displayText(text, item.locale);
    }
    const QWidget* widget = option.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    return style->sizeFromContents(QStyle::CT_ItemViewItem, &item, QSize(), widget);
}
