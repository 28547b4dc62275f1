#pragma once

#include <QEventLoop>
#include <QObject>

class TForm1;

// What the benchmark drivers do before they start the clock: a user acts on a settled window, not on one whose
// web panes are still loading and whose machine is still busy with that. Made before the window is first shown
// (the panes start loading then); wait() returns once every pane has shown its first page or its built-in page
// (a minute at most) and the machine has gone quiet (ten seconds at most).
class Settle : public QObject
{
public:
    explicit Settle(TForm1& form);
    void wait();

private:
    QEventLoop m_loop;
    int m_panesLoading = 0;
};
