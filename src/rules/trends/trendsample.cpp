#include "rules/trends/trendsample.h"

#include <cmath>
#include <limits>

#include "rules/readings/readingrules.h"
#include "rules/stream/reading.h"

namespace trends {

namespace {

std::optional<double> valueOf(double value)
{
    return std::isnan(value) ? std::nullopt : std::optional<double>(value);
}

double orNaN(std::optional<double> value)
{
    return value ? *value : std::numeric_limits<double>::quiet_NaN();
}

} // namespace

const std::array<ChannelInfo, ChannelCount> &channelTable()
{
    static const std::array<ChannelInfo, ChannelCount> table = {{
        {"gas", "Gas units", "gas_units", 5},
        {"c1", "C1", "c1", 30},
        {"c2", "C2", "c2", 31},
        {"c3", "C3", "c3", 32},
        {"ic4", "iC4", "ic4", 33},
        {"nc4", "nC4", "nc4", 34},
        {"ic5", "iC5", "ic5", 39},
        {"nc5", "nC5", "nc5", 40},
        {"hole", "Hole depth", "hole_depth", 4},
        {"lag", "Lag depth", "lag_depth", 37},
        {"bit", "Bit depth", "bit_depth", 0},
        {"rop", "ROP", "rop_ft_hr", 11},
        {"wh", "Wetness Wh", nullptr, -1},
        {"bh", "Balance Bh", nullptr, -1},
        {"ch", "Character Ch", nullptr, -1},
    }};
    return table;
}

bool drawnAgainstDepth(Channel channel)
{
    return channel != HoleDepth && channel != LagDepth && channel != BitDepth && channel != Rop;
}

Sample::Sample()
{
    values.fill(std::numeric_limits<double>::quiet_NaN());
}

Chromatograph chromatographOf(const Sample &sample)
{
    return {valueOf(sample[C1]),  valueOf(sample[C2]),  valueOf(sample[C3]), valueOf(sample[IC4]),
            valueOf(sample[NC4]), valueOf(sample[IC5]), valueOf(sample[NC5])};
}

void addRatios(Sample &sample)
{
    const GasRatios ratios = gasRatios(chromatographOf(sample));
    sample[Wetness] = orNaN(ratios.wetness);
    sample[Balance] = orNaN(ratios.balance);
    sample[Character] = orNaN(ratios.character);
}

Sample sampleOf(const Reading &reading)
{
    Sample sample;
    sample.timeMs = reading.acceptedAtMs;
    for (int c = 0; c < ChannelCount; ++c) {
        const int field = channelTable()[static_cast<std::size_t>(c)].field;
        if (field < 0)
            continue;
        const std::optional<double> value =
            field == 0 ? reading.bitDepth : readings::numberIn(reading.fields[static_cast<std::size_t>(field)]);
        if (value)
            sample.values[static_cast<std::size_t>(c)] = *value;
    }
    addRatios(sample);
    return sample;
}

} // namespace trends
