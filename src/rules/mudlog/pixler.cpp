#include "rules/mudlog/pixler.h"

#include <QStringList>

namespace mudlog {

std::array<PixlerPoint, 4> pixlerPlot(const trends::GasRatios &ratios)
{
    return {{{"C1/C2", ratios.c1c2}, {"C1/C3", ratios.c1c3}, {"C1/C4", ratios.c1c4}, {"C1/C5", ratios.c1c5}}};
}

PixlerReading pixlerReading(const trends::GasRatios &ratios)
{
    PixlerReading reading;
    if (const std::optional<double> c1c2 = ratios.c1c2) {
        if (*c1c2 < PixlerOilFrom || *c1c2 > PixlerGasTo)
            reading.zone = PixlerZone::NotProductive;
        else
            reading.zone = *c1c2 < PixlerGasFrom ? PixlerZone::Oil : PixlerZone::Gas;
    }
    const std::array<PixlerPoint, 4> points = pixlerPlot(ratios);
    for (std::size_t i = 0; i < reading.falls.size(); ++i) {
        const std::optional<double> &before = points[i].ratio;
        const std::optional<double> &after = points[i + 1].ratio;
        reading.falls[i] = before && after && *after < *before;
    }
    return reading;
}

QString pixlerWords(const PixlerReading &reading)
{
    QString words;
    switch (reading.zone) {
    case PixlerZone::None:
        return QString();
    case PixlerZone::NotProductive:
        words = QStringLiteral("not productive");
        break;
    case PixlerZone::Oil:
        words = QStringLiteral("oil");
        break;
    case PixlerZone::Gas:
        words = QStringLiteral("gas");
        break;
    }
    static const char *const names[] = {"C1/C2", "C1/C3", "C1/C4", "C1/C5"};
    QStringList falls;
    for (std::size_t i = 0; i < reading.falls.size(); ++i) {
        if (reading.falls[i])
            falls.append(QStringLiteral("%1 below %2").arg(QLatin1String(names[i + 1]), QLatin1String(names[i])));
    }
    if (!falls.isEmpty())
        words += QStringLiteral("; %1 %2 water")
                     .arg(falls.join(QStringLiteral(", ")),
                          falls.size() == 1 ? QStringLiteral("suggests") : QStringLiteral("suggest"));
    return words;
}

} // namespace mudlog
