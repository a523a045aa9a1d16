// One scripted operator session against the real simulator: the whole road
// of a packet from the unit's socket to the boxes, and the way back (typed
// keys, keep-alive, the log-in message), driven through the window's widgets.

#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

#include "app/fm_more_data.h"
#include "app/display/colours.h"
#include "app/unlock/fm_secure.h"
#include "support/simprocess.h"
#include "support/testsupport.h"
#include "support/texts.h"

namespace {

using support::dataAgeShown;
using support::SimProcess;

QString text(QWidget *widget)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return edit->text();
    if (auto *button = qobject_cast<QPushButton *>(widget))
        return button->text();
    return QString();
}

} // namespace

class tst_EndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void operatorSession();

private:
    template <typename T>
    T *child(QWidget *parent, const char *name)
    {
        auto *widget = parent->findChild<T *>(QString::fromLatin1(name));
        if (!widget)
            qFatal("no widget %s", name);
        return widget;
    }

    void writeLookup(const QString &dir, int goodPort, int corruptPort)
    {
        support::writeFile(dir + QStringLiteral("/RDVlookup.TXT"),
                           "0001 127.0.0.1 " + QByteArray::number(goodPort) + "\r\n" + "0002 127.0.0.1 "
                               + QByteArray::number(corruptPort) + "\r\n");
    }

    void writeSettings(const QString &dir)
    {
        support::writeFile(dir + QStringLiteral("/RDconfig.ini"),
                           "' code, separator, name\r\n0108 Bit Depth\r\n0110 Hole Depth\r\n0113 Rate Of Penetration\r\n");
    }
};

void tst_EndToEnd::operatorSession()
{
    SimProcess unit;
    SimProcess corrupt;
    if (qEnvironmentVariableIsEmpty("UNIT_SIM"))
        QSKIP("UNIT_SIM is not set: run through ctest");
    QVERIFY(unit.start({QStringLiteral("--seed"), QStringLiteral("7"), QStringLiteral("--rate"), QStringLiteral("5"),
                        QStringLiteral("--wits-period"), QStringLiteral("1"), QStringLiteral("--uptime-period"),
                        QStringLiteral("1"), QStringLiteral("--alarm"), QStringLiteral("5"), QStringLiteral("--gas"),
                        QStringLiteral("1800"), QStringLiteral("--user"), QStringLiteral("driller"),
                        QStringLiteral("--password"), QStringLiteral("mud4567")}));
    QVERIFY(corrupt.start({QStringLiteral("--seed"), QStringLiteral("8"), QStringLiteral("--rate"),
                           QStringLiteral("5"), QStringLiteral("--bad-checksum"), QStringLiteral("1")}));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeLookup(dir.path(), unit.port(), corrupt.port());
    writeSettings(dir.path());
    bool ended = false;
    ViewerOptions options;
    options.programDirectory = dir.path();
    options.endProcess = [&ended] { ended = true; };
    fm_more_data window(options);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    auto *serial = child<QLineEdit>(&window, "txt_trailer_num");
    auto *status = child<QLineEdit>(&window, "txt_tcp_status");
    auto *traffic = child<QPlainTextEdit>(&window, "text_window");
    auto *gas = child<QLabel>(&window, "lbl_GasUnits");
    auto *errorText = child<QLabel>(&window, "lbl_err_txt");
    auto *errorBox = child<QLabel>(&window, "lbl_err");
    auto *bitDepth = child<QLabel>(&window, "lbl_bit_depth");
    auto *uptime = child<QLabel>(&window, "lbl_uptime");
    auto *wits = child<QListWidget>(&window, "wits_info");
    auto *witsButton = child<QPushButton>(&window, "cmd_wits");
    auto *secure = child<QPushButton>(&window, "cmd_secure");

    // Connect with Enter: the state reached after the one-second wait is reported.
    serial->setFocus();
    QTest::keyClick(serial, Qt::Key_Return);
    QVERIFY2(window.trafficContent().contains("[0001 is connected to server. ]"), window.trafficContent().constData());
    QTRY_VERIFY(unit.output().contains("client 1 connected"));

    // Packets fill the boxes; the status line carries the data age.
    QTRY_COMPARE(gas->text(), QStringLiteral("1800"));
    QCOMPARE(colours::foreColor(gas), colours::red());
    QCOMPARE(text(child<QLabel>(&window, "lbl_date")).count(QLatin1Char('/')), 2);
    QVERIFY(!child<QLabel>(&window, "lbl_DrillDepth")->text().isEmpty());
    QVERIFY(child<QLabel>(&window, "lbl_DrilRateMF")->text().contains(QRegularExpression(QStringLiteral("^\\d+[.,]\\d{3}$"))));
    QTRY_VERIFY(dataAgeShown(status->text()) >= 0);
    QVERIFY(status->text().startsWith(QStringLiteral("0001 is connected to server.  The data is ")));
    QVERIFY(dataAgeShown(status->text()) <= 1);

    // The steady alarm blinks: the box and the caption change phase per packet.
    QCOMPARE(errorText->text(), QStringLiteral("HIGH SAMPLE FLOW RATE"));
    QTRY_COMPARE(window.windowTitle(), QStringLiteral("  ERROR"));
    QCOMPARE(colours::backColor(errorBox), colours::red());
    QTRY_VERIFY(window.windowTitle().startsWith(QStringLiteral("  0001 ")));
    QCOMPARE(colours::backColor(errorBox), colours::buttonFace());

    // WITS records: the list with names from the settings file, the bit
    // depth on bottom, and the indicator counting.
    QTRY_VERIFY(wits->count() > 0);
    QTRY_VERIFY(!wits->findItems(QStringLiteral("0108  Bit Depth  "), Qt::MatchStartsWith).isEmpty());
    QVERIFY(!wits->findItems(QStringLiteral("0110  Hole Depth  "), Qt::MatchStartsWith).isEmpty());
    QTRY_VERIFY(!bitDepth->text().isEmpty());
    QTRY_VERIFY(witsButton->text().startsWith(QStringLiteral("WITS 5")));
    QCOMPARE(colours::backColor(witsButton), colours::green());

    // The unit's uptime reaches the label once the hold-off has passed.
    QTRY_VERIFY(uptime->text() != QStringLiteral("0%"));
    QVERIFY(uptime->text().endsWith(QLatin1Char('%')));

    // The traffic window shows the raw chunks as they came, once the full
    // window brings it into view.
    QVERIFY(window.trafficContent().contains("*0001,"));
    QTest::mouseClick(child<QPushButton>(&window, "cmd_more_data"), Qt::LeftButton);
    QTRY_VERIFY(traffic->toPlainText().contains(QStringLiteral("*0001,")));

    // A key typed into the traffic window reaches the unit as one byte.
    traffic->setFocus();
    QTest::keyClick(traffic, Qt::Key_H);
    QTRY_VERIFY2(unit.output().contains("client 1 typed 1 byte: 104"), unit.output().right(600).constData());
    QVERIFY(!traffic->toPlainText().endsWith(QLatin1Char('h')));

    // Unlock: wrong credentials leave the mode inactive, the right ones
    // turn the button green.
    QTest::mouseClick(secure, Qt::LeftButton);
    auto *form = const_cast<fm_secure *>(window.secureForm());
    QVERIFY(form);
    QTRY_VERIFY(form->isVisible());
    auto *user = child<QLineEdit>(form, "txt_username");
    auto *password = child<QLineEdit>(form, "txt_pwe");
    user->setText(QStringLiteral("driller"));
    password->setText(QStringLiteral("wrong12"));
    QTest::mouseClick(child<QPushButton>(form, "cmd_send_key"), Qt::LeftButton);
    QVERIFY(!form->isVisible());
    QTRY_VERIFY(unit.output().contains("user \"driller\" wrong password, answered [OUTPUT ONLY]"));
    QVERIFY(!unit.output().contains("wrong12"));
    QCOMPARE(secure->text(), QStringLiteral("Two Way Inactive"));

    QTest::mouseClick(secure, Qt::LeftButton);
    QTRY_VERIFY(form->isVisible());
    QCOMPARE(user->text(), QStringLiteral("driller"));
    password->setText(QStringLiteral("mud4567"));
    password->setFocus();
    QTest::keyClick(password, Qt::Key_Return);
    QTRY_VERIFY(unit.output().contains("user \"driller\" accepted, answered [TWO WAY]"));
    QTRY_COMPARE(secure->text(), QStringLiteral("Two Way Active"));
    QCOMPARE(colours::backColor(secure), colours::green());
    QVERIFY(!window.trafficContent().contains("mud4567"));
    QVERIFY(!unit.output().contains("mud4567"));

    // Another unit whose every packet is corrupt: typing the serial number
    // drops the first link and blanks the display; the rejected packets are
    // reported and never make the old readings look fresh.
    serial->setFocus();
    serial->selectAll();
    QTest::keyClicks(serial, QStringLiteral("0002"));
    QCOMPARE(serial->text(), QStringLiteral("0002"));
    QCOMPARE(gas->text(), QString());
    QCOMPARE(secure->text(), QStringLiteral("Two Way Inactive"));
    QTRY_VERIFY(unit.output().contains("client 1 gone"));
    QTest::keyClick(serial, Qt::Key_Return);
    QVERIFY(window.trafficContent().contains("[0002 is connected to server. ]"));
    QTRY_VERIFY(window.trafficContent().contains("[Parse Checksum failed]"));
    QTRY_VERIFY(dataAgeShown(status->text()) >= 3);
    QCOMPARE(gas->text(), QString());
    QVERIFY(window.stream().data_age >= 2.5);

    // Disconnect blanks the display and the traffic window.
    QTest::mouseClick(child<QPushButton>(&window, "cmd_discon"), Qt::LeftButton);
    QTRY_VERIFY(status->text().startsWith(QStringLiteral("0002 Connection is closed.")));
    QCOMPARE(traffic->toPlainText(), QString());
    QCOMPARE(wits->count(), 0);
    QCOMPARE(errorText->text(), QStringLiteral("No Errors"));
    QTRY_VERIFY(corrupt.output().contains("client 1 gone"));

    // Closing the window runs the shut-down once and ends the process.
    QTest::mouseClick(secure, Qt::LeftButton);
    QVERIFY(window.secureForm()->isVisible());
    QVERIFY(window.close());
    QVERIFY(ended);
    QTRY_VERIFY(!window.secureForm());
}

QTEST_MAIN(tst_EndToEnd)
#include "tst_endtoend.moc"
