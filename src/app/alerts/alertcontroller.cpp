#include "app/alerts/alertcontroller.h"

#include <QSettings>

#include "app/alerts/effectsound.h"
#include "app/alerts/enginespeech.h"
#include "app/alerts/traynotifier.h"
#include "app/viewerwindow.h"
#include "link/unitlink.h"
#include "rules/stream/linkstate.h"
#include "rules/config/usersettings.h"

namespace {

const QString SoundKey = QStringLiteral("alerts/sound");
const QString StaleKey = QStringLiteral("alerts/staleSeconds");
const QString SpeechKey = QStringLiteral("alerts/speech");

// The stale limit, 0 or more; a slip in it falls back to the default with
// a report line.
int staleSetting(QSettings &settings, ViewerWindow &window)
{
    const Result<int> seconds = wholeNumberSetting(settings, StaleKey, alerts::AlertRules::DefaultStaleSeconds, 0);
    if (seconds)
        return *seconds;
    window.reportLine(settingsReport(seconds.reason()));
    return alerts::AlertRules::DefaultStaleSeconds;
}

// Sound and speech are on unless the operator turned them off; a slip in
// either leaves it on, with a report line.
bool onOff(QSettings &settings, const QString &key, ViewerWindow &window)
{
    const Result<bool> on = onOffSetting(settings, key, true);
    if (on)
        return *on;
    window.reportLine(settingsReport(on.reason()));
    return true;
}

} // namespace

AlertController::AlertController(ViewerWindow &window, AlertOptions options, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_settings(openUserSettings(options.settingsFile).settings)
    , m_rules(staleSetting(*m_settings, window))
    , m_sound(std::move(options.sound))
    , m_notifier(std::move(options.notifier))
    , m_speech(std::move(options.speech))
    , m_clock(std::move(options.clock))
    , m_gasLevels(std::move(options.gasLevels))
    , m_soundOn(onOff(*m_settings, SoundKey, window))
    , m_speechOn(onOff(*m_settings, SpeechKey, window))
{
    setObjectName(QStringLiteral("AlertController"));
    if (!m_sound)
        m_sound = std::make_unique<EffectSound>();
    if (!m_notifier)
        m_notifier = std::make_unique<TrayNotifier>(window.widget());
    if (!m_speech)
        m_speech = std::make_unique<EngineSpeech>();
    if (!m_clock) {
        m_sinceStart.start();
        m_clock = [this] { return m_sinceStart.elapsed(); };
    }

    // The link judges its readings stale by the limit set here.
    UnitLink &link = window.unitLink();
    link.setStaleSeconds(m_rules.staleSeconds());
    connect(&link, &UnitLink::stalenessChanged, this, [this, &link](readings::Staleness staleness) {
        take(m_rules.staleness(staleness, link.serial()));
    });
    connect(&link, &UnitLink::stateChanged, this, [this, &link](std::int16_t state) {
        // Each connection reads the unit's levels afresh, so a change made
        // at another desk holds from the next connection on.
        if (state == LinkState::Connected)
            m_levelsAsked = false;
        take(m_rules.linkState(state, link.serial()));
    });
    connect(&link, &UnitLink::readingAccepted, this, [this](const Reading &reading) {
        if (m_gasLevels && (!m_levelsAsked || reading.serial != m_levelsSerial)) {
            m_levelsAsked = true;
            m_levelsSerial = reading.serial;
            m_rules.setGasLevels(m_gasLevels(reading.serial));
        }
        take(m_rules.reading(reading));
    });
    connect(&link, &UnitLink::ticked, this, &AlertController::tick);
}

AlertController::~AlertController() = default;

void AlertController::acknowledge()
{
    take(m_rules.acknowledge());
}

void AlertController::mute()
{
    take(m_rules.mute(now()));
}

void AlertController::setSoundOn(bool on)
{
    m_soundOn = on;
    m_settings->setValue(SoundKey, on);
}

void AlertController::setSpeechOn(bool on)
{
    m_speechOn = on;
    m_settings->setValue(SpeechKey, on);
}

void AlertController::tick()
{
    take(m_rules.tick(now()));
}

void AlertController::take(const alerts::AlertRules::Events &events)
{
    if (!events.empty())
        emit alertEvents(events);
    for (const alerts::Event &event : events) {
        const QByteArray line = alerts::reportLine(event);
        m_window.reportLine(line);
        emit alertEvent(event.unit, alerts::eventKind(event.type), QString::fromLatin1(line.mid(1, line.size() - 2)));
        if (event.type == alerts::Event::Type::Started && !m_window.isActive()) {
            QString title = event.level == alerts::Level::Critical ? tr("Critical alert") : tr("Warning");
            if (!event.unit.isEmpty())
                title += tr(", unit ") + event.unit;
            m_notifier->notify(event.level, title, event.text);
        }
        speak(event);
    }
    m_window.showReadingsStale(m_window.unitLink().readingsStale());
    sound();
    const qint64 left = m_rules.muteLeftMs(now());
    const int seconds = static_cast<int>((left + 999) / 1000);
    if (seconds != m_muteSecondsLeft) {
        m_muteSecondsLeft = seconds;
        emit muteChanged(seconds);
    }
}

void AlertController::speak(const alerts::Event &event)
{
    const QString sentence = alerts::spokenSentence(event);
    if (sentence.isEmpty() || !m_speechOn)
        return;
    const Result<void> said = m_speech->say(sentence);
    if (!said && !m_speechFailureReported) {
        m_speechFailureReported = true;
        m_window.reportLine(QByteArrayLiteral("[ALERT ERR: ") + said.reason().toLatin1() + ']');
    }
}

void AlertController::sound()
{
    const alerts::Tone tone = m_rules.dueTone(now());
    if (tone == alerts::Tone::None || !m_soundOn)
        return;
    if (!m_sound->play(tone) && !m_noDeviceReported) {
        m_noDeviceReported = true;
        m_window.reportLine(QByteArrayLiteral("[ALERT ERR: no sound device]"));
    }
}
