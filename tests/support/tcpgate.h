#pragma once

#include <QObject>
#include <QtGlobal>

class QThread;
class TcpGateRelay;

namespace support {

// A relay on 127.0.0.1 in front of a TCP server, on a thread of its own
// (so it relays while the test blocks), that a test opens and shuts: the
// link to a server as a program sees it when the network or the server goes
// away. Open relays every connection; Refusing closes every connection and
// takes no new one (a server stopped); Silent keeps the connections but
// passes nothing either way, and accepts new ones that never answer (a link
// gone without a word).
class TcpGate
{
public:
    enum class Mode { Open, Refusing, Silent };

    explicit TcpGate(quint16 targetPort);
    ~TcpGate();
    TcpGate(const TcpGate &) = delete;
    TcpGate &operator=(const TcpGate &) = delete;

    // The port it listens on (the same through every mode); 0 when it could
    // not listen.
    quint16 port() const { return m_port; }
    void setMode(Mode mode);

private:
    QThread *m_thread;
    TcpGateRelay *m_relay;
    quint16 m_port = 0;
};

} // namespace support
