#include "history/trendsource.h"

#include <cmath>
#include <limits>

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include "history/historyrows.h"
#include "history/historystore.h"

namespace trends {

namespace {

struct MarkedKind
{
    const char *kind;  // as the history records it
    EventMark::Kind mark;
    const char *prefix;  // put in front of the recorded detail
};

const MarkedKind MarkedKinds[] = {
    {"alarm start", EventMark::Kind::Alarm, "Alarm "},
    {"alert start", EventMark::Kind::Alarm, ""},
    {"connected", EventMark::Kind::Link, ""},
    {"disconnected", EventMark::Kind::Link, ""},
    {"unit ended", EventMark::Kind::Link, ""},
    {"link error", EventMark::Kind::Link, ""},
};

QString queryError(const QSqlQuery &query)
{
    const QSqlError error = query.lastError();
    return QStringLiteral("cannot read the history: %1")
        .arg((error.databaseText().isEmpty() ? error.text() : error.databaseText()).trimmed());
}

} // namespace

std::optional<std::vector<EventMark>> historyEvents(HistoryStore &store, const QString &unit, qint64 fromMs,
                                                    qint64 toMs, QString *error)
{
    QStringList marks;
    for (std::size_t i = 0; i < std::size(MarkedKinds); ++i)
        marks << QStringLiteral("?");
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT time_ms, kind, detail FROM events WHERE unit = ? AND time_ms >= ?"
                                 " AND time_ms < ? AND kind IN (%1) ORDER BY time_ms")
                      .arg(marks.join(QLatin1Char(','))));
    query.addBindValue(unit);
    query.addBindValue(fromMs);
    query.addBindValue(toMs);
    for (const MarkedKind &kind : MarkedKinds)
        query.addBindValue(QString::fromLatin1(kind.kind));
    if (!query.exec()) {
        if (error)
            *error = queryError(query);
        return std::nullopt;
    }
    std::vector<EventMark> events;
    while (query.next()) {
        const QString kind = query.value(1).toString();
        for (const MarkedKind &known : MarkedKinds) {
            if (kind == QLatin1String(known.kind)) {
                events.push_back({query.value(0).toLongLong(), known.mark,
                                  QLatin1String(known.prefix) + query.value(2).toString()});
                break;
            }
        }
    }
    if (query.lastError().isValid()) {
        if (error)
            *error = queryError(query);
        return std::nullopt;
    }
    return events;
}

std::optional<std::vector<RecordedUnit>> recordedUnits(HistoryStore &store)
{
    QSqlQuery query(store.database());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT u.unit, (SELECT MIN(time_ms) FROM readings r WHERE r.unit = u.unit)"
                                   " FROM units u ORDER BY u.unit")))
        return std::nullopt;
    std::vector<RecordedUnit> units;
    while (query.next()) {
        if (!query.isNull(1))
            units.push_back({query.value(0).toString(), query.value(1).toLongLong()});
    }
    return units;
}

HistoryReadings::HistoryReadings(HistoryStore &store, const QString &unit, qint64 fromMs, qint64 toMs)
    : m_query(std::make_unique<QSqlQuery>(store.database()))
{
    QString columns;
    for (const ChannelInfo &info : channelTable()) {
        if (info.column)
            columns += QStringLiteral(", ") + QLatin1String(info.column);
    }
    m_query->setForwardOnly(true);
    m_query->prepare(QStringLiteral("SELECT time_ms%1 FROM readings WHERE unit = ? AND time_ms >= ? AND time_ms < ?"
                                    " ORDER BY time_ms")
                         .arg(columns));
    m_query->addBindValue(unit);
    m_query->addBindValue(fromMs);
    m_query->addBindValue(toMs);
}

HistoryReadings::~HistoryReadings() = default;

bool HistoryReadings::readSome(int maxRows, const std::function<void(const Sample &)> &take)
{
    if (m_done)
        return true;
    if (!m_query->isActive() && !m_query->exec()) {
        m_error = queryError(*m_query);
        return false;
    }
    for (int row = 0; row < maxRows; ++row) {
        if (!m_query->next()) {
            if (m_query->lastError().isValid()) {
                m_error = queryError(*m_query);
                return false;
            }
            // Finished, so the read transaction ends now.
            m_query->finish();
            m_done = true;
            return true;
        }
        Sample sample;
        sample.timeMs = m_query->value(0).toLongLong();
        int position = 1;
        for (int c = 0; c < ChannelCount; ++c) {
            if (!channelTable()[static_cast<std::size_t>(c)].column)
                continue;
            const QVariant value = m_query->value(position++);
            if (!value.isNull())
                sample.values[static_cast<std::size_t>(c)] = value.toDouble();
        }
        addRatios(sample);
        ++m_read;
        take(sample);
    }
    return true;
}

} // namespace trends
