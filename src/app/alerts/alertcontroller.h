#pragma once

#include <functional>
#include <memory>

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include "app/alerts/alertoutputs.h"
#include "rules/alerts/alertrules.h"

class QSettings;
class ViewerWindow;

// What the alert controller is given from outside; every member has a
// default, which is what the program itself uses.
struct AlertOptions
{
    // The tones; none means Qt Multimedia.
    std::unique_ptr<AlertSound> sound;
    // Messages outside the window; none means the system tray.
    std::unique_ptr<AlertNotifier> notifier;
    // The spoken alerts; none means Qt's text to speech.
    std::unique_ptr<AlertSpeech> speech;
    // Milliseconds of a steady clock; none means the time since start-up.
    std::function<qint64()> clock;
    // The settings file; empty means the user's settings of the program.
    QString settingsFile;
    // A unit's own gas levels, by the serial as typed, asked at the first
    // reading of each connection; none means the defaults for every unit.
    std::function<readings::GasLevels(const QString &serial)> gasLevels;
};

// Wires the alert rules to the main window: it follows the unit link (its
// state, readings, staleness and 100 ms tick), writes each start,
// acknowledgement and end to the traffic window, plays the tones, shows a
// desktop message while the window is not the active one, and has the
// readings drawn dimmed while the link says they are stale. When a critical
// condition starts it also says so aloud, once. It tells every window how
// long the mute still runs. Its settings are remembered: the sound
// ("alerts/sound", on unless false), the spoken alerts ("alerts/speech", on
// unless false) and the stale limit in seconds ("alerts/staleSeconds", 30;
// 0 turns the no-data alert and the dimming off), which it gives the link.
class AlertController : public QObject
{
    Q_OBJECT

public:
    explicit AlertController(ViewerWindow &window, AlertOptions options = {}, QObject *parent = nullptr);
    ~AlertController() override;

    void acknowledge();
    void mute();
    void setSoundOn(bool on);
    bool soundOn() const { return m_soundOn; }
    void setSpeechOn(bool on);
    bool speechOn() const { return m_speechOn; }
    // Whole seconds the mute still runs, rounded up; 0 when not muted.
    int muteSecondsLeft() const { return m_muteSecondsLeft; }
    const alerts::AlertRules &rules() const { return m_rules; }

    // One step of the mute clock and of the tone repeat. The link's tick
    // drives it.
    void tick();

signals:
    // Every start, acknowledgement and end, as it is recorded in the
    // history: the unit (empty for acknowledgements and mutes), the kind
    // ("alert start", ...) and the report line's text without brackets.
    void alertEvent(const QString &unit, const QString &kind, const QString &text);
    // The events of one step together, in order, for the alarm list: a
    // level change ends a condition and starts it again in the same step.
    void alertEvents(const alerts::AlertRules::Events &events);
    // The mute began, counted down a second, or ended (0).
    void muteChanged(int secondsLeft);

private:
    qint64 now() const { return m_clock(); }
    void take(const alerts::AlertRules::Events &events);
    void sound();
    void speak(const alerts::Event &event);

    ViewerWindow &m_window;
    std::unique_ptr<QSettings> m_settings;
    alerts::AlertRules m_rules;
    std::unique_ptr<AlertSound> m_sound;
    std::unique_ptr<AlertNotifier> m_notifier;
    std::unique_ptr<AlertSpeech> m_speech;
    QElapsedTimer m_sinceStart;
    std::function<qint64()> m_clock;
    std::function<readings::GasLevels(const QString &serial)> m_gasLevels;
    // The serial whose levels the rules hold, and whether this connection
    // asked for them yet.
    QString m_levelsSerial;
    bool m_levelsAsked = false;
    bool m_soundOn = true;
    bool m_noDeviceReported = false;
    bool m_speechOn = true;
    bool m_speechFailureReported = false;
    int m_muteSecondsLeft = 0;
};
