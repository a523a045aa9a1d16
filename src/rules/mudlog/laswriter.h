#pragma once

#include <QDate>
#include <QString>
#include <QtGlobal>

#include "rules/convert/result.h"

class QIODevice;

// The mud log as a Log ASCII Standard 2.0 file, the form log-analysis
// programs read:
//
//   ~Version    VERS 2.0, WRAP NO (one line per depth)
//   ~Well       STRT, STOP and STEP (the first and last bin's top and the
//               bin size, in FT or M), NULL -999.25, then COMP, WELL (the
//               unit's serial number), FLD, LOC, PROV, SRVC, DATE and UWI,
//               blank where not known
//   ~Curve      DEPT, TGAS, C1, C2, C3, IC4, NC4, IC5, NC5, ROP, WH, BH, CH
//               with their units, in the order of the columns
//   ~Parameter  the bin size, the unit of depth and the time the readings
//               span
//   ~Other      how the columns were made, in words
//   ~ASCII      one row per bin from the shallowest to the deepest held,
//               every column right-aligned in a fixed width, fixed-point
//               numbers only; a bin with no reading (or a value that cannot
//               be worked out) holds the null value
//
// Header lines keep the format's delimiters: the first dot ends the
// mnemonic, the unit follows it up to the first space, the description
// follows the last colon. Text given for the header is kept to the
// printable ASCII the format allows (anything else becomes "?"). Lines end
// in CR LF, all but the last.
namespace mudlog {

class MudLog;

inline constexpr double LasNull = -999.25;

struct LasWell
{
    QString well;  // the unit's serial number
    QString company;
    QString field;
    QString location;
    QString province;
    QString serviceCompany;
    QString uwi;
    QDate date;         // the day logged; blank when null
    qint64 fromMs = 0;  // the time the readings span, UTC milliseconds;
    qint64 toMs = 0;    // left out when both are 0
    QString writtenBy;  // the program and its version, for ~Other
};

// Writes the whole log to out, which must be open for writing; fails when
// the log holds no bin (and writes nothing) or a write fails.
Result<void> writeLas(QIODevice &out, const MudLog &log, const LasWell &well);

} // namespace mudlog
