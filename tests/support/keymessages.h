#pragma once

// The key message that unlocks two-way operation, built and read from its
// layout alone, independently of the viewer's builder and the simulator's
// decoder: "[PGP KEY ", 255 groups of three digits, "]" CR LF. Byte 5 is the
// offset of the credentials, bytes 6 to 25 their masks, the twenty bytes at
// the offset the user name's ten codes and the password's ten, each masked
// (exclusive or) and padded with zeros.

#include <array>

#include <QByteArray>

namespace support {

// A message for these credentials at this offset; the filler bytes follow
// a pattern that fill shifts.
QByteArray keyMessage(const QByteArray &user, const QByteArray &password, int offset, int fill = 0);

struct DecodedKey
{
    bool wellFormed = false;
    std::array<int, 255> bytes{};
    int offset = 0;
    QByteArray userField;      // ten codes, zero padding kept
    QByteArray passwordField;  // ten codes, zero padding kept

    // The fields without their zero padding.
    QByteArray userName() const;
    QByteArray password() const;
};

// Not well formed (and every field empty) unless the message has the
// layout: its length, head and tail, 255 groups of three digits each at
// most 255, and an offset of 30 to 200.
DecodedKey decodeKeyMessage(const QByteArray &message);

} // namespace support
