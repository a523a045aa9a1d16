#include "rules/board/fleettile.h"

#include <algorithm>
#include <cmath>

namespace board {

bool isLinkLoss(const QString &eventKind)
{
    return eventKind == QLatin1String("unit ended") || eventKind == QLatin1String("link error")
           || eventKind == QLatin1String("lookup error") || eventKind == QLatin1String("silent")
           || eventKind == QLatin1String("disconnected");
}

bool isLinkUp(const QString &eventKind)
{
    return eventKind == QLatin1String("connected");
}

QStringList linkEventKinds()
{
    return {QStringLiteral("connected"), QStringLiteral("unit ended"), QStringLiteral("link error"),
            QStringLiteral("lookup error"), QStringLiteral("silent"), QStringLiteral("disconnected")};
}

void Tile::addReading(qint64 timeMs, const std::optional<double> &gasUnits, double error)
{
    lastReadingMs = std::max(lastReadingMs, timeMs);
    gas = gasUnits;
    // The panel's hold: the level of the whole number shown, kept from
    // 1200 to 1400; a gas field that is no number clears it.
    gasLevel.update(gasUnits ? QByteArray::number(*gasUnits, 'f', 6) : QByteArray("N/A"));
    errorCode = error;
    if (error > 0.0)
        ++errorReadings;
    // A reading says the link is up again, whatever came before it.
    if (timeMs >= lastLinkEventMs)
        linkLost = false;
    if (!gasUnits || !std::isfinite(*gasUnits))
        return;
    const qint64 bucket = timeMs - timeMs % SparkBucketMs;
    if (!spark.empty() && spark.back().timeMs == bucket)
        spark.back().gas = std::max(spark.back().gas, *gasUnits);
    else if (spark.empty() || spark.back().timeMs < bucket)
        spark.push_back({bucket, *gasUnits});
}

void Tile::setLevels(const readings::GasLevels &unitLevels)
{
    if (unitLevels == levels)
        return;
    levels = unitLevels;
    gasLevel = readings::GasLevelTracker(levels);
    if (gas)
        gasLevel.update(QByteArray::number(*gas, 'f', 6));
}

void Tile::addLinkEvent(qint64 timeMs, const QString &kind)
{
    if (timeMs < lastLinkEventMs)
        return;
    lastLinkEventMs = timeMs;
    if (isLinkLoss(kind)) {
        linkLost = timeMs >= lastReadingMs;
        linkLoss = kind;
    }
    else if (isLinkUp(kind))
        linkLost = false;
}

void Tile::trimSpark(qint64 nowMs)
{
    const qint64 from = nowMs - SparkSpanMs;
    spark.erase(spark.begin(),
                std::find_if(spark.begin(), spark.end(), [from](const SparkPoint &p) { return p.timeMs + SparkBucketMs > from; }));
}

Judgement judge(const Tile &tile, qint64 nowMs, int staleSeconds)
{
    Judgement judged;
    if (tile.lastReadingMs >= 0)
        judged.ageMs = std::max<qint64>(0, nowMs - tile.lastReadingMs);
    judged.noData = tile.linkLost;
    judged.stale = !judged.noData && staleSeconds > 0
                   && (!judged.ageMs || *judged.ageMs > qint64(staleSeconds) * 1000);
    judged.alarm = tile.errorCode > 0.0;
    judged.alarmText = readings::alarmText(tile.errorCode);
    // The panel shows the face colour on the first reading of an alarm and
    // red on the second, and so on.
    judged.alarmRed = judged.alarm && tile.errorReadings % 2 == 0;
    const std::optional<readings::Level> gas = readings::levelOf(tile.gasLevel.level());
    if (judged.noData)
        judged.level = readings::Level::NoData;
    else if (judged.stale)
        judged.level = readings::Level::Stale;
    else
        judged.level = gas;

    if (judged.noData || gas == readings::Level::VeryHigh)
        judged.urgency = Urgency::Critical;
    else if (gas == readings::Level::High || judged.alarm)
        judged.urgency = Urgency::Warning;
    else if (judged.stale)
        judged.urgency = Urgency::Stale;
    return judged;
}

std::vector<std::size_t> boardOrder(const std::vector<Tile> &tiles, qint64 nowMs, int staleSeconds,
                                    const Acknowledged &acknowledged)
{
    struct Key
    {
        int rank;
        double gas;
        std::size_t index;
    };
    std::vector<Key> keys;
    keys.reserve(tiles.size());
    for (std::size_t i = 0; i < tiles.size(); ++i) {
        const Judgement judged = judge(tiles[i], nowMs, staleSeconds);
        int rank = 3;
        switch (judged.urgency) {
        case Urgency::Critical:
            rank = acknowledged && acknowledged(tiles[i].unit) ? 1 : 0;
            break;
        case Urgency::Warning:
            rank = 1;
            break;
        case Urgency::Stale:
            rank = 2;
            break;
        case Urgency::Normal:
            break;
        }
        // A tile without a gas reading comes after every one with.
        keys.push_back({rank, tiles[i].gas.value_or(-1.0e300), i});
    }
    std::stable_sort(keys.begin(), keys.end(), [&tiles](const Key &a, const Key &b) {
        if (a.rank != b.rank)
            return a.rank < b.rank;
        if (a.gas != b.gas)
            return a.gas > b.gas;
        return tiles[a.index].unit < tiles[b.index].unit;
    });
    std::vector<std::size_t> order;
    order.reserve(keys.size());
    for (const Key &key : keys)
        order.push_back(key.index);
    return order;
}

std::vector<TileCondition> conditionsOf(const Tile &tile, const Judgement &judged, int staleSeconds)
{
    std::vector<TileCondition> conditions;
    if (judged.noData) {
        const QString why = tile.linkLoss == QLatin1String("unit ended") ? QStringLiteral("CLOSED BY UNIT")
                                                                         : tile.linkLoss.toUpper();
        conditions.push_back({alerts::Kind::LinkLost, alerts::Level::Critical, QStringLiteral("LINK LOST, ") + why, {}});
        return conditions;
    }
    if (judged.stale) {
        conditions.push_back({alerts::Kind::NoData, alerts::Level::Critical,
                              QStringLiteral("NO DATA FOR %1 SECONDS").arg(staleSeconds), double(staleSeconds)});
        return conditions;
    }
    if (judged.level == readings::Level::VeryHigh)
        conditions.push_back({alerts::Kind::GasLevel, alerts::Level::Critical, QStringLiteral("VERY HIGH GAS UNITS"), tile.gas});
    else if (judged.level == readings::Level::High)
        conditions.push_back({alerts::Kind::GasLevel, alerts::Level::Warning, QStringLiteral("HIGH GAS UNITS"), tile.gas});
    if (judged.alarm) {
        conditions.push_back({alerts::Kind::UnitAlarm, alerts::Level::Warning,
                              QStringLiteral("ALARM ") + QString::number(tile.errorCode) + QLatin1Char(' ') + judged.alarmText,
                              tile.errorCode});
    }
    return conditions;
}

QString ageText(qint64 ageMs)
{
    const qint64 seconds = ageMs / 1000;
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    if (seconds < 3600)
        return QStringLiteral("%1 min").arg(seconds / 60);
    if (seconds < 86400)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
    return QStringLiteral("%1 d").arg(seconds / 86400);
}

} // namespace board
