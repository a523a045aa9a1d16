#pragma once

#include <optional>
#include <vector>

#include <QFontMetricsF>
#include <QRectF>
#include <QString>

#include "rules/mudlog/striprows.h"

class QPainter;

// The strip log drawn with a painter, the same on the screen (StripLog)
// and on paper (the tour report): the axis downwards (lag depth, or time)
// at the left, then the tracks side by side, each with its name and scale
// at the top:
//
//   Drilling rate   minutes per unit of depth, 0 at the left
//   Total gas       gas units over the panel's level bands (green below
//                   1200, yellow above 1400, red above 1750)
//   C1 to nC5       ppm on a logarithmic scale from 1 to 1,000,000
//   Wh with Bh      on a logarithmic scale from 0.1 to 1000, with the
//                   combined reading's boundaries (Wh 0.5, 17.5, 40; Bh 100)
//   Ch              on a logarithmic scale from 0.01 to 100, 0.5 marked
//
// A row that is not logged breaks every line: no line is drawn across a
// gap, and the axis track shades it. A re-drilled row is marked with a
// violet bar at the axis track's right edge, an alarm with a red one
// beside it.
namespace report {

struct StripFrame
{
    double from = 0.0;  // the axis shown, top to bottom: depth in the unit, or UTC ms
    double to = 1.0;
    bool time = false;
    QString unitSymbol = QStringLiteral("ft");  // of depth
    bool header = true;  // the tracks' names and scales above them
    // The right ends of the drilling rate and gas scales; none: from the
    // rows drawn. Pages of one report share them, as they share the depth
    // scale.
    std::optional<double> slowestRate;
    std::optional<double> highestGas;
};

// The scales' right ends for these rows.
void fitScales(StripFrame &frame, const std::vector<mudlog::StripRow> &rows);

// Where the tracks stand in an area: the header's height, the axis
// track's width, and each track's left and right.
struct StripLayout
{
    QRectF plot;        // below the header, right of the axis track
    QRectF axisTrack;
    std::vector<std::pair<double, double>> tracks;  // left and right of each track
};

StripLayout stripLayout(const QRectF &area, const QFontMetricsF &metrics, const StripFrame &frame);

// Draws the rows (in order down the axis) into area.
void paintStrip(QPainter &painter, const QRectF &area, const StripFrame &frame,
                const std::vector<mudlog::StripRow> &rows);

// The track names, left to right after the axis.
QStringList stripTrackNames();

} // namespace report
