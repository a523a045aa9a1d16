#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QStringList>

#include "history/historyexport.h"
#include "rules/convert/result.h"

class QCommandLineParser;
class QIODevice;

// The rthistory command line: arguments as the program got them (its name
// first), what it prints goes to out and err. Returns the exit code: 0 done,
// 1 a failure (one line on err), 2 a bad command line.
int runHistoryCommand(const QStringList &arguments, QIODevice &out, QIODevice &err);

// What the commands that read one unit's history share, the tour report's
// included, so that each takes the same options the same way.
namespace historycommand {

// --help, --db (a file or a server), and one unit's readings: --unit,
// --from, --to and --lookup.
QList<QCommandLineOption> unitRangeOptions();

// The history --db names, the viewer's own without it; the reason, a bad
// command line, when the address cannot be used (a password in it).
Result<QString> historyAddress(const QCommandLineParser &parser);

// The unit and the time range --unit, --from and --to name in the history
// at db: the serial resolved through the lookup table (--lookup, or
// RDVlookup.TXT beside the program) as the viewer records it, or as typed
// where the history holds it only so; from included, to not, either open.
// The reason, a bad command line, when a time does not read or the range
// is empty. --unit is the caller's to require.
Result<HistoryExport::Range> unitRange(const QCommandLineParser &parser, const QString &db);

} // namespace historycommand
