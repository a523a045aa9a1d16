#pragma once

// What the tests of windows need: a child finder, the window's timers
// driven by hand, and a main window on a scripted socket with its
// configuration in a temporary folder.

#include <functional>
#include <memory>

#include <QByteArray>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>

#include "app/fm_more_data.h"
#include "support/fakesocket.h"
#include "support/files.h"
#include "support/packets.h"

namespace support {

// The named child; the test cannot go on without it.
template <typename T>
T *child(const QObject &parent, const char *name)
{
    T *found = parent.findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

// The timers of the window (and of its link) stop: the test drives the
// handlers by hand, one call per tick.
void stopTimers(const QObject &window);

// Runs the window's 100 ms tick by hand, as often as asked: the data ages
// by a tenth of a second each time.
void ticks(fm_more_data &w, int count);

// Replaces the 100 ms tick by one that runs whenever the event loop is idle,
// so the one-second waits of the sequences pass in a moment. For scripted
// sockets only: a real connection needs real time.
std::unique_ptr<QTimer> fastTicks(fm_more_data &w);

// Options for a window on this socket, reading its files from dir and
// ending the process with a call of endProcess (nothing when none).
ViewerOptions windowOptions(const QTemporaryDir &dir, SocketControl *socket,
                            std::function<void()> endProcess = [] {});

// A main window on a scripted socket, its files in a temporary folder.
// Stopped: timers stopped and the display cleared, so the traffic window
// starts empty (start-up reports the missing settings file).
class WindowFixture
{
public:
    enum class Start { Running, Stopped };

    explicit WindowFixture(Start start = Start::Stopped);

    // A fresh window on a fresh socket, reading the folder as it is now.
    void open(Start start = Start::Stopped);

    void write(const char *name, const QByteArray &content);

    // Bytes arrive and one receive poll takes them.
    void feed(const QByteArray &bytes);

    fm_more_data &w() { return *window; }

    QTemporaryDir dir;
    FakeSocket *socket = nullptr;
    std::unique_ptr<fm_more_data> window;
};

} // namespace support
