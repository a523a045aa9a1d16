// The receive path: arbitrary bytes reach a fresh main window through its own
// 100 ms poll, cut into chunks the way a socket may deliver them, and after
// every poll the fuzzer checks what the operator relies on:
//
// - the stream buffer holds at most 5000 characters, the traffic window's
//   content at most 5000;
// - the parser is not left busy, and no fault leaves the poll;
// - the fields of the last packet, the error number and the data age change
//   only for a packet that a separate reading of the same bytes accepts, and
//   then exactly as that reading says (a model of the framing and of the
//   checksum kept apart from the parser);
// - a tick that meets a running parse takes nothing from the socket.
//
// Input: two header bytes, then the byte stream itself, so that a capture of
// real traffic is a seed once two bytes are put in front of it. Byte 0 seeds
// the chunk sizes, byte 1 sets the largest chunk: 1 + 24 * byte 1 characters,
// that is every byte on its own (0) up to chunks past the 5000-character
// limit (254); 255 hands the whole stream over in one chunk, so that a seed
// can land exactly on the limit.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <limits>
#include <memory>

#include <QApplication>
#include <QByteArray>
#include <QByteArrayList>
#include <QFile>
#include <QTemporaryDir>

#include "app/fm_more_data.h"
#include "convert/convert.h"
#include "link/socketcontrol.h"
#include "stream/streamstate.h"
#include "stream/trafficlog.h"

namespace {

constexpr qsizetype BufferLimit = 5000;
constexpr int MaxFields = 50;
constexpr int StatusPasses = 5;
constexpr int DrainPolls = 64;
constexpr double AgeMark = 42.5;  // no tick runs here, so only a packet can change it

// A connected socket whose received bytes the fuzzer hands out poll by poll.
class FeedSocket : public SocketControl
{
public:
    using SocketControl::SocketControl;

    QByteArray pending;
    std::int16_t state = Connected;

    void RemoteHost(const QString &) override {}
    void LocalPort(std::int32_t) override {}
    void RemotePort(std::int32_t) override {}
    void Connect() override { state = Connected; }
    void Close() override
    {
        pending.clear();
        state = Closed;
    }
    std::int16_t State() const override { return state; }
    std::int32_t BytesReceived() const override { return static_cast<std::int32_t>(pending.size()); }
    void GetData(QByteArray &text) override
    {
        text = pending;
        pending.clear();
    }
    void SendData(const QByteArray &) override {}
};

[[noreturn]] void broken(const char *what, const QByteArray &detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_receive: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  detail: %s\n", detail.toPercentEncoding(" ,*[]^.-:/").constData());
    std::abort();
}

bool sameNumber(double a, double b)
{
    return a == b || (std::isnan(a) && std::isnan(b));
}

// What one parser call does to the shown data, read from the bytes it starts
// with. Written from the wire rules, not from the parser.
struct PacketVerdict
{
    bool accepted = false;
    QByteArrayList fields;  // the accepted packet's fields, "*" dropped
};

void removeEvery(QByteArray &text, const QByteArray &piece)
{
    QByteArray out;
    qsizetype from = 0;
    for (;;) {
        const qsizetype at = text.indexOf(piece, from);
        if (at < 0)
            break;
        out += text.mid(from, at - from);
        from = at + piece.size();
    }
    out += text.mid(from);
    text = out;
}

PacketVerdict expectedVerdict(QByteArray text)
{
    PacketVerdict verdict;
    for (int pass = 0; pass < StatusPasses; ++pass) {
        const qsizetype open = text.indexOf('[');
        if (open < 0)
            break;
        const qsizetype close = text.indexOf(']', open);
        if (close < 0)
            break;
        removeEvery(text, text.mid(open, close - open + 1));
    }
    const qsizetype start = text.indexOf('*');
    if (start < 0)
        return verdict;
    const qsizetype end = text.indexOf('\r', start);
    if (end < 0)
        return verdict;
    const QByteArray packet = text.mid(start, end - start);

    QByteArrayList fields;
    qsizetype from = 0;
    for (;;) {
        const qsizetype comma = packet.indexOf(',', from);
        fields.append(packet.mid(from, (comma < 0 ? packet.size() : comma) - from));
        if (comma < 0)
            break;
        from = comma + 1;
    }
    if (fields.size() < 2 || fields.size() > MaxFields)
        return verdict;  // refused as malformed: nothing is shown

    const QByteArray &checkField = fields.at(fields.size() - 2);
    if (!checkField.isEmpty() && checkField.at(0) == 'C') {
        const double value = convert::leadingNumber(checkField.mid(1));
        const double rounded = std::nearbyint(value);  // halves to even in the default mode
        if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0))
            return verdict;  // an unreadable checksum refuses the packet
        if (rounded >= 0) {
            unsigned sum = 0;
            const qsizetype covered = packet.size() - checkField.size() - 1;
            for (qsizetype i = 0; i < covered; ++i)
                sum += static_cast<unsigned char>(packet.at(i));
            if (static_cast<double>(sum % 256U) != rounded)
                return verdict;
        }
    }
    fields[0].remove(0, 1);
    verdict.accepted = true;
    verdict.fields = fields;
    return verdict;
}

double expectedErrorCode(const QByteArray &field21)
{
    return convert::leadingNumber(field21.size() <= 3 ? field21 : field21.left(2));
}

struct Session
{
    FeedSocket *socket = nullptr;
    std::unique_ptr<fm_more_data> window;
};

// One poll with the given bytes waiting in the socket, checked.
void checkedPoll(Session &s, const QByteArray &chunk)
{
    StreamState &stream = s.window->stream();
    s.socket->pending = chunk;
    stream.data_age = AgeMark;

    const QByteArray before = stream.incoming_buffer;
    const auto fieldsBefore = stream.data_fields;
    const double errorBefore = stream.error_code;

    QByteArray seen = before + chunk;
    if (seen.size() > BufferLimit)
        seen.clear();
    const PacketVerdict verdict = expectedVerdict(seen);

    try {
        s.window->tmrDataArrival_Timer();
    } catch (const std::exception &fault) {
        broken("a fault left the receive poll", QByteArray(fault.what()));
    } catch (...) {
        broken("an unknown fault left the receive poll");
    }

    if (stream.parse_busy)
        broken("the parser was left busy");
    if (stream.incoming_buffer.size() > BufferLimit)
        broken("the stream buffer holds more than 5000 characters after a poll");
    if (s.window->trafficContent().size() > TrafficLog::Limit)
        broken("the traffic window holds more than 5000 characters");
    if (!s.socket->pending.isEmpty())
        broken("the poll left received bytes in the socket");
    if (!stream.data_fields[0].isEmpty())
        broken("field slot 0 was written");

    if (!verdict.accepted) {
        if (stream.data_fields != fieldsBefore)
            broken("the shown fields changed without an accepted packet", seen);
        if (!sameNumber(stream.error_code, errorBefore))
            broken("the error number changed without an accepted packet", seen);
        if (stream.data_age != AgeMark)
            broken("the data age was reset without an accepted packet", seen);
        return;
    }

    auto expected = fieldsBefore;
    for (qsizetype k = 0; k < verdict.fields.size(); ++k)
        expected[static_cast<std::size_t>(k + 1)] = verdict.fields.at(k);
    if (stream.data_fields != expected)
        broken("the shown fields differ from the accepted packet", seen);
    if (!sameNumber(stream.error_code, expectedErrorCode(expected[21])))
        broken("the error number is not that of field 21", seen);
    if (stream.data_age != 0.0)
        broken("an accepted packet did not reset the data age", seen);
}

// A tick that arrives while a parse runs must leave everything where it is.
void busyPoll(Session &s, const QByteArray &chunk)
{
    StreamState &stream = s.window->stream();
    s.socket->pending = chunk;
    const QByteArray buffer = stream.incoming_buffer;
    const QByteArray traffic = s.window->trafficContent();
    stream.parse_busy = true;
    s.window->tmrDataArrival_Timer();
    if (s.socket->pending != chunk || stream.incoming_buffer != buffer || s.window->trafficContent() != traffic)
        broken("a tick during a running parse touched the stream");
    stream.parse_busy = false;
    s.socket->pending.clear();
}

class ChunkSizes
{
public:
    ChunkSizes(std::uint8_t seed, std::uint8_t largest)
        : m_state(0x9E3779B9U ^ (seed * 0x01000193U))
        , m_whole(largest == 255)
        , m_largest(1U + 24U * largest)
    {
    }

    std::uint32_t next()
    {
        m_state = m_state * 1664525U + 1013904223U;
        return m_state >> 8;
    }

    qsizetype size()
    {
        if (m_whole)
            return std::numeric_limits<int>::max();  // the rest of the stream
        return 1 + static_cast<qsizetype>(next() % m_largest);
    }

private:
    std::uint32_t m_state;
    bool m_whole;
    std::uint32_t m_largest;
};

std::unique_ptr<QTemporaryDir> g_programDir;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: the fonts and styles Qt caches for the window stay
    // reachable until the process ends, instead of being torn down after
    // the parts of Qt that own them.
    static QApplication *app = new QApplication(*argc, *argv);
    Q_UNUSED(app);

    // The window reads its WITS names at start; a small table with a code
    // named twice and one unnamed code makes the WITS lines vary.
    g_programDir = std::make_unique<QTemporaryDir>();
    QFile ini(g_programDir->filePath(QStringLiteral("RDconfig.ini")));
    if (!ini.open(QIODevice::WriteOnly))
        broken("cannot write the settings file");
    ini.write("' fuzz table\r\n0108 Bit Depth\r\n0110 Hole Depth\r\n0113 ROP\r\n0108 Bit Depth Again\r\n");
    ini.close();
    fm_more_data::setProgramDirectory(g_programDir->path());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    ChunkSizes sizes(data[0], data[1]);
    const QByteArray stream(reinterpret_cast<const char *>(data + 2), static_cast<qsizetype>(size - 2));

    Session s;
    s.socket = new FeedSocket;
    s.window = std::make_unique<fm_more_data>(s.socket);

    qsizetype at = 0;
    while (at < stream.size()) {
        const std::uint32_t pick = sizes.next() % 16;
        if (pick == 0) {
            checkedPoll(s, QByteArray());  // a tick with nothing received
            continue;
        }
        const QByteArray chunk = stream.mid(at, sizes.size());
        at += chunk.size();
        if (pick == 1)
            busyPoll(s, chunk);
        checkedPoll(s, chunk);
    }
    // Packets that came together are taken one per tick: let the ticks
    // without data work through what is left.
    for (int i = 0; i < DrainPolls && !s.window->stream().incoming_buffer.isEmpty(); ++i) {
        const QByteArray left = s.window->stream().incoming_buffer;
        checkedPoll(s, QByteArray());
        if (s.window->stream().incoming_buffer == left)
            break;
    }

    s.window.reset();
    // Posted events of the deleted widgets go now, so none pile up across runs.
    QCoreApplication::processEvents();
    return 0;
}
