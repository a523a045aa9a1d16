#pragma once

// Reading a history file the way an outsider would, through a connection of
// the test's own, and a data packet with the fields the history keeps.

#include <QByteArray>
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

} // namespace support
