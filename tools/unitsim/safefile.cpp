#include "unitsim/safefile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <sys/stat.h>
#include <unistd.h>

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

// The file a write ends up in: the target of a link, or the path itself.
QString destination(const QString &path)
{
    const QFileInfo info(path);
    return info.isSymLink() ? info.canonicalFilePath() : path;
}

// A temporary file beside `target`, open, with the permissions the file will
// keep: those of the file it replaces, or the usual ones for a new file.
std::unique_ptr<QTemporaryFile> temporaryBeside(const QString &target, QString *error)
{
    const QFileInfo info(target);
    auto file = std::make_unique<QTemporaryFile>(info.absolutePath() + QStringLiteral("/.")
                                                 + info.fileName() + QStringLiteral(".XXXXXX"));
    if (!file->open()) {
        *error = QStringLiteral("cannot create a file in %1: %2").arg(QDir::toNativeSeparators(info.absolutePath()),
                                                                       file->errorString());
        return nullptr;
    }
    file->setPermissions(info.exists() ? info.permissions()
                                       : QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    return file;
}

bool renameOver(QTemporaryFile &file, const QString &target, QString *error)
{
    // The system's rename replaces the old file in one step, where QFile's
    // refuses an existing name.
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(target).constData()) != 0) {
        *error = QStringLiteral("cannot replace %1: %2").arg(target, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    file.setAutoRemove(false);
    return true;
}

} // namespace

QString SafeFile::refusal(const QString &path)
{
    if (path.isEmpty())
        return QStringLiteral("no file name");
    const QByteArray name = QFile::encodeName(path);
    struct stat link {};
    if (::lstat(name.constData(), &link) != 0)
        return {};  // a new file
    struct stat target {};
    if (::stat(name.constData(), &target) != 0)
        return QStringLiteral("a link that leads nowhere");
    if (S_ISREG(target.st_mode))
        return {};
    return S_ISLNK(link.st_mode) ? QStringLiteral("a link to ") + kindOf(target.st_mode) : kindOf(target.st_mode);
}

bool SafeFile::writeWhole(const QString &path, const QByteArray &bytes, QString *error)
{
    const QString why = refusal(path);
    if (!why.isEmpty()) {
        *error = QStringLiteral("%1 is %2").arg(path, why);
        return false;
    }
    const QString target = destination(path);
    const std::unique_ptr<QTemporaryFile> file = temporaryBeside(target, error);
    if (!file)
        return false;
    if (file->write(bytes) != bytes.size() || !file->flush() || ::fsync(file->handle()) != 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file->errorString());
        return false;
    }
    return renameOver(*file, target, error);
}

std::unique_ptr<QFile> SafeFile::createLog(const QString &path, QString *error)
{
    const QString why = refusal(path);
    if (!why.isEmpty()) {
        *error = QStringLiteral("%1 is %2").arg(path, why);
        return nullptr;
    }
    std::unique_ptr<QTemporaryFile> file = temporaryBeside(destination(path), error);
    if (!file || !renameOver(*file, destination(path), error))
        return nullptr;
    return file;
}
