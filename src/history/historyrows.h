#pragma once

#include <array>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include "rules/stream/reading.h"

// The rows of the history, as the recorder gathers them and the store
// writes them.
namespace history {

// The numeric columns of a reading: what is charted or searched. Each is
// filled from one field of the packet, or (field 0) from the bit depth of
// the latest WITS record. A field that is not a number gives no value.
struct NumericColumn
{
    const char *name;  // column of the readings table
    int field;         // position in the packet, from 1; 0 for the bit depth
};

constexpr int NumericColumnCount = 15;
const std::array<NumericColumn, NumericColumnCount> &numericColumns();
// The column of that name, or nullptr: column names reach SQL only from the
// table, never from outside.
const NumericColumn *numericColumn(const QString &name);

constexpr int ErrorNumberField = 21;

// Where a row was first recorded, so that copying it again (a forward tried
// again after a lost acknowledgement, a history copied twice) adds nothing:
// the history it was recorded in (that history's own random number) and its
// row number there. With the row's time it is unique in every history; a
// row with no origin (0) is a row recorded where it lies.
struct RowKey
{
    qint64 origin = 0;
    qint64 id = 0;
};

struct ReadingRow
{
    qint64 timeMs = 0;  // when it arrived
    // The unit it is recorded under: the lookup table's spelling of the
    // unit the serial resolves to (the serial as typed when there is no
    // table or no row for it).
    QString unit;
    QByteArray packet;  // the packet's exact text, checksum included
    std::array<std::optional<double>, NumericColumnCount> values{};
    // The serial number as the operator or the units file typed it; empty
    // in rows recorded before it was kept (the unit is then the serial).
    QString serial;
    QByteArray unitName;  // field 1, the unit's own name
    // The unit's own clock (fields 2 and 3, readings::unitTimeMs), none
    // when they do not read as a date and a time.
    std::optional<qint64> unitTimeMs;
    RowKey key{};
};

struct WitsRow
{
    qint64 timeMs = 0;
    QString unit;
    int position = 0;  // the item's place in its record, from 0
    int code = 0;
    double value = 0.0;
    RowKey key{};
};

// A WITS record as received, kept so that a raw export gives it back
// byte for byte.
struct WitsRecordRow
{
    qint64 timeMs = 0;
    QString unit;
    QByteArray record;
    RowKey key{};
};

struct EventRow
{
    qint64 timeMs = 0;
    QString unit;
    QString kind;
    QString detail;
    RowKey key{};
};

// How many rows of each kind.
struct RowCounts
{
    qint64 readings = 0;
    qint64 witsItems = 0;
    qint64 witsRecords = 0;
    qint64 events = 0;

    qint64 rows() const { return readings + witsItems + witsRecords + events; }
    RowCounts &operator+=(const RowCounts &other)
    {
        readings += other.readings;
        witsItems += other.witsItems;
        witsRecords += other.witsRecords;
        events += other.events;
        return *this;
    }
};

// The last row number taken of each table of a history, when its rows are
// read in the order they were written.
struct RowMarks
{
    qint64 readings = 0;
    qint64 witsItems = 0;
    qint64 witsRecords = 0;
    qint64 events = 0;
};

// What one transaction writes.
struct Batch
{
    std::vector<ReadingRow> readings;
    std::vector<WitsRow> witsItems;
    std::vector<WitsRecordRow> witsRecords;
    std::vector<EventRow> events;

    bool empty() const { return readings.empty() && witsItems.empty() && witsRecords.empty() && events.empty(); }
    void clear()
    {
        readings.clear();
        witsItems.clear();
        witsRecords.clear();
        events.clear();
    }
};

// The row of an accepted packet, with the bit depth it was accepted with,
// recorded under the serial as typed until the writer resolves its unit.
ReadingRow readingRow(const Reading &reading);

// The value of a field when the whole field, blanks aside, is a number.
std::optional<double> numberIn(const QByteArray &field);

// The fields of a packet's text ("*", fields, checksum field, final comma)
// as the panel takes them: element k - 1 is field k, the "*" dropped, the
// checksum field empty.
QByteArrayList packetFields(const QByteArray &packet);

} // namespace history
