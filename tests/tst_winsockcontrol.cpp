// The TCP socket control against a server on this machine: the states it
// reports, what it holds, what it refuses, and that bytes cross unchanged.

#include <cstdint>
#include <functional>
#include <memory>

#include <QHostInfo>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "rules/convert/fault.h"
#include "link/winsockcontrol.h"
#include "support/texts.h"

namespace {

using support::faultOf;

constexpr int LookupTimeout = 30000;  // a failing name lookup may wait for the resolver

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int c = 0; c < 256; ++c)
        bytes += static_cast<char>(c);
    return bytes;
}

// A port nobody listens on: one the system just handed out and took back.
quint16 refusedPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost))
        return 0;
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

// Every state the control reports as its inner socket moves on, with
// repeats folded.
class StateRecorder
{
public:
    explicit StateRecorder(WinsockControl &control)
    {
        QTcpSocket *inner = control.findChild<QTcpSocket *>();
        if (!inner)
            return;
        m_connection = QObject::connect(inner, &QAbstractSocket::stateChanged, inner, [this, &control] {
            const std::int16_t state = control.State();
            if (states.isEmpty() || states.constLast() != state)
                states.append(state);
        });
        found = true;
    }

    // The control outlives the recorder and still changes state when it is
    // destroyed; the recorder must not hear of that.
    ~StateRecorder() { QObject::disconnect(m_connection); }

    QList<std::int16_t> states;
    bool found = false;

private:
    QMetaObject::Connection m_connection;
};

} // namespace

class tst_WinsockControl : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsClosed();
    void connectsThroughTheStates_data();
    void connectsThroughTheStates();
    void bindsTheLocalPort();
    void peerCloseHoldsClosingUntilClose();
    void refusedPortHoldsErrorUntilClose();
    void unresolvableNameGivesError();
    void closeWhileResolvingEndsAtOnce();
    void everyByteValueCrossesBothWays();
    void closeEndsAtOnce();
    void closeWithUnsentDataEndsAtOnce();
    void refusals_data();
    void refusals();

private:
    // Connects m_control to m_server and returns the server's end.
    bool connectToServer();

    std::unique_ptr<QTcpServer> m_server;
    std::unique_ptr<WinsockControl> m_control;
    std::unique_ptr<QTcpSocket> m_peer;
};

void tst_WinsockControl::init()
{
    m_server = std::make_unique<QTcpServer>();
    QVERIFY(m_server->listen(QHostAddress::LocalHost));
    m_control = std::make_unique<WinsockControl>();
}

void tst_WinsockControl::cleanup()
{
    m_control.reset();
    m_peer.reset();
    m_server.reset();
}

bool tst_WinsockControl::connectToServer()
{
    m_control->RemoteHost(QStringLiteral("127.0.0.1"));
    m_control->RemotePort(m_server->serverPort());
    m_control->Connect();
    QSignalSpy accepted(m_server.get(), &QTcpServer::newConnection);
    if (!m_server->hasPendingConnections() && !accepted.wait(5000))
        return false;
    m_peer.reset(m_server->nextPendingConnection());
    if (m_control->State() != SocketControl::Connected)
        (void)QTest::qWaitFor([&] { return m_control->State() == SocketControl::Connected; }, 5000);
    return m_peer && m_control->State() == SocketControl::Connected;
}

void tst_WinsockControl::startsClosed()
{
    QCOMPARE(m_control->State(), std::int16_t(0));
    QCOMPARE(m_control->BytesReceived(), 0);
    QByteArray text = QByteArrayLiteral("left over");
    m_control->GetData(text);
    QCOMPARE(text, QByteArray());
    // Closing what is closed changes nothing.
    m_control->Close();
    QCOMPARE(m_control->State(), std::int16_t(0));
}

void tst_WinsockControl::connectsThroughTheStates_data()
{
    QTest::addColumn<QString>("host");
    QTest::newRow("dotted address") << QStringLiteral("127.0.0.1");
    QTest::newRow("host name") << QStringLiteral("localhost");
}

void tst_WinsockControl::connectsThroughTheStates()
{
    QFETCH(QString, host);
    StateRecorder recorder(*m_control);
    QVERIFY(recorder.found);

    m_control->RemoteHost(host);
    m_control->LocalPort(0);
    m_control->RemotePort(m_server->serverPort());
    m_control->Connect();
    const std::int16_t first = m_control->State();
    QVERIFY2(first == 4 || first == 6, qPrintable(QString::number(first)));

    QTRY_COMPARE(m_control->State(), std::int16_t(7));
    QCOMPARE(recorder.states, (QList<std::int16_t>{4, 6, 7}));
    QTRY_VERIFY(m_server->hasPendingConnections());
    QCOMPARE(m_control->BytesReceived(), 0);
}

void tst_WinsockControl::bindsTheLocalPort()
{
    const quint16 local = refusedPort();
    QVERIFY(local != 0);
    m_control->LocalPort(local);
    QVERIFY(connectToServer());
    QCOMPARE(m_peer->peerPort(), local);
}

void tst_WinsockControl::peerCloseHoldsClosingUntilClose()
{
    QVERIFY(connectToServer());
    m_peer->write(QByteArrayLiteral("last words\r"));
    m_peer->disconnectFromHost();

    QTRY_COMPARE(m_control->State(), std::int16_t(8));
    // What the unit sent before it went away can still be fetched.
    QCOMPARE(m_control->BytesReceived(), 11);
    QByteArray text;
    m_control->GetData(text);
    QCOMPARE(text, QByteArrayLiteral("last words\r"));
    QCOMPARE(m_control->BytesReceived(), 0);

    // Held: events go on flowing and it stays 8; only Close ends it.
    QSignalSpy gone(m_peer.get(), &QAbstractSocket::disconnected);
    if (m_peer->state() != QAbstractSocket::UnconnectedState)
        QVERIFY(gone.wait(5000));
    QCoreApplication::processEvents();
    QCOMPARE(m_control->State(), std::int16_t(8));
    QVERIFY(!faultOf([&] { m_control->Connect(); }).isEmpty());
    QVERIFY(!faultOf([&] { m_control->SendData(QByteArrayLiteral("x")); }).isEmpty());
    QCOMPARE(m_control->State(), std::int16_t(8));

    m_control->Close();
    QTRY_COMPARE(m_control->State(), std::int16_t(0));

    // And the control is ready for the next connection.
    m_peer.reset();
    QVERIFY(connectToServer());
}

void tst_WinsockControl::refusedPortHoldsErrorUntilClose()
{
    const quint16 port = refusedPort();
    QVERIFY(port != 0);
    m_control->RemoteHost(QStringLiteral("127.0.0.1"));
    m_control->RemotePort(port);
    m_control->Connect();
    QTRY_COMPARE(m_control->State(), std::int16_t(9));

    QCoreApplication::processEvents();
    QCOMPARE(m_control->State(), std::int16_t(9));
    QCOMPARE(m_control->BytesReceived(), 0);
    QVERIFY(!faultOf([&] { m_control->Connect(); }).isEmpty());
    QVERIFY(!faultOf([&] { m_control->RemotePort(m_server->serverPort()); }).isEmpty());
    QCOMPARE(m_control->State(), std::int16_t(9));

    m_control->Close();
    QCOMPARE(m_control->State(), std::int16_t(0));
    QVERIFY(connectToServer());
}

void tst_WinsockControl::unresolvableNameGivesError()
{
    m_control->RemoteHost(QStringLiteral("no-such-host.invalid"));
    m_control->RemotePort(m_server->serverPort());
    m_control->Connect();
    QCOMPARE(m_control->State(), std::int16_t(4));
    QTRY_COMPARE_WITH_TIMEOUT(m_control->State(), std::int16_t(9), LookupTimeout);
    m_control->Close();
    QCOMPARE(m_control->State(), std::int16_t(0));
}

void tst_WinsockControl::closeWhileResolvingEndsAtOnce()
{
    m_control->RemoteHost(QStringLiteral("no-such-host.invalid"));
    m_control->RemotePort(m_server->serverPort());
    m_control->Connect();
    QCOMPARE(m_control->State(), std::int16_t(4));
    m_control->Close();
    QCOMPARE(m_control->State(), std::int16_t(0));
    // The abandoned lookup's answer does not bring the error back: a lookup
    // of the same name, started later, has its answer by then.
    bool answered = false;
    QHostInfo::lookupHost(QStringLiteral("no-such-host.invalid"), m_server.get(),
                          [&](const QHostInfo &) { answered = true; });
    QTRY_VERIFY_WITH_TIMEOUT(answered, LookupTimeout);
    QCoreApplication::processEvents();
    QCOMPARE(m_control->State(), std::int16_t(0));
}

void tst_WinsockControl::everyByteValueCrossesBothWays()
{
    QVERIFY(connectToServer());
    const QByteArray all = allByteValues();
    QSignalSpy arrival(m_control.get(), &SocketControl::DataArrival);

    // To the unit, in two sends that must arrive as one stream.
    m_control->SendData(all.left(100));
    m_control->SendData(all.mid(100));
    QTRY_COMPARE(m_peer->bytesAvailable(), qint64(256));
    QCOMPARE(m_peer->readAll(), all);

    // From the unit.
    m_peer->write(all);
    QTRY_COMPARE(m_control->BytesReceived(), 256);
    QVERIFY(!arrival.isEmpty());
    QVERIFY(arrival.constLast().at(0).value<std::int32_t>() > 0);
    QByteArray text = QByteArrayLiteral("overwritten");
    m_control->GetData(text);
    QCOMPARE(text, all);
    QCOMPARE(m_control->BytesReceived(), 0);
    m_control->GetData(text);
    QCOMPARE(text, QByteArray());
}

void tst_WinsockControl::closeEndsAtOnce()
{
    QVERIFY(connectToServer());
    m_peer->write(QByteArrayLiteral("unread"));
    QTRY_COMPARE(m_control->BytesReceived(), 6);
    QSignalSpy peerGone(m_peer.get(), &QTcpSocket::disconnected);

    m_control->Close();
    // Closed on the spot: nothing left for the receive poll, no passing
    // through closing, which would read as the unit ending the link.
    QCOMPARE(m_control->State(), std::int16_t(0));
    QCOMPARE(m_control->BytesReceived(), 0);
    QByteArray text;
    m_control->GetData(text);
    QCOMPARE(text, QByteArray());
    QVERIFY(peerGone.wait(5000));
}

void tst_WinsockControl::closeWithUnsentDataEndsAtOnce()
{
    QVERIFY(connectToServer());
    // More than the system buffers take, to a unit that never reads.
    m_control->SendData(QByteArray(32 * 1024 * 1024, 'x'));
    m_control->Close();
    QCOMPARE(m_control->State(), std::int16_t(0));
    // Ready for the next connection at once.
    m_peer.reset();
    QVERIFY(connectToServer());
}

void tst_WinsockControl::refusals_data()
{
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("operation");

    QTest::newRow("RemoteHost while connected") << true << QStringLiteral("RemoteHost");
    QTest::newRow("LocalPort while connected") << true << QStringLiteral("LocalPort");
    QTest::newRow("RemotePort while connected") << true << QStringLiteral("RemotePort");
    QTest::newRow("Connect while connected") << true << QStringLiteral("Connect");
    QTest::newRow("SendData while closed") << false << QStringLiteral("SendData");
    QTest::newRow("Connect without a host") << false << QStringLiteral("Connect");
    QTest::newRow("RemotePort -1") << false << QStringLiteral("RemotePort -1");
    QTest::newRow("RemotePort 65536") << false << QStringLiteral("RemotePort 65536");
    QTest::newRow("LocalPort -1") << false << QStringLiteral("LocalPort -1");
    QTest::newRow("LocalPort 65536") << false << QStringLiteral("LocalPort 65536");
}

void tst_WinsockControl::refusals()
{
    QFETCH(bool, connected);
    QFETCH(QString, operation);

    if (connected)
        QVERIFY(connectToServer());
    const std::int16_t before = m_control->State();

    const QHash<QString, std::function<void()>> operations = {
        {QStringLiteral("RemoteHost"), [&] { m_control->RemoteHost(QStringLiteral("127.0.0.1")); }},
        {QStringLiteral("LocalPort"), [&] { m_control->LocalPort(0); }},
        {QStringLiteral("RemotePort"), [&] { m_control->RemotePort(m_server->serverPort()); }},
        {QStringLiteral("Connect"), [&] { m_control->Connect(); }},
        {QStringLiteral("SendData"), [&] { m_control->SendData(QByteArrayLiteral("x")); }},
        {QStringLiteral("RemotePort -1"), [&] { m_control->RemotePort(-1); }},
        {QStringLiteral("RemotePort 65536"), [&] { m_control->RemotePort(65536); }},
        {QStringLiteral("LocalPort -1"), [&] { m_control->LocalPort(-1); }},
        {QStringLiteral("LocalPort 65536"), [&] { m_control->LocalPort(65536); }},
    };
    QVERIFY(operations.contains(operation));

    const QString fault = faultOf(operations.value(operation));
    QVERIFY2(!fault.isEmpty(), "the operation was not refused");
    QVERIFY(!fault.contains(QLatin1Char('\n')));
    QCOMPARE(m_control->State(), before);
    if (connected) {
        // The refused step leaves the connection working.
        m_control->SendData(QByteArrayLiteral("ok"));
        QTRY_COMPARE(m_peer->bytesAvailable(), qint64(2));
    } else {
        QCOMPARE(m_control->State(), std::int16_t(0));
        QVERIFY(m_server->hasPendingConnections() == false);
    }
}

QTEST_GUILESS_MAIN(tst_WinsockControl)
#include "tst_winsockcontrol.moc"
