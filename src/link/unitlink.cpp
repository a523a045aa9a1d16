#include "link/unitlink.h"

#include <QTimer>

#include "link/socketcontrol.h"
#include "link/winsockcontrol.h"
#include "rules/convert/attempt.h"

UnitLink::UnitLink(SocketControl *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket ? socket : new WinsockControl)
    , m_unit(new UnitStream(this))
{
    setObjectName(QStringLiteral("UnitLink"));
    m_socket->setParent(this);
    m_socket->setObjectName(QStringLiteral("Winsock_ulmex"));
    connect(m_socket, &SocketControl::DataArrival, this, &UnitLink::Winsock_ulmex_DataArrival);

    connect(m_unit, &UnitStream::linkStateChanged, this, &UnitLink::stateChanged);
    connect(m_unit, &UnitStream::lineReported, this, &UnitLink::lineReported);
    connect(m_unit, &UnitStream::readingAccepted, this, &UnitLink::readingAccepted);
    connect(m_unit, &UnitStream::twoWayModeChanged, this, &UnitLink::twoWayModeChanged);
    connect(m_unit, &UnitStream::uptimeChanged, this, &UnitLink::uptimeChanged);
    connect(m_unit, &UnitStream::witsRecordStarted, this, &UnitLink::witsRecordStarted);
    connect(m_unit, &UnitStream::witsItemRead, this, &UnitLink::witsItemRead);
    connect(m_unit, &UnitStream::bitDepthRead, this, &UnitLink::bitDepthRead);
    connect(m_unit, &UnitStream::witsTicked, this, &UnitLink::witsTicked);
    connect(m_unit, &UnitStream::stalenessChanged, this, &UnitLink::stalenessChanged);

    // The link is polled rather than read on arrival: whatever came in the
    // last 100 ms is worked off in one go. The tick ages the data from the
    // start, and its keep-alive countdown runs whether or not a connection
    // is open; the WITS watchdog counts on through disconnects.
    startTimer("tmrDataArrival", 100, &UnitLink::poll);
    startTimer("tmr_delay", 100, &UnitLink::tick);
    startTimer("tmr_wits", 1000, &UnitLink::witsSecond);
}

QTimer *UnitLink::startTimer(const char *name, int interval, void (UnitLink::*handler)())
{
    auto *timer = new QTimer(this);
    timer->setObjectName(QString::fromLatin1(name));
    timer->setInterval(interval);
    connect(timer, &QTimer::timeout, this, handler);
    timer->start();
    return timer;
}

void UnitLink::stop()
{
    for (QTimer *timer : findChildren<QTimer *>(Qt::FindDirectChildrenOnly))
        timer->stop();
}

void UnitLink::setRemoteHost(const QString &host)
{
    m_socket->RemoteHost(host);
}

void UnitLink::setLocalPort(std::int32_t port)
{
    m_socket->LocalPort(port);
}

void UnitLink::setRemotePort(std::int32_t port)
{
    m_socket->RemotePort(port);
}

void UnitLink::open(const QString &serial)
{
    m_unit->setSerial(serial);
    m_socket->Connect();
}

void UnitLink::close()
{
    if (m_socketState != SocketControl::Closed)
        attempt([&] { m_socket->Close(); });
    m_unit->dropBuffer();
}

void UnitLink::send(const QByteArray &bytes)
{
    m_socket->SendData(bytes);
}

std::int16_t UnitLink::refreshState()
{
    std::int16_t now = m_socketState;
    if (attempt([&] { now = m_socket->State(); }) && now != m_socketState) {
        m_socketState = now;
        m_unit->setLinkState(now);
    }
    return m_socketState;
}

QString UnitLink::errorText() const
{
    return m_socket->errorText();
}

void UnitLink::poll()
{
    if (m_unit->stream().parse_busy)
        return;
    std::int32_t waiting = 0;
    attempt([&] { waiting = m_socket->BytesReceived(); });
    if (waiting <= 0 && !m_unit->hasBacklog())
        return;
    QByteArray incoming_chunk;
    if (waiting > 0) {
        if (!attempt([&] { m_socket->GetData(incoming_chunk); }))
            incoming_chunk.clear();
        emit chunkReceived(incoming_chunk);
    }
    m_unit->receive(incoming_chunk);
}

void UnitLink::tick()
{
    m_unit->tick();
    bool whole = true;
    if (m_keepaliveCountdown > 0) {
        --m_keepaliveCountdown;
        if (m_keepaliveCountdown == 0) {
            // Re-armed first: a refused keep-alive is not tried again before
            // the next 1000 ticks.
            m_keepaliveCountdown = KeepAliveTicks;
            if (m_socketState == SocketControl::Connected)
                whole = attempt([&] { m_socket->SendData(QByteArrayLiteral("[KEEP ALIVE]\r\n")); });
        }
    }
    if (whole)
        refreshState();
    emit ticked(whole);
}

void UnitLink::witsSecond()
{
    witsTick();
}

UnitStream::WitsWatch UnitLink::witsTick()
{
    return m_unit->witsTick();
}

void UnitLink::forgetReadings()
{
    m_unit->forgetReadings();
}

void UnitLink::Winsock_ulmex_DataArrival(std::int32_t bytesTotal)
{
    // The poll does all the reading.
    Q_UNUSED(bytesTotal);
}
