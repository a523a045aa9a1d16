#include "history/historystore.h"

#include <cmath>
#include <limits>

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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
std::vector<Migration> migrations()
{
    const QString id = sqldialect::idColumn();
    QString numeric;
    for (const history::NumericColumn &column : history::numericColumns())
        numeric += QStringLiteral(", %1 DOUBLE PRECISION").arg(QLatin1String(column.name));
    return {
        {1,
         {QStringLiteral("units"), QStringLiteral("readings"), QStringLiteral("wits_items"), QStringLiteral("events")},
         {QStringLiteral("CREATE TABLE units (unit TEXT NOT NULL PRIMARY KEY)"),
          QStringLiteral("CREATE TABLE readings (id %1, time_ms BIGINT NOT NULL, unit TEXT NOT NULL, packet %2 NOT NULL%3)")
              .arg(id, sqldialect::bytesType(), numeric),
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
              .arg(id, sqldialect::bytesType()),
          QStringLiteral("CREATE INDEX wits_records_unit_time ON wits_records (unit, time_ms)")}},
    };
}

const char *const PrunedTables[] = {"readings", "wits_items", "wits_records", "events"};

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

bool HistoryStore::open(const QString &path, Access access, const HistoryLimits &limits)
{
    close();
    m_path = path;
    m_error = HistoryError();
    const bool readOnly = access == Access::ReadOnly;
    if (!sqldialect::driverAvailable())
        return fail(sqldialect::Failure::Other,
                    QStringLiteral("the database driver %1 is not installed").arg(sqldialect::driverName()));
    // The engine would open a named pipe and wait on it for good, and
    // write its pages into a device.
    for (const QString &file : files::withJournals(path)) {
        const QString refusal = files::openRefusal(file);
        if (!refusal.isEmpty())
            return fail(sqldialect::Failure::Other,
                        QStringLiteral("cannot open %1: %2").arg(QDir::toNativeSeparators(file), refusal));
    }
    if (readOnly && !QFileInfo::exists(path))
        return fail(sqldialect::Failure::Other, QStringLiteral("no history at %1").arg(QDir::toNativeSeparators(path)));
    const QString folder = QFileInfo(path).absolutePath();
    if (!readOnly && !QDir().mkpath(folder))
        return fail(sqldialect::Failure::Other,
                    QStringLiteral("cannot create the folder %1").arg(QDir::toNativeSeparators(folder)));

    QSqlError openError;
    if (!connectTo(path, readOnly, limits.lockWaitMs, false, &openError)) {
        // A write-ahead file on a read-only medium cannot be read the usual
        // way, which shares an index file beside it with the writers; where
        // that file cannot be made, the file is read as it lies.
        if (!readOnly || !sqldialect::cannotShareReads(openError)
            || !connectTo(path, readOnly, limits.lockWaitMs, true, &openError))
            return fail(QStringLiteral("cannot open"), openError);
    }
    // Another program's database is refused before anything in it changes,
    // its journal included.
    const std::optional<int> version = schemaVersion();
    if (!version)
        return false;
    if (*version > SchemaVersion)
        return fail(sqldialect::Failure::Other,
                    QStringLiteral("%1 was written by a newer program (schema %2, this one knows %3)")
                        .arg(QDir::toNativeSeparators(path))
                        .arg(*version)
                        .arg(SchemaVersion));
    if (readOnly)
        return *version >= 1
               || fail(sqldialect::Failure::Other,
                       QStringLiteral("%1 holds no history yet").arg(QDir::toNativeSeparators(path)));
    QSqlError sessionError;
    if (!sqldialect::prepareSession(m_db, limits.sizeBytes, &sessionError))
        return fail(QStringLiteral("cannot open"), sessionError);
    return migrate(*version) && prepareStatements();
}

bool HistoryStore::connectTo(const QString &path, bool readOnly, int lockWaitMs, bool asItLies, QSqlError *error)
{
    close();
    m_db = QSqlDatabase::addDatabase(sqldialect::driverName(), m_connection);
    m_db.setDatabaseName(asItLies ? sqldialect::unchangingFileName(path) : path);
    m_db.setConnectOptions(sqldialect::connectOptions(readOnly, lockWaitMs, asItLies));
    if (!m_db.open()) {
        *error = m_db.lastError();
        close();
        return false;
    }
    // The first statement reads the file's header, so a file that is not a
    // database fails here rather than later.
    if (!sqldialect::readHeader(m_db, error)) {
        close();
        return false;
    }
    return true;
}

void HistoryStore::close()
{
    m_insertReading.reset();
    m_insertWits.reset();
    m_insertWitsRecord.reset();
    m_insertEvent.reset();
    m_insertUnit.reset();
    m_knownUnits.clear();
    if (m_db.isValid()) {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool HistoryStore::fail(const QString &what, const QSqlError &error)
{
    const QString reason = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    sqldialect::Failure kind = sqldialect::classify(error);
    if (kind == sqldialect::Failure::None)
        kind = sqldialect::Failure::Other;
    return fail(kind, QStringLiteral("%1 %2: %3").arg(what, QDir::toNativeSeparators(m_path), reason.trimmed()));
}

bool HistoryStore::fail(sqldialect::Failure kind, const QString &text)
{
    m_error = HistoryError{kind, text};
    return false;
}

bool HistoryStore::exec(const QString &statement)
{
    QSqlQuery query(m_db);
    if (query.exec(statement))
        return true;
    return fail(QStringLiteral("cannot update"), query.lastError());
}

std::optional<int> HistoryStore::schemaVersion()
{
    const QStringList tables = m_db.tables();
    if (tables.isEmpty()) {
        if (m_db.lastError().isValid()) {
            fail(QStringLiteral("cannot read"), m_db.lastError());
            return std::nullopt;
        }
        return 0;
    }
    auto notHistory = [this] {
        fail(sqldialect::Failure::Other, QStringLiteral("%1 is not a history file").arg(QDir::toNativeSeparators(m_path)));
        return std::nullopt;
    };
    if (!tables.contains(QStringLiteral("schema_version")))
        return notHistory();
    QSqlQuery query(m_db);
    if (!query.exec(QStringLiteral("SELECT MAX(version) FROM schema_version")) || !query.next()) {
        fail(QStringLiteral("cannot read"), query.lastError());
        return std::nullopt;
    }
    const int version = query.value(0).toInt();
    query.finish();
    if (version < 1)
        return notHistory();
    // The tables of every schema up to the one it claims: a table of that
    // name alone does not make a history.
    for (const Migration &step : migrations()) {
        if (step.version > version)
            break;
        for (const QString &table : step.tables) {
            if (!tables.contains(table))
                return notHistory();
        }
    }
    return version;
}

bool HistoryStore::migrate(int version)
{
    for (const Migration &step : migrations()) {
        if (step.version <= version)
            continue;
        if (!m_db.transaction())
            return fail(QStringLiteral("cannot update"), m_db.lastError());
        QStringList statements = step.statements;
        if (step.version == 1)
            statements.prepend(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL)"));
        statements.append(QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(step.version));
        for (const QString &statement : statements) {
            if (!exec(statement)) {
                m_db.rollback();
                return false;
            }
        }
        if (!m_db.commit()) {
            const QSqlError error = m_db.lastError();
            m_db.rollback();
            return fail(QStringLiteral("cannot update"), error);
        }
    }
    return true;
}

bool HistoryStore::prepareStatements()
{
    auto prepare = [this](std::unique_ptr<QSqlQuery> &query, const QString &statement) {
        query = std::make_unique<QSqlQuery>(m_db);
        return query->prepare(statement) || fail(QStringLiteral("cannot prepare"), query->lastError());
    };
    QString columns = QStringLiteral("time_ms, unit, packet");
    QString marks = QStringLiteral("?, ?, ?");
    for (const history::NumericColumn &column : history::numericColumns()) {
        columns += QStringLiteral(", ") + QLatin1String(column.name);
        marks += QStringLiteral(", ?");
    }
    return prepare(m_insertReading, QStringLiteral("INSERT INTO readings (%1) VALUES (%2)").arg(columns, marks))
           && prepare(m_insertWits, QStringLiteral("INSERT INTO wits_items (time_ms, unit, item_position, item_code,"
                                                   " item_value) VALUES (?, ?, ?, ?, ?)"))
           && prepare(m_insertWitsRecord,
                      QStringLiteral("INSERT INTO wits_records (time_ms, unit, record) VALUES (?, ?, ?)"))
           && prepare(m_insertEvent,
                      QStringLiteral("INSERT INTO events (time_ms, unit, kind, detail) VALUES (?, ?, ?, ?)"))
           && prepare(m_insertUnit, sqldialect::insertIfAbsent(QStringLiteral("units"), QStringLiteral("unit")));
}

bool HistoryStore::write(const history::Batch &batch)
{
    if (!m_insertReading)
        return fail(sqldialect::Failure::Other, QStringLiteral("the history file is not open"));
    if (batch.empty())
        return true;
    if (!m_db.transaction())
        return fail(QStringLiteral("cannot write to"), m_db.lastError());
    QStringList added;
    auto run = [this](QSqlQuery &query) {
        return query.exec() || fail(QStringLiteral("cannot write to"), query.lastError());
    };
    auto unit = [&](const QString &name) {
        if (m_knownUnits.contains(name) || added.contains(name))
            return true;
        added.append(name);
        m_insertUnit->bindValue(0, textValue(name));
        return run(*m_insertUnit);
    };
    bool ok = true;
    for (const history::ReadingRow &row : batch.readings) {
        if (!(ok = unit(row.unit)))
            break;
        m_insertReading->bindValue(0, row.timeMs);
        m_insertReading->bindValue(1, textValue(row.unit));
        m_insertReading->bindValue(2, row.packet);
        for (std::size_t i = 0; i < row.values.size(); ++i)
            m_insertReading->bindValue(static_cast<int>(3 + i), optionalValue(row.values[i]));
        if (!(ok = run(*m_insertReading)))
            break;
    }
    for (auto it = batch.witsItems.begin(); ok && it != batch.witsItems.end(); ++it) {
        if (!(ok = unit(it->unit)))
            break;
        m_insertWits->bindValue(0, it->timeMs);
        m_insertWits->bindValue(1, textValue(it->unit));
        m_insertWits->bindValue(2, it->position);
        m_insertWits->bindValue(3, it->code);
        m_insertWits->bindValue(4, it->value);
        ok = run(*m_insertWits);
    }
    for (auto it = batch.witsRecords.begin(); ok && it != batch.witsRecords.end(); ++it) {
        if (!(ok = unit(it->unit)))
            break;
        m_insertWitsRecord->bindValue(0, it->timeMs);
        m_insertWitsRecord->bindValue(1, textValue(it->unit));
        m_insertWitsRecord->bindValue(2, it->record);
        ok = run(*m_insertWitsRecord);
    }
    for (auto it = batch.events.begin(); ok && it != batch.events.end(); ++it) {
        if (!(ok = unit(it->unit)))
            break;
        m_insertEvent->bindValue(0, it->timeMs);
        m_insertEvent->bindValue(1, textValue(it->unit));
        m_insertEvent->bindValue(2, textValue(it->kind));
        m_insertEvent->bindValue(3, textValue(it->detail));
        ok = run(*m_insertEvent);
    }
    if (ok && !m_db.commit())
        ok = fail(QStringLiteral("cannot write to"), m_db.lastError());
    if (!ok) {
        m_db.rollback();
        return false;
    }
    m_knownUnits += added;
    return true;
}

std::optional<std::vector<UnitSummary>> HistoryStore::units(qint64 beforeMs)
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
    if (!query.exec()) {
        fail(QStringLiteral("cannot read"), query.lastError());
        return std::nullopt;
    }
    std::vector<UnitSummary> result;
    while (query.next()) {
        const qint64 count = query.value(3).toLongLong();
        if (count > 0)
            result.push_back({query.value(0).toString(), query.value(1).toLongLong(), query.value(2).toLongLong(), count});
    }
    if (query.lastError().isValid()) {
        fail(QStringLiteral("cannot read"), query.lastError());
        return std::nullopt;
    }
    return result;
}

std::optional<std::vector<Sample>> HistoryStore::series(const QString &unit, const QString &column, qint64 fromMs,
                                                         qint64 toMs)
{
    if (!history::numericColumn(column)) {
        fail(sqldialect::Failure::Other, QStringLiteral("no column %1 in the history").arg(column));
        return std::nullopt;
    }
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT time_ms, %1 FROM readings WHERE unit = ? AND time_ms >= ? AND time_ms < ?"
                                 " ORDER BY time_ms")
                      .arg(column));
    query.addBindValue(unit);
    query.addBindValue(fromMs);
    query.addBindValue(toMs);
    if (!query.exec()) {
        fail(QStringLiteral("cannot read"), query.lastError());
        return std::nullopt;
    }
    std::vector<Sample> samples;
    while (query.next()) {
        const QVariant value = query.value(1);
        samples.push_back({query.value(0).toLongLong(),
                           value.isNull() ? std::numeric_limits<double>::quiet_NaN() : value.toDouble()});
    }
    return samples;
}

qint64 HistoryStore::pruneSome(qint64 cutoffMs, int maxRows)
{
    QStringList units;
    {
        QSqlQuery query(m_db);
        query.setForwardOnly(true);
        if (!query.exec(QStringLiteral("SELECT unit FROM units"))) {
            fail(QStringLiteral("cannot prune"), query.lastError());
            return -1;
        }
        while (query.next())
            units.append(query.value(0).toString());
    }
    if (!m_db.transaction()) {
        fail(QStringLiteral("cannot prune"), m_db.lastError());
        return -1;
    }
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
                fail(QStringLiteral("cannot prune"), query.lastError());
                m_db.rollback();
                return -1;
            }
            deleted += query.numRowsAffected();
        }
    }
    if (!m_db.commit()) {
        fail(QStringLiteral("cannot prune"), m_db.lastError());
        m_db.rollback();
        return -1;
    }
    return deleted;
}

bool HistoryStore::returnFreeSpace()
{
    QSqlQuery query(m_db);
    if (!query.exec(sqldialect::returnFreeSpace()))
        return fail(QStringLiteral("cannot compact"), query.lastError());
    // The statement frees pages as its rows are stepped through.
    while (query.next()) {
    }
    return true;
}

std::optional<QStringList> HistoryStore::check()
{
    QSqlQuery query(m_db);
    query.setForwardOnly(true);
    if (!query.exec(sqldialect::integrityCheck())) {
        fail(QStringLiteral("cannot check"), query.lastError());
        return std::nullopt;
    }
    QStringList problems;
    // A row may name several problems, one a line, under a heading that
    // names the database they were found in.
    while (query.next()) {
        for (const QString &line : query.value(0).toString().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (line != QStringLiteral("ok") && !line.startsWith(QStringLiteral("*** ")))
                problems.append(line);
        }
    }
    if (query.lastError().isValid()) {
        fail(QStringLiteral("cannot check"), query.lastError());
        return std::nullopt;
    }
    return problems;
}
