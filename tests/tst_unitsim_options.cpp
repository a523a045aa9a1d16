#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include "unitsim/safefile.h"
#include "unitsim/simoptions.h"
#include "support/texts.h"

#include <sys/stat.h>

namespace {

using support::words;

SimOptions::Outcome parse(const QStringList &arguments)
{
    return SimOptions::parse(QStringList{QStringLiteral("unit-sim")} + arguments);
}

} // namespace

class TestUnitSimOptions : public QObject
{
    Q_OBJECT

private slots:
    void defaults();
    void accepted();
    void refused_data();
    void refused();
    void replayReadsTheFile();
    void helpNamesEveryOption();
    void refusesSpecialFiles_data();
    void refusesSpecialFiles();
    void writesThroughRename();
};

void TestUnitSimOptions::defaults()
{
    const SimOptions::Outcome outcome = parse({});
    QCOMPARE(outcome.status, SimOptions::Outcome::Status::Run);
    const SimOptions &o = outcome.options;
    QCOMPARE(o.host.toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(o.port, quint16(2400));
    QCOMPARE(o.user, QByteArray("operator"));
    QCOMPARE(o.password, QByteArray("rig2400"));
    QCOMPARE(o.rate, 1.0);
    QCOMPARE(o.witsPeriod, 5.0);
    QCOMPARE(o.name, QByteArray("0001"));
    QCOMPARE(o.lineEnd(), QByteArray("\r\n"));
    QVERIFY(!o.seeded);
    QVERIFY(!o.startTime.isValid());
    QVERIFY(o.alarm.isEmpty() && o.gas.isEmpty());
    QVERIFY(!o.split && o.batch == 1 && o.junkBytes == 0 && o.closeAfter == 0 && o.resetAfter == 0);
    QVERIFY(o.silentAfter < 0 && o.witsStopAfter < 0);
    QVERIFY(!o.replaying());
}

void TestUnitSimOptions::accepted()
{
    const SimOptions::Outcome outcome = parse(words(
        "--host localhost --port 0 --user alice --password s3cret --seed 42 --rate 0.5"
        " --wits-period 0 --uptime-period 2.5 --name RIG-9 --no-lf --start-time 2024-03-01T06:00:00"
        " --alarm 1203 --gas 1199.6 --bad-checksum 3 --split --split-gap 20 --batch 4 --wits-glued"
        " --junk 256 --burst 10 --burst-size 7000 --long-packet 5 --no-comma 6 --non-numeric 7"
        " --wits-stop 30 --silent-after 0 --close-after 9 --accept-delay 1.5"));
    QCOMPARE(outcome.status, SimOptions::Outcome::Status::Run);
    const SimOptions &o = outcome.options;
    QCOMPARE(o.host.toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(o.port, quint16(0));
    QCOMPARE(o.user, QByteArray("alice"));
    QCOMPARE(o.password, QByteArray("s3cret"));
    QVERIFY(o.seeded);
    QCOMPARE(o.seed, quint64(42));
    QCOMPARE(o.rate, 0.5);
    QCOMPARE(o.witsPeriod, 0.0);
    QCOMPARE(o.uptimePeriod, 2.5);
    QCOMPARE(o.name, QByteArray("RIG-9"));
    QCOMPARE(o.lineEnd(), QByteArray("\r"));
    QCOMPARE(o.startTime, QDateTime(QDate(2024, 3, 1), QTime(6, 0)));
    QCOMPARE(o.alarm, QByteArray("1203"));
    QCOMPARE(o.gas, QByteArray("1199.6"));
    QCOMPARE(o.badChecksumEvery, 3);
    QVERIFY(o.split);
    QCOMPARE(o.splitGapMs, 20);
    QCOMPARE(o.batch, 4);
    QVERIFY(o.witsGlued);
    QCOMPARE(o.junkBytes, 256);
    QCOMPARE(o.burstEvery, 10.0);
    QCOMPARE(o.burstSize, 7000);
    QCOMPARE(o.longPacketEvery, 5);
    QCOMPARE(o.noCommaEvery, 6);
    QCOMPARE(o.nonNumericEvery, 7);
    QCOMPARE(o.witsStopAfter, 30.0);
    QCOMPARE(o.silentAfter, 0.0);
    QCOMPARE(o.closeAfter, 9);
    QCOMPARE(o.acceptDelay, 1.5);

    QCOMPARE(parse(words("--reset-after 4")).options.resetAfter, 4);
    QCOMPARE(parse(words("--host any")).options.host, QHostAddress(QHostAddress::AnyIPv4));
    QCOMPARE(parse(words("--host ::1")).options.host, QHostAddress(QHostAddress::LocalHostIPv6));

    const SimOptions fleet = parse(words("--units 999 --port 0 --write-lookup lk --drop-every 7.5 --sent-log s")).options;
    QVERIFY(fleet.unitCount() == 999 && fleet.lookupFile == QLatin1String("lk") && fleet.dropEvery == 7.5
            && fleet.sentLogFile == QLatin1String("s") && !parse({}).options.fleet());
    // The last port, more units than a table can reach, a name it can.
    for (const char *line : {"--units 5 --port 65531", "--units 9999 --port 0", "--name 0042 --write-lookup lk"})
        QCOMPARE(parse(words(line)).status, SimOptions::Outcome::Status::Run);
}

void TestUnitSimOptions::refused_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::addColumn<QString>("mention");

    QTest::newRow("unknown option") << "--bogus" << "bogus";
    QTest::newRow("stray argument") << "2400" << "2400";
    QTest::newRow("missing value") << "--port" << "port";
    QTest::newRow("port too big") << "--port 65536" << "--port";
    QTest::newRow("port not a number") << "--port 24x0" << "--port";
    QTest::newRow("host not an address") << "--host rig.example" << "--host";
    QTest::newRow("rate zero") << "--rate 0" << "--rate";
    QTest::newRow("rate negative") << "--rate -1" << "--rate";
    QTest::newRow("rate too high") << "--rate 1001" << "--rate";
    QTest::newRow("rate not a number") << "--rate fast" << "--rate";
    QTest::newRow("rate not finite") << "--rate inf" << "--rate";
    QTest::newRow("negative period") << "--wits-period -5" << "--wits-period";
    QTest::newRow("user too short") << "--user ab" << "--user";
    QTest::newRow("user too long") << "--user abcdefghijk" << "--user";
    QTest::newRow("password with comma") << "--password ab,cd" << "--password";
    QTest::newRow("name with comma") << "--name 00,1" << "--name";
    QTest::newRow("alarm not a number") << "--alarm high" << "--alarm";
    QTest::newRow("gas not a number") << "--gas lots" << "--gas";
    QTest::newRow("seed negative") << "--seed -1" << "--seed";
    QTest::newRow("start time") << "--start-time yesterday" << "--start-time";
    QTest::newRow("bad checksum zero") << "--bad-checksum 0" << "--bad-checksum";
    QTest::newRow("junk too much") << "--junk 257" << "--junk";
    QTest::newRow("batch zero") << "--batch 0" << "--batch";
    QTest::newRow("burst zero") << "--burst 0" << "--burst";
    QTest::newRow("close after zero") << "--close-after 0" << "--close-after";
    QTest::newRow("close and reset") << "--close-after 3 --reset-after 3" << "--reset-after";
    QTest::newRow("split gap alone") << "--split-gap 10" << "--split";
    QTest::newRow("burst size alone") << "--burst-size 9000" << "--burst";
    QTest::newRow("replay rate alone") << "--replay-rate 10" << "--replay";
    QTest::newRow("missing replay file") << "--replay /nonexistent/traffic.bin" << "/nonexistent/traffic.bin";
    QTest::newRow("no units") << "--units 0" << "--units";
    QTest::newRow("too many units") << "--units 10000" << "--units";
    QTest::newRow("units not a number") << "--units many" << "--units";
    QTest::newRow("units past the last port") << "--units 10 --port 65530" << "65535";
    QTest::newRow("a name for a fleet") << "--units 3 --name 0007" << "--name";
    QTest::newRow("lookup past 999 units") << "--units 1000 --port 0 --write-lookup RDVlookup.TXT" << "999";
    QTest::newRow("lookup for IPv6") << "--host ::1 --write-lookup RDVlookup.TXT" << "IPv4";
    QTest::newRow("lookup for a name not found") << "--name RIG-9 --write-lookup RDVlookup.TXT" << "RIG-9";
    QTest::newRow("lookup for a name past 999") << "--name 1001 --write-lookup RDVlookup.TXT" << "1001";
    QTest::newRow("drop every zero") << "--drop-every 0" << "--drop-every";
    QTest::newRow("drop every negative") << "--drop-every -3" << "--drop-every";
    QTest::newRow("drop every not a number") << "--drop-every often" << "--drop-every";
}

void TestUnitSimOptions::refused()
{
    QFETCH(QString, arguments);
    QFETCH(QString, mention);
    const SimOptions::Outcome outcome = parse(arguments.split(QLatin1Char(' ')));
    QCOMPARE(outcome.status, SimOptions::Outcome::Status::Error);
    QVERIFY2(outcome.text.contains(mention), qPrintable(outcome.text));
}

void TestUnitSimOptions::replayReadsTheFile()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    const QByteArray bytes("*1,2,C99,\r\n^,a,b,c,d,01081.0\r\n");
    file.write(bytes);
    file.flush();

    const SimOptions::Outcome outcome = parse({QStringLiteral("--replay"), file.fileName(),
                                               QStringLiteral("--replay-rate"), QStringLiteral("5000"),
                                               QStringLiteral("--split")});
    QCOMPARE(outcome.status, SimOptions::Outcome::Status::Run);
    QCOMPARE(outcome.options.replayBytes, bytes);
    QCOMPARE(outcome.options.replayRate, 5000.0);
    QVERIFY(outcome.options.replaying());

    // Options of the generated stream would silently do nothing here.
    const SimOptions::Outcome mixed = parse({QStringLiteral("--replay"), file.fileName(),
                                             QStringLiteral("--rate"), QStringLiteral("5")});
    QCOMPARE(mixed.status, SimOptions::Outcome::Status::Error);
    QVERIFY(mixed.text.contains(QStringLiteral("--rate")));

    QTemporaryFile empty;
    QVERIFY(empty.open());
    QCOMPARE(parse({QStringLiteral("--replay"), empty.fileName()}).status, SimOptions::Outcome::Status::Error);
}

void TestUnitSimOptions::helpNamesEveryOption()
{
    const SimOptions::Outcome outcome = parse({QStringLiteral("--help")});
    QCOMPARE(outcome.status, SimOptions::Outcome::Status::Help);
    const QStringList options = words(
        "host port user password seed rate wits-period uptime-period name no-lf start-time alarm gas"
        " bad-checksum split split-gap batch wits-glued junk burst burst-size long-packet no-comma"
        " non-numeric wits-stop silent-after close-after reset-after accept-delay replay replay-rate"
        " replay-loop units write-lookup drop-every sent-log");
    for (const QString &option : options)
        QVERIFY2(outcome.text.contains(QStringLiteral("--") + option + QLatin1Char(' ')), qPrintable(option));
    QVERIFY(outcome.text.contains(QStringLiteral("unit-sim listening on <host>:<port>")));
    QVERIFY(outcome.text.contains(QStringLiteral("default operator")));
}

void TestUnitSimOptions::refusesSpecialFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("why");

    QTest::newRow("named pipe") << "fifo" << "a named pipe";
    QTest::newRow("link to a named pipe") << "link to fifo" << "a link to a named pipe";
    QTest::newRow("device") << "device" << "a device";
    QTest::newRow("link to a device") << "link to device" << "a link to a device";
    QTest::newRow("folder") << "folder" << "a folder";
    QTest::newRow("link to nothing") << "dangling link" << "a link that leads nowhere";
}

void TestUnitSimOptions::refusesSpecialFiles()
{
    QFETCH(QString, kind);
    QFETCH(QString, why);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("pipe"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString path = dir.filePath(QStringLiteral("RDVlookup.TXT"));
    if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == QLatin1String("link to fifo"))
        QVERIFY(QFile::link(fifo, path));
    else if (kind == QLatin1String("link to device"))
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), path));
    else if (kind == QLatin1String("folder"))
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("RDVlookup.TXT")));
    else if (kind == QLatin1String("dangling link"))
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), path));
    const QString target = kind == QLatin1String("device") ? QStringLiteral("/dev/null") : path;

    QCOMPARE(SafeFile::refusal(target), why);
    QString error;
    QVERIFY(!SafeFile::writeWhole(target, "0001 127.0.0.1 2400\r\n", &error));
    QVERIFY2(error.contains(why), qPrintable(error));
    QVERIFY(!SafeFile::createLog(target, &error));
    QVERIFY2(error.contains(why), qPrintable(error));
    // Nothing was put in its place, and nothing left beside it.
    QVERIFY(!QFileInfo(target).isFile() || kind == QLatin1String("device"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(),
             kind == QLatin1String("device") ? 1 : 2);
}

void TestUnitSimOptions::writesThroughRename()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("RDVlookup.TXT"));
    auto contents = [](const QString &name) {
        QFile file(name);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    };
    QString error;
    QVERIFY2(SafeFile::writeWhole(path, "first\r\n", &error), qPrintable(error));
    // A reader holding the old file keeps reading the old file: the new one
    // replaces it, it is not written into.
    QFile held(path);
    QVERIFY(held.open(QIODevice::ReadOnly));
    QVERIFY2(SafeFile::writeWhole(path, "second\r\n", &error), qPrintable(error));
    QCOMPARE(held.readAll(), QByteArray("first\r\n"));
    QCOMPARE(contents(path), QByteArray("second\r\n"));

    // A log starts empty over an old one and shows what is flushed.
    const std::unique_ptr<QFile> log = SafeFile::createLog(path, &error);
    QVERIFY2(log, qPrintable(error));
    QCOMPARE(contents(path), QByteArray());
    log->write("0001,1,1700000000000\n");
    QVERIFY(log->flush());
    QCOMPARE(contents(path), QByteArray("0001,1,1700000000000\n"));
    // Nothing left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot).size(), 1);
}

QTEST_APPLESS_MAIN(TestUnitSimOptions)
#include "tst_unitsim_options.moc"
