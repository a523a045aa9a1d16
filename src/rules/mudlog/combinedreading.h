#pragma once

#include <QString>

#include "rules/trends/gasratios.h"

// The reading of wetness, balance and character together, as Haworth,
// Sellens and Whittaker (1985) published it, with Wh, Bh and Ch as
// trends::gasRatios() works them out. Their rules:
//
//   Wh < 0.5                     very light dry gas, not productive
//   Wh 0.5 to 17.5, Wh < Bh < 100  productive gas, the gas wetter as the
//                                curves converge
//   Wh 0.5 to 17.5, Bh < Wh      gas condensate or wet gas when Ch < 0.5,
//                                light oil when Ch > 0.5
//   Wh 17.5 to 40, Bh < Wh       productive oil, heavier as the curves
//                                separate
//   Wh > 40                      residual oil
//   Bh > 100                     very dry gas
//
// Ch is read only where these rules use it: to tell condensate from light
// oil in the gas range with Bh below Wh. How the curves converge or separate
// is for the eye on the drawn curves; the reading names the fluid only.
//
// Precedence and boundaries, checked in this order:
//   1. No Wh: no reading.
//   2. Bh above 100 (strictly) with Wh below 17.5: very dry gas. Wh below
//      0.5 leaves C3 to C5 at most 0.5 % against at least 99.5 % of C1 and
//      C2, so Bh is then above 199 whenever it has a value: both rules name
//      dry gas there, and Bh's, the sharper, is given.
//   3. Wh below 0.5: very light dry gas, not productive (so only a reading
//      with no C3, C4 or C5 at all, where Bh has no value).
//   4. Wh above 40 (strictly): residual oil, whatever Bh says.
//   5. No Bh: no reading, since what is left compares Bh with Wh.
//   6. Wh from 0.5 up to, not including, 17.5 (the gas range):
//      Bh equal to Wh or above (up to 100 inclusive, rule 2 took the rest):
//      productive gas; the curves cross only when Bh falls below Wh.
//      Bh below Wh: no Ch, no reading; Ch below 0.5 gas condensate or wet
//      gas; Ch of 0.5 or more light oil.
//   7. Wh from 17.5 to 40 inclusive (the oil range): Bh below Wh productive
//      oil; Bh equal to Wh or above names no fluid: undetermined.
// At a boundary the range above takes it: Wh 0.5 is gas, 17.5 oil, 40
// still oil; Bh of exactly 100 is not very dry gas; Ch 0.5 is light oil.
namespace mudlog {

enum class Fluid {
    None,               // a ratio the rules need has no value
    VeryDryGas,
    VeryLightDryGas,
    ProductiveGas,
    GasCondensate,      // gas condensate or wet gas
    LightOil,
    ProductiveOil,
    ResidualOil,
    Undetermined        // ratios none of the rules describe
};

struct CombinedReading
{
    Fluid fluid = Fluid::None;
    bool characterRead = false;  // Ch decided the reading
};

CombinedReading combinedReading(const trends::GasRatios &ratios);

// The reading in a mud logger's words; empty for no reading.
QString fluidWords(Fluid fluid);

} // namespace mudlog
