#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include <QtGlobal>

#include "rules/trends/trenddata.h"
#include "rules/trends/trendsample.h"

namespace trends {

// The clock a time view is drawn by: the time each reading arrived, or the
// unit's own clock (its date and time fields), by which a backlog the unit
// sends late keeps its own spacing.
enum class Clock { Arrival, Unit };

// Where now stands on the unit's own clock: the time of arrival moved by
// the clock's offset, read from the latest readings as the largest of their
// unit time less their arrival time. A reading never arrives before the
// unit took it, so the least delayed one tells the offset best, and a
// backlog delivered late does not pull it back; a unit clock set again is
// followed once its older readings have left the window.
class UnitClock
{
public:
    static constexpr std::size_t Kept = 120;

    void clear() { m_offsets.clear(); }
    // A reading that arrived at arrivalMs and carries unitMs.
    void seen(qint64 arrivalMs, qint64 unitMs);
    // None before any reading with the unit's time.
    std::optional<qint64> offsetMs() const;
    // Now (an arrival time) on the unit's clock; as it stands without a
    // reading to tell the offset.
    qint64 now(qint64 arrivalNowMs) const { return arrivalNowMs + offsetMs().value_or(0); }

private:
    std::deque<qint64> m_offsets;  // the latest readings' offsets, oldest first
};

// What a trends view shows, without widgets: a span of time ending now and
// moving with it (live), or a stretch of time the operator scrolled or
// zoomed to; or, against lag depth, every depth read or a stretch zoomed
// to. It says what to read for the view, where a new reading lands, when a
// moving view is due to be drawn again and where the time scroll bar
// stands. The caller gives the time (UTC milliseconds) and the plot's
// width in pixel columns wherever they matter, so a test drives it with
// fixed figures.
class TrendView
{
public:
    enum Range { TenMinutes, OneHour, SixHours, OneDay, Everything };
    // The span of each range; Everything reaches back to the unit's first
    // reading.
    static qint64 spanOf(Range range);
    // A time view no narrower than this.
    static constexpr double LeastSpanMs = 30 * 1000.0;
    // The shortest depth view, in feet.
    static constexpr double LeastDepthSpan = 2.0;
    // A view that moves is drawn again at least this often.
    static constexpr double DrawEveryMs = 2000;
    // Time columns at least this wide (some two readings each at a unit's
    // usual one a second) are worth an overview before their readings.
    static constexpr double OverviewColumnMs = 2000;

    // What the caller does after a change of view.
    enum class Redo {
        Nothing,
        Draw,              // draw the charts again
        DrawAndReadSoon,   // and read the history for the new view shortly
        ReadNow,           // read the history for the view at once
    };

    // The history to read for the view, and how the data keeps it.
    struct ReadPlan
    {
        qint64 fromMs = 0;  // the readings' times, from included, to excluded
        qint64 toMs = 0;
        TrendData::Axis axis = TrendData::Axis::Time;
        double width = 1.0;     // of a column along the axis
        std::size_t limit = 0;  // columns kept before pairs merge; 0 for no limit
        double fromX = 0.0;     // where readings are kept along the axis
        double toX = 0.0;
        // Above 0: the width of the columns of an overview worth reading
        // first (columns of time that hold several readings each).
        double overviewWidth = 0.0;
    };

    // The time scroll bar, in seconds from the unit's first reading.
    struct ScrollBar
    {
        int maximum = 0;
        int page = 1;
        int single = 1;
        int value = 0;
    };

    Range range() const { return m_range; }
    bool againstDepth() const { return m_againstDepth; }
    // Following the latest readings at the right edge of the time axis.
    bool live() const { return m_live; }
    // The time view; a view against depth keeps the time it was read for.
    double timeFrom() const { return m_timeFrom; }
    double timeTo() const { return m_timeTo; }
    // The depth view: the stretch zoomed to, or every depth the data holds
    // with a little room either side.
    std::pair<double, double> depthView(const TrendData &data) const;
    // The view along the axis shown.
    std::pair<double, double> view(const TrendData &data) const;

    // Another range: live again, zoom forgotten.
    void setRange(Range range);
    void setAgainstDepth(bool on) { m_againstDepth = on; }
    // The time of the shown unit's first recorded reading, where the
    // scroll bar starts and Everything reaches back to.
    void setFirstReading(qint64 ms) { m_firstMs = ms; }
    qint64 firstReading() const { return m_firstMs; }

    // Following the latest readings again with the range's span, every
    // zoom forgotten.
    void follow();
    // Following again, zoom kept (another unit comes in).
    void resumeLive() { m_live = true; }
    void resetDepthZoom() { m_depthZoom.reset(); }
    // A live time view moves to end at now.
    void moveToNow(qint64 nowMs);

    // Zooms by factor (below 1 closer) around a place on the axis, or the
    // middle of the view. Live stays live, its right edge at now.
    Redo zoom(double factor, std::optional<double> around, qint64 nowMs, const TrendData &data);
    // Moves the view along by a share of its width (negative: back). A time
    // view moved up to now follows again.
    Redo pan(double share, qint64 nowMs, const TrendData &data);
    // The time scroll bar moved to value (of maximum): at its end the view
    // follows again.
    Redo scrolledTo(int value, int maximum, qint64 nowMs);
    // Puts back a view taken with view() (the start of a drag): a time
    // view so put back stands still.
    void restore(std::pair<double, double> shown, qint64 nowMs);

    // The readings to read for the view now, on a plot this many columns
    // wide; kept until the next, so that a short move needs none.
    ReadPlan startReading(qint64 nowMs, int columns);
    // Whether a reading of this time belongs to what is read.
    bool wanted(qint64 timeMs) const;
    // Whether a reading lands in the view as it stands.
    bool shows(const Sample &sample, const TrendData &data) const;

    // A live time view moves with time: drawn again once it has moved by
    // about two pixel columns, and at least every DrawEveryMs.
    bool moving() const { return m_live && !m_againstDepth; }
    double drawEveryMs(int columns) const;

    ScrollBar scrollBar(qint64 nowMs) const;

    // The marks to draw in the time view: at most one of each kind in a
    // stretch as wide as a mark, the stretches fixed in time, so that a
    // moving view keeps its marks. Alarms first, then link events.
    std::pair<std::vector<double>, std::vector<double>> marks(const std::vector<EventMark> &events, int columns,
                                                              int markPixels) const;

private:
    void setTimeView(double from, double to, bool live, qint64 nowMs);
    bool outsideRead() const { return m_timeFrom < m_readFrom || m_timeTo > m_readTo; }

    Range m_range = OneHour;
    bool m_againstDepth = false;
    bool m_live = true;
    // The span followed live when the operator zoomed while following.
    std::optional<double> m_liveSpan;
    double m_timeFrom = 0.0;
    double m_timeTo = 1.0;
    std::optional<std::pair<double, double>> m_depthZoom;
    qint64 m_firstMs = 0;
    double m_readFrom = 0.0;
    double m_readTo = 0.0;
};

} // namespace trends
