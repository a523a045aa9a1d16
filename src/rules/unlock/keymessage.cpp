#include "rules/unlock/keymessage.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <utility>

#include <QRandomGenerator>

#include "rules/convert/convert.h"
#include "rules/convert/fault.h"

namespace {

constexpr int SentBytes = 255;      // indexes 0 to 254
constexpr int OffsetIndex = 5;      // holds O, the start of the credential field
constexpr int MaskIndex = 6;        // mask bytes M0 to M19 at 6 to 25
constexpr int FieldBytes = 2 * KeyMessage::FieldWidth;
constexpr int LowestOffset = 30;    // keeps the field clear of the mask bytes
constexpr double OffsetSpan = 200.0;  // keeps the field inside the bytes sent

Fault invalidArgument()
{
    return Fault("Invalid procedure call or argument");
}

// A generator seeded anew for every message. The send time alone would let
// anyone who knows roughly when a message went out replay the generator and
// strip the masks, and two sends within one clock step would look alike; so
// the clock is mixed with a per-process count and the system's entropy.
class ClockSeededRandom : public KeyRandom
{
public:
    ClockSeededRandom()
    {
        static std::uint32_t sendCount = 0;
        const auto ticks = static_cast<std::uint64_t>(
            std::chrono::high_resolution_clock::now().time_since_epoch().count());
        std::seed_seq seed{static_cast<std::uint32_t>(ticks),
                           static_cast<std::uint32_t>(ticks >> 32),
                           ++sendCount,
                           QRandomGenerator::system()->generate(),
                           QRandomGenerator::system()->generate()};
        m_engine.seed(seed);
    }

    double next() override
    {
        // 53 random bits scaled by 2^-53: never reaches 1.
        return static_cast<double>(m_engine() >> 11) * (1.0 / 9007199254740992.0);
    }

private:
    std::mt19937_64 m_engine;
};

} // namespace

KeyMessage::KeyMessage(KeyRandom &random)
    : m_random(random)
{
}

QByteArray KeyMessage::build(const QString &userName, const QString &password)
{
    // Converted before anything is drawn: a character that does not fit in
    // one byte ends the build with nothing produced.
    const QByteArray userCodes = convert::toSingleByte(userName);
    const QByteArray passwordCodes = convert::toSingleByte(password);
    // A longer text would spill out of its half of the field: the user name
    // over the password, the password past the masks into the clear.
    if (userCodes.size() > FieldWidth || passwordCodes.size() > FieldWidth)
        throw invalidArgument();

    fillRandom();
    placeCredentials(userCodes, passwordCodes);
    compose();
    return std::exchange(key_message, QByteArray());
}

QByteArray KeyMessage::buildWithClockSeed(const QString &userName, const QString &password)
{
    ClockSeededRandom random;
    return KeyMessage(random).build(userName, password);
}

double KeyMessage::draw()
{
    const double r = m_random.next();
    // Outside [0, 1) the offset could push the field past the bytes sent.
    if (!(r >= 0.0 && r < 1.0))
        throw invalidArgument();
    return r;
}

void KeyMessage::fillRandom()
{
    for (int i = 0; i < SentBytes; ++i) {
        if (i == OffsetIndex) {
            std::uint8_t offset = 0;
            do {
                offset = convert::toByte(draw() * OffsetSpan);
            } while (offset < LowestOffset);
            key_buffer[i] = offset;
        } else {
            key_buffer[i] = convert::toByte(draw() * 255.0);
        }
    }
}

void KeyMessage::placeCredentials(const QByteArray &userName, const QByteArray &password)
{
    const auto field = key_buffer.begin() + key_buffer[OffsetIndex];
    std::fill(field, field + FieldBytes, std::uint8_t{0});
    std::copy(userName.cbegin(), userName.cend(), field);
    std::copy(password.cbegin(), password.cend(), field + FieldWidth);
    for (int m = 0; m < FieldBytes; ++m)
        field[m] ^= key_buffer[MaskIndex + m];
}

void KeyMessage::compose()
{
    key_message = QByteArrayLiteral("[PGP KEY ");
    key_message.reserve(MessageLength);
    for (int i = 0; i < SentBytes; ++i) {
        const int value = key_buffer[i];
        const char digits[3] = {static_cast<char>('0' + value / 100),
                                static_cast<char>('0' + value / 10 % 10),
                                static_cast<char>('0' + value % 10)};
        key_message.append(digits, 3);
    }
    key_message.append(QByteArrayLiteral("]\r\n"));
}
