#include "rules/readings/levelpalette.h"

namespace readings {

namespace {

constexpr Rgb Black{0, 0, 0};
constexpr Rgb White{255, 255, 255};

} // namespace

const std::array<LevelMark, 5> &levelPalette()
{
    // Lightness (CIE L*) for normal vision, red-blind, green-blind and
    // blue-blind readers, as simulated: blue 65/68/62/68, amber 86/83/87/83,
    // crimson 52/42/57/54. Any two of the three differ by at least 55
    // (CIEDE76) under each of the four.
    static const std::array<LevelMark, 5> palette = {{
        {Level::Normal, {70, 160, 255}, Black, "NORMAL", LevelShape::Circle},
        {Level::High, {255, 210, 0}, Black, "HIGH", LevelShape::Triangle},
        {Level::VeryHigh, {235, 40, 100}, White, "VERY HIGH", LevelShape::Diamond},
        {Level::Stale, {170, 170, 170}, Black, "STALE", LevelShape::Ring},
        {Level::NoData, {90, 90, 90}, White, "NO DATA", LevelShape::Cross},
    }};
    return palette;
}

const LevelMark &levelMark(Level level)
{
    return levelPalette()[static_cast<std::size_t>(level)];
}

QString LevelMark::glyph() const
{
    switch (shape) {
    case LevelShape::Circle:
        return QStringLiteral("\u25CF");
    case LevelShape::Triangle:
        return QStringLiteral("\u25B2");
    case LevelShape::Diamond:
        return QStringLiteral("\u25C6");
    case LevelShape::Ring:
        return QStringLiteral("\u25CC");
    case LevelShape::Cross:
        return QStringLiteral("\u2715");
    }
    return {};
}

QString LevelMark::label() const
{
    return glyph() + QLatin1Char(' ') + QLatin1String(word);
}

std::optional<Level> levelOf(GasLevel gas)
{
    switch (gas) {
    case GasLevel::Green:
        return Level::Normal;
    case GasLevel::Yellow:
        return Level::High;
    case GasLevel::Red:
        return Level::VeryHigh;
    case GasLevel::Unchanged:
    case GasLevel::NoReading:
        break;
    }
    return std::nullopt;
}

} // namespace readings
