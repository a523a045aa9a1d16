#pragma once

#include <array>
#include <optional>
#include <vector>

#include <QList>
#include <QStringList>
#include <QtGlobal>

#include "rules/mudlog/combinedreading.h"
#include "rules/mudlog/depthunit.h"
#include "rules/mudlog/pixler.h"
#include "rules/trends/gasratios.h"

class QSettings;
struct Reading;
namespace trends {
struct Sample;
}

// Gas against depth the way a mud logger reads it: the readings gathered
// into bins of lag depth (the depth the gas at the shakers came from), one
// value per bin, so a drawing shows the formation drilled rather than the
// order readings came in. A bin no reading fell into stays empty and marks a
// gap that is never joined across.
//
// Each bin holds, from the readings whose lag depth fell in it:
//   - the highest gas units, and the chromatograph (C1 to nC5) of that
//     reading, with the ratios, the combined reading and Pixler's read from
//     it; the first of equal highs; where no reading had gas units, the
//     first reading of the bin;
//   - every alarm seen (the unit's error number above 0).
// And, by hole depth, the drilling rate: the minutes the bit took to drill
// the bin's depth interval, per foot (per metre in metres). Between two
// readings in turn whose hole depth increased, the time between them is
// shared out over the depth drilled, in proportion; a bin's rate is its
// minutes over the depth drilled in it so far. Time when the bit is not
// drilling counts for nothing: while the hole depth stays, or goes back
// (off bottom, a connection, a trip), no depth is drilled and the time is
// left out. A step is also left out when the readings are more than
// LongestStepMs apart (the link was down: how that time was spent is
// unknown), when the time does not advance, or when the hole depth rose
// faster than FastestFeetPerSecond (a depth entered by hand, not drilled).
// The rate of a partly drilled bin is that of the part drilled.
//
// Drilled twice: when the lag depth goes back up by more than a bin
// (beyond jitter) and comes down again, the later pass replaces what an
// earlier pass left in each bin it reaches, and the bin is marked
// re-drilled; the same for the drilling rate when the hole depth goes back
// up and is drilled again.
//
// Bins are in the unit of depth shown (the unit sends feet): 1 ft by
// default, 0.5 m in metres; the bin from depth k x size down to
// (k + 1) x size has index k. A reading whose depth is missing, not above
// 0 or deeper than MaxDepthFeet is not binned by that depth; one that would
// stretch the log past MaxBins bins is refused. Memory is one bin for each
// bin between the shallowest and the deepest binned, whatever the number
// of readings.
namespace mudlog {

// One reading as the mud log takes it; depths in feet, as the unit sends
// them.
struct MudReading
{
    qint64 timeMs = 0;  // UTC milliseconds since the epoch
    std::optional<double> holeDepth;
    std::optional<double> lagDepth;
    std::optional<double> gasUnits;
    trends::Chromatograph gas;
    double errorCode = 0.0;  // the unit's error number: above 0 an alarm
};

// A reading the link accepted, read from the same fields as the trends'
// channels, with its error number.
MudReading mudReadingOf(const Reading &reading);
// A trend sample (the history's readings), with the error number recorded
// beside it.
MudReading mudReadingOf(const trends::Sample &sample, double errorCode = 0.0);

inline constexpr double MaxDepthFeet = 100000.0;
inline constexpr int MaxBins = 200000;
inline constexpr qint64 LongestStepMs = 5 * 60 * 1000;
inline constexpr double FastestFeetPerSecond = 1.0;  // 3,600 ft/h
inline constexpr double SmallestBinSize = 0.1;       // in the unit of depth
inline constexpr double LargestBinSize = 100.0;

struct MudLogSettings
{
    DepthUnit unit = DepthUnit::Feet;
    double binSize = 1.0;  // in unit; outside the sizes above, the unit's default

    static MudLogSettings forUnit(DepthUnit unit) { return {unit, defaultBinSize(unit)}; }
};

// The bin size in the unit of depth from the user's settings
// ("mudlog/binSize"): the unit's default when absent; a size that is not a
// number from SmallestBinSize to LargestBinSize fails with the reason,
// which names the default the caller then uses.
inline constexpr const char *BinSizeKey = "mudlog/binSize";
Result<double> binSizeSetting(const QSettings &settings, DepthUnit unit);

// The unit of depth and the bin size from the user's settings, with the
// reason for each that did not read (the default is used for it).
struct MudLogSetup
{
    MudLogSettings settings;
    QStringList problems;
};
MudLogSetup mudLogSetup(const QSettings &settings);

class MudBin
{
public:
    MudBin();

    // Some reading's lag depth fell in the bin.
    bool logged() const { return m_readings > 0; }
    int readings() const { return static_cast<int>(m_readings); }
    // What the bin holds is from a later pass over depths passed before.
    bool redrilled() const { return m_redrilled; }

    // The chosen reading: its time, gas units and chromatograph.
    qint64 timeMs() const { return m_timeMs; }
    std::optional<double> gasUnits() const;
    trends::Chromatograph chromatograph() const;
    trends::GasRatios ratios() const;
    CombinedReading combined() const;
    PixlerReading pixler() const;

    bool hasAlarm() const { return m_alarms != 0; }
    // The alarms seen, as error numbers 1 to 19 in order, then 0 for any
    // other number above 0 ("UNKNOWN ALARM").
    QList<int> alarmCodes() const;

    // Some depth of the bin was drilled while the readings watched.
    bool drilled() const { return m_drilledLength > 0; }
    double drilledLength() const { return m_drilledLength; }  // in the unit of depth
    // Minutes per foot, or per metre in metres; none where nothing was
    // drilled.
    std::optional<double> drillingRate() const;

private:
    friend class MudLog;

    void clearGas();
    void clearDrilling();

    qint64 m_timeMs = 0;
    double m_gasUnits;
    std::array<double, 7> m_chromatograph;  // C1, C2, C3, iC4, nC4, iC5, nC5; NaN for none
    double m_drillingMinutes = 0;
    double m_drilledLength = 0;
    quint32 m_readings = 0;
    quint32 m_alarms = 0;  // bit n: error number n (1 to 19); bit 0: any other
    quint32 m_lagPass = 0;
    quint32 m_drillPass = 0;
    bool m_redrilled = false;
};

// The bins a change touched, by index; empty when it touched none.
struct BinSpan
{
    int first = 0;
    int last = -1;

    bool isEmpty() const { return last < first; }
    void include(int index);
    void include(const BinSpan &other);
};

class MudLog
{
public:
    explicit MudLog(MudLogSettings settings = {});

    // Takes a reading after all those taken before it (time order); returns
    // the bins it changed, so a view follows a live link by redrawing only
    // those.
    BinSpan add(const MudReading &reading);
    // A whole series, in time order.
    BinSpan add(const QList<MudReading> &readings);
    void clear();

    const MudLogSettings &settings() const { return m_settings; }
    DepthUnit unit() const { return m_settings.unit; }
    double binSize() const { return m_settings.binSize; }

    // The bins held, firstIndex() to lastIndex(); none when isEmpty().
    bool isEmpty() const { return m_bins.empty(); }
    int firstIndex() const { return m_first; }
    int lastIndex() const { return m_first + static_cast<int>(m_bins.size()) - 1; }
    // An empty bin for an index outside them.
    const MudBin &bin(int index) const;

    // The bin a depth in the unit of depth falls in, and a bin's depths.
    int indexAt(double depth) const;
    double topOf(int index) const { return index * m_settings.binSize; }
    double bottomOf(int index) const { return (index + 1) * m_settings.binSize; }

    // Readings whose lag depth was refused: past MaxBins from the others.
    int refused() const { return m_refused; }

private:
    // Widens the bins held to from..to, unless that passes MaxBins.
    bool reach(int from, int to);
    MudBin &at(int index) { return m_bins[static_cast<std::size_t>(index - m_first)]; }
    std::optional<double> depthOf(std::optional<double> feet) const;
    void addGas(const MudReading &reading, double lag, BinSpan &touched);
    void addDrilling(qint64 timeMs, double hole, BinSpan &touched);

    MudLogSettings m_settings;
    std::vector<MudBin> m_bins;
    int m_first = 0;
    int m_refused = 0;

    quint32 m_lagPass = 0;
    std::optional<double> m_deepestLag;  // of this pass, in the unit
    quint32 m_drillPass = 0;
    std::optional<double> m_holeReached;  // deepest hole depth of this pass, in the unit
    qint64 m_holeTimeMs = 0;               // the last reading with a hole depth
};

} // namespace mudlog
