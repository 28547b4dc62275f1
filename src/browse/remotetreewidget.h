#pragma once

#include <QTreeWidget>

// The remote directory tree (TreeView1): one node per remote directory seen, labels not editable, the selection
// visible without focus, several nodes selectable with Ctrl and Shift but only among siblings, a right click
// selecting the node under the pointer. While the state's BusyLock is set, selection changes are refused.
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
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::function<bool()> m_refuse;
};
