#include <QTemporaryDir>
#include <QTest>

#include "rules/config/lookupfile.h"
#include "rules/config/unitsfile.h"
#include "support/files.h"

// The recorder's units file, and what it takes from the lookup table: the
// serial numbers of its rows and the number a serial is looked up by.
class tst_UnitsFile : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void readsAFileAndRefusesWhatIsNoFile();
    void lookupTableSerialsKeepTheirLines();
};

void tst_UnitsFile::parse_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArrayList>("serials");  // the units, "line:serial"
    QTest::addColumn<QString>("fault");           // empty when read

    const QByteArrayList none;
    QTest::newRow("empty") << QByteArray() << none << QString();
    QTest::newRow("comments, blanks and empty lines") << QByteArray("# rigs\n\n  0001  \n\t0002 # spare\n#0003\n")
                                                      << QByteArrayList{"3:0001", "4:0002"} << QString();
    QTest::newRow("CR LF and lone CR") << QByteArray("0001\r\n0002\r0003") << QByteArrayList{"1:0001", "2:0002", "3:0003"}
                                       << QString();
    QTest::newRow("value 0 goes to the default server") << QByteArray("0000\n") << QByteArrayList{"1:0000"} << QString();
    QTest::newRow("two words") << QByteArray("0001\n0002 0003\n") << none << QStringLiteral("line 2: more than one serial number");
    QTest::newRow("control character") << QByteArray("00\x01" "1\n") << none
                                       << QStringLiteral("line 1: a serial number is printable text without blanks");
    QTest::newRow("beyond ASCII") << QByteArray("\n00\xe9" "1\n") << none
                                  << QStringLiteral("line 2: a serial number is printable text without blanks");
    QTest::newRow("too long") << QByteArray(65, '1') << none << QStringLiteral("line 1: serial number longer than 64 characters");
    QTest::newRow("64 characters") << QByteArray(64, '1') << QByteArrayList{"1:" + QByteArray(64, '1')} << QString();
    QTest::newRow("unit 0 by its last three") << QByteArray("1000\n") << none
                                              << QStringLiteral("line 1: 1000 is no unit the lookup table can serve (it looks up the last three characters)");
    QTest::newRow("negative") << QByteArray("-5\n") << none
                              << QStringLiteral("line 1: -5 is no unit the lookup table can serve (it looks up the last three characters)");
    QTest::newRow("same spelling twice") << QByteArray("0001\n# x\n0001\n") << none
                                         << QStringLiteral("line 3: 0001 is the same unit as 0001 on line 1");
    QTest::newRow("1001 is 0001") << QByteArray("0001\n1001\n") << none
                                  << QStringLiteral("line 2: 1001 is the same unit as 0001 on line 1");
    QTest::newRow("1 is 0001") << QByteArray("0001\n0002\n1\n") << none
                               << QStringLiteral("line 3: 1 is the same unit as 0001 on line 1");
    QTest::newRow("two serials of value 0") << QByteArray("0\nabc\n") << none
                                            << QStringLiteral("line 2: abc is the same unit as 0 on line 1");
}

void tst_UnitsFile::parse()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArrayList, serials);
    QFETCH(QString, fault);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("units"));
    support::writeFile(path, text);
    const Result<QList<unitsfile::Entry>> read = unitsfile::read(path);
    if (!fault.isEmpty()) {
        QVERIFY(!read);
        QCOMPARE(read.reason(), fault);
        return;
    }
    QVERIFY2(read, qPrintable(read ? QString() : read.reason()));
    QByteArrayList got;
    for (const unitsfile::Entry &entry : *read)
        got.append(QByteArray::number(entry.line) + ':' + entry.serial);
    QCOMPARE(got, serials);
}

void tst_UnitsFile::readsAFileAndRefusesWhatIsNoFile()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(!unitsfile::read(dir.filePath(QStringLiteral("missing"))));
    QVERIFY(!unitsfile::read(dir.path()));
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    if (support::makeFifo(fifo)) {
        const support::HangGuard guard;
        QVERIFY(!unitsfile::read(fifo));
    }
}

void tst_UnitsFile::lookupTableSerialsKeepTheirLines()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("lookup"));
    // A line of 10 characters or fewer is no row, but keeps its place so
    // that a fault names the table's own line.
    support::writeFile(path, "0001 127.0.0.1 2400\r\n0002 host\r\n0003 10.0.0.1 2402 rig 3\r\n");
    const Result<QList<QByteArray>> serials = lookupTableSerials(path);
    QVERIFY(serials);
    QCOMPARE(*serials, (QList<QByteArray>{"0001", QByteArray(), "0003"}));
    QVERIFY(!lookupTableSerials(dir.filePath(QStringLiteral("missing"))));

    // A table of its own path resolves as the viewer's does, and its
    // not-found line names the path.
    QByteArray address, port;
    QVERIFY(readLookupTable(path, "1003", address, port).isEmpty());
    QCOMPARE(address + ' ' + port, QByteArray("10.0.0.1 2402"));
    QCOMPARE(readLookupTable(dir.filePath(QStringLiteral("gone")), "1", address, port, QTime(1, 2, 3)),
             QList<QByteArray>{"[01:02:03 File not found: " + QFile::encodeName(dir.filePath(QStringLiteral("gone"))) + ']'});
    QCOMPARE(address, QByteArray("10.0.0.1"));
}

QTEST_APPLESS_MAIN(tst_UnitsFile)
#include "tst_unitsfile.moc"
