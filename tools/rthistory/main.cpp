#include <cstdio>

#include <QCoreApplication>
#include <QFile>

#include "history/historycommand.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The viewer's own name, so that the default file is the viewer's.
    QCoreApplication::setApplicationName(QStringLiteral("rtviewer"));
    QCoreApplication::setOrganizationName(QStringLiteral("rtviewer"));
    QFile out;
    QFile err;
    out.open(stdout, QIODevice::WriteOnly);
    err.open(stderr, QIODevice::WriteOnly);
    return runHistoryCommand(QCoreApplication::arguments(), out, err);
}
