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

// A channel's value of each reading as SQL over the history's columns:
// the column itself, or the ratio as gasRatios() makes it (the same sums
// in the same order; no value when an input is missing or below zero, or
// the divisor is 0).
QString channelExpression(Channel channel)
{
    if (const char *column = channelInfo(channel).column)
        return QLatin1String(column);
    const QString heavierUsable = QStringLiteral("c3 >= 0 AND ic4 >= 0 AND nc4 >= 0 AND ic5 >= 0 AND nc5 >= 0");
    QString usable = QStringLiteral("c1 >= 0 AND c2 >= 0 AND ") + heavierUsable;
    const QString heavier = QStringLiteral("((ic4 + nc4) + (ic5 + nc5))");
    const QString wet = QStringLiteral("((c2 + c3) + %1)").arg(heavier);
    QString divisor;
    QString quotient;
    switch (channel) {
    case Wetness:
        divisor = QStringLiteral("(c1 + %1)").arg(wet);
        quotient = QStringLiteral("%1 / %2 * 100.0").arg(wet, divisor);
        break;
    case Balance:
        divisor = QStringLiteral("(c3 + %1)").arg(heavier);
        quotient = QStringLiteral("(c1 + c2) / %1").arg(divisor);
        break;
    case Character:
        usable = heavierUsable;
        divisor = QStringLiteral("c3");
        quotient = QStringLiteral("%1 / c3").arg(heavier);
        break;
    default:
        return QStringLiteral("NULL");
    }
    return QStringLiteral("CASE WHEN %1 AND %2 <> 0 THEN %3 END").arg(usable, divisor, quotient);
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

Result<std::vector<Sample>> historyOverview(HistoryStore &store, const QString &unit, qint64 fromMs, qint64 toMs,
                                            double widthMs, HistoryClock clock)
{
    QStringList expressions;
    for (int c = 0; c < ChannelCount; ++c)
        expressions << channelExpression(static_cast<Channel>(c));
    const HistoryResult<std::vector<ColumnBounds>> columns =
        store.columnBounds({unit, fromMs, toMs}, expressions, widthMs, clock);
    if (!columns)
        return failure(columns.reason().text);
    std::vector<Sample> samples;
    samples.reserve(2 * columns->size());
    for (const ColumnBounds &column : *columns) {
        Sample low;
        Sample high;
        low.timeMs = high.timeMs = column.firstMs + (column.lastMs - column.firstMs) / 2;
        for (int c = 0; c < ChannelCount; ++c) {
            const auto place = static_cast<std::size_t>(c);
            if (column.low[place])
                low.values[place] = *column.low[place];
            if (column.high[place])
                high.values[place] = *column.high[place];
        }
        samples.push_back(low);
        samples.push_back(high);
    }
    return samples;
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
