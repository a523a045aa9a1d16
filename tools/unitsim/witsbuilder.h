#pragma once

#include <QByteArray>
#include <QByteArrayList>

// WITS records as the unit forwards them: "^", four header pieces, then one
// piece per item (four-digit item code followed by the value), all joined by
// commas, then the line end.
class WitsBuilder
{
public:
    struct Item
    {
        int code = 0;      // 0 to 9999, sent as four digits
        QByteArray value;  // sent as it stands
    };

    static QByteArray item(int code, const QByteArray &value);
    static QByteArray build(const QByteArrayList &header, const QList<Item> &items,
                            const QByteArray &lineEnd);
};
