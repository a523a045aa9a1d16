// The rthistory command line, run in-process on a history file made here:
// its options and exit codes, and what the exports hold.

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "history/historycommand.h"
#include "history/historystore.h"
#include "support/packets.h"

namespace {

const qint64 Start = QDateTime(QDate(2026, 12, 8), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();

QByteArray packetText(const QByteArray &gas, const QByteArray &date)
{
    QByteArray packet = support::packet({"0001", date, "00:00:00", "1520.5", gas});
    packet.chop(1);  // kept without its CR, as received
    return packet;
}

} // namespace

class tst_RtHistory : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void exportsCsvAndRaw();

private:
    int run(QStringList arguments, QByteArray *out = nullptr, QByteArray *err = nullptr);

    QTemporaryDir m_dir;
    QString m_db;
    QByteArrayList m_packets;
};

void tst_RtHistory::initTestCase()
{
    m_db = m_dir.filePath(QStringLiteral("history.sqlite3"));
    m_packets = {packetText("900", "12/08/2026"), packetText("N/A", "a\"b"), packetText("1800", "12/08/2026")};
    HistoryStore store;
    QVERIFY(store.open(m_db, HistoryStore::Access::ReadWrite));
    history::Batch batch;
    for (int i = 0; i < 3; ++i)
        batch.readings.push_back({Start + i * 1000, QStringLiteral("0001"), m_packets.at(i), {}});
    batch.readings.push_back({Start, QStringLiteral("0002"), m_packets.at(0), {}});
    batch.witsItems.push_back({Start + 500, QStringLiteral("0001"), 0, 108, 1520.5});
    batch.witsItems.push_back({Start + 500, QStringLiteral("0001"), 1, 110, 1520.25});
    // Unit 0002's record was kept as received.
    batch.witsRecords.push_back({Start + 500, QStringLiteral("0002"), "^x,y,z,,9,01081520.50"});
    QVERIFY(store.write(batch));
    support::writeFile(m_dir.filePath(QStringLiteral("damaged.sqlite3")), QByteArray(4096, 'x'));
}

int tst_RtHistory::run(QStringList arguments, QByteArray *out, QByteArray *err)
{
    if (!arguments.contains(QStringLiteral("--db")))
        arguments << QStringLiteral("--db") << m_db;
    arguments.prepend(QStringLiteral("rthistory"));
    QBuffer outBuffer(out);
    QBuffer errBuffer(err);
    outBuffer.open(QIODevice::WriteOnly);
    errBuffer.open(QIODevice::WriteOnly);
    return runHistoryCommand(arguments, outBuffer, errBuffer);
}

void tst_RtHistory::commandLine_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("said");
    QTest::newRow("help") << "--help" << 0 << QByteArray("Usage: rthistory COMMAND");
    QTest::newRow("no command") << "" << 2 << QByteArray("no command given");
    QTest::newRow("unknown command") << "list" << 2 << QByteArray("unknown command: list");
    QTest::newRow("unknown option") << "units --bogus" << 2 << QByteArray("Unknown option 'bogus'");
    QTest::newRow("option of another command") << "units --days 3" << 2 << QByteArray("--days does not go with units");
    QTest::newRow("export without unit") << "export" << 2 << QByteArray("export needs --unit");
    QTest::newRow("bad time") << "export --unit 0001 --from noon" << 2 << QByteArray("--from is not an ISO 8601 time");
    QTest::newRow("empty range") << "export --unit 0001 --from 2026-12-09 --to 2026-12-08" << 2
                                 << QByteArray("--from must lie before --to");
    QTest::newRow("bad format") << "export --unit 0001 --format xml" << 2 << QByteArray("--format is csv or raw");
    QTest::newRow("bad days") << "prune --days -1" << 2 << QByteArray("--days is a whole number");
    QTest::newRow("missing file") << "units --db /nonexistent/h.sqlite3" << 1 << QByteArray("no history at /nonexistent");
    QTest::newRow("damaged file") << "check --db DAMAGED" << 1 << QByteArray("file is not a database");
    QTest::newRow("units") << "units" << 0
                           << QByteArray("0001  2026-12-08T00:00:00.000Z  2026-12-08T00:00:02.000Z  3\n0002  ");
    QTest::newRow("check") << "check" << 0 << QByteArray("ok\n");
    QTest::newRow("prune keeps the recent") << "prune --days 36500" << 0 << QByteArray("0 rows older than");
}

void tst_RtHistory::commandLine()
{
    QFETCH(QString, arguments);
    QFETCH(int, code);
    QFETCH(QByteArray, said);
    QByteArray out;
    QByteArray err;
    arguments.replace(QStringLiteral("DAMAGED"), m_dir.filePath(QStringLiteral("damaged.sqlite3")));
    QCOMPARE(run(arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts), &out, &err), code);
    QVERIFY2((code == 0 ? out : err).contains(said), (out + err).constData());
    // A failure is one line; a bad command line adds where to read more.
    QCOMPARE(err.count('\n'), code);
}

void tst_RtHistory::exportsCsvAndRaw()
{
    // CSV into a file, one second of readings: from is in, to is out.
    const QString csvFile = m_dir.filePath(QStringLiteral("out.csv"));
    QCOMPARE(run({QStringLiteral("export"), QStringLiteral("--unit"), QStringLiteral("0001"), QStringLiteral("--from"),
                  QStringLiteral("2026-12-08T00:00:01Z"), QStringLiteral("--to"), QStringLiteral("2026-12-08T00:00:02"),
                  QStringLiteral("--out"), csvFile}),
             0);
    QFile file(csvFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArrayList lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 3);
    QVERIFY(lines.at(0).startsWith("Time (UTC),Serial Number,Unit Name,Date,Time,Hole Depth In Feet,Gas Units,"));
    QVERIFY(lines.at(0).endsWith(",N Pentane,Bit Depth\r"));
    QVERIFY2(lines.at(1).startsWith("2026-12-08T00:00:01.000Z,0001,0001,\"a\"\"b\",00:00:00,1520.5,N/A,"),
             lines.at(1).constData());
    QCOMPARE(lines.at(1).count(','), lines.at(0).count(','));

    // Raw to standard output: packets and the WITS record between them.
    QByteArray raw;
    QCOMPARE(run({QStringLiteral("export"), QStringLiteral("--unit"), QStringLiteral("0001"), QStringLiteral("--format"),
                  QStringLiteral("raw")},
                 &raw),
             0);
    // Unit 0001's record has only its items (a file from before the records
    // were kept): it is rebuilt from them. Unit 0002's comes back byte for byte.
    QCOMPARE(raw, m_packets.at(0) + "\r\n^,01,0001,261208,000000,01081520.5,01101520.25\r\n" + m_packets.at(1) + "\r\n"
                      + m_packets.at(2) + "\r\n");
    raw.clear();
    QCOMPARE(run({QStringLiteral("export"), QStringLiteral("--unit"), QStringLiteral("0002"), QStringLiteral("--format"),
                  QStringLiteral("raw")},
                 &raw),
             0);
    QCOMPARE(raw, m_packets.at(0) + "\r\n^x,y,z,,9,01081520.50\r\n");
}

QTEST_GUILESS_MAIN(tst_RtHistory)
#include "tst_rthistory.moc"
