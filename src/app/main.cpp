#include <cstdio>

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QStyleFactory>

#include "app/fm_more_data.h"
#include "app/viewerextras.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The window class that the desktop entry's StartupWMClass names, and the
    // user's data folder, follow this name whatever the program file is called.
    QApplication::setApplicationName(QStringLiteral("rtviewer"));
    // The settings file is ~/.config/rtviewer/rtviewer.conf.
    QApplication::setOrganizationName(QStringLiteral("rtviewer"));
    QApplication::setDesktopFileName(QStringLiteral("rtviewer"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/rtviewer.png")));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("Shows the live readings of a field unit."));
    options.addHelpOption();
    const QCommandLineOption fleet(QStringLiteral("fleet"), QStringLiteral("Opens the fleet board at start-up."));
    options.addOption(fleet);
    if (!options.parse(QApplication::arguments())) {
        std::fprintf(stderr, "rtviewer: %s\n", qPrintable(options.errorText()));
        return 2;
    }
    if (options.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(options.helpText()), stdout);
        return 0;
    }

    fm_more_data window;
    ViewerExtras extras(window);
    window.show();
    if (options.isSet(fleet))
        extras.showFleet();
    return QApplication::exec();
}
