// The receive poll: what one tick fetches, shows and keeps in the stream
// buffer, the 5000-character limit, the guard against a parse in progress,
// and how packets that arrived together are worked off one per tick.

#include <cstdint>
#include <memory>

#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/fm_more_data.h"
#include "fakesocket.h"
#include "stream/streamstate.h"

class tst_ReceivePoll : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void nothingWaitingChangesNothing();
    void arrivalNoticeReadsNothing();
    void bytesAreKeptAsReceived();
    void chunkSplitMidPacket();
    void limit_data();
    void limit();
    void busyParseSkipsTheTick();
    void backlogIsWorkedOffOnePacketPerTick();
    void newDataJoinsTheBacklog();
    void failingSocketSkipsTheFetch();

private:
    void tick() { m_window->tmrDataArrival_Timer(); }
    StreamState &stream() { return m_window->stream(); }
    QByteArray firstField() { return stream().data_fields[1]; }

    QTemporaryDir m_dir;
    std::unique_ptr<fm_more_data> m_window;
    FakeSocket *m_socket = nullptr;
};

void tst_ReceivePoll::initTestCase()
{
    QVERIFY(m_dir.isValid());
    fm_more_data::setProgramDirectory(m_dir.path());
}

void tst_ReceivePoll::init()
{
    m_socket = new FakeSocket;
    m_window = std::make_unique<fm_more_data>(m_socket);
    for (QTimer *timer : m_window->findChildren<QTimer *>())
        timer->stop();
    // Start-up reports the missing configuration file; start from empty.
    m_window->clear_display();
    m_socket->state = SocketControl::Connected;
    QCOMPARE(m_window->trafficContent(), QByteArray());
    QCOMPARE(stream().incoming_buffer, QByteArray());
    QVERIFY(!stream().parse_busy);
}

void tst_ReceivePoll::cleanup()
{
    m_window.reset();
    m_socket = nullptr;
}

void tst_ReceivePoll::nothingWaitingChangesNothing()
{
    stream().data_age = 4.0;
    tick();
    tick();
    QCOMPARE(m_socket->getDataCalls, 0);
    QCOMPARE(stream().incoming_buffer, QByteArray());
    QCOMPARE(m_window->trafficContent(), QByteArray());
    QCOMPARE(stream().data_age, 4.0);
}

void tst_ReceivePoll::arrivalNoticeReadsNothing()
{
    m_socket->receive(QByteArrayLiteral("*1,2,\r"));
    QCoreApplication::processEvents();
    QCOMPARE(m_socket->getDataCalls, 0);
    QCOMPARE(m_socket->incoming, QByteArrayLiteral("*1,2,\r"));
    QCOMPARE(stream().incoming_buffer, QByteArray());
    QCOMPARE(m_window->trafficContent(), QByteArray());

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
    QCOMPARE(m_window->trafficContent(), QByteArrayLiteral("\r\n") + bytes);
}

void tst_ReceivePoll::chunkSplitMidPacket()
{
    stream().data_age = 7.0;
    m_socket->queue(QByteArrayLiteral("*10,20,"));
    tick();
    QCOMPARE(stream().incoming_buffer, QByteArrayLiteral("*10,20,"));
    QCOMPARE(firstField(), QByteArray());
    QCOMPARE(stream().data_age, 7.0);

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
    QCOMPARE(m_window->trafficContent(), QByteArrayLiteral("\r\n*10,20,\r\n30,\r"));
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
    QTest::newRow("5000 and a packet emptied")
        << QList<QByteArray>{QByteArray(5000, 'x'), packet} << 0 << QByteArray();
    // The packet completes at exactly 5000 and is taken, noise in front of it too.
    QTest::newRow("packet completing at 5000 is taken")
        << QList<QByteArray>{QByteArray(4994, 'x'), packet} << 0 << QByteArrayLiteral("7");
    QTest::newRow("packet completing at 5001 is lost")
        << QList<QByteArray>{QByteArray(4995, 'x'), packet} << 0 << QByteArray();
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
        QVERIFY(m_window->trafficContent().endsWith(chunk.right(3000)));
    }
    QCOMPARE(stream().incoming_buffer.size(), kept);
    QCOMPARE(firstField(), field);
}

void tst_ReceivePoll::busyParseSkipsTheTick()
{
    stream().incoming_buffer = QByteArrayLiteral("*1,\r");
    m_socket->queue(QByteArrayLiteral("*2,\r"));
    stream().parse_busy = true;

    tick();
    QCOMPARE(m_socket->bytesReceivedCalls, 0);
    QCOMPARE(m_socket->getDataCalls, 0);
    QCOMPARE(m_socket->incoming, QByteArrayLiteral("*2,\r"));
    QCOMPARE(stream().incoming_buffer, QByteArrayLiteral("*1,\r"));
    QCOMPARE(m_window->trafficContent(), QByteArray());
    QCOMPARE(firstField(), QByteArray());
    QVERIFY(stream().parse_busy);

    stream().parse_busy = false;
    tick();
    QCOMPARE(m_socket->getDataCalls, 1);
    QCOMPARE(firstField(), QByteArrayLiteral("1"));
    QCOMPARE(stream().incoming_buffer, QByteArrayLiteral("*2,\r"));
    QCOMPARE(m_window->trafficContent(), QByteArrayLiteral("\r\n*2,\r"));
    QVERIFY(!stream().parse_busy);
}

void tst_ReceivePoll::backlogIsWorkedOffOnePacketPerTick()
{
    m_socket->queue(QByteArrayLiteral("*1,\r*2,\r*3,\r"));

    tick();
    QCOMPARE(firstField(), QByteArrayLiteral("1"));
    QCOMPARE(stream().incoming_buffer, QByteArrayLiteral("*2,\r*3,\r"));

    // Nothing new arrives: the waiting packets are still worked off, one by
    // each tick, without waiting for the unit's next send.
    tick();
    QCOMPARE(firstField(), QByteArrayLiteral("2"));
    QCOMPARE(stream().incoming_buffer, QByteArrayLiteral("*3,\r"));
    tick();
    QCOMPARE(firstField(), QByteArrayLiteral("3"));
    QCOMPARE(stream().incoming_buffer, QByteArray());
    tick();
    QCOMPARE(firstField(), QByteArrayLiteral("3"));

    QCOMPARE(m_socket->getDataCalls, 1);
    QCOMPARE(m_window->trafficContent(), QByteArrayLiteral("\r\n*1,\r*2,\r*3,\r"));
}

void tst_ReceivePoll::newDataJoinsTheBacklog()
{
    m_socket->queue(QByteArrayLiteral("*1,\r*2,\r"));
    tick();
    QCOMPARE(firstField(), QByteArrayLiteral("1"));

    // The oldest packet goes first; the new one waits behind it.
    m_socket->queue(QByteArrayLiteral("*3,\r"));
    tick();
    QCOMPARE(firstField(), QByteArrayLiteral("2"));
    QCOMPARE(stream().incoming_buffer, QByteArrayLiteral("*3,\r"));
    tick();
    QCOMPARE(firstField(), QByteArrayLiteral("3"));
}

void tst_ReceivePoll::failingSocketSkipsTheFetch()
{
    stream().incoming_buffer = QByteArrayLiteral("*10,");
    m_socket->queue(QByteArrayLiteral("20,\r"));

    m_socket->refuseBytesReceived = QByteArrayLiteral("Unexpected error");
    tick();
    QCOMPARE(m_socket->getDataCalls, 0);
    m_socket->refuseBytesReceived.clear();

    m_socket->refuseGetData = QByteArrayLiteral("Unexpected error");
    tick();
    QCOMPARE(m_socket->getDataCalls, 1);
    QCOMPARE(stream().incoming_buffer, QByteArrayLiteral("*10,"));
    QCOMPARE(m_window->trafficContent(), QByteArray());
    QCOMPARE(firstField(), QByteArray());
    m_socket->refuseGetData.clear();

    // Nothing was lost: the next tick fetches what waited in the socket.
    tick();
    QCOMPARE(firstField(), QByteArrayLiteral("10"));
    QCOMPARE(stream().data_fields[2], QByteArrayLiteral("20"));
    QCOMPARE(m_window->trafficContent(), QByteArrayLiteral("\r\n20,\r"));
}

QTEST_MAIN(tst_ReceivePoll)
#include "tst_receivepoll.moc"
