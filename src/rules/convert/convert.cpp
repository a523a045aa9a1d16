#include "rules/convert/convert.h"

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include <QLocale>

#include "rules/convert/fault.h"

namespace convert {

namespace {

bool isSkipped(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Collects the characters of the leading number, skipping blanks, tabs and
// line feeds, and reports how far the scan got so callers can tell whether
// the whole text was a number.
struct Scan
{
    std::string number;  // sign, digits, point and exponent, ready for strtod
    bool hasDigits = false;
    int end = 0;  // index of the first character not taken
};

Scan scanNumber(const QByteArray &text)
{
    Scan scan;
    const int n = text.size();
    int i = 0;
    auto skip = [&]() {
        while (i < n && isSkipped(text.at(i)))
            ++i;
    };

    skip();
    if (i < n && (text.at(i) == '+' || text.at(i) == '-')) {
        scan.number += text.at(i);
        ++i;
    }
    bool seenPoint = false;
    for (;;) {
        skip();
        if (i >= n)
            break;
        const char c = text.at(i);
        if (isDigit(c)) {
            scan.number += c;
            scan.hasDigits = true;
            ++i;
        } else if (c == '.' && !seenPoint) {
            scan.number += c;
            seenPoint = true;
            ++i;
        } else {
            break;
        }
    }
    scan.end = i;
    if (!scan.hasDigits)
        return scan;

    // The exponent is taken only when at least one digit follows it.
    if (i < n && (text.at(i) == 'e' || text.at(i) == 'E')) {
        int j = i + 1;
        std::string exponent = "e";
        auto skipJ = [&]() {
            while (j < n && isSkipped(text.at(j)))
                ++j;
        };
        skipJ();
        if (j < n && (text.at(j) == '+' || text.at(j) == '-')) {
            exponent += text.at(j);
            ++j;
        }
        bool expDigits = false;
        for (;;) {
            skipJ();
            if (j >= n || !isDigit(text.at(j)))
                break;
            exponent += text.at(j);
            expDigits = true;
            ++j;
        }
        if (expDigits) {
            scan.number += exponent;
            scan.end = j;
        }
    }
    return scan;
}

double valueOf(const Scan &scan)
{
    if (!scan.hasDigits)
        return 0.0;
    // strtod reads the decimal separator of the C library's numeric locale,
    // which the application object sets from the desktop session; the unit
    // always writes ".", so the scanned point is put in that separator's place.
    std::string number = scan.number;
    const char *separator = std::localeconv()->decimal_point;
    if (separator && *separator && std::string(separator) != ".") {
        const std::size_t point = number.find('.');
        if (point != std::string::npos)
            number.replace(point, 1, separator);
    }
    return std::strtod(number.c_str(), nullptr);
}

template <typename T>
T roundTo(double value)
{
    if (!std::isfinite(value))
        throw Fault::overflow();
    // The default rounding mode takes a half to the even neighbour.
    const double r = std::nearbyint(value);
    if (r < static_cast<double>(std::numeric_limits<T>::min())
        || r > static_cast<double>(std::numeric_limits<T>::max()))
        throw Fault::overflow();
    return static_cast<T>(r);
}

QString withLocalePoint(QString text)
{
    const QString point = QLocale::system().decimalPoint();
    if (point != QLatin1String("."))
        text.replace(QLatin1Char('.'), point);
    return text;
}

QString fixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return QString::number(value);
    QString text = QString::number(value, 'f', decimals);
    // A value that rounds to zero is shown without a minus sign.
    if (text.startsWith(QLatin1Char('-')) && text.toDouble() == 0.0)
        text.remove(0, 1);
    return withLocalePoint(text);
}

} // namespace

double leadingNumber(const QByteArray &text)
{
    return valueOf(scanNumber(text));
}

bool hasLeadingNumber(const QByteArray &text)
{
    return scanNumber(text).hasDigits;
}

bool isNumeric(const QByteArray &text)
{
    const Scan scan = scanNumber(text);
    if (!scan.hasDigits)
        return false;
    for (int i = scan.end; i < text.size(); ++i) {
        if (!isSkipped(text.at(i)))
            return false;
    }
    return true;
}

std::uint8_t toByte(double value)
{
    return roundTo<std::uint8_t>(value);
}

std::int16_t toInt16(double value)
{
    return roundTo<std::int16_t>(value);
}

std::int32_t toInt32(double value)
{
    return roundTo<std::int32_t>(value);
}

std::int16_t textToInt16(const QByteArray &text)
{
    if (!isNumeric(text))
        throw Fault::typeMismatch();
    return toInt16(leadingNumber(text));
}

namespace {

// A text whose number lies beyond the range of a double reads as infinity;
// shown, it would pass for a reading ("inf"), so it is refused instead.
double finite(double value)
{
    if (std::isinf(value))
        throw Fault::overflow();
    return value;
}

} // namespace

QString formatWhole(double value)
{
    // A half goes away from zero, as an operator reads a rounded reading.
    return fixed(std::round(finite(value)), 0);
}

QString formatOneDecimal(double value)
{
    return fixed(finite(value), 1);
}

QString formatThreeDecimals(double value)
{
    return fixed(finite(value), 3);
}

QString formatWhole(const QByteArray &text)
{
    if (!isNumeric(text))
        return QString::fromLatin1(text);
    return formatWhole(leadingNumber(text));
}

QString formatThreeDecimals(const QByteArray &text)
{
    if (!isNumeric(text))
        return QString::fromLatin1(text);
    return formatThreeDecimals(leadingNumber(text));
}

QString formatGeneral(double value)
{
    if (finite(value) == 0.0)
        return QStringLiteral("0");
    QString text = QString::number(value, 'g', 15);
    text.replace(QLatin1String("e+"), QLatin1String("E+"));
    text.replace(QLatin1String("e-"), QLatin1String("E-"));
    return withLocalePoint(text);
}

QByteArray toSingleByte(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar c : text) {
        if (c.unicode() > 0xFF)
            throw Fault("Invalid procedure call or argument");
        bytes.append(static_cast<char>(c.unicode()));
    }
    return bytes;
}

} // namespace convert
