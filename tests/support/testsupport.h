#pragma once

// What many tests need: a child finder, the unit's packet form with its
// checksum, and a main window on a scripted socket with its configuration in
// a temporary folder.

#include <memory>

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QObject>
#include <QTemporaryDir>
#include <QTimer>

#include "app/fm_more_data.h"
#include "support/fakesocket.h"
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
inline void stopTimers(const QObject &window)
{
    for (const char *name : {"tmr_delay", "tmrDataArrival", "tmr_wits"})
        child<QTimer>(window, name)->stop();
}

// Runs the window's 100 ms tick by hand, as often as asked: the data ages
// by a tenth of a second each time.
inline void ticks(fm_more_data &w, int count)
{
    for (int i = 0; i < count; ++i)
        w.tmr_delay_Timer();
}

// Replaces the 100 ms tick by one that runs whenever the event loop is idle,
// so the one-second waits of the sequences pass in a moment. For scripted
// sockets only: a real connection needs real time.
inline std::unique_ptr<QTimer> fastTicks(fm_more_data &w)
{
    child<QTimer>(w, "tmr_delay")->stop();
    auto driver = std::make_unique<QTimer>();
    driver->setInterval(0);
    QObject::connect(driver.get(), &QTimer::timeout, &w, [&w] { w.tmr_delay_Timer(); });
    driver->start();
    return driver;
}

// Options for a window on this socket, reading its files from dir and
// ending the process with a call of endProcess (nothing when none).
inline ViewerOptions windowOptions(const QTemporaryDir &dir, SocketControl *socket,
                                   std::function<void()> endProcess = [] {})
{
    ViewerOptions options;
    options.programDirectory = dir.path();
    options.socket = socket;
    options.endProcess = std::move(endProcess);
    return options;
}

// A main window on a scripted socket, its files in a temporary folder.
// Stopped: timers stopped and the display cleared, so the traffic window
// starts empty (start-up reports the missing settings file).
class WindowFixture
{
public:
    enum class Start { Running, Stopped };

    explicit WindowFixture(Start start = Start::Stopped)
    {
        if (!dir.isValid())
            qFatal("no temporary folder");
        open(start);
    }

    // A fresh window on a fresh socket, reading the folder as it is now.
    void open(Start start = Start::Stopped)
    {
        window.reset();
        socket = new FakeSocket;
        window = std::make_unique<fm_more_data>(windowOptions(dir, socket));
        if (start == Start::Stopped) {
            stopTimers(*window);
            window->clear_display();
        }
    }

    void write(const char *name, const QByteArray &content)
    {
        writeFile(dir.filePath(QString::fromLatin1(name)), content);
    }

    // Bytes arrive and one receive poll takes them.
    void feed(const QByteArray &bytes)
    {
        socket->queue(bytes);
        window->tmrDataArrival_Timer();
    }

    fm_more_data &w() { return *window; }

    QTemporaryDir dir;
    FakeSocket *socket = nullptr;
    std::unique_ptr<fm_more_data> window;
};

} // namespace support
