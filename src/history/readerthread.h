#pragma once

#include <QDeadlineTimer>
#include <QString>

class QObject;
class QThread;

// The threads that read a history for a window: the trends, the fleet
// board, an export, a report, a try of a source. Each reads through a
// connection of its own and answers by queued signals; the window that
// started it never waits for it, so a server that answers slowly or not at
// all never holds the window or its closing.
//
// What the window does not wait for, the program's end does, for a moment:
// a reader still closing its connection when the application ends would do
// so while the database layer is being taken down under it. So every
// thread started here is counted until it ends, and the application's end
// gives those still running EndGraceMs. One held by a server that no
// longer answers is left behind then.
namespace readerthread {

constexpr int EndGraceMs = 500;

// Moves work onto a new thread, named name, and starts it. The work and the
// thread go once the thread ends (its quit() called from the work, or from
// the owner): nobody deletes either.
QThread *start(QObject *work, const QString &name);

// Waits until every thread started here has ended, or the deadline has
// passed; true when none is left. The application's end calls it with
// EndGraceMs.
bool waitForAll(QDeadlineTimer deadline);

} // namespace readerthread
