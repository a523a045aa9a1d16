#pragma once

#include <QByteArray>
#include <QString>

// What the parser found, handed to whoever shows it (the main window, or a
// test's recorder). None of these may throw into the parser.
class ParserEvents
{
public:
    virtual ~ParserEvents() = default;

    // A "[...TWO WAY...]" (true) or "[...OUTPUT ONLY...]" (false) message.
    virtual void twoWayMode(bool active) = 0;
    // A packet was accepted: data_fields and error_code hold it.
    virtual void packetAccepted() = 0;
    // A complete WITS record was found: the list is cleared before its items.
    virtual void witsCleared() = 0;
    virtual void witsLineAdded(const QString &line) = 0;
    // Item 0108 of a WITS record, as read.
    virtual void witsBitDepth(double value) = 0;
    // One report line for the traffic window.
    virtual void reportLine(const QByteArray &line) = 0;
};
