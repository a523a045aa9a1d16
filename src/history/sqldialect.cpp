#include "history/sqldialect.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

namespace sqldialect {

namespace {

// SQLite's primary result codes that need an answer of their own.
constexpr int SqliteBusy = 5;
constexpr int SqliteLocked = 6;
constexpr int SqliteCorrupt = 11;
constexpr int SqliteFull = 13;
constexpr int SqliteCantOpen = 14;
constexpr int SqliteNotADatabase = 26;

// Runs a statement to its end: a statement left open would hold a read
// transaction, in which the journal cannot change.
bool run(QSqlDatabase &db, const QString &statement, QSqlError *error)
{
    QSqlQuery query(db);
    if (query.exec(statement)) {
        query.finish();
        return true;
    }
    if (error)
        *error = query.lastError();
    return false;
}

} // namespace

QString driverName()
{
    return QStringLiteral("QSQLITE");
}

bool driverAvailable()
{
    return QSqlDatabase::isDriverAvailable(driverName());
}

QString connectOptions(bool readOnly, int lockWaitMs, bool asItLies)
{
    QString options = QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(qMax(0, lockWaitMs));
    if (readOnly)
        options += QStringLiteral(";QSQLITE_OPEN_READONLY");
    if (asItLies)
        options += QStringLiteral(";QSQLITE_OPEN_URI");
    return options;
}

QString unchangingFileName(const QString &path)
{
    // Neither locks nor the shared index: the engine takes the file for one
    // that nobody changes.
    return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded)
           + QStringLiteral("?mode=ro&immutable=1");
}

bool cannotShareReads(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && code == SqliteCantOpen;
}

bool readHeader(QSqlDatabase &db, QSqlError *error)
{
    return run(db, QStringLiteral("PRAGMA schema_version"), error);
}

bool prepareSession(QSqlDatabase &db, qint64 sizeLimitBytes, QSqlError *error)
{
    // A new file first gets the layout that lets pruned pages be handed back
    // to the file system a few at a time, instead of by rewriting the whole
    // file; it can only be chosen before anything is written.
    QSqlQuery pages(db);
    if (!pages.exec(QStringLiteral("PRAGMA page_count")) || !pages.next()) {
        if (error)
            *error = pages.lastError();
        return false;
    }
    const bool empty = pages.value(0).toLongLong() == 0;
    pages.finish();
    if (empty && !run(db, QStringLiteral("PRAGMA auto_vacuum=INCREMENTAL"), error))
        return false;
    if (!run(db, QStringLiteral("PRAGMA journal_mode=WAL"), error)
        || !run(db, QStringLiteral("PRAGMA synchronous=FULL"), error))
        return false;
    if (sizeLimitBytes > 0) {
        QSqlQuery pageSize(db);
        if (!pageSize.exec(QStringLiteral("PRAGMA page_size")) || !pageSize.next()) {
            if (error)
                *error = pageSize.lastError();
            return false;
        }
        const qint64 pages = qMax<qint64>(1, sizeLimitBytes / qMax<qint64>(1, pageSize.value(0).toLongLong()));
        pageSize.finish();
        if (!run(db, QStringLiteral("PRAGMA max_page_count=%1").arg(pages), error))
            return false;
    }
    return true;
}

QString idColumn()
{
    return QStringLiteral("INTEGER PRIMARY KEY");
}

QString bytesType()
{
    return QStringLiteral("BLOB");
}

QString insertIfAbsent(const QString &table, const QString &column)
{
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (?) ON CONFLICT (%2) DO NOTHING").arg(table, column);
}

QString integrityCheck()
{
    return QStringLiteral("PRAGMA integrity_check");
}

QString returnFreeSpace()
{
    return QStringLiteral("PRAGMA incremental_vacuum");
}

Failure classify(const QSqlError &error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    if (!ok)
        return Failure::Other;
    switch (code) {
    case SqliteCorrupt:
    case SqliteNotADatabase:
        return Failure::Corrupt;
    case SqliteBusy:
    case SqliteLocked:
        return Failure::Busy;
    case SqliteFull:
        return Failure::Full;
    default:
        return Failure::Other;
    }
}

} // namespace sqldialect
