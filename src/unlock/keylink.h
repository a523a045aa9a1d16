#pragma once

#include <QByteArray>

// What the unlock form needs from the main window: the socket's send and the
// traffic window's report line. The window implements it; tests stand in.
class KeyLink
{
public:
    virtual ~KeyLink() = default;

    // Hands the bytes to the socket in one send; throws Fault when refused.
    virtual void sendKeyMessage(const QByteArray &message) = 0;
    // Writes one line to the traffic window; never throws.
    virtual void reportLine(const QByteArray &line) = 0;
};
