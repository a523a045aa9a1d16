#pragma once

#include <optional>

#include <QWidget>

#include "report/stripdrawing.h"

namespace mudlog {
class MudLog;
}

// The trends window's strip log against lag depth (pic_striplog): the mud
// log's bins drawn by report::paintStrip, depth downwards, the same
// drawing the tour report prints. The view is given in feet of lag depth,
// as the trends view keeps it, and drawn in the log's unit of depth; the
// cursor is a line across the tracks.
class StripLog : public QWidget
{
    Q_OBJECT

public:
    explicit StripLog(QWidget *parent = nullptr);

    // The log drawn (the window's; none: nothing drawn).
    void setLog(const mudlog::MudLog *log);
    // The lag depths shown, top to bottom, in feet.
    void setView(double fromFeet, double toFeet);
    void setCursorPlace(std::optional<double> feet);

    // The lag depth in feet at a point of the tracks; none outside them.
    std::optional<double> placeAt(const QPoint &point) const;
    // The tracks' height in pixels.
    int plotLength() const;

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    report::StripFrame frame() const;
    report::StripLayout layout() const;

    const mudlog::MudLog *m_log = nullptr;
    double m_fromFeet = 0.0;
    double m_toFeet = 100.0;
    std::optional<double> m_cursor;
};
