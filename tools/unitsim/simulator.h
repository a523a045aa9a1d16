#pragma once

#include <memory>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include "unitsim/simoptions.h"

class QTimer;
class SentLog;
class UnitServer;
struct UnitPlan;

// The whole simulator: one unit or a fleet, each unit on its own port, the
// lookup table that points at them and the log of the packets sent. Every
// event comes out of eventLine, one line each.
class Simulator : public QObject
{
    Q_OBJECT

public:
    explicit Simulator(const SimOptions &options, QObject *parent = nullptr);
    ~Simulator() override;

    // Opens the sent log, listens on every unit's port and writes the lookup
    // table. False when any of it fails, with `error` saying why; nothing is
    // left listening then.
    bool start(QString *error);
    // Stops listening and closes every connection; finished() follows once
    // they are gone, with the sent log written out.
    void stop();

    const QList<UnitServer *> &units() const { return m_units; }

signals:
    void eventLine(const QByteArray &line);
    void finished();

private:
    QByteArray behaviour(const UnitPlan &plan) const;
    void onUnitStopped();
    void finish();

    const SimOptions m_options;
    std::unique_ptr<SentLog> m_sentLog;
    QList<UnitServer *> m_units;
    QTimer *m_deadline = nullptr;
    int m_running = 0;
    bool m_stopping = false;
    bool m_finished = false;
};
