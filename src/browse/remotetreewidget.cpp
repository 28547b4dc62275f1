#include "browse/remotetreewidget.h"

#include "browse/themeicons.h"

#include <QItemSelection>
#include <QKeyEvent>
#include <QMouseEvent>

RemoteTreeWidget::RemoteTreeWidget(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("TreeView1"));
    setColumnCount(1);
    setHeaderHidden(true);
    setIndentation(19);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setDragEnabled(false);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    setDropIndicatorShown(false);

    // The selection is what the context menus and a drop act on, so it stays as visible as with the focus when
    // the user has moved to the file list.
    QPalette pal = palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        pal.setColor(QPalette::Inactive, role, pal.color(QPalette::Active, role));
    setPalette(pal);

    connect(this, &QTreeWidget::itemExpanded, this, [](QTreeWidgetItem* item) { item->setIcon(0, folderIcon(true)); });
    connect(this, &QTreeWidget::itemCollapsed, this, [](QTreeWidgetItem* item) { item->setIcon(0, folderIcon()); });
}

QItemSelectionModel::SelectionFlags RemoteTreeWidget::selectionCommand(const QModelIndex& index,
                                                                       const QEvent* event) const
{
    if (refused())
        return QItemSelectionModel::NoUpdate;
    // A click on empty space keeps the selection: the commands that act on the selected node would otherwise
    // silently fall back to the root.
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;

    const QItemSelectionModel::SelectionFlags base = QTreeWidget::selectionCommand(index, event);
    if (base == QItemSelectionModel::NoUpdate || base.testFlag(QItemSelectionModel::Clear))
        return base;

    // Adding to the selection (Ctrl, Shift, a drag) is allowed among siblings only; a node of another parent
    // starts a new selection of its own.
    const QModelIndexList selected = selectionModel()->selectedRows();
    for (const QModelIndex& other : selected) {
        if (other.parent() != index.parent())
            return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
    }
    return base;
}

void RemoteTreeWidget::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    if (!selectionModel() || refused())
        return;
    // The default selects every visible row between the anchor and the pointer, nested nodes included; here only
    // the siblings of the node under the pointer (the current one) within that span are taken.
    const QRect span = rect.normalized();
    QModelIndex reference = currentIndex();
    if (!reference.isValid())
        reference = indexAt(span.topLeft());
    if (!reference.isValid())
        return;

    const QModelIndex parent = reference.parent();
    QItemSelection selection;
    for (int row = 0; row < model()->rowCount(parent); ++row) {
        const QModelIndex sibling = model()->index(row, 0, parent);
        const QRect place = visualRect(sibling);
        if (place.isValid() && place.bottom() >= span.top() && place.top() <= span.bottom())
            selection.select(sibling, sibling);
    }
    if (selection.isEmpty())
        selection.select(reference, reference);
    selectionModel()->select(selection, command);
}

void RemoteTreeWidget::mousePressEvent(QMouseEvent* event)
{
    // While refused, a press neither selects nor moves the current node nor opens a branch.
    if (refused()) {
        event->accept();
        return;
    }
    QTreeWidget::mousePressEvent(event);
}

void RemoteTreeWidget::mouseMoveEvent(QMouseEvent* event)
{
    // The release is left alone so that the view's press-and-drag state ends; any selection it would make passes
    // through selectionCommand() and is refused there.
    if (refused() && event->buttons() != Qt::NoButton) {
        event->accept();
        return;
    }
    QTreeWidget::mouseMoveEvent(event);
}

void RemoteTreeWidget::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (refused()) {
        event->accept();
        return;
    }
    QTreeWidget::mouseDoubleClickEvent(event);
}

void RemoteTreeWidget::keyPressEvent(QKeyEvent* event)
{
    // Keyboard navigation would move the current node even where the selection stays, so it waits as well.
    if (refused()) {
        event->ignore();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}
