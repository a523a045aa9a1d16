#include <csignal>
#include <cstdio>

#include <QByteArray>
#include <QCoreApplication>

#include "unitsim/simoptions.h"
#include "unitsim/unitserver.h"

namespace {

// Tests and scripts read stdout line by line while the simulator runs, so
// every line is flushed as soon as it is written.
void printLine(const QByteArray &line)
{
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
#ifdef SIGPIPE
    // A reader that stops reading stdout (say `unit-sim | head -1`) must not
    // take the viewers' streams down with it.
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

    UnitServer server(outcome.options);
    QObject::connect(&server, &UnitServer::eventLine, &server, printLine);
    if (!server.listen()) {
        std::fprintf(stderr, "unit-sim: cannot listen on %s:%u: %s\n",
                     outcome.options.host.toString().toLocal8Bit().constData(),
                     static_cast<unsigned>(outcome.options.port),
                     server.errorString().toLocal8Bit().constData());
        return 1;
    }
    printLine("unit-sim listening on " + server.serverAddress().toString().toLatin1() + ':'
              + QByteArray::number(server.serverPort()));
    return QCoreApplication::exec();
}
