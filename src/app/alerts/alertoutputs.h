#pragma once

#include <QString>

#include "rules/alerts/alertrules.h"
#include "rules/convert/result.h"

// What the alert controller needs from the desktop, behind small interfaces
// so that tests record what would have been played or shown.

class AlertSound
{
public:
    virtual ~AlertSound() = default;
    // Starts the tone once, without waiting for it; false when there is no
    // device to play it on.
    virtual bool play(alerts::Tone tone) = 0;
};

class AlertNotifier
{
public:
    virtual ~AlertNotifier() = default;
    // A message outside the main window, where the desktop offers a place.
    virtual void notify(alerts::Level level, const QString &title, const QString &message) = 0;
};

class AlertSpeech
{
public:
    virtual ~AlertSpeech() = default;
    // Starts saying the sentence, without waiting for it (one said before
    // is finished first); the reason when there is no engine to say it
    // with.
    virtual Result<void> say(const QString &sentence) = 0;
};
