#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include "unitsim/fleetplan.h"
#include "unitsim/packetbuilder.h"
#include "unitsim/randomsource.h"
#include "unitsim/rigmodel.h"
#include "unitsim/streamshaper.h"
#include "unitsim/witsbuilder.h"
#include "support/packets.h"

namespace {

using support::checksumPasses;

RigModel::Settings fixedClock()
{
    RigModel::Settings settings;
    settings.startTime = QDateTime(QDate(2024, 3, 1), QTime(6, 0, 0));
    return settings;
}

double number(const QByteArray &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok ? value : qQNaN();
}

} // namespace

class TestUnitSimPacket : public QObject
{
    Q_OBJECT

private slots:
    void checksum_data();
    void checksum();
    void workedExample();
    void corruptedChecksumFails();
    void packetWithoutComma();
    void fieldsInTableOrder();
    void builtPacketsPassTheChecksum();
    void rigEvolves();
    void bitDepthFollowsHoleDepth();
    void fixedGasAndAlarm();
    void seededRunsRepeat();
    void witsRecordLayout();
    void shaperJunk();
    void shaperBatchAndGlue();
    void shaperSplit();
    void uptimeLeavesTheReadings();
    void fleetNamesPortsAndSeeds();
    void fleetShowsAMix();
    void lookupTableFindsEveryUnit();
};

void TestUnitSimPacket::checksum_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("expected");

    QTest::newRow("worked example") << QByteArray("*100,200,") << 165;
    QTest::newRow("empty") << QByteArray() << 0;
    QTest::newRow("exactly 256") << QByteArray("\x80\x80", 2) << 0;
    QTest::newRow("high bytes") << QByteArray("*\xff,", 3) << (42 + 255 + 44) % 256;
    QTest::newRow("long") << QByteArray(1000, '9') << (1000 * 57) % 256;
}

void TestUnitSimPacket::checksum()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, expected);
    QCOMPARE(PacketBuilder::checksum(bytes), expected);
}

void TestUnitSimPacket::workedExample()
{
    const QByteArrayList fields{"100", "200"};
    QCOMPARE(PacketBuilder::body(fields), QByteArray("*100,200,"));
    QCOMPARE(PacketBuilder::build(fields, "\r\n"), QByteArray("*100,200,C165,\r\n"));
    QCOMPARE(PacketBuilder::build(fields, "\r"), QByteArray("*100,200,C165,\r"));
    QVERIFY(checksumPasses("*100,200,C165,"));
    QVERIFY(!checksumPasses("*100,200,C166,"));
}

void TestUnitSimPacket::corruptedChecksumFails()
{
    const QByteArrayList fields{"0001", "1523.4", "5"};
    const QByteArray good = PacketBuilder::build(fields, "\r");
    QVERIFY(checksumPasses(good.chopped(1)));
    const int right = PacketBuilder::checksum(PacketBuilder::body(fields));
    const QByteArray bad = PacketBuilder::build(fields, "\r", (right + 7) % 256);
    QVERIFY(!checksumPasses(bad.chopped(1)));
    QCOMPARE(bad.left(bad.indexOf('C')), good.left(good.indexOf('C')));
}

void TestUnitSimPacket::packetWithoutComma()
{
    QCOMPARE(PacketBuilder::buildWithoutComma("0001", "\r\n"), QByteArray("*0001\r\n"));
    QVERIFY(!PacketBuilder::buildWithoutComma("a,b", "\r").contains(','));
}

void TestUnitSimPacket::fieldsInTableOrder()
{
    RigModel::Settings settings = fixedClock();
    settings.unitName = "U-7";
    RigModel rig(settings, 11);
    for (int i = 0; i < 3; ++i)
        rig.advance();
    const QByteArrayList f = rig.fields();

    QCOMPARE(f.size(), 40);
    auto field = [&f](int index) { return f.at(index - 1); };
    auto value = [&](int index) { return number(field(index)); };
    const QRegularExpression oneDecimal(QStringLiteral("^\\d+\\.\\d$"));

    QCOMPARE(field(1), QByteArray("U-7"));
    QCOMPARE(field(2), QByteArray("03/01/2024"));
    QCOMPARE(field(3), QByteArray("06:00:03"));
    QVERIFY(oneDecimal.match(QString::fromLatin1(field(4))).hasMatch());
    QCOMPARE(field(4), rig.holeDepthText());
    QVERIFY(value(5) >= 0 && value(5) < 3000);              // gas units
    QVERIFY(value(6) >= 20.6 && value(6) <= 21.0);          // % O2
    QVERIFY(value(7) >= 0.03 && value(7) <= 0.12);          // % CO2
    QVERIFY(value(9) >= 22 && value(9) <= 34);              // temp
    QVERIFY(rig.onBottom());
    QVERIFY(qAbs(value(10) * value(11) - 60.0) < 1.0);      // min/ft and ft/hr describe one rate
    QVERIFY(value(12) >= 55 && value(12) <= 65);            // sample LPH
    QVERIFY(value(14) >= 12.8 && value(14) <= 13.9);        // volts DC
    QVERIFY(value(19) >= 0.4 && value(19) <= 0.42);         // H2S volts
    QVERIFY(value(24) >= 114 && value(24) <= 126);          // AC volts
    QVERIFY(value(25) >= 59.85 && value(25) <= 60.15);      // AC freq
    QCOMPARE(field(29), QByteArray("3"));                   // packet number
    QVERIFY(value(36) >= 39.5 && value(36) <= 40.5);        // column temp
    QVERIFY(value(37) < value(4) && value(37) > value(4) - 50); // lag depth trails
    // The chromatograph row: methane to pentane, each a smaller share of the gas.
    const QList<int> chromatograph{30, 31, 32, 34, 33, 40, 39};
    QVERIFY(qAbs(value(30) / value(5) - 6.2) < 0.5);
    for (int i = 1; i < chromatograph.size(); ++i)
        QVERIFY2(value(chromatograph.at(i)) <= value(chromatograph.at(i - 1)), qPrintable(QString::number(i)));
    for (const QByteArray &text : f)
        QVERIFY(!text.contains(',') && !text.contains('\r') && !text.isEmpty());
}

void TestUnitSimPacket::builtPacketsPassTheChecksum()
{
    RigModel rig(fixedClock(), 5);
    for (int i = 0; i < 300; ++i) {
        rig.advance();
        const QByteArray packet = PacketBuilder::build(rig.fields(), "\r\n");
        QVERIFY(packet.endsWith(",\r\n"));
        QCOMPARE(packet.count('\r'), 1);
        const QByteArray text = packet.chopped(2);
        QVERIFY2(checksumPasses(text), text.constData());
        const QByteArrayList pieces = text.split(',');
        QCOMPARE(pieces.size(), 42);
        QCOMPARE(pieces.front(), QByteArray("*0001"));
        QVERIFY(pieces.at(40).startsWith('C'));
        QVERIFY(pieces.at(41).isEmpty());
        QCOMPARE(pieces.at(28), QByteArray::number(i + 1));
    }
}

void TestUnitSimPacket::rigEvolves()
{
    RigModel rig(fixedClock(), 3);
    QSet<QByteArray> errors;
    bool below1200 = false, above1400 = false, above1750 = false, backBelow1200 = false;
    double firstDepth = number(rig.holeDepthText());
    double hobbsStart = number(rig.fields().at(37));
    for (int i = 0; i < 2000; ++i) {
        rig.advance();
        const QByteArrayList f = rig.fields();
        errors.insert(f.at(20));
        const double gas = number(f.at(4));
        below1200 |= gas < 1200;
        above1400 |= below1200 && gas > 1400;
        above1750 |= above1400 && gas > 1750;
        backBelow1200 |= above1750 && gas < 1200;
    }
    QVERIFY(below1200 && above1400 && above1750 && backBelow1200);
    // Quiet stretches, an alarm sent with extra digits, and one nobody knows.
    QVERIFY(errors.contains("0"));
    QVERIFY(errors.contains("1203"));
    QVERIFY(errors.contains("27"));
    QVERIFY(errors.contains("5"));
    // 2000 s of drilling at 25 to 140 ft/hr, less the time off bottom.
    const double drilled = number(rig.holeDepthText()) - firstDepth;
    QVERIFY2(drilled > 5 && drilled < 80, qPrintable(QString::number(drilled)));
    QCOMPARE(number(rig.fields().at(37)), std::round((hobbsStart + 2000.0 / 3600.0) * 10) / 10);
}

void TestUnitSimPacket::bitDepthFollowsHoleDepth()
{
    RigModel rig(fixedClock(), 9);
    int onBottom = 0, offBottom = 0;
    for (int i = 0; i < 600; ++i) {
        rig.advance();
        const QByteArray hole = rig.fields().at(3);
        const QList<WitsBuilder::Item> items = rig.witsItems();
        QCOMPARE(items.front().code, 108);
        QCOMPARE(items.at(1).code, 110);
        QCOMPARE(items.at(1).value, hole);
        const QByteArray bit = items.front().value;
        if (rig.onBottom()) {
            ++onBottom;
            QCOMPARE(bit, hole);
            QVERIFY(number(rig.fields().at(10)) > 0);
        } else {
            ++offBottom;
            QVERIFY(bit != hole);
            const double above = number(hole) - number(bit);
            QVERIFY2(above >= 0.95 && above <= 30.05, qPrintable(QString::number(above)));
            QCOMPARE(rig.fields().at(10), QByteArray("0.0"));
        }
    }
    QVERIFY(onBottom > 100);
    QVERIFY(offBottom > 20);
}

void TestUnitSimPacket::fixedGasAndAlarm()
{
    RigModel::Settings settings = fixedClock();
    settings.fixedGas = "1199.6";
    settings.fixedAlarm = "1203";
    RigModel rig(settings, 1);
    for (int i = 0; i < 200; ++i) {
        rig.advance();
        QCOMPARE(rig.fields().at(4), QByteArray("1199.6"));
        QCOMPARE(rig.fields().at(20), QByteArray("1203"));
    }
}

void TestUnitSimPacket::seededRunsRepeat()
{
    RigModel first(fixedClock(), 77);
    RigModel second(fixedClock(), 77);
    RigModel other(fixedClock(), 78);
    bool differs = false;
    for (int i = 0; i < 100; ++i) {
        first.advance();
        second.advance();
        other.advance();
        QCOMPARE(first.fields(), second.fields());
        differs |= first.fields() != other.fields();
    }
    QVERIFY(differs);
}

void TestUnitSimPacket::witsRecordLayout()
{
    QCOMPARE(WitsBuilder::item(108, "1523.4"), QByteArray("01081523.4"));
    QCOMPARE(WitsBuilder::item(8, "1.0"), QByteArray("00081.0"));

    RigModel rig(fixedClock(), 4);
    rig.advance();
    const QByteArray record = WitsBuilder::build(rig.witsHeader(), rig.witsItems(), "\r\n");
    QVERIFY(record.endsWith("\r\n"));
    QCOMPARE(record.count('\r'), 1);
    const QByteArrayList pieces = record.chopped(2).split(',');
    QCOMPARE(pieces.at(0), QByteArray("^"));
    QCOMPARE(pieces.at(2), QByteArray("0001"));
    QCOMPARE(pieces.at(3), QByteArray("240301"));
    QCOMPARE(pieces.at(4), QByteArray("060001"));
    QVERIFY(pieces.size() > 7);
    for (qsizetype i = 5; i < pieces.size(); ++i) {
        // Every item is read by the viewer: longer than five characters, a
        // four-digit code, a number after it.
        const QByteArray piece = pieces.at(i);
        QVERIFY2(piece.size() > 5, piece.constData());
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-?\\d+\\.\\d$")).match(QString::fromLatin1(piece)).hasMatch());
    }
    QCOMPARE(pieces.at(5), "0108" + rig.fields().at(3));
}

void TestUnitSimPacket::shaperJunk()
{
    RandomSource random(1);
    StreamShaper::Settings settings;
    settings.junkBytes = 16;
    StreamShaper shaper(settings, random);
    QSet<char> seen;
    for (int i = 0; i < 16; ++i) {
        const QList<QByteArray> writes = shaper.push("*P\r\n", StreamShaper::Kind::Packet);
        QCOMPARE(writes.size(), 1);
        QCOMPARE(writes.front().size(), 16 + 4);
        QVERIFY(writes.front().endsWith("*P\r\n"));
        for (const char c : writes.front().left(16))
            seen.insert(c);
    }
    // 16 elements of 16 junk bytes: one full deck, every byte value once.
    QCOMPARE(seen.size(), 256);
}

void TestUnitSimPacket::shaperBatchAndGlue()
{
    RandomSource random(1);
    using Kind = StreamShaper::Kind;
    {
        StreamShaper::Settings settings;
        settings.batch = 3;
        StreamShaper shaper(settings, random);
        QCOMPARE(shaper.push("[OUTPUT ONLY]\r\n", Kind::Status), QList<QByteArray>{"[OUTPUT ONLY]\r\n"});
        QVERIFY(shaper.push("*1\r\n", Kind::Packet).isEmpty());
        QVERIFY(shaper.push("^w\r\n", Kind::Wits).isEmpty());
        QVERIFY(shaper.push("*2\r\n", Kind::Packet).isEmpty());
        QCOMPARE(shaper.push("*3\r\n", Kind::Packet), QList<QByteArray>{"*1\r\n^w\r\n*2\r\n*3\r\n"});
        QVERIFY(shaper.push("*4\r\n", Kind::Packet).isEmpty());
        QCOMPARE(shaper.drain(), QList<QByteArray>{"*4\r\n"});
        QVERIFY(shaper.drain().isEmpty());
    }
    {
        StreamShaper::Settings settings;
        settings.glueWits = true;
        StreamShaper shaper(settings, random);
        QCOMPARE(shaper.push("*1\r\n", Kind::Packet), QList<QByteArray>{"*1\r\n"});
        QVERIFY(shaper.push("^w\r\n", Kind::Wits).isEmpty());
        QCOMPARE(shaper.push("*2\r\n", Kind::Packet), QList<QByteArray>{"^w\r\n*2\r\n"});
        QCOMPARE(shaper.pushWhole("burst"), QList<QByteArray>{"burst"});
    }
    {
        StreamShaper shaper(StreamShaper::Settings{}, random);
        QCOMPARE(shaper.push("^w\r\n", Kind::Wits), QList<QByteArray>{"^w\r\n"});
    }
}

void TestUnitSimPacket::shaperSplit()
{
    RandomSource random(2);
    StreamShaper::Settings settings;
    settings.split = true;
    StreamShaper shaper(settings, random);
    const QByteArray write = PacketBuilder::build({"0001", "2", "3"}, "\r\n");
    QSet<int> counts;
    for (int i = 0; i < 200; ++i) {
        const QList<QByteArray> pieces = shaper.pieces(write);
        QVERIFY(pieces.size() >= 2 && pieces.size() <= 4);
        counts.insert(static_cast<int>(pieces.size()));
        QByteArray joined;
        for (const QByteArray &piece : pieces) {
            QVERIFY(!piece.isEmpty());
            joined += piece;
        }
        QCOMPARE(joined, write);
    }
    QCOMPARE(counts.size(), 3);
    QCOMPARE(shaper.pieces("x"), QList<QByteArray>{"x"});

    StreamShaper plain(StreamShaper::Settings{}, random);
    QCOMPARE(plain.pieces(write), QList<QByteArray>{write});
}

void TestUnitSimPacket::uptimeLeavesTheReadings()
{
    // The viewers of a fleet unit ask for the uptime on their own timers; the
    // unit's readings must not depend on how often that happens.
    RigModel asked(fixedClock(), 21);
    RigModel left(fixedClock(), 21);
    for (int i = 0; i < 50; ++i) {
        for (int k = 0; k < i % 3; ++k)
            asked.nextUptime();
        asked.advance();
        left.advance();
        QCOMPARE(asked.fields(), left.fields());
    }
}

void TestUnitSimPacket::fleetNamesPortsAndSeeds()
{
    const QList<UnitPlan> plans = FleetPlan::make(12, 40000, 7);
    QSet<quint64> seeds;
    for (const UnitPlan &plan : plans)
        seeds.insert(plan.seed);
    QCOMPARE(seeds.size(), 12);
    QVERIFY(plans.at(11).name == "0012" && plans.at(11).port == 40011 && FleetPlan::make(3, 0, 7).at(2).port == 0);
    // The same base seed plays the same fleet; another one another.
    QCOMPARE(FleetPlan::make(12, 40000, 7).at(5).seed, plans.at(5).seed);
    QVERIFY(FleetPlan::make(12, 40000, 8).at(5).seed != plans.at(5).seed);
}

void TestUnitSimPacket::fleetShowsAMix()
{
    // What an operator sees of a unit over 800 packets, by the viewer's gas
    // levels: red above 1750, yellow above 1400, green below 1200.
    struct Seen
    {
        bool red = false, yellow = false, green = true, alarms = false;
    };
    auto watch = [](const UnitPlan &plan) {
        RigModel::Settings settings = fixedClock();
        settings.gas = plan.gas;
        settings.alarms = plan.alarms;
        RigModel rig(settings, plan.seed);
        Seen seen;
        for (int i = 0; i < 800; ++i) {
            rig.advance();
            const double gas = std::round(number(rig.fields().at(4)));
            seen.red |= gas > 1750;
            seen.yellow |= gas > 1400;
            seen.green &= gas < 1200;
            seen.alarms |= rig.fields().at(20) != "0";
        }
        return seen;
    };

    int quiet = 0, yellowOnly = 0, red = 0, alarms = 0;
    const QList<UnitPlan> plans = FleetPlan::make(20, 0, 3);
    for (int i = 0; i < 10; ++i) {
        const Seen seen = watch(plans.at(i));
        quiet += seen.green && !seen.alarms;
        yellowOnly += seen.yellow && !seen.red;
        red += seen.red;
        alarms += seen.alarms;
        // Every tenth unit is alike, seeds apart.
        const Seen again = watch(plans.at(i + 10));
        QVERIFY(again.red == seen.red && again.green == seen.green && again.alarms == seen.alarms);
    }
    QVERIFY2(quiet > 5 && yellowOnly >= 1 && red >= 1 && alarms >= 2,
             qPrintable(QStringLiteral("%1 %2 %3 %4").arg(quiet).arg(yellowOnly).arg(red).arg(alarms)));
}

void TestUnitSimPacket::lookupTableFindsEveryUnit()
{
    QList<FleetPlan::Entry> entries;
    for (const UnitPlan &plan : FleetPlan::make(999, 20000, 1))
        entries.append({plan.name, plan.port});
    const QByteArray table = FleetPlan::lookupTable(entries, QHostAddress(QStringLiteral("192.168.4.20")));

    // The viewer's rule, written out again: rows end in CR LF, lines of ten
    // characters or fewer are no rows, columns are split at every blank, and
    // a serial is looked up by the number of its last three characters.
    auto find = [&table](const QByteArray &serial) {
        const int unit = (serial.size() > 3 ? serial.right(3) : serial).toInt();
        for (const QByteArray &line : table.split('\n')) {
            const QByteArrayList columns = line.chopped(line.endsWith('\r') ? 1 : 0).split(' ');
            if (line.endsWith('\r') && line.size() > 11 && columns.size() >= 3 && columns.at(0).toInt() == unit)
                return columns.at(1) + ' ' + columns.at(2);
        }
        return QByteArray();
    };
    QCOMPARE(table.count("\r\n"), 999);
    QCOMPARE(find("0001"), QByteArray("192.168.4.20 20000"));
    QCOMPARE(find("0500"), QByteArray("192.168.4.20 20499"));
    QCOMPARE(find("0999"), QByteArray("192.168.4.20 20998"));
    // Listening everywhere: the table points at this machine.
    QCOMPARE(FleetPlan::lookupTable({{"0001", 2400}}, QHostAddress(QHostAddress::AnyIPv4)),
             QByteArray("0001 127.0.0.1 2400\r\n"));
}

QTEST_APPLESS_MAIN(TestUnitSimPacket)
#include "tst_unitsim_packet.moc"
