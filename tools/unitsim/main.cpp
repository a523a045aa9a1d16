#include <csignal>
#include <cstdio>

#include <QByteArray>
#include <QCoreApplication>

#include "unitsim/signalwatcher.h"
#include "unitsim/simoptions.h"
#include "unitsim/simulator.h"

#include <sys/resource.h>

namespace {

// A fleet holds a listening socket for every unit and one for every viewer:
// 1,000 units with a recorder need 2,000, past the usual soft limit of 1,024.
// The soft limit may be raised up to the hard one without any privilege.
void allowManySockets()
{
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Tests and scripts read the lines while the simulator runs, so each one goes
// out whole and at once.
void printLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef SIGPIPE
    // A reader that stops reading the lines (say `unit-sim 2>&1 | head -1`)
    // must not take the viewers' streams down with it.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("unit-sim"));

    const SimOptions::Outcome outcome = SimOptions::parse(QCoreApplication::arguments());
    if (outcome.status == SimOptions::Outcome::Status::Help) {
        std::fputs(outcome.text.toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (outcome.status == SimOptions::Outcome::Status::Error) {
        std::fprintf(stderr, "unit-sim: %s\nTry 'unit-sim --help' for the options.\n",
                     outcome.text.toLocal8Bit().constData());
        return 2;
    }

    // Watching for the signals comes first, so that even a simulator still
    // opening its ports stops cleanly.
    SignalWatcher watcher;
    if (!watcher.install()) {
        printLine("unit-sim: cannot watch for SIGTERM and SIGINT");
        return 1;
    }
    if (outcome.options.fleet())
        allowManySockets();
    Simulator simulator(outcome.options);
    QObject::connect(&simulator, &Simulator::eventLine, &simulator, printLine);
    QObject::connect(&watcher, &SignalWatcher::received, &simulator, [&simulator](int number) {
        printLine(QByteArrayLiteral("unit-sim stopping on ") + (number == SIGINT ? "SIGINT" : "SIGTERM"));
        simulator.stop();
    });
    QObject::connect(&simulator, &Simulator::finished, &app, [] {
        printLine("unit-sim stopped");
        QCoreApplication::quit();
    });

    QString error;
    if (!simulator.start(&error)) {
        printLine("unit-sim: " + error.toLocal8Bit());
        return 1;
    }
    return QCoreApplication::exec();
}
