// The history's readers on a damaged file: a read that fails on the way,
// after some rows or before the first, gives the reason, never the rows it
// had as a whole result.

#include <QBuffer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include "history/historyexport.h"
#include "history/historystore.h"
#include "history/trendsloader.h"
#include "history/trendsource.h"
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

} // namespace

class tst_HistoryStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsCutShortFail();
    void unitListCutShortFails();

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
    const Result<bool> opened = loader.open();
    QVERIFY(opened && *opened);
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

QTEST_GUILESS_MAIN(tst_HistoryStore)
#include "tst_historystore.moc"
