#pragma once

#include <QByteArray>

// Traffic shaped like a field unit's at work, for the benchmarks: every
// reading moves a little from one packet to the next, so the display really
// has new text to show and nothing is served from a cache of equal values.
class SampleStream
{
public:
    // Data packet number n: "*", the 40 fields, "C" and the checksum, a final
    // comma, CR LF. About 250 characters, as a unit sends them.
    static QByteArray dataPacket(int n);

    // WITS record number n: "^", four header pieces and ten items (bit depth,
    // hole depth and eight more), CR LF.
    static QByteArray witsRecord(int n);

    // Five bracketed status messages in a row, the most one parser call takes.
    static QByteArray statusMessages();
};
