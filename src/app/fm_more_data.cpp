#include "app/fm_more_data.h"

#include <algorithm>
#include <limits>

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFont>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>

#include "app/version.h"
#include "rules/convert/attempt.h"
#include "rules/convert/convert.h"
#include "rules/convert/fault.h"
#include "app/display/colours.h"
#include "app/display/panellayout.h"
#include "link/socketcontrol.h"
#include "link/unitlink.h"
#include "app/stream/keycodes.h"
#include "app/stream/trafficwindow.h"
#include "app/unlock/fm_secure.h"

namespace {

QFont panelFont(const QStringList &families, qreal points, bool bold)
{
    QFont font;
    font.setFamilies(families);
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

// Arial and MS Sans Serif are rarely present outside Windows; the metric
// compatible families keep the boxes' text inside their labels.
const QStringList &sansSerif()
{
    static const QStringList families = {QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                                         QStringLiteral("Liberation Sans"), QStringLiteral("Arial"),
                                         QStringLiteral("DejaVu Sans")};
    return families;
}

const QStringList &arial()
{
    static const QStringList families = {QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                                         QStringLiteral("DejaVu Sans")};
    return families;
}

} // namespace

fm_more_data::fm_more_data()
    : fm_more_data(ViewerOptions())
{
}

fm_more_data::fm_more_data(ViewerOptions options, QWidget *parent)
    : QWidget(parent)
    , m_options(std::move(options))
{
    setObjectName(QStringLiteral("fm_more_data"));
    setAttribute(Qt::WA_QuitOnClose, false);
    if (m_options.programDirectory.isEmpty())
        m_options.programDirectory = QCoreApplication::applicationDirPath();
    if (!m_options.endProcess)
        m_options.endProcess = [] { QCoreApplication::exit(0); };
    m_link = new UnitLink(m_options.socket, this);
    m_options.socket = nullptr;  // the link owns it now

    setFont(panelFont(sansSerif(), 8.25, false));
    setPanelStyle();
    setWindowTitle(QStringLiteral("   Real Time Data"));
    // The controls stand on a panel inside a scroll area: a window that the
    // screen cannot hold whole gets scroll bars instead of losing its lower
    // rows past the screen's edge. The panel is at least the size the
    // window asks for, so the window shows exactly what it would without.
    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("scr_panel"));
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFocusPolicy(Qt::NoFocus);
    m_scroll->setFont(font());
    m_panel = new QWidget;
    m_panel->setObjectName(QStringLiteral("pnl_panel"));
    m_scroll->setWidget(m_panel);
    m_scroll->viewport()->setBackgroundRole(QPalette::Window);
    buildTopRow();
    buildPanel();
    // Text scrolled into view is brought up to date, as when the window grows.
    for (QScrollBar *bar : {m_scroll->horizontalScrollBar(), m_scroll->verticalScrollBar()})
        connect(bar, &QScrollBar::valueChanged, text_window, &TrafficWindow::syncWithScreen);
    setClientSize(QSize(twipsX(panel::DesignWidth), twipsY(panel::DesignHeight)));
    setProperty("Tag", QString());
    m_extras = new QMenu(this);
    m_extras->setObjectName(QStringLiteral("mnu_extras"));
    wireLink();

    Form_Load();
}

fm_more_data::~fm_more_data()
{
    m_ended = true;
    for (QEventLoop *loop : m_waits)
        loop->quit();
    if (m_secure)
        delete m_secure.data();
}

QWidget &fm_more_data::indicatorPlace()
{
    return *txt_tcp_status;
}

const StreamState &fm_more_data::stream() const
{
    return m_link->stream();
}

const WitsTable &fm_more_data::witsTable() const
{
    return m_link->witsTable();
}

const QByteArray &fm_more_data::trafficContent() const
{
    return text_window->content();
}

std::int16_t fm_more_data::socketState() const
{
    return m_link->state();
}

std::int16_t fm_more_data::keepaliveCountdown() const
{
    return m_link->keepaliveCountdown();
}

int fm_more_data::twipsX(int twips) const
{
    return qRound(twips * logicalDpiX() / 1440.0 * zoomFactor());
}

int fm_more_data::twipsY(int twips) const
{
    return qRound(twips * logicalDpiY() / 1440.0 * zoomFactor());
}

QRect fm_more_data::twipsRect(int left, int top, int width, int height) const
{
    return QRect(twipsX(left), twipsY(top), twipsX(width), twipsY(height));
}

void fm_more_data::placeTwips(QWidget *control, int left, int top, int width, int height)
{
    const QRect place(left, top, width, height);
    m_places.push_back({control, place, 0.0});
    control->setGeometry(twipsRect(left, top, width, height));
    // Under the window's style sheet a font is not passed on through the
    // scroll area: each control is given the panel's font itself (a box
    // with a font of its own sets it afterwards).
    if (!control->testAttribute(Qt::WA_SetFont))
        control->setFont(font());
}

qreal fm_more_data::zoomFactor() const
{
    return m_zoomPercent / 100.0;
}

void fm_more_data::setPanelStyle()
{
    // Frames drawn as a plain line with the caption on it, so every caption
    // sits above its label instead of taking room inside the box.
    const auto px = [this](int pixels) { return QString::number(qRound(pixels * zoomFactor())); };
    setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid #a0a0a0; margin-top: %1px; }"
                                 "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                                 " left: %2px; padding: 0px %3px; }")
                      .arg(px(6), px(4), px(2)));
}

void fm_more_data::setZoom(int percent)
{
    const auto &steps = panel::ZoomSteps;
    if (percent == m_zoomPercent || std::find(steps.begin(), steps.end(), percent) == steps.end())
        return;
    // The sizes at 100 % are taken before the first change, so that every
    // step scales from them and not from a rounded step before it.
    for (Place &place : m_places) {
        if (place.points <= 0)
            place.points = place.control->font().pointSizeF();
    }
    m_zoomPercent = percent;
    setPanelStyle();
    for (const Place &place : m_places) {
        place.control->setGeometry(twipsRect(place.twips.x(), place.twips.y(), place.twips.width(),
                                             place.twips.height()));
        QFont font = place.control->font();
        font.setPointSizeF(place.points * zoomFactor());
        place.control->setFont(font);
    }
    // The window keeps its state (design, full or compact size) at the new
    // scale, unless the operator has it maximised.
    const QString tag = property("Tag").toString();
    if (tag == QLatin1String("1"))
        setOuterSizeTwips(panel::FullWidth, panel::FullHeight);
    else if (tag == QLatin1String("0"))
        setOuterSizeTwips(panel::CompactWidth, panel::CompactHeight);
    else
        setClientSize(QSize(twipsX(panel::DesignWidth), twipsY(panel::DesignHeight)));
}

void fm_more_data::buildTopRow()
{
    auto *serialFrame = new QGroupBox(QStringLiteral("Serial Number"), m_panel);
    serialFrame->setObjectName(QStringLiteral("fra_serial"));
    placeTwips(serialFrame, 0, 0, 1230, 690);
    txt_trailer_num = new QLineEdit(QStringLiteral("0001"), serialFrame);
    txt_trailer_num->setObjectName(QStringLiteral("txt_trailer_num"));
    placeTwips(txt_trailer_num, 90, 240, 1050, 345);
    txt_trailer_num->installEventFilter(this);

    auto button = [this](const char *name, const char *caption, QRect place) {
        auto *b = new QPushButton(QString::fromLatin1(caption), m_panel);
        b->setObjectName(QString::fromLatin1(name));
        placeTwips(b, place.x(), place.y(), place.width(), place.height());
        b->setFocusPolicy(Qt::TabFocus);
        return b;
    };
    cmd_connect = button("cmd_connect", "Connect To Server", QRect(1305, 90, 1905, 285));
    colours::setBackColor(cmd_connect, colours::green());
    cmd_discon = button("cmd_discon", "Disconnect From Server", QRect(1305, 405, 1905, 285));
    colours::setBackColor(cmd_discon, colours::red());
    cmd_more_data = button("cmd_more_data", "More Data", QRect(4410, 90, 1275, 285));
    cmd_secure = button("cmd_secure", "Two Way Inactive", QRect(4410, 405, 2625, 285));
    cmd_wits = button("cmd_wits", "WITS", QRect(5760, 90, 1275, 285));
    colours::setBackColor(cmd_wits, colours::red());

    connect(cmd_connect, &QPushButton::clicked, this, &fm_more_data::cmd_connect_Click);
    connect(cmd_discon, &QPushButton::clicked, this, &fm_more_data::cmd_discon_Click);
    connect(cmd_more_data, &QPushButton::clicked, this, &fm_more_data::cmd_more_data_Click);
    connect(cmd_secure, &QPushButton::clicked, this, &fm_more_data::cmd_secure_Click);
    connect(cmd_wits, &QPushButton::clicked, this, &fm_more_data::cmd_wits_Click);

    txt_tcp_status = new QLineEdit(m_panel);
    txt_tcp_status->setObjectName(QStringLiteral("txt_tcp_status"));
    placeTwips(txt_tcp_status, 0, 720, 7080, 285);
    txt_tcp_status->setReadOnly(true);
    txt_tcp_status->setFocusPolicy(Qt::NoFocus);
    QPalette statusPalette = txt_tcp_status->palette();
    statusPalette.setColor(QPalette::Base, colours::lightGrey());
    txt_tcp_status->setPalette(statusPalette);

    text_window = new TrafficWindow(m_panel);
    placeTwips(text_window, 0, 7110, 7110, 3525);
    connect(text_window, &TrafficWindow::keyTyped, this, &fm_more_data::text_window_KeyPress);

    wits_info = new QListWidget(m_panel);
    wits_info->setObjectName(QStringLiteral("wits_info"));
    placeTwips(wits_info, 7155, 45, 3795, 10590);
}

void fm_more_data::buildPanel()
{
    for (const panel::Box &box : panel::boxes()) {
        auto *frame = new QGroupBox(QString::fromLatin1(box.caption), m_panel);
        frame->setObjectName(QString::fromLatin1(box.frame));
        placeTwips(frame, box.left, box.top, box.width, box.height);
        auto *label = new QLabel(frame);
        // Values come from the wire: shown as text, never read as markup.
        label->setTextFormat(Qt::PlainText);
        label->setObjectName(QString::fromLatin1(box.label));
        placeTwips(label, box.labelLeft, box.labelTop, box.labelWidth, box.labelHeight);
        label->setAlignment(Qt::AlignCenter);
        label->setAutoFillBackground(true);
        switch (box.style) {
        case panel::BoxStyle::Large:
        case panel::BoxStyle::LargeCyan:
            label->setFont(panelFont(arial(), 36, true));
            colours::setBackColor(label, colours::black());
            colours::setForeColor(label, box.style == panel::BoxStyle::Large ? colours::white() : colours::lightCyan());
            break;
        case panel::BoxStyle::ErrorText:
            label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            label->setText(QStringLiteral("No Errors"));
            label->setFont(panelFont(sansSerif(), 8.25, true));
            break;
        case panel::BoxStyle::Uptime:
            label->setText(QStringLiteral("100%"));
            label->setFont(panelFont(sansSerif(), 9.75, true));
            break;
        case panel::BoxStyle::Small:
        case panel::BoxStyle::Chromatograph:
            label->setFont(panelFont(sansSerif(), 8.25, true));
            break;
        }
        if (box.style != panel::BoxStyle::Large && box.style != panel::BoxStyle::LargeCyan) {
            colours::setBackColor(label, colours::buttonFace());
            colours::setForeColor(label, colours::buttonText());
        }
        m_labels.insert(label->objectName(), label);
    }
    lbl_GasUnits = panelLabel("lbl_GasUnits");
    lbl_GasUnits->setToolTip(QStringLiteral("Yellow = High  Red = Very High"));
    lbl_DrillDepth = panelLabel("lbl_DrillDepth");
    lbl_bit_depth = panelLabel("lbl_bit_depth");
    lbl_err = panelLabel("lbl_err");
    lbl_err_txt = panelLabel("lbl_err_txt");
    lbl_uptime = panelLabel("lbl_uptime");
    Frame22 = findChild<QGroupBox *>(QStringLiteral("Frame22"));
}

void fm_more_data::wireLink()
{
    // The link's timers are the window's tmr_delay, tmrDataArrival and
    // tmr_wits: each tick of theirs shows here after the link has done its
    // part.
    connect(m_link, &UnitLink::ticked, this, &fm_more_data::linkTicked);
    connect(m_link, &UnitLink::witsTicked, this, &fm_more_data::witsCounted);
    connect(m_link, &UnitLink::chunkReceived, text_window, &TrafficWindow::appendChunk);
    connect(m_link, &UnitLink::lineReported, this, &fm_more_data::disply_text);
    connect(m_link, &UnitLink::readingAccepted, this, &fm_more_data::populate_moredata);
    connect(m_link, &UnitLink::twoWayModeChanged, this, &fm_more_data::twoWayMode);
    connect(m_link, &UnitLink::witsRecordStarted, this, &fm_more_data::witsListCleared);
    connect(m_link, &UnitLink::witsItemRead, this, &fm_more_data::witsItemRead);
    connect(m_link, &UnitLink::bitDepthRead, this, &fm_more_data::witsBitDepth);
}

QString fm_more_data::chosenUnit() const
{
    return txt_trailer_num->text();
}

void fm_more_data::Form_Load()
{
    // The keep-alive countdown, the data age, the uptime and the WITS
    // countdown start at their start values with the link.
    setWindowTitle(startCaption());
    LoadIniFile();
    connect_busy = false;
    uptime_holdoff = 10;
    showUptime();
}

QString fm_more_data::startCaption()
{
    return QStringLiteral("  Ulmex Instruments Real Time Data Viewer Version ") + QString::number(RTVIEWER_VERSION_MAJOR);
}

void fm_more_data::showUptime()
{
    attempt([&] { lbl_uptime->setText(convert::formatWhole(m_link->uptimePercent()) + QStringLiteral("%")); });
}

void fm_more_data::tmr_delay_Timer()
{
    if (m_ended)
        return;
    // The link ages the data, sends the keep-alive when due and reads the
    // state; linkTicked() then does the window's part of the tick.
    m_link->tick();
}

void fm_more_data::linkTicked(bool whole)
{
    if (m_ended)
        return;
    // A failing step drops the rest of this tick; the next tick starts
    // afresh. A keep-alive the socket refused has dropped the state refresh.
    try {
        if (uptime_holdoff > 0)
            --uptime_holdoff;
        if (uptime_holdoff == 0)
            showUptime();
        if (delay_ticks > 0)
            --delay_ticks;
        // Every running wait looks at the shared countdown again.
        endWaits();
        if (whole)
            Winsock_state();
    } catch (...) {
    }
}

void fm_more_data::endWaits()
{
    for (QEventLoop *loop : m_waits)
        loop->quit();
}

void fm_more_data::DelaySeconds(std::int32_t seconds)
{
    attempt([&] {
        const std::int64_t ticks = static_cast<std::int64_t>(seconds) * 10;
        if (ticks < std::numeric_limits<std::int32_t>::min() || ticks > std::numeric_limits<std::int32_t>::max())
            throw Fault::overflow();
        delay_ticks = static_cast<std::int32_t>(ticks);
    });
    // A wait started inside this one may have set the countdown to 0 already;
    // the waits around it must see that too.
    if (delay_ticks <= 0)
        endWaits();
    // Sleeps in a nested event loop until the next tick wakes it; the ticks,
    // the socket and the operator's input go on being handled meanwhile.
    while (delay_ticks > 0 && !m_ended) {
        QEventLoop loop;
        m_waits.push_back(&loop);
        const int result = loop.exec();
        m_waits.erase(std::find(m_waits.begin(), m_waits.end(), &loop));
        if (result != 0)
            break;  // the application is quitting
    }
}

void fm_more_data::Form_Unload(std::int16_t &cancel)
{
    Q_UNUSED(cancel);
    clear_display();
    std::int16_t counter = 5;
    for (;;) {
        Winsock_state();
        if (m_link->state() == SocketControl::Closed || counter == 0 || m_ended)
            break;
        QCoreApplication::processEvents();
        DelaySeconds(1);
        --counter;
    }
    attempt([&] { UnloadAllForms(QStringLiteral("fm_more_data")); });
    m_ended = true;
    m_link->stop();
    for (QTimer *timer : findChildren<QTimer *>())
        timer->stop();
    m_options.endProcess();
}

void fm_more_data::UnloadAllForms(const QString &FormToIgnore)
{
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        const bool isForm = qobject_cast<fm_more_data *>(window) || qobject_cast<fm_secure *>(window);
        if (!isForm || window->objectName() == FormToIgnore)
            continue;
        window->hide();
        window->deleteLater();
    }
}

void fm_more_data::closeEvent(QCloseEvent *event)
{
    // The shut-down runs once; a second close while it waits changes nothing,
    // and the first one always ends the process.
    if (m_unloading) {
        event->ignore();
        return;
    }
    m_unloading = true;
    std::int16_t cancel = 0;
    Form_Unload(cancel);
    event->accept();
}

bool fm_more_data::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != txt_trailer_num || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    // A key's handler closes the link and waits, and the waits handle input:
    // a key typed meanwhile would be handled, and reach the box, before the
    // one still being handled. So keys typed during a key's handling are
    // held, and each goes through its handler and into the box in turn.
    if (m_typing) {
        m_heldKeys.emplace_back(key->clone());
        return true;
    }
    m_typing = true;
    typeSerialKey(key);
    while (!m_heldKeys.empty() && !m_ended) {
        const std::unique_ptr<QKeyEvent> next = std::move(m_heldKeys.front());
        m_heldKeys.pop_front();
        typeSerialKey(next.get());
    }
    m_heldKeys.clear();
    m_typing = false;
    return true;
}

void fm_more_data::typeSerialKey(QKeyEvent *key)
{
    const int code = keyCharCode(key);
    if (code >= 0)
        txt_trailer_num_KeyPress(static_cast<std::int16_t>(code));
    // The key still reaches the box, after the handler.
    if (!m_ended)
        static_cast<QObject *>(txt_trailer_num)->event(key);
}

void fm_more_data::contextMenuEvent(QContextMenuEvent *event)
{
    if (m_extras->actions().isEmpty()) {
        event->ignore();
        return;
    }
    m_extras->popup(event->globalPos());
}

void fm_more_data::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_scroll->setGeometry(rect());
    // The full size brings the traffic window into view.
    text_window->syncWithScreen();
}

QSize fm_more_data::frameDecoration() const
{
    // Without a window manager there is no frame to measure; then the frame
    // of a usual desktop (borders and a title bar) is assumed.
    const QSize decoration = frameGeometry().size() - geometry().size();
    if (decoration.width() <= 0 && decoration.height() <= 0)
        return QSize(qRound(120 * logicalDpiX() / 1440.0), qRound(510 * logicalDpiY() / 1440.0));
    return decoration;
}

QSize fm_more_data::outerSizeTwips() const
{
    const QSize outer = size() + frameDecoration();
    return QSize(qRound(outer.width() * 1440.0 / logicalDpiX()), qRound(outer.height() * 1440.0 / logicalDpiY()));
}

void fm_more_data::setOuterSizeTwips(int width, int height)
{
    const QSize decoration = frameDecoration();
    setClientSize(QSize(twipsX(width) - decoration.width(), twipsY(height) - decoration.height()));
}

void fm_more_data::setClientSize(const QSize &size)
{
    // The panel keeps the whole size; the window takes what the screen
    // holds of it, and the scroll bars reach the rest.
    m_panel->setMinimumSize(size);
    QSize fits = size;
    if (const QScreen *shownOn = screen())
        fits = size.boundedTo(shownOn->availableGeometry().size() - frameDecoration());
    if (!(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        resize(fits);
}

QLabel *fm_more_data::panelLabel(const char *name) const
{
    return m_labels.value(QString::fromLatin1(name));
}
