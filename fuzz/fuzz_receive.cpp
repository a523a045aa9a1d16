// The receive path: arbitrary bytes reach a unit link through its own
// 100 ms poll, cut into chunks the way a socket may deliver them, and after
// every poll the fuzzer checks what the operator relies on:
//
// - the stream buffer holds at most 5000 characters, the traffic window's
//   content at most 5000;
// - the parser is not left busy, and no fault leaves the poll;
// - every reading the link hands on is a packet that arrived whole, from
//   its "*" to its CR, that a separate reading of the same bytes accepts
//   (a model of the framing and of the checksum kept apart from the
//   parser), with exactly the fields and the error number that reading
//   gives: this packet's values only, its checksum no reading;
// - the fields of the last packet, the error number and the data age
//   change only with such a reading, and then are that reading's;
// - a poll that meets a running parse takes nothing from the socket.
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
#include <vector>

#include <QByteArray>
#include <QByteArrayList>
#include <QCoreApplication>

#include "rules/config/witstable.h"
#include "rules/convert/convert.h"
#include "link/socketcontrol.h"
#include "link/unitlink.h"
#include "rules/stream/streamstate.h"
#include "rules/stream/trafficlog.h"

namespace {

using Fields = std::array<QByteArray, StreamState::FieldSlots>;

constexpr qsizetype BufferLimit = 5000;
constexpr int MaxFields = 50;
constexpr int DrainPolls = 8;

// A connected socket whose received bytes the fuzzer hands out poll by poll.
class FeedSocket : public SocketControl
{
public:
    using SocketControl::SocketControl;

    QByteArray pending;

    void RemoteHost(const QString &) override {}
    void LocalPort(std::int32_t) override {}
    void RemotePort(std::int32_t) override {}
    void Connect() override {}
    void Close() override { pending.clear(); }
    std::int16_t State() const override { return Connected; }
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

// What the wire rules make of one packet text, from the "*" up to the byte
// before its CR. Written from the rules, not from the parser.
struct Verdict
{
    bool accepted = false;
    Fields fields{};
    double errorCode = 0.0;
};

Verdict judge(const QByteArray &packet)
{
    Verdict verdict;
    QByteArrayList pieces;
    qsizetype from = 0;
    for (;;) {
        const qsizetype comma = packet.indexOf(',', from);
        pieces.append(packet.mid(from, (comma < 0 ? packet.size() : comma) - from));
        if (comma < 0)
            break;
        from = comma + 1;
    }
    if (pieces.size() < 2 || pieces.size() > MaxFields)
        return verdict;

    const QByteArray &checkField = pieces.at(pieces.size() - 2);
    const bool hasChecksum = !checkField.isEmpty() && checkField.at(0) == 'C';
    if (hasChecksum) {
        const double value = convert::leadingNumber(checkField.mid(1));
        const double rounded = std::nearbyint(value);  // halves to even in the default mode
        if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0))
            return verdict;
        if (rounded >= 0) {
            unsigned sum = 0;
            const qsizetype covered = packet.size() - checkField.size() - 1;
            for (qsizetype i = 0; i < covered; ++i)
                sum += static_cast<unsigned char>(packet.at(i));
            if (static_cast<double>(sum % 256U) != rounded)
                return verdict;
        }
    }
    pieces[0].remove(0, 1);
    if (hasChecksum)
        pieces[pieces.size() - 2].clear();
    for (qsizetype k = 0; k < pieces.size(); ++k)
        verdict.fields[static_cast<std::size_t>(k + 1)] = pieces.at(k);
    const QByteArray &field21 = verdict.fields[21];
    verdict.errorCode = convert::leadingNumber(field21.size() <= 3 ? field21 : field21.left(2));
    verdict.accepted = true;
    return verdict;
}

struct Session
{
    Session()
        : socket(new FeedSocket)
        , link(socket)
    {
        WitsTable table;
        // A code named twice and one unnamed code make the WITS lines vary.
        table.codes = {108, 110, 113, 108};
        table.names[0] = "Bit Depth";
        table.names[1] = "Hole Depth";
        table.names[2] = "ROP";
        table.names[3] = "Bit Depth Again";
        link.setWitsTable(table);
        link.refreshState();
        QObject::connect(&link, &UnitLink::chunkReceived, &link, [this](const QByteArray &c) { traffic.append(c); });
        QObject::connect(&link, &UnitLink::lineReported, &link, [this](const QByteArray &l) { traffic.append(l); });
        QObject::connect(&link, &UnitLink::readingAccepted, &link, [this](const Reading &r) { readings.push_back(r); });
    }

    FeedSocket *socket;
    UnitLink link;
    TrafficLog traffic;
    QByteArray received;  // every byte handed out so far
    std::vector<Reading> readings;  // handed on during the poll under way
    Fields shown{};                 // of the last reading handed on
    double errorShown = 0.0;
};

// The packet's bytes came in, in this order, between a "*" and a CR with no
// CR in between. Bracketed messages inside it leave the buffer first, so it
// need not have come in as one piece; but no byte is made up or moved.
bool arrivedWhole(const QByteArray &received, const QByteArray &packet)
{
    if (packet.isEmpty() || packet.at(0) != '*' || packet.contains('\r'))
        return false;
    if (received.indexOf(packet + '\r') >= 0)
        return true;  // as one piece, the usual case
    for (qsizetype start = received.indexOf('*'); start >= 0; start = received.indexOf('*', start + 1)) {
        qsizetype at = start + 1;
        qsizetype matched = 1;
        while (matched < packet.size() && at < received.size() && received.at(at) != '\r') {
            if (received.at(at) == packet.at(matched))
                ++matched;
            ++at;
        }
        if (matched == packet.size() && received.indexOf('\r', at) >= 0)
            return true;
    }
    return false;
}

void checkReading(const Session &s, const Reading &reading)
{
    if (!arrivedWhole(s.received, reading.text))
        broken("a reading was handed on that never arrived whole", reading.text);
    const Verdict verdict = judge(reading.text);
    if (!verdict.accepted)
        broken("a reading was handed on that the rules refuse", reading.text);
    if (reading.fields != verdict.fields)
        broken("a reading's fields differ from its packet's", reading.text);
    if (!sameNumber(reading.errorCode, verdict.errorCode))
        broken("a reading's error number is not that of field 21", reading.text);
}

// One poll with the given bytes waiting in the socket, checked.
void checkedPoll(Session &s, const QByteArray &chunk)
{
    const StreamState &stream = s.link.stream();
    s.socket->pending = chunk;
    s.received += chunk;
    s.link.tick();  // ages the data, so that only an accepted packet can bring it to 0
    s.readings.clear();

    try {
        s.link.poll();
    } catch (const std::exception &fault) {
        broken("a fault left the receive poll", QByteArray(fault.what()));
    } catch (...) {
        broken("an unknown fault left the receive poll");
    }

    if (stream.parse_busy)
        broken("the parser was left busy");
    if (stream.incoming_buffer.size() > BufferLimit)
        broken("the stream buffer holds more than 5000 characters after a poll");
    if (s.traffic.content().size() > TrafficLog::Limit)
        broken("the traffic window holds more than 5000 characters");
    if (!s.socket->pending.isEmpty())
        broken("the poll left received bytes in the socket");

    for (const Reading &reading : s.readings) {
        checkReading(s, reading);
        s.shown = reading.fields;
        s.errorShown = reading.errorCode;
    }
    // The fields, the error number and the age are those of the last
    // reading handed on, and nothing else moves them.
    if (stream.data_fields != s.shown)
        broken("the fields left are not those of the last reading handed on", chunk);
    if (!sameNumber(stream.error_code, s.errorShown))
        broken("the error number is not that of the last reading handed on", chunk);
    if ((stream.data_age == 0.0) != !s.readings.empty())
        broken("the data age was reset without an accepted packet, or not with one", chunk);
}

// A poll that arrives while a parse runs (from inside a listener of what
// the parser found) must leave everything where it is.
void armBusyPoll(Session &s, const QByteArray &chunk)
{
    auto done = std::make_shared<bool>(false);
    QObject::connect(&s.link, &UnitLink::readingAccepted, &s.link, [&s, chunk, done] {
        if (*done)
            return;
        *done = true;
        const QByteArray buffer = s.link.stream().incoming_buffer;
        const QByteArray traffic = s.traffic.content();
        s.socket->pending = chunk;
        s.link.poll();
        if (s.socket->pending != chunk || s.link.stream().incoming_buffer != buffer
            || s.traffic.content() != traffic)
            broken("a poll during a running parse touched the stream");
        s.socket->pending.clear();
    });
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

} // namespace

// Each input makes thousands of small allocations: their stacks, the fill
// of fresh memory and a quarantine that never lets a page be reused would
// cost far more than the code under test. Use after free is still caught
// within the 16 MB kept back.
extern "C" const char *__asan_default_options()
{
    return "malloc_context_size=2:max_malloc_fill_size=0:quarantine_size_mb=16";
}

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    // Never destroyed: what Qt caches stays reachable until the process ends.
    static QCoreApplication *app = new QCoreApplication(*argc, *argv);
    Q_UNUSED(app);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    ChunkSizes sizes(data[0], data[1]);
    const QByteArray stream(reinterpret_cast<const char *>(data + 2), static_cast<qsizetype>(size - 2));

    Session s;
    qsizetype at = 0;
    while (at < stream.size()) {
        const std::uint32_t pick = sizes.next() % 16;
        if (pick == 0) {
            checkedPoll(s, QByteArray());  // a poll with nothing received
            continue;
        }
        const QByteArray chunk = stream.mid(at, sizes.size());
        at += chunk.size();
        if (pick == 1)
            armBusyPoll(s, stream.mid(at, 7));
        checkedPoll(s, chunk);
    }
    // Polls without data: nothing complete may be left behind.
    for (int i = 0; i < DrainPolls; ++i)
        checkedPoll(s, QByteArray());
    return 0;
}
