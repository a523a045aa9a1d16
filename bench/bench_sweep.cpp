// Drives the real main window at one packet rate for the rate sweep of
// bench/run.sh and prints what an operator would have seen:
//
//   bench_sweep --port P [--seconds 20] [--settle 2] [--compact] [--trace FILE]
//
// P is the port of a unit-sim. The driver puts a relay of its own between
// the simulator and the window: a thread with plain sockets, outside Qt's
// event loop, that forwards every byte as it comes and notes for every data
// packet the moment its last byte was handed to the window's socket, its
// arrival. The window is the viewer's, composed as its main() composes it
// (treewindow.h), on the screen DISPLAY names (run.sh gives it an X server
// of its own), full size unless --compact; the driver presses its Connect
// button with the lookup table pointing at the relay.
//
// Watched in the window, on its own thread:
//   - every packet the panel takes;
//   - every paint of the packet-number box lbl_packetnum: the number it
//     painted, stamped once that paint and its hand-over to the X server
//     have ended;
//   - every 47 ms (out of step with the window's 100 ms timers), the age the
//     status line states ("The data is N seconds old") and the packet
//     number the panel holds.
// The measuring window opens --settle seconds after the first packet and
// lasts --seconds; then the relay stops forwarding and the window has up to
// 10 s to show what it still holds. Printed, as key=value lines:
//   sent, shown       packets that arrived inside the measuring window, and
//                     how many of them the panel took
//   screen_age_*_ms   per packet that arrived inside the window: from its
//                     arrival to the first paint of it or of a newer packet
//                     (how long the screen was behind it): median, 95th
//                     percentile, worst; never_painted counts the packets
//                     no such paint followed
//   status_said_*_s   what the status line stated, per sample in the window
//   true_age_*_s      the true age of the panel's packet at that sample
//                     (now minus its arrival)
//   status_error_*_s  true age minus the stated age (worst: the one
//                     furthest from 0, with its sign)
//   cpu_percent       CPU time of the whole process but the relay's thread
//                     over the window (utime + stime of /proc), % of a core

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QApplication>
#include <QByteArray>
#include <QCommandLineParser>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "app/fm_more_data.h"
#include "support/files.h"
#include "support/sockets.h"
#include "support/texts.h"
#include "treewindow.h"

namespace {

long long monoNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// utime + stime, in clock ticks, of /proc/self/stat or of one of its tasks.
long long cpuTicks(const QString &statFile)
{
    QFile file(statFile);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = file.readAll();
    // The command name may hold blanks; the fields are counted after it.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong();
}

struct Stamp
{
    long long ns = 0;
    long long number = -1;
};

bool writeAll(int fd, const char *data, ssize_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Forwards one connection from the window to the simulator and back, and
// notes each data packet's arrival at the window's socket.
class StampRelay
{
public:
    ~StampRelay() { stop(); }

    bool listen()
    {
        quint16 port = 0;
        m_listen = support::listenOnLoopback(1, port);
        m_port = port;
        return m_listen >= 0;
    }

    int port() const { return m_port; }
    void start(int upstreamPort)
    {
        m_thread = std::thread([this, upstreamPort] { run(upstreamPort); });
    }
    // Nothing more goes to the window; the simulator's bytes wait.
    void hold() { m_forward = false; }
    void stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listen >= 0)
            ::close(m_listen);
        m_listen = -1;
    }
    long threadId() const { return m_tid; }
    // The connection ended from either side (not by stop()).
    bool ended() const { return m_ended; }
    std::vector<Stamp> stamps() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_stamps;
    }
    Stamp last() const
    {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_stamps.empty() ? Stamp{} : m_stamps.back();
    }

private:
    void run(int upstreamPort)
    {
        m_tid = static_cast<long>(::syscall(SYS_gettid));
        int down = -1;
        while (!m_stop && down < 0) {
            pollfd waiting{m_listen, POLLIN, 0};
            if (::poll(&waiting, 1, 50) > 0)
                down = ::accept(m_listen, nullptr, nullptr);
        }
        if (down < 0)
            return;
        const int up = support::connectToLoopback(static_cast<quint16>(upstreamPort));
        if (up < 0) {
            std::fprintf(stderr, "bench_sweep: cannot reach the simulator on port %d\n", upstreamPort);
            m_ended = true;
            ::close(down);
            return;
        }
        const int on = 1;
        ::setsockopt(up, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        ::setsockopt(down, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::vector<char> buffer(1 << 16);
        while (!m_stop) {
            pollfd ends[2] = {{down, POLLIN, 0}, {m_forward ? up : -1, POLLIN, 0}};
            if (::poll(ends, 2, 50) < 0) {
                if (errno == EINTR)
                    continue;
                break;
            }
            if (ends[1].revents != 0) {
                const ssize_t n = ::read(up, buffer.data(), buffer.size());
                if (n <= 0 || !writeAll(down, buffer.data(), n))
                    break;
                scan(buffer.data(), n, monoNs());
            }
            if (ends[0].revents != 0) {
                const ssize_t n = ::read(down, buffer.data(), buffer.size());
                if (n <= 0 || !writeAll(up, buffer.data(), n))
                    break;
            }
        }
        m_ended = !m_stop;
        ::close(up);
        ::close(down);
    }

    // Every element ends at CR (and LF); a data packet starts with "*" and
    // carries its number in field 29.
    void scan(const char *data, ssize_t size, long long at)
    {
        for (ssize_t i = 0; i < size; ++i) {
            const char c = data[i];
            if (c != '\r' && c != '\n') {
                if (m_line.size() < 4096)
                    m_line.push_back(c);
                continue;
            }
            if (!m_line.empty() && m_line.front() == '*') {
                const QList<QByteArray> fields = QByteArray::fromStdString(m_line).split(',');
                bool ok = false;
                const long long number = fields.value(28).toLongLong(&ok);
                if (ok) {
                    std::lock_guard<std::mutex> lock(m_lock);
                    m_stamps.push_back({at, number});
                }
            }
            m_line.clear();
        }
    }

    int m_listen = -1;
    int m_port = 0;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_forward{true};
    std::atomic<long> m_tid{0};
    std::atomic<bool> m_ended{false};
    mutable std::mutex m_lock;
    std::vector<Stamp> m_stamps;
    std::string m_line;
};

long long shownNumber(const QString &text)
{
    bool ok = false;
    const long long number = text.trimmed().toLongLong(&ok);
    return ok ? number : -1;
}

// Notes what each paint of the box showed, once the paint and its hand-over
// to the screen have ended: the queued call runs behind the whole repaint.
class PaintWatch : public QObject
{
public:
    PaintWatch(QLabel *box, std::vector<Stamp> &paints)
        : m_box(box)
        , m_paints(paints)
    {
        box->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_box && event->type() == QEvent::Paint) {
            const long long number = shownNumber(m_box->text());
            QMetaObject::invokeMethod(
                this, [this, number] { m_paints.push_back({monoNs(), number}); }, Qt::QueuedConnection);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QLabel *m_box;
    std::vector<Stamp> &m_paints;
};

struct StatusSample
{
    long long ns = 0;
    int said = -1;           // seconds, as the status line states them
    long long panel = -1;    // the packet number on the panel
};


double quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return std::nan("");
    // Nearest rank: the smallest value with at least q of them at or below it.
    std::sort(values.begin(), values.end());
    const auto rank = static_cast<size_t>(std::ceil(q * static_cast<double>(values.size())));
    return values[std::clamp<size_t>(rank, 1, values.size()) - 1];
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    // As the viewer's own main() does.
    QApplication::setApplicationName(QStringLiteral("rtviewer"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser options;
    options.addOption({QStringLiteral("port"), QStringLiteral("Port of the simulator."), QStringLiteral("port")});
    options.addOption({QStringLiteral("seconds"), QStringLiteral("Length of the measuring window (default 20)."),
                       QStringLiteral("seconds"), QStringLiteral("20")});
    options.addOption({QStringLiteral("settle"), QStringLiteral("Seconds from the first packet to the window (default 2)."),
                       QStringLiteral("seconds"), QStringLiteral("2")});
    options.addOption({QStringLiteral("compact"), QStringLiteral("Keep the window as it starts (no More Data).")});
    options.addOption({QStringLiteral("trace"), QStringLiteral("Write every arrival, packet taken and paint to this file."),
                       QStringLiteral("file")});
    options.addHelpOption();
    options.process(app);
    const int simPort = options.value(QStringLiteral("port")).toInt();
    const double seconds = options.value(QStringLiteral("seconds")).toDouble();
    const double settle = options.value(QStringLiteral("settle")).toDouble();
    if (simPort <= 0 || simPort > 65535 || seconds <= 0 || settle < 0) {
        std::fprintf(stderr, "bench_sweep: --port 1..65535, --seconds above 0 and --settle of 0 or more are needed\n");
        return 2;
    }

    StampRelay relay;
    if (!relay.listen()) {
        std::fprintf(stderr, "bench_sweep: cannot listen on 127.0.0.1\n");
        return 1;
    }
    relay.start(simPort);

    // The viewer reads its two files from a folder of the run's own.
    QTemporaryDir folder;
    QFile settingsSample(QCoreApplication::applicationDirPath() + QStringLiteral("/RDconfig.ini"));
    if (!folder.isValid() || !settingsSample.open(QIODevice::ReadOnly)
        || !support::tryWriteFile(folder.filePath(QStringLiteral("RDconfig.ini")), settingsSample.readAll())
        || !support::tryWriteFile(folder.filePath(QStringLiteral("RDVlookup.TXT")),
                      "0001 127.0.0.1 " + QByteArray::number(relay.port()) + "\r\n")) {
        std::fprintf(stderr, "bench_sweep: cannot write the configuration files\n");
        return 1;
    }

    std::vector<Stamp> accepted;
    std::vector<Stamp> paints;
    std::vector<StatusSample> status;
    std::unique_ptr<fm_more_data> window = makeMainWindow(folder.path());
    addProgramExtras(*window);
    watchAcceptedPackets(*window, [&](const QByteArray &number) {
        accepted.push_back({monoNs(), shownNumber(QString::fromLatin1(number))});
    });
    auto *serialBox = window->findChild<QLineEdit *>(QStringLiteral("txt_trailer_num"));
    auto *connectButton = window->findChild<QPushButton *>(QStringLiteral("cmd_connect"));
    auto *moreButton = window->findChild<QPushButton *>(QStringLiteral("cmd_more_data"));
    auto *statusLine = window->findChild<QLineEdit *>(QStringLiteral("txt_tcp_status"));
    auto *packetBox = window->findChild<QLabel *>(QStringLiteral("lbl_packetnum"));
    if (!serialBox || !connectButton || !moreButton || !statusLine || !packetBox) {
        std::fprintf(stderr, "bench_sweep: the window lacks a control it needs\n");
        return 1;
    }
    serialBox->setText(QStringLiteral("0001"));
    window->show();
    if (!options.isSet(QStringLiteral("compact")))
        moreButton->click();
    const long long shownBy = monoNs() + 10000000000LL;
    while (!(window->windowHandle() && window->windowHandle()->isExposed()) && monoNs() < shownBy)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
    PaintWatch watch(packetBox, paints);

    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        status.push_back({monoNs(), support::dataAgeShown(statusLine->text()), shownNumber(packetBox->text())});
    });
    sampler.start(47);
    QTimer::singleShot(0, connectButton, &QPushButton::click);

    // The run's phases, looked at every 20 ms.
    enum class Phase { WaitFirst, Settle, Measure, Drain };
    Phase phase = Phase::WaitFirst;
    const long long startedAt = monoNs();
    long long phaseAt = startedAt;
    long long t0 = 0;
    long long t1 = 0;
    long long cpu0 = 0;
    long long relayCpu0 = 0;
    long long cpu1 = 0;
    long long relayCpu1 = 0;
    size_t acceptedSeen = 0;
    long long lastAcceptAt = 0;
    const QString relayStat = QStringLiteral("/proc/self/task/%1/stat");
    int result = 0;
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&] {
        const long long now = monoNs();
        if (relay.ended() && phase != Phase::Drain) {
            std::fprintf(stderr, "bench_sweep: the connection ended before the measuring window did\n");
            result = 1;
            QCoreApplication::exit(1);
            return;
        }
        switch (phase) {
        case Phase::WaitFirst:
            if (relay.last().number >= 0) {
                phase = Phase::Settle;
                phaseAt = now;
            } else if (now - startedAt > 15000000000LL) {
                std::fprintf(stderr, "bench_sweep: no packet arrived within 15 s\n");
                result = 1;
                QCoreApplication::exit(1);
            }
            return;
        case Phase::Settle:
            if (now - phaseAt >= static_cast<long long>(settle * 1e9)) {
                phase = Phase::Measure;
                t0 = monoNs();
                cpu0 = cpuTicks(QStringLiteral("/proc/self/stat"));
                relayCpu0 = cpuTicks(relayStat.arg(relay.threadId()));
            }
            return;
        case Phase::Measure:
            if (now - t0 >= static_cast<long long>(seconds * 1e9)) {
                t1 = monoNs();
                cpu1 = cpuTicks(QStringLiteral("/proc/self/stat"));
                relayCpu1 = cpuTicks(relayStat.arg(relay.threadId()));
                relay.hold();
                phase = Phase::Drain;
                phaseAt = now;
                acceptedSeen = accepted.size();
                lastAcceptAt = now;
            }
            return;
        case Phase::Drain: {
            // Done once the newest packet forwarded (or a newer one) was
            // painted, or the window has taken nothing for 2 s.
            const long long newest = relay.last().number;
            const bool painted = !paints.empty() && paints.back().number >= newest && paints.back().ns >= t1;
            if (accepted.size() != acceptedSeen) {
                acceptedSeen = accepted.size();
                lastAcceptAt = now;
            }
            if (painted || now - lastAcceptAt > 2000000000LL || now - phaseAt > 10000000000LL)
                QCoreApplication::exit(0);
            return;
        }
        }
    });
    clock.start(20);
    QApplication::exec();
    clock.stop();
    sampler.stop();
    relay.stop();
    if (result != 0)
        std::_Exit(result);

    // Packets that arrived inside the measuring window, in order.
    const std::vector<Stamp> arrivals = relay.stamps();
    std::vector<Stamp> inside;
    std::unordered_map<long long, long long> arrivedAt;
    for (const Stamp &arrival : arrivals) {
        arrivedAt.emplace(arrival.number, arrival.ns);
        if (arrival.ns >= t0 && arrival.ns <= t1)
            inside.push_back(arrival);
    }
    std::unordered_set<long long> taken;
    for (const Stamp &stamp : accepted)
        taken.insert(stamp.number);
    long shown = 0;
    for (const Stamp &arrival : inside)
        shown += taken.count(arrival.number) ? 1 : 0;

    // Screen age: for each packet, the first paint after its arrival that
    // shows it or a newer one. Both run in order, so one pass does.
    std::vector<double> screenAge;
    long neverPainted = 0;
    size_t next = 0;
    for (const Stamp &arrival : inside) {
        while (next < paints.size() && (paints[next].ns < arrival.ns || paints[next].number < arrival.number))
            ++next;
        if (next == paints.size()) {
            ++neverPainted;
            continue;
        }
        screenAge.push_back((paints[next].ns - arrival.ns) / 1e6);
    }
    long paintsInside = 0;
    for (const Stamp &paint : paints)
        paintsInside += (paint.ns >= t0 && paint.ns <= t1) ? 1 : 0;

    std::vector<double> said;
    std::vector<double> trueAge;
    std::vector<double> error;
    double worstError = 0;
    long samplesWithoutData = 0;
    for (const StatusSample &sample : status) {
        if (sample.ns < t0 || sample.ns > t1)
            continue;
        const auto arrival = arrivedAt.find(sample.panel);
        if (sample.said < 0 || arrival == arrivedAt.end()) {
            ++samplesWithoutData;
            continue;
        }
        const double age = (sample.ns - arrival->second) / 1e9;
        said.push_back(sample.said);
        trueAge.push_back(age);
        error.push_back(age - sample.said);
        if (std::fabs(error.back()) > std::fabs(worstError))
            worstError = error.back();
    }

    if (options.isSet(QStringLiteral("trace"))) {
        // One line an event, times in ms from the start of the measuring
        // window: "arrived N", "taken N", "painted N".
        QFile trace(options.value(QStringLiteral("trace")));
        if (trace.open(QIODevice::WriteOnly | QIODevice::Text)) {
            auto write = [&](const char *what, const std::vector<Stamp> &stamps) {
                for (const Stamp &stamp : stamps)
                    trace.write(QByteArray::number((stamp.ns - t0) / 1e6, 'f', 3) + ' ' + what + ' '
                                + QByteArray::number(stamp.number) + '\n');
            };
            write("arrived", arrivals);
            write("taken", accepted);
            write("painted", paints);
        }
    }

    const double windowSeconds = (t1 - t0) / 1e9;
    const long hz = ::sysconf(_SC_CLK_TCK);
    const double cpuPercent = 100.0 * ((cpu1 - cpu0) - (relayCpu1 - relayCpu0)) / hz / windowSeconds;
    auto line = [](const char *key, double value) { std::printf("%s=%.3f\n", key, value); };
    std::printf("window=%s\n", options.isSet(QStringLiteral("compact")) ? "compact" : "full");
    line("seconds", windowSeconds);
    std::printf("sent=%zu\nshown=%ld\n", inside.size(), shown);
    line("sent_per_second", inside.size() / windowSeconds);
    line("shown_percent", inside.empty() ? std::nan("") : 100.0 * shown / inside.size());
    std::printf("never_painted=%ld\n", neverPainted);
    line("screen_age_median_ms", quantile(screenAge, 0.5));
    line("screen_age_p95_ms", quantile(screenAge, 0.95));
    line("screen_age_max_ms", quantile(screenAge, 1.0));
    line("box_paints_per_second", paintsInside / windowSeconds);
    std::printf("status_samples=%zu\nstatus_samples_without_data=%ld\n", said.size(), samplesWithoutData);
    line("status_said_median_s", quantile(said, 0.5));
    line("status_said_max_s", quantile(said, 1.0));
    line("true_age_median_s", quantile(trueAge, 0.5));
    line("true_age_max_s", quantile(trueAge, 1.0));
    line("status_error_median_s", quantile(error, 0.5));
    line("status_error_worst_s", said.empty() ? std::nan("") : worstError);
    line("cpu_percent", cpuPercent);
    std::fflush(stdout);
    // The window's own shut-down (and its waits) is not part of the run.
    std::_Exit(0);
}
