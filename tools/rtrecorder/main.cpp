#include <cstdio>

#include <QCoreApplication>
#include <QFile>

#include "fleet/recordercommand.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The viewer's own name, so that the default history is the viewer's.
    QCoreApplication::setApplicationName(QStringLiteral("rtviewer"));
    QCoreApplication::setOrganizationName(QStringLiteral("rtviewer"));
    QFile err;
    err.open(stderr, QIODevice::WriteOnly | QIODevice::Unbuffered);
    return runRecorder(QCoreApplication::arguments(), err);
}
