#include "rules/readings/unittime.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QTime>

namespace readings {

namespace {

// A whole number of minDigits to maxDigits digits, nothing else.
std::optional<int> digits(const QByteArray &text, int minDigits, int maxDigits)
{
    if (text.size() < minDigits || text.size() > maxDigits)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

} // namespace

std::optional<qint64> unitTimeMs(const QByteArray &date, const QByteArray &time)
{
    const QList<QByteArray> d = date.trimmed().split('/');
    const QList<QByteArray> t = time.trimmed().split(':');
    if (d.size() != 3 || t.size() < 2 || t.size() > 3)
        return std::nullopt;
    const std::optional<int> month = digits(d.at(0), 1, 2);
    const std::optional<int> day = digits(d.at(1), 1, 2);
    const std::optional<int> year = digits(d.at(2), 4, 4);
    const std::optional<int> hour = digits(t.at(0), 1, 2);
    const std::optional<int> minute = digits(t.at(1), 2, 2);
    const std::optional<int> second = t.size() == 3 ? digits(t.at(2), 2, 2) : std::optional<int>(0);
    if (!month || !day || !year || !hour || !minute || !second)
        return std::nullopt;
    const QDate onDate(*year, *month, *day);
    const QTime atTime(*hour, *minute, *second);
    if (!onDate.isValid() || !atTime.isValid())
        return std::nullopt;
    return QDateTime(onDate, atTime, Qt::UTC).toMSecsSinceEpoch();
}

} // namespace readings
