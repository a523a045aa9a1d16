#include "rules/mudlog/combinedreading.h"

namespace mudlog {

namespace {

constexpr double DryBelow = 0.5;
constexpr double OilFrom = 17.5;
constexpr double ResidualAbove = 40.0;
constexpr double VeryDryAbove = 100.0;
constexpr double OilCharacterFrom = 0.5;

} // namespace

CombinedReading combinedReading(const trends::GasRatios &ratios)
{
    const std::optional<double> &wh = ratios.wetness;
    const std::optional<double> &bh = ratios.balance;
    if (!wh)
        return {};
    if (*wh < OilFrom && bh && *bh > VeryDryAbove)
        return {Fluid::VeryDryGas, false};
    if (*wh < DryBelow)
        return {Fluid::VeryLightDryGas, false};
    if (*wh > ResidualAbove)
        return {Fluid::ResidualOil, false};
    if (!bh)
        return {};
    if (*wh < OilFrom) {
        if (*bh >= *wh)
            return {Fluid::ProductiveGas, false};
        if (!ratios.character)
            return {};
        return {*ratios.character < OilCharacterFrom ? Fluid::GasCondensate : Fluid::LightOil, true};
    }
    return {*bh < *wh ? Fluid::ProductiveOil : Fluid::Undetermined, false};
}

QString fluidWords(Fluid fluid)
{
    switch (fluid) {
    case Fluid::None:
        break;
    case Fluid::VeryDryGas:
        return QStringLiteral("very dry gas");
    case Fluid::VeryLightDryGas:
        return QStringLiteral("very light dry gas, not productive");
    case Fluid::ProductiveGas:
        return QStringLiteral("productive gas");
    case Fluid::GasCondensate:
        return QStringLiteral("gas condensate or wet gas");
    case Fluid::LightOil:
        return QStringLiteral("light oil");
    case Fluid::ProductiveOil:
        return QStringLiteral("productive oil");
    case Fluid::ResidualOil:
        return QStringLiteral("residual oil");
    case Fluid::Undetermined:
        return QStringLiteral("undetermined");
    }
    return QString();
}

} // namespace mudlog
