#include "settle.h"

#include "app/tform1.h"
#include "webpanes/webpane.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <utility>

namespace {

// Busy and total jiffies of all cores so far, from the first line of /proc/stat.
std::pair<qint64, qint64> cpuJiffies()
{
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return {0, 0};
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    qint64 total = 0;
    qint64 idle = 0;
    for (qsizetype i = 1; i < fields.size(); ++i) {
        total += fields[i].toLongLong();
        if (i == 4 || i == 5) // idle, iowait
            idle += fields[i].toLongLong();
    }
    return {total - idle, total};
}

// Returns once the machine has been quiet for two samples in a row (under a tenth of its cores busy), or after
// limitMs. A loaded page keeps its renderer busy for a while after loadFinished; measuring then would measure that.
void waitUntilQuiet(int limitMs)
{
    QEventLoop loop;
    QTimer tick;
    QDeadlineTimer deadline(limitMs);
    auto last = cpuJiffies();
    int quietSamples = 0;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        const auto now = cpuJiffies();
        const qint64 total = now.second - last.second;
        const qint64 busy = now.first - last.first;
        last = now;
        quietSamples = total > 0 && busy * 10 < total ? quietSamples + 1 : 0;
        if (quietSamples >= 2 || deadline.hasExpired())
            loop.quit();
    });
    tick.start(200);
    loop.exec();
    if (quietSamples < 2)
        std::fprintf(stderr, "the machine is still busy; going on anyway\n");
}

} // namespace

Settle::Settle(TForm1& form)
{
    // The web panes start loading at the first show and take a core for a second or two (their renderer starts,
    // the pages or their built-in replacements load).
    for (WebPane* pane : form.findChildren<WebPane*>()) {
        ++m_panesLoading;
        connect(pane, &QWebEngineView::loadFinished, this, [this, pane](bool ok) {
            if (ok && !pane->property("benchLoaded").toBool()) {
                pane->setProperty("benchLoaded", true);
                if (--m_panesLoading == 0)
                    QTimer::singleShot(0, &m_loop, &QEventLoop::quit);
            }
        });
    }
}

void Settle::wait()
{
    // Waits in the event loop, not in a loop around processEvents(): that returns at once when nothing is due
    // and so would keep one of the machine's cores busy.
    QTimer patience;
    patience.setSingleShot(true);
    connect(&patience, &QTimer::timeout, &m_loop, &QEventLoop::quit);
    patience.start(60000);
    if (m_panesLoading > 0)
        m_loop.exec();
    patience.stop();
    if (m_panesLoading > 0)
        std::fprintf(stderr, "%d web panes still loading after a minute; going on anyway\n", m_panesLoading);
    waitUntilQuiet(10000);
}
