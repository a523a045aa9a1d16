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
//                             (a WITS record every fifth second), connected
//
// The tick modes stop the window's timers and call the handlers the timers
// would call, one after the other with the repaint in between, so a run
// under callgrind counts the same work every time; runTicks is the function
// to collect (--toggle-collect='*runTicks*').
//
// Every mode prints key=value lines: *_realtime_ns stamps on the system's
// real-time clock, for comparison with stamps the script takes around the
// process, and *_ms durations measured inside it.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <utility>

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QEvent>
#include <QStyleFactory>
#include <QTimer>
#include <QWindow>

#include "app/fm_more_data.h"
#include "queuesocket.h"
#include "samplestream.h"

namespace {

long long realtimeNs()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// Calls back once, after the first paint of the watched window has run to its
// end (the queued call comes behind the paint and its flush to the screen).
class FirstPaint : public QObject
{
public:
    FirstPaint(QWidget *watched, std::function<void()> then)
        : m_then(std::move(then))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && m_then) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, std::exchange(m_then, nullptr));
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_then;
};

void stopTimers(fm_more_data &window)
{
    for (QTimer *timer : window.findChildren<QTimer *>())
        timer->stop();
}

// Kept out of line so callgrind can collect exactly this loop.
__attribute__((noinline)) void runTicks(fm_more_data &window, QueueSocket &socket, int ticks, bool withPackets)
{
    for (int i = 0; i < ticks; ++i) {
        if (withPackets) {
            socket.incoming += SampleStream::dataPacket(i);
            if (i % 50 == 49)
                socket.incoming += SampleStream::witsRecord(i);
        }
        window.tmrDataArrival_Timer();
        window.tmr_delay_Timer();
        if (i % 10 == 9)
            window.tmr_wits_Timer();
        QCoreApplication::processEvents();
    }
}

int usage()
{
    std::fprintf(stderr, "usage: bench_window startup | shutdown | ticks N | packets N\n");
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
    const int count = argc > 2 ? std::atoi(argv[2]) : 0;
    const bool tickMode = mode == "ticks" || mode == "packets";
    if (mode != "startup" && mode != "shutdown" && !(tickMode && count > 0))
        return usage();

    QApplication app(argc, argv);
    // As the viewer's own main() does.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setQuitOnLastWindowClosed(false);

    if (mode == "startup") {
        fm_more_data window;
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
        ViewerOptions options;
        options.endProcess = [&] {
            std::printf("close_to_end_process_ms=%.3f\n", sinceClose.nsecsElapsed() / 1e6);
            QCoreApplication::exit(0);
        };
        fm_more_data window(options);
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

    const bool withPackets = mode == "packets";
    auto *socket = new QueueSocket(withPackets ? SocketControl::Connected : SocketControl::Closed);
    ViewerOptions options;
    options.endProcess = [] {};
    options.socket = socket;
    fm_more_data window(options);
    stopTimers(window);
    // The full window, so every box and the traffic window are painted.
    window.cmd_more_data_Click();
    window.show();
    for (int i = 0; i < 1000 && !(window.windowHandle() && window.windowHandle()->isExposed()); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();

    QElapsedTimer elapsed;
    elapsed.start();
    runTicks(window, *socket, count, withPackets);
    const double ms = elapsed.nsecsElapsed() / 1e6;
    std::printf("ticks=%d\nticks_ms=%.3f\nper_tick_us=%.3f\n", count, ms, ms * 1000.0 / count);
    if (withPackets && window.stream().data_fields[29] != QByteArray::number(count - 1)) {
        std::fprintf(stderr, "bench_window: the last packet was not shown\n");
        return 1;
    }
    return 0;
}
