#include "fleet/recordercommand.h"

#include <csignal>
#include <cstdlib>
#include <random>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QDir>
#include <QFileInfo>
#include <QIODevice>
#include <QLockFile>

#include "fleet/fleetrecorder.h"
#include "fleet/signalpipe.h"
#include "history/historyfile.h"
#include "history/historywriter.h"
#include "history/spoolforwarder.h"
#include "history/sqldialect.h"
#include "rules/config/settingsfile.h"

namespace {

constexpr int FleetCapacityReadings = 200 * 10 * 60;
// At a stop, how long (from the signal) the spool's rows may go on to the
// server, so that the whole stop ends within 3 s.
constexpr qint64 ForwardAtStopMs = 2000;

const char Usage[] =
    "Usage: rtrecorder [--units FILE] [--lookup FILE] [--db PATH|URI]\n"
    "                  [--spool FILE] [--spool-limit MB]\n"
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
    "  --spool FILE   with a server: the local file every reading is committed\n"
    "                 to first and forwarded from, in order, once the server\n"
    "                 acknowledges it (default: spool.sqlite3 beside the viewer's\n"
    "                 own history); one recorder per spool\n"
    "  --spool-limit MB  the most the spool holds while the server cannot be\n"
    "                 reached; past it the oldest rows go (default 1024)\n"
    "  --help         this text\n"
    "\n"
    "SIGTERM or SIGINT: commits what is pending, closes every link, forwards\n"
    "for at most two seconds and ends (0).\n"
    "SIGHUP: reads the units again, opens the added and closes the removed.\n"
    "Exit codes: 0 stopped, 1 the history cannot be opened, 2 a bad option or\n"
    "units file.\n";

struct Options
{
    QString units;
    QString lookup;
    QString db;
    QString spool;
    QString spoolLimit;
    qint64 spoolLimitBytes = SpoolForwarder::DefaultLimitBytes;
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
                          : option == QLatin1String("--spool")  ? &options.spool
                          : option == QLatin1String("--spool-limit") ? &options.spoolLimit
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
    const bool server = sqldialect::isServerAddress(options.db);
    for (const auto &[given, name] : {std::pair(&options.spool, "--spool"), std::pair(&options.spoolLimit, "--spool-limit")}) {
        if (!given->isEmpty() && !server)
            return failure(QStringLiteral("%1 goes with a server in --db: a file is written directly").arg(QLatin1String(name)));
    }
    if (!options.spoolLimit.isEmpty()) {
        bool ok = false;
        const qint64 megabytes = options.spoolLimit.toLongLong(&ok);
        if (!ok || megabytes < 1 || megabytes > 1024 * 1024)
            return failure(QStringLiteral("--spool-limit is a number of megabytes from 1 to 1048576, not %1")
                               .arg(options.spoolLimit));
        options.spoolLimitBytes = megabytes * 1024 * 1024;
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

    // A server is written through a spool: every batch is committed to a
    // local file first, and a forwarder hands the file's rows on once the
    // server acknowledges them, so that a server or a link that goes away
    // costs nothing but time.
    const QString history = options.db.isEmpty() ? historyDatabasePath() : options.db;
    const bool server = sqldialect::isServerAddress(history);
    const QString spoolPath = !server ? QString()
        : !options.spool.isEmpty()    ? options.spool
                                      : QFileInfo(historyDatabasePath()).absolutePath() + QStringLiteral("/spool.sqlite3");
    HistoryWriter::Options writerOptions;
    writerOptions.path = server ? spoolPath : history;
    if (server) {
        // The spool is bounded by its size, not its age; its forwarder
        // deletes from it meanwhile.
        writerOptions.retentionDays = 0;
        writerOptions.lockWaitMs = SpoolForwarder::SpoolLockWaitMs;
    }
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
    // Two recorders on one spool would forward each other's rows.
    QLockFile spoolLock(spoolPath + QStringLiteral(".lock"));
    if (server) {
        spoolLock.setStaleLockTime(0);
        if (!QFileInfo(spoolPath).absoluteDir().mkpath(QStringLiteral(".")) || !spoolLock.tryLock(0)) {
            qint64 holder = 0;
            QString host, application;
            spoolLock.getLockInfo(&holder, &host, &application);
            say(err, QStringLiteral("rtrecorder: cannot open the spool %1: %2")
                         .arg(spoolPath, spoolLock.error() == QLockFile::LockFailedError
                                             ? QStringLiteral("another recorder (process %1) uses it; give each its own --spool")
                                                   .arg(holder)
                                             : QStringLiteral("its lock file cannot be made")));
            recorder.stop();
            return 1;
        }
    }
    if (const HistoryResult<void> opened = writer.start(); !opened) {
        say(err, QStringLiteral("rtrecorder: cannot open the %1 %2: %3")
                     .arg(server ? QStringLiteral("spool") : QStringLiteral("history"), writerOptions.path,
                          opened.reason().text));
        recorder.stop();
        writer.stop();
        return 1;
    }
    SpoolForwarder::Options forwarderOptions;
    forwarderOptions.spoolPath = spoolPath;
    forwarderOptions.serverAddress = history;
    forwarderOptions.limitBytes = options.spoolLimitBytes;
    SpoolForwarder forwarder(forwarderOptions);
    if (server) {
        QObject::connect(&forwarder, &SpoolForwarder::paused, &forwarder, [&err, history](const QString &reason) {
            report(err, QStringLiteral("forwarding to %1 paused: %2; recording goes on into the spool, tried again"
                                       " in a second, then less often (at least every %3 s)")
                            .arg(history, reason)
                            .arg(SpoolForwarder::RetryMostMs / 1000));
        });
        QObject::connect(&forwarder, &SpoolForwarder::resumed, &forwarder, [&err](qint64 readings, qint64 rows, qint64 ms) {
            report(err, QStringLiteral("forwarding resumed: the backlog of %1 readings (%2 rows) is on the server,"
                                       " forwarded in %3 s")
                            .arg(readings)
                            .arg(rows)
                            .arg(QString::number(double(ms) / 1000.0, 'f', 1)));
        });
        QObject::connect(&forwarder, &SpoolForwarder::spoolFull, &forwarder,
                         [&err, spoolPath](qint64 limit, qint64 readings, qint64) {
                             report(err, QStringLiteral("the spool %1 is full (%2 MB): its oldest rows are dropped,"
                                                        " %3 readings at first, and each unit's loss is recorded as a"
                                                        " rows lost event; the newest are kept")
                                             .arg(spoolPath)
                                             .arg(limit / (1024 * 1024))
                                             .arg(readings));
                         });
        QObject::connect(&writer, &HistoryWriter::committed, &forwarder, &SpoolForwarder::wake);
        if (const HistoryResult<void> opened = forwarder.start(); !opened) {
            say(err, QStringLiteral("rtrecorder: cannot open the spool %1: %2").arg(spoolPath, opened.reason().text));
            recorder.stop();
            writer.stop();
            return 1;
        }
        report(err, QStringLiteral("recording into the spool %1, forwarded to %2").arg(spoolPath, history));
    } else {
        report(err, QStringLiteral("recording into %1").arg(writerOptions.path));
    }

    QObject::connect(&signalPipe, &SignalPipe::reloadAsked, &recorder, &FleetRecorder::reload);
    bool stopping = false;
    QObject::connect(&signalPipe, &SignalPipe::stopAsked, &recorder, [&](int number) {
        // A second signal while the first stop runs (it reads the sockets
        // once more, so signals are taken meanwhile) changes nothing.
        if (stopping)
            return;
        stopping = true;
        QElapsedTimer since;
        since.start();
        report(err, QStringLiteral("%1: closing every link and committing")
                        .arg(number == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM")));
        recorder.stop();
        const bool all = writer.stop();
        report(err, all ? QStringLiteral("stopped, everything committed")
                        : QStringLiteral("stopped; what the history did not take is lost"));
        if (server) {
            // The spool holds everything now; the server gets what it takes
            // in the time left, the rest waits in the spool for the next
            // start. A server gone silent in the middle of a statement is
            // not waited for.
            const int left = static_cast<int>(qMax<qint64>(0, ForwardAtStopMs - since.elapsed()));
            if (!forwarder.stop(left)) {
                report(err, QStringLiteral("the server did not answer: what it did not acknowledge stays in the"
                                           " spool for the next start"));
                // Its thread is still in the server's statement, and the
                // process cannot wind down around it: everything is
                // committed, so it ends here.
                std::_Exit(0);
            }
            report(err, forwarder.caughtUp() ? QStringLiteral("everything forwarded to the server")
                                             : QStringLiteral("what was not forwarded stays in the spool for the next start"));
        }
        QCoreApplication::exit(0);
    });
    return QCoreApplication::exec();
}
