#include "support/files.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <QFile>
#include <QtGlobal>

namespace support {

bool tryWriteFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size()
           && file.flush();
}

void writeFile(const QString &path, const QByteArray &content)
{
    if (!tryWriteFile(path, content))
        qFatal("cannot write %s", qPrintable(path));
}

HangGuard::HangGuard(unsigned seconds)
{
    ::alarm(seconds);
}

HangGuard::~HangGuard()
{
    ::alarm(0);
}

QString deviceNode(const QString &folder)
{
    const QString node = folder + QStringLiteral("/device");
    if (::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        return node;
    return QStringLiteral("/dev/null");
}

bool makeFifo(const QString &path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

QByteArray kindAt(const QString &path)
{
    struct stat status = {};
    if (::lstat(QFile::encodeName(path).constData(), &status) != 0)
        return "none";
    if (S_ISFIFO(status.st_mode))
        return "fifo";
    if (S_ISLNK(status.st_mode))
        return "link";
    if (S_ISREG(status.st_mode))
        return "file";
    if (S_ISCHR(status.st_mode) || S_ISBLK(status.st_mode))
        return "device";
    return "other";
}

} // namespace support
