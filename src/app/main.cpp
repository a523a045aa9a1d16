#include <QApplication>
#include <QStyleFactory>

#include "app/fm_more_data.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setQuitOnLastWindowClosed(false);

    fm_more_data window;
    window.show();
    return QApplication::exec();
}
