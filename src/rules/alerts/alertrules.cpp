#include "rules/alerts/alertrules.h"

#include <algorithm>

#include "rules/stream/linkstate.h"
#include "rules/stream/reading.h"

namespace alerts {

namespace {

// How each event reads in the traffic window and in the history, in the
// order of Event::Type.
struct Wording
{
    const char *line;  // the whole line, or its start when a condition follows
    const char *kind;
};

constexpr Wording Wordings[] = {
    {"[ALERT: ", "alert start"},
    {"[ALERT END: ", "alert end"},
    {"[ALERT ACK]", "alert ack"},
    {"[ALERT MUTE 15 MIN]", "alert mute"},
    {"[ALERT MUTE END]", "alert mute end"},
};

const Wording &wording(Event::Type type)
{
    return Wordings[static_cast<int>(type)];
}

// How each kind of condition is said aloud, in the order of Kind: the
// condition in words, then its figure when it has one. A condition without
// words of its own is said as its line reads.
struct Spoken
{
    const char *words;   // null: the condition's text in lower case
    const char *figure;  // what follows the words, ", %1 units"; null: no figure is said
};

constexpr Spoken SpokenWords[] = {
    {"gas high", ", %1 units"},
    {nullptr, nullptr},
    {nullptr, nullptr},
    {"no data", " for %1 seconds"},
};

} // namespace

QByteArray reportLine(const Event &event)
{
    QByteArray line(wording(event.type).line);
    if (event.type == Event::Type::Started || event.type == Event::Type::Ended) {
        line += event.text.toLatin1();
        if (!event.unit.isEmpty())
            line += ' ' + event.unit.toLatin1();
        line += ']';
    }
    return line;
}

QString eventKind(Event::Type type)
{
    return QString::fromLatin1(wording(type).kind);
}

QString spokenSentence(const Event &event)
{
    if (event.type != Event::Type::Started || event.level != Level::Critical)
        return {};
    const Spoken &spoken = SpokenWords[static_cast<int>(event.kind)];
    QString sentence = spoken.words ? QString::fromLatin1(spoken.words) : event.text.toLower();
    // Whole units are what an operator takes in by ear.
    if (spoken.figure && event.value)
        sentence += QString::fromLatin1(spoken.figure).arg(QString::number(*event.value, 'f', 0));
    if (!event.unit.isEmpty())
        return QStringLiteral("Unit ") + event.unit + QStringLiteral(", ") + sentence;
    sentence[0] = sentence[0].toUpper();
    return sentence;
}

AlertRules::AlertRules(int staleSeconds)
    : m_staleSeconds(std::max(0, staleSeconds))
{
}

AlertRules::Events AlertRules::linkState(std::int16_t state, const QString &unit)
{
    Events events;
    const std::int16_t before = m_state;
    if (state == before)
        return events;
    m_state = state;
    if (state == LinkState::Connected) {
        end(events, Kind::LinkLost);
    } else if (LinkState::isDown(state)) {
        // A connect that never got through is reported by the connect itself.
        if (before != LinkState::Connected)
            return events;
        end(events, Kind::NoData);
        const QString why = state == LinkState::Closing ? QStringLiteral("CLOSED BY UNIT") : QStringLiteral("ERROR");
        start(events, {Kind::LinkLost, Level::Critical, QStringLiteral("LINK LOST, ") + why, unit});
    } else {
        // Only the operator takes the link to closed or starts a new one:
        // what the old link showed no longer calls for attention.
        endAll(events);
        m_gas.reset();
    }
    return events;
}

AlertRules::Events AlertRules::staleness(readings::Staleness staleness, const QString &unit)
{
    Events events;
    if (staleness != readings::Staleness::Silent) {
        end(events, Kind::NoData);
    } else if (m_staleSeconds > 0 && !find(Kind::NoData)) {
        start(events, {Kind::NoData, Level::Critical,
                       QStringLiteral("NO DATA FOR %1 SECONDS").arg(m_staleSeconds), unit, false,
                       double(m_staleSeconds)});
    }
    return events;
}

AlertRules::Events AlertRules::reading(const Reading &reading)
{
    Events events;
    // Gas units that are no number say nothing of the gas: an alert in
    // progress goes on, and is not started again by the next high reading.
    const readings::GasLevel level =
        m_gasLevels == readings::GasLevels() ? reading.gasLevel : m_gas.update(reading.fields[5]);
    if (level != readings::GasLevel::NoReading)
        followGas(events, level, readings::numberIn(reading.fields[5]), reading.serial);
    followAlarm(events, reading.errorCode, reading.serial);
    return events;
}

void AlertRules::followGas(Events &events, readings::GasLevel level, std::optional<double> gas, const QString &unit)
{
    const Condition *now = find(Kind::GasLevel);
    Condition wanted{Kind::GasLevel, Level::Warning, QStringLiteral("HIGH GAS UNITS"), unit, false, gas};
    if (level == readings::GasLevel::Red) {
        wanted.level = Level::Critical;
        wanted.text = QStringLiteral("VERY HIGH GAS UNITS");
    } else if (level == readings::GasLevel::Green) {
        end(events, Kind::GasLevel);
        return;
    } else if (level != readings::GasLevel::Yellow) {
        // No level yet (the hold after a reading with no number): only a
        // reading that shows green ends a gas alert.
        return;
    }
    if (now && now->level == wanted.level)
        return;
    // Falling from red to yellow is no news to an operator who has already
    // acknowledged red.
    if (now && wanted.level == Level::Warning)
        wanted.acknowledged = now->acknowledged;
    end(events, Kind::GasLevel);
    start(events, wanted);
}

void AlertRules::followAlarm(Events &events, double errorCode, const QString &unit)
{
    const Condition *now = find(Kind::UnitAlarm);
    if (errorCode <= 0) {
        end(events, Kind::UnitAlarm);
        return;
    }
    const QString text = QStringLiteral("ALARM ") + QString::number(errorCode) + QLatin1Char(' ')
        + readings::alarmText(errorCode);
    if (now && now->text == text)
        return;
    end(events, Kind::UnitAlarm);
    start(events, {Kind::UnitAlarm, Level::Warning, text, unit});
}

void AlertRules::setGasLevels(const readings::GasLevels &levels)
{
    if (levels == m_gasLevels)
        return;
    m_gasLevels = levels;
    m_gas = readings::GasLevelTracker(levels);
}

AlertRules::Events AlertRules::tick(qint64 nowMs)
{
    Events events;
    if (m_muted && nowMs >= m_mutedUntilMs) {
        m_muted = false;
        events.push_back({Event::Type::Unmuted, Level::Warning, {}, {}});
    }
    return events;
}

AlertRules::Events AlertRules::acknowledge()
{
    Events events;
    const bool waiting = std::any_of(m_active.begin(), m_active.end(),
                                     [](const Condition &c) { return !c.acknowledged; });
    if (!waiting)
        return events;
    for (Condition &condition : m_active)
        condition.acknowledged = true;
    events.push_back({Event::Type::Acknowledged, Level::Warning, {}, {}});
    return events;
}

AlertRules::Events AlertRules::mute(qint64 nowMs)
{
    for (Condition &condition : m_active)
        condition.acknowledged = true;
    m_muted = true;
    m_mutedUntilMs = nowMs + MuteMs;
    return {{Event::Type::Muted, Level::Warning, {}, {}}};
}

qint64 AlertRules::muteLeftMs(qint64 nowMs) const
{
    return m_muted ? std::max<qint64>(0, m_mutedUntilMs - nowMs) : 0;
}

Tone AlertRules::dueTone(qint64 nowMs)
{
    Tone tone = Tone::None;
    for (const Condition &condition : m_active) {
        if (condition.acknowledged)
            continue;
        tone = condition.level == Level::Critical ? Tone::Critical : std::max(tone, Tone::Warning);
        if (tone == Tone::Critical)
            break;
    }
    // Only warnings can be waiting during a mute: a critical one ends it.
    if (tone == Tone::None || m_muted) {
        m_nextToneMs = nowMs;
        return Tone::None;
    }
    if (nowMs < m_nextToneMs)
        return Tone::None;
    m_nextToneMs = nowMs + RepeatMs;
    return tone;
}

const Condition *AlertRules::find(Kind kind) const
{
    const auto found = std::find_if(m_active.begin(), m_active.end(),
                                    [kind](const Condition &c) { return c.kind == kind; });
    return found == m_active.end() ? nullptr : &*found;
}

void AlertRules::start(Events &events, Condition condition)
{
    if (condition.level == Level::Critical && m_muted) {
        m_muted = false;
        events.push_back({Event::Type::Unmuted, Level::Warning, {}, {}});
    }
    // A new condition sounds at once rather than at the next repeat.
    if (!condition.acknowledged)
        m_nextToneMs = 0;
    events.push_back({Event::Type::Started, condition.level, condition.text, condition.unit, condition.kind,
                      condition.value});
    m_active.push_back(std::move(condition));
}

void AlertRules::end(Events &events, Kind kind)
{
    const auto found = std::find_if(m_active.begin(), m_active.end(),
                                    [kind](const Condition &c) { return c.kind == kind; });
    if (found == m_active.end())
        return;
    events.push_back({Event::Type::Ended, found->level, found->text, found->unit, found->kind, found->value});
    m_active.erase(found);
}

void AlertRules::endAll(Events &events)
{
    while (!m_active.empty())
        end(events, m_active.front().kind);
}

} // namespace alerts
