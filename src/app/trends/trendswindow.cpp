#include "app/trends/trendswindow.h"

#include <algorithm>
#include <cmath>

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include "rules/config/usersettings.h"
#include "app/display/colours.h"
#include "history/historystore.h"
#include "link/socketcontrol.h"
#include "link/unitlink.h"
#include "rules/stream/reading.h"
#include "rules/trends/gasratios.h"
#include "app/trends/trendchart.h"

using namespace trends;

namespace {

constexpr qint64 RangeSpans[] = {10 * MinuteMs, HourMs, 6 * HourMs, 24 * HourMs, 0};
const char *const RangeNames[] = {"10 min", "1 h", "6 h", "24 h", "All"};
const char *const RangeKeys[] = {"cmd_range_10min", "cmd_range_1h", "cmd_range_6h", "cmd_range_24h", "cmd_range_all"};
// A time view no narrower than this.
constexpr double LeastSpanMs = 30 * 1000.0;
// Readings further apart than this (or three columns) break the line: the
// link was down or the unit silent.
constexpr double GapMs = 30 * 1000.0;
// The operator's pointer reaches this many columns either side.
constexpr int CursorReach = 4;
constexpr int MarkPixels = 8;
constexpr int EventsEveryTicks = 5;
constexpr qint64 EventsOverlapMs = 30 * 1000;
constexpr int ReloadDelayMs = 250;
constexpr double ChartsEveryMs = 2000;

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
    {Rop, "depths", "ROP (ft/hr)", QColor(120, 60, 170), Qt::SolidLine, 1},
};

// The rows of the values beside the charts: a channel, or a methane ratio.
struct ValueRow
{
    const char *key;
    const char *name;
    int channel;  // -1 for a methane ratio
};

const ValueRow ValueRows[] = {
    {"gas", "Gas units", GasUnits},
    {"c1", "C1 (ppm)", C1},
    {"c2", "C2 (ppm)", C2},
    {"c3", "C3 (ppm)", C3},
    {"ic4", "iC4 (ppm)", IC4},
    {"nc4", "nC4 (ppm)", NC4},
    {"ic5", "iC5 (ppm)", IC5},
    {"nc5", "nC5 (ppm)", NC5},
    {"wh", "Wetness Wh (%)", Wetness},
    {"bh", "Balance Bh", Balance},
    {"ch", "Character Ch", Character},
    {"c1c2", "C1/C2", -1},
    {"c1c3", "C1/C3", -1},
    {"c1c4", "C1/C4", -1},
    {"c1c5", "C1/C5", -1},
    {"hole", "Hole depth (ft)", HoleDepth},
    {"lag", "Lag depth (ft)", LagDepth},
    {"bit", "Bit depth (ft)", BitDepth},
    {"rop", "ROP (ft/hr)", Rop},
};

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString valueText(Channel channel, double value)
{
    if (std::isnan(value))
        return QStringLiteral("—");
    switch (channel) {
    case Wetness: {
        const QString words = wetnessReading(value);
        return ratioText(value) + (words.isEmpty() ? QString() : QStringLiteral("  ") + words);
    }
    case Balance: {
        const QString words = balanceReading(value);
        return ratioText(value) + (words.isEmpty() ? QString() : QStringLiteral("  ") + words);
    }
    case Character:
        return ratioText(value) + QStringLiteral("  ") + characterReading(value);
    case HoleDepth:
    case LagDepth:
    case BitDepth:
    case Rop:
        return QString::number(value, 'f', 1);
    default:
        return QString::number(value, 'f', 0);
    }
}

QString methaneRatioText(const GasRatios &ratios, const char *key)
{
    const QLatin1String name(key);
    if (name == QLatin1String("c1c2"))
        return ratioText(ratios.c1c2);
    if (name == QLatin1String("c1c3"))
        return ratioText(ratios.c1c3);
    if (name == QLatin1String("c1c4"))
        return ratioText(ratios.c1c4);
    return ratioText(ratios.c1c5);
}

QString timeText(qint64 ms)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(ms);
    if (time.date() == QDate::currentDate())
        return time.toString(QStringLiteral("HH:mm:ss"));
    return time.toString(QStringLiteral("d MMM HH:mm:ss"));
}

QLabel *valueLabel(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(QStringLiteral("—"), parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(label->fontMetrics().averageCharWidth() * 18);
    return label;
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
    buildControls();
    buildCharts();
    buildValues();

    m_refresh = new QTimer(this);
    m_refresh->setInterval(RefreshMs);
    connect(m_refresh, &QTimer::timeout, this, &TrendsWindow::tick);
    m_refresh->start();
    m_loadStep = new QTimer(this);
    m_loadStep->setSingleShot(true);
    m_loadStep->setInterval(0);
    connect(m_loadStep, &QTimer::timeout, this, &TrendsWindow::loadStep);
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
    m_loading.reset();
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
    connect(cmd_live, &QToolButton::clicked, this, [this] { followNow(); });
    bar->addWidget(cmd_live);
    bar->addSpacing(12);
    chk_depth = new QCheckBox(QStringLiteral("Against depth"), this);
    chk_depth->setObjectName(QStringLiteral("chk_depth"));
    chk_depth->setToolTip(QStringLiteral("Gas, chromatograph and ratios against lag depth, as a mud log"));
    connect(chk_depth, &QCheckBox::toggled, this, &TrendsWindow::setAgainstDepth);
    bar->addWidget(chk_depth);
    bar->addStretch(1);
    lbl_status = new QLabel(this);
    lbl_status->setObjectName(QStringLiteral("lbl_status"));
    lbl_status->setTextFormat(Qt::PlainText);
    bar->addWidget(lbl_status);

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

TrendChart *TrendsWindow::addChart(const char *name, bool time)
{
    const QByteArray objectName = QByteArray(time ? "cht_" : "dpt_") + name;
    auto *chart = new TrendChart(objectName.constData(), time ? TrendChart::Place::Time : TrendChart::Place::Depth);
    const Qt::Alignment side = time ? Qt::AlignLeft : Qt::AlignTop;
    const QByteArray which(name);
    if (which == "gas") {
        chart->addScale({QStringLiteral("Gas units"), false, 0.0, 2000.0, false, false}, side);
        // The legend reads as rich text. The narrow depth chart names the
        // levels by their colour alone.
        chart->addBand(0.0, readings::GreenBelow, QColor(0, 190, 0, 50),
                       time ? QStringLiteral("green &lt; 1200") : QStringLiteral("&lt; 1200"));
        chart->addBand(readings::YellowAbove, readings::RedAbove, QColor(255, 215, 0, 85),
                       time ? QStringLiteral("yellow &gt; 1400") : QStringLiteral("&gt; 1400"));
        chart->addBand(readings::RedAbove, 1.0e7, QColor(255, 0, 0, 55),
                       time ? QStringLiteral("red &gt; 1750") : QStringLiteral("&gt; 1750"));
        if (time)
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
        if (which == look.chart && (time || drawnAgainstDepth(look.channel)))
            chart->addLine(look.channel, QString::fromLatin1(look.name), look.colour, look.scale, look.style);
    }
    // The same room around every plot: the time axes of the charts one
    // above the other line up, as do the depth axes side by side.
    if (time)
        chart->setPlotInsets(QMargins(80, 28, 62, 26));
    else
        chart->setPlotInsets(QMargins(64, 92, 26, 10));
    chart->viewport()->setMouseTracking(true);
    chart->viewport()->installEventFilter(this);
    connect(chart, &TrendChart::lineToggled, this, &TrendsWindow::lineToggled);
    (time ? m_timeCharts : m_depthCharts).push_back(chart);
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
        stack->addWidget(addChart(name, true));
    stack->setSizes({400, 300, 300, 300});
    timeLayout->addWidget(stack, 1);
    scr_time = new QScrollBar(Qt::Horizontal, timePage);
    scr_time->setObjectName(QStringLiteral("scr_time"));
    connect(scr_time, &QScrollBar::valueChanged, this, &TrendsWindow::scrolled);
    timeLayout->addWidget(scr_time);
    m_pages->addWidget(timePage);

    // The depth charts are made when first shown: most openings never need
    // them.
    m_depthPage = new QWidget(m_pages);
    new QHBoxLayout(m_depthPage);
    m_depthPage->layout()->setContentsMargins(0, 0, 0, 0);
    m_pages->addWidget(m_depthPage);
    m_split->addWidget(m_pages);
}

void TrendsWindow::buildValues()
{
    auto *panel = new QWidget(m_split);
    panel->setObjectName(QStringLiteral("pnl_values"));
    m_values = new QGridLayout(panel);
    m_values->setVerticalSpacing(3);
    m_values->setHorizontalSpacing(10);
    auto heading = [panel](const QString &text) {
        auto *label = new QLabel(text, panel);
        label->setTextFormat(Qt::PlainText);
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        return label;
    };
    m_values->addWidget(heading(QStringLiteral("Latest")), 0, 1);
    m_values->addWidget(heading(QStringLiteral("At cursor")), 0, 2);
    int row = 1;
    auto addRow = [&](const char *key, const QString &name) {
        auto *caption = new QLabel(name, panel);
        caption->setTextFormat(Qt::PlainText);
        m_values->addWidget(caption, row, 0);
        m_values->addWidget(valueLabel(QStringLiteral("lbl_latest_") + QLatin1String(key), panel), row, 1);
        m_values->addWidget(valueLabel(QStringLiteral("lbl_cursor_") + QLatin1String(key), panel), row, 2);
        ++row;
    };
    addRow("time", QStringLiteral("Time"));
    for (const ValueRow &value : ValueRows)
        addRow(value.key, QString::fromLatin1(value.name));
    auto *eventCaption = new QLabel(QStringLiteral("Event"), panel);
    m_values->addWidget(eventCaption, row, 0);
    auto *event = valueLabel(QStringLiteral("lbl_cursor_event"), panel);
    event->setWordWrap(true);
    m_values->addWidget(event, row, 1, 1, 2);
    m_values->setRowStretch(row + 1, 1);
    m_split->addWidget(panel);
    m_split->setStretchFactor(0, 1);
    m_split->setStretchFactor(1, 0);
    m_split->setSizes({1000, panel->sizeHint().width()});
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
    m_range = range >= TenMinutes && range <= Everything ? static_cast<Range>(range) : OneHour;
    m_rangeButtons->button(m_range)->setChecked(true);
    const QStringList hidden = settings.value(QStringLiteral("hidden")).toStringList();
    for (int c = 0; c < ChannelCount; ++c) {
        const auto channel = static_cast<Channel>(c);
        if (hidden.contains(QLatin1String(channelInfo(channel).key))) {
            m_hidden[static_cast<std::size_t>(c)] = true;
            for (TrendChart *chart : m_timeCharts)
                chart->setLineShown(channel, false);
        }
    }
    m_againstDepth = settings.value(QStringLiteral("againstDepth"), false).toBool();
    chk_depth->setChecked(m_againstDepth);
    showPage();
    cmd_live->setChecked(m_live);
}

void TrendsWindow::saveSettings() const
{
    const UserSettings opened = openUserSettings();
    QSettings &settings = *opened.settings;
    settings.beginGroup(QStringLiteral("trends"));
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
    settings.setValue(QStringLiteral("split"), m_split->saveState());
    settings.setValue(QStringLiteral("range"), static_cast<int>(m_range));
    settings.setValue(QStringLiteral("againstDepth"), m_againstDepth);
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
    if (m_againstDepth && m_depthCharts.empty()) {
        for (const char *name : {"gas", "chromatograph", "ratios"}) {
            TrendChart *chart = addChart(name, false);
            static_cast<QHBoxLayout *>(m_depthPage->layout())->addWidget(chart, 1);
            for (int c = 0; c < ChannelCount; ++c) {
                if (m_hidden[static_cast<std::size_t>(c)])
                    chart->setLineShown(static_cast<Channel>(c), false);
            }
        }
    }
    m_pages->setCurrentIndex(m_againstDepth ? 1 : 0);
}

std::vector<TrendChart *> TrendsWindow::shownCharts() const
{
    return m_againstDepth ? m_depthCharts : m_timeCharts;
}

// ---------------------------------------------------------------------------
// The unit and the choices

void TrendsWindow::present()
{
    const QString chosen = m_options.chosenUnit ? m_options.chosenUnit().trimmed() : QString();
    if (m_unit.isEmpty() || (m_followBox && !chosen.isEmpty())) {
        const QString unit = chosen.isEmpty() ? m_link.serial() : chosen;
        if (unit != m_unit)
            m_liveKept.clear();
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
    m_depthZoom.reset();
    m_live = true;
    reload();
}

void TrendsWindow::setRange(Range range)
{
    m_range = range;
    m_rangeButtons->button(range)->setChecked(true);
    m_depthZoom.reset();
    m_live = true;
    m_liveSpan.reset();
    saveSettings();
    reload();
}

void TrendsWindow::setAgainstDepth(bool on)
{
    if (on == m_againstDepth)
        return;
    m_againstDepth = on;
    chk_depth->setChecked(on);
    showPage();
    m_cursor.reset();
    saveSettings();
    reload();
}

void TrendsWindow::lineToggled(Channel channel, bool shown)
{
    m_hidden[static_cast<std::size_t>(channel)] = !shown;
    // The same line against time and against depth.
    for (TrendChart *chart : m_timeCharts)
        chart->setLineShown(channel, shown);
    for (TrendChart *chart : m_depthCharts)
        chart->setLineShown(channel, shown);
    saveSettings();
    refreshCharts();
}

// ---------------------------------------------------------------------------
// Reading the history

bool TrendsWindow::openStore()
{
    // Opened afresh for every reading, so a file the recorder has moved
    // aside and started again is followed.
    m_store = std::make_unique<HistoryStore>();
    if (!QFileInfo::exists(m_options.historyPath)) {
        lbl_status->setText(QStringLiteral("No history recorded yet: live readings only"));
        m_store.reset();
        return false;
    }
    if (!m_store->open(m_options.historyPath, HistoryStore::Access::ReadOnly)) {
        lbl_status->setText(QStringLiteral("History not read: ") + m_store->error().text);
        m_store.reset();
        return false;
    }
    return true;
}

void TrendsWindow::fillUnits()
{
    QStringList units;
    std::vector<RecordedUnit> known;
    if (m_store) {
        if (auto recorded = recordedUnits(*m_store))
            known = std::move(*recorded);
    }
    // With no unit in the serial box, the first one recorded.
    if (m_unit.isEmpty() && !known.empty())
        m_unit = known.front().unit;
    for (const RecordedUnit &recorded : known) {
        units << recorded.unit;
        if (recorded.unit == m_unit)
            m_firstMs = std::min(m_firstMs, recorded.firstMs);
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
    const std::vector<TrendChart *> charts = shownCharts();
    return std::max(50, charts.front()->plotLength());
}

void TrendsWindow::reload()
{
    m_reloadSoon->stop();
    m_loadStep->stop();
    m_loading.reset();
    lbl_status->clear();
    if (m_options.beforeReading)
        m_options.beforeReading();
    const qint64 now = nowMs();
    m_firstMs = now;
    const bool stored = openStore();
    fillUnits();
    // The gas level is the link's, for the link's unit only: another unit
    // shows no level of its own, and none of the unit shown before.
    m_gasLevel = m_unit == m_link.serial() ? m_link.gasLevel() : readings::GasLevel::Unchanged;
    if (m_live)
        setTimeView(0, 0, true);
    cmd_live->setChecked(m_live);

    const double span = m_viewTo - m_viewFrom;
    if (!m_againstDepth) {
        const double width = span / columns();
        // Live, the columns are kept from the start of the view on as time
        // goes by; a fixed view reads half a view more either side, so a
        // short scroll needs no new reading.
        m_loadFrom = m_live ? m_viewFrom - width : m_viewFrom - span / 2;
        m_loadTo = m_live ? static_cast<double>(now + 1) : m_viewTo + span / 2;
        const std::size_t limit = m_range == Everything && m_live ? static_cast<std::size_t>(2 * columns()) : 0;
        m_data.reset(TrendData::Axis::Time, width, limit, m_loadFrom,
                     m_live ? std::numeric_limits<double>::infinity() : m_loadTo);
    } else {
        m_loadFrom = m_viewFrom;
        m_loadTo = m_live ? static_cast<double>(now + 1) : m_viewTo;
        if (m_depthZoom) {
            const double depthSpan = m_depthZoom->second - m_depthZoom->first;
            m_data.reset(TrendData::Axis::Depth, depthSpan / columns(), 0, m_depthZoom->first - depthSpan / 2,
                         m_depthZoom->second + depthSpan / 2);
        } else {
            // Fine columns to start with, merged as the depths read widen.
            m_data.reset(TrendData::Axis::Depth, 0.05, static_cast<std::size_t>(columns()));
        }
    }
    // What came live since the window opened; the history read next may
    // hold it as well, which changes nothing.
    for (const trends::Sample &sample : m_liveKept) {
        if (sample.timeMs >= m_loadFrom && (m_live || sample.timeMs < m_loadTo))
            m_data.add(sample);
    }
    m_events.clear();
    m_eventsUntilMs = static_cast<qint64>(m_loadFrom);
    if (!stored) {
        loadFinished(lbl_status->text());
        return;
    }
    fetchNewEvents();
    m_loading = std::make_unique<HistoryReadings>(*m_store, m_unit, static_cast<qint64>(m_loadFrom),
                                                  static_cast<qint64>(m_loadTo));
    lbl_status->setText(QStringLiteral("Reading the history…"));
    m_loadStep->start();
}

void TrendsWindow::reloadSoon()
{
    m_reloadSoon->start();
}

void TrendsWindow::loadStep()
{
    if (!m_loading)
        return;
    if (!m_loading->readSome(LoadSliceRows, [this](const trends::Sample &sample) { m_data.add(sample); })) {
        loadFinished(QStringLiteral("History not read: ") + m_loading->error());
        return;
    }
    if (m_loading->done()) {
        loadFinished(QString());
        return;
    }
    lbl_status->setText(QStringLiteral("Reading the history… %L1 readings").arg(m_loading->read()));
    m_loadStep->start();
}

void TrendsWindow::loadFinished(const QString &problem)
{
    m_loading.reset();
    lbl_status->setText(problem);
    refreshCharts();
    emit chartsUpdated();
}

void TrendsWindow::fetchNewEvents()
{
    if (!m_store || m_againstDepth)
        return;
    // The recorder writes an event a second or more after its time, so each
    // look goes back over the last while and keeps what it has not seen.
    const qint64 until = nowMs() + 1;
    const qint64 from = std::max(static_cast<qint64>(m_loadFrom), m_eventsUntilMs - EventsOverlapMs);
    QString problem;
    if (const auto events = historyEvents(*m_store, m_unit, from, until, &problem)) {
        const auto seenFrom = std::lower_bound(m_events.begin(), m_events.end(), from,
                                               [](const EventMark &mark, qint64 ms) { return mark.timeMs < ms; });
        const std::vector<EventMark> seen(seenFrom, m_events.end());
        for (const EventMark &event : *events) {
            const bool known = std::any_of(seen.begin(), seen.end(), [&event](const EventMark &mark) {
                return mark.timeMs == event.timeMs && mark.kind == event.kind && mark.text == event.text;
            });
            if (!known) {
                m_events.insert(std::upper_bound(m_events.begin(), m_events.end(), event.timeMs,
                                                 [](qint64 ms, const EventMark &mark) { return ms < mark.timeMs; }),
                                event);
                m_changed = true;
            }
        }
        m_eventsUntilMs = until;
    } else {
        lbl_status->setText(QStringLiteral("History not read: ") + problem);
    }
}

// ---------------------------------------------------------------------------
// What the link reports

void TrendsWindow::readingAccepted(const Reading &reading)
{
    if (reading.serial != m_unit) {
        // The operator connected another unit: the window goes with the
        // serial box unless another unit was chosen here.
        if (m_followBox && !reading.serial.isEmpty() && isVisible()) {
            m_unit = reading.serial;
            m_liveKept.clear();
            m_gasLevel = readings::GasLevel::Unchanged;
            m_live = true;
            reloadSoon();
        }
        return;
    }
    // The reading brings the bit depth and the gas level it was accepted
    // with.
    m_gasLevel = reading.gasLevel;
    m_liveKept.push_back(sampleOf(reading));
    if (m_liveKept.size() > LiveKept)
        m_liveKept.pop_front();
    m_data.add(m_liveKept.back());
    m_newReading = true;
    // A view that does not move with time changes only where the reading
    // lands in it.
    const double x = m_againstDepth ? m_liveKept.back()[LagDepth] : static_cast<double>(reading.acceptedAtMs);
    const auto [from, to] = m_againstDepth ? depthView() : std::make_pair(m_viewFrom, m_viewTo);
    m_changed = m_changed || (x >= from && x <= to);
}

// ---------------------------------------------------------------------------
// The view

void TrendsWindow::tick()
{
    if (!isVisible() || isMinimized() || m_loading)
        return;
    if (++m_ticks % EventsEveryTicks == 0)
        fetchNewEvents();
    const bool moving = m_live && !m_againstDepth;
    // Drawing the charts again is what following costs: a live view moves
    // when it has moved by about two pixel columns, and at least every
    // ChartsEveryMs; the latest values follow every second.
    const double columnMs = (m_viewTo - m_viewFrom) / columns();
    const double due = m_againstDepth ? ChartsEveryMs : std::clamp(2 * columnMs, ChartsEveryMs, 60000.0);
    if ((moving || m_changed) && nowMs() - m_drawnAtMs >= due) {
        if (moving) {
            setTimeView(0, 0, true);
            m_data.dropBefore(m_viewFrom - m_data.channel(GasUnits).width());
        }
        refreshCharts();
    } else if (m_newReading) {
        showLatest();
    }
    m_newReading = false;
}

void TrendsWindow::setTimeView(double from, double to, bool live)
{
    m_live = live;
    if (live) {
        const double span = m_liveSpan.value_or(static_cast<double>(RangeSpans[m_range]));
        to = static_cast<double>(nowMs());
        from = span > 0 ? to - span : std::min<double>(m_firstMs, to - LeastSpanMs);
    }
    if (to - from < LeastSpanMs) {
        const double middle = (from + to) / 2;
        from = middle - LeastSpanMs / 2;
        to = middle + LeastSpanMs / 2;
    }
    m_viewFrom = from;
    m_viewTo = to;
    cmd_live->setChecked(live);
}

void TrendsWindow::followNow()
{
    m_live = true;
    m_liveSpan.reset();
    m_depthZoom.reset();
    reload();
}

void TrendsWindow::zoom(double factor, std::optional<double> around)
{
    if (m_againstDepth) {
        const auto [from, to] = depthView();
        const double centre = around.value_or((from + to) / 2);
        const double span = std::max(2.0, (to - from) * factor);
        const double share = (centre - from) / (to - from);
        m_depthZoom = std::make_pair(centre - share * span, centre - share * span + span);
        refreshCharts();
        reloadSoon();
        return;
    }
    const double span = m_viewTo - m_viewFrom;
    const double newSpan = std::max(LeastSpanMs, span * factor);
    if (m_live) {
        // Live stays live: the view keeps its right edge at now.
        m_liveSpan = newSpan;
        setTimeView(0, 0, true);
    } else {
        const double centre = around.value_or((m_viewFrom + m_viewTo) / 2);
        const double share = (centre - m_viewFrom) / span;
        setTimeView(centre - share * newSpan, centre - share * newSpan + newSpan, false);
    }
    refreshCharts();
    reloadSoon();
}

void TrendsWindow::pan(double share)
{
    if (m_againstDepth) {
        const auto [from, to] = depthView();
        const double shift = (to - from) * share;
        m_depthZoom = std::make_pair(from + shift, to + shift);
    } else {
        const double shift = (m_viewTo - m_viewFrom) * share;
        if (m_viewTo + shift >= static_cast<double>(nowMs())) {
            // Scrolled up to now: following again.
            if (!m_live)
                reloadSoon();
            setTimeView(0, 0, true);
            refreshCharts();
            return;
        }
        setTimeView(m_viewFrom + shift, m_viewTo + shift, false);
    }
    refreshCharts();
    // Within what was read, at the same width, nothing needs reading again.
    if (m_againstDepth || m_viewFrom < m_loadFrom || m_viewTo > m_loadTo)
        reloadSoon();
}

void TrendsWindow::scrolled(int value)
{
    const double span = m_viewTo - m_viewFrom;
    const double from = static_cast<double>(m_firstMs) + value * 1000.0;
    if (value >= scr_time->maximum()) {
        if (!m_live)
            followNow();
        return;
    }
    setTimeView(from, from + span, false);
    refreshCharts();
    if (m_viewFrom < m_loadFrom || m_viewTo > m_loadTo)
        reloadSoon();
}

void TrendsWindow::refreshCharts()
{
    m_changed = false;
    m_drawnAtMs = nowMs();
    if (m_againstDepth)
        refreshDepthCharts();
    else
        refreshTimeCharts();
    showLatest();
    showCursor();
}

void TrendsWindow::refreshTimeCharts()
{
    const double width = m_data.channel(GasUnits).width();
    drawCharts(m_timeCharts, m_viewFrom, m_viewTo, std::max(GapMs, 3 * width));
    // At most one mark of each kind in a stretch as wide as a mark, the
    // stretches fixed in time, so that a moving view keeps its marks.
    std::vector<double> alarms;
    std::vector<double> links;
    const double stretch = (m_viewTo - m_viewFrom) / columns() * MarkPixels;
    for (const EventMark &event : m_events) {
        if (event.timeMs < m_viewFrom || event.timeMs > m_viewTo)
            continue;
        std::vector<double> &marks = event.kind == EventMark::Kind::Alarm ? alarms : links;
        if (marks.empty() || std::floor(event.timeMs / stretch) != std::floor(marks.back() / stretch))
            marks.push_back(static_cast<double>(event.timeMs));
    }
    m_timeCharts.front()->setMarks(alarms, links);

    const QSignalBlocker quiet(scr_time);
    const double span = m_viewTo - m_viewFrom;
    const qint64 now = nowMs();
    const int last = static_cast<int>(std::max(0.0, (now - m_firstMs - span) / 1000.0));
    scr_time->setRange(0, last);
    scr_time->setPageStep(static_cast<int>(std::max(1.0, span / 1000.0)));
    scr_time->setSingleStep(static_cast<int>(std::max(1.0, span / 10000.0)));
    scr_time->setValue(m_live ? last : static_cast<int>((m_viewFrom - m_firstMs) / 1000.0));
}

std::pair<double, double> TrendsWindow::depthView() const
{
    if (m_depthZoom)
        return *m_depthZoom;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (int c = 0; c < ChannelCount; ++c) {
        const ColumnExtremes &channel = m_data.channel(static_cast<Channel>(c));
        if (!channel.empty()) {
            low = std::min(low, channel.minX());
            high = std::max(high, channel.maxX());
        }
    }
    if (!(low <= high))
        return {0.0, 100.0};
    const double pad = std::max(1.0, (high - low) * 0.03);
    return {low - pad, high + pad};
}

void TrendsWindow::refreshDepthCharts()
{
    const auto [from, to] = depthView();
    drawCharts(m_depthCharts, from, to, std::numeric_limits<double>::infinity());
}

void TrendsWindow::drawCharts(const std::vector<TrendChart *> &charts, double from, double to, double gap)
{
    for (TrendChart *chart : charts) {
        TrendChart::Lines lines;
        for (int c = 0; c < ChannelCount; ++c) {
            const auto channel = static_cast<Channel>(c);
            if (chart->hasLine(channel))
                lines.emplace_back(channel, m_data.channel(channel).line(from, to, gap));
        }
        chart->draw(from, to, lines);
    }
}

void TrendsWindow::setCursorPlace(std::optional<double> place)
{
    m_cursor = place;
    for (TrendChart *chart : shownCharts())
        chart->setCursorPlace(place);
    showCursor();
}

void TrendsWindow::showLatest()
{
    auto set = [this](const char *key, const QString &text) {
        if (auto *label = findChild<QLabel *>(QStringLiteral("lbl_latest_") + QLatin1String(key)))
            label->setText(text);
    };
    const std::optional<trends::Sample> &latest = m_data.latest();
    set("time", latest ? timeText(latest->timeMs) : QStringLiteral("—"));
    const GasRatios ratios = latest ? gasRatios(chromatographOf(*latest)) : GasRatios();
    for (const ValueRow &row : ValueRows) {
        if (row.channel < 0)
            set(row.key, methaneRatioText(ratios, row.key));
        else
            set(row.key, latest ? valueText(static_cast<Channel>(row.channel), (*latest)[static_cast<Channel>(row.channel)])
                                : QStringLiteral("—"));
    }
    // The gas units in the panel's colour for the level the link holds them
    // at; a reading with no number has none.
    if (auto *gas = findChild<QLabel *>(QStringLiteral("lbl_latest_gas"))) {
        const QColor back = m_gasLevel == readings::GasLevel::Red      ? colours::red()
                            : m_gasLevel == readings::GasLevel::Yellow ? colours::yellow()
                            : m_gasLevel == readings::GasLevel::Green  ? colours::green()
                                                                       : QColor();
        gas->setAutoFillBackground(back.isValid());
        if (back.isValid())
            colours::setBackColor(gas, back);
    }
}

void TrendsWindow::showCursor()
{
    auto set = [this](const char *key, const QString &text) {
        if (auto *label = findChild<QLabel *>(QStringLiteral("lbl_cursor_") + QLatin1String(key)))
            label->setText(text);
    };
    trends::Sample under;
    if (m_cursor) {
        for (int c = 0; c < ChannelCount; ++c) {
            const auto channel = static_cast<Channel>(c);
            if (const ColumnExtremes::Column *column = m_data.channel(channel).columnNear(*m_cursor, CursorReach))
                under[channel] = column->last.y();
        }
    }
    if (!m_cursor)
        set("time", QStringLiteral("—"));
    else if (m_againstDepth)
        set("time", QStringLiteral("%1 ft lag").arg(*m_cursor, 0, 'f', 1));
    else
        set("time", timeText(static_cast<qint64>(*m_cursor)));
    const GasRatios ratios = gasRatios(chromatographOf(under));
    for (const ValueRow &row : ValueRows) {
        if (row.channel < 0)
            set(row.key, methaneRatioText(ratios, row.key));
        else
            set(row.key, valueText(static_cast<Channel>(row.channel), under[static_cast<Channel>(row.channel)]));
    }
    // The event nearest the cursor, within a few pixels.
    QString event;
    if (m_cursor && !m_againstDepth) {
        const double reach = (m_viewTo - m_viewFrom) / columns() * 6;
        double best = reach;
        for (const EventMark &mark : m_events) {
            const double distance = std::abs(mark.timeMs - *m_cursor);
            if (distance <= best) {
                best = distance;
                event = timeText(mark.timeMs) + QStringLiteral("  ") + mark.text;
            }
        }
    }
    set("event", event.isEmpty() ? QStringLiteral("—") : event);
}

bool TrendsWindow::eventFilter(QObject *watched, QEvent *event)
{
    TrendChart *chart = nullptr;
    for (TrendChart *candidate : shownCharts()) {
        if (candidate->viewport() == watched)
            chart = candidate;
    }
    if (!chart)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseMove: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (m_dragFrom) {
            const QPoint moved = mouse->position().toPoint() - *m_dragFrom;
            const int pixels = m_againstDepth ? moved.y() : moved.x();
            if (std::abs(pixels) < 3 && !m_dragged)
                return true;
            m_dragged = true;
            const double share = -static_cast<double>(pixels) / std::max(1, chart->plotLength());
            if (m_againstDepth)
                m_depthZoom = m_dragView;
            else
                setTimeView(m_dragView.first, m_dragView.second, false);
            pan(share);
            return true;
        }
        if (const std::optional<double> place = chart->placeAt(mouse->position().toPoint()))
            setCursorPlace(place);
        return false;
    }
    case QEvent::MouseButtonPress: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton || !chart->placeAt(mouse->position().toPoint()))
            return false;
        m_dragFrom = mouse->position().toPoint();
        m_dragView = m_againstDepth ? depthView() : std::make_pair(m_viewFrom, m_viewTo);
        m_dragged = false;
        return true;
    }
    case QEvent::MouseButtonRelease:
        if (!m_dragFrom)
            return false;
        m_dragFrom.reset();
        return true;
    case QEvent::MouseButtonDblClick:
        if (!chart->placeAt(static_cast<QMouseEvent *>(event)->position().toPoint()))
            return false;
        followNow();
        return true;
    case QEvent::Wheel: {
        const auto *wheel = static_cast<QWheelEvent *>(event);
        const std::optional<double> place = chart->placeAt(wheel->position().toPoint());
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
        followNow();
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}
