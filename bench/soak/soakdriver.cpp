// Runs the real main window without an operator for bench/soak.sh: it points
// the lookup table at the simulator's port, presses Connect through the
// button, and from then on prints one line every few seconds with what the
// window has done, so that the script can tell a viewer that still consumes
// data from one that has stopped. The window itself is used exactly as
// rtviewer builds it; nothing here reaches into its procedures.
//
//   soakdriver --port P [--serial 0001] [--report-seconds 5] [--seconds N]
//
// With --seconds the window is closed after N seconds through its own
// shut-down, which then ends the program; without it the driver runs until
// it is killed.

#include <array>
#include <cstdio>

#include <QApplication>
#include <QByteArray>
#include <QCommandLineParser>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include "app/fm_more_data.h"
#include "rules/stream/streamstate.h"
#include "support/files.h"
#include "support/texts.h"

namespace {

// Resident memory of this process in KiB, as the kernel counts it.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addOption({QStringLiteral("port"), QStringLiteral("Port the simulator listens on."), QStringLiteral("port")});
    options.addOption({QStringLiteral("serial"), QStringLiteral("Serial number to connect to (default 0001)."),
                       QStringLiteral("serial"), QStringLiteral("0001")});
    options.addOption({QStringLiteral("report-seconds"), QStringLiteral("Seconds between report lines (default 5)."),
                       QStringLiteral("seconds"), QStringLiteral("5")});
    options.addOption({QStringLiteral("seconds"), QStringLiteral("Close the window after this long (default: never)."),
                       QStringLiteral("seconds"), QStringLiteral("0")});
    options.addHelpOption();
    options.process(app);

    const int port = options.value(QStringLiteral("port")).toInt();
    const QByteArray serial = options.value(QStringLiteral("serial")).toLatin1();
    const int reportSeconds = qMax(1, options.value(QStringLiteral("report-seconds")).toInt());
    const int runSeconds = options.value(QStringLiteral("seconds")).toInt();
    if (port <= 0 || port > 65535 || serial.isEmpty()) {
        std::fprintf(stderr, "soakdriver: --port 1..65535 and a serial number are needed\n");
        return 2;
    }

    // The viewer reads its two files from its own folder; a folder of the
    // soak's own keeps the sample lookup table of the build untouched.
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    const QByteArray lookup = serial + " 127.0.0.1 " + QByteArray::number(port) + "\r\n";
    QByteArray settings = "0108 Bit Depth\r\n0110 Hole Depth\r\n0112 Block Position\r\n0113 Rate Of Penetration\r\n";
    QFile sample(QCoreApplication::applicationDirPath() + QStringLiteral("/RDconfig.ini"));
    if (sample.open(QIODevice::ReadOnly))
        settings = sample.readAll();
    if (!support::tryWriteFile(folder.filePath(QStringLiteral("RDVlookup.TXT")), lookup)
        || !support::tryWriteFile(folder.filePath(QStringLiteral("RDconfig.ini")), settings))
        return 1;
    ViewerOptions viewerOptions;
    viewerOptions.programDirectory = folder.path();
    fm_more_data window(viewerOptions);
    window.show();
    auto *serialBox = window.findChild<QLineEdit *>(QStringLiteral("txt_trailer_num"));
    auto *connectButton = window.findChild<QPushButton *>(QStringLiteral("cmd_connect"));
    if (!serialBox || !connectButton)
        return 1;
    serialBox->setText(QString::fromLatin1(serial));

    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(0, connectButton, &QPushButton::click);

    // A packet the window accepted replaces the fields it shows; a sample
    // every 25 ms sees each one, since the window takes at most one packet
    // per 100 ms poll.
    std::array<QByteArray, StreamState::FieldSlots> shownFields{};
    long accepted = 0;
    long checksumFailed = 0;
    long parseErrors = 0;
    long trafficTrims = 0;
    QByteArray traffic;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        const StreamState &stream = window.stream();
        if (stream.data_fields != shownFields) {
            shownFields = stream.data_fields;
            ++accepted;
        }
        const QByteArray now = window.trafficContent();
        if (now.size() < traffic.size())
            ++trafficTrims;
        const QByteArray added = support::appendedSince(traffic, now);
        checksumFailed += added.count("[Parse Checksum failed]");
        parseErrors += added.count("[Parse ERR: ");
        traffic = now;
    });
    sampler.start(25);

    QTimer reporter;
    QObject::connect(&reporter, &QTimer::timeout, [&] {
        const StreamState &stream = window.stream();
        std::printf("soak t=%lld rss_kib=%ld accepted=%ld checksum_failed=%ld parse_err=%ld traffic_trims=%ld "
                    "state=%d age=%.1f buffer=%lld traffic=%lld\n",
                    static_cast<long long>(clock.elapsed() / 1000), residentKiB(), accepted, checksumFailed,
                    parseErrors, trafficTrims, static_cast<int>(window.socketState()), stream.data_age,
                    static_cast<long long>(stream.incoming_buffer.size()),
                    static_cast<long long>(window.trafficContent().size()));
        std::fflush(stdout);
    });
    reporter.start(reportSeconds * 1000);

    if (runSeconds > 0) {
        QTimer::singleShot(runSeconds * 1000, &window, [&] {
            sampler.stop();
            reporter.stop();
            std::printf("soak closing t=%lld\n", static_cast<long long>(clock.elapsed() / 1000));
            std::fflush(stdout);
            window.close();
        });
    }
    const int result = app.exec();
    std::printf("soak ended t=%lld rss_kib=%ld\n", static_cast<long long>(clock.elapsed() / 1000), residentKiB());
    std::fflush(stdout);
    return result;
}
