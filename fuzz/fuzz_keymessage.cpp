// The key message, from both ends.
//
// The viewer's builder gets arbitrary user names and passwords (any length,
// characters above 255 included) and a random source that may misbehave. It
// must either refuse with "Invalid procedure call or argument" (exactly when
// a character does not fit in a byte, a text is longer than ten characters
// or the random source left 0 <= r < 1) or produce a 777-character message
// that the simulator's decoder, written apart from the builder, turns back
// into the same user name and password, with every byte outside the
// credential field being the random draw it stands for.
//
// The simulator's decoder gets the whole input as a message. It must accept
// exactly the messages that keep the wire rules (frame, 255 groups of three
// digits up to 255, offset 30 to 200), refuse the rest with a reason, read
// the credentials the message carries, and whatever it accepts must survive
// a round through the builder and back unchanged.
//
// Input for the builder: byte 0 chooses the character width (bit 0 set: two
// bytes per character, so characters above 255 occur) and whether odd draws
// are allowed (bit 1); byte 1 and the next length byte give the lengths of
// user name and password in characters; the remaining bytes feed the random
// source, two bytes per draw, and a generator seeded from the input takes
// over when they run out.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <random>
#include <vector>

#include <QByteArray>
#include <QString>

#include "rules/convert/fault.h"
#include "unitsim/keydecoder.h"
#include "rules/unlock/keymessage.h"

namespace {

constexpr int Groups = 255;
constexpr int OffsetGroup = 5;
constexpr int MaskGroup = 6;
constexpr int FieldWidth = 10;
const QByteArray Refusal = QByteArrayLiteral("Invalid procedure call or argument");

[[noreturn]] void broken(const char *what, const QByteArray &detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_keymessage: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  detail: %s\n", detail.toPercentEncoding(" []").constData());
    std::abort();
}

class Reader
{
public:
    Reader(const std::uint8_t *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }

    bool atEnd() const { return m_at >= m_size; }
    std::uint8_t byte() { return atEnd() ? 0 : m_data[m_at++]; }

    QString text(int characters, bool wide)
    {
        QString out;
        for (int i = 0; i < characters && !atEnd(); ++i) {
            char16_t code = byte();
            if (wide)
                code = static_cast<char16_t>(code << 8 | byte());
            out.append(QChar(code));
        }
        return out;
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

// Draws from the input while it lasts, and logs every value it hands out so
// the message can be checked against them.
class ScriptedRandom : public KeyRandom
{
public:
    ScriptedRandom(Reader &reader, bool oddValues, std::uint32_t seed)
        : m_reader(reader)
        , m_oddValues(oddValues)
        , m_engine(seed)
    {
    }

    double next() override
    {
        double r = 0.0;
        if (!m_reader.atEnd()) {
            const unsigned raw = static_cast<unsigned>(m_reader.byte()) << 8 | m_reader.byte();
            r = raw / 65536.0;
            if (m_oddValues && raw >= 0xFFF8)
                r = oddValue(raw - 0xFFF8);
        } else {
            r = m_engine() / 4294967296.0;
        }
        if (!(r >= 0.0 && r < 1.0))
            m_sawOdd = true;
        drawn.push_back(r);
        return r;
    }

    bool sawOdd() const { return m_sawOdd; }
    std::vector<double> drawn;

private:
    static double oddValue(unsigned which)
    {
        static const double values[8] = {1.0,
                                         -0.0,  // counts as 0: allowed
                                         -1e-300,
                                         std::numeric_limits<double>::quiet_NaN(),
                                         std::numeric_limits<double>::infinity(),
                                         -std::numeric_limits<double>::infinity(),
                                         1.0 - std::numeric_limits<double>::epsilon() / 2,  // just below 1: allowed
                                         2.5};
        return values[which];
    }

    Reader &m_reader;
    bool m_oddValues;
    std::mt19937 m_engine;
    bool m_sawOdd = false;
};

QByteArray dropTrailingZeros(QByteArray bytes)
{
    while (!bytes.isEmpty() && bytes.back() == '\0')
        bytes.chop(1);
    return bytes;
}

// The bytes a text stands for, when every character fits in one.
bool singleBytes(const QString &text, QByteArray &bytes)
{
    bytes.clear();
    for (const QChar c : text) {
        if (c.unicode() > 255)
            return false;
        bytes.append(static_cast<char>(c.unicode()));
    }
    return true;
}

QString latin1(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes);
}

// Reads the 255 groups of a message already checked for its frame.
std::vector<int> groupsOf(const QByteArray &message)
{
    std::vector<int> groups(Groups);
    for (int g = 0; g < Groups; ++g) {
        int value = 0;
        for (int d = 0; d < 3; ++d) {
            const char c = message.at(9 + g * 3 + d);
            if (c < '0' || c > '9')
                broken("a key message holds a character that is not a digit", message);
            value = value * 10 + (c - '0');
        }
        groups[static_cast<std::size_t>(g)] = value;
    }
    return groups;
}

void checkBuilder(const std::uint8_t *data, std::size_t size)
{
    Reader reader(data, size);
    const std::uint8_t mode = reader.byte();
    const bool wide = (mode & 1U) != 0;
    const int userLength = reader.byte() % 16;
    const QString user = reader.text(userLength, wide);
    const int passwordLength = reader.byte() % 16;
    const QString password = reader.text(passwordLength, wide);

    std::uint32_t seed = 2166136261U;
    for (std::size_t i = 0; i < size; ++i)
        seed = (seed ^ data[i]) * 16777619U;
    ScriptedRandom random(reader, (mode & 2U) != 0, seed);

    QByteArray userBytes;
    QByteArray passwordBytes;
    const bool fits = singleBytes(user, userBytes) && singleBytes(password, passwordBytes)
                      && userBytes.size() <= FieldWidth && passwordBytes.size() <= FieldWidth;

    QByteArray message;
    try {
        KeyMessage builder(random);
        message = builder.build(user, password);
    } catch (const Fault &fault) {
        if (QByteArray(fault.what()) != Refusal)
            broken("the builder refused with another text", QByteArray(fault.what()));
        if (fits && !random.sawOdd())
            broken("the builder refused good credentials");
        return;
    } catch (...) {
        broken("the builder threw something other than its refusal");
    }
    if (!fits)
        broken("the builder took credentials that do not fit");
    if (random.sawOdd())
        broken("the builder used a draw outside 0 <= r < 1");

    if (message.size() != KeyMessage::MessageLength || !message.startsWith("[PGP KEY ")
        || !message.endsWith("]\r\n"))
        broken("the key message is not 777 characters in its frame", message);
    const std::vector<int> groups = groupsOf(message);
    const int offset = groups[OffsetGroup];
    if (offset < 30 || offset > 200)
        broken("the offset lies outside 30 to 200", message);

    // Each group outside the credential field is its own draw, scaled to a
    // byte and rounded half to even; the offset takes draws until one lands
    // at 30 or more.
    std::size_t d = 0;
    for (int g = 0; g < Groups; ++g) {
        if (d >= random.drawn.size())
            broken("the builder drew fewer values than it wrote groups");
        int expected = 0;
        if (g == OffsetGroup) {
            do {
                expected = static_cast<int>(std::nearbyint(random.drawn.at(d++) * 200.0));
            } while (expected < 30 && d < random.drawn.size());
        } else {
            expected = static_cast<int>(std::nearbyint(random.drawn.at(d++) * 255.0));
        }
        const bool inField = g >= offset && g < offset + 2 * FieldWidth;
        if (!inField && groups[static_cast<std::size_t>(g)] != expected)
            broken("a group of the key message is not its random draw", message);
    }
    if (d != random.drawn.size())
        broken("the builder drew values it did not use");

    // Decoded by hand, and by the simulator.
    for (int m = 0; m < 2 * FieldWidth; ++m) {
        const int clear = groups[static_cast<std::size_t>(offset + m)] ^ groups[static_cast<std::size_t>(MaskGroup + m)];
        const QByteArray &source = m < FieldWidth ? userBytes : passwordBytes;
        const int at = m % FieldWidth;
        const int want = at < source.size() ? static_cast<unsigned char>(source.at(at)) : 0;
        if (clear != want)
            broken("the credential field does not carry the credentials", message);
    }
    const KeyDecoder::Result decoded = KeyDecoder::decode(message);
    if (!decoded.ok)
        broken("the simulator refused the viewer's key message", decoded.error.toLatin1());
    if (decoded.user != dropTrailingZeros(userBytes) || decoded.password != dropTrailingZeros(passwordBytes))
        broken("the simulator read other credentials from the viewer's key message", message);
}

// Draws a fixed, harmless sequence for the round trip of the decoder check.
class CountingRandom : public KeyRandom
{
public:
    double next() override
    {
        m_state = m_state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(m_state >> 11) * (1.0 / 9007199254740992.0);
    }

private:
    std::uint64_t m_state = 1;
};

// The message as the wire rules describe it: the frame, 255 groups of three
// digits each at most 255, the offset 30 to 200. Returns the twenty clear
// bytes of the credential field, or nothing when the message is not valid.
bool credentialField(const QByteArray &message, QByteArray &field)
{
    QByteArray frame = message;
    if (frame.endsWith("\r\n"))
        frame.chop(2);
    if (frame.size() != 9 + 3 * Groups + 1 || !frame.startsWith("[PGP KEY ") || !frame.endsWith(']'))
        return false;
    std::vector<int> groups(Groups);
    for (int g = 0; g < Groups; ++g) {
        int value = 0;
        for (int d = 0; d < 3; ++d) {
            const char c = frame.at(9 + g * 3 + d);
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + (c - '0');
        }
        if (value > 255)
            return false;
        groups[static_cast<std::size_t>(g)] = value;
    }
    const int offset = groups[OffsetGroup];
    if (offset < 30 || offset > 200)
        return false;
    field.clear();
    for (int m = 0; m < 2 * FieldWidth; ++m)
        field.append(static_cast<char>(groups[static_cast<std::size_t>(offset + m)]
                                       ^ groups[static_cast<std::size_t>(MaskGroup + m)]));
    return true;
}

void checkDecoder(const std::uint8_t *data, std::size_t size)
{
    const QByteArray message(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const KeyDecoder::Result decoded = KeyDecoder::decode(message);
    QByteArray field;
    const bool valid = credentialField(message, field);
    if (decoded.ok != valid)
        broken(valid ? "the simulator refused a valid key message" : "the simulator accepted an invalid key message",
               message);
    if (!decoded.ok) {
        if (decoded.error.isEmpty())
            broken("the simulator refused a message without saying why", message);
        return;
    }
    if (!decoded.error.isEmpty())
        broken("the simulator accepted a message with a reason for refusing it");
    if (decoded.user != dropTrailingZeros(field.left(FieldWidth))
        || decoded.password != dropTrailingZeros(field.mid(FieldWidth)))
        broken("the simulator read other credentials than the message carries", message);

    CountingRandom random;
    QByteArray rebuilt;
    try {
        KeyMessage builder(random);
        rebuilt = builder.build(latin1(decoded.user), latin1(decoded.password));
    } catch (...) {
        broken("the builder refused credentials the simulator decoded", message);
    }
    const KeyDecoder::Result again = KeyDecoder::decode(rebuilt);
    if (!again.ok || again.user != decoded.user || again.password != decoded.password)
        broken("credentials did not survive a round through the builder", message);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    checkDecoder(data, size);
    checkBuilder(data, size);
    return 0;
}
