// The receive poll: what one tick fetches, shows and keeps in the stream
// buffer, the 5000-character limit, the guard against a parse in progress,
// and how packets that arrived together are all taken in the one tick.

#include <cstdint>
#include <memory>

#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "link/unitlink.h"
#include "rules/stream/streamstate.h"
#include "rules/stream/trafficlog.h"
#include "support/fakesocket.h"

class tst_ReceivePoll : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void nothingWaitingChangesNothing();
    void arrivalNoticeReadsNothing();
    void bytesAreKeptAsReceived();
    void chunkSplitMidPacket();
    void limit_data();
    void limit();
    void busyParseSkipsTheTick();
    void packetsThatCameTogetherAreAllTaken();
    void discardedTextIsReported();
    void failingSocketSkipsTheFetch();

private:
    void tick() { m_link->poll(); }
    const StreamState &stream() { return m_link->stream(); }
    QByteArray firstField() { return stream().data_fields[1]; }
    // The data age after n ticks of the clock, which the poll must leave.
    void age(int ticks)
    {
        for (int i = 0; i < ticks; ++i)
            m_link->tick();
    }

    std::unique_ptr<UnitLink> m_link;
    FakeSocket *m_socket = nullptr;
    // What the traffic window would show: every chunk the link hands on.
    TrafficLog m_traffic;
};

void tst_ReceivePoll::init()
{
    m_socket = new FakeSocket;
    m_link = std::make_unique<UnitLink>(m_socket);
    m_link->stop();  // the test drives the poll and the ticks by hand
    m_traffic.clear();
    connect(m_link.get(), &UnitLink::chunkReceived, this, [this](const QByteArray &chunk) { m_traffic.append(chunk); });
    m_socket->state = SocketControl::Connected;
    QCOMPARE(stream().incoming_buffer, QByteArray());
    QVERIFY(!stream().parse_busy);
}

void tst_ReceivePoll::cleanup()
{
    m_link.reset();
    m_socket = nullptr;
}

void tst_ReceivePoll::nothingWaitingChangesNothing()
{
    age(40);
    const double before = stream().data_age;
    tick();
    tick();
    QCOMPARE(m_socket->getDataCalls, 0);
    QCOMPARE(stream().incoming_buffer, QByteArray());
    QCOMPARE(m_traffic.content(), QByteArray());
    QCOMPARE(stream().data_age, before);
}

void tst_ReceivePoll::arrivalNoticeReadsNothing()
{
    m_socket->receive(QByteArrayLiteral("*1,2,\r"));
    QCoreApplication::processEvents();
    QCOMPARE(m_socket->getDataCalls, 0);
    QCOMPARE(m_socket->incoming, QByteArrayLiteral("*1,2,\r"));
    QCOMPARE(stream().incoming_buffer, QByteArray());
    QCOMPARE(m_traffic.content(), QByteArray());

    tick();
    QCOMPARE(m_socket->getDataCalls, 1);
    QCOMPARE(m_socket->incoming, QByteArray());
    QCOMPARE(firstField(), QByteArrayLiteral("1"));
}

void tst_ReceivePoll::bytesAreKeptAsReceived()
{
    const QByteArray bytes = QByteArrayLiteral("\x00\x01\x7f\x80\xe9\xff \t\n") + QByteArray(3, '\0');
    m_socket->queue(bytes);
    tick();
    QCOMPARE(stream().incoming_buffer, bytes);
    QCOMPARE(m_traffic.content(), QByteArrayLiteral("\r\n") + bytes);
}

void tst_ReceivePoll::chunkSplitMidPacket()
{
    age(70);
    const double before = stream().data_age;
    m_socket->queue(QByteArrayLiteral("*10,20,"));
    tick();
    QCOMPARE(stream().incoming_buffer, QByteArrayLiteral("*10,20,"));
    QCOMPARE(firstField(), QByteArray());
    QCOMPARE(stream().data_age, before);

    // A tick with nothing new leaves the partial packet waiting.
    tick();
    QCOMPARE(stream().incoming_buffer, QByteArrayLiteral("*10,20,"));

    m_socket->queue(QByteArrayLiteral("30,\r"));
    tick();
    QCOMPARE(stream().incoming_buffer, QByteArray());
    QCOMPARE(stream().data_fields[1], QByteArrayLiteral("10"));
    QCOMPARE(stream().data_fields[2], QByteArrayLiteral("20"));
    QCOMPARE(stream().data_fields[3], QByteArrayLiteral("30"));
    QCOMPARE(stream().data_age, 0.0);
    // Each chunk is shown as it came, on a line of its own.
    QCOMPARE(m_traffic.content(), QByteArrayLiteral("\r\n*10,20,\r\n30,\r"));
}

void tst_ReceivePoll::limit_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");  // one tick each
    QTest::addColumn<int>("kept");                  // length of the buffer at the end
    QTest::addColumn<QByteArray>("field");          // the first field shown at the end

    const QByteArray packet = QByteArrayLiteral("*7,8,\r");  // six characters
    QTest::newRow("5000 in one chunk kept") << QList<QByteArray>{QByteArray(5000, 'x')} << 5000 << QByteArray();
    QTest::newRow("5001 in one chunk emptied") << QList<QByteArray>{QByteArray(5001, 'x')} << 0 << QByteArray();
    QTest::newRow("4999 and 1 kept")
        << QList<QByteArray>{QByteArray(4999, 'x'), QByteArrayLiteral("y")} << 5000 << QByteArray();
    QTest::newRow("5000 and 1 emptied")
        << QList<QByteArray>{QByteArray(5000, 'x'), QByteArrayLiteral("y")} << 0 << QByteArray();
    // The limit applies to what is left once everything complete is taken:
    // a packet behind noise is taken with the noise, however long.
    QTest::newRow("5000 and a packet taken")
        << QList<QByteArray>{QByteArray(5000, 'x'), packet} << 0 << QByteArrayLiteral("7");
    QTest::newRow("packet completing at 5000 is taken")
        << QList<QByteArray>{QByteArray(4994, 'x'), packet} << 0 << QByteArrayLiteral("7");
    QTest::newRow("packet completing at 5001 is taken")
        << QList<QByteArray>{QByteArray(4995, 'x'), packet} << 0 << QByteArrayLiteral("7");
    QTest::newRow("emptied buffer starts afresh")
        << QList<QByteArray>{QByteArray(5001, 'x'), packet} << 0 << QByteArrayLiteral("7");
}

void tst_ReceivePoll::limit()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(int, kept);
    QFETCH(QByteArray, field);

    for (const QByteArray &chunk : chunks) {
        m_socket->queue(chunk);
        tick();
        QVERIFY(stream().incoming_buffer.size() <= 5000);
        // The chunk is shown even when the buffer then drops it.
        QVERIFY(m_traffic.content().endsWith(chunk.right(3000)));
    }
    QCOMPARE(stream().incoming_buffer.size(), kept);
    QCOMPARE(firstField(), field);
}

void tst_ReceivePoll::busyParseSkipsTheTick()
{
    // A tick delivered while the parser runs (from inside a listener of
    // what it found) must leave the socket and the buffer alone.
    bool checked = false;
    connect(m_link.get(), &UnitLink::readingAccepted, this, [&] {
        if (checked)
            return;
        checked = true;
        QVERIFY(stream().parse_busy);
        m_socket->queue(QByteArrayLiteral("*2,\r"));
        const int bytesReceivedCalls = m_socket->bytesReceivedCalls;
        const QByteArray buffer = stream().incoming_buffer;
        const QByteArray traffic = m_traffic.content();
        tick();
        QCOMPARE(m_socket->bytesReceivedCalls, bytesReceivedCalls);
        QCOMPARE(m_socket->getDataCalls, 1);
        QCOMPARE(m_socket->incoming, QByteArrayLiteral("*2,\r"));
        QCOMPARE(stream().incoming_buffer, buffer);
        QCOMPARE(m_traffic.content(), traffic);
        QVERIFY(stream().parse_busy);
    });
    m_socket->queue(QByteArrayLiteral("*1,\r"));
    tick();
    QVERIFY(checked);
    QCOMPARE(firstField(), QByteArrayLiteral("1"));
    QVERIFY(!stream().parse_busy);

    tick();
    QCOMPARE(m_socket->getDataCalls, 2);
    QCOMPARE(firstField(), QByteArrayLiteral("2"));
    QCOMPARE(m_traffic.content(), QByteArrayLiteral("\r\n*1,\r\r\n*2,\r"));
    QVERIFY(!stream().parse_busy);
}

void tst_ReceivePoll::packetsThatCameTogetherAreAllTaken()
{
    QStringList taken;
    connect(m_link.get(), &UnitLink::readingAccepted, this,
            [&](const Reading &reading) { taken << QString::fromLatin1(reading.fields[1]); });
    m_socket->queue(QByteArrayLiteral("*1,\r*2,\r^a,b,c,d,e,01081.5\r*3,\r*4"));
    tick();
    QCOMPARE(taken, (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    QCOMPARE(firstField(), QByteArrayLiteral("3"));
    QCOMPARE(stream().wits_countdown, std::int16_t(60));
    QCOMPARE(stream().incoming_buffer, QByteArrayLiteral("*4"));

    // Nothing new: an incomplete packet is not looked at again.
    const int bytesReceivedCalls = m_socket->bytesReceivedCalls;
    tick();
    QCOMPARE(m_socket->bytesReceivedCalls, bytesReceivedCalls + 1);
    QCOMPARE(taken.size(), 3);
    m_socket->queue(QByteArrayLiteral(",\r"));
    tick();
    QCOMPARE(taken.last(), QStringLiteral("4"));
}

// Text that never completes is thrown away past the limit, and the
// operator is told how much.
void tst_ReceivePoll::discardedTextIsReported()
{
    QSignalSpy lines(m_link.get(), &UnitLink::lineReported);
    m_socket->queue(QByteArray(6000, 'x'));
    tick();
    QCOMPARE(stream().incoming_buffer, QByteArray());
    QCOMPARE(lines.size(), 1);
    QCOMPARE(lines.at(0).at(0).toByteArray(), QByteArrayLiteral("[Receive buffer over 5000: 6000 characters discarded]"));
    QVERIFY(m_traffic.content().endsWith(QByteArray(3000, 'x')));
}

void tst_ReceivePoll::failingSocketSkipsTheFetch()
{
    m_socket->queue(QByteArrayLiteral("*10,"));
    tick();
    m_traffic.clear();
    const int getDataCalls = m_socket->getDataCalls;
    m_socket->queue(QByteArrayLiteral("20,\r"));

    m_socket->refuseBytesReceived = QByteArrayLiteral("Unexpected error");
    tick();
    QCOMPARE(m_socket->getDataCalls, getDataCalls);
    m_socket->refuseBytesReceived.clear();

    m_socket->refuseGetData = QByteArrayLiteral("Unexpected error");
    tick();
    QCOMPARE(m_socket->getDataCalls, getDataCalls + 1);
    QCOMPARE(stream().incoming_buffer, QByteArrayLiteral("*10,"));
    QCOMPARE(m_traffic.content(), QByteArray());
    QCOMPARE(firstField(), QByteArray());
    m_socket->refuseGetData.clear();

    // Nothing was lost: the next tick fetches what waited in the socket.
    tick();
    QCOMPARE(firstField(), QByteArrayLiteral("10"));
    QCOMPARE(stream().data_fields[2], QByteArrayLiteral("20"));
    QCOMPARE(m_traffic.content(), QByteArrayLiteral("\r\n20,\r"));
}

QTEST_GUILESS_MAIN(tst_ReceivePoll)
#include "tst_receivepoll.moc"
