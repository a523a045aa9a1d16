#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "app/viewerwindow.h"
#include "rules/config/witstable.h"
#include "rules/readings/readingrules.h"
#include "rules/stream/reading.h"
#include "rules/stream/unitstream.h"

class QEventLoop;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;
class QScrollArea;
class QTimer;
class SocketControl;
class TrafficWindow;
class UnitLink;
class fm_secure;

// What the main window is given from outside; every member has a default,
// which is what the program itself uses.
struct ViewerOptions
{
    // Where RDconfig.ini and RDVlookup.TXT are read from; empty means the
    // directory of the running program.
    QString programDirectory;
    // What ends the process after the shut-down; empty means leaving the
    // event loop, which ends main().
    std::function<void()> endProcess;
    // The socket control of the unit link, taken over by the window; none
    // means a TCP socket.
    SocketControl *socket = nullptr;
};

// The main window: the reading panel, the status line, the traffic window
// and the WITS list. It composes the owners of the run-time state (the unit
// link with its socket, stream, timers and the unit's state; the traffic
// window with its log) and shows what they report; the panel's own state
// (the blink, the waits, the uptime display) is its own. Its timer handlers
// forward to the link, whose timers they are. Its procedures are
// implemented in one file per subsystem beside this one.
class fm_more_data : public QWidget, public ViewerWindow
{
    Q_OBJECT

public:
    fm_more_data();
    explicit fm_more_data(ViewerOptions options, QWidget *parent = nullptr);
    ~fm_more_data() override;

    // Lifecycle.
    void Form_Load();
    void Form_Unload(std::int16_t &cancel);
    void UnloadAllForms(const QString &FormToIgnore);
    void tmr_delay_Timer();
    void DelaySeconds(std::int32_t seconds);

    // Connection control and status line.
    void winsock_connect();
    void close_winsock();
    void Winsock_state();
    void readlookupfile();
    void cmd_connect_Click();
    void cmd_discon_Click();
    void txt_trailer_num_KeyPress(std::int16_t key);

    // Data stream and traffic window.
    void tmrDataArrival_Timer();
    void Winsock_ulmex_DataArrival(std::int32_t bytesTotal);
    void disply_text(const QByteArray &strText);
    void text_window_KeyPress(std::int16_t key);

    // Reading display.
    void populate_moredata(const Reading &reading);
    void clear_display();
    void tmr_wits_Timer();
    void cmd_wits_Click();
    void cmd_more_data_Click();

    // Readings that are no longer current (no packet for a while, or the
    // link lost) are drawn dimmed until the next packet; the panel's own
    // colours come back when they are current again.
    void setReadingsStale(bool stale);
    bool readingsStale() const { return m_stale; }

    // ViewerWindow
    void reportLine(const QByteArray &line) override { disply_text(line); }
    QString chosenUnit() const override;
    void showReadingsStale(bool stale) override { setReadingsStale(stale); }
    bool isActive() const override { return isActiveWindow(); }
    QWidget &widget() override { return *this; }
    // The right end of the status line, beyond the end of its text with any
    // usual serial and data age.
    QWidget &indicatorPlace() override;
    void watchUnit(const QString &serial) override;
    UnitLink &unitLink() override { return *m_link; }

    // Configuration and unlock.
    void LoadIniFile();
    void cmd_secure_Click();

    // The owners this window composes, for whatever listens beside it.
    const UnitLink &link() const { return *m_link; }
    const TrafficWindow &trafficWindow() const override { return *text_window; }
    // The right-click menu of the window, where everything that is not part
    // of the reading panel is reached.
    QMenu *extrasMenu() const override { return m_extras; }
    // Where the configuration files are read from.
    const QString &programDirectory() const override { return m_options.programDirectory; }

    // State, for the tests and the benchmarks.
    const StreamState &stream() const;
    const WitsTable &witsTable() const;
    const QByteArray &trafficContent() const;
    std::int16_t socketState() const;
    const QString &statusText() const { return status_text; }
    const QByteArray &serverAddress() const { return server_address; }
    const QByteArray &serverPort() const { return server_port; }
    bool connectBusy() const { return connect_busy; }
    std::int32_t delayTicks() const { return delay_ticks; }
    std::int16_t keepaliveCountdown() const;
    std::int16_t uptimeHoldoff() const { return uptime_holdoff; }
    bool errorBlink() const { return error_blink; }
    const fm_secure *secureForm() const;
    const QLabel *label(const QString &name) const { return m_labels.value(name); }

    // The window's outer size in twips, title bar and borders included.
    QSize outerSizeTwips() const;

    // The scale of the whole panel, its fonts included, in percent of the
    // size the twips give: one of panel::ZoomSteps.
    void setZoom(int percent) override;
    int zoom() const { return m_zoomPercent; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildPanel();
    void buildTopRow();
    void wireLink();
    int twipsX(int twips) const;
    int twipsY(int twips) const;
    QRect twipsRect(int left, int top, int width, int height) const;
    void placeTwips(QWidget *control, int left, int top, int width, int height);
    qreal zoomFactor() const;
    void setPanelStyle();
    void setClientSize(const QSize &size);
    QSize frameDecoration() const;
    void setOuterSizeTwips(int width, int height);
    QString normalCaption(const Reading &reading) const;
    void showPartly(const Reading &reading, std::size_t shownRows);
    void showGasLevel(readings::GasLevel level);
    static QString startCaption();
    void showUptime();
    void endWaits();
    void typeSerialKey(QKeyEvent *key);
    QLabel *panelLabel(const char *name) const;

    // What the link reports.
    void linkTicked(bool whole);
    void witsCounted(UnitStream::WitsWatch watch, std::int16_t left);
    void twoWayMode(bool active);
    void witsListCleared();
    void witsItemRead(const WitsItem &item);
    void witsBitDepth(double value);
    void paintReadingColours();
    void sendKeyMessage(const QByteArray &message);
    void reportLogInError(const QByteArray &description);

    // Controls.
    QLineEdit *txt_trailer_num = nullptr;
    QPushButton *cmd_connect = nullptr;
    QPushButton *cmd_discon = nullptr;
    QPushButton *cmd_more_data = nullptr;
    QPushButton *cmd_secure = nullptr;
    QPushButton *cmd_wits = nullptr;
    QLineEdit *txt_tcp_status = nullptr;
    TrafficWindow *text_window = nullptr;
    QListWidget *wits_info = nullptr;
    QGroupBox *Frame22 = nullptr;
    QLabel *lbl_GasUnits = nullptr;
    QLabel *lbl_DrillDepth = nullptr;
    QLabel *lbl_bit_depth = nullptr;
    QLabel *lbl_err = nullptr;
    QLabel *lbl_err_txt = nullptr;
    QLabel *lbl_uptime = nullptr;
    QHash<QString, QLabel *> m_labels;
    QMenu *m_extras = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_panel = nullptr;
    UnitLink *m_link = nullptr;
    QPointer<fm_secure> m_secure;

    // Run-time state of the window itself.
    ViewerOptions m_options;
    QByteArray server_address;
    QByteArray server_port;
    QString status_text;
    bool connect_busy = false;
    std::int16_t uptime_holdoff = 0;
    std::int32_t delay_ticks = 0;
    bool error_blink = false;
    bool m_stale = false;

    // Where every control stands, in twips at 100 %, and its font size
    // there (taken at the first change of the zoom).
    struct Place
    {
        QWidget *control;
        QRect twips;
        qreal points;
    };
    std::vector<Place> m_places;
    int m_zoomPercent = 100;

    // The nested event loops of the waits now running, innermost last.
    std::vector<QEventLoop *> m_waits;
    // Keys typed into the serial box while an earlier one is handled, in
    // the order typed.
    bool m_typing = false;
    std::deque<std::unique_ptr<QKeyEvent>> m_heldKeys;
    bool m_unloading = false;
    bool m_ended = false;
};
