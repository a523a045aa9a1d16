#include "app/aboutinfo.h"

#include <QDir>
#include <QString>
#include <QtGlobal>

#include "app/version.h"

QStringList aboutLines(const QString &programDirectory)
{
    // qVersion() rather than the headers' version: the Qt libraries of the
    // machine may be newer than the ones the program was built against.
    return {
        QStringLiteral("Version %1").arg(QStringLiteral(RTVIEWER_VERSION)),
        QStringLiteral("Commit %1").arg(QStringLiteral(RTVIEWER_COMMIT)),
        QStringLiteral("Qt %1").arg(QString::fromLatin1(qVersion())),
        QStringLiteral("Configuration files (RDconfig.ini, RDVlookup.TXT): %1")
            .arg(QDir::toNativeSeparators(programDirectory)),
        QStringLiteral("History: %1").arg(QDir::toNativeSeparators(historyDatabasePath())),
    };
}
