#pragma once

#include <functional>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "rules/alerts/alertrules.h"
#include "rules/readings/levelpalette.h"
#include "rules/readings/readingrules.h"

// What the fleet board shows of each unit and in which order, without
// widgets, a clock or a database: the tiles are filled from the history by
// their owner and judged here at the time given.
namespace board {

// The last hour's gas is kept as the highest reading of each half minute:
// a peak never falls between two points of the line.
constexpr qint64 SparkBucketMs = 30 * 1000;
constexpr qint64 SparkSpanMs = 60 * 60 * 1000;

struct SparkPoint
{
    qint64 timeMs = 0;  // the start of its half minute
    double gas = 0.0;
    friend bool operator==(const SparkPoint &a, const SparkPoint &b) { return a.timeMs == b.timeMs && a.gas == b.gas; }
};

// The link events the recorder writes: a loss of the link, and its return.
bool isLinkLoss(const QString &eventKind);
bool isLinkUp(const QString &eventKind);
// Every kind of event the board follows.
QStringList linkEventKinds();

// One unit as its history tells it.
struct Tile
{
    QString unit;
    // The latest reading (arrival time, UTC milliseconds; -1 for none) and
    // its values.
    qint64 lastReadingMs = -1;
    std::optional<double> gas;
    std::optional<double> holeDepth;
    std::optional<double> lagDepth;
    std::optional<double> bitDepth;
    std::optional<double> ropMinFt;
    double errorCode = 0.0;
    // The unit's own gas levels (the defaults unless the history gives it
    // some), and the gas level held at them from reading to reading as
    // the panel holds its own.
    readings::GasLevels levels;
    readings::GasLevelTracker gasLevel;
    // Readings with an error number above 0: the alarm text blinks with
    // them as the panel's does, one phase per such reading, a reading
    // without an error stopping it where it is.
    int errorReadings = 0;
    // The latest link event the recorder wrote (-1 for none) and whether
    // it was a loss.
    qint64 lastLinkEventMs = -1;
    bool linkLost = false;
    QString linkLoss;  // the kind of the latest loss
    std::vector<SparkPoint> spark;

    // A reading, in order of time: the latest values, the held gas level,
    // the blink and the line of the last hour.
    void addReading(qint64 timeMs, const std::optional<double> &gasUnits, double error);
    // Judges the gas at these levels from now on, the latest reading
    // again at once.
    void setLevels(const readings::GasLevels &unitLevels);
    // A link event in order of time.
    void addLinkEvent(qint64 timeMs, const QString &kind);
    // Drops the part of the line older than the hour before nowMs.
    void trimSpark(qint64 nowMs);
};

// How urgent a tile is, the most urgent last.
enum class Urgency { Normal, Stale, Warning, Critical };

struct Judgement
{
    Urgency urgency = Urgency::Normal;
    // The recorder lost the link and no reading came since: "NO DATA".
    bool noData = false;
    // Older than the stale limit: drawn dimmed.
    bool stale = false;
    // The level to mark the tile with: the gas level, or stale, or no data.
    std::optional<readings::Level> level;
    // "No Errors", or the alarm of the error number.
    QString alarmText;
    bool alarm = false;
    // The phase of the alarm's blink: red, or the face colour.
    bool alarmRed = false;
    // Milliseconds since the latest reading; none without one.
    std::optional<qint64> ageMs;
};

// staleSeconds 0: readings never turn stale (as the viewer's setting).
Judgement judge(const Tile &tile, qint64 nowMs, int staleSeconds);

// Whether a unit's critical conditions are all acknowledged; the alarm
// list answers this.
using Acknowledged = std::function<bool(const QString &unit)>;

// The tiles' places, worst first: unacknowledged critical (very high gas,
// the link lost), warning (high gas, a unit alarm; also a critical one
// acknowledged), stale, then the rest; within each by the gas, highest
// first, then by the unit. Returns indices into tiles.
std::vector<std::size_t> boardOrder(const std::vector<Tile> &tiles, qint64 nowMs, int staleSeconds,
                                    const Acknowledged &acknowledged = {});

// What the alarm list is told of a tile: its conditions now, in the alert
// rules' words ("VERY HIGH GAS UNITS", "ALARM 5 HIGH SAMPLE FLOW RATE",
// "LINK LOST, CLOSED BY UNIT", "NO DATA FOR 30 SECONDS"). The gas and the
// unit's alarm are conditions only while the data is current.
struct TileCondition
{
    alerts::Kind kind = alerts::Kind::GasLevel;
    alerts::Level level = alerts::Level::Warning;
    QString text;
    std::optional<double> value;
};
std::vector<TileCondition> conditionsOf(const Tile &tile, const Judgement &judged, int staleSeconds);

// The data age as a tile shows it: "4 s", "12 min", "3 h 5 min", "2 d".
QString ageText(qint64 ageMs);

} // namespace board
