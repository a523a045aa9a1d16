#include "support/tcpgate.h"

#include <QList>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

// Lives on the gate's thread: the listener and every pair of sockets.
class TcpGateRelay : public QObject
{
public:
    explicit TcpGateRelay(quint16 target)
        : m_target(target)
    {
    }

    quint16 start()
    {
        m_server = new QTcpServer(this);
        connect(m_server, &QTcpServer::newConnection, this, &TcpGateRelay::accept);
        if (!m_server->listen(QHostAddress::LocalHost, 0))
            return 0;
        m_port = m_server->serverPort();
        return m_port;
    }

    void setMode(support::TcpGate::Mode mode)
    {
        m_mode = mode;
        if (mode == support::TcpGate::Mode::Refusing) {
            m_server->close();
            for (const Pair &pair : std::as_const(m_pairs)) {
                if (pair.client)
                    pair.client->abort();
                if (pair.upstream)
                    pair.upstream->abort();
            }
            m_pairs.clear();
            return;
        }
        if (!m_server->isListening())
            m_server->listen(QHostAddress::LocalHost, m_port);
        if (mode == support::TcpGate::Mode::Open) {
            // What waited while silent goes on now.
            for (const Pair &pair : std::as_const(m_pairs))
                relay(pair.client, pair.upstream);
        }
    }

    void stop()
    {
        for (const Pair &pair : std::as_const(m_pairs)) {
            if (pair.client)
                pair.client->abort();
            if (pair.upstream)
                pair.upstream->abort();
        }
        m_pairs.clear();
        delete m_server;
        m_server = nullptr;
    }

private:
    struct Pair
    {
        QPointer<QTcpSocket> client;
        QPointer<QTcpSocket> upstream;
    };

    void accept()
    {
        while (QTcpSocket *client = m_server->nextPendingConnection()) {
            client->setParent(this);
            auto *upstream = new QTcpSocket(this);
            m_pairs.append(Pair{client, upstream});
            upstream->connectToHost(QHostAddress::LocalHost, m_target);
            connect(client, &QTcpSocket::readyRead, this, [this, client, upstream] { relay(client, upstream); });
            connect(upstream, &QTcpSocket::readyRead, this, [this, client, upstream] { relay(client, upstream); });
            for (QTcpSocket *side : {client, upstream}) {
                QTcpSocket *other = side == client ? upstream : client;
                connect(side, &QTcpSocket::disconnected, other, [other] { other->disconnectFromHost(); });
            }
        }
    }

    void relay(QTcpSocket *client, QTcpSocket *upstream)
    {
        if (m_mode != support::TcpGate::Mode::Open || !client || !upstream)
            return;
        if (client->bytesAvailable() > 0)
            upstream->write(client->readAll());
        if (upstream->bytesAvailable() > 0)
            client->write(upstream->readAll());
    }

    quint16 m_target;
    quint16 m_port = 0;
    support::TcpGate::Mode m_mode = support::TcpGate::Mode::Open;
    QTcpServer *m_server = nullptr;
    QList<Pair> m_pairs;
};

namespace support {

TcpGate::TcpGate(quint16 targetPort)
    : m_thread(new QThread)
    , m_relay(new TcpGateRelay(targetPort))
{
    m_relay->moveToThread(m_thread);
    m_thread->start();
    TcpGateRelay *relay = m_relay;
    quint16 port = 0;
    QMetaObject::invokeMethod(
        m_relay, [relay, &port] { port = relay->start(); }, Qt::BlockingQueuedConnection);
    m_port = port;
}

TcpGate::~TcpGate()
{
    TcpGateRelay *relay = m_relay;
    QMetaObject::invokeMethod(m_relay, [relay] { relay->stop(); }, Qt::BlockingQueuedConnection);
    QObject::connect(m_thread, &QThread::finished, m_relay, &QObject::deleteLater);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

void TcpGate::setMode(Mode mode)
{
    TcpGateRelay *relay = m_relay;
    QMetaObject::invokeMethod(m_relay, [relay, mode] { relay->setMode(mode); }, Qt::BlockingQueuedConnection);
}

} // namespace support
