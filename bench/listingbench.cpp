// Lists one large remote folder through the real program: the main window connects through its dialog, and a
// click on the folder's tree node lists it as a user's click does. Prints the time from the click until the list
// and the tree have been painted with every entry, the growth of the program's resident memory, the longest time
// the window went without a repaint meanwhile, and how long each switch of the list's view style takes until the
// new view is painted. Run through bench/run.sh.
#include "app/application.h"
#include "app/tform1.h"
#include "browse/filelistview.h"
#include "connectdialog.h"
#include "connectedwindow.h"
#include "dialogs/tform2.h"
#include "settle.h"

#include <QAbstractItemView>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <thread>
#include <unistd.h>

namespace {

qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
}

// The highest resident size seen while it runs, sampled every two milliseconds from a thread of its own: the main
// thread may be busy for seconds at a time.
class PeakMemory
{
public:
    PeakMemory()
        : m_thread([this] {
              while (!m_stop) {
                  const qint64 now = residentBytes();
                  if (now > m_peak)
                      m_peak = now;
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              }
          })
    {}
    ~PeakMemory()
    {
        m_stop = true;
        m_thread.join();
    }
    qint64 peak() const { return m_peak; }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_peak{0};
    std::thread m_thread;
};

// Nanoseconds since the clock started at which a widget was painted, for each widget watched.
class PaintWatch : public QObject
{
public:
    explicit PaintWatch(const QElapsedTimer& clock) : m_clock(clock) {}
    std::function<void(QObject*, qint64)> painted;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && painted)
            painted(watched, m_clock.nsecsElapsed());
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& m_clock;
};

bool waitFor(const std::function<bool()>& done, int limitMs)
{
    QEventLoop loop;
    QTimer tick;
    QElapsedTimer limit;
    limit.start();
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (done() || limit.elapsed() >= limitMs)
            loop.quit();
    });
    tick.start(1);
    if (!done())
        loop.exec();
    return done();
}

} // namespace

int main(int argc, char* argv[])
{
    PelnoApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 6) {
        std::fprintf(stderr, "usage: pelno_listingbench <host:port> <user> <password> <folder> <entries>\n");
        return 2;
    }
    const QString folder = args[4];
    const int entries = args[5].toInt();
    TForm1 form;
    TForm2 dialog(form.state().credentials, &form);
    form.setConnectDialog(&dialog);
    Settle settle(form);
    form.show();
    connectLikeAUser(form, args[1], args[2], args[3]);
    if (form.currentLayout() != MainWindowPort::Layout::Browser)
        return 1;
    QTreeWidget* tree = form.tree();
    QTreeWidgetItem* node = nodeNamed(tree, folder);
    if (!node) {
        std::fprintf(stderr, "no folder %s in the root listing\n", qPrintable(folder));
        return 1;
    }
    FileListView* list = form.fileList();
    settle.wait();

    // A label of the status line is asked to repaint every 10 ms: the gaps between its paints are the times the
    // window could not repaint.
    QElapsedTimer clock;
    PaintWatch watch(clock);
    auto* probe = form.findChild<QLabel*>(QStringLiteral("ConnectionLabel"));
    QTimer repaint;
    QObject::connect(&repaint, &QTimer::timeout, probe, [probe] { probe->update(); });
    qint64 lastProbePaint = 0;
    qint64 longestGap = 0;
    qint64 listPainted = -1;
    qint64 treePainted = -1;
    bool measuring = true;
    const auto filled = [&] { return list->count() == entries && !form.state().BusyLock; };
    watch.painted = [&](QObject* widget, qint64 at) {
        if (!measuring)
            return;
        if (widget == probe) {
            longestGap = std::max(longestGap, at - lastProbePaint);
            lastProbePaint = at;
        } else if (filled()) {
            qint64& painted = widget == tree->viewport() ? treePainted : listPainted;
            if (painted < 0)
                painted = at;
        }
    };
    probe->installEventFilter(&watch);
    tree->viewport()->installEventFilter(&watch);
    for (QAbstractItemView* view : list->findChildren<QAbstractItemView*>())
        view->viewport()->installEventFilter(&watch);

    const qint64 before = residentBytes();
    std::optional<PeakMemory> peak(std::in_place);
    repaint.start(10);
    clock.start();
    clickNode(tree, node);
    const bool done = waitFor([&] { return listPainted >= 0 && treePainted >= 0; }, 600000);
    measuring = false;
    const qint64 after = residentBytes();
    const qint64 highest = peak->peak();
    peak.reset();
    repaint.stop();
    if (!done) {
        std::fprintf(stderr, "the list did not fill: %d of %d entries\n", list->count(), entries);
        return 1;
    }
    // the gap from the last paint during the fill until the filled views were painted counts too
    longestGap = std::max(longestGap, std::max(listPainted, treePainted) - lastProbePaint);
    const double seconds = std::max(listPainted, treePainted) / 1e9;

    // Each style from the report the window starts with, and back; the time runs until the new view has placed
    // every item (its last one has a place: the icon views lay out in batches) and has been painted since.
    QStringList styleTimes;
    qint64 switchGap = 0;
    for (const char* caption : {"アイコン", "小さいアイコン", "一覧", "詳細"}) {
        QPushButton* button = nullptr;
        for (auto* candidate : form.findChildren<QPushButton*>())
            if (candidate->text() == QString::fromUtf8(caption))
                button = candidate;
        if (!button)
            return 1;
        waitFor([] { return false; }, 200); // the previous style's paints are over
        qint64 painted = -1;
        watch.painted = [&](QObject* widget, qint64 at) {
            QAbstractItemView* view = list->currentView();
            if (widget == probe) {
                switchGap = std::max(switchGap, at - lastProbePaint);
                lastProbePaint = at;
            } else if (painted < 0 && widget == view->viewport() &&
                       view->visualRect(list->model()->index(entries - 1, 0)).isValid()) {
                painted = at;
            }
        };
        lastProbePaint = 0;
        repaint.start(10);
        clock.restart();
        QTest::mouseClick(button, Qt::LeftButton);
        const bool placed = waitFor([&] { return painted >= 0; }, 60000);
        repaint.stop();
        if (!placed)
            return 1;
        switchGap = std::max(switchGap, painted - lastProbePaint);
        styleTimes << QString::number(painted / 1e9, 'f', 3);
    }

    // folder, entries, seconds to the filled list, memory growth and its peak (bytes), the longest time without a
    // repaint while it filled (ms), the four style switches (s), the longest time without a repaint during them
    std::printf("result %s %d %.3f %lld %lld %.1f %s %.1f\n", qPrintable(folder), entries, seconds,
                static_cast<long long>(after - before), static_cast<long long>(highest - before), longestGap / 1e6,
                qPrintable(styleTimes.join(QLatin1Char(' '))), switchGap / 1e6);
    form.close();
    return 0;
}
