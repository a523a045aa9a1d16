#pragma once

// The unit's packet form with its checksum, and a file written in one go:
// widget-free, for tests of the libraries without windows as well.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

namespace support {

// A body ("*" and fields, each followed by a comma) with the checksum field
// the unit puts behind it: "C" and the 8-bit sum of every byte in front of
// it, then the final comma.
inline QByteArray withChecksum(const QByteArray &body)
{
    unsigned total = 0;
    for (const char c : body)
        total += static_cast<unsigned char>(c);
    return body + 'C' + QByteArray::number(total % 256U) + ',';
}

// A complete data packet of these fields, CR included.
inline QByteArray packet(const QList<QByteArray> &fields)
{
    return withChecksum("*" + fields.join(',') + ",") + '\r';
}

inline void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(content);
}

} // namespace support
