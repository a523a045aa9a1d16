#include <QTest>

#include "unitsim/clientinput.h"
#include "unitsim/keydecoder.h"
#include "support/keymessages.h"

namespace {

using support::keyMessage;

using Kind = ClientInput::Event::Kind;

QString describe(const QList<ClientInput::Event> &events)
{
    QStringList parts;
    for (const ClientInput::Event &event : events) {
        const char *kind = event.kind == Kind::KeepAlive ? "keep-alive"
                           : event.kind == Kind::KeyMessage ? "key"
                                                            : "typed";
        parts.append(QStringLiteral("%1(%2)").arg(QLatin1String(kind)).arg(event.bytes.size()));
    }
    return parts.join(QLatin1Char(' '));
}

// Neighbouring typed events are one event whichever way the reads fell.
QList<ClientInput::Event> merged(const QList<ClientInput::Event> &events)
{
    QList<ClientInput::Event> result;
    for (const ClientInput::Event &event : events) {
        if (event.kind == Kind::Typed && !result.isEmpty() && result.back().kind == Kind::Typed)
            result.back().bytes += event.bytes;
        else
            result.append(event);
    }
    return result;
}

} // namespace

class TestUnitSimKey : public QObject
{
    Q_OBJECT

private slots:
    void handBuiltMessageIsAsLaidOut();
    void decodes_data();
    void decodes();
    void rejects_data();
    void rejects();
    void inputSurvivesAnySplit();
    void inputLoneBytes_data();
    void inputLoneBytes();
    void inputRunawayKey();
};

void TestUnitSimKey::handBuiltMessageIsAsLaidOut()
{
    const QByteArray message = keyMessage("operator", "rig2400", 117);
    QCOMPARE(message.size(), 777);
    QVERIFY(message.startsWith("[PGP KEY "));
    QVERIFY(message.endsWith("]\r\n"));
    QCOMPARE(message.mid(9 + 5 * 3, 3), QByteArray("117"));
}

void TestUnitSimKey::decodes_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("offset");
    QTest::addColumn<bool>("lineEnd");

    QTest::newRow("defaults") << QByteArray("operator") << QByteArray("rig2400") << 117 << true;
    QTest::newRow("lowest offset") << QByteArray("abc") << QByteArray("xyz") << 30 << true;
    QTest::newRow("highest offset") << QByteArray("abc") << QByteArray("xyz") << 200 << true;
    QTest::newRow("ten characters each") << QByteArray("abcdefghij") << QByteArray("0123456789") << 64 << true;
    QTest::newRow("high bytes") << QByteArray("\xe9t\xe9") << QByteArray("p\xffss") << 99 << true;
    QTest::newRow("without CR LF") << QByteArray("operator") << QByteArray("rig2400") << 45 << false;
}

void TestUnitSimKey::decodes()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(int, offset);
    QFETCH(bool, lineEnd);

    for (int fill = 0; fill < 3; ++fill) {
        QByteArray message = keyMessage(user, password, offset, fill);
        if (!lineEnd)
            message.chop(2);
        const KeyDecoder::Result result = KeyDecoder::decode(message);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.user, user);
        QCOMPARE(result.password, password);
    }
}

void TestUnitSimKey::rejects_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("reason");

    const QByteArray good = keyMessage("operator", "rig2400", 100).chopped(2);
    auto withGroup = [&good](int group, const QByteArray &digits) {
        QByteArray text = good;
        text.replace(9 + group * 3, 3, digits);
        return text;
    };

    QTest::newRow("one digit short") << QByteArray(good).remove(20, 1) << QStringLiteral("wrong length");
    QTest::newRow("one digit over") << QByteArray(good).insert(20, '0') << QStringLiteral("wrong length");
    QTest::newRow("group of 256") << withGroup(200, "256") << QStringLiteral("above 255");
    QTest::newRow("group of 999") << withGroup(0, "999") << QStringLiteral("above 255");
    QTest::newRow("letter") << withGroup(30, "1a2") << QStringLiteral("not a digit");
    QTest::newRow("blank") << withGroup(30, " 12") << QStringLiteral("not a digit");
    QTest::newRow("offset 29") << withGroup(5, "029") << QStringLiteral("offset");
    QTest::newRow("offset 201") << withGroup(5, "201") << QStringLiteral("offset");
    QTest::newRow("no closing bracket") << good.chopped(1) << QStringLiteral("\"]\"");
    QTest::newRow("lower-case prefix") << QByteArray(good).replace(0, 9, "[pgp key ") << QStringLiteral("[PGP KEY");
    QTest::newRow("empty") << QByteArray() << QStringLiteral("[PGP KEY");
    QTest::newRow("keep-alive") << QByteArray("[KEEP ALIVE]") << QStringLiteral("[PGP KEY");
}

void TestUnitSimKey::rejects()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, reason);
    const KeyDecoder::Result result = KeyDecoder::decode(message);
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(reason), qPrintable(result.error));
    QVERIFY(result.user.isEmpty() && result.password.isEmpty());
}

void TestUnitSimKey::inputSurvivesAnySplit()
{
    const QByteArray key = keyMessage("operator", "rig2400", 150);
    const QByteArray stream = "[KEEP ALIVE]\r\n" + key + "hi\r[KEEP ALIVE]\r\n[x]" + key.chopped(2);

    auto check = [&key](const QList<ClientInput::Event> &events) {
        const QList<ClientInput::Event> all = merged(events);
        QCOMPARE(describe(all), QStringLiteral("keep-alive(12) key(775) typed(3) keep-alive(12) typed(3) key(775)"));
        QCOMPARE(all.at(1).bytes, key.chopped(2));
        QCOMPARE(all.at(2).bytes, QByteArray("hi\r"));
        QCOMPARE(all.at(4).bytes, QByteArray("[x]"));
    };

    // Two reads, cut at every place.
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        ClientInput input;
        QList<ClientInput::Event> events = input.feed(stream.left(cut));
        events += input.feed(stream.mid(cut));
        QVERIFY(!input.hasPending());
        check(events);
        if (QTest::currentTestFailed())
            QFAIL(qPrintable(QStringLiteral("cut at %1").arg(cut)));
    }
    // One byte per read.
    ClientInput input;
    QList<ClientInput::Event> events;
    for (const char c : stream)
        events += input.feed(QByteArray(1, c));
    check(events);
}

void TestUnitSimKey::inputLoneBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("beforeFlush");
    QTest::addColumn<QString>("afterFlush");

    QTest::newRow("typed enter") << QByteArray("\r\n") << "typed(2)" << "";
    QTest::newRow("typed bracket") << QByteArray("[") << "" << "typed(1)";
    QTest::newRow("half a keep-alive") << QByteArray("[KEEP AL") << "" << "typed(8)";
    QTest::newRow("half a key prefix") << QByteArray("[PGP") << "" << "typed(4)";
    QTest::newRow("key cut short") << QByteArray("[PGP KEY 123456") << "" << "key(15)";
    QTest::newRow("keep-alive without line end") << QByteArray("[KEEP ALIVE]") << "keep-alive(12)" << "";
    QTest::newRow("other bracket") << QByteArray("[KEEPER]") << "typed(8)" << "";
}

void TestUnitSimKey::inputLoneBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, beforeFlush);
    QFETCH(QString, afterFlush);
    ClientInput input;
    QCOMPARE(describe(merged(input.feed(bytes))), beforeFlush);
    QCOMPARE(input.hasPending(), !afterFlush.isEmpty());
    QCOMPARE(describe(merged(input.flush())), afterFlush);
    QVERIFY(!input.hasPending());
}

void TestUnitSimKey::inputRunawayKey()
{
    // A key message that never closes must not grow the buffer without end.
    ClientInput input;
    const QList<ClientInput::Event> events = input.feed("[PGP KEY " + QByteArray(2000, '1'));
    QVERIFY(!events.isEmpty());
    QCOMPARE(events.front().kind, Kind::KeyMessage);
    QCOMPARE(events.front().bytes.size(), ClientInput::MaxKeyMessage);
    QVERIFY(!KeyDecoder::decode(events.front().bytes).ok);
    QVERIFY(!input.hasPending());
}

QTEST_APPLESS_MAIN(TestUnitSimKey)
#include "tst_unitsim_key.moc"
