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

#include <cmath>
#include <cstdio>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QEventLoop>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const auto option = [&args](const char *name, const QString &otherwise) {
        const int at = args.indexOf(QLatin1String(name));
        return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : otherwise;
    };
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
