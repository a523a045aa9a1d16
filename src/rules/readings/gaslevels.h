#pragma once

#include <QString>

#include "rules/convert/result.h"

// The gas-units levels of one unit, as its alert rules, the fleet board and
// the trends bands judge it. Each unit may have levels of its own, kept in
// the history with the unit so that every desk reading that history agrees;
// a unit without any has the defaults, which are the panel's. The panel
// itself always colours by the defaults.
namespace readings {

struct GasLevels
{
    // Below this the gas is normal; from here up to highAbove, inclusive,
    // a reading keeps the level it had, so that it does not flicker at a
    // level.
    double clearBelow = 1200;
    // Above this the gas is high.
    double highAbove = 1400;
    // Above this it is very high.
    double veryHighAbove = 1750;

    friend bool operator==(const GasLevels &a, const GasLevels &b)
    {
        return a.clearBelow == b.clearBelow && a.highAbove == b.highAbove && a.veryHighAbove == b.veryHighAbove;
    }
    friend bool operator!=(const GasLevels &a, const GasLevels &b) { return !(a == b); }
};

// Levels that make sense, or why they do not: every one a finite number
// of 0 or more, and clearBelow <= highAbove <= veryHighAbove.
Result<GasLevels> checkedGasLevels(double clearBelow, double highAbove, double veryHighAbove);

// "1200 / 1400 / 1750".
QString gasLevelsText(const GasLevels &levels);

} // namespace readings
