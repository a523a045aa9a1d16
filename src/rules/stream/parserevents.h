#pragma once

#include <cstdint>

#include <QByteArray>
#include <QString>

// What the parser found, handed to whoever acts on it (the unit link, or a
// test's recorder). None of these may throw into the parser.
class ParserEvents
{
public:
    virtual ~ParserEvents() = default;

    // A "[...TWO WAY...]" (true) or "[...OUTPUT ONLY...]" (false) message.
    virtual void twoWayMode(bool active) = 0;
    // An "[UPTIME nn%]" message: uptime_percent holds the value read.
    virtual void uptimeReported(double percent) = 0;
    // A packet was accepted: data_fields, error_code and packet_text hold it.
    virtual void packetAccepted() = 0;
    // A complete WITS record was found, as received from its "^" to the byte
    // before its CR: the list is cleared before its items.
    virtual void witsCleared(const QByteArray &record) = 0;
    // One item of that record: its code, its value and the list line.
    virtual void witsItem(std::int16_t code, double value, const QString &line) = 0;
    // One report line for the traffic window.
    virtual void reportLine(const QByteArray &line) = 0;
};
