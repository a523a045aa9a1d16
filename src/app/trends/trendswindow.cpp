#include "app/trends/trendswindow.h"

#include <algorithm>
#include <cmath>

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QPrintDialog>
#include <QPrinter>
#include <QMouseEvent>
#include <QDir>
#include <QScreen>
#include <QStandardPaths>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "app/display/colours.h"
#include "app/trends/striplog.h"
#include "app/trends/trendchart.h"
#include "app/trends/trendvalues.h"
#include "history/historystore.h"
#include "history/trendsloader.h"
#include "link/unitlink.h"
#include "rules/config/usersettings.h"
#include "rules/readings/unittime.h"
#include "report/tourreport.h"
#include "rules/stream/reading.h"
#include "app/version.h"

using namespace trends;

namespace {

const char *const RangeNames[] = {"10 min", "1 h", "6 h", "24 h", "All"};
const char *const RangeKeys[] = {"cmd_range_10min", "cmd_range_1h", "cmd_range_6h", "cmd_range_24h", "cmd_range_all"};
// Readings further apart than this (or three columns) break the line: the
// link was down or the unit silent.
constexpr double GapMs = 30 * 1000.0;
// The operator's pointer reaches this many columns either side.
constexpr int CursorReach = 4;
// An event is shown for the cursor within this many columns.
constexpr int EventReach = 6;
constexpr int MarkPixels = 8;
constexpr int EventsEveryTicks = 5;
constexpr int ReloadDelayMs = 250;
const QString ClockKey = QStringLiteral("clock");  // in [trends]: arrival or unit

struct LineLook
{
    Channel channel;
    const char *chart;
    const char *name;  // in the legend
    QColor colour;
    Qt::PenStyle style;
    int scale;
};

const LineLook Lines[] = {
    {GasUnits, "gas", "Gas units", QColor(25, 25, 25), Qt::SolidLine, 0},
    {C1, "chromatograph", "C1", QColor(31, 119, 180), Qt::SolidLine, 0},
    {C2, "chromatograph", "C2", QColor(255, 127, 14), Qt::SolidLine, 0},
    {C3, "chromatograph", "C3", QColor(44, 160, 44), Qt::SolidLine, 0},
    {IC4, "chromatograph", "iC4", QColor(214, 39, 40), Qt::SolidLine, 0},
    {NC4, "chromatograph", "nC4", QColor(148, 103, 189), Qt::SolidLine, 0},
    {IC5, "chromatograph", "iC5", QColor(140, 86, 75), Qt::SolidLine, 0},
    {NC5, "chromatograph", "nC5", QColor(227, 119, 194), Qt::SolidLine, 0},
    {Wetness, "ratios", "Wetness Wh (%)", QColor(30, 90, 200), Qt::SolidLine, 0},
    {Balance, "ratios", "Balance Bh", QColor(200, 40, 40), Qt::SolidLine, 0},
    {Character, "ratios", "Character Ch", QColor(40, 150, 60), Qt::DashLine, 0},
    {HoleDepth, "depths", "Hole depth", QColor(0, 0, 0), Qt::SolidLine, 0},
    {LagDepth, "depths", "Lag depth", QColor(0, 140, 160), Qt::SolidLine, 0},
    {BitDepth, "depths", "Bit depth", QColor(230, 120, 0), Qt::DashLine, 0},
    {Rop, "depths", "ROP", QColor(120, 60, 170), Qt::SolidLine, 1},
};

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// The size the window opens at without a place of its own: room for the
// charts, and within a 1280 x 800 screen with a task bar and a title bar.
constexpr QSize DefaultSize(1200, 680);

// A saved place is taken only where an available screen holds it, or all
// but a sliver of it with the middle of its top edge, where the title bar
// is: a place saved on a screen that is gone, or larger, would open the
// window out of reach.
bool fitsAScreen(const QRect &place)
{
    const qint64 whole = qint64(place.width()) * place.height();
    for (const QScreen *screen : QGuiApplication::screens()) {
        const QRect area = screen->availableGeometry();
        const QRect on = area.intersected(place);
        if (area.contains(QPoint(place.center().x(), place.top()))
            && qint64(on.width()) * on.height() * 10 >= whole * 9)
            return true;
    }
    return false;
}

} // namespace

TrendsWindow::TrendsWindow(const UnitLink &link, TrendsOptions options, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_link(link)
    , m_options(std::move(options))
    , m_hidden(ChannelCount, false)
{
    setObjectName(QStringLiteral("fm_trends"));
    setWindowTitle(QStringLiteral("Trends"));
    // Made first: a server's connection is made while the window is built.
    m_loader = new TrendsLoader(m_options.source.isEmpty() ? m_options.historyPath : m_options.source,
                                m_options.historyPath, this);
    buildControls();
    buildCharts();
    m_values = new TrendValues(m_split);
    m_split->addWidget(m_values);
    m_split->setStretchFactor(0, 1);
    m_split->setStretchFactor(1, 0);
    m_split->setSizes({1000, m_values->sizeHint().width()});

    connect(m_loader, &TrendsLoader::opened, this, &TrendsWindow::historyOpened);
    connect(m_loader, &TrendsLoader::eventsChanged, this, [this] { m_changed = true; });
    connect(m_loader, &TrendsLoader::eventsFailed, this,
            [this](const QString &reason) { lbl_status->setText(QStringLiteral("History not read: ") + reason); });
    connect(m_loader, &TrendsLoader::overviewRead, this, &TrendsWindow::overviewRead);
    m_reportRun = new report::TourReportRun(m_loader->address(), m_options.historyPath, this);
    connect(m_reportRun, &report::TourReportRun::read, this, &TrendsWindow::reportRead);
    connect(m_loader, &TrendsLoader::samplesRead, this, &TrendsWindow::samplesRead);
    connect(m_loader, &TrendsLoader::finished, this, &TrendsWindow::loadFinished);
    m_refresh = new QTimer(this);
    m_refresh->setInterval(RefreshMs);
    connect(m_refresh, &QTimer::timeout, this, &TrendsWindow::tick);
    m_refresh->start();
    m_reloadSoon = new QTimer(this);
    m_reloadSoon->setSingleShot(true);
    m_reloadSoon->setInterval(ReloadDelayMs);
    connect(m_reloadSoon, &QTimer::timeout, this, &TrendsWindow::reload);

    connect(&m_link, &UnitLink::readingAccepted, this, &TrendsWindow::readingAccepted);
    restoreSettings();
}

TrendsWindow::~TrendsWindow()
{
    if (isVisible())
        saveSettings();
    // The children outlive this part of the window; nothing they signal as
    // they go may reach it.
    for (QObject *child : findChildren<QObject *>())
        disconnect(child, nullptr, this, nullptr);
}

bool TrendsWindow::loading() const
{
    return m_loader->reading();
}

void TrendsWindow::buildControls()
{
    cbo_unit = new QComboBox(this);
    cbo_unit->setObjectName(QStringLiteral("cbo_unit"));
    cbo_unit->setEditable(true);
    cbo_unit->setInsertPolicy(QComboBox::NoInsert);
    cbo_unit->setMinimumContentsLength(8);
    cbo_unit->setToolTip(QStringLiteral("The unit shown: the one in the serial box, or another recorded unit"));
    // A unit picked from the list, or typed and confirmed with Enter; not on
    // leaving the box, which also happens as the window closes.
    connect(cbo_unit, &QComboBox::activated, this, [this](int index) { showUnit(cbo_unit->itemText(index)); });
    connect(cbo_unit->lineEdit(), &QLineEdit::returnPressed, this, [this] { showUnit(cbo_unit->currentText()); });

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Unit"), this));
    bar->addWidget(cbo_unit);
    bar->addSpacing(12);
    m_rangeButtons = new QButtonGroup(this);
    m_rangeButtons->setExclusive(true);
    for (int r = TenMinutes; r <= Everything; ++r) {
        auto *button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(RangeKeys[r]));
        button->setText(QString::fromLatin1(RangeNames[r]));
        button->setCheckable(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        m_rangeButtons->addButton(button, r);
        bar->addWidget(button);
    }
    connect(m_rangeButtons, &QButtonGroup::idClicked, this, [this](int id) { setRange(static_cast<Range>(id)); });
    cmd_live = new QToolButton(this);
    cmd_live->setObjectName(QStringLiteral("cmd_live"));
    cmd_live->setText(QStringLiteral("Live"));
    cmd_live->setCheckable(true);
    cmd_live->setToolTip(QStringLiteral("Follow the latest readings (End)"));
    connect(cmd_live, &QToolButton::clicked, this, [this] { follow(); });
    bar->addWidget(cmd_live);
    cbo_clock = new QComboBox(this);
    cbo_clock->setObjectName(QStringLiteral("cbo_clock"));
    cbo_clock->addItem(QStringLiteral("Arrival time"), static_cast<int>(Clock::Arrival));
    cbo_clock->addItem(QStringLiteral("Unit's clock"), static_cast<int>(Clock::Unit));
    cbo_clock->setToolTip(QStringLiteral("Draw the readings by the time they arrived, or by the unit's own date and "
                                         "time, by which a backlog sent late keeps its spacing"));
    connect(cbo_clock, &QComboBox::activated, this,
            [this](int index) { setClock(static_cast<Clock>(cbo_clock->itemData(index).toInt())); });
    bar->addWidget(cbo_clock);
    bar->addSpacing(12);
    chk_depth = new QCheckBox(QStringLiteral("Against depth"), this);
    chk_depth->setObjectName(QStringLiteral("chk_depth"));
    chk_depth->setToolTip(QStringLiteral("Gas, chromatograph and ratios against lag depth, as a mud log"));
    connect(chk_depth, &QCheckBox::toggled, this, &TrendsWindow::setAgainstDepth);
    bar->addWidget(chk_depth);
    cbo_depthunit = new QComboBox(this);
    cbo_depthunit->setObjectName(QStringLiteral("cbo_depthunit"));
    cbo_depthunit->addItem(QStringLiteral("ft"), static_cast<int>(mudlog::DepthUnit::Feet));
    cbo_depthunit->addItem(QStringLiteral("m"), static_cast<int>(mudlog::DepthUnit::Metres));
    cbo_depthunit->setToolTip(QStringLiteral("The unit depths are shown, binned and exported in; the unit sends feet"));
    connect(cbo_depthunit, &QComboBox::activated, this, [this](int index) {
        setDepthUnit(static_cast<mudlog::DepthUnit>(cbo_depthunit->itemData(index).toInt()));
    });
    bar->addWidget(cbo_depthunit);
    bar->addSpacing(12);
    cmd_print = new QToolButton(this);
    cmd_print->setObjectName(QStringLiteral("cmd_print"));
    cmd_print->setText(QStringLiteral("Print / Save as PDF…"));
    cmd_print->setToolTip(QStringLiteral("The tour report of the time shown, from the history: header, strip log, "
                                         "events and alarms, summary"));
    cmd_print->setPopupMode(QToolButton::InstantPopup);
    auto *printMenu = new QMenu(cmd_print);
    printMenu->addAction(QStringLiteral("Print…"), this, [this] { printReport(false); });
    printMenu->addAction(QStringLiteral("Save as PDF…"), this, [this] { printReport(true); });
    cmd_print->setMenu(printMenu);
    bar->addWidget(cmd_print);
    bar->addStretch(1);
    lbl_status = new QLabel(this);
    lbl_status->setObjectName(QStringLiteral("lbl_status"));
    lbl_status->setTextFormat(Qt::PlainText);
    // A long reason (a server's) takes the room left and no more, so it
    // never widens the window past its screen; the whole of it is the
    // label's tip.
    lbl_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    bar->addWidget(lbl_status, 4);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(bar);
    m_split = new QSplitter(Qt::Horizontal, this);
    layout->addWidget(m_split, 1);
    auto *hint = new QLabel(QStringLiteral("Wheel: zoom   Drag: scroll   Double-click or End: live   "
                                           "Click a legend entry to hide or show its line"),
                            this);
    hint->setTextFormat(Qt::PlainText);
    hint->setEnabled(false);
    layout->addWidget(hint);
}

TrendChart *TrendsWindow::addChart(const char *name)
{
    const QByteArray objectName = QByteArray("cht_") + name;
    auto *chart = new TrendChart(objectName.constData(), TrendChart::Place::Time);
    const Qt::Alignment side = Qt::AlignLeft;
    const QByteArray which(name);
    if (which == "gas") {
        chart->addScale({QStringLiteral("Gas units"), false, 0.0, 2000.0, false, false}, side);
        // The bands are named by the level's shape and word as well as its
        // colour, so they read without colour; the legend reads as rich text.
        const auto band = [chart](double from, double to, readings::Level level, const char *range) {
            const readings::LevelMark &mark = readings::levelMark(level);
            chart->addBand(from, to, colours::of(mark.colour, 70), mark.label() + QLatin1String(range));
        };
        band(0.0, readings::GreenBelow, readings::Level::Normal, " &lt; 1200");
        band(readings::YellowAbove, readings::RedAbove, readings::Level::High, " &gt; 1400");
        band(readings::RedAbove, 1.0e7, readings::Level::VeryHigh, " &gt; 1750");
        chart->addMarks();
    } else if (which == "chromatograph") {
        chart->addScale({QStringLiteral("ppm"), true, 1.0, 100000.0, false, false}, side);
    } else if (which == "ratios") {
        chart->addScale({QStringLiteral("Wh %, Bh, Ch"), true, 0.1, 1000.0, false, false}, side);
    } else {
        chart->addScale({QStringLiteral("Depth (ft)"), false, 0.0, 100.0, true, true}, Qt::AlignLeft);
        chart->addScale({QStringLiteral("ROP (ft/hr)"), false, 0.0, 100.0, false, false}, Qt::AlignRight);
    }
    for (const LineLook &look : Lines) {
        if (which == look.chart)
            chart->addLine(look.channel, QString::fromLatin1(look.name), look.colour, look.scale, look.style);
    }
    // The same room around every plot: the time axes of the charts one
    // above the other line up.
    chart->setPlotInsets(QMargins(80, 28, 62, 26));
    chart->viewport()->setMouseTracking(true);
    chart->viewport()->installEventFilter(this);
    connect(chart, &TrendChart::lineToggled, this, &TrendsWindow::lineToggled);
    m_timeCharts.push_back(chart);
    return chart;
}

void TrendsWindow::buildCharts()
{
    m_pages = new QStackedWidget(m_split);
    auto *timePage = new QWidget(m_pages);
    auto *timeLayout = new QVBoxLayout(timePage);
    timeLayout->setContentsMargins(0, 0, 0, 0);
    auto *stack = new QSplitter(Qt::Vertical, timePage);
    stack->setObjectName(QStringLiteral("spl_time"));
    for (const char *name : {"gas", "chromatograph", "ratios", "depths"})
        stack->addWidget(addChart(name));
    stack->setSizes({400, 300, 300, 300});
    timeLayout->addWidget(stack, 1);
    scr_time = new QScrollBar(Qt::Horizontal, timePage);
    scr_time->setObjectName(QStringLiteral("scr_time"));
    connect(scr_time, &QScrollBar::valueChanged, this, &TrendsWindow::scrolled);
    timeLayout->addWidget(scr_time);
    m_pages->addWidget(timePage);

    // The strip log against lag depth.
    m_depthPage = new QWidget(m_pages);
    auto *depthLayout = new QHBoxLayout(m_depthPage);
    depthLayout->setContentsMargins(0, 0, 0, 0);
    m_strip = new StripLog(m_depthPage);
    m_strip->setLog(&m_mudLog);
    m_strip->installEventFilter(this);
    depthLayout->addWidget(m_strip, 1);
    m_pages->addWidget(m_depthPage);
    m_split->addWidget(m_pages);
}

void TrendsWindow::restoreSettings()
{
    const UserSettings opened = openUserSettings();
    QSettings &settings = *opened.settings;
    settings.beginGroup(QStringLiteral("trends"));
    if (!restoreGeometry(settings.value(QStringLiteral("geometry")).toByteArray()) || !fitsAScreen(frameGeometry())) {
        // In the middle of the screen it opens on, and no larger.
        const QRect area = screen()->availableGeometry();
        resize(DefaultSize.boundedTo(area.size() * 9 / 10));
        move(area.center() - rect().center());
    }
    m_split->restoreState(settings.value(QStringLiteral("split")).toByteArray());
    const int range = settings.value(QStringLiteral("range"), static_cast<int>(OneHour)).toInt();
    m_view.setRange(range >= TenMinutes && range <= Everything ? static_cast<Range>(range) : OneHour);
    m_rangeButtons->button(m_view.range())->setChecked(true);
    const QStringList hidden = settings.value(QStringLiteral("hidden")).toStringList();
    for (int c = 0; c < ChannelCount; ++c) {
        const auto channel = static_cast<Channel>(c);
        if (hidden.contains(QLatin1String(channelInfo(channel).key))) {
            m_hidden[static_cast<std::size_t>(c)] = true;
            for (TrendChart *chart : m_timeCharts)
                chart->setLineShown(channel, false);
        }
    }
    settings.endGroup();
    readMudLogSettings();
    settings.beginGroup(QStringLiteral("trends"));
    const QString clock = settings.value(ClockKey, QStringLiteral("arrival")).toString();
    m_clock = clock == QLatin1String("unit") ? Clock::Unit : Clock::Arrival;
    if (clock != QLatin1String("unit") && clock != QLatin1String("arrival"))
        lbl_status->setText(QStringLiteral("[SETTINGS ERR: trends/%1=%2 is neither arrival nor unit; arrival is used]")
                                .arg(ClockKey, clock));
    cbo_clock->setCurrentIndex(cbo_clock->findData(static_cast<int>(m_clock)));
    m_view.setAgainstDepth(settings.value(QStringLiteral("againstDepth"), false).toBool());
    chk_depth->setChecked(m_view.againstDepth());
    showPage();
    cmd_live->setChecked(m_view.live());
}

void TrendsWindow::saveSettings() const
{
    const UserSettings opened = openUserSettings();
    QSettings &settings = *opened.settings;
    settings.beginGroup(QStringLiteral("trends"));
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("split"), m_split->saveState());
    settings.setValue(QStringLiteral("range"), static_cast<int>(m_view.range()));
    settings.setValue(QStringLiteral("againstDepth"), m_view.againstDepth());
    settings.setValue(ClockKey, m_clock == Clock::Unit ? QStringLiteral("unit") : QStringLiteral("arrival"));
    QStringList hidden;
    for (int c = 0; c < ChannelCount; ++c) {
        if (m_hidden[static_cast<std::size_t>(c)])
            hidden << QLatin1String(channelInfo(static_cast<Channel>(c)).key);
    }
    settings.setValue(QStringLiteral("hidden"), hidden);
}

void TrendsWindow::closeEvent(QCloseEvent *event)
{
    saveSettings();
    QWidget::closeEvent(event);
}

const TrendChart *TrendsWindow::chart(const char *name) const
{
    return findChild<TrendChart *>(QString::fromLatin1(name));
}

void TrendsWindow::showPage()
{
    m_pages->setCurrentIndex(m_view.againstDepth() ? 1 : 0);
}

std::vector<TrendChart *> TrendsWindow::shownCharts() const
{
    return m_view.againstDepth() ? std::vector<TrendChart *>() : m_timeCharts;
}

// ---------------------------------------------------------------------------
// The unit and the choices

QString TrendsWindow::unitOf(const QString &serial) const
{
    return m_options.unitOf ? m_options.unitOf(serial) : serial;
}

void TrendsWindow::present()
{
    const QString chosen = m_options.chosenUnit ? m_options.chosenUnit().trimmed() : QString();
    if (m_unit.isEmpty() || (m_followBox && !chosen.isEmpty())) {
        const QString unit = chosen.isEmpty() ? unitOf(m_link.serial()) : chosen;
        if (unit != m_unit) {
            m_liveKept.clear();
            m_liveMud.clear();
            m_liveUnitMs.clear();
        }
        m_unit = unit;
    }
    show();
    raise();
    activateWindow();
    reload();
}

void TrendsWindow::showUnit(const QString &unit)
{
    const QString chosen = m_options.chosenUnit ? m_options.chosenUnit().trimmed() : QString();
    m_unit = unit.trimmed();
    m_followBox = m_unit == chosen || m_unit.isEmpty();
    if (m_unit.isEmpty())
        m_unit = chosen;
    m_liveKept.clear();
    m_liveMud.clear();
    m_liveUnitMs.clear();
    m_view.resetDepthZoom();
    m_view.resumeLive();
    reload();
}

void TrendsWindow::setRange(Range range)
{
    m_view.setRange(range);
    m_rangeButtons->button(range)->setChecked(true);
    saveSettings();
    reload();
}

void TrendsWindow::setAgainstDepth(bool on)
{
    if (on == m_view.againstDepth())
        return;
    m_view.setAgainstDepth(on);
    chk_depth->setChecked(on);
    showPage();
    m_cursor.reset();
    saveSettings();
    reload();
}

void TrendsWindow::setSource(const QString &address)
{
    const QString chosen = address.isEmpty() ? m_options.historyPath : address;
    if (chosen == m_loader->address())
        return;
    m_loader->setAddress(chosen);
    if (isVisible())
        reload();
}

void TrendsWindow::setClock(Clock clock)
{
    if (clock == m_clock)
        return;
    m_clock = clock;
    cbo_clock->setCurrentIndex(cbo_clock->findData(static_cast<int>(clock)));
    // A view of one clock means another time on the other: back to now.
    m_view.follow();
    m_cursor.reset();
    saveSettings();
    reload();
}

qint64 TrendsWindow::axisNow() const
{
    return m_clock == Clock::Unit ? m_unitClock.now(nowMs()) : nowMs();
}

std::optional<trends::Sample> TrendsWindow::onAxis(trends::Sample sample, std::optional<qint64> unitMs) const
{
    if (m_clock == Clock::Arrival)
        return sample;
    if (!unitMs)
        return std::nullopt;
    sample.timeMs = *unitMs;
    return sample;
}

void TrendsWindow::readUnitClock(const UnitClockReadings &recorded)
{
    m_unitClock.clear();
    std::optional<qint64> first = recorded.firstMs;
    for (auto pair = recorded.latest.rbegin(); pair != recorded.latest.rend(); ++pair)
        m_unitClock.seen(pair->first, pair->second);
    for (std::size_t i = 0; i < m_liveKept.size(); ++i) {
        if (const std::optional<qint64> unitMs = m_liveUnitMs[i]) {
            m_unitClock.seen(m_liveKept[i].timeMs, *unitMs);
            first = std::min(first.value_or(*unitMs), *unitMs);
        }
    }
    m_view.setFirstReading(first.value_or(axisNow()));
}

void TrendsWindow::lineToggled(Channel channel, bool shown)
{
    m_hidden[static_cast<std::size_t>(channel)] = !shown;
    for (TrendChart *chart : m_timeCharts)
        chart->setLineShown(channel, shown);
    saveSettings();
    refreshCharts();
}

// ---------------------------------------------------------------------------
// Reading the history

void TrendsWindow::fillUnits(const std::vector<RecordedUnit> &known)
{
    QStringList units;
    // With no unit in the serial box, the first one recorded.
    if (m_unit.isEmpty() && !known.empty())
        m_unit = known.front().unit;
    for (const RecordedUnit &recorded : known) {
        units << recorded.unit;
        if (recorded.unit == m_unit && m_clock == Clock::Arrival)
            m_view.setFirstReading(std::min(m_view.firstReading(), recorded.firstMs));
    }
    if (!m_unit.isEmpty() && !units.contains(m_unit))
        units.prepend(m_unit);
    const QSignalBlocker quiet(cbo_unit);
    cbo_unit->clear();
    cbo_unit->addItems(units);
    cbo_unit->setCurrentText(m_unit);
    setWindowTitle(m_unit.isEmpty() ? QStringLiteral("Trends") : QStringLiteral("Trends: ") + m_unit);
}

int TrendsWindow::columns() const
{
    return std::max(50, m_view.againstDepth() ? m_strip->plotLength() : m_timeCharts.front()->plotLength());
}

void TrendsWindow::reload()
{
    m_reloadSoon->stop();
    if (m_options.beforeReading)
        m_options.beforeReading();
    // Opened afresh for every reading, so a file the recorder has moved
    // aside and started again is followed; the rest follows its answer.
    m_loader->open(m_unit, nowMs() - DayMs);
    lbl_status->setText(QStringLiteral("Reading the history…"));
}

void TrendsWindow::historyOpened(const Result<bool> &opened, const std::vector<RecordedUnit> &units,
                                 const UnitClockReadings &clock, const QString &note)
{
    m_note = note.isEmpty() ? QString()
                            : QStringLiteral("History source not read, the local history is shown: %1").arg(note);
    QString status = m_note;
    lbl_status->setToolTip(m_note);
    if (!opened)
        status = QStringLiteral("History not read: ") + opened.reason();
    else if (!*opened)
        status = QStringLiteral("No history recorded yet: live readings only");
    m_view.setFirstReading(nowMs());
    fillUnits(units);
    if (m_clock == Clock::Unit)
        readUnitClock(clock);
    // The gas level is the link's, for the link's unit only: another unit
    // shows no level of its own, and none of the unit shown before.
    m_gasLevel = m_unit == unitOf(m_link.serial()) ? m_link.gasLevel() : readings::GasLevel::Unchanged;

    const TrendView::ReadPlan plan = m_view.startReading(axisNow(), columns());
    cmd_live->setChecked(m_view.live());
    m_data.reset(plan.axis, plan.width, plan.limit, plan.fromX, plan.toX);
    m_plan = plan;
    m_overview.reset();
    m_mudLog.clear();
    m_mudFedMs.reset();
    // What came live since the window opened; the history read next may
    // hold it as well, which changes nothing.
    m_onAxis = 0;
    for (std::size_t i = 0; i < m_liveKept.size(); ++i) {
        const std::optional<trends::Sample> sample = onAxis(m_liveKept[i], m_liveUnitMs[i]);
        if (sample && m_view.wanted(sample->timeMs)) {
            m_data.add(*sample);
            ++m_onAxis;
        }
    }
    if (!opened || !*opened) {
        loadFinished(failure(status));
        return;
    }
    m_loader->read(m_unit, plan.fromMs, plan.toMs, m_clock == Clock::Unit ? HistoryClock::Unit : HistoryClock::Arrival,
                   plan.overviewWidth);
    lbl_status->setText(m_note.isEmpty() ? QStringLiteral("Reading the history…") : m_note);
}

void TrendsWindow::reloadSoon()
{
    m_reloadSoon->start();
}

void TrendsWindow::overviewRead(const std::vector<trends::Sample> &samples)
{
    if (m_view.againstDepth())
        return;
    // In the columns of the readings to come, with what came live so far.
    const TrendView::ReadPlan &plan = m_plan;
    m_overview = std::make_unique<trends::TrendData>();
    m_overview->reset(plan.axis, plan.width, plan.limit, plan.fromX, plan.toX);
    for (const trends::Sample &sample : samples)
        m_overview->add(sample);
    for (std::size_t i = 0; i < m_liveKept.size(); ++i) {
        const std::optional<trends::Sample> sample = onAxis(m_liveKept[i], m_liveUnitMs[i]);
        if (sample && m_view.wanted(sample->timeMs))
            m_overview->add(*sample);
    }
    refreshTimeCharts();
    emit overviewDrawn();
}

void TrendsWindow::samplesRead(const std::vector<trends::Sample> &samples, qint64 readSoFar)
{
    for (const trends::Sample &sample : samples) {
        m_data.add(sample);
        addToMudLog(mudlog::mudReadingOf(sample));
    }
    m_onAxis += static_cast<qint64>(samples.size());
    if (m_loader->reading())
        lbl_status->setText(QStringLiteral("Reading the history… %L1 readings").arg(readSoFar));
}

void TrendsWindow::loadFinished(const Result<void> &outcome)
{
    m_overview.reset();
    // The live readings after the last one the history held; the history
    // holds no error numbers, the live readings do.
    for (std::size_t i = 0; i < m_liveMud.size(); ++i) {
        mudlog::MudReading reading = m_liveMud[i];
        if (m_clock == Clock::Unit) {
            if (!m_liveUnitMs[i])
                continue;
            reading.timeMs = *m_liveUnitMs[i];
        }
        if (m_view.wanted(reading.timeMs))
            addToMudLog(reading);
    }
    if (outcome && m_clock == Clock::Unit && m_onAxis == 0)
        lbl_status->setText(QStringLiteral("No readings with the unit's own date and time here: by the unit's clock, "
                                           "readings without them are left out"));
    else if (outcome)
        lbl_status->setText(m_note);
    else if (m_loader->isOpen())
        lbl_status->setText(QStringLiteral("History not read: ") + outcome.reason());
    else
        lbl_status->setText(outcome.reason());
    lbl_status->setToolTip(lbl_status->text());
    refreshCharts();
    emit chartsUpdated();
}

void TrendsWindow::fetchNewEvents()
{
    // The events keep the time they arrived: not marked by the unit's clock.
    if (m_view.againstDepth() || m_clock == Clock::Unit)
        return;
    m_loader->fetchNewEvents(nowMs() + 1);
}

// ---------------------------------------------------------------------------
// What the link reports

void TrendsWindow::readingAccepted(const Reading &reading)
{
    const QString unit = unitOf(reading.serial);
    if (unit != m_unit) {
        // The operator connected another unit: the window goes with the
        // serial box unless another unit was chosen here.
        if (m_followBox && !unit.isEmpty() && isVisible()) {
            m_unit = unit;
            m_liveKept.clear();
            m_liveMud.clear();
            m_liveUnitMs.clear();
            m_gasLevel = readings::GasLevel::Unchanged;
            m_view.resumeLive();
            reloadSoon();
        }
        return;
    }
    // The reading brings the bit depth and the gas level it was accepted
    // with.
    m_gasLevel = reading.gasLevel;
    const std::optional<qint64> unitMs = readings::unitTimeMs(reading.fields[2], reading.fields[3]);
    if (unitMs)
        m_unitClock.seen(reading.acceptedAtMs, *unitMs);
    m_liveKept.push_back(sampleOf(reading));
    m_liveMud.push_back(mudlog::mudReadingOf(reading));
    m_liveUnitMs.push_back(unitMs);
    if (m_liveKept.size() > LiveKept) {
        m_liveKept.pop_front();
        m_liveMud.pop_front();
        m_liveUnitMs.pop_front();
    }
    m_newReading = true;
    // By the unit's clock, a reading without the unit's time is not drawn.
    const std::optional<trends::Sample> sample = onAxis(m_liveKept.back(), unitMs);
    if (!sample)
        return;
    ++m_onAxis;
    if (!loading()) {
        mudlog::MudReading mud = m_liveMud.back();
        mud.timeMs = sample->timeMs;
        addToMudLog(mud);
    }
    m_data.add(*sample);
    if (m_overview)
        m_overview->add(*sample);
    // A view that does not move with time changes only where the reading
    // lands in it.
    m_changed = m_changed || m_view.shows(*sample, m_data);
}

// ---------------------------------------------------------------------------
// The view

void TrendsWindow::tick()
{
    if (!isVisible() || isMinimized() || loading())
        return;
    if (++m_ticks % EventsEveryTicks == 0)
        fetchNewEvents();
    // Drawing the charts again is what following costs; the latest values
    // follow every second.
    const bool moving = m_view.moving();
    if ((moving || m_changed) && nowMs() - m_drawnAtMs >= m_view.drawEveryMs(columns())) {
        if (moving) {
            m_view.moveToNow(axisNow());
            m_data.dropBefore(m_view.timeFrom() - m_data.channel(GasUnits).width());
        }
        refreshCharts();
    } else if (m_newReading) {
        showLatest();
    }
    m_newReading = false;
}

void TrendsWindow::redo(TrendView::Redo redo)
{
    cmd_live->setChecked(m_view.live());
    switch (redo) {
    case TrendView::Redo::Nothing:
        break;
    case TrendView::Redo::Draw:
        refreshCharts();
        break;
    case TrendView::Redo::DrawAndReadSoon:
        refreshCharts();
        reloadSoon();
        break;
    case TrendView::Redo::ReadNow:
        reload();
        break;
    }
}

void TrendsWindow::follow()
{
    m_view.follow();
    redo(TrendView::Redo::ReadNow);
}

void TrendsWindow::zoom(double factor, std::optional<double> around)
{
    redo(m_view.zoom(factor, around, axisNow(), m_data));
}

void TrendsWindow::pan(double share)
{
    redo(m_view.pan(share, axisNow(), m_data));
}

void TrendsWindow::scrolled(int value)
{
    redo(m_view.scrolledTo(value, scr_time->maximum(), axisNow()));
}

void TrendsWindow::refreshCharts()
{
    m_changed = false;
    m_drawnAtMs = nowMs();
    if (m_view.againstDepth()) {
        const auto [from, to] = m_view.depthView(m_data);
        m_strip->setView(from, to);
    } else {
        refreshTimeCharts();
    }
    showLatest();
    showCursor();
}

void TrendsWindow::refreshTimeCharts()
{
    const double width = drawn().channel(GasUnits).width();
    drawCharts(m_timeCharts, m_view.timeFrom(), m_view.timeTo(), std::max(GapMs, 3 * width));
    const auto [alarms, links] =
        m_view.marks(m_clock == Clock::Unit ? std::vector<EventMark>() : m_loader->events(), columns(), MarkPixels);
    m_timeCharts.front()->setMarks(alarms, links);

    const QSignalBlocker quiet(scr_time);
    const TrendView::ScrollBar bar = m_view.scrollBar(axisNow());
    scr_time->setRange(0, bar.maximum);
    scr_time->setPageStep(bar.page);
    scr_time->setSingleStep(bar.single);
    scr_time->setValue(bar.value);
}

void TrendsWindow::drawCharts(const std::vector<TrendChart *> &charts, double from, double to, double gap)
{
    for (TrendChart *chart : charts) {
        TrendChart::Lines lines;
        for (int c = 0; c < ChannelCount; ++c) {
            const auto channel = static_cast<Channel>(c);
            if (!chart->hasLine(channel))
                continue;
            lines.emplace_back(channel, drawn().channel(channel).line(from, to, gap));
            // Depths come in feet; shown in metres, they are converted
            // here, for the screen only.
            const bool depth = channel == HoleDepth || channel == LagDepth || channel == BitDepth || channel == Rop;
            if (depth && m_mudLog.unit() != mudlog::DepthUnit::Feet) {
                for (std::vector<QPointF> &part : lines.back().second) {
                    for (QPointF &point : part)
                        point.setY(mudlog::fromFeet(point.y(), m_mudLog.unit()));
                }
            }
        }
        chart->draw(from, to, lines);
    }
}

void TrendsWindow::setCursorPlace(std::optional<double> place)
{
    m_cursor = place;
    for (TrendChart *chart : shownCharts())
        chart->setCursorPlace(place);
    m_strip->setCursorPlace(m_view.againstDepth() ? place : std::nullopt);
    showCursor();
}

void TrendsWindow::showLatest()
{
    m_values->showLatest(m_data.latest(), m_gasLevel);
}

void TrendsWindow::showCursor()
{
    trends::Sample under;
    if (m_cursor && m_view.againstDepth()) {
        // The cursor's bin of the mud log: its highest gas and that
        // reading's chromatograph.
        const int index = m_mudLog.indexAt(mudlog::fromFeet(*m_cursor, m_mudLog.unit()));
        const mudlog::MudBin &bin = m_mudLog.bin(index);
        if (bin.logged()) {
            under.timeMs = bin.timeMs();
            under[GasUnits] = bin.gasUnits().value_or(std::numeric_limits<double>::quiet_NaN());
            const Chromatograph gas = bin.chromatograph();
            const std::optional<double> values[] = {gas.c1, gas.c2, gas.c3, gas.ic4, gas.nc4, gas.ic5, gas.nc5};
            const Channel channels[] = {C1, C2, C3, IC4, NC4, IC5, NC5};
            for (std::size_t i = 0; i < std::size(channels); ++i)
                under[channels[i]] = values[i].value_or(std::numeric_limits<double>::quiet_NaN());
            addRatios(under);
        }
        under[LagDepth] = mudlog::toFeet(m_mudLog.topOf(index), m_mudLog.unit());
        if (const std::optional<double> rate = bin.drillingRate())
            under[Rop] = mudlog::toFeet(60.0 / *rate, m_mudLog.unit());
    } else if (m_cursor) {
        for (int c = 0; c < ChannelCount; ++c) {
            const auto channel = static_cast<Channel>(c);
            if (const ColumnExtremes::Column *column = m_data.channel(channel).columnNear(*m_cursor, CursorReach))
                under[channel] = column->last.y();
        }
    }
    // The event nearest the cursor, within a few pixels.
    const EventMark *event = nullptr;
    if (m_cursor && !m_view.againstDepth() && m_clock == Clock::Arrival) {
        double best = (m_view.timeTo() - m_view.timeFrom()) / columns() * EventReach;
        for (const EventMark &mark : m_loader->events()) {
            const double distance = std::abs(mark.timeMs - *m_cursor);
            if (distance <= best) {
                best = distance;
                event = &mark;
            }
        }
    }
    const std::optional<double> place =
        m_cursor && m_view.againstDepth() ? std::optional<double>(mudlog::fromFeet(*m_cursor, m_mudLog.unit())) : m_cursor;
    m_values->showCursor(place, m_view.againstDepth(), under, event);
}

bool TrendsWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A chart's plot against time, or the strip log against depth.
    std::function<std::optional<double>(const QPoint &)> placeAt;
    int plotLength = 1;
    for (TrendChart *candidate : shownCharts()) {
        if (candidate->viewport() == watched) {
            placeAt = [candidate](const QPoint &point) { return candidate->placeAt(point); };
            plotLength = candidate->plotLength();
        }
    }
    if (watched == m_strip && m_view.againstDepth()) {
        placeAt = [this](const QPoint &point) { return m_strip->placeAt(point); };
        plotLength = m_strip->plotLength();
    }
    if (!placeAt)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (m_dragFrom) {
            const QPoint moved = mouse->position().toPoint() - *m_dragFrom;
            const int pixels = m_view.againstDepth() ? moved.y() : moved.x();
            if (std::abs(pixels) < 3 && !m_dragged)
                return true;
            m_dragged = true;
            const double share = -static_cast<double>(pixels) / std::max(1, plotLength);
            m_view.restore(m_dragView, axisNow());
            pan(share);
            return true;
        }
        if (const std::optional<double> place = placeAt(mouse->position().toPoint()))
            setCursorPlace(place);
        return false;
    }
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || !placeAt(mouse->position().toPoint()))
            return false;
        m_dragFrom = mouse->position().toPoint();
        m_dragView = m_view.view(m_data);
        m_dragged = false;
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!m_dragFrom)
            return false;
        m_dragFrom.reset();
        return true;
    case QEvent::MouseButtonDblClick:
        if (!placeAt(static_cast<QMouseEvent *>(event)->position().toPoint()))
            return false;
        follow();
        return true;
    case QEvent::Wheel: {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        const std::optional<double> place = placeAt(wheel->position().toPoint());
        if (!place || wheel->angleDelta().y() == 0)
            return false;
        zoom(std::pow(1.25, -wheel->angleDelta().y() / 120.0), place);
        return true;
    }
    default:
        return false;
    }
}

void TrendsWindow::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up:
        pan(-0.25);
        break;
    case Qt::Key_Right:
    case Qt::Key_Down:
        pan(0.25);
        break;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        zoom(0.8, std::nullopt);
        break;
    case Qt::Key_Minus:
        zoom(1.25, std::nullopt);
        break;
    case Qt::Key_End:
        follow();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

// ---------------------------------------------------------------------------
// The mud log and the report

bool TrendsWindow::addToMudLog(const mudlog::MudReading &reading)
{
    // In time order only: a live reading the history already gave is not
    // taken twice.
    if (m_mudFedMs && reading.timeMs <= *m_mudFedMs)
        return false;
    m_mudFedMs = reading.timeMs;
    return !m_mudLog.add(reading).isEmpty();
}

void TrendsWindow::readMudLogSettings()
{
    const UserSettings opened = openUserSettings();
    const mudlog::MudLogSetup setup = mudlog::mudLogSetup(*opened.settings);
    if (!setup.problems.isEmpty())
        lbl_status->setText(setup.problems.join(QStringLiteral("; ")));
    m_mudLog = mudlog::MudLog(setup.settings);
    m_values->setDepthUnit(setup.settings.unit);
    // The depths against time in the same unit.
    const QString symbol = mudlog::unitSymbol(setup.settings.unit);
    if (TrendChart *depths = findChild<TrendChart *>(QStringLiteral("cht_depths"))) {
        depths->setScaleTitle(0, QStringLiteral("Depth (%1)").arg(symbol));
        depths->setScaleTitle(1, QStringLiteral("ROP (%1/hr)").arg(symbol));
    }
    cbo_depthunit->setCurrentIndex(cbo_depthunit->findData(static_cast<int>(setup.settings.unit)));
}

void TrendsWindow::setDepthUnit(mudlog::DepthUnit unit)
{
    {
        const UserSettings opened = openUserSettings();
        opened.settings->setValue(QString::fromLatin1(mudlog::DepthUnitKey), mudlog::unitName(unit));
        // A bin size set for the other unit would not fit this one.
        opened.settings->remove(QString::fromLatin1(mudlog::BinSizeKey));
    }
    readMudLogSettings();
    if (isVisible())
        reload();
}

void TrendsWindow::printReport(bool toPdf)
{
    if (m_unit.isEmpty()) {
        lbl_status->setText(QStringLiteral("No unit to report on"));
        return;
    }
    if (m_options.beforeReading)
        m_options.beforeReading();
    // The time the window shows; a depth view, the time it was read for.
    // The report reads by arrival: by the unit's clock, the same stretch
    // moved by the clock's offset.
    const qint64 offset = m_clock == Clock::Unit ? m_unitClock.offsetMs().value_or(0) : 0;
    const qint64 fromMs = static_cast<qint64>(m_view.timeFrom()) - offset;
    const qint64 toMs = static_cast<qint64>(m_view.timeTo()) + 1 - offset;
    // From the history the window reads, off its thread; the dialogs follow
    // the answer.
    m_reportRun->setAddress(m_loader->address());
    if (!m_reportRun->start(m_unit, fromMs, toMs, m_mudLog.settings(), !m_view.againstDepth()))
        return;
    m_reportToPdf = toPdf;
    lbl_status->setText(QStringLiteral("Reading the tour report…"));
}

void TrendsWindow::reportRead(const std::shared_ptr<const report::TourReportRead> &read)
{
    const bool toPdf = m_reportToPdf;
    // Said with every outcome when the history chosen was not read.
    const QString note =
        read->note.isEmpty() ? QString()
                             : QStringLiteral("History source not read, the local history is shown: %1").arg(read->note);
    const auto say = [this, &note](const QString &text) {
        lbl_status->setText(text.isEmpty() ? note : note.isEmpty() ? text : text + QStringLiteral(". ") + note);
        lbl_status->setToolTip(lbl_status->text());
    };
    if (!read->made) {
        say(QStringLiteral("No report: ") + read->made.reason());
        return;
    }
    say(QString());
    report::TourReport made = *read->made;
    made.made = QDateTime::currentDateTimeUtc();
    made.madeBy = QStringLiteral("rtviewer %1").arg(QStringLiteral(RTVIEWER_VERSION));
    if (toPdf) {
        const QString suggested = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                                      .filePath(QStringLiteral("tour-%1-%2.pdf")
                                                    .arg(made.unit, QDateTime::currentDateTime().toString(
                                                                     QStringLiteral("yyyyMMdd-HHmm"))));
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save the tour report as"), suggested,
                                                          QStringLiteral("PDF files (*.pdf)"));
        if (path.isEmpty())
            return;
        const Result<int> pages = report::writeTourReportPdf(made, path, {m_options.historyPath});
        say(pages ? QStringLiteral("Tour report: %1 pages written to %2").arg(*pages).arg(path)
                  : QStringLiteral("No report: ") + pages.reason());
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(QStringLiteral("Tour report %1").arg(made.unit));
    QPrintDialog dialog(&printer, this);
    dialog.setWindowTitle(QStringLiteral("Print the tour report"));
    if (dialog.exec() != QDialog::Accepted)
        return;
    const Result<int> pages = report::paintTourReport(made, printer);
    say(pages ? QStringLiteral("Tour report: %1 pages sent to the printer").arg(*pages)
              : QStringLiteral("No report: ") + pages.reason());
}
