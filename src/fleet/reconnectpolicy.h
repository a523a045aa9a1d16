#pragma once

#include <functional>

#include <QtGlobal>

// When the recorder opens a unit's link again, for one unit: after a
// refused, failed or lost link the next attempt waits FirstDelayMs, each
// failure in a row doubling the wait up to MaxDelayMs; every wait is
// spread by up to JitterShare either way, so that a fleet that lost its
// links together does not come back in step. A link that stayed up for
// StableMs starts again from FirstDelayMs when it next goes down. A link
// that has delivered nothing (no packet, no status message) for SilenceMs
// since it was opened or since its last delivery counts as lost; that
// covers a connection attempt that hangs as well.
//
// No timers of its own: the time comes from the clock passed in and the
// spread from the random source (a value in [0, 1)), so a test drives it
// step by step.
class ReconnectPolicy
{
public:
    static constexpr qint64 FirstDelayMs = 1000;
    static constexpr qint64 MaxDelayMs = 60000;
    static constexpr double JitterShare = 0.2;
    static constexpr qint64 StableMs = 60000;
    static constexpr qint64 SilenceMs = 120000;

    using Clock = std::function<qint64()>;   // milliseconds, never going back
    using Random = std::function<double()>;  // uniform in [0, 1)

    ReconnectPolicy(Clock clock, Random random);

    // A connection attempt starts now: the silence is counted from here.
    void opening();
    // The link is up now.
    void up();
    // A packet or a status message arrived now.
    void delivered();
    // The link went down, or an attempt failed: how long to wait before
    // the next attempt (the wait, its spread applied).
    qint64 down();

    // True when the link opened, and up or on its way, has delivered
    // nothing for SilenceMs.
    bool silent() const;
    // The wait the next failure starts from, before its spread.
    qint64 baseDelayMs() const { return m_baseMs; }
    bool isUp() const { return m_up; }

private:
    Clock m_clock;
    Random m_random;
    qint64 m_baseMs = FirstDelayMs;
    qint64 m_lastSignMs = 0;  // opened, or the last delivery
    qint64 m_upSinceMs = 0;
    bool m_open = false;
    bool m_up = false;
};
