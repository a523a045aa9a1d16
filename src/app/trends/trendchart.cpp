#include "app/trends/trendchart.h"

#include <cmath>
#include <set>

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QDateTime>
#include <QFontMetrics>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QScatterSeries>
#include <QValueAxis>

namespace {

// Round steps between the labels of a time axis.
constexpr qint64 Second = trends::SecondMs;
constexpr qint64 Minute = trends::MinuteMs;
constexpr qint64 Hour = trends::HourMs;
constexpr qint64 Day = trends::DayMs;
constexpr qint64 TimeSteps[] = {Second,     2 * Second, 5 * Second, 10 * Second, 15 * Second, 30 * Second,
                                Minute,     2 * Minute, 5 * Minute, 10 * Minute, 15 * Minute, 30 * Minute,
                                Hour,       2 * Hour,   3 * Hour,   6 * Hour,    12 * Hour,   Day,
                                2 * Day,    7 * Day,    14 * Day,   28 * Day};
// Pixels a label of a time axis needs.
constexpr int TimeLabelPixels = 95;
constexpr double MarkHeight = 0.06;
constexpr double LegendHeight = 24;

QFont smallerFont(const QFont &font, int less)
{
    QFont smaller = font;
    smaller.setPointSizeF(std::max(6.0, font.pointSizeF() - less));
    return smaller;
}

// Pixels a label of a logarithmic axis needs along it.
constexpr int LogLabelPixels = 24;
// Pixels between two labels side by side.
constexpr int LabelGapPixels = 8;

// A linear axis over the ticks' range, ticked and labelled as they say.
void setTicks(QValueAxis *axis, const trends::AxisTicks &ticks)
{
    axis->setRange(ticks.low, ticks.high);
    axis->setTickType(QValueAxis::TicksDynamic);
    axis->setTickAnchor(0.0);
    axis->setTickInterval(ticks.step);
    axis->setLabelFormat(ticks.format);
}

// Grid lines as plain, thin, solid lines, and few of them: each is drawn
// anew, smoothed, on every repaint of a live chart, and they are most of
// its cost. A logarithmic axis marks its minor steps with ticks only.
void plainGrid(QAbstractAxis *axis)
{
    axis->setGridLinePen(QPen(QColor(222, 222, 222), 1));
    axis->setMinorGridLineVisible(false);
}

QString tickLabel(qint64 ms, qint64 step)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(ms);
    if (step < Minute)
        return time.toString(QStringLiteral("HH:mm:ss"));
    if (step < Day && time.time() != QTime(0, 0))
        return time.toString(QStringLiteral("HH:mm"));
    return time.toString(QStringLiteral("d MMM"));
}

} // namespace

TrendChart::TrendChart(const char *name, Place place, QWidget *parent)
    : QChartView(new QChart, parent)
    , m_place(place)
{
    setObjectName(QString::fromLatin1(name));
    setRenderHint(QPainter::Antialiasing, true);
    setMinimumSize(160, 120);
    QChart *c = chart();
    c->setBackgroundRoundness(0);
    c->setMargins(QMargins(4, 2, 6, 2));
    c->layout()->setContentsMargins(0, 0, 0, 0);
    c->legend()->setAlignment(Qt::AlignTop);
    c->legend()->setFont(smallerFont(font(), 1));
    if (place == Place::Time) {
        auto *axis = new QCategoryAxis;
        axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
        axis->setLabelsFont(smallerFont(font(), 1));
        plainGrid(axis);
        m_placeAxis = axis;
        c->addAxis(axis, Qt::AlignBottom);
    } else {
        auto *axis = new QValueAxis;
        axis->setReverse(true);
        axis->setLabelFormat(QStringLiteral("%.0f"));
        axis->setTitleText(QStringLiteral("Lag depth (ft)"));
        axis->setTitleFont(smallerFont(font(), 1));
        axis->setLabelsFont(smallerFont(font(), 1));
        plainGrid(axis);
        m_placeAxis = axis;
        c->addAxis(axis, Qt::AlignLeft);
    }
    m_cursor = new QGraphicsLineItem(c);
    m_cursor->setPen(QPen(QColor(90, 90, 90), 1));
    m_cursor->setZValue(100);
    m_cursor->hide();
    connect(c, &QChart::plotAreaChanged, this, [this] { placeCursor(); });
}

int TrendChart::addScale(const Scale &scale, Qt::Alignment side)
{
    QAbstractAxis *axis = nullptr;
    if (scale.logarithmic) {
        auto *log = new QLogValueAxis;
        log->setBase(10.0);
        log->setLabelFormat(QStringLiteral("%g"));
        log->setMinorTickCount(8);
        log->setRange(scale.low, scale.high);
        axis = log;
    } else {
        auto *linear = new QValueAxis;
        linear->setLabelFormat(QStringLiteral("%.0f"));
        linear->setReverse(scale.reversed);
        linear->setRange(scale.low, scale.high);
        axis = linear;
    }
    axis->setTitleText(scale.title);
    plainGrid(axis);
    // One grid per chart: a second scale's lines would cross the first's.
    axis->setGridLineVisible(m_scales.empty());
    axis->setTitleFont(smallerFont(font(), 1));
    axis->setLabelsFont(smallerFont(font(), 1));
    chart()->addAxis(axis, side);
    m_scales.emplace_back(scale, axis);
    return static_cast<int>(m_scales.size()) - 1;
}

void TrendChart::attach(QAbstractSeries *series, QAbstractAxis *valueAxis)
{
    chart()->addSeries(series);
    series->attachAxis(m_placeAxis);
    series->attachAxis(valueAxis);
}

void TrendChart::setScaleTitle(int scale, const QString &title)
{
    auto &[look, axis] = m_scales.at(static_cast<std::size_t>(scale));
    look.title = title;
    axis->setTitleText(title);
}

void TrendChart::addLine(trends::Channel channel, const QString &name, const QColor &colour, int scale,
                         Qt::PenStyle style)
{
    Line added;
    added.channel = channel;
    added.name = name;
    // One pixel wide: a wider line goes through the painter's outline
    // stroker, which costs a live chart several times more.
    added.pen = QPen(colour, 1, style);
    added.pen.setCosmetic(true);
    added.scale = scale;
    m_lines.push_back(added);
    newPart(m_lines.back());
}

QLineSeries *TrendChart::newPart(Line &line)
{
    auto *part = new QLineSeries;
    part->setName(line.name);
    part->setPen(line.pen);
    attach(part, m_scales[static_cast<std::size_t>(line.scale)].second);
    const QList<QLegendMarker *> markers = chart()->legend()->markers(part);
    const trends::Channel channel = line.channel;
    for (QLegendMarker *marker : markers) {
        if (!line.parts.empty()) {
            // One legend entry for the whole line.
            marker->setVisible(false);
            continue;
        }
        connect(marker, &QLegendMarker::clicked, this, [this, channel] {
            setLineShown(channel, !lineShown(channel));
            emit lineToggled(channel, lineShown(channel));
        });
    }
    part->setVisible(line.shown);
    line.parts.push_back(part);
    return part;
}

void TrendChart::addBand(double from, double to, const QColor &colour, const QString &name)
{
    auto *upper = new QLineSeries(this);
    auto *lower = new QLineSeries(this);
    auto *band = new QAreaSeries(upper, lower);
    band->setName(name);
    band->setColor(colour);
    band->setBorderColor(Qt::transparent);
    band->setProperty("bandFrom", from);
    band->setProperty("bandTo", to);
    attach(band, m_scales.front().second);
    for (QLegendMarker *marker : chart()->legend()->markers(band))
        marker->setShape(QLegend::MarkerShapeRectangle);
}

void TrendChart::addMarks()
{
    m_markAxis = new QValueAxis;
    m_markAxis->setRange(0.0, 1.0);
    m_markAxis->setVisible(false);
    chart()->addAxis(m_markAxis, Qt::AlignRight);
    auto mark = [this](const QString &name, QScatterSeries::MarkerShape shape, const QColor &colour, qreal size) {
        auto *series = new QScatterSeries;
        series->setName(name);
        series->setMarkerShape(shape);
        series->setMarkerSize(size);
        series->setColor(colour);
        series->setBorderColor(colour.darker(140));
        attach(series, m_markAxis);
        return series;
    };
    m_alarms = mark(QStringLiteral("Alarms"), QScatterSeries::MarkerShapeTriangle, QColor(200, 0, 0), 12);
    m_links = mark(QStringLiteral("Link events"), QScatterSeries::MarkerShapeRotatedRectangle, QColor(40, 70, 170), 10);
}

void TrendChart::setPlotInsets(const QMargins &insets)
{
    m_insets = insets;
    const QSizeF size = chart()->size();
    const double width = std::max(10.0, size.width() - insets.left() - insets.right());
    chart()->setPlotArea(QRectF(insets.left(), insets.top(), width, std::max(10.0, size.height() - insets.top() - insets.bottom())));
    // The legend keeps the strip along the top; left to the chart's own
    // layout it would be squeezed by the fixed plot.
    QLegend *legend = chart()->legend();
    if (legend->isAttachedToChart())
        legend->detachFromChart();
    // A narrow chart of the depth view takes its legend in two rows.
    legend->setGeometry(QRectF(insets.left(), 0, width, m_place == Place::Time ? LegendHeight : 2 * LegendHeight));
    legend->update();
}

void TrendChart::setPlaceRange(double from, double to)
{
    if (!(to > from))
        to = from + 1.0;
    trends::AxisTicks depthTicks;
    if (m_place == Place::Depth) {
        // Depths too close for a double to tell apart come back widened.
        depthTicks = trends::linearTicks(from, to, std::max(3, height() / 70), false, false);
        from = depthTicks.low;
        to = depthTicks.high;
    }
    m_from = from;
    m_to = to;
    if (m_place == Place::Time)
        placeTimeTicks();
    else
        setTicks(static_cast<QValueAxis *>(m_placeAxis), depthTicks);
    // Bands reach a little past the edges, never far: huge coordinates would
    // overflow the painter.
    const double margin = to - from;
    for (QAbstractSeries *series : chart()->series()) {
        auto *band = qobject_cast<QAreaSeries *>(series);
        if (!band)
            continue;
        const double low = band->property("bandFrom").toDouble();
        const double high = band->property("bandTo").toDouble();
        if (m_place == Place::Time) {
            band->upperSeries()->replace({QPointF(from - margin, high), QPointF(to + margin, high)});
            band->lowerSeries()->replace({QPointF(from - margin, low), QPointF(to + margin, low)});
        } else {
            band->upperSeries()->replace({QPointF(low, from - margin), QPointF(high, from - margin)});
            band->lowerSeries()->replace({QPointF(low, to + margin), QPointF(high, to + margin)});
        }
    }
    placeCursor();
}

void TrendChart::placeTimeTicks()
{
    auto *axis = static_cast<QCategoryAxis *>(m_placeAxis);
    const auto from = static_cast<qint64>(m_from);
    const auto to = static_cast<qint64>(m_to);
    const int most = std::max(2, width() / TimeLabelPixels);
    qint64 step = TimeSteps[std::size(TimeSteps) - 1];
    for (const qint64 candidate : TimeSteps) {
        if ((to - from) / candidate <= most) {
            step = candidate;
            break;
        }
    }
    // Ticks fall on round times of the local clock.
    const qint64 offset = QDateTime::fromMSecsSinceEpoch(from).offsetFromUtc() * Second;
    const qint64 localFrom = from + offset;
    const qint64 first = (localFrom / step + (localFrom % step > 0 ? 1 : 0)) * step - offset;
    std::vector<std::pair<QString, qint64>> ticks;
    std::set<QString> used;
    for (qint64 tick = first; tick <= to; tick += step) {
        QString label = tickLabel(tick, step);
        if (!used.insert(label).second) {
            label = QDateTime::fromMSecsSinceEpoch(tick).toString(QStringLiteral("d MMM HH:mm:ss"));
            used.insert(label);
        }
        ticks.emplace_back(label, tick);
    }
    // A live chart moves a little every second; its labels change far less
    // often, and laying them out again is most of the cost of a move.
    if (ticks != m_ticks) {
        for (const QString &label : axis->categoriesLabels())
            axis->remove(label);
        axis->setStartValue(static_cast<double>(first - step));
        for (const auto &[label, tick] : ticks)
            axis->append(label, static_cast<double>(tick));
        m_ticks = std::move(ticks);
    }
    axis->setRange(m_from, m_to);
}

void TrendChart::fitScale(int scale, const Lines &lines)
{
    const auto &[shape, axis] = m_scales[static_cast<std::size_t>(scale)];
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const auto &[channel, parts] : lines) {
        const Line *drawn = line(channel);
        if (!drawn || drawn->scale != scale || !drawn->shown)
            continue;
        for (const std::vector<QPointF> &part : parts) {
            for (const QPointF &point : part) {
                if (shape.logarithmic && point.y() <= 0)
                    continue;
                low = std::min(low, point.y());
                high = std::max(high, point.y());
            }
        }
    }
    const bool any = low <= high;
    if (shape.logarithmic) {
        auto *log = static_cast<QLogValueAxis *>(axis);
        if (!any) {
            log->setRange(shape.low, shape.high);
            return;
        }
        const double bottom = std::pow(10.0, std::floor(std::log10(low)));
        double top = std::pow(10.0, std::ceil(std::log10(high)));
        if (top <= bottom)
            top = bottom * 10.0;
        // Many decades on a short axis: a label every few of them.
        const int room = m_place == Place::Time ? height() : width();
        const double base = trends::logarithmicBase(bottom, top, std::max(2, room / LogLabelPixels));
        if (log->base() != base) {
            log->setBase(base);
            log->setMinorTickCount(base > 10.0 ? 0 : 8);
        }
        log->setRange(bottom, top);
        return;
    }
    auto *linear = static_cast<QValueAxis *>(axis);
    double bottom = shape.low;
    double top = shape.high;
    if (any) {
        if (shape.fitLow) {
            const double pad = std::max(1.0, (high - low) * 0.04);
            bottom = low - pad;
            top = high + pad;
        } else {
            bottom = std::min(bottom, low);
            top = std::max(top, high * 1.05);
        }
    }
    // Ends on round values, as the ticks between them.
    const int count = std::max(4, (m_place == Place::Time ? height() : width()) / 45);
    setTicks(linear, spacedTicks(linear, bottom, top, count, shape.fitLow || bottom < shape.low));
}

trends::AxisTicks TrendChart::spacedTicks(const QValueAxis *axis, double low, double high, int count,
                                          bool roundLow) const
{
    trends::AxisTicks ticks = trends::linearTicks(low, high, count, roundLow, true);
    // A label taller or wider than the space between two ticks would be cut
    // short (to "..."), and ticks closer than their labels are not drawn
    // where they stand: fewer ticks, until every label fits. Beside the
    // plot of a chart against time the labels stand one above the other
    // (the short charts of a small window have room for few), across the
    // top of a chart against depth side by side.
    const QFontMetrics metrics(axis->labelsFont());
    const QRectF plot = chart()->plotArea();
    const bool upright = m_place == Place::Time;
    const double room = upright ? (plot.isEmpty() ? height() - m_insets.top() - m_insets.bottom() : plot.height())
                                : (plot.isEmpty() ? width() - m_insets.left() - m_insets.right() : plot.width());
    while (count > 1) {
        int largest = upright ? metrics.height() : 0;
        if (!upright) {
            for (const QString &label : trends::axisLabels(ticks))
                largest = std::max(largest, metrics.horizontalAdvance(label));
        }
        const double spacing = room * ticks.step / (ticks.high - ticks.low);
        if (spacing >= largest + LabelGapPixels)
            break;
        count = std::min(count - 1, static_cast<int>(room / (largest + LabelGapPixels)));
        ticks = trends::linearTicks(low, high, std::max(1, count), roundLow, true);
    }
    return ticks;
}

QPointF TrendChart::drawnPoint(const QPointF &point, int scale) const
{
    double value = point.y();
    const auto &[shape, axis] = m_scales[static_cast<std::size_t>(scale)];
    if (shape.logarithmic) {
        // Nothing at or below zero on a logarithmic scale: it lies on the floor.
        value = std::max(value, static_cast<QLogValueAxis *>(axis)->min());
    }
    return m_place == Place::Time ? QPointF(point.x(), value) : QPointF(value, point.x());
}

void TrendChart::draw(double from, double to, const Lines &lines)
{
    // Every change of an axis lays out every line of the chart again, so
    // the lines are emptied first: the axes then move over nothing, and the
    // new points are laid out once.
    for (Line &line : m_lines) {
        for (QLineSeries *part : line.parts) {
            if (part->count() > 0)
                part->clear();
        }
    }
    setPlaceRange(from, to);
    setLines(lines);
}

void TrendChart::setLines(const Lines &lines)
{
    for (std::size_t scale = 0; scale < m_scales.size(); ++scale)
        fitScale(static_cast<int>(scale), lines);
    for (const auto &[channel, parts] : lines) {
        Line *drawn = line(channel);
        if (!drawn)
            continue;
        while (drawn->parts.size() < parts.size())
            newPart(*drawn);
        for (std::size_t i = 0; i < drawn->parts.size(); ++i) {
            QLineSeries *series = drawn->parts[i];
            if (i >= parts.size()) {
                if (series->count() > 0)
                    series->clear();
                continue;
            }
            QList<QPointF> points;
            points.reserve(static_cast<qsizetype>(parts[i].size()));
            for (const QPointF &point : parts[i])
                points.append(drawnPoint(point, drawn->scale));
            series->replace(points);
        }
    }
}

void TrendChart::setMarks(const std::vector<double> &alarms, const std::vector<double> &links)
{
    // Each mark is an item of its own, laid out again whenever it is set.
    if (!m_alarms || (alarms == m_alarmTimes && links == m_linkTimes))
        return;
    m_alarmTimes = alarms;
    m_linkTimes = links;
    auto points = [](const std::vector<double> &times) {
        QList<QPointF> list;
        for (const double time : times)
            list.append(QPointF(time, MarkHeight));
        return list;
    };
    m_alarms->replace(points(alarms));
    m_links->replace(points(links));
}

void TrendChart::setCursorPlace(std::optional<double> place)
{
    m_cursorPlace = place;
    placeCursor();
}

void TrendChart::placeCursor()
{
    const QRectF plot = chart()->plotArea();
    if (!m_cursorPlace || *m_cursorPlace < m_from || *m_cursorPlace > m_to || plot.isEmpty()) {
        m_cursor->hide();
        return;
    }
    const double share = (*m_cursorPlace - m_from) / (m_to - m_from);
    if (m_place == Place::Time) {
        const double x = plot.left() + share * plot.width();
        m_cursor->setLine(x, plot.top(), x, plot.bottom());
    } else {
        const double y = plot.top() + share * plot.height();
        m_cursor->setLine(plot.left(), y, plot.right(), y);
    }
    m_cursor->show();
}

std::optional<double> TrendChart::placeAt(const QPoint &viewPoint) const
{
    const QPointF point = chart()->mapFromScene(mapToScene(viewPoint));
    const QRectF plot = chart()->plotArea();
    if (plot.isEmpty() || !plot.contains(point))
        return std::nullopt;
    const double share = m_place == Place::Time ? (point.x() - plot.left()) / plot.width()
                                                : (point.y() - plot.top()) / plot.height();
    return m_from + share * (m_to - m_from);
}

int TrendChart::plotLength() const
{
    const QRectF plot = chart()->plotArea();
    if (plot.isEmpty())
        return std::max(100, (m_place == Place::Time ? width() : height()) - 100);
    return static_cast<int>(m_place == Place::Time ? plot.width() : plot.height());
}

TrendChart::Line *TrendChart::line(trends::Channel channel)
{
    for (Line &candidate : m_lines) {
        if (candidate.channel == channel)
            return &candidate;
    }
    return nullptr;
}

const TrendChart::Line *TrendChart::line(trends::Channel channel) const
{
    return const_cast<TrendChart *>(this)->line(channel);
}

bool TrendChart::hasLine(trends::Channel channel) const
{
    return line(channel) != nullptr;
}

bool TrendChart::lineShown(trends::Channel channel) const
{
    const Line *found = line(channel);
    return found && found->shown;
}

void TrendChart::setLineShown(trends::Channel channel, bool shown)
{
    Line *found = line(channel);
    if (!found)
        return;
    found->shown = shown;
    for (QLineSeries *part : found->parts)
        part->setVisible(shown);
    // The legend entry stays, greyed while the line is hidden, to bring it
    // back.
    for (QLegendMarker *marker : chart()->legend()->markers(found->parts.front())) {
        marker->setVisible(true);
        marker->setLabelBrush(shown ? palette().text() : QBrush(QColor(150, 150, 150)));
        QColor colour = found->pen.color();
        colour.setAlpha(shown ? 255 : 60);
        marker->setBrush(colour);
        marker->setPen(QPen(colour));
    }
}

std::vector<std::vector<QPointF>> TrendChart::drawnParts(trends::Channel channel) const
{
    std::vector<std::vector<QPointF>> parts;
    if (const Line *found = line(channel)) {
        for (const QLineSeries *part : found->parts) {
            if (part->count() > 0) {
                const QList<QPointF> points = part->points();
                parts.emplace_back(points.begin(), points.end());
            }
        }
    }
    return parts;
}

void TrendChart::resizeEvent(QResizeEvent *event)
{
    QChartView::resizeEvent(event);
    if (!m_insets.isNull())
        setPlotInsets(m_insets);
    if (m_place == Place::Time)
        placeTimeTicks();
    placeCursor();
}
