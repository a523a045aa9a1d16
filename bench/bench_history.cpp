// The history file at the size of a year of one packet a second: built here
// (never in the test suite), then measured with Google Benchmark.
//
//   bench_history --db PATH [--rows N] [--benchmark_...]
//
// The file holds N readings of unit 0001, one a second from 2025-01-01
// 00:00 UTC (N = 31,536,000 is a year), and the WITS record of ten items the
// unit sends every fifth second, written an hour to a transaction through
// the store the viewer uses. Building prints the insert rate of every
// million readings and the file's size per reading. A file that already
// holds N readings is used again, so the benchmarks can be re-run at once.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <random>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QVariant>

#include "rules/convert/convert.h"
#include "history/historyexport.h"
#include "history/historyrows.h"
#include "history/historystore.h"
#include "samplestream.h"

namespace {

constexpr qint64 SecondMs = 1000;
constexpr qint64 DayMs = 24 * 3600 * SecondMs;
constexpr int WitsEverySeconds = 5;
const qint64 Start = 1735689600000;  // 2025-01-01T00:00:00Z
const QString Unit = QStringLiteral("0001");

QString g_db;
qint64 g_rows = 31536000;

// Reading number n as the link hands it on, and its WITS record.
Reading readingOf(qint64 n)
{
    Reading reading;
    reading.acceptedAtMs = Start + n * SecondMs;
    reading.serial = Unit;
    reading.text = SampleStream::dataPacket(static_cast<int>(n % 1000000000));
    reading.text.chop(2);
    const QByteArrayList fields = history::packetFields(reading.text);
    for (qsizetype k = 1; k <= fields.size() && k < StreamState::FieldSlots; ++k)
        reading.fields[static_cast<std::size_t>(k)] = fields.at(k - 1);
    reading.errorCode = convert::leadingNumber(reading.fields[history::ErrorNumberField].left(2));
    return reading;
}

void addSecond(history::Batch &batch, qint64 n)
{
    std::optional<double> bitDepth;
    if (n % WitsEverySeconds == 0) {
        const QByteArrayList pieces = SampleStream::witsRecord(static_cast<int>(n % 1000000000)).trimmed().split(',');
        for (qsizetype i = 5; i < pieces.size(); ++i) {
            const int code = pieces.at(i).left(4).toInt();
            const double value = pieces.at(i).mid(4).toDouble();
            batch.witsItems.push_back({Start + n * SecondMs, Unit, static_cast<int>(i - 5), code, value});
            if (code == 108)
                bitDepth = value;
        }
    }
    Reading reading = readingOf(n);
    reading.bitDepth = bitDepth;
    batch.readings.push_back(history::readingRow(reading));
}

qint64 fileBytes(const QString &path)
{
    return QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size();
}

qint64 countReadings(HistoryStore &store)
{
    QSqlQuery query(store.database());
    return query.exec(QStringLiteral("SELECT COUNT(*) FROM readings")) && query.next() ? query.value(0).toLongLong() : 0;
}

bool build()
{
    {
        HistoryStore store;
        if (QFile::exists(g_db) && store.open(g_db, HistoryStore::Access::ReadOnly) && countReadings(store) >= g_rows) {
            std::printf("history file %s reused: %lld readings\n", qPrintable(g_db), countReadings(store));
            return true;
        }
    }
    for (const char *suffix : {"", "-wal", "-shm"})
        QFile::remove(g_db + QLatin1String(suffix));
    HistoryStore store;
    if (const HistoryResult<void> opened = store.open(g_db, HistoryStore::Access::ReadWrite); !opened) {
        std::fprintf(stderr, "%s\n", qPrintable(opened.reason().text));
        return false;
    }
    std::printf("building %lld readings (one a second from 2025-01-01, a WITS record of ten items every %d s) in %s\n",
                g_rows, WitsEverySeconds, qPrintable(g_db));
    std::printf("%12s %14s %14s %12s\n", "readings", "readings/s", "total s", "file MB");
    QElapsedTimer total;
    QElapsedTimer slice;
    total.start();
    slice.start();
    history::Batch batch;
    qint64 reported = 0;
    for (qint64 n = 0; n < g_rows;) {
        batch.clear();
        for (int i = 0; i < 3600 && n < g_rows; ++i, ++n)
            addSecond(batch, n);
        if (const HistoryResult<void> written = store.write(batch); !written) {
            std::fprintf(stderr, "%s\n", qPrintable(written.reason().text));
            return false;
        }
        if (n - reported >= 1000000 || n == g_rows) {
            std::printf("%12lld %14.0f %14.1f %12.1f\n", n, (n - reported) / (slice.nsecsElapsed() / 1e9),
                        total.nsecsElapsed() / 1e9, fileBytes(g_db) / 1e6);
            std::fflush(stdout);
            reported = n;
            slice.restart();
        }
    }
    return true;
}

// A random whole day inside the year, so that each query reads other pages.
qint64 randomDay(std::mt19937_64 &random)
{
    const qint64 days = qMax<qint64>(1, g_rows * SecondMs / DayMs);
    return Start + static_cast<qint64>(random() % static_cast<quint64>(days)) * DayMs;
}

void BM_Query24hGasUnits(benchmark::State &state)
{
    HistoryStore store;
    (void)store.open(g_db, HistoryStore::Access::ReadOnly);
    std::mt19937_64 random(7);
    qint64 rows = 0;
    for (auto _ : state) {
        const qint64 from = randomDay(random);
        const auto samples = store.series(Unit, QStringLiteral("gas_units"), from, from + DayMs);
        if (!samples || samples->size() != static_cast<std::size_t>(qMin<qint64>(86400, g_rows))) {
            state.SkipWithError("the day did not hold 86400 readings");
            break;
        }
        rows += static_cast<qint64>(samples->size());
    }
    state.counters["readings"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kAvgIterations);
}

void BM_Export24hCsv(benchmark::State &state)
{
    HistoryStore store;
    (void)store.open(g_db, HistoryStore::Access::ReadOnly);
    std::mt19937_64 random(11);
    const QString target = g_db + QStringLiteral(".export.csv");
    qint64 bytes = 0;
    for (auto _ : state) {
        const qint64 from = randomDay(random);
        QFile out(target);
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        HistoryExport job(store, {Unit, from, from + DayMs}, HistoryExport::Format::Csv, out);
        const Result<void> written = job.run();
        if (!written || job.written() != qMin<qint64>(86400, g_rows)) {
            state.SkipWithError(qPrintable(written ? QStringLiteral("the day did not hold 86400 readings") : written.reason()));
            break;
        }
        out.close();
        bytes += out.size();
    }
    QFile::remove(target);
    state.counters["MB"] = benchmark::Counter(bytes / 1e6, benchmark::Counter::kAvgIterations);
}

// What the viewer writes at one packet a second: one transaction a second,
// appended to the year (Arg 1) or to an empty file (Arg 0); with Arg 3600
// an hour's rows to a transaction, as the build does.
void BM_Insert(benchmark::State &state)
{
    const bool big = state.range(0) == 1;
    const int seconds = static_cast<int>(state.range(1));
    QTemporaryDir dir;
    HistoryStore store;
    (void)store.open(big ? g_db : dir.filePath(QStringLiteral("empty.sqlite3")), HistoryStore::Access::ReadWrite);
    qint64 n = big ? g_rows + 1000000 : 0;
    history::Batch batch;
    qint64 readings = 0;
    for (auto _ : state) {
        state.PauseTiming();
        batch.clear();
        for (int i = 0; i < seconds; ++i)
            addSecond(batch, n++);
        state.ResumeTiming();
        if (const HistoryResult<void> written = store.write(batch); !written) {
            state.SkipWithError(qPrintable(written.reason().text));
            break;
        }
        readings += seconds;
    }
    state.counters["readings/s"] = benchmark::Counter(static_cast<double>(readings), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_Query24hGasUnits)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Export24hCsv)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(10);
BENCHMARK(BM_Insert)->ArgNames({"year", "seconds"})->Args({0, 1})->Args({1, 1})->Args({0, 3600})->Args({1, 3600})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--db") == 0 && i + 1 < argc)
            g_db = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--rows") == 0 && i + 1 < argc)
            g_rows = std::atoll(argv[++i]);
        else
            rest.push_back(argv[i]);
    }
    if (g_db.isEmpty() || g_rows < 86400) {
        std::fprintf(stderr, "usage: bench_history --db PATH [--rows N of 86400 or more] [--benchmark_...]\n");
        return 2;
    }
    if (!build())
        return 1;
    {
        HistoryStore store;
        (void)store.open(g_db, HistoryStore::Access::ReadOnly);
        const qint64 readings = countReadings(store);
        std::printf("file: %.1f MB for %lld readings: %.0f bytes a reading (WITS items and indexes included)\n",
                    fileBytes(g_db) / 1e6, readings, static_cast<double>(fileBytes(g_db)) / readings);
        QSqlQuery parts(store.database());
        // The share of each table and index, where the SQLite build can tell.
        if (parts.exec(QStringLiteral("SELECT name, SUM(pgsize) FROM dbstat GROUP BY name ORDER BY 2 DESC"))) {
            while (parts.next())
                std::printf("  %-22s %10.1f MB %8.1f bytes a reading\n", qPrintable(parts.value(0).toString()),
                            parts.value(1).toLongLong() / 1e6, parts.value(1).toDouble() / readings);
        }
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
