#include "app/viewerextras.h"

#include <algorithm>
#include <memory>

#include <QAction>
#include <QActionGroup>
#include <QBoxLayout>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QMenu>
#include <QSettings>
#include <QWidget>

#include "app/alerts/alarmkeeper.h"
#include "app/alerts/alarmlistwindow.h"
#include "app/alerts/alertcontroller.h"
#include "app/alerts/muteindicator.h"
#include "app/aboutbox.h"
#include "app/fleet/fleetboard.h"
#include "app/viewerwindow.h"
#include "rules/config/lookupfile.h"
#include "rules/config/settingsfile.h"
#include "rules/config/usersettings.h"
#include "app/display/panellayout.h"
#include "app/history/historyexportdialog.h"
#include "history/gaslevelstore.h"
#include "history/historyfile.h"
#include "history/historyrecorder.h"
#include "history/historyprobe.h"
#include "history/historysource.h"
#include "app/history/historysourcedialog.h"
#include "link/unitlink.h"
#include "app/stream/trafficwindow.h"
#include "app/trends/trendswindow.h"

namespace {

const QString ZoomKey = QStringLiteral("panel/zoom");

// The panel's scale as the operator last chose it; anything but one of the
// steps gives 100 % and a report line.
int zoomSetting(const QSettings &settings, QList<QByteArray> &reports)
{
    const QVariant value = settings.value(ZoomKey);
    if (!value.isValid())
        return 100;
    bool ok = false;
    const int percent = value.toString().trimmed().toInt(&ok);
    const auto &steps = panel::ZoomSteps;
    if (ok && std::find(steps.begin(), steps.end(), percent) != steps.end())
        return percent;
    QStringList shown;
    for (const int step : steps)
        shown << QString::number(step);
    reports.append(QStringLiteral("[SETTINGS ERR: %1=%2 is not one of %3; 100 is used]")
                       .arg(ZoomKey, value.toStringList().join(QStringLiteral(", ")),
                            shown.join(QStringLiteral(", ")))
                       .toLatin1());
    return 100;
}

} // namespace

ViewerExtras::ViewerExtras(ViewerWindow &window)
    : QObject(&window.widget())
    , m_window(window)
{
    setObjectName(QStringLiteral("ViewerExtras"));
    // The user's settings, read here first, where what is wrong with them
    // is reported once; every other reader opens them the same way.
    UserSettings opened = openUserSettings();
    QSettings &settings = *opened.settings;
    if (!opened.file)
        window.reportLine(settingsReport(opened.file.reason()));
    addEntry(tr("About…"), QKeySequence(Qt::Key_F1), [this] { showAbout(); });
    addEntry(tr("Trends…"), QKeySequence(Qt::Key_F2), [this] { showTrends(); });

    // A unit's own gas levels, as the viewer's history keeps them, asked at
    // the first reading of each connection; the history names units as the
    // lookup table does.
    m_units = std::make_shared<UnitResolver>(programFilePath(window.programDirectory(), "RDVlookup.TXT"));
    AlertOptions alertOptions;
    alertOptions.gasLevels = [this](const QString &serial) { return gasLevelsOf(serial); };
    m_alerts = new AlertController(window, std::move(alertOptions), this);
    addEntry(tr("Acknowledge alerts"), QKeySequence(Qt::Key_F3), [this] { m_alerts->acknowledge(); });
    addEntry(tr("Mute for 15 minutes"), QKeySequence(Qt::Key_F4), [this] { m_alerts->mute(); });
    QAction *sound = addEntry(tr("Alert sound"), QKeySequence(), [this] { m_alerts->setSoundOn(!m_alerts->soundOn()); });
    sound->setCheckable(true);
    sound->setChecked(m_alerts->soundOn());
    QAction *speech = addEntry(tr("Speak critical alerts"), QKeySequence(),
                               [this] { m_alerts->setSpeechOn(!m_alerts->speechOn()); });
    speech->setCheckable(true);
    speech->setChecked(m_alerts->speechOn());
    adopt(window.widget());

    // The history: recording is on unless the operator turned it off, and
    // the number of days kept is a setting ("history/retentionDays"). A
    // slip in it must not delete weeks of readings at start-up.
    HistoryRecorder::Options history;
    history.path = historyDatabasePath();
    const Result<int> days = wholeNumberSetting(settings, QStringLiteral("history/retentionDays"),
                                                HistoryRecorder::DefaultRetentionDays, 1);
    history.retentionDays = days ? *days : HistoryRecorder::DefaultRetentionDays;
    // A unit's readings are recorded under the unit its serial resolves to
    // in the table the connection uses.
    history.lookupPath = programFilePath(window.programDirectory(), "RDVlookup.TXT");
    if (!days)
        window.reportLine(settingsReport(days.reason()));
    m_history = new HistoryRecorder(window.unitLink().unit(), history, this);
    m_source = new HistorySource(history.path, this);
    if (!m_source->problem().isEmpty())
        window.reportLine(m_source->problem());
    m_sourceProbe = new HistoryProbe(this);
    connect(m_sourceProbe, &HistoryProbe::answered, this, [this](const QString &address, const QString &failure) {
        if (!failure.isEmpty() && address == m_source->server())
            m_window.reportLine(QStringLiteral("[HISTORY ERR: the history source cannot be read: %1; the local history "
                                               "is read meanwhile]")
                                    .arg(failure)
                                    .toLatin1());
    });
    connect(m_source, &HistorySource::changed, this, &ViewerExtras::probeSource);
    connect(m_source, &HistorySource::changed, this, [this] {
        if (m_trends)
            m_trends->setSource(m_source->address());
        if (m_export)
            m_export->followSource(m_source->address(), m_source->localPath());
    });
    probeSource();
    connect(m_history, &HistoryRecorder::reportLine, this, [this](const QByteArray &line) { m_window.reportLine(line); });
    connect(&window.trafficWindow(), &TrafficWindow::lineAppended, m_history, &HistoryRecorder::recordReportLine);
    connect(m_alerts, &AlertController::alertEvent, m_history,
            [this](const QString &unit, const QString &kind, const QString &text) { m_history->recordEvent(unit, kind, text); });
    QAction *record = addEntry(tr("Record history"), QKeySequence(), [] {});
    record->setCheckable(true);
    record->setChecked(settings.value(QStringLiteral("history/record"), true).toBool());
    connect(record, &QAction::toggled, this, &ViewerExtras::setHistoryRecording);
    m_history->setRecording(record->isChecked());
    addEntry(tr("Export history…"), QKeySequence(Qt::Key_F5), [this] { exportHistory(); });
    addEntry(tr("History source…"), QKeySequence(), [this] { chooseHistorySource(); });
    setUpAlarms(history.retentionDays);
    addEntry(tr("Fleet…"), QKeySequence(Qt::Key_F6), [this] { showFleet(); });

    // The whole panel larger, to be read across a room.
    QList<QByteArray> zoomSlips;
    const int zoom = zoomSetting(settings, zoomSlips);
    for (const QByteArray &line : std::as_const(zoomSlips))
        window.reportLine(line);
    QMenu *zoomMenu = window.extrasMenu()->addMenu(tr("Zoom"));
    zoomMenu->setObjectName(QStringLiteral("mnu_zoom"));
    auto *zoomSteps = new QActionGroup(zoomMenu);
    for (const int percent : panel::ZoomSteps) {
        QAction *step = zoomMenu->addAction(QStringLiteral("%1 %").arg(percent));
        step->setCheckable(true);
        step->setChecked(percent == zoom);
        zoomSteps->addAction(step);
        connect(step, &QAction::triggered, this, [this, percent] { setZoom(percent); });
    }
    window.setZoom(zoom);
}

ViewerExtras::~ViewerExtras()
{
    delete m_about.data();
    delete m_trends.data();
    delete m_alarmList.data();
    delete m_fleet.data();
}

QAction *ViewerExtras::addEntry(const QString &text, const QKeySequence &key, std::function<void()> triggered)
{
    auto *action = new QAction(text, &m_window.widget());
    if (!key.isEmpty()) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        m_window.widget().addAction(action);
        m_keyed.push_back(action);
        for (const QPointer<QWidget> &window : m_adopted) {
            if (window)
                window->addAction(action);
        }
    }
    connect(action, &QAction::triggered, this, [triggered = std::move(triggered)] { triggered(); });
    m_window.extrasMenu()->addAction(action);
    return action;
}

void ViewerExtras::adopt(QWidget &window)
{
    // The main window has its keys and its menu already.
    if (&window != &m_window.widget()) {
        for (QAction *action : m_keyed)
            window.addAction(action);
        window.installEventFilter(this);
        m_adopted.emplace_back(&window);
    }
    // The main window's panel has no room to spare: its indicator stands in
    // the place the window offers.
    QWidget &place = &window == &m_window.widget() ? m_window.indicatorPlace() : window;
    auto *muted = new MuteIndicator(*m_alerts, &place);
    if (auto *layout = qobject_cast<QBoxLayout *>(place.layout()))
        layout->insertWidget(0, muted);
    else
        muted->keepAtRightEnd();
}

bool ViewerExtras::eventFilter(QObject *watched, QEvent *event)
{
    // A right-click that no control of an adopted window took opens the
    // main window's menu, as it does there.
    if (event->type() == QEvent::ContextMenu && watched->isWidgetType()
        && !m_window.extrasMenu()->actions().isEmpty()) {
        m_window.extrasMenu()->popup(static_cast<QContextMenuEvent *>(event)->globalPos());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void ViewerExtras::setHistoryRecording(bool on)
{
    openUserSettings().settings->setValue(QStringLiteral("history/record"), on);
    m_history->setRecording(on);
}

void ViewerExtras::setZoom(int percent)
{
    openUserSettings().settings->setValue(ZoomKey, percent);
    m_window.setZoom(percent);
}

void ViewerExtras::exportHistory()
{
    // F5 in the export window itself brings it forward rather than opening
    // a second one.
    if (m_export) {
        m_export->raise();
        m_export->activateWindow();
        return;
    }
    // The history chosen as the source; what the recorder gathered in the
    // last second belongs in an export of the viewer's own file too.
    if (!m_source->isServer())
        m_history->flush();
    HistoryExportSource source;
    source.address = m_source->address();
    source.localPath = m_source->localPath();
    source.beforeExport = [this] {
        if (!m_source->isServer())
            m_history->flush();
    };
    source.report = [this](const QByteArray &line) { m_window.reportLine(line); };
    UnitResolver units(m_history->options().lookupPath);
    auto *dialog = new HistoryExportDialog(source, units.unitOf(m_window.chosenUnit()), &m_window.widget());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    adopt(*dialog);
    m_export = dialog;
    dialog->open();
}

void ViewerExtras::chooseHistorySource()
{
    if (!m_sourceDialog) {
        m_sourceDialog = new HistorySourceDialog(*m_source, &m_window.widget());
        m_sourceDialog->setAttribute(Qt::WA_DeleteOnClose);
        adopt(*m_sourceDialog);
    }
    m_sourceDialog->show();
    m_sourceDialog->raise();
    m_sourceDialog->activateWindow();
}

void ViewerExtras::probeSource()
{
    if (m_source->isServer())
        m_sourceProbe->probe(m_source->server());
}

void ViewerExtras::showTrends()
{
    if (!m_trends) {
        TrendsOptions options;
        options.historyPath = m_history->options().path;
        options.source = m_source->address();
        options.beforeReading = [this] { m_history->flush(); };
        // The window names units as the history does: 1001 typed in the
        // serial box is the unit 0001 of the lookup table.
        auto units = std::make_shared<UnitResolver>(m_history->options().lookupPath);
        options.chosenUnit = [this, units] { return units->unitOf(m_window.chosenUnit()); };
        options.unitOf = [units](const QString &serial) { return units->unitOf(serial); };
        m_trends = new TrendsWindow(m_window.unitLink(), options);
        m_trends->setAttribute(Qt::WA_DeleteOnClose);
        adopt(*m_trends);
    }
    m_trends->present();
}

void ViewerExtras::showFleet()
{
    if (!m_fleet) {
        FleetBoardOptions options;
        options.staleSeconds = m_alerts->rules().staleSeconds();
        options.openTrends = [this](const QString &unit) {
            showTrends();
            m_trends->showUnit(unit);
        };
        options.watch = [this](const QString &unit) { m_window.watchUnit(unit); };
        // The tiles' conditions go to the alarm list, and a critical tile
        // whose rows there are all acknowledged steps down the board.
        options.conditionStarted = [this](const QString &unit, const board::TileCondition &condition) {
            m_alarms->conditionStarted(unit, condition.kind, condition.level, condition.text, condition.value);
        };
        options.conditionEnded = [this](const QString &unit, alerts::Kind kind) { m_alarms->conditionEnded(unit, kind); };
        options.acknowledged = [this](const QString &unit) {
            return m_alarms->worstUnacknowledged(unit) != alerts::Level::Critical;
        };
        m_fleet = new FleetBoard(options);
        m_fleet->setAttribute(Qt::WA_DeleteOnClose);
        adopt(*m_fleet);
        connect(m_source, &HistorySource::changed, m_fleet, [this] { m_fleet->follow(m_source->address()); });
    }
    // What the viewer recorded in the last second belongs on the board too.
    if (!m_source->isServer())
        m_history->flush();
    m_fleet->follow(m_source->address());
    m_fleet->present();
}

void ViewerExtras::setUpAlarms(int retentionDays)
{
    m_alarms = new AlarmKeeper(this);
    // The alerts of the unit on the panel, under its name in the history.
    connect(m_alerts, &AlertController::alertEvents, m_alarms, [this](const alerts::AlertRules::Events &events) {
        QString serial = m_window.unitLink().serial();
        for (const alerts::Event &event : events) {
            if (!event.unit.isEmpty())
                serial = event.unit;
        }
        m_alarms->follow(events, m_units->unitOf(serial));
    });
    // Every change is recorded in the viewer's own history, from which the
    // list is rebuilt at the next start.
    connect(m_alarms, &AlarmKeeper::changeMade, m_history, [this](const alerts::AlarmChange &change) {
        m_history->recordEvent(change.unit, change.kind, change.detail, change.timeMs);
    });
    const qint64 since = QDateTime::currentMSecsSinceEpoch() - qint64(retentionDays) * 24 * 3600 * 1000;
    if (const Result<void> restored = m_alarms->restore(m_history->options().path, since); !restored)
        m_window.reportLine(QByteArrayLiteral("[HISTORY ERR: alarm list not restored: ") + restored.reason().toLatin1()
                            + ']');
    addEntry(tr("Alarm list…"), QKeySequence(Qt::Key_F7), [this] { showAlarms(); });
}

readings::GasLevels ViewerExtras::gasLevelsOf(const QString &serial) const
{
    const QString path = historyDatabasePath();
    if (!QFileInfo::exists(path))
        return {};
    HistoryStore store;
    if (!store.open(path, HistoryStore::Access::ReadOnly))
        return {};
    const HistoryResult<readings::GasLevels> levels = history::gasLevelsOf(store, m_units->unitOf(serial));
    return levels ? *levels : readings::GasLevels();
}

void ViewerExtras::showAlarms()
{
    if (!m_alarmList) {
        m_alarmList = new AlarmListWindow(*m_alarms);
        m_alarmList->setAttribute(Qt::WA_DeleteOnClose);
        adopt(*m_alarmList);
    }
    m_alarmList->present();
}

void ViewerExtras::showAbout()
{
    if (!m_about) {
        m_about = new AboutBox(m_window.programDirectory());
        adopt(*m_about);
    }
    m_about->present();
}
