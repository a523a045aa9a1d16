#pragma once

#include <optional>

#include <QHash>
#include <QPair>
#include <QObject>
#include <QSqlDriver>
#include <QString>
#include <QStringList>

#include "history/historystore.h"
#include "rules/files/safefile.h"

class QTimer;

// Which units' history changed, as the writers commit, for a reader that
// shows them and refreshes only those. On a server it listens on the
// channel every writer notifies after each commit (no query while nothing
// changes); on a file, which cannot notify, it looks once a second at each
// unit's latest row, opening the file afresh once its name stands for
// another (moved aside and started again). The same signal either way.
class HistoryNews : public QObject
{
    Q_OBJECT

public:
    static constexpr int PollIntervalMs = 1000;
    // A file's pages kept between two looks (KiB): each look reads every
    // unit's latest rows, which the writers have mostly changed since. The
    // fleet board's reader keeps as many.
    static constexpr int CacheKiB = 512;

    explicit HistoryNews(QObject *parent = nullptr);
    ~HistoryNews() override;

    // Follows the history at the address (a file or a server) on a
    // connection of its own, read-only.
    HistoryResult<void> start(const QString &address);
    void stop();

    // A unit's latest event (UTC milliseconds, -1 for none) as of the last
    // look at a file, so that a reader of the units named in news asks for
    // events only when one came; none on a server, or for a unit not seen.
    std::optional<qint64> latestEventMs(const QString &unit) const;

signals:
    // Units whose rows changed since the last news, in order of the unit.
    void unitsChanged(const QStringList &units);

private:
    void poll();
    void notified(const QString &channel, QSqlDriver::NotificationSource source, const QVariant &payload);

    QString m_address;
    HistoryStore m_store;
    std::optional<files::Identity> m_file;  // the file m_store opened
    QTimer *m_poll = nullptr;
    QHash<QString, QPair<qint64, qint64>> m_seen;
};
