#pragma once

#include <QString>
#include <QStringList>

// The ticks of a linear axis of the trends charts: a round step (1, 2, 2.5
// or 5 times a power of ten), the range they mark, and the format of their
// labels. The labels beside a plot have little room, so the format is made
// for the step and the range together: every tick gets a label of its own
// (a step finer than the labels' precision would repeat a label), and no
// label is longer than AxisLabelChars. Values too large for that are
// written in exponent form; where even that would not fit, the step grows
// until the labels do.
namespace trends {

// The longest label, in characters, that the room beside a plot holds.
constexpr int AxisLabelChars = 7;

struct AxisTicks
{
    double low = 0.0;
    double high = 1.0;
    double step = 1.0;
    // printf style, for one double: what the chart's value axis takes.
    QString format;
};

// About count ticks over low to high, on the multiples of the step. An end
// to round moves out to the next tick (a value axis that fits what is
// drawn); the others stay as given (the depth axis shows exactly the depths
// viewed). A range whose high is not above its low (one value, or huge
// values too close for a double to tell apart) is widened.
AxisTicks linearTicks(double low, double high, int count, bool roundLow, bool roundHigh);

// The ticks' labels from low to high, as the axis writes them.
QStringList axisLabels(const AxisTicks &ticks);

// The base of a logarithmic axis from bottom to top (powers of ten) with
// room for at most most labels: 10, or 100, 1000 and so on where there are
// more decades than room, so that the labels do not run into each other.
double logarithmicBase(double bottom, double top, int most);

} // namespace trends
