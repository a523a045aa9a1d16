// Measures how long closing the main window takes until the program ends,
// in the cases the shut-down has to bound:
//
//   disconnected       never connected: no wait at all is due
//   connected          connected to a peer that answers the close
//   stuck, real socket connected to a peer that stops reading while the
//                      viewer still has data queued for it, so the socket
//                      stays closing and never reports closed
//   stuck, scripted    a socket control that never reports closed after
//                      Close(), whatever the operating system does
//
// The rules allow four one-second waits while the connection closes and
// five more before the program ends anyway: about nine seconds at worst.
//
//   shutdownbound [--runs N]        every case N times (default 3), a table
//   shutdownbound --case NAME       one run, in this process
//
// Each run is a process of its own, so that the figure covers the real end
// of the program: from the call that closes the window to the return of the
// application's event loop ("to loop end"), and, seen from outside, from the
// moment the run says it closes until its process is gone ("to exit").

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unistd.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

#include "app/fm_more_data.h"
#include "link/winsockcontrol.h"
#include "link/socketcontrol.h"
#include "support/files.h"
#include "support/sockets.h"

namespace {

const char *const Cases[] = {"disconnected", "connected", "stuck-real", "stuck-scripted"};

// A socket control whose connection never finishes closing.
class NeverClosingSocket : public SocketControl
{
public:
    using SocketControl::SocketControl;

    void RemoteHost(const QString &) override {}
    void LocalPort(std::int32_t) override {}
    void RemotePort(std::int32_t) override {}
    void Connect() override { m_state = Connected; }
    void Close() override
    {
        if (m_state == Connected)
            m_state = Closing;
    }
    std::int16_t State() const override { return m_state; }
    std::int32_t BytesReceived() const override { return 0; }
    void GetData(QByteArray &text) override { text.clear(); }
    void SendData(const QByteArray &) override {}

private:
    std::int16_t m_state = Closed;
};

// A listener whose kernel completes the connection but which never accepts
// or reads it, so what the viewer sends piles up until the buffers are full.
class NonReadingPeer
{
public:
    NonReadingPeer()
    {
        m_fd = support::listenOnLoopback(4, port);
    }
    ~NonReadingPeer()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    NonReadingPeer(const NonReadingPeer &) = delete;
    NonReadingPeer &operator=(const NonReadingPeer &) = delete;

    quint16 port = 0;

private:
    int m_fd = -1;
};

int runCase(QApplication &app, const QString &name)
{
    QTemporaryDir folder;
    QTcpServer answeringPeer;
    NonReadingPeer silentPeer;
    int port = 0;
    if (name == QLatin1String("connected")) {
        answeringPeer.listen(QHostAddress::LocalHost, 0);
        port = answeringPeer.serverPort();
    } else if (name == QLatin1String("stuck-real")) {
        port = silentPeer.port;
    } else if (name == QLatin1String("stuck-scripted")) {
        port = 2400;  // never dialled: the scripted control goes nowhere
    }
    if (!support::tryWriteFile(folder.filePath(QStringLiteral("RDVlookup.TXT")),
                               "0001 127.0.0.1 " + QByteArray::number(port) + "\r\n")
        || !support::tryWriteFile(folder.filePath(QStringLiteral("RDconfig.ini")), "0108 Bit Depth\r\n"))
        return 1;
    ViewerOptions options;
    options.programDirectory = folder.path();
    auto *realSocket = new WinsockControl;
    options.socket = name == QLatin1String("stuck-scripted") ? static_cast<SocketControl *>(new NeverClosingSocket)
                                                              : realSocket;
    if (options.socket != realSocket)
        delete realSocket;
    auto *window = new fm_more_data(options);
    window->show();

    QElapsedTimer clock;
    QTimer::singleShot(200, window, [&] {
        if (name != QLatin1String("disconnected")) {
            window->findChild<QPushButton *>(QStringLiteral("cmd_connect"))->click();
            if (window->socketState() != SocketControl::Connected) {
                std::printf("not connected: state %d\n", window->socketState());
                std::fflush(stdout);
                QCoreApplication::exit(1);
                return;
            }
        }
        if (name == QLatin1String("stuck-real")) {
            // More than the kernel buffers of both ends hold, so that some of
            // it is still queued in the viewer when the window closes.
            realSocket->SendData(QByteArray(64 * 1024 * 1024, 'k'));
        }
        QTimer::singleShot(300, window, [&] {
            std::printf("closing\n");
            std::fflush(stdout);
            clock.start();
            window->close();
        });
    });
    const int result = app.exec();
    const qint64 elapsed = clock.isValid() ? clock.elapsed() : -1;
    std::printf("state at end %d\nto loop end %lld ms\n", window->socketState(), static_cast<long long>(elapsed));
    std::fflush(stdout);
    // The process ends here, as the viewer's does; the window is not torn
    // down first, so the figure is the shut-down alone.
    std::_Exit(result);
}

struct Figures
{
    std::vector<double> toLoopEnd;
    std::vector<double> toExit;
};

QString summary(std::vector<double> values)
{
    if (values.empty())
        return QStringLiteral("-");
    std::sort(values.begin(), values.end());
    return QStringLiteral("%1 / %2 / %3")
        .arg(values.front(), 0, 'f', 0)
        .arg(values[values.size() / 2], 0, 'f', 0)
        .arg(values.back(), 0, 'f', 0);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser options;
    options.addOption({QStringLiteral("case"), QStringLiteral("Run one case in this process."), QStringLiteral("name")});
    options.addOption({QStringLiteral("runs"), QStringLiteral("Runs per case (default 3)."), QStringLiteral("N"),
                       QStringLiteral("3")});
    options.addHelpOption();
    options.process(app);

    if (options.isSet(QStringLiteral("case")))
        return runCase(app, options.value(QStringLiteral("case")));

    const int runs = qMax(1, options.value(QStringLiteral("runs")).toInt());
    std::printf("%-16s %5s  %-26s %-26s %s\n", "case", "runs", "to loop end, ms min/med/max",
                "to exit, ms min/med/max", "socket state at end");
    bool failed = false;
    for (const char *name : Cases) {
        Figures figures;
        QStringList endStates;
        for (int run = 0; run < runs; ++run) {
            QProcess child;
            QElapsedTimer sinceClosing;
            QByteArray output;
            QObject::connect(&child, &QProcess::readyReadStandardOutput, [&] {
                output += child.readAllStandardOutput();
                if (!sinceClosing.isValid() && output.contains("closing\n"))
                    sinceClosing.start();
            });
            child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--case"), QString::fromLatin1(name)});
            if (!child.waitForFinished(60000)) {
                child.kill();
                child.waitForFinished();
            }
            output += child.readAllStandardOutput();
            const double toExit = sinceClosing.isValid() ? double(sinceClosing.elapsed()) : -1;
            double toLoopEnd = -1;
            for (const QByteArray &line : output.split('\n')) {
                if (line.startsWith("to loop end "))
                    toLoopEnd = line.mid(12).split(' ').value(0).toDouble();
                if (line.startsWith("state at end "))
                    endStates << QString::fromLatin1(line.mid(13));
            }
            if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0 || toLoopEnd < 0) {
                std::printf("%s: run %d failed:\n%s\n", name, run + 1, output.constData());
                failed = true;
                continue;
            }
            figures.toLoopEnd.push_back(toLoopEnd);
            figures.toExit.push_back(toExit);
        }
        endStates.removeDuplicates();
        std::printf("%-16s %5d  %-26s %-26s %s\n", name, runs, qPrintable(summary(figures.toLoopEnd)),
                    qPrintable(summary(figures.toExit)), qPrintable(endStates.join(QLatin1Char(','))));
        std::fflush(stdout);
    }
    return failed ? 1 : 0;
}
