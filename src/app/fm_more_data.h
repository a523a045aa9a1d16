#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QByteArray>
#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "config/witstable.h"
#include "stream/parserevents.h"
#include "stream/streamstate.h"
#include "stream/trafficlog.h"
#include "unlock/fm_secure.h"
#include "unlock/keylink.h"

class QEventLoop;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class SocketControl;

// The main window. It owns every piece of run-time state for the life of
// the process: the socket, the stream buffer and the fields of the last
// packet, the counters and flags of the tick, and the WITS item table. Its
// procedures wire window events to the widget-free rules of each subsystem;
// they are implemented in the folder of the subsystem they belong to.
class fm_more_data : public QWidget, private ParserEvents, private KeyLink
{
    Q_OBJECT

public:
    explicit fm_more_data(QWidget *parent = nullptr);
    // Takes ownership of the socket control, so tests can stand in for it.
    explicit fm_more_data(SocketControl *socket, QWidget *parent = nullptr);
    ~fm_more_data() override;

    // The folder the configuration files are read from: the program's own
    // directory unless a test has pointed it elsewhere before creating the
    // window.
    static QString programDirectory();
    static void setProgramDirectory(const QString &directory);

    // What ends the process after the shut-down sequence; tests replace it.
    void setEndProcess(std::function<void()> endProcess);

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
    void populate_moredata();
    void clear_display();
    void tmr_wits_Timer();
    void cmd_wits_Click();
    void cmd_more_data_Click();

    // Configuration and unlock.
    void LoadIniFile();
    void cmd_secure_Click();

    // State, for the tests and the benchmarks.
    StreamState &stream() { return m_stream; }
    WitsTable &witsTable() { return m_wits; }
    SocketControl *socket() const { return Winsock_ulmex; }
    const QByteArray &trafficContent() const { return m_traffic.content(); }
    std::int16_t socketState() const { return socket_state; }
    const QString &statusText() const { return status_text; }
    const QByteArray &serverAddress() const { return server_address; }
    const QByteArray &serverPort() const { return server_port; }
    bool connectBusy() const { return connect_busy; }
    std::int32_t delayTicks() const { return delay_ticks; }
    std::int16_t keepaliveCountdown() const { return keepalive_countdown; }
    std::int16_t uptimeHoldoff() const { return uptime_holdoff; }
    bool errorBlink() const { return error_blink; }
    fm_secure *secureForm() const { return m_secure; }
    QLabel *label(const QString &name) const { return m_labels.value(name); }

    // The window's outer size in twips, title bar and borders included.
    QSize outerSizeTwips() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildPanel();
    void buildTopRow();
    void startTimers();
    int twipsX(int twips) const;
    int twipsY(int twips) const;
    QRect twipsRect(int left, int top, int width, int height) const;
    void setOuterSizeTwips(int width, int height);
    QString normalCaption() const;
    void endWaits();

    // ParserEvents
    void twoWayMode(bool active) override;
    void packetAccepted() override;
    void witsCleared() override;
    void witsLineAdded(const QString &line) override;
    void witsBitDepth(double value) override;
    void reportLine(const QByteArray &line) override;

    // KeyLink
    void sendKeyMessage(const QByteArray &message) override;

    // Controls.
    QLineEdit *txt_trailer_num = nullptr;
    QPushButton *cmd_connect = nullptr;
    QPushButton *cmd_discon = nullptr;
    QPushButton *cmd_more_data = nullptr;
    QPushButton *cmd_secure = nullptr;
    QPushButton *cmd_wits = nullptr;
    QLineEdit *txt_tcp_status = nullptr;
    QPlainTextEdit *text_window = nullptr;
    QListWidget *wits_info = nullptr;
    QGroupBox *Frame22 = nullptr;
    QLabel *lbl_GasUnits = nullptr;
    QLabel *lbl_DrillDepth = nullptr;
    QLabel *lbl_bit_depth = nullptr;
    QLabel *lbl_err = nullptr;
    QLabel *lbl_err_txt = nullptr;
    QLabel *lbl_uptime = nullptr;
    QHash<QString, QLabel *> m_labels;
    QTimer *tmr_delay = nullptr;
    QTimer *tmrDataArrival = nullptr;
    QTimer *tmr_wits = nullptr;
    SocketControl *Winsock_ulmex = nullptr;
    QPointer<fm_secure> m_secure;

    // Run-time state.
    StreamState m_stream;
    WitsTable m_wits;
    TrafficLog m_traffic;
    QByteArray incoming_chunk;
    QByteArray server_address;
    QByteArray server_port;
    std::int16_t socket_state = 0;
    QString status_text;
    bool connect_busy = false;
    std::int16_t uptime_holdoff = 0;
    std::int16_t keepalive_countdown = 0;
    std::int32_t delay_ticks = 0;
    bool error_blink = false;

    // The nested event loops of the waits now running, innermost last.
    std::vector<QEventLoop *> m_waits;
    bool m_unloading = false;
    bool m_ended = false;
    std::function<void()> m_endProcess;
};
