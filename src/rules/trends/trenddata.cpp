#include "rules/trends/trenddata.h"

namespace trends {

TrendData::TrendData() = default;

void TrendData::reset(Axis axis, double width, std::size_t limit, double fromX, double toX)
{
    m_axis = axis;
    m_fromX = fromX;
    m_toX = toX;
    for (ColumnExtremes &channel : m_channels)
        channel.reset(width, limit);
    m_latest.reset();
}

void TrendData::add(const Sample &sample)
{
    if (!m_latest || sample.timeMs >= m_latest->timeMs)
        m_latest = sample;
    const double x = m_axis == Axis::Time ? static_cast<double>(sample.timeMs) : sample[LagDepth];
    if (!(x >= m_fromX && x <= m_toX))
        return;
    for (int c = 0; c < ChannelCount; ++c) {
        const auto channel = static_cast<Channel>(c);
        if (m_axis == Axis::Time || drawnAgainstDepth(channel))
            m_channels[static_cast<std::size_t>(c)].add(x, sample[channel]);
    }
}

void TrendData::dropBefore(double x)
{
    for (ColumnExtremes &channel : m_channels)
        channel.dropBefore(x);
}

} // namespace trends
