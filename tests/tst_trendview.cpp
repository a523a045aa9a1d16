// What a trends view shows, without widgets or a clock: zooming around a
// point, scrolling to its limits, following live, switching between time
// and lag depth, and a view with nothing in it.

#include <cmath>
#include <limits>

#include <QTest>

#include "rules/trends/trenddata.h"
#include "rules/trends/trendview.h"

using trends::TrendData;
using trends::TrendView;
using Redo = TrendView::Redo;

namespace {

constexpr qint64 Now = 1'800'000'000'000;
constexpr qint64 Minute = 60'000;
constexpr int Columns = 600;

// Lag depths from top to bottom, one reading a foot.
void addDepths(TrendData &data, double top, double bottom)
{
    data.reset(TrendData::Axis::Depth, 0.05, Columns);
    for (double depth = top; depth <= bottom; depth += 1.0) {
        trends::Sample sample;
        sample.timeMs = Now;
        sample[trends::LagDepth] = depth;
        sample[trends::GasUnits] = 900;
        data.add(sample);
    }
}

// A view standing still over [from, to], read once.
TrendView standing(double from, double to)
{
    TrendView view;
    view.setRange(TrendView::OneHour);
    view.setFirstReading(Now - 24 * 60 * Minute);
    view.restore({from, to}, Now);
    (void)view.startReading(Now, Columns);
    return view;
}

} // namespace

class tst_TrendView : public QObject
{
    Q_OBJECT

private slots:
    void zoomAroundAPoint_data();
    void zoomAroundAPoint();
    void zoomWhileLive();
    void scrolling_data();
    void scrolling();
    void scrollBarLimits();
    void liveFollowsTime();
    void whatIsRead_data();
    void whatIsRead();
    void depthZoomAndPan();
    void emptyData();
    void marksKeepApart();
};

void tst_TrendView::zoomAroundAPoint_data()
{
    // A time view standing still over 10 minutes; the place zoomed around
    // stays where it was on the plot.
    QTest::addColumn<double>("factor");
    QTest::addColumn<double>("around");  // minutes into the view; NaN: the middle
    QTest::addColumn<double>("from");    // minutes, after
    QTest::addColumn<double>("to");
    const double middle = std::nan("");
    QTest::newRow("in, around the middle") << 0.5 << middle << 2.5 << 7.5;
    QTest::newRow("in, around a quarter") << 0.5 << 2.0 << 1.0 << 6.0;
    QTest::newRow("out, around the start") << 2.0 << 0.0 << 0.0 << 20.0;
    QTest::newRow("out, around the end") << 2.0 << 10.0 << -10.0 << 10.0;
    QTest::newRow("in past the least span: 30 s") << 0.01 << 5.0 << 4.75 << 5.25;
}

void tst_TrendView::zoomAroundAPoint()
{
    QFETCH(double, factor);
    QFETCH(double, around);
    QFETCH(double, from);
    QFETCH(double, to);
    const double start = static_cast<double>(Now - 60 * Minute);
    TrendView view = standing(start, start + 10 * Minute);
    const std::optional<double> place =
        std::isnan(around) ? std::nullopt : std::optional<double>(start + around * Minute);
    QCOMPARE(view.zoom(factor, place, Now, TrendData()), Redo::DrawAndReadSoon);
    QVERIFY(!view.live());
    QCOMPARE(view.timeFrom(), start + from * Minute);
    QCOMPARE(view.timeTo(), start + to * Minute);
}

void tst_TrendView::zoomWhileLive()
{
    // Live stays live: the right edge at now, the span zoomed kept as time
    // goes on, until another range or following afresh.
    TrendView view;
    view.setRange(TrendView::OneHour);
    view.moveToNow(Now);
    QCOMPARE(view.timeTo(), double(Now));
    QCOMPARE(view.timeFrom(), double(Now - 60 * Minute));
    QCOMPARE(view.zoom(0.5, double(Now - 50 * Minute), Now, TrendData()), Redo::DrawAndReadSoon);
    QVERIFY(view.live());
    QCOMPARE(view.timeFrom(), double(Now - 30 * Minute));
    view.moveToNow(Now + Minute);
    QCOMPARE(view.timeFrom(), double(Now - 29 * Minute));
    QCOMPARE(view.timeTo(), double(Now + Minute));
    view.follow();
    view.moveToNow(Now);
    QCOMPARE(view.timeFrom(), double(Now - 60 * Minute));
}

void tst_TrendView::scrolling_data()
{
    // A view of 10 minutes standing an hour ago, read with 5 minutes
    // either side; moved by a share of its width, or by the scroll bar.
    QTest::addColumn<double>("share");  // NaN: the scroll bar is moved instead
    QTest::addColumn<int>("value");     // the scroll bar's value
    QTest::addColumn<int>("redo");
    QTest::addColumn<bool>("live");
    QTest::addColumn<double>("from");  // minutes before now, after
    const double bar = std::nan("");
    QTest::newRow("a quarter on, within what was read") << 0.25 << 0 << int(Redo::Draw) << false << 57.5;
    QTest::newRow("a quarter back, within what was read") << -0.25 << 0 << int(Redo::Draw) << false << 62.5;
    QTest::newRow("a whole view back, past it") << -1.0 << 0 << int(Redo::DrawAndReadSoon) << false << 70.0;
    QTest::newRow("past now: following again") << 6.0 << 0 << int(Redo::DrawAndReadSoon) << true << 60.0;
    QTest::newRow("bar to 3 h after the first reading") << bar << 3 * 3600 << int(Redo::DrawAndReadSoon) << false
                                                        << 21.0 * 60;
    QTest::newRow("bar to its end: following again") << bar << -1 << int(Redo::ReadNow) << true << 60.0;
}

void tst_TrendView::scrolling()
{
    QFETCH(double, share);
    QFETCH(int, value);
    QFETCH(int, redo);
    QFETCH(bool, live);
    QFETCH(double, from);
    TrendView view = standing(double(Now - 60 * Minute), double(Now - 50 * Minute));
    const TrendView::ScrollBar bar = view.scrollBar(Now);
    QCOMPARE(bar.value, (24 * 60 - 60) * 60);
    const Redo done = std::isnan(share) ? view.scrolledTo(value < 0 ? bar.maximum : value, bar.maximum, Now)
                                        : view.pan(share, Now, TrendData());
    QCOMPARE(int(done), redo);
    QCOMPARE(view.live(), live);
    // Following again reads the history afresh, with the range's span.
    if (live)
        (void)view.startReading(Now, Columns);
    QCOMPARE(view.timeFrom(), double(Now - from * Minute));
}

void tst_TrendView::scrollBarLimits()
{
    // In seconds from the first reading: the end is a view's width before
    // now, a page is a view and a step a tenth; live sits at the end.
    TrendView view;
    view.setRange(TrendView::TenMinutes);
    view.setFirstReading(Now - 60 * Minute);
    (void)view.startReading(Now, Columns);
    TrendView::ScrollBar bar = view.scrollBar(Now);
    QCOMPARE(bar.maximum, 50 * 60);
    QCOMPARE(bar.page, 10 * 60);
    QCOMPARE(bar.single, 60);
    QCOMPARE(bar.value, bar.maximum);
    // A unit recorded for less than a view has nothing to scroll.
    view.setFirstReading(Now - Minute);
    bar = view.scrollBar(Now);
    QCOMPARE(bar.maximum, 0);
    QCOMPARE(view.scrolledTo(0, 0, Now), Redo::Nothing);
    QVERIFY(view.live());
}

void tst_TrendView::liveFollowsTime()
{
    // A live time view moves and is drawn again once it has moved about
    // two columns, at least every 2 s and at most every minute; a depth
    // view does not move with time.
    TrendView view;
    view.setRange(TrendView::TenMinutes);
    view.moveToNow(Now);
    QVERIFY(view.moving());
    QCOMPARE(view.drawEveryMs(Columns), TrendView::DrawEveryMs);
    view.setRange(TrendView::OneDay);
    view.moveToNow(Now);
    QCOMPARE(view.drawEveryMs(Columns), 60000.0);
    QCOMPARE(view.drawEveryMs(7200), 24000.0);
    view.moveToNow(Now + 5000);
    QCOMPARE(view.timeTo(), double(Now + 5000));
    // A reading lands in the view where its time does.
    trends::Sample sample;
    sample.timeMs = Now;
    QVERIFY(view.shows(sample, TrendData()));
    sample.timeMs = Now - 25 * 60 * Minute;
    QVERIFY(!view.shows(sample, TrendData()));

    view.setAgainstDepth(true);
    QVERIFY(!view.moving());
    QCOMPARE(view.drawEveryMs(Columns), TrendView::DrawEveryMs);
    // Against depth it is the lag depth that counts.
    TrendData data;
    addDepths(data, 5000, 5100);
    sample[trends::LagDepth] = 5050;
    QVERIFY(view.shows(sample, data));
    sample[trends::LagDepth] = 6000;
    QVERIFY(!view.shows(sample, data));
}

void tst_TrendView::whatIsRead_data()
{
    QTest::addColumn<bool>("live");
    QTest::addColumn<bool>("againstDepth");
    QTest::addColumn<int>("range");
    QTest::addColumn<qint64>("fromMs");
    QTest::addColumn<qint64>("toMs");
    QTest::addColumn<int>("axis");
    QTest::addColumn<double>("width");
    QTest::addColumn<int>("limit");
    QTest::addColumn<double>("fromX");
    QTest::addColumn<double>("toX");
    const double infinity = std::numeric_limits<double>::infinity();
    // Live: from a column before the view's start to now, kept as time
    // goes on.
    QTest::newRow("live hour") << true << false << int(TrendView::OneHour) << Now - 60 * Minute - 6000 << Now + 1
                               << int(TrendData::Axis::Time) << 6000.0 << 0 << double(Now - 60 * Minute - 6000)
                               << infinity;
    // Everything: from the first reading, its columns merged past twice
    // the plot's width.
    QTest::newRow("live, everything") << true << false << int(TrendView::Everything) << Now - 120 * Minute - 12000
                                      << Now + 1 << int(TrendData::Axis::Time) << 12000.0 << 2 * Columns
                                      << double(Now - 120 * Minute - 12000) << infinity;
    // Standing still: half a view more either side.
    QTest::newRow("standing hour") << false << false << int(TrendView::OneHour) << Now - 210 * Minute
                                   << Now - 90 * Minute << int(TrendData::Axis::Time) << 6000.0 << 0
                                   << double(Now - 210 * Minute) << double(Now - 90 * Minute);
    // Against depth: the time of the view, every depth in fine columns
    // merged down to the plot's width.
    QTest::newRow("live against depth") << true << true << int(TrendView::OneHour) << Now - 60 * Minute << Now + 1
                                        << int(TrendData::Axis::Depth) << 0.05 << Columns << -infinity << infinity;
    QTest::newRow("standing against depth") << false << true << int(TrendView::OneHour) << Now - 180 * Minute
                                            << Now - 120 * Minute << int(TrendData::Axis::Depth) << 0.05 << Columns
                                            << -infinity << infinity;
}

void tst_TrendView::whatIsRead()
{
    QFETCH(bool, live);
    QFETCH(bool, againstDepth);
    QFETCH(int, range);
    QFETCH(qint64, fromMs);
    QFETCH(qint64, toMs);
    QFETCH(int, axis);
    QFETCH(double, width);
    QFETCH(int, limit);
    QFETCH(double, fromX);
    QFETCH(double, toX);
    TrendView view;
    view.setRange(static_cast<TrendView::Range>(range));
    view.setFirstReading(Now - 120 * Minute);
    if (!live)
        view.restore({double(Now - 180 * Minute), double(Now - 120 * Minute)}, Now);
    view.setAgainstDepth(againstDepth);
    const TrendView::ReadPlan plan = view.startReading(Now, Columns);
    QCOMPARE(plan.fromMs, fromMs);
    QCOMPARE(plan.toMs, toMs);
    QCOMPARE(int(plan.axis), axis);
    QCOMPARE(plan.width, width);
    QCOMPARE(int(plan.limit), limit);
    QCOMPARE(plan.fromX, fromX);
    QCOMPARE(plan.toX, toX);
    // The live readings kept are taken where they belong to what is read.
    QVERIFY(view.wanted(fromMs));
    QVERIFY(!view.wanted(fromMs - 1));
    QCOMPARE(view.wanted(toMs + Minute), live);
}

void tst_TrendView::depthZoomAndPan()
{
    // Every depth read, 3 % more either side (at least a foot); zoomed, the
    // stretch zoomed to, no thinner than 2 ft, read with half of it more
    // either side.
    TrendData data;
    addDepths(data, 5000, 5100);
    TrendView view;
    view.setAgainstDepth(true);
    QCOMPARE(view.depthView(data), std::make_pair(4997.0, 5103.0));
    TrendData one;
    addDepths(one, 7000, 7000);
    QCOMPARE(view.depthView(one), std::make_pair(6999.0, 7001.0));
    QCOMPARE(view.zoom(0.5, 5050.0, Now, data), Redo::DrawAndReadSoon);
    QCOMPARE(view.depthView(data), std::make_pair(5023.5, 5076.5));
    QCOMPARE(view.pan(0.5, Now, data), Redo::DrawAndReadSoon);
    QCOMPARE(view.depthView(data), std::make_pair(5050.0, 5103.0));
    const TrendView::ReadPlan plan = view.startReading(Now, Columns);
    QCOMPARE(plan.width, 53.0 / Columns);
    QCOMPARE(plan.fromX, 5023.5);
    QCOMPARE(plan.toX, 5129.5);
    (void)view.zoom(0.001, std::nullopt, Now, data);
    const auto [top, bottom] = view.depthView(data);
    QCOMPARE(bottom - top, TrendView::LeastDepthSpan);
    QCOMPARE((top + bottom) / 2, 5076.5);
    // A drag puts back the view it started from.
    view.restore({5000.0, 5010.0}, Now);
    QCOMPARE(view.view(data), std::make_pair(5000.0, 5010.0));
    // Back to time and again to depth: the zoom stays until the view
    // follows afresh.
    view.setAgainstDepth(false);
    view.setAgainstDepth(true);
    QCOMPARE(view.view(data), std::make_pair(5000.0, 5010.0));
    view.follow();
    QCOMPARE(view.view(data), std::make_pair(4997.0, 5103.0));
}

void tst_TrendView::emptyData()
{
    // Nothing read yet: depth shows 0 to 100 ft and zooms within it, time
    // shows the range up to now, and no marks.
    TrendView view;
    view.setRange(TrendView::TenMinutes);
    view.setFirstReading(Now);
    view.setAgainstDepth(true);
    QCOMPARE(view.depthView(TrendData()), std::make_pair(0.0, 100.0));
    (void)view.zoom(0.5, std::nullopt, Now, TrendData());
    QCOMPARE(view.depthView(TrendData()), std::make_pair(25.0, 75.0));
    view.setAgainstDepth(false);
    (void)view.startReading(Now, Columns);
    QCOMPARE(view.timeTo() - view.timeFrom(), double(10 * Minute));
    QVERIFY(view.marks({}, Columns, 8).first.empty());
    // Everything of a unit first read now: the least span, not nothing.
    view.setRange(TrendView::Everything);
    (void)view.startReading(Now, Columns);
    QCOMPARE(view.timeTo() - view.timeFrom(), TrendView::LeastSpanMs);
    QCOMPARE(view.scrollBar(Now).maximum, 0);
}

void tst_TrendView::marksKeepApart()
{
    // Ten minutes on 600 columns: a mark of 8 pixels is 8 s wide; at most
    // one of each kind in each 8 s stretch, outside the view none.
    TrendView view = standing(0.0, 600000.0);
    using trends::EventMark;
    const std::vector<EventMark> events = {
        {1000, EventMark::Kind::Alarm, {}},   {7000, EventMark::Kind::Alarm, {}}, {7000, EventMark::Kind::Link, {}},
        {8000, EventMark::Kind::Alarm, {}},   {9000, EventMark::Kind::Link, {}},  {700000, EventMark::Kind::Alarm, {}},
    };
    const auto [alarms, links] = view.marks(events, 600, 8);
    QCOMPARE(alarms, (std::vector<double>{1000, 8000}));
    QCOMPARE(links, (std::vector<double>{7000, 9000}));
}

QTEST_APPLESS_MAIN(tst_TrendView)
#include "tst_trendview.moc"
