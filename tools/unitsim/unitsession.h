#pragma once

#include <cstdint>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include "unitsim/clientinput.h"
#include "unitsim/randomsource.h"
#include "unitsim/simoptions.h"
#include "unitsim/streamshaper.h"

class QTcpSocket;
class QTimer;
class SentLog;
class UnitRun;

// One viewer's connection: its stream with the chosen faults, made from a run
// of the rig of its own (a single unit) or from its unit's run (a fleet), and
// the reading and answering of what the viewer sends. Deletes itself once the
// connection is gone.
class UnitSession : public QObject
{
    Q_OBJECT

public:
    // Takes ownership of `socket`. Without a `sharedRun` the session runs the
    // rig on its own, from `seed`; `seed` also drives the stream's faults.
    // Every packet handed to the socket goes into `sentLog` when there is one.
    UnitSession(int id, QTcpSocket *socket, const SimOptions &options, std::uint64_t seed,
                UnitRun *sharedRun = nullptr, SentLog *sentLog = nullptr, QObject *parent = nullptr);

    // Starts the stream: the greeting, then packets, WITS records and uptime
    // messages (or the replay), and the timed faults.
    void start();
    // Closes the connection at once, after what is already on its way: the
    // unit drops its viewers now and then (`--drop-every`).
    void drop();
    // The same as the simulator stops.
    void stop();

signals:
    void eventLine(const QByteArray &line);
    void finished(int id);

private:
    enum class Ending { None, Close, Reset };

    struct Packet
    {
        QByteArray bytes;
        std::uint64_t number = 0;  // field 29
        bool intact = true;        // not spoiled by a packet fault
    };

    // A packet on its way: where in the stream it ends.
    struct Unsent
    {
        qint64 end = 0;
        std::uint64_t number = 0;
    };

    void log(const QByteArray &text);
    void fault(const QByteArray &text);

    Packet nextPacket();
    void onAdvanced();
    void sendPacket(const Packet &packet);
    void sendWits();
    void sendUptime();
    void sendBurst();
    void sendReplayChunk();
    void sendElement(const QByteArray &element, StreamShaper::Kind kind);
    void queueWrites(const QList<QByteArray> &writes);
    void writeNextPiece();
    void deliver(const QByteArray &bytes);
    void noteSent(qint64 bytes, bool written);

    void onReadyRead();
    void onInputQuiet();
    void handleInput(const QList<ClientInput::Event> &events);
    void answerKey(const QByteArray &message);
    void onDisconnected();

    void checkPacketLimit();
    void beginEnding(Ending how);
    void finishEndingWhenFlushed();
    void resetNow();
    void closeNow(const QByteArray &reason);
    void goSilent();
    void stopGenerating();

    const int m_id;
    QTcpSocket *const m_socket;
    const SimOptions m_options;
    UnitRun *m_run = nullptr;
    const bool m_ownsRun;
    SentLog *const m_sentLog;
    RandomSource m_random;
    StreamShaper m_shaper;
    ClientInput m_input;

    QTimer *m_witsTimer = nullptr;
    QTimer *m_uptimeTimer = nullptr;
    QTimer *m_burstTimer = nullptr;
    QTimer *m_replayTimer = nullptr;
    QTimer *m_pieceTimer = nullptr;
    QTimer *m_inputTimer = nullptr;

    QList<QByteArray> m_pieces;  // split writes waiting for their turn
    int m_pieceGapMs = 0;
    std::uint64_t m_packets = 0;   // sent on this connection
    bool m_generating = false;
    // A burst gathers the packets of several steps of the run into one write.
    bool m_collecting = false;
    QList<Packet> m_collected;
    // For the sent log: packets not yet handed to the socket, and how far
    // into the stream the writes handed over (or dropped) have come.
    QList<Unsent> m_unsent;
    qint64 m_handled = 0;
    int m_keepAlives = 0;
    qsizetype m_replayPos = 0;
    double m_replayBudget = 0;
    bool m_started = false;
    bool m_silent = false;
    bool m_dropping = false;
    bool m_gone = false;
    Ending m_ending = Ending::None;
    QByteArray m_endReason;
    QByteArray m_lastError;
};
