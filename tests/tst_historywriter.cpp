// The history writer on its own thread: batches of many units from other
// threads in one transaction, a full queue dropping the oldest and saying
// so, and nothing submitted lost when it stops, paused or not. The spool's
// forwarder beside it: each row once on the server however often it is
// sent, and a bounded spool keeping the newest.

#include <QDateTime>
#include <QSqlQuery>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include "history/historywriter.h"
#include "history/spoolforwarder.h"
#include "support/historysupport.h"

class tst_HistoryWriter : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void manyUnitsInOneTransaction();
    void fullQueueDropsTheOldestAndSaysSo();
    void stopCommitsWhatWasKept_data();
    void stopCommitsWhatWasKept();
    void recordsUnderTheResolvedUnit();
    void forwardAddsEachRowOnce();
    void serverTakesEveryByte();
    void fullSpoolKeepsTheNewest();

private:
    // The path's folder made a file, so that the history cannot be opened;
    // undo() puts it right.
    void blockFolder();
    void unblockFolder();

    QTemporaryDir m_dir;
    QString m_path;
};

namespace {

// Times from the start of the test run, well within the retention.
const qint64 StartMs = QDateTime::currentMSecsSinceEpoch();

history::Batch readingOf(const QString &unit, qint64 timeMs)
{
    history::Batch batch;
    batch.readings.push_back({StartMs + timeMs, unit, "*" + unit.toLatin1(), {}});
    return batch;
}

QString unitName(int i)
{
    return QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0'));
}

} // namespace

void tst_HistoryWriter::init()
{
    const QString name = QString::fromLatin1(QTest::currentDataTag() ? QTest::currentDataTag() : QTest::currentTestFunction());
    m_path = m_dir.filePath(QString(name).replace(QLatin1Char(' '), QLatin1Char('_')) + QStringLiteral("/history.sqlite3"));
}

void tst_HistoryWriter::blockFolder()
{
    const QString folder = QFileInfo(m_path).path();
    QDir().mkpath(QFileInfo(folder).path());
    support::writeFile(folder, "not a folder");
}

void tst_HistoryWriter::unblockFolder()
{
    QFile::remove(QFileInfo(m_path).path());
}

// Fifty units, each submitting from a thread of its own, go into the file
// in one transaction: one commit names every unit and every row.
void tst_HistoryWriter::manyUnitsInOneTransaction()
{
    HistoryWriter::Options options;
    options.path = m_path;
    // Long enough that every batch waits for the one commit sync() asks.
    options.commitIntervalMs = 60000;
    HistoryWriter writer(options);
    QSignalSpy commits(&writer, &HistoryWriter::committed);
    QVERIFY(writer.start());

    constexpr int Units = 50;
    constexpr int PerUnit = 4;
    std::vector<std::unique_ptr<QThread>> senders;
    for (int u = 0; u < Units; ++u) {
        senders.emplace_back(QThread::create([&writer, u] {
            for (int i = 0; i < PerUnit; ++i) {
                history::Batch batch = readingOf(unitName(u), 1000 * i);
                batch.events.push_back({StartMs + 1000 * i, unitName(u), QStringLiteral("connected"), QString()});
                writer.submit(std::move(batch));
            }
        }));
        senders.back()->start();
    }
    for (auto &sender : senders)
        QVERIFY(sender->wait(5000));

    QVERIFY(writer.sync());
    QTRY_COMPARE(commits.size(), 1);
    QVERIFY(!commits.wait(300));
    QStringList units = commits.at(0).at(0).toStringList();
    units.sort();
    QStringList expected;
    for (int u = 0; u < Units; ++u)
        expected.append(unitName(u));
    QCOMPARE(units, expected);
    QCOMPARE(commits.at(0).at(1).toLongLong(), qint64(Units * PerUnit * 2));
    QVERIFY(writer.stop());
    QCOMPARE(support::sqlRows(m_path, "SELECT COUNT(*), COUNT(DISTINCT unit) FROM readings"),
             QByteArrayList({QByteArray::number(Units * PerUnit) + "|" + QByteArray::number(Units)}));
    QCOMPARE(support::sqlRows(m_path, "SELECT COUNT(*) FROM events"), QByteArrayList({QByteArray::number(Units * PerUnit)}));
}

// While the file cannot be opened the writer keeps the newest batches up
// to its capacity, drops the oldest past it and reports each drop; once the
// file opens it writes what it kept and one "rows lost" event for each unit
// that lost rows, with that unit's count.
void tst_HistoryWriter::fullQueueDropsTheOldestAndSaysSo()
{
    blockFolder();
    HistoryWriter::Options options;
    options.path = m_path;
    options.capacityReadings = 10;
    options.retryIntervalMs = 60000;
    HistoryWriter writer(options);
    QSignalSpy paused(&writer, &HistoryWriter::paused);
    QSignalSpy dropped(&writer, &HistoryWriter::dropped);
    QSignalSpy resumed(&writer, &HistoryWriter::resumed);
    QVERIFY(!writer.start());
    QTRY_COMPARE(paused.size(), 1);

    // Readings 0 to 24, alternating between two units: 0 to 14 go.
    for (int i = 0; i < 25; ++i)
        writer.submit(readingOf(unitName(i % 2), i));
    QTRY_COMPARE(dropped.size(), 15);
    for (const QList<QVariant> &drop : dropped) {
        QCOMPARE(drop.at(0).toLongLong(), 1);
        QCOMPARE(drop.at(1).toLongLong(), 1);
    }

    unblockFolder();
    writer.retryNow();
    QTRY_COMPARE(resumed.size(), 1);
    QCOMPARE(resumed.at(0).at(0).toLongLong(), 10);
    QCOMPARE(resumed.at(0).at(1).toLongLong(), 15);
    QCOMPARE(paused.size(), 1);
    QVERIFY(writer.stop());
    const QByteArray kept = "SELECT MIN(time_ms) - " + QByteArray::number(StartMs) + ", MAX(time_ms) - "
                            + QByteArray::number(StartMs) + ", COUNT(*) FROM readings";
    QCOMPARE(support::sqlRows(m_path, kept.constData()), QByteArrayList({"15|24|10"}));
    QCOMPARE(support::sqlRows(m_path, "SELECT unit, detail FROM events WHERE kind = 'rows lost' ORDER BY unit"),
             QByteArrayList({"0000|8 readings, 0 WITS items, 0 WITS records and 0 events were lost while the history"
                             " file could not be written",
                             "0001|7 readings, 0 WITS items, 0 WITS records and 0 events were lost while the history"
                             " file could not be written"}));
}

// Stopping commits what was submitted: at once when the writer is running
// well, and after one last try when it is paused (a window closed, or
// SIGTERM, while the file was away for a moment).
void tst_HistoryWriter::stopCommitsWhatWasKept_data()
{
    QTest::addColumn<bool>("paused");
    QTest::newRow("running") << false;
    QTest::newRow("paused") << true;
}

void tst_HistoryWriter::stopCommitsWhatWasKept()
{
    QFETCH(bool, paused);
    if (paused)
        blockFolder();
    HistoryWriter::Options options;
    options.path = m_path;
    options.commitIntervalMs = 60000;
    options.retryIntervalMs = 60000;
    HistoryWriter writer(options);
    QSignalSpy pauses(&writer, &HistoryWriter::paused);
    QCOMPARE(bool(writer.start()), !paused);
    for (int i = 0; i < 5; ++i)
        writer.submit(readingOf(QStringLiteral("0001"), i));
    if (paused) {
        QTRY_COMPARE(pauses.size(), 1);
        unblockFolder();
    }
    QVERIFY(writer.stop());
    QVERIFY(!writer.isRunning());
    QCOMPARE(support::sqlRows(m_path, "SELECT COUNT(*) FROM readings"), QByteArrayList({"5"}));
    // Stopped, it takes nothing more and stops again at once.
    writer.submit(readingOf(QStringLiteral("0001"), 9));
    QVERIFY(writer.stop());
}

// Every spelling of a unit is recorded under the unit the lookup table
// makes of it, the serial as typed beside each reading; a serial no row
// serves keeps its own; an edited table is read again.
void tst_HistoryWriter::recordsUnderTheResolvedUnit()
{
    const QString table = m_dir.filePath(QStringLiteral("RDVlookup.TXT"));
    support::writeFile(table, "0001 127.0.0.1 2400\r\n");
    HistoryWriter::Options options;
    options.path = m_path;
    options.lookupPath = table;
    HistoryWriter writer(options);
    QVERIFY(writer.start());
    for (const char *serial : {"0001", "1001", "1", "7"}) {
        history::Batch batch = readingOf(QString::fromLatin1(serial), 0);
        batch.events.push_back({StartMs, QString::fromLatin1(serial), QStringLiteral("connected"), QString()});
        writer.submit(std::move(batch));
    }
    QVERIFY(writer.sync());
    support::writeFile(table, "7 127.0.0.1 2401\r\n0001 127.0.0.1 2400\r\n");
    writer.submit(readingOf(QStringLiteral("0007"), 1));
    QVERIFY(writer.stop());
    QCOMPARE(support::sqlRows(m_path, "SELECT unit, serial FROM readings ORDER BY id"),
             QByteArrayList({"0001|0001", "0001|1001", "0001|1", "7|7", "7|0007"}));
    QCOMPARE(support::sqlRows(m_path, "SELECT unit FROM events ORDER BY id"),
             QByteArrayList({"0001", "0001", "0001", "7"}));
    QCOMPARE(support::sqlRows(m_path, "SELECT unit FROM units ORDER BY unit"), QByteArrayList({"0001", "7"}));
}

namespace {

// Runs a forwarder from the spool to the server until the spool has
// nothing left: the rows it sent and the rows the server added.
QPair<qint64, qint64> forwardAll(const QString &spool, const QString &server)
{
    SpoolForwarder forwarder({spool, server});
    QSignalSpy forwarded(&forwarder, &SpoolForwarder::forwarded);
    QSignalSpy paused(&forwarder, &SpoolForwarder::paused);
    if (!forwarder.start())
        return {-1, -1};
    const bool done = QTest::qWaitFor(
        [&] { return !forwarded.isEmpty() && forwarded.constLast().at(2).toBool(); }, 10000);
    forwarder.stop(0);
    if (!done || !paused.isEmpty())
        return {-1, -1};
    QPair<qint64, qint64> sum;
    for (const QList<QVariant> &slice : forwarded) {
        sum.first += slice.at(0).toLongLong();
        sum.second += slice.at(1).toLongLong();
    }
    return sum;
}

qint64 serverCount(const QString &server, HistoryStore::Table table)
{
    HistoryStore store;
    if (!store.open(server, HistoryStore::Access::ReadOnly))
        return -1;
    qint64 all = 0;
    for (const char *unit : {"0001", "0002"}) {
        const HistoryResult<qint64> rows = store.count(table, {QLatin1String(unit), 0, StartMs + 100000});
        all += rows ? *rows : -1000;
    }
    return all;
}

} // namespace

// A slice the server committed but whose acknowledgement never came back
// (the recorder killed between the two commits, a link gone at that
// moment) is sent again from the spool as it was: the server leaves out
// every row it holds, of every kind, and takes the new ones.
void tst_HistoryWriter::forwardAddsEachRowOnce()
{
    support::ServerDatabase server;
    if (!server.isValid())
        QSKIP(qPrintable(server.skipReason()));
    {
        HistoryStore owner;
        QVERIFY(owner.open(server.uri(), HistoryStore::Access::Migrate));
    }
    const QString spool = m_path;
    {
        HistoryStore store;
        QVERIFY(store.open(spool, HistoryStore::Access::ReadWrite));
        history::Batch batch;
        // More than a statement takes at once, and a remainder.
        for (int i = 0; i < 100; ++i)
            batch.readings.push_back(readingOf(unitName(1 + i % 2), i).readings.front());
        batch.witsItems.push_back({StartMs, unitName(1), 0, 108, 12.5});
        batch.witsRecords.push_back({StartMs, unitName(1), "&&\r\n0108-12.5\r\n!!\r\n"});
        batch.events.push_back({StartMs, unitName(2), QStringLiteral("connected"), QString()});
        QVERIFY(store.write(batch));
    }
    const QString beforeAck = m_dir.filePath(QStringLiteral("before-ack.sqlite3"));
    QVERIFY(QFile::copy(spool, beforeAck));

    QCOMPARE(forwardAll(spool, server.uri()), (QPair<qint64, qint64>(103, 103)));
    // The acknowledgement lost: the spool as it was before it.
    QVERIFY(QFile::remove(spool));
    QVERIFY(QFile::copy(beforeAck, spool));
    QCOMPARE(forwardAll(spool, server.uri()), (QPair<qint64, qint64>(103, 0)));
    QCOMPARE(serverCount(server.uri(), HistoryStore::Table::Readings), 100);
    QCOMPARE(serverCount(server.uri(), HistoryStore::Table::WitsItems), 1);
    QCOMPARE(serverCount(server.uri(), HistoryStore::Table::WitsRecords), 1);
    QCOMPARE(serverCount(server.uri(), HistoryStore::Table::Events), 1);

    // The spool kept its newest row, so a new one is numbered after it and
    // not taken for the first row, whose time it has too.
    {
        HistoryStore store;
        QVERIFY(store.open(spool, HistoryStore::Access::ReadWrite));
        QVERIFY(store.write(readingOf(unitName(1), 0)));
    }
    QCOMPARE(forwardAll(spool, server.uri()).second, 1);
    QCOMPARE(serverCount(server.uri(), HistoryStore::Table::Readings), 101);
    QCOMPARE(support::sqlRows(spool, "SELECT COUNT(*) FROM readings"), QByteArrayList{"1"});
}

// A server takes each table's rows of a slice in one statement, every
// column as one array: texts with the array's own marks (quotes,
// backslashes, braces, commas, blanks, the word NULL), characters beyond
// ASCII and raw bytes arrive exactly, a null stays a null and an empty text
// stays empty, in the slice's order; the slice sent twice is there once.
void tst_HistoryWriter::serverTakesEveryByte()
{
    support::ServerDatabase server;
    if (!server.isValid())
        QSKIP(qPrintable(server.skipReason()));
    HistoryStore store;
    QVERIFY(store.open(server.uri(), HistoryStore::Access::Migrate));

    QByteArray everyByte;
    for (int b = 0; b < 256; ++b)
        everyByte.append(char(b));
    const QStringList texts = {QStringLiteral("a\"b\\c"), QStringLiteral("{x,y} z"), QStringLiteral("NULL"),
                               QString::fromLatin1("caf\xe9 \xb0" "C\xff"), QStringLiteral("\\\""),
                               QStringLiteral("\"\"")};
    history::Batch batch;
    for (int i = 0; i < texts.size(); ++i) {
        history::ReadingRow row;
        row.timeMs = StartMs + i;
        row.unit = texts[i];
        row.packet = everyByte.mid(i * 40) + "\"\\{},";
        row.serial = i % 2 ? texts[texts.size() - 1 - i] : QString();
        if (i % 2)
            row.unitName = everyByte.left(i * 3);
        row.unitTimeMs = i % 3 ? std::optional<qint64>(-i * 1000) : std::nullopt;
        row.values[0] = 0.1 * i;
        row.values[1] = i % 2 ? std::optional<double>(-1e300) : std::nullopt;
        row.key = {77, 1 + i};
        batch.readings.push_back(row);
        batch.events.push_back({StartMs + i, texts[i], texts[(i + 1) % texts.size()], i % 2 ? texts[i] : QString(),
                                {77, 1 + i}});
    }
    batch.witsItems.push_back({StartMs, texts[0], 3, 108, 12.25, {77, 1}});
    batch.witsRecords.push_back({StartMs, texts[1], everyByte, {77, 1}});

    for (const qint64 expected : {qint64(texts.size() * 2 + 2), qint64(0)}) {
        history::RowCounts added;
        QVERIFY(store.write(batch, added));
        QCOMPARE(added.rows(), expected);
    }

    QSqlDatabase db = store.database();
    QSqlQuery query(db);
    QVERIFY(query.exec(QStringLiteral("SELECT unit, packet, serial, unit_name, unit_time_ms, origin_id, %1, %2"
                                      " FROM readings ORDER BY id")
                           .arg(QLatin1String(history::numericColumns()[0].name),
                                QLatin1String(history::numericColumns()[1].name))));
    for (int i = 0; i < texts.size(); ++i) {
        QVERIFY(query.next());
        const history::ReadingRow &row = batch.readings[std::size_t(i)];
        QCOMPARE(query.value(0).toString(), row.unit);
        QCOMPARE(query.value(1).toByteArray(), row.packet);
        QCOMPARE(query.value(2).toString(), row.serial.isEmpty() ? row.unit : row.serial);
        QCOMPARE(query.value(3).isNull(), row.unitName.isNull());
        QCOMPARE(query.value(3).toByteArray(), row.unitName);
        QCOMPARE(query.value(4).isNull(), !row.unitTimeMs);
        QCOMPARE(query.value(4).toLongLong(), row.unitTimeMs.value_or(0));
        QCOMPARE(query.value(5).toLongLong(), qint64(1 + i));
        // The numbers as they were, to the last bit.
        QCOMPARE(query.value(6).toDouble(), *row.values[0]);
        QCOMPARE(query.value(7).isNull(), !row.values[1]);
        QCOMPARE(query.value(7).toDouble(), row.values[1].value_or(0.0));
    }
    QVERIFY(!query.next());
    QVERIFY(query.exec(QStringLiteral("SELECT kind, detail, unit FROM events ORDER BY id")));
    for (const history::EventRow &row : batch.events) {
        QVERIFY(query.next());
        QCOMPARE(query.value(0).toString(), row.kind);
        QCOMPARE(query.value(1).toString(), row.detail.isNull() ? QStringLiteral("") : row.detail);
        QCOMPARE(query.value(1).isNull(), false);
        QCOMPARE(query.value(2).toString(), row.unit);
    }
    QVERIFY(!query.next());
    QVERIFY(query.exec(QStringLiteral("SELECT record, unit FROM wits_records")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toByteArray(), everyByte);
    QCOMPARE(query.value(1).toString(), texts[1]);
    QVERIFY(query.exec(QStringLiteral("SELECT item_position, item_code, item_value, unit FROM wits_items")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toInt(), 3);
    QCOMPARE(query.value(1).toInt(), 108);
    QCOMPARE(query.value(2).toDouble(), 12.25);
    QVERIFY(query.exec(QStringLiteral("SELECT unit FROM units ORDER BY unit")));
    QStringList units;
    while (query.next())
        units << query.value(0).toString();
    QStringList expected = texts;
    expected.sort();
    units.sort();
    QCOMPARE(units, expected);
}

// While the server cannot be reached the spool grows to its bound and no
// further: past it the oldest rows go, never the newest, the loss is said
// once and recorded in the spool as a "rows lost" event of each unit.
void tst_HistoryWriter::fullSpoolKeepsTheNewest()
{
    constexpr qint64 Limit = 256 * 1024;
    constexpr int Readings = 1200;  // about 1.2 MB of packets
    auto fill = [this](int from, int to) {
        HistoryStore store;
        if (!store.open(m_path, HistoryStore::Access::ReadWrite))
            return false;
        history::Batch batch;
        for (int i = from; i < to; ++i) {
            history::ReadingRow row = readingOf(unitName(1 + i % 2), i).readings.front();
            row.packet = QByteArray(1000, 'x');
            batch.readings.push_back(row);
        }
        return bool(store.write(batch));
    };
    QVERIFY(fill(0, Readings));
    SpoolForwarder::Options options;
    options.spoolPath = m_path;
    // Nothing listens there: refused at once.
    options.serverAddress = QStringLiteral("postgresql://nobody@127.0.0.1:1/none");
    options.limitBytes = Limit;
    options.retryFirstMs = options.retryMostMs = 60000;
    SpoolForwarder forwarder(options);
    QSignalSpy full(&forwarder, &SpoolForwarder::spoolFull);
    QSignalSpy paused(&forwarder, &SpoolForwarder::paused);
    QVERIFY(forwarder.start());
    QTRY_COMPARE(full.size(), 1);
    QTRY_COMPARE(paused.size(), 1);
    const qint64 dropped = full.at(0).at(1).toLongLong();
    QVERIFY2(dropped > Readings / 2 && dropped < Readings, qPrintable(QString::number(dropped)));
    // More while still full: dropped and recorded, not said again.
    QVERIFY(fill(Readings, Readings + 200));
    forwarder.wake();
    QVERIFY(forwarder.stop(0));
    QCOMPARE(full.size(), 1);

    HistoryStore spool;
    QVERIFY(spool.open(m_path, HistoryStore::Access::ReadOnly));
    QVERIFY2(*spool.usedBytes() <= Limit, qPrintable(QString::number(*spool.usedBytes())));
    const QByteArrayList kept = support::sqlRows(
        m_path, QByteArray("SELECT MIN(time_ms) - " + QByteArray::number(StartMs) + ", MAX(time_ms) - "
                           + QByteArray::number(StartMs) + ", COUNT(*) FROM readings")
                    .constData());
    QCOMPARE(kept.size(), 1);
    const QByteArrayList range = kept.front().split('|');
    // The newest is there, the oldest gone, and nothing between the two.
    QCOMPARE(range.at(1).toInt(), Readings + 199);
    QCOMPARE(range.at(2).toInt(), Readings + 200 - range.at(0).toInt());
    // What went is counted under its unit, the two counts adding up to it.
    qint64 lost = 0;
    for (const QByteArray &row :
         support::sqlRows(m_path, "SELECT unit, detail FROM events WHERE kind = 'rows lost' ORDER BY id")) {
        QVERIFY2(row.contains(" readings, 0 WITS items, 0 WITS records and 0 events were dropped from the full spool"),
                 row.constData());
        lost += row.mid(row.indexOf('|') + 1).split(' ').at(0).toLongLong();
    }
    QCOMPARE(lost, qint64(range.at(0).toInt()));
}

QTEST_GUILESS_MAIN(tst_HistoryWriter)
#include "tst_historywriter.moc"
