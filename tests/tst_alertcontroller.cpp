#include <QAction>
#include <QStandardPaths>
#include <QtTest>

#include "alerts/alertcontroller.h"
#include "app/viewerextras.h"
#include "support/testsupport.h"

namespace {

struct RecordingSound : AlertSound
{
    QList<alerts::Tone> &played;
    bool device = true;
    explicit RecordingSound(QList<alerts::Tone> &record) : played(record) {}
    bool play(alerts::Tone tone) override
    {
        played << tone;
        return device;
    }
};

struct RecordingNotifier : AlertNotifier
{
    QStringList &shown;
    explicit RecordingNotifier(QStringList &record) : shown(record) {}
    void notify(alerts::Level, const QString &title, const QString &message) override
    {
        shown << title + QStringLiteral(": ") + message;
    }
};

QByteArray packet(const QByteArray &gas, const QByteArray &error = "0")
{
    QList<QByteArray> fields(21, "1");
    fields[4] = gas;
    fields[20] = error;
    return support::packet(fields);
}

} // namespace

// The controller on a window with a scripted socket, its tones, messages
// and clock recorded, its settings in the fixture's folder.
class tst_AlertController : public QObject
{
    Q_OBJECT

    std::unique_ptr<support::WindowFixture> fixture;
    std::unique_ptr<AlertController> alerts;
    QList<alerts::Tone> played;
    QStringList shown;
    qint64 now = 0;
    bool device = true;

    void open()
    {
        AlertOptions options;
        auto sound = std::make_unique<RecordingSound>(played);
        sound->device = device;
        options.sound = std::move(sound);
        options.notifier = std::make_unique<RecordingNotifier>(shown);
        options.clock = [this] { return now; };
        options.settingsFile = fixture->dir.filePath(QStringLiteral("settings.ini"));
        alerts = std::make_unique<AlertController>(fixture->w(), std::move(options));
        fixture->socket->state = SocketControl::Connected;
        fixture->w().Winsock_state();
    }

    QString traffic() const { return QString::fromLatin1(fixture->w().trafficContent()); }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        alerts.reset();
        fixture = std::make_unique<support::WindowFixture>();
        played.clear();
        shown.clear();
        now = 0;
        device = true;
    }

    void alertSoundsShowsAndIsAcknowledged()
    {
        open();
        QSignalSpy events(alerts.get(), &AlertController::alertEvent);
        fixture->feed(packet("1800"));
        QVERIFY(traffic().contains(QStringLiteral("[ALERT: VERY HIGH GAS UNITS]")));
        QCOMPARE(played, QList<alerts::Tone>{alerts::Tone::Critical});
        QCOMPARE(shown, QStringList{QStringLiteral("Critical alert: VERY HIGH GAS UNITS")});
        now += 5000;
        alerts->tick();
        QCOMPARE(played.size(), 2);
        alerts->acknowledge();
        now += 5000;
        alerts->tick();
        QCOMPARE(played.size(), 2);
        QVERIFY(traffic().contains(QStringLiteral("[ALERT ACK]")));
        QCOMPARE(events.size(), 2);
        QCOMPARE(events.at(1).at(1).toString(), QStringLiteral("alert ack"));
    }

    void staleReadingsDim_data()
    {
        QTest::addColumn<int>("limit");
        QTest::newRow("default 30 s") << 30;
        QTest::newRow("off") << 0;
    }

    void staleReadingsDim()
    {
        QFETCH(int, limit);
        QSettings(fixture->dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat)
            .setValue(QStringLiteral("alerts/staleSeconds"), limit);
        open();
        fixture->feed(packet("900"));
        // The window's own tick drives the stale clock.
        auto *tick = support::child<QTimer>(fixture->w(), "tmr_delay");
        now = 29900;
        alerts->tick();
        QVERIFY(!fixture->w().readingsStale());
        now = 30000;
        tick->start(1);
        QTRY_COMPARE(fixture->w().readingsStale(), limit > 0);
        tick->stop();
        fixture->feed(packet("900"));
        QVERIFY(!fixture->w().readingsStale());
        fixture->socket->state = SocketControl::Error;
        fixture->w().Winsock_state();
        QCOMPARE(fixture->w().readingsStale(), limit > 0);
        QVERIFY(traffic().contains(QStringLiteral("[ALERT: LINK LOST, ERROR]")));
    }

    void noSoundDeviceReportedOnceAndSoundOff()
    {
        device = false;
        open();
        fixture->feed(packet("1500", "5"));
        fixture->feed(packet("1800", "7"));
        QCOMPARE(traffic().count(QStringLiteral("[ALERT ERR: no sound device]")), 1);

        // The setting outlives the controller.
        alerts->setSoundOn(false);
        alerts.reset();
        played.clear();
        open();
        fixture->feed(packet("1800"));
        QVERIFY(!alerts->soundOn());
        QVERIFY(played.isEmpty());
    }

    void tonesAreCompiledIn()
    {
        for (const char *name : {":/alerts/warning.wav", ":/alerts/critical.wav"}) {
            QFile tone(QString::fromLatin1(name));
            QVERIFY2(tone.open(QIODevice::ReadOnly), name);
            const QByteArray header = tone.read(12);
            QVERIFY(header.startsWith("RIFF") && header.endsWith("WAVE"));
        }
    }

    void functionKeysInTheMenu()
    {
        ViewerExtras extras(fixture->w());
        QHash<QString, QString> keys;
        for (QAction *action : fixture->w().actions())
            keys.insert(action->shortcut().toString(), action->text());
        QCOMPARE(keys.value(QStringLiteral("F3")), QStringLiteral("Acknowledge alerts"));
        QCOMPARE(keys.value(QStringLiteral("F4")), QStringLiteral("Mute for 15 minutes"));
    }
};

QTEST_MAIN(tst_AlertController)
#include "tst_alertcontroller.moc"
