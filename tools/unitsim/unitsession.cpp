#include "unitsim/unitsession.h"

#include <algorithm>
#include <cmath>

#include <QDateTime>
#include <QTcpSocket>
#include <QTimer>

#include "unitsim/keydecoder.h"
#include "unitsim/packetbuilder.h"
#include "unitsim/sentlog.h"
#include "unitsim/unitrun.h"
#include "unitsim/witsbuilder.h"

#if defined(Q_OS_WIN)
#include <winsock2.h>
#ifdef _MSC_VER
#pragma comment(lib, "ws2_32")
#endif
#else
#include <sys/socket.h>
#endif

namespace {

// A viewer that stops reading must not make the simulator hoard its stream.
constexpr qint64 MaxBacklog = 4 * 1024 * 1024;
// How long the start of a message may wait for the rest before it counts as typed.
constexpr int InputQuietMs = 500;
constexpr int ReplayTickMs = 50;
// Extra fields that make a packet 51 fields long, with the checksum field and the empty last one.
constexpr int LongPacketExtraFields = 9;
// How long a close waits for a viewer that does not read before it resets.
constexpr int CloseGraceMs = 1000;

// Unprintable bytes of a user name are shown as \xNN, so a line stays one line.
QByteArray printable(const QByteArray &bytes)
{
    QByteArray text;
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 32 && u < 127 && c != '"' && c != '\\')
            text.append(c);
        else
            text.append("\\x" + QByteArray::number(u, 16).rightJustified(2, '0'));
    }
    return text;
}

QByteArray byteCodes(const QByteArray &bytes)
{
    QByteArrayList codes;
    for (const char c : bytes)
        codes.append(QByteArray::number(static_cast<unsigned char>(c)));
    return codes.join(' ');
}

StreamShaper::Settings shaperSettings(const SimOptions &options)
{
    StreamShaper::Settings settings;
    settings.junkBytes = options.junkBytes;
    settings.batch = options.batch;
    settings.glueWits = options.witsGlued;
    settings.split = options.split;
    return settings;
}

RigModel::Settings rigSettings(const SimOptions &options)
{
    RigModel::Settings settings;
    settings.unitName = options.name;
    settings.fixedGas = options.gas;
    settings.fixedAlarm = options.alarm;
    settings.packetSeconds = 1.0 / options.rate;
    settings.startTime = options.startTime;
    return settings;
}

} // namespace

UnitSession::UnitSession(int id, QTcpSocket *socket, const SimOptions &options, std::uint64_t seed,
                         UnitRun *sharedRun, SentLog *sentLog, QObject *parent)
    : QObject(parent)
    , m_id(id)
    , m_socket(socket)
    , m_options(options)
    , m_run(sharedRun ? sharedRun : new UnitRun(rigSettings(options), seed, this))
    , m_ownsRun(!sharedRun)
    , m_sentLog(sentLog)
    // The stream's own chances (split points, junk, wrong sums) come from a
    // second source, so they do not change the rig's values.
    , m_random(seed ^ 0x9e3779b97f4a7c15ULL)
    , m_shaper(shaperSettings(options), m_random)
{
    m_socket->setParent(this);
    // Without this the stack would glue the pieces of a split write together again.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    auto makeTimer = [this](bool single) {
        auto *timer = new QTimer(this);
        timer->setTimerType(Qt::PreciseTimer);
        timer->setSingleShot(single);
        return timer;
    };
    m_witsTimer = makeTimer(false);
    m_uptimeTimer = makeTimer(false);
    m_burstTimer = makeTimer(false);
    m_replayTimer = makeTimer(false);
    m_pieceTimer = makeTimer(true);
    m_inputTimer = makeTimer(true);

    const int packetMs = std::max(1, millis(1.0 / m_options.rate));
    m_pieceGapMs = std::max(1, std::min(m_options.splitGapMs, packetMs / 4));

    connect(m_run, &UnitRun::advanced, this, &UnitSession::onAdvanced);
    connect(m_witsTimer, &QTimer::timeout, this, &UnitSession::sendWits);
    connect(m_uptimeTimer, &QTimer::timeout, this, &UnitSession::sendUptime);
    connect(m_burstTimer, &QTimer::timeout, this, &UnitSession::sendBurst);
    connect(m_replayTimer, &QTimer::timeout, this, &UnitSession::sendReplayChunk);
    connect(m_pieceTimer, &QTimer::timeout, this, &UnitSession::writeNextPiece);
    connect(m_inputTimer, &QTimer::timeout, this, &UnitSession::onInputQuiet);

    connect(m_socket, &QTcpSocket::readyRead, this, &UnitSession::onReadyRead);
    connect(m_socket, &QTcpSocket::disconnected, this, &UnitSession::onDisconnected);
    connect(m_socket, &QAbstractSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        m_lastError = error == QAbstractSocket::RemoteHostClosedError
                          ? QByteArrayLiteral("closed by the viewer")
                          : m_socket->errorString().toLatin1();
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (m_dropping && m_socket->bytesToWrite() < MaxBacklog / 2) {
            m_dropping = false;
            log("reading again, output resumed");
        }
        finishEndingWhenFlushed();
    });
}

void UnitSession::log(const QByteArray &text)
{
    emit eventLine("client " + QByteArray::number(m_id) + ' ' + text);
}

void UnitSession::fault(const QByteArray &text)
{
    log("fault: " + text);
}

void UnitSession::start()
{
    if (m_gone || m_started)
        return;
    m_started = true;
    // Anything the viewer sent while it waited to be taken up.
    onReadyRead();

    if (m_options.replaying()) {
        fault("replaying " + m_options.replayFile.toLocal8Bit() + " at "
              + QByteArray::number(m_options.replayRate) + " bytes/s");
        m_replayTimer->start(ReplayTickMs);
    } else {
        if (m_options.junkBytes > 0)
            fault(QByteArray::number(m_options.junkBytes) + " junk bytes in front of every element");
        if (m_options.batch > 1)
            fault(QByteArray::number(m_options.batch) + " packets per write");
        if (m_options.witsGlued)
            fault("WITS records glued in front of the next packet");

        sendElement("[OUTPUT ONLY]" + m_options.lineEnd(), StreamShaper::Kind::Status);
        // A fresh viewer would otherwise show 0% uptime for a whole period.
        if (m_options.uptimePeriod > 0)
            sendUptime();
        m_generating = true;
        if (m_ownsRun)
            m_run->start();
        if (m_options.witsPeriod > 0)
            m_witsTimer->start(std::max(1, millis(m_options.witsPeriod)));
        if (m_options.uptimePeriod > 0)
            m_uptimeTimer->start(std::max(1, millis(m_options.uptimePeriod)));
        if (m_options.burstEvery > 0)
            m_burstTimer->start(std::max(1, millis(m_options.burstEvery)));
        if (m_options.witsStopAfter >= 0) {
            QTimer::singleShot(millis(m_options.witsStopAfter), this, [this] {
                if (m_options.witsPeriod > 0 && !m_silent && m_ending == Ending::None) {
                    m_witsTimer->stop();
                    fault("WITS records stopped");
                }
            });
        }
    }
    if (m_options.split)
        fault("writes split at random points, " + QByteArray::number(m_pieceGapMs) + " ms apart");
    if (m_options.silentAfter >= 0)
        QTimer::singleShot(millis(m_options.silentAfter), this, &UnitSession::goSilent);
}

UnitSession::Packet UnitSession::nextPacket()
{
    // Faults strike every Nth packet of this connection; the lines name the
    // packet by the number it carries (the same on a single unit's connection).
    const std::uint64_t n = ++m_packets;
    Packet packet;
    packet.number = m_run->model().packetNumber();
    const QByteArray number = QByteArray::number(static_cast<qulonglong>(packet.number));
    auto every = [n, &packet](int period) {
        const bool hit = period > 0 && n % static_cast<std::uint64_t>(period) == 0;
        packet.intact = packet.intact && !hit;
        return hit;
    };

    if (every(m_options.noCommaEvery)) {
        fault("packet " + number + " sent without a comma");
        packet.bytes = PacketBuilder::buildWithoutComma(m_options.name, m_options.lineEnd());
        return packet;
    }

    QByteArrayList fields = m_run->model().fields();
    if (every(m_options.longPacketEvery)) {
        for (int i = 0; i < LongPacketExtraFields; ++i)
            fields.append(QByteArrayLiteral("0"));
        fault("packet " + number + " sent with 51 fields");
    }
    if (every(m_options.nonNumericEvery)) {
        fields = RigModel::spoilNumbers(fields);
        fault("packet " + number + " sent with text in numeric fields");
    }
    int checksum = -1;
    if (every(m_options.badChecksumEvery)) {
        const int right = PacketBuilder::checksum(PacketBuilder::body(fields));
        checksum = (right + 1 + m_random.below(255)) % 256;
        fault("packet " + number + " sent with checksum C" + QByteArray::number(checksum)
              + " instead of C" + QByteArray::number(right));
    }
    packet.bytes = PacketBuilder::build(fields, m_options.lineEnd(), checksum);
    return packet;
}

void UnitSession::onAdvanced()
{
    if (!m_generating)
        return;
    if (m_collecting)
        m_collected.append(nextPacket());
    else
        sendPacket(nextPacket());
}

void UnitSession::sendPacket(const Packet &packet)
{
    const QList<QByteArray> writes = m_shaper.push(packet.bytes, StreamShaper::Kind::Packet);
    // Noted before the writes go out, so the write that carries its end finds it.
    if (m_sentLog && packet.intact)
        m_unsent.append({m_shaper.bytesIn(), packet.number});
    queueWrites(writes);
    checkPacketLimit();
}

void UnitSession::sendWits()
{
    const RigModel &model = m_run->model();
    sendElement(WitsBuilder::build(model.witsHeader(), model.witsItems(), m_options.lineEnd()),
                StreamShaper::Kind::Wits);
}

void UnitSession::sendUptime()
{
    sendElement("[UPTIME " + m_run->model().nextUptime() + "%]" + m_options.lineEnd(), StreamShaper::Kind::Status);
}

void UnitSession::sendBurst()
{
    // A backlog, as a relay delivers it after a stall: complete packets back to back.
    // The run is moved on at once; in a fleet the unit's other viewers get
    // those packets as they come, this one all together.
    const int limit = m_options.closeAfter > 0 ? m_options.closeAfter : m_options.resetAfter;
    QByteArray burst;
    QList<Unsent> ends;  // within the burst
    int count = 0;
    m_collected.clear();
    m_collecting = true;
    while (burst.size() <= m_options.burstSize
           && (limit <= 0 || m_packets < static_cast<std::uint64_t>(limit))) {
        m_run->step();
        for (const Packet &packet : std::as_const(m_collected)) {
            burst.append(packet.bytes);
            ++count;
            if (packet.intact)
                ends.append({burst.size(), packet.number});
        }
        m_collected.clear();
    }
    m_collecting = false;
    fault("burst of " + QByteArray::number(count) + " packets, " + QByteArray::number(burst.size())
          + " characters in one write");
    const QList<QByteArray> writes = m_shaper.pushWhole(burst);
    if (m_sentLog) {
        const qint64 start = m_shaper.bytesIn() - burst.size();
        for (const Unsent &end : std::as_const(ends))
            m_unsent.append({start + end.end, end.number});
    }
    queueWrites(writes);
    checkPacketLimit();
}

void UnitSession::sendReplayChunk()
{
    const QByteArray &bytes = m_options.replayBytes;
    m_replayBudget += m_options.replayRate * ReplayTickMs / 1000.0;
    const auto count = static_cast<qsizetype>(std::floor(m_replayBudget));
    if (count <= 0)
        return;
    m_replayBudget -= static_cast<double>(count);
    const QByteArray chunk = bytes.mid(m_replayPos, count);
    m_replayPos += chunk.size();
    queueWrites({chunk});
    if (m_replayPos >= bytes.size()) {
        if (m_options.replayLoop) {
            m_replayPos = 0;
            log("replay starts again");
        } else {
            m_replayTimer->stop();
            log("replay finished");
        }
    }
}

void UnitSession::sendElement(const QByteArray &element, StreamShaper::Kind kind)
{
    queueWrites(m_shaper.push(element, kind));
}

void UnitSession::queueWrites(const QList<QByteArray> &writes)
{
    for (const QByteArray &write : writes) {
        if (!m_options.split) {
            deliver(write);
            continue;
        }
        m_pieces.append(m_shaper.pieces(write));
    }
    if (!m_pieces.isEmpty() && !m_pieceTimer->isActive())
        writeNextPiece();
}

void UnitSession::writeNextPiece()
{
    if (m_pieces.isEmpty()) {
        finishEndingWhenFlushed();
        return;
    }
    deliver(m_pieces.takeFirst());
    // Each piece goes out alone; the next one after a gap.
    m_pieceTimer->start(m_pieceGapMs);
}

void UnitSession::deliver(const QByteArray &bytes)
{
    if (m_silent || m_gone || m_socket->state() != QAbstractSocket::ConnectedState) {
        noteSent(bytes.size(), false);
        return;
    }
    if (m_socket->bytesToWrite() > MaxBacklog) {
        if (!m_dropping)
            log("not reading, output dropped until it does");
        m_dropping = true;
        noteSent(bytes.size(), false);
        return;
    }
    m_socket->write(bytes);
    m_socket->flush();
    noteSent(bytes.size(), true);
}

void UnitSession::noteSent(qint64 bytes, bool written)
{
    if (!m_sentLog || m_options.replaying())
        return;
    m_handled += bytes;
    const qint64 now = written ? QDateTime::currentMSecsSinceEpoch() : 0;
    while (!m_unsent.isEmpty() && m_unsent.front().end <= m_handled) {
        const Unsent packet = m_unsent.takeFirst();
        if (written)
            m_sentLog->record(m_options.name, packet.number, now);
    }
}

void UnitSession::onReadyRead()
{
    if (!m_started)
        return;
    handleInput(m_input.feed(m_socket->readAll()));
    if (m_input.hasPending())
        m_inputTimer->start(InputQuietMs);
    else
        m_inputTimer->stop();
}

void UnitSession::onInputQuiet()
{
    handleInput(m_input.flush());
}

void UnitSession::handleInput(const QList<ClientInput::Event> &events)
{
    for (const ClientInput::Event &event : events) {
        switch (event.kind) {
        case ClientInput::Event::Kind::KeepAlive:
            log("keep-alive " + QByteArray::number(++m_keepAlives));
            break;
        case ClientInput::Event::Kind::KeyMessage:
            answerKey(event.bytes);
            break;
        case ClientInput::Event::Kind::Typed:
            log("typed " + QByteArray::number(event.bytes.size()) + (event.bytes.size() == 1 ? " byte: " : " bytes: ")
                + byteCodes(event.bytes));
            break;
        }
    }
}

void UnitSession::answerKey(const QByteArray &message)
{
    const KeyDecoder::Result key = KeyDecoder::decode(message);
    const bool accepted = key.ok && key.user == m_options.user && key.password == m_options.password;
    const QByteArray answer = accepted ? QByteArrayLiteral("[TWO WAY]") : QByteArrayLiteral("[OUTPUT ONLY]");

    QByteArray line = "key message: ";
    if (!key.ok)
        line += "refused (" + key.error.toLatin1() + ')';
    else if (accepted)
        line += "user \"" + printable(key.user) + "\" accepted";
    else if (key.user != m_options.user)
        line += "user \"" + printable(key.user) + "\" unknown";
    else
        line += "user \"" + printable(key.user) + "\" wrong password";
    line += m_silent ? QByteArrayLiteral(", not answered (silent)") : ", answered " + answer;
    log(line);

    sendElement(answer + m_options.lineEnd(), StreamShaper::Kind::Status);
}

void UnitSession::checkPacketLimit()
{
    if (m_ending != Ending::None)
        return;
    const auto reached = [this](int limit) {
        return limit > 0 && m_packets >= static_cast<std::uint64_t>(limit);
    };
    if (reached(m_options.closeAfter))
        beginEnding(Ending::Close);
    else if (reached(m_options.resetAfter))
        beginEnding(Ending::Reset);
}

void UnitSession::beginEnding(Ending how)
{
    m_ending = how;
    const QByteArray count = QByteArray::number(static_cast<qulonglong>(m_packets));
    m_endReason = (how == Ending::Close ? "closed here after " : "reset here after ") + count + " packets";
    fault((how == Ending::Close ? "closing after " : "resetting after ") + count + " packets");
    stopGenerating();
    queueWrites(m_shaper.drain());
    finishEndingWhenFlushed();
}

void UnitSession::finishEndingWhenFlushed()
{
    if (m_ending == Ending::None || m_gone || !m_pieces.isEmpty())
        return;
    if (m_ending == Ending::Close) {
        // Sends what is still buffered, then FIN.
        m_socket->disconnectFromHost();
        return;
    }
    if (m_socket->bytesToWrite() > 0)
        return;
    // Give the last packet a moment on the wire: the reset throws away
    // whatever the stack has not sent yet.
    QTimer::singleShot(20, this, &UnitSession::resetNow);
}

void UnitSession::resetNow()
{
    if (m_gone)
        return;
    // A zero linger time makes the close send RST instead of FIN.
    struct linger hard {};
    hard.l_onoff = 1;
    hard.l_linger = 0;
    const auto descriptor = m_socket->socketDescriptor();
    if (descriptor != -1) {
#if defined(Q_OS_WIN)
        ::setsockopt(static_cast<SOCKET>(descriptor), SOL_SOCKET, SO_LINGER,
                     reinterpret_cast<const char *>(&hard), sizeof hard);
#else
        ::setsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
#endif
    }
    m_socket->abort();
    onDisconnected();
}

void UnitSession::drop()
{
    closeNow("dropped here after " + QByteArray::number(static_cast<qulonglong>(m_packets)) + " packets");
}

void UnitSession::stop()
{
    closeNow("closed here, the simulator stops");
}

void UnitSession::closeNow(const QByteArray &reason)
{
    if (m_gone)
        return;
    m_ending = Ending::Close;
    m_endReason = reason;
    stopGenerating();
    // Everything already made goes out before the close, so a packet that
    // was handed over is a packet the viewer can read.
    queueWrites(m_shaper.drain());
    m_pieceTimer->stop();
    while (!m_pieces.isEmpty())
        deliver(m_pieces.takeFirst());
    m_socket->disconnectFromHost();
    // A viewer that does not read would hold the close up on its backlog.
    QTimer::singleShot(CloseGraceMs, this, [this] {
        if (!m_gone) {
            m_socket->abort();
            onDisconnected();
        }
    });
}

void UnitSession::goSilent()
{
    if (m_silent || m_gone)
        return;
    stopGenerating();
    m_pieces.clear();
    m_silent = true;
    fault("silent from now on, connection kept open");
}

void UnitSession::stopGenerating()
{
    for (QTimer *timer : {m_witsTimer, m_uptimeTimer, m_burstTimer, m_replayTimer})
        timer->stop();
    m_generating = false;
    if (m_ownsRun)
        m_run->stop();
}

void UnitSession::onDisconnected()
{
    if (m_gone)
        return;
    m_gone = true;
    stopGenerating();
    m_pieceTimer->stop();
    m_inputTimer->stop();
    // A message cut off by the close is still reported, as typed bytes or a refused key.
    if (m_started)
        handleInput(m_input.flush());
    QByteArray reason = m_endReason;
    if (reason.isEmpty())
        reason = m_lastError.isEmpty() ? QByteArrayLiteral("closed by the viewer") : m_lastError;
    log("gone: " + reason);
    emit finished(m_id);
    deleteLater();
}
