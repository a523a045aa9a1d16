// The trends window on a small recorded history: the points its charts
// draw, a reading that comes live, the depth view and another unit.

#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QMenu>
#include <QScatterSeries>
#include <QScopeGuard>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include "history/historystore.h"
#include "history/sqldialect.h"
#include "history/trendsloader.h"
#include "rules/trends/trenddata.h"
#include "link/unitlink.h"
#include "support/fakesocket.h"
#include "support/historysupport.h"
#include "support/packets.h"
#include "support/screens.h"
#include "app/display/colours.h"
#include "app/trends/trendchart.h"
#include "app/trends/trendswindow.h"
#include "rules/config/lookupfile.h"
#include "rules/mudlog/mudlog.h"

using namespace trends;

namespace {

constexpr int Readings = 40;
constexpr int Missing = 7;  // this reading's gas units are no number

history::ReadingRow row(const char *unit, qint64 timeMs, std::map<QString, double> values)
{
    history::ReadingRow made;
    made.timeMs = timeMs;
    made.unit = QString::fromLatin1(unit);
    made.packet = "*";
    for (std::size_t i = 0; i < history::numericColumns().size(); ++i) {
        const auto found = values.find(QLatin1String(history::numericColumns()[i].name));
        if (found != values.end())
            made.values[i] = found->second;
    }
    return made;
}

// Unit 0001's readings from first on, one each stepMs: the gas waving with
// the period given (in readings), one reading's spike, the chromatograph
// moving so that the ratios do, the depths creeping on.
history::Batch wavingReadings(qint64 first, int count, int stepMs, double period, int spike)
{
    history::Batch batch;
    for (int i = 0; i < count; ++i) {
        const double gas = 900 + 300 * std::sin(i / period);
        batch.readings.push_back(row("0001", first + qint64(i) * stepMs,
                                     {{QStringLiteral("gas_units"), i == spike ? 4800.0 : gas},
                                      {QStringLiteral("c1"), std::round(6 * gas * (1 + i % 7 * 0.05))},
                                      {QStringLiteral("c2"), std::round(gas * (1 + i % 5 * 0.05))},
                                      {QStringLiteral("c3"), std::round(gas / 2)},
                                      {QStringLiteral("ic4"), 40.0 + i % 3},
                                      {QStringLiteral("nc4"), 50},
                                      {QStringLiteral("ic5"), 10},
                                      {QStringLiteral("nc5"), 12.0 + i % 4},
                                      {QStringLiteral("hole_depth"), 5000 + i * 0.1},
                                      {QStringLiteral("lag_depth"), 4990 + i * 0.1},
                                      {QStringLiteral("bit_depth"), 5000 + i * 0.1},
                                      {QStringLiteral("rop_ft_hr"), 20.0 + i % 11}}));
    }
    return batch;
}

std::vector<QPointF> joined(const std::vector<std::vector<QPointF>> &parts)
{
    std::vector<QPointF> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// The labels beside a chart's plot, each axis apart: left, top and right.
std::map<QString, std::vector<std::pair<QString, QRectF>>> axisLabels(const TrendChart &chart, const QStringList &titles)
{
    const QRectF plot = chart.chart()->plotArea();
    std::map<QString, std::vector<std::pair<QString, QRectF>>> axes;
    for (QGraphicsItem *item : chart.scene()->items()) {
        auto *text = dynamic_cast<QGraphicsTextItem *>(item);
        if (!text || !text->isVisible())
            continue;
        const QRectF box = text->sceneBoundingRect();
        const QString label = text->toPlainText();
        if (titles.contains(label))
            continue;
        if (box.right() <= plot.left() + 2 && box.center().y() >= plot.top() - 2 && box.center().y() <= plot.bottom() + 2)
            axes[QStringLiteral("left")].emplace_back(label, box);
        else if (box.left() >= plot.right() - 2 && box.center().y() >= plot.top() - 2
                 && box.center().y() <= plot.bottom() + 2)
            axes[QStringLiteral("right")].emplace_back(label, box);
        else if (box.bottom() <= plot.top() + 2 && box.top() > 48 /* below the legend */
                 && box.center().x() >= plot.left() - 2)
            axes[QStringLiteral("top")].emplace_back(label, box);
    }
    return axes;
}

// Every label whole, inside the chart, clear of its neighbours (by a few
// pixels: labels that touch are cut short on a screen whose font is a
// little larger) and different from them, at least two an axis.
void checkAxisLabels(const TrendChart &chart, const std::map<QString, std::vector<std::pair<QString, QRectF>>> &axes)
{
    for (const auto &[side, labels] : axes) {
        QStringList texts;
        for (const auto &[label, box] : labels) {
            texts.append(label);
            const QString where = chart.objectName() + QLatin1Char(' ') + side + QStringLiteral(": ") + label;
            QVERIFY2(!label.contains(QStringLiteral("...")) && !label.contains(QChar(0x2026)), qPrintable(where));
            QVERIFY2(box.left() >= 0 && box.right() <= chart.width(), qPrintable(where));
            for (const auto &[other, otherBox] : labels) {
                if (&other != &label)
                    QVERIFY2(other != label && !box.adjusted(-2, -2, 2, 2).intersects(otherBox.adjusted(-2, -2, 2, 2)),
                             qPrintable(where + QStringLiteral(" and ") + other));
            }
        }
        QVERIFY2(texts.size() >= 2, qPrintable(side + QStringLiteral(": ") + texts.join(QLatin1Char(' '))));
    }
}

using Values = std::map<QString, double>;

// Thirty readings of unit 0001 ten seconds apart, the last ten seconds ago,
// written into a new file at path: each reading's values by its number.
void writeFiveMinutes(const QString &path, const std::function<Values(int)> &values)
{
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - 300 * 1000;
    history::Batch batch;
    for (int i = 0; i < 30; ++i)
        batch.readings.push_back(row("0001", start + i * 10000, values(i)));
    HistoryStore store;
    QVERIFY(store.open(path, HistoryStore::Access::ReadWrite));
    QVERIFY(store.write(batch));
}

// The trends window of unit 0001 on a file as it opens by default (no
// place or split kept from before), its charts drawn and on screen.
struct WindowOnFile
{
    UnitLink link{new FakeSocket};
    std::unique_ptr<TrendsWindow> window;

    void open(const QString &path)
    {
        QSettings().remove(QStringLiteral("trends/geometry"));
        QSettings().remove(QStringLiteral("trends/split"));
        link.stop();
        window = std::make_unique<TrendsWindow>(link, TrendsOptions{path, {}, [] { return QStringLiteral("0001"); }, {}});
        QSignalSpy updated(window.get(), &TrendsWindow::chartsUpdated);
        window->present();
        QVERIFY(updated.wait());
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
};

} // namespace

class tst_TrendsWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QSettings().clear();
        QSettings().setValue(QStringLiteral("trends/range"), TrendsWindow::TenMinutes);
    }
    void drawsTheHistoryThenFollowsTheLink();
    void gasColourIsTheLinksAndGoesWithTheUnit();
    void showsTheUnitUnderAnySpelling();
    void drawsByTheUnitsClock();
    void readsTheChosenSourceOffItsThread();
    void serverOverviewThenEveryReading();
    void serverConnectedAheadReadingsAfterTheOverview();
    void tourReportFromTheChosenSource();
    void opensWhereItFits_data();
    void opensWhereItFits();
    void axisLabelsDifferAndFit_data();
    void axisLabelsDifferAndFit();
    void labelsFitAtTheDefaultSize();
    void readingsInWordsFit();

protected:
    void customEvent(QEvent *event) override
    {
        if (event->type() == QEvent::User && m_painted)
            m_painted();
    }

private:
    // Called where a test's posted paint is handled.
    std::function<void()> m_painted;
};

void tst_TrendsWindow::drawsTheHistoryThenFollowsTheLink()
{
    // Unit 0001: a reading every 10 s over the last 7 minutes, gas rising
    // through every level; unit 0002: five readings.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - 400 * 1000;
    auto timeOf = [start](int i) { return static_cast<double>(start + i * 10000); };
    auto gasOf = [](int i) { return 500.0 + 40 * i; };
    history::Batch batch;
    for (int i = 0; i < Readings; ++i) {
        std::map<QString, double> values{{QStringLiteral("c1"), 10 * gasOf(i)}, {QStringLiteral("c2"), gasOf(i)},
                                         {QStringLiteral("c3"), gasOf(i) / 2},   {QStringLiteral("ic4"), 10},
                                         {QStringLiteral("nc4"), 10},            {QStringLiteral("ic5"), 5},
                                         {QStringLiteral("nc5"), 5},             {QStringLiteral("lag_depth"), 5000.0 + i}};
        if (i != Missing)
            values[QStringLiteral("gas_units")] = gasOf(i);
        batch.readings.push_back(row("0001", static_cast<qint64>(timeOf(i)), values));
    }
    for (int i = 0; i < 5; ++i)
        batch.readings.push_back(row("0002", static_cast<qint64>(timeOf(i)), {{QStringLiteral("gas_units"), 3000}}));
    batch.events = {{start - 1000, QStringLiteral("0001"), QStringLiteral("connected"), QStringLiteral("0001 connected")},
                    {static_cast<qint64>(timeOf(5)), QStringLiteral("0001"), QStringLiteral("alarm start"),
                     QStringLiteral("5 HIGH SAMPLE FLOW RATE")},
                    {static_cast<qint64>(timeOf(6)), QStringLiteral("0001"), QStringLiteral("report"),
                     QStringLiteral("[Parse Checksum failed]")}};
    {
        HistoryStore store;
        QVERIFY(store.open(path, HistoryStore::Access::ReadWrite));
        QVERIFY(store.write(batch));
    }

    auto *socket = new FakeSocket;
    UnitLink link(socket);
    link.stop();  // the test drives the poll by hand
    link.open(QStringLiteral("0001"));
    link.refreshState();
    TrendsWindow window(link, {path, {}, [] { return QStringLiteral("0001"); }});
    QSignalSpy updated(&window, &TrendsWindow::chartsUpdated);
    window.present();
    QVERIFY(updated.wait());
    QCOMPARE(window.unit(), QStringLiteral("0001"));

    // Every reading its own point; the one without gas units is no point.
    const TrendChart *gas = window.chart("cht_gas");
    std::vector<std::vector<QPointF>> expected(1);
    for (int i = 0; i < Readings; ++i) {
        if (i != Missing)
            expected[0].emplace_back(timeOf(i), gasOf(i));
    }
    QCOMPARE(gas->drawnParts(GasUnits), expected);
    const std::vector<QPointF> c1 = joined(window.chart("cht_chromatograph")->drawnParts(C1));
    QCOMPARE(c1.size(), std::size_t(Readings));
    QCOMPARE(c1.back(), QPointF(timeOf(Readings - 1), 10 * gasOf(Readings - 1)));
    const std::vector<QPointF> wetness = joined(window.chart("cht_ratios")->drawnParts(Wetness));
    const double c4 = 20;
    const double c5 = 10;
    const double wet = gasOf(0) + gasOf(0) / 2 + c4 + c5;
    QCOMPARE(wetness.size(), std::size_t(Readings));
    QCOMPARE(wetness.front().y(), wet / (10 * gasOf(0) + wet) * 100);
    // The alarm and the connect are marked; report lines are not.
    int alarms = 0;
    int links = 0;
    for (QAbstractSeries *series : gas->chart()->series()) {
        if (auto *marks = qobject_cast<QScatterSeries *>(series))
            (marks->name() == QStringLiteral("Alarms") ? alarms : links) += marks->count();
    }
    QCOMPARE(alarms, 1);
    QCOMPARE(links, 1);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lbl_latest_gas"))->text(), QStringLiteral("2060"));

    // A reading the link accepts joins the charts.
    QList<QByteArray> fields = support::unitFields("5070.0", "777", "0");
    fields[36] = "5040";
    socket->queue(support::packet(fields));
    link.poll();
    QTRY_COMPARE(joined(gas->drawnParts(GasUnits)).back().y(), 777.0);
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lbl_latest_gas"))->text(), QStringLiteral("777"));

    // Against lag depth, the strip log of the mud log: a bin a foot, each
    // with its reading, the one without gas units logged without them, and
    // the live reading after the history's.
    window.setAgainstDepth(true);
    QVERIFY(updated.wait());
    QVERIFY(window.findChild<QWidget *>(QStringLiteral("pic_striplog"))->isVisible());
    const mudlog::MudLog &log = window.mudLog();
    QCOMPARE(log.firstIndex(), 5000);
    QCOMPARE(log.lastIndex(), 5040);
    for (int i = 0; i < Readings; ++i) {
        QVERIFY(log.bin(5000 + i).logged());
        QCOMPARE(log.bin(5000 + i).gasUnits(), i == Missing ? std::nullopt : std::optional<double>(gasOf(i)));
    }
    QCOMPARE(log.bin(5040).gasUnits(), std::optional<double>(777));

    // In metres: binned by half a metre, the depths shown in metres; what
    // the unit sent and the history holds stays in feet.
    window.setDepthUnit(mudlog::DepthUnit::Metres);
    QVERIFY(updated.wait());
    QCOMPARE(window.mudLog().unit(), mudlog::DepthUnit::Metres);
    QCOMPARE(window.mudLog().binSize(), 0.5);
    QCOMPARE(window.mudLog().firstIndex(), 3048);  // 5000 ft = 1524.0 m
    QCOMPARE(window.mudLog().lastIndex(), 3072);   // 5040 ft = 1536.19 m
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lbl_latest_lag"))->text(), QStringLiteral("1536.2"));
    QCOMPARE(QSettings().value(QStringLiteral("mudlog/depthUnit")).toString(), QStringLiteral("metres"));
    window.setAgainstDepth(false);
    QVERIFY(updated.wait());
    QCOMPARE(joined(window.chart("cht_depths")->drawnParts(LagDepth)).back().y(), 5040 * 0.3048);
    window.setAgainstDepth(true);
    QVERIFY(updated.wait());
    window.setDepthUnit(mudlog::DepthUnit::Feet);
    QVERIFY(updated.wait());
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lbl_latest_lag"))->text(), QStringLiteral("5040.0"));

    // Another recorded unit on request.
    window.setAgainstDepth(false);
    QVERIFY(updated.wait());
    window.showUnit(QStringLiteral("0002"));
    QVERIFY(updated.wait());
    const std::vector<QPointF> other = joined(gas->drawnParts(GasUnits));
    QCOMPARE(other.size(), std::size_t(5));
    QCOMPARE(other.front(), QPointF(timeOf(0), 3000));
}

void tst_TrendsWindow::gasColourIsTheLinksAndGoesWithTheUnit()
{
    // The latest gas units take the colour of the level the link holds them
    // at; when the operator connects another unit, the old unit's colour
    // does not stay on.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    {
        history::Batch batch;
        batch.readings.push_back(row("0001", QDateTime::currentMSecsSinceEpoch() - 60000, {{QStringLiteral("gas_units"), 900}}));
        HistoryStore store;
        QVERIFY(store.open(path, HistoryStore::Access::ReadWrite));
        QVERIFY(store.write(batch));
    }
    auto *socket = new FakeSocket;
    UnitLink link(socket);
    link.stop();  // the test drives the poll by hand
    QString box = QStringLiteral("0001");
    const auto connectBox = [&] {
        link.close();
        link.refreshState();
        link.open(box);
        link.refreshState();
    };
    connectBox();
    TrendsWindow window(link, {path, {}, [&box] { return box; }});
    QSignalSpy updated(&window, &TrendsWindow::chartsUpdated);
    window.present();
    QVERIFY(updated.wait());
    const QLabel *gas = window.findChild<QLabel *>(QStringLiteral("lbl_latest_gas"));
    socket->queue(support::packet(support::unitFields("5070.0", "1800", "0")));
    link.poll();
    QTRY_COMPARE(gas->text(), QStringLiteral("1800"));
    QVERIFY(gas->autoFillBackground());
    QCOMPARE(colours::backColor(gas), colours::red());

    box = QStringLiteral("0002");
    connectBox();
    socket->queue(support::packet(support::unitFields("5070.0", "1300", "0")));
    link.poll();
    QTRY_COMPARE(window.unit(), QStringLiteral("0002"));
    QVERIFY(updated.wait());
    QTRY_COMPARE(gas->text(), QStringLiteral("\u2014"));
    QVERIFY(!gas->autoFillBackground());
    // 1300 is no level of its own for the new unit.
    socket->queue(support::packet(support::unitFields("5070.0", "1300", "0")));
    link.poll();
    QTRY_COMPARE(gas->text(), QStringLiteral("1300"));
    QVERIFY(!gas->autoFillBackground());
}

// The history records the unit 1001 typed in the serial box as the unit
// 0001 of the lookup table: the window shows that unit's history and goes on
// with the link's readings, instead of taking 1001 for another unit.
void tst_TrendsWindow::showsTheUnitUnderAnySpelling()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    {
        history::Batch batch;
        batch.readings.push_back(row("0001", QDateTime::currentMSecsSinceEpoch() - 60000, {{QStringLiteral("gas_units"), 900}}));
        HistoryStore store;
        QVERIFY(store.open(path, HistoryStore::Access::ReadWrite));
        QVERIFY(store.write(batch));
    }
    support::writeFile(dir.filePath(QStringLiteral("RDVlookup.TXT")), "0001 127.0.0.1 2400\r\n");
    auto units = std::make_shared<UnitResolver>(dir.filePath(QStringLiteral("RDVlookup.TXT")));
    auto *socket = new FakeSocket;
    UnitLink link(socket);
    link.stop();
    link.open(QStringLiteral("1001"));
    link.refreshState();
    TrendsOptions options{path, {}, [units] { return units->unitOf(QStringLiteral("1001")); },
                          [units](const QString &serial) { return units->unitOf(serial); }};
    TrendsWindow window(link, options);
    QSignalSpy updated(&window, &TrendsWindow::chartsUpdated);
    window.present();
    QVERIFY(updated.wait());
    QCOMPARE(window.unit(), QStringLiteral("0001"));
    const QLabel *gas = window.findChild<QLabel *>(QStringLiteral("lbl_latest_gas"));
    QCOMPARE(gas->text(), QStringLiteral("900"));
    socket->queue(support::packet(support::unitFields("5070.0", "1800", "0")));
    link.poll();
    QTRY_COMPARE(gas->text(), QStringLiteral("1800"));
    QCOMPARE(window.unit(), QStringLiteral("0001"));
    QCOMPARE(colours::backColor(gas), colours::red());
}

// A backlog the unit sent late keeps its spacing when drawn by the unit's
// own clock, which here runs two hours ahead of the arrival clock.
void tst_TrendsWindow::drawsByTheUnitsClock()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    constexpr qint64 Ahead = 2 * 3600 * 1000;
    constexpr qint64 Minute = 60 * 1000;
    {
        // Five readings taken a minute apart, arrived within a quarter of a
        // second; two on time; one of another unit without the unit's time.
        history::Batch batch;
        for (int i = 0; i < 5; ++i) {
            batch.readings.push_back(row("0001", now - 30000 + i * 50, {{QStringLiteral("gas_units"), 100.0 + i}}));
            batch.readings.back().unitTimeMs = now + Ahead - 7 * Minute + i * Minute;
        }
        for (int i = 0; i < 2; ++i) {
            const qint64 arrival = now - 5000 + i * 1000;
            batch.readings.push_back(row("0001", arrival, {{QStringLiteral("gas_units"), 200.0 + i}}));
            batch.readings.back().unitTimeMs = arrival + Ahead - 200;
        }
        batch.readings.push_back(row("0002", now - 1000, {{QStringLiteral("gas_units"), 300}}));
        HistoryStore store;
        QVERIFY(store.open(path, HistoryStore::Access::ReadWrite));
        QVERIFY(store.write(batch));
    }
    auto *socket = new FakeSocket;
    UnitLink link(socket);
    link.stop();
    link.open(QStringLiteral("0001"));
    link.refreshState();
    TrendsWindow window(link, {path, {}, [] { return QStringLiteral("0001"); }});
    QSignalSpy updated(&window, &TrendsWindow::chartsUpdated);
    window.present();
    QVERIFY(updated.wait());
    const TrendChart *gas = window.chart("cht_gas");
    std::vector<QPointF> drawn = joined(gas->drawnParts(GasUnits));
    // By arrival the backlog is bunched into one column of the plot, which
    // keeps only its extremes.
    QVERIFY(drawn.size() < 7);
    QVERIFY(drawn[1].x() - drawn[0].x() <= 200.0);

    window.setClock(Clock::Unit);
    QVERIFY(updated.wait());
    QCOMPARE(QSettings().value(QStringLiteral("trends/clock")).toString(), QStringLiteral("unit"));
    drawn = joined(gas->drawnParts(GasUnits));
    QCOMPARE(drawn.size(), std::size_t(7));
    for (int i = 0; i < 5; ++i)
        QCOMPARE(drawn[i], QPointF(static_cast<double>(now + Ahead - 7 * Minute + i * Minute), 100.0 + i));
    // Live by the unit's clock: a reading lands at the unit's time.
    const QDateTime taken = QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch() + Ahead - 1000, Qt::UTC);
    QList<QByteArray> fields = support::unitFields("5070.0", "777", "0");
    fields[1] = taken.toString(QStringLiteral("MM/dd/yyyy")).toLatin1();
    fields[2] = taken.toString(QStringLiteral("HH:mm:ss")).toLatin1();
    socket->queue(support::packet(fields));
    link.poll();
    const double takenMs = static_cast<double>(taken.toSecsSinceEpoch() * 1000);
    QTRY_COMPARE(joined(gas->drawnParts(GasUnits)).back(), QPointF(takenMs, 777));

    // A unit whose readings carry no time of their own says so.
    window.showUnit(QStringLiteral("0002"));
    QVERIFY(updated.wait());
    QVERIFY(joined(gas->drawnParts(GasUnits)).empty());
    QVERIFY2(window.findChild<QLabel *>(QStringLiteral("lbl_status"))->text().contains(QStringLiteral("unit's own date and time")),
             qPrintable(window.findChild<QLabel *>(QStringLiteral("lbl_status"))->text()));
    window.setClock(Clock::Arrival);
    QVERIFY(updated.wait());
    QCOMPARE(joined(gas->drawnParts(GasUnits)).size(), std::size_t(1));
    QCOMPARE(QSettings().value(QStringLiteral("trends/clock")).toString(), QStringLiteral("arrival"));
}

// A shared store chosen as the source: a server that never answers holds
// the window no longer than a moment, its reason is said and the local file
// is drawn meanwhile; the suite's server is read as the file is.
void tst_TrendsWindow::readsTheChosenSourceOffItsThread()
{
    if (!sqldialect::driverAvailable(sqldialect::Engine::Postgres))
        QSKIP("Qt SQL's PostgreSQL driver is not installed");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    history::Batch local;
    local.readings.push_back(row("0001", now - 60000, {{QStringLiteral("gas_units"), 900}}));
    {
        HistoryStore store;
        QVERIFY(store.open(path, HistoryStore::Access::ReadWrite));
        QVERIFY(store.write(local));
    }
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    auto *socket = new FakeSocket;
    UnitLink link(socket);
    link.stop();
    link.open(QStringLiteral("0001"));
    link.refreshState();
    TrendsOptions options{path, {}, [] { return QStringLiteral("0001"); }, {}};
    options.source = QStringLiteral("postgresql://desk@127.0.0.1:%1/h?connect_timeout=2").arg(silent.serverPort());
    // A window closed while the server is tried goes at once.
    {
        QElapsedTimer held;
        held.start();
        auto gone = std::make_unique<TrendsWindow>(link, options);
        gone->present();
        gone.reset();
        QVERIFY2(held.elapsed() < 500, qPrintable(QString::number(held.elapsed())));
    }
    TrendsWindow window(link, options);
    QSignalSpy updated(&window, &TrendsWindow::chartsUpdated);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(100);
    QElapsedTimer held;
    held.start();
    window.present();
    QVERIFY(held.elapsed() < 500);
    QVERIFY(updated.wait(10000));
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    const QString status = window.findChild<QLabel *>(QStringLiteral("lbl_status"))->text();
    QVERIFY2(status.startsWith(QStringLiteral("History source not read, the local history is shown: cannot open ")),
             qPrintable(status));
    QCOMPARE(joined(window.chart("cht_gas")->drawnParts(GasUnits)), std::vector<QPointF>({QPointF(now - 60000, 900)}));

    support::ServerDatabase server;
    if (!server.isValid())
        QSKIP(qPrintable(server.skipReason()));
    {
        HistoryStore owner;
        QVERIFY(owner.open(server.uri(), HistoryStore::Access::Migrate));
        history::Batch shared;
        for (int i = 0; i < 3; ++i)
            shared.readings.push_back(row("0001", now - 30000 + i * 10000, {{QStringLiteral("gas_units"), 1500.0 + i}}));
        QVERIFY(owner.write(shared));
    }
    window.setSource(server.uri());
    QVERIFY(updated.wait(10000));
    QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lbl_status"))->text(), QString());
    QCOMPARE(joined(window.chart("cht_gas")->drawnParts(GasUnits)),
             std::vector<QPointF>({QPointF(now - 30000, 1500), QPointF(now - 20000, 1501), QPointF(now - 10000, 1502)}));
}

void tst_TrendsWindow::serverOverviewThenEveryReading()
{
    // Two hours of a reading every 5 s on a day's view: the gas waving,
    // one reading's spike, the chromatograph moving so that the ratios do.
    support::ServerDatabase server;
    if (!server.isValid())
        QSKIP(qPrintable(server.skipReason()));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    const qint64 start = QDateTime::currentMSecsSinceEpoch() - 2 * 3600 * 1000;
    constexpr int Count = 1440;
    constexpr int Spike = 777;
    const history::Batch batch = wavingReadings(start, Count, 5000, 40.0, Spike);
    for (const QString &address : {path, server.uri()}) {
        HistoryStore store;
        QVERIFY(store.open(address, HistoryStore::Access::Migrate));
        QVERIFY(store.write(batch));
    }
    QSettings().setValue(QStringLiteral("trends/range"), TrendsWindow::OneDay);
    const auto tenMinutesAgain =
        qScopeGuard([] { QSettings().setValue(QStringLiteral("trends/range"), TrendsWindow::TenMinutes); });
    UnitLink link(new FakeSocket);
    link.stop();
    using Drawn = std::map<std::pair<QString, int>, std::vector<std::vector<QPointF>>>;
    auto drawn = [](const TrendsWindow &window) {
        Drawn lines;
        for (const TrendChart *chart : window.findChildren<TrendChart *>()) {
            for (int c = 0; c < ChannelCount; ++c) {
                if (chart->hasLine(Channel(c)))
                    lines[{chart->objectName(), c}] = chart->drawnParts(Channel(c));
            }
        }
        return lines;
    };

    // From the file, every reading read, as the window draws it.
    Drawn fromFile;
    {
        TrendsWindow window(link, {path, {}, [] { return QStringLiteral("0001"); }});
        QSignalSpy updated(&window, &TrendsWindow::chartsUpdated);
        QSignalSpy overview(&window, &TrendsWindow::overviewDrawn);
        window.present();
        QVERIFY(updated.wait());
        QCOMPARE(overview.count(), 0);
        fromFile = drawn(window);
    }
    // From the server, the overview first, its spike and every line there;
    // then the charts as from the file.
    TrendsOptions options{path, {}, [] { return QStringLiteral("0001"); }, {}};
    options.source = server.uri();
    TrendsWindow window(link, options);
    Drawn overviewed;
    connect(&window, &TrendsWindow::overviewDrawn, this, [&] {
        QVERIFY(window.loading());
        overviewed = drawn(window);
    });
    QSignalSpy updated(&window, &TrendsWindow::chartsUpdated);
    window.present();
    QVERIFY(updated.wait(10000));
    QCOMPARE(overviewed.size(), fromFile.size());
    double highest = 0;
    for (const auto &[line, parts] : overviewed) {
        const std::vector<QPointF> points = joined(parts);
        QVERIFY2(!points.empty() && points.size() <= 2 * joined(fromFile[line]).size(),
                 qPrintable(line.first + QString::number(line.second)));
        if (line.second == GasUnits) {
            for (const QPointF &point : points)
                highest = std::max(highest, point.y());
        }
    }
    QCOMPARE(highest, 4800.0);
    QVERIFY(joined(fromFile[{QStringLiteral("cht_gas"), GasUnits}]).size() < Count / 4);
    QCOMPARE(drawn(window), fromFile);
}

void tst_TrendsWindow::serverConnectedAheadReadingsAfterTheOverview()
{
    // The loader connects to a server as it is made, before it is asked to
    // open, and its open takes those connections: one reads, the other
    // groups the later half of an overview at the same time. The overview
    // of the two halves draws what every reading draws, column by column;
    // the readings are asked for only once the events posted behind the
    // overview (the window's paint of it) were handled.
    support::ServerDatabase server;
    if (!server.isValid())
        QSKIP(qPrintable(server.skipReason()));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 from = now - 2 * 3600 * 1000;
    constexpr int Count = 1200;
    constexpr int Spike = 611;  // in the middle, where the halves meet
    {
        const history::Batch batch = wavingReadings(from + 1000, Count, 6000, 30.0, Spike);
        HistoryStore store;
        QVERIFY(store.open(server.uri(), HistoryStore::Access::Migrate));
        QVERIFY(store.write(batch));
    }
    // The loader's sessions, seen from one of the test's own: each one's
    // process and the statement it ran last.
    HistoryStore watcher;
    QVERIFY(watcher.open(server.uri(), HistoryStore::Access::ReadOnly));
    auto loaderSessions = [&watcher] {
        QSqlQuery query(watcher.database());
        query.exec(QStringLiteral("SELECT pid, query FROM pg_stat_activity"
                                  " WHERE datname = current_database() AND pid <> pg_backend_pid() ORDER BY pid"));
        std::map<int, QString> sessions;
        while (query.next())
            sessions[query.value(0).toInt()] = query.value(1).toString();
        return sessions;
    };

    TrendsLoader loader(server.uri());
    QTRY_COMPARE(loaderSessions().size(), std::size_t(2));
    // The units recorded are read before the open is asked for.
    auto unitsRead = [&loaderSessions] {
        for (const auto &[pid, query] : loaderSessions()) {
            if (query.contains(QStringLiteral("FROM units")))
                return true;
        }
        return false;
    };
    QTRY_VERIFY(unitsRead());
    const std::map<int, QString> ahead = loaderSessions();
    QSignalSpy opened(&loader, &TrendsLoader::opened);
    loader.open(QStringLiteral("0001"), from);
    QVERIFY(opened.wait());
    QVERIFY(loader.isOpen());
    const auto units = opened.at(0).at(1).value<std::vector<RecordedUnit>>();
    QCOMPARE(units.size(), std::size_t(1));
    QCOMPARE(units.front().unit, QStringLiteral("0001"));
    QCOMPARE(units.front().firstMs, from + 1000);
    QCOMPARE(loaderSessions().size(), std::size_t(2));
    for (const auto &[pid, query] : loaderSessions())
        QVERIFY(ahead.count(pid));

    // While the overview is taken and for a while after, the server is
    // asked nothing more; the readings follow the posted paint.
    const double width = (now + 1 - from) / 700.0;
    TrendData grouped;
    TrendData every;
    grouped.reset(TrendData::Axis::Time, width);
    every.reset(TrendData::Axis::Time, width);
    QStringList order;
    connect(&loader, &TrendsLoader::overviewRead, this, [&](const std::vector<trends::Sample> &samples) {
        order << QStringLiteral("overview");
        for (const trends::Sample &sample : samples)
            grouped.add(sample);
        const std::map<int, QString> last = loaderSessions();
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 300 && loaderSessions() == last)
            QThread::msleep(10);
        if (loaderSessions() != last)
            order << QStringLiteral("readings asked before the paint");
        QCoreApplication::postEvent(this, new QEvent(QEvent::User), Qt::LowEventPriority);
    });
    connect(&loader, &TrendsLoader::samplesRead, this, [&](const std::vector<trends::Sample> &samples) {
        if (!order.contains(QStringLiteral("readings")))
            order << QStringLiteral("readings");
        for (const trends::Sample &sample : samples)
            every.add(sample);
    });
    m_painted = [&order] { order << QStringLiteral("painted"); };
    const auto forget = qScopeGuard([this] { m_painted = nullptr; });
    QSignalSpy finished(&loader, &TrendsLoader::finished);
    loader.read(QStringLiteral("0001"), from, now + 1, HistoryClock::Arrival, width);
    QVERIFY(finished.wait(10000));
    QVERIFY(finished.at(0).at(0).value<Result<void>>());
    QCOMPARE(order, QStringList({QStringLiteral("overview"), QStringLiteral("painted"), QStringLiteral("readings")}));

    for (const Channel channel : {GasUnits, C1, Wetness, Balance, Character, LagDepth}) {
        const ColumnExtremes &mine = grouped.channel(channel);
        const ColumnExtremes &theirs = every.channel(channel);
        QVERIFY(theirs.columnCount() > 600);
        QCOMPARE(mine.columnCount(), theirs.columnCount());
        for (double x = from; x < now + width; x += width) {
            const ColumnExtremes::Column *got = mine.columnNear(x);
            const ColumnExtremes::Column *wanted = theirs.columnNear(x);
            const QString where = QStringLiteral("%1 at %2").arg(QLatin1String(channelInfo(channel).key)).arg(x - from);
            QVERIFY2(!got == !wanted, qPrintable(where));
            if (!got)
                continue;
            QVERIFY2(qFuzzyCompare(got->low.y(), wanted->low.y()), qPrintable(where));
            QVERIFY2(qFuzzyCompare(got->high.y(), wanted->high.y()), qPrintable(where));
        }
    }
    QCOMPARE(grouped.channel(GasUnits).columnNear(from + 1000 + Spike * 6000.0)->high.y(), 4800.0);

    // Another history, a file: neither connection to the server is kept.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    {
        HistoryStore file;
        QVERIFY(file.open(path, HistoryStore::Access::ReadWrite));
    }
    loader.setAddress(path);
    loader.open(QStringLiteral("0001"), from);
    QVERIFY(opened.wait());
    QTRY_COMPARE(loaderSessions().size(), std::size_t(0));
}

void tst_TrendsWindow::tourReportFromTheChosenSource()
{
    // Unit 0001's readings on the server alone: the report of the window
    // reading the server has them, and the dialog that saves it comes.
    support::ServerDatabase server;
    if (!server.isValid())
        QSKIP(qPrintable(server.skipReason()));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        history::Batch batch;
        for (int i = 0; i < 10; ++i)
            batch.readings.push_back(row("0001", now - 60000 + i * 5000, {{QStringLiteral("gas_units"), 900.0 + i}}));
        HistoryStore store;
        QVERIFY(store.open(server.uri(), HistoryStore::Access::Migrate));
        QVERIFY(store.write(batch));
        HistoryStore local;
        QVERIFY(local.open(path, HistoryStore::Access::ReadWrite));
    }
    UnitLink link(new FakeSocket);
    link.stop();
    TrendsOptions options{path, {}, [] { return QStringLiteral("0001"); }, {}};
    options.source = server.uri();
    TrendsWindow window(link, options);
    QSignalSpy updated(&window, &TrendsWindow::chartsUpdated);
    window.present();
    QVERIFY(updated.wait(10000));
    // The file dialog is modal: it is closed from a timer, as an operator
    // would cancel it.
    bool asked = false;
    QTimer closer;
    connect(&closer, &QTimer::timeout, this, [&asked] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            asked = true;
            dialog->reject();
        }
    });
    closer.start(20);
    auto *print = window.findChild<QToolButton *>(QStringLiteral("cmd_print"));
    QVERIFY(print && print->menu());
    print->menu()->actions().at(1)->trigger();
    const QString status = window.findChild<QLabel *>(QStringLiteral("lbl_status"))->text();
    QVERIFY2(status == QStringLiteral("Reading the tour report…") || asked, qPrintable(status));
    QTRY_VERIFY2(asked, qPrintable(window.findChild<QLabel *>(QStringLiteral("lbl_status"))->text()));
}

void tst_TrendsWindow::axisLabelsDifferAndFit_data()
{
    // A gas chart as the window makes it, the range of its place axis
    // (feet of lag depth, or milliseconds) and one value drawn all along.
    QTest::addColumn<bool>("againstDepth");
    QTest::addColumn<double>("from");
    QTest::addColumn<double>("to");
    QTest::addColumn<double>("value");
    QTest::newRow("2 ft of lag depth") << true << 11079.0 << 11081.0 << 900.0;
    QTest::newRow("gas of 1e20 against depth") << true << 5000.0 << 5100.0 << 1e20;
    QTest::newRow("gas of 1e20 against time") << false << 0.0 << 600000.0 << 1e20;
    QTest::newRow("gas of -1e20 against time") << false << 0.0 << 600000.0 << -1e20;
}

void tst_TrendsWindow::axisLabelsDifferAndFit()
{
    QFETCH(bool, againstDepth);
    QFETCH(double, from);
    QFETCH(double, to);
    QFETCH(double, value);
    TrendChart chart(againstDepth ? "dpt_gas" : "cht_gas", againstDepth ? TrendChart::Place::Depth : TrendChart::Place::Time);
    chart.addScale({QStringLiteral("Gas units"), false, 0.0, 2000.0, false, false},
                   againstDepth ? Qt::AlignTop : Qt::AlignLeft);
    chart.addLine(GasUnits, QStringLiteral("Gas"), Qt::black, 0);
    chart.resize(againstDepth ? 330 : 900, 600);
    chart.setPlotInsets(againstDepth ? QMargins(64, 92, 26, 10) : QMargins(80, 28, 62, 26));
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    chart.draw(from, to, {{GasUnits, {{QPointF(from, value), QPointF(to, value)}}}});
    QCoreApplication::processEvents();

    // The labels beside the plot, each axis apart: every one whole, inside
    // the chart, clear of its neighbours and different from them.
    const auto axes = axisLabels(chart, {QStringLiteral("Gas units"), QStringLiteral("Lag depth (ft)")});
    QCOMPARE(axes.size(), std::size_t(againstDepth ? 2 : 1));
    checkAxisLabels(chart, axes);
}

void tst_TrendsWindow::labelsFitAtTheDefaultSize()
{
    // The window as it opens on a 1280 x 800 screen, the unit drilling
    // past 10,000 ft: the depth and ROP scales of the charts against time
    // are as readable as the rest.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    writeFiveMinutes(path, [](int i) -> Values {
        return {{QStringLiteral("gas_units"), 800.0 + 30 * i},
                {QStringLiteral("c1"), 9000},
                {QStringLiteral("c2"), 1300},
                {QStringLiteral("c3"), 650},
                {QStringLiteral("hole_depth"), 10526.4 + 0.1 * i},
                {QStringLiteral("lag_depth"), 10495.8 + 0.25 * i},
                {QStringLiteral("bit_depth"), 10517.5},
                {QStringLiteral("rop_ft_hr"), 35.0 + 4 * i}};
    });
    WindowOnFile opened;
    opened.open(path);
    if (QTest::currentTestFailed())
        return;
    TrendsWindow &window = *opened.window;
    QCoreApplication::processEvents();
    const QStringList titles = {QStringLiteral("Gas units"), QStringLiteral("ppm"),        QStringLiteral("Wh %, Bh, Ch"),
                                QStringLiteral("Depth (ft)"), QStringLiteral("ROP (ft/hr)"), QStringLiteral("Lag depth (ft)")};
    for (const char *name : {"cht_gas", "cht_depths"}) {
        const TrendChart *chart = window.chart(name);
        QVERIFY(chart);
        const auto axes = axisLabels(*chart, titles);
        QCOMPARE(axes.size(), std::size_t(std::strcmp(name, "cht_depths") == 0 ? 2 : 1));
        checkAxisLabels(*chart, axes);
        if (QTest::currentTestFailed())
            return;
    }
    window.close();
}

void tst_TrendsWindow::readingsInWordsFit()
{
    // The window as it opens on a 1280 x 800 screen: the combined reading
    // and Pixler's, the longest words the table shows (C1/C2 above 65 and
    // every methane ratio below the one before it), whole in the latest
    // column and under the cursor.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite3"));
    writeFiveMinutes(path, [](int i) -> Values {
        return {{QStringLiteral("gas_units"), 800.0 + 30 * i},
                {QStringLiteral("c1"), 10000},
                {QStringLiteral("c2"), 100},
                {QStringLiteral("c3"), 200},
                {QStringLiteral("ic4"), 200},
                {QStringLiteral("nc4"), 200},
                {QStringLiteral("ic5"), 400},
                {QStringLiteral("nc5"), 400},
                {QStringLiteral("lag_depth"), 10495.8 + 0.25 * i}};
    });
    WindowOnFile opened;
    opened.open(path);
    if (QTest::currentTestFailed())
        return;
    TrendsWindow &window = *opened.window;
    // The cursor on the readings, at the right of the hour shown.
    const TrendChart *gas = window.chart("cht_gas");
    const QLabel *cursor = window.findChild<QLabel *>(QStringLiteral("lbl_cursor_reading"));
    const QRect plot = gas->viewport()->rect();
    for (int x = plot.right() - 2; x > plot.center().x() && cursor->text() == QStringLiteral("\u2014"); x -= 4)
        QTest::mouseMove(gas->viewport(), QPoint(x, plot.center().y()));

    const QRect inside = window.rect();
    for (const char *name : {"lbl_latest_reading", "lbl_latest_pixler", "lbl_cursor_reading", "lbl_cursor_pixler"}) {
        const QLabel *label = window.findChild<QLabel *>(QLatin1String(name));
        QVERIFY(label);
        const QString text = label->text();
        QVERIFY2(text.contains(QLatin1String(std::strstr(name, "pixler") ? "not productive; C1/C3 below C1/C2" : "light oil")),
                 qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(name), text)));
        // The words wrapped to the label's width take no more room than it
        // has, and the label lies wholly in the window.
        const QRect room = label->contentsRect();
        const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, room.width(), 10000),
                                                               Qt::TextWordWrap | Qt::AlignLeft, text);
        QVERIFY2(needed.width() <= room.width() && needed.height() <= room.height(),
                 qPrintable(QStringLiteral("%1 needs %2 x %3, has %4 x %5")
                                .arg(QLatin1String(name))
                                .arg(needed.width())
                                .arg(needed.height())
                                .arg(room.width())
                                .arg(room.height())));
        const QRect placed(label->mapTo(&window, QPoint(0, 0)), label->size());
        QVERIFY2(inside.contains(placed), name);
        QVERIFY(label->isVisible());
    }
    window.close();
}

void tst_TrendsWindow::opensWhereItFits_data()
{
    QTest::addColumn<QRect>("saved");  // the window's place when it was last closed
    QTest::addColumn<QString>("opens");  // at the place saved, at its default size, or anywhere on the screen

    QTest::newRow("nothing saved") << QRect() << "default";
    QTest::newRow("on the screen") << QRect(100, 80, 900, 600) << "saved";
    QTest::newRow("all but a sliver") << QRect(-20, 30, 1000, 600) << "saved";
    QTest::newRow("mostly past the right edge") << QRect(900, 100, 1200, 700) << "default";
    QTest::newRow("taller than the screen") << QRect(0, 0, 1280, 900) << "default";
    QTest::newRow("on a screen that is gone") << QRect(3000, 200, 900, 600) << "on the screen";
}

// On a 1280 x 800 screen: a saved place is taken only where the screen
// holds it; otherwise the window opens within the screen.
void tst_TrendsWindow::opensWhereItFits()
{
    QFETCH(QRect, saved);
    QFETCH(QString, opens);

    if (saved.isNull()) {
        QSettings().remove(QStringLiteral("trends/geometry"));
    } else {
        QWidget place;
        place.setGeometry(saved);
        QSettings().setValue(QStringLiteral("trends/geometry"), place.saveGeometry());
    }
    UnitLink link(new FakeSocket);
    QTemporaryDir dir;
    TrendsWindow window(link, {dir.filePath(QStringLiteral("history.sqlite3")), {}, {}});
    const QRect shown = window.frameGeometry();
    if (opens == QLatin1String("saved")) {
        QCOMPARE(window.geometry(), saved);
        return;
    }
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(screen.size(), QSize(1280, 800));
    QVERIFY2(screen.contains(shown), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                     .arg(shown.x())
                                                     .arg(shown.y())
                                                     .arg(shown.width())
                                                     .arg(shown.height())));
    if (opens == QLatin1String("default"))
        QVERIFY(window.width() >= 1000 && window.height() >= 600);
}

// A screen of 1280 x 800, the smallest the windows are made for.
SUPPORT_MAIN_ON_SCREENS(tst_TrendsWindow, QRect(0, 0, 1280, 800))
#include "tst_trendswindow.moc"
