#pragma once

#include <array>
#include <optional>

#include <QString>

#include "rules/readings/readingrules.h"

// How the windows beside the panel (the fleet board, the alarm list, the
// trends' bands) mark a level: by a colour, a word and a shape together, so
// a reader who cannot tell the colours apart still reads the level. The
// panel keeps its own green, yellow and red.
//
// The three gas colours differ in lightness as well as in hue (amber the
// lightest, blue the middle, crimson the darkest), so that they stay apart
// for the red-blind (protanopia), the green-blind (deuteranopia) and the
// blue-blind (tritanopia): for a red-blind reader the crimson turns a mid
// grey, never the near black that pure red becomes, while blue stays blue
// and amber stays yellow. The grey of stale data and the dark grey of a
// lost link carry no hue at all; their words say what they are.
//
// Colours are plain numbers so that code without widgets holds them; the
// windows turn them into their own colour type.
namespace readings {

enum class Level { Normal, High, VeryHigh, Stale, NoData };

enum class LevelShape { Circle, Triangle, Diamond, Ring, Cross };

struct Rgb
{
    int red = 0;
    int green = 0;
    int blue = 0;
    friend bool operator==(const Rgb &a, const Rgb &b)
    {
        return a.red == b.red && a.green == b.green && a.blue == b.blue;
    }
};

struct LevelMark
{
    Level level = Level::Normal;
    Rgb colour;       // the fill or the text drawn in the level
    Rgb ink;          // text written on that colour: black or white
    const char *word = "";  // "NORMAL", "HIGH", "VERY HIGH", "STALE", "NO DATA"
    LevelShape shape = LevelShape::Circle;
    // The shape as one character, for text: ● ▲ ◆ ◌ ✕.
    QString glyph() const;
    // The shape and the word, "▲ HIGH".
    QString label() const;
};

// Every level in order of urgency, the least first.
const std::array<LevelMark, 5> &levelPalette();
const LevelMark &levelMark(Level level);

// The mark of a gas level as the panel holds it; none before a level is
// set or for a gas field that is no number.
std::optional<Level> levelOf(GasLevel gas);

// The alarm list's levels: a warning is marked as high gas, a critical
// condition as very high.
inline Level warningLevel() { return Level::High; }
inline Level criticalLevel() { return Level::VeryHigh; }

} // namespace readings
