#pragma once

#include <QObject>

#include "app/alerts/alertoutputs.h"

class QSoundEffect;

// The two alert tones, compiled into the program, played through Qt
// Multimedia on the default audio output.
class EffectSound : public QObject, public AlertSound
{
    Q_OBJECT

public:
    explicit EffectSound(QObject *parent = nullptr);

    bool play(alerts::Tone tone) override;

private:
    QSoundEffect *m_warning = nullptr;
    QSoundEffect *m_critical = nullptr;
};
