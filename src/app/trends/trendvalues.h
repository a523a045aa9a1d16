#pragma once

#include <array>
#include <optional>

#include <QWidget>

#include "rules/mudlog/depthunit.h"
#include "rules/readings/readingrules.h"
#include "rules/trends/trendsample.h"

class QLabel;
class PixlerPlot;

// The values beside the trends charts (pnl_values): for each channel and
// methane ratio, the latest reading (lbl_latest_<key>) and the reading
// under the cursor (lbl_cursor_<key>); the fluid read from Wh, Bh and Ch
// together (the combined reading, lbl_..._reading) and from the methane
// ratios (Pixler's, lbl_..._pixler), in words that wrap and are never cut;
// Pixler's plot of the cursor's ratios, or of the latest without a cursor;
// and the event nearest the cursor. Depths in the unit of depth shown. It
// holds its labels and only sets their text.
class TrendValues : public QWidget
{
    Q_OBJECT

public:
    explicit TrendValues(QWidget *parent = nullptr);

    // The unit depths and the drilling rate are shown in (the unit sends
    // feet).
    void setDepthUnit(mudlog::DepthUnit unit);

    // The latest reading, none before the first; its gas units in the
    // panel's colour for the level the link holds them at.
    void showLatest(const std::optional<trends::Sample> &latest, readings::GasLevel level);
    // The cursor's place on the time or lag depth axis (lag depth in the
    // unit shown; none: no cursor), the values there (against depth: the
    // mud log's bin there) and the event nearest it.
    void showCursor(std::optional<double> place, bool againstDepth, const trends::Sample &under,
                    const trends::EventMark *event);

    // The time as the values show it: the time of day, and the date too
    // for another day.
    static QString timeText(qint64 ms);

private:
    // Time, one row per value, the methane ratios and the two readings in
    // words among them.
    static constexpr int Rows = 22;
    struct Column
    {
        std::array<QLabel *, Rows> labels{};
        std::optional<trends::Sample> shown;
        std::optional<qint64> timeMs;
        QString timeShown;
    };
    void show(Column &column);
    void showPixler();

    mudlog::DepthUnit m_unit = mudlog::DefaultDepthUnit;
    std::array<QLabel *, Rows> m_captions{};
    Column m_latest;
    Column m_cursor;
    std::optional<double> m_cursorPlace;
    bool m_againstDepth = false;
    QLabel *m_event = nullptr;
    PixlerPlot *m_pixler = nullptr;
};
