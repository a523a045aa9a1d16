// The viewer against every network fault a field link can throw at it, over
// real sockets on 127.0.0.1: the simulator's fault modes and peers of this
// test's own. For each fault the window must keep running and answering,
// show the socket's real state in the status line, write the right report
// line into the traffic window, show no reading that the packet rules did
// not accept, and connect afresh to a healthy unit afterwards.
//
// What the window took in is watched through a thin wrapper around the real
// socket control: it keeps every byte the window fetched and, at the start
// of every receive poll, lets an observer look at what the previous poll
// left on screen.

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "app/fm_more_data.h"
#include "rules/convert/convert.h"
#include "link/socketcontrol.h"
#include "link/unitlink.h"
#include "link/winsockcontrol.h"
#include "rules/stream/streamstate.h"
#include "support/simprocess.h"
#include "support/sockets.h"
#include "support/testsupport.h"
#include "support/texts.h"

namespace {

using support::appendedSince;
using support::dataAgeShown;

using Fields = std::array<QByteArray, StreamState::FieldSlots>;

using support::SimProcess;

// The real socket control with a tap on what the window fetches, and a hook
// at the start of every receive poll (the poll asks BytesReceived first).
class TapSocket : public SocketControl
{
public:
    explicit TapSocket(QObject *parent = nullptr)
        : SocketControl(parent)
    {
        connect(m_inner, &SocketControl::DataArrival, this, &SocketControl::DataArrival);
        m_sinceState.start();
    }

    QTcpSocket *tcp() const { return m_inner->findChild<QTcpSocket *>(); }

    void RemoteHost(const QString &host) override { m_inner->RemoteHost(host); }
    void LocalPort(std::int32_t port) override { m_inner->LocalPort(port); }
    void RemotePort(std::int32_t port) override { m_inner->RemotePort(port); }
    void Connect() override { m_inner->Connect(); }
    void Close() override { m_inner->Close(); }
    void SendData(const QByteArray &text) override { m_inner->SendData(text); }

    // The tick reads the state ten times a second: the longest pause between
    // two reads tells whether the window ever stopped answering.
    std::int16_t State() const override
    {
        longestPause = qMax(longestPause, m_sinceState.restart());
        ++stateReads;
        return m_inner->State();
    }

    std::int32_t BytesReceived() const override
    {
        if (beforePoll)
            beforePoll();
        return m_inner->BytesReceived();
    }

    void GetData(QByteArray &text) override
    {
        m_inner->GetData(text);
        received += text;
        chunks.append(text);
        largestChunk = qMax(largestChunk, text.size());
    }

    std::function<void()> beforePoll;
    QByteArray received;
    QList<QByteArray> chunks;  // fetched since the observer last looked
    qsizetype largestChunk = 0;
    mutable qint64 longestPause = 0;
    mutable int stateReads = 0;

private:
    WinsockControl *m_inner = new WinsockControl(this);
    mutable QElapsedTimer m_sinceState;
};

// The packet rules on their own, for the text from "*" up to the CR: at
// most 50 fields, and a checksum field in front of the last comma either
// matching the 8-bit sum of everything before it, or absent, or negative.
bool rulesAccept(const QByteArray &packet)
{
    const QByteArrayList fields = packet.split(',');
    if (fields.size() < 2 || fields.size() > 50)
        return false;
    const QByteArray &checksumField = fields.at(fields.size() - 2);
    if (!checksumField.startsWith('C'))
        return true;
    std::int32_t received = 0;
    try {
        received = convert::toInt32(convert::leadingNumber(checksumField.mid(1)));
    } catch (...) {
        return false;
    }
    if (received < 0)
        return true;
    int sum = 0;
    const qsizetype summed = packet.size() - checksumField.size() - 1;
    for (qsizetype i = 0; i < summed; ++i)
        sum = (sum + static_cast<unsigned char>(packet.at(i))) % 256;
    return received == sum;
}

// A packet as a unit sends it: forty fields, the checksum, CR LF.
QByteArray unitPacket(int number, const QByteArray &gas)
{
    const QByteArrayList fields = {
        "0001", "03/04/2024", "12:00:" + QByteArray::number(10 + number), "1523.4", gas, "20.9", "0.04", "1",
        "75", "2.500", "24", "1.2", "5.1", "24.1", "12.1", "12.0", "7", "5.0", "0.41", "0", "0", "55", "-60",
        "120", "60", "1.5", "40", "10", QByteArray::number(number), "100", "20", "5", "2", "1", "1.0", "60",
        "1490.0", "1234", "0", "0"};
    return support::withChecksum("*" + fields.join(',') + ",") + "\r\n";
}

// Looks at the window at the start of every receive poll, that is after
// every run of the parser, and keeps what it saw.
class Observer
{
public:
    Observer(fm_more_data &window, TapSocket &tap)
        : m_window(window)
        , m_tap(tap)
    {
        m_tap.beforePoll = [this] { look(); };
        QObject::connect(&window.link(), &UnitLink::readingAccepted, &window,
                         [this](const Reading &reading) { packetNumbers << reading.fields[29].toInt(); });
    }

    ~Observer() { m_tap.beforePoll = nullptr; }

    void look()
    {
        const StreamState &stream = m_window.stream();
        if (stream.incoming_buffer.size() > 5000)
            violations << QStringLiteral("buffer of %1 characters after a poll").arg(stream.incoming_buffer.size());
        if (m_window.trafficContent().size() > 5000)
            violations << QStringLiteral("traffic window of %1 characters").arg(m_window.trafficContent().size());

        if (stream.data_fields != m_shown) {
            m_shown = stream.data_fields;
            // A display reset empties every slot: no reading to check.
            if (std::all_of(m_shown.begin(), m_shown.end(), [](const QByteArray &f) { return f.isEmpty(); }))
                return;
            accepted.push_back(m_shown);
            if (!cameFromAcceptedPacket(m_shown))
                violations << QStringLiteral("fields shown that no accepted packet carried: ") + describe(m_shown);
            if (onAccepted)
                onAccepted(m_shown);
        }
        // The boxes show the accepted fields or are blank after a reset.
        for (const auto &[name, index] : {std::pair{"lbl_packetnum", 29}, std::pair{"lbl_DrillDepth", 4}}) {
            const QString shown = m_window.label(QString::fromLatin1(name))->text();
            if (!shown.isEmpty() && shown != QString::fromLatin1(stream.data_fields[static_cast<std::size_t>(index)]))
                violations << QStringLiteral("%1 shows %2").arg(QString::fromLatin1(name), shown);
        }
        collectReportLines();
    }

    // Report lines: the traffic window's new text less the received chunks,
    // which it shows behind a CR LF each, exactly as they came.
    void collectReportLines()
    {
        const QByteArray now = m_window.trafficContent();
        QByteArray added = appendedSince(m_traffic, now);
        m_traffic = now;
        for (const QByteArray &chunk : std::as_const(m_tap.chunks)) {
            const qsizetype at = added.indexOf("\r\n" + chunk);
            if (at >= 0) {
                added.remove(at, chunk.size() + 2);
                continue;
            }
            // A trim cut off the chunk's beginning.
            for (qsizetype tail = qMin(chunk.size(), added.size()); tail > 0; --tail) {
                if (chunk.endsWith(QByteArrayView(added.constData(), tail))) {
                    added.remove(0, tail);
                    break;
                }
            }
        }
        m_tap.chunks.clear();
        const QByteArrayList lines = added.split('\n');
        for (QByteArray line : lines) {
            if (line.endsWith('\r'))
                line.chop(1);
            if (line.startsWith('[') && line.endsWith(']'))
                reports << line;
        }
    }

    QList<QByteArray> reportsOtherThan(const QRegularExpression &allowed) const
    {
        QList<QByteArray> others;
        for (const QByteArray &line : reports) {
            if (!allowed.match(QString::fromLatin1(line)).hasMatch())
                others << line;
        }
        return others;
    }

    QStringList violations;
    std::vector<Fields> accepted;
    QList<int> packetNumbers;  // of every packet the link accepted
    QList<QByteArray> reports;
    std::function<void(const Fields &)> onAccepted;

private:
    // The shown fields are the first k fields of a packet that the window
    // received whole, from its "*" to its CR, and that the rules accept.
    // Fields behind a shorter packet keep what an earlier one left, so
    // every k is tried, the unit's usual 42 first.
    bool cameFromAcceptedPacket(const Fields &fields) const
    {
        const QByteArray start = "*" + fields[1] + ",";
        for (qsizetype at = m_tap.received.indexOf(start); at >= 0; at = m_tap.received.indexOf(start, at + 1)) {
            const qsizetype end = m_tap.received.indexOf('\r', at);
            if (end < 0)
                break;
            const QByteArray packet = m_tap.received.mid(at, end - at);
            if (rulesAccept(packet) && shownFieldsOf(packet) == fields)
                return true;
        }
        return false;
    }

    // What the rules show of a packet: its fields from slot 1 on, the "*"
    // dropped, the checksum field empty and every slot behind them empty.
    static Fields shownFieldsOf(const QByteArray &packet)
    {
        Fields shown{};
        const QByteArrayList pieces = packet.mid(1).split(',');
        for (qsizetype k = 0; k < pieces.size() && k + 1 < qsizetype(shown.size()); ++k)
            shown[static_cast<std::size_t>(k + 1)] = pieces.at(k);
        if (pieces.size() >= 2 && pieces.at(pieces.size() - 2).startsWith('C'))
            shown[static_cast<std::size_t>(pieces.size() - 1)].clear();
        return shown;
    }

    // The shown fields and what the window received from the same start on,
    // control characters escaped.
    QString describe(const Fields &fields) const
    {
        QByteArrayList shown;
        for (std::size_t i = 1; i < fields.size(); ++i)
            shown << fields[i];
        const QByteArray start = "*" + fields[1] + "," + fields[2] + "," + fields[3] + ",";
        const qsizetype at = m_tap.received.lastIndexOf(start);
        return QStringLiteral("\n  shown:    ") + QString::fromLatin1(shown.join('|').toPercentEncoding(" */,:.[]|-"))
            + QStringLiteral("\n  received: ")
            + (at < 0 ? QStringLiteral("(no such start)")
                      : QString::fromLatin1(m_tap.received.mid(at, 400).toPercentEncoding(" */,:.[]-")));
    }

    fm_more_data &m_window;
    TapSocket &m_tap;
    Fields m_shown{};
    QByteArray m_traffic;
};

// A listener that completes no further connection: its backlog holds one
// connection, which is taken by a filler that is never accepted, so every
// later SYN is dropped and the connect stays pending. This plays a host that
// does not answer, without sending anything off this machine.
class FullBacklogListener
{
public:
    FullBacklogListener()
    {
        m_listener = support::listenOnLoopback(0, port);
        if (m_listener < 0)
            return;
        const sockaddr_in address = support::loopbackAddress(port);
        for (int i = 0; i < 2; ++i) {
            const int filler = ::socket(AF_INET, SOCK_STREAM, 0);
            ::fcntl(filler, F_SETFL, O_NONBLOCK);
            ::connect(filler, reinterpret_cast<const sockaddr *>(&address), sizeof address);
            m_fillers.push_back(filler);
        }
        // The first filler is complete once the queue holds it.
        pollfd first{m_fillers.front(), POLLOUT, 0};
        filled = ::poll(&first, 1, 5000) == 1;
    }

    ~FullBacklogListener()
    {
        for (int filler : m_fillers)
            ::close(filler);
        if (m_listener >= 0)
            ::close(m_listener);
    }

    FullBacklogListener(const FullBacklogListener &) = delete;
    FullBacklogListener &operator=(const FullBacklogListener &) = delete;

    quint16 port = 0;
    bool filled = false;

private:
    int m_listener = -1;
    std::vector<int> m_fillers;
};

// A peer of the test's own on 127.0.0.1; the test writes to it directly.
class OwnPeer
{
public:
    OwnPeer() { server.listen(QHostAddress::LocalHost, 0); }

    QTcpSocket *waitForViewer()
    {
        if (!peer && (server.hasPendingConnections() || server.waitForNewConnection(5000)))
            peer.reset(server.nextPendingConnection());
        return peer.get();
    }

    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer;
};

// Report lines every fault may cause besides its own: the state reached by a
// connect, for the faulty unit 0001 and the healthy unit 0002.
const QString ConnectReports = QStringLiteral("\\[(0001|0002) is [a-z ]+\\. \\]|\\[(Resolving host|Host resolved)\\. \\]");

} // namespace

class tst_NetworkFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void connectFaults_data();
    void connectFaults();
    void unitSwitchDropsOldStream_data();
    void unitSwitchDropsOldStream();
    void linkFaults_data();
    void linkFaults();
    void packetsSplitAtEveryByte();
    void streamFaults_data();
    void streamFaults();

private:
    void openWindow(const QByteArray &faultyHost, int faultyPort);
    void connectWithButton(const QByteArray &expectedReport);
    void stillAnswers();
    void nextConnectionWorks();
    QStringList oldUnitShownAfterSwitch() const;
    void finish(const QString &allowedReports);

    QLineEdit *statusLine() const { return m_window->findChild<QLineEdit *>(QStringLiteral("txt_tcp_status")); }
    QLineEdit *serialBox() const { return m_window->findChild<QLineEdit *>(QStringLiteral("txt_trailer_num")); }
    QPushButton *button(const char *name) const
    {
        return m_window->findChild<QPushButton *>(QString::fromLatin1(name));
    }

    SimProcess m_healthy;
    std::unique_ptr<QTemporaryDir> m_dir;
    TapSocket *m_tap = nullptr;
    std::unique_ptr<fm_more_data> m_window;
    std::unique_ptr<Observer> m_observer;
    std::size_t m_switchedAt = 0;
};

void tst_NetworkFaults::initTestCase()
{
    if (qEnvironmentVariableIsEmpty("UNIT_SIM"))
        QSKIP("UNIT_SIM is not set: run through ctest");
    // The unit every case connects to after its fault.
    QVERIFY(m_healthy.start({QStringLiteral("--name"), QStringLiteral("0002"), QStringLiteral("--rate"),
                             QStringLiteral("10"), QStringLiteral("--wits-period"), QStringLiteral("1"),
                             QStringLiteral("--uptime-period"), QStringLiteral("1"), QStringLiteral("--seed"),
                             QStringLiteral("2")}));
}

void tst_NetworkFaults::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    support::writeFile(m_dir->filePath(QStringLiteral("RDconfig.ini")), "0108 Bit Depth\r\n0110 Hole Depth\r\n");
}

void tst_NetworkFaults::cleanup()
{
    m_observer.reset();
    m_window.reset();
    m_tap = nullptr;
    m_dir.reset();
}

void tst_NetworkFaults::openWindow(const QByteArray &faultyHost, int faultyPort)
{
    support::writeFile(m_dir->filePath(QStringLiteral("RDVlookup.TXT")),
                       "0001 " + faultyHost + " " + QByteArray::number(faultyPort) + "\r\n" + "0002 127.0.0.1 "
                           + QByteArray::number(m_healthy.port()) + "\r\n");
    m_tap = new TapSocket;
    m_window = std::make_unique<fm_more_data>(support::windowOptions(*m_dir, m_tap));
    m_observer = std::make_unique<Observer>(*m_window, *m_tap);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QCOMPARE(serialBox()->text(), QStringLiteral("0001"));
    m_tap->longestPause = 0;
}

void tst_NetworkFaults::connectWithButton(const QByteArray &expectedReport)
{
    // The click returns after the window's one-second wait and its report.
    QTest::mouseClick(button("cmd_connect"), Qt::LeftButton);
    if (!expectedReport.isEmpty())
        QVERIFY2(m_window->trafficContent().contains(expectedReport), m_window->trafficContent().constData());
}

void tst_NetworkFaults::stillAnswers()
{
    // An operator's click that has to go through the event queue is handled.
    QPushButton *more = button("cmd_more_data");
    const QString before = more->text();
    QMetaObject::invokeMethod(more, &QPushButton::click, Qt::QueuedConnection);
    QTRY_VERIFY(more->text() != before);
    QVERIFY(m_window->isVisible());
}

void tst_NetworkFaults::nextConnectionWorks()
{
    // Closing the old link drops what it left half-received, so the switch
    // may come at any moment (unitSwitchDropsOldStream switches mid-packet).

    // The operator types the healthy unit's serial number and presses Enter.
    m_observer->look();
    m_switchedAt = m_observer->accepted.size();
    QLineEdit *serial = serialBox();
    serial->setFocus();
    serial->selectAll();
    QTest::keyClicks(serial, QStringLiteral("0002"));
    QTest::keyClick(serial, Qt::Key_Return);
    QVERIFY2(m_window->trafficContent().contains("[0002 is connected to server. ]"),
             m_window->trafficContent().constData());
    QTRY_COMPARE(m_window->stream().data_fields[1], QByteArray("0002"));
    QTRY_VERIFY(!m_window->label(QStringLiteral("lbl_GasUnits"))->text().isEmpty());
    QTRY_VERIFY(statusLine()->text().startsWith(QStringLiteral("0002 is connected to server.  The data is ")));
    QVERIFY(dataAgeShown(statusLine()->text()) <= 2);
    QCOMPARE(m_tap->tcp()->state(), QAbstractSocket::ConnectedState);
}

// Readings of the old unit shown after the operator had switched to the new one.
QStringList tst_NetworkFaults::oldUnitShownAfterSwitch() const
{
    QStringList shown;
    for (std::size_t i = m_switchedAt; i < m_observer->accepted.size(); ++i) {
        const Fields &fields = m_observer->accepted[i];
        if (fields[1] != "0002")
            shown << QString::fromLatin1(fields[1] + " packet " + fields[29] + " gas " + fields[5]);
    }
    return shown;
}

void tst_NetworkFaults::finish(const QString &allowedReports)
{
    m_observer->look();
    QVERIFY2(m_observer->violations.isEmpty(), qPrintable(m_observer->violations.join(QLatin1Char('\n'))));
    QVERIFY2(oldUnitShownAfterSwitch().isEmpty(), qPrintable(oldUnitShownAfterSwitch().join(QLatin1Char('\n'))));
    const QRegularExpression allowed(QStringLiteral("^(%1|%2)$").arg(ConnectReports, allowedReports));
    const QList<QByteArray> others = m_observer->reportsOtherThan(allowed);
    QVERIFY2(others.isEmpty(), others.join('\n').constData());
    // A hang detector with room for a loaded machine, not a speed target:
    // the tick reads the state ten times a second.
    QVERIFY2(m_tap->longestPause < 2000, qPrintable(QString::number(m_tap->longestPause)));
}

// ---------------------------------------------------------------------------
// The connection cannot be made.

void tst_NetworkFaults::connectFaults_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reports");             // what the connect may report after its one second
    QTest::addColumn<QString>("status");              // the status line the fault settles in
    QTest::addColumn<int>("socketError");             // the socket's own error, -1 while still trying
    QTest::addColumn<int>("socketState");

    QTest::newRow("connection refused") << QStringLiteral("refused") << QStringLiteral("\\[0001 is in error\\. \\]")
                                        << QStringLiteral("0001 is in error. ")
                                        << int(QAbstractSocket::ConnectionRefusedError)
                                        << int(QAbstractSocket::UnconnectedState);
    // The resolver may still be busy when the second is up.
    QTest::newRow("unresolvable host")
        << QStringLiteral("unresolvable") << QStringLiteral("\\[0001 is in error\\. \\]|\\[Resolving host\\. \\]")
        << QStringLiteral("0001 is in error. ") << int(QAbstractSocket::HostNotFoundError)
        << int(QAbstractSocket::UnconnectedState);
    QTest::newRow("host never answers the connect")
        << QStringLiteral("silent host") << QStringLiteral("\\[0001 is connecting to server\\. \\]")
        << QStringLiteral("0001 is connecting to server. ") << -1 << int(QAbstractSocket::ConnectingState);
}

void tst_NetworkFaults::connectFaults()
{
    QFETCH(QString, kind);
    QFETCH(QString, reports);
    QFETCH(QString, status);
    QFETCH(int, socketError);
    QFETCH(int, socketState);

    std::unique_ptr<FullBacklogListener> silentHost;
    if (kind == QLatin1String("refused")) {
        // A port that was just free and that nobody listens on any more.
        QTcpServer gone;
        QVERIFY(gone.listen(QHostAddress::LocalHost, 0));
        const int port = gone.serverPort();
        gone.close();
        openWindow("127.0.0.1", port);
    } else if (kind == QLatin1String("unresolvable")) {
        openWindow("unit0001.invalid", 2400);
    } else {
        silentHost = std::make_unique<FullBacklogListener>();
        QVERIFY(silentHost->filled);
        openWindow("127.0.0.1", silentHost->port);
    }
    if (QTest::currentTestFailed())
        return;

    connectWithButton(QByteArray());
    m_observer->look();
    const QRegularExpression reported(QStringLiteral("^(%1)$").arg(reports));
    QVERIFY2(m_observer->reports.size() == 1 && reported.match(QString::fromLatin1(m_observer->reports.first())).hasMatch(),
             m_observer->reports.join('\n').constData());

    QTRY_COMPARE_WITH_TIMEOUT(statusLine()->text(), status, 30000);
    QCOMPARE(int(m_tap->tcp()->state()), socketState);
    if (socketError >= 0)
        QCOMPARE(int(m_tap->tcp()->error()), socketError);

    // The state holds while the ticks go on: the status line follows the
    // socket and nothing is retried behind the operator's back.
    const int reads = m_tap->stateReads;
    QTRY_VERIFY_WITH_TIMEOUT(m_tap->stateReads >= reads + 10, 10000);
    QCOMPARE(statusLine()->text(), status);
    QCOMPARE(int(m_tap->tcp()->state()), socketState);
    QVERIFY(m_tap->received.isEmpty());
    QVERIFY(m_observer->accepted.empty());
    stillAnswers();

    nextConnectionWorks();
    finish(QString());
}

// ---------------------------------------------------------------------------
// The link breaks or stalls once made.

void tst_NetworkFaults::unitSwitchDropsOldStream_data()
{
    QTest::addColumn<QString>("moment");
    QTest::newRow("peer closes mid-packet") << QStringLiteral("peer closes");
    QTest::newRow("operator switches unit mid-packet") << QStringLiteral("mid-packet");
    QTest::newRow("operator switches unit with packets queued") << QStringLiteral("queued");
}

void tst_NetworkFaults::unitSwitchDropsOldStream()
{
    QFETCH(QString, moment);

    OwnPeer unit;
    QVERIFY(unit.server.isListening());
    openWindow("127.0.0.1", unit.server.serverPort());
    if (QTest::currentTestFailed())
        return;

    connectWithButton("[0001 is connected to server. ]");
    QTcpSocket *peer = unit.waitForViewer();
    QVERIFY(peer);
    peer->write("[OUTPUT ONLY]\r\n" + unitPacket(1, "1100") + unitPacket(2, "1200"));
    QTRY_COMPARE(m_window->stream().data_fields[29], QByteArray("2"));

    if (moment == QLatin1String("queued")) {
        // Ten packets in one write: all are taken at once.
        QByteArray backlog;
        for (int number = 3; number < 13; ++number)
            backlog += unitPacket(number, "1300");
        peer->write(backlog);
        QTRY_COMPARE(m_window->stream().data_fields[29], QByteArray("12"));
    } else {
        // The third packet breaks off inside its gas units.
        const QByteArray third = unitPacket(3, "1530");
        const QByteArray cut = third.left(third.indexOf(",1530,") + 3);
        peer->write(cut);
        peer->flush();
        QTRY_VERIFY(m_tap->received.endsWith(cut));
        QTRY_VERIFY(m_window->trafficContent().endsWith("\r\n" + cut));
        QCOMPARE(m_window->label(QStringLiteral("lbl_GasUnits"))->text(), QStringLiteral("1200"));
    }
    if (moment == QLatin1String("peer closes")) {
        peer->disconnectFromHost();
        QTRY_COMPARE(statusLine()->text(), QStringLiteral("0001 is closing the connection. "));
        QCOMPARE(m_tap->tcp()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(m_tap->tcp()->error(), QAbstractSocket::RemoteHostClosedError);
        QCOMPARE(m_window->label(QStringLiteral("lbl_GasUnits"))->text(), QStringLiteral("1200"));
        stillAnswers();
    }

    // Nothing of the old unit may be shown once the operator has switched to
    // the new one: neither its queued packets nor its broken last packet,
    // which the new unit's first CR would otherwise end as "...,1523.4,15"
    // and show with 15 gas units.
    nextConnectionWorks();
    m_observer->look();
    const QStringList oldShown = oldUnitShownAfterSwitch();
    QVERIFY2(oldShown.isEmpty() && m_observer->violations.isEmpty(),
             qPrintable((oldShown + m_observer->violations).join(QLatin1Char('\n'))));
    m_observer->violations.clear();
    m_switchedAt = m_observer->accepted.size();
    QTRY_VERIFY(m_observer->accepted.size() > m_switchedAt);
    finish(QString());
}

void tst_NetworkFaults::linkFaults_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("simulatorSays");
    QTest::addColumn<QString>("status");  // a pattern for the status line the fault settles in
    QTest::addColumn<int>("socketState");

    QTest::newRow("peer resets (RST)") << QStringList{QStringLiteral("--reset-after"), QStringLiteral("12")}
                                       << QByteArray("client 1 gone: reset here after 12 packets")
                                       << QStringLiteral("^0001 is closing the connection\\. $")
                                       << int(QAbstractSocket::UnconnectedState);
    QTest::newRow("peer goes silent, link open")
        << QStringList{QStringLiteral("--silent-after"), QStringLiteral("0.5")}
        << QByteArray("client 1 fault: silent from now on, connection kept open")
        << QStringLiteral("^0001 is connected to server\\.  The data is ([2-9]|\\d\\d+) seconds old$")
        << int(QAbstractSocket::ConnectedState);
    QTest::newRow("accept delayed past the one-second wait")
        << QStringList{QStringLiteral("--accept-delay"), QStringLiteral("3")} << QByteArray("client 1 taken up")
        << QStringLiteral("^0001 is connected to server\\.  The data is [0-2] seconds old$")
        << int(QAbstractSocket::ConnectedState);
}

void tst_NetworkFaults::linkFaults()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, simulatorSays);
    QFETCH(QString, status);
    QFETCH(int, socketState);

    SimProcess unit;
    QVERIFY(unit.start(QStringList{QStringLiteral("--rate"), QStringLiteral("5"), QStringLiteral("--seed"),
                                   QStringLiteral("11")}
                       + options));
    openWindow("127.0.0.1", unit.port());
    if (QTest::currentTestFailed())
        return;

    connectWithButton("[0001 is connected to server. ]");
    const bool delayed = options.contains(QStringLiteral("--accept-delay"));
    if (delayed) {
        // Connected, yet nothing has come: the relay has not taken the link up.
        QVERIFY(m_tap->received.isEmpty());
        QVERIFY(!unit.output().contains(simulatorSays));
        QVERIFY(statusLine()->text().startsWith(QStringLiteral("0001 is connected to server.  The data is ")));
    }

    QTRY_VERIFY_WITH_TIMEOUT(unit.output().contains(simulatorSays), 10000);
    const QRegularExpression settled(status);
    QTRY_VERIFY2_WITH_TIMEOUT(settled.match(statusLine()->text()).hasMatch(), qPrintable(statusLine()->text()), 10000);
    QCOMPARE(int(m_tap->tcp()->state()), socketState);
    QVERIFY(!m_observer->accepted.empty() || delayed);

    if (options.contains(QStringLiteral("--silent-after"))) {
        // Silence is no failure: the link stays up, the readings stay, and the
        // age keeps telling the operator how old they are.
        const int age = dataAgeShown(statusLine()->text());
        const std::size_t shown = m_observer->accepted.size();
        QTRY_VERIFY(dataAgeShown(statusLine()->text()) > age);
        QCOMPARE(m_observer->accepted.size(), shown);
        QVERIFY(!m_window->label(QStringLiteral("lbl_GasUnits"))->text().isEmpty());
    }
    if (delayed)
        QTRY_VERIFY(!m_observer->accepted.empty());
    stillAnswers();

    nextConnectionWorks();
    finish(QString());
}

// ---------------------------------------------------------------------------
// The stream arrives cut, glued, flooded or corrupted.

void tst_NetworkFaults::packetsSplitAtEveryByte()
{
    OwnPeer unit;
    QVERIFY(unit.server.isListening());
    openWindow("127.0.0.1", unit.server.serverPort());
    if (QTest::currentTestFailed())
        return;
    connectWithButton("[0001 is connected to server. ]");
    QTcpSocket *peer = unit.waitForViewer();
    QVERIFY(peer);
    peer->setSocketOption(QAbstractSocket::LowDelayOption, 1);

    const QByteArray stream = "[OUTPUT ONLY]\r\n[UPTIME 97.5%]\r\n" + unitPacket(1, "1100")
                              + "^,01,0001,240304,120011,01081523.4,01101523.4\r\n" + unitPacket(2, "1500")
                              + "[TWO WAY]\r\n" + unitPacket(3, "1800");
    // One byte at a time, the next only once a poll has fetched the one
    // before; the poll is run at once rather than waiting for its timer.
    const QByteArray before = m_window->trafficContent();
    for (qsizetype i = 0; i < stream.size(); ++i) {
        QSignalSpy arrived(m_tap->tcp(), &QIODevice::readyRead);
        peer->write(stream.constData() + i, 1);
        peer->flush();
        while (m_tap->received.size() < i + 1) {
            if (m_tap->tcp()->bytesAvailable() > 0)
                m_window->tmrDataArrival_Timer();
            else if (arrived.isEmpty() && !arrived.wait(5000))
                break;
            arrived.clear();
        }
        QCOMPARE(m_tap->received.size(), i + 1);
    }
    // One more poll for the last packet still in the buffer.
    m_window->tmrDataArrival_Timer();
    QTRY_COMPARE(m_window->stream().data_fields[29], QByteArray("3"));

    QCOMPARE(m_tap->largestChunk, qsizetype(1));
    QCOMPARE(m_observer->accepted.size(), std::size_t(3));
    QCOMPARE(m_observer->accepted[0][5], QByteArray("1100"));
    QCOMPARE(m_observer->accepted[1][5], QByteArray("1500"));
    QCOMPARE(m_window->label(QStringLiteral("lbl_GasUnits"))->text(), QStringLiteral("1800"));
    QCOMPARE(m_window->stream().uptime_percent, 97.5);
    QCOMPARE(button("cmd_secure")->text(), QStringLiteral("Two Way Active"));
    auto *wits = m_window->findChild<QListWidget *>(QStringLiteral("wits_info"));
    QVERIFY(wits);
    QCOMPARE(wits->count(), 2);
    QVERIFY(wits->item(0)->text().startsWith(QStringLiteral("0108  Bit Depth  1523.4")));
    QVERIFY(m_window->stream().incoming_buffer.isEmpty() || m_window->stream().incoming_buffer == "\n");

    // Every byte is shown as it came, each behind its own line break.
    QByteArray expected = before;
    for (char c : stream)
        expected += "\r\n" + QByteArray(1, c);
    QCOMPARE(m_window->trafficContent(), expected);
    QCOMPARE(statusLine()->text().left(28), QStringLiteral("0001 is connected to server."));
    stillAnswers();

    nextConnectionWorks();
    finish(QString());
}

void tst_NetworkFaults::streamFaults_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("reports");  // report lines the fault may cause
    QTest::addColumn<QByteArray>("simulatorSays");

    // Rates stay below the window's one packet per poll, so that the buffer
    // drains between packets and the fault alone is what the case shows.
    const QString parseErrors = QStringLiteral("\\[Parse Checksum failed\\]|\\[Parse ERR: [^\\]]* Err pt: \\d+\\]");
    QTest::newRow("packets split at random points (unit-sim)")
        << QStringList{QStringLiteral("--split"), QStringLiteral("--rate"), QStringLiteral("5")} << QString()
        << QByteArray("fault: writes split at random points");
    QTest::newRow("packets batched") << QStringList{QStringLiteral("--batch"), QStringLiteral("5"), QStringLiteral("--rate"),
                                                    QStringLiteral("5")}
                                     << QString() << QByteArray("fault: 5 packets per write");
    QTest::newRow("burst over 5000 characters")
        << QStringList{QStringLiteral("--burst"), QStringLiteral("1.5"), QStringLiteral("--rate"), QStringLiteral("5")}
        << QString() << QByteArray("fault: burst of");
    QTest::newRow("junk bytes of every value")
        << QStringList{QStringLiteral("--junk"), QStringLiteral("16"), QStringLiteral("--rate"), QStringLiteral("8")}
        << parseErrors << QByteArray("fault: 16 junk bytes in front of every element");
    QTest::newRow("51-field packets")
        << QStringList{QStringLiteral("--long-packet"), QStringLiteral("2"), QStringLiteral("--rate"), QStringLiteral("8")}
        << QStringLiteral("\\[Parse ERR: [^\\]]* Err pt: 8\\]") << QByteArray("sent with 51 fields");
    QTest::newRow("non-numeric fields")
        << QStringList{QStringLiteral("--non-numeric"), QStringLiteral("2"), QStringLiteral("--alarm"),
                       QStringLiteral("5"), QStringLiteral("--rate"), QStringLiteral("5")}
        << QString() << QByteArray("sent with text in numeric fields");
}

void tst_NetworkFaults::streamFaults()
{
    QFETCH(QStringList, options);
    QFETCH(QString, reports);
    QFETCH(QByteArray, simulatorSays);

    SimProcess unit;
    QVERIFY(unit.start(QStringList{QStringLiteral("--seed"), QStringLiteral("21"), QStringLiteral("--wits-period"),
                                   QStringLiteral("1"), QStringLiteral("--uptime-period"), QStringLiteral("1")}
                       + options));
    openWindow("127.0.0.1", unit.port());
    if (QTest::currentTestFailed())
        return;

    // What each packet left on screen while it was the latest.
    QStringList errorTexts;
    QStringList nonNumericErrorTexts;
    m_observer->onAccepted = [&](const Fields &fields) {
        const QString errorText = m_window->label(QStringLiteral("lbl_err_txt"))->text();
        if (fields[5] == "N/A")
            nonNumericErrorTexts << errorText;
        else
            errorTexts << errorText;
    };

    connectWithButton("[0001 is connected to server. ]");
    QTRY_VERIFY_WITH_TIMEOUT(unit.output().contains(simulatorSays), 10000);

    // Enough of the fault for it to have hit many times over.
    const bool junk = options.contains(QStringLiteral("--junk"));
    const bool burst = options.contains(QStringLiteral("--burst"));
    const std::size_t wanted = junk ? 15 : 10;
    QTRY_VERIFY_WITH_TIMEOUT(m_observer->accepted.size() >= wanted, 20000);
    if (burst) {
        QTRY_VERIFY_WITH_TIMEOUT(m_tap->largestChunk > 5000, 10000);
        // Data resumes behind the dropped burst.
        const std::size_t shown = m_observer->accepted.size();
        QTRY_VERIFY(m_observer->accepted.size() >= shown + 3);
    }
    QCOMPARE(int(m_tap->tcp()->state()), int(QAbstractSocket::ConnectedState));
    QVERIFY(statusLine()->text().startsWith(QStringLiteral("0001 is connected to server.  The data is ")));

    if (junk) {
        // The simulator dealt every byte value into the stream.
        auto byteValuesReceived = [this] {
            std::array<bool, 256> seen{};
            for (char c : std::as_const(m_tap->received))
                seen[static_cast<unsigned char>(c)] = true;
            return std::count(seen.begin(), seen.end(), true);
        };
        QTRY_COMPARE_WITH_TIMEOUT(byteValuesReceived(), std::ptrdiff_t(256), 15000);
        QVERIFY(!m_observer->reportsOtherThan(QRegularExpression(QStringLiteral("^(%1)$").arg(ConnectReports))).isEmpty());
    }
    if (options.contains(QStringLiteral("--batch"))) {
        // Every packet taken, in order, none lost and none twice.
        const QList<int> &numbers = m_observer->packetNumbers;
        QVERIFY(numbers.size() >= 10);
        for (qsizetype i = 1; i < numbers.size(); ++i)
            QCOMPARE(numbers.at(i), numbers.at(i - 1) + 1);
    }
    if (options.contains(QStringLiteral("--long-packet"))) {
        QVERIFY(!m_observer->reportsOtherThan(QRegularExpression(QStringLiteral("^(%1)$").arg(ConnectReports))).isEmpty());
        for (const Fields &fields : m_observer->accepted)
            QVERIFY(fields[43].isEmpty());
    }
    if (options.contains(QStringLiteral("--non-numeric"))) {
        // "E7" is no error number, so the steady alarm gives way to "No Errors".
        QVERIFY(!nonNumericErrorTexts.isEmpty());
        QVERIFY(!errorTexts.isEmpty());
        QCOMPARE(nonNumericErrorTexts.count(QStringLiteral("No Errors")), nonNumericErrorTexts.size());
        QCOMPARE(errorTexts.count(QStringLiteral("HIGH SAMPLE FLOW RATE")), errorTexts.size());
    }
    stillAnswers();

    m_observer->onAccepted = nullptr;
    nextConnectionWorks();
    finish(reports);
}

QTEST_MAIN(tst_NetworkFaults)
#include "tst_networkfaults.moc"
