#include "unitsim/keydecoder.h"

#include <array>

namespace {

const QByteArray Prefix = QByteArrayLiteral("[PGP KEY ");

QByteArray dropTrailingZeros(QByteArray bytes)
{
    while (!bytes.isEmpty() && bytes.back() == '\0')
        bytes.chop(1);
    return bytes;
}

KeyDecoder::Result refuse(const QString &why)
{
    KeyDecoder::Result result;
    result.error = why;
    return result;
}

} // namespace

KeyDecoder::Result KeyDecoder::decode(const QByteArray &message)
{
    QByteArray text = message;
    if (text.endsWith("\r\n"))
        text.chop(2);

    if (!text.startsWith(Prefix))
        return refuse(QStringLiteral("does not begin with \"[PGP KEY \""));
    if (!text.endsWith(']'))
        return refuse(QStringLiteral("does not end with \"]\""));

    const QByteArray digits = text.mid(Prefix.size(), text.size() - Prefix.size() - 1);
    if (digits.size() != Digits)
        return refuse(QStringLiteral("wrong length: %1 digits instead of %2")
                          .arg(digits.size())
                          .arg(Digits));

    std::array<int, Groups> groups{};
    for (int g = 0; g < Groups; ++g) {
        int value = 0;
        for (int d = 0; d < 3; ++d) {
            const char c = digits.at(g * 3 + d);
            if (c < '0' || c > '9')
                return refuse(QStringLiteral("character %1 is not a digit")
                                  .arg(Prefix.size() + g * 3 + d + 1));
            value = value * 10 + (c - '0');
        }
        if (value > 255)
            return refuse(QStringLiteral("group %1 is %2, above 255").arg(g).arg(value));
        groups[static_cast<std::size_t>(g)] = value;
    }

    const int offset = groups[5];
    if (offset < MinOffset || offset > MaxOffset)
        return refuse(QStringLiteral("offset %1 outside %2 to %3").arg(offset).arg(MinOffset).arg(MaxOffset));

    QByteArray field(20, '\0');
    for (int m = 0; m < 20; ++m)
        field[m] = static_cast<char>(groups[static_cast<std::size_t>(offset + m)]
                                     ^ groups[static_cast<std::size_t>(6 + m)]);

    Result result;
    result.ok = true;
    result.user = dropTrailingZeros(field.left(10));
    result.password = dropTrailingZeros(field.mid(10));
    return result;
}
