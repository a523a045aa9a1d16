#pragma once

#include <deque>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include <QHash>
#include <QPair>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include "history/historyrows.h"
#include "history/sqldialect.h"
#include "rules/convert/result.h"

class QSqlError;
class QSqlQuery;

// A failure of the history file, as one line for the operator.
struct HistoryError
{
    sqldialect::Failure kind = sqldialect::Failure::Other;
    QString text;
};

// What the store gives back: the value, or the failure with its kind (a
// busy file is tried again later, a damaged one moved aside).
template <typename T>
using HistoryResult = Result<T, HistoryError>;

// One unit's rows over a time range: from included, to excluded.
struct HistoryRange
{
    QString unit;
    qint64 fromMs = 0;
    qint64 toMs = 0;
};

// The clock a unit's readings are read by: the time each arrived, or the
// unit's own (readings without it are left out).
enum class HistoryClock { Arrival, Unit };

// A unit's own clock beside the arrival times: its earliest reading by its
// own clock, and the arrival and unit times of its latest readings that
// carry one, newest first.
struct UnitClockReadings
{
    std::optional<qint64> firstMs;
    std::vector<std::pair<qint64, qint64>> latest;
};

struct UnitSummary
{
    QString unit;
    qint64 firstMs = 0;  // the first and last reading, UTC milliseconds
    qint64 lastMs = 0;
    qint64 readings = 0;
};

// A unit with readings, and the time of its first one.
struct RecordedUnit
{
    QString unit;
    qint64 firstMs = 0;
};

// The readings of one column of a time axis, as the engine grouped them:
// the times of the first and last, and the lowest and highest value of
// each expression asked for (none where no reading had a number).
struct ColumnBounds
{
    qint64 firstMs = 0;
    qint64 lastMs = 0;
    std::vector<std::optional<double>> low;
    std::vector<std::optional<double>> high;
};

struct HistoryLimits
{
    // Above 0: the file may not grow past it (writes then fail as on a full
    // disk).
    qint64 sizeBytes = 0;
    // How long a statement waits for a lock another program holds. The
    // viewer's own thread waits not at all (its window would freeze): a busy
    // file fails at once and the caller tries again later. A reader off that
    // thread waits (readerLimits()).
    int lockWaitMs = 0;
    // A server's connection: above 0, how long it may take (seconds), and
    // how long a server may stay silent in the middle of a statement
    // before the statement fails (sqldialect::connectOptions).
    int connectSeconds = 0;
    int silenceSeconds = 0;
    // A file's connection: above 0, the most it keeps of the file's pages
    // in memory between reads, in KiB. The engine's own default, some 2 MB
    // a connection, fills slowly as a reader that follows a growing file
    // comes to new pages, and holds them.
    int cacheKiB = 0;
};

// The limits of a reader off the window's thread (a reader thread, a
// command). A file's lock is held for a moment by others now and then: by
// the first reader to open it after the last one closed, while it makes the
// index it shares with the others, or by a writer's checkpoint. Failing at
// once there failed an export started as the dialog listed the units.
constexpr int ReaderLockWaitMs = 2000;
HistoryLimits readerLimits();

struct Sample
{
    qint64 timeMs = 0;
    double value = 0.0;  // NaN where the packet carried no number
};

// Rows read from the history in order of time, a slice at a time, so that
// a long range comes in while a window stays responsive or an export shows
// its progress. Made by the store, whose connection it reads on: the store
// must stay open while it lives. A failure on the way (a damaged page, a
// read cut short) is a failure of the read, never its end.
template <typename Row>
class HistoryCursor
{
public:
    HistoryCursor(HistoryCursor &&other) noexcept;
    HistoryCursor &operator=(HistoryCursor &&other) noexcept;
    ~HistoryCursor();

    // Up to maxRows more rows; fewer only at the end, after which done().
    HistoryResult<std::vector<Row>> fetch(int maxRows);
    // The same, each row handed to take as it is read: how many were.
    HistoryResult<int> fetch(int maxRows, const std::function<void(const Row &)> &take);
    bool done() const { return m_done; }

private:
    friend class HistoryStore;
    using Reader = std::function<Row(const QSqlQuery &)>;
    HistoryCursor(std::unique_ptr<QSqlQuery> query, Reader read, QString path, sqldialect::Engine engine);

    std::unique_ptr<QSqlQuery> m_query;
    Reader m_read;
    QString m_path;
    sqldialect::Engine m_engine;
    bool m_done = false;
};

// The history file: one database connection, its schema (brought forward
// when the file is older than this program), and every statement that
// writes and reads it. Every operation answers with a HistoryResult; none
// throws. Times are UTC milliseconds, ranges include their start and
// exclude their end.
class HistoryStore
{
public:
    static constexpr int SchemaVersion = 5;
    // Migrate is ReadWrite that also brings a server's schema forward, for
    // its owner; ReadWrite does so for a file only.
    enum class Access { ReadWrite, ReadOnly, Migrate };
    // The tables of a unit's rows.
    enum class Table { Readings, WitsItems, WitsRecords, Events };

    HistoryStore();
    ~HistoryStore();
    HistoryStore(const HistoryStore &) = delete;
    HistoryStore &operator=(const HistoryStore &) = delete;

    // Opens the history at an address (sqldialect::parseAddress: a file, or
    // a PostgreSQL server). A file is created (and its folder) for
    // ReadWrite when it is missing; a ReadOnly open of a missing file
    // fails, and one of a file on a read-only medium reads it as it lies.
    // Only a regular file is opened, and a file that is not a history is
    // left as it was. A server whose schema is older than this program's
    // is refused, saying what it needs, except for Migrate.
    HistoryResult<void> open(const QString &path, Access access, const HistoryLimits &limits = HistoryLimits());
    void close();
    bool isOpen() const { return m_db.isOpen(); }
    // The engine of the history last opened.
    sqldialect::Engine engine() const { return m_engine; }
    const QString &path() const { return m_path; }

    // Writes the whole batch in one transaction, or nothing of it.
    HistoryResult<void> write(const history::Batch &batch);
    // Writes every batch in one transaction, or nothing of them.
    HistoryResult<void> write(const std::deque<history::Batch> &batches);
    // Writes the batch in one transaction, or nothing of it, and counts the
    // rows added: a row whose key the history holds already is left out
    // (history::RowKey), so a batch written twice adds its rows once.
    HistoryResult<void> write(const history::Batch &batch, history::RowCounts &added);

    // The history's own number, made with its schema: the origin of the
    // rows recorded in it, when they are copied elsewhere. 0 for a history
    // older than the keys (read as it lies).
    qint64 identity() const { return m_identity; }
    // Up to maxRows rows of each table after the marks, in the order they
    // were written, each with its key: the key it came with, or this
    // history's identity and its row number. The marks move past them.
    HistoryResult<history::Batch> rowsAfter(history::RowMarks &marks, int maxRows);
    // Deletes every row up to the marks but each table's newest, in one
    // transaction: rows handed on and acknowledged. The newest stays so
    // that row numbers are never given twice.
    HistoryResult<void> forget(const history::RowMarks &marks);
    // The space the rows take in a file (0 for a server).
    HistoryResult<qint64> usedBytes();
    // Deletes the oldest share (0 to 1) of each table's rows, never a
    // table's newest nor the "rows lost" events of earlier drops, and writes in the same transaction a "rows lost"
    // event at atMs for each unit that lost rows, whose detail says how
    // many of each kind and then why. Returns what went.
    HistoryResult<history::RowCounts> dropOldest(double share, qint64 atMs, const QString &why);

    // Every unit with readings (before beforeMs), in order of the unit.
    HistoryResult<std::vector<UnitSummary>> units(qint64 beforeMs = std::numeric_limits<qint64>::max());
    // Every unit with readings and its first one, in order of the unit:
    // a look-up in the index per unit, however long its history.
    HistoryResult<std::vector<RecordedUnit>> recordedUnits();
    // Each unit's latest reading and latest event (UTC milliseconds, -1
    // for none): a look-up in the index per unit.
    HistoryResult<QHash<QString, QPair<qint64, qint64>>> latestByUnit();
    // A unit's readings over a range in order of time (and of writing),
    // the numeric columns named in each row's values, handed to take one
    // at a time. The statement is prepared once and kept on the
    // connection while the columns stay the same: for a reader that asks
    // for the same few columns of many units again and again (the fleet
    // board), where preparing it afresh for each unit was most of the cost.
    HistoryResult<void> eachReading(const HistoryRange &range, const QStringList &columns,
                                    const std::function<void(const history::ReadingRow &)> &take);
    // How many rows of the unit a table holds over the range.
    HistoryResult<qint64> count(Table table, const HistoryRange &range);

    // A unit's readings over a range, in order of time (and of writing):
    // the packet's text when asked for, and the numeric columns named (of
    // history::numericColumns(), in each row's values at their place).
    // By the unit's clock, the range is of the unit's times and the order
    // theirs; readings without one are left out.
    HistoryResult<HistoryCursor<history::ReadingRow>> readings(const HistoryRange &range, bool withPacket,
                                                              const QStringList &columns,
                                                              HistoryClock clock = HistoryClock::Arrival);
    // The unit's clock: its first unit time, and up to latest readings
    // that arrived from sinceMs on with both times (index look-ups).
    HistoryResult<UnitClockReadings> unitClock(const QString &unit, qint64 sinceMs, int latest);
    // One numeric column of a unit's readings over a time range, in order
    // of time, all at once.
    HistoryResult<std::vector<Sample>> series(const QString &unit, const QString &column, qint64 fromMs, qint64 toMs);
    // The highest value of one numeric column in each bucketMs of a unit's
    // readings over a time range, grouped by the engine: one sample a
    // bucket that has a number, at the bucket's start, in order of time.
    HistoryResult<std::vector<Sample>> peaks(const QString &unit, const QString &column, qint64 fromMs, qint64 toMs,
                                             qint64 bucketMs);
    // A unit's readings over a range in columns of widthMs along the time
    // axis (sqldialect::columnOfTime, the columns of a chart that wide),
    // grouped by the engine in one statement along the unit's index: for
    // each column holding readings, in order of time, the lowest and highest
    // value of each expression. The expressions are SQL over the readings'
    // numeric columns, made by the program (never from input). Each reading
    // counts, so no peak is lost however few rows come back. By the unit's
    // clock, as readings() does.
    HistoryResult<std::vector<ColumnBounds>> columnBounds(const HistoryRange &range, const QStringList &expressions,
                                                          double widthMs, HistoryClock clock = HistoryClock::Arrival);
    // A unit's latest reading over a time range whose column is below low,
    // above high or no number (NaN): the reading that set a level held
    // between the two. None when every reading is between.
    HistoryResult<std::optional<Sample>> latestOutside(const HistoryRange &range, const QString &column, double low,
                                                       double high);
    // The WITS items, and the records as received, in order of time.
    HistoryResult<HistoryCursor<history::WitsRow>> witsItems(const HistoryRange &range);
    HistoryResult<HistoryCursor<history::WitsRecordRow>> witsRecords(const HistoryRange &range);
    // The events of the kinds named, in order of time.
    HistoryResult<std::vector<history::EventRow>> events(const HistoryRange &range, const QStringList &kinds);

    // Deletes at most maxRows rows older than cutoffMs (readings, WITS items
    // and events, every unit) in one transaction and returns how many went;
    // 0 once nothing older is left. Small steps keep each transaction short
    // while other work waits.
    HistoryResult<qint64> pruneSome(qint64 cutoffMs, int maxRows);
    // Hands the space of deleted rows back to the file system.
    HistoryResult<void> returnFreeSpace();

    // The problems an integrity check finds: none for a sound file.
    HistoryResult<QStringList> check();

    // The connection itself, for tests and measurements that look into the
    // file; valid while open.
    QSqlDatabase database() const { return m_db; }

private:
    Result<void, QSqlError> connectTo(const sqldialect::Address &address, bool readOnly, const HistoryLimits &limits,
                                      bool asItLies);
    HistoryResult<void> exec(const QString &statement);
    HistoryResult<void> writeAll(const std::vector<const history::Batch *> &batches, history::RowCounts *added);
    // The rows, inside a transaction the caller holds; false with the error.
    bool writeInto(const std::vector<const history::Batch *> &batches, history::RowCounts *added, QSqlError &error,
                   QStringList &addedUnits);
    HistoryResult<qint64> readIdentity();
    // Tells a server's readers which units the transaction wrote rows of.
    bool notifyUnits(const std::vector<const history::Batch *> &batches, QSqlError &error);
    template <typename Run, typename Unit>
    bool writeRows(const history::Batch &batch, Run &run, Unit &unit, history::RowCounts *added);
    // The rows of every batch, each table's in one statement that takes
    // its columns as arrays, the new units in one more.
    bool writeColumns(const std::vector<const history::Batch *> &batches, history::RowCounts *added,
                      QSqlError &error, QStringList &addedUnits);
    HistoryResult<void> migrate(int version);
    HistoryResult<int> schemaVersion();
    HistoryResult<void> prepareStatements();
    HistoryError sqlFailure(const QString &what, const QSqlError &error) const;
    // A query over one unit's rows in a range, executed.
    HistoryResult<std::unique_ptr<QSqlQuery>> rangeQuery(const QString &select, const QString &table,
                                                         const HistoryRange &range, const QString &order,
                                                         const QString &timeColumn = QStringLiteral("time_ms"));
    // The indexes a reader relies on beyond the schema's steps, made where
    // missing: they change no row, so no schema step is needed for them.
    HistoryResult<void> keepIndexes();

    QString m_path;
    sqldialect::Engine m_engine = sqldialect::Engine::Sqlite;
    QString m_connection;
    QSqlDatabase m_db;
    std::unique_ptr<QSqlQuery> m_insertReading;
    std::unique_ptr<QSqlQuery> m_insertReadings;  // many at once
    std::unique_ptr<QSqlQuery> m_insertWits;
    std::unique_ptr<QSqlQuery> m_insertWitsRecord;
    std::unique_ptr<QSqlQuery> m_insertEvent;
    std::unique_ptr<QSqlQuery> m_insertUnit;
    // By Table, then the units: where the engine takes whole columns.
    std::unique_ptr<QSqlQuery> m_insertColumns[5];
    // eachReading's statement, and the columns it reads.
    std::unique_ptr<QSqlQuery> m_eachReading;
    QStringList m_eachColumns;
    QStringList m_knownUnits;
    // The file's schema, as found or brought forward at the open.
    int m_schema = 0;
    qint64 m_identity = 0;
};
