#include <stdexcept>

#include <QByteArray>
#include <QByteArrayList>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QtTest>

#include "rules/config/witstable.h"
#include "rules/stream/parser.h"
#include "rules/stream/parserevents.h"
#include "rules/stream/streamstate.h"
#include "support/packets.h"
#include "support/texts.h"

namespace {

using support::shown;
using support::withChecksum;

// Something thrown that is no std::exception.
struct ForeignFault
{
};

// Writes down everything the parser tells its listener, in order, and notes
// any event that arrives while the parser does not say it is busy. It can be
// told to throw from one kind of event, to prove the parser contains it.
class Recorder : public ParserEvents
{
public:
    explicit Recorder(const StreamState &state)
        : m_state(state)
    {
    }

    void twoWayMode(bool active) override
    {
        note(active ? QStringLiteral("two way on") : QStringLiteral("two way off"));
    }
    void uptimeReported(double) override {}
    void packetAccepted() override { note(QStringLiteral("accepted")); }
    void witsCleared(const QByteArray &) override { note(QStringLiteral("wits cleared")); }
    void witsItem(std::int16_t code, double value, const QString &line) override
    {
        note(QStringLiteral("wits line ") + line);
        if (code == 108)
            note(QStringLiteral("bit depth ") + QString::number(value, 'g', 15));
    }
    void reportLine(const QByteArray &line) override
    {
        note(QStringLiteral("report ") + QString::fromLatin1(line));
    }

    QStringList log;
    int eventsWhileIdle = 0;
    QString throwOn;            // log entries starting with this throw
    bool throwForeign = false;  // throw something that is no std::exception

private:
    void note(const QString &entry)
    {
        if (!m_state.parse_busy)
            ++eventsWhileIdle;
        log << entry;
        if (!throwOn.isEmpty() && entry.startsWith(throwOn)) {
            if (throwForeign)
                throw ForeignFault();
            throw std::runtime_error("listener broke");
        }
    }

    const StreamState &m_state;
};

// The WITS item table the tests read names from: a few codes, one of them
// named twice, and one in the slot that lookups must never reach.
WitsTable shortTable()
{
    WitsTable table;
    auto set = [&table](int slot, std::int16_t code, const char *name) {
        table.codes[static_cast<std::size_t>(slot)] = code;
        table.names[static_cast<std::size_t>(slot)] = QByteArray(name);
    };
    set(0, 108, "Bit Depth");
    set(1, 1213, "Pump Pressure");
    set(2, 8, "Item Eight");
    set(3, 110, "Old Name");
    set(6, 110, "New Name");
    set(7, 777, "Temp \xB0" "C");
    set(250, 1414, "Beyond Search");
    return table;
}

// Every searchable slot filled, so no slot holds code 0.
WitsTable fullTable()
{
    WitsTable table = shortTable();
    for (int slot = 0; slot < WitsTable::Usable; ++slot) {
        const auto i = static_cast<std::size_t>(slot);
        if (table.codes[i] == 0) {
            table.codes[i] = static_cast<std::int16_t>(3000 + slot);
            table.names[i] = QByteArrayLiteral("Filler");
        }
    }
    return table;
}

struct Fixture
{
    StreamState state;
    WitsTable table = shortTable();
    Recorder events{state};

    void parse(const QByteArray &received)
    {
        state.incoming_buffer += received;
        parse_ulmex_string(state, table, events);
    }
    // The busy flag must frame the whole call and never outlast it.
    bool settled() const { return !state.parse_busy && events.eventsWhileIdle == 0; }
};

QByteArray packet(const QByteArray &body)
{
    return withChecksum(body) + '\r';
}

// A body of the given number of data fields, 1 to n, ready for withChecksum.
QByteArray numberedBody(int count)
{
    QByteArray body = "*";
    for (int k = 1; k <= count; ++k)
        body += QByteArray::number(k) + ',';
    return body;
}

QByteArrayList numberedFields(int count)
{
    QByteArrayList fields;
    for (int k = 1; k <= count; ++k)
        fields << QByteArray::number(k);
    return fields;
}

QByteArray oldField(int index)
{
    return QByteArrayLiteral("old") + QByteArray::number(index);
}

void fillOldFields(StreamState &state)
{
    for (int k = 1; k < StreamState::FieldSlots; ++k)
        state.data_fields[static_cast<std::size_t>(k)] = oldField(k);
}

QString witsLine(const char *code, const char *name, const char *value)
{
    return QStringLiteral("wits line ") + QString::fromLatin1(code) + QLatin1String("  ")
           + QString::fromLatin1(name) + QLatin1String("  ") + shown(value);
}

QString report(const char *line)
{
    return QStringLiteral("report ") + QString::fromLatin1(line);
}

const QString Accepted = QStringLiteral("accepted");
const QString WitsCleared = QStringLiteral("wits cleared");

} // namespace

class tst_Parser : public QObject
{
    Q_OBJECT

private slots:
    void emptyBuffer();
    void statusMessages_data();
    void statusMessages();
    void statusMessageWaitsForItsBracket();
    void packets_data();
    void packets();
    void errorCode_data();
    void errorCode();
    void errorCodeFromEarlierPacket();
    void incompletePacketWaitsForItsCR();
    void packetsOnePerCall();
    void shorterPacketKeepsOnlyAcceptedFields();
    void wits_data();
    void wits();
    void incompleteWitsRecordWaitsForItsCR();
    void recordsInFrontListedOnePerCall();
    void listenerFaultsContained_data();
    void listenerFaultsContained();
};

void tst_Parser::emptyBuffer()
{
    Fixture f;
    f.parse(QByteArray());
    QVERIFY(f.settled());
    QVERIFY(f.events.log.isEmpty());
    QVERIFY(f.state.incoming_buffer.isEmpty());
    QCOMPARE(f.state.data_age, 0.0);
    QCOMPARE(f.state.wits_countdown, std::int16_t(0));
}

void tst_Parser::statusMessages_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<double>("uptime");  // 42 when untouched

    const QStringList none;
    const QStringList on{QStringLiteral("two way on")};
    const QStringList off{QStringLiteral("two way off")};

    QTest::newRow("uptime 99") << QByteArray("[UPTIME 99%]") << none << QByteArray() << 99.0;
    QTest::newRow("uptime 5") << QByteArray("[UPTIME 5%]") << none << QByteArray() << 5.0;
    QTest::newRow("uptime 100") << QByteArray("[UPTIME 100%]") << none << QByteArray() << 100.0;
    QTest::newRow("uptime 99.5") << QByteArray("[UPTIME 99.5%]") << none << QByteArray() << 99.5;
    QTest::newRow("uptime among other text")
        << QByteArray("ab[UPTIME 87%]cd") << none << QByteArray("abcd") << 87.0;
    QTest::newRow("two way") << QByteArray("[TWO WAY]") << on << QByteArray() << 42.0;
    QTest::newRow("output only") << QByteArray("[OUTPUT ONLY]") << off << QByteArray() << 42.0;
    QTest::newRow("both in one message ends inactive")
        << QByteArray("[OUTPUT ONLY / TWO WAY]") << QStringList{on.first(), off.first()}
        << QByteArray() << 42.0;
    QTest::newRow("case matters, unknown text still removed")
        << QByteArray("x[two way]y") << none << QByteArray("xy") << 42.0;
    QTest::newRow("identical messages removed in one pass")
        << QByteArray("[TWO WAY]a[TWO WAY]b") << on << QByteArray("ab") << 42.0;
    QTest::newRow("five messages per call, the sixth waits")
        << QByteArray("[A][B][C][D][E][TWO WAY]") << none << QByteArray("[TWO WAY]") << 42.0;
    QTest::newRow("unterminated [ holds back the passes")
        << QByteArray("x[TWO WAY") << none << QByteArray("x[TWO WAY") << 42.0;
    QTest::newRow("a stray [ runs up to the next ]")
        << QByteArray("[AB[TWO WAY]c") << on << QByteArray("c") << 42.0;
}

void tst_Parser::statusMessages()
{
    QFETCH(QByteArray, received);
    QFETCH(QStringList, log);
    QFETCH(QByteArray, left);
    QFETCH(double, uptime);

    Fixture f;
    f.state.uptime_percent = 42.0;
    f.parse(received);
    QVERIFY(f.settled());
    QCOMPARE(f.events.log, log);
    QCOMPARE(f.state.incoming_buffer, left);
    QCOMPARE(f.state.uptime_percent, uptime);
}

void tst_Parser::statusMessageWaitsForItsBracket()
{
    Fixture f;
    f.parse("[TWO WAY");
    QVERIFY(f.events.log.isEmpty());
    f.parse("][UPTIME 77%]");
    QVERIFY(f.settled());
    QCOMPARE(f.events.log, QStringList{QStringLiteral("two way on")});
    QCOMPARE(f.state.uptime_percent, 77.0);
    QVERIFY(f.state.incoming_buffer.isEmpty());
}

void tst_Parser::packets_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QByteArray>("left");
    // Fields 1 onwards of an accepted packet, every slot behind them empty;
    // none when the packet must leave the shown fields, the data age and the
    // error code as they were. The checksum field is no reading: its slot is
    // empty.
    QTest::addColumn<QByteArrayList>("fields");

    const QStringList accepted{Accepted};
    const QStringList checksumFailed{report("[Parse Checksum failed]")};
    const QStringList subscript{report("[Parse ERR: Subscript out of range Err pt: 8]")};
    const QStringList overflow{report("[Parse ERR: Overflow Err pt: 8]")};
    const QByteArrayList worked{"100", "200", "", ""};
    const QByteArrayList untouched;

    QTest::newRow("worked example")
        << QByteArray("*100,200,C165,\rrest") << accepted << QByteArray("rest") << worked;
    QTest::newRow("checksum one off")
        << QByteArray("*100,200,C166,\rrest") << checksumFailed << QByteArray() << untouched;
    QTest::newRow("checksum failure skips the record behind")
        << QByteArray("*100,200,C166,\r^a,b,c,d,e,01081.5\r") << checksumFailed << QByteArray()
        << untouched;
    QTest::newRow("checksum rounds to 165")
        << QByteArray("*100,200,C165.4,\r") << accepted << QByteArray()
        << QByteArrayList{"100", "200", "", ""};
    QTest::newRow("checksum half rounds to even 164")
        << QByteArray("*100,200,C164.5,\r") << checksumFailed << QByteArray() << untouched;
    QTest::newRow("checksum half rounds to even 166")
        << QByteArray("*100,200,C165.5,\r") << checksumFailed << QByteArray() << untouched;
    QTest::newRow("checksum zero is tested")
        << QByteArray("*100,200,C0,\r") << checksumFailed << QByteArray() << untouched;
    QTest::newRow("lower-case c unchecked")
        << QByteArray("*100,200,c999,\r") << accepted << QByteArray()
        << QByteArrayList{"100", "200", "c999", ""};
    QTest::newRow("negative checksum unchecked")
        << QByteArray("*100,200,C-1,\r") << accepted << QByteArray()
        << QByteArrayList{"100", "200", "", ""};
    QTest::newRow("lowest 32-bit checksum unchecked")
        << QByteArray("*100,200,C-2147483648,\r") << accepted << QByteArray()
        << QByteArrayList{"100", "200", "", ""};
    QTest::newRow("no checksum field unchecked")
        << QByteArray("*100,200,X7,\r") << accepted << QByteArray()
        << QByteArrayList{"100", "200", "X7", ""};
    QTest::newRow("two fields, no checksum")
        << QByteArray("*100,200\r") << accepted << QByteArray() << QByteArrayList{"100", "200"};
    QTest::newRow("checksum beyond 32 bits")
        << QByteArray("*100,200,C99999999999,\r") << overflow << QByteArray() << untouched;
    QTest::newRow("checksum just beyond 32 bits")
        << QByteArray("*100,200,C2147483648,\r") << overflow << QByteArray() << untouched;
    QTest::newRow("checksum just below 32 bits")
        << QByteArray("*100,200,C-2147483649,\r") << overflow << QByteArray() << untouched;
    QTest::newRow("bytes above 127 sum unsigned")
        << QByteArray("*\x80,C214,\r") << accepted << QByteArray()
        << QByteArrayList{"\x80", "", ""};
    QTest::newRow("many bytes above 127 sum unsigned")
        << packet("*\xFF\xFE\x80\x81,\xE9t\xE9,") << accepted << QByteArray()
        << QByteArrayList{"\xFF\xFE\x80\x81", "\xE9t\xE9", "", ""};
    QTest::newRow("star and CR alone")
        << QByteArray("*\r^a,b,c,d,e,01081.5\r") << subscript << QByteArray() << untouched;
    QTest::newRow("no comma")
        << QByteArray("*100\rrest") << subscript << QByteArray() << untouched;
    QTest::newRow("50 fields")
        << packet(numberedBody(48)) << accepted << QByteArray()
        << (numberedFields(48) << QByteArray() << QByteArray());
    QTest::newRow("51 fields")
        << packet(numberedBody(49)) << subscript << QByteArray() << untouched;
    QTest::newRow("line noise in front consumed")
        << QByteArray("\nxyz*100,200,C165,\r") << accepted << QByteArray() << worked;
    QTest::newRow("unterminated [ in front consumed")
        << QByteArray("[AB*100,200,C165,\r") << accepted << QByteArray() << worked;
    QTest::newRow("status message in front handled first")
        << QByteArray("[TWO WAY]*100,200,C165,\r")
        << QStringList{QStringLiteral("two way on"), Accepted} << QByteArray() << worked;
    QTest::newRow("only the packet's own CR consumed")
        << QByteArray("*100,200,C165,\r\r") << accepted << QByteArray("\r") << worked;
    // A message never spans a line end: a stray "[" is dropped and the
    // packet and the message behind it are taken as usual.
    QTest::newRow("stray [ in front of a packet and a message")
        << QByteArray("[*100,200,C165,\r[TWO WAY]") << QStringList{QStringLiteral("two way on"), Accepted}
        << QByteArray() << worked;
    QTest::newRow("[ with a line end and no ] behind it")
        << QByteArray("[AB\r*100,200,C165,\r") << accepted << QByteArray() << worked;
    QTest::newRow("incomplete packet stays")
        << QByteArray("x*100,200,C165,") << QStringList() << QByteArray("x*100,200,C165,")
        << untouched;
}

void tst_Parser::packets()
{
    QFETCH(QByteArray, received);
    QFETCH(QStringList, log);
    QFETCH(QByteArray, left);
    QFETCH(QByteArrayList, fields);

    Fixture f;
    fillOldFields(f.state);
    f.state.data_age = 7.5;
    f.state.error_code = 99.0;
    f.parse(received);
    QVERIFY(f.settled());
    QCOMPARE(f.events.log, log);
    QCOMPARE(f.state.incoming_buffer, left);
    QCOMPARE(f.state.data_fields[0], QByteArray());
    for (int k = 1; k < StreamState::FieldSlots; ++k) {
        const QByteArray expected = fields.isEmpty() ? oldField(k) : fields.value(k - 1);
        QCOMPARE(f.state.data_fields[static_cast<std::size_t>(k)], expected);
    }
    if (fields.isEmpty()) {
        QCOMPARE(f.state.data_age, 7.5);
        QCOMPARE(f.state.error_code, 99.0);
    } else {
        QCOMPARE(f.state.data_age, 0.0);
    }
}

void tst_Parser::errorCode_data()
{
    QTest::addColumn<QByteArray>("field21");
    QTest::addColumn<double>("errorCode");

    QTest::newRow("four digits give the first two") << QByteArray("1203") << 12.0;
    QTest::newRow("one digit") << QByteArray("7") << 7.0;
    QTest::newRow("three digits whole") << QByteArray("123") << 123.0;
    QTest::newRow("four characters with a point") << QByteArray("12.5") << 12.0;
    QTest::newRow("three characters with a point") << QByteArray("2.5") << 2.5;
    QTest::newRow("negative") << QByteArray("-5") << -5.0;
    QTest::newRow("empty") << QByteArray() << 0.0;
    QTest::newRow("not a number") << QByteArray("abc") << 0.0;
}

void tst_Parser::errorCode()
{
    QFETCH(QByteArray, field21);
    QFETCH(double, errorCode);

    Fixture f;
    f.state.error_code = 99.0;
    f.parse(packet(numberedBody(20) + field21 + ",22,"));
    QVERIFY(f.settled());
    QCOMPARE(f.events.log, QStringList{Accepted});
    QCOMPARE(f.state.data_fields[21], field21);
    QCOMPARE(f.state.error_code, errorCode);
}

void tst_Parser::errorCodeFromEarlierPacket()
{
    Fixture f;
    f.parse(packet(numberedBody(20) + "1203,22,"));
    QCOMPARE(f.state.error_code, 12.0);

    // A short packet carries no error number: the earlier one's is gone.
    f.state.error_code = 55.0;
    f.parse(packet("*1,2,"));
    QVERIFY(f.settled());
    QCOMPARE(f.events.log, (QStringList{Accepted, Accepted}));
    QCOMPARE(f.state.data_fields[21], QByteArray());
    QCOMPARE(f.state.error_code, 0.0);
}

void tst_Parser::incompletePacketWaitsForItsCR()
{
    Fixture f;
    f.state.data_age = 3.0;
    f.parse("\n*100,200,C16");
    QVERIFY(f.events.log.isEmpty());
    QCOMPARE(f.state.incoming_buffer, QByteArray("\n*100,200,C16"));
    QCOMPARE(f.state.data_age, 3.0);
    QCOMPARE(f.state.data_fields[1], QByteArray());

    f.parse("5,\rnext");
    QVERIFY(f.settled());
    QCOMPARE(f.events.log, QStringList{Accepted});
    QCOMPARE(f.state.incoming_buffer, QByteArray("next"));
    QCOMPARE(f.state.data_age, 0.0);
    QCOMPARE(f.state.data_fields[2], QByteArray("200"));
    QCOMPARE(f.state.data_fields[3], QByteArray());
}

void tst_Parser::packetsOnePerCall()
{
    Fixture f;
    const QByteArray second = packet("*300,400,");
    f.parse(QByteArray("*100,200,C165,\r") + second);
    QCOMPARE(f.events.log, QStringList{Accepted});
    QCOMPARE(f.state.data_fields[1], QByteArray("100"));
    QCOMPARE(f.state.incoming_buffer, second);

    f.parse(QByteArray());
    QVERIFY(f.settled());
    QCOMPARE(f.events.log, (QStringList{Accepted, Accepted}));
    QCOMPARE(f.state.data_fields[1], QByteArray("300"));
    QVERIFY(f.state.incoming_buffer.isEmpty());
}

void tst_Parser::shorterPacketKeepsOnlyAcceptedFields()
{
    Fixture f;
    f.parse(packet(numberedBody(25)));  // fields 1 to 27
    QCOMPARE(f.events.log, QStringList{Accepted});

    // A corrupt longer packet: no trace of it may show up later.
    QByteArray corrupt = withChecksum("*a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q,r,s,t,u,v,w,x,y,z,A,B,C,D,");
    corrupt.insert(1, 'X');
    f.state.data_age = 4.0;
    f.parse(corrupt + '\r');
    QCOMPARE(f.events.log.last(), report("[Parse Checksum failed]"));
    QCOMPARE(f.state.data_age, 4.0);
    QCOMPARE(f.state.data_fields[1], QByteArray("1"));

    f.parse(packet("*s1,s2,s3,"));  // fields 1 to 5
    QVERIFY(f.settled());
    QCOMPARE(f.events.log.last(), Accepted);
    QCOMPARE(f.state.data_fields[1], QByteArray("s1"));
    QCOMPARE(f.state.data_fields[3], QByteArray("s3"));
    // Nothing of the longer packet before it stands behind the short one.
    for (int k = 4; k < StreamState::FieldSlots; ++k)
        QCOMPARE(f.state.data_fields[static_cast<std::size_t>(k)], QByteArray());
}

void tst_Parser::wits_data()
{
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<bool>("full");  // every searchable table slot filled
    QTest::addColumn<QStringList>("log");
    QTest::addColumn<QByteArray>("left");
    QTest::addColumn<int>("countdown");  // 5 when untouched

    QTest::newRow("one item")
        << QByteArray("^a,b,c,d,e,01081523.46\r") << false
        << QStringList{WitsCleared, witsLine("0108", "Bit Depth", "1523.46"),
                       QStringLiteral("bit depth 1523.46")}
        << QByteArray("\r") << 60;
    QTest::newRow("items in record order, last table match wins")
        << QByteArray("^a,b,c,d,e,12131523.40,00080012,0110-3.5\r") << false
        << QStringList{WitsCleared, witsLine("1213", "Pump Pressure", "1523.4"),
                       witsLine("08", "Item Eight", "12"), witsLine("0110", "New Name", "-3.5")}
        << QByteArray("\r") << 60;
    QTest::newRow("code not in the table")
        << QByteArray("^a,b,c,d,e,99991.5\r") << false
        << QStringList{WitsCleared, witsLine("9999", "Unknown", "1.5")} << QByteArray("\r") << 60;
    QTest::newRow("slot 250 is never searched")
        << QByteArray("^a,b,c,d,e,141477\r") << false
        << QStringList{WitsCleared, witsLine("1414", "Unknown", "77")} << QByteArray("\r") << 60;
    QTest::newRow("code 0 meets an unfilled slot")
        << QByteArray("^a,b,c,d,e,000012\r") << false
        << QStringList{WitsCleared, witsLine("00", "", "12")} << QByteArray("\r") << 60;
    QTest::newRow("code 0 with a full table")
        << QByteArray("^a,b,c,d,e,000012\r") << true
        << QStringList{WitsCleared, witsLine("00", "Unknown", "12")} << QByteArray("\r") << 60;
    QTest::newRow("name shown as Latin-1")
        << QByteArray("^a,b,c,d,e,077720\r") << false
        << QStringList{WitsCleared, witsLine("0777", "Temp \xB0" "C", "20")} << QByteArray("\r")
        << 60;
    // A record without items is no sign of WITS data: the count goes on.
    QTest::newRow("five-character item skipped")
        << QByteArray("^a,b,c,d,e,01080\r") << false << QStringList{WitsCleared}
        << QByteArray("\r") << 5;
    QTest::newRow("fewer than six pieces")
        << QByteArray("^a,b,c,d\r") << false << QStringList{WitsCleared} << QByteArray("\r") << 5;
    QTest::newRow("empty record leaves the record behind it")
        << QByteArray("^\r^a,b,c,d,e,01081.5\r") << false << QStringList{WitsCleared}
        << QByteArray("\r^a,b,c,d,e,01081.5\r") << 5;
    QTest::newRow("header pieces are not items")
        << QByteArray("^01081,01082.5,0108333,01084444,0108555,12137.5\r") << false
        << QStringList{WitsCleared, witsLine("1213", "Pump Pressure", "7.5")} << QByteArray("\r")
        << 60;
    QTest::newRow("fractional code rounds half to even")
        << QByteArray("^a,b,c,d,e,12.577\r") << false
        << QStringList{WitsCleared, witsLine("012", "Unknown", "77")} << QByteArray("\r") << 60;
    QTest::newRow("negative code keeps the leading zero rule")
        << QByteArray("^a,b,c,d,e,-0125.5\r") << false
        << QStringList{WitsCleared, witsLine("0-12", "Unknown", "5.5")} << QByteArray("\r") << 60;
    QTest::newRow("text around the record and its CR stay")
        << QByteArray("xy^a,b,c,d,e,121312\rz") << false
        << QStringList{WitsCleared, witsLine("1213", "Pump Pressure", "12")} << QByteArray("xy\rz")
        << 60;
    QTest::newRow("only the record itself removed")
        << QByteArray("^a,b,c,d,e,121312\r^a,b,c,d,e,121312\r") << false
        << QStringList{WitsCleared, witsLine("1213", "Pump Pressure", "12")}
        << QByteArray("\r^a,b,c,d,e,121312\r") << 60;
    QTest::newRow("incomplete record stays")
        << QByteArray("^a,b,c,d,e,121312") << false << QStringList()
        << QByteArray("^a,b,c,d,e,121312") << 5;
    QTest::newRow("letters as code fail after earlier lines")
        << QByteArray("^a,b,c,d,e,01085.5,ABCD12,121312\rmore") << false
        << QStringList{WitsCleared, witsLine("0108", "Bit Depth", "5.5"),
                       QStringLiteral("bit depth 5.5"),
                       report("[Parse ERR: Type mismatch Err pt: 21]")}
        << QByteArray() << 60;
    QTest::newRow("code beyond 16 bits")
        << QByteArray("^a,b,c,d,e,9e9912\r") << false
        << QStringList{WitsCleared, report("[Parse ERR: Overflow Err pt: 21]")} << QByteArray()
        << 60;
    QTest::newRow("record in front of a packet is listed")
        << QByteArray("^a,b,c,d,e,01081.5\r*100,200,C165,\rtail") << false
        << QStringList{Accepted, WitsCleared, witsLine("0108", "Bit Depth", "1.5"),
                       QStringLiteral("bit depth 1.5")}
        << QByteArray("\rtail") << 60;
    QTest::newRow("noise around a record in front of a packet goes")
        << QByteArray("xx^a,b,c,d,e,01081.5\ryy*100,200,C165,\r") << false
        << QStringList{Accepted, WitsCleared, witsLine("0108", "Bit Depth", "1.5"),
                       QStringLiteral("bit depth 1.5")}
        << QByteArray("\r") << 60;
    QTest::newRow("unfinished record in front of a packet goes with it")
        << QByteArray("^a,b,c,d,e,01081.5*100,200,C165,\r") << false << QStringList{Accepted}
        << QByteArray() << 5;
    QTest::newRow("record behind the packet, same call")
        << QByteArray("*100,200,C165,\r^a,b,c,d,e,01081.5\r") << false
        << QStringList{Accepted, WitsCleared, witsLine("0108", "Bit Depth", "1.5"),
                       QStringLiteral("bit depth 1.5")}
        << QByteArray("\r") << 60;
    QTest::newRow("record with an incomplete packet behind")
        << QByteArray("^a,b,c,d,e,01081.5\r*100,2") << false
        << QStringList{WitsCleared, witsLine("0108", "Bit Depth", "1.5"),
                       QStringLiteral("bit depth 1.5")}
        << QByteArray("\r*100,2") << 60;
}

void tst_Parser::wits()
{
    QFETCH(QByteArray, received);
    QFETCH(bool, full);
    QFETCH(QStringList, log);
    QFETCH(QByteArray, left);
    QFETCH(int, countdown);

    Fixture f;
    if (full)
        f.table = fullTable();
    f.state.wits_countdown = 5;
    f.parse(received);
    QVERIFY(f.settled());
    QCOMPARE(f.events.log, log);
    QCOMPARE(f.state.incoming_buffer, left);
    QCOMPARE(int(f.state.wits_countdown), countdown);
}

void tst_Parser::incompleteWitsRecordWaitsForItsCR()
{
    Fixture f;
    f.parse("^a,b,c,d,e,0108152");
    QVERIFY(f.events.log.isEmpty());
    QCOMPARE(f.state.wits_countdown, std::int16_t(0));

    f.parse("0\r");
    QVERIFY(f.settled());
    QCOMPARE(f.events.log, (QStringList{WitsCleared, witsLine("0108", "Bit Depth", "1520"),
                                        QStringLiteral("bit depth 1520")}));
    QCOMPARE(f.state.incoming_buffer, QByteArray("\r"));
    QCOMPARE(f.state.wits_countdown, std::int16_t(60));
}

void tst_Parser::recordsInFrontListedOnePerCall()
{
    Fixture f;
    f.parse("^a,b,c,d,e,01081.5\r^a,b,c,d,e,121322\r*100,200,C165,\r");
    QCOMPARE(f.events.log, (QStringList{Accepted, WitsCleared,
                                        witsLine("0108", "Bit Depth", "1.5"),
                                        QStringLiteral("bit depth 1.5")}));
    QCOMPARE(f.state.incoming_buffer, QByteArray("\r^a,b,c,d,e,121322\r"));

    f.events.log.clear();
    f.parse(QByteArray());
    QVERIFY(f.settled());
    QCOMPARE(f.events.log, (QStringList{WitsCleared, witsLine("1213", "Pump Pressure", "22")}));
    QCOMPARE(f.state.incoming_buffer, QByteArray("\r\r"));
}

void tst_Parser::listenerFaultsContained_data()
{
    QTest::addColumn<QString>("throwOn");
    QTest::addColumn<bool>("foreign");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("lastReport");

    QTest::newRow("status message") << QStringLiteral("two way") << false
                                    << QByteArray("[TWO WAY]*100,200,C165,\r")
                                    << report("[Parse ERR: listener broke Err pt: 3]");
    QTest::newRow("accepted packet") << Accepted << false << QByteArray("*100,200,C165,\r^a\r")
                                     << report("[Parse ERR: listener broke Err pt: 10]");
    QTest::newRow("not a std::exception") << Accepted << true << QByteArray("*100,200,C165,\r")
                                          << report("[Parse ERR: Unexpected error Err pt: 10]");
    QTest::newRow("wits cleared") << WitsCleared << false << QByteArray("^a,b,c,d,e,01081.5\r")
                                  << report("[Parse ERR: listener broke Err pt: 17]");
    QTest::newRow("wits line") << QStringLiteral("wits line") << false
                               << QByteArray("^a,b,c,d,e,01081.5\r")
                               << report("[Parse ERR: listener broke Err pt: 23]");
    QTest::newRow("bit depth") << QStringLiteral("bit depth") << false
                               << QByteArray("^a,b,c,d,e,01081.5\r")
                               << report("[Parse ERR: listener broke Err pt: 23]");
    // The handler's own report fails as well: the buffer must still go.
    QTest::newRow("report line") << QStringLiteral("report") << false
                                 << QByteArray("*100,200,C166,\r")
                                 << report("[Parse ERR: listener broke Err pt: 8]");
}

void tst_Parser::listenerFaultsContained()
{
    QFETCH(QString, throwOn);
    QFETCH(bool, foreign);
    QFETCH(QByteArray, received);
    QFETCH(QString, lastReport);

    Fixture f;
    f.events.throwOn = throwOn;
    f.events.throwForeign = foreign;
    try {
        f.parse(received);
    } catch (...) {
        QFAIL("a listener's fault escaped the parser");
    }
    QVERIFY(f.settled());
    QVERIFY(f.state.incoming_buffer.isEmpty());
    QCOMPARE(f.events.log.last(), lastReport);
    QCOMPARE(int(f.events.log.filter(QStringLiteral("report ")).size()),
             throwOn == QLatin1String("report") ? 2 : 1);
}

QTEST_APPLESS_MAIN(tst_Parser)
#include "tst_parser.moc"
