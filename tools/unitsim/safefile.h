#pragma once

#include <memory>

#include <QByteArray>
#include <QString>

class QFile;

// Files the simulator writes: only a new file or one over a regular file, and
// always through a temporary file beside it that is renamed into place, so a
// reader never sees half a file and a named pipe, a device, a socket or a link
// to one is never written into (a pipe would hold the simulator for good).
namespace SafeFile {

// Empty when `path` may be written; otherwise why not, in a few words.
QString refusal(const QString &path);

// Writes `bytes` as the whole of the file at `path`. On failure `error` says
// why and nothing at `path` has changed.
bool writeWhole(const QString &path, const QByteArray &bytes, QString *error);

// A fresh, empty file at `path`, open for writing: for a log that grows while
// the simulator runs. Null on failure, with `error` saying why.
std::unique_ptr<QFile> createLog(const QString &path, QString *error);

} // namespace SafeFile
