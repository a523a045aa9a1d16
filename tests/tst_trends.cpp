// The rules under the trends window, without widgets: the gas ratios and
// how they are shown, the min-max decimation of long ranges, and the
// ticks and labels of the charts' axes.

#include <algorithm>
#include <cmath>
#include <random>

#include <QTest>

#include "rules/trends/axisticks.h"
#include "rules/trends/columnextremes.h"
#include "rules/trends/gasratios.h"
#include "rules/trends/trendsample.h"
#include "rules/stream/reading.h"
#include "history/historyrows.h"

using trends::ColumnExtremes;

namespace {

const double None = std::nan("");

QStringList texts(std::initializer_list<const char *> list)
{
    QStringList made;
    for (const char *text : list)
        made.append(QString::fromLatin1(text));
    return made;
}

std::optional<double> given(double value)
{
    return std::isnan(value) ? std::nullopt : std::optional<double>(value);
}

} // namespace

class tst_Trends : public QObject
{
    Q_OBJECT

private slots:
    void ratios_data();
    void ratios();
    void readingsAtTheirLimits();
    void decimationKeepsEveryExtreme();
    void decimationBreaksAtGapsAndMerges();
    void axisLabels_data();
    void axisLabels();
    void axisLabelsOverEveryMagnitude();
    void logarithmicAxisBase();
    void readingAsASample();
};

void tst_Trends::ratios_data()
{
    // C1, C2, C3, iC4, nC4, iC5, nC5 (NaN: missing), then Wh, Bh, Ch, C1/C2,
    // C1/C3, C1/C4, C1/C5 (NaN: no value).
    QTest::addColumn<QList<double>>("gas");
    QTest::addColumn<QList<double>>("expected");
    QTest::newRow("wet gas: Wh reads oil, Bh below Wh")
        << QList<double>{6200, 900, 450, 80, 110, 30, 35}
        << QList<double>{20.5637, 10.0709, 0.566667, 6.88889, 13.7778, 32.6316, 95.3846};
    QTest::newRow("very dry gas, no C4 or C5")
        << QList<double>{10000, 20, 5, 0, 0, 0, 0} << QList<double>{0.249377, 2004, 0, 500, 2000, None, None};
    QTest::newRow("productive gas") << QList<double>{1000, 60, 30, 5, 5, 2, 2}
                                    << QList<double>{9.42029, 24.0909, 0.466667, 16.6667, 33.3333, 100, 250};
    QTest::newRow("residual oil") << QList<double>{100, 40, 50, 10, 15, 5, 5}
                                  << QList<double>{55.5556, 1.64706, 0.7, 2.5, 2, 4, 10};
    QTest::newRow("all zero: every divisor 0") << QList<double>{0, 0, 0, 0, 0, 0, 0}
                                               << QList<double>{None, None, None, None, None, None, None};
    QTest::newRow("C3 zero: Ch and C1/C3 none") << QList<double>{1000, 50, 0, 4, 6, 1, 1}
                                                << QList<double>{5.83804, 87.5, None, 20, None, 100, 500};
    QTest::newRow("C3 to C5 zero: Bh none") << QList<double>{1000, 50, 0, 0, 0, 0, 0}
                                            << QList<double>{4.7619, None, None, 20, None, None, None};
    QTest::newRow("C1 zero: Wh 100, methane ratios 0, C1/C5 0 over 0") << QList<double>{0, 10, 10, 5, 5, 0, 0}
                                                  << QList<double>{100, 0.5, 1, 0, 0, 0, None};
    QTest::newRow("nC4 missing: C4 and what needs it none") << QList<double>{1000, 60, 30, 5, None, 2, 2}
                                                            << QList<double>{None, None, None, 16.6667, 33.3333, None, 250};
    QTest::newRow("C1 missing") << QList<double>{None, 60, 30, 5, 5, 2, 2}
                                << QList<double>{None, None, 0.466667, None, None, None, None};
    QTest::newRow("C2 below zero counts as missing") << QList<double>{1000, -60, 30, 5, 5, 2, 2}
                                                     << QList<double>{None, None, 0.466667, None, 33.3333, 100, 250};
    QTest::newRow("iC5 infinite counts as missing")
        << QList<double>{1000, 60, 30, 5, 5, std::numeric_limits<double>::infinity(), 2}
        << QList<double>{None, None, None, 16.6667, 33.3333, 100, None};
}

void tst_Trends::ratios()
{
    QFETCH(QList<double>, gas);
    QFETCH(QList<double>, expected);
    const trends::GasRatios r = trends::gasRatios(
        {given(gas[0]), given(gas[1]), given(gas[2]), given(gas[3]), given(gas[4]), given(gas[5]), given(gas[6])});
    const std::optional<double> got[] = {r.wetness, r.balance, r.character, r.c1c2, r.c1c3, r.c1c4, r.c1c5};
    for (int i = 0; i < 7; ++i) {
        const double want = expected[i];
        if (std::isnan(want)) {
            QVERIFY2(!got[i], qPrintable(QStringLiteral("ratio %1 is %2, not none").arg(i).arg(got[i].value_or(0))));
            QCOMPARE(trends::ratioText(got[i]), QStringLiteral("—"));
        } else {
            QVERIFY2(got[i] && std::abs(*got[i] - want) <= 1e-4 * std::max(1.0, std::abs(want)),
                     qPrintable(QStringLiteral("ratio %1 is %2, not %3").arg(i).arg(got[i].value_or(NAN)).arg(want)));
        }
    }
}

void tst_Trends::readingsAtTheirLimits()
{
    QCOMPARE(trends::ratioText(1234.4), QStringLiteral("1234"));
    QCOMPARE(trends::ratioText(0.56667), QStringLiteral("0.567"));
}

void tst_Trends::decimationKeepsEveryExtreme()
{
    // 24 hours at one reading a second into 1024 columns, with a spike and a
    // dip of one reading each: the line keeps them and every column's lowest
    // and highest reading, at most two points a column, in order along x.
    constexpr int Count = 86400;
    constexpr double Width = 84.375;
    std::vector<QPointF> points;
    for (int i = 0; i < Count; ++i)
        points.emplace_back(i, 1000 + 300 * std::sin(i / 900.0) + (i % 7) * 3);
    points[40001].ry() = 5000;
    points[70007].ry() = -20;
    // Order does not matter: a depth goes up and down.
    std::vector<QPointF> shuffled = points;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
    ColumnExtremes decimated(Width);
    for (const QPointF &point : shuffled)
        decimated.add(point.x(), point.y());
    decimated.add(5, std::nan(""));

    const trends::Polyline line = decimated.line(0, Count);
    QCOMPARE(line.size(), std::size_t(1));
    const std::vector<QPointF> &drawn = line.front();
    QVERIFY(drawn.size() <= 2 * 1024);
    QVERIFY(std::is_sorted(drawn.begin(), drawn.end(), [](QPointF a, QPointF b) { return a.x() < b.x(); }));
    for (int column = 0; column * Width < Count; ++column) {
        const double from = column * Width;
        const double to = from + Width;
        const auto first = points.begin() + static_cast<long>(std::ceil(from));
        const auto last = points.begin() + std::min<long>(Count, static_cast<long>(std::ceil(to)));
        const auto [low, high] =
            std::minmax_element(first, last, [](QPointF a, QPointF b) { return a.y() < b.y(); });
        std::vector<double> shown;
        for (const QPointF &point : drawn) {
            if (point.x() >= from && point.x() < to)
                shown.push_back(point.y());
        }
        QVERIFY2(shown.size() <= 2 && *std::min_element(shown.begin(), shown.end()) == low->y()
                     && *std::max_element(shown.begin(), shown.end()) == high->y(),
                 qPrintable(QString::number(column)));
    }
    QVERIFY(std::count(drawn.begin(), drawn.end(), QPointF(40001, 5000)) == 1);
    QVERIFY(std::count(drawn.begin(), drawn.end(), QPointF(70007, -20)) == 1);

    // A part of the range: its columns and one either side.
    const trends::Polyline part = decimated.line(43200, 43200 + 10 * Width);
    QVERIFY(part.front().front().x() < 43200 && part.front().front().x() >= 43200 - 2 * Width);
    QVERIFY(part.front().back().x() > 43200 + 10 * Width);
    QVERIFY(part.front().size() <= 2 * 13);
    const ColumnExtremes::Column *near = decimated.columnNear(43250.5, 0);
    QVERIFY(near && near->last == points[43284]);
}

void tst_Trends::decimationBreaksAtGapsAndMerges()
{
    ColumnExtremes decimated(1.0);
    for (int x = 0; x <= 10; ++x)
        decimated.add(x, x);
    for (int x = 100; x <= 110; ++x)
        decimated.add(x, -x);
    QCOMPARE(decimated.line(0, 110, 20).size(), std::size_t(2));
    QCOMPARE(decimated.line(0, 110).size(), std::size_t(1));
    QVERIFY(!decimated.columnNear(50, 3));
    QCOMPARE(decimated.columnNear(12.5, 3)->last, QPointF(10, 10));
    decimated.dropBefore(100);
    QCOMPARE(decimated.minX(), 100.0);

    // Past the limit the columns double in width, and no extreme is lost.
    ColumnExtremes limited(1.0, 100);
    for (int x = 0; x < 1000; ++x)
        limited.add(x, x == 517 ? 999 : x % 10);
    QVERIFY(limited.columnCount() <= 100);
    QCOMPARE(limited.width(), 16.0);
    const std::vector<QPointF> drawn = limited.line(0, 1000).front();
    QVERIFY(drawn.size() <= 200);
    QVERIFY(std::count(drawn.begin(), drawn.end(), QPointF(517, 999)) == 1);
    QCOMPARE(limited.columnNear(515, 0)->last, QPointF(527, 7));
}

void tst_Trends::axisLabels_data()
{
    // The range asked for, the ticks wanted, whether the low and high ends
    // round out to ticks; the labels and the range shown.
    QTest::addColumn<double>("low");
    QTest::addColumn<double>("high");
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("roundLow");
    QTest::addColumn<bool>("roundHigh");
    QTest::addColumn<QStringList>("labels");
    QTest::addColumn<double>("shownLow");
    QTest::addColumn<double>("shownHigh");
    const QStringList halves = texts({"11079.0", "11079.5", "11080.0", "11080.5", "11081.0"});
    QTest::newRow("2 ft of depth: half feet, not 11080 four times")
        << 11079.0 << 11081.0 << 8 << false << false << halves << 11079.0 << 11081.0;
    QTest::newRow("0.5 ft of depth: tenths")
        << 11080.0 << 11080.5 << 6 << false << false
        << texts({"11080.0", "11080.1", "11080.2", "11080.3", "11080.4", "11080.5"}) << 11080.0 << 11080.5;
    QTest::newRow("depth window off the ticks")
        << 4993.7 << 5106.2 << 8 << false << false
        << texts({"5000", "5020", "5040", "5060", "5080", "5100"}) << 4993.7 << 5106.2;
    QTest::newRow("one depth: widened")
        << 5000.0 << 5000.0 << 4 << false << false
        << texts({"5000.00", "5000.25", "5000.50", "5000.75", "5001.00"}) << 5000.0 << 5001.0;
    QTest::newRow("ROP default range")
        << 0.0 << 100.0 << 4 << false << true << texts({"0", "25", "50", "75", "100"}) << 0.0 << 100.0;
    QTest::newRow("gas of 1e20 over the default low end")
        << 0.0 << 1.05e20 << 4 << false << true << texts({"0", "5e+19", "1e+20", "1.5e+20"}) << 0.0 << 1.5e20;
    QTest::newRow("one value of 1e20, both ends fitted")
        << 1e20 - 1 << 1e20 + 1 << 4 << true << true << texts({"1e+20", "1.1e+20"}) << 1e20 << 1.1e20;
    QTest::newRow("1e20 and the next double: a step the sum can take")
        << 1e20 << std::nextafter(1e20, 1e21) << 4 << false << false << texts({"1e+20"}) << 1e20
        << std::nextafter(1e20, 1e21);
    QTest::newRow("tens of millions in exponent form")
        << 0.0 << 2.5e7 << 5 << false << true
        << texts({"0", "5e+06", "1e+07", "1.5e+07", "2e+07", "2.5e+07"}) << 0.0 << 2.5e7;
    QTest::newRow("negative, through zero")
        << -12.5 << 3.0 << 4 << true << true << texts({"-15", "-10", "-5", "0", "5"}) << -15.0 << 5.0;
    QTest::newRow("negative fractions: zero without a sign")
        << -0.2 << 0.8 << 4 << false << false << texts({"0.00", "0.25", "0.50", "0.75"}) << -0.2 << 0.8;
    QTest::newRow("negative 1e20: the step grows until the labels fit")
        << -1e20 << 0.0 << 4 << true << true << texts({"-1e+20", "-5e+19", "0"}) << -1e20 << 0.0;
    QTest::newRow("not a number")
        << std::nan("") << std::nan("") << 4 << false << false
        << texts({"0.00", "0.25", "0.50", "0.75", "1.00"}) << 0.0 << 1.0;
}

void tst_Trends::axisLabels()
{
    QFETCH(double, low);
    QFETCH(double, high);
    QFETCH(int, count);
    QFETCH(bool, roundLow);
    QFETCH(bool, roundHigh);
    QFETCH(QStringList, labels);
    const trends::AxisTicks ticks = trends::linearTicks(low, high, count, roundLow, roundHigh);
    QCOMPARE(trends::axisLabels(ticks), labels);
    // The chart steps from tick to tick by adding the step.
    QVERIFY(ticks.low + ticks.step > ticks.low);
    QTEST(ticks.low, "shownLow");
    QTEST(ticks.high, "shownHigh");
}

void tst_Trends::axisLabelsOverEveryMagnitude()
{
    // Ranges of every width at every height, either side of zero: every
    // label its own and short enough, at least two of them on a fitted
    // axis, and never more than the room was asked for.
    for (int magnitude = -3; magnitude <= 24; ++magnitude) {
        for (int width = -4; width <= magnitude + 1; ++width) {
            for (const double sign : {1.0, -1.0}) {
                const double low = sign * 1.37 * std::pow(10.0, magnitude);
                const double high = low + 3.1 * std::pow(10.0, width);
                for (const bool fitted : {false, true}) {
                    const trends::AxisTicks ticks = trends::linearTicks(low, high, 8, fitted, fitted);
                    const QStringList labels = trends::axisLabels(ticks);
                    const QString where = QStringLiteral("%1 to %2, fitted %3: %4")
                                              .arg(low, 0, 'g', 17)
                                              .arg(high, 0, 'g', 17)
                                              .arg(fitted)
                                              .arg(labels.join(QLatin1Char(' ')));
                    QVERIFY2(labels.size() <= 9, qPrintable(where));
                    QVERIFY2(!fitted || labels.size() >= 2, qPrintable(where));
                    QVERIFY2(!fitted || (ticks.low <= low && ticks.high >= high), qPrintable(where));
                    // The chart steps from tick to tick by adding the step.
                    QVERIFY2(ticks.high - ticks.step < ticks.high, qPrintable(where));
                    for (qsizetype i = 0; i < labels.size(); ++i) {
                        QVERIFY2(labels[i].size() <= trends::AxisLabelChars, qPrintable(where));
                        QVERIFY2(labels.indexOf(labels[i]) == i, qPrintable(where));
                    }
                }
            }
        }
    }
}

void tst_Trends::logarithmicAxisBase()
{
    QCOMPARE(trends::logarithmicBase(1, 1e5, 6), 10.0);
    QCOMPARE(trends::logarithmicBase(0.1, 1000, 8), 10.0);
    // Twenty decades with room for six labels: every fourth decade.
    QCOMPARE(trends::logarithmicBase(1, 1e20, 6), 1e4);
    QCOMPARE(trends::logarithmicBase(1e-5, 1e5, 3), 1e5);
    QCOMPARE(trends::logarithmicBase(0, 1e5, 6), 10.0);
}

void tst_Trends::readingAsASample()
{
    // Each channel read from the same field as the history's column of its
    // name, so a live point and a recorded one of the same packet agree.
    for (const trends::ChannelInfo &info : trends::channelTable()) {
        if (!info.column) {
            QCOMPARE(info.field, -1);
            continue;
        }
        const history::NumericColumn *column = history::numericColumn(QLatin1String(info.column));
        QVERIFY2(column && column->field == info.field, info.column);
    }

    Reading reading;
    reading.acceptedAtMs = 1234;
    reading.fields[5] = "1500";
    reading.fields[30] = "900";
    reading.fields[4] = "----.-";  // no number: no value, not 0
    reading.fields[37] = "5040.5";
    reading.bitDepth = 5030.0;
    const trends::Sample sample = trends::sampleOf(reading);
    QCOMPARE(sample.timeMs, qint64(1234));
    QCOMPARE(sample[trends::GasUnits], 1500.0);
    QCOMPARE(sample[trends::C1], 900.0);
    QVERIFY(std::isnan(sample[trends::HoleDepth]));
    QCOMPARE(sample[trends::LagDepth], 5040.5);
    QCOMPARE(sample[trends::BitDepth], 5030.0);
    reading.bitDepth.reset();
    QVERIFY(std::isnan(trends::sampleOf(reading)[trends::BitDepth]));
}

QTEST_APPLESS_MAIN(tst_Trends)
#include "tst_trends.moc"
