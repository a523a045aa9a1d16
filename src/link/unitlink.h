#pragma once

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "rules/config/witstable.h"
#include "rules/readings/readingrules.h"
#include "rules/stream/reading.h"
#include "rules/stream/streamstate.h"
#include "rules/stream/unitstream.h"

class QTimer;
class SocketControl;

// The link to one field unit, and the owner of everything about it: the
// socket, the stream it fills and what follows from the stream (the unit's
// UnitStream: the data age, the WITS watchdog, the gas level, the bit depth,
// the staleness), and the three timers that drive them, running from the
// link's creation until stop(): the 100 ms receive poll `tmrDataArrival`,
// the 100 ms tick `tmr_delay` (data age, keep-alive, state refresh) and the
// one-second WITS watchdog `tmr_wits`. It uses no widgets, so a program
// without a window runs it as it is; whatever it learns goes out through
// signals, and a window or a recorder only listens.
//
// The socket's operations keep their own way of failing: the settings,
// open() and send() raise Fault when the socket refuses them, so that the
// caller decides whether to report or skip. Everything else never throws.
class UnitLink : public QObject
{
    Q_OBJECT

public:
    static constexpr int BufferLimit = UnitStream::BufferLimit;
    static constexpr int MaxParserRuns = UnitStream::MaxParserRuns;
    static constexpr std::int16_t KeepAliveTicks = 1000;

    // Takes ownership of the socket; a TCP socket when none is given.
    explicit UnitLink(SocketControl *socket = nullptr, QObject *parent = nullptr);

    // Settings for the next open(); Fault unless the socket is closed.
    void setRemoteHost(const QString &host);
    void setLocalPort(std::int32_t port);
    void setRemotePort(std::int32_t port);
    // Starts connecting; progress shows in refreshState(). The serial number
    // is the one the operator chose, carried on every reading of this link.
    void open(const QString &serial);
    // Asks the socket to close unless it was last seen closed, and drops
    // what the link left unconsumed: kept, its queued packets would be shown
    // after a disconnect, and a packet it broke off would be completed by
    // the next unit's first CR and shown as that unit's reading.
    void close();
    // Queues bytes for the unit; Fault unless connected.
    void send(const QByteArray &bytes);

    // Reads the socket's state; when it cannot be read the last one stands.
    // A change goes out as stateChanged, after what it does to the
    // staleness.
    std::int16_t refreshState();
    std::int16_t state() const { return m_socketState; }
    // While the state is 9: why the link failed, as the socket words it.
    QString errorText() const;

    // One receive poll: fetches what arrived and hands it on as a chunk,
    // runs the parser until nothing complete is left, and then keeps what
    // remains within the buffer's limit, saying so when it throws text away.
    void poll();
    // One 100 ms tick, in this order: the data ages; every 1000 ticks a
    // keep-alive goes out if the link was connected at the last state read
    // (a keep-alive skipped while the link is down is not made up); the
    // state is read again. A refused keep-alive drops the rest of the tick.
    // Then ticked() tells whether the tick ran whole.
    void tick();
    // One second of the WITS watchdog: counts down to 0; at 0 the bit depth
    // ends.
    UnitStream::WitsWatch witsTick();
    // Nothing the unit reported stands any more (the display was reset).
    void forgetReadings();
    // The timers stop for good (the program is ending).
    void stop();

    void setWitsTable(const WitsTable &table) { m_unit->setWitsTable(table); }
    // Seconds without a packet before a connected link's readings are
    // stale (UnitStream::DefaultStaleSeconds unless set); 0 never.
    void setStaleSeconds(int seconds) { m_unit->setStaleSeconds(seconds); }

    const UnitStream &unit() const { return *m_unit; }
    const StreamState &stream() const { return m_unit->stream(); }
    const WitsTable &witsTable() const { return m_unit->witsTable(); }
    const QString &serial() const { return m_unit->serial(); }
    double dataAge() const { return m_unit->dataAge(); }
    double uptimePercent() const { return m_unit->uptimePercent(); }
    std::int16_t witsCountdown() const { return m_unit->witsCountdown(); }
    std::int16_t keepaliveCountdown() const { return m_keepaliveCountdown; }
    readings::GasLevel gasLevel() const { return m_unit->gasLevel(); }
    std::optional<double> bitDepth() const { return m_unit->bitDepth(); }
    readings::Staleness staleness() const { return m_unit->staleness(); }
    bool readingsStale() const { return m_unit->readingsStale(); }

signals:
    void stateChanged(std::int16_t state);
    // Everything received, chunk by chunk, exactly as it came.
    void chunkReceived(const QByteArray &chunk);
    // After each 100 ms tick; whole is false when a refused keep-alive cut
    // it short (the state was not read again).
    void ticked(bool whole);
    // A line for the traffic window (parse failures, discarded text).
    void lineReported(const QByteArray &line);
    void readingAccepted(const Reading &reading);
    void twoWayModeChanged(bool active);
    void uptimeChanged(double percent);
    // A complete WITS record starts (its text as received, from the "^" to
    // the byte before its CR): what the last one listed is void.
    void witsRecordStarted(const QByteArray &record);
    void witsItemRead(const WitsItem &item);
    // Item 0108 of a record, after its list line: the bit depth now.
    void bitDepthRead(double value);
    // Each second of the WITS watchdog, with the seconds left.
    void witsTicked(UnitStream::WitsWatch watch, std::int16_t left);
    void stalenessChanged(readings::Staleness staleness);

private:
    void Winsock_ulmex_DataArrival(std::int32_t bytesTotal);
    void witsSecond();
    QTimer *startTimer(const char *name, int interval, void (UnitLink::*handler)());

    SocketControl *m_socket = nullptr;
    UnitStream *m_unit = nullptr;
    std::int16_t m_socketState = 0;
    std::int16_t m_keepaliveCountdown = KeepAliveTicks;
};
