#pragma once

#include <memory>
#include <optional>

#include <QString>
#include <QStringList>

#include "rules/convert/result.h"

class QIODevice;
class QSaveFile;

// The rules for every file the programs open or write themselves (the
// history, the user's settings, exports). Only a regular file is opened: a
// named pipe blocks whoever opens it until a peer comes, and a device or a
// socket is no file to keep. A write goes to a new file or over a regular
// one, through a temporary file in the same folder and a rename, so a
// failure never leaves half a file and never replaces a pipe or a device
// node with a file. Nothing here opens the path it judges.
namespace files {

// Why the file at path may not be opened: empty when there is none or it
// is a regular file (through a link too); otherwise a short phrase such as
// "not a regular file (a named pipe)" or "a link to a device".
QString openRefusal(const QString &path);

// Why path may not be written: what openRefusal says, or that it is one of
// the files in keepOff or a journal of one (a database's "-wal", "-shm"
// and "-journal" files), the same file by another name included. Empty
// when the write may go ahead.
QString writeRefusal(const QString &path, const QStringList &keepOff = {});

// A database file and the journal files the engine keeps beside it.
QStringList withJournals(const QString &databasePath);

// Which file a name stands for (through links): its device and its inode.
// Two names of one file have the same identity; a file deleted and made
// again under its name has another.
struct Identity
{
    quint64 device = 0;
    quint64 inode = 0;

    bool operator==(const Identity &other) const { return device == other.device && inode == other.inode; }
    bool operator!=(const Identity &other) const { return !(*this == other); }
};
// Nothing when no file is there.
std::optional<Identity> identity(const QString &path);

} // namespace files

// A file written whole or not at all, under the rules above: open() refuses
// a path writeRefusal() names a reason for, commit() looks again before the
// rename, and a file abandoned before commit() leaves nothing behind.
class SafeFile
{
public:
    explicit SafeFile(const QString &path, QStringList keepOff = {});
    ~SafeFile();
    SafeFile(const SafeFile &) = delete;
    SafeFile &operator=(const SafeFile &) = delete;

    // A failure's reason reads "cannot write PATH: why".
    Result<void> open();
    // Where the bytes go; valid after a successful open().
    QIODevice &device();
    Result<void> commit();
    void cancel();

private:
    Failure<QString> failed(const QString &reason) const;

    QString m_path;
    QStringList m_keepOff;
    std::unique_ptr<QSaveFile> m_file;
};
