#include "link/unitlink.h"

#include <QDateTime>
#include <QTimer>

#include "rules/convert/attempt.h"
#include "link/socketcontrol.h"
#include "link/winsockcontrol.h"
#include "rules/stream/parser.h"

UnitLink::UnitLink(SocketControl *socket, QObject *parent)
    : QObject(parent)
    , m_socket(socket ? socket : new WinsockControl)
{
    setObjectName(QStringLiteral("UnitLink"));
    m_socket->setParent(this);
    m_socket->setObjectName(QStringLiteral("Winsock_ulmex"));
    connect(m_socket, &SocketControl::DataArrival, this, &UnitLink::Winsock_ulmex_DataArrival);

    // The link is polled rather than read on arrival: whatever came in the
    // last 100 ms is worked off in one go.
    m_poll = new QTimer(this);
    m_poll->setObjectName(QStringLiteral("tmrDataArrival"));
    m_poll->setInterval(100);
    connect(m_poll, &QTimer::timeout, this, &UnitLink::poll);
    m_poll->start();
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
    m_serial = serial;
    m_socket->Connect();
}

void UnitLink::close()
{
    if (m_socketState != SocketControl::Closed)
        attempt([&] { m_socket->Close(); });
    m_stream.incoming_buffer.clear();
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
        emit stateChanged(now);
    }
    return m_socketState;
}

void UnitLink::poll()
{
    if (m_stream.parse_busy)
        return;
    std::int32_t waiting = 0;
    attempt([&] { waiting = m_socket->BytesReceived(); });
    if (waiting <= 0 && !m_backlog)
        return;
    QByteArray incoming_chunk;
    if (waiting > 0) {
        if (!attempt([&] { m_socket->GetData(incoming_chunk); }))
            incoming_chunk.clear();
        m_stream.incoming_buffer += incoming_chunk;
        emit chunkReceived(incoming_chunk);
    }
    // Every element ends at a CR or a "]": a chunk without either cannot
    // complete anything that the last poll left incomplete, so a link that
    // drips byte by byte costs no parser runs.
    if (m_backlog || incoming_chunk.contains('\r') || incoming_chunk.contains(']'))
        drain();
    else
        limitBuffer();
}

void UnitLink::drain()
{
    // Everything complete is taken now, one parser run after another, each
    // accepted packet handed on in turn: packets that arrive together are
    // all kept, and the newest is what the screen shows, with a true age.
    // A flood is worked off over several polls rather than in one.
    m_backlog = false;
    for (int run = 0; run < MaxParserRuns; ++run) {
        const qsizetype before = m_stream.incoming_buffer.size();
        parse_ulmex_string(m_stream, m_wits, *this);
        // The parser only ever takes text away: no change, nothing complete.
        if (m_stream.incoming_buffer.isEmpty() || m_stream.incoming_buffer.size() == before)
            break;
        if (run == MaxParserRuns - 1)
            m_backlog = true;
    }
    limitBuffer();
}

void UnitLink::limitBuffer()
{
    // What is left can only be text that never completed.
    const qsizetype left = m_stream.incoming_buffer.size();
    if (left > BufferLimit) {
        m_stream.incoming_buffer.clear();
        m_backlog = false;
        emit lineReported(QByteArrayLiteral("[Receive buffer over 5000: ") + QByteArray::number(left)
                          + QByteArrayLiteral(" characters discarded]"));
    }
}

void UnitLink::tick()
{
    m_stream.data_age += 0.1;
    if (m_keepaliveCountdown > 0) {
        --m_keepaliveCountdown;
        if (m_keepaliveCountdown == 0) {
            // A keep-alive skipped while the link is down is not made up.
            m_keepaliveCountdown = KeepAliveTicks;
            if (m_socketState == SocketControl::Connected)
                m_socket->SendData(QByteArrayLiteral("[KEEP ALIVE]\r\n"));
        }
    }
}

std::int16_t UnitLink::witsTick()
{
    if (m_stream.wits_countdown > 0)
        --m_stream.wits_countdown;
    return m_stream.wits_countdown;
}

void UnitLink::forgetReadings()
{
    for (QByteArray &field : m_stream.data_fields)
        field.clear();
    m_stream.error_code = 0;
    m_stream.uptime_percent = 0;
    m_stream.wits_countdown = 0;
}

void UnitLink::Winsock_ulmex_DataArrival(std::int32_t bytesTotal)
{
    // The poll does all the reading.
    Q_UNUSED(bytesTotal);
}

void UnitLink::twoWayMode(bool active)
{
    emit twoWayModeChanged(active);
}

void UnitLink::uptimeReported(double percent)
{
    emit uptimeChanged(percent);
}

void UnitLink::packetAccepted()
{
    Reading reading;
    reading.acceptedAtMs = QDateTime::currentMSecsSinceEpoch();
    reading.serial = m_serial;
    reading.text = m_stream.packet_text;
    reading.fields = m_stream.data_fields;
    reading.errorCode = m_stream.error_code;
    emit readingAccepted(reading);
}

void UnitLink::witsCleared(const QByteArray &record)
{
    emit witsRecordStarted(record);
}

void UnitLink::witsItem(std::int16_t code, double value, const QString &line)
{
    emit witsItemRead(WitsItem{code, value, line});
}

void UnitLink::reportLine(const QByteArray &line)
{
    emit lineReported(line);
}
