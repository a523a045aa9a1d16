#pragma once

#include <QByteArray>
#include <QList>

class RandomSource;

// Decides how the elements of one viewer's stream are cut into socket writes:
// junk bytes in front of every element, several packets gathered into one
// write, a WITS record held back to travel in front of the next packet, and
// writes cut at random points. Knows nothing of sockets or timing.
class StreamShaper
{
public:
    enum class Kind { Packet, Wits, Status };

    struct Settings
    {
        int junkBytes = 0;       // junk bytes in front of every element
        int batch = 1;           // packets per write
        bool glueWits = false;   // a WITS record waits for the next packet
        bool split = false;      // every write is cut into 2 to 4 pieces
    };

    StreamShaper(const Settings &settings, RandomSource &random);

    // Adds one element; returns the writes that are now due, in order.
    QList<QByteArray> push(const QByteArray &element, Kind kind);
    // Adds bytes that must go out in one write of their own (after anything held).
    QList<QByteArray> pushWhole(const QByteArray &bytes);
    // Whatever is held back, as writes; used before the stream ends.
    QList<QByteArray> drain();
    // The pieces one write goes out in: itself, or 2 to 4 pieces when splitting.
    QList<QByteArray> pieces(const QByteArray &write);

    bool holding() const { return !m_held.isEmpty(); }
    // Every byte taken in so far, junk included. Writes keep the order of what
    // was taken in, so this is also where the last element taken in ends in
    // the stream.
    qint64 bytesIn() const { return m_bytesIn; }

private:
    QByteArray junk();

    Settings m_settings;
    RandomSource &m_random;
    QByteArray m_held;
    qint64 m_bytesIn = 0;
    int m_heldPackets = 0;
    // Junk is dealt from shuffled decks of all 256 byte values, so every value
    // turns up within every 256 junk bytes.
    QByteArray m_deck;
};
