#pragma once

#include <cstdint>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include "unitsim/clientinput.h"
#include "unitsim/randomsource.h"
#include "unitsim/rigmodel.h"
#include "unitsim/simoptions.h"
#include "unitsim/streamshaper.h"

class QTcpSocket;
class QTimer;

// One viewer's connection: its own run of the rig, its own stream with the
// chosen faults, and the reading and answering of what the viewer sends.
// Deletes itself once the connection is gone.
class UnitSession : public QObject
{
    Q_OBJECT

public:
    // Takes ownership of `socket`.
    UnitSession(int id, QTcpSocket *socket, const SimOptions &options, std::uint64_t seed,
                QObject *parent = nullptr);

    // Starts the stream: the greeting, then packets, WITS records and uptime
    // messages (or the replay), and the timed faults.
    void start();

signals:
    void eventLine(const QByteArray &line);
    void finished(int id);

private:
    enum class Ending { None, Close, Reset };

    void log(const QByteArray &text);
    void fault(const QByteArray &text);

    QByteArray nextPacket();
    void sendPacket();
    void sendWits();
    void sendUptime();
    void sendBurst();
    void sendReplayChunk();
    void sendElement(const QByteArray &element, StreamShaper::Kind kind);
    void queueWrites(const QList<QByteArray> &writes);
    void writeNextPiece();
    void deliver(const QByteArray &bytes);

    void onReadyRead();
    void onInputQuiet();
    void handleInput(const QList<ClientInput::Event> &events);
    void answerKey(const QByteArray &message);
    void onDisconnected();

    void checkPacketLimit();
    void beginEnding(Ending how);
    void finishEndingWhenFlushed();
    void resetNow();
    void goSilent();
    void stopGenerating();

    const int m_id;
    QTcpSocket *const m_socket;
    const SimOptions m_options;
    const std::uint64_t m_seed;
    RigModel m_model;
    RandomSource m_random;
    StreamShaper m_shaper;
    ClientInput m_input;

    QTimer *m_packetTimer = nullptr;
    QTimer *m_witsTimer = nullptr;
    QTimer *m_uptimeTimer = nullptr;
    QTimer *m_burstTimer = nullptr;
    QTimer *m_replayTimer = nullptr;
    QTimer *m_pieceTimer = nullptr;
    QTimer *m_inputTimer = nullptr;

    QList<QByteArray> m_pieces;  // split writes waiting for their turn
    int m_pieceGapMs = 0;
    std::uint64_t m_packets = 0;
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
