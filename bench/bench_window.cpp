// Drives the real main window for the whole-program figures of bench/run.sh,
// which times it from outside (wall clock, /usr/bin/time, callgrind):
//
//   bench_window startup      shows the window and ends right after its first
//                             paint has been handed to the screen
//   bench_window shutdown     shows the window, lets it idle for a moment
//                             while disconnected, then closes it the way the
//                             operator does and ends when the shut-down ends
//   bench_window ticks N      N ticks (poll, tick, and every tenth the WITS
//                             second) with nothing received, disconnected
//   bench_window packets N    N ticks, each with one data packet received
//                             (a WITS record every fifth second), connected;
//                             every reading of each packet differs from the
//                             one before (samplestream.h)
//   bench_window replay FILE N
//                             N ticks, each with one packet of a recorded
//                             stream (a unit-sim's, as run.sh records it)
//                             and whatever the unit sent after it
//
// The tick modes show the full window unless "compact" follows. They stop
// the window's timers and call the handlers the timers would call, one
// after the other with the repaint in between, so a run under callgrind counts the same work every time; runTicks is the function
// to collect (--toggle-collect='*runTicks*'). The traffic window's own
// update timer, which the poll starts whenever text comes, is stopped again
// after each poll and fired every second tick instead: every 200 ms at a
// packet every 100 ms, as in the program, however slow callgrind makes the
// clock. The window is made through treewindow.h, so the same driver runs
// against an earlier build (run.sh --before).
//
// The tick modes stop the window's timers and call the handlers the timers
// would call, one after the other with the repaint in between, so a run
// under callgrind counts the same work every time; runTicks is the function
// to collect (--toggle-collect='*runTicks*'). The traffic window's own
// update timer, which the poll starts whenever text comes, is stopped again
// after each poll and fired every second tick instead: every 200 ms at a
// packet every 100 ms, as in the program, however slow callgrind makes the
// clock.
//
// Every mode prints key=value lines: *_realtime_ns stamps on the system's
// real-time clock, for comparison with stamps the script takes around the
// process, and *_ms durations measured inside it.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <utility>
#include <vector>

#include <QApplication>
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QStyleFactory>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "app/fm_more_data.h"
#include "samplestream.h"
#include "support/fakesocket.h"
#include "treewindow.h"

namespace {

long long realtimeNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Calls back once, after the first paint in the watched window has run to its
// end (the queued call comes behind the paint and its flush to the screen).
// Any widget of the window counts: the panel fills the window from a scroll
// area, so the window itself may never paint.
class FirstPaint : public QObject
{
public:
    FirstPaint(QWidget *watched, std::function<void()> then)
        : m_watched(watched)
        , m_then(std::move(then))
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_then && object->isWidgetType()
            && static_cast<QWidget *>(object)->window() == m_watched) {
            QCoreApplication::instance()->removeEventFilter(this);
            QTimer::singleShot(0, this, std::exchange(m_then, nullptr));
        }
        return QObject::eventFilter(object, event);
    }

private:
    QWidget *m_watched;
    std::function<void()> m_then;
};

void stopTimers(fm_more_data &window)
{
    for (QTimer *timer : window.findChildren<QTimer *>())
        timer->stop();
}

// The recorded stream cut into one piece per packet: each piece runs from a
// packet's "*" to the next packet's, so whatever the unit sent between two
// packets (a WITS record, a status message) comes with the first; what came
// before the first packet joins it. The last piece, which the recording may
// have cut short, is left out.
std::vector<QByteArray> packetPieces(const QByteArray &recorded)
{
    std::vector<qsizetype> starts;
    for (qsizetype at = 0; at < recorded.size(); ++at) {
        if (recorded[at] == '*' && (at == 0 || recorded[at - 1] == '\n' || recorded[at - 1] == '\r'))
            starts.push_back(at);
    }
    std::vector<QByteArray> pieces;
    for (size_t i = 0; i + 1 < starts.size(); ++i) {
        const qsizetype from = i == 0 ? 0 : starts[i];
        pieces.push_back(recorded.mid(from, starts[i + 1] - from));
    }
    return pieces;
}

// Kept out of line so callgrind can collect exactly this loop. One tick
// takes one piece of the feed (none when the feed is empty).
__attribute__((noinline)) void runTicks(fm_more_data &window, FakeSocket &socket, int ticks,
                                        const std::vector<QByteArray> &feed)
{
    QTimer *trafficUpdate = window.findChild<QTimer *>(QStringLiteral("tmr_traffic"));
    for (int i = 0; i < ticks; ++i) {
        if (!feed.empty())
            socket.incoming += feed[static_cast<size_t>(i)];
        window.tmrDataArrival_Timer();
        if (trafficUpdate) {
            trafficUpdate->stop();
            if (i % 2 == 1)
                QMetaObject::invokeMethod(trafficUpdate, "timeout");
        }
        window.tmr_delay_Timer();
        if (i % 10 == 9)
            window.tmr_wits_Timer();
        QCoreApplication::processEvents();
    }
}

int usage()
{
    std::fprintf(stderr, "usage: bench_window startup | shutdown | ticks N [compact] | packets N [compact]"
                         " | replay FILE N [compact]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QElapsedTimer sinceMain;
    sinceMain.start();
    if (argc < 2)
        return usage();
    const QByteArray mode = argv[1];
    // The tick modes: the count after the mode (after the file for replay),
    // then optionally "compact".
    const int countArg = mode == "replay" ? 3 : 2;
    int count = argc > countArg ? std::atoi(argv[countArg]) : 0;
    const bool compact = argc > countArg + 1 && QByteArray(argv[countArg + 1]) == "compact";
    const bool tickMode = mode == "ticks" || mode == "packets" || mode == "replay";
    if (mode != "startup" && mode != "shutdown" && !(tickMode && count > 0))
        return usage();

    QApplication app(argc, argv);
    // As the viewer's own main() does.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setQuitOnLastWindowClosed(false);

    if (mode == "startup") {
        const std::unique_ptr<fm_more_data> shown = makeMainWindow();
        fm_more_data &window = *shown;
        FirstPaint painted(&window, [&] {
            std::printf("first_paint_realtime_ns=%lld\nmain_to_first_paint_ms=%.3f\n", realtimeNs(),
                        sinceMain.nsecsElapsed() / 1e6);
            QCoreApplication::exit(0);
        });
        window.show();
        return QApplication::exec();
    }

    if (mode == "shutdown") {
        QElapsedTimer sinceClose;
        // The real process ends through the window's end-of-process call; it
        // is wrapped only to take the time at which it is reached.
        const std::unique_ptr<fm_more_data> shown = makeMainWindow(QString(), nullptr, [&] {
            std::printf("close_to_end_process_ms=%.3f\n", sinceClose.nsecsElapsed() / 1e6);
            QCoreApplication::exit(0);
        });
        fm_more_data &window = *shown;
        FirstPaint painted(&window, [&] {
            QTimer::singleShot(1000, &window, [&] {
                std::printf("close_realtime_ns=%lld\n", realtimeNs());
                sinceClose.start();
                window.close();
            });
        });
        window.show();
        const int result = QApplication::exec();
        std::printf("close_to_loop_end_ms=%.3f\n", sinceClose.nsecsElapsed() / 1e6);
        std::fflush(stdout);
        return result;
    }

    std::vector<QByteArray> feed;
    QByteArray lastPacket;
    if (mode == "packets") {
        for (int i = 0; i < count; ++i) {
            feed.push_back(SampleStream::dataPacket(i));
            if (i % 50 == 49)
                feed.back() += SampleStream::witsRecord(i);
        }
        lastPacket = QByteArray::number(count - 1);
    } else if (mode == "replay") {
        QFile recorded(QString::fromLocal8Bit(argv[2]));
        if (!recorded.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "bench_window: cannot read %s\n", argv[2]);
            return 1;
        }
        feed = packetPieces(recorded.readAll());
        if (feed.empty()) {
            std::fprintf(stderr, "bench_window: no complete packet in %s\n", argv[2]);
            return 1;
        }
        if (static_cast<size_t>(count) > feed.size())
            count = static_cast<int>(feed.size());
        const QByteArray &last = feed[static_cast<size_t>(count - 1)];
        lastPacket = last.mid(last.lastIndexOf('*')).split(',').value(28);
    }
    auto *socket = FakeSocket::inMemory(feed.empty() ? SocketControl::Closed : SocketControl::Connected);
    const std::unique_ptr<fm_more_data> shown = makeMainWindow(QString(), socket, [] {});
    fm_more_data &window = *shown;
    stopTimers(window);
    // The full window, so every box and the traffic window are painted,
    // unless the window as it starts is asked for.
    if (!compact)
        window.cmd_more_data_Click();
    window.show();
    for (int i = 0; i < 1000 && !(window.windowHandle() && window.windowHandle()->isExposed()); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();

    QElapsedTimer elapsed;
    elapsed.start();
    runTicks(window, *socket, count, feed);
    const double ms = elapsed.nsecsElapsed() / 1e6;
    std::printf("ticks=%d\nticks_ms=%.3f\nper_tick_us=%.3f\n", count, ms, ms * 1000.0 / count);
    if (!feed.empty() && window.stream().data_fields[29] != lastPacket) {
        std::fprintf(stderr, "bench_window: the last packet was not shown\n");
        return 1;
    }
    return 0;
}
