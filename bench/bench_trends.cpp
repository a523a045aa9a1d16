// What the trends window costs.
//
//   bench_trends open [runs] [range]
//   bench_trends follow [seconds] [rounds] [range]
//
// range is 10min, 1h, 6h, 24h (the default) or all.
//
// open: a history file holding 24 hours of unit 0001 at one reading a second
// up to now (86,400 readings, the gas swinging through every level, an alarm
// every 80 s) is written in a temporary folder. Each run then makes and
// opens a new trends window on it as the viewer does on F2, and times from
// making it to every chart read, drawn and painted (every reading read:
// the strip log's too); then it times one more
// repaint of the whole window, which is what decimation keeps small. The
// window is rebuilt from nothing each run: nothing is cached between runs
// but the file system's pages.
//
// follow: a unit link on an in-memory socket is fed as unit-sim feeds it at
// --rate 10 (a packet every 100 ms, a WITS record every fifth second, taken
// by the link's own poll and parser) with the history recorder writing its
// file, as in the viewer; the file starts with the day above, so the
// window's view is full from the start. In turns of the given length (default 30 s, 2
// rounds) the trends window is closed, then open and following; each turn
// prints the process's CPU time (user and system, getrusage) and its share
// of one core, and the last line the difference.
//
// With BENCH_TRENDS_SOURCE naming a server's URI, open reads unit 0001 from
// that server instead (as the window does once "History source…" names it;
// bench/shared.sh fills the server with a day of 200 units first) and
// writes no file. The overview column is then the time to the charts
// painted from the overview the server grouped, before the readings
// (-1 when none came: a file, or a short range).
//
// Both run on the offscreen platform unless QT_QPA_PLATFORM says otherwise,
// and keep their settings in Qt's test folders.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include "fedlink.h"
#include "history/historyrecorder.h"
#include "history/historyrows.h"
#include "history/historystore.h"
#include "app/trends/trendchart.h"
#include "app/trends/trendswindow.h"

namespace {

constexpr int DayReadings = 86400;
const QString Unit = QStringLiteral("0001");

int rangeOf(const char *name)
{
    const char *const names[] = {"10min", "1h", "6h", "24h", "all"};
    for (int i = 0; i < 5; ++i) {
        if (std::strcmp(name, names[i]) == 0)
            return i;
    }
    return -1;
}

void setColumn(history::ReadingRow &row, const char *name, double value)
{
    for (std::size_t i = 0; i < history::numericColumns().size(); ++i) {
        if (std::strcmp(history::numericColumns()[i].name, name) == 0)
            row.values[i] = value;
    }
}

// 24 hours of one reading a second, ending now.
bool writeDay(const QString &path, qint64 nowMs)
{
    HistoryStore store;
    if (const HistoryResult<void> opened = store.open(path, HistoryStore::Access::ReadWrite); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.reason().text));
        return false;
    }
    const qint64 start = nowMs - DayReadings * 1000LL;
    history::Batch batch;
    for (int n = 0; n < DayReadings; ++n) {
        history::ReadingRow row;
        row.timeMs = start + n * 1000LL;
        row.unit = Unit;
        row.packet = SampleStream::dataPacket(n);
        const double gas = 1250 + 650 * std::sin(n / 80.0 * M_PI / 2) + (n % 5) * 4;
        const double depth = 8423.0 + n * 0.01;
        const double shares[] = {6.2, 0.9, 0.45, 0.08, 0.11, 0.03, 0.035};
        const char *const chromatograph[] = {"c1", "c2", "c3", "ic4", "nc4", "ic5", "nc5"};
        setColumn(row, "gas_units", gas);
        for (int c = 0; c < 7; ++c)
            setColumn(row, chromatograph[c], std::round(gas * shares[c] * (1 + (n % 8) * 0.004)));
        setColumn(row, "hole_depth", depth);
        setColumn(row, "lag_depth", depth - 35 - (n % 11));
        setColumn(row, "bit_depth", depth - ((n / 600) % 4 == 3 ? 12 : 0));
        setColumn(row, "rop_ft_hr", 25 + (n % 230) / 2.0);
        batch.readings.push_back(row);
        if (n % 80 == 40)
            batch.events.push_back({row.timeMs, Unit, QStringLiteral("alarm start"), QStringLiteral("5 HIGH SAMPLE FLOW RATE")});
        if (batch.readings.size() == 3600 || n == DayReadings - 1) {
            if (const HistoryResult<void> written = store.write(batch); !written) {
                std::fprintf(stderr, "%s\n", qPrintable(written.reason().text));
                return false;
            }
            batch.clear();
        }
    }
    return true;
}

TrendsOptions optionsFor(const QString &path, HistoryRecorder *recorder)
{
    TrendsOptions options;
    options.historyPath = path;
    if (recorder)
        options.beforeReading = [recorder] { recorder->flush(); };
    options.chosenUnit = [] { return Unit; };
    options.source = qEnvironmentVariable("BENCH_TRENDS_SOURCE");
    return options;
}

struct Took
{
    double wallMs = 0;
    double cpuMs = 0;
    double overviewMs = -1;  // to the overview drawn, when a server gave one
};

// Makes and opens the window as F2 does, and waits until its charts show
// what it read, painted.
TrendsWindow *openWindow(const UnitLink &link, const TrendsOptions &options, Took *took = nullptr)
{
    const double cpu = processCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    auto *window = new TrendsWindow(link, options);
    QEventLoop loop;
    QObject::connect(window, &TrendsWindow::chartsUpdated, &loop, &QEventLoop::quit);
    double overviewMs = -1;
    // BENCH_TRENDS_SHOTS names a folder for the window as painted from the
    // overview and then from every reading (overview.png, readings.png).
    const QString shots = qEnvironmentVariable("BENCH_TRENDS_SHOTS");
    QObject::connect(window, &TrendsWindow::overviewDrawn, window, [window, &clock, &overviewMs, shots] {
        window->repaint();
        overviewMs = clock.nsecsElapsed() / 1e6;
        if (!shots.isEmpty())
            window->grab().save(shots + QStringLiteral("/overview.png"));
    });
    window->present();
    loop.exec();
    window->repaint();
    if (!shots.isEmpty())
        window->grab().save(shots + QStringLiteral("/readings.png"));
    if (took)
        *took = {clock.nsecsElapsed() / 1e6, (processCpuSeconds() - cpu) * 1000, overviewMs};
    return window;
}

int open(int runs)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    QElapsedTimer clock;
    clock.start();
    if (qEnvironmentVariableIsEmpty("BENCH_TRENDS_SOURCE")) {
        if (!writeDay(path, QDateTime::currentMSecsSinceEpoch()))
            return 1;
        std::printf("history of %d readings written in %.1f s\n", DayReadings, clock.elapsed() / 1000.0);
    } else {
        std::printf("reading unit %s from %s\n", qPrintable(Unit), qPrintable(qEnvironmentVariable("BENCH_TRENDS_SOURCE")));
    }

    UnitLink link(FakeSocket::inMemory(SocketControl::Closed));
    std::vector<double> opens;
    std::vector<double> overviews;
    std::vector<double> cpus;
    std::vector<double> repaints;
    std::printf("%-6s %12s %12s %12s %14s %16s\n", "run", "overview ms", "open ms", "CPU ms", "repaint ms",
                "gas points");
    for (int run = 0; run < runs; ++run) {
        Took took;
        TrendsWindow *window = openWindow(link, optionsFor(path, nullptr), &took);
        opens.push_back(took.wallMs);
        if (took.overviewMs >= 0)
            overviews.push_back(took.overviewMs);
        cpus.push_back(took.cpuMs);
        QElapsedTimer paint;
        paint.start();
        window->repaint();
        repaints.push_back(paint.nsecsElapsed() / 1e6);
        std::size_t points = 0;
        for (const auto &part : window->chart("cht_gas")->drawnParts(trends::GasUnits))
            points += part.size();
        std::printf("%-6d %12.1f %12.1f %12.1f %14.1f %16zu\n", run + 1, took.overviewMs, opens.back(), cpus.back(),
                    repaints.back(), points);
        std::fflush(stdout);
        delete window;
    }
    for (std::vector<double> *figures : {&opens, &overviews, &cpus, &repaints})
        std::sort(figures->begin(), figures->end());
    if (!overviews.empty())
        std::printf("median of %zu: open to every chart painted from the server's overview %.1f ms (worst %.1f ms)\n",
                    overviews.size(), overviews[overviews.size() / 2], overviews.back());
    std::printf("median of %d: open to every chart painted %.1f ms (worst %.1f ms), %.1f ms of CPU; repaint %.1f ms\n",
                runs, opens[opens.size() / 2], opens.back(), cpus[cpus.size() / 2], repaints[repaints.size() / 2]);
    return 0;
}

int follow(int seconds, int rounds)
{
    // The history already holds a day, so the view is full from the first
    // turn on, as on a rig that has been recording.
    QTemporaryDir dir;
    HistoryRecorder::Options history;
    history.path = dir.filePath(QStringLiteral("history.sqlite3"));
    if (!writeDay(history.path, QDateTime::currentMSecsSinceEpoch()))
        return 1;
    FedLink fed;
    HistoryRecorder recorder(fed.link().unit(), history);
    recorder.setRecording(true);

    double closed = 0;
    double open = 0;
    std::printf("%-10s %8s %10s %10s %10s\n", "turn", "seconds", "readings", "CPU s", "% of core");
    for (int round = 0; round < rounds; ++round) {
        for (const bool shown : {false, true}) {
            TrendsWindow *window = nullptr;
            if (shown)
                window = openWindow(fed.link(), optionsFor(history.path, &recorder));
            const qint64 before = fed.readings();
            const double cpu = cpuOfTurn(seconds);
            (shown ? open : closed) += cpu;
            std::printf("%-10s %8d %10lld %10.3f %10.3f\n", shown ? "open" : "closed", seconds, fed.readings() - before,
                        cpu, 100.0 * cpu / seconds);
            std::fflush(stdout);
            delete window;
        }
    }
    recorder.setRecording(false);
    const double total = static_cast<double>(seconds) * rounds;
    std::printf("window closed %.3f %% of one core, open and following %.3f %%: the window adds %.3f %% of one core\n",
                100.0 * closed / total, 100.0 * open / total, 100.0 * (open - closed) / total);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const char *mode = argc > 1 ? argv[1] : "";
    const bool opening = std::strcmp(mode, "open") == 0;
    const bool following = std::strcmp(mode, "follow") == 0;
    const char *rangeName = argc > (opening ? 3 : 4) ? argv[opening ? 3 : 4] : "24h";
    const int range = rangeOf(rangeName);
    const int first = argc > 2 ? std::atoi(argv[2]) : (opening ? 5 : 30);
    const int rounds = following && argc > 3 ? std::atoi(argv[3]) : 2;
    if ((!opening && !following) || range < 0 || first < 1 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_trends open [runs] [10min|1h|6h|24h|all]\n"
                             "       bench_trends follow [seconds] [rounds] [10min|1h|6h|24h|all]\n");
        return 2;
    }
    QSettings settings;
    settings.clear();
    settings.setValue(QStringLiteral("trends/range"), range);
    std::printf("range %s, platform %s\n", rangeName, qPrintable(QGuiApplication::platformName()));
    return opening ? open(first) : follow(first, rounds);
}
