#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>
#include <QWidget>

#include "history/historystore.h"
#include "rules/convert/result.h"
#include "rules/mudlog/mudlog.h"
#include "rules/readings/readingrules.h"
#include "rules/trends/trenddata.h"
#include "rules/trends/trendview.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QScrollBar;
class QSplitter;
class QStackedWidget;
class QTimer;
class QToolButton;
class StripLog;
class TrendChart;
class TrendValues;
class UnitLink;
struct Reading;
namespace trends {
class TrendsLoader;
}
namespace report {
class TourReportRun;
struct TourReportRead;
}

// What the trends window is given by the viewer.
struct TrendsOptions
{
    QString historyPath;  // the viewer's own history file, only ever read
    // Writes what the recorder has gathered, before the window reads the
    // file; may be empty.
    std::function<void()> beforeReading;
    // The unit in the main window's serial box, as the history names it.
    std::function<QString()> chosenUnit;
    // The unit a serial as typed is recorded under (the lookup table's
    // spelling); the serial itself when empty.
    std::function<QString(const QString &)> unitOf;
    // The history the window reads when it is not that file (a server's
    // URI, read off the window's thread, the tour report's too); the file
    // is read while the server cannot be.
    QString source;
};

// The trends window fm_trends: the last hours of one unit at a glance. Gas
// units over the gas levels, the chromatograph, the gas ratios and the
// depths with the ROP against time, or the mud log against lag depth as a
// strip log (StripLog: the readings binned by depth, mudlog::MudLog, in the
// unit of depth chosen); the latest values with the combined and Pixler
// readings, and the values under a cursor (against depth: the cursor's
// bin). "Print / Save as PDF…" makes the tour report of the time shown
// from the history it reads. It fills from the history
// when it opens and then follows the readings the unit link accepts; it
// shows the unit in the serial box unless the operator picks another
// recorded unit. Its geometry and the operator's choices are remembered.
//
// It composes: the view (trends::TrendView: what is shown, zoom, scroll,
// live), the loader (trends::TrendsLoader: the history read a slice at a
// time, and its events), the data (trends::TrendData), the mud log of
// the readings read and come live, the charts (TrendChart), the strip log
// and the values beside them (TrendValues). It turns the
// operator's mouse and keys into changes of the view and draws what the
// view and the data say.
class TrendsWindow : public QWidget
{
    Q_OBJECT

public:
    using Range = trends::TrendView::Range;
    static constexpr Range TenMinutes = trends::TrendView::TenMinutes;
    static constexpr Range OneHour = trends::TrendView::OneHour;
    static constexpr Range SixHours = trends::TrendView::SixHours;
    static constexpr Range OneDay = trends::TrendView::OneDay;
    static constexpr Range Everything = trends::TrendView::Everything;
    static constexpr int RefreshMs = 1000;
    // Live readings kept for the next reading of the history, which may not
    // hold them (recording off).
    static constexpr std::size_t LiveKept = 36000;

    TrendsWindow(const UnitLink &link, TrendsOptions options, QWidget *parent = nullptr);
    ~TrendsWindow() override;

    // Shows the window, raised, and (re)reads the history of the unit in
    // the serial box, unless the operator chose another unit here.
    void present();
    void showUnit(const QString &unit);
    const QString &unit() const { return m_unit; }
    // The unit the link's or a reading's serial is recorded under.
    QString unitOf(const QString &serial) const;
    void setRange(Range range);
    Range range() const { return m_view.range(); }
    void setAgainstDepth(bool on);
    bool againstDepth() const { return m_view.againstDepth(); }
    // The clock the time axis is drawn by: arrival, or the unit's own.
    void setClock(trends::Clock clock);
    // Reads another history from the next reading on (empty: the file).
    void setSource(const QString &address);
    trends::Clock clock() const { return m_clock; }
    // Following the live readings at the right edge of the time axis.
    bool following() const { return m_view.live(); }
    bool loading() const;

    const TrendChart *chart(const char *name) const;
    const mudlog::MudLog &mudLog() const { return m_mudLog; }
    void setDepthUnit(mudlog::DepthUnit unit);

signals:
    // The charts show the history read for the view and what came live.
    void chartsUpdated();
    // The time charts show the overview of a long reading from a server,
    // while its readings are still coming.
    void overviewDrawn();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildControls();
    void buildCharts();
    void restoreSettings();
    void saveSettings() const;
    TrendChart *addChart(const char *name);
    // The time or the depth charts, as chosen.
    void showPage();

    // Reading the history.
    void reload();
    void reloadSoon();
    void overviewRead(const std::vector<trends::Sample> &samples);
    void samplesRead(const std::vector<trends::Sample> &samples, qint64 readSoFar);
    void loadFinished(const Result<void> &outcome);
    void fetchNewEvents();
    void historyOpened(const Result<bool> &opened, const std::vector<RecordedUnit> &units,
                       const UnitClockReadings &clock, const QString &note);
    void fillUnits(const std::vector<RecordedUnit> &units);

    // What the link reports.
    void readingAccepted(const Reading &reading);

    // The clock drawn by: now on it, and a reading on it (none by the
    // unit's clock for a reading without the unit's time).
    qint64 axisNow() const;
    std::optional<trends::Sample> onAxis(trends::Sample sample, std::optional<qint64> unitMs) const;
    // Takes the unit's clock from the history and the live readings.
    void readUnitClock(const UnitClockReadings &recorded);

    // The view.
    void tick();
    int columns() const;
    void redo(trends::TrendView::Redo redo);
    void follow();
    void zoom(double factor, std::optional<double> around);
    void pan(double share);
    void scrolled(int value);
    void refreshCharts();
    void refreshTimeCharts();
    // Each chart shows from to to along its place axis, its lines broken
    // where the readings are more than gap apart.
    void drawCharts(const std::vector<TrendChart *> &charts, double from, double to, double gap);
    // What the time charts draw: the overview while the readings come,
    // then the readings.
    const trends::TrendData &drawn() const { return m_overview ? *m_overview : m_data; }
    void setCursorPlace(std::optional<double> place);
    void showLatest();
    void showCursor();
    std::vector<TrendChart *> shownCharts() const;
    void lineToggled(trends::Channel channel, bool shown);

    // The mud log: the readings taken in time order, history then live.
    // True when it changed a bin.
    bool addToMudLog(const mudlog::MudReading &reading);
    void readMudLogSettings();

    // The tour report of the time shown, printed or as a PDF file: read
    // from the history the window reads, then the dialogs.
    void printReport(bool toPdf);
    void reportRead(const std::shared_ptr<const report::TourReportRead> &read);

    const UnitLink &m_link;
    TrendsOptions m_options;

    // Controls.
    QComboBox *cbo_unit = nullptr;
    QButtonGroup *m_rangeButtons = nullptr;
    QCheckBox *chk_depth = nullptr;
    QComboBox *cbo_depthunit = nullptr;
    QToolButton *cmd_print = nullptr;
    QToolButton *cmd_live = nullptr;
    QComboBox *cbo_clock = nullptr;
    QLabel *lbl_status = nullptr;
    QSplitter *m_split = nullptr;
    QStackedWidget *m_pages = nullptr;
    QWidget *m_depthPage = nullptr;
    QScrollBar *scr_time = nullptr;
    std::vector<TrendChart *> m_timeCharts;
    StripLog *m_strip = nullptr;
    TrendValues *m_values = nullptr;
    QTimer *m_refresh = nullptr;
    QTimer *m_reloadSoon = nullptr;

    // The unit and the view.
    QString m_unit;
    bool m_followBox = true;
    trends::TrendView m_view;
    trends::Clock m_clock = trends::Clock::Arrival;
    // Why the history chosen was not read, shown while the file is.
    QString m_note;
    trends::UnitClock m_unitClock;
    // Readings on the axis since the last reading of the history began.
    qint64 m_onAxis = 0;
    std::optional<double> m_cursor;
    std::vector<bool> m_hidden;

    // The data.
    trends::TrendsLoader *m_loader = nullptr;
    report::TourReportRun *m_reportRun = nullptr;
    bool m_reportToPdf = false;  // what the report read is for
    trends::TrendData m_data;
    // While the readings come, what the time charts draw: the overview the
    // server grouped, and the live readings since. Never the latest values
    // nor the cursor's: its samples are no readings.
    std::unique_ptr<trends::TrendData> m_overview;
    trends::TrendView::ReadPlan m_plan;  // of the reading under way
    std::deque<trends::Sample> m_liveKept;
    std::deque<mudlog::MudReading> m_liveMud;  // the same readings, with their error numbers
    std::deque<std::optional<qint64>> m_liveUnitMs;  // and their times on the unit's clock
    mudlog::MudLog m_mudLog;
    std::optional<qint64> m_mudFedMs;  // the time of the last reading the mud log took
    int m_ticks = 0;
    bool m_changed = false;     // the view shows something new
    bool m_newReading = false;  // the latest values have changed
    qint64 m_drawnAtMs = 0;
    readings::GasLevel m_gasLevel = readings::GasLevel::Unchanged;

    // A drag in progress.
    std::optional<QPoint> m_dragFrom;
    std::pair<double, double> m_dragView;
    bool m_dragged = false;
};
