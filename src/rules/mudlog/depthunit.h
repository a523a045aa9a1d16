#pragma once

#include <optional>

#include <QString>

#include "rules/convert/result.h"

class QSettings;

// The unit depths are shown, binned and exported in. The unit always sends
// feet; metres exist only on the way out (the screen, the mud log's bins, a
// file), so nothing recorded ever changes with the setting.
namespace mudlog {

enum class DepthUnit { Feet, Metres };
inline constexpr DepthUnit DefaultDepthUnit = DepthUnit::Feet;

// Exact by definition of the international foot.
inline constexpr double MetresPerFoot = 0.3048;

// A depth in feet, as the unit sends it, in the given unit.
double fromFeet(double feet, DepthUnit unit);
// A depth in the given unit back in feet.
double toFeet(double depth, DepthUnit unit);

// "ft" or "m", after a number.
QString unitSymbol(DepthUnit unit);
// "feet" or "metres", in a sentence; also the setting's value.
QString unitName(DepthUnit unit);

// The mud log's bin size when none is set: 1 ft, or 0.5 m (about 1.6 ft)
// in metres.
double defaultBinSize(DepthUnit unit);

// The setting's value read leniently ("feet", "ft", "metres", "meters",
// "m", in any case, blanks around); none for anything else.
std::optional<DepthUnit> depthUnitFromText(const QString &text);

// The unit of depth in the user's settings ("mudlog/depthUnit"): feet when
// absent; a value that does not read fails with the reason, which names
// feet, the unit the caller then uses.
inline constexpr const char *DepthUnitKey = "mudlog/depthUnit";
Result<DepthUnit> depthUnitSetting(const QSettings &settings);

} // namespace mudlog
