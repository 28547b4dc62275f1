#pragma once

#include <QDialog>
#include <QStringList>

class QGroupBox;
class QPlainTextEdit;
class WebPane;

// The failure report: the entries that still failed after the last round, one per line, in the form they were
// queued in, above the failure-list page. Created, filled, shown modally and destroyed by the end of an upload on
// the main thread; the page is loaded again every time the window is shown.
class TForm5 : public QDialog
{
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    void setFailedEntries(const QStringList& entries);

    QPlainTextEdit* Memo1() const { return m_memo; }
    WebPane* WebBrowser1() const { return m_pane; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();

    QGroupBox* m_group = nullptr;
    QPlainTextEdit* m_memo = nullptr;
    WebPane* m_pane = nullptr;
};
