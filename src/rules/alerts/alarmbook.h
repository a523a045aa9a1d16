#pragma once

#include <optional>
#include <vector>

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include "rules/alerts/alertrules.h"

// The alarm list: one row per alert condition of a unit, latched until
// someone acknowledges it. Widget-free and clock-free (every call is given
// the time, UTC milliseconds), so that the viewer's alerts, the fleet board
// and the history's events all drive the same rules, and tests drive them
// directly.
//
// The rules of a row:
// - A unit has at most one row per kind of condition (gas, unit alarm, link
//   lost, no data). A condition that starts while its row is still in the
//   book (not yet acknowledged, or still lasting) updates that row rather
//   than adding one: it lasts again, and the row keeps the time it first
//   started.
// - A row not yet acknowledged keeps the worst level it reached, with that
//   level's text and figure, so a gas alert that rose to very high and
//   fell back still reads very high until someone has seen it. An
//   acknowledged row follows the condition as it goes down, and a rise
//   above the level acknowledged calls for a new acknowledgement.
// - A row stays when its condition ends, until it is acknowledged; one that
//   is acknowledged and over leaves the book.
namespace alerts {

struct AlarmRow
{
    QString unit;
    Kind kind = Kind::GasLevel;
    Level level = Level::Warning;
    QString condition;                     // "VERY HIGH GAS UNITS", ...
    std::optional<double> value;           // the gas units, the stale limit
    qint64 startedMs = 0;
    std::optional<qint64> endedMs;         // none while it lasts
    QString acknowledgedBy;                // the login name
    std::optional<qint64> acknowledgedMs;  // none until acknowledged

    bool lasting() const { return !endedMs; }
    bool acknowledged() const { return acknowledgedMs.has_value(); }
};

// One change of the book, as the history keeps it: an event of the kind
// "alarm start", "alarm end" or "alarm ack" under the unit, the detail a
// line of JSON. Replaying the changes in order gives the same book.
struct AlarmChange
{
    qint64 timeMs = 0;
    QString unit;
    QString kind;
    QString detail;
};

class AlarmBook
{
public:
    // The kinds of the events the book's changes are recorded as.
    static QStringList eventKinds();

    // A condition of a unit starts (or changes level). The change to
    // record, if the book changed.
    std::optional<AlarmChange> start(const QString &unit, Kind kind, Level level, const QString &condition,
                                     std::optional<double> value, qint64 atMs);
    // A condition of a unit is over.
    std::optional<AlarmChange> end(const QString &unit, Kind kind, qint64 atMs);
    // One row acknowledged, by the login name.
    std::optional<AlarmChange> acknowledge(const QString &unit, Kind kind, const QString &by, qint64 atMs);
    // Every row of the unit not yet acknowledged.
    std::optional<AlarmChange> acknowledgeUnit(const QString &unit, const QString &by, qint64 atMs);

    // Replays a change read back from the history; false for an event that
    // is not one the book wrote (it changes nothing).
    bool replay(const AlarmChange &change);

    // The rows: those not yet acknowledged first, then the newest first.
    std::vector<AlarmRow> rows() const;
    // The worst level among a unit's rows not yet acknowledged; none when
    // every row of the unit is acknowledged.
    std::optional<Level> worstUnacknowledged(const QString &unit) const;
    // How many rows wait for an acknowledgement, of every unit.
    int unacknowledgedCount() const;
    bool empty() const { return m_rows.empty(); }

private:
    std::vector<AlarmRow>::iterator find(const QString &unit, Kind kind);

    std::vector<AlarmRow> m_rows;
};

// The names a kind of condition goes by in the history's events ("gas",
// "alarm", "link", "nodata") and in words for the list ("Gas", "Unit alarm",
// "Link lost", "No data").
QString kindName(Kind kind);
std::optional<Kind> kindNamed(const QString &name);
QString kindWords(Kind kind);

} // namespace alerts
