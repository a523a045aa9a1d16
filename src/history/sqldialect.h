#pragma once

#include <QSqlError>
#include <QString>
#include <QStringList>

#include "rules/convert/result.h"

class QSqlDatabase;

// The one place that knows which database engine holds the history. The
// store speaks portable SQL through Qt SQL; what the engine needs of its own
// is here: the driver, how a connection is opened and tuned, the column
// types that differ between engines, the insert that leaves an existing row
// alone, the integrity check, returning freed space, and what its error
// codes mean. Pointing the viewers at a server later is a second set of
// these answers, not a change to the store.
namespace sqldialect {

// What went wrong, as far as the caller must tell the cases apart.
enum class Failure { None, Other, Corrupt, Busy, Full };

// The Qt SQL driver, and whether this installation has it.
QString driverName();
bool driverAvailable();

// Options given to the driver before opening: how long a statement waits
// for a lock another program holds before it fails as busy; with asItLies
// the name is unchangingFileName()'s.
QString connectOptions(bool readOnly, int lockWaitMs, bool asItLies = false);

// The name under which a file is read as it lies, without locks and without
// the files the engine keeps beside it: for a file on a read-only medium,
// which nobody can be writing.
QString unchangingFileName(const QString &path);

// True when a read-only open failed because the engine could not make the
// files it shares with writers (a read-only medium).
bool cannotShareReads(const QSqlError &error);

// Reads the file's header, so that a file that is not a database fails at
// once. Changes nothing.
Result<void, QSqlError> readHeader(QSqlDatabase &db);

// Tunes a connection for writing, once the file is known to be a history:
// for a new file the page layout, then a write-ahead journal, a full sync of
// every commit (a crash or a power cut loses at most the transaction being
// written) and, when sizeLimitBytes is above 0, a ceiling on the file size.
// Fails with the engine's error when the file refuses.
Result<void, QSqlError> prepareSession(QSqlDatabase &db, qint64 sizeLimitBytes);

// The row key (an integer the engine assigns) and the type of raw bytes.
QString idColumn();
QString bytesType();

// INSERT of one column's value that keeps the row when it exists already.
QString insertIfAbsent(const QString &table, const QString &column);

// A query whose rows name every problem found, or one row "ok".
QString integrityCheck();

// Gives space freed by deleted rows back to the file system.
QString returnFreeSpace();

Failure classify(const QSqlError &error);

} // namespace sqldialect
