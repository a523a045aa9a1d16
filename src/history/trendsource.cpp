#include "history/trendsource.h"

#include <algorithm>

#include <QStringList>

namespace trends {

namespace {

struct MarkedKind
{
    const char *kind;  // as the history records it
    EventMark::Kind mark;
    const char *prefix;  // put in front of the recorded detail
};

const MarkedKind MarkedKinds[] = {
    {"alarm start", EventMark::Kind::Alarm, "Alarm "},
    {"alert start", EventMark::Kind::Alarm, ""},
    {"connected", EventMark::Kind::Link, ""},
    {"disconnected", EventMark::Kind::Link, ""},
    {"unit ended", EventMark::Kind::Link, ""},
    {"link error", EventMark::Kind::Link, ""},
};

// The history's column of each channel read from it, and where it stands
// among a row's values.
struct ChannelColumn
{
    Channel channel;
    std::size_t place;
};

const std::vector<ChannelColumn> &channelColumns()
{
    static const std::vector<ChannelColumn> columns = [] {
        std::vector<ChannelColumn> made;
        for (int c = 0; c < ChannelCount; ++c) {
            const ChannelInfo &info = channelInfo(static_cast<Channel>(c));
            if (const history::NumericColumn *column = info.column ? history::numericColumn(QLatin1String(info.column)) : nullptr)
                made.push_back({static_cast<Channel>(c), static_cast<std::size_t>(column - history::numericColumns().data())});
        }
        return made;
    }();
    return columns;
}

} // namespace

Result<std::vector<EventMark>> historyEvents(HistoryStore &store, const QString &unit, qint64 fromMs, qint64 toMs)
{
    QStringList kinds;
    for (const MarkedKind &kind : MarkedKinds)
        kinds << QString::fromLatin1(kind.kind);
    const HistoryResult<std::vector<history::EventRow>> rows = store.events({unit, fromMs, toMs}, kinds);
    if (!rows)
        return failure(rows.reason().text);
    std::vector<EventMark> events;
    for (const history::EventRow &row : *rows) {
        for (const MarkedKind &known : MarkedKinds) {
            if (row.kind == QLatin1String(known.kind)) {
                events.push_back({row.timeMs, known.mark, QLatin1String(known.prefix) + row.detail});
                break;
            }
        }
    }
    return events;
}

HistoryReadings::HistoryReadings(HistoryStore &store, const QString &unit, qint64 fromMs, qint64 toMs,
                                 HistoryClock clock)
    : m_store(store)
    , m_range{unit, fromMs, toMs}
    , m_clock(clock)
{
}

Result<std::vector<Sample>> HistoryReadings::readSome(int maxRows)
{
    std::vector<Sample> samples;
    if (m_done)
        return samples;
    if (!m_cursor) {
        QStringList columns;
        for (const ChannelColumn &column : channelColumns())
            columns << QLatin1String(history::numericColumns()[column.place].name);
        HistoryResult<HistoryCursor<history::ReadingRow>> cursor = m_store.readings(m_range, false, columns, m_clock);
        if (!cursor)
            return failure(cursor.reason().text);
        m_cursor.emplace(std::move(*cursor));
    }
    samples.reserve(static_cast<std::size_t>(std::max(0, maxRows)));
    const bool byUnit = m_clock == HistoryClock::Unit;
    const HistoryResult<int> read = m_cursor->fetch(maxRows, [&samples, byUnit](const history::ReadingRow &row) {
        Sample sample;
        sample.timeMs = byUnit ? row.unitTimeMs.value_or(row.timeMs) : row.timeMs;
        for (const ChannelColumn &column : channelColumns()) {
            if (const std::optional<double> &value = row.values[column.place])
                sample[column.channel] = *value;
        }
        addRatios(sample);
        samples.push_back(sample);
    });
    if (!read)
        return failure(read.reason().text);
    m_read += *read;
    m_done = m_cursor->done();
    return samples;
}

} // namespace trends
