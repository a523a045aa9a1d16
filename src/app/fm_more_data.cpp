#include "app/fm_more_data.h"

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
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>

#include "app/version.h"
#include "convert/attempt.h"
#include "convert/convert.h"
#include "convert/fault.h"
#include "display/colours.h"
#include "display/panellayout.h"
#include "link/winsockcontrol.h"
#include "stream/keycodes.h"
#include "unlock/fm_secure.h"

namespace {

QString &programDirectoryOverride()
{
    static QString directory;
    return directory;
}

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

fm_more_data::fm_more_data(QWidget *parent)
    : fm_more_data(new WinsockControl, parent)
{
}

fm_more_data::fm_more_data(SocketControl *socket, QWidget *parent)
    : QWidget(parent)
    , Winsock_ulmex(socket)
{
    setObjectName(QStringLiteral("fm_more_data"));
    setAttribute(Qt::WA_QuitOnClose, false);
    Winsock_ulmex->setParent(this);
    Winsock_ulmex->setObjectName(QStringLiteral("Winsock_ulmex"));
    connect(Winsock_ulmex, &SocketControl::DataArrival, this, &fm_more_data::Winsock_ulmex_DataArrival);

    m_endProcess = [this] {
        QCoreApplication::exit(0);
    };

    setFont(panelFont(sansSerif(), 8.25, false));
    // Frames drawn as a plain line with the caption on it, so every caption
    // sits above its label instead of taking room inside the box.
    setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid #a0a0a0; margin-top: 6px; }"
                                 "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                                 " left: 4px; padding: 0px 2px; }"));
    setWindowTitle(QStringLiteral("   Real Time Data"));
    buildTopRow();
    buildPanel();
    resize(twipsX(panel::DesignWidth), twipsY(panel::DesignHeight));
    setProperty("Tag", QString());

    Form_Load();
    startTimers();
}

fm_more_data::~fm_more_data()
{
    m_ended = true;
    for (QEventLoop *loop : m_waits)
        loop->quit();
    if (m_secure)
        delete m_secure.data();
}

QString fm_more_data::programDirectory()
{
    if (!programDirectoryOverride().isEmpty())
        return programDirectoryOverride();
    return QCoreApplication::applicationDirPath();
}

void fm_more_data::setProgramDirectory(const QString &directory)
{
    programDirectoryOverride() = directory;
}

void fm_more_data::setEndProcess(std::function<void()> endProcess)
{
    m_endProcess = std::move(endProcess);
}

int fm_more_data::twipsX(int twips) const
{
    return qRound(twips * logicalDpiX() / 1440.0);
}

int fm_more_data::twipsY(int twips) const
{
    return qRound(twips * logicalDpiY() / 1440.0);
}

QRect fm_more_data::twipsRect(int left, int top, int width, int height) const
{
    return QRect(twipsX(left), twipsY(top), twipsX(width), twipsY(height));
}

void fm_more_data::buildTopRow()
{
    auto *serialFrame = new QGroupBox(QStringLiteral("Serial Number"), this);
    serialFrame->setObjectName(QStringLiteral("fra_serial"));
    serialFrame->setGeometry(twipsRect(0, 0, 1230, 690));
    txt_trailer_num = new QLineEdit(QStringLiteral("0001"), serialFrame);
    txt_trailer_num->setObjectName(QStringLiteral("txt_trailer_num"));
    txt_trailer_num->setGeometry(twipsRect(90, 240, 1050, 345));
    txt_trailer_num->installEventFilter(this);

    auto button = [this](const char *name, const char *caption, QRect geometry) {
        auto *b = new QPushButton(QString::fromLatin1(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(geometry);
        b->setFocusPolicy(Qt::TabFocus);
        return b;
    };
    cmd_connect = button("cmd_connect", "Connect To Server", twipsRect(1305, 90, 1905, 285));
    colours::setBackColor(cmd_connect, colours::green());
    cmd_discon = button("cmd_discon", "Disconnect From Server", twipsRect(1305, 405, 1905, 285));
    colours::setBackColor(cmd_discon, colours::red());
    cmd_more_data = button("cmd_more_data", "More Data", twipsRect(4410, 90, 1275, 285));
    cmd_secure = button("cmd_secure", "Two Way Inactive", twipsRect(4410, 405, 2625, 285));
    cmd_wits = button("cmd_wits", "WITS", twipsRect(5760, 90, 1275, 285));
    colours::setBackColor(cmd_wits, colours::red());

    connect(cmd_connect, &QPushButton::clicked, this, &fm_more_data::cmd_connect_Click);
    connect(cmd_discon, &QPushButton::clicked, this, &fm_more_data::cmd_discon_Click);
    connect(cmd_more_data, &QPushButton::clicked, this, &fm_more_data::cmd_more_data_Click);
    connect(cmd_secure, &QPushButton::clicked, this, &fm_more_data::cmd_secure_Click);
    connect(cmd_wits, &QPushButton::clicked, this, &fm_more_data::cmd_wits_Click);

    txt_tcp_status = new QLineEdit(this);
    txt_tcp_status->setObjectName(QStringLiteral("txt_tcp_status"));
    txt_tcp_status->setGeometry(twipsRect(0, 720, 7080, 285));
    txt_tcp_status->setReadOnly(true);
    txt_tcp_status->setFocusPolicy(Qt::NoFocus);
    QPalette statusPalette = txt_tcp_status->palette();
    statusPalette.setColor(QPalette::Base, colours::lightGrey());
    txt_tcp_status->setPalette(statusPalette);

    text_window = new QPlainTextEdit(this);
    text_window->setObjectName(QStringLiteral("text_window"));
    text_window->setGeometry(twipsRect(0, 7110, 7110, 3525));
    text_window->setReadOnly(true);
    // Text only ever comes from the stream; an undo history would only grow.
    text_window->setUndoRedoEnabled(false);
    text_window->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text_window->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Packets have no blanks: wrap them at the window's edge like a terminal.
    text_window->setWordWrapMode(QTextOption::WrapAnywhere);
    text_window->setToolTip(QStringLiteral("Allows direct viewing of incoming data packets"));
    text_window->setFont(panelFont({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                                    QStringLiteral("Courier New")},
                                   8.25, false));
    QPalette trafficPalette = text_window->palette();
    trafficPalette.setColor(QPalette::Base, colours::black());
    trafficPalette.setColor(QPalette::Text, colours::yellow());
    text_window->setPalette(trafficPalette);
    text_window->installEventFilter(this);

    wits_info = new QListWidget(this);
    wits_info->setObjectName(QStringLiteral("wits_info"));
    wits_info->setGeometry(twipsRect(7155, 45, 3795, 10590));
}

void fm_more_data::buildPanel()
{
    for (const panel::Box &box : panel::boxes()) {
        auto *frame = new QGroupBox(QString::fromLatin1(box.caption), this);
        frame->setObjectName(QString::fromLatin1(box.frame));
        frame->setGeometry(twipsRect(box.left, box.top, box.width, box.height));
        auto *label = new QLabel(frame);
        label->setObjectName(QString::fromLatin1(box.label));
        label->setGeometry(twipsRect(box.labelLeft, box.labelTop, box.labelWidth, box.labelHeight));
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
    lbl_GasUnits = label(QStringLiteral("lbl_GasUnits"));
    lbl_GasUnits->setToolTip(QStringLiteral("Yellow = High  Red = Very High"));
    lbl_DrillDepth = label(QStringLiteral("lbl_DrillDepth"));
    lbl_bit_depth = label(QStringLiteral("lbl_bit_depth"));
    lbl_err = label(QStringLiteral("lbl_err"));
    lbl_err_txt = label(QStringLiteral("lbl_err_txt"));
    lbl_uptime = label(QStringLiteral("lbl_uptime"));
    Frame22 = findChild<QGroupBox *>(QStringLiteral("Frame22"));
}

void fm_more_data::startTimers()
{
    auto timer = [this](const char *name, int interval, void (fm_more_data::*handler)()) {
        auto *t = new QTimer(this);
        t->setObjectName(QString::fromLatin1(name));
        t->setInterval(interval);
        connect(t, &QTimer::timeout, this, handler);
        t->start();
        return t;
    };
    tmr_delay = timer("tmr_delay", 100, &fm_more_data::tmr_delay_Timer);
    tmrDataArrival = timer("tmrDataArrival", 100, &fm_more_data::tmrDataArrival_Timer);
    tmr_wits = timer("tmr_wits", 1000, &fm_more_data::tmr_wits_Timer);
}

void fm_more_data::Form_Load()
{
    attempt([&] {
        setWindowTitle(QStringLiteral("  Ulmex Instruments Real Time Data Viewer Version ")
                       + QString::number(RTVIEWER_VERSION_MAJOR));
    });
    attempt([&] { keepalive_countdown = 1000; });
    attempt([&] { LoadIniFile(); });
    attempt([&] {
        connect_busy = false;
        uptime_holdoff = 10;
        m_stream.uptime_percent = 0;
    });
    attempt([&] { lbl_uptime->setText(convert::formatWhole(m_stream.uptime_percent) + QStringLiteral("%")); });
    attempt([&] {
        m_stream.data_age = 0;
        m_stream.wits_countdown = 0;
    });
}

void fm_more_data::tmr_delay_Timer()
{
    // A failing step drops the rest of this tick; the next tick starts afresh.
    try {
        if (uptime_holdoff > 0)
            --uptime_holdoff;
        if (uptime_holdoff == 0)
            lbl_uptime->setText(convert::formatWhole(m_stream.uptime_percent) + QStringLiteral("%"));
        m_stream.data_age += 0.1;
        if (delay_ticks > 0)
            --delay_ticks;
        // Every running wait looks at the shared countdown again.
        endWaits();
        if (keepalive_countdown > 0) {
            --keepalive_countdown;
            if (keepalive_countdown == 0) {
                keepalive_countdown = 1000;
                if (socket_state == 7)
                    Winsock_ulmex->SendData(QByteArrayLiteral("[KEEP ALIVE]\r\n"));
            }
        }
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
    attempt([&] { clear_display(); });
    std::int16_t counter = 5;
    for (;;) {
        attempt([&] { Winsock_state(); });
        if (socket_state == 0 || counter == 0 || m_ended)
            break;
        attempt([&] { QCoreApplication::processEvents(); });
        attempt([&] { DelaySeconds(1); });
        --counter;
    }
    attempt([&] { UnloadAllForms(QStringLiteral("fm_more_data")); });
    m_ended = true;
    tmr_delay->stop();
    tmrDataArrival->stop();
    tmr_wits->stop();
    if (m_endProcess)
        m_endProcess();
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
    if (event->type() == QEvent::KeyPress) {
        const int code = keyCharCode(static_cast<QKeyEvent *>(event));
        if (code >= 0) {
            if (watched == txt_trailer_num) {
                // The key still reaches the box after the handler.
                txt_trailer_num_KeyPress(static_cast<std::int16_t>(code));
                return false;
            }
            if (watched == text_window) {
                text_window_KeyPress(static_cast<std::int16_t>(code));
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}

QSize fm_more_data::outerSizeTwips() const
{
    QSize decoration = frameGeometry().size() - geometry().size();
    if (decoration.width() <= 0 && decoration.height() <= 0)
        decoration = QSize(twipsX(120), twipsY(510));
    const QSize outer = size() + decoration;
    return QSize(qRound(outer.width() * 1440.0 / logicalDpiX()), qRound(outer.height() * 1440.0 / logicalDpiY()));
}

void fm_more_data::setOuterSizeTwips(int width, int height)
{
    // Without a window manager there is no frame to measure; then the frame
    // of a usual desktop (borders and a title bar) is assumed.
    QSize decoration = frameGeometry().size() - geometry().size();
    if (decoration.width() <= 0 && decoration.height() <= 0)
        decoration = QSize(twipsX(120), twipsY(510));
    resize(twipsX(width) - decoration.width(), twipsY(height) - decoration.height());
}
