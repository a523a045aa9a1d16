// The unit link on its own, without any widget: this test links only the
// link's library, which is how a program without a window uses it. The
// link owns its unit's state: its own ticks and WITS watchdog, the gas
// level, the bit depth and the staleness.

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "link/unitlink.h"
#include "support/fakesocket.h"
#include "support/packets.h"

namespace {

// A packet of five fields with these gas units.
QByteArray gasPacket(const QByteArray &gas)
{
    return support::packet({"1", "2", "3", "4", gas});
}

const char *levelName(readings::GasLevel level)
{
    static const char *const names[] = {"unchanged", "green", "yellow", "red", "none"};
    return names[static_cast<int>(level)];
}

} // namespace

class tst_UnitLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void packetInOneReadingOut();
    void closeDropsTheBuffer();
    void keepAliveOnlyWhileConnected_data();
    void keepAliveOnlyWhileConnected();
    void runsOnItsOwnTimers();
    void tickAgesAndRefreshesTheState();
    void witsWatchdogEndsTheBitDepth();
    void gasLevelsHeldAsThePanelColours_data();
    void gasLevelsHeldAsThePanelColours();
    void resetAndUnitSwitchForgetTheUnit();
    void stalenessFollowsSilenceAndLoss_data();
    void stalenessFollowsSilenceAndLoss();

private:
    void connectAs(const QString &serial);
    void feed(const QByteArray &bytes);

private:
    FakeSocket *m_socket = nullptr;
    std::unique_ptr<UnitLink> m_link;
};

void tst_UnitLink::init()
{
    m_socket = new FakeSocket;
    m_link = std::make_unique<UnitLink>(m_socket);
    m_link->stop();  // the test drives the poll and the ticks by hand
}

void tst_UnitLink::cleanup()
{
    m_link.reset();
}

void tst_UnitLink::packetInOneReadingOut()
{
    qRegisterMetaType<Reading>();
    QSignalSpy readings(m_link.get(), &UnitLink::readingAccepted);
    QSignalSpy chunks(m_link.get(), &UnitLink::chunkReceived);
    QSignalSpy states(m_link.get(), &UnitLink::stateChanged);
    m_link->setRemoteHost(QStringLiteral("127.0.0.1"));
    m_link->open(QStringLiteral("0042"));
    QCOMPARE(m_link->refreshState(), std::int16_t(SocketControl::Connected));
    QCOMPARE(states.size(), 1);

    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    m_socket->queue(QByteArrayLiteral("\n*100,200,C165,\r\n"));
    m_link->poll();

    QCOMPARE(chunks.size(), 1);
    QCOMPARE(readings.size(), 1);
    const auto reading = readings.at(0).at(0).value<Reading>();
    QCOMPARE(reading.serial, QStringLiteral("0042"));
    QCOMPARE(reading.text, QByteArrayLiteral("*100,200,C165,"));
    QCOMPARE(reading.fields[1], QByteArrayLiteral("100"));
    QCOMPARE(reading.fields[2], QByteArrayLiteral("200"));
    QCOMPARE(reading.fields[3], QByteArray());  // the checksum is no reading
    QVERIFY(reading.acceptedAtMs >= before && reading.acceptedAtMs <= QDateTime::currentMSecsSinceEpoch());
    QCOMPARE(m_link->dataAge(), 0.0);
}

void tst_UnitLink::closeDropsTheBuffer()
{
    QSignalSpy readings(m_link.get(), &UnitLink::readingAccepted);
    m_socket->state = SocketControl::Connected;
    m_link->refreshState();
    m_socket->queue(QByteArrayLiteral("*100,20"));
    m_link->poll();
    QCOMPARE(m_link->stream().incoming_buffer, QByteArrayLiteral("*100,20"));

    m_link->close();
    QCOMPARE(m_socket->closeCalls, 1);
    QCOMPARE(m_link->stream().incoming_buffer, QByteArray());
    // What the next link brings is not glued to the broken packet.
    m_socket->queue(QByteArrayLiteral("0,C165,\r"));
    m_link->poll();
    QCOMPARE(readings.size(), 0);
}

void tst_UnitLink::keepAliveOnlyWhileConnected_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<int>("sends");
    QTest::newRow("connected") << int(SocketControl::Connected) << 1;
    QTest::newRow("closed") << int(SocketControl::Closed) << 0;
    QTest::newRow("peer closing") << int(SocketControl::Closing) << 0;
}

void tst_UnitLink::keepAliveOnlyWhileConnected()
{
    QFETCH(int, state);
    QFETCH(int, sends);
    m_socket->state = static_cast<std::int16_t>(state);
    m_link->refreshState();
    for (int i = 0; i < 999; ++i)
        m_link->tick();
    QVERIFY(m_socket->sent.isEmpty());
    m_link->tick();
    QCOMPARE(m_socket->sent.size(), sends);
    if (sends)
        QCOMPARE(m_socket->sent.at(0), QByteArrayLiteral("[KEEP ALIVE]\r\n"));
    QCOMPARE(m_link->keepaliveCountdown(), std::int16_t(1000));
}

void tst_UnitLink::connectAs(const QString &serial)
{
    if (m_socket->state != SocketControl::Closed) {
        m_link->close();
        m_link->refreshState();
    }
    m_link->open(serial);
    m_link->refreshState();
}

void tst_UnitLink::feed(const QByteArray &bytes)
{
    m_socket->queue(bytes);
    m_link->poll();
}

void tst_UnitLink::runsOnItsOwnTimers()
{
    // No window drives it: the link ticks, polls and counts WITS seconds by
    // itself from its creation on, and says what it learned.
    auto *socket = new FakeSocket;
    UnitLink link(socket);
    QSignalSpy ticks(&link, &UnitLink::ticked);
    QSignalSpy states(&link, &UnitLink::stateChanged);
    QSignalSpy seconds(&link, &UnitLink::witsTicked);
    QSignalSpy readings(&link, &UnitLink::readingAccepted);
    socket->state = SocketControl::Connected;
    socket->queue(gasPacket("900"));
    QVERIFY(seconds.wait(3000));
    QVERIFY(ticks.size() >= 5);
    QCOMPARE(states.size(), 1);
    QCOMPARE(readings.size(), 1);
    QCOMPARE(seconds.at(0).at(0).value<UnitStream::WitsWatch>(), UnitStream::WitsWatch::Bad);
    link.stop();
    const qsizetype stopped = ticks.size();
    QTest::qWait(250);
    QCOMPARE(ticks.size(), stopped);
}

void tst_UnitLink::tickAgesAndRefreshesTheState()
{
    QSignalSpy states(m_link.get(), &UnitLink::stateChanged);
    QSignalSpy ticks(m_link.get(), &UnitLink::ticked);
    for (int i = 0; i < 10; ++i)
        m_link->tick();
    QVERIFY(qAbs(m_link->dataAge() - 1.0) < 1e-9);
    QCOMPARE(states.size(), 0);  // closed from the start: no change

    // The tick reads the state, and a change goes out once.
    m_socket->state = SocketControl::Connected;
    m_link->tick();
    m_link->tick();
    QCOMPARE(states.size(), 1);
    QCOMPARE(states.at(0).at(0).value<std::int16_t>(), std::int16_t(SocketControl::Connected));
    QCOMPARE(ticks.size(), 12);
    QVERIFY(ticks.at(11).at(0).toBool());

    // A refused keep-alive drops the state refresh of its tick, and the
    // countdown is not held back by it.
    m_socket->refuseSend = "Wrong protocol or connection state";
    for (int i = 12; i < 999; ++i)
        m_link->tick();
    m_socket->state = SocketControl::Closing;
    m_link->tick();  // the 1000th: the keep-alive is due and refused
    QVERIFY(!ticks.last().at(0).toBool());
    QCOMPARE(m_link->state(), std::int16_t(SocketControl::Connected));
    QCOMPARE(m_link->keepaliveCountdown(), std::int16_t(1000));
    m_link->tick();
    QCOMPARE(m_link->state(), std::int16_t(SocketControl::Closing));
    QCOMPARE(states.size(), 2);
}

void tst_UnitLink::witsWatchdogEndsTheBitDepth()
{
    qRegisterMetaType<Reading>();
    QSignalSpy readings(m_link.get(), &UnitLink::readingAccepted);
    QSignalSpy depths(m_link.get(), &UnitLink::bitDepthRead);
    QSignalSpy seconds(m_link.get(), &UnitLink::witsTicked);
    connectAs(QStringLiteral("0001"));
    QCOMPARE(m_link->witsTick(), UnitStream::WitsWatch::Bad);

    // The packet is taken before the record behind it: it has no bit depth
    // yet; the next one has.
    feed(gasPacket("900") + "^,01,0001,261208,030000,01101523.5,01081520.04\r");
    QCOMPARE(readings.size(), 1);
    QCOMPARE(readings.at(0).at(0).value<Reading>().bitDepth, std::optional<double>());
    QCOMPARE(depths.size(), 1);
    QCOMPARE(depths.at(0).at(0).toDouble(), 1520.04);
    feed(gasPacket("900"));
    QCOMPARE(readings.size(), 2);
    QCOMPARE(readings.last().at(0).value<Reading>().bitDepth, std::optional<double>(1520.04));

    for (int second = 1; second <= 59; ++second)
        QCOMPARE(m_link->witsTick(), UnitStream::WitsWatch::Counting);
    QCOMPARE(m_link->bitDepth(), std::optional<double>(1520.04));
    QCOMPARE(m_link->witsTick(), UnitStream::WitsWatch::Expired);
    QCOMPARE(seconds.last().at(1).value<std::int16_t>(), std::int16_t(0));
    QCOMPARE(m_link->bitDepth(), std::optional<double>());
    QCOMPARE(m_link->witsTick(), UnitStream::WitsWatch::Bad);
    feed(gasPacket("900"));
    QCOMPARE(readings.last().at(0).value<Reading>().bitDepth, std::optional<double>());
}

void tst_UnitLink::gasLevelsHeldAsThePanelColours_data()
{
    QTest::addColumn<QByteArrayList>("fields");
    QTest::addColumn<QString>("levels");  // each reading's, then the link's
    QTest::newRow("held from 1200 to 1400") << QByteArrayList{"1300", "1500", "1300", "1199.4", "1300"}
                                            << "unchanged yellow yellow green green / green";
    QTest::newRow("red falls to yellow, not into the hold")
        << QByteArrayList{"1800", "1300", "1500"} << "red red yellow / yellow";
    QTest::newRow("no number is no reading, and the hold starts afresh")
        << QByteArrayList{"1900", "N/A", "1300", ""} << "red none unchanged none / unchanged";
}

void tst_UnitLink::gasLevelsHeldAsThePanelColours()
{
    QFETCH(QByteArrayList, fields);
    QFETCH(QString, levels);
    QSignalSpy readings(m_link.get(), &UnitLink::readingAccepted);
    connectAs(QStringLiteral("0001"));
    QStringList seen;
    for (const QByteArray &field : fields)
        feed(gasPacket(field));
    for (const QList<QVariant> &reading : readings)
        seen << QLatin1String(levelName(reading.at(0).value<Reading>().gasLevel));
    seen << QStringLiteral("/") << QLatin1String(levelName(m_link->gasLevel()));
    QCOMPARE(seen.join(QLatin1Char(' ')), levels);
}

void tst_UnitLink::resetAndUnitSwitchForgetTheUnit()
{
    QSignalSpy readings(m_link.get(), &UnitLink::readingAccepted);
    const auto redWithBitDepth = [this] {
        feed("^,01,0001,261208,030000,01081520\r" + gasPacket("1800"));
        QCOMPARE(m_link->gasLevel(), readings::GasLevel::Red);
        QCOMPARE(m_link->bitDepth(), std::optional<double>(1520));
    };
    connectAs(QStringLiteral("0001"));
    redWithBitDepth();

    // The display reset: nothing of the unit stands.
    m_link->forgetReadings();
    QCOMPARE(m_link->gasLevel(), readings::GasLevel::Unchanged);
    QCOMPARE(m_link->bitDepth(), std::optional<double>());
    QCOMPARE(m_link->witsCountdown(), std::int16_t(0));
    QCOMPARE(m_link->stream().error_code, 0.0);
    feed(gasPacket("1300"));
    QCOMPARE(readings.last().at(0).value<Reading>().gasLevel, readings::GasLevel::Unchanged);

    // The same unit again keeps what it said; another starts afresh.
    redWithBitDepth();
    connectAs(QStringLiteral("0001"));
    QCOMPARE(m_link->gasLevel(), readings::GasLevel::Red);
    connectAs(QStringLiteral("0002"));
    QCOMPARE(m_link->gasLevel(), readings::GasLevel::Unchanged);
    QCOMPARE(m_link->bitDepth(), std::optional<double>());
    feed(gasPacket("1300"));
    const auto reading = readings.last().at(0).value<Reading>();
    QCOMPARE(reading.serial, QStringLiteral("0002"));
    QCOMPARE(reading.gasLevel, readings::GasLevel::Unchanged);
    QCOMPARE(reading.bitDepth, std::optional<double>());
}

void tst_UnitLink::stalenessFollowsSilenceAndLoss_data()
{
    // Script: sN the socket state N read, tN N ticks, p a packet. Seen:
    // each change of the staleness and each state change, in order.
    QTest::addColumn<int>("staleSeconds");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("seen");
    QTest::newRow("silent after the limit, counted from the connect")
        << 3 << "t100 s7 t29 t1 p t29 t1" << "state7 silent current silent";
    QTest::newRow("lost until a packet, whatever the link does")
        << 3 << "s7 p s9 s0 s7 t40 p" << "state7 lost state9 state0 state7 current";
    QTest::newRow("a connect that never got through is no loss") << 3 << "s6 s9 s0" << "state6 state9 state0";
    QTest::newRow("limit 0: never stale") << 0 << "s7 t1000 s8" << "state7 state8";
}

void tst_UnitLink::stalenessFollowsSilenceAndLoss()
{
    QFETCH(int, staleSeconds);
    QFETCH(QString, script);
    QFETCH(QString, seen);
    m_link->setStaleSeconds(staleSeconds);
    QStringList events;
    connect(m_link.get(), &UnitLink::stalenessChanged, this, [&events](readings::Staleness staleness) {
        static const char *const names[] = {"current", "silent", "lost"};
        events << QLatin1String(names[static_cast<int>(staleness)]);
    });
    connect(m_link.get(), &UnitLink::stateChanged, this,
            [&events](std::int16_t state) { events << QStringLiteral("state%1").arg(state); });
    for (const QString &step : script.split(QLatin1Char(' '))) {
        if (step.startsWith(QLatin1Char('s'))) {
            m_socket->state = static_cast<std::int16_t>(step.mid(1).toInt());
            m_link->refreshState();
        } else if (step.startsWith(QLatin1Char('t'))) {
            for (int i = step.mid(1).toInt(); i > 0; --i)
                m_link->tick();
        } else {
            feed(gasPacket("900"));
        }
    }
    QCOMPARE(events.join(QLatin1Char(' ')), seen);
    QCOMPARE(m_link->readingsStale(), events.last() == QLatin1String("silent") || events.last() == QLatin1String("lost"));
}

QTEST_GUILESS_MAIN(tst_UnitLink)
#include "tst_unitlink.moc"
