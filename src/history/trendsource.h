#pragma once

#include <optional>
#include <vector>

#include <QString>

#include "history/historystore.h"
#include "rules/convert/result.h"
#include "rules/trends/trendsample.h"

// What the trends read from the history file, through the store. (A
// reading the link accepts becomes a sample through trends::sampleOf, in
// the rules.)
namespace trends {

// The marks of a unit in a time range, in order of time.
Result<std::vector<EventMark>> historyEvents(HistoryStore &store, const QString &unit, qint64 fromMs, qint64 toMs);

// An overview of a unit's readings over a time range, grouped by the
// history's engine into columns of widthMs along the time axis (those of
// the chart): for each column holding readings, two samples in the middle
// of its time, one with the lowest value of every channel over the column's
// readings and one with the highest, the ratios' lowest and highest taken
// over each reading's own ratios. Added to a TrendData with columns of
// that width, they draw the same envelope as every reading would (every
// peak, every dip) while some two thousand rows cross the connection
// instead of each reading. A sample is no reading: the values beside the
// charts never come from one. By the unit's clock, as HistoryReadings.
Result<std::vector<Sample>> historyOverview(HistoryStore &store, const QString &unit, qint64 fromMs, qint64 toMs,
                                            double widthMs, HistoryClock clock = HistoryClock::Arrival);

// A unit's readings over a time range (from included, to excluded) read
// from the history a slice at a time, in order of time, as samples with
// their ratios. By the unit's clock, the range and each sample's time are
// the unit's own, and readings without it are left out. The store must stay
// open while it reads.
class HistoryReadings
{
public:
    HistoryReadings(HistoryStore &store, const QString &unit, qint64 fromMs, qint64 toMs,
                    HistoryClock clock = HistoryClock::Arrival);

    // Up to maxRows more readings; done() once every reading was read.
    Result<std::vector<Sample>> readSome(int maxRows);
    bool done() const { return m_done; }
    qint64 read() const { return m_read; }

private:
    HistoryStore &m_store;
    HistoryRange m_range;
    HistoryClock m_clock;
    std::optional<HistoryCursor<history::ReadingRow>> m_cursor;
    bool m_done = false;
    qint64 m_read = 0;
};

} // namespace trends
