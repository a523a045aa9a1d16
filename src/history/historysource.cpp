#include "history/historysource.h"

#include <QSettings>

#include "history/sqldialect.h"
#include "rules/config/usersettings.h"

HistorySource::HistorySource(QString localPath, QObject *parent)
    : QObject(parent)
    , m_localPath(std::move(localPath))
{
    const UserSettings opened = openUserSettings();
    const QString stored = opened.settings->value(QLatin1String(SettingKey)).toString().trimmed();
    if (stored.isEmpty())
        return;
    const QString why = refusal(stored);
    if (why.isEmpty()) {
        m_server = stored;
        return;
    }
    // The stored text is not repeated: it may carry a password someone
    // wrote into the file by hand.
    m_problem = QStringLiteral("[SETTINGS ERR: %1 cannot be read: %2; the local history is read]")
                    .arg(QLatin1String(SettingKey), why)
                    .toLatin1();
}

QString HistorySource::refusal(const QString &server)
{
    const QString text = server.trimmed();
    if (!sqldialect::isServerAddress(text))
        return QStringLiteral("a shared history is named by a PostgreSQL connection URI"
                              " (postgresql://user@host:port/dbname?sslmode=require)");
    const Result<sqldialect::Address, QString> address = sqldialect::parseAddress(text);
    return address ? QString() : address.reason();
}

Result<void> HistorySource::choose(const QString &server)
{
    const QString text = server.trimmed();
    if (!text.isEmpty()) {
        if (const QString why = refusal(text); !why.isEmpty())
            return failure(why);
    }
    m_problem.clear();
    {
        const UserSettings opened = openUserSettings();
        if (text.isEmpty())
            opened.settings->remove(QLatin1String(SettingKey));
        else
            opened.settings->setValue(QLatin1String(SettingKey), text);
    }
    if (text == m_server)
        return {};
    m_server = text;
    emit changed();
    return {};
}
