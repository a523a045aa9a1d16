#include <functional>

#include <QtTest>

#include "rules/alerts/alertrules.h"
#include "rules/stream/reading.h"
#include "rules/stream/unitstream.h"

// Each row drives the rules through a script and compares the transcript:
// the report line of every event, "W!" or "C!" when a tone is due, and
// "dim" or "lit" when the readings turn stale or current. The rules follow
// a unit's stream as they follow the link in the viewer: its state, its
// readings with their gas level, its staleness. Script steps: sN the link
// state N, rG or rG/E a packet with gas units G and error number E, +S
// seconds pass (the stream's 100 ms ticks, then the rules' tick), x the
// display reset, ack, mute.
class tst_AlertRules : public QObject
{
    Q_OBJECT

private slots:
    void transitions_data()
    {
        QTest::addColumn<int>("staleSeconds");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("transcript");

        QTest::newRow("gas follows the panel's hold")
            << 30 << "s7 r1300 r1500 r1300 r1800 r1500 r1100"
            << "[ALERT: HIGH GAS UNITS 0001] W! [ALERT END: HIGH GAS UNITS 0001] [ALERT: VERY HIGH GAS UNITS 0001] "
               "C! [ALERT END: VERY HIGH GAS UNITS 0001] [ALERT: HIGH GAS UNITS 0001] W! "
               "[ALERT END: HIGH GAS UNITS 0001]";
        QTest::newRow("repeats until acknowledged; a new alarm sounds, red to yellow does not")
            << 30 << "s7 r1500 +4.9 +0.1 ack ack +5 r1500/5 r1500/5 ack r1800/5 ack r1500/12"
            << "[ALERT: HIGH GAS UNITS 0001] W! W! [ALERT ACK] [ALERT: ALARM 5 HIGH SAMPLE FLOW RATE 0001] W! "
               "[ALERT ACK] [ALERT END: HIGH GAS UNITS 0001] [ALERT: VERY HIGH GAS UNITS 0001] C! [ALERT ACK] "
               "[ALERT END: VERY HIGH GAS UNITS 0001] [ALERT: HIGH GAS UNITS 0001] "
               "[ALERT END: ALARM 5 HIGH SAMPLE FLOW RATE 0001] [ALERT: ALARM 12 HIGH GAS UNITS 0001] W!";
        QTest::newRow("lost only from connected, dimmed until a packet")
            << 30 << "s6 s9 s0 s7 r1500/5 s8 s0 s7 r900"
            << "[ALERT: HIGH GAS UNITS 0001] [ALERT: ALARM 5 HIGH SAMPLE FLOW RATE 0001] W! "
               "[ALERT: LINK LOST, CLOSED BY UNIT 0001] C! dim [ALERT END: HIGH GAS UNITS 0001] "
               "[ALERT END: ALARM 5 HIGH SAMPLE FLOW RATE 0001] [ALERT END: LINK LOST, CLOSED BY UNIT 0001] lit";
        QTest::newRow("no data for the limit")
            << 30 << "+40 s7 +29.9 +0.1 +4 r900 +30 s9"
            << "[ALERT: NO DATA FOR 30 SECONDS 0001] C! dim [ALERT END: NO DATA FOR 30 SECONDS 0001] lit "
               "[ALERT: NO DATA FOR 30 SECONDS 0001] C! dim [ALERT END: NO DATA FOR 30 SECONDS 0001] "
               "[ALERT: LINK LOST, ERROR 0001] C!";
        QTest::newRow("limit 0: no stale alert, nothing dimmed")
            << 0 << "s7 +100 s8" << "[ALERT: LINK LOST, CLOSED BY UNIT 0001] C!";
        QTest::newRow("mute keeps warnings quiet until it ends or a critical one starts")
            << 0 << "s7 r1500 mute r900/5 +899 +1 mute r1500 r1800"
            << "[ALERT: HIGH GAS UNITS 0001] W! [ALERT MUTE 15 MIN] [ALERT END: HIGH GAS UNITS 0001] "
               "[ALERT: ALARM 5 HIGH SAMPLE FLOW RATE 0001] [ALERT MUTE END] W! [ALERT MUTE 15 MIN] "
               "[ALERT: HIGH GAS UNITS 0001] [ALERT END: ALARM 5 HIGH SAMPLE FLOW RATE 0001] "
               "[ALERT END: HIGH GAS UNITS 0001] [ALERT MUTE END] [ALERT: VERY HIGH GAS UNITS 0001] C!";
        QTest::newRow("a disconnect (closed, the display reset) starts the gas level afresh")
            << 30 << "s7 r1500 s0 x s7 r1300" << "[ALERT: HIGH GAS UNITS 0001] W! [ALERT END: HIGH GAS UNITS 0001]";
        QTest::newRow("gas that is no number neither ends nor restarts an alert")
            << 30 << "s7 r1900 rN/A r---- r r1900 r1300 r1100"
            << "[ALERT: VERY HIGH GAS UNITS 0001] C! [ALERT END: VERY HIGH GAS UNITS 0001]";
        QTest::newRow("acknowledged stays acknowledged across a gap in the gas")
            << 30 << "s7 r1900 ack rN/A +5 r1900 +5"
            << "[ALERT: VERY HIGH GAS UNITS 0001] C! [ALERT ACK]";
    }

    // The level rule the alerts share with the panel and the history, packet
    // by packet: the level after each gas-units field, "none" for a field
    // that is no reading.
    void gasLevelTracker_data()
    {
        QTest::addColumn<QByteArrayList>("fields");
        QTest::addColumn<QString>("levels");

        QTest::newRow("held from 1200 to 1400") << QByteArrayList{"1300", "1500", "1300", "1199.4", "1300"}
                                                << "unchanged yellow yellow green green";
        QTest::newRow("no number clears the hold")
            << QByteArrayList{"1900", "N/A", "1300", "1900", "----", "", " \t", "1100"}
            << "red none unchanged red none none none green";
        QTest::newRow("too large to show is no reading") << QByteArrayList{"1500", "1e400", "1300"}
                                                         << "yellow none unchanged";
        QTest::newRow("a leading number counts, blanks aside")
            << QByteArrayList{"  1800 ppm", "0", "-5"} << "red green green";
    }

    void gasLevelTracker()
    {
        QFETCH(QByteArrayList, fields);
        QFETCH(QString, levels);

        static const char *const names[] = {"unchanged", "green", "yellow", "red", "none"};
        readings::GasLevelTracker tracker;
        QStringList seen;
        for (const QByteArray &field : fields) {
            const readings::GasLevel level = tracker.update(field);
            seen << QLatin1String(names[static_cast<int>(level)]);
            if (level == readings::GasLevel::NoReading)
                QCOMPARE(tracker.level(), readings::GasLevel::Unchanged);
        }
        QCOMPARE(seen.join(QLatin1Char(' ')), levels);
    }

    void transitions()
    {
        QFETCH(int, staleSeconds);
        QFETCH(QString, script);
        QFETCH(QString, transcript);
        QCOMPARE(transcriptOf(staleSeconds, script), transcript);
    }

    // A unit's own gas levels (normal below, high above, very high above)
    // decide its gas alerts, with the panel's hold between the first two;
    // the defaults are the panel's levels exactly.
    void ownGasLevels_data()
    {
        QTest::addColumn<double>("clearBelow");
        QTest::addColumn<double>("highAbove");
        QTest::addColumn<double>("veryHighAbove");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("transcript");

        QTest::newRow("lower levels, held between")
            << 1000.0 << 1100.0 << 1300.0 << "s7 r1050 r1150 r1050 r1350 r1050 r900"
            << "[ALERT: HIGH GAS UNITS 0001] W! [ALERT END: HIGH GAS UNITS 0001] [ALERT: VERY HIGH GAS UNITS 0001] "
               "C! [ALERT END: VERY HIGH GAS UNITS 0001]";
        QTest::newRow("higher levels: the panel's red is no alert here")
            << 2000.0 << 2500.0 << 3000.0 << "s7 r1800 r2600 r3100 r1900"
            << "[ALERT: HIGH GAS UNITS 0001] W! [ALERT END: HIGH GAS UNITS 0001] [ALERT: VERY HIGH GAS UNITS 0001] "
               "C! [ALERT END: VERY HIGH GAS UNITS 0001]";
        QTest::newRow("a new connection starts the hold afresh")
            << 1000.0 << 1100.0 << 1300.0 << "s7 r1200 s0 s7 r1050"
            << "[ALERT: HIGH GAS UNITS 0001] W! [ALERT END: HIGH GAS UNITS 0001]";
        QTest::newRow("the defaults are the panel's") << 1200.0 << 1400.0 << 1750.0 << "s7 r1300 r1500 r1300 r1760"
                                                      << transcriptOf(30, QStringLiteral("s7 r1300 r1500 r1300 r1760"));
    }

    void ownGasLevels()
    {
        QFETCH(double, clearBelow);
        QFETCH(double, highAbove);
        QFETCH(double, veryHighAbove);
        QFETCH(QString, script);
        QFETCH(QString, transcript);
        const Result<readings::GasLevels> levels = readings::checkedGasLevels(clearBelow, highAbove, veryHighAbove);
        QVERIFY(levels);
        QCOMPARE(transcriptOf(30, script, *levels), transcript);
    }

    // Levels that do not rise, or are no numbers, are refused.
    void gasLevelsChecked_data()
    {
        QTest::addColumn<double>("clearBelow");
        QTest::addColumn<double>("highAbove");
        QTest::addColumn<double>("veryHighAbove");
        QTest::addColumn<bool>("valid");
        QTest::newRow("defaults") << 1200.0 << 1400.0 << 1750.0 << true;
        QTest::newRow("all equal: no hold") << 1500.0 << 1500.0 << 1500.0 << true;
        QTest::newRow("falling") << 1400.0 << 1200.0 << 1750.0 << false;
        QTest::newRow("very high below high") << 1200.0 << 1400.0 << 1300.0 << false;
        QTest::newRow("negative") << -1.0 << 1400.0 << 1750.0 << false;
        QTest::newRow("not a number") << 1200.0 << qQNaN() << 1750.0 << false;
        QTest::newRow("infinite") << 1200.0 << 1400.0 << qInf() << false;
    }

    void gasLevelsChecked()
    {
        QFETCH(double, clearBelow);
        QFETCH(double, highAbove);
        QFETCH(double, veryHighAbove);
        QFETCH(bool, valid);
        QCOMPARE(bool(readings::checkedGasLevels(clearBelow, highAbove, veryHighAbove)), valid);
    }

    // What is said aloud, sentence by sentence (" | " between them), as the
    // rules start and end conditions through a script.
    void spokenSentences_data()
    {
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("spoken");

        QTest::newRow("red gas, with the units of the reading that turned it")
            << "0001" << "s7 r1500 r1820.4 r1900 r1500 r1760"
            << "Unit 0001, gas high, 1820 units | Unit 0001, gas high, 1760 units";
        QTest::newRow("warnings and ends are not said") << "0001" << "s7 r1300 r1500/5 r1100/0" << "";
        QTest::newRow("link lost, each reason") << "0001" << "s7 s8 s0 s7 s9"
                                                 << "Unit 0001, link lost, closed by unit | Unit 0001, link lost, error";
        QTest::newRow("no data, with the stale limit") << "0001" << "s7 +31"
                                                        << "Unit 0001, no data for 30 seconds";
        QTest::newRow("no unit chosen") << "" << "s7 r2000" << "Gas high, 2000 units";
        QTest::newRow("a unit typed with blanks and letters")
            << "rig 7A" << "s7 r1800" << "Unit rig 7A, gas high, 1800 units";
        QTest::newRow("red after gas that was no number") << "0001" << "s7 r1900 rN/A r1300 r1100 r1950"
                                                          << "Unit 0001, gas high, 1900 units | Unit 0001, gas high, 1950 units";
    }

    void spokenSentences()
    {
        QFETCH(QString, unit);
        QFETCH(QString, script);
        QFETCH(QString, spoken);

        QStringList said;
        run(30, script, [&](const Events &events, alerts::AlertRules &, const UnitStream &, qint64) {
            for (const alerts::Event &event : events) {
                if (!alerts::spokenSentence(event).isEmpty())
                    said << alerts::spokenSentence(event);
            }
        }, unit);
        QCOMPARE(said.join(QStringLiteral(" | ")), spoken);
    }

private:
    // What a script shows: the report line of every event, the tones due,
    // the readings dimmed and lit again.
    static QString transcriptOf(int staleSeconds, const QString &script,
                                const readings::GasLevels &levels = readings::GasLevels())
    {
        bool dim = false;
        QStringList seen;
        run(staleSeconds, script, [&](const Events &events, alerts::AlertRules &rules, const UnitStream &stream, qint64 now) {
            for (const alerts::Event &event : events)
                seen << QString::fromLatin1(alerts::reportLine(event));
            const alerts::Tone tone = rules.dueTone(now);
            if (tone != alerts::Tone::None)
                seen << (tone == alerts::Tone::Critical ? QStringLiteral("C!") : QStringLiteral("W!"));
            if (stream.readingsStale() != dim) {
                dim = stream.readingsStale();
                seen << (dim ? QStringLiteral("dim") : QStringLiteral("lit"));
            }
        }, QStringLiteral("0001"), levels);
        return seen.join(QLatin1Char(' '));
    }

    using Events = alerts::AlertRules::Events;
    using Step = std::function<void(const Events &, alerts::AlertRules &, const UnitStream &, qint64 now)>;

    // Drives the rules through a script (steps as above) and hands over the
    // events of each step.
    static void run(int staleSeconds, const QString &script, const Step &step,
                    const QString &unit = QStringLiteral("0001"),
                    const readings::GasLevels &levels = readings::GasLevels())
    {
        UnitStream stream;
        stream.setSerial(unit);
        stream.setStaleSeconds(staleSeconds);
        alerts::AlertRules rules(staleSeconds);
        rules.setGasLevels(levels);
        Events events;
        const auto take = [&events](const Events &more) { events.insert(events.end(), more.begin(), more.end()); };
        QObject::connect(&stream, &UnitStream::stalenessChanged,
                         [&](readings::Staleness staleness) { take(rules.staleness(staleness, unit)); });
        QObject::connect(&stream, &UnitStream::linkStateChanged,
                         [&](std::int16_t state) { take(rules.linkState(state, unit)); });
        QObject::connect(&stream, &UnitStream::readingAccepted,
                         [&](const Reading &reading) { take(rules.reading(reading)); });

        qint64 now = 1000;
        for (const QString &word : script.split(QLatin1Char(' '))) {
            events.clear();
            if (word.startsWith(QLatin1Char('s'))) {
                stream.setLinkState(std::int16_t(word.mid(1).toInt()));
            } else if (word.startsWith(QLatin1Char('r'))) {
                // Twenty-one fields: the gas units in field 5, the error
                // number in field 21, no checksum.
                const QStringList values = word.mid(1).split(QLatin1Char('/'));
                QByteArrayList fields(21, "1");
                fields[4] = values.at(0).toLatin1();
                fields[20] = values.value(1, QStringLiteral("0")).toLatin1();
                stream.receive("*" + fields.join(',') + ",\r");
            } else if (word.startsWith(QLatin1Char('+'))) {
                const qint64 ms = qRound64(word.mid(1).toDouble() * 1000);
                for (qint64 tick = 0; tick < ms / 100; ++tick)
                    stream.tick();
                now += ms;
                take(rules.tick(now));
            } else if (word == QLatin1String("x")) {
                stream.forgetReadings();
            } else {
                take(word == QLatin1String("ack") ? rules.acknowledge() : rules.mute(now));
            }
            step(events, rules, stream, now);
        }
    }
};

QTEST_APPLESS_MAIN(tst_AlertRules)
#include "tst_alertrules.moc"
