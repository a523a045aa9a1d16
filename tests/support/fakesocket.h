#pragma once

#include <cstdint>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

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
// Without Q_OBJECT of its own.
class FakeSocket : public SocketControl
{
public:
    explicit FakeSocket(QObject *parent = nullptr)
        : SocketControl(parent)
    {
    }

    // The plain in-memory socket the benchmarks drive the window with: in
    // the given state, refusing nothing, it hands the poll whatever was
    // queued, so timing the window measures the window, not the kernel.
    static FakeSocket *inMemory(std::int16_t initialState);

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

    void receive(const QByteArray &bytes);
    void queue(const QByteArray &bytes) { incoming += bytes; }

    // Everything sent so far, as one byte stream.
    QByteArray sentBytes() const;

    // SocketControl
    void RemoteHost(const QString &host) override;
    void LocalPort(std::int32_t port) override;
    void RemotePort(std::int32_t port) override;
    void Connect() override;
    void Close() override;
    std::int16_t State() const override;
    std::int32_t BytesReceived() const override;
    void GetData(QByteArray &text) override;
    void SendData(const QByteArray &text) override;

private:
    static void refuseIf(const QByteArray &description);
    void requireClosed() const;
    void requirePort(std::int32_t port) const;
};
