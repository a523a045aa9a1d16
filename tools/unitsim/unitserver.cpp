#include "unitsim/unitserver.h"

#include <cmath>
#include <random>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "unitsim/unitsession.h"

namespace {

std::uint64_t freshSeed()
{
    std::random_device device;
    return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

} // namespace

UnitServer::UnitServer(const SimOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_server(new QTcpServer(this))
    , m_seeds(freshSeed())
{
    connect(m_server, &QTcpServer::newConnection, this, &UnitServer::onNewConnection);
}

bool UnitServer::listen()
{
    return m_server->listen(m_options.host, m_options.port);
}

QString UnitServer::errorString() const
{
    return m_server->errorString();
}

QHostAddress UnitServer::serverAddress() const
{
    return m_server->serverAddress();
}

quint16 UnitServer::serverPort() const
{
    return m_server->serverPort();
}

void UnitServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        const int id = m_nextId++;
        const std::uint64_t seed = m_options.seeded ? m_options.seed : m_seeds.next();
        auto *session = new UnitSession(id, socket, m_options, seed, this);
        ++m_clients;
        connect(session, &UnitSession::eventLine, this, &UnitServer::eventLine);
        connect(session, &UnitSession::finished, this, [this] { --m_clients; });

        emit eventLine("client " + QByteArray::number(id) + " connected from "
                       + socket->peerAddress().toString().toLatin1() + ':'
                       + QByteArray::number(socket->peerPort()) + ", seed "
                       + QByteArray::number(static_cast<qulonglong>(seed)));

        if (m_options.acceptDelay > 0) {
            const int ms = static_cast<int>(std::llround(m_options.acceptDelay * 1000.0));
            emit eventLine("client " + QByteArray::number(id) + " fault: taken up after "
                           + QByteArray::number(m_options.acceptDelay) + " s");
            QTimer::singleShot(ms, session, [this, session, id] {
                emit eventLine("client " + QByteArray::number(id) + " taken up");
                session->start();
            });
        } else {
            session->start();
        }
    }
}
