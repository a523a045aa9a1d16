#include "history/sqldialect.h"

#include <cmath>
#include <cstdio>
#include <mutex>

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>
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

// How long a connection to a server may take before it fails, seconds,
// unless the address says otherwise.
constexpr int ServerConnectSeconds = 10;

const QString PasswordPlaces = QStringLiteral(
    "put the password in the password file (~/.pgpass, or the file PGPASSFILE names), in PGPASSWORD, or in a"
    " service file (PGSERVICEFILE) named by ?service=");

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

bool isServerAddress(const QString &text)
{
    return text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"));
}

Result<Address, QString> parseAddress(const QString &text)
{
    Address address;
    if (text.startsWith(QLatin1String("sqlite:"))) {
        address.path = text.mid(7);
        if (address.path.isEmpty())
            return failure(QStringLiteral("the address sqlite: names no file"));
        return address;
    }
    if (!isServerAddress(text)) {
        address.path = text;
        return address;
    }
    // The text is never repeated in a refusal: it may carry a password.
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return failure(QStringLiteral("the address of the server is not a PostgreSQL connection URI"
                                      " (postgresql://user@host:port/dbname?sslmode=require)"));
    if (url.userInfo().contains(QLatin1Char(':')))
        return failure(QStringLiteral("the address of the server carries a password, which a command line or a"
                                      " settings file would show to others: ")
                       + PasswordPlaces);
    address.engine = Engine::Postgres;
    address.host = url.host();
    address.port = url.port(-1);
    address.user = url.userName();
    address.database = url.path(QUrl::FullyDecoded).mid(1);
    if (address.database.contains(QLatin1Char('/')))
        return failure(QStringLiteral("the address of the server names more than a database: %1").arg(url.path()));
    // The driver's options the address may set. Their values reach the
    // driver as key=value words, so a value is one plain word.
    static const QStringList known = {QStringLiteral("sslmode"),     QStringLiteral("connect_timeout"),
                                      QStringLiteral("service"),     QStringLiteral("passfile"),
                                      QStringLiteral("sslrootcert"), QStringLiteral("sslcert"),
                                      QStringLiteral("sslkey"),      QStringLiteral("sslcrl"),
                                      QStringLiteral("host"),        QStringLiteral("application_name"),
                                      QStringLiteral("target_session_attrs")};
    static const QStringList sslModes = {QStringLiteral("disable"),    QStringLiteral("allow"),
                                         QStringLiteral("prefer"),     QStringLiteral("require"),
                                         QStringLiteral("verify-ca"),  QStringLiteral("verify-full")};
    static const QRegularExpression plainWord(QStringLiteral("^[A-Za-z0-9_./,:@+-]+$"));
    for (const auto &[key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded)) {
        if (key == QLatin1String("password"))
            return failure(QStringLiteral("the address of the server carries a password, which a command line or a"
                                          " settings file would show to others: ")
                           + PasswordPlaces);
        if (!known.contains(key))
            return failure(QStringLiteral("the address of the server has an option this program does not know: %1").arg(key));
        if (!plainWord.match(value).hasMatch())
            return failure(QStringLiteral("the address of the server has an unusable value for %1").arg(key));
        if (key == QLatin1String("sslmode") && !sslModes.contains(value))
            return failure(QStringLiteral("sslmode is one of %1, not %2").arg(sslModes.join(QStringLiteral(", ")), value));
        if (key == QLatin1String("connect_timeout") && value.toUInt() == 0)
            return failure(QStringLiteral("connect_timeout is a number of seconds above 0, not %1").arg(value));
        // A socket folder given as an option, as the address cannot hold
        // it in its host part.
        if (key == QLatin1String("host"))
            address.host = value;
        else
            address.options << key + QLatin1Char('=') + value;
    }
    return address;
}

namespace {

QtMessageHandler driverWarningsPassTo = nullptr;

void withoutLostStatementWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("Unable to free statement:")))
        return;
    if (driverWarningsPassTo)
        driverWarningsPassTo(type, context, message);
    else
        std::fputs(qPrintable(qFormatLogMessage(type, context, message) + QLatin1Char('\n')), stderr);
}

} // namespace

void quietenDriver(Engine engine)
{
    if (engine != Engine::Postgres)
        return;
    static std::once_flag installed;
    std::call_once(installed, [] { driverWarningsPassTo = qInstallMessageHandler(withoutLostStatementWarnings); });
}

QString driverName(Engine engine)
{
    return engine == Engine::Postgres ? QStringLiteral("QPSQL") : QStringLiteral("QSQLITE");
}

bool driverAvailable(Engine engine)
{
    return QSqlDatabase::isDriverAvailable(driverName(engine));
}

QString connectOptions(const Address &address, bool readOnly, int lockWaitMs, bool asItLies, int connectSeconds,
                       int silenceSeconds)
{
    if (address.engine == Engine::Postgres) {
        QStringList options = address.options;
        const QRegularExpression timeout(QStringLiteral("^connect_timeout="));
        if (connectSeconds > 0) {
            options.removeIf([&timeout](const QString &option) { return timeout.match(option).hasMatch(); });
            options << QStringLiteral("connect_timeout=%1").arg(connectSeconds);
        } else if (options.filter(timeout).isEmpty()) {
            // A server that does not answer must not hold the caller for long.
            options << QStringLiteral("connect_timeout=%1").arg(ServerConnectSeconds);
        }
        if (silenceSeconds > 0) {
            // Data unacknowledged for that long ends the connection, and so
            // do keep-alive probes unanswered while it waits for a reply.
            const int probe = qMax(1, silenceSeconds / 3);
            options << QStringLiteral("tcp_user_timeout=%1").arg(silenceSeconds * 1000)
                    << QStringLiteral("keepalives=1") << QStringLiteral("keepalives_idle=%1").arg(probe)
                    << QStringLiteral("keepalives_interval=%1").arg(probe) << QStringLiteral("keepalives_count=2");
        }
        // The session's settings travel with the connection request, so
        // that the server applies them as it starts the session: one
        // statement each after the connection was a round trip each (six,
        // the last a scan of every setting the server has), before a
        // viewer's first reading could start.
        //
        // A commit is acknowledged once it is on the server's disk: what a
        // recorder forwards and then forgets must be there. A statement
        // waiting on a lock (a migration under way) fails as busy rather
        // than holding a window; a viewer's session cannot write at all.
        QStringList settings = {QStringLiteral("synchronous_commit=on"), QStringLiteral("client_min_messages=warning"),
                                QStringLiteral("lock_timeout=%1").arg(qMax(1, lockWaitMs))};
        // A reader's statements are short and grouped: compiling one to
        // machine code (which the server starts on a grouped statement
        // over a day of readings it expects to be long) took longer than
        // running it, and a day's columns are grouped in memory rather than
        // sorted on disk. (The compiler's setting came with PostgreSQL 11;
        // an older server refuses the connection, naming it.)
        if (readOnly)
            settings << QStringLiteral("default_transaction_read_only=on") << QStringLiteral("jit=off")
                     << QStringLiteral("work_mem=32MB");
        options << QStringLiteral("options='-c %1'").arg(settings.join(QStringLiteral(" -c ")));
        return options.join(QLatin1Char(';'));
    }
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

bool cannotShareReads(Engine engine, const QSqlError &error)
{
    if (engine != Engine::Sqlite)
        return false;
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && code == SqliteCantOpen;
}

Result<void, QSqlError> readHeader(QSqlDatabase &db, Engine engine)
{
    // The driver's own statements as it connected were a server's answer.
    if (engine == Engine::Postgres)
        return {};
    return run(db, QStringLiteral("PRAGMA schema_version"));
}

Result<void, QSqlError> prepareSession(QSqlDatabase &db, Engine engine, bool readOnly, qint64 sizeLimitBytes)
{
    // A server's session was tuned as it started (connectOptions), its
    // wait for a lock too, as a file's wait is the driver's option.
    if (engine == Engine::Postgres)
        return {};
    // A file read is left as it lies: a reader changes nothing in it.
    if (readOnly)
        return {};
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

QString idColumn(Engine engine)
{
    // An identity column needs no grant of its own: whoever may insert may
    // number the row.
    return engine == Engine::Postgres ? QStringLiteral("BIGINT GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY")
                                      : QStringLiteral("INTEGER PRIMARY KEY");
}

QString bytesType(Engine engine)
{
    return engine == Engine::Postgres ? QStringLiteral("BYTEA") : QStringLiteral("BLOB");
}

QString insertIfAbsent(const QString &table, const QString &column)
{
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (?) ON CONFLICT (%2) DO NOTHING").arg(table, column);
}

QString keepFirstOfKey()
{
    // The same words on both engines: the key's index covers keyed rows
    // only, and the conflict names that index by its columns and condition.
    return QStringLiteral(" ON CONFLICT (origin, origin_id, time_ms) WHERE origin IS NOT NULL DO NOTHING");
}

bool insertsColumns(Engine engine)
{
    return engine == Engine::Postgres;
}

QStringList readingsValuesKept(Engine engine, const QStringList &valueColumns)
{
    if (engine != Engine::Postgres)
        return {};
    return {QStringLiteral("CREATE INDEX IF NOT EXISTS readings_unit_time_values ON readings (unit, time_ms) INCLUDE (%1)")
                .arg(valueColumns.join(QStringLiteral(", "))),
            QStringLiteral("DO $$ BEGIN IF current_setting('server_version_num')::int >= 130000 THEN"
                           " ALTER TABLE readings SET (autovacuum_vacuum_insert_threshold = 100000,"
                           " autovacuum_vacuum_insert_scale_factor = 0); END IF; END $$")};
}

QString columnOfTime(Engine engine, const QString &time)
{
    // The width is cast, so that neither engine divides in integers (or a
    // server in exact decimals). A server's FLOOR rounds down; a file has
    // no FLOOR unless built with its mathematics, and CAST cuts towards
    // zero, which is down for every time after 1970.
    if (engine == Engine::Postgres)
        return QStringLiteral("FLOOR(%1 / CAST(? AS DOUBLE PRECISION))").arg(time);
    return QStringLiteral("CAST(%1 / CAST(? AS REAL) AS INTEGER)").arg(time);
}

QString keptApart(Engine engine)
{
    // A file's engine takes an offset only after a limit, and no limit
    // (-1) is one a server refuses.
    return engine == Engine::Postgres ? QStringLiteral(" OFFSET 0") : QStringLiteral(" LIMIT -1 OFFSET 0");
}

ColumnValues::ColumnValues(ColumnType type)
    : m_type(type)
{
    m_text = QStringLiteral("{");
}

void ColumnValues::next()
{
    if (m_count++ > 0)
        m_text += QLatin1Char(',');
}

void ColumnValues::addNull()
{
    next();
    m_text += QLatin1String("NULL");
}

void ColumnValues::add(qint64 value)
{
    next();
    m_text += QString::number(value);
}

void ColumnValues::add(double value)
{
    next();
    if (std::isnan(value))
        m_text += QLatin1String("NaN");
    else if (std::isinf(value))
        m_text += value > 0 ? QLatin1String("Infinity") : QLatin1String("-Infinity");
    else
        m_text += QString::number(value, 'g', 17);  // read back as the same double
}

void ColumnValues::add(const QString &text)
{
    if (text.isNull()) {
        addNull();
        return;
    }
    next();
    // Every element quoted: an empty text, one with a brace, a comma or a
    // blank, and the text NULL stay texts.
    m_text += QLatin1Char('"');
    for (const QChar c : text) {
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            m_text += QLatin1Char('\\');
        m_text += c;
    }
    m_text += QLatin1Char('"');
}

void ColumnValues::add(const QByteArray &bytes)
{
    if (bytes.isNull()) {
        addNull();
        return;
    }
    next();
    // The bytes' hex form, whose backslash the array quotes.
    m_text += QLatin1String("\"\\\\x") + QLatin1String(bytes.toHex()) + QLatin1Char('"');
}

QString ColumnValues::literal() const
{
    return m_text + QLatin1Char('}');
}

QString insertColumns(const QString &table, const QList<Column> &columns, const QString &tail)
{
    static const char *const ArrayTypes[] = {"bigint[]", "double precision[]", "text[]", "bytea[]"};
    QStringList names;
    QStringList arrays;
    QStringList fields;
    for (qsizetype i = 0; i < columns.size(); ++i) {
        names << columns[i].name;
        arrays << QStringLiteral("CAST(? AS %1)").arg(QLatin1String(ArrayTypes[static_cast<int>(columns[i].type)]));
        fields << QStringLiteral("c%1").arg(i);
    }
    // WITH ORDINALITY numbers the rows as bound, and the rows are numbered
    // in the table in that order.
    return QStringLiteral("INSERT INTO %1 (%2) SELECT %3 FROM unnest(%4) WITH ORDINALITY AS r(%3, n) ORDER BY n")
               .arg(table, names.join(QStringLiteral(", ")), fields.join(QStringLiteral(", ")),
                    arrays.join(QStringLiteral(", ")))
           + tail;
}

Result<qint64, QSqlError> usedBytes(QSqlDatabase &db, Engine engine)
{
    if (engine == Engine::Postgres)
        return qint64(0);
    const Result<qint64, QSqlError> pages = number(db, QStringLiteral("PRAGMA page_count"));
    if (!pages)
        return pages;
    const Result<qint64, QSqlError> free = number(db, QStringLiteral("PRAGMA freelist_count"));
    if (!free)
        return free;
    const Result<qint64, QSqlError> size = number(db, QStringLiteral("PRAGMA page_size"));
    if (!size)
        return size;
    return (*pages - *free) * *size;
}

QString integrityCheck(Engine engine)
{
    return engine == Engine::Postgres ? QString() : QStringLiteral("PRAGMA integrity_check");
}

QString returnFreeSpace(Engine engine)
{
    return engine == Engine::Postgres ? QString() : QStringLiteral("PRAGMA incremental_vacuum");
}

Failure classify(Engine engine, const QSqlError &error)
{
    if (engine == Engine::Postgres) {
        // The server's SQLSTATE. Damage on a server is its administrator's
        // to mend, never a reason to put a store aside: it counts as any
        // other failure, as does a lost connection (opened again later).
        const QString state = error.nativeErrorCode();
        if (state == QLatin1String("53100"))
            return Failure::Full;
        static const QStringList busy = {QStringLiteral("55P03"), QStringLiteral("40001"), QStringLiteral("40P01"),
                                         QStringLiteral("57014")};
        if (busy.contains(state))
            return Failure::Busy;
        return Failure::Other;
    }
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

QString reason(Engine engine, const QSqlError &error)
{
    QString text = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    if (engine == Engine::Postgres) {
        // A server's message runs over lines (the statement, a pointer
        // under it, the state code) after a severity word.
        text = text.section(QLatin1Char('\n'), 0, 0);
        static const QRegularExpression severity(QStringLiteral("^(ERROR|FATAL|PANIC):\\s+"));
        text.remove(severity);
    }
    return text.simplified();
}

} // namespace sqldialect
