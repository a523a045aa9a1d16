#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMap>
#include <QProcess>

#include "support/keymessages.h"
#include "support/packets.h"
#include "support/simprocess.h"
#include "support/sockets.h"
#include "support/texts.h"
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#ifdef Q_OS_UNIX
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr int Patience = 5000;

using support::checksumPasses;
using support::keyMessage;
using support::SimProcess;
using support::words;

// A viewer stand-in that keeps every byte and where each read ended.
class Client
{
public:
    Client()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, &socket, [this] {
            const QByteArray bytes = socket.readAll();
            if (bytes.isEmpty())
                return;
            if (received.isEmpty())
                firstByte.start();
            received += bytes;
            readEnds.append(received.size());
        });
    }

    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return QTest::qWaitFor([this] { return socket.state() == QAbstractSocket::ConnectedState; }, Patience);
    }

    void send(const QByteArray &bytes)
    {
        socket.write(bytes);
        socket.flush();
    }

    QTcpSocket socket;
    QByteArray received;
    QList<qsizetype> readEnds;
    QElapsedTimer firstByte;
};

struct Element
{
    char kind = '?';   // '[' status message, '*' data packet, '^' WITS record, '?' anything else
    QByteArray text;   // without the line end
    qsizetype begin = 0;
    qsizetype end = 0; // just past the line end
};

// Cuts a stream into its elements: status messages end at "]", packets and
// records at CR; the line end after an element belongs to it. An incomplete
// last element is left out.
QList<Element> elements(const QByteArray &stream, int junkBefore = 0)
{
    QList<Element> result;
    qsizetype pos = 0;
    while (pos < stream.size()) {
        Element e;
        e.begin = pos;
        pos += junkBefore;
        if (pos >= stream.size())
            break;
        e.kind = stream.at(pos);
        qsizetype last;
        if (e.kind == '[') {
            last = stream.indexOf(']', pos);
        } else if (e.kind == '*' || e.kind == '^') {
            last = stream.indexOf('\r', pos);
            if (last >= 0)
                --last;
        } else {
            e.kind = '?';
            last = pos;
        }
        if (last < 0)
            break;
        e.text = stream.mid(pos, last + 1 - pos);
        pos = last + 1;
        if (pos < stream.size() && stream.at(pos) == '\r')
            ++pos;
        if (pos < stream.size() && stream.at(pos) == '\n')
            ++pos;
        if (e.kind != '?' && pos > stream.size())
            break;
        e.end = pos;
        result.append(e);
    }
    return result;
}

QList<Element> ofKind(const QList<Element> &all, char kind)
{
    QList<Element> result;
    for (const Element &e : all) {
        if (e.kind == kind)
            result.append(e);
    }
    return result;
}

bool goodPacket(const QByteArray &packet)
{
    const QByteArrayList pieces = packet.split(',');
    return checksumPasses(packet) && pieces.size() == 42 && pieces.back().isEmpty();
}

// Every element of a clean stream is well formed; packets count up from 1.
QString streamFault(const QList<Element> &all)
{
    static const QRegularExpression status(QStringLiteral("^\\[(OUTPUT ONLY|TWO WAY|UPTIME \\d{1,3}\\.\\d%)\\]$"));
    int number = 0;
    for (const Element &e : all) {
        const QString text = QString::fromLatin1(e.text);
        switch (e.kind) {
        case '[':
            if (!status.match(text).hasMatch())
                return QStringLiteral("bad status message ") + text;
            break;
        case '*':
            if (!goodPacket(e.text))
                return QStringLiteral("bad packet ") + text;
            if (e.text.split(',').at(28) != QByteArray::number(++number))
                return QStringLiteral("packet out of sequence ") + text;
            break;
        case '^':
            if (!e.text.startsWith("^,") || e.text.split(',').size() < 7 || !e.text.contains(",0108"))
                return QStringLiteral("bad WITS record ") + text;
            break;
        default:
            return QStringLiteral("stray bytes at %1").arg(e.begin);
        }
    }
    return {};
}

int count(const Client &client, char kind)
{
    return static_cast<int>(ofKind(elements(client.received), kind).size());
}

#ifdef Q_OS_UNIX
// A plain socket, because only the system call tells a reset from a close.
class RawClient
{
public:
    ~RawClient()
    {
        delete m_notifier;
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool connectTo(quint16 port)
    {
        m_fd = support::connectToLoopback(port);
        if (m_fd < 0)
            return false;
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read);
        QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { drain(); });
        return true;
    }

    bool ended() const { return endedByClose || resetError != 0; }

    QByteArray received;
    bool endedByClose = false;
    int resetError = 0;

private:
    void drain()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                received.append(buffer, n);
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (n == 0)
                endedByClose = true;
            else
                resetError = errno;
            m_notifier->setEnabled(false);
            return;
        }
    }

    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
#endif

// The ports of a fleet's units, from their listening lines, once the
// simulator says the whole fleet listens.
QMap<QByteArray, quint16> fleetPorts(SimProcess &sim)
{
    QMap<QByteArray, quint16> ports;
    if (!QTest::qWaitFor([&sim] { return sim.hasLine("units listening on")
                                         || sim.process().state() == QProcess::NotRunning; }, Patience))
        return ports;
    static const QRegularExpression listening(QStringLiteral("^unit (\\d{4}) listening on 127\\.0\\.0\\.1:(\\d+): "));
    for (const QByteArray &line : sim.lines()) {
        const QRegularExpressionMatch match = listening.match(QString::fromLatin1(line));
        if (match.hasMatch())
            ports.insert(match.captured(1).toLatin1(), static_cast<quint16>(match.captured(2).toUInt()));
    }
    return ports;
}

// The numbers (field 29) of the packets in a stream, in order.
QList<qulonglong> packetNumbers(const QByteArray &stream, int junkBefore = 0)
{
    QList<qulonglong> numbers;
    for (const Element &e : ofKind(elements(stream, junkBefore), '*'))
        numbers.append(e.text.split(',').value(28).toULongLong());
    return numbers;
}

} // namespace

class TestUnitSimProcess : public QObject
{
    Q_OBJECT

private slots:
    void commandLine();
    void severalClients();
    void viewerMessages();
    void packetFaults_data();
    void packetFaults();
    void writeShaping_data();
    void writeShaping();
    void connectionFaults_data();
    void connectionFaults();
    void replay();
    void fleet();
    void fleetDrops();
    void stopsOnSignal_data();
    void stopsOnSignal();
};

#define START_SIM(sim)                                                        \
    do {                                                                      \
        if (!(sim).available())                                               \
            QSKIP("UNIT_SIM is not set to the unit-sim executable");          \
        QVERIFY2((sim).waitListening(), (sim).allLines().constData());        \
    } while (false)

void TestUnitSimProcess::commandLine()
{
    if (qEnvironmentVariableIsEmpty("UNIT_SIM"))
        QSKIP("UNIT_SIM is not set to the unit-sim executable");
    const QString program = qEnvironmentVariable("UNIT_SIM");

    auto run = [&program](const QStringList &arguments, QByteArray *out, QByteArray *err) {
        QProcess process;
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(program, arguments);
        if (!finished.wait(Patience))
            return -1;
        *out = process.readAllStandardOutput();
        *err = process.readAllStandardError();
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };

    QByteArray out, err;
    QCOMPARE(run({QStringLiteral("--help")}, &out, &err), 0);
    for (const char *option : {"--port", "--seed", "--rate", "--alarm", "--gas", "--split", "--batch",
                               "--junk", "--reset-after", "--accept-delay", "--replay", "--uptime-period"})
        QVERIFY2(out.contains(option), option);

    QCOMPARE(run({QStringLiteral("--frobnicate")}, &out, &err), 2);
    QVERIFY(err.contains("frobnicate"));
    QVERIFY(out.isEmpty());

    QCOMPARE(run({QStringLiteral("--rate"), QStringLiteral("often")}, &out, &err), 2);
    QVERIFY(err.contains("--rate") && err.contains("often"));

    QCOMPARE(run({QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--close-after"), QStringLiteral("1"),
                  QStringLiteral("--reset-after"), QStringLiteral("1")}, &out, &err), 2);

    // A port that is taken is not a usage error.
    SimProcess holder(QStringList{});
    START_SIM(holder);
    QCOMPARE(run({QStringLiteral("--port"), QString::number(holder.port())}, &out, &err), 1);
    QVERIFY(err.contains("cannot listen"));
    QCOMPARE(run(words("--units 2 --port") << QString::number(holder.port()), &out, &err), 1);
    QVERIFY2(err.contains("unit 0001 cannot listen") && !err.contains("listening"), err.constData());
    QCOMPARE(run(words("--units 0"), &out, &err), 2);
    QVERIFY(err.contains("--units"));

    // A named pipe where a file is to be written is refused at once, not
    // waited on for a reader, and left as it was.
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("RDVlookup.TXT"));
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    for (const char *option : {"--write-lookup", "--sent-log"}) {
        QCOMPARE(run(words("--port 0 --units 2") << QString::fromLatin1(option) << fifo, &out, &err), 1);
        QVERIFY2(err.contains("named pipe") && !err.contains("listening"), err.constData());
        QVERIFY(QFileInfo::exists(fifo) && !QFileInfo(fifo).isFile());
    }
}

void TestUnitSimProcess::severalClients()
{
    SimProcess sim({QStringLiteral("--seed"), QStringLiteral("42"), QStringLiteral("--rate"), QStringLiteral("40"),
                    QStringLiteral("--wits-period"), QStringLiteral("0.1"), QStringLiteral("--uptime-period"),
                    QStringLiteral("0.15"), QStringLiteral("--start-time"), QStringLiteral("2024-03-01T06:00:00")});
    START_SIM(sim);

    Client clients[3];
    for (Client &client : clients)
        QVERIFY(client.connectTo(sim.port()));
    auto enough = [](const Client &client, int packets) {
        return count(client, '*') >= packets && count(client, '^') >= 1 && client.received.contains("[UPTIME ");
    };
    QTRY_VERIFY_WITH_TIMEOUT(enough(clients[0], 12) && enough(clients[1], 12) && enough(clients[2], 12), Patience);

    QList<QByteArray> firstPackets;
    for (const Client &client : clients) {
        const QList<Element> all = elements(client.received);
        QCOMPARE(all.front().text, QByteArray("[OUTPUT ONLY]"));
        QCOMPARE(streamFault(all), QString());
        QByteArray packets;
        for (const Element &e : ofKind(all, '*').mid(0, 10))
            packets += e.text;
        firstPackets.append(packets);
    }
    // The same seed and clock give every connection the same run.
    QCOMPARE(firstPackets.at(1), firstPackets.at(0));
    QCOMPARE(firstPackets.at(2), firstPackets.at(0));

    // The second viewer leaves; the others go on.
    const QByteArray leaving = "from 127.0.0.1:" + QByteArray::number(clients[1].socket.localPort());
    const qsizetype line = sim.lineIndex(leaving);
    QVERIFY(line >= 0);
    const QByteArray id = sim.lines().at(line).split(' ').at(1);
    clients[1].socket.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(sim.hasLine("client " + id + " gone: closed by the viewer"), Patience);

    const int before0 = count(clients[0], '*');
    const int before2 = count(clients[2], '*');
    QTRY_VERIFY_WITH_TIMEOUT(count(clients[0], '*') >= before0 + 10 && count(clients[2], '*') >= before2 + 10, Patience);
    QCOMPARE(streamFault(elements(clients[0].received)), QString());
    QCOMPARE(streamFault(elements(clients[2].received)), QString());

    // And a newcomer is still served.
    Client late;
    QVERIFY(late.connectTo(sim.port()));
    QTRY_VERIFY_WITH_TIMEOUT(count(late, '*') >= 3, Patience);
    QCOMPARE(streamFault(elements(late.received)), QString());
}

void TestUnitSimProcess::viewerMessages()
{
    SimProcess sim({QStringLiteral("--user"), QStringLiteral("alice"), QStringLiteral("--password"), QStringLiteral("s3cret"),
                    QStringLiteral("--rate"), QStringLiteral("20"), QStringLiteral("--wits-period"), QStringLiteral("0"),
                    QStringLiteral("--uptime-period"), QStringLiteral("0")});
    START_SIM(sim);
    Client client;
    QVERIFY(client.connectTo(sim.port()));
    QTRY_VERIFY_WITH_TIMEOUT(client.received.contains("[OUTPUT ONLY]"), Patience);

    client.send("[KEEP ALIVE]\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(sim.hasLine("client 1 keep-alive 1"), Patience);
    client.send("[KEEP ALIVE]\r\n");
    QTRY_VERIFY_WITH_TIMEOUT(sim.hasLine("client 1 keep-alive 2"), Patience);

    client.send(keyMessage("alice", "s3cret", 77));
    QTRY_VERIFY_WITH_TIMEOUT(client.received.contains("[TWO WAY]\r\n"), Patience);
    QVERIFY(sim.hasLine("client 1 key message: user \"alice\" accepted, answered [TWO WAY]"));

    auto outputOnlyAnswers = [&client] { return client.received.count("[OUTPUT ONLY]") - 1; };
    client.send(keyMessage("alice", "s3cre", 200));
    QTRY_COMPARE_WITH_TIMEOUT(outputOnlyAnswers(), 1, Patience);
    QTRY_VERIFY(sim.hasLine("user \"alice\" wrong password, answered [OUTPUT ONLY]"));

    client.send(keyMessage("mallory", "s3cret", 30));
    QTRY_COMPARE_WITH_TIMEOUT(outputOnlyAnswers(), 2, Patience);
    QTRY_VERIFY(sim.hasLine("user \"mallory\" unknown"));

    QByteArray spoiled = keyMessage("alice", "s3cret", 77);
    spoiled.replace(9 + 40 * 3, 3, "256");
    client.send(spoiled);
    QTRY_COMPARE_WITH_TIMEOUT(outputOnlyAnswers(), 3, Patience);
    QTRY_VERIFY(sim.hasLine("key message: refused (group 40 is 256, above 255), answered [OUTPUT ONLY]"));

    client.send("hi\r");
    QTRY_VERIFY_WITH_TIMEOUT(sim.hasLine("client 1 typed 3 bytes: 104 105 13"), Patience);

    QCOMPARE(streamFault(elements(client.received)), QString());
    QVERIFY(!sim.allLines().contains("s3cret"));
}

void TestUnitSimProcess::packetFaults_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<int>("every");

    QTest::newRow("bad checksum") << "--bad-checksum" << 3;
    QTest::newRow("51 fields") << "--long-packet" << 4;
    QTest::newRow("no comma") << "--no-comma" << 5;
    QTest::newRow("text in numbers") << "--non-numeric" << 2;
}

void TestUnitSimProcess::packetFaults()
{
    QFETCH(QString, option);
    QFETCH(int, every);
    SimProcess sim({option, QString::number(every), QStringLiteral("--rate"), QStringLiteral("100"),
                    QStringLiteral("--wits-period"), QStringLiteral("0"), QStringLiteral("--uptime-period"), QStringLiteral("0"),
                    QStringLiteral("--seed"), QStringLiteral("5")});
    START_SIM(sim);
    Client client;
    QVERIFY(client.connectTo(sim.port()));
    QTRY_VERIFY_WITH_TIMEOUT(count(client, '*') >= 12, Patience);

    const QList<Element> packets = ofKind(elements(client.received), '*');
    for (int n = 1; n <= 12; ++n) {
        const QByteArray text = packets.at(n - 1).text;
        const QByteArrayList pieces = text.split(',');
        const bool hit = n % every == 0;
        const QByteArray context = QByteArray::number(n) + ": " + text;
        if (option == QLatin1String("--bad-checksum")) {
            QVERIFY2(checksumPasses(text) != hit, context.constData());
            QCOMPARE(pieces.size(), 42);
            if (hit)
                QVERIFY(sim.hasLine("client 1 fault: packet " + QByteArray::number(n) + " sent with checksum C"));
        } else if (option == QLatin1String("--long-packet")) {
            QVERIFY2(checksumPasses(text), context.constData());
            QCOMPARE(pieces.size(), hit ? 51 : 42);
        } else if (option == QLatin1String("--no-comma")) {
            if (hit)
                QCOMPARE(text, QByteArray("*0001"));
            else
                QVERIFY2(goodPacket(text), context.constData());
        } else {
            QVERIFY2(goodPacket(text), context.constData());
            bool numeric = false;
            pieces.at(4).toDouble(&numeric);
            QCOMPARE(numeric, !hit);
            QCOMPARE(pieces.at(20) == "E7", hit);
        }
    }
}

void TestUnitSimProcess::writeShaping_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("arguments");

    const QStringList often{QStringLiteral("--wits-period"), QStringLiteral("0.05"), QStringLiteral("--uptime-period"),
                            QStringLiteral("0.07"), QStringLiteral("--seed"), QStringLiteral("3")};
    const QStringList packetsOnly{QStringLiteral("--wits-period"), QStringLiteral("0"), QStringLiteral("--uptime-period"),
                                  QStringLiteral("0")};
    QTest::newRow("junk") << "junk" << (QStringList{QStringLiteral("--junk"), QStringLiteral("16"), QStringLiteral("--rate"), QStringLiteral("100")} + often);
    QTest::newRow("split") << "split" << (QStringList{QStringLiteral("--split"), QStringLiteral("--split-gap"), QStringLiteral("5"), QStringLiteral("--rate"), QStringLiteral("20")} + often);
    QTest::newRow("batch") << "batch" << (QStringList{QStringLiteral("--batch"), QStringLiteral("4"), QStringLiteral("--rate"), QStringLiteral("100")} + packetsOnly);
    QTest::newRow("wits glued") << "glued" << (QStringList{QStringLiteral("--wits-glued"), QStringLiteral("--rate"), QStringLiteral("50"), QStringLiteral("--wits-period"), QStringLiteral("0.05")});
    QTest::newRow("burst") << "burst" << (QStringList{QStringLiteral("--burst"), QStringLiteral("0.3"), QStringLiteral("--rate"), QStringLiteral("2")} + packetsOnly);
}

void TestUnitSimProcess::writeShaping()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, arguments);
    SimProcess sim(arguments);
    START_SIM(sim);
    Client client;
    QVERIFY(client.connectTo(sim.port()));

    // Where a read ended inside an element, the writer cut it.
    auto cutsInside = [&client](const QList<Element> &all) {
        int cuts = 0;
        for (const qsizetype end : client.readEnds) {
            for (const Element &e : all)
                cuts += end > e.begin && end < e.end;
        }
        return cuts;
    };

    if (mode == QLatin1String("junk")) {
        QTRY_VERIFY_WITH_TIMEOUT(elements(client.received, 16).size() >= 40, Patience);
        const QList<Element> all = elements(client.received, 16);
        QSet<char> junk;
        for (const Element &e : all) {
            QVERIFY2(e.kind != '?', qPrintable(QString::number(e.begin)));
            for (const char c : client.received.mid(e.begin, 16))
                junk.insert(c);
        }
        QCOMPARE(all.front().text, QByteArray("[OUTPUT ONLY]"));
        QCOMPARE(streamFault(all), QString());
        QVERIFY(!ofKind(all, '^').isEmpty());
        QCOMPARE(junk.size(), 256);
    } else if (mode == QLatin1String("split")) {
        QTRY_VERIFY_WITH_TIMEOUT(count(client, '*') >= 10, Patience);
        const QList<Element> all = elements(client.received);
        QCOMPARE(streamFault(all), QString());
        QVERIFY2(cutsInside(all) >= 10, qPrintable(QString::number(cutsInside(all))));
        QVERIFY(sim.hasLine("client 1 fault: writes split at random points"));
    } else if (mode == QLatin1String("batch")) {
        QTRY_VERIFY_WITH_TIMEOUT(count(client, '*') >= 20, Patience);
        const QList<Element> all = elements(client.received);
        QCOMPARE(streamFault(all), QString());
        QCOMPARE(cutsInside(all), 0);
        // Every read ends after the greeting or after a whole number of batches.
        for (const qsizetype end : client.readEnds) {
            int packets = 0;
            for (const Element &e : ofKind(all, '*'))
                packets += e.end <= end;
            QVERIFY2(packets % 4 == 0, qPrintable(QString::number(packets)));
        }
    } else if (mode == QLatin1String("glued")) {
        QTRY_VERIFY_WITH_TIMEOUT(count(client, '^') >= 5, Patience);
        const QList<Element> all = elements(client.received);
        QCOMPARE(streamFault(all), QString());
        for (qsizetype i = 0; i < all.size(); ++i) {
            if (all.at(i).kind != '^' || i + 1 == all.size())
                continue;
            const Element &next = all.at(i + 1);
            QCOMPARE(next.kind, '*');
            for (const qsizetype end : client.readEnds)
                QVERIFY(end <= all.at(i).begin || end >= next.end);
        }
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(sim.hasLine("fault: burst of"), Patience);
        QTRY_VERIFY_WITH_TIMEOUT(client.received.size() > 5000, Patience);
        const QList<Element> all = elements(client.received);
        QCOMPARE(streamFault(all), QString());
        qsizetype largest = 0;
        qsizetype from = 0;
        for (const qsizetype end : client.readEnds) {
            largest = std::max(largest, end - from);
            from = end;
        }
        QVERIFY2(largest > 5000, qPrintable(QString::number(largest)));
    }
}

void TestUnitSimProcess::connectionFaults_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("close") << "close" << QStringList{QStringLiteral("--close-after"), QStringLiteral("5"), QStringLiteral("--rate"), QStringLiteral("50")};
    QTest::newRow("reset") << "reset" << QStringList{QStringLiteral("--reset-after"), QStringLiteral("5"), QStringLiteral("--rate"), QStringLiteral("50")};
    QTest::newRow("silent") << "silent" << QStringList{QStringLiteral("--silent-after"), QStringLiteral("0.3"), QStringLiteral("--rate"), QStringLiteral("50"), QStringLiteral("--wits-period"), QStringLiteral("0.05")};
    QTest::newRow("wits stop") << "wits" << QStringList{QStringLiteral("--wits-stop"), QStringLiteral("0.3"), QStringLiteral("--rate"), QStringLiteral("100"), QStringLiteral("--wits-period"), QStringLiteral("0.03")};
    QTest::newRow("accept delay") << "accept" << QStringList{QStringLiteral("--accept-delay"), QStringLiteral("0.5"), QStringLiteral("--rate"), QStringLiteral("50")};
}

void TestUnitSimProcess::connectionFaults()
{
    QFETCH(QString, mode);
    QFETCH(QStringList, arguments);
    SimProcess sim(arguments);
    START_SIM(sim);

    if (mode == QLatin1String("close") || mode == QLatin1String("reset")) {
#ifdef Q_OS_UNIX
        RawClient raw;
        QVERIFY(raw.connectTo(sim.port()));
        QTRY_VERIFY_WITH_TIMEOUT(raw.ended(), Patience);
        const QList<Element> all = elements(raw.received);
        QCOMPARE(streamFault(all), QString());
        QCOMPARE(ofKind(all, '*').size(), 5);
        if (mode == QLatin1String("close")) {
            QVERIFY(raw.endedByClose);
            QTRY_VERIFY(sim.hasLine("client 1 gone: closed here after 5 packets"));
        } else {
            QCOMPARE(raw.resetError, ECONNRESET);
            QTRY_VERIFY(sim.hasLine("client 1 gone: reset here after 5 packets"));
        }
        return;
#else
        QSKIP("needs the system's own sockets to tell a reset from a close");
#endif
    }

    Client client;
    QElapsedTimer sinceConnect;
    QVERIFY(client.connectTo(sim.port()));
    sinceConnect.start();

    if (mode == QLatin1String("silent")) {
        QTRY_VERIFY_WITH_TIMEOUT(sim.hasLine("client 1 fault: silent from now on"), Patience);
        QVERIFY(count(client, '*') >= 5);
        // What was on its way when the unit fell silent may still come in.
        QSignalSpy reads(&client.socket, &QTcpSocket::readyRead);
        reads.wait(300);
        const qsizetype size = client.received.size();
        QVERIFY(!reads.wait(700));
        QCOMPARE(client.received.size(), size);
        QCOMPARE(client.socket.state(), QAbstractSocket::ConnectedState);
        QCOMPARE(streamFault(elements(client.received)), QString());
        client.send("[KEEP ALIVE]\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(sim.hasLine("client 1 keep-alive 1"), Patience);
    } else if (mode == QLatin1String("wits")) {
        QTRY_VERIFY_WITH_TIMEOUT(sim.hasLine("client 1 fault: WITS records stopped"), Patience);
        const int packetsAtStop = count(client, '*');
        QVERIFY(count(client, '^') >= 3);
        QTRY_VERIFY_WITH_TIMEOUT(count(client, '*') >= packetsAtStop + 40, Patience);
        const QList<Element> all = elements(client.received);
        QCOMPARE(streamFault(all), QString());
        int packets = 0;
        for (const Element &e : all) {
            packets += e.kind == '*';
            if (packets > packetsAtStop + 5)
                QVERIFY2(e.kind != '^', e.text.constData());
        }
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(count(client, '*') >= 1, Patience);
        QVERIFY2(sinceConnect.elapsed() - client.firstByte.elapsed() >= 450,
                 qPrintable(QString::number(sinceConnect.elapsed() - client.firstByte.elapsed())));
        QVERIFY(sim.lineIndex("client 1 fault: taken up after 0.5 s") < sim.lineIndex("client 1 taken up"));
        QCOMPARE(elements(client.received).front().text, QByteArray("[OUTPUT ONLY]"));
    }
}

void TestUnitSimProcess::replay()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    QByteArray recorded = "[OUTPUT ONLY]\r\n*100,200,C165,\r\n";
    for (int v = 0; v < 256; ++v)
        recorded.append(static_cast<char>(v));
    recorded += "^,a,b,c,d,01081523.4\r\n";
    file.write(recorded);
    file.flush();

    SimProcess sim({QStringLiteral("--replay"), file.fileName(), QStringLiteral("--replay-rate"), QStringLiteral("1500")});
    START_SIM(sim);
    Client client;
    QElapsedTimer clock;
    QVERIFY(client.connectTo(sim.port()));
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(client.received.size(), recorded.size(), Patience);
    // 329 bytes at 1500 a second: about 0.22 s, in many small writes.
    QVERIFY2(clock.elapsed() >= 150, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(client.readEnds.size() >= 3);
    QCOMPARE(client.received, recorded);
    QTRY_VERIFY(sim.hasLine("client 1 replay finished"));
}

void TestUnitSimProcess::fleet()
{
    if (!SimProcess::available())
        QSKIP("UNIT_SIM is not set to the unit-sim executable");
    QTemporaryDir dir;
    const QString lookup = dir.filePath(QStringLiteral("RDVlookup.TXT"));
    SimProcess sim(words("--units 5 --rate 20 --wits-period 0.2 --seed 9 --write-lookup") << lookup);
    const QMap<QByteArray, quint16> ports = fleetPorts(sim);
    QVERIFY2(ports.keys() == (QByteArrayList{"0001", "0002", "0003", "0004", "0005"}), sim.allLines().constData());

    // The table the viewer reads: a row per unit, at the port it listens on.
    QFile file(lookup);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray expected;
    for (auto it = ports.cbegin(); it != ports.cend(); ++it)
        expected += it.key() + " 127.0.0.1 " + QByteArray::number(it.value()) + "\r\n";
    QCOMPARE(file.readAll(), expected);

    // Two of the units, each with its own name and its own run.
    Client second, fifth;
    QVERIFY(second.connectTo(ports.value("0002")) && fifth.connectTo(ports.value("0005")));
    QTRY_VERIFY_WITH_TIMEOUT(count(second, '*') >= 5 && count(fifth, '*') >= 5 && count(second, '^') >= 1
                                 && count(fifth, '^') >= 1, Patience);
    for (const auto &[client, name] : {std::pair{&second, QByteArray("0002")}, std::pair{&fifth, QByteArray("0005")}}) {
        const QList<Element> all = elements(client->received);
        QCOMPARE(all.front().text, QByteArray("[OUTPUT ONLY]"));
        for (const Element &e : ofKind(all, '*'))
            QVERIFY2(goodPacket(e.text) && e.text.startsWith("*" + name + ','), e.text.constData());
        for (const Element &e : ofKind(all, '^'))
            QCOMPARE(e.text.split(',').at(2), name);
        const QList<qulonglong> numbers = packetNumbers(client->received);
        for (qsizetype i = 1; i < numbers.size(); ++i)
            QCOMPARE(numbers.at(i), numbers.at(i - 1) + 1);
    }
}

void TestUnitSimProcess::fleetDrops()
{
    if (!SimProcess::available())
        QSKIP("UNIT_SIM is not set to the unit-sim executable");
    SimProcess sim(words("--units 2 --drop-every 0.8 --rate 20 --wits-period 0 --uptime-period 0"));
    const QMap<QByteArray, quint16> ports = fleetPorts(sim);
    QCOMPARE(ports.size(), 2);

    // A viewer of each unit that dials again the moment it is dropped, and
    // notes when that was and what each connection brought.
    struct Redialler
    {
        quint16 port = 0;
        QList<qint64> drops;
        QByteArrayList streams{QByteArray()};
        // Last, so that it goes first: its close on the way out still finds the lists.
        QTcpSocket socket;
    };
    QElapsedTimer clock;
    clock.start();
    Redialler units[2];
    for (Redialler &unit : units) {
        unit.port = ports.value(&unit == units ? "0001" : "0002");
        QObject::connect(&unit.socket, &QTcpSocket::readyRead, &unit.socket,
                         [&unit] { unit.streams.last() += unit.socket.readAll(); });
        QObject::connect(&unit.socket, &QTcpSocket::disconnected, &unit.socket, [&unit, &clock] {
            unit.drops.append(clock.elapsed());
            unit.streams.append(QByteArray());
            QTimer::singleShot(0, &unit.socket, [&unit] { unit.socket.connectToHost(QHostAddress::LocalHost, unit.port); });
        });
        unit.socket.connectToHost(QHostAddress::LocalHost, unit.port);
    }
    QTRY_VERIFY_WITH_TIMEOUT(units[0].drops.size() >= 3 && units[1].drops.size() >= 3, 8000);

    for (const Redialler &unit : units) {
        for (qsizetype i = 1; i < unit.drops.size(); ++i) {
            const qint64 interval = unit.drops.at(i) - unit.drops.at(i - 1);
            QVERIFY2(interval >= 500 && interval <= 1300, qPrintable(QString::number(interval)));
            if (i == 1)
                continue;  // the first connection may have been dropped before any packet
            // Back at once, the unit's packets go on where they were.
            const QList<qulonglong> before = packetNumbers(unit.streams.at(i - 1));
            const QList<qulonglong> after = packetNumbers(unit.streams.at(i));
            QVERIFY(!before.isEmpty() && !after.isEmpty());
            QVERIFY2(after.front() > before.back() && after.front() <= before.back() + 3,
                     qPrintable(QStringLiteral("%1 then %2").arg(before.back()).arg(after.front())));
        }
    }
    // The two units take their turns half an interval apart.
    const qint64 apart = ((units[1].drops.at(1) - units[0].drops.at(1)) % 800 + 800) % 800;
    QVERIFY2(apart >= 200 && apart <= 600, qPrintable(QString::number(apart)));
    QVERIFY(sim.hasLine("unit 0002 client 2 gone: dropped here after "));
}

void TestUnitSimProcess::stopsOnSignal_data()
{
    QTest::addColumn<bool>("fleet");
    QTest::addColumn<QStringList>("shaping");
    QTest::addColumn<int>("signalNumber");
    QTest::addColumn<QByteArray>("signalName");

    QTest::newRow("fleet, SIGTERM") << true << QStringList() << int(SIGTERM) << QByteArray("SIGTERM");
    QTest::newRow("one unit, SIGINT") << false << QStringList() << int(SIGINT) << QByteArray("SIGINT");
    // Packets held for a batch, cut into pieces and behind junk: each is
    // logged when its last byte goes out, and the stop sends what is held.
    QTest::newRow("shaped stream, SIGTERM")
        << true << words("--batch 3 --split --split-gap 2 --junk 4 --wits-glued") << int(SIGTERM) << QByteArray("SIGTERM");
}

void TestUnitSimProcess::stopsOnSignal()
{
    QFETCH(bool, fleet);
    QFETCH(QStringList, shaping);
    QFETCH(int, signalNumber);
    QFETCH(QByteArray, signalName);
    if (!SimProcess::available())
        QSKIP("UNIT_SIM is not set to the unit-sim executable");
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("sent.log"));
    SimProcess sim(words(fleet ? "--rate 50 --units 2 --sent-log" : "--rate 50 --sent-log") << log << shaping);
    const quint16 port = fleet ? fleetPorts(sim).value("0001") : (sim.waitListening() ? sim.port() : quint16(0));
    QVERIFY2(port != 0, sim.allLines().constData());

    Client client;
    QVERIFY(client.connectTo(port));
    const int junk = shaping.contains(QStringLiteral("--junk")) ? 4 : 0;
    QTRY_VERIFY_WITH_TIMEOUT(packetNumbers(client.received, junk).size() >= 10, Patience);
    const qint64 before = QDateTime::currentMSecsSinceEpoch();
    QSignalSpy finished(&sim.process(), &QProcess::finished);
    ::kill(static_cast<pid_t>(sim.process().processId()), signalNumber);
    QVERIFY(finished.wait(Patience));
    QCOMPARE(sim.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(sim.process().exitCode(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(client.socket.state(), QAbstractSocket::UnconnectedState, Patience);
    QTRY_VERIFY(sim.hasLine("unit-sim stopped"));
    QVERIFY(sim.lineIndex("unit-sim stopping on " + signalName) < sim.lineIndex("client 1 gone: closed here, the simulator stops"));

    // Every packet the viewer got is in the log once, with its time, and
    // nothing it did not get.
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QList<qulonglong> logged;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QByteArrayList columns = line.split(',');
        if (line.isEmpty())
            continue;
        QVERIFY(columns.size() == 3 && columns.at(0) == "0001");
        QVERIFY(columns.at(2).toLongLong() > before - 60000 && columns.at(2).toLongLong() <= before + 60000);
        logged.append(columns.at(1).toULongLong());
    }
    QCOMPARE(logged, packetNumbers(client.received, junk));
}

QTEST_GUILESS_MAIN(TestUnitSimProcess)
#include "tst_unitsim_process.moc"
