#pragma once

// Files as the tests and the drivers lay them out: written in one go, the
// odd things an operator's folder may hold (named pipes, devices, links),
// and a guard for code that might wait on a pipe for good.

#include <QByteArray>
#include <QString>

namespace support {

// Writes the whole content; false when the file cannot be written.
bool tryWriteFile(const QString &path, const QByteArray &content);

// The same for a test, which cannot go on without the file.
void writeFile(const QString &path, const QByteArray &content);

// Code that opens a named pipe waits for a peer for good: under this guard
// the test process is ended after some seconds instead, which fails the
// test rather than hanging it.
class HangGuard
{
public:
    explicit HangGuard(unsigned seconds = 20);
    ~HangGuard();
    HangGuard(const HangGuard &) = delete;
    HangGuard &operator=(const HangGuard &) = delete;
};

// A device node for a link to point at. Where the test may make one (as
// root) it is a node of its own in the test's folder, a twin of /dev/null:
// a regression that wrote through the link as root would otherwise replace
// the system's own /dev/null with a file. Elsewhere /dev/null, which no
// other user can replace.
QString deviceNode(const QString &folder);

bool makeFifo(const QString &path);

// What lies at path, as the file system says without following a link:
// "fifo", "link", "file", "device", "none" or "other".
QByteArray kindAt(const QString &path);

} // namespace support
