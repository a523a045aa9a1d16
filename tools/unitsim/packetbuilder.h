#pragma once

#include <QByteArray>
#include <QByteArrayList>

// Data packets as the unit puts them on the wire: "*", the fields joined by
// commas, a comma, the checksum field "C" + the 8-bit sum, a final comma, CR
// and (normally) LF. The checksum covers every byte from the "*" up to and
// including the comma in front of the "C".
class PacketBuilder
{
public:
    // The 8-bit sum of the byte values of `bytes`.
    static int checksum(const QByteArray &bytes);

    // "*" + fields joined by "," + "," : the part the checksum covers.
    static QByteArray body(const QByteArrayList &fields);

    // A complete packet. A checksumOverride of 0 to 255 is sent in place of the
    // true sum (to rehearse a corrupted packet); -1 sends the true sum.
    static QByteArray build(const QByteArrayList &fields, const QByteArray &lineEnd,
                            int checksumOverride = -1);

    // "*" + text + line end: a packet with no comma at all.
    static QByteArray buildWithoutComma(const QByteArray &text, const QByteArray &lineEnd);
};
