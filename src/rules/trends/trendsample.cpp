#include "rules/trends/trendsample.h"

#include <cmath>
#include <limits>

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
        {"gas", "Gas units", "gas_units"},
        {"c1", "C1", "c1"},
        {"c2", "C2", "c2"},
        {"c3", "C3", "c3"},
        {"ic4", "iC4", "ic4"},
        {"nc4", "nC4", "nc4"},
        {"ic5", "iC5", "ic5"},
        {"nc5", "nC5", "nc5"},
        {"hole", "Hole depth", "hole_depth"},
        {"lag", "Lag depth", "lag_depth"},
        {"bit", "Bit depth", "bit_depth"},
        {"rop", "ROP", "rop_ft_hr"},
        {"wh", "Wetness Wh", nullptr},
        {"bh", "Balance Bh", nullptr},
        {"ch", "Character Ch", nullptr},
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

} // namespace trends
