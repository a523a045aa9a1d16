// The unit link on its own, without any widget: this test links only the
// widget-free library, which is how a program without a window uses it.

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "link/unitlink.h"
#include "support/fakesocket.h"

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

private:
    FakeSocket *m_socket = nullptr;
    std::unique_ptr<UnitLink> m_link;
};

void tst_UnitLink::init()
{
    m_socket = new FakeSocket;
    m_link = std::make_unique<UnitLink>(m_socket);
    m_link->findChild<QTimer *>(QStringLiteral("tmrDataArrival"))->stop();
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

QTEST_GUILESS_MAIN(tst_UnitLink)
#include "tst_unitlink.moc"
