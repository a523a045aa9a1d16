#include "report/stripdrawing.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>

#include <QDateTime>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include "rules/readings/readingrules.h"

namespace report {

namespace {

using Value = std::function<std::optional<double>(const mudlog::StripRow &)>;

struct Curve
{
    const char *name;
    QColor colour;
    Value value;
};

struct Scale
{
    double low;
    double high;
    bool log;

    // Where a value falls across the track, 0 to 1, clamped; none for a
    // value a log scale cannot place.
    std::optional<double> share(double value) const
    {
        if (!std::isfinite(value))
            return std::nullopt;
        double part;
        if (log) {
            if (!(value > 0))
                return std::nullopt;
            part = std::log10(value / low) / std::log10(high / low);
        } else {
            part = (value - low) / (high - low);
        }
        return std::clamp(part, 0.0, 1.0);
    }
};

// Widths of the tracks, in shares of what the axis track leaves.
constexpr std::array<double, 5> TrackWidths = {0.8, 1.1, 1.5, 1.3, 0.9};

const QColor GasColour(25, 25, 25);

std::optional<double> chromatographValue(const mudlog::StripRow &row, int which)
{
    const trends::Chromatograph &g = row.gas;
    const std::optional<double> values[] = {g.c1, g.c2, g.c3, g.ic4, g.nc4, g.ic5, g.nc5};
    return row.logged ? values[which] : std::nullopt;
}

const std::vector<Curve> &chromatographCurves()
{
    static const std::vector<Curve> curves = {
        {"C1", QColor(31, 119, 180), [](const mudlog::StripRow &r) { return chromatographValue(r, 0); }},
        {"C2", QColor(255, 127, 14), [](const mudlog::StripRow &r) { return chromatographValue(r, 1); }},
        {"C3", QColor(44, 160, 44), [](const mudlog::StripRow &r) { return chromatographValue(r, 2); }},
        {"iC4", QColor(214, 39, 40), [](const mudlog::StripRow &r) { return chromatographValue(r, 3); }},
        {"nC4", QColor(148, 103, 189), [](const mudlog::StripRow &r) { return chromatographValue(r, 4); }},
        {"iC5", QColor(140, 86, 75), [](const mudlog::StripRow &r) { return chromatographValue(r, 5); }},
        {"nC5", QColor(227, 119, 194), [](const mudlog::StripRow &r) { return chromatographValue(r, 6); }},
    };
    return curves;
}

// A round number at or above value: 1, 2 or 5 times a power of ten.
double roundUp(double value)
{
    if (!(value > 0))
        return 1.0;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (const double step : {1.0, 2.0, 5.0, 10.0}) {
        if (step * power >= value)
            return step * power;
    }
    return 10 * power;
}

QString scaleNumber(double value)
{
    if (value >= 1e4)
        return QStringLiteral("1e%1").arg(std::lround(std::log10(value)));
    return QString::number(value, 'g', 4);
}

// The round step of the axis labels: at least gap apart at pixelsPerUnit.
double axisStep(double pixelsPerUnit, double gap, bool time)
{
    if (time) {
        static const double Steps[] = {60e3, 120e3, 300e3, 600e3, 900e3, 1800e3, 3600e3, 7200e3,
                                       10800e3, 21600e3, 43200e3, 86400e3};
        for (const double step : Steps) {
            if (step * pixelsPerUnit >= gap)
                return step;
        }
        return 86400e3 * std::ceil(gap / pixelsPerUnit / 86400e3);
    }
    return roundUp(gap / pixelsPerUnit);
}

QString axisText(double value, double step, bool time)
{
    if (time)
        return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(value), Qt::UTC)
            .toString(step >= 86400e3 ? QStringLiteral("d MMM") : QStringLiteral("HH:mm"));
    const int decimals = step >= 1 ? 0 : step >= 0.1 ? 1 : 2;
    return QString::number(value, 'f', decimals);
}

// A line down the track through the rows that have a value: a step at the
// value for each row's depth, joined to the next row only where it follows
// at once; a gap ends the line.
void drawCurve(QPainter &painter, const std::vector<mudlog::StripRow> &rows, const Value &value, const Scale &scale,
               double left, double right, const std::function<double(double)> &yOf, const QColor &colour)
{
    QPainterPath path;
    bool open = false;
    double lastBottom = 0.0;
    for (const mudlog::StripRow &row : rows) {
        const std::optional<double> v = value(row);
        const std::optional<double> share = v ? scale.share(*v) : std::nullopt;
        if (!share) {
            open = false;
            continue;
        }
        const double x = left + *share * (right - left);
        const double top = yOf(row.top);
        const double bottom = yOf(row.bottom);
        if (open && std::fabs(row.top - lastBottom) <= 1e-9 * std::max(1.0, std::fabs(lastBottom)))
            path.lineTo(x, top);
        else
            path.moveTo(x, top);
        // A row less than a pixel tall still shows as a dot.
        path.lineTo(x, std::max(bottom, top + 1.0));
        open = true;
        lastBottom = row.bottom;
    }
    painter.setPen(QPen(colour, 1.4));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
}

} // namespace

void fitScales(StripFrame &frame, const std::vector<mudlog::StripRow> &rows)
{
    double highestGas = 0.0;
    double slowestRate = 0.0;
    for (const mudlog::StripRow &row : rows) {
        if (row.logged)
            highestGas = std::max(highestGas, row.gasUnits.value_or(0.0));
        slowestRate = std::max(slowestRate, row.drillingRate.value_or(0.0));
    }
    frame.highestGas = highestGas;
    frame.slowestRate = slowestRate;
}

QStringList stripTrackNames()
{
    return {QStringLiteral("Drilling rate"), QStringLiteral("Total gas"), QStringLiteral("C1 to nC5 ppm"),
            QStringLiteral("Wh with Bh"), QStringLiteral("Ch")};
}

StripLayout stripLayout(const QRectF &area, const QFontMetricsF &metrics, const StripFrame &frame)
{
    StripLayout layout;
    const double line = metrics.height();
    const double headerHeight = frame.header ? 3 * line + 6 : 0.0;
    const double axisWidth = metrics.horizontalAdvance(frame.time ? QStringLiteral("00:00 ") : QStringLiteral("000000.0")) + 10;
    layout.axisTrack = QRectF(area.left(), area.top() + headerHeight, axisWidth, area.height() - headerHeight);
    layout.plot = QRectF(area.left() + axisWidth, area.top() + headerHeight, area.width() - axisWidth,
                         area.height() - headerHeight);
    double total = 0.0;
    for (const double width : TrackWidths)
        total += width;
    double left = layout.plot.left();
    for (const double width : TrackWidths) {
        const double right = left + layout.plot.width() * width / total;
        layout.tracks.emplace_back(left, right);
        left = right;
    }
    return layout;
}

void paintStrip(QPainter &painter, const QRectF &area, const StripFrame &frame, const std::vector<mudlog::StripRow> &rows)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const QFontMetricsF metrics(painter.font(), painter.device());
    const double line = metrics.height();
    const StripLayout layout = stripLayout(area, metrics, frame);
    const QRectF &plot = layout.plot;
    painter.fillRect(area, Qt::white);
    if (plot.height() < 4 || plot.width() < 20 || !(frame.to > frame.from)) {
        painter.restore();
        return;
    }
    const double pixelsPerUnit = plot.height() / (frame.to - frame.from);
    const auto yOf = [&](double along) { return plot.top() + (along - frame.from) * pixelsPerUnit; };
    painter.setClipRect(area);

    StripFrame fitted = frame;
    if (!fitted.slowestRate || !fitted.highestGas)
        fitScales(fitted, rows);
    const Scale rateScale{0.0, std::min(1000.0, roundUp(std::max(2.0, *fitted.slowestRate))), false};
    const Scale gasScale{0.0, roundUp(std::max(2000.0, *fitted.highestGas)), false};
    const Scale ppmScale{1.0, 1e6, true};
    const Scale whBhScale{0.1, 1000.0, true};
    const Scale chScale{0.01, 100.0, true};
    const auto [rateLeft, rateRight] = layout.tracks[0];
    const auto [gasLeft, gasRight] = layout.tracks[1];
    const auto [ppmLeft, ppmRight] = layout.tracks[2];
    const auto [whLeft, whRight] = layout.tracks[3];
    const auto [chLeft, chRight] = layout.tracks[4];

    // Behind the curves: the gas level bands, the readings' boundaries.
    const auto xIn = [](double left, double right, const Scale &scale, double value) {
        return left + scale.share(value).value_or(0.0) * (right - left);
    };
    const double green = xIn(gasLeft, gasRight, gasScale, readings::GreenBelow);
    const double yellow = xIn(gasLeft, gasRight, gasScale, readings::YellowAbove);
    const double red = xIn(gasLeft, gasRight, gasScale, readings::RedAbove);
    painter.fillRect(QRectF(gasLeft, plot.top(), green - gasLeft, plot.height()), QColor(226, 244, 226));
    painter.fillRect(QRectF(yellow, plot.top(), red - yellow, plot.height()), QColor(252, 246, 205));
    painter.fillRect(QRectF(red, plot.top(), gasRight - red, plot.height()), QColor(252, 226, 226));
    QPen grid(QColor(205, 205, 205), 0);
    painter.setPen(grid);
    for (double decade = 10; decade < 1e6; decade *= 10)
        painter.drawLine(QPointF(xIn(ppmLeft, ppmRight, ppmScale, decade), plot.top()),
                         QPointF(xIn(ppmLeft, ppmRight, ppmScale, decade), plot.bottom()));
    for (const double at : {1.0, 10.0, 100.0})
        painter.drawLine(QPointF(xIn(whLeft, whRight, whBhScale, at), plot.top()),
                         QPointF(xIn(whLeft, whRight, whBhScale, at), plot.bottom()));
    for (const double at : {0.1, 1.0, 10.0})
        painter.drawLine(QPointF(xIn(chLeft, chRight, chScale, at), plot.top()),
                         QPointF(xIn(chLeft, chRight, chScale, at), plot.bottom()));
    QPen boundary(QColor(150, 150, 150), 0, Qt::DashLine);
    painter.setPen(boundary);
    for (const double at : {0.5, 17.5, 40.0, 100.0})
        painter.drawLine(QPointF(xIn(whLeft, whRight, whBhScale, at), plot.top()),
                         QPointF(xIn(whLeft, whRight, whBhScale, at), plot.bottom()));
    painter.drawLine(QPointF(xIn(chLeft, chRight, chScale, 0.5), plot.top()),
                     QPointF(xIn(chLeft, chRight, chScale, 0.5), plot.bottom()));

    // The axis: labels at round steps, horizontal lines across the tracks.
    const double step = axisStep(pixelsPerUnit, 2.5 * line, frame.time);
    painter.setPen(QPen(QColor(40, 40, 40), 0));
    const QRectF &axis = layout.axisTrack;
    for (double at = std::ceil(frame.from / step) * step; at <= frame.to; at += step) {
        const double y = yOf(at);
        painter.setPen(grid);
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        painter.setPen(QPen(QColor(40, 40, 40), 0));
        painter.drawLine(QPointF(axis.right() - 5, y), QPointF(axis.right(), y));
        // A label that would cross the header or the bottom edge is left
        // out; its line stays.
        if (y - line / 2 >= plot.top() && y + line / 2 <= plot.bottom())
            painter.drawText(QRectF(axis.left(), y - line / 2, axis.width() - 7, line), Qt::AlignRight | Qt::AlignVCenter,
                             axisText(at, step, frame.time));
    }

    // Gaps shaded in the axis track; re-drilled rows and alarms marked.
    double gapFrom = frame.from;
    const auto shadeGap = [&](double to) {
        const double top = std::max(yOf(gapFrom), plot.top());
        const double bottom = std::min(yOf(to), plot.bottom());
        if (bottom > top)
            painter.fillRect(QRectF(axis.left(), top, 6, bottom - top), QBrush(QColor(170, 170, 170), Qt::BDiagPattern));
    };
    for (const mudlog::StripRow &row : rows) {
        if (row.logged) {
            shadeGap(row.top);
            gapFrom = row.bottom;
        }
        const double top = yOf(row.top);
        const double height = std::max(1.0, yOf(row.bottom) - top);
        if (row.redrilled)
            painter.fillRect(QRectF(axis.right() - 4, top, 4, height), QColor(130, 60, 200));
        if (row.alarm)
            painter.fillRect(QRectF(axis.right() - 9, top, 4, height), QColor(220, 30, 30));
    }
    shadeGap(frame.to);

    // The curves.
    drawCurve(painter, rows, [](const mudlog::StripRow &r) { return r.drillingRate; }, rateScale, rateLeft, rateRight,
              yOf, QColor(120, 60, 170));
    drawCurve(painter, rows, [](const mudlog::StripRow &r) { return r.logged ? r.gasUnits : std::nullopt; }, gasScale,
              gasLeft, gasRight, yOf, GasColour);
    for (const Curve &curve : chromatographCurves())
        drawCurve(painter, rows, curve.value, ppmScale, ppmLeft, ppmRight, yOf, curve.colour);
    drawCurve(painter, rows, [](const mudlog::StripRow &r) { return r.logged ? r.ratios.wetness : std::nullopt; },
              whBhScale, whLeft, whRight, yOf, QColor(30, 90, 200));
    drawCurve(painter, rows, [](const mudlog::StripRow &r) { return r.logged ? r.ratios.balance : std::nullopt; },
              whBhScale, whLeft, whRight, yOf, QColor(200, 40, 40));
    drawCurve(painter, rows, [](const mudlog::StripRow &r) { return r.logged ? r.ratios.character : std::nullopt; },
              chScale, chLeft, chRight, yOf, QColor(40, 150, 60));

    // Track borders.
    painter.setPen(QPen(QColor(60, 60, 60), 0));
    painter.drawRect(plot);
    painter.drawLine(QPointF(axis.right(), plot.top()), QPointF(axis.right(), plot.bottom()));
    for (const auto &[left, right] : layout.tracks)
        painter.drawLine(QPointF(right, plot.top()), QPointF(right, plot.bottom()));

    // The header: each track's name, then its scale or its curves' names.
    if (frame.header) {
        painter.setClipping(false);
        const double top = area.top();
        painter.setPen(Qt::black);
        painter.drawText(QRectF(axis.left(), top, axis.width(), 3 * line), Qt::AlignCenter | Qt::TextWordWrap,
                         frame.time ? QStringLiteral("Time\nUTC") : QStringLiteral("Lag\ndepth\n") + frame.unitSymbol);
        const QStringList names = stripTrackNames();
        const auto scaleLine = [&](int track, const Scale &scale, const QString &unit) {
            const auto [left, right] = layout.tracks[static_cast<std::size_t>(track)];
            const QRectF row(left + 3, top + line, right - left - 6, line);
            painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, scaleNumber(scale.low));
            painter.drawText(row, Qt::AlignRight | Qt::AlignVCenter, scaleNumber(scale.high));
            painter.drawText(QRectF(left, top + 2 * line, right - left, line), Qt::AlignCenter, unit);
        };
        for (int t = 0; t < names.size(); ++t) {
            const auto [left, right] = layout.tracks[static_cast<std::size_t>(t)];
            QFont bold = painter.font();
            bold.setBold(true);
            painter.save();
            painter.setFont(bold);
            painter.drawText(QRectF(left, top, right - left, line), Qt::AlignCenter, names.at(t));
            painter.restore();
        }
        scaleLine(0, rateScale, QStringLiteral("min/") + frame.unitSymbol);
        scaleLine(1, gasScale, QStringLiteral("units"));
        scaleLine(2, ppmScale, QString());
        // The curves' names in their colours.
        const auto legend = [&](int track, const std::vector<std::pair<QString, QColor>> &entries) {
            const auto [left, right] = layout.tracks[static_cast<std::size_t>(track)];
            double x = left + 3;
            const double y = top + (track == 2 ? 2 : 1) * line;
            for (const auto &[name, colour] : entries) {
                painter.setPen(colour);
                painter.drawText(QRectF(x, y, right - x, line), Qt::AlignLeft | Qt::AlignVCenter, name);
                x += metrics.horizontalAdvance(name + QLatin1Char(' '));
            }
            painter.setPen(Qt::black);
        };
        std::vector<std::pair<QString, QColor>> gases;
        for (const Curve &curve : chromatographCurves())
            gases.emplace_back(QLatin1String(curve.name), curve.colour);
        legend(2, gases);
        legend(3, {{QStringLiteral("Wh %"), QColor(30, 90, 200)}, {QStringLiteral("Bh"), QColor(200, 40, 40)}});
        {
            const QRectF row(whLeft + 3, top + 2 * line, whRight - whLeft - 6, line);
            painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, scaleNumber(whBhScale.low));
            painter.drawText(row, Qt::AlignRight | Qt::AlignVCenter, scaleNumber(whBhScale.high));
        }
        legend(4, {{QStringLiteral("Ch"), QColor(40, 150, 60)}});
        {
            const QRectF row(chLeft + 3, top + 2 * line, chRight - chLeft - 6, line);
            painter.drawText(row, Qt::AlignLeft | Qt::AlignVCenter, scaleNumber(chScale.low));
            painter.drawText(row, Qt::AlignRight | Qt::AlignVCenter, scaleNumber(chScale.high));
        }
    }
    painter.restore();
}

} // namespace report
