#include "unitsim/unitrun.h"

#include <algorithm>
#include <cmath>

#include <QTimer>

UnitRun::UnitRun(const RigModel::Settings &settings, std::uint64_t seed, QObject *parent)
    : QObject(parent)
    , m_model(settings, seed)
    , m_timer(new QTimer(this))
    , m_intervalMs(static_cast<int>(std::clamp(std::llround(settings.packetSeconds * 1000.0), 1LL, 2000000000LL)))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &UnitRun::step);
}

void UnitRun::start()
{
    m_timer->start(m_intervalMs);
}

void UnitRun::stop()
{
    m_timer->stop();
}

void UnitRun::step()
{
    m_model.advance();
    emit advanced();
}
