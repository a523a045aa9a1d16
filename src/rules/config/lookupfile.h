#pragma once

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QTime>

#include "rules/convert/result.h"

// The unit lookup table RDVlookup.TXT beside the program: which host and
// port serve which unit. Every row is "number host port [anything]" with the
// columns separated by single blanks.

// The server used for a serial number whose value is 0: where a unit
// simulator on this machine listens by default.
inline constexpr char DefaultServerAddress[] = "127.0.0.1";
inline constexpr char DefaultServerPort[] = "2400";

// Turns the serial number typed by the operator into the host and port
// texts, and returns the report lines (none when all went well). The texts
// are passed in and out because a missing table leaves the previous lookup
// in place; every other outcome rewrites both (both empty when no row
// matches or the table is faulty). The file is read afresh on every call.
// Never throws.
QList<QByteArray> readlookupfile(const QString &programDir, const QByteArray &serialText,
                                 QByteArray &server_address, QByteArray &server_port,
                                 const QTime &now = QTime::currentTime());

// The same for a table at a path of its own (the recorder's --lookup): the
// not-found line names the path as given.
QList<QByteArray> readLookupTable(const QString &path, const QByteArray &serialText,
                                  QByteArray &server_address, QByteArray &server_port,
                                  const QTime &now = QTime::currentTime());

// The number a serial text is looked up by: the leading-number value of its
// last three characters (of the whole text when shorter), so that 0001, 1001
// and 1 are looked up alike. Fault("Overflow") past 32 bits.
std::int32_t lookupUnitNumber(const QByteArray &serialText);

// The unit a serial text names in the table at path, by the same rule as
// the lookup: column 0 of the first row whose number is the serial's unit
// number, as the table spells it, so that 0001, 1001 and 1 are one unit.
// None when the serial's value is 0 (the default server, no row) or no row
// has its number; the reason when the table cannot be read.
Result<std::optional<QByteArray>> lookupUnit(const QString &path, const QByteArray &serialText);

// The unit of each serial in the table at a path, as the history records
// it: lookupUnit's answer, or the serial as typed where no row serves it or
// the table cannot be read (or no path was given). The answers are kept
// while the table's time and size stay as they were, so asking at every
// reading costs one look at the file's times.
class UnitResolver
{
public:
    explicit UnitResolver(QString path = QString());
    const QString &path() const { return m_path; }
    QString unitOf(const QString &serial);

private:
    QString m_path;
    QHash<QString, QString> m_units;
    QDateTime m_changed;
    qint64 m_size = -1;
};

// Column 0 of every row of the table (every line longer than 10
// characters), in the table's order: the serial numbers it serves. Element
// k is line k + 1, empty for a line that is no row.
Result<QList<QByteArray>> lookupTableSerials(const QString &path);
