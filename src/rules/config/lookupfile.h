#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTime>

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
