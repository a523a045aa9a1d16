#include "history/historycommand.h"

#include <limits>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include "rules/config/lookupfile.h"
#include "rules/config/settingsfile.h"
#include "rules/config/usersettings.h"
#include "rules/files/safefile.h"
#include "rules/mudlog/mudlog.h"
#include "history/gaslevelstore.h"
#include "history/historyexport.h"
#include "history/historyfile.h"
#include "history/historystore.h"
#include "history/sqldialect.h"

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;
// A command line tool may wait for the viewer to finish its transaction.
constexpr int LockWaitMs = 5000;
constexpr int PruneStep = 5000;
// Rows of each table per transaction of a copy.
constexpr int CopySliceRows = 5000;
constexpr qint64 DayMs = 24LL * 60 * 60 * 1000;

const char Usage[] =
    "Usage: rthistory COMMAND [OPTIONS]\n"
    "\n"
    "Reads the history of readings that the viewer records.\n"
    "\n"
    "Commands:\n"
    "  units                   each unit with its first and last reading (UTC) and the count\n"
    "  export --unit SERIAL    one unit's readings over a time range:\n"
    "         [--from TIME] [--to TIME] [--format csv|raw|las] [--out FILE]\n"
    "         [--lookup FILE]  SERIAL in any spelling the lookup table makes one\n"
    "                          unit (0001, 1001 and 1); the table is RDVlookup.TXT\n"
    "                          beside the program unless --lookup names another.\n"
    "                          csv and raw carry the unit's own date and time\n"
    "                          beside the time each reading arrived.\n"
    "                          csv: one row per reading, the panel's captions as columns;\n"
    "                          raw: the packets and WITS records, CR LF after each, for\n"
    "                          unit-sim --replay; las: the mud log by lag depth as a LAS\n"
    "                          2.0 file, in the viewer's unit of depth (mudlog/depthUnit,\n"
    "                          feet or metres) and bin size (mudlog/binSize).\n"
    "                          TIME is ISO 8601 (2026-12-08T03:00), UTC\n"
    "                          unless it carries an offset; from is included, to is not.\n"
    "                          Without --out, or with --out -, the export goes to\n"
    "                          standard output. The CSV writes control characters\n"
    "                          as their pictures and puts an apostrophe before a\n"
    "                          field a spreadsheet would run as a formula.\n"
    "  report --unit SERIAL    the tour report of one unit as a PDF file:\n"
    "         --out FILE.pdf [--from TIME] [--to TIME] [--by depth|time]\n"
    "         [--lookup FILE]  SERIAL in any spelling, as for export\n"
    "                          on every page the unit, the interval, when and by\n"
    "                          what it was made; the strip log of the interval by lag\n"
    "                          depth (or by time) at one scale; the events and alarms\n"
    "                          with their times and depths; a summary\n"
    "  prune --days N [--yes]  deletes everything older than N days; --yes is needed\n"
    "                          when that is more than a day of a unit's readings\n"
    "  levels [--unit SERIAL]  each unit's own gas levels, or one unit's: normal below,\n"
    "                          high above, very high above (a unit without levels of\n"
    "                          its own has the defaults, 1200 / 1400 / 1750); they\n"
    "                          decide its gas alerts; the panel keeps the defaults\n"
    "         --unit SERIAL --normal-below N --high-above N --very-high-above N\n"
    "                          gives the unit these levels; a viewer takes them at\n"
    "                          its next connection to the unit. [--lookup FILE] as\n"
    "                          for export\n"
    "  check                   checks the file's integrity\n"
    "  migrate                 creates the history's schema or brings it forward: the\n"
    "                          owner of a shared store runs it, as nothing else\n"
    "                          changes a server's schema\n"
    "  copy --from FILE --to PATH|URI\n"
    "                          copies a history file into another history, a shared\n"
    "                          store on a server as a rule: every row once, however\n"
    "                          often it is run (a row already there is left out); the\n"
    "                          file is brought to this program's schema first\n"
    "\n"
    "Options for every command:\n"
    "  --db PATH|URI           the history: a file (default: the viewer's own),\n"
    "                          sqlite:PATH, or a PostgreSQL server as\n"
    "                          postgresql://user@host:port/dbname?sslmode=require\n"
    "                          (its password from ~/.pgpass, PGPASSWORD or a service\n"
    "                          file, never from the address)\n"
    "  -h, --help              this text\n"
    "\n"
    "Exit codes: 0 done, 1 failed (the reason on standard error), 2 bad command line.\n";

struct Context
{
    QIODevice &out;
    QIODevice &err;
    QString db;

    void print(const QString &text) { out.write(text.toUtf8()); }
    int failed(const QString &text)
    {
        err.write(QStringLiteral("rthistory: %1\n").arg(text).toUtf8());
        return ExitFailure;
    }
    int usage(const QString &text)
    {
        err.write(QStringLiteral("rthistory: %1\nTry rthistory --help.\n").arg(text).toUtf8());
        return ExitUsage;
    }
};

// Where an export found nothing, in words.
QString rangeText(const HistoryExport::Range &range, const QString &db)
{
    QString text = QStringLiteral("in ") + QDir::toNativeSeparators(db);
    const bool from = range.fromMs != std::numeric_limits<qint64>::min();
    if (from)
        text += QStringLiteral(" from ") + historyTimeText(range.fromMs);
    if (range.toMs != std::numeric_limits<qint64>::max())
        text += (from ? QStringLiteral(" to ") : QStringLiteral(" before ")) + historyTimeText(range.toMs);
    return text;
}

int listUnits(Context &c)
{
    HistoryStore store;
    if (const HistoryResult<void> opened = store.open(c.db, HistoryStore::Access::ReadOnly, readerLimits()); !opened)
        return c.failed(opened.reason().text);
    const HistoryResult<std::vector<UnitSummary>> units = store.units();
    if (!units)
        return c.failed(units.reason().text);
    if (units->empty()) {
        c.print(QStringLiteral("no readings in %1\n").arg(QDir::toNativeSeparators(c.db)));
        return 0;
    }
    int width = 4;
    for (const UnitSummary &unit : *units)
        width = qMax(width, static_cast<int>(unit.unit.size()));
    c.print(QStringLiteral("%1  %2  %3  readings\n")
                .arg(QStringLiteral("unit"), -width)
                .arg(QStringLiteral("first (UTC)"), -24)
                .arg(QStringLiteral("last (UTC)"), -24));
    for (const UnitSummary &unit : *units) {
        c.print(QStringLiteral("%1  %2  %3  %4\n")
                    .arg(unit.unit, -width)
                    .arg(historyTimeText(unit.firstMs), -24)
                    .arg(historyTimeText(unit.lastMs), -24)
                    .arg(unit.readings));
    }
    return 0;
}

// The unit --unit names: the unit the serial resolves to in the lookup
// table, as the viewer records it; the serial as typed where the table has
// no row for it, or the file has readings only under that spelling (a
// history recorded before units were resolved).
QString resolvedUnit(const QString &db, const QCommandLineParser &parser)
{
    const QString typed = parser.value(QStringLiteral("unit"));
    const QString table = parser.isSet(QStringLiteral("lookup"))
                              ? parser.value(QStringLiteral("lookup"))
                              : programFilePath(QCoreApplication::applicationDirPath(), "RDVlookup.TXT");
    const Result<std::optional<QByteArray>> found = lookupUnit(table, typed.toLatin1());
    if (!found || !*found)
        return typed;
    const QString unit = QString::fromLatin1(**found);
    if (unit == typed)
        return unit;
    HistoryStore store;
    if (!store.open(db, HistoryStore::Access::ReadOnly, readerLimits()))
        return unit;
    const qint64 all = std::numeric_limits<qint64>::max();
    const HistoryResult<qint64> resolved = store.count(HistoryStore::Table::Readings, {unit, 0, all});
    const HistoryResult<qint64> asTyped = store.count(HistoryStore::Table::Readings, {typed, 0, all});
    return resolved && asTyped && *resolved == 0 && *asTyped > 0 ? typed : unit;
}

int exportReadings(Context &c, const QCommandLineParser &parser)
{
    if (!parser.isSet(QStringLiteral("unit")))
        return c.usage(QStringLiteral("export needs --unit"));
    const Result<HistoryExport::Range> chosen = historycommand::unitRange(parser, c.db);
    if (!chosen)
        return c.usage(chosen.reason());
    const HistoryExport::Range range = *chosen;
    const QString format = parser.value(QStringLiteral("format"));
    const QHash<QString, HistoryExport::Format> formats = {{QStringLiteral("csv"), HistoryExport::Format::Csv},
                                                           {QStringLiteral("raw"), HistoryExport::Format::Raw},
                                                           {QStringLiteral("las"), HistoryExport::Format::Las}};
    if (!formats.contains(format))
        return c.usage(QStringLiteral("--format is csv, raw or las, not %1").arg(format));

    HistoryStore store;
    if (const HistoryResult<void> opened = store.open(c.db, HistoryStore::Access::ReadOnly, readerLimits()); !opened)
        return c.failed(opened.reason().text);
    const QString target = parser.value(QStringLiteral("out"));
    const bool toFile = !target.isEmpty() && target != QStringLiteral("-");
    // A file appears only complete: a failed export leaves none behind. It
    // never takes the place of the history it is read from.
    SafeFile file(target, {c.db});
    if (toFile) {
        if (const Result<void> opened = file.open(); !opened)
            return c.failed(opened.reason());
    }
    // A server's connection carries one cursor at a time: the WITS records
    // of a raw export come through a second one.
    HistoryStore witsStore;
    HistoryExport job(store, range, formats.value(format), toFile ? file.device() : c.out);
    if (formats.value(format) == HistoryExport::Format::Raw && sqldialect::isServerAddress(c.db)) {
        if (const HistoryResult<void> opened = witsStore.open(c.db, HistoryStore::Access::ReadOnly, readerLimits()); !opened)
            return c.failed(opened.reason().text);
        job.setWitsStore(witsStore);
    }
    if (formats.value(format) == HistoryExport::Format::Las) {
        // The viewer's own unit of depth and bin size; a setting that does
        // not read is said and its default used.
        const UserSettings opened = openUserSettings();
        if (!opened.file)
            c.err.write(QStringLiteral("rthistory: %1\n").arg(opened.file.reason()).toUtf8());
        const mudlog::MudLogSetup setup = mudlog::mudLogSetup(*opened.settings);
        for (const QString &problem : setup.problems)
            c.err.write(QStringLiteral("rthistory: %1\n").arg(problem).toUtf8());
        mudlog::LasWell well;
        well.well = range.unit;
        well.writtenBy = QStringLiteral("rthistory");
        job.setMudLog(setup.settings, well);
    }
    if (const Result<void> started = job.start(); !started)
        return c.failed(started.reason());
    if (job.total() == 0) {
        file.cancel();
        return c.failed(QStringLiteral("no readings of %1 %2").arg(range.unit, rangeText(range, c.db)));
    }
    if (const Result<void> written = job.run(); !written)
        return c.failed(written.reason());
    if (toFile) {
        if (const Result<void> committed = file.commit(); !committed)
            return c.failed(committed.reason());
        c.print(QStringLiteral("%1 rows of %2 written to %3\n")
                    .arg(job.written())
                    .arg(range.unit, QDir::toNativeSeparators(target)));
    }
    return 0;
}

int prune(Context &c, const QCommandLineParser &parser)
{
    if (!parser.isSet(QStringLiteral("days")))
        return c.usage(QStringLiteral("prune needs --days"));
    bool ok = false;
    const int days = parser.value(QStringLiteral("days")).toInt(&ok);
    if (!ok || days < 0)
        return c.usage(QStringLiteral("--days is a whole number of 0 or more, not %1").arg(parser.value(QStringLiteral("days"))));
    if (!sqldialect::isServerAddress(c.db) && !QFile::exists(c.db))
        return c.failed(QStringLiteral("no history at %1").arg(QDir::toNativeSeparators(c.db)));
    HistoryStore store;
    HistoryLimits limits;
    limits.lockWaitMs = LockWaitMs;
    if (const HistoryResult<void> opened = store.open(c.db, HistoryStore::Access::ReadWrite, limits); !opened)
        return c.failed(opened.reason().text);
    const qint64 cutoff = QDateTime::currentMSecsSinceEpoch() - days * DayMs;
    // A slip of the fingers (--days 1 for 10) must not take days of
    // readings: more than a day of any unit's goes only when asked twice.
    if (!parser.isSet(QStringLiteral("yes"))) {
        const HistoryResult<std::vector<UnitSummary>> doomed = store.units(cutoff);
        if (!doomed)
            return c.failed(doomed.reason().text);
        QStringList large;
        for (const UnitSummary &unit : *doomed) {
            const qint64 span = unit.lastMs - unit.firstMs;
            if (span > DayMs)
                large << QStringLiteral("%1 days of %2 (%3 readings)")
                             .arg(QString::number(double(span) / DayMs, 'f', 1), unit.unit)
                             .arg(unit.readings);
        }
        if (!large.isEmpty())
            return c.failed(QStringLiteral("prune --days %1 would delete %2; add --yes to delete them")
                                .arg(days)
                                .arg(large.join(QStringLiteral(", "))));
    }
    qint64 total = 0;
    for (;;) {
        const HistoryResult<qint64> deleted = store.pruneSome(cutoff, PruneStep);
        if (!deleted)
            return c.failed(deleted.reason().text);
        if (*deleted == 0)
            break;
        total += *deleted;
    }
    if (total > 0) {
        if (const HistoryResult<void> compacted = store.returnFreeSpace(); !compacted)
            return c.failed(compacted.reason().text);
    }
    c.print(QStringLiteral("%1 rows older than %2 deleted\n").arg(total).arg(historyTimeText(cutoff)));
    return 0;
}

// "0001  1200 / 1400 / 1750", with "(default)" where the unit has none of
// its own.
QString levelsLine(const QString &unit, const readings::GasLevels &levels, bool own)
{
    return QStringLiteral("%1  %2%3\n")
        .arg(unit, readings::gasLevelsText(levels), own ? QString() : QStringLiteral(" (default)"));
}

int gasLevels(Context &c, const QCommandLineParser &parser)
{
    const QStringList names = {QStringLiteral("normal-below"), QStringLiteral("high-above"),
                               QStringLiteral("very-high-above")};
    int given = 0;
    double values[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (!parser.isSet(names[i]))
            continue;
        ++given;
        bool ok = false;
        values[i] = parser.value(names[i]).trimmed().toDouble(&ok);
        if (!ok)
            return c.usage(QStringLiteral("--%1 is not a number: %2").arg(names[i], parser.value(names[i])));
    }
    const bool unitGiven = parser.isSet(QStringLiteral("unit"));
    if (given > 0 && given < 3)
        return c.usage(QStringLiteral("levels takes --normal-below, --high-above and --very-high-above together"));
    if (given == 3 && !unitGiven)
        return c.usage(QStringLiteral("levels needs --unit to give a unit levels"));
    const QString unit = unitGiven ? resolvedUnit(c.db, parser) : QString();

    HistoryStore store;
    HistoryLimits limits;
    limits.lockWaitMs = LockWaitMs;
    if (given == 3) {
        const Result<readings::GasLevels> levels = readings::checkedGasLevels(values[0], values[1], values[2]);
        if (!levels)
            return c.usage(levels.reason());
        if (const HistoryResult<void> opened = store.open(c.db, HistoryStore::Access::ReadWrite, limits); !opened)
            return c.failed(opened.reason().text);
        const HistoryResult<void> set =
            history::setGasLevels(store, unit, *levels, QDateTime::currentMSecsSinceEpoch());
        if (!set)
            return c.failed(set.reason().text);
        c.print(levelsLine(unit, *levels, true));
        return 0;
    }
    if (const HistoryResult<void> opened = store.open(c.db, HistoryStore::Access::ReadOnly, limits); !opened)
        return c.failed(opened.reason().text);
    const HistoryResult<QHash<QString, readings::GasLevels>> own = history::unitGasLevels(store);
    if (!own)
        return c.failed(own.reason().text);
    if (unitGiven) {
        c.print(levelsLine(unit, own->value(unit, readings::GasLevels()), own->contains(unit)));
        return 0;
    }
    c.print(levelsLine(QStringLiteral("default"), readings::GasLevels(), true));
    QStringList units = own->keys();
    units.sort();
    for (const QString &each : std::as_const(units))
        c.print(levelsLine(each, own->value(each), true));
    return 0;
}

int check(Context &c)
{
    HistoryStore store;
    if (const HistoryResult<void> opened = store.open(c.db, HistoryStore::Access::ReadOnly, readerLimits()); !opened)
        return c.failed(opened.reason().text);
    const HistoryResult<QStringList> problems = store.check();
    if (!problems)
        return c.failed(problems.reason().text);
    if (problems->isEmpty()) {
        c.print(QStringLiteral("ok\n"));
        return 0;
    }
    c.print(problems->join(QLatin1Char('\n')) + QLatin1Char('\n'));
    return c.failed(QStringLiteral("%1 is damaged: %2 problems found").arg(QDir::toNativeSeparators(c.db)).arg(problems->size()));
}

// Copies every row of a history file into another history, a slice of each
// table per transaction, in the order they were written. Each row goes
// with its key (where it was first recorded: the file's identity and its
// row number, or the key it came with), so the target leaves out a row it
// holds, and a copy run again, or cut short and run again, adds only what
// is missing.
int copyHistory(Context &c, const QCommandLineParser &parser)
{
    for (const char *name : {"from", "to"}) {
        if (!parser.isSet(QLatin1String(name)))
            return c.usage(QStringLiteral("copy needs --from and --to"));
    }
    if (parser.isSet(QStringLiteral("db")))
        return c.usage(QStringLiteral("--db does not go with copy: --from and --to name the histories"));
    const QString from = parser.value(QStringLiteral("from"));
    const QString to = parser.value(QStringLiteral("to"));
    const Result<sqldialect::Address, QString> source = sqldialect::parseAddress(from);
    if (!source)
        return c.usage(source.reason());
    if (source->engine != sqldialect::Engine::Sqlite)
        return c.usage(QStringLiteral("--from names a history file, not a server"));
    const Result<sqldialect::Address, QString> target = sqldialect::parseAddress(to);
    if (!target)
        return c.usage(target.reason());
    if (!QFileInfo::exists(source->path))
        return c.failed(QStringLiteral("no history at %1").arg(QDir::toNativeSeparators(source->path)));
    if (target->engine == sqldialect::Engine::Sqlite && QFileInfo::exists(target->path)
        && files::identity(target->path) == files::identity(source->path))
        return c.usage(QStringLiteral("--from and --to name the same file"));

    HistoryLimits limits;
    limits.lockWaitMs = LockWaitMs;
    // Opened for writing, so that a file of an older schema is brought
    // forward and has its identity, the origin of its rows' keys.
    HistoryStore in;
    if (const HistoryResult<void> opened = in.open(from, HistoryStore::Access::ReadWrite, limits); !opened)
        return c.failed(opened.reason().text);
    HistoryStore out;
    if (const HistoryResult<void> opened = out.open(to, HistoryStore::Access::ReadWrite, limits); !opened)
        return c.failed(opened.reason().text);
    history::RowMarks marks;
    history::RowCounts read;
    history::RowCounts added;
    for (;;) {
        const HistoryResult<history::Batch> slice = in.rowsAfter(marks, CopySliceRows);
        if (!slice)
            return c.failed(slice.reason().text);
        if (slice->empty())
            break;
        if (const HistoryResult<void> written = out.write(*slice, added); !written)
            return c.failed(QStringLiteral("%1; %2 rows were copied before it, and running the copy again adds the rest")
                                .arg(written.reason().text)
                                .arg(added.rows()));
        read.readings += static_cast<qint64>(slice->readings.size());
        read.witsItems += static_cast<qint64>(slice->witsItems.size());
        read.witsRecords += static_cast<qint64>(slice->witsRecords.size());
        read.events += static_cast<qint64>(slice->events.size());
    }
    c.print(QStringLiteral("%1 readings and %2 other rows copied from %3 to %4; %5 readings and %6 other rows were"
                           " there already\n")
                .arg(added.readings)
                .arg(added.rows() - added.readings)
                .arg(QDir::toNativeSeparators(source->path), to)
                .arg(read.readings - added.readings)
                .arg(read.rows() - read.readings - (added.rows() - added.readings)));
    return 0;
}

int migrate(Context &c)
{
    HistoryStore store;
    HistoryLimits limits;
    limits.lockWaitMs = LockWaitMs;
    if (const HistoryResult<void> opened = store.open(c.db, HistoryStore::Access::Migrate, limits); !opened)
        return c.failed(opened.reason().text);
    c.print(QStringLiteral("%1 has schema %2\n").arg(QDir::toNativeSeparators(c.db)).arg(HistoryStore::SchemaVersion));
    return 0;
}

} // namespace

namespace historycommand {

QList<QCommandLineOption> unitRangeOptions()
{
    return {
        {{QStringLiteral("h"), QStringLiteral("help")}, QString()},
        {QStringLiteral("db"), QString(), QStringLiteral("path")},
        {QStringLiteral("unit"), QString(), QStringLiteral("serial")},
        {QStringLiteral("from"), QString(), QStringLiteral("time")},
        {QStringLiteral("to"), QString(), QStringLiteral("time")},
        {QStringLiteral("lookup"), QString(), QStringLiteral("file")},
    };
}

Result<QString> historyAddress(const QCommandLineParser &parser)
{
    const QString db = parser.isSet(QStringLiteral("db")) ? parser.value(QStringLiteral("db")) : historyDatabasePath();
    // A password in the address is refused before anything connects.
    if (const Result<sqldialect::Address, QString> address = sqldialect::parseAddress(db); !address)
        return failure(address.reason());
    return db;
}

Result<HistoryExport::Range> unitRange(const QCommandLineParser &parser, const QString &db)
{
    HistoryExport::Range range;
    range.fromMs = std::numeric_limits<qint64>::min();
    range.toMs = std::numeric_limits<qint64>::max();
    for (const char *name : {"from", "to"}) {
        const QString option = QLatin1String(name);
        if (!parser.isSet(option))
            continue;
        const std::optional<qint64> time = historyTimeFromText(parser.value(option));
        if (!time)
            return failure(QStringLiteral("--%1 is not an ISO 8601 time: %2").arg(option, parser.value(option)));
        (option == QStringLiteral("from") ? range.fromMs : range.toMs) = *time;
    }
    if (range.fromMs >= range.toMs)
        return failure(QStringLiteral("--from must lie before --to"));
    range.unit = resolvedUnit(db, parser);
    return range;
}

} // namespace historycommand

int runHistoryCommand(const QStringList &arguments, QIODevice &out, QIODevice &err)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(historycommand::unitRangeOptions());
    parser.addOptions({
        {QStringLiteral("format"), QString(), QStringLiteral("format"), QStringLiteral("csv")},
        {QStringLiteral("out"), QString(), QStringLiteral("file")},
        {QStringLiteral("days"), QString(), QStringLiteral("days")},
        {QStringLiteral("yes"), QString()},
        {QStringLiteral("normal-below"), QString(), QStringLiteral("units")},
        {QStringLiteral("high-above"), QString(), QStringLiteral("units")},
        {QStringLiteral("very-high-above"), QString(), QStringLiteral("units")},
    });
    Context c{out, err, QString()};
    if (!parser.parse(arguments))
        return c.usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        c.print(QString::fromLatin1(Usage));
        return 0;
    }
    const QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return c.usage(QStringLiteral("no command given"));
    if (words.size() > 1)
        return c.usage(QStringLiteral("unexpected argument: %1").arg(words.at(1)));
    const QString command = words.first();
    // Which options each command takes besides --db.
    const QHash<QString, QStringList> takes = {
        {QStringLiteral("units"), {}},
        {QStringLiteral("export"),
         {QStringLiteral("unit"), QStringLiteral("from"), QStringLiteral("to"), QStringLiteral("format"),
          QStringLiteral("out"), QStringLiteral("lookup")}},
        {QStringLiteral("prune"), {QStringLiteral("days"), QStringLiteral("yes")}},
        {QStringLiteral("check"), {}},
        {QStringLiteral("migrate"), {}},
        {QStringLiteral("copy"), {QStringLiteral("from"), QStringLiteral("to")}},
        {QStringLiteral("levels"),
         {QStringLiteral("unit"), QStringLiteral("lookup"), QStringLiteral("normal-below"), QStringLiteral("high-above"),
          QStringLiteral("very-high-above")}},
    };
    if (!takes.contains(command))
        return c.usage(QStringLiteral("unknown command: %1").arg(command));
    for (const QString &option : parser.optionNames()) {
        if (option != QStringLiteral("db") && !takes.value(command).contains(option))
            return c.usage(QStringLiteral("--%1 does not go with %2").arg(option, command));
    }
    if (command == QStringLiteral("copy"))
        return copyHistory(c, parser);
    const Result<QString> db = historycommand::historyAddress(parser);
    if (!db)
        return c.usage(db.reason());
    c.db = *db;

    if (command == QStringLiteral("units"))
        return listUnits(c);
    if (command == QStringLiteral("export"))
        return exportReadings(c, parser);
    if (command == QStringLiteral("prune"))
        return prune(c, parser);
    if (command == QStringLiteral("migrate"))
        return migrate(c);
    if (command == QStringLiteral("levels"))
        return gasLevels(c, parser);
    return check(c);
}
