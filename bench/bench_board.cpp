// What opening the fleet board costs on a long history, timed from inside:
//
//   bench_board --units N --minutes M [--runs R] [--db PATH]
//       writes N units' readings, one a unit a second over the last M
//       minutes, into a history of its own (or at PATH, unless there is a
//       file there already: it is then read as it is), then
//       R times starts a FleetBoardModel on it and prints one line a run:
//       "open MS lines MS gap MS tiles N": the milliseconds from start() to
//       every tile's latest reading, then to every tile's line of the hour
//       (the last change before a second without any), and the longest
//       this thread's 10 ms timer waited meanwhile (what the window would
//       have waited).
//
//   bench_board notify --db URI [--units N] [--tries T]
//       on a server (the schema made if missing): one reading for each of
//       N units, a fleet board (offscreen) following the server, then T
//       times one reading of one unit written and committed, timed from
//       the commit (the server's notification goes out with it) to the
//       model's tile holding the new value and to that tile drawn with it.
//       One line a try: "try I unit U write MS model MS drawn MS" (the
//       write to the commit acknowledged, then from there), then
//       "notify drawn median MS worst MS"; a try not drawn in 10 s counts
//       as 10000.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QStringList>
#include <QTemporaryDir>
#include <QPaintEvent>
#include <QTimer>
#include <QWidget>

#include "app/fleet/fleetboard.h"

#include "history/fleetboardmodel.h"
#include "history/historystore.h"

namespace {

bool fill(const QString &path, int units, int minutes)
{
    HistoryStore store;
    if (!store.open(path, HistoryStore::Access::ReadWrite))
        return false;
    const auto place = [](const char *name) {
        return std::size_t(history::numericColumn(QLatin1String(name)) - history::numericColumns().data());
    };
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 seconds = qint64(minutes) * 60;
    for (qint64 s = seconds; s > 0; s -= 60) {
        history::Batch batch;
        for (qint64 t = s; t > s - 60 && t > 0; --t) {
            for (int u = 1; u <= units; ++u) {
                history::ReadingRow row;
                row.timeMs = now - t * 1000;
                row.unit = row.serial = QStringLiteral("%1").arg(u, 4, 10, QLatin1Char('0'));
                row.packet = QByteArrayLiteral("packet");
                // Each unit's gas wanders through the levels at a pace of its own.
                row.values[place("gas_units")] = 1000.0 + 900.0 * std::sin(double(t) / (60.0 + u));
                row.values[place("hole_depth")] = 8000.0 + u;
                row.values[place("bit_depth")] = 7990.0 + u;
                row.values[place("error_number")] = 0.0;
                batch.readings.push_back(std::move(row));
            }
        }
        if (!store.write(batch))
            return false;
    }
    return true;
}

history::ReadingRow readingOf(int unit, qint64 timeMs, double gas)
{
    history::ReadingRow row;
    row.timeMs = timeMs;
    row.unit = row.serial = QStringLiteral("%1").arg(unit, 4, 10, QLatin1Char('0'));
    row.packet = QByteArrayLiteral("packet");
    row.values[std::size_t(history::numericColumn(QLatin1String("gas_units")) - history::numericColumns().data())] =
        gas;
    return row;
}

// Calls back at each drawing of a widget, with the part drawn.
class Drawn : public QObject
{
public:
    Drawn(QWidget *widget, std::function<void(const QRegion &)> seen)
        : m_seen(std::move(seen))
    {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            m_seen(static_cast<QPaintEvent *>(event)->region());
        return false;
    }

private:
    std::function<void(const QRegion &)> m_seen;
};

// Runs the event loop until done() or the timeout; false on the timeout.
bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (waited.elapsed() > timeoutMs)
            return false;
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

int notifyRun(const QString &address, int units, int tries)
{
    HistoryStore writer;
    if (const HistoryResult<void> opened = writer.open(address, HistoryStore::Access::Migrate); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.reason().text));
        return 1;
    }
    history::Batch fleet;
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    for (int u = 1; u <= units; ++u)
        fleet.readings.push_back(readingOf(u, start - 1000, 100.0 + u));
    if (!writer.write(fleet)) {
        std::fprintf(stderr, "cannot write the fleet\n");
        return 1;
    }

    FleetBoard board{FleetBoardOptions()};
    board.resize(1280, 800);
    board.follow(address);
    board.show();
    if (!runUntil([&board, units] { return board.shownUnits().size() >= units; }, 30000)) {
        std::fprintf(stderr, "the board did not show the fleet: %s\n", qPrintable(board.model().problem()));
        return 1;
    }
    // The lines of the hour after the tiles: waited for until a second
    // passes without a change.
    QElapsedTimer quiet;
    quiet.start();
    QObject::connect(&board.model(), &FleetBoardModel::tilesChanged, &board, [&quiet] { quiet.start(); });
    runUntil([&quiet] { return quiet.elapsed() > 1000; }, 30000);

    QString unit;
    double gas = 0.0;
    QElapsedTimer since;
    double modelMs = -1, drawnMs = -1;
    const auto ms = [&since] { return double(since.nsecsElapsed()) / 1e6; };
    const auto shows = [&board, &unit, &gas] {
        const board::Tile *tile = board.model().tile(unit);
        return tile && tile->gas && *tile->gas == gas;
    };
    QObject::connect(&board.model(), &FleetBoardModel::tilesChanged, &board,
                     [&](const QStringList &changed) {
                         if (modelMs < 0 && since.isValid() && changed.contains(unit) && shows())
                             modelMs = ms();
                     });
    Drawn drawn(board.findChild<QWidget *>(QStringLiteral("pic_tiles")), [&](const QRegion &region) {
        if (drawnMs < 0 && since.isValid() && shows() && region.intersects(board.tileRect(unit)))
            drawnMs = ms();
    });
    std::vector<double> times;
    for (int i = 1; i <= tries; ++i) {
        // Each try another unit, its gas above every other so that its
        // tile goes to the top, in sight.
        const int u = 1 + (i * 37) % units;
        unit = QStringLiteral("%1").arg(u, 4, 10, QLatin1Char('0'));
        gas = 5000.0 + i;
        modelMs = drawnMs = -1;
        history::Batch one;
        one.readings.push_back(readingOf(u, QDateTime::currentMSecsSinceEpoch(), gas));
        // The window's thread waits in the write, so nothing it is told
        // is taken before the commit is acknowledged; times from there.
        since.start();
        if (!writer.write(one)) {
            std::fprintf(stderr, "cannot write\n");
            return 1;
        }
        const double writeMs = ms();
        runUntil([&drawnMs] { return drawnMs >= 0; }, 10000);
        if (drawnMs < 0)
            modelMs = drawnMs = 10000 + writeMs;
        std::printf("try %d unit %s write %.1f model %.1f drawn %.1f\n", i, qPrintable(unit), writeMs,
                    modelMs - writeMs, drawnMs - writeMs);
        std::fflush(stdout);
        times.push_back(drawnMs - writeMs);
        // Apart, as a unit's readings come.
        runUntil([] { return false; }, 300);
    }
    std::sort(times.begin(), times.end());
    std::printf("notify drawn median %.1f worst %.1f\n", times[times.size() / 2], times.back());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const bool notify = argc > 1 && QByteArray(argv[1]) == "notify";
    if (notify && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> application =
        notify ? std::make_unique<QApplication>(argc, argv) : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication &app = *application;
    const QStringList args = app.arguments();
    const auto option = [&args](const char *name, const QString &otherwise) {
        const int at = args.indexOf(QLatin1String(name));
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : otherwise;
    };
    if (notify) {
        const QString address = option("--db", QString());
        const int units = option("--units", QStringLiteral("200")).toInt();
        const int tries = option("--tries", QStringLiteral("20")).toInt();
        if (address.isEmpty() || units < 1 || tries < 1) {
            std::fprintf(stderr, "notify needs --db URI, and --units and --tries of 1 or more\n");
            return 2;
        }
        return notifyRun(address, units, tries);
    }
    const int units = option("--units", QStringLiteral("200")).toInt();
    const int minutes = option("--minutes", QStringLiteral("60")).toInt();
    const int runs = option("--runs", QStringLiteral("3")).toInt();
    QTemporaryDir dir;
    QString path = option("--db", QString());
    if (path.isEmpty())
        path = dir.filePath(QStringLiteral("history.sqlite3"));
    if (!QFileInfo::exists(path)) {
        QElapsedTimer writing;
        writing.start();
        if (units < 1 || minutes < 1 || !fill(path, units, minutes)) {
            std::fprintf(stderr, "cannot write the history\n");
            return 1;
        }
        std::fprintf(stderr, "%d units, %d minutes written in %lld ms\n", units, minutes, qint64(writing.elapsed()));
    }
    for (int run = 1; run <= runs; ++run) {
        FleetBoardModel model;
        QEventLoop loop;
        QElapsedTimer opened, beat;
        qint64 gap = 0;
        QTimer ticker;
        ticker.setInterval(10);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            gap = std::max(gap, beat.restart());
        });
        QObject::connect(&model, &FleetBoardModel::tilesChanged, &loop, &QEventLoop::quit);
        QObject::connect(&model, &FleetBoardModel::problemChanged, &loop, &QEventLoop::quit);
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        ticker.start();
        beat.start();
        opened.start();
        model.start(path);
        loop.exec();
        const qint64 ms = opened.elapsed();
        // The lines of the hour come in slices after the first answer.
        qint64 lines = ms;
        QObject::connect(&model, &FleetBoardModel::tilesChanged, &loop, [&] { lines = opened.elapsed(); });
        while (opened.elapsed() - lines < 1000) {
            QTimer::singleShot(100, &loop, &QEventLoop::quit);
            loop.exec();
        }
        gap = std::max(gap, beat.elapsed());
        if (!model.problem().isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(model.problem()));
            return 1;
        }
        std::printf("open %lld lines %lld gap %lld tiles %zu\n", ms, lines, gap, model.tiles().size());
    }
    return 0;
}
