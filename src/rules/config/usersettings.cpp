#include "rules/config/usersettings.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QStringList>

#include "rules/files/safefile.h"

namespace {

// Settings for this run only: with no file name there is nothing to read
// and nothing is ever written.
std::unique_ptr<QSettings> keptInMemory()
{
    return std::make_unique<QSettings>(QString(), QSettings::IniFormat);
}

QString shownValue(const QVariant &value)
{
    // An INI value with commas reads as a list.
    return value.toStringList().join(QStringLiteral(", "));
}

} // namespace

QString userSettingsPath()
{
    // As QSettings names its file for the user's scope; the names are set
    // in main(), and tests leave the organisation out.
    QString organization = QCoreApplication::organizationName();
    if (organization.isEmpty())
        organization = QStringLiteral("Unknown Organization");
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QLatin1Char('/') + organization
           + QLatin1Char('/') + QCoreApplication::applicationName() + QStringLiteral(".conf");
}

UserSettings openUserSettings(const QString &path)
{
    const QString file = path.isEmpty() ? userSettingsPath() : path;
    const QString shown = QDir::toNativeSeparators(file);
    UserSettings result;
    const QString refusal = files::openRefusal(file);
    if (!refusal.isEmpty()) {
        result.file = failure(QStringLiteral("%1: %2; the defaults are used and nothing is saved").arg(shown, refusal));
        result.settings = keptInMemory();
        return result;
    }
    auto settings = std::make_unique<QSettings>(file, QSettings::IniFormat);
    switch (settings->status()) {
    case QSettings::NoError:
        result.settings = std::move(settings);
        break;
    case QSettings::AccessError:
        result.file = failure(QStringLiteral("cannot read %1; the defaults are used and nothing is saved").arg(shown));
        result.settings = keptInMemory();
        break;
    case QSettings::FormatError:
        // Written back, the file would lose the lines that did not read.
        result.file =
            failure(QStringLiteral("%1 has lines that are not settings; the rest is used and nothing is saved").arg(shown));
        result.settings = keptInMemory();
        for (const QString &key : settings->allKeys())
            result.settings->setValue(key, settings->value(key));
        break;
    }
    return result;
}

Result<int> wholeNumberSetting(const QSettings &settings, const QString &key, int fallback, int lowest)
{
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    if (ok && number >= lowest)
        return number;
    return failure(QStringLiteral("%1=%2 is not a whole number of at least %3; %4 is used")
                       .arg(key, shownValue(value))
                       .arg(lowest)
                       .arg(fallback));
}

Result<bool> onOffSetting(const QSettings &settings, const QString &key, bool fallback)
{
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return fallback;
    // A value the program wrote itself may still be a bool in this run.
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    const QString word = value.toString().trimmed().toLower();
    for (const char *on : {"true", "1", "on", "yes"}) {
        if (word == QLatin1String(on))
            return true;
    }
    for (const char *off : {"false", "0", "off", "no"}) {
        if (word == QLatin1String(off))
            return false;
    }
    return failure(QStringLiteral("%1=%2 is neither true nor false; %3 is used")
                       .arg(key, shownValue(value), fallback ? QStringLiteral("true") : QStringLiteral("false")));
}

QByteArray settingsReport(const QString &reason)
{
    return QByteArrayLiteral("[SETTINGS ERR: ") + reason.toLatin1() + ']';
}
