#include "history/gaslevelstore.h"

#include <QDir>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace history {

namespace {

const QString LevelsTable = QStringLiteral("gas_levels");

HistoryError levelStoreFailure(HistoryStore &store, const QString &what, const QSqlError &error)
{
    sqldialect::Failure kind = sqldialect::classify(store.engine(), error);
    if (kind == sqldialect::Failure::None)
        kind = sqldialect::Failure::Other;
    return {kind, QStringLiteral("%1 %2: %3")
                      .arg(what, QDir::toNativeSeparators(store.path()), sqldialect::reason(store.engine(), error))};
}

// Reads the newest levels of the units (every unit for an empty one).
HistoryResult<QHash<QString, readings::GasLevels>> newest(HistoryStore &store, const QString &unit)
{
    QHash<QString, readings::GasLevels> levels;
    QSqlDatabase db = store.database();
    if (!db.tables().contains(LevelsTable))
        return levels;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QString oneUnit = unit.isEmpty() ? QString() : QStringLiteral(" WHERE unit = ?");
    query.prepare(QStringLiteral("SELECT unit, clear_below, high_above, very_high_above FROM gas_levels"
                                 " WHERE id IN (SELECT MAX(id) FROM gas_levels%1 GROUP BY unit)")
                      .arg(oneUnit));
    if (!unit.isEmpty())
        query.addBindValue(unit);
    if (!query.exec())
        return failure(levelStoreFailure(store, QStringLiteral("cannot read"), query.lastError()));
    while (query.next()) {
        levels.insert(query.value(0).toString(), {query.value(1).toDouble(), query.value(2).toDouble(),
                                                  query.value(3).toDouble()});
    }
    if (query.lastError().isValid())
        return failure(levelStoreFailure(store, QStringLiteral("cannot read"), query.lastError()));
    return levels;
}

} // namespace

HistoryResult<QHash<QString, readings::GasLevels>> unitGasLevels(HistoryStore &store)
{
    return newest(store, QString());
}

HistoryResult<readings::GasLevels> gasLevelsOf(HistoryStore &store, const QString &unit)
{
    const HistoryResult<QHash<QString, readings::GasLevels>> levels = newest(store, unit);
    if (!levels)
        return levels.failed();
    return levels->value(unit, readings::GasLevels());
}

HistoryResult<void> setGasLevels(HistoryStore &store, const QString &unit, const readings::GasLevels &levels,
                                 qint64 atMs)
{
    QSqlDatabase db = store.database();
    if (!db.tables().contains(LevelsTable))
        return failure(HistoryError{sqldialect::Failure::Other,
                                    QStringLiteral("%1 is too old to keep gas levels; open it for writing first")
                                        .arg(QDir::toNativeSeparators(store.path()))});
    QSqlQuery query(db);
    query.prepare(QStringLiteral("INSERT INTO gas_levels (unit, changed_ms, clear_below, high_above, very_high_above)"
                                 " VALUES (?, ?, ?, ?, ?)"));
    query.addBindValue(unit);
    query.addBindValue(atMs);
    query.addBindValue(levels.clearBelow);
    query.addBindValue(levels.highAbove);
    query.addBindValue(levels.veryHighAbove);
    if (!query.exec())
        return failure(levelStoreFailure(store, QStringLiteral("cannot update"), query.lastError()));
    return {};
}

} // namespace history

namespace history {

HistoryResult<std::vector<EventRow>> eventsOfEveryUnit(HistoryStore &store, const QStringList &kinds, qint64 sinceMs)
{
    QStringList marks;
    for (qsizetype i = 0; i < kinds.size(); ++i)
        marks << QStringLiteral("?");
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT time_ms, unit, kind, detail FROM events WHERE time_ms >= ? AND kind IN (%1)"
                                 " ORDER BY time_ms, id")
                      .arg(marks.join(QLatin1Char(','))));
    query.addBindValue(sinceMs);
    for (const QString &kind : kinds)
        query.addBindValue(kind);
    if (!query.exec())
        return failure(levelStoreFailure(store, QStringLiteral("cannot read"), query.lastError()));
    std::vector<EventRow> events;
    while (query.next()) {
        EventRow row;
        row.timeMs = query.value(0).toLongLong();
        row.unit = query.value(1).toString();
        row.kind = query.value(2).toString();
        row.detail = query.value(3).toString();
        events.push_back(std::move(row));
    }
    if (query.lastError().isValid())
        return failure(levelStoreFailure(store, QStringLiteral("cannot read"), query.lastError()));
    return events;
}

} // namespace history
