#include "app/trends/striplog.h"

#include <QPainter>

#include "rules/mudlog/mudlog.h"

StripLog::StripLog(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("pic_striplog"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void StripLog::setLog(const mudlog::MudLog *log)
{
    m_log = log;
    update();
}

void StripLog::setView(double fromFeet, double toFeet)
{
    m_fromFeet = fromFeet;
    m_toFeet = toFeet;
    update();
}

void StripLog::setCursorPlace(std::optional<double> feet)
{
    m_cursor = feet;
    update();
}

QSize StripLog::minimumSizeHint() const
{
    return {fontMetrics().averageCharWidth() * 70, fontMetrics().height() * 12};
}

report::StripFrame StripLog::frame() const
{
    report::StripFrame frame;
    const mudlog::DepthUnit unit = m_log ? m_log->unit() : mudlog::DefaultDepthUnit;
    frame.from = mudlog::fromFeet(m_fromFeet, unit);
    frame.to = mudlog::fromFeet(m_toFeet, unit);
    frame.unitSymbol = mudlog::unitSymbol(unit);
    return frame;
}

report::StripLayout StripLog::layout() const
{
    return report::stripLayout(QRectF(rect()), QFontMetricsF(font()), frame());
}

std::optional<double> StripLog::placeAt(const QPoint &point) const
{
    const report::StripLayout shown = layout();
    if (!shown.plot.contains(point) || shown.plot.height() <= 0)
        return std::nullopt;
    const double share = (point.y() - shown.plot.top()) / shown.plot.height();
    return m_fromFeet + share * (m_toFeet - m_fromFeet);
}

int StripLog::plotLength() const
{
    return static_cast<int>(layout().plot.height());
}

void StripLog::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setFont(font());
    const report::StripFrame shown = frame();
    const report::StripLayout places = layout();
    // One row per pixel at most: a view of many bins gathers them.
    const std::vector<mudlog::StripRow> rows =
        m_log ? mudlog::stripRows(*m_log, shown.from, shown.to, std::max(1, static_cast<int>(places.plot.height())))
              : std::vector<mudlog::StripRow>();
    report::paintStrip(painter, QRectF(rect()), shown, rows);
    if (m_cursor && *m_cursor >= m_fromFeet && *m_cursor <= m_toFeet && m_toFeet > m_fromFeet) {
        const double y = places.plot.top() + (*m_cursor - m_fromFeet) / (m_toFeet - m_fromFeet) * places.plot.height();
        painter.setPen(QPen(QColor(0, 0, 0, 140), 1, Qt::DashLine));
        painter.drawLine(QPointF(places.axisTrack.left(), y), QPointF(places.plot.right(), y));
    }
}
