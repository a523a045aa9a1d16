#pragma once

#include <QSqlError>
#include <QString>
#include <QStringList>

#include "rules/convert/result.h"

class QSqlDatabase;

// The one place that knows which database engine holds the history: the
// embedded SQLite file, or a PostgreSQL server shared by many desks. The
// store speaks portable SQL through Qt SQL; what an engine needs of its own
// is here: the address, the driver, how a connection is opened and tuned
// (pragmas for the file, settings for a server session), the column types
// that differ, the insert that leaves an existing row alone, the integrity
// check, returning freed space, and what its error codes mean.
namespace sqldialect {

enum class Engine { Sqlite, Postgres };

// What went wrong, as far as the caller must tell the cases apart.
enum class Failure { None, Other, Corrupt, Busy, Full };

// Where a history lies. A path, or sqlite:PATH, is a SQLite file; a
// postgresql:// (or postgres://) connection URI is a server:
//   postgresql://user@host:port/dbname?sslmode=require
// Passwords never travel in the address: the driver finds them where
// PostgreSQL keeps them (a password file, PGPASSWORD, a service file).
struct Address
{
    Engine engine = Engine::Sqlite;
    QString path;  // the file, for SQLite
    QString host;  // the rest for a server; empty: the driver's default
    int port = -1;
    QString user;
    QString database;
    // The driver's connect options the URI carried (sslmode, service, ...),
    // as key=value.
    QStringList options;
};

// The address a --db argument or a setting names; the reason, as one line
// for the operator, when it cannot be used.
Result<Address, QString> parseAddress(const QString &text);

// True when the text names a server rather than a file.
bool isServerAddress(const QString &text);

// The channel a server's writers notify after each commit, with the units
// the commit wrote rows of as the payload (comma-separated).
inline const QString NewsChannel = QStringLiteral("rtviewer_history");
// The most a notification carries; more units go in several.
constexpr int NewsPayloadBytes = 7000;

// Keeps the driver from repeating what a failure already said, once per
// process: the server's driver warns of each prepared statement it cannot
// free on a connection that was lost, and a recorder's standard error has
// one line per event.
void quietenDriver(Engine engine);

// The Qt SQL driver, and whether this installation has it.
QString driverName(Engine engine);
bool driverAvailable(Engine engine);

// Options given to the driver before opening: for a file, how long a
// statement waits for a lock another program holds before it fails as busy
// (with asItLies the name is unchangingFileName()'s); for a server, the
// address's own options, how long the connection may take and the
// session's settings (prepareSession's), which the server applies as it
// starts the session, without a statement of their own.
// A server's connection may take connectSeconds (above 0; otherwise the
// address's connect_timeout, or 10 s); with silenceSeconds above 0 a server
// that stops answering in the middle of a statement (a link gone without a
// word) fails it after about that long, where the system would otherwise
// wait for many minutes.
QString connectOptions(const Address &address, bool readOnly, int lockWaitMs, bool asItLies = false,
                       int connectSeconds = 0, int silenceSeconds = 0);

// The name under which a file is read as it lies, without locks and without
// the files the engine keeps beside it: for a file on a read-only medium,
// which nobody can be writing.
QString unchangingFileName(const QString &path);

// True when a read-only open failed because the engine could not make the
// files it shares with writers (a read-only medium).
bool cannotShareReads(Engine engine, const QSqlError &error);

// Reads the file's header, so that a file that is not a database fails at
// once; a server answered the driver's own statements as it connected, and
// is asked nothing more. Changes nothing.
Result<void, QSqlError> readHeader(QSqlDatabase &db, Engine engine);

// Tunes a connection. A file opened for writing, once known to be a
// history: for a new file the page layout, then a write-ahead journal, a
// full sync of every commit (a crash or a power cut loses at most the
// transaction being written) and, when sizeLimitBytes is above 0, a ceiling
// on the file size; a file read is left as it is. A server session needs
// nothing more: every commit durable before it is acknowledged, how long a
// statement waits for a lock, and a reader's transactions read-only came
// with the connection (connectOptions). Fails with the engine's error when
// it refuses.
Result<void, QSqlError> prepareSession(QSqlDatabase &db, Engine engine, bool readOnly, qint64 sizeLimitBytes);

// The row key (an integer the engine assigns) and the type of raw bytes.
QString idColumn(Engine engine);
QString bytesType(Engine engine);

// INSERT of one column's value that keeps the row when it exists already.
QString insertIfAbsent(const QString &table, const QString &column);

// The clause that leaves out a row whose key (history::RowKey and its time)
// the table holds already: a row copied twice is written once. Rows
// without a key are never left out.
QString keepFirstOfKey();

// Whether the engine takes a table's rows in one statement, each column
// bound as one array (a server a long way off answers every statement
// after a round trip); otherwise rows go a statement or a few at a time.
bool insertsColumns(Engine engine);

// The type of a column bound as an array.
enum class ColumnType { Integer, Real, Text, Bytes };

// One column of many rows, as the one parameter insertColumns() binds for
// it: a server's array literal. Texts and bytes are kept exactly (quotes,
// backslashes, braces, commas, any character; bytes as hex), and a null
// stays a null, distinct from an empty text and from the text NULL.
class ColumnValues
{
public:
    explicit ColumnValues(ColumnType type);
    void addNull();
    void add(qint64 value);
    void add(double value);
    void add(const QString &text);      // a null QString is a null
    void add(const QByteArray &bytes);  // a null QByteArray is a null
    QString literal() const;  // closed with its brace
    int size() const { return m_count; }

private:
    void next();
    ColumnType m_type;
    QString m_text;
    int m_count = 0;
};

// INSERT of the rows whose columns are bound, in this order, as
// ColumnValues, one parameter each; the rows go in in their order, and
// tail (keepFirstOfKey(), a conflict clause) follows.
struct Column
{
    QString name;
    ColumnType type;
};
QString insertColumns(const QString &table, const QList<Column> &columns, const QString &tail);

// What a server keeps beside its readings table for reading one unit's
// values over a long range, made by its owner (rthistory migrate) when
// missing; nothing on a file. An index by unit and time that also holds
// the values columns, so that a unit's day of charts is read from the
// index's pages alone: the readings of a fleet lie interleaved in the
// table, a reading of one unit to a page, and a day grouped from the table
// read some 86,000 pages. Reading from the index alone needs the table's
// pages marked all-visible by the server's cleaning (vacuum), which it
// starts on a table that only grows after a fifth of its rows are new; the
// readings table has it after every 100,000 (PostgreSQL 13 and later).
// A new values column needs an index of a new name.
QStringList readingsValuesKept(Engine engine, const QStringList &valueColumns);

// The number of the column of a time axis a time lies in, for a GROUP BY:
// the time (an expression, in milliseconds) divided by the column's width
// (bound as the statement's next parameter, a double) and rounded down,
// computed in the engine's double precision exactly as
// std::floor(time / width) is, so that the engine's columns are those of a
// chart drawn from every reading.
QString columnOfTime(Engine engine, const QString &time);

// Ends a statement nested in another so that the engine runs it apart,
// rather than folding it into the outer one and working its expressions out
// again wherever the outer one names them; it limits nothing.
QString keptApart(Engine engine);

// The space the rows take in a file (its pages less the free ones), for a
// bound on it; 0 for a server, whose space is its administrator's.
Result<qint64, QSqlError> usedBytes(QSqlDatabase &db, Engine engine);

// A query whose rows name every problem found, or one row "ok"; empty
// where the engine checks its own pages (a server: its own tools).
QString integrityCheck(Engine engine);

// Gives space freed by deleted rows back to the file system; empty where
// the engine does so by itself (a server's autovacuum).
QString returnFreeSpace(Engine engine);

Failure classify(Engine engine, const QSqlError &error);

// The engine's own words for an error, as one line.
QString reason(Engine engine, const QSqlError &error);

} // namespace sqldialect
