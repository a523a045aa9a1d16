#include "support/fakesocket.h"

#include "rules/convert/fault.h"

FakeSocket *FakeSocket::inMemory(std::int16_t initialState)
{
    auto *socket = new FakeSocket;
    socket->strictStates = false;
    socket->state = initialState;
    return socket;
}

void FakeSocket::receive(const QByteArray &bytes)
{
    incoming += bytes;
    emit DataArrival(static_cast<std::int32_t>(bytes.size()));
}

QByteArray FakeSocket::sentBytes() const
{
    QByteArray all;
    for (const QByteArray &text : sent)
        all += text;
    return all;
}

void FakeSocket::RemoteHost(const QString &host)
{
    log.append(QStringLiteral("RemoteHost ") + host);
    refuseIf(refuseSettings);
    requireClosed();
    remoteHost = host;
}

void FakeSocket::LocalPort(std::int32_t port)
{
    log.append(QStringLiteral("LocalPort ") + QString::number(port));
    refuseIf(refuseSettings);
    requireClosed();
    requirePort(port);
    localPort = port;
}

void FakeSocket::RemotePort(std::int32_t port)
{
    log.append(QStringLiteral("RemotePort ") + QString::number(port));
    refuseIf(refuseSettings);
    requireClosed();
    requirePort(port);
    remotePort = port;
}

void FakeSocket::Connect()
{
    ++connectCalls;
    log.append(QStringLiteral("Connect"));
    refuseIf(refuseConnect);
    requireClosed();
    state = connectState;
}

void FakeSocket::Close()
{
    ++closeCalls;
    log.append(QStringLiteral("Close"));
    refuseIf(refuseClose);
    incoming.clear();
    state = closeState;
}

std::int16_t FakeSocket::State() const
{
    ++stateCalls;
    refuseIf(refuseState);
    return state;
}

std::int32_t FakeSocket::BytesReceived() const
{
    ++bytesReceivedCalls;
    refuseIf(refuseBytesReceived);
    return static_cast<std::int32_t>(incoming.size());
}

void FakeSocket::GetData(QByteArray &text)
{
    ++getDataCalls;
    refuseIf(refuseGetData);
    text = incoming;
    incoming.clear();
}

void FakeSocket::SendData(const QByteArray &text)
{
    refuseIf(refuseSend);
    if (strictStates && state != Connected)
        throw Fault("Wrong protocol or connection state for the requested transaction or request");
    sent.append(text);
}

void FakeSocket::refuseIf(const QByteArray &description)
{
    if (!description.isEmpty())
        throw Fault(description.toStdString());
}

void FakeSocket::requireClosed() const
{
    if (strictStates && state != Closed)
        throw Fault("Invalid operation at current state");
}

void FakeSocket::requirePort(std::int32_t port) const
{
    if (strictStates && (port < 0 || port > 65535))
        throw Fault("Invalid argument");
}
