#pragma once

#include <array>
#include <optional>

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include "rules/readings/readingrules.h"
#include "rules/stream/streamstate.h"

// One data packet the link accepted, handed on as a value to whoever shows,
// records or judges it, with the unit's state it was accepted with: the
// listeners take the gas level and the bit depth from here and work out
// neither themselves.
struct Reading
{
    qint64 acceptedAtMs = 0;  // when it was accepted, UTC milliseconds since the epoch
    QString serial;           // the unit's serial number as typed when the link was opened
    QByteArray text;          // the packet as received, from the "*" to the byte before its CR
    // fields[k] is field k of the packet (k from 1, the "*" dropped from
    // field 1); fields[0] is never used.
    std::array<QByteArray, StreamState::FieldSlots> fields{};
    double errorCode = 0.0;   // the unit's error number, from field 21
    // The gas-units level after this packet, held from 1200 to 1400 as the
    // panel colours it: NoReading when its gas units are no number,
    // Unchanged while no level has been set.
    readings::GasLevel gasLevel = readings::GasLevel::Unchanged;
    // The bit depth (WITS item 0108) standing when the packet came: the last
    // one read, while the WITS feed is fresh.
    std::optional<double> bitDepth;
};

Q_DECLARE_METATYPE(Reading)

// One item of a WITS record: the code, the value read from it, and the line
// the WITS list shows for it.
struct WitsItem
{
    std::int16_t code = 0;
    double value = 0.0;
    QString line;
};

Q_DECLARE_METATYPE(WitsItem)
