// One call of the stream parser on each kind of input a unit sends, with the
// buffer holding exactly that input, as after a poll that fetched it.
//
//   bench_parser [--benchmark_...]          the Google Benchmark runs
//   bench_parser count packet|wits|status N  N calls and nothing else, for an
//                                          instruction count under callgrind
//                                          (--toggle-collect='*runParserCalls*')

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <QByteArray>
#include <QString>

#include "rules/config/settingsfile.h"
#include "rules/config/witstable.h"
#include "samplestream.h"
#include "rules/stream/parser.h"
#include "rules/stream/parserevents.h"
#include "rules/stream/streamstate.h"

namespace {

// Counts what the parser reports, so a run can prove it measured the path it
// claims to (an accepted packet, a listed record) and not a rejection.
class CountingEvents : public ParserEvents
{
public:
    long long packets = 0;
    long long witsLines = 0;
    long long modes = 0;
    long long reports = 0;

    void twoWayMode(bool) override { ++modes; }
    void packetAccepted() override { ++packets; }
    void witsCleared(const QByteArray &) override {}
    void uptimeReported(double) override {}
    void witsItem(std::int16_t, double, const QString &) override { ++witsLines; }
    void reportLine(const QByteArray &) override { ++reports; }
};

// The item names of the sample settings file, so each WITS item is looked up
// in a filled table as at a rig.
const WitsTable &sampleTable()
{
    static const WitsTable table = [] {
        WitsTable filled;
        LoadIniFile(QStringLiteral(RTVIEWER_CONFIG_DIR), filled);
        return filled;
    }();
    return table;
}

// Several inputs in turn, so the branch predictor and the caches see the
// variety of a real stream rather than one packet learnt by heart.
constexpr int SampleCount = 64;

std::vector<QByteArray> samplePackets()
{
    std::vector<QByteArray> packets;
    for (int i = 0; i < SampleCount; ++i)
        packets.push_back(SampleStream::dataPacket(i));
    return packets;
}

std::vector<QByteArray> sampleRecords()
{
    std::vector<QByteArray> records;
    for (int i = 0; i < SampleCount; ++i)
        records.push_back(SampleStream::witsRecord(i));
    return records;
}

// Kept out of line so callgrind can collect exactly these calls.
__attribute__((noinline)) void runParserCalls(const std::vector<QByteArray> &inputs, int calls, StreamState &stream,
                                              ParserEvents &events)
{
    for (int i = 0; i < calls; ++i) {
        stream.incoming_buffer = inputs[static_cast<std::size_t>(i) % inputs.size()];
        parse_ulmex_string(stream, sampleTable(), events);
    }
}

void BM_parse_data_packet(benchmark::State &state)
{
    const std::vector<QByteArray> packets = samplePackets();
    StreamState stream;
    CountingEvents events;
    long long bytes = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        stream.incoming_buffer = packets[next];
        bytes += packets[next].size();
        parse_ulmex_string(stream, sampleTable(), events);
        benchmark::DoNotOptimize(stream.data_fields.data());
        next = (next + 1) % packets.size();
    }
    if (events.packets != static_cast<long long>(state.iterations()) || events.reports != 0)
        state.SkipWithError("a sample packet was not accepted");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(bytes);
    state.SetLabel("packets");
}
BENCHMARK(BM_parse_data_packet);

void BM_parse_wits_record(benchmark::State &state)
{
    const std::vector<QByteArray> records = sampleRecords();
    StreamState stream;
    CountingEvents events;
    long long bytes = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        stream.incoming_buffer = records[next];
        bytes += records[next].size();
        parse_ulmex_string(stream, sampleTable(), events);
        benchmark::DoNotOptimize(stream.incoming_buffer.data());
        next = (next + 1) % records.size();
    }
    if (events.witsLines != 10 * static_cast<long long>(state.iterations()) || events.reports != 0)
        state.SkipWithError("a sample record was not listed with its ten items");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(bytes);
    state.SetLabel("records of 10 items");
}
BENCHMARK(BM_parse_wits_record);

void BM_parse_five_status_messages(benchmark::State &state)
{
    const QByteArray messages = SampleStream::statusMessages();
    StreamState stream;
    CountingEvents events;
    for (auto _ : state) {
        stream.incoming_buffer = messages;
        parse_ulmex_string(stream, sampleTable(), events);
        benchmark::DoNotOptimize(stream.uptime_percent);
    }
    // Two of the five name a mode, two carry the uptime, one is removed unread.
    if (events.modes != 2 * static_cast<long long>(state.iterations()) || stream.incoming_buffer.contains('['))
        state.SkipWithError("the status messages were not all taken");
    state.SetItemsProcessed(5 * static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * messages.size());
    state.SetLabel("messages (5 per call)");
}
BENCHMARK(BM_parse_five_status_messages);

int countCalls(const char *input, int calls)
{
    std::vector<QByteArray> inputs;
    if (std::strcmp(input, "packet") == 0)
        inputs = samplePackets();
    else if (std::strcmp(input, "wits") == 0)
        inputs = sampleRecords();
    else if (std::strcmp(input, "status") == 0)
        inputs = {SampleStream::statusMessages()};
    if (inputs.empty() || calls <= 0) {
        std::fprintf(stderr, "usage: bench_parser count packet|wits|status N\n");
        return 2;
    }
    StreamState stream;
    CountingEvents events;
    sampleTable();
    runParserCalls(inputs, calls, stream, events);
    std::printf("calls=%d\npackets=%lld\nwits_lines=%lld\nmodes=%lld\nreports=%lld\n", calls, events.packets,
                events.witsLines, events.modes, events.reports);
    return events.reports == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "count") == 0)
        return countCalls(argv[2], std::atoi(argv[3]));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
