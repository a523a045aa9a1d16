#include "fleet/reconnectpolicy.h"

#include <algorithm>
#include <cmath>
#include <utility>

ReconnectPolicy::ReconnectPolicy(Clock clock, Random random)
    : m_clock(std::move(clock))
    , m_random(std::move(random))
{
}

void ReconnectPolicy::opening()
{
    m_open = true;
    m_up = false;
    m_lastSignMs = m_clock();
}

void ReconnectPolicy::up()
{
    if (m_up)
        return;
    m_up = true;
    m_open = true;
    m_upSinceMs = m_clock();
    m_lastSignMs = m_upSinceMs;
}

void ReconnectPolicy::delivered()
{
    m_lastSignMs = m_clock();
}

qint64 ReconnectPolicy::down()
{
    const qint64 now = m_clock();
    if (m_up && now - m_upSinceMs >= StableMs)
        m_baseMs = FirstDelayMs;
    m_up = false;
    m_open = false;
    const qint64 base = m_baseMs;
    m_baseMs = std::min(m_baseMs * 2, MaxDelayMs);
    // The spread is applied after the cap: a fleet waiting the longest
    // still comes back spread over 48 to 72 seconds, not all at 60.
    const double r = std::clamp(m_random(), 0.0, 1.0);
    const double factor = 1.0 + JitterShare * (2.0 * r - 1.0);
    return std::llround(double(base) * factor);
}

bool ReconnectPolicy::silent() const
{
    return m_open && m_clock() - m_lastSignMs >= SilenceMs;
}
