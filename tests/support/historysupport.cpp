#include "support/historysupport.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QRandomGenerator>
#include <QStringList>
#include <QUrl>
#include <QVariant>

#include "history/sqldialect.h"

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

namespace {

// Runs sql on the server at url, on a connection of its own.
QString runOn(const QUrl &url, const QString &sql)
{
    static int serial = 0;
    const QString name = QStringLiteral("test-server-%1").arg(++serial);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(url.host());
        db.setPort(url.port(-1));
        db.setUserName(url.userName());
        db.setDatabaseName(url.path().mid(1));
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            if (!query.exec(sql))
                error = sqldialect::reason(sqldialect::Engine::Postgres, query.lastError());
        }
    }
    QSqlDatabase::removeDatabase(name);
    return error;
}

} // namespace

ServerDatabase::ServerDatabase()
    : m_admin(qEnvironmentVariable("RTVIEWER_TEST_PGURI"))
{
    if (m_admin.isEmpty()) {
        m_reason = QStringLiteral("no PostgreSQL server for the tests: RTVIEWER_TEST_PGURI is not set (./test.sh starts one)");
        return;
    }
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        m_reason = QStringLiteral("Qt SQL's PostgreSQL driver is not installed (libqt6sql6-psql)");
        return;
    }
    const QString name = QStringLiteral("test_%1").arg(QRandomGenerator::global()->generate64(), 16, 16, QLatin1Char('0'));
    if (const QString error = runOn(QUrl(m_admin), QStringLiteral("CREATE DATABASE ") + name); !error.isEmpty()) {
        m_reason = QStringLiteral("cannot make a database on %1: %2").arg(m_admin, error);
        return;
    }
    m_name = name;
}

ServerDatabase::~ServerDatabase()
{
    if (isValid())
        runOn(QUrl(m_admin), QStringLiteral("DROP DATABASE %1 WITH (FORCE)").arg(m_name));
}

QString ServerDatabase::uri(const QString &user) const
{
    QUrl url(m_admin);
    url.setPath(QLatin1Char('/') + m_name);
    if (!user.isEmpty())
        url.setUserName(user);
    return url.toString();
}

QString ServerDatabase::run(const QString &sql, const QString &user) const
{
    return runOn(QUrl(uri(user)), sql);
}

} // namespace support
