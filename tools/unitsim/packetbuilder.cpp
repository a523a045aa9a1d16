#include "unitsim/packetbuilder.h"

int PacketBuilder::checksum(const QByteArray &bytes)
{
    unsigned int sum = 0;
    for (const char c : bytes)
        sum += static_cast<unsigned char>(c);
    return static_cast<int>(sum % 256);
}

QByteArray PacketBuilder::body(const QByteArrayList &fields)
{
    return '*' + fields.join(',') + ',';
}

QByteArray PacketBuilder::build(const QByteArrayList &fields, const QByteArray &lineEnd,
                                int checksumOverride)
{
    const QByteArray covered = body(fields);
    const int sum = (checksumOverride >= 0 && checksumOverride <= 255) ? checksumOverride
                                                                        : checksum(covered);
    return covered + 'C' + QByteArray::number(sum) + ',' + lineEnd;
}

QByteArray PacketBuilder::buildWithoutComma(const QByteArray &text, const QByteArray &lineEnd)
{
    QByteArray plain = text;
    plain.replace(',', QByteArray());
    return '*' + plain + lineEnd;
}
