#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

#include "history/historystore.h"
#include "rules/readings/gaslevels.h"

// A unit's own gas levels, kept in the history beside its rows so that every
// desk reading the same history (the viewer's alerts, the fleet board, the
// trends bands) judges the unit alike. Each change is a new row (unit, time,
// the three levels); the newest row of a unit holds. Rows are only ever
// added, which is all a recorder's role may do on a shared server, and the
// changes stay on record with their time. A history older than the levels,
// read as it lies, has none: every unit has the defaults.
namespace history {

// The units that have levels of their own, with them.
HistoryResult<QHash<QString, readings::GasLevels>> unitGasLevels(HistoryStore &store);
// One unit's levels: its own, or the defaults.
HistoryResult<readings::GasLevels> gasLevelsOf(HistoryStore &store, const QString &unit);
// Gives the unit these levels from atMs on (the defaults too, written as a
// change like any other). The store must be open for writing.
HistoryResult<void> setGasLevels(HistoryStore &store, const QString &unit, const readings::GasLevels &levels,
                                 qint64 atMs);

} // namespace history

namespace history {

// The events of the kinds named, of every unit, from sinceMs on, in the
// order they were recorded: what the alarm list is rebuilt from.
HistoryResult<std::vector<EventRow>> eventsOfEveryUnit(HistoryStore &store, const QStringList &kinds, qint64 sinceMs);

} // namespace history
