#include "rules/stream/parser.h"

#include <cstdint>
#include <cstring>
#include <exception>

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include "rules/config/witstable.h"
#include "rules/convert/convert.h"
#include "rules/convert/fault.h"
#include "rules/stream/parserevents.h"
#include "rules/stream/streamstate.h"

namespace {

constexpr char CarriageReturn = '\r';
constexpr int StatusPasses = 5;
constexpr qsizetype MaxPacketFields = StreamState::FieldSlots - 1;
constexpr int ErrorCodeField = 21;
constexpr qsizetype WitsHeaderPieces = 5;
constexpr qsizetype WitsShortestItem = 5;  // four code characters and one value character
constexpr qsizetype WitsCodeLength = 4;
constexpr std::int16_t WitsFreshSeconds = 60;

// One run of the parser over the buffer. The error point records the last
// step passed, so that a failure report tells a maintainer where in the
// stream handling the fault struck; the numbers are fixed because operators
// quote them from the traffic window.
class ParseCall
{
public:
    ParseCall(StreamState &state, const WitsTable &table, ParserEvents &events)
        : m_state(state)
        , m_table(table)
        , m_events(events)
    {
    }

    void run()
    {
        m_point = 0;
        for (int pass = 0; pass < StatusPasses; ++pass)
            statusMessagePass();
        if (!packetStep())
            return;
        witsStep();
    }

    // The one handler for every fault of the call: report where it struck and
    // drop the buffer, since nothing in it can be trusted to be in step.
    void fail(const char *description) noexcept
    {
        try {
            m_events.reportLine(QByteArrayLiteral("[Parse ERR: ") + description
                                + QByteArrayLiteral(" Err pt: ") + QByteArray::number(m_point)
                                + QByteArrayLiteral("]"));
        } catch (...) {
            // The traffic window is the only place a fault can be told; when
            // that fails too, the empty buffer below is all that is left to do.
        }
        m_state.incoming_buffer.clear();
    }

private:
    void statusMessagePass()
    {
        QByteArray &buffer = m_state.incoming_buffer;
        m_point = 1;
        qsizetype open = buffer.indexOf('[');
        m_point = 3;
        qsizetype close = -1;
        for (;;) {
            if (open < 0)
                return;
            close = buffer.indexOf(']', open);
            // A message never spans a line end: a "[" whose "]" lies beyond a
            // CR, or that has a CR and no "]" behind it, is line noise. Taken
            // for a message, it would swallow the packets behind it.
            const qsizetype lineEnd = buffer.indexOf(CarriageReturn, open);
            if (lineEnd < 0 || (close >= 0 && close < lineEnd))
                break;
            buffer.remove(open, 1);
            open = buffer.indexOf('[', open);
        }
        // An unterminated "[" with no line end behind it may still be
        // completed: it holds back every message behind it until then.
        if (close < 0)
            return;
        const QByteArray message = buffer.mid(open, close - open + 1);

        if (message.contains("UPTIME")) {
            // The unit writes "[UPTIME 99.5%]"; the number sits in characters
            // 9 to 12, and the "%" must not stop a shorter number being read.
            QByteArray uptime = message;
            uptime.replace('%', ' ');
            m_state.uptime_percent = convert::leadingNumber(uptime.mid(8, 4));
            m_events.uptimeReported(m_state.uptime_percent);
        }
        // Tested independently and in this order: a message naming both modes
        // leaves the unit shown as output only.
        if (message.contains("TWO WAY"))
            m_events.twoWayMode(true);
        if (message.contains("OUTPUT ONLY"))
            m_events.twoWayMode(false);

        buffer.replace(message, QByteArray());
    }

    // False when the call has to end here (a checksum failure).
    bool packetStep()
    {
        QByteArray &buffer = m_state.incoming_buffer;
        m_point = 4;
        const qsizetype start = buffer.indexOf('*');
        m_point = 5;
        if (start < 0)
            return true;
        const qsizetype end = buffer.indexOf(CarriageReturn, start);
        if (end < 0)
            return true;  // the rest of the packet is still on its way

        m_point = 6;
        const char *const packet = buffer.constData() + start;
        const qsizetype length = end - start;
        m_point = 7;
        // The field boundaries are found in place: no field is copied until
        // the packet has proved good.
        qsizetype commas = 0;
        qsizetype lastComma = -1;
        qsizetype commaBeforeLast = -1;
        for (qsizetype i = 0; i < length; ++i) {
            if (packet[i] == ',') {
                ++commas;
                commaBeforeLast = lastComma;
                lastComma = i;
            }
        }
        const qsizetype fieldCount = commas + 1;
        m_point = 8;
        if (fieldCount > MaxPacketFields || fieldCount < 2)
            throw Fault::subscriptOutOfRange();
        const qsizetype checksumFrom = commaBeforeLast + 1;
        if (!checksumHolds(packet, length, checksumFrom, lastComma - checksumFrom)) {
            m_events.reportLine(QByteArrayLiteral("[Parse Checksum failed]"));
            // What follows a corrupt packet cannot be trusted to be in step.
            buffer.clear();
            return false;
        }

        // Each field reuses the storage of the field it replaces, so a steady
        // stream of packets costs no allocation here.
        qsizetype from = 0;
        for (qsizetype k = 0; k < fieldCount; ++k) {
            qsizetype to = from;
            while (to < length && packet[to] != ',')
                ++to;
            QByteArray &slot = m_state.data_fields[static_cast<std::size_t>(k + 1)];
            slot.resize(to - from);
            if (to > from)
                std::memcpy(slot.data(), packet + from, static_cast<std::size_t>(to - from));
            from = to + 1;
        }
        // Only this packet's readings stand: a shorter packet leaves no
        // slot showing an older one's value, and its checksum field (with
        // the empty field behind it) is no reading at all.
        for (qsizetype k = fieldCount + 1; k < StreamState::FieldSlots; ++k)
            m_state.data_fields[static_cast<std::size_t>(k)].clear();
        if (lastComma > checksumFrom && packet[checksumFrom] == 'C')
            m_state.data_fields[static_cast<std::size_t>(fieldCount - 1)].clear();
        m_state.data_age = 0.0;
        m_point = 9;
        m_state.data_fields[1].remove(0, 1);  // the "*" that opened the packet
        m_state.packet_text = QByteArray(packet, length);

        m_point = 10;
        m_state.error_code = errorCodeOf(m_state.data_fields[ErrorCodeField]);
        const QByteArray records = recordsInFront(buffer, start);
        if (records.isEmpty())
            buffer.remove(0, end + 1);
        else
            buffer = records + buffer.mid(end + 1);
        m_events.packetAccepted();
        return true;
    }

    // The field in front of the last comma carries "C" and the 8-bit sum of
    // every byte in front of it. Anything else there means the unit sent no
    // checksum, and a negative one means it asks for none to be tested.
    static bool checksumHolds(const char *packet, qsizetype length, qsizetype fieldFrom, qsizetype fieldLength)
    {
        if (fieldLength < 1 || packet[fieldFrom] != 'C')
            return true;
        const std::int32_t received = convert::toInt32(
            convert::leadingNumber(QByteArray::fromRawData(packet + fieldFrom + 1, fieldLength - 1)));
        if (received < 0)
            return true;
        const qsizetype summed = length - fieldLength - 1;
        unsigned sum = 0;
        for (qsizetype i = 0; i < summed; ++i)
            sum += static_cast<unsigned char>(packet[i]);
        return received == static_cast<std::int32_t>(sum % 256U);
    }

    // Units report a four-digit error number whose first two digits are the
    // alarm; shorter numbers are the alarm itself.
    static double errorCodeOf(const QByteArray &field)
    {
        if (field.size() <= 3)
            return convert::leadingNumber(field);
        return convert::leadingNumber(field.left(2));
    }

    // Text in front of a packet is line noise and leaves with the packet, but
    // a complete WITS record that arrived just before it is kept so that it is
    // still listed; dropping it could starve the WITS watchdog although
    // records arrive. A "^" whose CR lies beyond the "*" is not a record.
    static QByteArray recordsInFront(const QByteArray &buffer, qsizetype packetStart)
    {
        QByteArray records;
        qsizetype from = 0;
        for (;;) {
            const qsizetype caret = buffer.indexOf('^', from);
            if (caret < 0 || caret >= packetStart)
                break;
            const qsizetype end = buffer.indexOf(CarriageReturn, caret);
            if (end < 0 || end >= packetStart)
                break;
            records += buffer.mid(caret, end - caret + 1);
            from = end + 1;
        }
        return records;
    }

    void witsStep()
    {
        QByteArray &buffer = m_state.incoming_buffer;
        m_point = 15;
        const qsizetype start = buffer.indexOf('^');
        m_point = 16;
        if (start < 0)
            return;
        const qsizetype end = buffer.indexOf(CarriageReturn, start);
        if (end < 0)
            return;

        m_point = 17;
        const QByteArray record = buffer.mid(start, end - start);
        m_events.witsCleared(record);
        m_point = 18;
        m_point = 19;
        const QByteArrayList pieces = record.split(',');
        // Only a record that carries items is a sign of WITS data; an empty
        // one must not keep the WITS button green.
        for (qsizetype i = WitsHeaderPieces; i < pieces.size(); ++i) {
            if (pieces.at(i).size() > WitsShortestItem) {
                m_state.wits_countdown = WitsFreshSeconds;
                break;
            }
        }

        for (qsizetype i = WitsHeaderPieces; i < pieces.size(); ++i) {
            const QByteArray &item = pieces.at(i);
            m_point = 20;
            if (item.size() <= WitsShortestItem)
                continue;
            m_point = 21;
            const std::int16_t code = convert::textToInt16(item.left(WitsCodeLength));
            m_point = 22;
            const double value = convert::leadingNumber(item.mid(WitsCodeLength));
            QString line = QString::number(code) + QLatin1String("  ")
                           + QString::fromLatin1(itemName(code)) + QLatin1String("  ")
                           + convert::formatGeneral(value);
            // Codes are four digits on the wire; the list shows those below
            // 1000 with one leading zero, as operators know them (0108).
            if (code < 1000)
                line.prepend(QLatin1Char('0'));
            m_point = 23;
            m_events.witsItem(code, value, line);
        }

        // The record leaves, and only the record: other text that happens to
        // equal it (a lone "^" of an empty record) stays. The CR stays too:
        // the next packet's consumption takes it away.
        buffer.remove(start, record.size());
    }

    // The whole table is searched and the last match wins, so a code the
    // settings file names twice shows under its later name. Unfilled slots
    // hold code 0 with no name and are matched like any other.
    QByteArray itemName(std::int16_t code) const
    {
        QByteArray name = QByteArrayLiteral("Unknown");
        for (int j = 0; j < WitsTable::Usable; ++j) {
            if (m_table.codes[static_cast<std::size_t>(j)] == code)
                name = m_table.names[static_cast<std::size_t>(j)];
        }
        return name;
    }

    StreamState &m_state;
    const WitsTable &m_table;
    ParserEvents &m_events;
    int m_point = 0;
};

} // namespace

void parse_ulmex_string(StreamState &state, const WitsTable &table, ParserEvents &events) noexcept
{
    // The receive poll skips its turn while this is set, so the buffer is
    // never appended to under a running parse.
    state.parse_busy = true;
    ParseCall call(state, table, events);
    try {
        call.run();
    } catch (const std::exception &fault) {
        call.fail(fault.what());
    } catch (...) {
        call.fail("Unexpected error");
    }
    state.parse_busy = false;
}
