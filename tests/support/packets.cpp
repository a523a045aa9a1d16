#include "support/packets.h"

#include <QByteArrayList>

namespace support {

QByteArray withChecksum(const QByteArray &body)
{
    unsigned total = 0;
    for (const char c : body)
        total += static_cast<unsigned char>(c);
    return body + 'C' + QByteArray::number(total % 256U) + ',';
}

QByteArray packet(const QList<QByteArray> &fields)
{
    return withChecksum("*" + fields.join(',') + ",") + '\r';
}

bool checksumPasses(const QByteArray &packet)
{
    const QByteArrayList pieces = packet.split(',');
    if (pieces.size() < 2 || !pieces.at(pieces.size() - 2).startsWith('C'))
        return false;
    const QByteArray &field = pieces.at(pieces.size() - 2);
    const qsizetype summed = packet.size() - field.size() - 1;
    int sum = 0;
    for (qsizetype i = 0; i < summed; ++i)
        sum = (sum + static_cast<unsigned char>(packet.at(i))) % 256;
    bool ok = false;
    return field.mid(1).toInt(&ok) == sum && ok;
}

QList<QByteArray> unitFields(const QByteArray &hole, const QByteArray &gas, const QByteArray &error)
{
    QList<QByteArray> fields;
    for (int k = 1; k <= 40; ++k)
        fields << QByteArray::number(k * 10 + 1);
    fields[0] = "0001";
    fields[3] = hole;
    fields[4] = gas;
    fields[20] = error;
    return fields;
}

} // namespace support
