#pragma once

#include <memory>

#include <QByteArray>
#include <QList>
#include <QSettings>
#include <QString>

#include "rules/convert/result.h"

// The user's settings of the viewer (alerts, history, windows), one INI
// file: ~/.config/rtviewer/rtviewer.conf under the program's own names.
//
// The file is read only when it is a regular file or absent: a named pipe
// there would hold the start-up for good, and a link to a device would
// have the settings written into the device at exit. Such a file, or one
// that cannot be read, leaves the defaults and settings that are kept for
// this run only and never written back, with the reason.
struct UserSettings
{
    std::unique_ptr<QSettings> settings;
    // Whether the file serves, or why it does not.
    Result<void> file;
};

// Where the settings of this program's organisation and application names
// live: the file QSettings() reads and writes.
QString userSettingsPath();

// The settings of the file at path, or of userSettingsPath() when path is
// empty.
UserSettings openUserSettings(const QString &path = QString());

// A setting that is a whole number of at least lowest, or fallback when it
// is not set; anything else (a typing slip, a negative number) fails with
// the reason, which names the fallback the caller then uses.
Result<int> wholeNumberSetting(const QSettings &settings, const QString &key, int fallback, int lowest);

// A setting that is on or off ("true" or "false", as the program writes
// it; "1" and "0", "on" and "off", "yes" and "no" are read too), or
// fallback when it is not set; anything else fails with the reason, which
// names the fallback the caller then uses.
Result<bool> onOffSetting(const QSettings &settings, const QString &key, bool fallback);

// The line for the traffic window that says what is wrong with a setting
// or the settings file.
QByteArray settingsReport(const QString &reason);
