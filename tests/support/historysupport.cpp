#include "support/historysupport.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QVariant>

namespace support {

QByteArrayList sqlRows(const QString &path, const char *sql)
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

} // namespace support
