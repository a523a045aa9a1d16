#include "unitsim/unitserver.h"

#include <algorithm>
#include <cmath>

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include "unitsim/unitrun.h"
#include "unitsim/unitsession.h"

namespace {

RigModel::Settings fleetRig(const SimOptions &options, const UnitPlan &plan)
{
    RigModel::Settings settings;
    settings.unitName = plan.name;
    settings.gas = plan.gas;
    settings.alarms = plan.alarms;
    settings.fixedGas = options.gas;
    settings.fixedAlarm = options.alarm;
    settings.packetSeconds = 1.0 / options.rate;
    settings.startTime = options.startTime;
    return settings;
}

} // namespace

UnitServer::UnitServer(const SimOptions &options, const UnitPlan *plan, SentLog *sentLog, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_fleet(plan != nullptr)
    , m_index(plan ? plan->index : 0)
    , m_server(new QTcpServer(this))
    , m_sentLog(sentLog)
    , m_dropTimer(new QTimer(this))
    , m_seeds(RandomSource::freshSeed())
{
    if (plan) {
        m_options.name = plan->name;
        m_options.port = plan->port;
        m_unitSeed = plan->seed;
        m_prefix = "unit " + plan->name + ' ';
        if (!m_options.replaying())
            m_run = new UnitRun(fleetRig(m_options, *plan), plan->seed, this);
    }
    m_dropTimer->setTimerType(Qt::PreciseTimer);
    connect(m_dropTimer, &QTimer::timeout, this, &UnitServer::dropAll);
    connect(m_server, &QTcpServer::newConnection, this, &UnitServer::onNewConnection);
}

bool UnitServer::listen()
{
    if (!m_server->listen(m_options.host, m_options.port))
        return false;
    if (m_run)
        m_run->start();
    if (m_options.dropEvery > 0) {
        // The units take their turns spread over the interval, so a fleet's
        // viewers do not all reconnect in the same moment.
        const double offset = m_options.dropEvery * m_index / m_options.unitCount();
        QTimer::singleShot(millis(offset), Qt::PreciseTimer, this, [this] {
            if (m_stopping)
                return;
            dropAll();
            m_dropTimer->start(std::max(1, millis(m_options.dropEvery)));
        });
    }
    return true;
}

void UnitServer::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_server->close();
    m_dropTimer->stop();
    if (m_run)
        m_run->stop();
    // Each session leaves the list as it goes, some at once.
    const QList<UnitSession *> sessions = m_sessions;
    for (UnitSession *session : sessions)
        session->stop();
    if (m_sessions.isEmpty())
        emit stopped();
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

void UnitServer::log(const QByteArray &text)
{
    emit eventLine(m_prefix + text);
}

void UnitServer::dropAll()
{
    const QList<UnitSession *> sessions = m_sessions;
    for (UnitSession *session : sessions)
        session->drop();
}

void UnitServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        if (m_stopping) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const int id = m_nextId++;
        // A fleet unit's connections share its run; their own seed only
        // drives the faults of their stream.
        const std::uint64_t seed = m_fleet ? FleetPlan::unitSeed(m_unitSeed, id)
                                           : (m_options.seeded ? m_options.seed : m_seeds.next());
        auto *session = new UnitSession(id, socket, m_options, seed, m_run, m_sentLog, this);
        m_sessions.append(session);
        connect(session, &UnitSession::eventLine, this, &UnitServer::log);
        connect(session, &UnitSession::finished, this, [this, session] {
            m_sessions.removeOne(session);
            if (m_stopping && m_sessions.isEmpty())
                emit stopped();
        });

        QByteArray line = "client " + QByteArray::number(id) + " connected from "
                          + socket->peerAddress().toString().toLatin1() + ':' + QByteArray::number(socket->peerPort());
        if (!m_fleet)
            line += ", seed " + QByteArray::number(static_cast<qulonglong>(seed));
        log(line);

        if (m_options.acceptDelay > 0) {
            const int ms = static_cast<int>(std::llround(m_options.acceptDelay * 1000.0));
            log("client " + QByteArray::number(id) + " fault: taken up after "
                + QByteArray::number(m_options.acceptDelay) + " s");
            QTimer::singleShot(ms, session, [this, session, id] {
                log("client " + QByteArray::number(id) + " taken up");
                session->start();
            });
        } else {
            session->start();
        }
    }
}
