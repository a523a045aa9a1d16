// What recording the history costs the viewer at ten packets a second.
//
//   bench_recording [seconds] [rounds]
//
// A unit link on an in-memory socket is fed as the simulator feeds it at
// --rate 10: a data packet every 100 ms and a WITS record of ten items every
// fifth second, taken by the link's own 100 ms poll and parser. In turns of
// the given length (default 30 s, 2 rounds) the link runs alone, then with
// the history recorder listening and writing its file (a temporary folder
// on the same disk as the build), so both are measured in one process under
// the same load. Each turn prints the process's CPU time (user and system,
// getrusage) and its share of one core; the last line is the difference.

#include <cstdio>
#include <cstdlib>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "fedlink.h"
#include "history/historyrecorder.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 2;
    if (seconds < 1 || rounds < 1) {
        std::fprintf(stderr, "usage: bench_recording [seconds of 1 or more] [rounds of 1 or more]\n");
        return 2;
    }

    FedLink fed;

    QTemporaryDir dir;
    HistoryRecorder::Options options;
    options.path = dir.filePath(QStringLiteral("history.sqlite3"));
    HistoryRecorder recorder(fed.link().unit(), options);
    QObject::connect(&recorder, &HistoryRecorder::reportLine, [](const QByteArray &line) {
        std::fprintf(stderr, "%s\n", line.constData());
    });

    double alone = 0;
    double recording = 0;
    std::printf("%-10s %8s %10s %10s %10s\n", "turn", "seconds", "readings", "CPU s", "% of core");
    for (int round = 0; round < rounds; ++round) {
        for (const bool on : {false, true}) {
            recorder.setRecording(on);
            const qint64 before = fed.readings();
            const double cpu = cpuOfTurn(seconds);
            (on ? recording : alone) += cpu;
            std::printf("%-10s %8d %10lld %10.3f %10.3f\n", on ? "recording" : "alone", seconds, fed.readings() - before, cpu,
                        100.0 * cpu / seconds);
            std::fflush(stdout);
        }
    }
    recorder.setRecording(false);
    const double total = static_cast<double>(seconds) * rounds;
    std::printf("link alone %.3f %% of one core, with the recorder %.3f %%: recording adds %.3f %% of one core\n",
                100.0 * alone / total, 100.0 * recording / total, 100.0 * (recording - alone) / total);
    return 0;
}
