// The connection status line: the wording of every socket state, the age of
// the data while connected, and how the main window keeps the line and the
// state it last read.

#include <cstdint>
#include <memory>

#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/fm_more_data.h"
#include "support/testsupport.h"
#include "link/statustext.h"

class tst_StatusLine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wording_data();
    void wording();
    void dataAge_data();
    void dataAge();

    void windowFollowsTheSocket_data();
    void windowFollowsTheSocket();
    void startsClosedWithTheDesignSerial();
    void editedSerialShowsAtTheNextRead();
    void unreadableStateKeepsTheLastOne();

private:
    void makeWindow();

    QTemporaryDir m_dir;
    std::unique_ptr<fm_more_data> m_window;
    FakeSocket *m_socket = nullptr;
    QLineEdit *m_status = nullptr;
    QLineEdit *m_serial = nullptr;
};

void tst_StatusLine::initTestCase()
{
    // No configuration files: the window starts all the same.
    QVERIFY(m_dir.isValid());
}

void tst_StatusLine::init()
{
    makeWindow();
}

void tst_StatusLine::cleanup()
{
    m_window.reset();
    m_socket = nullptr;
}

void tst_StatusLine::makeWindow()
{
    m_socket = new FakeSocket;
    m_window = std::make_unique<fm_more_data>(support::windowOptions(m_dir, m_socket));
    // The handlers are driven by hand.
    for (QTimer *timer : m_window->findChildren<QTimer *>())
        timer->stop();
    m_status = m_window->findChild<QLineEdit *>(QStringLiteral("txt_tcp_status"));
    m_serial = m_window->findChild<QLineEdit *>(QStringLiteral("txt_trailer_num"));
    QVERIFY(m_status);
    QVERIFY(m_serial);
}

void tst_StatusLine::wording_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("expected");

    const QString serial = QStringLiteral("0417");
    QTest::newRow("0 closed") << 0 << serial << QStringLiteral("0417 Connection is closed. ");
    QTest::newRow("1 open") << 1 << serial << QStringLiteral("0417 Connection is open. ");
    QTest::newRow("2 listening") << 2 << serial << QStringLiteral("0417 Connection is listening. ");
    QTest::newRow("3 pending, no serial") << 3 << serial << QStringLiteral("Connection Pending. ");
    QTest::newRow("4 resolving, no serial") << 4 << serial << QStringLiteral("Resolving host. ");
    QTest::newRow("5 resolved, no serial") << 5 << serial << QStringLiteral("Host resolved. ");
    QTest::newRow("6 connecting") << 6 << serial << QStringLiteral("0417 is connecting to server. ");
    QTest::newRow("7 connected") << 7 << serial << QStringLiteral("0417 is connected to server. ");
    QTest::newRow("8 closing") << 8 << serial << QStringLiteral("0417 is closing the connection. ");
    QTest::newRow("9 error") << 9 << serial << QStringLiteral("0417 is in error. ");
    QTest::newRow("10 unknown") << 10 << serial << QStringLiteral(" Unknown state ");
    QTest::newRow("-1 unknown") << -1 << serial << QStringLiteral(" Unknown state ");
    QTest::newRow("32767 unknown") << 32767 << serial << QStringLiteral(" Unknown state ");
    QTest::newRow("empty serial") << 0 << QString() << QStringLiteral(" Connection is closed. ");
    QTest::newRow("serial as typed") << 7 << QStringLiteral(" A-12 ") << QStringLiteral(" A-12  is connected to server. ");
}

void tst_StatusLine::wording()
{
    QFETCH(int, state);
    QFETCH(QString, serial);
    QFETCH(QString, expected);

    const auto s = static_cast<std::int16_t>(state);
    QCOMPARE(statusWording(s, serial), expected);
    // Outside state 7 the line is the wording alone, whatever the data's age.
    if (state != 7)
        QCOMPARE(statusLine(s, expected, 12.0), expected);
}

void tst_StatusLine::dataAge_data()
{
    QTest::addColumn<double>("age");
    QTest::addColumn<QString>("seconds");

    QTest::newRow("fresh") << 0.0 << QStringLiteral("0");
    QTest::newRow("rounds down") << 3.4 << QStringLiteral("3");
    QTest::newRow("half rounds up") << 2.5 << QStringLiteral("3");
    QTest::newRow("a tick short of a minute") << 59.9 << QStringLiteral("60");
    QTest::newRow("no separators") << 12345.2 << QStringLiteral("12345");
    QTest::newRow("just under a half") << 2.49 << QStringLiteral("2");
}

void tst_StatusLine::dataAge()
{
    QFETCH(double, age);
    QFETCH(QString, seconds);

    const QString wording = statusWording(7, QStringLiteral("0001"));
    QCOMPARE(statusLine(7, wording, age),
             QStringLiteral("0001 is connected to server.  The data is ") + seconds + QStringLiteral(" seconds old"));
}

void tst_StatusLine::windowFollowsTheSocket_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("line");

    QTest::newRow("0") << 0 << QStringLiteral("0001 Connection is closed. ");
    QTest::newRow("4") << 4 << QStringLiteral("Resolving host. ");
    QTest::newRow("6") << 6 << QStringLiteral("0001 is connecting to server. ");
    QTest::newRow("7") << 7 << QStringLiteral("0001 is connected to server.  The data is 3 seconds old");
    QTest::newRow("8") << 8 << QStringLiteral("0001 is closing the connection. ");
    QTest::newRow("9") << 9 << QStringLiteral("0001 is in error. ");
    QTest::newRow("42") << 42 << QStringLiteral(" Unknown state ");
}

void tst_StatusLine::windowFollowsTheSocket()
{
    QFETCH(int, state);
    QFETCH(QString, line);

    support::ticks(*m_window, 34);
    m_socket->state = static_cast<std::int16_t>(state);
    m_window->Winsock_state();

    QCOMPARE(m_window->socketState(), std::int16_t(state));
    QCOMPARE(m_status->text(), line);
    // The wording alone is kept for the connect report, without the age.
    QCOMPARE(m_window->statusText(), statusWording(static_cast<std::int16_t>(state), QStringLiteral("0001")));
}

void tst_StatusLine::startsClosedWithTheDesignSerial()
{
    QCOMPARE(m_serial->text(), QStringLiteral("0001"));
    m_window->Winsock_state();
    QCOMPARE(m_status->text(), QStringLiteral("0001 Connection is closed. "));
    QCOMPARE(m_window->socketState(), std::int16_t(0));
}

void tst_StatusLine::editedSerialShowsAtTheNextRead()
{
    m_socket->state = 7;
    m_window->Winsock_state();
    m_serial->setText(QStringLiteral("2203"));
    QCOMPARE(m_status->text(), QStringLiteral("0001 is connected to server.  The data is 0 seconds old"));
    m_window->Winsock_state();
    QCOMPARE(m_status->text(), QStringLiteral("2203 is connected to server.  The data is 0 seconds old"));
}

void tst_StatusLine::unreadableStateKeepsTheLastOne()
{
    m_socket->state = 7;
    support::ticks(*m_window, 10);
    m_window->Winsock_state();
    QCOMPARE(m_window->socketState(), std::int16_t(7));

    m_socket->state = 0;
    m_socket->refuseState = QByteArrayLiteral("Unexpected error");
    support::ticks(*m_window, 70);
    m_window->Winsock_state();
    QCOMPARE(m_window->socketState(), std::int16_t(7));
    QCOMPARE(m_status->text(), QStringLiteral("0001 is connected to server.  The data is 8 seconds old"));
    QCOMPARE(m_window->statusText(), QStringLiteral("0001 is connected to server. "));
    QVERIFY(m_window->trafficContent().indexOf("Unexpected error") < 0);

    m_socket->refuseState.clear();
    m_window->Winsock_state();
    QCOMPARE(m_window->socketState(), std::int16_t(0));
    QCOMPARE(m_status->text(), QStringLiteral("0001 Connection is closed. "));
}

QTEST_MAIN(tst_StatusLine)
#include "tst_statusline.moc"
