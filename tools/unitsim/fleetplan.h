#pragma once

#include <cstdint>

#include <QByteArray>
#include <QHostAddress>
#include <QList>

#include "unitsim/rigmodel.h"

// What each unit of a fleet is: its name, its port, its seed and the way its
// gas and alarms behave. All of it follows from the unit's place in the fleet
// and the base seed, so the same command line plays the same fleet.
struct UnitPlan
{
    int index = 0;             // 0 for the first unit
    QByteArray name;           // 0001, 0002, ...
    quint16 port = 0;          // 0: a free one
    std::uint64_t seed = 0;
    RigModel::GasCurve gas;
    QList<RigModel::AlarmStep> alarms;
    // A few words each for the unit's listening line.
    QByteArray gasWords;
    QByteArray alarmWords;
};

namespace FleetPlan {

// The most units one lookup table can reach: the viewer looks a serial number
// up by its last three characters, so 1001 would find the row of 0001.
constexpr int MaxLookupUnits = 999;

// Each unit's own seed: the base seed and the unit's place, well mixed, so
// neighbouring units do not run alike.
std::uint64_t unitSeed(std::uint64_t baseSeed, int index);

// `count` units from `firstPort` on (each port 0 when `firstPort` is 0).
QList<UnitPlan> make(int count, quint16 firstPort, std::uint64_t baseSeed);

struct Entry
{
    QByteArray name;
    quint16 port = 0;
};

// The viewer's lookup table for these units: one row each, "name host port",
// CR LF. An address that listens everywhere is written as 127.0.0.1.
QByteArray lookupTable(const QList<Entry> &entries, const QHostAddress &host);

} // namespace FleetPlan
