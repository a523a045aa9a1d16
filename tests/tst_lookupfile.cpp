#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "rules/config/lookupfile.h"
#include "support/files.h"

namespace {

using support::writeFile;

const QTime Evening(21, 5, 7);
const QString LookupName = QStringLiteral("RDVlookup.TXT");
const QByteArray NotFound = QByteArrayLiteral("[21:05:07 File not found: RDVlookup.TXT]");

QList<QByteArray> error(const char *description)
{
    return {QByteArrayLiteral("[Load lookup table ERR: ") + description + ']'};
}

} // namespace

class tst_LookupFile : public QObject
{
    Q_OBJECT

private slots:
    void defaultServer_data();
    void defaultServer();
    void lookup_data();
    void lookup();
    void unitOfSerial_data();
    void unitOfSerial();
    void missingFileKeepsPreviousLookup();
    void readsTheFileAfresh();
    void shippedSample();
};

void tst_LookupFile::defaultServer_data()
{
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<bool>("fileMissing");

    for (const char *serial : {"0", "0000", "", "-0", "0.0", "   0", "abc1"}) {
        QTest::addRow("'%s', file missing", serial) << QByteArray(serial) << true;
        QTest::addRow("'%s', empty file", serial) << QByteArray(serial) << false;
    }
}

void tst_LookupFile::defaultServer()
{
    // An empty table would be reported if it were read, a missing one would
    // be reported as not found: neither may be touched for unit 0.
    QFETCH(QByteArray, serial);
    QFETCH(bool, fileMissing);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (!fileMissing)
        writeFile(dir.filePath(LookupName), QByteArray());

    QByteArray address = QByteArrayLiteral("prev.example");
    QByteArray port = QByteArrayLiteral("9");
    QCOMPARE(readlookupfile(dir.path(), serial, address, port, Evening), QList<QByteArray>{});
    QCOMPARE(address, QByteArrayLiteral("127.0.0.1"));
    QCOMPARE(port, QByteArrayLiteral("2400"));
}

void tst_LookupFile::lookup_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("port");
    QTest::addColumn<QList<QByteArray>>("reports");

    const QList<QByteArray> none;
    const QByteArray table = QByteArrayLiteral("0001 127.0.0.1 2400\r\n"
                                               "0002 unit0002.example 2402\r\n"
                                               "0007 unit0007.example 2407\r\n");

    QTest::newRow("0001 finds its row") << table << QByteArrayLiteral("0001")
                                        << QByteArrayLiteral("127.0.0.1") << QByteArrayLiteral("2400") << none;
    QTest::newRow("a later row") << table << QByteArrayLiteral("0007")
                                 << QByteArrayLiteral("unit0007.example") << QByteArrayLiteral("2407") << none;
    QTest::newRow("1001 finds unit 1") << table << QByteArrayLiteral("1001")
                                       << QByteArrayLiteral("127.0.0.1") << QByteArrayLiteral("2400") << none;
    QTest::newRow("only the last three characters count")
        << table << QByteArrayLiteral("9002") << QByteArrayLiteral("unit0002.example")
        << QByteArrayLiteral("2402") << none;
    QTest::newRow("1000 finds nothing, even row 1000")
        << QByteArrayLiteral("1000 unit1000.example 1000\r\n0000 unit0000.example 1\r\n"
                             "000 unit000.example 2\r\n")
        << QByteArrayLiteral("1000") << QByteArray() << QByteArray() << none;
    QTest::newRow("no row for the unit") << table << QByteArrayLiteral("0003")
                                         << QByteArray() << QByteArray() << none;
    QTest::newRow("negative unit never matches")
        << QByteArrayLiteral("-1 minus.example 1\r\n") << QByteArrayLiteral("-1")
        << QByteArray() << QByteArray() << none;
    QTest::newRow("row with text before the number never matches")
        << QByteArrayLiteral("unit 0001 a.example 1\r\n x0001 b.example 2\r\n")
        << QByteArrayLiteral("0001") << QByteArray() << QByteArray() << none;

    for (const char *row : {"7 unit7.example 77", "07 unit7.example 77", "007 unit7.example 77",
                            "0007 unit7.example 77"}) {
        QTest::addRow("serial 7, row '%s'", row)
            << QByteArray(row) + "\r\n" << QByteArrayLiteral("7") << QByteArrayLiteral("unit7.example")
            << QByteArrayLiteral("77") << none;
    }
    QTest::newRow("serial 07") << table << QByteArrayLiteral("07")
                               << QByteArrayLiteral("unit0007.example") << QByteArrayLiteral("2407") << none;

    QTest::newRow("upper of two rows wins")
        << QByteArrayLiteral("0002 x.example 1\r\n0001 upper.example 10\r\n0001 lower.example 20\r\n")
        << QByteArrayLiteral("0001") << QByteArrayLiteral("upper.example") << QByteArrayLiteral("10") << none;
    QTest::newRow("10-character line ignored")
        << QByteArrayLiteral("0001 a.b 1\r\n0001 second.example 2\r\n")
        << QByteArrayLiteral("0001") << QByteArrayLiteral("second.example") << QByteArrayLiteral("2") << none;
    QTest::newRow("11-character line is a row, short host copied")
        << QByteArrayLiteral("0001 ab.c 1\r\n0001 second.example 2\r\n")
        << QByteArrayLiteral("0001") << QByteArrayLiteral("ab.c") << QByteArrayLiteral("1") << none;
    QTest::newRow("two blanks make an empty host")
        << QByteArrayLiteral("0001  host.example 2400\r\n")
        << QByteArrayLiteral("0001") << QByteArray() << QByteArrayLiteral("host.example") << none;
    QTest::newRow("further columns ignored, texts unchanged")
        << QByteArrayLiteral("0001 Host.Example 2400x spare text\r\n")
        << QByteArrayLiteral("0001") << QByteArrayLiteral("Host.Example") << QByteArrayLiteral("2400x") << none;
    QTest::newRow("trailing blank")
        << QByteArrayLiteral("0001 a.example 2400 \r\n")
        << QByteArrayLiteral("0001") << QByteArrayLiteral("a.example") << QByteArrayLiteral("2400") << none;
    QTest::newRow("tab is no separator")
        << QByteArrayLiteral("0001 a.example\t2400 x\r\n")
        << QByteArrayLiteral("0001") << QByteArrayLiteral("a.example\t2400") << QByteArrayLiteral("x") << none;

    QTest::newRow("CR line ends")
        << QByteArrayLiteral("0002 b.example 2\r0001 a.example 1\r")
        << QByteArrayLiteral("0001") << QByteArrayLiteral("a.example") << QByteArrayLiteral("1") << none;
    QTest::newRow("LF line ends")
        << QByteArrayLiteral("0002 b.example 2\n0001 a.example 1\n")
        << QByteArrayLiteral("0001") << QByteArrayLiteral("a.example") << QByteArrayLiteral("1") << none;
    QTest::newRow("last line unterminated")
        << QByteArrayLiteral("0002 b.example 2\r\n0001 a.example 1")
        << QByteArrayLiteral("0001") << QByteArrayLiteral("a.example") << QByteArrayLiteral("1") << none;
    QTest::newRow("blank line only") << QByteArrayLiteral("\r\n") << QByteArrayLiteral("0001")
                                     << QByteArray() << QByteArray() << none;

    QTest::newRow("empty file") << QByteArray() << QByteArrayLiteral("0001")
                                << QByteArray() << QByteArray() << error("Input past end of file");
    QTest::newRow("two-column row")
        << QByteArrayLiteral("0002 b.example\r\n0001 host.example\r\n0001 later.example 1\r\n")
        << QByteArrayLiteral("0001") << QByteArray() << QByteArray() << error("Subscript out of range");
    QTest::newRow("row number overflow")
        << QByteArrayLiteral("99999999999 big.example 1\r\n0001 a.example 1\r\n")
        << QByteArrayLiteral("0001") << QByteArray() << QByteArray() << error("Overflow");
    QTest::newRow("unit number overflow")
        << table << QByteArrayLiteral("9e9") << QByteArray() << QByteArray() << error("Overflow");
}

void tst_LookupFile::lookup()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArray, serial);
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, port);
    QFETCH(QList<QByteArray>, reports);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath(LookupName), content);

    // Every outcome with a table present replaces the previous lookup.
    QByteArray gotAddress = QByteArrayLiteral("prev.example");
    QByteArray gotPort = QByteArrayLiteral("9");
    QCOMPARE(readlookupfile(dir.path(), serial, gotAddress, gotPort, Evening), reports);
    QCOMPARE(gotAddress, address);
    QCOMPARE(gotPort, port);
}

// The unit a serial names, as the history records it: the table's own
// spelling of the row the lookup connects to, so that every spelling of a
// unit is one unit; none where the lookup finds no row.
void tst_LookupFile::unitOfSerial_data()
{
    QTest::addColumn<QByteArray>("serial");
    QTest::addColumn<QByteArray>("unit");  // empty: no unit
    QTest::newRow("as the table spells it") << QByteArray("0001") << QByteArray("0001");
    QTest::newRow("other digits in front") << QByteArray("1001") << QByteArray("0001");
    QTest::newRow("without zeros") << QByteArray("1") << QByteArray("0001");
    QTest::newRow("three digits") << QByteArray("001") << QByteArray("0001");
    QTest::newRow("the upper of two rows") << QByteArray("9001") << QByteArray("0001");
    QTest::newRow("short row spelling") << QByteArray("7") << QByteArray("07");
    QTest::newRow("long serial of a short row") << QByteArray("5007") << QByteArray("07");
    QTest::newRow("letters in front: value 0, the default server") << QByteArray("AB002") << QByteArray();
    QTest::newRow("letters behind") << QByteArray("2AB") << QByteArray("0002");
    QTest::newRow("last three make 0") << QByteArray("1000") << QByteArray();
    QTest::newRow("the default server") << QByteArray("0000") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("no row") << QByteArray("9") << QByteArray();
    QTest::newRow("text") << QByteArray("abc") << QByteArray();
}

void tst_LookupFile::unitOfSerial()
{
    QFETCH(QByteArray, serial);
    QFETCH(QByteArray, unit);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath(LookupName),
              "0001 a.example 2400\r\n07 b.example 1\r\n0002 c.example 2\r\n1 d.example 3\r\n");
    const Result<std::optional<QByteArray>> found = lookupUnit(dir.filePath(LookupName), serial);
    QVERIFY(found);
    QCOMPARE(found->value_or(QByteArray()), unit);
    // The same row the lookup connects to.
    QByteArray address;
    QByteArray port;
    QVERIFY(readlookupfile(dir.path(), serial, address, port, Evening).isEmpty());
    if (!unit.isEmpty())
        QCOMPARE(address.left(1), QByteArray(unit == "07" ? "b" : unit == "0002" ? "c" : "a"));

    // A table that cannot be read is a failure, not "no unit".
    QVERIFY(!lookupUnit(dir.filePath(QStringLiteral("absent.TXT")), "0001"));
}

void tst_LookupFile::missingFileKeepsPreviousLookup()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray address;
    QByteArray port;

    QCOMPARE(readlookupfile(dir.path(), QByteArrayLiteral("0001"), address, port, Evening),
             QList<QByteArray>{NotFound});
    QVERIFY(address.isEmpty() && port.isEmpty());

    writeFile(dir.filePath(LookupName), QByteArrayLiteral("0001 first.example 2400\r\n"));
    QCOMPARE(readlookupfile(dir.path(), QByteArrayLiteral("0001"), address, port, Evening),
             QList<QByteArray>{});
    QCOMPARE(address, QByteArrayLiteral("first.example"));

    QVERIFY(QFile::remove(dir.filePath(LookupName)));
    QCOMPARE(readlookupfile(dir.path(), QByteArrayLiteral("0002"), address, port, QTime(7, 3, 0)),
             QList<QByteArray>{QByteArrayLiteral("[07:03:00 File not found: RDVlookup.TXT]")});
    QCOMPARE(address, QByteArrayLiteral("first.example"));
    QCOMPARE(port, QByteArrayLiteral("2400"));

    // A folder in the file's place cannot be read either.
    QVERIFY(QDir(dir.path()).mkdir(LookupName));
    QCOMPARE(readlookupfile(dir.path(), QByteArrayLiteral("0001"), address, port, Evening),
             QList<QByteArray>{NotFound});
    QCOMPARE(address, QByteArrayLiteral("first.example"));
    QCOMPARE(port, QByteArrayLiteral("2400"));
}

void tst_LookupFile::readsTheFileAfresh()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray address;
    QByteArray port;

    writeFile(dir.filePath(LookupName), QByteArrayLiteral("0001 before.example 1\r\n"));
    QVERIFY(readlookupfile(dir.path(), QByteArrayLiteral("0001"), address, port, Evening).isEmpty());
    QCOMPARE(address, QByteArrayLiteral("before.example"));

    writeFile(dir.filePath(LookupName), QByteArrayLiteral("0001 after.example 2\r\n"));
    QVERIFY(readlookupfile(dir.path(), QByteArrayLiteral("0001"), address, port, Evening).isEmpty());
    QCOMPARE(address, QByteArrayLiteral("after.example"));
    QCOMPARE(port, QByteArrayLiteral("2"));
}

void tst_LookupFile::shippedSample()
{
    const QString path = QFINDTESTDATA("../config/RDVlookup.TXT");
    QVERIFY2(!path.isEmpty(), "config/RDVlookup.TXT not found");
    const QString programDir = QFileInfo(path).absolutePath();

    QByteArray address;
    QByteArray port;
    QCOMPARE(readlookupfile(programDir, QByteArrayLiteral("0001"), address, port, Evening),
             QList<QByteArray>{});
    QCOMPARE(address, QByteArrayLiteral("127.0.0.1"));
    QCOMPARE(port, QByteArrayLiteral("2400"));

    // With no comment syntax every line is a row: each must be a clean one
    // that points at this machine or at a documentation name.
    QFile raw(path);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    QVERIFY(bytes.endsWith("\r\n"));
    QByteArrayList lines = bytes.split('\n');
    QVERIFY(lines.takeLast().isEmpty());
    QVERIFY(lines.size() >= 3);
    for (QByteArray line : lines) {
        QVERIFY2(line.endsWith('\r'), "CR LF line ends");
        line.chop(1);
        QVERIFY2(line.size() > 10, line.constData());
        const QByteArrayList columns = line.split(' ');
        QCOMPARE(columns.size(), 3);
        bool ok = false;
        QVERIFY(columns.at(0).toInt(&ok) > 0 && ok);
        const QByteArray host = columns.at(1);
        QVERIFY2(host.startsWith("127.") || host.endsWith(".example") || host.contains(".example."),
                 host.constData());
        const int portNumber = columns.at(2).toInt(&ok);
        QVERIFY(ok && portNumber > 0 && portNumber < 65536);

        QByteArray rowAddress;
        QByteArray rowPort;
        QVERIFY(readlookupfile(programDir, columns.at(0), rowAddress, rowPort, Evening).isEmpty());
        QVERIFY2(!rowAddress.isEmpty(), "every row can be found by its number");
    }
}

QTEST_APPLESS_MAIN(tst_LookupFile)
#include "tst_lookupfile.moc"
