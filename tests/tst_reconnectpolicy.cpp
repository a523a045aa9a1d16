#include <QTest>

#include "fleet/reconnectpolicy.h"

namespace {

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '));
}

} // namespace

// The recorder's schedule of attempts on a clock and a random source the
// test turns by hand.
class tst_ReconnectPolicy : public QObject
{
    Q_OBJECT

private slots:
    void schedule_data();
    void schedule();
    void jitterStaysWithinItsBounds();
};

void tst_ReconnectPolicy::schedule_data()
{
    // Steps: "open", "up", "deliver", "+MS" (the clock moves on), "down"
    // (writes the wait), "silent?" (writes "silent" or "live").
    QTest::addColumn<QString>("steps");
    QTest::addColumn<double>("random");
    QTest::addColumn<QStringList>("expected");

    const QString refusedEight = QStringLiteral("open down open down open down open down open down open down open down open down");
    QTest::newRow("doubling to the cap, no spread")
        << refusedEight << 0.5
        << words("1000 2000 4000 8000 16000 32000 60000 60000");
    QTest::newRow("lowest spread") << refusedEight << 0.0
                                   << words("800 1600 3200 6400 12800 25600 48000 48000");
    QTest::newRow("highest spread, after the cap") << QStringLiteral("open down open down open down open down open down open down open down")
                                                   << 0.999999
                                                   << words("1200 2400 4800 9600 19200 38400 72000");
    QTest::newRow("a minute up starts again from 1 s")
        << QStringLiteral("open down open down open down open up +60000 down open down") << 0.5
        << words("1000 2000 4000 1000 2000");
    QTest::newRow("less than a minute up keeps doubling")
        << QStringLiteral("open down open down open up +59999 down") << 0.5
        << words("1000 2000 4000");
    QTest::newRow("silent after 120 s up")
        << QStringLiteral("open up +119999 silent? +1 silent?") << 0.5 << words("live silent");
    QTest::newRow("a delivery restarts the silence")
        << QStringLiteral("open up +100000 deliver +100000 silent? +20000 silent?") << 0.5 << words("live silent");
    QTest::newRow("an attempt that hangs is silent too")
        << QStringLiteral("open +120000 silent?") << 0.5 << words("silent");
    QTest::newRow("a silent link closed after a stable run waits 1 s")
        << QStringLiteral("open down open down open up +120000 silent? down") << 0.5
        << words("1000 2000 silent 1000");
    QTest::newRow("no silence while waiting to reopen")
        << QStringLiteral("open up +10 down +500000 silent?") << 0.5 << words("1000 live");
}

void tst_ReconnectPolicy::schedule()
{
    QFETCH(QString, steps);
    QFETCH(double, random);
    QFETCH(QStringList, expected);

    qint64 now = 1'000'000;
    ReconnectPolicy policy([&now] { return now; }, [random] { return random; });
    QStringList got;
    for (const QString &step : steps.split(QLatin1Char(' '))) {
        if (step == QLatin1String("open"))
            policy.opening();
        else if (step == QLatin1String("up"))
            policy.up();
        else if (step == QLatin1String("deliver"))
            policy.delivered();
        else if (step == QLatin1String("down"))
            got.append(QString::number(policy.down()));
        else if (step == QLatin1String("silent?"))
            got.append(policy.silent() ? QStringLiteral("silent") : QStringLiteral("live"));
        else if (step.startsWith(QLatin1Char('+')))
            now += step.mid(1).toLongLong();
        else
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
    }
    QCOMPARE(got, expected);
}

void tst_ReconnectPolicy::jitterStaysWithinItsBounds()
{
    // A fleet's waits spread over the whole band, never past it.
    qint64 now = 0;
    double next = 0.0;
    ReconnectPolicy policy([&now] { return now; }, [&next] { return next; });
    qint64 lowest = ReconnectPolicy::MaxDelayMs * 2;
    qint64 highest = 0;
    for (int i = 0; i < 1000; ++i) {
        next = i / 1000.0;
        for (int k = 0; k < 8; ++k) {
            policy.opening();
            (void)policy.down();
        }
        policy.opening();
        const qint64 wait = policy.down();
        lowest = std::min(lowest, wait);
        highest = std::max(highest, wait);
        policy.opening();
        policy.up();
        now += ReconnectPolicy::StableMs;
        (void)policy.down();
    }
    QCOMPARE(lowest, qint64(48000));
    QVERIFY2(highest >= 71900 && highest <= 72000, qPrintable(QString::number(highest)));
}

QTEST_APPLESS_MAIN(tst_ReconnectPolicy)
#include "tst_reconnectpolicy.moc"
