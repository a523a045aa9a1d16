// The display side of one packet, through the real main window and its
// widgets: populate_moredata filling every box, and disply_text adding a
// chunk to the traffic window where it passes its limit and is trimmed.
//
// Each benchmark runs twice: paint:0 times the call alone, paint:1 also lets
// the event loop repaint what the call changed, which is what the operator's
// screen costs. The traffic window puts new text on the screen at most every
// 200 ms, in one update for whatever came; disply_text's paint:1 runs that
// update after every call (the cost of one update), its paint:0 keeps the
// text only. Runs headless (offscreen) unless a platform is chosen.

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QByteArray>
#include <QEvent>
#include <QLabel>
#include <QStyleFactory>
#include <QTimer>
#include <QWindow>

#include "app/fm_more_data.h"
#include "samplestream.h"
#include "support/fakesocket.h"
#include "rules/stream/parser.h"
#include "rules/stream/parserevents.h"
#include "rules/stream/streamstate.h"
#include "app/stream/trafficwindow.h"

namespace {

fm_more_data *window = nullptr;

// Counts the paints the benchmark caused (label paints for populate_moredata,
// traffic window paints for disply_text), so a paint:1 run proves that it
// timed real repaints and not an event loop with nothing to do.
class PaintCounter : public QObject
{
public:
    using QObject::QObject;
    long long paints = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return QObject::eventFilter(watched, event);
    }
};

class IgnoreEvents : public ParserEvents
{
public:
    void twoWayMode(bool) override {}
    void uptimeReported(double) override {}
    void packetAccepted() override {}
    void witsCleared(const QByteArray &) override {}
    void witsItem(std::int16_t, double, const QString &) override {}
    void reportLine(const QByteArray &) override {}
};

struct ParsedPacket
{
    std::array<QByteArray, StreamState::FieldSlots> fields;
    double errorCode = 0.0;
    qsizetype size = 0;
};

// Packets split by the real parser beforehand, so the loop times the display
// alone; a few of them carry an alarm, so the blink takes its turns.
std::vector<ParsedPacket> parsedPackets(int count)
{
    std::vector<ParsedPacket> parsed;
    IgnoreEvents ignore;
    const WitsTable noNames;
    for (int i = 0; i < count; ++i) {
        StreamState stream;
        const QByteArray packet = SampleStream::dataPacket(i * 7);
        stream.incoming_buffer = packet;
        parse_ulmex_string(stream, noNames, ignore);
        parsed.push_back({stream.data_fields, stream.error_code, packet.size()});
    }
    return parsed;
}

void repaintIfAsked(bool paint)
{
    if (paint)
        QCoreApplication::processEvents();
}

void BM_populate_moredata(benchmark::State &state)
{
    const bool paint = state.range(0) != 0;
    const std::vector<ParsedPacket> packets = parsedPackets(64);
    PaintCounter counter;
    const QList<QLabel *> labels = window->findChildren<QLabel *>();
    for (QLabel *label : labels)
        label->installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;

    std::vector<Reading> readings(packets.size());
    for (std::size_t i = 0; i < packets.size(); ++i) {
        readings[i].fields = packets[i].fields;
        readings[i].errorCode = packets[i].errorCode;
    }
    long long bytes = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        bytes += packets[next].size;
        window->populate_moredata(readings[next]);
        repaintIfAsked(paint);
        next = (next + 1) % packets.size();
    }
    for (QLabel *label : labels)
        label->removeEventFilter(&counter);
    if (paint && counter.paints < static_cast<long long>(state.iterations()))
        state.SkipWithError("the labels were not repainted");
    if (window->label(QStringLiteral("lbl_packetnum"))->text().isEmpty())
        state.SkipWithError("the packets did not reach the labels");
    state.counters["paints_per_call"] =
        benchmark::Counter(static_cast<double>(counter.paints) / static_cast<double>(state.iterations()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(bytes);
    state.SetLabel("packets");
}
BENCHMARK(BM_populate_moredata)->ArgName("paint")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Chunks as the poll hands them over: packets and records cut wherever a
// read ended, each `size` characters.
std::vector<QByteArray> trafficChunks(int size, int count)
{
    QByteArray stream;
    for (int i = 0; stream.size() < static_cast<qsizetype>(size) * count; ++i) {
        stream += SampleStream::dataPacket(i);
        if (i % 5 == 4)
            stream += SampleStream::witsRecord(i);
    }
    std::vector<QByteArray> chunks;
    for (int i = 0; i < count; ++i)
        chunks.push_back(stream.mid(static_cast<qsizetype>(i) * size, size));
    return chunks;
}

void runDisplyText(benchmark::State &state, const std::vector<QByteArray> &chunks, bool paint)
{
    PaintCounter counter;
    auto *traffic = window->findChild<TrafficWindow *>(QStringLiteral("text_window"));
    traffic->viewport()->installEventFilter(&counter);
    // Start at the limit, as a window that has been running a while is.
    for (const QByteArray &chunk : chunks)
        window->disply_text(chunk);
    traffic->flush();
    QCoreApplication::processEvents();
    counter.paints = 0;

    long long bytes = 0;
    std::size_t next = 0;
    for (auto _ : state) {
        window->disply_text(chunks[next]);
        if (paint)
            traffic->flush();
        repaintIfAsked(paint);
        bytes += chunks[next].size();
        next = (next + 1) % chunks.size();
    }
    traffic->viewport()->removeEventFilter(&counter);
    if (paint && counter.paints < static_cast<long long>(state.iterations()))
        state.SkipWithError("the traffic window was not repainted");
    state.counters["paints_per_call"] =
        benchmark::Counter(static_cast<double>(counter.paints) / static_cast<double>(state.iterations()));
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.SetBytesProcessed(bytes);
}

// Every call passes 5000 characters and leaves the last 4000: 4000 kept, the
// CR LF in front of the chunk and 1001 characters make 5003.
void BM_disply_text_trim(benchmark::State &state)
{
    runDisplyText(state, trafficChunks(1001, 16), state.range(0) != 0);
    if (window->trafficContent().size() != 4000)
        state.SkipWithError("the traffic window was not trimmed on every call");
    state.SetLabel("calls (each trims)");
}
BENCHMARK(BM_disply_text_trim)->ArgName("paint")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// One packet's worth (about 250 characters) per call, as at a steady packet
// rate: the window fills and is trimmed about every fourth call.
void BM_disply_text_packet(benchmark::State &state)
{
    runDisplyText(state, trafficChunks(250, 64), state.range(0) != 0);
    state.SetLabel("packets (trimmed as they fall)");
}
BENCHMARK(BM_disply_text_packet)->ArgName("paint")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setQuitOnLastWindowClosed(false);
    ViewerOptions options;
    options.programDirectory = QStringLiteral(RTVIEWER_CONFIG_DIR);
    options.endProcess = [] {};
    options.socket = FakeSocket::inMemory(SocketControl::Closed);
    fm_more_data viewer(options);
    // The ticks would run inside the paint:1 loops and blur the figure of the
    // call under test; they have benchmarks of their own in bench_window.
    for (QTimer *timer : viewer.findChildren<QTimer *>())
        timer->stop();
    // The full window, so the traffic window and the lower rows are on screen.
    viewer.cmd_more_data_Click();
    viewer.show();
    for (int i = 0; i < 1000 && !(viewer.windowHandle() && viewer.windowHandle()->isExposed()); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    if (!viewer.windowHandle() || !viewer.windowHandle()->isExposed()) {
        fprintf(stderr, "bench_display: the window was never shown\n");
        return 1;
    }
    window = &viewer;

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    window = nullptr;
    return 0;
}
