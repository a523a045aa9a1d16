#pragma once

#include <cstdint>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "rules/config/witstable.h"
#include "rules/stream/parserevents.h"
#include "rules/stream/reading.h"
#include "rules/stream/streamstate.h"

class QTimer;
class SocketControl;

// The link to one field unit: the socket, the stream buffer it fills, the
// 100 ms receive poll that feeds the parser, the age of the data and the
// keep-alive countdown. It uses no widgets, so a program without a window
// can run it; whatever it learns goes out through signals.
//
// The socket's operations keep their own way of failing: the settings,
// open() and send() raise Fault when the socket refuses them, so that the
// caller decides whether to report or skip. Everything else never throws.
class UnitLink : public QObject, private ParserEvents
{
    Q_OBJECT

public:
    static constexpr int BufferLimit = 5000;
    // Parser runs in one poll at most; a flood bigger than this waits for
    // the next poll instead of holding the window.
    static constexpr int MaxParserRuns = 1000;
    static constexpr std::int16_t KeepAliveTicks = 1000;
    static constexpr std::int16_t WitsFreshSeconds = 60;

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
    std::int16_t refreshState();
    std::int16_t state() const { return m_socketState; }

    // One receive poll: fetches what arrived and hands it on as a chunk,
    // runs the parser until nothing complete is left, and then keeps what
    // remains within the buffer's limit, saying so when it throws text away.
    void poll();
    // One 100 ms tick: ages the data and, every 1000 ticks, sends a
    // keep-alive if the link was connected at the last state read. Fault
    // when the socket refuses the keep-alive.
    void tick();
    // One second of the WITS watchdog: counts down to 0 and returns the
    // seconds left.
    std::int16_t witsTick();
    // Nothing the unit reported stands any more (the display was reset): the
    // fields of the last packet, its error number, the uptime and the WITS
    // countdown go back to their start values.
    void forgetReadings();

    void setWitsTable(const WitsTable &table) { m_wits = table; }

    const StreamState &stream() const { return m_stream; }
    const WitsTable &witsTable() const { return m_wits; }
    const QString &serial() const { return m_serial; }
    double dataAge() const { return m_stream.data_age; }
    double uptimePercent() const { return m_stream.uptime_percent; }
    std::int16_t witsCountdown() const { return m_stream.wits_countdown; }
    std::int16_t keepaliveCountdown() const { return m_keepaliveCountdown; }

signals:
    void stateChanged(std::int16_t state);
    // Everything received, chunk by chunk, exactly as it came.
    void chunkReceived(const QByteArray &chunk);
    // A line for the traffic window (parse failures, discarded text).
    void lineReported(const QByteArray &line);
    void readingAccepted(const Reading &reading);
    void twoWayModeChanged(bool active);
    void uptimeChanged(double percent);
    // A complete WITS record starts (its text as received, from the "^" to
    // the byte before its CR): what the last one listed is void.
    void witsRecordStarted(const QByteArray &record);
    void witsItemRead(const WitsItem &item);

private:
    void Winsock_ulmex_DataArrival(std::int32_t bytesTotal);
    void drain();
    void limitBuffer();

    // ParserEvents
    void twoWayMode(bool active) override;
    void uptimeReported(double percent) override;
    void packetAccepted() override;
    void witsCleared(const QByteArray &record) override;
    void witsItem(std::int16_t code, double value, const QString &line) override;
    void reportLine(const QByteArray &line) override;

    SocketControl *m_socket = nullptr;
    QTimer *m_poll = nullptr;
    StreamState m_stream;
    WitsTable m_wits;
    QString m_serial;
    std::int16_t m_socketState = 0;
    std::int16_t m_keepaliveCountdown = KeepAliveTicks;
    bool m_backlog = false;  // the last poll stopped at MaxParserRuns
};
