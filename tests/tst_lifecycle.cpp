// The main window's start-up, its 100 ms tick, the blocking wait and the
// orderly shut-down.

#include <ctime>
#include <functional>
#include <memory>

#include <QtTest>
#include <QtWidgets>
#include <QTcpServer>
#include <QTcpSocket>

#include "app/fm_more_data.h"
#include "support/testsupport.h"
#include "link/socketcontrol.h"
#include "link/winsockcontrol.h"
#include "rules/stream/streamstate.h"
#include "app/unlock/fm_secure.h"

namespace {

const QByteArray KeepAlive = QByteArrayLiteral("[KEEP ALIVE]\r\n");

using support::child;
using support::stopTimers;
using support::ticks;

double cpuSeconds()
{
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace

class tst_Lifecycle : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startUp_data();
    void startUp();

    void tick_uptimeHoldoff();
    void tick_dataAge();
    void tick_keepAlive_data();
    void tick_keepAlive();
    void tick_refusedKeepAliveAbandonsTheTick();
    void tick_keepAliveOnTheWire();

    void delay_oneSecondKeepsEventsFlowing();
    void delay_nestedWaitsEndTogether();
    void delay_returnsAtOnce_data();
    void delay_returnsAtOnce();

    void shutDown_disconnectedEndsWithoutWaiting();
    void shutDown_unloadsTheUnlockForm();
    void shutDown_stuckSocketWaitsNineTimesThenEnds();
    void shutDown_closingTwiceRunsOnceInBoundedTime();
    void shutDown_whileConnecting();
    void shutDown_interruptedConnectGoesNoFurther();

private:
    // A window on this socket (a TCP one when none), whose end of the
    // process runs whatever the test last set with setEnd().
    ViewerOptions options(SocketControl *socket)
    {
        return support::windowOptions(*m_dir, socket, [this] {
            if (m_end)
                m_end();
        });
    }
    void setEnd(std::function<void()> end) { m_end = std::move(end); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::function<void()> m_end;
};

void tst_Lifecycle::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_end = nullptr;
}

void tst_Lifecycle::cleanup()
{
    m_dir.reset();
}

void tst_Lifecycle::startUp_data()
{
    QTest::addColumn<QByteArray>("settings");  // null: no RDconfig.ini
    QTest::addColumn<QString>("traffic");      // pattern of the traffic window's whole content
    QTest::addColumn<int>("firstCode");
    QTest::addColumn<QByteArray>("firstName");

    QTest::newRow("no settings file")
        << QByteArray() << QStringLiteral("^\\r\\n\\[\\d\\d:\\d\\d:\\d\\d File not found: RDconfig\\.ini\\]$") << 0
        << QByteArray();
    QTest::newRow("settings file beside the program")
        << QByteArrayLiteral("0108 Bit Depth\r\n0110 Hole Depth\r\n") << QStringLiteral("^$") << 108
        << QByteArrayLiteral("Bit Depth");
}

void tst_Lifecycle::startUp()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, traffic);
    QFETCH(int, firstCode);
    QFETCH(QByteArray, firstName);

    if (!settings.isNull())
        support::writeFile(m_dir->filePath(QStringLiteral("RDconfig.ini")), settings);

    auto *fake = new FakeSocket;
    fm_more_data w(options(fake));
    // Nothing has ticked yet: this is what the load left.
    QCOMPARE(w.windowTitle(), QStringLiteral("  Ulmex Instruments Real Time Data Viewer Version 41"));
    QCOMPARE(w.label(QStringLiteral("lbl_uptime"))->text(), QStringLiteral("0%"));
    QCOMPARE(w.keepaliveCountdown(), std::int16_t(1000));
    QCOMPARE(w.uptimeHoldoff(), std::int16_t(10));
    QCOMPARE(w.connectBusy(), false);
    QCOMPARE(w.delayTicks(), 0);
    QCOMPARE(w.stream().data_age, 0.0);
    QCOMPARE(w.stream().uptime_percent, 0.0);
    QCOMPARE(w.stream().wits_countdown, std::int16_t(0));

    const QString content = QString::fromLatin1(w.trafficContent());
    QVERIFY2(QRegularExpression(traffic).match(content).hasMatch(), qPrintable(content));
    QCOMPARE(int(w.witsTable().codes[0]), firstCode);
    QCOMPARE(w.witsTable().names[0], firstName);

    // No connection is opened at start-up, and the three timers run.
    QCOMPARE(fake->connectCalls, 0);
    const QList<QPair<const char *, int>> timers = {{"tmr_delay", 100}, {"tmrDataArrival", 100}, {"tmr_wits", 1000}};
    for (const auto &[name, interval] : timers) {
        QTimer *t = child<QTimer>(w, name);
        QVERIFY2(t, name);
        QVERIFY2(t->isActive(), name);
        QCOMPARE(t->interval(), interval);
    }
}

void tst_Lifecycle::tick_uptimeHoldoff()
{
    auto *fake = new FakeSocket;
    fm_more_data w(options(fake));
    stopTimers(w);
    const QLabel *uptime = w.label(QStringLiteral("lbl_uptime"));
    auto reportUptime = [&](const QByteArray &message) {
        fake->queue(message);
        w.tmrDataArrival_Timer();
    };
    reportUptime("[UPTIME 57.6%]");

    // The unit's first uptime report is not shown for the first second.
    for (int tick = 1; tick <= 9; ++tick) {
        w.tmr_delay_Timer();
        QCOMPARE(uptime->text(), QStringLiteral("0%"));
        QCOMPARE(w.uptimeHoldoff(), std::int16_t(10 - tick));
    }
    w.tmr_delay_Timer();
    QCOMPARE(uptime->text(), QStringLiteral("58%"));
    QCOMPARE(w.uptimeHoldoff(), std::int16_t(0));

    // From then on every tick shows the value, and the hold-off never re-arms.
    reportUptime("[UPTIME 3.2%]");
    w.tmr_delay_Timer();
    QCOMPARE(uptime->text(), QStringLiteral("3%"));
    QCOMPARE(w.uptimeHoldoff(), std::int16_t(0));
    w.clear_display();
    QCOMPARE(uptime->text(), QStringLiteral("0%"));
    reportUptime("[UPTIME 91%]");
    w.tmr_delay_Timer();
    QCOMPARE(uptime->text(), QStringLiteral("91%"));
}

void tst_Lifecycle::tick_dataAge()
{
    auto *fake = new FakeSocket;
    fake->state = SocketControl::Connected;
    fm_more_data w(options(fake));
    stopTimers(w);
    auto *status = w.findChild<QLineEdit *>(QStringLiteral("txt_tcp_status"));
    QVERIFY(status);

    ticks(w, 4);
    QCOMPARE(status->text(), QStringLiteral("0001 is connected to server.  The data is 0 seconds old"));
    ticks(w, 6);
    QVERIFY(qAbs(w.stream().data_age - 1.0) < 1e-9);
    QCOMPARE(w.socketState(), std::int16_t(7));
    QCOMPARE(status->text(), QStringLiteral("0001 is connected to server.  The data is 1 seconds old"));

    // Any other state shows its wording alone; the age goes on counting.
    fake->state = SocketControl::Closing;
    w.tmr_delay_Timer();
    QCOMPARE(status->text(), QStringLiteral("0001 is closing the connection. "));
    QVERIFY(qAbs(w.stream().data_age - 1.1) < 1e-9);
}

void tst_Lifecycle::tick_keepAlive_data()
{
    // Before the tick numbered by a key, the socket is put into the state of
    // its value. The keep-alive decision uses the state read at the end of
    // the tick before.
    using Script = QMap<int, int>;
    QTest::addColumn<Script>("script");
    QTest::addColumn<QList<int>>("sendTicks");

    QTest::newRow("connected throughout") << Script{{1, 7}} << QList<int>{1000, 2000};
    QTest::newRow("never connected") << Script{} << QList<int>{};
    // Connecting does not restart the countdown from start-up.
    QTest::newRow("connected after 30 s") << Script{{300, 7}} << QList<int>{1000, 2000};
    QTest::newRow("connected after 120 s") << Script{{1200, 7}} << QList<int>{2000};
    // A keep-alive that fell due while closed is not made up on reconnecting.
    QTest::newRow("closed over the 1000th tick") << Script{{1, 7}, {950, 0}, {1050, 7}} << QList<int>{2000};
    QTest::newRow("connected at the 1000th tick") << Script{{1000, 7}} << QList<int>{2000};
    QTest::newRow("closed at the 1000th tick") << Script{{1, 7}, {1000, 0}, {1001, 7}} << QList<int>{1000, 2000};
}

void tst_Lifecycle::tick_keepAlive()
{
    using Script = QMap<int, int>;
    QFETCH(Script, script);
    QFETCH(QList<int>, sendTicks);

    auto *fake = new FakeSocket;
    fake->strictStates = false;  // which sends happen is what is under test
    fm_more_data w(options(fake));
    stopTimers(w);

    QList<int> seen;
    for (int tick = 1; tick <= 2100; ++tick) {
        if (script.contains(tick))
            fake->state = static_cast<std::int16_t>(script.value(tick));
        const int before = fake->sent.size();
        w.tmr_delay_Timer();
        if (fake->sent.size() != before)
            seen.append(tick);
    }
    QCOMPARE(seen, sendTicks);
    for (const QByteArray &message : std::as_const(fake->sent))
        QCOMPARE(message, KeepAlive);
    QCOMPARE(w.keepaliveCountdown(), std::int16_t(900));
}

void tst_Lifecycle::tick_refusedKeepAliveAbandonsTheTick()
{
    auto *fake = new FakeSocket;
    fake->state = SocketControl::Connected;
    fm_more_data w(options(fake));
    stopTimers(w);
    ticks(w, 999);
    const QByteArray trafficBefore = w.trafficContent();

    // The unit went away since the last refresh: the send is refused.
    fake->state = SocketControl::Closing;
    fake->refuseSend = "Wrong protocol or connection state for the requested transaction or request";
    w.tmr_delay_Timer();
    QVERIFY(fake->sent.isEmpty());
    QCOMPARE(w.keepaliveCountdown(), std::int16_t(1000));
    // The state refresh of that tick was dropped; the next tick does it.
    QCOMPARE(w.socketState(), std::int16_t(7));
    // Silently.
    QCOMPARE(w.trafficContent(), trafficBefore);
    w.tmr_delay_Timer();
    QCOMPARE(w.socketState(), std::int16_t(8));
    QCOMPARE(w.keepaliveCountdown(), std::int16_t(999));
}

void tst_Lifecycle::tick_keepAliveOnTheWire()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    auto *socket = new WinsockControl;
    fm_more_data w(options(socket));
    stopTimers(w);
    socket->RemoteHost(QStringLiteral("127.0.0.1"));
    socket->RemotePort(server.serverPort());
    socket->Connect();
    QVERIFY(server.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> peer(server.nextPendingConnection());
    QTRY_COMPARE(socket->State(), std::int16_t(7));

    ticks(w, 1000);
    QTRY_COMPARE(peer->bytesAvailable(), qint64(KeepAlive.size()));
    QCOMPARE(peer->readAll(), KeepAlive);
}

void tst_Lifecycle::delay_oneSecondKeepsEventsFlowing()
{
    fm_more_data w(options(new FakeSocket));
    QSignalSpy tickSpy(child<QTimer>(w, "tmr_delay"), &QTimer::timeout);
    bool otherEventHandled = false;
    QTimer::singleShot(300, &w, [&] { otherEventHandled = true; });
    const double ageBefore = w.stream().data_age;
    const double cpuBefore = cpuSeconds();

    w.DelaySeconds(1);

    QCOMPARE(tickSpy.count(), 10);
    QCOMPARE(w.delayTicks(), 0);
    QVERIFY(qAbs(w.stream().data_age - ageBefore - 1.0) < 1e-9);
    QVERIFY(otherEventHandled);
    // The wait sleeps between events instead of spinning: a spinning wait
    // burns a large share of the second even on a busy machine.
    const double cpu = cpuSeconds() - cpuBefore;
    QVERIFY2(cpu < 0.1, qPrintable(QStringLiteral("the wait used %1 s of processor time").arg(cpu)));
}

void tst_Lifecycle::delay_nestedWaitsEndTogether()
{
    fm_more_data w(options(new FakeSocket));
    QSignalSpy tickSpy(child<QTimer>(w, "tmr_delay"), &QTimer::timeout);
    int innerStart = -1;
    int innerEnd = -1;
    QTimer::singleShot(250, &w, [&] {
        innerStart = tickSpy.count();
        w.DelaySeconds(1);
        innerEnd = tickSpy.count();
    });

    // The outer wait asks for twice as long as the inner one; the inner one
    // takes over the shared countdown, and both end at its end.
    w.DelaySeconds(2);
    const int outerEnd = tickSpy.count();

    QVERIFY(innerStart >= 0);
    QCOMPARE(innerEnd - innerStart, 10);
    QCOMPARE(outerEnd, innerEnd);
    QVERIFY(outerEnd < 20);
}

void tst_Lifecycle::delay_returnsAtOnce_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("ticksAfter");

    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("negative") << -1 << -10;
    // The count cannot be formed; it keeps its value.
    QTest::newRow("beyond 32 bits") << 300000000 << 0;
}

void tst_Lifecycle::delay_returnsAtOnce()
{
    QFETCH(int, seconds);
    QFETCH(int, ticksAfter);

    fm_more_data w(options(new FakeSocket));
    QSignalSpy tickSpy(child<QTimer>(w, "tmr_delay"), &QTimer::timeout);
    w.DelaySeconds(seconds);
    QCOMPARE(tickSpy.count(), 0);
    QCOMPARE(w.delayTicks(), ticksAfter);
}

void tst_Lifecycle::shutDown_disconnectedEndsWithoutWaiting()
{
    auto *fake = new FakeSocket;
    fm_more_data w(options(fake));
    QSignalSpy tickSpy(child<QTimer>(w, "tmr_delay"), &QTimer::timeout);
    int ends = 0;
    setEnd([&] { ++ends; });
    support::child<QLabel>(w, "lbl_DrillDepth")->setText(QStringLiteral("5000"));

    std::int16_t cancel = 0;
    w.Form_Unload(cancel);

    QCOMPARE(ends, 1);
    QCOMPARE(cancel, std::int16_t(0));
    QCOMPARE(tickSpy.count(), 0);
    QCOMPARE(fake->closeCalls, 0);
    // The display was reset on the way out.
    QCOMPARE(w.label(QStringLiteral("lbl_DrillDepth"))->text(), QString());
    // Nothing of the window runs after the end.
    QVERIFY(!child<QTimer>(w, "tmr_delay")->isActive());
    QVERIFY(!child<QTimer>(w, "tmrDataArrival")->isActive());
    QVERIFY(!child<QTimer>(w, "tmr_wits")->isActive());
}

void tst_Lifecycle::shutDown_unloadsTheUnlockForm()
{
    fm_more_data w(options(new FakeSocket));
    w.show();
    w.cmd_secure_Click();
    QPointer<fm_secure> secure = const_cast<fm_secure *>(w.secureForm());
    QVERIFY(secure);
    QVERIFY(secure->isVisible());

    bool secureGoneAtEnd = false;
    setEnd([&] { secureGoneAtEnd = !secure || !secure->isVisible(); });
    std::int16_t cancel = 0;
    w.Form_Unload(cancel);

    QVERIFY(secureGoneAtEnd);
    // The main window itself is left to the process end.
    QVERIFY(w.isVisible());
    QTRY_VERIFY(!secure);
}

void tst_Lifecycle::shutDown_stuckSocketWaitsNineTimesThenEnds()
{
    // A unit that never completes the close: the socket stays connected.
    auto *fake = new FakeSocket;
    fake->state = SocketControl::Connected;
    fake->closeState = SocketControl::Connected;
    fm_more_data w(options(fake));
    stopTimers(w);

    // Ticks as fast as the event loop turns, counting the waits they end.
    int waitsEnded = 0;
    QTimer driver;
    driver.setInterval(0);
    connect(&driver, &QTimer::timeout, &w, [&] {
        const bool lastTickOfAWait = w.delayTicks() == 1;
        w.tmr_delay_Timer();
        if (lastTickOfAWait && w.delayTicks() == 0)
            ++waitsEnded;
    });
    driver.start();

    int ends = 0;
    int waitsAtEnd = -1;
    setEnd([&] {
        ++ends;
        waitsAtEnd = waitsEnded;
    });
    std::int16_t cancel = 0;
    w.Form_Unload(cancel);
    driver.stop();

    QCOMPARE(ends, 1);
    // Four waits while closing the link, five more for the state to reach 0.
    QCOMPARE(waitsAtEnd, 9);
    // The close is asked for once and not repeated.
    QCOMPARE(fake->closeCalls, 1);
}

void tst_Lifecycle::shutDown_closingTwiceRunsOnceInBoundedTime()
{
    auto *fake = new FakeSocket;
    fake->state = SocketControl::Connected;
    fake->closeState = SocketControl::Connected;
    fm_more_data w(options(fake));
    w.show();
    QSignalSpy witsTicks(child<QTimer>(w, "tmr_wits"), &QTimer::timeout);

    int ends = 0;
    setEnd([&] { ++ends; });
    QElapsedTimer clock;
    clock.start();

    // The window system asks again while the first close waits.
    bool secondAccepted = true;
    QTimer::singleShot(1500, &w, [&] {
        QCloseEvent again;
        QCoreApplication::sendEvent(&w, &again);
        secondAccepted = again.isAccepted();
    });
    QCloseEvent first;
    QCoreApplication::sendEvent(&w, &first);
    const qint64 elapsed = clock.elapsed();

    QVERIFY(first.isAccepted());
    QCOMPARE(ends, 1);
    QVERIFY(!secondAccepted);
    QVERIFY2(elapsed < 15000, qPrintable(QString::number(elapsed)));
    // The window stayed live while it waited.
    QVERIFY(witsTicks.count() >= 5);
    QCOMPARE(w.findChild<QPushButton *>(QStringLiteral("cmd_wits"))->text(), QStringLiteral("WITS BAD"));

    // A close after the sequence has run changes nothing.
    w.close();
    QCOMPARE(ends, 1);
}

void tst_Lifecycle::shutDown_whileConnecting()
{
    support::writeFile(m_dir->filePath(QStringLiteral("RDVlookup.TXT")), "0001 127.0.0.1 2400\r\n");
    auto *fake = new FakeSocket;
    fm_more_data w(options(fake));
    w.show();
    auto driver = support::fastTicks(w);
    int ends = 0;
    setEnd([&] { ++ends; });

    // The window is closed while the connect waits for its second.
    bool accepted = false;
    QTimer::singleShot(0, &w, [&] { accepted = w.close(); });
    w.cmd_connect_Click();
    driver->stop();

    QVERIFY(accepted);
    QCOMPARE(ends, 1);
    QCOMPARE(fake->state, std::int16_t(SocketControl::Closed));
    QCOMPARE(w.connectBusy(), false);
    QVERIFY(!w.isVisible());
}

// The window closes while a connect waits for the old link to close: once
// the shut-down has ended, the rest of that connect (the lookup, the new
// connection, its report line) never runs.
void tst_Lifecycle::shutDown_interruptedConnectGoesNoFurther()
{
    support::writeFile(m_dir->filePath(QStringLiteral("RDVlookup.TXT")), "0001 127.0.0.1 2400\r\n");
    auto *fake = new FakeSocket;
    fake->state = SocketControl::Connected;
    fake->closeState = SocketControl::Connected;
    fm_more_data w(options(fake));
    w.show();
    auto driver = support::fastTicks(w);
    int ends = 0;
    setEnd([&] { ++ends; });

    QTimer::singleShot(0, &w, [&] { w.close(); });
    w.cmd_connect_Click();
    driver->stop();

    QCOMPARE(ends, 1);
    QCOMPARE(fake->connectCalls, 0);
    QCOMPARE(fake->log.filter(QStringLiteral("Remote")), QStringList());
    QCOMPARE(w.trafficContent(), QByteArray());
    QCOMPARE(w.connectBusy(), false);
}

QTEST_MAIN(tst_Lifecycle)
#include "tst_lifecycle.moc"
