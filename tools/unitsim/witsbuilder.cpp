#include "unitsim/witsbuilder.h"

QByteArray WitsBuilder::item(int code, const QByteArray &value)
{
    return QByteArray::number(code).rightJustified(4, '0', true) + value;
}

QByteArray WitsBuilder::build(const QByteArrayList &header, const QList<Item> &items,
                              const QByteArray &lineEnd)
{
    QByteArrayList pieces;
    pieces.reserve(1 + header.size() + items.size());
    pieces.append(QByteArrayLiteral("^"));
    pieces.append(header);
    for (const Item &entry : items)
        pieces.append(item(entry.code, entry.value));
    return pieces.join(',') + lineEnd;
}
