#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <QKeySequence>
#include <QObject>
#include <QPointer>

#include "rules/readings/gaslevels.h"

class AboutBox;
class AlarmKeeper;
class AlarmListWindow;
class AlertController;
class FleetBoard;
class HistoryExportDialog;
class HistoryRecorder;
class HistoryProbe;
class HistorySource;
class HistorySourceDialog;
class QAction;
class TrendsWindow;
class UnitResolver;
class ViewerWindow;

// Everything the viewer offers beside the reading panel, composed around the
// main window from the owners it exposes, through its narrow edge
// (ViewerWindow). All of it is reached from the
// window's right-click menu and, where a key is given, from a function key:
// character keys belong to the unit in the traffic window and drop the link
// in the serial box, so no other key may be taken. Every other window of the
// viewer is adopted: the same menu and keys work there, and it shows the
// alerts' mute while one runs.
//
// Function keys in use: F1 About, F2 Trends, F3 Acknowledge alerts, F4 Mute
// for 15 minutes, F5 Export history, F6 Fleet board, F7 Alarm list. The panel's zoom is in the menu only.
class ViewerExtras : public QObject
{
    Q_OBJECT

public:
    explicit ViewerExtras(ViewerWindow &window);
    ~ViewerExtras() override;

    // An entry of the right-click menu, with its function key when one is
    // given (it works wherever the focus is in the main window).
    QAction *addEntry(const QString &text, const QKeySequence &key, std::function<void()> triggered);

    // Makes a top-level window of the viewer one of its own: the function
    // keys and the right-click menu work there as in the main window, and
    // it shows the mute with the time left (across the top of its layout,
    // or over its right end when it has none; in the main window, where the
    // window says).
    void adopt(QWidget &window);

    // The fleet board, opened or brought forward (F6, and --fleet at
    // start-up).
    void showFleet();

    // The history the reading windows read (the trends, the export, the
    // fleet board): the viewer's own file or a shared store, as chosen
    // with "History source…". The viewer's own recording always goes to
    // its file.
    HistorySource &historySource() const { return *m_source; }

    // The alarm list's owner: the fleet board tells it the conditions of
    // the units it follows and asks it which units' alarms wait for an
    // acknowledgement.
    AlarmKeeper &alarms() const { return *m_alarms; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showAbout();
    void setHistoryRecording(bool on);
    void setZoom(int percent);
    void exportHistory();
    void chooseHistorySource();
    // Tries a server chosen as the source; one report line when it cannot
    // be read.
    void probeSource();
    void showTrends();
    void setUpAlarms(int retentionDays);
    void showAlarms();
    readings::GasLevels gasLevelsOf(const QString &serial) const;

    ViewerWindow &m_window;
    QPointer<AboutBox> m_about;
    AlertController *m_alerts = nullptr;
    HistoryRecorder *m_history = nullptr;
    HistorySource *m_source = nullptr;
    HistoryProbe *m_sourceProbe = nullptr;
    QPointer<HistorySourceDialog> m_sourceDialog;
    QPointer<TrendsWindow> m_trends;
    AlarmKeeper *m_alarms = nullptr;
    QPointer<AlarmListWindow> m_alarmList;
    std::shared_ptr<UnitResolver> m_units;
    QPointer<FleetBoard> m_fleet;
    QPointer<HistoryExportDialog> m_export;
    // The entries with a function key, given to every adopted window.
    std::vector<QAction *> m_keyed;
    std::vector<QPointer<QWidget>> m_adopted;
};
