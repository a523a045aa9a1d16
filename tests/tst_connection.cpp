// Opening and closing the link to the unit from the main window, and the
// display reset that goes with dropping it.

#include <memory>

#include <QtTest>
#include <QtWidgets>
#include <QTcpServer>
#include <QTcpSocket>

#include "app/fm_more_data.h"
#include "app/display/colours.h"
#include "link/socketcontrol.h"
#include "link/unitlink.h"
#include "link/winsockcontrol.h"
#include "rules/stream/reading.h"
#include "rules/stream/streamstate.h"
#include "support/panelcontract.h"
#include "support/testsupport.h"

namespace {

using support::child;

using support::fastTicks;

int countOf(const QByteArray &haystack, const QByteArray &needle)
{
    return haystack.count(needle);
}

// Everything the reset may touch or must leave, as one comparable text.
QString snapshot(fm_more_data &w)
{
    QStringList parts;
    for (QLabel *label : w.findChildren<QLabel *>()) {
        parts << label->objectName() + QLatin1Char('=') + label->text() + QLatin1Char('/')
                     + colours::backColor(label).name() + QLatin1Char('/') + colours::foreColor(label).name();
    }
    for (QGroupBox *frame : w.findChildren<QGroupBox *>())
        parts << frame->objectName() + QLatin1Char('=') + frame->title();
    for (QPushButton *button : w.findChildren<QPushButton *>())
        parts << button->objectName() + QLatin1Char('=') + button->text() + QLatin1Char('/')
                     + colours::backColor(button).name();
    parts << QStringLiteral("caption=") + w.windowTitle();
    parts << QStringLiteral("wits=") + QString::number(child<QListWidget>(w, "wits_info")->count());
    parts << QStringLiteral("traffic=") + child<QPlainTextEdit>(w, "text_window")->toPlainText();
    parts << QStringLiteral("uptime=") + QString::number(w.stream().uptime_percent);
    parts.sort();
    return parts.join(QLatin1Char('\n'));
}

// The window's link to unit 0001 on a server of the test's own on this
// machine, through the real socket, and the server's end of it.
struct LoopbackLink
{
    QTcpServer server;
    std::unique_ptr<QSignalSpy> accepted;
    WinsockControl *socket = nullptr;  // the window's
    std::unique_ptr<fm_more_data> window;
    std::unique_ptr<QTcpSocket> peer;
};

} // namespace

class tst_Connection : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // The connect sequence against a scripted socket.
    void connectSequence_data();
    void connectSequence();

    void keyDuringTheConnectWait_data();
    void keyDuringTheConnectWait();
    void keysDuringTheCloseWaitKeepTheirOrder();

    // Against a peer on this machine.
    void connects_data();
    void connects();
    void secondConnectDuringTheWaitIsDropped();
    void connectingWhileConnectedClosesFirst();
    void portBeyond32BitsIsReported();
    void peerClosingIsShownAndNotReopened();
    void droppingTheLink_data();
    void droppingTheLink();

    // The display reset.
    void resetBlanksEverything();
    void resetTwiceEqualsOnce();
    void gasLevelStartsAfreshAfterTheReset();

private:
    void writeLookup(const QByteArray &content);
    void connectOverLoopback(LoopbackLink &link);
    void fillDisplay(fm_more_data &w, FakeSocket *fake);
    ViewerOptions options(SocketControl *socket) { return support::windowOptions(*m_dir, socket); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_Connection::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_Connection::cleanup()
{
    m_dir.reset();
}

void tst_Connection::writeLookup(const QByteArray &content)
{
    support::writeFile(m_dir->filePath(QStringLiteral("RDVlookup.TXT")), content);
}

// Opens the window on the server's port and connects with the window's own
// button handler, which returns once the link is up.
void tst_Connection::connectOverLoopback(LoopbackLink &link)
{
    QVERIFY(link.server.listen(QHostAddress::LocalHost));
    link.accepted = std::make_unique<QSignalSpy>(&link.server, &QTcpServer::newConnection);
    writeLookup("0001 127.0.0.1 " + QByteArray::number(link.server.serverPort()) + "\r\n");
    link.socket = new WinsockControl;
    link.window = std::make_unique<fm_more_data>(options(link.socket));
    link.window->show();
    link.window->cmd_connect_Click();
    QTRY_COMPARE(link.accepted->count(), 1);
    link.peer.reset(link.server.nextPendingConnection());
    QVERIFY(link.peer);
}

// A running display: every box filled, the gas reading red, the error blink
// in its red phase, WITS counting, two-way active, some traffic.
void tst_Connection::fillDisplay(fm_more_data &w, FakeSocket *fake)
{
    QList<QByteArray> fields;
    for (int i = 1; i <= 40; ++i)
        fields << "f" + QByteArray::number(i);
    fields[4] = "1800";
    fields[9] = "12.5";
    fields[20] = "5";
    auto arrive = [&](const QByteArray &bytes) {
        fake->queue(bytes);
        w.tmrDataArrival_Timer();
    };
    arrive(support::packet(fields));
    arrive(support::packet(fields));

    arrive(QByteArrayLiteral("^a,b,c,d,e,01084999.5\r"));
    for (int i = 0; i < 31; ++i)
        w.tmr_wits_Timer();
    auto *list = child<QListWidget>(w, "wits_info");
    list->clear();
    list->addItem(QStringLiteral("0108  Bit Depth  4999.5"));
    QLabel *bitDepth = child<QLabel>(w, "lbl_bit_depth");
    bitDepth->setText(QStringLiteral("4999.5"));
    colours::setBackColor(bitDepth, colours::orange());
    child<QGroupBox>(w, "Frame22")->setTitle(QStringLiteral("Bit Depth    OFF BOTTOM"));
    QPushButton *secure = child<QPushButton>(w, "cmd_secure");
    secure->setText(QStringLiteral("Two Way Active"));
    colours::setBackColor(secure, colours::green());
    arrive(QByteArrayLiteral("[UPTIME 88%]"));
    child<QLabel>(w, "lbl_uptime")->setText(QStringLiteral("88%"));
    support::ticks(w, 420);
    w.disply_text("*1,2,3,C0,");
}

void tst_Connection::connectSequence_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QByteArray>("lookup");  // null: no RDVlookup.TXT
    QTest::addColumn<int>("stateBefore");
    QTest::addColumn<int>("connectState");
    QTest::addColumn<QByteArray>("refuseConnect");
    QTest::addColumn<QStringList>("operations");
    QTest::addColumn<QString>("report");  // pattern of what the traffic window gained

    const QStringList sequence2400 = {QStringLiteral("RemoteHost 127.0.0.1"), QStringLiteral("LocalPort 0"),
                                      QStringLiteral("RemotePort 2400"), QStringLiteral("Connect")};
    const QString connected = QStringLiteral("^\\r\\n\\[0001 is connected to server\\. \\]$");
    const QString nothing = QStringLiteral("^$");

    QTest::newRow("row of the unit") << "0001" << QByteArrayLiteral("0001 127.0.0.1 2400\r\n") << 0 << 7
                                     << QByteArray() << sequence2400 << connected;
    QTest::newRow("five-character address")
        << "0001" << QByteArrayLiteral("0001 abcde 2400\r\n") << 0 << 7 << QByteArray()
        << QStringList{QStringLiteral("RemoteHost abcde"), QStringLiteral("LocalPort 0"),
                       QStringLiteral("RemotePort 2400"), QStringLiteral("Connect")}
        << connected;
    QTest::newRow("four-character address") << "0001" << QByteArrayLiteral("0001 abcd 2400\r\n") << 0 << 7
                                            << QByteArray() << QStringList() << nothing;
    QTest::newRow("empty address") << "0001" << QByteArrayLiteral("0001  127.0.0.1 2400\r\n") << 0 << 7
                                   << QByteArray() << QStringList() << nothing;
    QTest::newRow("no row for the unit") << "0001" << QByteArrayLiteral("0002 127.0.0.1 2400\r\n") << 0 << 7
                                         << QByteArray() << QStringList() << nothing;
    QTest::newRow("no lookup table")
        << "0001" << QByteArray() << 0 << 7 << QByteArray() << QStringList()
        << QStringLiteral("^\\r\\n\\[\\d\\d:\\d\\d:\\d\\d File not found: RDVlookup\\.TXT\\]$");
    QTest::newRow("serial 0 uses the built-in server")
        << "0000" << QByteArray() << 0 << 7 << QByteArray() << sequence2400
        << QStringLiteral("^\\r\\n\\[0000 is connected to server\\. \\]$");
    QTest::newRow("port followed by a letter") << "0001" << QByteArrayLiteral("0001 127.0.0.1 2400x\r\n") << 0 << 7
                                               << QByteArray() << sequence2400 << connected;
    QTest::newRow("port half to even, down")
        << "0001" << QByteArrayLiteral("0001 127.0.0.1 2400.5\r\n") << 0 << 7 << QByteArray() << sequence2400
        << connected;
    QTest::newRow("port half to even, up")
        << "0001" << QByteArrayLiteral("0001 127.0.0.1 2399.5\r\n") << 0 << 7 << QByteArray() << sequence2400
        << connected;
    QTest::newRow("empty port")
        << "0001" << QByteArrayLiteral("0001 127.0.0.1 \r\n") << 0 << 7 << QByteArray()
        << QStringList{QStringLiteral("RemoteHost 127.0.0.1"), QStringLiteral("LocalPort 0"),
                       QStringLiteral("RemotePort 0"), QStringLiteral("Connect")}
        << connected;
    QTest::newRow("port beyond 32 bits")
        << "0001" << QByteArrayLiteral("0001 127.0.0.1 99999999999\r\n") << 0 << 7 << QByteArray()
        << QStringList{QStringLiteral("RemoteHost 127.0.0.1"), QStringLiteral("LocalPort 0")}
        << QStringLiteral("^\\r\\n\\[TCP ERR: Overflow\\]$");
    QTest::newRow("connected before") << "0001" << QByteArrayLiteral("0001 127.0.0.1 2400\r\n") << 7 << 7
                                      << QByteArray() << (QStringList{QStringLiteral("Close")} + sequence2400)
                                      << connected;
    QTest::newRow("unit answers slowly")
        << "0001" << QByteArrayLiteral("0001 127.0.0.1 2400\r\n") << 0 << 6 << QByteArray() << sequence2400
        << QStringLiteral("^\\r\\n\\[0001 is connecting to server\\. \\]$");
    QTest::newRow("connect refused")
        << "0001" << QByteArrayLiteral("0001 127.0.0.1 2400\r\n") << 0 << 7
        << QByteArrayLiteral("Invalid operation at current state") << sequence2400
        << QStringLiteral("^\\r\\n\\[TCP ERR: Invalid operation at current state\\]$");
}

void tst_Connection::connectSequence()
{
    QFETCH(QString, serial);
    QFETCH(QByteArray, lookup);
    QFETCH(int, stateBefore);
    QFETCH(int, connectState);
    QFETCH(QByteArray, refuseConnect);
    QFETCH(QStringList, operations);
    QFETCH(QString, report);

    if (!lookup.isNull())
        writeLookup(lookup);
    auto *fake = new FakeSocket;
    fake->state = static_cast<std::int16_t>(stateBefore);
    fake->connectState = static_cast<std::int16_t>(connectState);
    fake->refuseConnect = refuseConnect;
    fm_more_data w(options(fake));
    const auto ticks = fastTicks(w);
    child<QLineEdit>(w, "txt_trailer_num")->setText(serial);
    const int before = w.trafficContent().size();

    w.cmd_connect_Click();

    QCOMPARE(fake->log, operations);
    const QString gained = QString::fromLatin1(w.trafficContent().mid(before));
    QVERIFY2(QRegularExpression(report).match(gained).hasMatch(), qPrintable(gained));
    QCOMPARE(w.connectBusy(), false);
}

void tst_Connection::keyDuringTheConnectWait_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QByteArray>("report");

    QTest::newRow("letter") << int(Qt::Key_X) << QByteArrayLiteral("\r\n[0001x Connection is closed. ]");
    // Enter closes as any key does, and its own connect is dropped.
    QTest::newRow("Enter") << int(Qt::Key_Return) << QByteArrayLiteral("\r\n[0001 Connection is closed. ]");
}

// The operator types into the serial box while the connect waits its
// second: the nested reset closes the link, and the connect carries on with
// the socket as it finds it.
void tst_Connection::keyDuringTheConnectWait()
{
    QFETCH(int, key);
    QFETCH(QByteArray, report);

    writeLookup("0001 127.0.0.1 2400\r\n");
    auto *fake = new FakeSocket;
    fm_more_data w(options(fake));
    const auto ticks = fastTicks(w);
    auto *serial = child<QLineEdit>(w, "txt_trailer_num");
    serial->end(false);
    bool busyDuringWait = false;
    QTimer::singleShot(0, &w, [&] {
        busyDuringWait = w.connectBusy();
        QTest::keyClick(serial, static_cast<Qt::Key>(key), Qt::NoModifier);
    });

    w.cmd_connect_Click();

    QVERIFY(busyDuringWait);
    QCOMPARE(fake->log, (QStringList{QStringLiteral("RemoteHost 127.0.0.1"), QStringLiteral("LocalPort 0"),
                                     QStringLiteral("RemotePort 2400"), QStringLiteral("Connect"),
                                     QStringLiteral("Close")}));
    QCOMPARE(w.trafficContent(), report);
    QCOMPARE(w.socketState(), std::int16_t(0));
    QCOMPARE(w.connectBusy(), false);
}

// Connected to 0002, the operator holds BackSpace down, then types 0001 and
// Enter: all of it typed while the first key's close still waits. Each key
// still drops the link, and the box takes the keys in the order typed, so
// the connect goes to 0001's server.
void tst_Connection::keysDuringTheCloseWaitKeepTheirOrder()
{
    writeLookup("0001 127.0.0.1 2401\r\n0002 127.0.0.1 2402\r\n");
    auto *fake = new FakeSocket;
    fm_more_data w(options(fake));
    const auto ticks = fastTicks(w);
    auto *serial = child<QLineEdit>(w, "txt_trailer_num");
    serial->setText(QStringLiteral("0002"));
    w.cmd_connect_Click();
    QCOMPARE(fake->remotePort, 2402);
    QCOMPARE(w.socketState(), std::int16_t(SocketControl::Connected));
    fake->log.clear();

    QList<std::pair<int, QString>> keys;
    for (int i = 0; i < 6; ++i)
        keys.append({Qt::Key_Backspace, QString()});
    for (const char digit : {'0', '0', '0', '1'})
        keys.append({Qt::Key_0 + (digit - '0'), QString(QLatin1Char(digit))});
    keys.append({Qt::Key_Return, QStringLiteral("\r")});
    // Posted, so that all but the first arrive inside the first one's wait.
    for (const auto &[key, text] : keys) {
        QCoreApplication::postEvent(serial, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier, text));
        QCoreApplication::postEvent(serial, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier, text));
    }
    QTRY_VERIFY(fake->log.contains(QStringLiteral("Connect")) && !w.connectBusy());

    QCOMPARE(serial->text(), QStringLiteral("0001"));
    // The first key closed the link; one connect, to 0001's server, after
    // Enter's reset emptied the traffic window.
    QCOMPARE(fake->log, (QStringList{QStringLiteral("Close"), QStringLiteral("RemoteHost 127.0.0.1"),
                                     QStringLiteral("LocalPort 0"), QStringLiteral("RemotePort 2401"),
                                     QStringLiteral("Connect")}));
    QCOMPARE(w.socketState(), std::int16_t(SocketControl::Connected));
    QCOMPARE(w.trafficContent(), QByteArrayLiteral("\r\n[0001 is connected to server. ]"));
}

void tst_Connection::connects_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QByteArray>("portSuffix");

    QTest::newRow("Return in the serial box") << "Return" << QByteArray();
    QTest::newRow("keypad Enter in the serial box") << "Enter" << QByteArray();
    QTest::newRow("Connect button") << "button" << QByteArray();
    QTest::newRow("port text followed by a letter") << "Return" << QByteArrayLiteral("x");
}

void tst_Connection::connects()
{
    QFETCH(QString, how);
    QFETCH(QByteArray, portSuffix);

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    writeLookup("0001 127.0.0.1 " + QByteArray::number(server.serverPort()) + portSuffix + "\r\n");
    auto *socket = new WinsockControl;
    fm_more_data w(options(socket));
    w.show();
    auto *serial = child<QLineEdit>(w, "txt_trailer_num");

    if (how == QLatin1String("Return"))
        QTest::keyClick(serial, Qt::Key_Return);
    else if (how == QLatin1String("Enter"))
        QTest::keyClick(serial, Qt::Key_Enter, Qt::KeypadModifier);
    else
        QTest::mouseClick(child<QPushButton>(w, "cmd_connect"), Qt::LeftButton);

    // The sequence waited its second and reported the state it reached.
    QVERIFY(w.trafficContent().endsWith("\r\n[0001 is connected to server. ]"));
    QCOMPARE(countOf(w.trafficContent(), "is connected"), 1);
    if (how != QLatin1String("button"))
        QCOMPARE(w.trafficContent(), QByteArrayLiteral("\r\n[0001 is connected to server. ]"));
    QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(2000));
    QCOMPARE(socket->State(), std::int16_t(7));
    QCOMPARE(w.connectBusy(), false);
    QCOMPARE(serial->text(), QStringLiteral("0001"));
    QTRY_VERIFY(child<QLineEdit>(w, "txt_tcp_status")->text().startsWith(
        QLatin1String("0001 is connected to server.  The data is ")));
}

void tst_Connection::secondConnectDuringTheWaitIsDropped()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QSignalSpy accepted(&server, &QTcpServer::newConnection);
    writeLookup("0001 127.0.0.1 " + QByteArray::number(server.serverPort()) + "\r\n");
    auto *socket = new WinsockControl;
    fm_more_data w(options(socket));
    w.show();

    bool busyDuringWait = false;
    QTimer::singleShot(300, &w, [&] {
        busyDuringWait = w.connectBusy();
        QTest::mouseClick(child<QPushButton>(w, "cmd_connect"), Qt::LeftButton);
    });
    w.cmd_connect_Click();

    QVERIFY(busyDuringWait);
    QCOMPARE(countOf(w.trafficContent(), "[0001 is connected to server. ]"), 1);
    QTRY_COMPARE(accepted.count(), 1);
    QCOMPARE(w.connectBusy(), false);
    // The dropped request left the first link alone.
    std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
    QCOMPARE(peer->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(socket->State(), std::int16_t(7));
}

void tst_Connection::connectingWhileConnectedClosesFirst()
{
    QTcpServer first;
    QTcpServer second;
    QVERIFY(first.listen(QHostAddress::LocalHost));
    QVERIFY(second.listen(QHostAddress::LocalHost));
    writeLookup("0001 127.0.0.1 " + QByteArray::number(first.serverPort()) + "\r\n");
    auto *socket = new WinsockControl;
    fm_more_data w(options(socket));
    w.show();
    w.cmd_connect_Click();
    QVERIFY(first.hasPendingConnections() || first.waitForNewConnection(2000));
    std::unique_ptr<QTcpSocket> firstPeer(first.nextPendingConnection());
    QSignalSpy firstGone(firstPeer.get(), &QTcpSocket::disconnected);

    // The table now sends the unit elsewhere; the old link goes first.
    writeLookup("0001 127.0.0.1 " + QByteArray::number(second.serverPort()) + "\r\n");
    w.cmd_connect_Click();

    QTRY_COMPARE(firstGone.count(), 1);
    QVERIFY(second.hasPendingConnections() || second.waitForNewConnection(2000));
    QCOMPARE(socket->State(), std::int16_t(7));
    QCOMPARE(countOf(w.trafficContent(), "[0001 is connected to server. ]"), 2);
    QVERIFY(!first.hasPendingConnections());
}

void tst_Connection::portBeyond32BitsIsReported()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    QSignalSpy accepted(&server, &QTcpServer::newConnection);
    writeLookup("0001 127.0.0.1 99999999999\r\n");
    auto *socket = new WinsockControl;
    fm_more_data w(options(socket));
    w.show();

    QTest::keyClick(child<QLineEdit>(w, "txt_trailer_num"), Qt::Key_Return);

    QCOMPARE(w.trafficContent(), QByteArrayLiteral("\r\n[TCP ERR: Overflow]"));
    QCOMPARE(w.connectBusy(), false);
    QCOMPARE(socket->State(), std::int16_t(0));
    // The link is usable at once with a sound table.
    writeLookup("0001 127.0.0.1 " + QByteArray::number(server.serverPort()) + "\r\n");
    w.cmd_connect_Click();
    QVERIFY(w.trafficContent().endsWith("\r\n[0001 is connected to server. ]"));
    QTRY_COMPARE(accepted.count(), 1);
}

void tst_Connection::peerClosingIsShownAndNotReopened()
{
    LoopbackLink link;
    connectOverLoopback(link);
    if (QTest::currentTestFailed())
        return;
    fm_more_data &w = *link.window;
    const QByteArray trafficBefore = w.trafficContent();

    link.peer->disconnectFromHost();

    auto *status = child<QLineEdit>(w, "txt_tcp_status");
    QTRY_COMPARE(status->text(), QStringLiteral("0001 is closing the connection. "));
    // Two seconds later nothing has changed and nobody has reconnected.
    QSignalSpy tickSpy(child<QTimer>(w, "tmr_delay"), &QTimer::timeout);
    QTRY_VERIFY_WITH_TIMEOUT(tickSpy.count() >= 20, 10000);
    QCOMPARE(status->text(), QStringLiteral("0001 is closing the connection. "));
    QCOMPARE(w.socketState(), std::int16_t(8));
    QCOMPARE(link.accepted->count(), 1);
    QCOMPARE(w.trafficContent(), trafficBefore);
}

void tst_Connection::droppingTheLink_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("serialAfter");

    QTest::newRow("letter in the serial box") << "x" << "0001x";
    QTest::newRow("digit in the serial box") << "5" << "00015";
    QTest::newRow("Backspace in the serial box") << "Backspace" << "000";
    QTest::newRow("Disconnect button") << "button" << "0001";
}

void tst_Connection::droppingTheLink()
{
    QFETCH(QString, action);
    QFETCH(QString, serialAfter);

    LoopbackLink link;
    connectOverLoopback(link);
    if (QTest::currentTestFailed())
        return;
    fm_more_data &w = *link.window;
    QSignalSpy peerGone(link.peer.get(), &QTcpSocket::disconnected);
    child<QLabel>(w, "lbl_DrillDepth")->setText(QStringLiteral("5000"));
    auto *serial = child<QLineEdit>(w, "txt_trailer_num");
    serial->setFocus();
    serial->end(false);

    if (action == QLatin1String("Backspace"))
        QTest::keyClick(serial, Qt::Key_Backspace);
    else if (action == QLatin1String("button"))
        QTest::mouseClick(child<QPushButton>(w, "cmd_discon"), Qt::LeftButton);
    else
        QTest::keyClick(serial, action.at(0).toLatin1());

    QCOMPARE(link.socket->State(), std::int16_t(0));
    QTRY_COMPARE(peerGone.count(), 1);
    QCOMPARE(w.label(QStringLiteral("lbl_DrillDepth"))->text(), QString());
    // Blanked, and no connect ran: it would have reported a line.
    QCOMPARE(w.trafficContent(), QByteArray());
    QCOMPARE(serial->text(), serialAfter);
    QCOMPARE(link.accepted->count(), 1);
}

void tst_Connection::resetBlanksEverything()
{
    auto *fake = new FakeSocket;
    fake->state = SocketControl::Connected;
    fm_more_data w(options(fake));
    for (const char *name : {"tmrDataArrival", "tmr_wits"})
        child<QTimer>(w, name)->stop();
    // Something must tick: that is what ends the close's wait.
    const auto ticks = fastTicks(w);
    fillDisplay(w, fake);
    const double ageBefore = w.stream().data_age;
    QCOMPARE(w.windowTitle(), QStringLiteral("  ERROR"));

    w.clear_display();

    // The link is closed first.
    QCOMPARE(fake->log, QStringList{QStringLiteral("Close")});
    QCOMPARE(w.socketState(), std::int16_t(0));

    // Blanked: nothing of the old unit stays to pass for the next one's.
    for (const contract::Box &box : contract::boxes()) {
        if (box.field != 0)
            QVERIFY2(w.label(QString::fromLatin1(box.label))->text().isEmpty(), box.label);
    }
    const QLabel *bitDepth = w.label(QStringLiteral("lbl_bit_depth"));
    QCOMPARE(bitDepth->text(), QString());
    QCOMPARE(colours::backColor(bitDepth), colours::black());
    QCOMPARE(child<QGroupBox>(w, "Frame22")->title(), QStringLiteral("Bit Depth"));
    QCOMPARE(w.label(QStringLiteral("lbl_err_txt"))->text(), QStringLiteral("No Errors"));
    QCOMPARE(child<QListWidget>(w, "wits_info")->count(), 0);
    QCOMPARE(child<QPlainTextEdit>(w, "text_window")->toPlainText(), QString());
    QCOMPARE(w.trafficContent(), QByteArray());
    QPushButton *secure = child<QPushButton>(w, "cmd_secure");
    QCOMPARE(secure->text(), QStringLiteral("Two Way Inactive"));
    QCOMPARE(colours::backColor(secure), colours::buttonFace());
    QCOMPARE(w.stream().uptime_percent, 0.0);
    QCOMPARE(w.label(QStringLiteral("lbl_uptime"))->text(), QStringLiteral("0%"));

    // No alarm, level or blink of the old unit outlives it.
    QCOMPARE(colours::foreColor(w.label(QStringLiteral("lbl_GasUnits"))), colours::white());
    QCOMPARE(colours::backColor(w.label(QStringLiteral("lbl_err"))), colours::buttonFace());
    QCOMPARE(w.windowTitle(), QStringLiteral("  Ulmex Instruments Real Time Data Viewer Version 41"));
    QCOMPARE(w.errorBlink(), false);
    for (const QByteArray &field : w.stream().data_fields)
        QVERIFY(field.isEmpty());
    QCOMPARE(w.stream().error_code, 0.0);
    // Not reset; the ticks of the close's wait have aged it further.
    QVERIFY(w.stream().data_age >= ageBefore);
    // The WITS count is over: the next second says so.
    QCOMPARE(w.stream().wits_countdown, std::int16_t(0));
    w.tmr_wits_Timer();
    QPushButton *wits = child<QPushButton>(w, "cmd_wits");
    QCOMPARE(wits->text(), QStringLiteral("WITS BAD"));
    QCOMPARE(colours::backColor(wits), colours::red());
}

void tst_Connection::resetTwiceEqualsOnce()
{
    auto *fake = new FakeSocket;
    fake->state = SocketControl::Connected;
    fm_more_data w(options(fake));
    for (const char *name : {"tmrDataArrival", "tmr_wits"})
        child<QTimer>(w, name)->stop();
    // Something must tick: that is what ends the close's wait.
    const auto ticks = fastTicks(w);
    fillDisplay(w, fake);

    w.clear_display();
    const QString once = snapshot(w);
    w.clear_display();
    QCOMPARE(snapshot(w), once);
    // The second one found the link closed and asked nothing of it.
    QCOMPARE(fake->closeCalls, 1);
}

void tst_Connection::gasLevelStartsAfreshAfterTheReset()
{
    // Packets through the link, which holds the level; the socket closed, so
    // that the reset has nothing to wait for.
    auto *fake = new FakeSocket;
    fm_more_data w(options(fake));
    support::stopTimers(w);
    const QLabel *gas = w.label(QStringLiteral("lbl_GasUnits"));
    fake->receive(support::packet({"1", "2", "3", "4", "1800"}));
    w.tmrDataArrival_Timer();
    QCOMPARE(colours::foreColor(gas), colours::red());

    w.clear_display();
    QCOMPARE(gas->text(), QString());
    QCOMPARE(colours::foreColor(gas), colours::white());
    QCOMPARE(w.link().gasLevel(), readings::GasLevel::Unchanged);

    // 1300 sets no level of its own, and the old unit's red is gone.
    fake->receive(support::packet({"1", "2", "3", "4", "1300"}));
    w.tmrDataArrival_Timer();
    QCOMPARE(gas->text(), QStringLiteral("1300"));
    QCOMPARE(colours::foreColor(gas), colours::white());
}

QTEST_MAIN(tst_Connection)
#include "tst_connection.moc"
