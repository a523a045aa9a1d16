#include <clocale>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include <QLocale>
#include <QTest>

#include "rules/convert/convert.h"
#include "rules/convert/fault.h"
#include "support/texts.h"

namespace {

using support::faultOf;
using support::shown;

const double NaN = std::numeric_limits<double>::quiet_NaN();
const double Inf = std::numeric_limits<double>::infinity();

// Puts a C library numeric locale with a comma decimal separator in force
// for the lifetime of the object, as a desktop session in such a country
// does for the whole program.
class CommaNumericLocale
{
public:
    CommaNumericLocale()
    {
        m_saved = std::setlocale(LC_NUMERIC, nullptr);
        for (const char *name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "nl_NL.UTF-8",
                                 "es_ES.UTF-8", "it_IT.UTF-8", "ru_RU.UTF-8"}) {
            if (std::setlocale(LC_NUMERIC, name) && *std::localeconv()->decimal_point == ',') {
                m_active = true;
                return;
            }
        }
        std::setlocale(LC_NUMERIC, m_saved.c_str());
    }
    ~CommaNumericLocale() { std::setlocale(LC_NUMERIC, m_saved.c_str()); }
    CommaNumericLocale(const CommaNumericLocale &) = delete;
    CommaNumericLocale &operator=(const CommaNumericLocale &) = delete;

    bool active() const { return m_active; }

private:
    std::string m_saved;
    bool m_active = false;
};

} // namespace

class tst_convert : public QObject
{
    Q_OBJECT

private slots:
    void leadingNumber_data();
    void leadingNumber();
    void leadingNumberIgnoresTheNumericLocale();

    void toInteger_data();
    void toInteger();

    void textToInt16_data();
    void textToInt16();

    void formatPatterns_data();
    void formatPatterns();
    void formatTexts_data();
    void formatTexts();
    void formatGeneral_data();
    void formatGeneral();

    void toSingleByte();
};

void tst_convert::leadingNumber_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("empty") << QByteArray() << 0.0;
    QTest::newRow("blanks only") << QByteArrayLiteral(" \t\n") << 0.0;
    QTest::newRow("exponent without mantissa") << QByteArrayLiteral("e5") << 0.0;
    QTest::newRow("letters first") << QByteArrayLiteral("abc12") << 0.0;
    QTest::newRow("point alone") << QByteArrayLiteral(".") << 0.0;
    QTest::newRow("sign alone") << QByteArrayLiteral("-") << 0.0;
    QTest::newRow("two signs") << QByteArrayLiteral("+-1") << 0.0;
    QTest::newRow("hex is not read") << QByteArrayLiteral("0x10") << 0.0;

    QTest::newRow("blanks inside") << QByteArrayLiteral(" 1 2.5x") << 12.5;
    QTest::newRow("tabs and line feeds inside") << QByteArrayLiteral("\t\n-\t4\n2") << -42.0;
    QTest::newRow("carriage return stops") << QByteArrayLiteral("4\r2") << 4.0;
    QTest::newRow("carriage return first") << QByteArrayLiteral("\r5") << 0.0;
    QTest::newRow("blank after sign") << QByteArrayLiteral("- 7") << -7.0;
    QTest::newRow("plus sign") << QByteArrayLiteral("+7") << 7.0;
    QTest::newRow("second point stops") << QByteArrayLiteral("1.2.3") << 1.2;
    QTest::newRow("no digit before point") << QByteArrayLiteral("-.5") << -0.5;
    QTest::newRow("no digit after point") << QByteArrayLiteral("5.") << 5.0;
    QTest::newRow("leading zeros") << QByteArrayLiteral("007") << 7.0;
    QTest::newRow("comma is not a separator") << QByteArrayLiteral("1,5") << 1.0;
    QTest::newRow("trailing text") << QByteArrayLiteral("12abc") << 12.0;
    QTest::newRow("percent behind") << QByteArrayLiteral("99.5%") << 99.5;

    QTest::newRow("exponent") << QByteArrayLiteral("1e3") << 1000.0;
    QTest::newRow("capital exponent") << QByteArrayLiteral("1.5E2") << 150.0;
    QTest::newRow("signed exponent") << QByteArrayLiteral("2.5e-1") << 0.25;
    QTest::newRow("plus exponent") << QByteArrayLiteral("4E+2") << 400.0;
    QTest::newRow("blanks in exponent") << QByteArrayLiteral("1 e 3") << 1000.0;
    QTest::newRow("bare exponent letter") << QByteArrayLiteral("1e") << 1.0;
    QTest::newRow("exponent sign only") << QByteArrayLiteral("1e+") << 1.0;
    QTest::newRow("exponent letter then text") << QByteArrayLiteral("7ex") << 7.0;
    QTest::newRow("point ends exponent") << QByteArrayLiteral("1e3.5") << 1000.0;
    QTest::newRow("twenty digits") << QByteArrayLiteral("99999999999999999999") << 1e20;
}

void tst_convert::leadingNumber()
{
    QFETCH(QByteArray, text);
    QFETCH(double, expected);
    QCOMPARE(convert::leadingNumber(text), expected);
}

void tst_convert::leadingNumberIgnoresTheNumericLocale()
{
    // The desktop's numeric locale is in force in the running program; the
    // unit always writes "." whatever the operator's country.
    CommaNumericLocale comma;
    if (!comma.active())
        QSKIP("no locale with a comma decimal separator is installed");
    QCOMPARE(convert::leadingNumber(QByteArrayLiteral("12.5")), 12.5);
    QCOMPARE(convert::leadingNumber(QByteArrayLiteral("-.25e1")), -2.5);
    QCOMPARE(convert::leadingNumber(QByteArrayLiteral("1,5")), 1.0);
    QCOMPARE(convert::textToInt16(QByteArrayLiteral("2.5")), std::int16_t(2));
}

void tst_convert::toInteger_data()
{
    QTest::addColumn<int>("bits");
    QTest::addColumn<double>("value");
    QTest::addColumn<qint64>("expected");
    QTest::addColumn<bool>("overflows");

    auto row = [](const QByteArray &name, int bits, double value, qint64 expected) {
        QTest::newRow(name.constData()) << bits << value << expected << false;
    };
    auto overflow = [](const QByteArray &name, int bits, double value) {
        QTest::newRow(name.constData()) << bits << value << qint64(0) << true;
    };

    for (int bits : {8, 16, 32}) {
        const QByteArray w = QByteArray::number(bits) + " bits: ";
        row(w + "2.5 to even", bits, 2.5, 2);
        row(w + "3.5 to even", bits, 3.5, 4);
        row(w + "0.5 to even", bits, 0.5, 0);
        row(w + "1.5 to even", bits, 1.5, 2);
        row(w + "just below a half", bits, 2.4999999, 2);
        row(w + "just above a half", bits, 2.5000001, 3);
        row(w + "minus a half to zero", bits, -0.5, 0);
        row(w + "small negative to zero", bits, -0.4, 0);
        overflow(w + "NaN", bits, NaN);
        overflow(w + "infinity", bits, Inf);
        overflow(w + "minus infinity", bits, -Inf);
    }

    row("16 bits: -2.5 to even", 16, -2.5, -2);
    row("16 bits: -3.5 to even", 16, -3.5, -4);
    row("32 bits: -2.5 to even", 32, -2.5, -2);

    row("8 bits: top", 8, 255, 255);
    row("8 bits: rounds down to top", 8, 255.4, 255);
    row("8 bits: half below top", 8, 254.5, 254);
    overflow("8 bits: half above top goes to 256", 8, 255.5);
    overflow("8 bits: one above top", 8, 256);
    overflow("8 bits: rounds to -1", 8, -0.6);
    overflow("8 bits: -1", 8, -1);

    row("16 bits: top", 16, 32767, 32767);
    row("16 bits: rounds down to top", 16, 32767.49, 32767);
    row("16 bits: half below top", 16, 32766.5, 32766);
    overflow("16 bits: half above top", 16, 32767.5);
    overflow("16 bits: one above top", 16, 32768);
    row("16 bits: bottom", 16, -32768, -32768);
    row("16 bits: half below bottom to even", 16, -32768.5, -32768);
    overflow("16 bits: rounds below bottom", 16, -32768.6);
    overflow("16 bits: one below bottom", 16, -32769);

    row("32 bits: top", 32, 2147483647.0, 2147483647);
    row("32 bits: half below top", 32, 2147483646.5, 2147483646);
    overflow("32 bits: half above top", 32, 2147483647.5);
    overflow("32 bits: one above top", 32, 2147483648.0);
    row("32 bits: bottom", 32, -2147483648.0, -2147483647 - 1);
    row("32 bits: half below bottom to even", 32, -2147483648.5, -2147483647 - 1);
    overflow("32 bits: one below bottom", 32, -2147483649.0);
    overflow("32 bits: far out", 32, 1e12);
}

void tst_convert::toInteger()
{
    QFETCH(int, bits);
    QFETCH(double, value);
    QFETCH(qint64, expected);
    QFETCH(bool, overflows);

    qint64 result = 0;
    const QString fault = faultOf([&] {
        switch (bits) {
        case 8:
            result = convert::toByte(value);
            break;
        case 16:
            result = convert::toInt16(value);
            break;
        default:
            result = convert::toInt32(value);
            break;
        }
    });
    if (overflows) {
        QCOMPARE(fault, QStringLiteral("Overflow"));
    } else {
        QCOMPARE(fault, QString());
        QCOMPARE(result, expected);
    }
}

void tst_convert::textToInt16_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("expected");
    QTest::addColumn<QString>("fault");

    const QString none;
    QTest::newRow("four-digit code") << QByteArrayLiteral("0108") << 108 << none;
    QTest::newRow("blanks around") << QByteArrayLiteral(" 12 ") << 12 << none;
    QTest::newRow("half to even") << QByteArrayLiteral("2.5") << 2 << none;
    QTest::newRow("negative") << QByteArrayLiteral("-3.5") << -4 << none;
    QTest::newRow("letters behind") << QByteArrayLiteral("12a") << 0 << QStringLiteral("Type mismatch");
    QTest::newRow("empty") << QByteArray() << 0 << QStringLiteral("Type mismatch");
    QTest::newRow("point alone") << QByteArrayLiteral(".") << 0 << QStringLiteral("Type mismatch");
    QTest::newRow("exponent") << QByteArrayLiteral("1e2") << 100 << none;
    QTest::newRow("exponent without digits") << QByteArrayLiteral("1e") << 0 << QStringLiteral("Type mismatch");
    QTest::newRow("too large") << QByteArrayLiteral("40000") << 0 << QStringLiteral("Overflow");
}

void tst_convert::textToInt16()
{
    QFETCH(QByteArray, text);
    QFETCH(int, expected);
    QFETCH(QString, fault);

    int result = 0;
    QCOMPARE(faultOf([&] { result = convert::textToInt16(text); }), fault);
    if (fault.isEmpty())
        QCOMPARE(result, expected);
}

void tst_convert::formatPatterns_data()
{
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0: zero") << 0 << 0.0 << shown("0");
    QTest::newRow("0: rounds down") << 0 << 3.4 << shown("3");
    QTest::newRow("0: half away from zero") << 0 << 2.5 << shown("3");
    QTest::newRow("0: negative half away from zero") << 0 << -2.5 << shown("-3");
    QTest::newRow("0: no minus on zero") << 0 << -0.4 << shown("0");
    QTest::newRow("0: no group separators") << 0 << 1234567.0 << shown("1234567");
    QTest::newRow("0: large") << 0 << 1e15 << shown("1000000000000000");

    QTest::newRow("0.0: pads") << 1 << 3.0 << shown("3.0");
    QTest::newRow("0.0: half away from zero") << 1 << 0.25 << shown("0.3");
    QTest::newRow("0.0: negative") << 1 << -12.34 << shown("-12.3");
    QTest::newRow("0.0: no minus on zero") << 1 << -0.04 << shown("0.0");
    QTest::newRow("0.0: no group separators") << 1 << 98765.43 << shown("98765.4");

    QTest::newRow("0.000: pads") << 3 << 2.0 << shown("2.000");
    QTest::newRow("0.000: rounds") << 3 << 1.23456 << shown("1.235");
    QTest::newRow("0.000: half away from zero") << 3 << 0.0625 << shown("0.063");
    QTest::newRow("0.000: no minus on zero") << 3 << -0.0004 << shown("0.000");
    QTest::newRow("0.000: no group separators") << 3 << 1e6 << shown("1000000.000");
}

void tst_convert::formatPatterns()
{
    QFETCH(int, decimals);
    QFETCH(double, value);
    QFETCH(QString, expected);

    switch (decimals) {
    case 0:
        QCOMPARE(convert::formatWhole(value), expected);
        break;
    case 1:
        QCOMPARE(convert::formatOneDecimal(value), expected);
        break;
    default:
        QCOMPARE(convert::formatThreeDecimals(value), expected);
        break;
    }
}

void tst_convert::formatTexts_data()
{
    QTest::addColumn<int>("decimals");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("0: number") << 0 << QByteArrayLiteral("12.7") << shown("13");
    QTest::newRow("0: blanks around") << 0 << QByteArrayLiteral(" 5 ") << shown("5");
    QTest::newRow("0: not a number") << 0 << QByteArrayLiteral("abc") << QStringLiteral("abc");
    QTest::newRow("0: number then text") << 0 << QByteArrayLiteral("12a") << QStringLiteral("12a");
    QTest::newRow("0: empty") << 0 << QByteArray() << QString();
    QTest::newRow("0.000: number") << 3 << QByteArrayLiteral("1.5") << shown("1.500");
    QTest::newRow("0.000: not a number") << 3 << QByteArrayLiteral("N/A") << QStringLiteral("N/A");
    QTest::newRow("0.000: high byte kept") << 3 << QByteArrayLiteral("\xb0") << QStringLiteral("\u00b0");
}

void tst_convert::formatTexts()
{
    QFETCH(int, decimals);
    QFETCH(QByteArray, text);
    QFETCH(QString, expected);

    if (decimals == 0)
        QCOMPARE(convert::formatWhole(text), expected);
    else
        QCOMPARE(convert::formatThreeDecimals(text), expected);
}

void tst_convert::formatGeneral_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero") << 0.0 << shown("0");
    QTest::newRow("negative zero") << -0.0 << shown("0");
    QTest::newRow("whole") << 100.0 << shown("100");
    QTest::newRow("fraction") << 12.5 << shown("12.5");
    QTest::newRow("negative") << -2.5 << shown("-2.5");
    QTest::newRow("binary noise dropped") << 0.1 + 0.2 << shown("0.3");
    QTest::newRow("fifteen digits") << 1.0 / 3.0 << shown("0.333333333333333");
    QTest::newRow("largest without exponent") << 123456789012345.0 << shown("123456789012345");
    QTest::newRow("exponent from 1E+15") << 1e15 << shown("1E+15");
    QTest::newRow("sixteen digits rounded") << 1234567890123456.0 << shown("1.23456789012346E+15");
    QTest::newRow("large negative") << -1e20 << shown("-1E+20");
    QTest::newRow("three-digit exponent") << 1e100 << shown("1E+100");
    QTest::newRow("smallest without exponent") << 0.0001 << shown("0.0001");
    QTest::newRow("small with exponent") << 0.00001 << shown("1E-05");
    QTest::newRow("small fraction with exponent") << 1.5e-7 << shown("1.5E-07");
}

void tst_convert::formatGeneral()
{
    QFETCH(double, value);
    QFETCH(QString, expected);
    QCOMPARE(convert::formatGeneral(value), expected);
}

void tst_convert::toSingleByte()
{
    QCOMPARE(convert::toSingleByte(QString()), QByteArray());
    QCOMPARE(convert::toSingleByte(QStringLiteral("A\r\n\u00e9\u00ff")), QByteArrayLiteral("A\r\n\xe9\xff"));
    QString all;
    QByteArray bytes;
    for (int c = 0; c < 256; ++c) {
        all += QChar(c);
        bytes += static_cast<char>(c);
    }
    QCOMPARE(convert::toSingleByte(all), bytes);
    QCOMPARE(faultOf([] { convert::toSingleByte(QStringLiteral("a\u20acb")); }),
             QStringLiteral("Invalid procedure call or argument"));
}

QTEST_APPLESS_MAIN(tst_convert)
#include "tst_convert.moc"
