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

// A database of the test's own on the PostgreSQL server that ./test.sh
// starts (its address in RTVIEWER_TEST_PGURI), dropped at the end. Without
// a server it is invalid, and skipReason() says why.
class ServerDatabase
{
public:
    ServerDatabase();
    ~ServerDatabase();
    ServerDatabase(const ServerDatabase &) = delete;
    ServerDatabase &operator=(const ServerDatabase &) = delete;

    bool isValid() const { return !m_name.isEmpty(); }
    const QString &skipReason() const { return m_reason; }
    // The database's address, as the server's superuser or as user.
    QString uri(const QString &user = QString()) const;
    // Runs the statements in the database, as the superuser or as user:
    // the server's error, or empty.
    QString run(const QString &sql, const QString &user = QString()) const;

private:
    QString m_admin;
    QString m_name;
    QString m_reason;
};

} // namespace support
