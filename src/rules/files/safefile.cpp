#include "rules/files/safefile.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    return QStringLiteral("not a regular file");
}

// The name a path stands for once its folder's links are followed, for a
// file that need not exist yet.
QString resolved(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : folder + QLatin1Char('/') + info.fileName();
}

} // namespace

namespace files {

QString openRefusal(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat link = {};
    // Nothing there, or a folder that cannot be looked into: whoever opens
    // the file reports that in its own words.
    if (::lstat(name.constData(), &link) != 0)
        return QString();
    if (S_ISREG(link.st_mode))
        return QString();
    if (!S_ISLNK(link.st_mode)) {
        const QString kind = kindOf(link.st_mode);
        return kind.startsWith(QLatin1String("not ")) ? kind : QStringLiteral("not a regular file (%1)").arg(kind);
    }
    struct stat target = {};
    // A link to nothing would have the file made wherever it points.
    if (::stat(name.constData(), &target) != 0)
        return QStringLiteral("a link to nothing");
    if (S_ISREG(target.st_mode))
        return QString();
    const QString kind = kindOf(target.st_mode);
    return kind.startsWith(QLatin1String("not ")) ? QStringLiteral("a link to something that is not a regular file")
                                                  : QStringLiteral("a link to %1").arg(kind);
}

QString writeRefusal(const QString &path, const QStringList &keepOff)
{
    const QString refusal = openRefusal(path);
    if (!refusal.isEmpty())
        return refusal;
    const QString target = resolved(path);
    const std::optional<Identity> targetIdentity = identity(path);
    for (const QString &database : keepOff) {
        for (const QString &kept : withJournals(database)) {
            if (resolved(kept) == target || (targetIdentity && identity(kept) == targetIdentity))
                return QStringLiteral("it would overwrite %1").arg(QDir::toNativeSeparators(kept));
        }
    }
    return QString();
}

QStringList withJournals(const QString &databasePath)
{
    return {databasePath, databasePath + QStringLiteral("-wal"), databasePath + QStringLiteral("-shm"),
            databasePath + QStringLiteral("-journal")};
}

std::optional<Identity> identity(const QString &path)
{
    struct stat status = {};
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return std::nullopt;
    return Identity{static_cast<quint64>(status.st_dev), static_cast<quint64>(status.st_ino)};
}

} // namespace files

SafeFile::SafeFile(const QString &path, QStringList keepOff)
    : m_path(path)
    , m_keepOff(std::move(keepOff))
{
}

SafeFile::~SafeFile() = default;

Failure<QString> SafeFile::failed(const QString &reason) const
{
    return failure(QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(m_path), reason));
}

Result<void> SafeFile::open()
{
    m_file.reset();
    const QString refusal = files::writeRefusal(m_path, m_keepOff);
    if (!refusal.isEmpty())
        return failed(refusal);
    m_file = std::make_unique<QSaveFile>(m_path);
    // Never the file itself: writing straight into it is what the
    // temporary file is there to avoid.
    m_file->setDirectWriteFallback(false);
    if (!m_file->open(QIODevice::WriteOnly))
        return failed(m_file->errorString());
    return {};
}

QIODevice &SafeFile::device()
{
    return *m_file;
}

Result<void> SafeFile::commit()
{
    if (!m_file || !m_file->isOpen())
        return failed(QStringLiteral("the file is not open"));
    // Whatever was put at the path meanwhile is judged again: the rename
    // would replace it.
    const QString refusal = files::writeRefusal(m_path, m_keepOff);
    if (!refusal.isEmpty()) {
        m_file->cancelWriting();
        m_file->commit();
        return failed(refusal);
    }
    if (!m_file->commit())
        return failed(m_file->errorString());
    return {};
}

void SafeFile::cancel()
{
    if (m_file && m_file->isOpen()) {
        m_file->cancelWriting();
        m_file->commit();
    }
}
