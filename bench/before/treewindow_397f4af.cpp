// The whole-window drivers' meeting point (treewindow.h) for the viewer as
// it was at commit 397f4af, for the "before" figures of bench/run.sh
// --before. Only run.sh builds this file, into the earlier tree's own build
// folder; it never joins this tree's build. That tree's window takes its
// socket in the constructor, reads its files from a folder set on the class,
// composes nothing beside it in main(), and has no accepted-packet signal.

#include "treewindow.h"

#include <memory>

#include <QObject>
#include <QTimer>

#include "app/fm_more_data.h"

std::unique_ptr<fm_more_data> makeMainWindow(const QString &programDirectory, SocketControl *socket,
                                             std::function<void()> endProcess)
{
    if (!programDirectory.isEmpty())
        fm_more_data::setProgramDirectory(programDirectory);
    auto window = socket ? std::make_unique<fm_more_data>(socket) : std::make_unique<fm_more_data>();
    if (endProcess)
        window->setEndProcess(std::move(endProcess));
    return window;
}

void addProgramExtras(fm_more_data &)
{
}

void watchAcceptedPackets(fm_more_data &window, std::function<void(const QByteArray &packetNumber)> accepted)
{
    // That build takes at most one packet per receive poll, so a look at the
    // fields right after each poll (this connection runs after the window's
    // own) sees every packet it takes.
    auto *poll = window.findChild<QTimer *>(QStringLiteral("tmrDataArrival"));
    if (!poll)
        return;
    auto last = std::make_shared<QByteArray>();
    QObject::connect(poll, &QTimer::timeout, &window, [&window, last, accepted = std::move(accepted)] {
        const QByteArray &number = window.stream().data_fields[29];
        if (number != *last) {
            *last = number;
            if (!number.isEmpty())
                accepted(number);
        }
    });
}
