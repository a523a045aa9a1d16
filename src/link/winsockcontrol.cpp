#include "link/winsockcontrol.h"

#include <limits>

#include "rules/convert/fault.h"

namespace {

const char *const InvalidState = "Invalid operation at current state";
const char *const InvalidArgument = "Invalid argument";
const char *const NotConnected = "Wrong protocol or connection state for the requested transaction or request";

quint16 checkedPort(std::int32_t port)
{
    if (port < 0 || port > 65535)
        throw Fault(InvalidArgument);
    return static_cast<quint16>(port);
}

} // namespace

WinsockControl::WinsockControl(QObject *parent)
    : SocketControl(parent)
{
    connect(&m_socket, &QAbstractSocket::errorOccurred, this, &WinsockControl::onError);
    connect(&m_socket, &QIODevice::readyRead, this, [this] {
        const qint64 available = m_socket.bytesAvailable();
        emit DataArrival(static_cast<std::int32_t>(qMin<qint64>(available, std::numeric_limits<std::int32_t>::max())));
    });
}

void WinsockControl::requireClosed() const
{
    if (State() != Closed)
        throw Fault(InvalidState);
}

void WinsockControl::RemoteHost(const QString &host)
{
    requireClosed();
    m_remoteHost = host;
}

void WinsockControl::LocalPort(std::int32_t port)
{
    requireClosed();
    m_localPort = checkedPort(port);
}

void WinsockControl::RemotePort(std::int32_t port)
{
    requireClosed();
    m_remotePort = checkedPort(port);
}

void WinsockControl::Connect()
{
    requireClosed();
    if (m_remoteHost.isEmpty())
        throw Fault(InvalidArgument);
    m_peerClosed = false;
    m_failed = false;
    m_closeAsked = false;
    if (m_localPort != 0 && !m_socket.bind(QHostAddress::AnyIPv4, m_localPort))
        throw Fault("Address in use");
    m_socket.connectToHost(m_remoteHost, m_remotePort);
}

void WinsockControl::Close()
{
    m_peerClosed = false;
    m_failed = false;
    m_closeAsked = true;
    // A close asked for here is done at once: unread data and whatever is
    // still unsent go with the connection, as the unit is being left
    // anyway. Waiting to deliver would leave the state in closing for as
    // long as a peer that never reads cares to hold it, and that would read
    // as the unit ending the link and refuse the next connect.
    m_socket.abort();
}

void WinsockControl::onError(QAbstractSocket::SocketError error)
{
    // Once the operator has closed the connection, a failure while its last
    // bytes go out is of no interest: the socket still ends up closed and
    // must not come back in error or closing.
    if (m_closeAsked)
        return;
    // A remote close is an ordinary end of the connection, not a failure;
    // whatever the unit sent before it stays readable.
    if (error == QAbstractSocket::RemoteHostClosedError) {
        m_peerClosed = true;
    } else {
        m_failed = true;
        m_errorText = m_socket.errorString();
    }
}

QString WinsockControl::errorText() const
{
    return m_failed ? m_errorText : QString();
}

std::int16_t WinsockControl::State() const
{
    switch (m_socket.state()) {
    case QAbstractSocket::HostLookupState:
        return ResolvingHost;
    case QAbstractSocket::ConnectingState:
        return Connecting;
    case QAbstractSocket::ConnectedState:
        return m_peerClosed ? Closing : Connected;
    case QAbstractSocket::BoundState:
        return Open;
    case QAbstractSocket::ListeningState:
        return Listening;
    case QAbstractSocket::ClosingState:
        return Closing;
    case QAbstractSocket::UnconnectedState:
        break;
    }
    if (m_failed)
        return Error;
    if (m_peerClosed)
        return Closing;
    return Closed;
}

std::int32_t WinsockControl::BytesReceived() const
{
    const qint64 available = m_socket.bytesAvailable();
    return static_cast<std::int32_t>(qMin<qint64>(available, std::numeric_limits<std::int32_t>::max()));
}

void WinsockControl::GetData(QByteArray &text)
{
    if (!m_socket.isOpen()) {
        text.clear();
        return;
    }
    text = m_socket.readAll();
}

void WinsockControl::SendData(const QByteArray &text)
{
    if (State() != Connected)
        throw Fault(NotConnected);
    if (m_socket.write(text) != text.size())
        throw Fault(m_socket.errorString().toStdString());
}
