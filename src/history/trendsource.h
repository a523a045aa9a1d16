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
