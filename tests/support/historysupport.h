#pragma once

// Reading a history file the way an outsider would, through a connection of
// the test's own, a data packet with the fields the history keeps, and the
// odd files an operator's folder may hold.

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QByteArrayList>
#include <QStringList>
#include <QVariant>

namespace support {

// Every row of a query on the file, columns joined by "|", NULL as "-". No
// rows when the file cannot be opened (it is never created here).
inline QByteArrayList sqlRows(const QString &path, const char *sql)
{
    QByteArrayList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("test-reader"));
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            if (!query.exec(QString::fromLatin1(sql)))
                qFatal("%s: %s", sql, qPrintable(query.lastError().text()));
            while (query.next()) {
                QStringList columns;
                for (int i = 0; i < query.record().count(); ++i)
                    columns << (query.isNull(i) ? QStringLiteral("-") : query.value(i).toString());
                rows << columns.join(QLatin1Char('|')).toUtf8();
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("test-reader"));
    return rows;
}

// The unit's 40 fields as unit-sim sends them, with hole depth (4), gas
// units (5) and the error number (21) as given.
inline QList<QByteArray> unitFields(const QByteArray &hole, const QByteArray &gas, const QByteArray &error)
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

// Code that opens a named pipe waits for a peer for good: under this guard
// the test process is ended after some seconds instead, which fails the
// test rather than hanging it.
class HangGuard
{
public:
    explicit HangGuard(unsigned seconds = 20) { ::alarm(seconds); }
    ~HangGuard() { ::alarm(0); }
    HangGuard(const HangGuard &) = delete;
    HangGuard &operator=(const HangGuard &) = delete;
};

// A device node for a link to point at. Where the test may make one (as
// root) it is a node of its own in the test's folder, a twin of /dev/null:
// a regression that wrote through the link as root would otherwise replace
// the system's own /dev/null with a file. Elsewhere /dev/null, which no
// other user can replace.
inline QString deviceNode(const QString &folder)
{
    const QString node = folder + QStringLiteral("/device");
    if (::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        return node;
    return QStringLiteral("/dev/null");
}

inline bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// What lies at path, as the file system says without following a link:
// "fifo", "link", "file", "device", "none" or "other".
inline QByteArray kindAt(const QString &path)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return "none";
    if (S_ISFIFO(status.st_mode))
        return "fifo";
    if (S_ISLNK(status.st_mode))
        return "link";
    if (S_ISREG(status.st_mode))
        return "file";
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        return "device";
    return "other";
}

} // namespace support
