#include "history/historystore.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "rules/files/safefile.h"

namespace {

struct Migration
{
    int version;
    QStringList tables;  // the tables the step makes
    QStringList statements;
};

// Every schema this program knows, oldest first. A file is brought forward
// one step at a time, each step in its own transaction; a step, once
// released, never changes.
std::vector<Migration> migrations(sqldialect::Engine engine)
{
    const QString id = sqldialect::idColumn(engine);
    const QString bytes = sqldialect::bytesType(engine);
    QString numeric;
    for (const history::NumericColumn &column : history::numericColumns())
        numeric += QStringLiteral(", %1 DOUBLE PRECISION").arg(QLatin1String(column.name));
    return {
        {1,
         {QStringLiteral("units"), QStringLiteral("readings"), QStringLiteral("wits_items"), QStringLiteral("events")},
         {QStringLiteral("CREATE TABLE units (unit TEXT NOT NULL PRIMARY KEY)"),
          QStringLiteral("CREATE TABLE readings (id %1, time_ms BIGINT NOT NULL, unit TEXT NOT NULL, packet %2 NOT NULL%3)")
              .arg(id, bytes, numeric),
          QStringLiteral("CREATE INDEX readings_unit_time ON readings (unit, time_ms)"),
          QStringLiteral("CREATE TABLE wits_items (id %1, time_ms BIGINT NOT NULL, unit TEXT NOT NULL,"
                         " item_position INTEGER NOT NULL, item_code INTEGER NOT NULL, item_value DOUBLE PRECISION)")
              .arg(id),
          QStringLiteral("CREATE INDEX wits_items_unit_time ON wits_items (unit, time_ms)"),
          QStringLiteral("CREATE TABLE events (id %1, time_ms BIGINT NOT NULL, unit TEXT NOT NULL,"
                         " kind TEXT NOT NULL, detail TEXT NOT NULL)")
              .arg(id),
          QStringLiteral("CREATE INDEX events_unit_time ON events (unit, time_ms)")}},
        // The WITS records as received, for a raw export that gives them back
        // byte for byte.
        {2,
         {QStringLiteral("wits_records")},
         {QStringLiteral("CREATE TABLE wits_records (id %1, time_ms BIGINT NOT NULL, unit TEXT NOT NULL,"
                         " record %2 NOT NULL)")
              .arg(id, bytes),
          QStringLiteral("CREATE INDEX wits_records_unit_time ON wits_records (unit, time_ms)")}},
        // Beside each reading: the serial as typed (the unit is now the
        // unit the serial resolves to), the unit's name and its own clock.
        // Rows written before keep no value in them: their unit is their
        // serial, and their fields are in the packet. Nothing is rewritten,
        // so a year's file is brought forward at once.
        {3,
         {},
         {QStringLiteral("ALTER TABLE readings ADD COLUMN serial TEXT"),
          QStringLiteral("ALTER TABLE readings ADD COLUMN unit_name %1").arg(bytes),
          QStringLiteral("ALTER TABLE readings ADD COLUMN unit_time_ms BIGINT")}},
        // Where each row was first recorded (history::RowKey), so that a
        // row forwarded again after a lost acknowledgement, or a history
        // copied twice, is written once; and the history's own number, the
        // origin of the rows recorded in it. Rows written before have no
        // key; the index holds keyed rows only, so a year's file gains no
        // index entry per row.
        {4, {QStringLiteral("history_identity")}, [] {
             QStringList statements;
             for (const char *table : {"readings", "wits_items", "wits_records", "events"}) {
                 const QLatin1String name(table);
                 statements << QStringLiteral("ALTER TABLE %1 ADD COLUMN origin BIGINT").arg(name)
                            << QStringLiteral("ALTER TABLE %1 ADD COLUMN origin_id BIGINT").arg(name)
                            << QStringLiteral("CREATE UNIQUE INDEX %1_origin ON %1 (origin, origin_id, time_ms)"
                                              " WHERE origin IS NOT NULL")
                                   .arg(name);
             }
             // A positive 63-bit number: two histories that draw the same
             // are not to be expected among a fleet's.
             qint64 identity = 0;
             while (identity == 0)
                 identity = static_cast<qint64>(QRandomGenerator::system()->generate64() >> 1);
             statements << QStringLiteral("CREATE TABLE history_identity (origin BIGINT NOT NULL)")
                        << QStringLiteral("INSERT INTO history_identity (origin) VALUES (%1)").arg(identity);
             return statements;
         }()},
        // Each unit's own gas levels, a row per change, the newest holding
        // (history/gaslevelstore).
        {5,
         {QStringLiteral("gas_levels")},
         {QStringLiteral("CREATE TABLE gas_levels (id %1, unit TEXT NOT NULL, changed_ms BIGINT NOT NULL,"
                         " clear_below DOUBLE PRECISION NOT NULL, high_above DOUBLE PRECISION NOT NULL,"
                         " very_high_above DOUBLE PRECISION NOT NULL)")
              .arg(id),
          QStringLiteral("CREATE INDEX gas_levels_unit ON gas_levels (unit, id)")}},
    };
}

// Indexes made at an open for writing when missing (CREATE INDEX IF NOT
// EXISTS on both engines), without a schema step; on a server by its owner.
// The readings by the unit's own clock, for the trends drawn by it; on a
// server, the readings' values kept in an index of their own as well.
QStringList keptIndexes(sqldialect::Engine engine)
{
    QStringList values;
    for (const history::NumericColumn &column : history::numericColumns())
        values << QLatin1String(column.name);
    return QStringList{QStringLiteral("CREATE INDEX IF NOT EXISTS readings_unit_unit_time ON readings (unit, unit_time_ms)")}
           + sqldialect::readingsValuesKept(engine, values);
}

// Readings written by one statement while a batch has as many, and the
// values each binds: the key, time, unit, packet, serial, name, unit time,
// and the numeric columns.
constexpr int ReadingsPerStatement = 64;
constexpr int ReadingColumns = 8 + history::NumericColumnCount;

const char *const PrunedTables[] = {"readings", "wits_items", "wits_records", "events"};
// By HistoryStore::Table.
const char *const TableNames[] = {"readings", "wits_items", "wits_records", "events"};

QVariant optionalValue(const std::optional<double> &value)
{
    return value ? QVariant(*value) : QVariant(QMetaType::fromType<double>());
}

// A text column holds text, an empty one too: a null text would be bound
// as NULL.
QVariant textValue(const QString &text)
{
    return text.isNull() ? QVariant(QStringLiteral("")) : QVariant(text);
}

// What went wrong, as one line that names the file.
HistoryError failureOf(sqldialect::Engine engine, const QString &what, const QString &path, const QSqlError &error)
{
    const QString reason = sqldialect::reason(engine, error);
    sqldialect::Failure kind = sqldialect::classify(engine, error);
    if (kind == sqldialect::Failure::None)
        kind = sqldialect::Failure::Other;
    return {kind, QStringLiteral("%1 %2: %3").arg(what, QDir::toNativeSeparators(path), reason)};
}

// The places in a reading row's values of the numeric columns named, each
// name added to the select list in that order; an unknown name is refused
// before any statement is made.
HistoryResult<std::vector<std::size_t>> numericPlaces(const QStringList &columns, QString &select)
{
    std::vector<std::size_t> places;
    for (const QString &name : columns) {
        const history::NumericColumn *column = history::numericColumn(name);
        if (!column)
            return failure(HistoryError{sqldialect::Failure::Other, QStringLiteral("no column %1 in the history").arg(name)});
        places.push_back(static_cast<std::size_t>(column - history::numericColumns().data()));
        select += QStringLiteral(", ") + QLatin1String(column->name);
    }
    return places;
}

} // namespace

HistoryStore::HistoryStore()
{
    // Each store has a connection of its own, so a recorder and an export
    // can hold the same file at once.
    static QAtomicInteger<int> serial;
    m_connection = QStringLiteral("history-%1").arg(serial.fetchAndAddRelaxed(1));
}

HistoryStore::~HistoryStore()
{
    close();
}

HistoryLimits readerLimits()
{
    HistoryLimits limits;
    limits.lockWaitMs = ReaderLockWaitMs;
    return limits;
}

HistoryResult<void> HistoryStore::open(const QString &path, Access access, const HistoryLimits &limits)
{
    close();
    m_path = path;
    const bool readOnly = access == Access::ReadOnly;
    auto refused = [](const QString &text) { return failure(HistoryError{sqldialect::Failure::Other, text}); };
    const Result<sqldialect::Address, QString> address = sqldialect::parseAddress(path);
    if (!address)
        return refused(address.reason());
    m_engine = address->engine;
    if (!sqldialect::driverAvailable(m_engine))
        return refused(QStringLiteral("the database driver %1 is not installed").arg(sqldialect::driverName(m_engine)));
    const bool server = m_engine == sqldialect::Engine::Postgres;
    const QString file = address->path;
    // The engine would open a named pipe and wait on it for good, and
    // write its pages into a device.
    for (const QString &name : server ? QStringList() : files::withJournals(file)) {
        const QString refusal = files::openRefusal(name);
        if (!refusal.isEmpty())
            return refused(QStringLiteral("cannot open %1: %2").arg(QDir::toNativeSeparators(name), refusal));
    }
    if (!server && readOnly && !QFileInfo::exists(file))
        return refused(QStringLiteral("no history at %1").arg(QDir::toNativeSeparators(file)));
    const QString folder = QFileInfo(file).absolutePath();
    if (!server && !readOnly && !QDir().mkpath(folder))
        return refused(QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(folder)));

    Result<void, QSqlError> connected = connectTo(*address, readOnly, limits, false);
    // A write-ahead file on a read-only medium cannot be read the usual way,
    // which shares an index file beside it with the writers; where that file
    // cannot be made, the file is read as it lies.
    if (!connected && readOnly && sqldialect::cannotShareReads(m_engine, connected.reason()))
        connected = connectTo(*address, readOnly, limits, true);
    if (!connected)
        return failure(sqlFailure(QStringLiteral("cannot open"), connected.reason()));
    // Another program's database is refused before anything in it changes,
    // its journal included.
    const HistoryResult<int> version = schemaVersion();
    if (!version)
        return version.failed();
    m_schema = *version;
    if (*version > SchemaVersion)
        return refused(QStringLiteral("%1 was written by a newer program (schema %2, this one knows %3)")
                           .arg(QDir::toNativeSeparators(path))
                           .arg(*version)
                           .arg(SchemaVersion));
    // A server's schema is its owner's: recorders and viewers connect with
    // roles that cannot change it, and say what they need instead.
    if (server && access != Access::Migrate && *version < SchemaVersion) {
        close();
        return refused(QStringLiteral("%1 %2; this program needs schema %3: its owner brings it forward with"
                                      " rthistory migrate --db %1")
                           .arg(path,
                                *version < 1 ? QStringLiteral("holds no history yet")
                                             : QStringLiteral("has schema %1").arg(*version))
                           .arg(SchemaVersion));
    }
    if (const Result<void, QSqlError> session =
            sqldialect::prepareSession(m_db, m_engine, readOnly, limits.sizeBytes);
        !session)
        return failure(sqlFailure(QStringLiteral("cannot open"), session.reason()));
    if (limits.cacheKiB > 0 && m_engine == sqldialect::Engine::Sqlite) {
        QSqlQuery cache(m_db);
        if (!cache.exec(QStringLiteral("PRAGMA cache_size=-%1").arg(limits.cacheKiB)))
            return failure(sqlFailure(QStringLiteral("cannot open"), cache.lastError()));
    }
    if (readOnly) {
        if (*version < 1)
            return refused(QStringLiteral("%1 holds no history yet").arg(QDir::toNativeSeparators(path)));
        const HistoryResult<qint64> identity = readIdentity();
        if (!identity)
            return identity.failed();
        m_identity = *identity;
        return {};
    }
    if (const HistoryResult<void> migrated = migrate(*version); !migrated)
        return migrated;
    // A server's indexes are its owner's, as its schema is.
    if (!server || access == Access::Migrate) {
        if (const HistoryResult<void> indexed = keepIndexes(); !indexed)
            return indexed;
    }
    m_schema = SchemaVersion;
    const HistoryResult<qint64> identity = readIdentity();
    if (!identity)
        return identity.failed();
    m_identity = *identity;
    return prepareStatements();
}

Result<void, QSqlError> HistoryStore::connectTo(const sqldialect::Address &address, bool readOnly,
                                                const HistoryLimits &limits, bool asItLies)
{
    close();
    sqldialect::quietenDriver(address.engine);
    m_db = QSqlDatabase::addDatabase(sqldialect::driverName(address.engine), m_connection);
    if (address.engine == sqldialect::Engine::Postgres) {
        m_db.setHostName(address.host);
        m_db.setPort(address.port);
        m_db.setUserName(address.user);
        m_db.setDatabaseName(address.database);
    } else {
        m_db.setDatabaseName(asItLies ? sqldialect::unchangingFileName(address.path) : address.path);
    }
    m_db.setConnectOptions(sqldialect::connectOptions(address, readOnly, limits.lockWaitMs, asItLies,
                                                      limits.connectSeconds, limits.silenceSeconds));
    if (!m_db.open()) {
        const QSqlError error = m_db.lastError();
        close();
        return failure(error);
    }
    // The first statement reads the file's header, so a file that is not a
    // database fails here rather than later.
    const Result<void, QSqlError> header = sqldialect::readHeader(m_db, address.engine);
    if (!header)
        close();
    return header;
}

HistoryResult<qint64> HistoryStore::readIdentity()
{
    if (m_schema < 4)
        return qint64(0);
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("SELECT origin FROM history_identity")))
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    const qint64 identity = query.next() ? query.value(0).toLongLong() : 0;
    if (query.lastError().isValid())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    return identity;
}

void HistoryStore::close()
{
    m_identity = 0;
    m_insertReading.reset();
    m_insertReadings.reset();
    m_insertWits.reset();
    m_insertWitsRecord.reset();
    m_insertEvent.reset();
    m_insertUnit.reset();
    for (std::unique_ptr<QSqlQuery> &query : m_insertColumns)
        query.reset();
    m_eachReading.reset();
    m_eachColumns.clear();
    m_knownUnits.clear();
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

HistoryError HistoryStore::sqlFailure(const QString &what, const QSqlError &error) const
{
    return failureOf(m_engine, what, m_path, error);
}

HistoryResult<void> HistoryStore::exec(const QString &statement)
{
    QSqlQuery query(m_db);
    if (query.exec(statement))
        return {};
    return failure(sqlFailure(QStringLiteral("cannot update"), query.lastError()));
}

HistoryResult<int> HistoryStore::schemaVersion()
{
    const QStringList tables = m_db.tables();
    if (tables.isEmpty()) {
        if (m_db.lastError().isValid())
            return failure(sqlFailure(QStringLiteral("cannot read"), m_db.lastError()));
        return 0;
    }
    const auto notHistory = failure(HistoryError{
        sqldialect::Failure::Other, QStringLiteral("%1 is not a history file").arg(QDir::toNativeSeparators(m_path))});
    if (!tables.contains(QStringLiteral("schema_version")))
        return notHistory;
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    const int version = query.value(0).toInt();
    query.finish();
    if (version < 1)
        return notHistory;
    // The tables of every schema up to the one it claims: a table of that
    // name alone does not make a history.
    for (const Migration &step : migrations(m_engine)) {
        if (step.version > version)
            break;
        for (const QString &table : step.tables) {
            if (!tables.contains(table))
                return notHistory;
        }
    }
    return version;
}

HistoryResult<void> HistoryStore::migrate(int version)
{
    for (const Migration &step : migrations(m_engine)) {
        if (step.version <= version)
            continue;
        if (!m_db.transaction())
            return failure(sqlFailure(QStringLiteral("cannot update"), m_db.lastError()));
        QStringList statements = step.statements;
        if (step.version == 1)
            statements.prepend(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"));
        statements.append(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(step.version));
        for (const QString &statement : statements) {
            if (const HistoryResult<void> done = exec(statement); !done) {
                m_db.rollback();
                return done;
            }
        }
        if (!m_db.commit()) {
            const QSqlError error = m_db.lastError();
            m_db.rollback();
            return failure(sqlFailure(QStringLiteral("cannot update"), error));
        }
    }
    return {};
}

HistoryResult<void> HistoryStore::keepIndexes()
{
    for (const QString &statement : keptIndexes(m_engine)) {
        if (const HistoryResult<void> done = exec(statement); !done)
            return done;
    }
    return {};
}

HistoryResult<void> HistoryStore::prepareStatements()
{
    QSqlError error;
    auto prepare = [this, &error](std::unique_ptr<QSqlQuery> &query, const QString &statement) {
        query = std::make_unique<QSqlQuery>(m_db);
        if (query->prepare(statement))
            return true;
        error = query->lastError();
        return false;
    };
    QString columns = QStringLiteral("origin, origin_id, time_ms, unit, packet, serial, unit_name, unit_time_ms");
    QString marks = QStringLiteral("?, ?, ?, ?, ?, ?, ?, ?");
    for (const history::NumericColumn &column : history::numericColumns()) {
        columns += QStringLiteral(", ") + QLatin1String(column.name);
        marks += QStringLiteral(", ?");
    }
    const QString keep = sqldialect::keepFirstOfKey();
    QStringList tuples;
    for (int i = 0; i < ReadingsPerStatement; ++i)
        tuples << QLatin1Char('(') + marks + QLatin1Char(')');
    if (prepare(m_insertReading, QStringLiteral("INSERT INTO readings (%1) VALUES (%2)").arg(columns, marks) + keep)
        && prepare(m_insertReadings,
                   QStringLiteral("INSERT INTO readings (%1) VALUES %2").arg(columns, tuples.join(QStringLiteral(", "))) + keep)
        && prepare(m_insertWits, QStringLiteral("INSERT INTO wits_items (origin, origin_id, time_ms, unit, item_position,"
                                                " item_code, item_value) VALUES (?, ?, ?, ?, ?, ?, ?)")
                                     + keep)
        && prepare(m_insertWitsRecord, QStringLiteral("INSERT INTO wits_records (origin, origin_id, time_ms, unit, record)"
                                                      " VALUES (?, ?, ?, ?, ?)")
                                           + keep)
        && prepare(m_insertEvent, QStringLiteral("INSERT INTO events (origin, origin_id, time_ms, unit, kind, detail)"
                                                 " VALUES (?, ?, ?, ?, ?, ?)")
                                      + keep)
        && prepare(m_insertUnit, sqldialect::insertIfAbsent(QStringLiteral("units"), QStringLiteral("unit")))) {
        if (!sqldialect::insertsColumns(m_engine))
            return {};
        using T = sqldialect::ColumnType;
        QList<sqldialect::Column> readings = {{QStringLiteral("origin"), T::Integer},
                                              {QStringLiteral("origin_id"), T::Integer},
                                              {QStringLiteral("time_ms"), T::Integer},
                                              {QStringLiteral("unit"), T::Text},
                                              {QStringLiteral("packet"), T::Bytes},
                                              {QStringLiteral("serial"), T::Text},
                                              {QStringLiteral("unit_name"), T::Bytes},
                                              {QStringLiteral("unit_time_ms"), T::Integer}};
        for (const history::NumericColumn &column : history::numericColumns())
            readings.append({QLatin1String(column.name), T::Real});
        const QList<sqldialect::Column> keyed = {{QStringLiteral("origin"), T::Integer},
                                                 {QStringLiteral("origin_id"), T::Integer},
                                                 {QStringLiteral("time_ms"), T::Integer},
                                                 {QStringLiteral("unit"), T::Text}};
        const QList<sqldialect::Column> tables[] = {
            readings,
            keyed + QList<sqldialect::Column>{{QStringLiteral("item_position"), T::Integer},
                                              {QStringLiteral("item_code"), T::Integer},
                                              {QStringLiteral("item_value"), T::Real}},
            keyed + QList<sqldialect::Column>{{QStringLiteral("record"), T::Bytes}},
            keyed + QList<sqldialect::Column>{{QStringLiteral("kind"), T::Text}, {QStringLiteral("detail"), T::Text}}};
        bool prepared = true;
        for (int i = 0; prepared && i < 4; ++i)
            prepared = prepare(m_insertColumns[i],
                               sqldialect::insertColumns(QLatin1String(TableNames[i]), tables[i], keep));
        if (prepared
            && prepare(m_insertColumns[4], sqldialect::insertColumns(QStringLiteral("units"),
                                                                     {{QStringLiteral("unit"), T::Text}},
                                                                     QStringLiteral(" ON CONFLICT (unit) DO NOTHING"))))
            return {};
    }
    return failure(sqlFailure(QStringLiteral("cannot prepare"), error));
}

template <typename Run, typename Unit>
bool HistoryStore::writeRows(const history::Batch &batch, Run &run, Unit &unit, history::RowCounts *added)
{
    // The key first: none binds NULL, and such a row is always written.
    auto key = [](QSqlQuery &query, const history::RowKey &key) {
        const QVariant none(QMetaType::fromType<qint64>());
        query.bindValue(0, key.origin != 0 ? QVariant(key.origin) : none);
        query.bindValue(1, key.origin != 0 ? QVariant(key.id) : none);
    };
    // Whether the row went in, or its key was there already.
    auto count = [added](QSqlQuery &query, qint64 history::RowCounts::*kind) {
        if (added && query.numRowsAffected() > 0)
            added->*kind += 1;
    };
    // Readings, the bulk of every batch, go ReadingsPerStatement to a
    // statement while there are as many, where the engine does not take
    // whole columns (writeColumns).
    auto bindReading = [](QSqlQuery &query, int at, const history::ReadingRow &row) {
        const QVariant none(QMetaType::fromType<qint64>());
        query.bindValue(at, row.key.origin != 0 ? QVariant(row.key.origin) : none);
        query.bindValue(at + 1, row.key.origin != 0 ? QVariant(row.key.id) : none);
        query.bindValue(at + 2, row.timeMs);
        query.bindValue(at + 3, textValue(row.unit));
        query.bindValue(at + 4, row.packet);
        query.bindValue(at + 5, textValue(row.serial.isEmpty() ? row.unit : row.serial));
        query.bindValue(at + 6, row.unitName);
        query.bindValue(at + 7, row.unitTimeMs ? QVariant(*row.unitTimeMs) : none);
        for (std::size_t i = 0; i < row.values.size(); ++i)
            query.bindValue(at + 8 + static_cast<int>(i), optionalValue(row.values[i]));
    };
    bool ok = true;
    const std::vector<history::ReadingRow> &readings = batch.readings;
    for (std::size_t done = 0; ok && done < readings.size();) {
        const bool many = readings.size() - done >= std::size_t(ReadingsPerStatement);
        const std::size_t take = many ? std::size_t(ReadingsPerStatement) : 1;
        QSqlQuery &query = many ? *m_insertReadings : *m_insertReading;
        for (std::size_t i = 0; ok && i < take; ++i) {
            if ((ok = unit(readings[done + i].unit)))
                bindReading(query, static_cast<int>(i) * ReadingColumns, readings[done + i]);
        }
        if (!ok || !(ok = run(query)))
            break;
        // Rows whose key was there already are not among those affected.
        if (added)
            added->readings += qMax(0, query.numRowsAffected());
        done += take;
    }
    for (auto it = batch.witsItems.begin(); ok && it != batch.witsItems.end(); ++it) {
        if (!(ok = unit(it->unit)))
            break;
        key(*m_insertWits, it->key);
        m_insertWits->bindValue(2, it->timeMs);
        m_insertWits->bindValue(3, textValue(it->unit));
        m_insertWits->bindValue(4, it->position);
        m_insertWits->bindValue(5, it->code);
        m_insertWits->bindValue(6, it->value);
        if ((ok = run(*m_insertWits)))
            count(*m_insertWits, &history::RowCounts::witsItems);
    }
    for (auto it = batch.witsRecords.begin(); ok && it != batch.witsRecords.end(); ++it) {
        if (!(ok = unit(it->unit)))
            break;
        key(*m_insertWitsRecord, it->key);
        m_insertWitsRecord->bindValue(2, it->timeMs);
        m_insertWitsRecord->bindValue(3, textValue(it->unit));
        m_insertWitsRecord->bindValue(4, it->record);
        if ((ok = run(*m_insertWitsRecord)))
            count(*m_insertWitsRecord, &history::RowCounts::witsRecords);
    }
    for (auto it = batch.events.begin(); ok && it != batch.events.end(); ++it) {
        if (!(ok = unit(it->unit)))
            break;
        key(*m_insertEvent, it->key);
        m_insertEvent->bindValue(2, it->timeMs);
        m_insertEvent->bindValue(3, textValue(it->unit));
        m_insertEvent->bindValue(4, textValue(it->kind));
        m_insertEvent->bindValue(5, textValue(it->detail));
        if ((ok = run(*m_insertEvent)))
            count(*m_insertEvent, &history::RowCounts::events);
    }
    return ok;
}

HistoryResult<void> HistoryStore::write(const history::Batch &batch)
{
    return writeAll({&batch}, nullptr);
}

HistoryResult<void> HistoryStore::write(const history::Batch &batch, history::RowCounts &added)
{
    history::RowCounts counted;
    const HistoryResult<void> written = writeAll({&batch}, &counted);
    if (written)
        added += counted;
    return written;
}

HistoryResult<void> HistoryStore::write(const std::deque<history::Batch> &batches)
{
    std::vector<const history::Batch *> all;
    all.reserve(batches.size());
    for (const history::Batch &batch : batches)
        all.push_back(&batch);
    return writeAll(all, nullptr);
}

HistoryResult<void> HistoryStore::writeAll(const std::vector<const history::Batch *> &batches,
                                           history::RowCounts *added)
{
    if (!m_insertReading)
        return failure(HistoryError{sqldialect::Failure::Other, QStringLiteral("the history file is not open")});
    if (std::all_of(batches.begin(), batches.end(), [](const history::Batch *batch) { return batch->empty(); }))
        return {};
    if (!m_db.transaction())
        return failure(sqlFailure(QStringLiteral("cannot write to"), m_db.lastError()));
    QStringList addedUnits;
    QSqlError error;
    bool ok = writeInto(batches, added, error, addedUnits);
    if (ok && !m_db.commit()) {
        error = m_db.lastError();
        ok = false;
    }
    if (!ok) {
        m_db.rollback();
        return failure(sqlFailure(QStringLiteral("cannot write to"), error));
    }
    m_knownUnits += addedUnits;
    return {};
}

bool HistoryStore::writeInto(const std::vector<const history::Batch *> &batches, history::RowCounts *added,
                             QSqlError &error, QStringList &addedUnits)
{
    auto run = [&error](QSqlQuery &query) {
        if (query.exec())
            return true;
        error = query.lastError();
        return false;
    };
    auto unit = [&](const QString &name) {
        if (m_knownUnits.contains(name) || addedUnits.contains(name))
            return true;
        addedUnits.append(name);
        m_insertUnit->bindValue(0, textValue(name));
        return run(*m_insertUnit);
    };
    bool ok = true;
    if (sqldialect::insertsColumns(m_engine))
        ok = writeColumns(batches, added, error, addedUnits);
    for (auto batch = batches.begin(); ok && !sqldialect::insertsColumns(m_engine) && batch != batches.end(); ++batch)
        ok = writeRows(**batch, run, unit, added);
    // Readers following a server hear of the units as the commit lands
    // (a notification goes out with its transaction, or not at all).
    if (ok && m_engine == sqldialect::Engine::Postgres)
        ok = notifyUnits(batches, error);
    return ok;
}

bool HistoryStore::writeColumns(const std::vector<const history::Batch *> &batches, history::RowCounts *added,
                                QSqlError &error, QStringList &addedUnits)
{
    using sqldialect::ColumnType;
    using sqldialect::ColumnValues;
    // A few statements whatever the rows: a server a long way off answers
    // each after a round trip. Each table's rows keep their order.
    auto run = [&error](QSqlQuery &query, const std::vector<ColumnValues> &columns,
                        qint64 history::RowCounts::*kind, history::RowCounts *added) {
        if (columns.front().size() == 0)
            return true;
        for (std::size_t i = 0; i < columns.size(); ++i)
            query.bindValue(static_cast<int>(i), columns[i].literal());
        if (!query.exec()) {
            error = query.lastError();
            return false;
        }
        // Rows whose key was there already are not among those affected.
        if (added && kind)
            added->*kind += qMax(0, query.numRowsAffected());
        return true;
    };
    auto columnsOf = [](std::initializer_list<ColumnType> types) {
        std::vector<ColumnValues> columns;
        for (ColumnType type : types)
            columns.emplace_back(type);
        return columns;
    };
    auto key = [](std::vector<ColumnValues> &columns, const history::RowKey &key, qint64 timeMs, const QString &unit) {
        if (key.origin != 0) {
            columns[0].add(key.origin);
            columns[1].add(key.id);
        } else {
            columns[0].addNull();
            columns[1].addNull();
        }
        columns[2].add(timeMs);
        columns[3].add(textValue(unit).toString());
    };
    std::vector<ColumnValues> units = columnsOf({ColumnType::Text});
    auto unit = [&](const QString &name) {
        if (m_knownUnits.contains(name) || addedUnits.contains(name))
            return;
        addedUnits.append(name);
        units[0].add(textValue(name).toString());
    };
    const auto keyed = {ColumnType::Integer, ColumnType::Integer, ColumnType::Integer, ColumnType::Text};
    std::vector<ColumnValues> readings = columnsOf(keyed);
    for (ColumnType type : {ColumnType::Bytes, ColumnType::Text, ColumnType::Bytes, ColumnType::Integer})
        readings.emplace_back(type);
    readings.insert(readings.end(), history::NumericColumnCount, ColumnValues(ColumnType::Real));
    std::vector<ColumnValues> wits = columnsOf(keyed);
    for (ColumnType type : {ColumnType::Integer, ColumnType::Integer, ColumnType::Real})
        wits.emplace_back(type);
    std::vector<ColumnValues> records = columnsOf(keyed);
    records.emplace_back(ColumnType::Bytes);
    std::vector<ColumnValues> events = columnsOf(keyed);
    events.emplace_back(ColumnType::Text);
    events.emplace_back(ColumnType::Text);
    for (const history::Batch *batch : batches) {
        for (const history::ReadingRow &row : batch->readings) {
            unit(row.unit);
            key(readings, row.key, row.timeMs, row.unit);
            readings[4].add(row.packet);
            readings[5].add(textValue(row.serial.isEmpty() ? row.unit : row.serial).toString());
            readings[6].add(row.unitName);
            if (row.unitTimeMs)
                readings[7].add(qint64(*row.unitTimeMs));
            else
                readings[7].addNull();
            for (std::size_t i = 0; i < row.values.size(); ++i) {
                if (row.values[i])
                    readings[8 + i].add(*row.values[i]);
                else
                    readings[8 + i].addNull();
            }
        }
        for (const history::WitsRow &row : batch->witsItems) {
            unit(row.unit);
            key(wits, row.key, row.timeMs, row.unit);
            wits[4].add(qint64(row.position));
            wits[5].add(qint64(row.code));
            wits[6].add(row.value);
        }
        for (const history::WitsRecordRow &row : batch->witsRecords) {
            unit(row.unit);
            key(records, row.key, row.timeMs, row.unit);
            records[4].add(row.record);
        }
        for (const history::EventRow &row : batch->events) {
            unit(row.unit);
            key(events, row.key, row.timeMs, row.unit);
            events[4].add(textValue(row.kind).toString());
            events[5].add(textValue(row.detail).toString());
        }
    }
    return run(*m_insertColumns[4], units, nullptr, nullptr)
           && run(*m_insertColumns[0], readings, &history::RowCounts::readings, added)
           && run(*m_insertColumns[1], wits, &history::RowCounts::witsItems, added)
           && run(*m_insertColumns[2], records, &history::RowCounts::witsRecords, added)
           && run(*m_insertColumns[3], events, &history::RowCounts::events, added);
}

bool HistoryStore::notifyUnits(const std::vector<const history::Batch *> &batches, QSqlError &error)
{
    QStringList units;
    auto note = [&units](const QString &unit) {
        if (!units.contains(unit))
            units.append(unit);
    };
    for (const history::Batch *batch : batches) {
        for (const history::ReadingRow &row : batch->readings)
            note(row.unit);
        for (const history::WitsRow &row : batch->witsItems)
            note(row.unit);
        for (const history::WitsRecordRow &row : batch->witsRecords)
            note(row.unit);
        for (const history::EventRow &row : batch->events)
            note(row.unit);
    }
    QSqlQuery query(m_db);
    query.prepare(QStringLiteral("SELECT pg_notify(?, ?)"));
    QString payload;
    auto send = [&]() {
        query.bindValue(0, sqldialect::NewsChannel);
        query.bindValue(1, payload);
        if (!query.exec()) {
            error = query.lastError();
            return false;
        }
        payload.clear();
        return true;
    };
    for (const QString &unit : units) {
        if (!payload.isEmpty() && (payload.size() + unit.size() + 1) * 3 > sqldialect::NewsPayloadBytes && !send())
            return false;
        payload += (payload.isEmpty() ? QString() : QStringLiteral(",")) + unit;
    }
    return payload.isEmpty() || send();
}

HistoryResult<std::vector<UnitSummary>> HistoryStore::units(qint64 beforeMs)
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    // Each aggregate runs on the (unit, time) index of one unit.
    query.prepare(QStringLiteral("SELECT u.unit,"
                                 " (SELECT MIN(time_ms) FROM readings r WHERE r.unit = u.unit AND time_ms < :before),"
                                 " (SELECT MAX(time_ms) FROM readings r WHERE r.unit = u.unit AND time_ms < :before),"
                                 " (SELECT COUNT(*) FROM readings r WHERE r.unit = u.unit AND time_ms < :before)"
                                 " FROM units u ORDER BY u.unit"));
    query.bindValue(QStringLiteral(":before"), beforeMs);
    if (!query.exec())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    std::vector<UnitSummary> result;
    while (query.next()) {
        const qint64 count = query.value(3).toLongLong();
        if (count > 0)
            result.push_back({query.value(0).toString(), query.value(1).toLongLong(), query.value(2).toLongLong(), count});
    }
    if (query.lastError().isValid())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    return result;
}

HistoryResult<std::vector<RecordedUnit>> HistoryStore::recordedUnits()
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT u.unit, (SELECT MIN(time_ms) FROM readings r WHERE r.unit = u.unit)"
                                   " FROM units u ORDER BY u.unit")))
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    std::vector<RecordedUnit> units;
    while (query.next()) {
        if (!query.isNull(1))
            units.push_back({query.value(0).toString(), query.value(1).toLongLong()});
    }
    if (query.lastError().isValid())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    return units;
}

HistoryResult<QHash<QString, QPair<qint64, qint64>>> HistoryStore::latestByUnit()
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT u.unit, (SELECT MAX(time_ms) FROM readings r WHERE r.unit = u.unit),"
                                   " (SELECT MAX(time_ms) FROM events e WHERE e.unit = u.unit) FROM units u")))
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    QHash<QString, QPair<qint64, qint64>> latest;
    while (query.next()) {
        latest.insert(query.value(0).toString(), {query.isNull(1) ? -1 : query.value(1).toLongLong(),
                                                  query.isNull(2) ? -1 : query.value(2).toLongLong()});
    }
    if (query.lastError().isValid())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    return latest;
}

HistoryResult<void> HistoryStore::eachReading(const HistoryRange &range, const QStringList &columns,
                                              const std::function<void(const history::ReadingRow &)> &take)
{
    QString select = QStringLiteral("time_ms");
    const HistoryResult<std::vector<std::size_t>> chosen = numericPlaces(columns, select);
    if (!chosen)
        return chosen.failed();
    const std::vector<std::size_t> &places = *chosen;
    if (!m_eachReading || columns != m_eachColumns) {
        m_eachReading.reset();
        auto query = std::make_unique<QSqlQuery>(m_db);
        query->setForwardOnly(true);
        if (!query->prepare(QStringLiteral("SELECT %1 FROM readings WHERE unit = ? AND time_ms >= ? AND time_ms < ?"
                                           " ORDER BY time_ms, id")
                                .arg(select)))
            return failure(sqlFailure(QStringLiteral("cannot read"), query->lastError()));
        m_eachReading = std::move(query);
        m_eachColumns = columns;
    }
    QSqlQuery &query = *m_eachReading;
    query.bindValue(0, range.unit);
    query.bindValue(1, range.fromMs);
    query.bindValue(2, range.toMs);
    if (!query.exec())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    history::ReadingRow row;
    row.unit = range.unit;
    while (query.next()) {
        row.timeMs = query.value(0).toLongLong();
        int position = 1;
        for (const std::size_t place : places) {
            const QVariant value = query.value(position++);
            row.values[place] = value.isNull() ? std::nullopt : std::optional<double>(value.toDouble());
        }
        take(row);
    }
    const QSqlError error = query.lastError();
    // Done with: a file's readers hold no snapshot between two reads.
    query.finish();
    if (error.isValid())
        return failure(sqlFailure(QStringLiteral("cannot read"), error));
    return {};
}

HistoryResult<std::unique_ptr<QSqlQuery>> HistoryStore::rangeQuery(const QString &select, const QString &table,
                                                                   const HistoryRange &range, const QString &order,
                                                                   const QString &timeColumn)
{
    auto query = std::make_unique<QSqlQuery>(m_db);
    query->setForwardOnly(true);
    query->prepare(QStringLiteral("SELECT %1 FROM %2 WHERE unit = ? AND %4 >= ? AND %4 < ?%3")
                       .arg(select, table, order.isEmpty() ? QString() : QStringLiteral(" ORDER BY ") + order,
                            timeColumn));
    query->addBindValue(range.unit);
    query->addBindValue(range.fromMs);
    query->addBindValue(range.toMs);
    if (!query->exec())
        return failure(sqlFailure(QStringLiteral("cannot read"), query->lastError()));
    return query;
}

HistoryResult<qint64> HistoryStore::count(Table table, const HistoryRange &range)
{
    HistoryResult<std::unique_ptr<QSqlQuery>> query =
        rangeQuery(QStringLiteral("COUNT(*)"), QLatin1String(TableNames[static_cast<int>(table)]), range, QString());
    if (!query)
        return query.failed();
    if (!(*query)->next())
        return failure(sqlFailure(QStringLiteral("cannot read"), (*query)->lastError()));
    return (*query)->value(0).toLongLong();
}

HistoryResult<HistoryCursor<history::ReadingRow>> HistoryStore::readings(const HistoryRange &range, bool withPacket,
                                                                          const QStringList &columns,
                                                                          HistoryClock clock)
{
    // Where each column read lands in a row's values.
    // A file read as it lies may be older than the serial and the unit's
    // clock: its readings have neither.
    QString select = m_schema >= 3 ? QStringLiteral("time_ms, serial, unit_time_ms")
                                   : QStringLiteral("time_ms, NULL, NULL");
    if (withPacket)
        select += QStringLiteral(", packet");
    const HistoryResult<std::vector<std::size_t>> chosen = numericPlaces(columns, select);
    if (!chosen)
        return chosen.failed();
    const std::vector<std::size_t> places = *chosen;
    // In the order they were written where the times are equal, so that a
    // raw export gives back the stream as it came. By the unit's clock, a
    // file older than it has no reading with one: NULL matches no range.
    const bool byUnit = clock == HistoryClock::Unit;
    const QString timeColumn = !byUnit ? QStringLiteral("time_ms")
                               : m_schema >= 3 ? QStringLiteral("unit_time_ms")
                                               : QStringLiteral("NULL");
    HistoryResult<std::unique_ptr<QSqlQuery>> query =
        rangeQuery(select, QStringLiteral("readings"), range,
                   byUnit && m_schema >= 3 ? QStringLiteral("unit_time_ms, id") : QStringLiteral("time_ms, id"),
                   timeColumn);
    if (!query)
        return query.failed();
    const QString unit = range.unit;
    auto read = [unit, withPacket, places](const QSqlQuery &row) {
        history::ReadingRow reading;
        reading.timeMs = row.value(0).toLongLong();
        reading.unit = unit;
        reading.serial = row.value(1).toString();
        if (const QVariant unitTime = row.value(2); !unitTime.isNull())
            reading.unitTimeMs = unitTime.toLongLong();
        int position = 3;
        if (withPacket)
            reading.packet = row.value(position++).toByteArray();
        for (const std::size_t place : places) {
            const QVariant value = row.value(position++);
            if (!value.isNull())
                reading.values[place] = value.toDouble();
        }
        return reading;
    };
    return HistoryCursor<history::ReadingRow>(std::move(*query), read, m_path, m_engine);
}

HistoryResult<UnitClockReadings> HistoryStore::unitClock(const QString &unit, qint64 sinceMs, int latest)
{
    UnitClockReadings clock;
    if (m_schema < 3)
        return clock;
    QSqlQuery first(m_db);
    first.setForwardOnly(true);
    first.prepare(QStringLiteral("SELECT MIN(unit_time_ms) FROM readings WHERE unit = ?"));
    first.addBindValue(unit);
    if (!first.exec() || !first.next())
        return failure(sqlFailure(QStringLiteral("cannot read"), first.lastError()));
    if (!first.isNull(0))
        clock.firstMs = first.value(0).toLongLong();
    first.finish();
    if (!clock.firstMs)
        return clock;
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT time_ms, unit_time_ms FROM readings WHERE unit = ? AND time_ms >= ?"
                                 " AND unit_time_ms IS NOT NULL ORDER BY time_ms DESC LIMIT %1")
                      .arg(std::max(1, latest)));
    query.addBindValue(unit);
    query.addBindValue(sinceMs);
    if (!query.exec())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    while (query.next())
        clock.latest.emplace_back(query.value(0).toLongLong(), query.value(1).toLongLong());
    if (query.lastError().isValid())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    return clock;
}

HistoryResult<std::vector<Sample>> HistoryStore::series(const QString &unit, const QString &column, qint64 fromMs,
                                                         qint64 toMs)
{
    HistoryResult<HistoryCursor<history::ReadingRow>> cursor = readings({unit, fromMs, toMs}, false, {column});
    if (!cursor)
        return cursor.failed();
    const auto place = static_cast<std::size_t>(history::numericColumn(column) - history::numericColumns().data());
    std::vector<Sample> samples;
    while (!cursor->done()) {
        HistoryResult<std::vector<history::ReadingRow>> rows = cursor->fetch(10000);
        if (!rows)
            return rows.failed();
        for (const history::ReadingRow &row : *rows) {
            const std::optional<double> &value = row.values[place];
            samples.push_back({row.timeMs, value ? *value : std::numeric_limits<double>::quiet_NaN()});
        }
    }
    return samples;
}

HistoryResult<std::vector<Sample>> HistoryStore::peaks(const QString &unit, const QString &column, qint64 fromMs,
                                                        qint64 toMs, qint64 bucketMs)
{
    const history::NumericColumn *named = history::numericColumn(column);
    if (!named || bucketMs <= 0)
        return failure(HistoryError{sqldialect::Failure::Other, QStringLiteral("no column %1 in the history").arg(column)});
    // The grouping runs in the engine, so that an hour of a unit's readings
    // comes back as a hundred and twenty rows.
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT time_ms - time_ms % %1 AS bucket, MAX(%2) FROM readings"
                                 " WHERE unit = ? AND time_ms >= ? AND time_ms < ? AND %2 IS NOT NULL"
                                 " GROUP BY bucket ORDER BY bucket")
                      .arg(QString::number(bucketMs), QLatin1String(named->name)));
    query.addBindValue(unit);
    query.addBindValue(fromMs);
    query.addBindValue(toMs);
    if (!query.exec())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    std::vector<Sample> peaks;
    while (query.next()) {
        const double value = query.value(1).toDouble();
        // The rows hold numbers the packets showed; anything else is no peak.
        if (std::isfinite(value))
            peaks.push_back({query.value(0).toLongLong(), value});
    }
    if (query.lastError().isValid())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    return peaks;
}

HistoryResult<std::vector<ColumnBounds>> HistoryStore::columnBounds(const HistoryRange &range,
                                                                     const QStringList &expressions, double widthMs,
                                                                     HistoryClock clock)
{
    if (!(widthMs > 0) || !std::isfinite(widthMs))
        return failure(HistoryError{sqldialect::Failure::Other, QStringLiteral("no width of a column")});
    const bool byUnit = clock == HistoryClock::Unit;
    // A file older than the unit's clock has no reading with one.
    const QString time = !byUnit ? QStringLiteral("time_ms")
                         : m_schema >= 3 ? QStringLiteral("unit_time_ms")
                                         : QStringLiteral("NULL");
    // Each expression worked out once a reading, not once for its lowest
    // and again for its highest: the inner statement is kept from being
    // folded into the grouping (a fifth of the time on a server).
    QString inner = QStringLiteral("%1 AS place, %2 AS t").arg(sqldialect::columnOfTime(m_engine, time), time);
    QString select = QStringLiteral("place, MIN(t), MAX(t)");
    for (int e = 0; e < expressions.size(); ++e) {
        inner += QStringLiteral(", %1 AS e%2").arg(expressions[e]).arg(e);
        select += QStringLiteral(", MIN(e%1), MAX(e%1)").arg(e);
    }
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM (SELECT %2 FROM readings WHERE unit = ? AND %3 >= ? AND %3 < ?%4)"
                                 " AS r GROUP BY place ORDER BY place")
                      .arg(select, inner, time, sqldialect::keptApart(m_engine)));
    query.addBindValue(widthMs);
    query.addBindValue(range.unit);
    query.addBindValue(range.fromMs);
    query.addBindValue(range.toMs);
    if (!query.exec())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    std::vector<ColumnBounds> columns;
    const auto valueAt = [&query](int place) -> std::optional<double> {
        if (query.isNull(place))
            return std::nullopt;
        const double value = query.value(place).toDouble();
        return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
    };
    while (query.next()) {
        ColumnBounds column;
        column.firstMs = query.value(1).toLongLong();
        column.lastMs = query.value(2).toLongLong();
        for (int e = 0; e < expressions.size(); ++e) {
            column.low.push_back(valueAt(3 + 2 * e));
            column.high.push_back(valueAt(4 + 2 * e));
        }
        columns.push_back(std::move(column));
    }
    if (query.lastError().isValid())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    return columns;
}

HistoryResult<std::optional<Sample>> HistoryStore::latestOutside(const HistoryRange &range, const QString &column,
                                                                   double low, double high)
{
    const history::NumericColumn *named = history::numericColumn(column);
    if (!named)
        return failure(HistoryError{sqldialect::Failure::Other, QStringLiteral("no column %1 in the history").arg(column)});
    // Backwards along the unit's index, up to the first row that answers.
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT time_ms, %1 FROM readings WHERE unit = ? AND time_ms >= ? AND time_ms < ?"
                                 " AND (%1 IS NULL OR %1 < ? OR %1 > ?) ORDER BY time_ms DESC, id DESC LIMIT 1")
                      .arg(QLatin1String(named->name)));
    query.addBindValue(range.unit);
    query.addBindValue(range.fromMs);
    query.addBindValue(range.toMs);
    query.addBindValue(low);
    query.addBindValue(high);
    if (!query.exec())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    if (!query.next()) {
        if (query.lastError().isValid())
            return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
        return std::optional<Sample>();
    }
    return std::optional<Sample>(Sample{query.value(0).toLongLong(), query.isNull(1)
                                                                         ? std::numeric_limits<double>::quiet_NaN()
                                                                         : query.value(1).toDouble()});
}

HistoryResult<HistoryCursor<history::WitsRow>> HistoryStore::witsItems(const HistoryRange &range)
{
    HistoryResult<std::unique_ptr<QSqlQuery>> query =
        rangeQuery(QStringLiteral("time_ms, item_position, item_code, item_value"), QStringLiteral("wits_items"), range,
                   QStringLiteral("time_ms, id"));
    if (!query)
        return query.failed();
    const QString unit = range.unit;
    auto read = [unit](const QSqlQuery &row) {
        return history::WitsRow{row.value(0).toLongLong(), unit, row.value(1).toInt(), row.value(2).toInt(),
                                row.value(3).toDouble()};
    };
    return HistoryCursor<history::WitsRow>(std::move(*query), read, m_path, m_engine);
}

HistoryResult<HistoryCursor<history::WitsRecordRow>> HistoryStore::witsRecords(const HistoryRange &range)
{
    HistoryResult<std::unique_ptr<QSqlQuery>> query =
        rangeQuery(QStringLiteral("time_ms, record"), QStringLiteral("wits_records"), range, QStringLiteral("time_ms, id"));
    if (!query)
        return query.failed();
    const QString unit = range.unit;
    auto read = [unit](const QSqlQuery &row) {
        return history::WitsRecordRow{row.value(0).toLongLong(), unit, row.value(1).toByteArray()};
    };
    return HistoryCursor<history::WitsRecordRow>(std::move(*query), read, m_path, m_engine);
}

HistoryResult<std::vector<history::EventRow>> HistoryStore::events(const HistoryRange &range, const QStringList &kinds)
{
    QStringList marks;
    for (qsizetype i = 0; i < kinds.size(); ++i)
        marks << QStringLiteral("?");
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT time_ms, kind, detail FROM events WHERE unit = ? AND time_ms >= ?"
                                 " AND time_ms < ? AND kind IN (%1) ORDER BY time_ms, id")
                      .arg(marks.join(QLatin1Char(','))));
    query.addBindValue(range.unit);
    query.addBindValue(range.fromMs);
    query.addBindValue(range.toMs);
    for (const QString &kind : kinds)
        query.addBindValue(kind);
    if (!query.exec())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    std::vector<history::EventRow> events;
    while (query.next())
        events.push_back({query.value(0).toLongLong(), range.unit, query.value(1).toString(), query.value(2).toString()});
    if (query.lastError().isValid())
        return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
    return events;
}

HistoryResult<qint64> HistoryStore::pruneSome(qint64 cutoffMs, int maxRows)
{
    QStringList units;
    {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT unit FROM units")))
            return failure(sqlFailure(QStringLiteral("cannot prune"), query.lastError()));
        while (query.next())
            units.append(query.value(0).toString());
        // A list cut short would leave the units after the cut unpruned.
        if (query.lastError().isValid())
            return failure(sqlFailure(QStringLiteral("cannot prune"), query.lastError()));
    }
    if (!m_db.transaction())
        return failure(sqlFailure(QStringLiteral("cannot prune"), m_db.lastError()));
    qint64 deleted = 0;
    // Row by row through the (unit, time) index, so that finding nothing
    // left to delete costs a look-up per unit, not a pass over the file.
    for (const char *table : PrunedTables) {
        for (const QString &unit : units) {
            if (deleted >= maxRows)
                break;
            QSqlQuery query(m_db);
            query.prepare(QStringLiteral("DELETE FROM %1 WHERE id IN (SELECT id FROM %1 WHERE unit = ? AND time_ms < ?"
                                         " ORDER BY time_ms LIMIT %2)")
                              .arg(QLatin1String(table))
                              .arg(maxRows - deleted));
            query.addBindValue(unit);
            query.addBindValue(cutoffMs);
            if (!query.exec()) {
                const HistoryError error = sqlFailure(QStringLiteral("cannot prune"), query.lastError());
                m_db.rollback();
                return failure(error);
            }
            deleted += query.numRowsAffected();
        }
    }
    if (!m_db.commit()) {
        const HistoryError error = sqlFailure(QStringLiteral("cannot prune"), m_db.lastError());
        m_db.rollback();
        return failure(error);
    }
    return deleted;
}

HistoryResult<void> HistoryStore::returnFreeSpace()
{
    const QString statement = sqldialect::returnFreeSpace(m_engine);
    if (statement.isEmpty())
        return {};
    QSqlQuery query(m_db);
    if (!query.exec(statement))
        return failure(sqlFailure(QStringLiteral("cannot compact"), query.lastError()));
    // The statement frees pages as its rows are stepped through.
    while (query.next()) {
    }
    if (query.lastError().isValid())
        return failure(sqlFailure(QStringLiteral("cannot compact"), query.lastError()));
    return {};
}

HistoryResult<QStringList> HistoryStore::check()
{
    const QString statement = sqldialect::integrityCheck(m_engine);
    // Saying "ok" of pages this program cannot look at would be a guess.
    if (statement.isEmpty())
        return failure(HistoryError{sqldialect::Failure::Other,
                                    QStringLiteral("%1 is checked by the server's own tools (pg_amcheck), not here").arg(m_path)});
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(statement))
        return failure(sqlFailure(QStringLiteral("cannot check"), query.lastError()));
    QStringList problems;
    // A row may name several problems, one a line, under a heading that
    // names the database they were found in.
    while (query.next()) {
        for (const QString &line : query.value(0).toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line != QStringLiteral("ok") && !line.startsWith(QStringLiteral("*** ")))
                problems.append(line);
        }
    }
    if (query.lastError().isValid())
        return failure(sqlFailure(QStringLiteral("cannot check"), query.lastError()));
    return problems;
}

HistoryResult<history::Batch> HistoryStore::rowsAfter(history::RowMarks &marks, int maxRows)
{
    if (m_schema < 4 || m_identity == 0)
        return failure(HistoryError{sqldialect::Failure::Other,
                                    QStringLiteral("%1 is older than this program: it is brought forward when it is"
                                                   " opened for writing")
                                        .arg(QDir::toNativeSeparators(m_path))});
    history::Batch batch;
    // Runs the table's query after its mark; read(row) takes each row,
    // whose key is the one it came with or this history's.
    auto readTable = [&](const QString &table, const QString &columns, qint64 &mark,
                         const std::function<history::RowKey &(const QSqlQuery &)> &read) -> HistoryResult<void> {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT id, origin, origin_id, %1 FROM %2 WHERE id > ? ORDER BY id LIMIT ?")
                          .arg(columns, table));
        query.addBindValue(mark);
        query.addBindValue(qMax(1, maxRows));
        if (!query.exec())
            return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
        while (query.next()) {
            const qint64 id = query.value(0).toLongLong();
            history::RowKey &key = read(query);
            key = query.isNull(1) ? history::RowKey{m_identity, id}
                                  : history::RowKey{query.value(1).toLongLong(), query.value(2).toLongLong()};
            mark = id;
        }
        if (query.lastError().isValid())
            return failure(sqlFailure(QStringLiteral("cannot read"), query.lastError()));
        return {};
    };
    QString numeric;
    for (const history::NumericColumn &column : history::numericColumns())
        numeric += QStringLiteral(", ") + QLatin1String(column.name);
    constexpr int First = 3;  // after id, origin, origin_id
    HistoryResult<void> read = readTable(
        QStringLiteral("readings"), QStringLiteral("time_ms, unit, packet, serial, unit_name, unit_time_ms") + numeric,
        marks.readings, [&batch](const QSqlQuery &row) -> history::RowKey & {
            history::ReadingRow reading;
            reading.timeMs = row.value(First).toLongLong();
            reading.unit = row.value(First + 1).toString();
            reading.packet = row.value(First + 2).toByteArray();
            reading.serial = row.value(First + 3).toString();
            reading.unitName = row.value(First + 4).toByteArray();
            if (!row.isNull(First + 5))
                reading.unitTimeMs = row.value(First + 5).toLongLong();
            for (std::size_t i = 0; i < reading.values.size(); ++i) {
                const int at = First + 6 + static_cast<int>(i);
                if (!row.isNull(at))
                    reading.values[i] = row.value(at).toDouble();
            }
            batch.readings.push_back(std::move(reading));
            return batch.readings.back().key;
        });
    if (read)
        read = readTable(QStringLiteral("wits_items"), QStringLiteral("time_ms, unit, item_position, item_code, item_value"),
                         marks.witsItems, [&batch](const QSqlQuery &row) -> history::RowKey & {
                             batch.witsItems.push_back({row.value(First).toLongLong(), row.value(First + 1).toString(),
                                                        row.value(First + 2).toInt(), row.value(First + 3).toInt(),
                                                        row.value(First + 4).toDouble()});
                             return batch.witsItems.back().key;
                         });
    if (read)
        read = readTable(QStringLiteral("wits_records"), QStringLiteral("time_ms, unit, record"), marks.witsRecords,
                         [&batch](const QSqlQuery &row) -> history::RowKey & {
                             batch.witsRecords.push_back({row.value(First).toLongLong(), row.value(First + 1).toString(),
                                                          row.value(First + 2).toByteArray()});
                             return batch.witsRecords.back().key;
                         });
    if (read)
        read = readTable(QStringLiteral("events"), QStringLiteral("time_ms, unit, kind, detail"), marks.events,
                         [&batch](const QSqlQuery &row) -> history::RowKey & {
                             batch.events.push_back({row.value(First).toLongLong(), row.value(First + 1).toString(),
                                                     row.value(First + 2).toString(), row.value(First + 3).toString()});
                             return batch.events.back().key;
                         });
    if (!read)
        return read.failed();
    return batch;
}

HistoryResult<void> HistoryStore::forget(const history::RowMarks &marks)
{
    if (!m_db.transaction())
        return failure(sqlFailure(QStringLiteral("cannot update"), m_db.lastError()));
    const std::pair<const char *, qint64> tables[] = {
        {"readings", marks.readings}, {"wits_items", marks.witsItems}, {"wits_records", marks.witsRecords}, {"events", marks.events}};
    for (const auto &[table, mark] : tables) {
        if (mark <= 0)
            continue;
        QSqlQuery query(m_db);
        // The newest row stays: a file numbers a new row after its highest,
        // so a table never emptied never numbers two rows alike, and each
        // row's key stays its own.
        query.prepare(QStringLiteral("DELETE FROM %1 WHERE id <= ? AND id < (SELECT MAX(id) FROM %1)").arg(QLatin1String(table)));
        query.addBindValue(mark);
        if (!query.exec()) {
            const HistoryError error = sqlFailure(QStringLiteral("cannot update"), query.lastError());
            m_db.rollback();
            return failure(error);
        }
    }
    if (!m_db.commit()) {
        const HistoryError error = sqlFailure(QStringLiteral("cannot update"), m_db.lastError());
        m_db.rollback();
        return failure(error);
    }
    return {};
}

HistoryResult<qint64> HistoryStore::usedBytes()
{
    const Result<qint64, QSqlError> used = sqldialect::usedBytes(m_db, m_engine);
    if (!used)
        return failure(sqlFailure(QStringLiteral("cannot read"), used.reason()));
    return *used;
}

HistoryResult<history::RowCounts> HistoryStore::dropOldest(double share, qint64 atMs, const QString &why)
{
    if (!m_insertEvent)
        return failure(HistoryError{sqldialect::Failure::Other, QStringLiteral("the history file is not open")});
    if (!m_db.transaction())
        return failure(sqlFailure(QStringLiteral("cannot update"), m_db.lastError()));
    std::map<QString, history::RowCounts> lost;
    history::RowCounts dropped;
    QSqlError error;
    auto run = [&error](QSqlQuery &query) {
        if (query.exec())
            return true;
        error = query.lastError();
        return false;
    };
    const std::pair<const char *, qint64 history::RowCounts::*> tables[] = {
        {"readings", &history::RowCounts::readings},
        {"wits_items", &history::RowCounts::witsItems},
        {"wits_records", &history::RowCounts::witsRecords},
        {"events", &history::RowCounts::events}};
    bool ok = true;
    for (const auto &[name, kind] : tables) {
        const QLatin1String table(name);
        // The counts of earlier drops stay: they are all that is left of
        // the rows they count.
        const QString which = kind == &history::RowCounts::events ? QStringLiteral(" WHERE kind <> 'rows lost'") : QString();
        QSqlQuery count(m_db);
        if (!(ok = count.exec(QStringLiteral("SELECT COUNT(*) FROM %1%2").arg(table, which)) && count.next())) {
            error = count.lastError();
            break;
        }
        const qint64 rows = count.value(0).toLongLong();
        count.finish();
        // The newest row stays, whatever the share: it is what the full
        // store is kept for.
        const qint64 doomed = qMin(rows - 1, static_cast<qint64>(std::floor(double(rows) * qBound(0.0, share, 1.0))));
        if (doomed <= 0)
            continue;
        QSqlQuery units(m_db);
        units.setForwardOnly(true);
        units.prepare(QStringLiteral("SELECT unit, COUNT(*) FROM (SELECT unit FROM %1%2 ORDER BY id LIMIT ?) oldest"
                                     " GROUP BY unit")
                          .arg(table, which));
        units.addBindValue(doomed);
        if (!(ok = run(units)))
            break;
        while (units.next())
            lost[units.value(0).toString()].*kind += units.value(1).toLongLong();
        if ((ok = !units.lastError().isValid()) == false) {
            error = units.lastError();
            break;
        }
        QSqlQuery remove(m_db);
        remove.prepare(QStringLiteral("DELETE FROM %1 WHERE id IN (SELECT id FROM %1%2 ORDER BY id LIMIT ?)").arg(table, which));
        remove.addBindValue(doomed);
        if (!(ok = run(remove)))
            break;
        dropped.*kind += doomed;
    }
    // What went is history too, under each unit it went from.
    history::Batch note;
    for (const auto &[unit, counts] : lost) {
        note.events.push_back({atMs, unit, QStringLiteral("rows lost"),
                               QStringLiteral("%1 readings, %2 WITS items, %3 WITS records and %4 events %5")
                                   .arg(counts.readings)
                                   .arg(counts.witsItems)
                                   .arg(counts.witsRecords)
                                   .arg(counts.events)
                                   .arg(why)});
    }
    QStringList addedUnits;
    if (ok && !note.empty())
        ok = writeInto({&note}, nullptr, error, addedUnits);
    if (ok && !m_db.commit()) {
        error = m_db.lastError();
        ok = false;
    }
    if (!ok) {
        m_db.rollback();
        return failure(sqlFailure(QStringLiteral("cannot update"), error));
    }
    m_knownUnits += addedUnits;
    return dropped;
}

template <typename Row>
HistoryCursor<Row>::HistoryCursor(std::unique_ptr<QSqlQuery> query, Reader read, QString path,
                                  sqldialect::Engine engine)
    : m_query(std::move(query))
    , m_read(std::move(read))
    , m_path(std::move(path))
    , m_engine(engine)
{
}

template <typename Row>
HistoryCursor<Row>::HistoryCursor(HistoryCursor &&other) noexcept = default;
template <typename Row>
HistoryCursor<Row> &HistoryCursor<Row>::operator=(HistoryCursor &&other) noexcept = default;
template <typename Row>
HistoryCursor<Row>::~HistoryCursor() = default;

template <typename Row>
HistoryResult<int> HistoryCursor<Row>::fetch(int maxRows, const std::function<void(const Row &)> &take)
{
    int read = 0;
    while (!m_done && read < maxRows) {
        if (!m_query->next()) {
            if (m_query->lastError().isValid())
                return failure(failureOf(m_engine, QStringLiteral("cannot read"), m_path, m_query->lastError()));
            // Finished, so the read transaction ends now.
            m_query->finish();
            m_done = true;
            break;
        }
        take(m_read(*m_query));
        ++read;
    }
    return read;
}

template <typename Row>
HistoryResult<std::vector<Row>> HistoryCursor<Row>::fetch(int maxRows)
{
    std::vector<Row> rows;
    const HistoryResult<int> read = fetch(maxRows, [&rows](const Row &row) { rows.push_back(row); });
    if (!read)
        return read.failed();
    return rows;
}

// The rows the store reads a slice at a time.
template class HistoryCursor<history::ReadingRow>;
template class HistoryCursor<history::WitsRow>;
template class HistoryCursor<history::WitsRecordRow>;
