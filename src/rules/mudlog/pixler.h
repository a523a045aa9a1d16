#pragma once

#include <array>
#include <optional>

#include <QString>

#include "rules/trends/gasratios.h"

// The methane ratios read as Pixler's: C1/C2 names the zone,
//
//   C1/C2 below 2 or above 65   not productive
//   C1/C2 2 to 15               oil
//   C1/C2 15 to 65              gas
//
// where 2 and 65 themselves are productive ("below" and "above" are strict)
// and 15 is gas, the upper range taking its boundary as Wh's 17.5 does.
// Then the checks: the ratios of a productive zone climb from C1/C2 to
// C1/C5, so a ratio lower than the one before it (C1/C3 below C1/C2, C1/C4
// below C1/C3, C1/C5 below C1/C4) suggests water. Equal ratios do not; a
// pair where either ratio has no value is not checked.
namespace mudlog {

enum class PixlerZone { None, NotProductive, Oil, Gas };

struct PixlerReading
{
    PixlerZone zone = PixlerZone::None;  // None: C1/C2 has no value
    // falls[i]: ratio i + 1 is lower than ratio i, counting C1/C2 as 0.
    std::array<bool, 3> falls{};

    bool waterSuggested() const { return falls[0] || falls[1] || falls[2]; }
};

PixlerReading pixlerReading(const trends::GasRatios &ratios);

// The reading in words: the zone, then each fall ("oil; C1/C5 below C1/C4
// suggests water"); empty when C1/C2 has no value.
QString pixlerWords(const PixlerReading &reading);

// One point of the Pixler plot: the ratio's name on the horizontal axis,
// its value on a logarithmic vertical axis, none where it has no value (the
// plot leaves a gap there, never a point at 0).
struct PixlerPoint
{
    const char *name;  // "C1/C2" to "C1/C5"
    std::optional<double> ratio;
};

std::array<PixlerPoint, 4> pixlerPlot(const trends::GasRatios &ratios);

// The zones' bounds on the plot's vertical axis for C1/C2, for the bands a
// plot shades behind the points.
inline constexpr double PixlerOilFrom = 2.0;
inline constexpr double PixlerGasFrom = 15.0;
inline constexpr double PixlerGasTo = 65.0;

} // namespace mudlog
