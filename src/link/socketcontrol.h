#pragma once

#include <cstdint>

#include <QByteArray>
#include <QObject>
#include <QString>

// The socket operations the viewer relies on, with their state numbers:
// 0 closed, 1 open, 2 listening, 3 connection pending, 4 resolving host,
// 5 host resolved, 6 connecting, 7 connected, 8 closing (the peer has ended
// the connection), 9 error. Refused operations throw Fault.
class SocketControl : public QObject
{
    Q_OBJECT

public:
    enum StateNumber : std::int16_t {
        Closed = 0,
        Open = 1,
        Listening = 2,
        ConnectionPending = 3,
        ResolvingHost = 4,
        HostResolved = 5,
        Connecting = 6,
        Connected = 7,
        Closing = 8,
        Error = 9,
    };

    using QObject::QObject;

    // Settings for the next Connect(); refused unless the socket is closed.
    virtual void RemoteHost(const QString &host) = 0;
    virtual void LocalPort(std::int32_t port) = 0;
    virtual void RemotePort(std::int32_t port) = 0;

    // Both return at once; progress shows only in State().
    virtual void Connect() = 0;
    virtual void Close() = 0;

    virtual std::int16_t State() const = 0;

    // Received bytes not yet fetched, and the fetch of all of them.
    virtual std::int32_t BytesReceived() const = 0;
    virtual void GetData(QByteArray &text) = 0;

    // Queues the bytes for sending; refused unless connected.
    virtual void SendData(const QByteArray &text) = 0;

signals:
    void DataArrival(std::int32_t bytesTotal);
};
