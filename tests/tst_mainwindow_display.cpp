// The reading panel of the main window: its layout, what an accepted packet
// puts into it, the WITS indicator and the More/Less toggle.

#include <memory>

#include <QtTest>
#include <QtWidgets>

#include "app/fm_more_data.h"
#include "app/viewerextras.h"
#include "rules/config/usersettings.h"
#include "app/display/colours.h"
#include "link/unitlink.h"
#include "rules/stream/reading.h"
#include "rules/stream/trafficlog.h"
#include "support/panelcontract.h"
#include "support/screens.h"
#include "support/testsupport.h"
#include "support/texts.h"

using support::child;

namespace {

QColor namedColour(const QString &name)
{
    if (name == QLatin1String("white"))
        return colours::white();
    if (name == QLatin1String("green"))
        return colours::green();
    if (name == QLatin1String("yellow"))
        return colours::yellow();
    if (name == QLatin1String("red"))
        return colours::red();
    if (name == QLatin1String("face"))
        return colours::buttonFace();
    qFatal("unknown colour");
    return {};
}

QStringList texts(std::initializer_list<const char *> list)
{
    QStringList all;
    for (const char *text : list)
        all << QString::fromLatin1(text);
    return all;
}


using support::packet;
using support::shown;

// Twips of this window's screen to pixels and back.
int px(const QWidget &w, int twips, bool horizontal = true)
{
    return qRound(twips * (horizontal ? w.logicalDpiX() : w.logicalDpiY()) / 1440.0);
}

int twips(const QWidget &w, int pixels, bool horizontal = true)
{
    return qRound(pixels * 1440.0 / (horizontal ? w.logicalDpiX() : w.logicalDpiY()));
}

// Twips at a zoom of the panel to pixels.
int zoomedPx(const QWidget &w, int twips, int percent, bool horizontal = true)
{
    return qRound(twips * (horizontal ? w.logicalDpiX() : w.logicalDpiY()) / 1440.0 * percent / 100.0);
}

bool near(int actual, int expected)
{
    return qAbs(actual - expected) <= 1;
}

QString rectText(const QRect &r)
{
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// Every control's place and font (the window's own, not Qt's inner parts),
// to compare the window with itself.
QStringList layoutOf(const QWidget &w)
{
    QStringList all;
    for (const QWidget *control : w.findChildren<QWidget *>()) {
        if (!control->objectName().isEmpty() && !control->objectName().startsWith(QLatin1String("qt_")))
            all << control->objectName() + QLatin1Char(' ') + rectText(control->geometry()) + QLatin1Char(' ')
                       + control->font().toString();
    }
    return all;
}

} // namespace

class tst_MainWindowDisplay : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void panelBoxes_data();
    void panelBoxes();
    void topRowControls_data();
    void topRowControls();
    void designState();

    void everyLabelTakesItsField();
    void numberPatterns_data();
    void numberPatterns();
    void gasColour_data();
    void gasColour();
    void errorBlink_data();
    void errorBlink();
    void alarmTexts_data();
    void alarmTexts();
    void shorterPacketLeavesBlanks();
    void burstOfPacketsIsTakenWhole();
    void markupShownLiterally();
    void overflowingNumberStopsTheFill();
    void overflowLeavesNothingOfThePacketBefore_data();
    void overflowLeavesNothingOfThePacketBefore();
    void colouredButtonsAreSolid();

    void bitDepthBesideHoleDepth();
    void witsIndicatorOverSixtyOneTicks();
    void witsIndicatorWithoutRecords();
    void witsIndicatorKeptGreenByRecords();

    void toggleTwiceFromMaximised();
    void fullPanelOnASmallScreenScrolls();
    void zoomScalesTheWholePanel_data();
    void zoomScalesTheWholePanel();
    void zoomChosenInTheMenuIsRemembered();

private:
    // A WITS record with one item arrives: the WITS count starts afresh.
    void witsRecord() { m_fixture->feed(QByteArrayLiteral("^a,b,c,d,e,01084999.5\r")); }

    std::unique_ptr<support::WindowFixture> m_fixture;
    fm_more_data *m_w = nullptr;
};

void tst_MainWindowDisplay::init()
{
    m_fixture = std::make_unique<support::WindowFixture>();
    m_w = m_fixture->window.get();
}

void tst_MainWindowDisplay::cleanup()
{
    m_fixture.reset();
    m_w = nullptr;
}

void tst_MainWindowDisplay::panelBoxes_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QRect>("frame");      // twips, in the window
    QTest::addColumn<QSize>("labelSize");  // twips; empty: not fixed
    QTest::addColumn<QString>("style");

    for (const contract::Box &box : contract::boxes()) {
        const char *style = "small";
        switch (box.style) {
        case contract::Style::Large:
            style = "large";
            break;
        case contract::Style::Cyan:
            style = "cyan";
            break;
        case contract::Style::Small:
            break;
        case contract::Style::ErrorText:
            style = "error text";
            break;
        case contract::Style::Uptime:
            style = "uptime";
            break;
        }
        QTest::newRow(box.caption) << QString::fromLatin1(box.caption) << QString::fromLatin1(box.label) << box.frame
                                   << box.labelSize << QString::fromLatin1(style);
    }
}

void tst_MainWindowDisplay::panelBoxes()
{
    QFETCH(QString, caption);
    QFETCH(QString, label);
    QFETCH(QRect, frame);
    QFETCH(QSize, labelSize);
    QFETCH(QString, style);

    fm_more_data &w = *m_w;
    auto *shown = w.findChild<QLabel *>(label);
    QVERIFY2(shown, qPrintable(label));
    QCOMPARE(w.label(label), shown);
    auto *box = qobject_cast<QGroupBox *>(shown->parentWidget());
    QVERIFY(box);
    QVERIFY(!box->objectName().isEmpty());
    if (caption == QLatin1String("Bit Depth"))
        QCOMPARE(box->objectName(), QStringLiteral("Frame22"));
    QCOMPARE(box->title(), caption);
    // Straight on the panel, which the window scrolls when it is larger
    // than its screen.
    QCOMPARE(box->parentWidget(), child<QWidget>(w, "pnl_panel"));
    QCOMPARE(box->window(), static_cast<QWidget *>(&w));

    const QRect g = box->geometry();
    QVERIFY2(near(g.x(), px(w, frame.x())) && near(g.y(), px(w, frame.y(), false))
                 && near(g.width(), px(w, frame.width())) && near(g.height(), px(w, frame.height(), false)),
             qPrintable(rectText(g)));

    // The label sits below the frame's caption, a little in from its left edge.
    const QRect l = shown->geometry();
    QVERIFY2(near(l.y(), px(w, style == QLatin1String("uptime") ? 270 : 180, false)), qPrintable(rectText(l)));
    QVERIFY2(l.x() >= px(w, 90) - 1 && l.x() <= px(w, 180) + 1, qPrintable(rectText(l)));
    if (!labelSize.isEmpty()) {
        QVERIFY2(near(l.width(), px(w, labelSize.width())) && near(l.height(), px(w, labelSize.height(), false)),
                 qPrintable(rectText(l)));
    }

    const Qt::Alignment alignment = style == QLatin1String("error text") ? (Qt::AlignLeft | Qt::AlignVCenter)
                                                                        : Qt::Alignment(Qt::AlignCenter);
    QCOMPARE(shown->alignment(), alignment);
    QVERIFY(shown->font().bold());
    if (style == QLatin1String("large") || style == QLatin1String("cyan")) {
        QCOMPARE(colours::backColor(shown), colours::black());
        QCOMPARE(colours::foreColor(shown), style == QLatin1String("cyan") ? colours::lightCyan() : colours::white());
        QCOMPARE(shown->font().pointSizeF(), 36.0);
    } else {
        QCOMPARE(colours::backColor(shown), colours::buttonFace());
        QCOMPARE(colours::foreColor(shown), colours::buttonText());
        QCOMPARE(shown->font().pointSizeF(), style == QLatin1String("uptime") ? 9.75 : 8.25);
    }
}

void tst_MainWindowDisplay::topRowControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("place");  // twips, in the window

    QTest::newRow("serial number frame") << "fra_serial" << QRect(0, 0, 1230, 690);
    QTest::newRow("connect") << "cmd_connect" << QRect(1305, 90, 1905, 285);
    QTest::newRow("disconnect") << "cmd_discon" << QRect(1305, 405, 1905, 285);
    QTest::newRow("more data") << "cmd_more_data" << QRect(4410, 90, 1275, 285);
    QTest::newRow("two way") << "cmd_secure" << QRect(4410, 405, 2625, 285);
    QTest::newRow("wits") << "cmd_wits" << QRect(5760, 90, 1275, 285);
    QTest::newRow("status line") << "txt_tcp_status" << QRect(0, 720, 7080, 285);
    QTest::newRow("traffic window") << "text_window" << QRect(0, 7110, 7110, 3525);
    QTest::newRow("wits list") << "wits_info" << QRect(7155, 45, 3795, 10590);
}

void tst_MainWindowDisplay::topRowControls()
{
    QFETCH(QString, name);
    QFETCH(QRect, place);

    fm_more_data &w = *m_w;
    auto *control = w.findChild<QWidget *>(name);
    QVERIFY2(control, qPrintable(name));
    const QRect g(control->mapTo(&w, QPoint(0, 0)), control->size());
    QVERIFY2(near(g.x(), px(w, place.x())) && near(g.y(), px(w, place.y(), false))
                 && near(g.width(), px(w, place.width())) && near(g.height(), px(w, place.height(), false)),
             qPrintable(rectText(g)));
}

void tst_MainWindowDisplay::designState()
{
    fm_more_data &w = *m_w;
    auto *serialFrame = child<QGroupBox>(w, "fra_serial");
    QCOMPARE(serialFrame->title(), QStringLiteral("Serial Number"));
    QCOMPARE(child<QLineEdit>(w, "txt_trailer_num")->parentWidget(), static_cast<QWidget *>(serialFrame));
    QCOMPARE(child<QLineEdit>(w, "txt_trailer_num")->text(), QStringLiteral("0001"));

    const struct
    {
        const char *name;
        const char *caption;
        QColor back;
    } buttons[] = {
        {"cmd_connect", "Connect To Server", colours::green()},
        {"cmd_discon", "Disconnect From Server", colours::red()},
        {"cmd_wits", "WITS", colours::red()},
        {"cmd_more_data", "More Data", colours::buttonFace()},
        {"cmd_secure", "Two Way Inactive", colours::buttonFace()},
    };
    for (const auto &button : buttons) {
        auto *b = child<QPushButton>(w, button.name);
        QCOMPARE(b->text(), QString::fromLatin1(button.caption));
        QCOMPARE(colours::backColor(b), button.back);
    }
    QCOMPARE(w.label(QStringLiteral("lbl_err_txt"))->text(), QStringLiteral("No Errors"));
    QCOMPARE(w.label(QStringLiteral("lbl_GasUnits"))->toolTip(), QStringLiteral("Yellow = High  Red = Very High"));
    QCOMPARE(w.property("Tag").toString(), QString());
    QVERIFY(near(w.width(), px(w, 7065)));
    QVERIFY(near(w.height(), px(w, 4995, false)));
}

void tst_MainWindowDisplay::everyLabelTakesItsField()
{
    fm_more_data &w = *m_w;
    Reading reading;
    for (int i = 1; i <= 50; ++i)
        reading.fields[i] = "v" + QByteArray::number(i);
    reading.fields[5] = "1234.4";
    reading.fields[10] = "12.5";

    w.populate_moredata(reading);

    for (const contract::Box &box : contract::boxes()) {
        const int index = box.field;
        if (index == 0)
            continue;
        QString expected = QStringLiteral("v") + QString::number(index);
        if (index == 5)
            expected = QStringLiteral("1234");
        if (index == 10)
            expected = shown(QStringLiteral("12.500"));
        QCOMPARE(w.label(QString::fromLatin1(box.label))->text(), expected);
    }
    QCOMPARE(w.windowTitle(), QStringLiteral("  v1 v3"));
    // Field 1 goes only into the caption; fields 41 to 50 are shown nowhere.
    for (QLabel *label : w.findChildren<QLabel *>()) {
        const QString text = label->text();
        QVERIFY2(text != QLatin1String("v1") && !QRegularExpression(QStringLiteral("^v(4[1-9]|50)$")).match(text).hasMatch(),
                 qPrintable(label->objectName()));
    }
    QVERIFY(w.trafficContent().indexOf("POPULATE") < 0);
}

void tst_MainWindowDisplay::numberPatterns_data()
{
    QTest::addColumn<QByteArray>("gasField");
    QTest::addColumn<QString>("gasShown");
    QTest::addColumn<QByteArray>("ropField");
    QTest::addColumn<QString>("ropShown");

    QTest::newRow("zeros") << QByteArrayLiteral("0") << "0" << QByteArrayLiteral("0") << "0.000";
    QTest::newRow("fractions") << QByteArrayLiteral("1234.4") << "1234" << QByteArrayLiteral("12.5") << "12.500";
    QTest::newRow("rounding") << QByteArrayLiteral("1234.6") << "1235" << QByteArrayLiteral("1.23456") << "1.235";
    QTest::newRow("whole numbers") << QByteArrayLiteral("17") << "17" << QByteArrayLiteral("3") << "3.000";
    QTest::newRow("negative") << QByteArrayLiteral("-3.4") << "-3" << QByteArrayLiteral("-0.25") << "-0.250";
    QTest::newRow("large, no separators")
        << QByteArrayLiteral("1234567") << "1234567" << QByteArrayLiteral("12345.6789") << "12345.679";
    // Not a number: shown as it came, rather than a made-up 0.
    QTest::newRow("not a number") << QByteArrayLiteral("ERR") << "ERR" << QByteArrayLiteral("--") << "--";
    QTest::newRow("empty") << QByteArray("") << "" << QByteArray("") << "";
}

void tst_MainWindowDisplay::numberPatterns()
{
    QFETCH(QByteArray, gasField);
    QFETCH(QString, gasShown);
    QFETCH(QByteArray, ropField);
    QFETCH(QString, ropShown);

    fm_more_data &w = *m_w;
    Reading reading;
    reading.fields[5] = gasField;
    reading.fields[10] = ropField;
    w.populate_moredata(reading);
    QCOMPARE(w.label(QStringLiteral("lbl_GasUnits"))->text(), shown(gasShown));
    QCOMPARE(w.label(QStringLiteral("lbl_DrilRateMF"))->text(), shown(ropShown));
}

void tst_MainWindowDisplay::gasColour_data()
{
    QTest::addColumn<QList<QByteArray>>("fields");  // gas units of successive packets
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("colour");       // after each packet

    QTest::newRow("1800, 1300, 1100") << QList<QByteArray>{"1800", "1300", "1100"}
                                      << texts({"1800", "1300", "1100"}) << texts({"red", "red", "green"});
    QTest::newRow("1199.6 shows 1200, 1199.4 shows 1199")
        << QList<QByteArray>{"1199.6", "1199.4"} << texts({"1200", "1199"}) << texts({"white", "green"});
    QTest::newRow("1400.4 shows 1400")
        << QList<QByteArray>{"1000", "1400.4", "1400.6"} << texts({"1000", "1400", "1401"})
        << texts({"green", "green", "yellow"});
    QTest::newRow("1750.6 shows 1751") << QList<QByteArray>{"1750.4", "1750.6"} << texts({"1750", "1751"})
                                       << texts({"yellow", "red"});
    QTest::newRow("red falling to 1401..1750") << QList<QByteArray>{"1800", "1500"} << texts({"1800", "1500"})
                                               << texts({"red", "yellow"});
    QTest::newRow("yellow held from 1200 to 1400")
        << QList<QByteArray>{"1500", "1200", "1400", "1199"} << texts({"1500", "1200", "1400", "1199"})
        << texts({"yellow", "yellow", "yellow", "green"});
    QTest::newRow("zero") << QList<QByteArray>{"0"} << texts({"0"}) << texts({"green"});
    // No number is no reading: not green, and the hold starts afresh.
    QTest::newRow("no number: white, then afresh")
        << QList<QByteArray>{"1900", "N/A", "1300", "1900", "----", "", "1100"}
        << texts({"1900", "N/A", "1300", "1900", "----", "", "1100"})
        << texts({"red", "white", "white", "red", "white", "white", "green"});
}

void tst_MainWindowDisplay::gasColour()
{
    QFETCH(QList<QByteArray>, fields);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, colour);

    // Through the link, which holds the level each reading comes with.
    fm_more_data &w = *m_w;
    FakeSocket *fake = m_fixture->socket;
    fake->state = SocketControl::Connected;
    const QLabel *gas = w.label(QStringLiteral("lbl_GasUnits"));
    for (int i = 0; i < fields.size(); ++i) {
        fake->receive(packet({"1", "2", "3", "4", fields.at(i)}));
        w.tmrDataArrival_Timer();
        QCOMPARE(gas->text(), shown.at(i));
        QCOMPARE(colours::foreColor(gas), namedColour(colour.at(i)));
    }
}

void tst_MainWindowDisplay::errorBlink_data()
{
    // After each packet: back colour of the error box | caption | alarm text | error_blink.
    QTest::addColumn<QList<double>>("codes");
    QTest::addColumn<QStringList>("after");

    const QString flowFace = QStringLiteral("face|normal|HIGH SAMPLE FLOW RATE|1");
    const QString flowRed = QStringLiteral("red|ERROR|HIGH SAMPLE FLOW RATE|0");
    QTest::newRow("two error packets") << QList<double>{5, 5} << QStringList{flowFace, flowRed};
    QTest::newRow("three error packets") << QList<double>{5, 5, 5} << QStringList{flowFace, flowRed, flowFace};
    // A packet without error stops the blink but keeps its phase.
    QTest::newRow("error, none, error")
        << QList<double>{5, 0, 5} << QStringList{flowFace, QStringLiteral("face|normal|No Errors|1"), flowRed};
    QTest::newRow("red phase, then none")
        << QList<double>{5, 5, 0} << QStringList{flowFace, flowRed, QStringLiteral("face|normal|No Errors|0")};
    QTest::newRow("negative code is no error") << QList<double>{-1} << QStringList{QStringLiteral("face|normal|No Errors|0")};
    QTest::newRow("zero code") << QList<double>{0} << QStringList{QStringLiteral("face|normal|No Errors|0")};
}

void tst_MainWindowDisplay::errorBlink()
{
    QFETCH(QList<double>, codes);
    QFETCH(QStringList, after);

    fm_more_data &w = *m_w;
    Reading reading;
    reading.fields[1] = "U0001";
    reading.fields[3] = "12:34:56";
    const QLabel *err = w.label(QStringLiteral("lbl_err"));
    for (int i = 0; i < codes.size(); ++i) {
        reading.errorCode = codes.at(i);
        w.populate_moredata(reading);
        const QStringList expected = after.at(i).split(QLatin1Char('|'));
        const QString step = QStringLiteral("packet %1").arg(i + 1);
        QVERIFY2(colours::backColor(err) == namedColour(expected.at(0)), qPrintable(step));
        QCOMPARE(w.windowTitle(), expected.at(1) == QLatin1String("ERROR") ? QStringLiteral("  ERROR")
                                                                           : QStringLiteral("  U0001 12:34:56"));
        QCOMPARE(w.label(QStringLiteral("lbl_err_txt"))->text(), expected.at(2));
        QCOMPARE(w.errorBlink(), expected.at(3) == QLatin1String("1"));
    }
}

void tst_MainWindowDisplay::alarmTexts_data()
{
    QTest::addColumn<double>("code");
    QTest::addColumn<QString>("text");

    const auto &alarms = contract::alarmTexts();
    for (int code = 1; code <= 19; ++code)
        QTest::addRow("%d", code) << double(code) << QString::fromLatin1(alarms[code - 1]);
    QTest::newRow("20") << 20.0 << "UNKNOWN ALARM";
    QTest::newRow("2.5") << 2.5 << "UNKNOWN ALARM";
    QTest::newRow("0.5") << 0.5 << "UNKNOWN ALARM";
    QTest::newRow("1000") << 1000.0 << "UNKNOWN ALARM";
    QTest::newRow("0") << 0.0 << "No Errors";
}

void tst_MainWindowDisplay::alarmTexts()
{
    QFETCH(double, code);
    QFETCH(QString, text);

    fm_more_data &w = *m_w;
    Reading reading;
    reading.errorCode = code;
    w.populate_moredata(reading);
    QCOMPARE(w.label(QStringLiteral("lbl_err_txt"))->text(), text);
}

// A shorter packet shows blanks behind its last reading, never the older
// packet's values, and its checksum is no reading.
void tst_MainWindowDisplay::shorterPacketLeavesBlanks()
{
    fm_more_data &w = *m_w;
    FakeSocket *fake = m_fixture->socket;
    fake->state = SocketControl::Connected;

    QList<QByteArray> first;
    for (int i = 1; i <= 40; ++i)
        first << "A" + QByteArray::number(i);
    first[4] = "1500";
    first[9] = "2.5";
    first[20] = "5";
    fake->receive(packet(first));
    w.tmrDataArrival_Timer();
    QCOMPARE(w.label(QStringLiteral("lbl_nPen"))->text(), QStringLiteral("A40"));
    QCOMPARE(w.label(QStringLiteral("lbl_err_txt"))->text(), QStringLiteral("HIGH SAMPLE FLOW RATE"));

    // Ten fields, then the checksum field and the empty last field.
    QList<QByteArray> second;
    for (int i = 1; i <= 10; ++i)
        second << "B" + QByteArray::number(i);
    second[4] = "1600";
    second[9] = "3.5";
    fake->receive(packet(second));
    w.tmrDataArrival_Timer();
    QCOMPARE(w.windowTitle(), QStringLiteral("  B1 B3"));
    QCOMPARE(w.label(QStringLiteral("lbl_GasUnits"))->text(), QStringLiteral("1600"));
    for (const contract::Box &box : contract::boxes()) {
        if (box.field >= 11)
            QVERIFY2(w.label(QString::fromLatin1(box.label))->text().isEmpty(), box.label);
    }
    // Without field 21 there is no error.
    QCOMPARE(w.label(QStringLiteral("lbl_err_txt"))->text(), QStringLiteral("No Errors"));
}

void tst_MainWindowDisplay::bitDepthBesideHoleDepth()
{
    fm_more_data &w = *m_w;
    FakeSocket *fake = m_fixture->socket;
    fake->state = SocketControl::Connected;
    QLabel *bitDepth = child<QLabel>(w, "lbl_bit_depth");
    auto *frame = child<QGroupBox>(w, "Frame22");
    auto *list = child<QListWidget>(w, "wits_info");

    QList<QByteArray> fields(25, QByteArrayLiteral("0"));
    fields[3] = "1523.5";
    fake->receive(packet(fields) + "^a,b,c,d,e,01081523.46,01130012.5\r");
    w.tmrDataArrival_Timer();  // the packet, then the record behind it
    QCOMPARE(w.label(QStringLiteral("lbl_DrillDepth"))->text(), QStringLiteral("1523.5"));
    QCOMPARE(bitDepth->text(), shown(QStringLiteral("1523.5")));
    QCOMPARE(list->count(), 2);
    if (QLocale::system().decimalPoint() == QLatin1String(".")) {
        // On bottom: the shown texts agree.
        QCOMPARE(colours::backColor(bitDepth), colours::black());
        QCOMPARE(frame->title(), QStringLiteral("Bit Depth"));
    }

    fake->receive("^a,b,c,d,e,01081520\r");
    w.tmrDataArrival_Timer();
    QCOMPARE(bitDepth->text(), shown(QStringLiteral("1520.0")));
    QCOMPARE(colours::backColor(bitDepth), colours::orange());
    QCOMPARE(frame->title(), QStringLiteral("Bit Depth    OFF BOTTOM"));
    QCOMPARE(list->count(), 1);

    // The record restarted the WITS count.
    w.tmr_wits_Timer();
    QCOMPARE(child<QPushButton>(w, "cmd_wits")->text(), QStringLiteral("WITS 59"));
}

void tst_MainWindowDisplay::witsIndicatorOverSixtyOneTicks()
{
    fm_more_data &w = *m_w;
    auto *wits = child<QPushButton>(w, "cmd_wits");
    auto *list = child<QListWidget>(w, "wits_info");
    QLabel *bitDepth = child<QLabel>(w, "lbl_bit_depth");
    auto *frame = child<QGroupBox>(w, "Frame22");
    witsRecord();
    list->clear();
    list->addItems({QStringLiteral("0108  Bit Depth  4999.5"), QStringLiteral("0110  Hole Depth  5000")});
    bitDepth->setText(QStringLiteral("4999.5"));
    colours::setBackColor(bitDepth, colours::orange());
    frame->setTitle(QStringLiteral("Bit Depth    OFF BOTTOM"));

    for (int tick = 1; tick <= 59; ++tick) {
        w.tmr_wits_Timer();
        QCOMPARE(wits->text(), QStringLiteral("WITS ") + QString::number(60 - tick));
        QCOMPARE(colours::backColor(wits), colours::green());
        QCOMPARE(list->count(), 2);
        QCOMPARE(bitDepth->text(), QStringLiteral("4999.5"));
    }

    // The 60th tick after the record: stale.
    w.tmr_wits_Timer();
    QCOMPARE(wits->text(), QStringLiteral("WITS"));
    QCOMPARE(colours::backColor(wits), colours::red());
    QCOMPARE(list->count(), 0);
    QCOMPARE(bitDepth->text(), QString());
    QCOMPARE(colours::backColor(bitDepth), colours::black());
    QCOMPARE(frame->title(), QStringLiteral("Bit Depth"));
    QCOMPARE(w.stream().wits_countdown, std::int16_t(0));

    w.tmr_wits_Timer();
    QCOMPARE(wits->text(), QStringLiteral("WITS BAD"));
    QCOMPARE(colours::backColor(wits), colours::red());
    QCOMPARE(w.stream().wits_countdown, std::int16_t(0));
}

void tst_MainWindowDisplay::witsIndicatorWithoutRecords()
{
    fm_more_data &w = *m_w;
    auto *wits = child<QPushButton>(w, "cmd_wits");
    auto *list = child<QListWidget>(w, "wits_info");
    list->addItem(QStringLiteral("0108  Bit Depth  4999.5"));
    child<QLabel>(w, "lbl_bit_depth")->setText(QStringLiteral("4999.5"));

    for (int tick = 1; tick <= 3; ++tick) {
        w.tmr_wits_Timer();
        QCOMPARE(wits->text(), QStringLiteral("WITS BAD"));
        QCOMPARE(colours::backColor(wits), colours::red());
    }
    // Only the expiry clears; a count that never ran clears nothing.
    QCOMPARE(list->count(), 1);
    QCOMPARE(w.label(QStringLiteral("lbl_bit_depth"))->text(), QStringLiteral("4999.5"));
    QCOMPARE(w.stream().wits_countdown, std::int16_t(0));
}

void tst_MainWindowDisplay::witsIndicatorKeptGreenByRecords()
{
    fm_more_data &w = *m_w;
    auto *wits = child<QPushButton>(w, "cmd_wits");
    auto *list = child<QListWidget>(w, "wits_info");
    list->addItem(QStringLiteral("0108  Bit Depth  4999.5"));

    for (int tick = 0; tick < 200; ++tick) {
        if (tick % 30 == 0)
            witsRecord();  // a record every 30 seconds
        w.tmr_wits_Timer();
        QCOMPARE(colours::backColor(wits), colours::green());
        QVERIFY(wits->text().startsWith(QLatin1String("WITS ")));
    }
    QCOMPARE(list->count(), 1);
}

void tst_MainWindowDisplay::toggleTwiceFromMaximised()
{
    fm_more_data &w = *m_w;
    w.showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(w.windowState() & Qt::WindowMaximized);
    auto *toggle = child<QPushButton>(w, "cmd_more_data");
    auto *traffic = child<QPlainTextEdit>(w, "text_window");
    auto *witsList = child<QListWidget>(w, "wits_info");
    auto *ropFrame = w.label(QStringLiteral("lbl_DrilRateMF"))->parentWidget();

    QTest::mouseClick(toggle, Qt::LeftButton);
    QCoreApplication::processEvents();
    QVERIFY(!(w.windowState() & (Qt::WindowMaximized | Qt::WindowMinimized)));
    QCOMPARE(w.property("Tag").toString(), QStringLiteral("1"));
    QCOMPARE(toggle->text(), QStringLiteral("Less Data"));
    QSize outer = w.outerSizeTwips();
    QVERIFY2(qAbs(outer.width() - 11115) <= 15 && qAbs(outer.height() - 11115) <= 15,
             qPrintable(QStringLiteral("%1x%2").arg(outer.width()).arg(outer.height())));
    // The size is the outer one: the client area is what is left inside.
    QVERIFY(twips(w, w.width()) < 11115);
    QVERIFY(twips(w, w.height(), false) < 11115);
    // At full size the lower rows, the traffic window and the WITS list are in view.
    QVERIFY(ropFrame->geometry().bottom() < w.height());
    QVERIFY(traffic->y() < w.height());
    QVERIFY(witsList->geometry().right() < w.width());

    QTest::mouseClick(toggle, Qt::LeftButton);
    QCoreApplication::processEvents();
    QCOMPARE(w.property("Tag").toString(), QStringLiteral("0"));
    QCOMPARE(toggle->text(), QStringLiteral("More Data"));
    outer = w.outerSizeTwips();
    QVERIFY2(qAbs(outer.width() - 7200) <= 15 && qAbs(outer.height() - 4425) <= 15,
             qPrintable(QStringLiteral("%1x%2").arg(outer.width()).arg(outer.height())));
    QVERIFY(twips(w, w.height(), false) < 4425);
    // Compact: from the row at 4005 down nothing is fully in view, and the
    // WITS list lies beyond the right edge; nothing was hidden or moved.
    QVERIFY(ropFrame->geometry().bottom() >= w.height());
    QVERIFY(traffic->y() >= w.height());
    QVERIFY(witsList->x() >= w.width());
    QVERIFY(ropFrame->isVisibleTo(&w));
    QVERIFY(near(ropFrame->y(), px(w, 4005, false)));
}

// At full size on a screen that cannot hold it (640 x 400, as 1280 x 800 at
// a scale factor of 2), the window stays on the screen and its scroll bars
// reach every part of the panel.
void tst_MainWindowDisplay::fullPanelOnASmallScreenScrolls()
{
    const QList<QScreen *> screens = QGuiApplication::screens();
    if (screens.size() < 2)
        QSKIP("needs the small second screen of the offscreen platform");
    QScreen *small = screens.at(1);
    fm_more_data &w = *m_w;
    w.move(small->availableGeometry().topLeft());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.screen(), small);
    auto *scroll = child<QScrollArea>(w, "scr_panel");
    QVERIFY(!scroll->verticalScrollBar()->isVisible());

    QTest::mouseClick(child<QPushButton>(w, "cmd_more_data"), Qt::LeftButton);
    QCoreApplication::processEvents();
    QVERIFY2(small->availableGeometry().contains(w.frameGeometry()), qPrintable(rectText(w.frameGeometry())));
    QVERIFY(scroll->verticalScrollBar()->isVisible());
    QVERIFY(scroll->horizontalScrollBar()->isVisible());
    // The panel keeps its layout in twips; only the view onto it moves.
    auto *traffic = child<QWidget>(w, "text_window");
    auto *witsList = child<QWidget>(w, "wits_info");
    QVERIFY(near(traffic->y(), px(w, 7110, false)));
    QVERIFY(traffic->visibleRegion().isEmpty());
    scroll->verticalScrollBar()->setValue(scroll->verticalScrollBar()->maximum());
    scroll->horizontalScrollBar()->setValue(scroll->horizontalScrollBar()->maximum());
    QVERIFY(!traffic->visibleRegion().isEmpty());
    const QRect witsShown = witsList->visibleRegion().boundingRect();
    QCOMPARE(witsShown.right(), witsList->rect().right());
    QCOMPARE(witsShown.bottom(), witsList->rect().bottom());
}

void tst_MainWindowDisplay::zoomScalesTheWholePanel_data()
{
    QTest::addColumn<int>("percent");
    QTest::newRow("125 %") << 125;
    QTest::newRow("150 %") << 150;
    QTest::newRow("200 %") << 200;
}

// Every box and control at its place and with its font scaled, the window
// with them; back at 100 % all is as it was.
void tst_MainWindowDisplay::zoomScalesTheWholePanel()
{
    QFETCH(int, percent);
    fm_more_data &w = *m_w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QStringList before = layoutOf(w);
    const QSize sizeBefore = w.size();

    w.setZoom(percent);
    QCOMPARE(w.zoom(), percent);
    for (const contract::Box &box : contract::boxes()) {
        const QLabel *label = w.label(QString::fromLatin1(box.label));
        const QRect g = label->parentWidget()->geometry();
        QVERIFY2(near(g.x(), zoomedPx(w, box.frame.x(), percent))
                     && near(g.y(), zoomedPx(w, box.frame.y(), percent, false))
                     && near(g.width(), zoomedPx(w, box.frame.width(), percent))
                     && near(g.height(), zoomedPx(w, box.frame.height(), percent, false)),
                 box.label);
        const qreal points = box.style == contract::Style::Large || box.style == contract::Style::Cyan ? 36
                             : box.style == contract::Style::Uptime                                   ? 9.75
                                                                                                        : 8.25;
        QCOMPARE(label->font().pointSizeF(), points * percent / 100);
        QCOMPARE(label->parentWidget()->font().pointSizeF(), 8.25 * percent / 100);
    }
    for (const char *name : {"txt_trailer_num", "cmd_connect", "txt_tcp_status", "text_window", "wits_info"})
        QCOMPARE(child<QWidget>(w, name)->font().pointSizeF(), 8.25 * percent / 100);
    const QRect traffic = child<QWidget>(w, "text_window")->geometry();
    QVERIFY(near(traffic.width(), zoomedPx(w, 7110, percent)));
    QVERIFY(near(traffic.y(), zoomedPx(w, 7110, percent, false)));
    QCOMPARE(child<QWidget>(w, "pnl_panel")->minimumSize(),
             QSize(zoomedPx(w, 7065, percent), zoomedPx(w, 4995, percent, false)));
    // A step that is not offered changes nothing.
    w.setZoom(175);
    QCOMPARE(w.zoom(), percent);

    w.setZoom(100);
    QTRY_COMPARE(layoutOf(w), before);
    QCOMPARE(w.size(), sizeBefore);
}

// The "Zoom" submenu offers its steps, and the one chosen is there again
// in the next session; a setting that is no step is reported and gives 100 %.
void tst_MainWindowDisplay::zoomChosenInTheMenuIsRemembered()
{
    QStandardPaths::setTestModeEnabled(true);
    const QString path = userSettingsPath();
    QSettings(path, QSettings::IniFormat).setValue(QStringLiteral("panel/zoom"), QStringLiteral("175"));
    auto steps = [this] { return child<QMenu>(*m_w, "mnu_zoom")->actions(); };
    {
        ViewerExtras extras(*m_w);
        QCOMPARE(m_w->zoom(), 100);
        QVERIFY(m_w->trafficContent().contains(
            "[SETTINGS ERR: panel/zoom=175 is not one of 100, 125, 150, 200; 100 is used]"));
        QStringList texts;
        for (const QAction *step : steps())
            texts << step->text();
        QCOMPARE(texts, QStringList({QStringLiteral("100 %"), QStringLiteral("125 %"), QStringLiteral("150 %"),
                                     QStringLiteral("200 %")}));
        QVERIFY(steps().at(0)->isChecked());
        steps().at(2)->trigger();
        QCOMPARE(m_w->zoom(), 150);
        QVERIFY(steps().at(2)->isChecked() && !steps().at(0)->isChecked());
    }
    m_fixture->open();
    m_w = m_fixture->window.get();
    QCOMPARE(m_w->zoom(), 100);
    {
        ViewerExtras extras(*m_w);
        QCOMPARE(m_w->zoom(), 150);
        QVERIFY(steps().at(2)->isChecked());
    }
    QSettings(path, QSettings::IniFormat).remove(QStringLiteral("panel/zoom"));
}

// 200 packets in one chunk: every one is accepted and handed on, the last
// one is on screen, and nothing is reported as lost.
void tst_MainWindowDisplay::burstOfPacketsIsTakenWhole()
{
    QList<QByteArray> numbers;
    connect(&m_w->link(), &UnitLink::readingAccepted, this,
            [&](const Reading &reading) { numbers << reading.fields[29]; });
    QByteArray burst;
    QList<QByteArray> expected;
    for (int n = 0; n < 200; ++n) {
        QList<QByteArray> fields(29, QByteArrayLiteral("1"));
        fields[28] = QByteArray::number(n);
        burst += packet(fields) + '\n';
        expected << fields[28];
    }
    m_fixture->feed(burst);
    QCOMPARE(numbers, expected);
    QCOMPARE(m_w->label(QStringLiteral("lbl_packetnum"))->text(), QStringLiteral("199"));
    QCOMPARE(m_w->trafficContent(), ("\r\n" + burst).right(TrafficLog::Keep));
}

// Text from the wire is shown as it came, never read as markup.
void tst_MainWindowDisplay::markupShownLiterally()
{
    Reading reading;
    reading.fields[1] = "<b>U1</b>";
    reading.fields[2] = "<img src=\"/etc/hostname\">";
    reading.fields[5] = "<font color=green>1900</font>";
    m_w->populate_moredata(reading);
    const QLabel *date = m_w->label(QStringLiteral("lbl_date"));
    QCOMPARE(date->textFormat(), Qt::PlainText);
    QCOMPARE(date->text(), QStringLiteral("<img src=\"/etc/hostname\">"));
    QCOMPARE(m_w->label(QStringLiteral("lbl_GasUnits"))->textFormat(), Qt::PlainText);
    for (const QLabel *label : m_w->findChildren<QLabel *>())
        QVERIFY2(label->textFormat() == Qt::PlainText, qPrintable(label->objectName()));
}

// A number beyond the range of a double is refused, not shown as "inf":
// the fill stops there with one report line, the boxes before it filled.
void tst_MainWindowDisplay::overflowingNumberStopsTheFill()
{
    Reading reading;
    reading.fields[2] = "03/04/2024";
    reading.fields[4] = "1523.4";
    reading.fields[5] = "1e400";
    reading.fields[6] = "20.9";
    m_w->populate_moredata(reading);
    QCOMPARE(m_w->trafficContent(), QByteArrayLiteral("\r\n[POPULATE CHART ERR: Overflow]"));
    QCOMPARE(m_w->label(QStringLiteral("lbl_DrillDepth"))->text(), QStringLiteral("1523.4"));
    QCOMPARE(m_w->label(QStringLiteral("lbl_GasUnits"))->text(), QString());
    QCOMPARE(m_w->label(QStringLiteral("lbl_Lel"))->text(), QString());
    QCOMPARE(colours::foreColor(m_w->label(QStringLiteral("lbl_GasUnits"))), colours::white());
}

void tst_MainWindowDisplay::overflowLeavesNothingOfThePacketBefore_data()
{
    QTest::addColumn<int>("faulted");     // the field that overflows in the second packet
    QTest::addColumn<QString>("colour");  // of the gas units after it

    QTest::newRow("gas units") << 5 << "white";
    QTest::newRow("ROP Mn/Ft, after the gas units") << 10 << "green";
}

// Packet A fills every box, with red gas and the error blink at "  ERROR";
// packet B stops on a field too large to show. Every box shows B's value
// or nothing, never A's, and the gas colour is B's level or none.
void tst_MainWindowDisplay::overflowLeavesNothingOfThePacketBefore()
{
    QFETCH(int, faulted);
    QFETCH(QString, colour);

    auto fields = [](char which, QByteArray gas, QByteArray rop, QByteArray error) {
        QList<QByteArray> all;
        for (int k = 1; k <= 40; ++k)
            all << which + QByteArray::number(k);
        all[4] = gas;
        all[9] = rop;
        all[20] = error;
        return all;
    };
    const QList<QByteArray> a = fields('A', "1800", "12.5", "5");
    QList<QByteArray> b = fields('B', "1100", "3", "0");
    b[faulted - 1] = "1e400";
    m_fixture->feed(packet(a) + packet(a));
    QCOMPARE(m_w->windowTitle(), QStringLiteral("  ERROR"));
    m_fixture->feed(packet(b));

    QVERIFY(m_w->trafficContent().endsWith("[POPULATE CHART ERR: Overflow]"));
    for (const contract::Box &box : contract::boxes()) {
        if (box.field == 0)
            continue;
        const QString expected = box.field < faulted ? QString::fromLatin1(b[box.field - 1]) : QString();
        QCOMPARE(m_w->label(QString::fromLatin1(box.label))->text(), expected);
    }
    const QLabel *gas = m_w->label(QStringLiteral("lbl_GasUnits"));
    QCOMPARE(colours::foreColor(gas), namedColour(colour));
    // Neither A's caption, nor its alarm, nor its blink.
    QCOMPARE(m_w->windowTitle(), QStringLiteral("  B1 B3"));
    QCOMPARE(m_w->label(QStringLiteral("lbl_err_txt"))->text(), QString());
    QCOMPARE(colours::backColor(m_w->label(QStringLiteral("lbl_err"))), colours::buttonFace());
}

// The coloured buttons show their exact colour over most of their face,
// whatever the style would make of a palette colour, and keep the panel's
// font when their colour changes on the shown window.
void tst_MainWindowDisplay::colouredButtonsAreSolid()
{
    m_w->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_w));
    m_fixture->feed(QByteArrayLiteral("[TWO WAY]"));
    const struct
    {
        const char *name;
        QColor colour;
    } buttons[] = {{"cmd_connect", colours::green()},
                   {"cmd_discon", colours::red()},
                   {"cmd_wits", colours::red()},
                   {"cmd_secure", colours::green()}};
    for (const char *style : {"Fusion", "Windows"}) {
        std::unique_ptr<QStyle> theStyle(QStyleFactory::create(QString::fromLatin1(style)));
        QVERIFY(theStyle);
        for (const auto &button : buttons) {
            auto *b = child<QPushButton>(*m_w, button.name);
            QCOMPARE(b->font().families(), m_w->font().families());
            QCOMPARE(b->font().pointSizeF(), m_w->font().pointSizeF());
            b->setStyle(theStyle.get());
            const QImage face = b->grab().toImage();
            int exact = 0;
            for (int y = 0; y < face.height(); ++y) {
                for (int x = 0; x < face.width(); ++x)
                    exact += QColor(face.pixel(x, y)) == button.colour;
            }
            QVERIFY2(exact * 2 > face.width() * face.height(),
                     qPrintable(QStringLiteral("%1 under %2: %3 of %4 pixels")
                                    .arg(QLatin1String(button.name), QLatin1String(style))
                                    .arg(exact)
                                    .arg(face.width() * face.height())));
            b->setStyle(nullptr);
        }
    }
}

// The primary screen as the offscreen platform's own, and a small one.
SUPPORT_MAIN_ON_SCREENS(tst_MainWindowDisplay, QRect(0, 0, 800, 800), QRect(800, 0, 640, 400))
#include "tst_mainwindow_display.moc"
