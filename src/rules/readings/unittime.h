#pragma once

#include <optional>

#include <QByteArray>
#include <QtGlobal>

// The unit's own clock, as its packets carry it: the date in field 2
// (month/day/year, "12/08/2026") and the time of day in field 3
// ("14:05:09"). A backlog the unit sends late keeps the spacing of its own
// clock, which the time a packet arrived does not.
namespace readings {

// The unit's date and time as milliseconds from 1970 on the unit's own
// clock, read as if it were UTC (the unit says nothing of its time zone, so
// none is applied: shown again as UTC it reads as the unit wrote it). None
// when either field is not a date or a time: empty, text, a month past 12,
// the 30th of February, an hour past 23. Blanks around a field are
// allowed; month, day and hour may have one digit; the seconds may be left
// out; the year has four digits.
std::optional<qint64> unitTimeMs(const QByteArray &date, const QByteArray &time);

} // namespace readings
