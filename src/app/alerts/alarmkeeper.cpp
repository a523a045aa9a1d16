#include "app/alerts/alarmkeeper.h"

#include <algorithm>

#include <QtGlobal>
#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

#include <QDateTime>
#include <QFileInfo>

#include "history/gaslevelstore.h"
#include "rules/files/safefile.h"
#include "history/historystore.h"
#include "history/sqldialect.h"

AlarmKeeper::AlarmKeeper(Options options, QObject *parent)
    : QObject(parent)
    , m_clock(std::move(options.clock))
    , m_user(options.user.isEmpty() ? loginName() : options.user)
{
    setObjectName(QStringLiteral("AlarmKeeper"));
    if (!m_clock)
        m_clock = [] { return QDateTime::currentMSecsSinceEpoch(); };
}

QString AlarmKeeper::loginName()
{
    for (const char *name : {"USER", "LOGNAME", "USERNAME"}) {
        const QString user = qEnvironmentVariable(name).trimmed();
        if (!user.isEmpty())
            return user;
    }
#ifdef Q_OS_UNIX
    // A session without the variables (a service, a kiosk): the account's
    // own name.
    if (const passwd *account = getpwuid(geteuid()); account && account->pw_name && *account->pw_name)
        return QString::fromLocal8Bit(account->pw_name);
#endif
    return tr("unknown user");
}

Result<void> AlarmKeeper::restore(const QString &historyPath, qint64 sinceMs)
{
    const Result<sqldialect::Address, QString> address = sqldialect::parseAddress(historyPath);
    // Nothing to rebuild from a file that is not there; one that is no
    // regular file is the recorder's to report, once, and is never opened.
    if (address && address->engine == sqldialect::Engine::Sqlite
        && (!QFileInfo::exists(address->path) || !files::openRefusal(address->path).isEmpty()))
        return {};
    HistoryStore store;
    if (const HistoryResult<void> opened = store.open(historyPath, HistoryStore::Access::ReadOnly); !opened)
        return failure(opened.reason().text);
    const HistoryResult<std::vector<history::EventRow>> events =
        history::eventsOfEveryUnit(store, alerts::AlarmBook::eventKinds(), sinceMs);
    if (!events)
        return failure(events.reason().text);
    alerts::AlarmBook book;
    for (const history::EventRow &event : *events)
        book.replay({event.timeMs, event.unit, event.kind, event.detail});
    m_book = std::move(book);
    // Nothing follows a condition that was lasting when the viewer stopped:
    // as far as the list can tell it is over, and it ends now (recorded as
    // any end). One that still holds starts again with the next reading of
    // its unit, on the panel or the board, and so updates its row.
    std::vector<alerts::AlarmChange> ends;
    for (const alerts::AlarmRow &row : m_book.rows()) {
        if (row.lasting()) {
            if (const std::optional<alerts::AlarmChange> change = m_book.end(row.unit, row.kind, now()))
                ends.push_back(*change);
        }
    }
    for (const alerts::AlarmChange &change : ends)
        emit changeMade(change);
    emit changed();
    return {};
}

void AlarmKeeper::conditionStarted(const QString &unit, alerts::Kind kind, alerts::Level level, const QString &text,
                                   std::optional<double> value)
{
    take(m_book.start(unit, kind, level, text, value, now()));
}

void AlarmKeeper::conditionEnded(const QString &unit, alerts::Kind kind)
{
    take(m_book.end(unit, kind, now()));
}

void AlarmKeeper::follow(const alerts::AlertRules::Events &events, const QString &unit)
{
    using Type = alerts::Event::Type;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const alerts::Event &event = events[i];
        switch (event.type) {
        case Type::Started:
            conditionStarted(unit, event.kind, event.level, event.text, event.value);
            break;
        case Type::Ended: {
            const bool startsAgain = std::any_of(events.begin() + i + 1, events.end(), [&](const alerts::Event &later) {
                return later.type == Type::Started && later.kind == event.kind;
            });
            if (!startsAgain)
                conditionEnded(unit, event.kind);
            break;
        }
        case Type::Acknowledged:
            acknowledgeUnit(unit);
            break;
        case Type::Muted:
        case Type::Unmuted:
            break;
        }
    }
}

void AlarmKeeper::acknowledge(const QString &unit, alerts::Kind kind)
{
    take(m_book.acknowledge(unit, kind, m_user, now()));
}

void AlarmKeeper::acknowledgeUnit(const QString &unit)
{
    take(m_book.acknowledgeUnit(unit, m_user, now()));
}

void AlarmKeeper::take(const std::optional<alerts::AlarmChange> &change)
{
    if (!change)
        return;
    emit changeMade(*change);
    emit changed();
}
