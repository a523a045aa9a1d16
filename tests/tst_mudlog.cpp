// The mud log without widgets: readings binned by depth (the highest gas,
// gaps, re-drilled bins, the drilling rate), the combined reading of Wh, Bh
// and Ch, Pixler's reading, the LAS file and the unit of depth.

#include <cmath>

#include <QBuffer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "rules/mudlog/combinedreading.h"
#include "rules/mudlog/laswriter.h"
#include "rules/mudlog/mudlog.h"
#include "rules/mudlog/pixler.h"

using namespace mudlog;

namespace {

const double None = std::nan("");

std::optional<double> given(double value)
{
    return std::isnan(value) ? std::nullopt : std::optional<double>(value);
}

// A reading: seconds, hole depth, lag depth, gas units, C1, error number.
struct R
{
    double seconds, hole, lag = None, gas = None, c1 = None, error = 0;
};

} // namespace

Q_DECLARE_METATYPE(R)

namespace {

MudReading mud(const R &r)
{
    MudReading reading;
    reading.timeMs = static_cast<qint64>(r.seconds * 1000);
    reading.holeDepth = given(r.hole);
    reading.lagDepth = given(r.lag);
    reading.gasUnits = given(r.gas);
    reading.gas.c1 = given(r.c1);
    reading.errorCode = r.error;
    return reading;
}

QString describe(const MudBin &bin)
{
    QString text;
    if (bin.logged()) {
        const std::optional<double> gas = bin.gasUnits();
        text += QStringLiteral(" g%1 c%2 n%3")
                    .arg(gas ? QString::number(*gas) : QStringLiteral("-"))
                    .arg(bin.chromatograph().c1.value_or(-1))
                    .arg(bin.readings());
        QStringList alarms;
        for (int code : bin.alarmCodes())
            alarms.append(QString::number(code));
        if (!alarms.isEmpty())
            text += QStringLiteral(" a") + alarms.join(QLatin1Char(','));
    }
    if (const std::optional<double> rate = bin.drillingRate())
        text += QStringLiteral(" rop") + QString::number(*rate, 'f', 3);
    if (bin.redrilled())
        text += QStringLiteral(" R");
    return text.isEmpty() ? QStringLiteral(" -") : text;
}

QString describe(const MudLog &log)
{
    QStringList bins;
    for (int index = log.firstIndex(); index <= log.lastIndex() && !log.isEmpty(); ++index)
        bins.append(QString::number(index) + QLatin1Char(':') + describe(log.bin(index)));
    return bins.join(QStringLiteral(" | "));
}

trends::GasRatios gasRatiosOf(const QList<double> &c)
{
    return trends::gasRatios({given(c[0]), given(c[1]), given(c[2]), given(c[3]), given(c[4]), given(c[5]),
                              given(c[6])});
}

// What a reader of the format checks: the sections in order, the header
// lines by their delimiters, and every data row.
struct LasFile
{
    QByteArray sections;                  // the letter after each "~"
    QHash<QByteArray, QByteArray> well;   // mnemonic -> "unit|data", ~V and ~W
    QList<QByteArray> curves;             // mnemonic.unit
    QList<QList<double>> rows;
};

LasFile readLas(const QByteArray &bytes)
{
    LasFile las;
    const QList<QByteArray> lines = bytes.split('\n');
    for (QByteArray line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('~')) {
            las.sections += trimmed.at(1);
            continue;
        }
        if (trimmed.startsWith('#') || las.sections.isEmpty())
            continue;
        const char section = las.sections.back();
        if (section == 'A') {
            QList<double> row;
            for (const QByteArray &value : trimmed.simplified().split(' '))
                row.append(value.toDouble());
            las.rows.append(row);
        } else if (section != 'O') {
            const qsizetype dot = line.indexOf('.');
            const qsizetype space = line.indexOf(' ', dot);
            const qsizetype colon = line.lastIndexOf(':');
            if (dot < 0 || space < dot || colon < space)
                return {};  // a header line without its three delimiters
            const QByteArray mnemonic = line.left(dot).trimmed();
            const QByteArray unit = line.mid(dot + 1, space - dot - 1);
            if (section == 'C')
                las.curves.append(mnemonic + '.' + unit);
            else
                las.well.insert(mnemonic, unit + '|' + line.mid(space, colon - space).trimmed());
        }
    }
    return las;
}

} // namespace

class tst_MudLog : public QObject
{
    Q_OBJECT

private slots:
    void combined_data();
    void combined();
    void combinedBoundaries_data();
    void combinedBoundaries();
    void pixler_data();
    void pixler();
    void binning_data();
    void binning();
    void addingTouchesOnlyItsBins();
    void las_data();
    void las();
    void settings_data();
    void settings();
};

void tst_MudLog::combined_data()
{
    QTest::addColumn<QList<double>>("gas");  // C1, C2, C3, iC4, nC4, iC5, nC5
    QTest::addColumn<QString>("words");
    QTest::addColumn<bool>("characterRead");

    // C4 = 40, C5 = 30: Wh = 130 / 1130 x 100 = 11.50, Bh = 1020 / 110 =
    // 9.27 < Wh, Ch = 70 / 40 = 1.75 > 0.5.
    QTest::newRow("light oil") << QList<double>{1000, 20, 40, 20, 20, 15, 15} << "light oil" << true;
    // C4 = 20, C5 = 10: Wh = 130 / 1130 x 100 = 11.50, Bh = 1020 / 110 =
    // 9.27 < Wh, Ch = 30 / 80 = 0.375 < 0.5.
    QTest::newRow("gas condensate") << QList<double>{1000, 20, 80, 10, 10, 5, 5} << "gas condensate or wet gas"
                                    << true;
    // C4 = 2, C5 = 2: Wh = 39 / 10039 x 100 = 0.39, Bh = 10030 / 9 = 1114
    // > 100; Ch = 4 / 5 = 0.8 would say oil, and is not read.
    QTest::newRow("very dry gas") << QList<double>{10000, 30, 5, 1, 1, 1, 1} << "very dry gas" << false;
    // C4 = 10, C5 = 4: Wh = 84 / 1084 x 100 = 7.75, Bh = 1050 / 34 = 30.9,
    // Wh < Bh < 100; Ch = 0.7 not read.
    QTest::newRow("productive gas") << QList<double>{1000, 50, 20, 5, 5, 2, 2} << "productive gas" << false;
    // C4 = 120, C5 = 80: Wh = 550 / 1550 x 100 = 35.5, Bh = 1150 / 400 =
    // 2.88 < Wh.
    QTest::newRow("productive oil") << QList<double>{1000, 150, 200, 60, 60, 40, 40} << "productive oil" << false;
    // C4 = 40, C5 = 20: Wh = 140 / 240 x 100 = 58.3 > 40.
    QTest::newRow("residual oil") << QList<double>{100, 40, 40, 20, 20, 10, 10} << "residual oil" << false;
    // Wh = 20 / 10020 x 100 = 0.20; no C3 to C5, so no Bh.
    QTest::newRow("very light dry gas") << QList<double>{10000, 20, 0, 0, 0, 0, 0}
                                        << "very light dry gas, not productive" << false;
    QTest::newRow("no C3: no Wh, no reading") << QList<double>{1000, 20, None, 20, 20, 15, 15} << "" << false;
}

void tst_MudLog::combined()
{
    QFETCH(QList<double>, gas);
    QFETCH(QString, words);
    QFETCH(bool, characterRead);
    const CombinedReading reading = combinedReading(gasRatiosOf(gas));
    QCOMPARE(fluidWords(reading.fluid), words);
    QCOMPARE(reading.characterRead, characterRead);
}

void tst_MudLog::combinedBoundaries_data()
{
    QTest::addColumn<double>("wh");
    QTest::addColumn<double>("bh");
    QTest::addColumn<double>("ch");
    QTest::addColumn<int>("fluid");

    const auto row = [](const char *name, double wh, double bh, double ch, Fluid fluid) {
        QTest::newRow(name) << wh << bh << ch << static_cast<int>(fluid);
    };
    row("Wh 0.5 is the gas range", 0.5, 50, None, Fluid::ProductiveGas);
    row("Wh just below 0.5, no Bh", 0.4999, None, None, Fluid::VeryLightDryGas);
    row("Wh just below 17.5, Ch 0.5 is oil", 17.4999, 10, 0.5, Fluid::LightOil);
    row("Ch just below 0.5", 10, 5, 0.4999, Fluid::GasCondensate);
    row("Bh below Wh, no Ch: no reading", 10, 5, None, Fluid::None);
    row("Wh 17.5 is the oil range", 17.5, 10, None, Fluid::ProductiveOil);
    row("Wh 40 is still oil", 40, 10, None, Fluid::ProductiveOil);
    row("Wh above 40, whatever Bh", 40.001, 150, None, Fluid::ResidualOil);
    row("Bh 100 is productive gas", 10, 100, None, Fluid::ProductiveGas);
    row("Bh above 100", 10, 100.001, None, Fluid::VeryDryGas);
    row("Bh equal to Wh: not crossed", 10, 10, 2, Fluid::ProductiveGas);
    row("oil range, Bh equal to Wh", 20, 20, None, Fluid::Undetermined);
    row("oil range, Bh above 100", 20, 150, None, Fluid::Undetermined);
    row("no Bh in the gas range", 10, None, 0.2, Fluid::None);
    row("no Wh", None, 150, 0.2, Fluid::None);
}

void tst_MudLog::combinedBoundaries()
{
    QFETCH(double, wh);
    QFETCH(double, bh);
    QFETCH(double, ch);
    QFETCH(int, fluid);
    trends::GasRatios ratios;
    ratios.wetness = given(wh);
    ratios.balance = given(bh);
    ratios.character = given(ch);
    QCOMPARE(static_cast<int>(combinedReading(ratios).fluid), fluid);
}

void tst_MudLog::pixler_data()
{
    QTest::addColumn<QList<double>>("ratios");  // C1/C2 to C1/C5
    QTest::addColumn<QString>("words");

    QTest::newRow("below 2") << QList<double>{1.99, 4, 8, 16} << "not productive";
    QTest::newRow("2 is oil") << QList<double>{2, 4, 8, 16} << "oil";
    QTest::newRow("just below 15") << QList<double>{14.99, 20, 30, 40} << "oil";
    QTest::newRow("15 is gas") << QList<double>{15, 20, 30, 40} << "gas";
    QTest::newRow("65 is gas") << QList<double>{65, 70, 80, 90} << "gas";
    QTest::newRow("above 65") << QList<double>{65.01, 70, 80, 90} << "not productive";
    QTest::newRow("equal ratios do not fall") << QList<double>{10, 10, 10, 10} << "oil";
    QTest::newRow("C1/C5 below C1/C4") << QList<double>{5, 10, 20, 15} << "oil; C1/C5 below C1/C4 suggests water";
    QTest::newRow("two falls") << QList<double>{20, 30, 25, 20} << "gas; C1/C4 below C1/C3, C1/C5 below C1/C4 suggest water";
    QTest::newRow("no C1/C3: its pairs unchecked") << QList<double>{10, None, 5, 20} << "oil";
    QTest::newRow("no C1/C2, no reading") << QList<double>{None, 10, 5, 20} << "";
}

void tst_MudLog::pixler()
{
    QFETCH(QList<double>, ratios);
    QFETCH(QString, words);
    trends::GasRatios given4;
    given4.c1c2 = given(ratios[0]);
    given4.c1c3 = given(ratios[1]);
    given4.c1c4 = given(ratios[2]);
    given4.c1c5 = given(ratios[3]);
    QCOMPARE(pixlerWords(pixlerReading(given4)), words);
    const std::array<PixlerPoint, 4> plot = pixlerPlot(given4);
    QCOMPARE(QByteArray(plot[2].name), QByteArray("C1/C4"));
    QCOMPARE(plot[1].ratio, given(ratios[1]));
}

void tst_MudLog::binning_data()
{
    QTest::addColumn<bool>("metres");
    QTest::addColumn<QList<R>>("readings");
    QTest::addColumn<QString>("bins");  // index: gas, C1, readings, alarms, rate, re-drilled

    QTest::newRow("highest gas, its chromatograph, every alarm")
        << false << QList<R>{{0, None, 1000.2, 50, 100}, {1, None, 1000.5, 80, 200, 12},
                             {2, None, 1000.9, 80, 300, 25}, {3, None, 1001.1, 20, 400}}
        << "1000: g80 c200 n3 a12,0 | 1001: g20 c400 n1";
    QTest::newRow("no gas yet: the first reading, then the gas")
        << false << QList<R>{{0, None, 1000.2, None, 100}, {1, None, 1000.4, None, 200}, {2, None, 1000.6, 5, 300}}
        << "1000: g5 c300 n3";
    QTest::newRow("a gap stays empty")
        << false << QList<R>{{0, None, 1000.5, 10, 1}, {1, None, 1003.5, 20, 2}}
        << "1000: g10 c1 n1 | 1001: - | 1002: - | 1003: g20 c2 n1";
    QTest::newRow("drilled twice keeps the later pass")
        << false << QList<R>{{0, None, 1000.5, 100, 1}, {1, None, 1001.5, 90, 2}, {2, None, 1002.5, 80, 3},
                             {3, None, 1000.2, 10, 4}, {4, None, 1001.2, 5, 5}}
        << "1000: g10 c4 n1 R | 1001: g5 c5 n1 R | 1002: g80 c3 n1";
    QTest::newRow("up by less than a bin is the same pass")
        << false << QList<R>{{0, None, 1001.9, 50, 1}, {1, None, 1002.1, 10, 3}, {2, None, 1001.2, 70, 4}}
        << "1001: g70 c4 n2 | 1002: g10 c3 n1";
    QTest::newRow("depths not above 0 or too deep are not binned")
        << false << QList<R>{{0, None, 0, 10, 1}, {1, None, -5, 10, 1}, {2, None, 200000, 10, 1},
                             {3, None, None, 10, 1}, {4, None, 1000.5, 5, 5}}
        << "1000: g5 c5 n1";
    QTest::newRow("metres: bins of 0.5 m")
        << true << QList<R>{{0, None, 1000, 7, 1}, {1, None, 1001.7, 8, 2}}  // 304.8 m, 305.3 m
        << "609: g7 c1 n1 | 610: g8 c2 n1";
    QTest::newRow("drilling rate by hole depth")
        << false << QList<R>{{0, 1000}, {60, 1001}, {180, 1002}} << "1000: rop1.000 | 1001: rop2.000";
    QTest::newRow("a step shared over two bins")
        << false << QList<R>{{0, 1000.5}, {60, 1001.5}} << "1000: rop1.000 | 1001: rop1.000";
    QTest::newRow("time off bottom is left out")
        << false << QList<R>{{0, 1000}, {30, 1000.5}, {200, 1000.5}, {230, 1001}, {530, 1001}, {800, 1001},
                             {830, 1001.5}, {860, 1002}}
        << "1000: rop1.000 | 1001: rop1.000";
    QTest::newRow("a gap in the readings or a jump gives no rate")
        << false << QList<R>{{0, 1000}, {400, 1001}, {410, 1101}, {470, 1102}} << "1101: rop1.000";
    QTest::newRow("hole drilled again after going back")
        << false << QList<R>{{0, 1000}, {60, 1001}, {120, 1002}, {130, 1000}, {250, 1001}}
        << "1000: rop2.000 R | 1001: rop1.000";
    QTest::newRow("metres: minutes per metre")  // 304.8 m to 305.1048 m in a minute
        << true << QList<R>{{0, 1000}, {60, 1001}} << "609: rop3.281 | 610: rop3.281";
}

void tst_MudLog::binning()
{
    QFETCH(bool, metres);
    QFETCH(QList<R>, readings);
    QFETCH(QString, bins);
    MudLog log(MudLogSettings::forUnit(metres ? DepthUnit::Metres : DepthUnit::Feet));
    QList<MudReading> series;
    for (const R &r : readings)
        series.append(mud(r));
    log.add(series);
    QCOMPARE(describe(log), bins);
}

void tst_MudLog::addingTouchesOnlyItsBins()
{
    MudLog log;
    log.add(mud({0, 1001, 1000.5, 10, 1}));
    BinSpan span = log.add(mud({60, 1002, 1001.5, 20, 2}));
    QCOMPARE(std::make_pair(span.first, span.last), std::make_pair(1001, 1001));
    QStringList before;
    for (int index = 1000; index <= 1005; ++index)
        before.append(describe(log.bin(index)));

    span = log.add(mud({90, 1002.5, 1003.2, 30, 3}));
    QCOMPARE(std::make_pair(span.first, span.last), std::make_pair(1002, 1003));
    for (int index = 1000; index <= 1005; ++index) {
        if (index < span.first || index > span.last)
            QCOMPARE(describe(log.bin(index)), before[index - 1000]);
    }
    QCOMPARE(describe(log.bin(1003)), QStringLiteral(" g30 c3 n1"));
    QVERIFY(log.add(mud({95, None, None, 30, 3})).isEmpty());
}

void tst_MudLog::las_data()
{
    QTest::addColumn<bool>("metres");
    QTest::addColumn<QByteArray>("unit");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("stop");
    QTest::addColumn<double>("step");

    QTest::newRow("feet") << false << QByteArray("FT") << 1000.0 << 1002.0 << 1.0;
    QTest::newRow("metres") << true << QByteArray("M") << 304.5 << 305.5 << 0.5;
}

void tst_MudLog::las()
{
    QFETCH(bool, metres);
    QFETCH(QByteArray, unit);
    QFETCH(double, start);
    QFETCH(double, stop);
    QFETCH(double, step);

    // Gas in the first and last bin, the middle one only drilled.
    MudLog log(MudLogSettings::forUnit(metres ? DepthUnit::Metres : DepthUnit::Feet));
    log.add(QList<MudReading>{mud({0, 1000, 1000.5, 10, 100}), mud({60, 1001, 1002.5, 20, 200})});
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    LasWell well;
    well.well = QStringLiteral("00\x01" "42: A");
    QString error;
    QVERIFY2(writeLas(buffer, log, well, &error), qPrintable(error));
    const QByteArray bytes = buffer.data();

    for (const char c : bytes)
        QVERIFY2((c >= 32 && c <= 126) || c == '\r' || c == '\n', "only printable ASCII and line ends");
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
    QVERIFY(!bytes.endsWith('\n'));

    const LasFile las = readLas(bytes);
    QCOMPARE(las.sections, QByteArray("VWCPOA"));
    QCOMPARE(las.well.value("VERS"), QByteArray("|2.0"));
    QCOMPARE(las.well.value("WRAP"), QByteArray("|NO"));
    QCOMPARE(las.well.value("NULL"), QByteArray("|-999.25"));
    QCOMPARE(las.well.value("WELL"), QByteArray("|00?42: A"));
    QCOMPARE(las.well.value("STRT"), unit + '|' + QByteArray::number(start, 'f', 1));
    QCOMPARE(las.well.value("STOP").split('|').value(1).toDouble(), stop);
    QCOMPARE(las.well.value("STEP").split('|').value(1).toDouble(), step);
    QCOMPARE(las.curves.first(), "DEPT." + unit);
    QCOMPARE(las.curves.size(), 13);
    QVERIFY(las.curves.contains("ROP.MIN/" + unit));

    QCOMPARE(las.rows.size(), qRound((stop - start) / step) + 1);
    for (int i = 0; i < las.rows.size(); ++i) {
        QCOMPARE(las.rows[i].size(), las.curves.size());
        QCOMPARE(las.rows[i][0], start + i * step);
    }
    QCOMPARE(las.rows[0][1], 10.0);
    QCOMPARE(las.rows[1][1], LasNull);  // no reading's lag depth in the middle bin
    QCOMPARE(las.rows[2][2], 200.0);

    QBuffer empty;
    empty.open(QIODevice::WriteOnly);
    QVERIFY(!writeLas(empty, MudLog(), well, &error));
    QVERIFY(empty.data().isEmpty());
}

void tst_MudLog::settings_data()
{
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("binSize");
    QTest::addColumn<bool>("metres");
    QTest::addColumn<double>("size");
    QTest::addColumn<int>("reports");

    QTest::newRow("nothing set") << QString() << QString() << false << 1.0 << 0;
    QTest::newRow("metres") << "Metres" << QString() << true << 0.5 << 0;
    QTest::newRow("m and a size") << " m " << "0.25" << true << 0.25 << 0;
    QTest::newRow("no unit") << "fathoms" << QString() << false << 1.0 << 1;
    QTest::newRow("a size of 0") << "ft" << "0" << false << 1.0 << 1;
}

void tst_MudLog::settings()
{
    QFETCH(QString, unit);
    QFETCH(QString, binSize);
    QFETCH(bool, metres);
    QFETCH(double, size);
    QFETCH(int, reports);
    QTemporaryDir dir;
    QSettings file(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    if (!unit.isNull())
        file.setValue(QString::fromLatin1(DepthUnitKey), unit);
    if (!binSize.isNull())
        file.setValue(QString::fromLatin1(BinSizeKey), binSize);
    QList<QByteArray> lines;
    const MudLogSettings chosen = mudLogSettings(file, lines);
    QCOMPARE(chosen.unit == DepthUnit::Metres, metres);
    QCOMPARE(chosen.binSize, size);
    QCOMPARE(lines.size(), reports);
    QCOMPARE(fromFeet(1000, chosen.unit), metres ? 304.8 : 1000.0);
}

QTEST_APPLESS_MAIN(tst_MudLog)
#include "tst_mudlog.moc"
