#pragma once

#include <optional>
#include <utility>
#include <vector>

#include <QChartView>
#include <QColor>
#include <QMargins>
#include <QPen>

#include "rules/trends/axisticks.h"
#include "rules/trends/columnextremes.h"
#include "rules/trends/trendsample.h"

class QAbstractAxis;
class QCategoryAxis;
class QGraphicsLineItem;
class QLineSeries;
class QScatterSeries;
class QValueAxis;

// One chart of the trends window. Its place axis is time (left to right,
// ticks on round times of the computer's clock) or lag depth (top to
// bottom, depth increasing downwards); its value axes are linear or
// logarithmic, and fit what is drawn. Each channel is one line, drawn in
// parts where the data breaks; clicking its legend entry hides or shows it.
// Behind the lines may lie bands of value (the gas levels), and on a time
// chart the events are marked along the bottom. A cursor line follows the
// place the operator points at.
class TrendChart : public QChartView
{
    Q_OBJECT

public:
    enum class Place { Time, Depth };

    struct Scale
    {
        QString title;
        bool logarithmic = false;
        // Linear: the range always shown, widened to fit what is drawn;
        // fitLow lets the low end follow the data too. Logarithmic: the
        // range shown when nothing is drawn; otherwise whole decades around
        // what is drawn, where values at or below zero lie on the floor.
        double low = 0.0;
        double high = 1.0;
        bool fitLow = false;
        bool reversed = false;
    };

    TrendChart(const char *name, Place place, QWidget *parent = nullptr);

    // A value axis, on the left or right of a time chart, on top of a depth
    // chart; returns its number.
    int addScale(const Scale &scale, Qt::Alignment side);
    // Renames a scale (another unit of depth).
    void setScaleTitle(int scale, const QString &title);
    void addLine(trends::Channel channel, const QString &name, const QColor &colour, int scale,
                 Qt::PenStyle style = Qt::SolidLine);
    // A band of values of the first scale, drawn behind the lines.
    void addBand(double from, double to, const QColor &colour, const QString &name);
    // Marks along the bottom of a time chart: alarms and link events.
    void addMarks();

    // The room around the plot, the same for every chart of a column or
    // row, so that their place axes line up.
    void setPlotInsets(const QMargins &insets);

    using Lines = std::vector<std::pair<trends::Channel, trends::Polyline>>;
    // Shows from to to along the place axis and these lines of the channels,
    // fitted into their scales.
    void draw(double from, double to, const Lines &lines);
    double placeFrom() const { return m_from; }
    double placeTo() const { return m_to; }
    void setMarks(const std::vector<double> &alarms, const std::vector<double> &links);

    void setCursorPlace(std::optional<double> place);
    // The place under a point of the view, when it lies over the plot.
    std::optional<double> placeAt(const QPoint &viewPoint) const;
    // The length of the plot along the place axis, in pixels.
    int plotLength() const;

    bool hasLine(trends::Channel channel) const;
    void setLineShown(trends::Channel channel, bool shown);
    bool lineShown(trends::Channel channel) const;

    // What the tests and the benchmark read: the points of each part of a
    // channel's line, in order, as drawn (value and place as on the axes).
    std::vector<std::vector<QPointF>> drawnParts(trends::Channel channel) const;

signals:
    void lineToggled(trends::Channel channel, bool shown);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    struct Line
    {
        trends::Channel channel;
        QString name;
        QPen pen;
        int scale = 0;
        bool shown = true;
        std::vector<QLineSeries *> parts;
    };

    QLineSeries *newPart(Line &line);
    void setPlaceRange(double from, double to);
    void setLines(const Lines &lines);
    void attach(QAbstractSeries *series, QAbstractAxis *valueAxis);
    void fitScale(int scale, const Lines &lines);
    trends::AxisTicks spacedTicks(const QValueAxis *axis, double low, double high, int count, bool roundLow) const;
    QPointF drawnPoint(const QPointF &point, int scale) const;
    void placeTimeTicks();
    void placeCursor();
    Line *line(trends::Channel channel);
    const Line *line(trends::Channel channel) const;

    Place m_place;
    QAbstractAxis *m_placeAxis = nullptr;
    std::vector<std::pair<Scale, QAbstractAxis *>> m_scales;
    std::vector<Line> m_lines;
    QScatterSeries *m_alarms = nullptr;
    QScatterSeries *m_links = nullptr;
    QValueAxis *m_markAxis = nullptr;
    std::vector<double> m_alarmTimes;
    std::vector<double> m_linkTimes;
    QGraphicsLineItem *m_cursor = nullptr;
    std::optional<double> m_cursorPlace;
    double m_from = 0.0;
    double m_to = 1.0;
    QMargins m_insets;
    std::vector<std::pair<QString, qint64>> m_ticks;  // of the time axis: label and time
};
