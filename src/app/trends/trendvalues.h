#pragma once

#include <array>
#include <optional>

#include <QWidget>

#include "rules/readings/readingrules.h"
#include "rules/trends/trendsample.h"

class QLabel;

// The values beside the trends charts (pnl_values): for each channel and
// methane ratio, the latest reading (lbl_latest_<key>) and the reading
// under the cursor (lbl_cursor_<key>), ratios with their reading in words,
// and the event nearest the cursor. It holds its labels and only sets their
// text.
class TrendValues : public QWidget
{
    Q_OBJECT

public:
    explicit TrendValues(QWidget *parent = nullptr);

    // The latest reading, none before the first; its gas units in the
    // panel's colour for the level the link holds them at.
    void showLatest(const std::optional<trends::Sample> &latest, readings::GasLevel level);
    // The cursor's place on the time or lag depth axis (none: no cursor),
    // the values there and the event nearest it.
    void showCursor(std::optional<double> place, bool againstDepth, const trends::Sample &under,
                    const trends::EventMark *event);

    // The time as the values show it: the time of day, and the date too
    // for another day.
    static QString timeText(qint64 ms);

private:
    // Time, one row per value, the methane ratios among them.
    static constexpr int Rows = 20;
    struct Column
    {
        std::array<QLabel *, Rows> labels{};
    };
    void show(Column &column, std::optional<qint64> timeMs, const QString &timeShown, const trends::Sample *sample);

    Column m_latest;
    Column m_cursor;
    QLabel *m_event = nullptr;
};
