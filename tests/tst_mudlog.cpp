// The mud log without widgets: readings binned by depth (the highest gas,
// gaps, re-drilled bins, the drilling rate), the combined reading of Wh, Bh
// and Ch, Pixler's reading, the LAS file and the unit of depth.

#include <algorithm>
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

} // namespace

// A reading: seconds, hole depth, lag depth, gas units, C1, error number.
struct R
{
    double seconds, hole, lag = None, gas = None, c1 = None, error = 0;
};
Q_DECLARE_METATYPE(R)

namespace {

MudReading mud(const R &r)
{
    MudReading reading{static_cast<qint64>(r.seconds * 1000), given(r.hole), given(r.lag), given(r.gas), {}, r.error};
    reading.gas.c1 = given(r.c1);
    return reading;
}

// " g80 c200 n3 a12,0 rop1.000 R": gas units, C1 and number of readings,
// alarms, drilling rate, re-drilled; " -" for an empty bin.
QString describe(const MudBin &bin)
{
    QString text;
    if (bin.logged()) {
        const std::optional<double> gas = bin.gasUnits();
        text += QStringLiteral(" g%1 c%2 n%3")
                    .arg(gas ? QString::number(*gas) : QStringLiteral("-"))
                    .arg(bin.chromatograph().c1.value_or(-1))
                    .arg(bin.readings());
        const QList<int> alarms = bin.alarmCodes();
        for (qsizetype i = 0; i < alarms.size(); ++i)
            text += (i == 0 ? QStringLiteral(" a") : QStringLiteral(",")) + QString::number(alarms[i]);
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

// Seven values are C1 to nC5; three are Wh, Bh and Ch; four C1/C2 to C1/C5.
trends::GasRatios ratiosOf(const QList<double> &v)
{
    if (v.size() == 7)
        return trends::gasRatios({given(v[0]), given(v[1]), given(v[2]), given(v[3]), given(v[4]), given(v[5]),
                                  given(v[6])});
    if (v.size() == 3)
        return {given(v[0]), given(v[1]), given(v[2])};
    return {{}, {}, {}, given(v[0]), given(v[1]), given(v[2]), given(v[3])};
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
    for (const QByteArray &line : bytes.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith('~')) {
            las.sections += trimmed.at(1);
            continue;
        }
        if (trimmed.startsWith('#') || las.sections.isEmpty())
            continue;
        const char section = las.sections.back();
        if (section == 'A') {
            las.rows.append(QList<double>());
            for (const QByteArray &value : trimmed.simplified().split(' '))
                las.rows.back().append(value.toDouble());
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
    void pixler_data();
    void pixler();
    void binning_data();
    void binning();
    void addingTouchesOnlyItsBins();
    void las_data();
    void las();
    void settings();
};

void tst_MudLog::combined_data()
{
    QTest::addColumn<QList<double>>("gas");  // C1, C2, C3, iC4, nC4, iC5, nC5; or Wh, Bh, Ch
    QTest::addColumn<QString>("words");
    QTest::addColumn<bool>("characterRead");

    // C4 = 40, C5 = 30: Wh = 130 / 1130 x 100 = 11.50, Bh = 1020 / 110 =
    // 9.27 < Wh, Ch = 70 / 40 = 1.75 > 0.5.
    QTest::newRow("light oil") << QList<double>{1000, 20, 40, 20, 20, 15, 15} << "light oil" << true;
    // C4 = 20, C5 = 10: Wh = 130 / 1130 x 100 = 11.50, Bh = 1020 / 110 =
    // 9.27 < Wh, Ch = 30 / 80 = 0.375 < 0.5.
    QTest::newRow("condensate") << QList<double>{1000, 20, 80, 10, 10, 5, 5} << "gas condensate or wet gas" << true;
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

    // The boundaries, on Wh, Bh and Ch as given.
    const auto row = [](const char *name, double wh, double bh, double ch, const char *words) {
        QTest::newRow(name) << QList<double>{wh, bh, ch} << QString::fromLatin1(words) << (ch == 0.5 || ch == 0.4999);
    };
    row("Wh 0.5 is the gas range", 0.5, 50, None, "productive gas");
    row("Wh just below 0.5, no Bh", 0.4999, None, None, "very light dry gas, not productive");
    row("Wh just below 17.5, Ch 0.5 is oil", 17.4999, 10, 0.5, "light oil");
    row("Ch just below 0.5", 10, 5, 0.4999, "gas condensate or wet gas");
    row("Bh below Wh, no Ch: no reading", 10, 5, None, "");
    row("Wh 17.5 is the oil range", 17.5, 10, None, "productive oil");
    row("Wh 40 is still oil", 40, 10, None, "productive oil");
    row("Wh above 40, whatever Bh", 40.001, 150, None, "residual oil");
    row("Bh 100 is productive gas", 10, 100, None, "productive gas");
    row("Bh above 100", 10, 100.001, None, "very dry gas");
    row("Bh equal to Wh: not crossed", 10, 10, 2, "productive gas");
    row("oil range, Bh equal to Wh", 20, 20, None, "undetermined");
    row("oil range, Bh above 100", 20, 150, None, "undetermined");
    row("no Bh in the gas range", 10, None, 0.2, "");
}

void tst_MudLog::combined()
{
    QFETCH(QList<double>, gas);
    QFETCH(QString, words);
    QFETCH(bool, characterRead);
    const CombinedReading reading = combinedReading(ratiosOf(gas));
    QCOMPARE(fluidWords(reading.fluid), words);
    QCOMPARE(reading.characterRead, characterRead);
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
    QTest::newRow("two falls") << QList<double>{20, 30, 25, 20}
                               << "gas; C1/C4 below C1/C3, C1/C5 below C1/C4 suggest water";
    QTest::newRow("no C1/C3: its pairs unchecked") << QList<double>{10, None, 5, 20} << "oil";
    QTest::newRow("no C1/C2, no reading") << QList<double>{None, 10, 5, 20} << "";
}

void tst_MudLog::pixler()
{
    QFETCH(QList<double>, ratios);
    QFETCH(QString, words);
    QCOMPARE(pixlerWords(pixlerReading(ratiosOf(ratios))), words);
    const std::array<PixlerPoint, 4> plot = pixlerPlot(ratiosOf(ratios));
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
    const QString untouched = describe(log);

    span = log.add(mud({90, 1002.5, 1003.2, 30, 3}));
    QCOMPARE(std::make_pair(span.first, span.last), std::make_pair(1002, 1003));
    QCOMPARE(describe(log), untouched + QStringLiteral(" | 1002: rop1.000 | 1003: g30 c3 n1"));
    QVERIFY(log.add(mud({95, None, None, 30, 3})).isEmpty());
}

void tst_MudLog::las_data()
{
    QTest::addColumn<bool>("metres");
    QTest::addColumn<QByteArray>("start");  // unit|data, as the header has them
    QTest::addColumn<QByteArray>("stop");
    QTest::addColumn<QByteArray>("step");

    QTest::newRow("feet") << false << QByteArray("FT|1000.0") << QByteArray("FT|1002.0") << QByteArray("FT|1.0");
    QTest::newRow("metres") << true << QByteArray("M|304.5") << QByteArray("M|305.5") << QByteArray("M|0.5");
}

void tst_MudLog::las()
{
    QFETCH(bool, metres);
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, stop);
    QFETCH(QByteArray, step);

    // Gas in the first and last bin, the middle one only drilled.
    MudLog log(MudLogSettings::forUnit(metres ? DepthUnit::Metres : DepthUnit::Feet));
    log.add(QList<MudReading>{mud({0, 1000, 1000.5, 10, 100}), mud({60, 1001, 1002.5, 20, 200})});
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    LasWell well;
    well.well = QStringLiteral("00\x01" "42: A");
    const Result<void> written = writeLas(buffer, log, well);
    QVERIFY2(written, qPrintable(written ? QString() : written.reason()));
    const QByteArray bytes = buffer.data();
    const auto allowed = [](char c) { return (c >= 32 && c <= 126) || c == '\r' || c == '\n'; };
    QVERIFY(std::all_of(bytes.begin(), bytes.end(), allowed));
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
    QVERIFY(!bytes.endsWith('\n'));

    const LasFile las = readLas(bytes);
    QCOMPARE(las.sections, QByteArray("VWCPOA"));
    QCOMPARE(las.well.value("VERS") + las.well.value("WRAP"), QByteArray("|2.0|NO"));
    QCOMPARE(las.well.value("NULL"), QByteArray("|-999.25"));
    QCOMPARE(las.well.value("WELL"), QByteArray("|00?42: A"));
    QCOMPARE(las.well.value("STRT"), start);
    QCOMPARE(las.well.value("STOP"), stop);
    QCOMPARE(las.well.value("STEP"), step);
    const QByteArray unit = start.split('|')[0];
    QCOMPARE(las.curves.size(), 13);
    QCOMPARE(las.curves.first() + las.curves[9], "DEPT." + unit + "ROP.MIN/" + unit);

    const double first = start.split('|')[1].toDouble();
    const double size = step.split('|')[1].toDouble();
    QCOMPARE(las.rows.size(), qRound((stop.split('|')[1].toDouble() - first) / size) + 1);
    for (int i = 0; i < las.rows.size(); ++i) {
        QCOMPARE(las.rows[i].size(), las.curves.size());
        QCOMPARE(las.rows[i][0], first + i * size);
    }
    QCOMPARE(las.rows[0][1], 10.0);
    QCOMPARE(las.rows[1][1], LasNull);  // no reading's lag depth in the middle bin
    QCOMPARE(las.rows[2][2], 200.0);

    QVERIFY(!writeLas(buffer, MudLog(), well));  // nothing binned: nothing written
    QCOMPARE(buffer.data(), bytes);
}

void tst_MudLog::settings()
{
    QTemporaryDir dir;
    QSettings file(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    const auto chosen = [&file](const char *unit, const char *size) {
        file.clear();
        if (unit)
            file.setValue(QString::fromLatin1(DepthUnitKey), QString::fromLatin1(unit));
        if (size)
            file.setValue(QString::fromLatin1(BinSizeKey), QString::fromLatin1(size));
        const Result<DepthUnit> u = depthUnitSetting(file);
        const Result<double> s = binSizeSetting(file, u ? *u : DefaultDepthUnit);
        return (u ? unitSymbol(*u) : u.reason()) + QLatin1Char(' ') + (s ? QString::number(*s) : s.reason());
    };
    QCOMPARE(chosen(nullptr, nullptr), QStringLiteral("ft 1"));
    QCOMPARE(chosen("Metres", nullptr), QStringLiteral("m 0.5"));
    QCOMPARE(chosen(" m ", "0.25"), QStringLiteral("m 0.25"));
    QCOMPARE(chosen("fathoms", nullptr),
             QStringLiteral("mudlog/depthUnit=fathoms is not feet or metres; feet are used 1"));
    QCOMPARE(chosen("ft", "0"), QStringLiteral("ft mudlog/binSize=0 is not a bin size from 0.1 to 100; 1 ft is used"));
    QCOMPARE(fromFeet(1000, DepthUnit::Metres), 304.8);
    QCOMPARE(toFeet(304.8, DepthUnit::Metres), 1000.0);
}

QTEST_APPLESS_MAIN(tst_MudLog)
#include "tst_mudlog.moc"
