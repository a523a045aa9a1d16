#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "rules/convert/result.h"

// The recorder's units file: the serial numbers of the units to record, one
// a line, as an operator would type them into the viewer. A "#" starts a
// comment to the end of its line; blanks and tabs around a serial number,
// and lines left empty, are ignored.
//
// A line is refused, with its number in the reason, when it holds more than
// one word, a character that is not printable single-byte text, a serial
// number longer than MaxSerialLength, a serial number the lookup table can
// never serve (its last three characters make no unit: 1000, -5), or the
// same unit as an earlier line under any spelling (0001, 1001 and 1 are one
// unit to the lookup table; so are all the serial numbers of value 0, which
// go to the default server). Recording a unit twice would record each of
// its readings twice.
namespace unitsfile {

constexpr qsizetype MaxSerialLength = 64;

struct Entry
{
    int line = 0;  // from 1
    QByteArray serial;
};

// Every unit of the file, in its order; the first fault ends the reading.
Result<QList<Entry>> read(const QString &path);

// The same rules over text already read (line by line as TextFile cuts it).
// With skipped, a faulty line is left out and its reason added there
// instead of ending the reading (the serials of a lookup table's rows, where
// the upper of two rows for a unit wins).
Result<QList<Entry>> parse(const QList<QByteArray> &lines, QStringList *skipped = nullptr);

} // namespace unitsfile
