#include "rules/alerts/alarmbook.h"

#include <algorithm>
#include <cmath>

#include <QJsonDocument>
#include <QJsonObject>

namespace alerts {

namespace {

const QString StartKind = QStringLiteral("alarm start");
const QString EndKind = QStringLiteral("alarm end");
const QString AckKind = QStringLiteral("alarm ack");

struct KindNames
{
    Kind kind;
    const char *name;
    const char *words;
};

constexpr KindNames Kinds[] = {
    {Kind::GasLevel, "gas", "Gas"},
    {Kind::UnitAlarm, "alarm", "Unit alarm"},
    {Kind::LinkLost, "link", "Link lost"},
    {Kind::NoData, "nodata", "No data"},
};

const KindNames &namesOf(Kind kind)
{
    return *std::find_if(std::begin(Kinds), std::end(Kinds), [kind](const KindNames &k) { return k.kind == kind; });
}

QString detail(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QString levelName(Level level)
{
    return level == Level::Critical ? QStringLiteral("critical") : QStringLiteral("warning");
}

} // namespace

QString kindName(Kind kind)
{
    return QString::fromLatin1(namesOf(kind).name);
}

std::optional<Kind> kindNamed(const QString &name)
{
    for (const KindNames &k : Kinds) {
        if (name == QLatin1String(k.name))
            return k.kind;
    }
    return std::nullopt;
}

QString kindWords(Kind kind)
{
    return QString::fromLatin1(namesOf(kind).words);
}

QStringList AlarmBook::eventKinds()
{
    return {StartKind, EndKind, AckKind};
}

std::vector<AlarmRow>::iterator AlarmBook::find(const QString &unit, Kind kind)
{
    return std::find_if(m_rows.begin(), m_rows.end(),
                        [&](const AlarmRow &row) { return row.unit == unit && row.kind == kind; });
}

std::optional<AlarmChange> AlarmBook::start(const QString &unit, Kind kind, Level level, const QString &condition,
                                            std::optional<double> value, qint64 atMs)
{
    const auto row = find(unit, kind);
    if (row == m_rows.end()) {
        m_rows.push_back({unit, kind, level, condition, value, atMs, std::nullopt, QString(), std::nullopt});
    } else {
        // The same condition told again (the board follows a unit's state)
        // is no news.
        if (row->lasting() && row->level == level && row->condition == condition)
            return std::nullopt;
        row->endedMs.reset();
        if (!row->acknowledged()) {
            // Latched: the worst level it reached stays until seen.
            if (level >= row->level) {
                row->level = level;
                row->condition = condition;
                row->value = value;
            }
        } else {
            if (level > row->level) {
                row->acknowledgedBy.clear();
                row->acknowledgedMs.reset();
            }
            row->level = level;
            row->condition = condition;
            row->value = value;
        }
    }
    QJsonObject object{{QStringLiteral("kind"), kindName(kind)},
                       {QStringLiteral("level"), levelName(level)},
                       {QStringLiteral("text"), condition}};
    if (value && std::isfinite(*value))
        object.insert(QStringLiteral("value"), *value);
    return AlarmChange{atMs, unit, StartKind, detail(object)};
}

std::optional<AlarmChange> AlarmBook::end(const QString &unit, Kind kind, qint64 atMs)
{
    const auto row = find(unit, kind);
    if (row == m_rows.end() || !row->lasting())
        return std::nullopt;
    if (row->acknowledged())
        m_rows.erase(row);
    else
        row->endedMs = atMs;
    return AlarmChange{atMs, unit, EndKind, detail({{QStringLiteral("kind"), kindName(kind)}})};
}

std::optional<AlarmChange> AlarmBook::acknowledge(const QString &unit, Kind kind, const QString &by, qint64 atMs)
{
    const auto row = find(unit, kind);
    if (row == m_rows.end() || row->acknowledged())
        return std::nullopt;
    if (row->lasting()) {
        row->acknowledgedBy = by;
        row->acknowledgedMs = atMs;
    } else {
        m_rows.erase(row);
    }
    return AlarmChange{atMs, unit, AckKind, detail({{QStringLiteral("kind"), kindName(kind)}, {QStringLiteral("by"), by}})};
}

std::optional<AlarmChange> AlarmBook::acknowledgeUnit(const QString &unit, const QString &by, qint64 atMs)
{
    bool changed = false;
    for (auto row = m_rows.begin(); row != m_rows.end();) {
        if (row->unit != unit || row->acknowledged()) {
            ++row;
            continue;
        }
        changed = true;
        if (!row->lasting()) {
            row = m_rows.erase(row);
            continue;
        }
        row->acknowledgedBy = by;
        row->acknowledgedMs = atMs;
        ++row;
    }
    if (!changed)
        return std::nullopt;
    return AlarmChange{atMs, unit, AckKind, detail({{QStringLiteral("by"), by}})};
}

bool AlarmBook::replay(const AlarmChange &change)
{
    const QJsonObject object = QJsonDocument::fromJson(change.detail.toUtf8()).object();
    const QJsonValue kindValue = object.value(QStringLiteral("kind"));
    const std::optional<Kind> kind = kindNamed(kindValue.toString());
    if (change.unit.isEmpty() || (!kindValue.isUndefined() && !kind))
        return false;
    if (change.kind == StartKind && kind) {
        const QString level = object.value(QStringLiteral("level")).toString();
        if (level != QLatin1String("warning") && level != QLatin1String("critical"))
            return false;
        const QJsonValue value = object.value(QStringLiteral("value"));
        start(change.unit, *kind, level == QLatin1String("critical") ? Level::Critical : Level::Warning,
              object.value(QStringLiteral("text")).toString(),
              value.isDouble() ? std::optional<double>(value.toDouble()) : std::nullopt, change.timeMs);
        return true;
    }
    if (change.kind == EndKind && kind) {
        end(change.unit, *kind, change.timeMs);
        return true;
    }
    if (change.kind == AckKind) {
        const QString by = object.value(QStringLiteral("by")).toString();
        if (kind)
            acknowledge(change.unit, *kind, by, change.timeMs);
        else
            acknowledgeUnit(change.unit, by, change.timeMs);
        return true;
    }
    return false;
}

std::vector<AlarmRow> AlarmBook::rows() const
{
    std::vector<AlarmRow> rows = m_rows;
    std::stable_sort(rows.begin(), rows.end(), [](const AlarmRow &a, const AlarmRow &b) {
        if (a.acknowledged() != b.acknowledged())
            return !a.acknowledged();
        if (a.startedMs != b.startedMs)
            return a.startedMs > b.startedMs;
        return a.unit < b.unit;
    });
    return rows;
}

std::optional<Level> AlarmBook::worstUnacknowledged(const QString &unit) const
{
    std::optional<Level> worst;
    for (const AlarmRow &row : m_rows) {
        if (row.unit == unit && !row.acknowledged() && (!worst || row.level > *worst))
            worst = row.level;
    }
    return worst;
}

int AlarmBook::unacknowledgedCount() const
{
    return static_cast<int>(
        std::count_if(m_rows.begin(), m_rows.end(), [](const AlarmRow &row) { return !row.acknowledged(); }));
}

} // namespace alerts
