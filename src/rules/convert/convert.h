#pragma once

#include <cstdint>

#include <QByteArray>
#include <QString>

// Number conversions shared by every subsystem. Reading a number always uses
// "." as the decimal separator; writing one uses the decimal separator of the
// system locale, because the result is shown to the operator.
namespace convert {

// Leading-number value of a text: blanks, tabs and line feeds are skipped
// wherever they stand; then an optional sign, digits with at most one decimal
// point and an optional exponent (E or e, optional sign). Reading stops at the
// first character that cannot continue the number. No number gives 0.
double leadingNumber(const QByteArray &text);

// True when the text begins with a number, blanks aside: the cases in which
// leadingNumber() reads one rather than giving 0 for none.
bool hasLeadingNumber(const QByteArray &text);

// True when the whole text, blanks aside, reads as one number.
bool isNumeric(const QByteArray &text);

// Nearest integer, a half to the even neighbour; Fault("Overflow") outside
// the target range (NaN and infinities included).
std::uint8_t toByte(double value);
std::int16_t toInt16(double value);
std::int32_t toInt32(double value);

// Strict reading of a short numeric text (blanks around it, a sign and a
// decimal point allowed) as a 16-bit integer, halves to even.
// Fault("Type mismatch") when the text is not a number.
std::int16_t textToInt16(const QByteArray &text);

// Number patterns. A text that does not read as a number is shown as it
// stands, an empty text stays empty. Fault("Overflow") for a value beyond
// the range of a double (a text such as 1e400).
QString formatWhole(double value);          // "0"
QString formatOneDecimal(double value);     // "0.0"
QString formatThreeDecimals(double value);  // "0.000"
QString formatWhole(const QByteArray &text);
QString formatThreeDecimals(const QByteArray &text);

// Shortest general form: up to 15 significant digits, no trailing zeros,
// exponent form for very large or very small magnitudes.
QString formatGeneral(double value);

// Text to the single-byte wire form: one byte per character.
// Fault("Invalid procedure call or argument") for a character above 255.
QByteArray toSingleByte(const QString &text);

} // namespace convert
