#include "rules/stream/unitstream.h"

#include <algorithm>

#include <QDateTime>

#include "rules/stream/linkstate.h"
#include "rules/stream/parser.h"

UnitStream::UnitStream(QObject *parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("UnitStream"));
}

void UnitStream::setSerial(const QString &serial)
{
    // Another unit's readings are no continuation of this one's: its first
    // gas reading starts the hold afresh, and no bit depth passes over.
    if (serial != m_serial) {
        m_gas.reset();
        m_bitDepth.reset();
    }
    m_serial = serial;
}

void UnitStream::setLinkState(std::int16_t state)
{
    const std::int16_t before = m_linkState;
    if (state == before)
        return;
    const readings::Staleness was = staleness();
    m_linkState = state;
    if (state == LinkState::Connected) {
        // Silence is counted from the moment the link is up, not from a
        // packet of an earlier connection.
        m_quietTicks = 0;
    } else {
        m_silent = false;
        // A connect that never got through is no lost link.
        if (LinkState::isDown(state) && before == LinkState::Connected)
            m_lost = true;
    }
    followStaleness(was);
    emit linkStateChanged(state);
}

readings::Staleness UnitStream::staleness() const
{
    if (m_staleSeconds <= 0)
        return readings::Staleness::Current;
    if (m_lost)
        return readings::Staleness::Lost;
    return m_silent ? readings::Staleness::Silent : readings::Staleness::Current;
}

void UnitStream::followStaleness(readings::Staleness before)
{
    const readings::Staleness now = staleness();
    if (now != before)
        emit stalenessChanged(now);
}

void UnitStream::setStaleSeconds(int seconds)
{
    const readings::Staleness was = staleness();
    m_staleSeconds = std::max(0, seconds);
    m_silent = m_silent && m_staleSeconds > 0 && m_quietTicks >= qint64(m_staleSeconds) * TicksPerSecond;
    followStaleness(was);
}

void UnitStream::receive(const QByteArray &chunk)
{
    m_stream.incoming_buffer += chunk;
    // Every element ends at a CR or a "]": a chunk without either cannot
    // complete anything that the last one left incomplete, so a link that
    // drips byte by byte costs no parser runs.
    if (m_backlog || chunk.contains('\r') || chunk.contains(']'))
        drain();
    else
        limitBuffer();
}

void UnitStream::drain()
{
    // Everything complete is taken now, one parser run after another, each
    // accepted packet handed on in turn: packets that arrive together are
    // all kept, and the newest is what the screen shows, with a true age.
    // A flood is worked off over several chunks rather than in one.
    m_backlog = false;
    for (int run = 0; run < MaxParserRuns; ++run) {
        const qsizetype before = m_stream.incoming_buffer.size();
        parse_ulmex_string(m_stream, m_wits, *this);
        // The parser only ever takes text away: no change, nothing complete.
        if (m_stream.incoming_buffer.isEmpty() || m_stream.incoming_buffer.size() == before)
            break;
        if (run == MaxParserRuns - 1)
            m_backlog = true;
    }
    limitBuffer();
}

void UnitStream::limitBuffer()
{
    // What is left can only be text that never completed.
    const qsizetype left = m_stream.incoming_buffer.size();
    if (left > BufferLimit) {
        m_stream.incoming_buffer.clear();
        m_backlog = false;
        emit lineReported(QByteArrayLiteral("[Receive buffer over 5000: ") + QByteArray::number(left)
                          + QByteArrayLiteral(" characters discarded]"));
    }
}

void UnitStream::dropBuffer()
{
    m_stream.incoming_buffer.clear();
    m_backlog = false;
}

void UnitStream::tick()
{
    m_stream.data_age += 0.1;
    if (m_staleSeconds > 0 && m_linkState == LinkState::Connected && !m_silent
        && ++m_quietTicks >= qint64(m_staleSeconds) * TicksPerSecond) {
        const readings::Staleness was = staleness();
        m_silent = true;
        followStaleness(was);
    }
}

UnitStream::WitsWatch UnitStream::witsTick()
{
    WitsWatch watch = WitsWatch::Bad;
    if (m_stream.wits_countdown > 0) {
        --m_stream.wits_countdown;
        watch = WitsWatch::Counting;
        if (m_stream.wits_countdown == 0) {
            // The WITS data has gone stale: its bit depth no longer stands.
            watch = WitsWatch::Expired;
            m_bitDepth.reset();
        }
    }
    emit witsTicked(watch, m_stream.wits_countdown);
    return watch;
}

void UnitStream::forgetReadings()
{
    for (QByteArray &field : m_stream.data_fields)
        field.clear();
    m_stream.error_code = 0;
    m_stream.uptime_percent = 0;
    m_stream.wits_countdown = 0;
    m_gas.reset();
    m_bitDepth.reset();
}

void UnitStream::twoWayMode(bool active)
{
    emit twoWayModeChanged(active);
}

void UnitStream::uptimeReported(double percent)
{
    emit uptimeChanged(percent);
}

void UnitStream::packetAccepted()
{
    Reading reading;
    reading.acceptedAtMs = QDateTime::currentMSecsSinceEpoch();
    reading.serial = m_serial;
    reading.text = m_stream.packet_text;
    reading.fields = m_stream.data_fields;
    reading.errorCode = m_stream.error_code;
    reading.gasLevel = m_gas.update(reading.fields[5]);
    reading.bitDepth = m_bitDepth;
    // The readings are current again before anyone hears of this one.
    const readings::Staleness was = staleness();
    m_quietTicks = 0;
    m_silent = false;
    m_lost = false;
    followStaleness(was);
    emit readingAccepted(reading);
}

void UnitStream::witsCleared(const QByteArray &record)
{
    emit witsRecordStarted(record);
}

void UnitStream::witsItem(std::int16_t code, double value, const QString &line)
{
    emit witsItemRead(WitsItem{code, value, line});
    if (code == BitDepthCode) {
        m_bitDepth = value;
        emit bitDepthRead(value);
    }
}

void UnitStream::reportLine(const QByteArray &line)
{
    emit lineReported(line);
}
