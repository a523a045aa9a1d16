#include "app/alerts/effectsound.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>

EffectSound::EffectSound(QObject *parent)
    : QObject(parent)
{
}

bool EffectSound::play(alerts::Tone tone)
{
    // Without an output QSoundEffect stays silent without a word; the caller
    // wants to know. The list is asked each time, so a headset plugged in
    // later is used.
    if (tone == alerts::Tone::None || QMediaDevices::audioOutputs().isEmpty())
        return false;
    const bool critical = tone == alerts::Tone::Critical;
    QSoundEffect *&effect = critical ? m_critical : m_warning;
    if (!effect) {
        // Made on first use: loading starts at once and a play() asked for
        // before the load ends starts when it does.
        effect = new QSoundEffect(this);
        effect->setSource(QUrl(critical ? QStringLiteral("qrc:/alerts/critical.wav")
                                        : QStringLiteral("qrc:/alerts/warning.wav")));
    }
    effect->play();
    return true;
}
