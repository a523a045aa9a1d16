#pragma once

#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include "history/historyrows.h"
#include "history/sqldialect.h"

class QSqlError;
class QSqlQuery;

// A failure of the history file, as one line for the operator.
struct HistoryError
{
    sqldialect::Failure kind = sqldialect::Failure::None;
    QString text;

    bool failed() const { return kind != sqldialect::Failure::None; }
};

struct UnitSummary
{
    QString unit;
    qint64 firstMs = 0;  // the first and last reading, UTC milliseconds
    qint64 lastMs = 0;
    qint64 readings = 0;
};

struct HistoryLimits
{
    // Above 0: the file may not grow past it (writes then fail as on a full
    // disk).
    qint64 sizeBytes = 0;
    // How long a statement waits for a lock another program holds. The
    // viewer waits not at all (its window would freeze): a busy file fails
    // at once and the caller tries again later.
    int lockWaitMs = 0;
};

struct Sample
{
    qint64 timeMs = 0;
    double value = 0.0;  // NaN where the packet carried no number
};

// The history file: one database connection, its schema (brought forward
// when the file is older than this program), and the statements that write
// and read it. Every operation reports failure by its result and leaves the
// reason in error(); none throws. Times are UTC milliseconds, ranges include
// their start and exclude their end.
class HistoryStore
{
public:
    static constexpr int SchemaVersion = 2;
    enum class Access { ReadWrite, ReadOnly };

    HistoryStore();
    ~HistoryStore();
    HistoryStore(const HistoryStore &) = delete;
    HistoryStore &operator=(const HistoryStore &) = delete;

    // Opens the file, creating it (and its folder) for ReadWrite when it is
    // missing; a ReadOnly open of a missing file fails, and one of a file
    // on a read-only medium reads it as it lies. Only a regular file is
    // opened, and a file that is not a history is left as it was.
    bool open(const QString &path, Access access, const HistoryLimits &limits = HistoryLimits());
    void close();
    bool isOpen() const { return m_db.isOpen(); }
    const QString &path() const { return m_path; }
    const HistoryError &error() const { return m_error; }

    // Writes the whole batch in one transaction, or nothing of it.
    bool write(const history::Batch &batch);

    // Every unit with readings (before beforeMs), in order of the unit.
    std::optional<std::vector<UnitSummary>> units(qint64 beforeMs = std::numeric_limits<qint64>::max());
    // One numeric column of a unit's readings over a time range, in order
    // of time; the column is one of history::numericColumns().
    std::optional<std::vector<Sample>> series(const QString &unit, const QString &column, qint64 fromMs, qint64 toMs);

    // Deletes at most maxRows rows older than cutoffMs (readings, WITS items
    // and events, every unit) in one transaction and returns how many went;
    // 0 once nothing older is left, -1 on failure. Small steps keep each
    // transaction short while other work waits.
    qint64 pruneSome(qint64 cutoffMs, int maxRows);
    // Hands the space of deleted rows back to the file system.
    bool returnFreeSpace();

    // The problems an integrity check finds: none for a sound file.
    std::optional<QStringList> check();

    // The connection, for the export's own queries; valid while open.
    QSqlDatabase database() const { return m_db; }

private:
    bool connectTo(const QString &path, bool readOnly, int lockWaitMs, bool asItLies, QSqlError *error);
    bool exec(const QString &statement);
    bool migrate(int version);
    std::optional<int> schemaVersion();
    bool prepareStatements();
    bool fail(const QString &what, const QSqlError &error);
    bool fail(sqldialect::Failure kind, const QString &text);

    QString m_path;
    QString m_connection;
    QSqlDatabase m_db;
    HistoryError m_error;
    std::unique_ptr<QSqlQuery> m_insertReading;
    std::unique_ptr<QSqlQuery> m_insertWits;
    std::unique_ptr<QSqlQuery> m_insertWitsRecord;
    std::unique_ptr<QSqlQuery> m_insertEvent;
    std::unique_ptr<QSqlQuery> m_insertUnit;
    QStringList m_knownUnits;
};
