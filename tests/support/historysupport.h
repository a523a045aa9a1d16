#pragma once

// Reading a history file the way an outsider would, through a connection of
// the test's own; with the packets and the odd files the history's tests
// lay out.

#include <sys/stat.h>
#include <unistd.h>

#include <QByteArrayList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QString>
#include <QVariant>

#include "support/files.h"
#include "support/packets.h"

namespace support {

// Every row of a query on the file, columns joined by "|", NULL as "-". No
// rows when the file cannot be opened (it is never created here).
QByteArrayList sqlRows(const QString &path, const char *sql);

} // namespace support
