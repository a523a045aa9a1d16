#include "history/historyfile.h"

#include <QDateTime>
#include <QFile>
#include <QStandardPaths>

QString historyDatabasePath()
{
    // Named here rather than taken from the application's names, so that the
    // viewer and rthistory find the same file whatever else they set.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/rtviewer/history.sqlite3");
}

QString moveHistoryAside(const QString &path, qint64 nowMs)
{
    const QString stamp = QDateTime::fromMSecsSinceEpoch(nowMs, Qt::UTC).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
    QString target = path + QStringLiteral(".corrupt-") + stamp;
    // A second failure within the same second must not overwrite the first.
    for (int n = 2; QFile::exists(target); ++n)
        target = path + QStringLiteral(".corrupt-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(path, target))
        return QString();
    // The write-ahead log belongs to the damaged file; the shared-memory
    // index is rebuilt by whoever opens it next.
    for (const char *suffix : {"-wal", "-journal"}) {
        const QString companion = path + QLatin1String(suffix);
        if (QFile::exists(companion))
            QFile::rename(companion, target + QLatin1String(suffix));
    }
    QFile::remove(path + QStringLiteral("-shm"));
    return target;
}
