#include "rules/mudlog/depthunit.h"

#include <QSettings>

namespace mudlog {

double fromFeet(double feet, DepthUnit unit)
{
    return unit == DepthUnit::Metres ? feet * MetresPerFoot : feet;
}

double toFeet(double depth, DepthUnit unit)
{
    return unit == DepthUnit::Metres ? depth / MetresPerFoot : depth;
}

QString unitSymbol(DepthUnit unit)
{
    return unit == DepthUnit::Metres ? QStringLiteral("m") : QStringLiteral("ft");
}

QString unitName(DepthUnit unit)
{
    return unit == DepthUnit::Metres ? QStringLiteral("metres") : QStringLiteral("feet");
}

double defaultBinSize(DepthUnit unit)
{
    return unit == DepthUnit::Metres ? 0.5 : 1.0;
}

std::optional<DepthUnit> depthUnitFromText(const QString &text)
{
    const QString word = text.trimmed().toLower();
    if (word == QLatin1String("feet") || word == QLatin1String("foot") || word == QLatin1String("ft"))
        return DepthUnit::Feet;
    if (word == QLatin1String("metres") || word == QLatin1String("meters") || word == QLatin1String("metre")
        || word == QLatin1String("meter") || word == QLatin1String("m"))
        return DepthUnit::Metres;
    return std::nullopt;
}

Result<DepthUnit> depthUnitSetting(const QSettings &settings)
{
    const QString key = QString::fromLatin1(DepthUnitKey);
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return DefaultDepthUnit;
    // An INI value with commas reads as a list: shown whole, and no unit.
    const QString shown = value.toStringList().join(QStringLiteral(", "));
    if (const std::optional<DepthUnit> unit = depthUnitFromText(shown))
        return *unit;
    return failure(
        QStringLiteral("%1=%2 is not feet or metres; %3 are used").arg(key, shown, unitName(DefaultDepthUnit)));
}

} // namespace mudlog
