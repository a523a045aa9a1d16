#pragma once

#include <array>
#include <cstdint>

#include <QByteArray>

// Run-time state of the data stream. The unit link owns the one instance;
// its receive poll, the parser and its tick work on it by reference.
struct StreamState
{
    static constexpr int FieldSlots = 51;  // indices 0 to 50; 0 is never written

    QByteArray incoming_buffer;                           // received, not yet consumed
    std::array<QByteArray, FieldSlots> data_fields{};     // fields of the last accepted packet
    double error_code = 0.0;                              // field 21 of the last accepted packet
    QByteArray packet_text;                               // the last accepted packet, "*" to before its CR
    double data_age = 0.0;                                // seconds since the last accepted packet
    double uptime_percent = 0.0;                          // from the unit's [UPTIME nn%] message
    bool parse_busy = false;                              // true while the parser runs
    std::int16_t wits_countdown = 0;                      // seconds before WITS data counts as stale
};
