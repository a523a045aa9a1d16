#pragma once

#include <cstdint>

#include <QByteArray>

#include "link/socketcontrol.h"

// An in-memory socket control for driving the real main window without a
// network: it reports the state it is given and hands the poll whatever was
// queued. Timing the window then measures the window, not the kernel.
class QueueSocket : public SocketControl
{
public:
    explicit QueueSocket(std::int16_t initialState, QObject *parent = nullptr)
        : SocketControl(parent)
        , state(initialState)
    {
    }

    std::int16_t state = Closed;
    QByteArray incoming;

    void RemoteHost(const QString &) override {}
    void LocalPort(std::int32_t) override {}
    void RemotePort(std::int32_t) override {}
    void Connect() override { state = Connected; }
    void Close() override
    {
        incoming.clear();
        state = Closed;
    }
    std::int16_t State() const override { return state; }
    std::int32_t BytesReceived() const override { return static_cast<std::int32_t>(incoming.size()); }
    void GetData(QByteArray &text) override
    {
        text = incoming;
        incoming.clear();
    }
    void SendData(const QByteArray &) override {}
};
