#include "rules/trends/gasratios.h"

#include <cmath>

namespace trends {

namespace {

using Value = std::optional<double>;

// A concentration the ratios may use.
Value usable(Value value)
{
    if (!value || !std::isfinite(*value) || *value < 0)
        return std::nullopt;
    return value;
}

Value sum(Value a, Value b)
{
    if (!a || !b)
        return std::nullopt;
    return *a + *b;
}

Value quotient(Value dividend, Value divisor)
{
    if (!dividend || !divisor || *divisor == 0)
        return std::nullopt;
    const double result = *dividend / *divisor;
    if (!std::isfinite(result))
        return std::nullopt;
    return result;
}

} // namespace

GasRatios gasRatios(const Chromatograph &gas)
{
    const Value c1 = usable(gas.c1);
    const Value c2 = usable(gas.c2);
    const Value c3 = usable(gas.c3);
    const Value c4 = sum(usable(gas.ic4), usable(gas.nc4));
    const Value c5 = sum(usable(gas.ic5), usable(gas.nc5));
    const Value heavier = sum(c4, c5);
    const Value wet = sum(sum(c2, c3), heavier);

    GasRatios ratios;
    if (const Value percent = quotient(wet, sum(c1, wet)))
        ratios.wetness = *percent * 100.0;
    ratios.balance = quotient(sum(c1, c2), sum(c3, heavier));
    ratios.character = quotient(heavier, c3);
    ratios.c1c2 = quotient(c1, c2);
    ratios.c1c3 = quotient(c1, c3);
    ratios.c1c4 = quotient(c1, c4);
    ratios.c1c5 = quotient(c1, c5);
    return ratios;
}

QString ratioText(std::optional<double> ratio)
{
    if (!ratio)
        return QStringLiteral("—");
    const double size = std::fabs(*ratio);
    const int decimals = size >= 100 ? 0 : size >= 10 ? 1 : size >= 1 ? 2 : 3;
    return QString::number(*ratio, 'f', decimals);
}

} // namespace trends
