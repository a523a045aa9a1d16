#pragma once

#include <functional>
#include <optional>

#include <QObject>
#include <QString>

#include "rules/alerts/alarmbook.h"
#include "rules/convert/result.h"

// The owner of the viewer's alarm list: the one AlarmBook, fed by the alert
// controller (the unit on the panel) and by the fleet board (every unit it
// follows), each change handed on as an event to record in the viewer's own
// history, and the book rebuilt from those events when the viewer starts.
// Acknowledgements carry the login name and the time.
class AlarmKeeper : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        // UTC milliseconds; none means the system clock.
        std::function<qint64()> clock;
        // Who acknowledges; empty means the login name.
        QString user;
    };

    explicit AlarmKeeper(Options options, QObject *parent = nullptr);
    explicit AlarmKeeper(QObject *parent = nullptr)
        : AlarmKeeper(Options(), parent)
    {
    }

    // Rebuilds the book from the alarm events a history holds from sinceMs
    // on (the viewer's own file, read-only). A history that is not there
    // yet is an empty book; a failure to read it, its reason. Rows whose
    // condition was lasting end now, since nothing follows them any more.
    Result<void> restore(const QString &historyPath, qint64 sinceMs);

    // A condition of a unit starts, changes level, or ends, now: the
    // entry for whatever knows a unit's state (the fleet board).
    void conditionStarted(const QString &unit, alerts::Kind kind, alerts::Level level, const QString &text,
                          std::optional<double> value);
    void conditionEnded(const QString &unit, alerts::Kind kind);
    // The alert controller's events of one step, of the unit on the panel
    // (its name in the history, unit). A condition that ends and starts
    // again in the same step changes level: its row is updated. The
    // controller's acknowledgement acknowledges that unit's rows.
    void follow(const alerts::AlertRules::Events &events, const QString &unit);

    // Acknowledged by the user, now.
    void acknowledge(const QString &unit, alerts::Kind kind);
    void acknowledgeUnit(const QString &unit);

    const alerts::AlarmBook &book() const { return m_book; }
    // For the fleet board's order.
    std::optional<alerts::Level> worstUnacknowledged(const QString &unit) const
    {
        return m_book.worstUnacknowledged(unit);
    }
    const QString &user() const { return m_user; }

    // The login name of the user running the viewer.
    static QString loginName();

signals:
    // The book changed (also when it was rebuilt).
    void changed();
    // What changed it, to record in the history.
    void changeMade(const alerts::AlarmChange &change);

private:
    qint64 now() const { return m_clock(); }
    void take(const std::optional<alerts::AlarmChange> &change);

    alerts::AlarmBook m_book;
    std::function<qint64()> m_clock;
    QString m_user;
};
