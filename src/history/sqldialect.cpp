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
Result<void, QSqlError> run(QSqlDatabase &db, const QString &statement)
{
    QSqlQuery query(db);
    if (!query.exec(statement))
        return failure(query.lastError());
    query.finish();
    return {};
}

// The single number a statement gives.
Result<qint64, QSqlError> number(QSqlDatabase &db, const QString &statement)
{
    QSqlQuery query(db);
    if (!query.exec(statement) || !query.next())
        return failure(query.lastError());
    const qint64 value = query.value(0).toLongLong();
    query.finish();
    return value;
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

Result<void, QSqlError> readHeader(QSqlDatabase &db)
{
    return run(db, QStringLiteral("PRAGMA schema_version"));
}

Result<void, QSqlError> prepareSession(QSqlDatabase &db, qint64 sizeLimitBytes)
{
    // A new file first gets the layout that lets pruned pages be handed back
    // to the file system a few at a time, instead of by rewriting the whole
    // file; it can only be chosen before anything is written.
    const Result<qint64, QSqlError> pages = number(db, QStringLiteral("PRAGMA page_count"));
    if (!pages)
        return pages.failed();
    if (*pages == 0) {
        if (const Result<void, QSqlError> done = run(db, QStringLiteral("PRAGMA auto_vacuum=INCREMENTAL")); !done)
            return done;
    }
    for (const char *statement : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"}) {
        if (const Result<void, QSqlError> done = run(db, QLatin1String(statement)); !done)
            return done;
    }
    if (sizeLimitBytes > 0) {
        const Result<qint64, QSqlError> pageSize = number(db, QStringLiteral("PRAGMA page_size"));
        if (!pageSize)
            return pageSize.failed();
        const qint64 limit = qMax<qint64>(1, sizeLimitBytes / qMax<qint64>(1, *pageSize));
        return run(db, QStringLiteral("PRAGMA max_page_count=%1").arg(limit));
    }
    return {};
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
