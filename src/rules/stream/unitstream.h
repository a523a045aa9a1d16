#pragma once

#include <cstdint>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "rules/config/witstable.h"
#include "rules/readings/readingrules.h"
#include "rules/stream/parserevents.h"
#include "rules/stream/reading.h"
#include "rules/stream/streamstate.h"

// What one unit says and what follows from it, without a socket or a timer:
// the stream buffer and the parser over it, the age of the data, the WITS
// watchdog, and the unit's state that whoever shows, records or judges the
// readings takes from here rather than working it out again: the gas level
// with the panel's hold, the bit depth (WITS item 0108) and whether the
// readings are stale. Each reading goes out with the level and the bit depth
// it was accepted with.
//
// The unit link owns one: it hands on what its socket brings, the socket's
// state and its ticks. A test or a program without a socket drives one
// directly.
class UnitStream : public QObject, private ParserEvents
{
    Q_OBJECT

public:
    static constexpr int BufferLimit = 5000;
    // Parser runs for one chunk at most; a flood bigger than this waits for
    // the next chunk (or resume()) instead of holding the window.
    static constexpr int MaxParserRuns = 1000;
    static constexpr std::int16_t BitDepthCode = 108;
    static constexpr int DefaultStaleSeconds = 30;
    static constexpr int TicksPerSecond = 10;

    // One second of the WITS watchdog. Bad: the count had run out already.
    // Counting: lowered to 1 or more. Expired: lowered to 0 now, which ends
    // the bit depth.
    enum class WitsWatch { Bad, Counting, Expired };
    Q_ENUM(WitsWatch)

    explicit UnitStream(QObject *parent = nullptr);

    // The unit the stream comes from, carried on every reading. Another
    // unit starts with nothing of the last one's level or bit depth.
    void setSerial(const QString &serial);
    // The socket's state as last read; each change goes out once, after
    // what it does to the staleness.
    void setLinkState(std::int16_t state);
    // What arrived: appended to the buffer, then every complete element is
    // taken (at most MaxParserRuns parser runs), and what never completed
    // is kept within the buffer's limit, with a report line when text is
    // thrown away.
    void receive(const QByteArray &chunk);
    // Parser runs left over from a flood, for the next poll to take.
    bool hasBacklog() const { return m_backlog; }
    // What was not consumed goes: a packet broken off here must not be
    // completed by the next connection's bytes.
    void dropBuffer();
    // 100 ms: the data ages, and a connected link with no packet for the
    // stale limit turns silent.
    void tick();
    // One second of the WITS watchdog: counts down to 0.
    WitsWatch witsTick();
    // Nothing the unit reported stands any more (the display was reset): the
    // fields of the last packet, its error number, the uptime, the WITS
    // countdown, the gas level and the bit depth go back to their start
    // values. The staleness stays: a lost link stays lost until a packet.
    void forgetReadings();
    // Seconds without a packet before a connected link's readings are
    // stale; 0 never. A value below 0 is taken as 0.
    void setStaleSeconds(int seconds);
    void setWitsTable(const WitsTable &table) { m_wits = table; }

    const StreamState &stream() const { return m_stream; }
    const WitsTable &witsTable() const { return m_wits; }
    const QString &serial() const { return m_serial; }
    std::int16_t linkState() const { return m_linkState; }
    double dataAge() const { return m_stream.data_age; }
    double uptimePercent() const { return m_stream.uptime_percent; }
    std::int16_t witsCountdown() const { return m_stream.wits_countdown; }
    // The level the gas units are held at (Unchanged until one is set, and
    // after gas units that were no number).
    readings::GasLevel gasLevel() const { return m_gas.level(); }
    std::optional<double> bitDepth() const { return m_bitDepth; }
    readings::Staleness staleness() const;
    bool readingsStale() const { return staleness() != readings::Staleness::Current; }
    int staleSeconds() const { return m_staleSeconds; }

signals:
    void linkStateChanged(std::int16_t state);
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
    // Each second of the watchdog, with the seconds left.
    void witsTicked(UnitStream::WitsWatch watch, std::int16_t left);
    void stalenessChanged(readings::Staleness staleness);

private:
    void drain();
    void limitBuffer();
    void followStaleness(readings::Staleness before);

    // ParserEvents
    void twoWayMode(bool active) override;
    void uptimeReported(double percent) override;
    void packetAccepted() override;
    void witsCleared(const QByteArray &record) override;
    void witsItem(std::int16_t code, double value, const QString &line) override;
    void reportLine(const QByteArray &line) override;

    StreamState m_stream;
    WitsTable m_wits;
    QString m_serial;
    std::int16_t m_linkState = 0;
    bool m_backlog = false;  // the last chunk stopped at MaxParserRuns
    readings::GasLevelTracker m_gas;
    std::optional<double> m_bitDepth;
    int m_staleSeconds = DefaultStaleSeconds;
    qint64 m_quietTicks = 0;  // while connected, since the link came up or the last packet
    bool m_silent = false;
    bool m_lost = false;
};
