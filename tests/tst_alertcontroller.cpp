#include <QAction>
#include <QPushButton>
#include <QTreeWidget>
#include <QLineEdit>
#include <QMenu>
#include <QStandardPaths>
#include <QVBoxLayout>
#include <QtTest>

#include "app/aboutbox.h"
#include "app/alerts/alarmkeeper.h"
#include "app/alerts/alarmlistwindow.h"
#include "app/alerts/alertcontroller.h"
#include "app/alerts/muteindicator.h"
#include "app/stream/trafficwindow.h"
#include "app/trends/trendswindow.h"
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

// What would have been said, or the reason there is nothing to say it with.
struct FakeSpeech : AlertSpeech
{
    FakeSpeech(QStringList &record, QString missing) : said(record), failure(std::move(missing)) {}
    Result<void> say(const QString &sentence) override
    {
        said << sentence;
        if (failure.isEmpty())
            return {};
        return ::failure(failure);
    }
    QStringList &said;
    QString failure;
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
    QWidget &indicatorPlace() override { return *this; }
    void watchUnit(const QString &) override {}
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
    QStringList said;
    qint64 now = 0;

    // The desktop's sound and messages written down, on a sound device or
    // none, the test's clock, and a settings file in the fixture's folder.
    AlertOptions fakeDesktop(bool device, const QString &settingsFile = QStringLiteral("settings.ini"))
    {
        AlertOptions options;
        options.sound = std::make_unique<FakeDesktop>(desktop, device);
        options.notifier = std::make_unique<FakeDesktop>(desktop, device);
        options.clock = [this] { return now; };
        options.settingsFile = fixture->dir.filePath(settingsFile);
        return options;
    }

    // The controller on the fixture's window, its speech written down (or
    // failing with noSpeech), the link up.
    void open(bool device = true, const QString &noSpeech = QString(),
              std::function<readings::GasLevels(const QString &)> gasLevels = {})
    {
        AlertOptions options = fakeDesktop(device);
        options.gasLevels = std::move(gasLevels);
        options.speech = std::make_unique<FakeSpeech>(said, noSpeech);
        alerts = std::make_unique<AlertController>(fixture->w(), std::move(options));
        setLink(SocketControl::Connected);
    }

    void setLink(std::int16_t state)
    {
        fixture->socket->state = state;
        fixture->w().Winsock_state();
    }

    // F2 in the main window, shown and active: the trends window it opened.
    TrendsWindow *trendsByF2()
    {
        fixture->w().show();
        if (!QTest::qWaitForWindowExposed(&fixture->w()))
            return nullptr;
        fixture->w().activateWindow();
        if (!QTest::qWaitForWindowActive(&fixture->w()))
            return nullptr;
        QTest::keyClick(&fixture->w(), Qt::Key_F2);
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *found = qobject_cast<TrendsWindow *>(top))
                return found;
        }
        return nullptr;
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
        said.clear();
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
        AlertOptions options = fakeDesktop(true, QStringLiteral("edge.ini"));
        options.speech = std::make_unique<FakeSpeech>(said, QString());
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

    // A critical start is said once, besides the tone: not again while it
    // lasts and its tone repeats, not for a warning, again when it starts
    // afresh; not at all once turned off, which outlives the controller.
    void speaksEachCriticalStartOnce()
    {
        open();
        fixture->feed(packet("1820"));
        fixture->feed(packet("1900"));
        now = 5000;
        alerts->tick();
        fixture->feed(packet("1500", "5"));
        fixture->feed(packet("1760"));
        // No unit was connected by its serial here: the sentence goes without.
        QCOMPARE(said, (QStringList{QStringLiteral("Gas high, 1820 units"), QStringLiteral("Gas high, 1760 units")}));
        QCOMPARE(desktop.count(QStringLiteral("C!")), 3);

        alerts->setSpeechOn(false);
        alerts.reset();
        said.clear();
        open();
        QVERIFY(!alerts->speechOn());
        fixture->feed(packet("1900"));
        QVERIFY(said.isEmpty());
        QVERIFY(desktop.contains(QStringLiteral("C!")));
    }

    // Without an engine: one line, whatever number of alerts follow, and
    // the tones and lines go on as ever.
    void noSpeechEngineOneLine()
    {
        open(true, QStringLiteral("no speech engine"));
        fixture->feed(packet("1900"));
        fixture->feed(packet("900"));
        fixture->feed(packet("1950"));
        QCOMPARE(said.size(), 2);
        QCOMPARE(traffic("[ALERT ERR: "), 1);
        QCOMPARE(traffic("[ALERT ERR: no speech engine]"), 1);
        QCOMPARE(traffic("[ALERT: VERY HIGH GAS UNITS]"), 2);
        QCOMPARE(desktop.count(QStringLiteral("C!")), 2);
    }

    // The program's own speech on this machine: whether or not it has an
    // engine, nothing waits, nothing breaks, and at most one line is
    // written.
    void realSpeechNeverBlocks()
    {
        alerts = std::make_unique<AlertController>(fixture->w(), fakeDesktop(true));
        setLink(SocketControl::Connected);
        fixture->feed(packet("1900"));
        fixture->feed(packet("900"));
        fixture->feed(packet("1900"));
        QVERIFY(traffic("[ALERT ERR: ") <= 1);
        QCOMPARE(traffic("[ALERT: VERY HIGH GAS UNITS]"), 2);
    }

    // A setting that is neither on nor off is reported and leaves speech
    // (and sound) on.
    void onOffSettingsThatDoNotRead_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("on");
        QTest::addColumn<QString>("report");

        QTest::newRow("speech off") << "alerts/speech" << "false" << false << "";
        QTest::newRow("speech off, as typed") << "alerts/speech" << " Off " << false << "";
        QTest::newRow("speech slip") << "alerts/speech" << "flase" << true
                                     << "[SETTINGS ERR: alerts/speech=flase is neither true nor false; true is used]";
        QTest::newRow("sound slip") << "alerts/sound" << "2" << true
                                    << "[SETTINGS ERR: alerts/sound=2 is neither true nor false; true is used]";
    }

    void onOffSettingsThatDoNotRead()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QFETCH(bool, on);
        QFETCH(QString, report);

        QSettings(fixture->dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat).setValue(key, value);
        open();
        QCOMPARE(key.endsWith(QLatin1String("speech")) ? alerts->speechOn() : alerts->soundOn(), on);
        QCOMPARE(traffic("[SETTINGS ERR: "), report.isEmpty() ? 0 : 1);
        if (!report.isEmpty())
            QCOMPARE(traffic(report.toLatin1().constData()), 1);
    }

    // The mute in another window: shown at once with the time left,
    // counting down with the controller's clock, gone when it ends or a
    // critical alert ends it; one opened during a mute shows it too.
    void muteShownInAnyWindow()
    {
        open();
        QWidget other;
        auto *layout = new QVBoxLayout(&other);
        layout->addWidget(new QLabel(QStringLiteral("charts"), &other));
        auto *muted = new MuteIndicator(*alerts, &other);
        layout->insertWidget(0, muted);
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        QVERIFY(!muted->isVisible());

        QSignalSpy changes(alerts.get(), &AlertController::muteChanged);
        alerts->mute();
        QVERIFY(muted->isVisible());
        QCOMPARE(muted->text(), QStringLiteral("Alerts muted, 15:00 left"));
        now = 61500;
        alerts->tick();
        QCOMPARE(muted->text(), QStringLiteral("Alerts muted, 13:59 left"));
        now = 61900;
        alerts->tick();
        QCOMPARE(changes.size(), 2);  // once a second, not once a tick

        // A place without a layout (a line of text) shows it, short, over
        // its right end, within its height, and keeps it there.
        QLineEdit line;
        line.resize(400, 20);
        auto *corner = new MuteIndicator(*alerts, &line);
        corner->keepAtRightEnd();
        line.show();
        QVERIFY(QTest::qWaitForWindowExposed(&line));
        QVERIFY(corner->isVisible());
        QCOMPARE(corner->text(), QStringLiteral("MUTED 13:59"));
        QVERIFY(line.rect().contains(corner->geometry()));
        QCOMPARE(corner->geometry().right(), line.rect().right() - 1);
        line.resize(600, 30);
        QTRY_COMPARE(corner->geometry().right(), 598);

        now = alerts::AlertRules::MuteMs - 1;
        alerts->tick();
        QCOMPARE(muted->text(), QStringLiteral("Alerts muted, 0:01 left"));
        now = alerts::AlertRules::MuteMs;
        alerts->tick();
        QVERIFY(!muted->isVisible() && !corner->isVisible());
        QCOMPARE(alerts->muteSecondsLeft(), 0);

        alerts->mute();
        QVERIFY(muted->isVisible());
        fixture->feed(packet("1900"));
        QVERIFY(!muted->isVisible() && !corner->isVisible());
    }

    // The viewer's other windows take the function keys and the right-click
    // menu as the main window does, and show the mute.
    void keysAndMenuFromTheTrendsWindow()
    {
        ViewerExtras extras(fixture->w());
        TrendsWindow *trends = trendsByF2();
        QVERIFY(trends && trends->isVisible());
        QVERIFY(QTest::qWaitForWindowActive(trends));
        auto *muted = trends->findChild<MuteIndicator *>(QStringLiteral("lbl_muted"));
        QVERIFY(muted && !muted->isVisible());

        QTest::keyClick(trends, Qt::Key_F4);
        QCOMPARE(traffic("[ALERT MUTE 15 MIN]"), 1);
        QVERIFY(muted->isVisible());
        QVERIFY(muted->text().startsWith(QStringLiteral("Alerts muted, ")));

        // The main window shows it at the end of its status line, clear of
        // the line's text.
        auto *status = support::child<QLineEdit>(fixture->w(), "txt_tcp_status");
        auto *mainMuted = support::child<MuteIndicator>(*status, "lbl_muted");
        QVERIFY(mainMuted->isVisible());
        QVERIFY(mainMuted->text().startsWith(QStringLiteral("MUTED 1")));
        status->setText(QStringLiteral("0001 is closing the connection.  The data is 12345 seconds old"));
        QVERIFY(status->fontMetrics().horizontalAdvance(status->text()) + 8 < mainMuted->x());

        // The serial box and the traffic window keep their keys: F-keys
        // pressed there still reach the entries, in the trends window too.
        QTest::keyClick(trends->findChild<QWidget *>(QStringLiteral("cbo_unit")), Qt::Key_F1);
        const auto aboutShown = [] {
            const QWidgetList tops = QApplication::topLevelWidgets();
            return std::any_of(tops.cbegin(), tops.cend(),
                               [](const QWidget *top) { return qobject_cast<const AboutBox *>(top) && top->isVisible(); });
        };
        QTRY_VERIFY(aboutShown());

        auto *menu = support::child<QMenu>(fixture->w(), "mnu_extras");
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), trends->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(trends, &click);
        QTRY_VERIFY(menu->isVisible());
        menu->close();
    }

    // A unit's own gas levels decide its alerts; they are asked at the
    // first reading of each connection, so a change holds from the next.
    void unitsOwnGasLevels()
    {
        QStringList asked;
        readings::GasLevels levels{1000, 1100, 1300};
        open(true, QString(), [&](const QString &serial) {
            asked << serial;
            return levels;
        });
        fixture->feed(packet("1150"));
        fixture->feed(packet("1350"));
        QCOMPARE(traffic("[ALERT: HIGH GAS UNITS]"), 1);
        QCOMPARE(traffic("[ALERT: VERY HIGH GAS UNITS]"), 1);
        QCOMPARE(asked.size(), 1);

        levels = readings::GasLevels();
        setLink(SocketControl::Closed);
        setLink(SocketControl::Connected);
        fixture->feed(packet("1500"));
        QCOMPARE(asked.size(), 2);
        // At the defaults 1500 is high again, not very high.
        QCOMPARE(traffic("[ALERT: HIGH GAS UNITS]"), 2);
        QCOMPARE(traffic("[ALERT: VERY HIGH GAS UNITS]"), 1);
    }

    // F7 in the trends window opens the alarm list; the panel's unit's
    // alert is a row there, marked by shape and word, and "Acknowledge"
    // takes it in the login name while the condition lasts.
    void alarmListFromTheTrendsWindow()
    {
        ViewerExtras extras(fixture->w());
        setLink(SocketControl::Connected);
        TrendsWindow *trends = trendsByF2();
        QVERIFY(trends);
        QVERIFY(QTest::qWaitForWindowActive(trends));
        QTest::keyClick(trends, Qt::Key_F7);
        AlarmListWindow *list = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets()) {
            if (auto *found = qobject_cast<AlarmListWindow *>(top))
                list = found;
        }
        QVERIFY(list && list->isVisible());
        QCOMPARE(list->objectName(), QStringLiteral("fm_alarms"));
        auto *rows = support::child<QTreeWidget>(*list, "lst_alarms");
        QCOMPARE(rows->topLevelItemCount(), 0);

        fixture->feed(packet("1820"));
        QCOMPARE(rows->topLevelItemCount(), 1);
        QTreeWidgetItem *row = rows->topLevelItem(0);
        QCOMPARE(row->text(0), QStringLiteral("\u25C6 CRITICAL"));
        QCOMPARE(row->text(2), QStringLiteral("VERY HIGH GAS UNITS"));
        QCOMPARE(row->text(3), QStringLiteral("1820"));
        QCOMPARE(row->text(6), QStringLiteral("waiting"));
        auto *acknowledge = support::child<QPushButton>(*list, "cmd_acknowledge");
        QVERIFY(!acknowledge->isEnabled());
        rows->setCurrentItem(row);
        QVERIFY(acknowledge->isEnabled());
        QTest::mouseClick(support::child<QPushButton>(*list, "cmd_acknowledge"), Qt::LeftButton);
        QCOMPARE(rows->topLevelItemCount(), 1);
        QVERIFY2(rows->topLevelItem(0)->text(6).startsWith(AlarmKeeper::loginName() + QStringLiteral(", ")),
                 qPrintable(rows->topLevelItem(0)->text(6)));
        // Over and acknowledged, the row leaves the list.
        fixture->feed(packet("900"));
        QCOMPARE(rows->topLevelItemCount(), 0);
        QVERIFY(!extras.alarms().worstUnacknowledged(QStringLiteral("0001")));
    }
};

QTEST_MAIN(tst_AlertController)
#include "tst_alertcontroller.moc"
