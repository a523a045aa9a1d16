#include "fleet/recordercommand.h"

#include <csignal>
#include <random>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QIODevice>

#include "fleet/fleetrecorder.h"
#include "fleet/signalpipe.h"
#include "history/historyfile.h"
#include "history/historywriter.h"
#include "history/sqldialect.h"
#include "rules/config/settingsfile.h"

namespace {

constexpr int FleetCapacityReadings = 200 * 10 * 60;

const char Usage[] =
    "Usage: rtrecorder [--units FILE] [--lookup FILE] [--db PATH|URI]\n"
    "Records every unit of a fleet into one history, reconnecting each link\n"
    "that is refused, fails, is lost or stays silent.\n"
    "\n"
    "  --units FILE   the units to record: one serial number a line, # comments\n"
    "                 (default: every row of the lookup table)\n"
    "  --lookup FILE  the lookup table (default: RDVlookup.TXT beside the program)\n"
    "  --db PATH|URI  the history: a file (default: the viewer's own), sqlite:PATH,\n"
    "                 or a PostgreSQL server as postgresql://user@host:port/dbname\n"
    "                 ?sslmode=require (its password from ~/.pgpass, PGPASSWORD or\n"
    "                 a service file, never from the address; its owner creates\n"
    "                 the schema with rthistory migrate)\n"
    "  --help         this text\n"
    "\n"
    "SIGTERM or SIGINT: commits what is pending, closes every link and ends (0).\n"
    "SIGHUP: reads the units again, opens the added and closes the removed.\n"
    "Exit codes: 0 stopped, 1 the history cannot be opened, 2 a bad option or\n"
    "units file.\n";

struct Options
{
    QString units;
    QString lookup;
    QString db;
    bool help = false;
};

// The options, or why not.
Result<Options> parseOptions(const QStringList &arguments)
{
    Options options;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &option = arguments.at(i);
        if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            options.help = true;
            continue;
        }
        QString *target = option == QLatin1String("--units")    ? &options.units
                          : option == QLatin1String("--lookup") ? &options.lookup
                          : option == QLatin1String("--db")     ? &options.db
                                                                : nullptr;
        if (!target)
            return failure(QStringLiteral("unknown option %1").arg(option));
        if (i + 1 >= arguments.size() || arguments.at(i + 1).isEmpty())
            return failure(QStringLiteral("%1 needs a value").arg(option));
        if (!target->isEmpty())
            return failure(QStringLiteral("%1 given twice").arg(option));
        *target = arguments.at(++i);
    }
    // A password in the address is refused here, before it is used.
    if (!options.db.isEmpty()) {
        if (const Result<sqldialect::Address, QString> address = sqldialect::parseAddress(options.db); !address)
            return failure(address.reason());
    }
    return options;
}

void say(QIODevice &err, const QString &line)
{
    err.write(line.toLocal8Bit() + '\n');
}

// A line of the running recorder, stamped as the units' lines are.
void report(QIODevice &err, const QString &text)
{
    say(err, QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"))
                 + QStringLiteral(" rtrecorder: ") + text);
}

} // namespace

int runRecorder(const QStringList &arguments, QIODevice &err)
{
    const Result<Options> parsed = parseOptions(arguments);
    if (!parsed) {
        say(err, QStringLiteral("rtrecorder: ") + parsed.reason());
        err.write("Try rtrecorder --help\n");
        return 2;
    }
    if (parsed->help) {
        err.write(Usage);
        return 0;
    }
    const Options &options = *parsed;

    // The signals are caught before anything is opened, so that a stop
    // asked during the start is not the default (an end without a commit).
    SignalPipe signalPipe;
    if (!signalPipe.install()) {
        say(err, QStringLiteral("rtrecorder: cannot catch signals"));
        return 1;
    }

    const QString lookupPath = options.lookup.isEmpty()
        ? programFilePath(QCoreApplication::applicationDirPath(), QByteArrayLiteral("RDVlookup.TXT"))
        : options.lookup;

    HistoryWriter::Options writerOptions;
    writerOptions.path = options.db.isEmpty() ? historyDatabasePath() : options.db;
    // Rows are recorded under the unit each serial resolves to, as the
    // viewer records them, so 0001 and 1001 stay one history.
    writerOptions.lookupPath = lookupPath;
    // A minute of a fleet of 200 units at 10 packets a second (some 80 MB)
    // is held while the history does not take rows; past that the oldest
    // batch goes and is counted.
    writerOptions.capacityReadings = FleetCapacityReadings;
    HistoryWriter writer(writerOptions);

    QElapsedTimer monotonic;
    monotonic.start();
    auto random = std::make_shared<std::mt19937_64>(std::random_device()());
    FleetUnit::Context context;
    context.clock = [monotonic] { return monotonic.elapsed(); };
    context.random = [random] { return std::uniform_real_distribution<double>(0.0, 1.0)(*random); };
    context.wallClock = [] { return QDateTime::currentMSecsSinceEpoch(); };

    FleetRecorder::Options recorderOptions;
    recorderOptions.unitsPath = options.units;
    recorderOptions.lookupPath = lookupPath;
    FleetRecorder recorder(recorderOptions, writer, context);
    QObject::connect(&recorder, &FleetRecorder::logLine, &recorder, [&err](const QString &line) { say(err, line); });

    // The units first: a units file at fault is a bad option, whatever the
    // history.
    if (const Result<void> started = recorder.start(); !started) {
        say(err, QStringLiteral("rtrecorder: ") + started.reason());
        recorder.stop();
        return 2;
    }
    if (const HistoryResult<void> opened = writer.start(); !opened) {
        say(err, QStringLiteral("rtrecorder: cannot open the history %1: %2").arg(writerOptions.path, opened.reason().text));
        recorder.stop();
        writer.stop();
        return 1;
    }
    report(err, QStringLiteral("recording into %1").arg(writerOptions.path));

    QObject::connect(&signalPipe, &SignalPipe::reloadAsked, &recorder, &FleetRecorder::reload);
    bool stopping = false;
    QObject::connect(&signalPipe, &SignalPipe::stopAsked, &recorder, [&](int number) {
        // A second signal while the first stop runs (it reads the sockets
        // once more, so signals are taken meanwhile) changes nothing.
        if (stopping)
            return;
        stopping = true;
        report(err, QStringLiteral("%1: closing every link and committing")
                        .arg(number == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM")));
        recorder.stop();
        const bool all = writer.stop();
        report(err, all ? QStringLiteral("stopped, everything committed")
                        : QStringLiteral("stopped; what the history did not take is lost"));
        QCoreApplication::exit(0);
    });
    return QCoreApplication::exec();
}
