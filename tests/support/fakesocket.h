#pragma once

#include <cstdint>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "rules/convert/fault.h"
#include "link/socketcontrol.h"

// A scriptable socket control for tests that drive the main window (or any
// other user of SocketControl) without a network. Everything is a plain
// public member that a test sets or reads directly:
//
// - state: what State() reports. Connect() moves it to connectState (7
//   unless set), Close() to closeState (0 unless set).
// - Received bytes: receive() queues them in incoming and raises
//   DataArrival, as the real control does; queue() only queues them.
//   BytesReceived() counts incoming, GetData() hands all of it out.
// - Records: every SendData() in sent, the settings in remoteHost,
//   localPort and remotePort, and the number of calls of each operation;
//   log lists the connection operations asked for, in order ("Close",
//   "Connect", "RemoteHost <host>", "LocalPort <n>", "RemotePort <n>").
// - Refusals: a non-empty refuseXxx text makes that operation throw
//   Fault(text). With strictStates (the default) the refusals of the real
//   control apply as well: the settings and Connect() unless closed,
//   SendData() unless connected, a port outside 0 to 65535.
//
// Header-only and without Q_OBJECT, so a test file only has to include it.
class FakeSocket : public SocketControl
{
public:
    explicit FakeSocket(QObject *parent = nullptr)
        : SocketControl(parent)
    {
    }

    // Script.
    std::int16_t state = Closed;
    std::int16_t connectState = Connected;
    std::int16_t closeState = Closed;
    bool strictStates = true;
    QByteArray incoming;

    QByteArray refuseSettings;
    QByteArray refuseConnect;
    QByteArray refuseClose;
    QByteArray refuseState;
    QByteArray refuseBytesReceived;
    QByteArray refuseGetData;
    QByteArray refuseSend;

    // Records.
    QList<QByteArray> sent;
    QString remoteHost;
    std::int32_t localPort = 0;
    std::int32_t remotePort = 0;
    int connectCalls = 0;
    int closeCalls = 0;
    int getDataCalls = 0;
    mutable int stateCalls = 0;
    mutable int bytesReceivedCalls = 0;
    QStringList log;

    void receive(const QByteArray &bytes)
    {
        incoming += bytes;
        emit DataArrival(static_cast<std::int32_t>(bytes.size()));
    }

    void queue(const QByteArray &bytes) { incoming += bytes; }

    // Everything sent so far, as one byte stream.
    QByteArray sentBytes() const
    {
        QByteArray all;
        for (const QByteArray &text : sent)
            all += text;
        return all;
    }

    // SocketControl
    void RemoteHost(const QString &host) override
    {
        log.append(QStringLiteral("RemoteHost ") + host);
        refuseIf(refuseSettings);
        requireClosed();
        remoteHost = host;
    }

    void LocalPort(std::int32_t port) override
    {
        log.append(QStringLiteral("LocalPort ") + QString::number(port));
        refuseIf(refuseSettings);
        requireClosed();
        requirePort(port);
        localPort = port;
    }

    void RemotePort(std::int32_t port) override
    {
        log.append(QStringLiteral("RemotePort ") + QString::number(port));
        refuseIf(refuseSettings);
        requireClosed();
        requirePort(port);
        remotePort = port;
    }

    void Connect() override
    {
        ++connectCalls;
        log.append(QStringLiteral("Connect"));
        refuseIf(refuseConnect);
        requireClosed();
        state = connectState;
    }

    void Close() override
    {
        ++closeCalls;
        log.append(QStringLiteral("Close"));
        refuseIf(refuseClose);
        incoming.clear();
        state = closeState;
    }

    std::int16_t State() const override
    {
        ++stateCalls;
        refuseIf(refuseState);
        return state;
    }

    std::int32_t BytesReceived() const override
    {
        ++bytesReceivedCalls;
        refuseIf(refuseBytesReceived);
        return static_cast<std::int32_t>(incoming.size());
    }

    void GetData(QByteArray &text) override
    {
        ++getDataCalls;
        refuseIf(refuseGetData);
        text = incoming;
        incoming.clear();
    }

    void SendData(const QByteArray &text) override
    {
        refuseIf(refuseSend);
        if (strictStates && state != Connected)
            throw Fault("Wrong protocol or connection state for the requested transaction or request");
        sent.append(text);
    }

private:
    static void refuseIf(const QByteArray &description)
    {
        if (!description.isEmpty())
            throw Fault(description.toStdString());
    }

    void requireClosed() const
    {
        if (strictStates && state != Closed)
            throw Fault("Invalid operation at current state");
    }

    void requirePort(std::int32_t port) const
    {
        if (strictStates && (port < 0 || port > 65535))
            throw Fault("Invalid argument");
    }
};
