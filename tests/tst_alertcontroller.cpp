#include <QAction>
#include <QStandardPaths>
#include <QtTest>

#include "app/alerts/alertcontroller.h"
#include "app/stream/trafficwindow.h"
#include "app/viewerextras.h"
#include "app/viewerwindow.h"
#include "link/unitlink.h"
#include "support/testsupport.h"

namespace {

// Tones and desktop messages, recorded in one list in the order they came.
struct FakeDesktop : AlertSound, AlertNotifier
{
    FakeDesktop(QStringList &record, bool hasDevice) : log(record), device(hasDevice) {}
    bool play(alerts::Tone tone) override
    {
        log << QString::fromLatin1(tone == alerts::Tone::Critical ? "C!" : "W!");
        return device;
    }
    void notify(alerts::Level, const QString &title, const QString &text) override
    {
        log << title + QStringLiteral(": ") + text;
    }
    QStringList &log;
    bool device;
};

// A packet of 21 fields with these gas units (field 5) and error number.
QByteArray packet(const QByteArray &gas, const QByteArray &error = "0")
{
    QList<QByteArray> fields(21, "1");
    fields[4] = gas;
    fields[20] = error;
    return support::packet(fields);
}

// A window that is no main window at all: the controller needs nothing of
// the panel beyond the narrow edge.
class EdgeOnly : public QWidget, public ViewerWindow
{
public:
    explicit EdgeOnly(FakeSocket *socket) : link(socket, this) { link.stop(); }
    void reportLine(const QByteArray &line) override { lines << line; }
    QString chosenUnit() const override { return QStringLiteral("0001"); }
    void showReadingsStale(bool stale) override { staleShown << stale; }
    bool isActive() const override { return false; }
    QMenu *extrasMenu() const override { return nullptr; }
    void setZoom(int) override {}
    const QString &programDirectory() const override { return folder; }
    QWidget &widget() override { return *this; }
    UnitLink &unitLink() override { return link; }
    const TrafficWindow &trafficWindow() const override { return traffic; }

    UnitLink link;
    TrafficWindow traffic;
    QString folder;
    QByteArrayList lines;
    QList<bool> staleShown;
};

} // namespace

// The controller on a connected window with a scripted socket; its clock is
// the test's, its settings file lies in the fixture's folder.
class tst_AlertController : public QObject
{
    Q_OBJECT

    std::unique_ptr<support::WindowFixture> fixture;
    std::unique_ptr<AlertController> alerts;
    QStringList desktop;
    qint64 now = 0;

    void open(bool device = true)
    {
        AlertOptions options;
        options.sound = std::make_unique<FakeDesktop>(desktop, device);
        options.notifier = std::make_unique<FakeDesktop>(desktop, device);
        options.clock = [this] { return now; };
        options.settingsFile = fixture->dir.filePath(QStringLiteral("settings.ini"));
        alerts = std::make_unique<AlertController>(fixture->w(), std::move(options));
        fixture->socket->state = SocketControl::Connected;
        fixture->w().Winsock_state();
    }

    int traffic(const char *line) const
    {
        return QString::fromLatin1(fixture->w().trafficContent()).count(QString::fromLatin1(line));
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        alerts.reset();
        fixture = std::make_unique<support::WindowFixture>();
        desktop.clear();
        now = 0;
    }

    void soundsShowsRepeatsUntilAcknowledged()
    {
        open();
        QSignalSpy events(alerts.get(), &AlertController::alertEvent);
        fixture->feed(packet("1800"));
        QCOMPARE(traffic("[ALERT: VERY HIGH GAS UNITS]"), 1);
        now = 5000;
        alerts->tick();
        alerts->acknowledge();
        now = 10000;
        alerts->tick();
        QCOMPARE(desktop, (QStringList{QStringLiteral("Critical alert: VERY HIGH GAS UNITS"), QStringLiteral("C!"),
                                       QStringLiteral("C!")}));
        QCOMPARE(traffic("[ALERT ACK]"), 1);
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
        now = 30000;
        auto *tick = support::child<QTimer>(fixture->w(), "tmr_delay");
        tick->start(1);
        QTRY_COMPARE(fixture->w().readingsStale(), limit > 0);
        tick->stop();
        fixture->feed(packet("900"));
        QVERIFY(!fixture->w().readingsStale());
    }

    void noSoundDeviceOnceAndSoundOff()
    {
        open(false);
        fixture->feed(packet("1500", "5"));
        fixture->feed(packet("1800", "7"));
        QCOMPARE(traffic("[ALERT ERR: no sound device]"), 1);
        // The setting outlives the controller.
        alerts->setSoundOn(false);
        alerts.reset();
        desktop.clear();
        open();
        fixture->feed(packet("1800"));
        QVERIFY(!desktop.isEmpty() && !desktop.contains(QStringLiteral("C!")));
    }

    void needsOnlyTheEdge()
    {
        auto *socket = new FakeSocket;
        EdgeOnly edge(socket);
        AlertOptions options;
        options.sound = std::make_unique<FakeDesktop>(desktop, true);
        options.notifier = std::make_unique<FakeDesktop>(desktop, true);
        options.clock = [this] { return now; };
        options.settingsFile = fixture->dir.filePath(QStringLiteral("edge.ini"));
        QSettings(options.settingsFile, QSettings::IniFormat).setValue(QStringLiteral("alerts/staleSeconds"), 2);
        AlertController controller(edge, std::move(options));
        socket->state = SocketControl::Connected;
        edge.link.refreshState();
        socket->queue(packet("1800"));
        edge.link.poll();
        QCOMPARE(edge.lines, QByteArrayList{"[ALERT: VERY HIGH GAS UNITS]"});
        // The link's staleness, by the limit the controller gave it: the
        // no-data alert and the dimming come with its 20th tick.
        for (int tick = 0; tick < 20; ++tick)
            edge.link.tick();
        QCOMPARE(edge.lines.last(), QByteArray("[ALERT: NO DATA FOR 2 SECONDS]"));
        QCOMPARE(edge.staleShown.last(), true);
        QCOMPARE(desktop.first(), QStringLiteral("Critical alert: VERY HIGH GAS UNITS"));
    }

    void tonesCompiledInAndKeysInTheMenu()
    {
        for (const char *name : {":/alerts/warning.wav", ":/alerts/critical.wav"}) {
            QFile tone(QString::fromLatin1(name));
            QVERIFY2(tone.open(QIODevice::ReadOnly) && tone.read(12).endsWith("WAVE"), name);
        }
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
