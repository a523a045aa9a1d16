#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>

#include <QApplication>
#include <QLineEdit>
#include <QPaintEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "app/alerts/alarmkeeper.h"
#include "app/fleet/fleetboard.h"
#include "app/trends/trendswindow.h"
#include "app/viewerextras.h"
#include "history/fleetboardmodel.h"
#include "history/gaslevelstore.h"
#include "history/historyfile.h"
#include "history/historywriter.h"
#include "rules/board/fleettile.h"
#include "rules/files/safefile.h"
#include "rules/readings/levelpalette.h"
#include "support/historysupport.h"
#include "support/testsupport.h"

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

constexpr qint64 Now = 1'800'000'000'000;

QStringList names(std::initializer_list<const char *> texts)
{
    QStringList list;
    for (const char *text : texts)
        list << QString::fromLatin1(text);
    return list;
}

// A tile from its history, told as "reading@-10" (a reading of the gas
// 10 s before now), "reading@-10=1900" (with that gas), "reading@-3=100!5"
// (with error 5), or "<event kind>@-5".
board::Tile tileOf(const QString &unit, const QStringList &history)
{
    board::Tile tile;
    tile.unit = unit;
    for (const QString &step : history) {
        const QString what = step.section(QLatin1Char('@'), 0, 0);
        const QString rest = step.section(QLatin1Char('@'), 1);
        const qint64 at = Now + rest.section(QLatin1Char('='), 0, 0).toLongLong() * 1000;
        if (what == QLatin1String("reading")) {
            const QString value = rest.section(QLatin1Char('='), 1);
            const QString gas = value.section(QLatin1Char('!'), 0, 0);
            tile.addReading(at, gas.isEmpty() ? std::nullopt : std::optional<double>(gas.toDouble()),
                            value.section(QLatin1Char('!'), 1).toDouble());
        } else {
            tile.addLinkEvent(at, what);
        }
    }
    return tile;
}

history::ReadingRow readingRow(const QString &unit, qint64 timeMs, double gas, double error = 0.0)
{
    history::ReadingRow row;
    row.timeMs = timeMs;
    row.unit = unit;
    row.serial = unit;
    row.packet = QByteArrayLiteral("packet");
    const auto place = [](const char *name) {
        return std::size_t(history::numericColumn(QLatin1String(name)) - history::numericColumns().data());
    };
    row.values[place("gas_units")] = gas;
    row.values[place("hole_depth")] = 8000.0;
    row.values[place("lag_depth")] = 7950.0;
    row.values[place("bit_depth")] = 7990.0;
    row.values[place("rop_min_ft")] = 1.25;
    row.values[place("error_number")] = error;
    return row;
}

// Fifty units in a history written as the recorder writes it: 0003 very
// high, 0020 high, 0030 two minutes silent, the recorder lost 0010's link,
// the rest below the levels.
history::Batch fiftyUnits(qint64 now)
{
    history::Batch batch;
    for (int i = 1; i <= 50; ++i) {
        const QString unit = QStringLiteral("%1").arg(i, 4, 10, QLatin1Char('0'));
        const double gas = i == 3 ? 1900.0 : i == 20 ? 1500.0 : 10.0 * i;
        const qint64 last = i == 30 ? now - 120'000 : now - 2000;
        for (qint64 t = now - 600'000; t <= last; t += 10'000)
            batch.readings.push_back(readingRow(unit, t, gas));
        if (i == 10)
            batch.events.push_back({now - 1000, unit, QStringLiteral("link error"), QStringLiteral("the link failed")});
        else
            batch.events.push_back({now - 700'000, unit, QStringLiteral("connected"), QStringLiteral("connected")});
    }
    // A viewer's report line before any unit was chosen: no unit.
    batch.events.push_back({now - 3000, QString(), QStringLiteral("report"), QStringLiteral("[a line]")});
    return batch;
}

bool write(const QString &path, history::Batch batch)
{
    HistoryWriter::Options options;
    options.path = path;
    HistoryWriter writer(options);
    if (!writer.start())
        return false;
    writer.submit(std::move(batch));
    return writer.stop();
}

std::optional<double> valueIn(const history::ReadingRow &row, const char *name)
{
    return row.values[std::size_t(history::numericColumn(QLatin1String(name)) - history::numericColumns().data())];
}

// Gathers the parts of a widget drawn.
class DrawnParts : public QObject
{
public:
    explicit DrawnParts(QWidget *widget) { widget->installEventFilter(this); }
    QRegion drawn;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            drawn += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
};

template <typename T>
T *topLevel()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (auto *found = qobject_cast<T *>(top); found && found->isVisible())
            return found;
    }
    return nullptr;
}

} // namespace

class FleetBoardTest : public QObject
{
    Q_OBJECT

private slots:
    void paletteMarksEveryLevelApart();
    void gasLevelsStayApartForColourBlindReaders_data();
    void gasLevelsStayApartForColourBlindReaders();
    void tilesOrderWorstFirst_data();
    void tilesOrderWorstFirst();
    void staleAndNoData_data();
    void staleAndNoData();
    void alarmBlinksWithItsReadings();
    void boardFollowsTheHistoryByItsNews();
    void peaksOfEachHalfMinute_data();
    void peaksOfEachHalfMinute();
    void unitsRankedByTheirOwnLevels();
    void onlyTilesWhoseFaceChangedAreDrawn_data();
    void onlyTilesWhoseFaceChangedAreDrawn();
    void linesKeptOnlyForTilesInSight();
    void readersKeepTheirPagesWithinABound();
    void tileReadingsThroughOneKeptStatement();
    void silentServerNeverHoldsTheBoard();
    void boardFromAnotherWindowWatchesAndOpensTrends();
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

void FleetBoardTest::tilesOrderWorstFirst_data()
{
    QTest::addColumn<QStringList>("tiles");  // unit:history;history...
    QTest::addColumn<QStringList>("acknowledged");
    QTest::addColumn<int>("staleSeconds");
    QTest::addColumn<QStringList>("order");

    QTest::newRow("critical, warning, stale, then the rest")
        << names({"N:reading@-1=900", "S:reading@-100=800", "W:reading@-1=100!5", "C:reading@-1=1900"})
        << QStringList() << 30 << names({"C", "W", "S", "N"});
    QTest::newRow("a lost link is critical; an acknowledged critical goes with the warnings")
        << names({"W:reading@-1=1500", "A:reading@-1=1900", "L:reading@-9=100;unit ended@-5"})
        << names({"A"}) << 30 << names({"L", "A", "W"});
    QTest::newRow("a unit alarm is a warning")
        << names({"N:reading@-1=1100", "E:reading@-1=100!5"}) << QStringList() << 30 << names({"E", "N"});
    QTest::newRow("by the gas, highest first, then by the unit")
        << names({"N1:reading@-1=300", "N3:reading@-1=900", "N2:reading@-1=900"}) << QStringList() << 30
        << names({"N2", "N3", "N1"});
    QTest::newRow("held high between the levels")
        << names({"H:reading@-2=1500;reading@-1=1300", "N:reading@-2=100;reading@-1=1350"}) << QStringList()
        << 30 << names({"H", "N"});
    QTest::newRow("no stale limit: old data is not stale")
        << names({"O:reading@-3600=100", "N:reading@-1=500"}) << QStringList() << 0 << names({"N", "O"});
    QTest::newRow("no gas reading comes last")
        << names({"X:reading@-1", "Z:reading@-1=0"}) << QStringList() << 30 << names({"Z", "X"});
}

void FleetBoardTest::tilesOrderWorstFirst()
{
    QFETCH(QStringList, tiles);
    QFETCH(QStringList, acknowledged);
    QFETCH(int, staleSeconds);
    QFETCH(QStringList, order);
    std::vector<board::Tile> made;
    for (const QString &tile : tiles)
        made.push_back(tileOf(tile.section(QLatin1Char(':'), 0, 0),
                              tile.section(QLatin1Char(':'), 1).split(QLatin1Char(';'))));
    QStringList shown;
    const auto seen = [&acknowledged](const QString &unit) { return acknowledged.contains(unit); };
    for (const std::size_t i : board::boardOrder(made, Now, staleSeconds, seen))
        shown << made[i].unit;
    QCOMPARE(shown, order);
}

void FleetBoardTest::staleAndNoData_data()
{
    QTest::addColumn<QStringList>("history");
    QTest::addColumn<bool>("stale");
    QTest::addColumn<bool>("noData");
    QTest::addColumn<QString>("word");  // of the tile's level

    QTest::newRow("fresh") << names({"reading@-5=100"}) << false << false << QStringLiteral("NORMAL");
    QTest::newRow("at the limit") << names({"reading@-30=1800"}) << false << false << QStringLiteral("VERY HIGH");
    QTest::newRow("past the limit") << names({"reading@-31=1800"}) << true << false << QStringLiteral("STALE");
    QTest::newRow("no reading at all") << names({"connected@-5"}) << true << false << QStringLiteral("STALE");
    QTest::newRow("link lost after the reading")
        << names({"reading@-10=100", "link error@-5"}) << false << true << QStringLiteral("NO DATA");
    QTest::newRow("the unit silent, closed by the recorder")
        << names({"reading@-200=100", "silent@-80"}) << false << true << QStringLiteral("NO DATA");
    QTest::newRow("a reading after the loss") << names({"unit ended@-10", "reading@-5=100"}) << false << false
                                              << QStringLiteral("NORMAL");
    QTest::newRow("connected again, no reading yet")
        << names({"reading@-20=100", "unit ended@-10", "connected@-5"}) << false << false << QStringLiteral("NORMAL");
    QTest::newRow("never reached") << names({"lookup error@-5"}) << false << true << QStringLiteral("NO DATA");
}

void FleetBoardTest::staleAndNoData()
{
    QFETCH(QStringList, history);
    QFETCH(bool, stale);
    QFETCH(bool, noData);
    QFETCH(QString, word);
    const board::Judgement judged = board::judge(tileOf(QStringLiteral("U"), history), Now, 30);
    QCOMPARE(judged.stale, stale);
    QCOMPARE(judged.noData, noData);
    QVERIFY(judged.level);
    QCOMPARE(QLatin1String(readings::levelMark(*judged.level).word), word);
    if (noData)
        QCOMPARE(judged.urgency, board::Urgency::Critical);
}

void FleetBoardTest::alarmBlinksWithItsReadings()
{
    // As the panel: the face colour on the first reading of an alarm, red
    // on the second; a reading without one stops the blink where it is.
    board::Tile tile;
    QList<bool> red;
    QStringList texts;
    for (const double error : {5.0, 5.0, 5.0, 0.0, 17.0}) {
        tile.addReading(Now, 100.0, error);
        const board::Judgement judged = board::judge(tile, Now, 30);
        red << judged.alarmRed;
        texts << judged.alarmText;
    }
    QCOMPARE(red, (QList<bool>{false, true, false, false, true}));
    QCOMPARE(texts, (names({"HIGH SAMPLE FLOW RATE", "HIGH SAMPLE FLOW RATE", "HIGH SAMPLE FLOW RATE",
                                 "No Errors", "HIGH H2S"})));
}

void FleetBoardTest::boardFollowsTheHistoryByItsNews()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("fleet.sqlite3"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(write(path, fiftyUnits(now)));

    FleetBoardOptions options;
    FleetBoard board(options);
    board.follow(path);
    QTRY_COMPARE(board.shownUnits().size(), 50);
    QVERIFY(board.model().problem().isEmpty());
    QStringList shown = board.shownUnits();
    QCOMPARE(shown.mid(0, 4), (names({"0003", "0010", "0020", "0030"})));
    QCOMPARE(shown.mid(4, 2), (names({"0050", "0049"})));
    const board::Tile *lost = board.model().tile(QStringLiteral("0010"));
    QVERIFY(lost && board::judge(*lost, now, 30).noData);
    const board::Tile *silent = board.model().tile(QStringLiteral("0030"));
    QVERIFY(silent && board::judge(*silent, now, 30).stale);
    // Ten minutes of readings every 10 s: a point per half minute, once
    // the lines of the hour have come after the latest readings.
    const auto points = [&board] { return board.model().tile(QStringLiteral("0042"))->spark.size(); };
    QTRY_VERIFY2(points() == 20 || points() == 21, qPrintable(QString::number(points())));

    // The filter narrows the board by unit.
    auto *filter = support::child<QLineEdit>(board, "txt_filter");
    filter->setText(QStringLiteral("004"));
    QCOMPARE(board.shownUnits(), (names({"0049", "0048", "0047", "0046", "0045", "0044", "0043", "0042",
                                              "0041", "0040", "0004"})));
    filter->clear();

    // New rows of two units: only those two are read again, and the board
    // orders itself anew.
    QSignalSpy changed(&board.model(), &FleetBoardModel::tilesChanged);
    history::Batch more;
    more.readings.push_back(readingRow(QStringLiteral("0045"), now + 1000, 2100.0));
    more.readings.push_back(readingRow(QStringLiteral("0012"), now + 1000, 1600.0, 5.0));
    more.events.push_back({now + 1000, QString(), QStringLiteral("report"), QStringLiteral("[a line]")});
    QVERIFY(write(path, std::move(more)));
    QTRY_COMPARE(board.shownUnits().value(0), QStringLiteral("0045"));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().first().toStringList(), (names({"0012", "0045"})));
    QCOMPARE(board.shownUnits().mid(0, 4), (names({"0045", "0003", "0010", "0012"})));
    const board::Judgement alarm = board::judge(*board.model().tile(QStringLiteral("0012")), now, 30);
    QCOMPARE(alarm.alarmText, QStringLiteral("HIGH SAMPLE FLOW RATE"));

    // The file moved aside and started again, as the recorder does with a
    // damaged one: the new file is followed.
    for (const QString &file : files::withJournals(path)) {
        if (QFile::exists(file))
            QVERIFY(QFile::rename(file, file + QStringLiteral(".damaged")));
    }
    history::Batch again;
    again.readings.push_back(readingRow(QStringLiteral("0099"), now + 2000, 2500.0));
    QVERIFY(write(path, std::move(again)));
    QTRY_COMPARE(board.shownUnits().value(0), QStringLiteral("0099"));
}

void FleetBoardTest::peaksOfEachHalfMinute_data()
{
    // Readings at (ms after a half-minute's start, gas; NaN: no number),
    // and the peaks read over the first 90 s.
    QTest::addColumn<QList<QPointF>>("readings");
    QTest::addColumn<QList<QPointF>>("peaks");
    QTest::newRow("two half-minutes, the highest of each")
        << QList<QPointF>{{0, 100}, {10000, 300}, {29999, 200}, {30000, 50}, {45000, 80}}
        << QList<QPointF>{{0, 300}, {30000, 80}};
    QTest::newRow("a half-minute without readings has no point")
        << QList<QPointF>{{0, 10}, {65000, 20}} << QList<QPointF>{{0, 10}, {60000, 20}};
    QTest::newRow("readings without a number are no peak")
        << QList<QPointF>{{1000, qQNaN()}, {31000, 40}, {32000, qQNaN()}} << QList<QPointF>{{30000, 40}};
    QTest::newRow("only the range read") << QList<QPointF>{{-1, 900}, {5000, 1}, {90000, 900}}
                                         << QList<QPointF>{{0, 1}};
}

void FleetBoardTest::peaksOfEachHalfMinute()
{
    QFETCH(QList<QPointF>, readings);
    QFETCH(QList<QPointF>, peaks);
    const qint64 start = Now - Now % board::SparkBucketMs;
    history::Batch batch;
    for (const QPointF &reading : readings) {
        history::ReadingRow row = readingRow(QStringLiteral("0001"), start + qint64(reading.x()), reading.y());
        if (qIsNaN(reading.y()))
            row.values[std::size_t(history::numericColumn(QLatin1String("gas_units")) - history::numericColumns().data())].reset();
        batch.readings.push_back(row);
    }
    // Another unit's readings are not its peaks.
    batch.readings.push_back(readingRow(QStringLiteral("0002"), start, 5000.0));
    // The same on a file and, when the suite has one, on a server.
    QTemporaryDir dir;
    support::ServerDatabase server;
    QStringList addresses{dir.filePath(QStringLiteral("peaks.sqlite3"))};
    if (server.isValid())
        addresses << server.uri();
    for (const QString &address : addresses) {
        HistoryStore store;
        QVERIFY(store.open(address, HistoryStore::Access::Migrate));
        QVERIFY(store.write(batch));
        const HistoryResult<std::vector<Sample>> read =
            store.peaks(QStringLiteral("0001"), QStringLiteral("gas_units"), start, start + 90000, board::SparkBucketMs);
        QVERIFY2(read, qPrintable(read ? QString() : read.reason().text));
        QList<QPointF> got;
        for (const Sample &peak : *read)
            got << QPointF(double(peak.timeMs - start), peak.value);
        QCOMPARE(got, peaks);
    }
}

void FleetBoardTest::unitsRankedByTheirOwnLevels()
{
    // 0001 at 1300 (between the levels, nothing to hold: normal), 0002 at
    // 500 with levels of its own it is very high at, 0003 high at 1500,
    // 0004 at 1300 held high since 1500 before it.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("levels.sqlite3"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    history::Batch batch;
    batch.readings.push_back(readingRow(QStringLiteral("0001"), now - 1000, 1300.0));
    batch.readings.push_back(readingRow(QStringLiteral("0002"), now - 1000, 500.0));
    batch.readings.push_back(readingRow(QStringLiteral("0003"), now - 1000, 1500.0));
    batch.readings.push_back(readingRow(QStringLiteral("0004"), now - 30000, 1500.0));
    batch.readings.push_back(readingRow(QStringLiteral("0004"), now - 20000, 1250.0));
    batch.readings.push_back(readingRow(QStringLiteral("0004"), now - 1000, 1300.0));
    QVERIFY(write(path, batch));
    const auto setLevels = [&path](const readings::GasLevels &levels, qint64 at) {
        HistoryStore store;
        return store.open(path, HistoryStore::Access::ReadWrite)
               && history::setGasLevels(store, QStringLiteral("0002"), levels, at);
    };
    QVERIFY(setLevels({100, 200, 400}, now - 5000));

    FleetBoardOptions options;
    FleetBoard board(options);
    board.follow(path);
    QTRY_COMPARE(board.shownUnits(), (names({"0002", "0003", "0004", "0001"})));
    const board::Tile *own = board.model().tile(QStringLiteral("0002"));
    QCOMPARE(board::judge(*own, now, 30).level, readings::Level::VeryHigh);
    QCOMPARE(board::judge(*board.model().tile(QStringLiteral("0003")), now, 30).level, readings::Level::High);

    // Back at the defaults, its next reading is judged at them.
    QVERIFY(setLevels({}, now));
    history::Batch next;
    next.readings.push_back(readingRow(QStringLiteral("0002"), now + 1000, 500.0));
    QVERIFY(write(path, next));
    QTRY_COMPARE(board.shownUnits(), (names({"0003", "0004", "0001", "0002"})));
    QCOMPARE(board::judge(*board.model().tile(QStringLiteral("0002")), now, 30).level, readings::Level::Normal);
}

void FleetBoardTest::onlyTilesWhoseFaceChangedAreDrawn_data()
{
    QTest::addColumn<int>("laterMs");
    QTest::addColumn<int>("staleSeconds");
    QTest::addColumn<QStringList>("drawn");
    // 0001's reading is 2 s old, the others' 2 min; judged again later.
    QTest::newRow("nothing shown changed") << 0 << 0 << QStringList();
    QTest::newRow("every age still shows the same") << 500 << 0 << QStringList();
    QTest::newRow("one age a second on") << 1000 << 0 << names({"0001"});
    QTest::newRow("a minute on, every age") << 60000 << 0 << names({"0002", "0003", "0004", "0001"});
    QTest::newRow("three turn stale and dim in their places") << 0 << 100 << names({"0002", "0003", "0004"});
}

// A board judged again each second draws again only the tiles whose face
// changed: drawing 200 tiles a second was most of a following viewer's time.
void FleetBoardTest::onlyTilesWhoseFaceChangedAreDrawn()
{
    QFETCH(int, laterMs);
    QFETCH(int, staleSeconds);
    QFETCH(QStringList, drawn);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("faces.sqlite3"));
    const qint64 start = QDateTime::currentMSecsSinceEpoch();
    history::Batch batch;
    batch.readings.push_back(readingRow(QStringLiteral("0001"), start - 2000, 100.0));
    batch.readings.push_back(readingRow(QStringLiteral("0002"), start - 120000, 900.0));
    batch.readings.push_back(readingRow(QStringLiteral("0003"), start - 120000, 800.0));
    batch.readings.push_back(readingRow(QStringLiteral("0004"), start - 120000, 700.0));
    QVERIFY(write(path, std::move(batch)));
    std::atomic<qint64> now{start};
    FleetBoardOptions options;
    options.staleSeconds = 0;
    options.clock = [&now] { return now.load(); };
    FleetBoard board(options);
    board.follow(path);
    board.show();
    QVERIFY(QTest::qWaitForWindowExposed(&board));
    const QStringList order = names({"0002", "0003", "0004", "0001"});
    QTRY_COMPARE(board.shownUnits(), order);
    DrawnParts parts(support::child<QWidget>(board, "pic_tiles"));
    QCoreApplication::processEvents();
    parts.drawn = QRegion();

    now += laterMs;
    board.setStaleSeconds(staleSeconds);
    QCoreApplication::processEvents();
    QCOMPARE(board.shownUnits(), order);
    QStringList got;
    for (const QString &unit : order) {
        QVERIFY(!board.tileRect(unit).isEmpty());
        if (parts.drawn.intersects(board.tileRect(unit)))
            got << unit;
    }
    QCOMPARE(got, drawn);
}

// Each tile's line of the hour is kept drawn while the tile is in sight,
// and only then: scrolled through a board of fifty, the board keeps no more
// pictures than it shows, and draws each again as its tile comes back.
void FleetBoardTest::linesKeptOnlyForTilesInSight()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("sight.sqlite3"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QVERIFY(write(path, fiftyUnits(now)));
    FleetBoardOptions options;
    FleetBoard board(options);
    board.resize(640, 400);
    board.follow(path);
    board.show();
    QVERIFY(QTest::qWaitForWindowExposed(&board));
    QTRY_COMPARE(board.shownUnits().size(), 50);
    QTRY_VERIFY(board.model().tile(QStringLiteral("0001"))->spark.size() >= 20);
    QTRY_VERIFY(board.model().tile(QStringLiteral("0050"))->spark.size() >= 20);
    auto *tiles = support::child<QWidget>(board, "pic_tiles");
    auto *area = support::child<QScrollArea>(board, "scr_tiles");
    const auto inSight = [&board, tiles] {
        int count = 0;
        for (const QString &unit : board.shownUnits())
            count += board.tileRect(unit).intersects(tiles->visibleRegion().boundingRect()) ? 1 : 0;
        return count;
    };
    QScrollBar *bar = area->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    const int first = inSight();
    QVERIFY(first > 0 && first < 25);
    QTRY_COMPARE(board.keptLines(), first);
    for (int at = 0; at <= bar->maximum(); at += bar->pageStep() / 2) {
        bar->setValue(at);
        QCoreApplication::processEvents();
        // Judged again, as each second.
        board.setStaleSeconds(30);
        QVERIFY2(board.keptLines() <= inSight(), qPrintable(QStringLiteral("%1 kept, %2 in sight at %3")
                                                                 .arg(board.keptLines())
                                                                 .arg(inSight())
                                                                 .arg(at)));
    }
    // Back at the top: the lines in sight drawn again, the others gone.
    bar->setValue(0);
    QCoreApplication::processEvents();
    board.setStaleSeconds(30);
    QCOMPARE(board.keptLines(), first);
}

// A store given a bound on the pages it keeps between reads holds to it,
// reading or writing; one given none has the engine's own, some 2 MB, which
// a follower of a growing file filled in a quarter of an hour and held.
void FleetBoardTest::readersKeepTheirPagesWithinABound()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pages.sqlite3"));
    QVERIFY(write(path, fiftyUnits(QDateTime::currentMSecsSinceEpoch())));
    const auto kept = [&path](HistoryStore::Access access, int kib) -> qint64 {
        HistoryLimits limits;
        limits.cacheKiB = kib;
        HistoryStore store;
        if (!store.open(path, access, limits) || !store.latestByUnit())
            return 0;
        QSqlQuery query(store.database());
        return query.exec(QStringLiteral("PRAGMA cache_size")) && query.next() ? query.value(0).toLongLong() : 0;
    };
    QCOMPARE(kept(HistoryStore::Access::ReadOnly, FleetBoardModel::CacheKiB), -qint64(FleetBoardModel::CacheKiB));
    QCOMPARE(kept(HistoryStore::Access::ReadWrite, 300), qint64(-300));
    const qint64 engines = kept(HistoryStore::Access::ReadOnly, 0);
    QVERIFY(engines != 0 && engines != -qint64(FleetBoardModel::CacheKiB));
}

// The tiles' readings come through one statement kept on the connection:
// it reads the range asked for, in order, sees what another connection
// wrote since, and is made afresh for other columns.
void FleetBoardTest::tileReadingsThroughOneKeptStatement()
{
    QTemporaryDir dir;
    support::ServerDatabase server;
    QStringList addresses{dir.filePath(QStringLiteral("tiles.sqlite3"))};
    if (server.isValid())
        addresses << server.uri();
    for (const QString &address : addresses) {
        HistoryStore store;
        QVERIFY(store.open(address, HistoryStore::Access::Migrate));
        history::Batch batch;
        batch.readings = {readingRow(QStringLiteral("0001"), Now, 100.0),
                          readingRow(QStringLiteral("0001"), Now + 1000, 200.0),
                          readingRow(QStringLiteral("0002"), Now + 1000, 900.0),
                          readingRow(QStringLiteral("0001"), Now + 2000, 300.0)};
        batch.readings[1].values[std::size_t(history::numericColumn(QLatin1String("gas_units"))
                                             - history::numericColumns().data())]
            .reset();
        QVERIFY(store.write(batch));
        // Each row as (seconds after Now, the column's value or -1).
        const auto read = [&store](qint64 fromMs, qint64 toMs, const char *column) {
            QList<QPointF> rows;
            const HistoryResult<void> done =
                store.eachReading({QStringLiteral("0001"), fromMs, toMs}, {QLatin1String(column)},
                                  [&rows, column](const history::ReadingRow &row) {
                                      QCOMPARE(row.unit, QStringLiteral("0001"));
                                      rows << QPointF(double(row.timeMs - Now) / 1000,
                                                      valueIn(row, column).value_or(-1.0));
                                  });
            if (!done)
                rows << QPointF(-1, -1);
            return rows;
        };
        QCOMPARE(read(Now, Now + 2000, "gas_units"), (QList<QPointF>{{0, 100}, {1, -1}}));
        HistoryStore other;
        QVERIFY(other.open(address, HistoryStore::Access::ReadWrite));
        history::Batch more;
        more.readings.push_back(readingRow(QStringLiteral("0001"), Now + 3000, 400.0));
        QVERIFY(other.write(more));
        QCOMPARE(read(Now + 1500, Now + 9000, "gas_units"), (QList<QPointF>{{2, 300}, {3, 400}}));
        QCOMPARE(read(Now + 3000, Now + 3001, "hole_depth"), (QList<QPointF>{{3, 8000}}));
        QCOMPARE(read(Now, Now + 1, "gas_units"), (QList<QPointF>{{0, 100}}));
        QCOMPARE(read(Now, Now + 9000, "no such column"), (QList<QPointF>{{-1, -1}}));
    }
}

// A server that takes the connection and never answers: the board's window
// goes on at once, says why once the connect times out, and goes at once
// when closed meanwhile.
void FleetBoardTest::silentServerNeverHoldsTheBoard()
{
    if (!sqldialect::driverAvailable(sqldialect::Engine::Postgres))
        QSKIP("Qt SQL's PostgreSQL driver is not installed");
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    const QString address =
        QStringLiteral("postgresql://desk@127.0.0.1:%1/h?connect_timeout=2").arg(silent.serverPort());
    {
        QElapsedTimer held;
        held.start();
        auto gone = std::make_unique<FleetBoard>(FleetBoardOptions());
        gone->follow(address);
        gone.reset();
        QVERIFY2(held.elapsed() < 500, qPrintable(QString::number(held.elapsed())));
    }
    FleetBoard board{FleetBoardOptions()};
    QSignalSpy problem(&board.model(), &FleetBoardModel::problemChanged);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(100);
    QElapsedTimer held;
    held.start();
    board.follow(address);
    QVERIFY2(held.elapsed() < 500, qPrintable(QString::number(held.elapsed())));
    QVERIFY(board.model().isReading());
    QVERIFY(problem.wait(10000));
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    QVERIFY2(board.model().problem().startsWith(QLatin1String("cannot open ")), qPrintable(board.model().problem()));
    QVERIFY(!board.model().isReading());
    QVERIFY(board.shownUnits().isEmpty());
}

void FleetBoardTest::boardFromAnotherWindowWatchesAndOpensTrends()
{
    // The viewer's own history holds three units.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    history::Batch batch;
    batch.readings.push_back(readingRow(QStringLiteral("0001"), now - 1000, 100.0));
    batch.readings.push_back(readingRow(QStringLiteral("0002"), now - 1000, 1800.0));
    batch.readings.push_back(readingRow(QStringLiteral("0003"), now - 1000, 1760.0));
    QVERIFY(write(historyDatabasePath(), std::move(batch)));

    support::WindowFixture fixture;
    fixture.write("RDVlookup.TXT", QByteArrayLiteral("0001 127.0.0.1 2400\r\n0002 127.0.0.1 2401\r\n"
                                                     "0003 127.0.0.1 2402\r\n"));
    const std::unique_ptr<QTimer> ticking = support::fastTicks(fixture.w());
    ViewerExtras extras(fixture.w());
    fixture.w().show();
    QVERIFY(QTest::qWaitForWindowActive(&fixture.w()));
    // F6 from the trends window, not only from the main one.
    QTest::keyClick(&fixture.w(), Qt::Key_F2);
    TrendsWindow *trends = topLevel<TrendsWindow>();
    QVERIFY(trends);
    QVERIFY(QTest::qWaitForWindowActive(trends));
    QTest::keyClick(trends, Qt::Key_F6);
    FleetBoard *board = topLevel<FleetBoard>();
    QVERIFY(board);
    QCOMPARE(board->objectName(), QStringLiteral("fm_fleet"));
    QTRY_COMPARE(board->shownUnits(), (names({"0002", "0003", "0001"})));
    QVERIFY(QTest::qWaitForWindowActive(board));

    // The arrows move between the tiles; Enter opens that unit's trends.
    QWidget *tiles = support::child<QWidget>(*board, "pic_tiles");
    QCOMPARE(board->currentUnit(), QStringLiteral("0002"));
    QTest::keyClick(tiles, Qt::Key_Right);
    QCOMPARE(board->currentUnit(), QStringLiteral("0003"));
    QTest::keyClick(tiles, Qt::Key_Left);
    QTest::keyClick(tiles, Qt::Key_Left);
    QCOMPARE(board->currentUnit(), QStringLiteral("0002"));
    QTest::keyClick(tiles, Qt::Key_End);
    QCOMPARE(board->currentUnit(), QStringLiteral("0001"));
    QTest::keyClick(tiles, Qt::Key_Return);
    QTRY_COMPARE(trends->windowTitle(), QStringLiteral("Trends: 0001"));

    // The tiles' conditions are in the alarm list; acknowledged there, a
    // critical tile steps down the board.
    QCOMPARE(extras.alarms().worstUnacknowledged(QStringLiteral("0002")), alerts::Level::Critical);
    QCOMPARE(extras.alarms().worstUnacknowledged(QStringLiteral("0001")), std::nullopt);
    extras.alarms().acknowledgeUnit(QStringLiteral("0002"));
    QTRY_COMPARE(board->shownUnits(), names({"0003", "0002", "0001"}));

    // Watch on panel: the serial in the box, connected as by Enter there.
    QTest::keyClick(tiles, Qt::Key_Home);
    support::child<QPushButton>(*board, "cmd_watch")->click();
    QCOMPARE(support::child<QLineEdit>(fixture.w(), "txt_trailer_num")->text(), QStringLiteral("0003"));
    QTRY_COMPARE(fixture.socket->connectCalls, 1);
    QCOMPARE(fixture.socket->remotePort, 2402);

}

QTEST_MAIN(FleetBoardTest)
#include "tst_fleetboard.moc"
