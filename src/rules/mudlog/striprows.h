#pragma once

#include <optional>
#include <vector>

#include <QtGlobal>

#include "rules/trends/gasratios.h"
#include "rules/trends/trendsample.h"

// What a strip log draws, row by row down its axis: the mud log's bins
// against depth, or the readings gathered into stretches of time. A row
// that is not logged is a gap: nothing is drawn in it and no line crosses
// it.
namespace mudlog {

class MudLog;

struct StripRow
{
    double top = 0.0;  // along the axis: depth in the log's unit, or UTC ms
    double bottom = 0.0;
    bool logged = false;  // some reading fell in the row
    std::optional<double> gasUnits;
    trends::Chromatograph gas;  // of the highest gas
    trends::GasRatios ratios;
    std::optional<double> drillingRate;  // minutes per unit of depth
    bool redrilled = false;
    bool alarm = false;
};

// The log's bins that reach into from..to (depths in the log's unit), one
// row per bin; where there are more bins than maxRows (a view of many
// bins per pixel), neighbouring bins are gathered into one row: the bin
// with the highest gas speaks for them, the drilling rate is their mean,
// a re-drilled bin or an alarm among them marks the row.
std::vector<StripRow> stripRows(const MudLog &log, double from, double to, int maxRows);

// Readings in order of time gathered into rows of rowMs from fromMs: the
// highest gas of each row with its chromatograph, the drilling rate from
// the readings' ROP (feet per hour, as minutes per foot), or per metre in
// metres when metres is set. A row without a reading is a gap.
std::vector<StripRow> timeStripRows(const std::vector<trends::Sample> &samples, qint64 fromMs, qint64 toMs,
                                    qint64 rowMs, bool metres);

} // namespace mudlog
