#include <algorithm>
#include <array>
#include <cmath>

#include <QSet>
#include <QtTest>

#include "rules/readings/levelpalette.h"

namespace {

// A colour as a reader with a colour-vision deficiency sees it (Machado,
// Oliveira and Fernandes 2009, full severity, in linear light), and its
// CIELAB coordinates, to check that the gas levels stay apart for them.
using Matrix = std::array<std::array<double, 3>, 3>;

double toLinear(int channel)
{
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

std::array<double, 3> seenAs(const readings::Rgb &rgb, const Matrix &m)
{
    const std::array<double, 3> linear{toLinear(rgb.red), toLinear(rgb.green), toLinear(rgb.blue)};
    std::array<double, 3> seen{};
    for (int i = 0; i < 3; ++i)
        seen[i] = std::clamp(m[i][0] * linear[0] + m[i][1] * linear[1] + m[i][2] * linear[2], 0.0, 1.0);
    return seen;
}

std::array<double, 3> lab(const std::array<double, 3> &linear)
{
    const double x = 0.4124 * linear[0] + 0.3576 * linear[1] + 0.1805 * linear[2];
    const double y = 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2];
    const double z = 0.0193 * linear[0] + 0.1192 * linear[1] + 0.9505 * linear[2];
    const auto f = [](double t) { return t > 0.008856 ? std::cbrt(t) : 7.787 * t + 16.0 / 116.0; };
    const double fx = f(x / 0.9505), fy = f(y), fz = f(z / 1.089);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

} // namespace

class FleetBoardTest : public QObject
{
    Q_OBJECT

private slots:
    void paletteMarksEveryLevelApart();
    void gasLevelsStayApartForColourBlindReaders_data();
    void gasLevelsStayApartForColourBlindReaders();
};

void FleetBoardTest::paletteMarksEveryLevelApart()
{
    // Read without colour, every level must still be told by its word and
    // its shape alone.
    QSet<QString> words, glyphs;
    QSet<int> shapes;
    for (const readings::LevelMark &mark : readings::levelPalette()) {
        QCOMPARE(&readings::levelMark(mark.level), &mark);
        words.insert(QLatin1String(mark.word));
        glyphs.insert(mark.glyph());
        shapes.insert(int(mark.shape));
        QVERIFY(mark.label().endsWith(QLatin1String(mark.word)));
    }
    QCOMPARE(words.size(), int(readings::levelPalette().size()));
    QCOMPARE(glyphs.size(), int(readings::levelPalette().size()));
    QCOMPARE(shapes.size(), int(readings::levelPalette().size()));
    QCOMPARE(QLatin1String(readings::levelMark(readings::Level::NoData).word), QLatin1String("NO DATA"));
    QCOMPARE(readings::levelOf(readings::GasLevel::Red), readings::Level::VeryHigh);
    QCOMPARE(readings::levelOf(readings::GasLevel::Yellow), readings::Level::High);
    QCOMPARE(readings::levelOf(readings::GasLevel::Green), readings::Level::Normal);
    QVERIFY(!readings::levelOf(readings::GasLevel::Unchanged));
    QVERIFY(!readings::levelOf(readings::GasLevel::NoReading));
}

void FleetBoardTest::gasLevelsStayApartForColourBlindReaders_data()
{
    QTest::addColumn<Matrix>("vision");
    QTest::newRow("normal") << Matrix{{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}};
    QTest::newRow("protanopia") << Matrix{{{0.152286, 1.052583, -0.204868},
                                           {0.114503, 0.786281, 0.099216},
                                           {-0.003882, -0.048116, 1.051998}}};
    QTest::newRow("deuteranopia") << Matrix{{{0.367322, 0.860646, -0.227968},
                                             {0.280085, 0.672501, 0.047413},
                                             {-0.011820, 0.042940, 0.968881}}};
    QTest::newRow("tritanopia") << Matrix{{{1.255528, -0.076749, -0.178779},
                                           {-0.078411, 0.930809, 0.147602},
                                           {0.004733, 0.691367, 0.303900}}};
}

void FleetBoardTest::gasLevelsStayApartForColourBlindReaders()
{
    QFETCH(Matrix, vision);
    const std::array<readings::Level, 3> gas{readings::Level::Normal, readings::Level::High,
                                             readings::Level::VeryHigh};
    for (std::size_t a = 0; a < gas.size(); ++a) {
        const auto first = lab(seenAs(readings::levelMark(gas[a]).colour, vision));
        // Very high must never fade towards the black of the board.
        QVERIFY2(first[0] > 35.0, readings::levelMark(gas[a]).word);
        for (std::size_t b = a + 1; b < gas.size(); ++b) {
            const auto second = lab(seenAs(readings::levelMark(gas[b]).colour, vision));
            const double apart = std::hypot(first[0] - second[0], first[1] - second[1], first[2] - second[2]);
            QVERIFY2(apart > 40.0, qPrintable(QStringLiteral("%1 and %2: %3")
                                                  .arg(QLatin1String(readings::levelMark(gas[a]).word),
                                                       QLatin1String(readings::levelMark(gas[b]).word))
                                                  .arg(apart)));
        }
    }
}

QTEST_MAIN(FleetBoardTest)
#include "tst_fleetboard.moc"
