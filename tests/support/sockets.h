#pragma once

// Plain TCP sockets on 127.0.0.1, for the tests and drivers that need what
// Qt's socket classes hide: a listener that never accepts, a backlog kept
// full, a reset told apart from a close, a relay on a thread of its own.
// POSIX descriptors; the caller closes them.

#include <netinet/in.h>

#include <QtGlobal>

namespace support {

// The address 127.0.0.1:port.
sockaddr_in loopbackAddress(quint16 port);

// A socket listening on 127.0.0.1 on a port the system chooses, with this
// backlog: its descriptor, and the port in port; -1 (and port 0) when any
// step fails.
int listenOnLoopback(int backlog, quint16 &port);

// A connection to 127.0.0.1:port, made before it returns: its descriptor,
// or -1 when it cannot be made.
int connectToLoopback(quint16 port);

} // namespace support
