#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "rules/readings/readingrules.h"

struct Reading;

// The rules that turn what the link reports into alerts an operator cannot
// miss: which conditions start and end, which of them are still to be
// acknowledged, and when a tone is due. The gas level and whether the
// readings are stale are the link's, taken as it reports them. Widget-free
// and clock-free: every call is given the time, so tests drive it through
// any sequence without waiting.
namespace alerts {

enum class Level { Warning, Critical };

// What can be wrong; at most one condition of each kind is active at a time.
enum class Kind { GasLevel, UnitAlarm, LinkLost, NoData };

struct Condition
{
    Kind kind = Kind::GasLevel;
    Level level = Level::Warning;
    QString text;   // "HIGH GAS UNITS", "ALARM 5 HIGH SAMPLE FLOW RATE", ...
    QString unit;   // the serial number the operator chose
    bool acknowledged = false;
    // The figure that started it: the gas units, the stale limit in seconds.
    std::optional<double> value = std::nullopt;
};

struct Event
{
    enum class Type { Started, Ended, Acknowledged, Muted, Unmuted };

    Type type = Type::Started;
    Level level = Level::Warning;  // of the condition that started or ended
    QString text;
    QString unit;
    Kind kind = Kind::GasLevel;     // of the condition that started or ended
    std::optional<double> value = std::nullopt;  // its figure, as in Condition
};

enum class Tone { None, Warning, Critical };

// The traffic window's line for an event: "[ALERT: HIGH GAS UNITS 0001]",
// "[ALERT END: ...]", "[ALERT ACK]", "[ALERT MUTE 15 MIN]", "[ALERT MUTE END]".
QByteArray reportLine(const Event &event);
// The kind under which the event is recorded: "alert start", "alert end",
// "alert ack", "alert mute", "alert mute end".
QString eventKind(Event::Type type);
// What is said aloud when the event starts a critical condition, "Unit
// 0001, gas high, 1820 units"; empty for every other event, which the tone
// and the lines announce well enough.
QString spokenSentence(const Event &event);

class AlertRules
{
public:
    using Events = std::vector<Event>;

    static constexpr int DefaultStaleSeconds = 30;
    static constexpr qint64 RepeatMs = 5000;
    static constexpr qint64 MuteMs = 15 * 60 * 1000;

    // The stale limit the link was given, for the no-data alert's text; 0
    // turns the no-data alert off.
    explicit AlertRules(int staleSeconds = DefaultStaleSeconds);

    // The socket state read from the link (LinkState::StateNumber).
    Events linkState(std::int16_t state, const QString &unit);
    // The link's readings turned stale or current: a silent link (connected,
    // no packet for the stale limit) is the no-data alert.
    Events staleness(readings::Staleness staleness, const QString &unit);
    // A packet the link accepted, with the gas level it was accepted with.
    Events reading(const Reading &reading);
    // Time passes: the end of a mute.
    Events tick(qint64 nowMs);
    // Silences every active condition; one that starts later sounds again.
    Events acknowledge();
    // Silences every active condition and keeps new warnings quiet for
    // MuteMs; any new critical condition ends the mute.
    Events mute(qint64 nowMs);

    // The unit's own gas levels: from now on its gas is judged by them,
    // with the same hold as the panel's, rather than by the level the link
    // gives each reading (the panel's, at the default levels).
    void setGasLevels(const readings::GasLevels &levels);
    const readings::GasLevels &gasLevels() const { return m_gasLevels; }

    // The tone to play now, if one is due: at once when an unacknowledged
    // condition starts, then every RepeatMs while one stays unacknowledged.
    Tone dueTone(qint64 nowMs);

    bool muted() const { return m_muted; }
    // How long the mute still runs at nowMs; 0 when there is none.
    qint64 muteLeftMs(qint64 nowMs) const;
    int staleSeconds() const { return m_staleSeconds; }
    const std::vector<Condition> &active() const { return m_active; }

private:
    const Condition *find(Kind kind) const;
    void start(Events &events, Condition condition);
    void end(Events &events, Kind kind);
    void endAll(Events &events);
    void followGas(Events &events, readings::GasLevel level, std::optional<double> gas, const QString &unit);
    void followAlarm(Events &events, double errorCode, const QString &unit);

    int m_staleSeconds;
    std::vector<Condition> m_active;
    readings::GasLevels m_gasLevels;
    // The gas level at the unit's own levels, while they differ from the
    // panel's.
    readings::GasLevelTracker m_gas;
    std::int16_t m_state = 0;
    bool m_muted = false;
    qint64 m_mutedUntilMs = 0;
    qint64 m_nextToneMs = 0;
};

} // namespace alerts
