#include <cstdio>

#include <QFile>
#include <QGuiApplication>

#include "history/historycommand.h"
#include "report/reportcommand.h"

int main(int argc, char *argv[])
{
    // The tour report paints its pages with Qt's fonts, which need the GUI
    // application; it never shows a window, so it needs no display either.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    // The viewer's own name, so that the default file is the viewer's.
    QCoreApplication::setApplicationName(QStringLiteral("rtviewer"));
    QCoreApplication::setOrganizationName(QStringLiteral("rtviewer"));
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly);
    if (const std::optional<int> reported = runReportCommand(QCoreApplication::arguments(), out, err))
        return *reported;
    return runHistoryCommand(QCoreApplication::arguments(), out, err);
}
