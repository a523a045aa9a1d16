#include "rules/trends/trendview.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace trends {

void UnitClock::seen(qint64 arrivalMs, qint64 unitMs)
{
    m_offsets.push_back(unitMs - arrivalMs);
    if (m_offsets.size() > Kept)
        m_offsets.pop_front();
}

std::optional<qint64> UnitClock::offsetMs() const
{
    if (m_offsets.empty())
        return std::nullopt;
    return *std::max_element(m_offsets.begin(), m_offsets.end());
}

qint64 TrendView::spanOf(Range range)
{
    static constexpr qint64 Spans[] = {10 * MinuteMs, HourMs, 6 * HourMs, 24 * HourMs, 0};
    return Spans[range];
}

std::pair<double, double> TrendView::depthView(const TrendData &data) const
{
    if (m_depthZoom)
        return *m_depthZoom;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (int c = 0; c < ChannelCount; ++c) {
        const ColumnExtremes &channel = data.channel(static_cast<Channel>(c));
        if (!channel.empty()) {
            low = std::min(low, channel.minX());
            high = std::max(high, channel.maxX());
        }
    }
    if (!(low <= high))
        return {0.0, 100.0};
    const double pad = std::max(1.0, (high - low) * 0.03);
    return {low - pad, high + pad};
}

std::pair<double, double> TrendView::view(const TrendData &data) const
{
    return m_againstDepth ? depthView(data) : std::make_pair(m_timeFrom, m_timeTo);
}

void TrendView::setRange(Range range)
{
    m_range = range;
    follow();
}

void TrendView::follow()
{
    m_live = true;
    m_liveSpan.reset();
    m_depthZoom.reset();
}

void TrendView::moveToNow(qint64 nowMs)
{
    if (m_live)
        setTimeView(0, 0, true, nowMs);
}

void TrendView::setTimeView(double from, double to, bool live, qint64 nowMs)
{
    m_live = live;
    if (live) {
        const double span = m_liveSpan.value_or(static_cast<double>(spanOf(m_range)));
        to = static_cast<double>(nowMs);
        from = span > 0 ? to - span : std::min<double>(static_cast<double>(m_firstMs), to - LeastSpanMs);
    }
    if (to - from < LeastSpanMs) {
        const double middle = (from + to) / 2;
        from = middle - LeastSpanMs / 2;
        to = middle + LeastSpanMs / 2;
    }
    m_timeFrom = from;
    m_timeTo = to;
}

TrendView::Redo TrendView::zoom(double factor, std::optional<double> around, qint64 nowMs, const TrendData &data)
{
    if (m_againstDepth) {
        const auto [from, to] = depthView(data);
        const double centre = around.value_or((from + to) / 2);
        const double span = std::max(LeastDepthSpan, (to - from) * factor);
        const double share = (centre - from) / (to - from);
        m_depthZoom = std::make_pair(centre - share * span, centre - share * span + span);
        return Redo::DrawAndReadSoon;
    }
    const double span = m_timeTo - m_timeFrom;
    const double newSpan = std::max(LeastSpanMs, span * factor);
    if (m_live) {
        m_liveSpan = newSpan;
        setTimeView(0, 0, true, nowMs);
    } else {
        const double centre = around.value_or((m_timeFrom + m_timeTo) / 2);
        const double share = (centre - m_timeFrom) / span;
        setTimeView(centre - share * newSpan, centre - share * newSpan + newSpan, false, nowMs);
    }
    return Redo::DrawAndReadSoon;
}

TrendView::Redo TrendView::pan(double share, qint64 nowMs, const TrendData &data)
{
    if (m_againstDepth) {
        const auto [from, to] = depthView(data);
        const double shift = (to - from) * share;
        m_depthZoom = std::make_pair(from + shift, to + shift);
        return Redo::DrawAndReadSoon;
    }
    const double shift = (m_timeTo - m_timeFrom) * share;
    if (m_timeTo + shift >= static_cast<double>(nowMs)) {
        const bool wasLive = m_live;
        setTimeView(0, 0, true, nowMs);
        return wasLive ? Redo::Draw : Redo::DrawAndReadSoon;
    }
    setTimeView(m_timeFrom + shift, m_timeTo + shift, false, nowMs);
    // Within what was read, at the same width, nothing needs reading again.
    return outsideRead() ? Redo::DrawAndReadSoon : Redo::Draw;
}

TrendView::Redo TrendView::scrolledTo(int value, int maximum, qint64 nowMs)
{
    if (value >= maximum) {
        if (m_live)
            return Redo::Nothing;
        follow();
        return Redo::ReadNow;
    }
    const double span = m_timeTo - m_timeFrom;
    const double from = static_cast<double>(m_firstMs) + value * 1000.0;
    setTimeView(from, from + span, false, nowMs);
    return outsideRead() ? Redo::DrawAndReadSoon : Redo::Draw;
}

void TrendView::restore(std::pair<double, double> shown, qint64 nowMs)
{
    if (m_againstDepth)
        m_depthZoom = shown;
    else
        setTimeView(shown.first, shown.second, false, nowMs);
}

TrendView::ReadPlan TrendView::startReading(qint64 nowMs, int columns)
{
    if (m_live)
        setTimeView(0, 0, true, nowMs);
    const double span = m_timeTo - m_timeFrom;
    const double infinity = std::numeric_limits<double>::infinity();
    ReadPlan plan;
    if (!m_againstDepth) {
        const double width = span / columns;
        // Live, the columns are kept from the start of the view on as time
        // goes by; a fixed view reads half a view more either side, so a
        // short scroll needs no new reading.
        m_readFrom = m_live ? m_timeFrom - width : m_timeFrom - span / 2;
        m_readTo = m_live ? static_cast<double>(nowMs + 1) : m_timeTo + span / 2;
        plan.axis = TrendData::Axis::Time;
        plan.width = width;
        plan.limit = m_range == Everything && m_live ? static_cast<std::size_t>(2 * columns) : 0;
        plan.fromX = m_readFrom;
        plan.toX = m_live ? infinity : m_readTo;
        // Columns finer than a few readings are drawn from the readings
        // themselves; an overview of them would save nothing.
        if (width >= OverviewColumnMs)
            plan.overviewWidth = width;
    } else {
        m_readFrom = m_timeFrom;
        m_readTo = m_live ? static_cast<double>(nowMs + 1) : m_timeTo;
        plan.axis = TrendData::Axis::Depth;
        if (m_depthZoom) {
            const double depthSpan = m_depthZoom->second - m_depthZoom->first;
            plan.width = depthSpan / columns;
            plan.fromX = m_depthZoom->first - depthSpan / 2;
            plan.toX = m_depthZoom->second + depthSpan / 2;
        } else {
            // Fine columns to start with, merged as the depths read widen.
            plan.width = 0.05;
            plan.limit = static_cast<std::size_t>(columns);
            plan.fromX = -infinity;
            plan.toX = infinity;
        }
    }
    plan.fromMs = static_cast<qint64>(m_readFrom);
    plan.toMs = static_cast<qint64>(m_readTo);
    return plan;
}

bool TrendView::wanted(qint64 timeMs) const
{
    return timeMs >= m_readFrom && (m_live || timeMs < m_readTo);
}

bool TrendView::shows(const Sample &sample, const TrendData &data) const
{
    const double x = m_againstDepth ? sample[LagDepth] : static_cast<double>(sample.timeMs);
    const auto [from, to] = view(data);
    return x >= from && x <= to;
}

double TrendView::drawEveryMs(int columns) const
{
    if (m_againstDepth)
        return DrawEveryMs;
    const double columnMs = (m_timeTo - m_timeFrom) / columns;
    return std::clamp(2 * columnMs, DrawEveryMs, 60000.0);
}

TrendView::ScrollBar TrendView::scrollBar(qint64 nowMs) const
{
    const double span = m_timeTo - m_timeFrom;
    ScrollBar bar;
    bar.maximum = static_cast<int>(std::max(0.0, (nowMs - m_firstMs - span) / 1000.0));
    bar.page = static_cast<int>(std::max(1.0, span / 1000.0));
    bar.single = static_cast<int>(std::max(1.0, span / 10000.0));
    bar.value = m_live ? bar.maximum : static_cast<int>((m_timeFrom - m_firstMs) / 1000.0);
    return bar;
}

std::pair<std::vector<double>, std::vector<double>> TrendView::marks(const std::vector<EventMark> &events, int columns,
                                                                     int markPixels) const
{
    std::vector<double> alarms;
    std::vector<double> links;
    const double stretch = (m_timeTo - m_timeFrom) / columns * markPixels;
    for (const EventMark &event : events) {
        if (event.timeMs < m_timeFrom || event.timeMs > m_timeTo)
            continue;
        std::vector<double> &kept = event.kind == EventMark::Kind::Alarm ? alarms : links;
        if (kept.empty() || std::floor(event.timeMs / stretch) != std::floor(kept.back() / stretch))
            kept.push_back(static_cast<double>(event.timeMs));
    }
    return {alarms, links};
}

} // namespace trends
