#pragma once

// The unit's packet form with its checksum, built and checked the way the
// unit and the receiving side do, written out here independently of the
// parser and of the simulator: a fault in either cannot hide behind the
// same fault in the test.

#include <QByteArray>
#include <QList>

namespace support {

// A body ("*" and fields, each followed by a comma) with the checksum field
// the unit puts behind it: "C" and the 8-bit sum of the unsigned byte values
// of every byte in front of it, then the final comma.
QByteArray withChecksum(const QByteArray &body);

// A complete data packet of these fields, CR included.
QByteArray packet(const QList<QByteArray> &fields);

// The receiving side's rule: the field in front of the last comma is "C" and
// the 8-bit sum of every byte in front of that field.
bool checksumPasses(const QByteArray &packet);

// The unit's 40 fields as unit-sim sends them, with hole depth (4), gas
// units (5) and the error number (21) as given.
QList<QByteArray> unitFields(const QByteArray &hole, const QByteArray &gas, const QByteArray &error);

} // namespace support
