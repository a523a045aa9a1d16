#include "history/historyrows.h"

#include <cmath>

#include <QLatin1String>

#include "rules/convert/convert.h"
#include "rules/readings/readingrules.h"
#include "rules/readings/unittime.h"

namespace history {

const std::array<NumericColumn, NumericColumnCount> &numericColumns()
{
    static const std::array<NumericColumn, NumericColumnCount> columns = {{
        {"gas_units", 5},
        {"hole_depth", 4},
        {"lag_depth", 37},
        {"bit_depth", 0},
        {"rop_min_ft", 10},
        {"rop_ft_hr", 11},
        {"c1", 30},
        {"c2", 31},
        {"c3", 32},
        {"ic4", 33},
        {"nc4", 34},
        {"ic5", 39},
        {"nc5", 40},
        {"h2s_ppm", 20},
        {"error_number", ErrorNumberField},
    }};
    return columns;
}

const NumericColumn *numericColumn(const QString &name)
{
    for (const NumericColumn &column : numericColumns()) {
        if (name == QLatin1String(column.name))
            return &column;
    }
    return nullptr;
}

std::optional<double> numberIn(const QByteArray &field)
{
    return readings::numberIn(field);
}

ReadingRow readingRow(const Reading &reading)
{
    ReadingRow row;
    row.timeMs = reading.acceptedAtMs;
    row.unit = reading.serial;
    row.serial = reading.serial;
    row.packet = reading.text;
    row.unitName = reading.fields[1];
    row.unitTimeMs = readings::unitTimeMs(reading.fields[2], reading.fields[3]);
    for (std::size_t i = 0; i < numericColumns().size(); ++i) {
        const int field = numericColumns()[i].field;
        if (field == 0) {
            row.values[i] = reading.bitDepth;
        } else if (field == ErrorNumberField) {
            // The error number as the viewer reads it (a longer number by its
            // first two digits), when the field is a number at all.
            if (numberIn(reading.fields[static_cast<std::size_t>(field)]))
                row.values[i] = reading.errorCode;
        } else {
            row.values[i] = numberIn(reading.fields[static_cast<std::size_t>(field)]);
        }
    }
    return row;
}

QByteArrayList packetFields(const QByteArray &packet)
{
    QByteArrayList pieces = packet.mid(packet.startsWith('*') ? 1 : 0).split(',');
    // As on the panel: the checksum field, in front of the last comma, is
    // no reading.
    if (pieces.size() >= 2 && pieces.at(pieces.size() - 2).startsWith('C'))
        pieces[pieces.size() - 2].clear();
    return pieces;
}

} // namespace history
