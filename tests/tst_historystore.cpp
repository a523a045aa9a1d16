// The history's readers on a damaged file: a read that fails on the way,
// after some rows or before the first, gives the reason, never the rows it
// had as a whole result.

#include <chrono>
#include <future>
#include <thread>

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "history/gaslevelstore.h"
#include "history/historyexport.h"
#include "history/historystore.h"
#include "history/trendsloader.h"
#include "history/trendsource.h"
#include "rules/readings/unittime.h"
#include "rules/trends/trenddata.h"
#include "rules/trends/trendview.h"
#include "support/historysupport.h"

namespace {

constexpr int Readings = 4000;  // of each unit
constexpr qint64 Start = 1'700'000'000'000;

// The file's pages from the first given on, or the one page, overwritten
// with zeros: no page of a database looks like that.
void damagePages(const QString &path, qint64 firstPage, qint64 lastPage = -1)
{
    const qint64 pageSize = support::sqlRows(path, "PRAGMA page_size").value(0).toLongLong();
    QVERIFY(pageSize >= 512);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    const qint64 pages = file.size() / pageSize;
    QVERIFY2(firstPage > 1 && firstPage <= pages, qPrintable(QStringLiteral("%1 of %2").arg(firstPage).arg(pages)));
    for (qint64 page = firstPage; page <= (lastPage < 0 ? pages : lastPage); ++page) {
        QVERIFY(file.seek((page - 1) * pageSize));
        QCOMPARE(file.write(QByteArray(pageSize, '\0')), pageSize);
    }
}

// The page that holds the last rows of a table or index, in the order of
// its key: the right-most child of its root, an interior page.
qint64 lastLeaf(const QString &path, qint64 root)
{
    const qint64 pageSize = support::sqlRows(path, "PRAGMA page_size").value(0).toLongLong();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek((root - 1) * pageSize))
        return 0;
    const QByteArray header = file.read(12);
    // 2: an interior page of an index, 5: of a table.
    if (header.size() < 12 || (header.at(0) != 2 && header.at(0) != 5))
        return 0;
    qint64 child = 0;
    for (int i = 8; i < 12; ++i)
        child = child * 256 + static_cast<unsigned char>(header.at(i));
    return child;
}

// The tables of a file as the second schema made them, in its own
// statements, and its version rows up to 2.
const std::vector<const char *> SecondSchema = {
    "CREATE TABLE schema_version (version INTEGER NOT NULL)",
    "CREATE TABLE units (unit TEXT NOT NULL PRIMARY KEY)",
    "CREATE TABLE readings (id INTEGER PRIMARY KEY, time_ms BIGINT NOT NULL, unit TEXT NOT NULL, packet BLOB NOT NULL,"
    " gas_units DOUBLE PRECISION, hole_depth DOUBLE PRECISION, lag_depth DOUBLE PRECISION, bit_depth DOUBLE PRECISION,"
    " rop_min_ft DOUBLE PRECISION, rop_ft_hr DOUBLE PRECISION, c1 DOUBLE PRECISION, c2 DOUBLE PRECISION,"
    " c3 DOUBLE PRECISION, ic4 DOUBLE PRECISION, nc4 DOUBLE PRECISION, ic5 DOUBLE PRECISION, nc5 DOUBLE PRECISION,"
    " h2s_ppm DOUBLE PRECISION, error_number DOUBLE PRECISION)",
    "CREATE INDEX readings_unit_time ON readings (unit, time_ms)",
    "CREATE TABLE wits_items (id INTEGER PRIMARY KEY, time_ms BIGINT NOT NULL, unit TEXT NOT NULL,"
    " item_position INTEGER NOT NULL, item_code INTEGER NOT NULL, item_value DOUBLE PRECISION)",
    "CREATE INDEX wits_items_unit_time ON wits_items (unit, time_ms)",
    "CREATE TABLE events (id INTEGER PRIMARY KEY, time_ms BIGINT NOT NULL, unit TEXT NOT NULL,"
    " kind TEXT NOT NULL, detail TEXT NOT NULL)",
    "CREATE INDEX events_unit_time ON events (unit, time_ms)",
    "INSERT INTO schema_version (version) VALUES (1)",
    "CREATE TABLE wits_records (id INTEGER PRIMARY KEY, time_ms BIGINT NOT NULL, unit TEXT NOT NULL,"
    " record BLOB NOT NULL)",
    "CREATE INDEX wits_records_unit_time ON wits_records (unit, time_ms)",
    "INSERT INTO schema_version (version) VALUES (2)",
};

// Runs the statements on the file, as an earlier version of the viewer
// wrote it, through a connection of the test's own.
void writeEarlierFile(const QString &path, const std::vector<const char *> &statements)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("earlier"));
        db.setDatabaseName(path);
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const char *statement : statements)
            QVERIFY2(query.exec(QString::fromLatin1(statement)), qPrintable(query.lastError().text()));
        query.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("earlier"));
}

// Every row of every table an earlier schema made, the readings' columns as
// given, table by table: what a migration must keep as it was.
std::vector<QByteArrayList> everyRow(const QString &path, const char *readingsSelect)
{
    const char *const selects[] = {
        readingsSelect,
        "SELECT unit FROM units ORDER BY unit",
        "SELECT id, time_ms, unit, item_position, item_code, item_value FROM wits_items",
        "SELECT id, time_ms, unit, hex(record) FROM wits_records",
        "SELECT id, time_ms, unit, kind, detail FROM events",
    };
    std::vector<QByteArrayList> rows;
    for (const char *select : selects)
        rows.push_back(support::sqlRows(path, select));
    return rows;
}

} // namespace

class tst_HistoryStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsCutShortFail();
    void unitListCutShortFails();
    void migratesTheSecondSchema();
    void serverSessionTunedAsItStarts_data();
    void serverSessionTunedAsItStarts();
    void gasLevelsFromTheThirdSchema();
    void unitClock_data();
    void unitClock();
    void trendsByTheUnitsClock();
    void overviewKeepsEveryPeak_data();
    void overviewKeepsEveryPeak();
    void readerWaitsOutALockHeldAMoment();

private:
    // Unit 0001's readings, then unit 0002's, each in its own writes, so
    // that 0002's later rows lie at the end of the file.
    void writeHistory();
    // A reading of each of many units with long names: the list of units
    // takes many pages.
    void writeManyUnits();

    QTemporaryDir m_dir;
    QString m_path;
};

void tst_HistoryStore::init()
{
    m_path = m_dir.filePath(QStringLiteral("history-%1.sqlite3").arg(QLatin1String(QTest::currentTestFunction())));
}

void tst_HistoryStore::writeManyUnits()
{
    HistoryStore store;
    QVERIFY(store.open(m_path, HistoryStore::Access::ReadWrite));
    history::Batch batch;
    for (int i = 0; i < 1000; ++i)
        batch.readings.push_back({Start + i, QStringLiteral("a unit with a long name, number %1").arg(i, 4, 10, QLatin1Char('0')), "*", {}});
    QVERIFY(store.write(batch));
}

void tst_HistoryStore::writeHistory()
{
    HistoryStore store;
    QVERIFY(store.open(m_path, HistoryStore::Access::ReadWrite));
    for (const char *unit : {"0001", "0002"}) {
        history::Batch batch;
        for (int i = 0; i < Readings; ++i) {
            history::ReadingRow row;
            row.timeMs = Start + i * 1000;
            row.unit = QString::fromLatin1(unit);
            row.packet = support::packet(support::unitFields("5070.0", QByteArray::number(900 + i % 50), "0"));
            row.values[0] = 900 + i % 50;
            batch.readings.push_back(row);
            if (batch.readings.size() == 500) {
                QVERIFY(store.write(batch));
                batch.clear();
            }
        }
    }
    store.close();
    // Everything in the file itself: the journal is folded in as the last
    // connection closes.
    QVERIFY(!QFile::exists(m_path + QStringLiteral("-wal")) || QFile(m_path + QStringLiteral("-wal")).size() == 0);
}

void tst_HistoryStore::readsCutShortFail()
{
    writeHistory();
    // The last fifth of the file: unit 0002's later readings and their
    // place in the index. 0001's readings are whole.
    const qint64 pages = support::sqlRows(m_path, "PRAGMA page_count").value(0).toLongLong();
    QVERIFY(pages > 100);
    damagePages(m_path, pages - pages / 5);
    const HistoryRange whole0001{QStringLiteral("0001"), 0, std::numeric_limits<qint64>::max()};
    const HistoryRange whole0002{QStringLiteral("0002"), 0, std::numeric_limits<qint64>::max()};

    HistoryStore store;
    QVERIFY(store.open(m_path, HistoryStore::Access::ReadOnly));
    const HistoryResult<std::vector<Sample>> sound = store.series(QStringLiteral("0001"), QStringLiteral("gas_units"), 0,
                                                                 std::numeric_limits<qint64>::max());
    QVERIFY(sound);
    QCOMPARE(sound->size(), std::size_t(Readings));

    // Read a slice at a time: the first slices come, then the failure.
    HistoryResult<HistoryCursor<history::ReadingRow>> cursor = store.readings(whole0002, true, {QStringLiteral("gas_units")});
    QVERIFY(cursor);
    qint64 read = 0;
    HistoryResult<std::vector<history::ReadingRow>> rows = std::vector<history::ReadingRow>();
    while (rows && !cursor->done()) {
        rows = cursor->fetch(100);
        if (rows)
            read += static_cast<qint64>(rows->size());
    }
    QVERIFY2(!rows, qPrintable(QStringLiteral("%1 readings read as if they were all").arg(read)));
    QVERIFY2(read > 0 && read < Readings, qPrintable(QString::number(read)));
    QCOMPARE(rows.reason().kind, sqldialect::Failure::Corrupt);
    QVERIFY2(rows.reason().text.startsWith(QStringLiteral("cannot read ")), qPrintable(rows.reason().text));

    // Every reader over the same readings.
    const HistoryResult<std::vector<Sample>> series =
        store.series(QStringLiteral("0002"), QStringLiteral("gas_units"), 0, std::numeric_limits<qint64>::max());
    QVERIFY2(!series, qPrintable(QStringLiteral("%1 of %2 readings").arg(series ? series->size() : 0).arg(Readings)));

    for (const auto format : {HistoryExport::Format::Csv, HistoryExport::Format::Raw}) {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        HistoryExport job(store, whole0002, format, out);
        const Result<void> exported = job.run();
        QVERIFY2(!exported, qPrintable(QStringLiteral("%1 rows exported").arg(job.written())));
        QVERIFY(job.written() < Readings);
    }
    {
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        HistoryExport job(store, whole0001, HistoryExport::Format::Raw, out);
        QVERIFY(job.run());
        QCOMPARE(job.written(), qint64(Readings));
    }

    trends::HistoryReadings samples(store, QStringLiteral("0002"), 0, std::numeric_limits<qint64>::max());
    Result<std::vector<trends::Sample>> some = std::vector<trends::Sample>();
    while (some && !samples.done())
        some = samples.readSome(500);
    QVERIFY2(!some, qPrintable(QStringLiteral("%1 samples read as if they were all").arg(samples.read())));

    // The trends window's loader says so when it has finished.
    trends::TrendsLoader loader(m_path);
    QSignalSpy opened(&loader, &trends::TrendsLoader::opened);
    loader.open(QStringLiteral("0002"), 0);
    QVERIFY(opened.wait());
    QVERIFY(loader.isOpen());
    QSignalSpy finished(&loader, &trends::TrendsLoader::finished);
    loader.read(QStringLiteral("0002"), 0, std::numeric_limits<qint64>::max());
    QVERIFY(finished.wait());
    const auto outcome = finished.first().first().value<Result<void>>();
    QVERIFY(!outcome);
    QVERIFY2(outcome.reason().contains(QStringLiteral("cannot read")), qPrintable(outcome.reason()));
}

void tst_HistoryStore::unitListCutShortFails()
{
    // The table of units damaged past its first pages: the lists of units
    // fail, where the units before the damage would pass for all of them,
    // and a prune would leave the old rows of the units after it and
    // report success.
    writeManyUnits();
    // The last page of the table and of its index of names: the first
    // units read, then the failure.
    const QByteArrayList roots = support::sqlRows(m_path, "SELECT rootpage FROM sqlite_master WHERE tbl_name = 'units'");
    QCOMPARE(roots.size(), 2);
    for (const QByteArray &root : roots) {
        const qint64 leaf = lastLeaf(m_path, root.toLongLong());
        QVERIFY2(leaf > 0, root.constData());
        damagePages(m_path, leaf, leaf);
    }
    HistoryStore store;
    QVERIFY(store.open(m_path, HistoryStore::Access::ReadWrite));
    const HistoryResult<std::vector<RecordedUnit>> recorded = store.recordedUnits();
    QVERIFY2(!recorded, qPrintable(QStringLiteral("%1 units").arg(recorded ? recorded->size() : 0)));
    QCOMPARE(recorded.reason().kind, sqldialect::Failure::Corrupt);
    const HistoryResult<std::vector<UnitSummary>> units = store.units();
    QVERIFY(!units);
    const HistoryResult<qint64> pruned = store.pruneSome(Start + 2000, 1000);
    QVERIFY2(!pruned, qPrintable(QStringLiteral("%1 rows pruned").arg(pruned ? *pruned : 0)));
    QCOMPARE(pruned.reason().kind, sqldialect::Failure::Corrupt);
    QVERIFY2(pruned.reason().text.startsWith(QStringLiteral("cannot prune ")), qPrintable(pruned.reason().text));
}

// A file as the previous schema wrote it, its tables made by that schema's
// own statements, comes forward without losing or changing a row: every
// row reads back as it was, the new columns empty, and new rows carry them.
void tst_HistoryStore::migratesTheSecondSchema()
{
    std::vector<const char *> previousFile = SecondSchema;
    previousFile.insert(previousFile.end(), {
        "INSERT INTO units VALUES ('0001'), ('1001')",
        "INSERT INTO readings (time_ms, unit, packet, gas_units, hole_depth, error_number) VALUES"
        " (1700000000000, '0001', X'2A30303031', 900, 1520.5, NULL),"
        " (1700000001000, '0001', X'2A30303032', NULL, NULL, 12),"
        " (1700000000500, '1001', X'2A31303031', 1800, 1, 0)",
        "INSERT INTO wits_items (time_ms, unit, item_position, item_code, item_value) VALUES"
        " (1700000000000, '0001', 0, 108, 1520.5)",
        "INSERT INTO wits_records (time_ms, unit, record) VALUES (1700000000000, '0001', X'5E2C3031')",
        "INSERT INTO events (time_ms, unit, kind, detail) VALUES (1700000000000, '0001', 'connected', '0001 connected')",
    });
    writeEarlierFile(m_path, previousFile);
    if (QTest::currentTestFailed())
        return;
    const char *const readingsSelect =
        "SELECT id, time_ms, unit, hex(packet), gas_units, hole_depth, error_number FROM readings ORDER BY id";
    const std::vector<QByteArrayList> before = everyRow(m_path, readingsSelect);
    QCOMPARE(before.front().size(), 3);
    // Read as it lies (rthistory, the trends), the file is not brought
    // forward, and its readings read without the newer columns.
    {
        HistoryStore asItLies;
        QVERIFY(asItLies.open(m_path, HistoryStore::Access::ReadOnly));
        auto cursor = asItLies.readings({QStringLiteral("0001"), 0, Start * 2}, true, {QStringLiteral("gas_units")});
        QVERIFY2(cursor, qPrintable(cursor ? QString() : cursor.reason().text));
        const auto rows = cursor->fetch(10);
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.reason().text));
        QCOMPARE(rows->size(), std::size_t(2));
        QCOMPARE(rows->at(0).packet, QByteArray("*0001"));
        QCOMPARE(rows->at(0).serial, QString());
        QCOMPARE(support::sqlRows(m_path, "SELECT MAX(version) FROM schema_version"), QByteArrayList({"2"}));
    }

    HistoryStore store;
    const HistoryResult<void> opened = store.open(m_path, HistoryStore::Access::ReadWrite);
    QVERIFY2(opened, qPrintable(opened ? QString() : opened.reason().text));
    history::Batch batch;
    batch.readings.push_back({1700000002000, QStringLiteral("0001"), "*0003", {}});
    batch.readings.back().serial = QStringLiteral("1");
    batch.readings.back().unitName = "Rig 7";
    batch.readings.back().unitTimeMs = 1699999000000;
    QVERIFY(store.write(batch));
    store.close();

    QCOMPARE(support::sqlRows(m_path, "SELECT MAX(version) FROM schema_version"),
             QByteArrayList({QByteArray::number(HistoryStore::SchemaVersion)}));
    std::vector<QByteArrayList> after = everyRow(m_path, readingsSelect);
    QCOMPARE(after.front().takeLast(), QByteArray("4|1700000002000|0001|2A30303033|-|-|-"));
    for (std::size_t i = 0; i < after.size(); ++i)
        QCOMPARE(after[i], before[i]);
    QCOMPARE(support::sqlRows(m_path, "SELECT unit, serial, unit_name, unit_time_ms FROM readings ORDER BY id"),
             QByteArrayList({"0001|-|-|-", "0001|-|-|-", "1001|-|-|-", "0001|1|Rig 7|1699999000000"}));
    // Read back: the old rows keep no serial (their unit was typed), the new
    // one its own and the unit's clock.
    QVERIFY(store.open(m_path, HistoryStore::Access::ReadOnly));
    auto cursor = store.readings({QStringLiteral("0001"), 0, Start * 2}, true, {});
    QVERIFY(cursor);
    const auto rows = cursor->fetch(10);
    QVERIFY(rows);
    QCOMPARE(rows->size(), std::size_t(3));
    QCOMPARE(rows->at(0).serial, QString());
    QVERIFY(!rows->at(0).unitTimeMs);
    QCOMPARE(rows->at(2).serial, QStringLiteral("1"));
    QCOMPARE(rows->at(2).unitTimeMs, std::optional<qint64>(1699999000000));
}

// A file of the third schema comes forward keeping every row, and gains the
// units' own gas levels: none until given, then the newest of each unit;
// read as it lies before, every unit has the defaults. The alarm list's
// events come back of every unit, in order, from the time asked.
void tst_HistoryStore::gasLevelsFromTheThirdSchema()
{
    std::vector<const char *> thirdFile = SecondSchema;
    thirdFile.insert(thirdFile.end(), {
        "ALTER TABLE readings ADD COLUMN serial TEXT",
        "ALTER TABLE readings ADD COLUMN unit_name BLOB",
        "ALTER TABLE readings ADD COLUMN unit_time_ms BIGINT",
        "INSERT INTO schema_version (version) VALUES (3)",
        "INSERT INTO units VALUES ('0001'), ('0002')",
        "INSERT INTO readings (time_ms, unit, packet, gas_units, serial, unit_name, unit_time_ms) VALUES"
        " (1700000000000, '0001', X'2A30303031', 900, '1001', X'52696720', 1699999000000),"
        " (1700000000500, '0002', X'2A31303031', 1800, NULL, NULL, NULL)",
        "INSERT INTO wits_items (time_ms, unit, item_position, item_code, item_value) VALUES"
        " (1700000000000, '0001', 0, 108, 1520.5)",
        "INSERT INTO wits_records (time_ms, unit, record) VALUES (1700000000000, '0001', X'5E2C3031')",
        "INSERT INTO events (time_ms, unit, kind, detail) VALUES (1700000000000, '0001', 'connected', '0001 connected'),"
        " (1700000000100, '0002', 'alarm start', '{\"kind\":\"gas\"}'),"
        " (1700000000100, '0001', 'alarm ack', '{}'), (1700000000050, '0001', 'alarm end', '{}')",
    });
    writeEarlierFile(m_path, thirdFile);
    if (QTest::currentTestFailed())
        return;
    const char *const readingsSelect =
        "SELECT id, time_ms, unit, hex(packet), gas_units, serial, hex(unit_name), unit_time_ms FROM readings ORDER BY id";
    const std::vector<QByteArrayList> before = everyRow(m_path, readingsSelect);
    QCOMPARE(before.front().size(), 2);
    {
        HistoryStore asItLies;
        QVERIFY(asItLies.open(m_path, HistoryStore::Access::ReadOnly));
        const auto levels = history::gasLevelsOf(asItLies, QStringLiteral("0001"));
        QVERIFY2(levels, qPrintable(levels ? QString() : levels.reason().text));
        QCOMPARE(*levels, readings::GasLevels());
        QVERIFY(!history::setGasLevels(asItLies, QStringLiteral("0001"), readings::GasLevels(), Start));
    }

    HistoryStore store;
    const HistoryResult<void> opened = store.open(m_path, HistoryStore::Access::ReadWrite);
    QVERIFY2(opened, qPrintable(opened ? QString() : opened.reason().text));
    QCOMPARE(support::sqlRows(m_path, "SELECT MAX(version) FROM schema_version"),
             QByteArrayList({QByteArray::number(HistoryStore::SchemaVersion)}));
    const std::vector<QByteArrayList> after = everyRow(m_path, readingsSelect);
    for (std::size_t i = 0; i < after.size(); ++i)
        QCOMPARE(after[i], before[i]);

    QVERIFY(history::unitGasLevels(store)->isEmpty());
    QVERIFY(history::setGasLevels(store, QStringLiteral("0001"), {1000, 1100, 1300}, Start));
    QVERIFY(history::setGasLevels(store, QStringLiteral("0002"), {2000, 2500, 3000}, Start));
    QVERIFY(history::setGasLevels(store, QStringLiteral("0001"), {1250, 1450, 1800}, Start + 1));
    QCOMPARE(*history::gasLevelsOf(store, QStringLiteral("0001")), readings::GasLevels({1250, 1450, 1800}));
    QCOMPARE(*history::gasLevelsOf(store, QStringLiteral("0003")), readings::GasLevels());
    const auto all = history::unitGasLevels(store);
    QVERIFY(all);
    QCOMPARE(all->size(), 2);
    QCOMPARE(all->value(QStringLiteral("0002")), readings::GasLevels({2000, 2500, 3000}));

    const auto events = history::eventsOfEveryUnit(
        store, {QStringLiteral("alarm start"), QStringLiteral("alarm end"), QStringLiteral("alarm ack")}, Start + 60);
    QVERIFY(events);
    QStringList seen;
    for (const history::EventRow &event : *events)
        seen << QStringLiteral("%1 %2 %3").arg(event.timeMs - Start).arg(event.unit, event.kind);
    QCOMPARE(seen.join(QLatin1Char('|')), QStringLiteral("100 0002 alarm start|100 0001 alarm ack"));
}

// The unit's own clock from its date and time fields; anything that is not
// a date and a time is no time, never a guess.
void tst_HistoryStore::unitClock_data()
{
    QTest::addColumn<QByteArray>("date");
    QTest::addColumn<QByteArray>("time");
    QTest::addColumn<QString>("expected");  // ISO 8601, UTC; empty for none
    QTest::newRow("as units send it") << QByteArray("12/08/2026") << QByteArray("14:05:09") << "2026-12-08T14:05:09";
    QTest::newRow("one-digit month, day and hour") << QByteArray("1/5/2026") << QByteArray("7:05:09") << "2026-01-05T07:05:09";
    QTest::newRow("no seconds") << QByteArray("12/08/2026") << QByteArray("14:05") << "2026-12-08T14:05:00";
    QTest::newRow("blanks around") << QByteArray(" 12/08/2026 ") << QByteArray(" 14:05:09") << "2026-12-08T14:05:09";
    QTest::newRow("leap day") << QByteArray("02/29/2024") << QByteArray("00:00:00") << "2024-02-29T00:00:00";
    QTest::newRow("midnight's last second") << QByteArray("12/31/2026") << QByteArray("23:59:59") << "2026-12-31T23:59:59";
    QTest::newRow("empty date") << QByteArray() << QByteArray("14:05:09") << QString();
    QTest::newRow("empty time") << QByteArray("12/08/2026") << QByteArray() << QString();
    QTest::newRow("text") << QByteArray("N/A") << QByteArray("N/A") << QString();
    QTest::newRow("no leap day") << QByteArray("02/29/2025") << QByteArray("00:00:00") << QString();
    QTest::newRow("thirtieth of February") << QByteArray("02/30/2024") << QByteArray("00:00:00") << QString();
    QTest::newRow("month 13") << QByteArray("13/08/2026") << QByteArray("14:05:09") << QString();
    QTest::newRow("day first past 12") << QByteArray("25/12/2026") << QByteArray("14:05:09") << QString();
    QTest::newRow("hour 24") << QByteArray("12/08/2026") << QByteArray("24:00:00") << QString();
    QTest::newRow("minute 60") << QByteArray("12/08/2026") << QByteArray("14:60:00") << QString();
    QTest::newRow("two-digit year") << QByteArray("12/08/26") << QByteArray("14:05:09") << QString();
    QTest::newRow("dashes") << QByteArray("2026-12-08") << QByteArray("14:05:09") << QString();
    QTest::newRow("sign") << QByteArray("+1/08/2026") << QByteArray("14:05:09") << QString();
    QTest::newRow("fraction") << QByteArray("12/08/2026") << QByteArray("14:05:09.5") << QString();
    QTest::newRow("blank inside") << QByteArray("12/ 8/2026") << QByteArray("14:05:09") << QString();
    QTest::newRow("trailing colon") << QByteArray("12/08/2026") << QByteArray("14:05:09:") << QString();
}

void tst_HistoryStore::unitClock()
{
    QFETCH(QByteArray, date);
    QFETCH(QByteArray, time);
    QFETCH(QString, expected);
    const std::optional<qint64> ms = readings::unitTimeMs(date, time);
    QCOMPARE(ms ? QDateTime::fromMSecsSinceEpoch(*ms, Qt::UTC).toString(Qt::ISODate).chopped(1) : QString(), expected);
}

void tst_HistoryStore::trendsByTheUnitsClock()
{
    // The unit's clock runs two hours ahead of the arrival clock. A backlog
    // of ten readings taken a minute apart arrives within half a second,
    // then three readings without the unit's time, then five on time (each
    // 200 ms on the way).
    constexpr qint64 Ahead = 2 * 3600 * 1000;
    auto reading = [](qint64 arrivalMs, std::optional<qint64> unitMs, double gas) {
        history::ReadingRow row;
        row.timeMs = arrivalMs;
        row.unit = QStringLiteral("0001");
        row.packet = "*";
        row.unitTimeMs = unitMs;
        row.values[0] = gas;
        return row;
    };
    history::Batch batch;
    for (int i = 0; i < 10; ++i)
        batch.readings.push_back(reading(Start + i * 50, Start + Ahead - 3600 * 1000 + i * 60 * 1000, i));
    for (int i = 0; i < 3; ++i)
        batch.readings.push_back(reading(Start + 10 * 1000 + i * 1000, std::nullopt, 100 + i));
    for (int i = 0; i < 5; ++i) {
        const qint64 arrival = Start + 20 * 1000 + i * 1000;
        batch.readings.push_back(reading(arrival, arrival + Ahead - 200, 200 + i));
    }
    {
        HistoryStore store;
        QVERIFY(store.open(m_path, HistoryStore::Access::ReadWrite));
        QVERIFY(store.write(batch));
    }
    HistoryStore store;
    QVERIFY(store.open(m_path, HistoryStore::Access::ReadOnly));
    auto times = [&store](HistoryClock clock, qint64 fromMs, qint64 toMs) {
        trends::HistoryReadings readings(store, QStringLiteral("0001"), fromMs, toMs, clock);
        std::vector<qint64> read;
        while (!readings.done()) {
            const Result<std::vector<trends::Sample>> some = readings.readSome(4);
            if (!some)
                qFatal("%s", qPrintable(some.reason()));
            for (const trends::Sample &sample : *some)
                read.push_back(sample.timeMs);
        }
        return read;
    };

    // By arrival, the backlog is bunched into half a second.
    const std::vector<qint64> arrived = times(HistoryClock::Arrival, Start, Start + 60 * 1000);
    QCOMPARE(arrived.size(), std::size_t(18));
    QCOMPARE(arrived[9] - arrived[0], qint64(450));
    // By the unit's clock, it keeps its minutes; the readings without the
    // unit's time are left out.
    const std::vector<qint64> own = times(HistoryClock::Unit, Start + Ahead - 2 * 3600 * 1000, Start + Ahead + 3600 * 1000);
    QCOMPARE(own.size(), std::size_t(15));
    for (int i = 1; i < 10; ++i)
        QCOMPARE(own[i] - own[i - 1], qint64(60 * 1000));
    QCOMPARE(own[10], Start + 20 * 1000 + Ahead - 200);
    // A range of the unit's clock holds what it took then, whenever it came.
    QCOMPARE(times(HistoryClock::Unit, Start + Ahead - 3600 * 1000, Start + Ahead - 3570 * 1000).size(), std::size_t(1));
    // Read through an index of the unit's clock, made at the open for
    // writing without a schema step.
    const QByteArrayList plan = support::sqlRows(
        m_path, "EXPLAIN QUERY PLAN SELECT time_ms FROM readings WHERE unit = '0001' AND unit_time_ms >= 0"
                " AND unit_time_ms < 1 ORDER BY unit_time_ms, id");
    QVERIFY2(plan.join(' ').contains("readings_unit_unit_time"), plan.join('\n').constData());

    // Now on the unit's clock: the offset of the least delayed of the
    // latest readings, which the backlog does not pull back.
    const HistoryResult<UnitClockReadings> clock = store.unitClock(QStringLiteral("0001"), Start - 1000, 120);
    QVERIFY(clock);
    QCOMPARE(clock->firstMs, std::optional<qint64>(Start + Ahead - 3600 * 1000));
    QCOMPARE(clock->latest.size(), std::size_t(15));
    trends::UnitClock unitClock;
    QCOMPARE(unitClock.now(Start), Start);
    for (auto pair = clock->latest.rbegin(); pair != clock->latest.rend(); ++pair)
        unitClock.seen(pair->first, pair->second);
    QCOMPARE(unitClock.offsetMs(), std::optional<qint64>(Ahead - 200));
    QCOMPARE(unitClock.now(Start + 60 * 1000), Start + 60 * 1000 + Ahead - 200);
}

void tst_HistoryStore::overviewKeepsEveryPeak_data()
{
    QTest::addColumn<bool>("onServer");
    QTest::newRow("file") << false;
    QTest::newRow("server") << true;
}

void tst_HistoryStore::overviewKeepsEveryPeak()
{
    // Twenty minutes of a reading a second, the gas waving, one reading's
    // spike and one's dip, the chromatograph moving so that the ratios do;
    // a reading without C1 and one with a negative iC5 have no ratios but
    // the character (which needs no C1) and none, and one without gas.
    QFETCH(bool, onServer);
    support::ServerDatabase server;
    if (onServer && !server.isValid())
        QSKIP(qPrintable(server.skipReason()));
    const QString address = onServer ? server.uri() : m_path;
    constexpr int Count = 1200;
    constexpr int Spike = 617;
    constexpr int Dip = 911;
    auto place = [](const char *name) {
        return static_cast<std::size_t>(history::numericColumn(QLatin1String(name)) - history::numericColumns().data());
    };
    history::Batch batch;
    for (int i = 0; i < Count; ++i) {
        history::ReadingRow row;
        row.timeMs = Start + i * 1000;
        row.unit = QStringLiteral("0001");
        row.packet = "*";
        const double gas = 900 + 300 * std::sin(i / 50.0);
        row.values[place("gas_units")] = i == Spike ? 4800.0 : i == Dip ? 3.0 : gas;
        const char *const chromatograph[] = {"c1", "c2", "c3", "ic4", "nc4", "ic5", "nc5"};
        for (int c = 0; c < 7; ++c)
            row.values[place(chromatograph[c])] = std::round(gas * (7 - c) * (1 + (i * (c + 3)) % 17 * 0.03));
        row.values[place("lag_depth")] = 5000 + i * 0.1;
        row.values[place("rop_ft_hr")] = 20 + i % 13;
        batch.readings.push_back(row);
    }
    batch.readings[100].values[place("c1")].reset();
    batch.readings[300].values[place("ic5")] = -1.0;
    batch.readings[400].values[place("gas_units")].reset();
    {
        HistoryStore store;
        QVERIFY(store.open(address, HistoryStore::Access::Migrate));
        QVERIFY(store.write(batch));
    }
    HistoryStore store;
    QVERIFY(store.open(address, HistoryStore::Access::ReadOnly));
    // Columns of a chart 430 pixels wide on the time of the readings, not
    // a whole number of milliseconds, from a little before the first.
    const qint64 from = Start - 5000;
    const qint64 to = Start + Count * 1000;
    const double width = double(to - from) / 430 * 7;
    const Result<std::vector<trends::Sample>> overview =
        trends::historyOverview(store, QStringLiteral("0001"), from, to, width);
    QVERIFY2(overview, qPrintable(overview ? QString() : overview.reason()));
    QVERIFY(overview->size() <= 2 * std::size_t(std::ceil((to - from) / width) + 1));
    if (onServer) {
        // A server's owner keeps every value in an index by unit and time,
        // read alone once the cleaning has marked the table's pages.
        QCOMPARE(server.run(QStringLiteral("VACUUM readings")), QString());
        QStringList values;
        for (const history::NumericColumn &column : history::numericColumns())
            values << QLatin1String(column.name);
        QSqlQuery plan(store.database());
        QVERIFY(plan.exec(QStringLiteral("SET enable_seqscan = off")));
        QVERIFY(plan.exec(QStringLiteral("EXPLAIN SELECT time_ms, %1 FROM readings WHERE unit = '0001' AND time_ms >= %2"
                                         " AND time_ms < %3")
                              .arg(values.join(QStringLiteral(", ")))
                              .arg(from)
                              .arg(to)));
        QVERIFY(plan.next());
        QVERIFY2(plan.value(0).toString().startsWith(QLatin1String("Index Only Scan using readings_unit_time_values")),
                 qPrintable(plan.value(0).toString()));
    }
    trends::TrendData grouped;
    trends::TrendData every;
    grouped.reset(trends::TrendData::Axis::Time, width);
    every.reset(trends::TrendData::Axis::Time, width);
    for (const trends::Sample &sample : *overview)
        grouped.add(sample);
    trends::HistoryReadings readings(store, QStringLiteral("0001"), from, to);
    while (!readings.done()) {
        const Result<std::vector<trends::Sample>> some = readings.readSome(500);
        QVERIFY(some);
        for (const trends::Sample &sample : *some)
            every.add(sample);
    }
    QCOMPARE(readings.read(), qint64(Count));

    // Column by column, every channel's lowest and highest as every reading
    // gives them: the ratios as the engine computed them from each reading.
    for (int c = 0; c < trends::ChannelCount; ++c) {
        const auto channel = static_cast<trends::Channel>(c);
        const trends::ColumnExtremes &mine = grouped.channel(channel);
        const trends::ColumnExtremes &theirs = every.channel(channel);
        QCOMPARE(mine.columnCount(), theirs.columnCount());
        for (double x = from; x < to + width; x += width) {
            const trends::ColumnExtremes::Column *got = mine.columnNear(x);
            const trends::ColumnExtremes::Column *wanted = theirs.columnNear(x);
            const QString where = QStringLiteral("%1 at %2").arg(QLatin1String(trends::channelInfo(channel).key)).arg(x - from);
            QVERIFY2(!got == !wanted, qPrintable(where));
            if (!got)
                continue;
            QVERIFY2(qFuzzyCompare(got->low.y(), wanted->low.y()), qPrintable(where));
            QVERIFY2(qFuzzyCompare(got->high.y(), wanted->high.y()), qPrintable(where));
            QVERIFY2(got->minX >= wanted->minX && got->maxX <= wanted->maxX, qPrintable(where));
        }
    }
    for (const trends::Channel channel : {trends::GasUnits, trends::C1, trends::Wetness, trends::Balance,
                                          trends::Character, trends::LagDepth})
        QVERIFY(grouped.channel(channel).columnCount() > 50);
    // The one reading's spike and dip are there.
    const trends::ColumnExtremes &gas = grouped.channel(trends::GasUnits);
    QCOMPARE(gas.columnNear(Start + Spike * 1000.0)->high.y(), 4800.0);
    QCOMPARE(gas.columnNear(Start + Dip * 1000.0)->low.y(), 3.0);
}

void tst_HistoryStore::serverSessionTunedAsItStarts_data()
{
    QTest::addColumn<bool>("reader");
    QTest::newRow("reader") << true;
    QTest::newRow("writer") << false;
}

// A server's session is tuned by the settings sent with the connection
// request, not by statements after it (a round trip each): the server
// names the client as their source. A reader's cannot write, compiles
// nothing to machine code and groups in memory.
void tst_HistoryStore::serverSessionTunedAsItStarts()
{
    QFETCH(bool, reader);
    support::ServerDatabase server;
    if (!server.isValid())
        QSKIP(qPrintable(server.skipReason()));
    {
        HistoryStore owner;
        QVERIFY(owner.open(server.uri(), HistoryStore::Access::Migrate));
    }
    HistoryLimits limits;
    limits.lockWaitMs = 2500;
    HistoryStore store;
    QVERIFY(store.open(server.uri(), reader ? HistoryStore::Access::ReadOnly : HistoryStore::Access::ReadWrite, limits));
    QSqlQuery query(store.database());
    QVERIFY(query.exec(QStringLiteral("SELECT name, setting, source FROM pg_settings WHERE name IN ('synchronous_commit',"
                                      " 'lock_timeout', 'default_transaction_read_only', 'jit', 'work_mem')")));
    QMap<QString, QPair<QString, QString>> settings;
    while (query.next())
        settings.insert(query.value(0).toString(), {query.value(1).toString(), query.value(2).toString()});
    const QString client = QStringLiteral("client");
    QCOMPARE(settings.value(QStringLiteral("synchronous_commit")), qMakePair(QStringLiteral("on"), client));
    QCOMPARE(settings.value(QStringLiteral("lock_timeout")), qMakePair(QStringLiteral("2500"), client));
    if (reader) {
        QCOMPARE(settings.value(QStringLiteral("default_transaction_read_only")), qMakePair(QStringLiteral("on"), client));
        QCOMPARE(settings.value(QStringLiteral("jit")), qMakePair(QStringLiteral("off"), client));
        QCOMPARE(settings.value(QStringLiteral("work_mem")), qMakePair(QStringLiteral("32768"), client));
        QVERIFY(!query.exec(QStringLiteral("CREATE TABLE written (n INTEGER)")));
    } else {
        QCOMPARE(settings.value(QStringLiteral("default_transaction_read_only")).first, QStringLiteral("off"));
        QVERIFY(settings.value(QStringLiteral("work_mem")).second != client);
    }
}

void tst_HistoryStore::readerWaitsOutALockHeldAMoment()
{
    writeHistory();
    // Another connection holds the file alone for a moment, as the first
    // reader to open it does while it makes the index the readers share.
    std::promise<void> held;
    std::promise<void> release;
    std::thread holder([this, &held, &release] {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
            db.setDatabaseName(m_path);
            QSqlQuery query(db.open() ? db : QSqlDatabase());
            query.exec(QStringLiteral("PRAGMA locking_mode=EXCLUSIVE"));
            query.exec(QStringLiteral("BEGIN EXCLUSIVE"));
            query.exec(QStringLiteral("INSERT INTO units (unit) VALUES ('held')"));
            held.set_value();
            release.get_future().wait();
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            query.exec(QStringLiteral("COMMIT"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("holder"));
    });
    held.get_future().wait();
    HistoryStore atOnce;
    const HistoryResult<void> refused = atOnce.open(m_path, HistoryStore::Access::ReadOnly);
    QVERIFY(!refused && refused.reason().text.contains(QLatin1String("locked")));
    release.set_value();
    HistoryStore waiting;
    const HistoryResult<void> opened = waiting.open(m_path, HistoryStore::Access::ReadOnly, readerLimits());
    holder.join();
    QVERIFY2(opened, qPrintable(opened ? QString() : opened.reason().text));
    QCOMPARE(waiting.units()->size(), 2);
}

QTEST_GUILESS_MAIN(tst_HistoryStore)
#include "tst_historystore.moc"
