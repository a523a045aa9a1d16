#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include "unitsim/fleetplan.h"
#include "unitsim/randomsource.h"
#include "unitsim/simoptions.h"

class QTcpServer;
class QTimer;
class SentLog;
class UnitRun;
class UnitSession;

// One unit on its port: listens for viewers and gives each one its own
// session. A single unit starts a fresh run of the rig for every viewer; a
// unit of a fleet (given its plan) runs one rig from the start for all of
// them, and its lines begin with "unit <name> ". Every event of every session
// comes out of eventLine, one line each, without line end.
class UnitServer : public QObject
{
    Q_OBJECT

public:
    // `plan` null: the single unit of `options`.
    UnitServer(const SimOptions &options, const UnitPlan *plan, SentLog *sentLog = nullptr,
               QObject *parent = nullptr);

    // Listens, and for a unit of a fleet starts its run; the drops start too.
    bool listen();
    // Stops listening and closes every connection; stopped() follows once
    // the last one is gone (at once when there is none).
    void stop();

    QString errorString() const;
    QHostAddress serverAddress() const;
    quint16 serverPort() const;
    QByteArray name() const { return m_options.name; }
    int clientCount() const { return static_cast<int>(m_sessions.size()); }

signals:
    void eventLine(const QByteArray &line);
    void stopped();

private:
    void onNewConnection();
    void dropAll();
    void log(const QByteArray &text);

    SimOptions m_options;
    const bool m_fleet;
    const int m_index;
    std::uint64_t m_unitSeed = 0;
    QByteArray m_prefix;
    QTcpServer *m_server = nullptr;
    UnitRun *m_run = nullptr;      // a fleet unit's run, shared by its sessions
    SentLog *m_sentLog = nullptr;
    QTimer *m_dropTimer = nullptr;
    // Seeds for a single unit's runs without --seed; each connection draws its own.
    RandomSource m_seeds;
    QList<UnitSession *> m_sessions;
    int m_nextId = 1;
    bool m_stopping = false;
};
