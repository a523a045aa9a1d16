#pragma once

#include <array>

#include <QString>
#include <QtGlobal>

#include "rules/trends/gasratios.h"

struct Reading;

namespace trends {

// Lengths of time in milliseconds, the unit of the time axis.
inline constexpr qint64 SecondMs = 1000;
inline constexpr qint64 MinuteMs = 60 * SecondMs;
inline constexpr qint64 HourMs = 60 * MinuteMs;
inline constexpr qint64 DayMs = 24 * HourMs;

// What the trends window charts of each reading.
enum Channel : int {
    GasUnits,
    C1,
    C2,
    C3,
    IC4,
    NC4,
    IC5,
    NC5,
    HoleDepth,
    LagDepth,
    BitDepth,
    Rop,
    Wetness,
    Balance,
    Character,
    ChannelCount
};

struct ChannelInfo
{
    const char *key;     // in object names and settings
    const char *name;    // as the window shows it
    const char *column;  // the history's column it is read from; nullptr for a ratio
    int field;           // the packet field it is read from: 0 the bit depth, -1 a ratio
};

const std::array<ChannelInfo, ChannelCount> &channelTable();
inline const ChannelInfo &channelInfo(Channel channel)
{
    return channelTable()[static_cast<std::size_t>(channel)];
}

// The channels drawn against lag depth as well as against time.
bool drawnAgainstDepth(Channel channel);

// One reading: its time (UTC milliseconds) and a value for each channel,
// NaN where it has none.
struct Sample
{
    Sample();

    qint64 timeMs = 0;
    std::array<double, ChannelCount> values;

    double operator[](Channel channel) const { return values[static_cast<std::size_t>(channel)]; }
    double &operator[](Channel channel) { return values[static_cast<std::size_t>(channel)]; }
};

// What is marked on the time axis: the unit's alarms and the viewer's
// alerts starting, and the link's events.
struct EventMark
{
    enum class Kind { Alarm, Link };

    qint64 timeMs = 0;
    Kind kind = Kind::Link;
    QString text;

    bool operator==(const EventMark &other) const
    {
        return timeMs == other.timeMs && kind == other.kind && text == other.text;
    }
};

// The chromatograph of the sample: C1 to nC5, none where NaN.
Chromatograph chromatographOf(const Sample &sample);
// Fills Wh, Bh and Ch from the sample's chromatograph.
void addRatios(Sample &sample);

// A reading the link accepted, with the bit depth it was accepted with. A
// field that is not a number gives no value, as in the history.
Sample sampleOf(const Reading &reading);

} // namespace trends
