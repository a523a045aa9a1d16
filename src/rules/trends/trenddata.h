#pragma once

#include <array>
#include <cstddef>
#include <limits>
#include <optional>

#include "rules/trends/columnextremes.h"
#include "rules/trends/trendsample.h"

namespace trends {

// The readings a trends view draws, decimated as they come: every channel
// keeps the extremes of each column along one axis, time (columns of so
// many milliseconds) or lag depth (columns of so many feet; a reading
// without a lag depth is not drawn there). Readings may come in any order:
// history and live readings mix freely.
class TrendData
{
public:
    enum class Axis { Time, Depth };

    TrendData();

    // Starts again along this axis with columns of this width, merged in
    // pairs whenever there are more than limit of them (0: never). Only
    // readings whose place on the axis lies within fromX to toX are kept.
    void reset(Axis axis, double width, std::size_t limit = 0,
               double fromX = -std::numeric_limits<double>::infinity(),
               double toX = std::numeric_limits<double>::infinity());
    void add(const Sample &sample);
    // Forgets the columns that lie wholly before x on the axis.
    void dropBefore(double x);

    Axis axis() const { return m_axis; }
    const ColumnExtremes &channel(Channel channel) const { return m_channels[static_cast<std::size_t>(channel)]; }
    // The most recent reading added, whatever its place on the axis.
    const std::optional<Sample> &latest() const { return m_latest; }

private:
    Axis m_axis = Axis::Time;
    double m_fromX = -std::numeric_limits<double>::infinity();
    double m_toX = std::numeric_limits<double>::infinity();
    std::array<ColumnExtremes, ChannelCount> m_channels;
    std::optional<Sample> m_latest;
};

} // namespace trends
