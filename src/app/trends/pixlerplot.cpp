#include "app/trends/pixlerplot.h"

#include <cmath>

#include <QPainter>
#include <QPainterPath>

#include "rules/mudlog/pixler.h"

namespace {

constexpr double Lowest = 1.0;
constexpr double Highest = 1000.0;

struct Zone
{
    double from;
    double to;
    QColor colour;
    const char *name;
};

const Zone Zones[] = {
    {Lowest, mudlog::PixlerOilFrom, QColor(225, 225, 225), "not productive"},
    {mudlog::PixlerOilFrom, mudlog::PixlerGasFrom, QColor(190, 230, 180), "oil"},
    {mudlog::PixlerGasFrom, mudlog::PixlerGasTo, QColor(250, 215, 170), "gas"},
    {mudlog::PixlerGasTo, Highest, QColor(225, 225, 225), "not productive"},
};

} // namespace

PixlerPlot::PixlerPlot(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("pic_pixler"));
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setToolTip(QStringLiteral("Pixler plot of the methane ratios: oil from 2 to 15, gas from 15 to 65 on C1/C2; "
                              "a ratio lower than the one before it suggests water"));
}

void PixlerPlot::setRatios(const trends::GasRatios &ratios, const QString &caption)
{
    m_ratios = ratios;
    m_caption = caption;
    update();
}

QSize PixlerPlot::sizeHint() const
{
    return {fontMetrics().averageCharWidth() * 36, fontMetrics().height() * 11};
}

QSize PixlerPlot::minimumSizeHint() const
{
    return {fontMetrics().averageCharWidth() * 28, fontMetrics().height() * 8};
}

void PixlerPlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), palette().color(QPalette::Base));
    const QFontMetrics metrics = fontMetrics();
    const int line = metrics.height();
    const QRectF plot = QRectF(rect()).adjusted(metrics.horizontalAdvance(QStringLiteral("1000")) + 8, line + 4, -8,
                                                -line - 4);
    if (plot.width() < 20 || plot.height() < 20)
        return;
    const auto yOf = [&plot](double ratio) {
        const double share = std::log10(ratio / Lowest) / std::log10(Highest / Lowest);
        return plot.bottom() - std::clamp(share, 0.0, 1.0) * plot.height();
    };
    const std::array<mudlog::PixlerPoint, 4> points = mudlog::pixlerPlot(m_ratios);
    const double step = plot.width() / static_cast<double>(points.size());
    const auto xOf = [&](std::size_t i) { return plot.left() + step * (static_cast<double>(i) + 0.5); };

    // The zones C1/C2 names, across the plot as the published chart draws
    // them.
    for (const Zone &zone : Zones)
        painter.fillRect(QRectF(plot.left(), yOf(zone.to), plot.width(), yOf(zone.from) - yOf(zone.to)), zone.colour);
    painter.setPen(palette().color(QPalette::Text));
    for (const Zone &zone : Zones) {
        const QRectF band(plot.left(), yOf(zone.to), plot.width() - 4, yOf(zone.from) - yOf(zone.to));
        if (band.height() >= line)
            painter.drawText(band, Qt::AlignRight | Qt::AlignVCenter, QLatin1String(zone.name));
    }
    painter.setPen(QPen(QColor(150, 150, 150), 0));
    for (const double tick : {1.0, 10.0, 100.0, 1000.0}) {
        painter.drawLine(QPointF(plot.left(), yOf(tick)), QPointF(plot.right(), yOf(tick)));
        painter.drawText(QRectF(0, yOf(tick) - line / 2.0, plot.left() - 4, line), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(tick, 'f', 0));
    }
    painter.setPen(palette().color(QPalette::Text));
    painter.drawRect(plot);
    for (std::size_t i = 0; i < points.size(); ++i)
        painter.drawText(QRectF(xOf(i) - step / 2, plot.bottom() + 2, step, line), Qt::AlignCenter,
                         QLatin1String(points[i].name));
    painter.drawText(QRectF(plot.left(), 0, plot.width(), line + 2), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Pixler ") + m_caption);

    // The points, joined only between neighbours that both have a value.
    painter.setPen(QPen(QColor(20, 60, 160), 2));
    painter.setBrush(QColor(20, 60, 160));
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (!points[i].ratio || !(*points[i].ratio > 0))
            continue;
        const QPointF at(xOf(i), yOf(*points[i].ratio));
        if (i > 0 && points[i - 1].ratio && *points[i - 1].ratio > 0)
            painter.drawLine(QPointF(xOf(i - 1), yOf(*points[i - 1].ratio)), at);
        painter.drawEllipse(at, 3, 3);
    }
}
