#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

#include "app/alerts/alarmkeeper.h"
#include "history/historyrecorder.h"
#include "rules/alerts/alarmbook.h"
#include "rules/stream/unitstream.h"

using alerts::AlarmBook;
using alerts::AlarmChange;
using alerts::AlarmRow;
using alerts::Kind;
using alerts::Level;

namespace {

// The book after a script, one row a word group: "unit kind level value
// started-ended ack", e.g. "0001 gas C 1800 10- by@30" (a row still lasting
// shows no end, one not acknowledged shows "-").
QString shown(const std::vector<AlarmRow> &rows)
{
    QStringList out;
    for (const AlarmRow &row : rows) {
        out << QStringLiteral("%1 %2 %3 %4 %5-%6 %7")
                   .arg(row.unit, alerts::kindName(row.kind),
                        row.level == Level::Critical ? QStringLiteral("C") : QStringLiteral("W"),
                        row.value ? QString::number(*row.value) : QStringLiteral("_"))
                   .arg(row.startedMs)
                   .arg(row.endedMs ? QString::number(*row.endedMs) : QString())
                   .arg(row.acknowledged() ? row.acknowledgedBy + QLatin1Char('@') + QString::number(*row.acknowledgedMs)
                                           : QStringLiteral("-"));
    }
    return out.join(QStringLiteral(" | "));
}

// Script steps, separated by ";": "@T start UNIT KIND W|C VALUE", "@T end
// UNIT KIND", "@T ack UNIT KIND BY", "@T ackunit UNIT BY". Every change the
// book reports is kept, so the caller can replay them.
std::vector<AlarmChange> run(AlarmBook &book, const char *steps)
{
    std::vector<AlarmChange> changes;
    const QString script = QString::fromLatin1(steps);
    for (const QString &step : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList w = step.simplified().split(QLatin1Char(' '));
        const qint64 at = w[0].mid(1).toLongLong();
        std::optional<AlarmChange> change;
        if (w[1] == QLatin1String("start")) {
            const Level level = w[4] == QLatin1String("C") ? Level::Critical : Level::Warning;
            const QString text = alerts::kindWords(*alerts::kindNamed(w[3])).toUpper() + QLatin1Char(' ') + w[4];
            change = book.start(w[2], *alerts::kindNamed(w[3]), level, text, w[5].toDouble(), at);
        } else if (w[1] == QLatin1String("end")) {
            change = book.end(w[2], *alerts::kindNamed(w[3]), at);
        } else if (w[1] == QLatin1String("ack")) {
            change = book.acknowledge(w[2], *alerts::kindNamed(w[3]), w[4], at);
        } else if (w[1] == QLatin1String("ackunit")) {
            change = book.acknowledgeUnit(w[2], w[3], at);
        } else {
            qFatal("unknown step %s", qPrintable(step));
        }
        if (change)
            changes.push_back(*change);
    }
    return changes;
}

} // namespace

class tst_AlarmBook : public QObject
{
    Q_OBJECT

private slots:
    void latchesAndAcknowledges_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<int>("changes");

        QTest::newRow("a row stays after its condition ends, until acknowledged")
            << "@10 start 0001 gas W 1450; @20 end 0001 gas" << "0001 gas W 1450 10-20 -" << 2;
        QTest::newRow("acknowledged and over: the row leaves")
            << "@10 start 0001 gas W 1450; @20 end 0001 gas; @30 ack 0001 gas ann" << "" << 3;
        QTest::newRow("acknowledged while lasting stays until it ends")
            << "@10 start 0001 gas W 1450; @30 ack 0001 gas ann" << "0001 gas W 1450 10- ann@30" << 2;
        QTest::newRow("acknowledged, then over: gone")
            << "@10 start 0001 gas W 1450; @30 ack 0001 gas ann; @40 end 0001 gas" << "" << 3;
        QTest::newRow("starting again while open updates the row, keeping its first start")
            << "@10 start 0001 gas W 1450; @20 end 0001 gas; @25 start 0001 gas W 1500"
            << "0001 gas W 1500 10- -" << 3;
        QTest::newRow("not acknowledged: the worst level stays")
            << "@10 start 0001 gas W 1450; @20 start 0001 gas C 1800; @30 start 0001 gas W 1500"
            << "0001 gas C 1800 10- -" << 3;
        QTest::newRow("acknowledged: follows the level down, quietly")
            << "@10 start 0001 gas C 1800; @20 ack 0001 gas ann; @30 start 0001 gas W 1500"
            << "0001 gas W 1500 10- ann@20" << 3;
        QTest::newRow("acknowledged: a rise calls for a new acknowledgement")
            << "@10 start 0001 gas W 1450; @20 ack 0001 gas ann; @30 start 0001 gas C 1800"
            << "0001 gas C 1800 10- -" << 3;
        QTest::newRow("the same condition told again is no change")
            << "@10 start 0001 gas W 1450; @11 start 0001 gas W 1450; @12 end 0001 gas; @13 end 0001 gas"
            << "0001 gas W 1450 10-12 -" << 2;
        QTest::newRow("over and acknowledged, a new start is a new row")
            << "@10 start 0001 gas W 1450; @20 end 0001 gas; @30 ack 0001 gas ann; @40 start 0001 gas W 1460"
            << "0001 gas W 1460 40- -" << 4;
        QTest::newRow("one row per kind and unit; unacknowledged first, then newest")
            << "@10 start 0001 gas W 1450; @20 start 0002 link C 0; @30 start 0001 alarm W 5; @40 ack 0001 alarm bo"
            << "0002 link C 0 20- - | 0001 gas W 1450 10- - | 0001 alarm W 5 30- bo@40" << 4;
        QTest::newRow("acknowledging a unit takes all its rows and no other unit's")
            << "@10 start 0001 gas W 1450; @20 end 0001 gas; @30 start 0001 nodata C 30; @35 start 0002 gas W 1401;"
               " @40 ackunit 0001 cy; @50 ackunit 0001 cy"
            << "0002 gas W 1401 35- - | 0001 nodata C 30 30- cy@40" << 5;
        QTest::newRow("acknowledging what is not there is no change")
            << "@10 ack 0001 gas ann; @20 ackunit 0003 ann; @30 end 0001 link" << "" << 0;
    }

    void latchesAndAcknowledges()
    {
        QFETCH(QString, script);
        QFETCH(QString, rows);
        QFETCH(int, changes);
        AlarmBook book;
        const std::vector<AlarmChange> made = run(book, qPrintable(script));
        QCOMPARE(shown(book.rows()), rows);
        QCOMPARE(int(made.size()), changes);

        // The changes, read back in order as from the history, make the
        // same book: this is how the list survives a restart.
        AlarmBook replayed;
        for (const AlarmChange &change : made)
            QVERIFY(replayed.replay(change));
        QCOMPARE(shown(replayed.rows()), rows);
    }

    void worstUnacknowledged()
    {
        AlarmBook book;
        run(book, "@10 start 0001 gas W 1450; @20 start 0001 link C 0; @30 start 0002 alarm W 5");
        QCOMPARE(book.worstUnacknowledged(QStringLiteral("0001")), std::optional<Level>(Level::Critical));
        QCOMPARE(book.worstUnacknowledged(QStringLiteral("0002")), std::optional<Level>(Level::Warning));
        QCOMPARE(book.worstUnacknowledged(QStringLiteral("0003")), std::nullopt);
        QCOMPARE(book.unacknowledgedCount(), 3);
        run(book, "@40 ack 0001 link ann");
        QCOMPARE(book.worstUnacknowledged(QStringLiteral("0001")), std::optional<Level>(Level::Warning));
        run(book, "@50 ackunit 0001 ann");
        QCOMPARE(book.worstUnacknowledged(QStringLiteral("0001")), std::nullopt);
        QCOMPARE(book.unacknowledgedCount(), 1);
    }

    // Events that are not the book's own, or damaged, change nothing.
    void replayRefusesWhatItDidNotWrite_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("unit");
        QTest::addColumn<QString>("detail");
        QTest::newRow("another kind") << "alert start" << "0001" << R"({"kind":"gas","level":"warning"})";
        QTest::newRow("no unit") << "alarm start" << "" << R"({"kind":"gas","level":"warning"})";
        QTest::newRow("unknown condition") << "alarm start" << "0001" << R"({"kind":"smoke","level":"warning"})";
        QTest::newRow("unknown level") << "alarm start" << "0001" << R"({"kind":"gas","level":"loud"})";
        QTest::newRow("not JSON") << "alarm start" << "0001" << "gas warning";
        QTest::newRow("end of nothing named") << "alarm end" << "0001" << "{}";
    }

    void replayRefusesWhatItDidNotWrite()
    {
        QFETCH(QString, kind);
        QFETCH(QString, unit);
        QFETCH(QString, detail);
        AlarmBook book;
        QVERIFY(!book.replay({10, unit, kind, detail}));
        QVERIFY(book.empty());
    }

    // The list survives a restart: the keeper's changes go into the
    // viewer's history as events through its recorder, and a keeper started
    // afresh on that file shows the same rows, acknowledgements and all.
    // The alert controller's level change (an end and a start in one step)
    // updates its row.
    void survivesARestart()
    {
        QTemporaryDir dir;
        HistoryRecorder::Options options;
        options.path = dir.filePath(QStringLiteral("history.sqlite3"));
        UnitStream stream;
        qint64 now = QDateTime::currentMSecsSinceEpoch() - 60000;
        QString before;
        {
            HistoryRecorder recorder(stream, options);
            recorder.setRecording(true);
            AlarmKeeper keeper({[&now] { return now; }, QStringLiteral("ann")});
            connect(&keeper, &AlarmKeeper::changeMade, &recorder, [&recorder](const AlarmChange &change) {
                recorder.recordEvent(change.unit, change.kind, change.detail, change.timeMs);
            });
            using Type = alerts::Event::Type;
            const auto gas = [](Type type, Level level, const char *text, double value) {
                return alerts::Event{type, level, QString::fromLatin1(text), QStringLiteral("1001"), Kind::GasLevel, value};
            };
            keeper.follow({gas(Type::Started, Level::Warning, "HIGH GAS UNITS", 1450)}, QStringLiteral("0001"));
            now += 1000;
            keeper.follow({gas(Type::Ended, Level::Warning, "HIGH GAS UNITS", 1450),
                           gas(Type::Started, Level::Critical, "VERY HIGH GAS UNITS", 1800)},
                          QStringLiteral("0001"));
            now += 1000;
            keeper.conditionStarted(QStringLiteral("0002"), Kind::LinkLost, Level::Critical,
                                    QStringLiteral("LINK LOST, ERROR"), std::nullopt);
            keeper.conditionStarted(QStringLiteral("0003"), Kind::NoData, Level::Critical,
                                    QStringLiteral("NO DATA FOR 30 SECONDS"), 30);
            now += 1000;
            keeper.acknowledge(QStringLiteral("0002"), Kind::LinkLost);
            keeper.follow({{Type::Acknowledged, Level::Warning, {}, {}}}, QStringLiteral("0003"));
            keeper.conditionEnded(QStringLiteral("0003"), Kind::NoData);
            keeper.conditionEnded(QStringLiteral("0002"), Kind::LinkLost);
            keeper.conditionStarted(QStringLiteral("0004"), Kind::UnitAlarm, Level::Warning,
                                    QStringLiteral("ALARM 5 HIGH SAMPLE FLOW RATE"), 5);
            // Acknowledged on the panel (F3), then falling back: the row
            // follows, still acknowledged.
            keeper.follow({{Type::Acknowledged, Level::Warning, {}, {}}}, QStringLiteral("0001"));
            keeper.follow({gas(Type::Ended, Level::Critical, "VERY HIGH GAS UNITS", 1800),
                           gas(Type::Started, Level::Warning, "HIGH GAS UNITS", 1500)},
                          QStringLiteral("0001"));
            before = shown(keeper.book().rows());
            recorder.setRecording(false);
        }
        const qint64 start = now - 3000;
        QCOMPARE(before, QStringLiteral("0004 alarm W 5 %2- - | 0001 gas W 1500 %1- ann@%2").arg(start).arg(start + 3000));

        // Rows lasting when the viewer stopped are over as far as the list
        // can tell: they end at the restart, recorded as any end, and an
        // acknowledged one leaves.
        const qint64 restart = now + 60000;
        AlarmKeeper restarted({[restart] { return restart; }, QStringLiteral("bo")});
        QSignalSpy changed(&restarted, &AlarmKeeper::changed);
        QSignalSpy recorded(&restarted, &AlarmKeeper::changeMade);
        const Result<void> restored = restarted.restore(options.path, 0);
        QVERIFY2(restored, qPrintable(restored ? QString() : restored.reason()));
        QCOMPARE(shown(restarted.book().rows()),
                 QStringLiteral("0004 alarm W 5 %1-%2 -").arg(start + 3000).arg(restart));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(recorded.size(), 2);

        // No history yet is an empty list, not a failure.
        QVERIFY(AlarmKeeper().restore(dir.filePath(QStringLiteral("none.sqlite3")), 0));
    }
};

QTEST_MAIN(tst_AlarmBook)
#include "tst_alarmbook.moc"
