#pragma once

#include <QTreeWidget>
#include <functional>

// The remote directory tree (TreeView1): one node per remote directory seen, labels not editable, the selection
// visible without focus, several nodes selectable with Ctrl and Shift but only among siblings, a right click
// selecting the node under the pointer. Drops are accepted on the viewport; the application-wide event filter of
// the upload takes them.
//
// The change guard is consulted before every selection change that goes through the tree's own selection
// commands (mouse, keyboard, setCurrentItem and friends); while it returns true the change is refused and the
// pointer and the keyboard leave the tree as it is. Main thread only.
class RemoteTreeWidget : public QTreeWidget
{
    Q_OBJECT
public:
    explicit RemoteTreeWidget(QWidget* parent = nullptr);

    // Consulted before every selection change; while it returns true the change is refused.
    void setChangeGuard(std::function<bool()> refuse) { m_refuse = std::move(refuse); }

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool refused() const { return m_refuse && m_refuse(); }

    std::function<bool()> m_refuse;
};
