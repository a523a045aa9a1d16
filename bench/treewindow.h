#pragma once

#include <functional>
#include <memory>

#include <QByteArray>
#include <QString>

class SocketControl;
class fm_more_data;

// The one place where the whole-window drivers (bench_window, bench_sweep)
// meet the viewer's constructors and signals, so that the same drivers
// measure an earlier build too: treewindow.cpp serves this tree, and
// bench/before/ holds the variant for an earlier one, which run.sh --before
// compiles into that tree's own build folder only.

// The main window, its configuration files read from programDirectory
// (empty: the program's own folder), its unit link on the given socket
// (none: a TCP socket, owned by the window either way), and endProcess
// called at the end of its shut-down (empty: leaving the event loop).
std::unique_ptr<fm_more_data> makeMainWindow(const QString &programDirectory = QString(),
                                             SocketControl *socket = nullptr,
                                             std::function<void()> endProcess = {});

// Adds what the viewer's main() composes beside the window, owned by it.
void addProgramExtras(fm_more_data &window);

// Calls `accepted` with the packet number (field 29) of every packet the
// window's panel takes, in the order it takes them.
void watchAcceptedPackets(fm_more_data &window, std::function<void(const QByteArray &packetNumber)> accepted);
