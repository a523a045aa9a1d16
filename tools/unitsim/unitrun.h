#pragma once

#include <cstdint>

#include <QObject>

#include "unitsim/rigmodel.h"

class QTimer;

// One run of the rig, moved on one packet interval at a time by its own
// timer. A single unit gives every viewer a run of its own, started when the
// viewer is taken up. A unit of a fleet has one run from the start, whether
// anyone watches or not, as a unit in the field drills on; its viewers join
// it where it stands, and a viewer that comes back after a drop finds the
// packet numbers going on from where they were.
class UnitRun : public QObject
{
    Q_OBJECT

public:
    UnitRun(const RigModel::Settings &settings, std::uint64_t seed, QObject *parent = nullptr);

    void start();
    void stop();
    // Moves the rig on by one packet now, outside the timer's beat (a burst).
    void step();

    RigModel &model() { return m_model; }
    const RigModel &model() const { return m_model; }

signals:
    // The rig moved on: model() holds the next packet.
    void advanced();

private:
    RigModel m_model;
    QTimer *m_timer = nullptr;
    int m_intervalMs = 1000;
};
