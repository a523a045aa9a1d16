#pragma once

#include <array>
#include <optional>

#include <QByteArray>
#include <QString>

#include "rules/readings/gaslevels.h"

// The rules that turn an accepted packet into what the reading panel shows:
// which field goes to which box and in which pattern, the alarm texts, and
// the gas-units colour levels. Widget-free, so tests check them directly.
namespace readings {

enum class Pattern { AsReceived, Whole, ThreeDecimals };

struct FieldRow
{
    int index;               // position in the packet, counting from 1
    const char *label;       // objectName of the label that shows it
    const char *caption;     // caption of the frame around it
    Pattern pattern;
};

// Fields 2 to 40 in packet order; field 1 goes only into the caption.
const std::array<FieldRow, 39> &fieldTable();

// The caption text a field is shown with.
QString shownText(const FieldRow &row, const QByteArray &field);

// The value of a numeric field as the history and the trends keep it: a
// field that is not a number (or too large for a double) is no value, not
// 0.
std::optional<double> numberIn(const QByteArray &field);

// "No Errors" for zero or below, the alarm for an exact code 1 to 19,
// "UNKNOWN ALARM" for any other value above zero.
QString alarmText(double errorCode);

// Unchanged: no level set, or the reading keeps the one it had. NoReading:
// only GasLevelTracker::update() gives it, for a field with no number.
enum class GasLevel { Unchanged, Green, Yellow, Red, NoReading };

// The gas-units levels: green below, yellow above, red above.
constexpr double GreenBelow = 1200;
constexpr double YellowAbove = 1400;
constexpr double RedAbove = 1750;

// The colour the gas-units reading takes for the whole number it shows.
// Between 1200 and 1400 it keeps its colour, so it does not flicker at a
// level.
GasLevel gasLevel(double shownValue);
// The same at a unit's own levels: green below clearBelow, yellow above
// highAbove, red above veryHighAbove, unchanged between.
GasLevel gasLevel(double shownValue, const GasLevels &levels);

// The level of the gas-units reading from packet to packet, as the panel
// colours it: the level of the whole number shown, held from 1200 to 1400
// inclusive. Unchanged until a packet sets a level.
//
// A field that shows no number ("N/A", "----", empty, or one too large to
// show) is no reading at all, not a reading of 0: it says nothing of the
// gas, so it must not pass for a safe level. It clears the level, and the
// hold starts afresh with the next number.
class GasLevelTracker
{
public:
    GasLevelTracker() = default;
    // A tracker at a unit's own levels rather than the panel's.
    explicit GasLevelTracker(const GasLevels &levels)
        : m_levels(levels)
    {
    }

    // The level after a packet with this gas-units field, or NoReading (the
    // level is then Unchanged).
    GasLevel update(const QByteArray &gasField);
    GasLevel level() const { return m_level; }
    void reset() { m_level = GasLevel::Unchanged; }

private:
    GasLevels m_levels;
    GasLevel m_level = GasLevel::Unchanged;
};

// Whether the readings still describe the present. Silent: connected, but
// no packet for the stale limit. Lost: the link went down (the unit ended it
// or it failed) and no packet came since, whatever the link did after.
enum class Staleness { Current, Silent, Lost };

} // namespace readings
