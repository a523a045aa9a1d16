#pragma once

#include <cstdint>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "rules/stream/linkstate.h"

// The socket operations the viewer relies on, with the state numbers of
// LinkState. Refused operations throw Fault.
class SocketControl : public QObject, public LinkState
{
    Q_OBJECT

public:
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

    // While the state is 9: why the connection failed, in the platform's
    // words ("Connection refused"); empty when it does not say.
    virtual QString errorText() const { return QString(); }

signals:
    void DataArrival(std::int32_t bytesTotal);
};
