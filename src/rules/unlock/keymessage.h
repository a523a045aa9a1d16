#pragma once

#include <array>
#include <cstdint>

#include <QByteArray>
#include <QString>

// Source of the random bytes of a key message. Each call yields a fresh
// uniform fraction r with 0 <= r < 1; tests script it to get exact bytes.
class KeyRandom
{
public:
    virtual ~KeyRandom() = default;

    virtual double next() = 0;
};

// Builds the key message that asks the unit for two-way operation:
// "[PGP KEY " + 255 bytes written as three digits each + "]" + CR LF,
// 777 bytes in all. Byte 5 holds the offset O (30 to 200) of a 20-byte field
// with the user name (O to O+9) and the password (O+10 to O+19), each code
// XOR-ed with the mask bytes 6 to 25 that travel in the same message.
//
// The masking only keeps the credentials out of sight of a casual look at
// the traffic; whoever captures the message can decode it. No part of the
// builder writes the credentials anywhere but into the returned message.
class KeyMessage
{
public:
    static constexpr int MessageLength = 777;
    static constexpr int FieldWidth = 10;  // characters of user name or password at most

    explicit KeyMessage(KeyRandom &random);

    // Throws Fault("Invalid procedure call or argument") for a character
    // above 255, for a user name or password longer than FieldWidth, or when
    // the random source yields a value outside 0 <= r < 1.
    QByteArray build(const QString &userName, const QString &password);

    // The same with a generator freshly seeded from the clock, so that two
    // messages with the same credentials never look alike.
    static QByteArray buildWithClockSeed(const QString &userName, const QString &password);

private:
    double draw();
    void fillRandom();
    void placeCredentials(const QByteArray &userName, const QByteArray &password);
    void compose();

    KeyRandom &m_random;
    // Indexes 0 to 254 travel in the message; 255 to 260 are never written.
    std::array<std::uint8_t, 261> key_buffer{};
    QByteArray key_message;
};
