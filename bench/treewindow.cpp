#include "treewindow.h"

#include <QObject>

#include "app/fm_more_data.h"
#include "app/viewerextras.h"
#include "link/unitlink.h"
#include "rules/stream/reading.h"

std::unique_ptr<fm_more_data> makeMainWindow(const QString &programDirectory, SocketControl *socket,
                                             std::function<void()> endProcess)
{
    ViewerOptions options;
    options.programDirectory = programDirectory;
    options.socket = socket;
    options.endProcess = std::move(endProcess);
    return std::make_unique<fm_more_data>(options);
}

void addProgramExtras(fm_more_data &window)
{
    new ViewerExtras(window);
}

void watchAcceptedPackets(fm_more_data &window, std::function<void(const QByteArray &packetNumber)> accepted)
{
    QObject::connect(&window.link(), &UnitLink::readingAccepted, &window,
                     [accepted = std::move(accepted)](const Reading &reading) { accepted(reading.fields[29]); });
}
