#include "history/historynews.h"

#include <QSqlDriver>
#include <QTimer>
#include <QVariant>

#include "rules/files/safefile.h"

namespace {

HistoryLimits limits()
{
    HistoryLimits limits;
    limits.cacheKiB = HistoryNews::CacheKiB;
    return limits;
}

} // namespace

HistoryNews::HistoryNews(QObject *parent)
    : QObject(parent)
{
    m_poll = new QTimer(this);
    m_poll->setInterval(PollIntervalMs);
    connect(m_poll, &QTimer::timeout, this, &HistoryNews::poll);
}

HistoryNews::~HistoryNews()
{
    stop();
}

HistoryResult<void> HistoryNews::start(const QString &address)
{
    stop();
    m_address = address;
    const Result<sqldialect::Address, QString> parsed = sqldialect::parseAddress(address);
    m_file = files::identity(parsed ? parsed->path : address);
    if (const HistoryResult<void> opened = m_store.open(address, HistoryStore::Access::ReadOnly, limits()); !opened)
        return opened;
    if (m_store.engine() == sqldialect::Engine::Postgres) {
        QSqlDriver *driver = m_store.database().driver();
        if (!driver->subscribeToNotification(sqldialect::NewsChannel)) {
            const QString reason = driver->lastError().text();
            m_store.close();
            return failure(HistoryError{sqldialect::Failure::Other,
                                        QStringLiteral("cannot follow %1: %2").arg(address, reason)});
        }
        connect(driver, &QSqlDriver::notification, this, &HistoryNews::notified);
        return {};
    }
    // What the file holds now is no news.
    const HistoryResult<QHash<QString, QPair<qint64, qint64>>> now = m_store.latestByUnit();
    if (!now) {
        m_store.close();
        return now.failed();
    }
    m_seen = *now;
    m_poll->start();
    return {};
}

void HistoryNews::stop()
{
    m_poll->stop();
    m_seen.clear();
    if (m_store.isOpen() && m_store.engine() == sqldialect::Engine::Postgres) {
        QSqlDriver *driver = m_store.database().driver();
        disconnect(driver, nullptr, this, nullptr);
        driver->unsubscribeFromNotification(sqldialect::NewsChannel);
    }
    m_store.close();
}

std::optional<qint64> HistoryNews::latestEventMs(const QString &unit) const
{
    const auto found = m_seen.constFind(unit);
    if (found == m_seen.cend())
        return std::nullopt;
    return found->second;
}

void HistoryNews::poll()
{
    // The file afresh once the name stands for another, so that one the
    // recorder moved aside and started again is followed; one missing for
    // a moment is looked at again in a second.
    const Result<sqldialect::Address, QString> address = sqldialect::parseAddress(m_address);
    const std::optional<files::Identity> file = files::identity(address ? address->path : m_address);
    if (!m_store.isOpen() || !file || file != m_file) {
        m_file = file;
        if (!m_store.open(m_address, HistoryStore::Access::ReadOnly, limits()))
            return;
    }
    const HistoryResult<QHash<QString, QPair<qint64, qint64>>> now = m_store.latestByUnit();
    // A file busy for a moment is looked at again in a second.
    if (!now)
        return;
    QStringList changed;
    for (auto unit = now->begin(); unit != now->end(); ++unit) {
        if (m_seen.value(unit.key(), {-1, -1}) != unit.value())
            changed << unit.key();
    }
    m_seen = *now;
    if (changed.isEmpty())
        return;
    changed.sort();
    emit unitsChanged(changed);
}

void HistoryNews::notified(const QString &channel, QSqlDriver::NotificationSource, const QVariant &payload)
{
    if (channel != sqldialect::NewsChannel)
        return;
    QStringList units = payload.toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (units.isEmpty())
        return;
    units.sort();
    units.removeDuplicates();
    emit unitsChanged(units);
}
