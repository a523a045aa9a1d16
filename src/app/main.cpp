#include <QApplication>
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

    fm_more_data window;
    ViewerExtras extras(window);
    window.show();
    return QApplication::exec();
}
