#pragma once

#include <optional>

#include <QString>

// The gas ratios a mud logger reads from the chromatograph's C1 to C5, as
// published for reading the fluid from mud gas, with C4 = iC4 + nC4 and
// C5 = iC5 + nC5:
//
//   wetness   Wh = (C2 + C3 + C4 + C5) / (C1 + C2 + C3 + C4 + C5) x 100
//   balance   Bh = (C1 + C2) / (C3 + C4 + C5)
//   character Ch = (C4 + C5) / C3
//   methane   C1/C2, C1/C3, C1/C4, C1/C5
//
// A ratio has no value when one of its inputs is missing, not a finite
// number or below zero (a concentration cannot be), or when its divisor is
// 0: never 0 and never infinity in its place, so a dead detector never reads
// as dry gas.
namespace trends {

struct Chromatograph
{
    std::optional<double> c1, c2, c3, ic4, nc4, ic5, nc5;
};

struct GasRatios
{
    std::optional<double> wetness;
    std::optional<double> balance;
    std::optional<double> character;
    std::optional<double> c1c2, c1c3, c1c4, c1c5;
};

GasRatios gasRatios(const Chromatograph &gas);

// The ratios are read together, never one at a time: one ratio alone
// contradicts the published reading (mudlog::combinedReading).

// A ratio as the window shows it: three significant digits at least, "—"
// when it has no value.
QString ratioText(std::optional<double> ratio);

} // namespace trends
