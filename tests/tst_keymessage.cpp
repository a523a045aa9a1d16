#include <array>
#include <vector>

#include <QtTest>

#include "rules/convert/fault.h"
#include "rules/unlock/keymessage.h"
#include "support/keymessages.h"

Q_DECLARE_METATYPE(std::vector<double>)

namespace {

using support::DecodedKey;
using support::decodeKeyMessage;

// Plays back the given fractions in order, then repeats the last one (or
// `fill`), and counts the draws.
class ScriptedRandom : public KeyRandom
{
public:
    explicit ScriptedRandom(std::vector<double> script, double fill = 0.5)
        : m_script(std::move(script))
        , m_fill(fill)
    {
    }

    double next() override
    {
        const std::size_t i = draws++;
        return i < m_script.size() ? m_script[i] : m_fill;
    }

    std::size_t draws = 0;

private:
    std::vector<double> m_script;
    double m_fill;
};

QByteArray padded(const QByteArray &codes)
{
    return codes + QByteArray(10 - codes.size(), '\0');
}

// A fraction that lands on the given byte, a tenth below it so that
// rounding cannot move it and 255 stays below one.
double forByte(int value)
{
    return value == 0 ? 0.0 : (value - 0.1) / 255.0;
}

} // namespace

class tst_KeyMessage : public QObject
{
    Q_OBJECT

private slots:
    void exactBytes();
    void rounding_data();
    void rounding();
    void offsetDraws_data();
    void offsetDraws();
    void fullFields();
    void latin1Codes();
    void refusals_data();
    void refusals();
    void clockSeededMessages();
};

// Every byte scripted: the whole message is known in advance.
void tst_KeyMessage::exactBytes()
{
    std::vector<double> script(255, forByte(255));
    script[5] = 0.2;  // O = 40
    for (int m = 0; m < 20; ++m)
        script[6 + m] = forByte(m + 1);  // masks 1 to 20
    script[0] = forByte(7);
    script[254] = forByte(0);
    ScriptedRandom random(script);

    const QByteArray message = KeyMessage(random).build(QStringLiteral("abc"), QStringLiteral("xyz1"));

    QCOMPARE(random.draws, std::size_t(255));
    QCOMPARE(message.size(), 777);

    std::array<int, 255> expected{};
    expected.fill(255);
    expected[0] = 7;
    expected[5] = 40;
    for (int m = 0; m < 20; ++m)
        expected[6 + m] = m + 1;
    // "abc" and "xyz1" XOR the masks, then the bare masks for the padding.
    const int field[20] = {'a' ^ 1, 'b' ^ 2, 'c' ^ 3, 4, 5, 6, 7, 8, 9, 10,
                           'x' ^ 11, 'y' ^ 12, 'z' ^ 13, '1' ^ 14, 15, 16, 17, 18, 19, 20};
    for (int m = 0; m < 20; ++m)
        expected[40 + m] = field[m];
    expected[254] = 0;

    QByteArray text = QByteArrayLiteral("[PGP KEY ");
    for (const int value : expected)
        text += QByteArray::number(value).rightJustified(3, '0');
    text += QByteArrayLiteral("]\r\n");
    QCOMPARE(message, text);

    // A few pieces spelled out by hand.
    QCOMPARE(message.left(24), QByteArrayLiteral("[PGP KEY 007255255255255"));
    QCOMPARE(message.mid(9 + 3 * 5, 6), QByteArrayLiteral("040001"));
    QCOMPARE(message.mid(9 + 3 * 40, 12), QByteArrayLiteral("096096096004"));
    QCOMPARE(message.mid(9 + 3 * 50, 15), QByteArrayLiteral("115117119063015"));
    QCOMPARE(message.right(9), QByteArrayLiteral("255000]\r\n"));
}

void tst_KeyMessage::rounding_data()
{
    QTest::addColumn<double>("r");
    QTest::addColumn<int>("expected");

    QTest::newRow("zero") << 0.0 << 0;
    QTest::newRow("0.255 rounds down") << 0.001 << 0;
    QTest::newRow("63.75 rounds up, not cut") << 0.25 << 64;
    QTest::newRow("127.5 goes to the even 128") << 0.5 << 128;
    QTest::newRow("191.25 rounds down") << 0.75 << 191;
    QTest::newRow("just below one gives 255") << 0.9999999 << 255;
}

// Index 0 stands for every plain random byte.
void tst_KeyMessage::rounding()
{
    QFETCH(double, r);
    QFETCH(int, expected);
    ScriptedRandom random({r});
    const DecodedKey d = decodeKeyMessage(KeyMessage(random).build(QStringLiteral("abc"), QStringLiteral("def")));
    QVERIFY(d.wellFormed);
    QCOMPARE(d.bytes[0], expected);
}

void tst_KeyMessage::offsetDraws_data()
{
    QTest::addColumn<std::vector<double>>("offsetScript");
    QTest::addColumn<int>("offset");

    QTest::newRow("first draw kept") << std::vector<double>{0.5} << 100;
    QTest::newRow("30 kept") << std::vector<double>{0.15} << 30;
    QTest::newRow("below 30 drawn again") << std::vector<double>{0.0, 0.1, 0.1474609375, 0.15} << 30;
    QTest::newRow("62.5 goes to the even 62") << std::vector<double>{0.3125} << 62;
    QTest::newRow("37.5 goes to the even 38") << std::vector<double>{0.1875} << 38;
    QTest::newRow("200 reachable") << std::vector<double>{0.9999999} << 200;
}

// The offset is drawn at index 5 in turn, redrawn while below 30, and the
// very next draw goes to index 6: no draw is lost or added.
void tst_KeyMessage::offsetDraws()
{
    QFETCH(std::vector<double>, offsetScript);
    QFETCH(int, offset);

    std::vector<double> script(5, forByte(9));
    script.insert(script.end(), offsetScript.begin(), offsetScript.end());
    script.push_back(forByte(77));  // mask M0
    ScriptedRandom random(script, forByte(200));

    const DecodedKey d = decodeKeyMessage(KeyMessage(random).build(QStringLiteral("abc"), QStringLiteral("def")));
    QVERIFY(d.wellFormed);
    QCOMPARE(random.draws, std::size_t(254 + offsetScript.size()));
    QCOMPARE(d.bytes[4], 9);
    QCOMPARE(d.offset, offset);
    QCOMPARE(d.bytes[6], 77);
    QCOMPARE(d.bytes[7], 200);
    QCOMPARE(d.userField, padded("abc"));
    QCOMPARE(d.passwordField, padded("def"));
    // The bytes after the field are untouched random ones.
    if (offset + 20 < 255)
        QCOMPARE(d.bytes[offset + 20], 200);
}

// Ten characters fill the field up to the last byte, with no zero after
// either of them; and with the offset at 200 the field still ends at 219.
void tst_KeyMessage::fullFields()
{
    for (const double offsetDraw : {0.15, 0.9999999}) {
        std::vector<double> script(5, forByte(3));
        script.push_back(offsetDraw);
        ScriptedRandom random(script, forByte(170));
        const DecodedKey d = decodeKeyMessage(
            KeyMessage(random).build(QStringLiteral("abcdefghij"), QStringLiteral("0123456789")));
        QVERIFY(d.wellFormed);
        QCOMPARE(d.userField, QByteArrayLiteral("abcdefghij"));
        QCOMPARE(d.passwordField, QByteArrayLiteral("0123456789"));
        QVERIFY(!d.userField.contains('\0'));
        QVERIFY(!d.passwordField.contains('\0'));
    }
}

// Letters above 127 that fit in one byte go as their Latin-1 codes.
void tst_KeyMessage::latin1Codes()
{
    ScriptedRandom random({0.3, 0.6, 0.9, 0.1, 0.4, 0.7}, 0.8);
    const DecodedKey d = decodeKeyMessage(
        KeyMessage(random).build(QStringLiteral("Jos\u00e9"), QStringLiteral("Stra\u00dfe\u00ff")));
    QVERIFY(d.wellFormed);
    QCOMPARE(d.userField, padded(QByteArrayLiteral("Jos\xe9")));
    QCOMPARE(d.passwordField, padded(QByteArrayLiteral("Stra\xdf" "e\xff")));
}

void tst_KeyMessage::refusals_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("password");
    QTest::addColumn<std::vector<double>>("script");

    const std::vector<double> fine{0.5};
    QTest::newRow("euro sign in user name") << QStringLiteral("ab\u20ac") << QStringLiteral("secret") << fine;
    QTest::newRow("Greek letter in password") << QStringLiteral("abc") << QStringLiteral("pass\u03c9") << fine;
    QTest::newRow("character beyond 16 bits") << QStringLiteral("abc") << QStringLiteral("p\U0001F511x") << fine;
    QTest::newRow("user name of 11") << QStringLiteral("abcdefghijk") << QStringLiteral("secret") << fine;
    QTest::newRow("password of 11") << QStringLiteral("abc") << QStringLiteral("secretsecre") << fine;
    // A source outside [0, 1) would put the field past the bytes sent.
    QTest::newRow("random fraction of 1.2 at the offset")
        << QStringLiteral("abc") << QStringLiteral("secret") << std::vector<double>{0.5, 0.5, 0.5, 0.5, 0.5, 1.2};
    QTest::newRow("negative random fraction")
        << QStringLiteral("abc") << QStringLiteral("secret") << std::vector<double>{-0.001};
}

void tst_KeyMessage::refusals()
{
    QFETCH(QString, userName);
    QFETCH(QString, password);
    QFETCH(std::vector<double>, script);

    ScriptedRandom random(script);
    try {
        const QByteArray message = KeyMessage(random).build(userName, password);
        QFAIL(qPrintable(QStringLiteral("built %1 bytes instead of refusing").arg(message.size())));
    } catch (const Fault &fault) {
        QCOMPARE(QByteArray(fault.what()), QByteArrayLiteral("Invalid procedure call or argument"));
    }
}

// The generator seeded from the clock: every message well formed, no two
// alike, and over many messages the bytes reach both ends of their range.
void tst_KeyMessage::clockSeededMessages()
{
    const QString userName = QStringLiteral("driller");
    const QString password = QStringLiteral("mud2deep");
    QSet<QByteArray> seen;
    bool sawZero = false;
    bool sawMax = false;
    for (int n = 0; n < 300; ++n) {
        const QByteArray message = KeyMessage::buildWithClockSeed(userName, password);
        const DecodedKey d = decodeKeyMessage(message);
        QVERIFY2(d.wellFormed, message.constData());
        QCOMPARE(d.userField, padded("driller"));
        QCOMPARE(d.passwordField, padded("mud2deep"));
        for (int i = 0; i < 255; ++i) {
            if (i >= d.offset && i < d.offset + 20)
                continue;  // masked codes, not drawn bytes
            sawZero = sawZero || d.bytes[i] == 0;
            sawMax = sawMax || d.bytes[i] == 255;
        }
        seen.insert(message);
    }
    QCOMPARE(seen.size(), 300);
    QVERIFY(sawZero);
    QVERIFY(sawMax);
}

QTEST_APPLESS_MAIN(tst_KeyMessage)
#include "tst_keymessage.moc"
