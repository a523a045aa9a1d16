#include "support/keymessages.h"

#include <QList>

namespace support {

namespace {

const QByteArray Head = QByteArrayLiteral("[PGP KEY ");
const QByteArray Tail = QByteArrayLiteral("]\r\n");

QByteArray unpadded(QByteArray codes)
{
    while (codes.endsWith('\0'))
        codes.chop(1);
    return codes;
}

} // namespace

QByteArray keyMessage(const QByteArray &user, const QByteArray &password, int offset, int fill)
{
    QList<int> bytes(255);
    for (int i = 0; i < 255; ++i)
        bytes[i] = (i * 37 + 11 + fill) % 256;
    bytes[5] = offset;
    for (int m = 0; m < 20; ++m) {
        const QByteArray &source = m < 10 ? user : password;
        const int index = m % 10;
        const int code = index < source.size() ? static_cast<unsigned char>(source.at(index)) : 0;
        bytes[offset + m] = code ^ bytes[6 + m];
    }
    QByteArray text = Head;
    for (const int value : bytes)
        text += QByteArray::number(value).rightJustified(3, '0');
    return text + Tail;
}

QByteArray DecodedKey::userName() const
{
    return unpadded(userField);
}

QByteArray DecodedKey::password() const
{
    return unpadded(passwordField);
}

DecodedKey decodeKeyMessage(const QByteArray &message)
{
    DecodedKey d;
    if (message.size() != 777 || !message.startsWith(Head) || !message.endsWith(Tail))
        return d;
    for (int i = 0; i < 255; ++i) {
        const QByteArray group = message.mid(Head.size() + 3 * i, 3);
        for (const char c : group) {
            if (c < '0' || c > '9')
                return d;
        }
        d.bytes[i] = group.toInt();
        if (d.bytes[i] > 255)
            return d;
    }
    d.offset = d.bytes[5];
    if (d.offset < 30 || d.offset > 200)
        return d;
    for (int m = 0; m < 20; ++m) {
        const char code = static_cast<char>(d.bytes[d.offset + m] ^ d.bytes[6 + m]);
        (m < 10 ? d.userField : d.passwordField).append(code);
    }
    d.wellFormed = true;
    return d;
}

} // namespace support
