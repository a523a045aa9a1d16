#include "rules/trends/axisticks.h"

#include <algorithm>
#include <cmath>

namespace trends {

namespace {

// Beyond this a range rounded out, or its span, would overflow a double.
constexpr double Largest = 1e300;
// More steps than any axis tries before its labels fit.
constexpr int MostTries = 400;
// Ticks an axis is ever given labels for.
constexpr int MostTicks = 1000;

// A round step as a whole mantissa times a power of ten, so that the digits
// its labels need are counted rather than read off a binary fraction: 2.5 is
// 25 times 10 to the -1, and needs one decimal.
struct Step
{
    int mantissa = 1;  // 1, 2, 25 or 5
    int exponent = 0;

    double value() const
    {
        return exponent >= 0 ? mantissa * std::pow(10.0, exponent) : mantissa / std::pow(10.0, -exponent);
    }
    Step next() const
    {
        switch (mantissa) {
        case 1:
            return {2, exponent};
        case 2:
            return {25, exponent - 1};
        case 25:
            return {5, exponent + 1};
        default:
            return {1, exponent + 1};
        }
    }
};

// The least round step of at least rough.
Step firstStep(double rough)
{
    Step step{1, static_cast<int>(std::floor(std::log10(rough))) - 1};
    while (step.value() < rough)
        step = step.next();
    return step;
}

// Plain decimals with as many places as the step has; values whose whole
// part alone is too long for a label go in exponent form, with as many
// significant digits as the step leaves in the largest of them.
QString labelFormat(double low, double high, Step step)
{
    const double largest = std::max(std::abs(low), std::abs(high));
    const QString whole = QString::asprintf("%.0f", low < 0 ? -largest : largest);
    if (whole.size() <= AxisLabelChars)
        return QStringLiteral("%.%1f").arg(std::max(0, -step.exponent));
    const int magnitude = static_cast<int>(std::floor(std::log10(largest)));
    return QStringLiteral("%.%1g").arg(std::max(1, magnitude - step.exponent + 1));
}

bool fits(const QStringList &labels)
{
    return std::all_of(labels.begin(), labels.end(),
                       [](const QString &label) { return label.size() <= AxisLabelChars; });
}

} // namespace

AxisTicks linearTicks(double low, double high, int count, bool roundLow, bool roundHigh)
{
    low = std::isfinite(low) ? std::clamp(low, -Largest, Largest) : 0.0;
    high = std::isfinite(high) ? std::clamp(high, -Largest, Largest) : low;
    if (!(high > low))
        high = low + std::max(1.0, std::abs(low) * 1e-6);
    const double rough = (high - low) / std::max(1, count);
    Step step = firstStep(rough);
    for (int tries = 0; tries < MostTries; ++tries, step = step.next()) {
        AxisTicks ticks;
        ticks.step = step.value();
        ticks.low = roundLow ? std::floor(low / ticks.step) * ticks.step : low;
        ticks.high = roundHigh ? std::ceil(high / ticks.step) * ticks.step : high;
        ticks.format = labelFormat(ticks.low, ticks.high, step);
        if (fits(axisLabels(ticks)))
            return ticks;
    }
    return {low, high, high - low, QStringLiteral("%.1g")};
}

QStringList axisLabels(const AxisTicks &ticks)
{
    QStringList labels;
    if (!(ticks.step > 0))
        return labels;
    // A tick a rounding error outside the range still counts.
    const double first = std::ceil(ticks.low / ticks.step - 1e-9);
    const double last = std::floor(ticks.high / ticks.step + 1e-9);
    const QByteArray format = ticks.format.toLatin1();
    const double count = std::min<double>(MostTicks, last - first + 1);
    // first + i is never a negative zero, which would read "-0".
    for (int i = 0; i < count; ++i)
        labels.append(QString::asprintf(format.constData(), (first + i) * ticks.step));
    return labels;
}

double logarithmicBase(double bottom, double top, int most)
{
    if (!(bottom > 0) || !(top > bottom) || !std::isfinite(top))
        return 10.0;
    const double decades = std::round(std::log10(top / bottom));
    const int perLabel = static_cast<int>(std::ceil(decades / std::max(1, most - 1)));
    return std::pow(10.0, std::max(1, perLabel));
}

} // namespace trends
