// The traffic window: what it keeps (the exact bytes, behind a CR LF each,
// trimmed past 5000 characters to the last 4000), what it shows, and the
// keys it sends to the unit.

#include <cstdint>
#include <memory>

#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <QTest>
#include <QTextCursor>
#include <QTimer>

#include "app/fm_more_data.h"
#include "rules/stream/trafficlog.h"
#include "app/stream/trafficwindow.h"
#include "support/testsupport.h"

namespace {

bool isControl(ushort c)
{
    return c < 0x20 || (c >= 0x7F && c < 0xA0);
}

// What the operator must see for these bytes, with every control character
// other than a line break as "?": CR LF, a lone CR and a lone LF are one
// line break each.
QString expectedShown(const QByteArray &bytes)
{
    QString shown;
    for (int i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes.at(i));
        if (c == '\r') {
            if (i + 1 < bytes.size() && bytes.at(i + 1) == '\n')
                ++i;
            shown += QLatin1Char('\n');
        } else if (c == '\n') {
            shown += QLatin1Char('\n');
        } else if (isControl(c)) {
            shown += QLatin1Char('?');
        } else if (c == 0xA0) {
            shown += QLatin1Char(' ');  // toPlainText reports a no-break space as a blank
        } else {
            shown += QChar(ushort(c));
        }
    }
    return shown;
}

// The shown text with every visible stand-in for a control character as
// "?". A raw control character left in the text is kept as it is, so that
// it shows up as a difference.
QString normalised(const QString &shown)
{
    QString text;
    for (const QChar ch : shown)
        text += ch.unicode() > 0xFF ? QLatin1Char('?') : ch;
    return text;
}

QByteArray pattern(int length, char salt = 'a')
{
    QByteArray text;
    text.reserve(length);
    for (int i = 0; i < length; ++i)
        text += static_cast<char>(salt + i % 26);
    return text;
}

} // namespace

class tst_TrafficWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void linesGoBehindALineBreak();
    void trim_data();
    void trim();
    void shownFollowsTheContent_data();
    void shownFollowsTheContent();
    void everyByteValueIsKeptAndShownSafely();
    void caretGoesToTheEnd();

    void lineBreaks_data();
    void lineBreaks();

    void keys_data();
    void keys();
    void keysOnlyWhileConnected_data();
    void keysOnlyWhileConnected();
    void refusedSendIsIgnored();
    void standsAlone();

private:
    // The screen follows the kept text a moment later: brought up to it now.
    QString shown() const
    {
        static_cast<TrafficWindow *>(m_text)->flush();
        return m_text->toPlainText();
    }
    void checkShown();

    std::unique_ptr<support::WindowFixture> m_fixture;
    fm_more_data *m_window = nullptr;
    FakeSocket *m_socket = nullptr;
    QPlainTextEdit *m_text = nullptr;
};

void tst_TrafficWindow::initTestCase()
{
}

void tst_TrafficWindow::init()
{
    m_fixture = std::make_unique<support::WindowFixture>();
    m_window = m_fixture->window.get();
    m_socket = m_fixture->socket;
    // Whether a key is sent is the window's decision, not the socket's.
    m_socket->strictStates = false;
    m_text = support::child<QPlainTextEdit>(*m_window, "text_window");
    QCOMPARE(m_window->trafficContent(), QByteArray());
    QCOMPARE(shown(), QString());
}

void tst_TrafficWindow::cleanup()
{
    m_fixture.reset();
    m_window = nullptr;
    m_socket = nullptr;
    m_text = nullptr;
}

void tst_TrafficWindow::checkShown()
{
    const QString text = shown();
    for (const QChar ch : text)
        QVERIFY2(ch == QLatin1Char('\n') || !isControl(ch.unicode()), "a raw control character is shown");
    QCOMPARE(normalised(text), expectedShown(m_window->trafficContent()));
}

void tst_TrafficWindow::linesGoBehindALineBreak()
{
    m_window->disply_text(QByteArrayLiteral("[TCP ERR: Invalid argument]"));
    QCOMPARE(m_window->trafficContent(), QByteArrayLiteral("\r\n[TCP ERR: Invalid argument]"));
    QCOMPARE(shown(), QStringLiteral("\n[TCP ERR: Invalid argument]"));

    m_window->disply_text(QByteArray());
    QCOMPARE(m_window->trafficContent(), QByteArrayLiteral("\r\n[TCP ERR: Invalid argument]"));

    // A chunk that ends in its own line break leaves an empty line.
    m_window->disply_text(QByteArrayLiteral("*1,2,\r\n"));
    m_window->disply_text(QByteArrayLiteral("^x"));
    QCOMPARE(m_window->trafficContent(), QByteArrayLiteral("\r\n[TCP ERR: Invalid argument]\r\n*1,2,\r\n\r\n^x"));
    QCOMPARE(shown(), QStringLiteral("\n[TCP ERR: Invalid argument]\n*1,2,\n\n^x"));
}

void tst_TrafficWindow::trim_data()
{
    QTest::addColumn<QList<QByteArray>>("texts");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray chunk = pattern(6000);
    QTest::newRow("6000 characters into an empty window") << QList<QByteArray>{chunk} << chunk.right(4000);

    const QByteArray a4998 = pattern(4998);
    QTest::newRow("exactly 5000 kept") << QList<QByteArray>{a4998} << QByteArrayLiteral("\r\n") + a4998;
    QTest::newRow("empty text at 5000 keeps all")
        << QList<QByteArray>{a4998, QByteArray()} << QByteArrayLiteral("\r\n") + a4998;

    const QByteArray a4999 = pattern(4999);
    QTest::newRow("5001 leaves the last 4000") << QList<QByteArray>{a4999} << a4999.right(4000);

    QTest::newRow("one more character at 5000")
        << QList<QByteArray>{a4998, QByteArrayLiteral("z")}
        << (QByteArrayLiteral("\r\n") + a4998 + QByteArrayLiteral("\r\nz")).right(4000);

    // The cut falls between the CR and the LF in front of the second text.
    const QByteArray first = pattern(1500, 'A');
    const QByteArray second = pattern(3999, 'a');
    QTest::newRow("cut inside a CR LF") << QList<QByteArray>{first, second} << QByteArrayLiteral("\n") + second;

    QList<QByteArray> many;
    for (int i = 0; i < 30; ++i)
        many.append(pattern(333, static_cast<char>('a' + i % 20)));
    QByteArray model;
    for (const QByteArray &text : many) {
        model += QByteArrayLiteral("\r\n") + text;
        if (model.size() > 5000)
            model = model.right(4000);
    }
    QTest::newRow("many short lines") << many << model;
}

void tst_TrafficWindow::trim()
{
    QFETCH(QList<QByteArray>, texts);
    QFETCH(QByteArray, expected);

    for (const QByteArray &text : texts) {
        m_window->disply_text(text);
        QVERIFY(m_window->trafficContent().size() <= 5000);
    }
    QCOMPARE(m_window->trafficContent().size(), expected.size());
    QCOMPARE(m_window->trafficContent(), expected);
    checkShown();
}

void tst_TrafficWindow::shownFollowsTheContent_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");

    QTest::newRow("breaks at chunk ends") << QList<QByteArray>{
        QByteArrayLiteral("*1,\r"), QByteArrayLiteral("\n2"), QByteArrayLiteral("3\r"),
        QByteArrayLiteral("\r\n"), QByteArrayLiteral("\n\r"), QByteArrayLiteral("x\r\r\ny")};
    QTest::newRow("control characters") << QList<QByteArray>{
        QByteArrayLiteral("\x01\x02\x1b[2J"), QByteArrayLiteral("\t|\x7f|\x85|\xa0|\xe9"), QByteArray(3, '\0')};

    // Enough to be trimmed several times, with the cut landing anywhere.
    QList<QByteArray> stream;
    for (int i = 0; i < 60; ++i) {
        QByteArray chunk = pattern(97 + (i * 37) % 400, static_cast<char>('a' + i % 7));
        chunk[i % chunk.size()] = '\r';
        chunk[(i * 7) % chunk.size()] = '\n';
        chunk[(i * 13) % chunk.size()] = static_cast<char>(i % 32);
        stream.append(chunk);
    }
    QTest::newRow("long stream") << stream;
}

void tst_TrafficWindow::shownFollowsTheContent()
{
    QFETCH(QList<QByteArray>, chunks);
    for (const QByteArray &chunk : chunks) {
        m_window->disply_text(chunk);
        checkShown();
        if (QTest::currentTestFailed())
            return;
    }
}

void tst_TrafficWindow::everyByteValueIsKeptAndShownSafely()
{
    QByteArray all;
    for (int c = 0; c < 256; ++c)
        all += static_cast<char>(c);
    m_window->disply_text(all);
    QCOMPARE(m_window->trafficContent(), QByteArrayLiteral("\r\n") + all);
    checkShown();
    // The line break in front, the LF (10) and the lone CR (13).
    QCOMPARE(shown().count(QLatin1Char('\n')), 3);
    QVERIFY(shown().endsWith(QStringLiteral("\u00e9\u00ea\u00eb\u00ec\u00ed\u00ee\u00ef\u00f0\u00f1\u00f2\u00f3\u00f4"
                                             "\u00f5\u00f6\u00f7\u00f8\u00f9\u00fa\u00fb\u00fc\u00fd\u00fe\u00ff")));
}

void tst_TrafficWindow::caretGoesToTheEnd()
{
    m_window->disply_text(pattern(300));
    m_window->disply_text(pattern(300));

    for (const QByteArray &text : {QByteArrayLiteral("more"), QByteArray(), pattern(5000)}) {
        QTextCursor start = m_text->textCursor();
        start.movePosition(QTextCursor::Start);
        m_text->setTextCursor(start);
        m_window->disply_text(text);
        shown();  // the screen's next update
        QVERIFY(m_text->textCursor().atEnd());
        QCOMPARE(m_text->textCursor().position(), m_text->document()->characterCount() - 1);
    }
}

void tst_TrafficWindow::lineBreaks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("breaks");

    QTest::newRow("CR LF") << QByteArrayLiteral("a\r\nb") << 1;
    QTest::newRow("lone CR") << QByteArrayLiteral("a\rb") << 1;
    QTest::newRow("lone LF") << QByteArrayLiteral("a\nb") << 1;
    QTest::newRow("LF CR") << QByteArrayLiteral("a\n\rb") << 2;
    QTest::newRow("CR CR LF") << QByteArrayLiteral("a\r\r\nb") << 2;
    QTest::newRow("two CR LF") << QByteArrayLiteral("\r\n\r\n") << 2;
    QTest::newRow("CR at the end") << QByteArrayLiteral("a\r") << 1;
    QTest::newRow("vertical tab and form feed") << QByteArrayLiteral("a\x0b\x0c b") << 0;
}

void tst_TrafficWindow::lineBreaks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, breaks);

    const QString text = TrafficLog::forDisplay(bytes);
    QCOMPARE(text.count(QLatin1Char('\n')), breaks);
    QCOMPARE(normalised(text), expectedShown(bytes));
    for (const QChar ch : text)
        QVERIFY(ch == QLatin1Char('\n') || !isControl(ch.unicode()));
}

void tst_TrafficWindow::keys_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");  // -1: nothing is sent

    const int none = Qt::NoModifier;
    const int ctrl = Qt::ControlModifier;
    QTest::newRow("A") << int(Qt::Key_A) << int(Qt::ShiftModifier) << QStringLiteral("A") << 65;
    QTest::newRow("a") << int(Qt::Key_A) << none << QStringLiteral("a") << 97;
    QTest::newRow("blank") << int(Qt::Key_Space) << none << QStringLiteral(" ") << 32;
    QTest::newRow("Enter") << int(Qt::Key_Return) << none << QStringLiteral("\r") << 13;
    QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier) << QStringLiteral("\r") << 13;
    QTest::newRow("Backspace") << int(Qt::Key_Backspace) << none << QStringLiteral("\b") << 8;
    QTest::newRow("Escape") << int(Qt::Key_Escape) << none << QStringLiteral("\x1b") << 27;
    QTest::newRow("Ctrl+A") << int(Qt::Key_A) << ctrl << QStringLiteral("\x01") << 1;
    QTest::newRow("Ctrl+C") << int(Qt::Key_C) << ctrl << QStringLiteral("\x03") << 3;
    QTest::newRow("Ctrl+Z") << int(Qt::Key_Z) << ctrl << QStringLiteral("\x1a") << 26;
    QTest::newRow("Ctrl+A without text") << int(Qt::Key_A) << ctrl << QString() << 1;
    QTest::newRow("AltGr character") << int(Qt::Key_Q) << int(Qt::ControlModifier | Qt::AltModifier)
                                     << QStringLiteral("@") << 64;
    QTest::newRow("Ctrl+Alt without text") << int(Qt::Key_Q) << int(Qt::ControlModifier | Qt::AltModifier)
                                           << QString() << -1;
    QTest::newRow("e acute") << int(Qt::Key_Eacute) << none << QStringLiteral("\u00e9") << 0xE9;
    QTest::newRow("no single-byte code") << int(Qt::Key_unknown) << none << QStringLiteral("\u20ac") << -1;
    QTest::newRow("arrow") << int(Qt::Key_Up) << none << QString() << -1;
    QTest::newRow("function key") << int(Qt::Key_F5) << none << QString() << -1;
}

void tst_TrafficWindow::keys()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QFETCH(int, code);

    m_window->disply_text(QByteArrayLiteral("from the unit"));
    const QString before = shown();
    m_socket->state = 7;
    m_window->Winsock_state();

    QTest::sendKeyEvent(QTest::Click, m_text, Qt::Key(key), text, Qt::KeyboardModifiers(modifiers));

    if (code < 0) {
        QCOMPARE(m_socket->sent, QList<QByteArray>());
    } else {
        QCOMPARE(m_socket->sent, QList<QByteArray>{QByteArray(1, static_cast<char>(code))});
    }
    // The unit echoes what it wants shown; the window inserts nothing.
    QCOMPARE(shown(), before);
    QCOMPARE(m_window->trafficContent(), QByteArrayLiteral("\r\nfrom the unit"));
}

void tst_TrafficWindow::keysOnlyWhileConnected_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("readState");
    QTest::addColumn<bool>("sends");

    QTest::newRow("7 connected") << 7 << true << true;
    QTest::newRow("0 closed") << 0 << true << false;
    QTest::newRow("4 resolving") << 4 << true << false;
    QTest::newRow("6 connecting") << 6 << true << false;
    QTest::newRow("8 closing") << 8 << true << false;
    QTest::newRow("9 error") << 9 << true << false;
    // The key handler goes by the state the last refresh read.
    QTest::newRow("7 not yet read") << 7 << false << false;
}

void tst_TrafficWindow::keysOnlyWhileConnected()
{
    QFETCH(int, state);
    QFETCH(bool, readState);
    QFETCH(bool, sends);

    m_socket->state = static_cast<std::int16_t>(state);
    if (readState)
        m_window->Winsock_state();

    QTest::keyClick(m_text, 'A', Qt::ShiftModifier);
    QTest::keyClick(m_text, Qt::Key_Return);
    QTest::keyClick(m_text, Qt::Key_Backspace);
    QTest::keyClick(m_text, Qt::Key_A, Qt::ControlModifier);

    QCOMPARE(m_socket->sentBytes(), sends ? QByteArrayLiteral("A\r\b\x01") : QByteArray());
    if (sends)
        QCOMPARE(m_socket->sent.size(), 4);
    QCOMPARE(shown(), QString());
    QCOMPARE(m_window->trafficContent(), QByteArray());
}

void tst_TrafficWindow::refusedSendIsIgnored()
{
    m_socket->state = 7;
    m_window->Winsock_state();
    m_socket->refuseSend = QByteArrayLiteral("Wrong protocol or connection state for the requested transaction or request");

    QTest::keyClick(m_text, Qt::Key_Return);
    QVERIFY(m_socket->sent.isEmpty());
    QCOMPARE(m_window->trafficContent(), QByteArray());

    m_socket->refuseSend.clear();
    QTest::keyClick(m_text, Qt::Key_Return);
    QCOMPARE(m_socket->sentBytes(), QByteArrayLiteral("\r"));
}

// Without any main window: the widget trims what it keeps and hands on the
// code of a typed key instead of inserting it.
void tst_TrafficWindow::standsAlone()
{
    TrafficWindow alone;
    QSignalSpy typed(&alone, &TrafficWindow::keyTyped);
    QSignalSpy lines(&alone, &TrafficWindow::lineAppended);
    alone.appendChunk(pattern(4998));
    alone.appendLine(QByteArrayLiteral("[report]"));
    QCOMPARE(alone.content().size(), TrafficLog::Keep);
    QVERIFY(alone.content().endsWith("\r\n[report]"));
    QCOMPARE(lines.size(), 1);

    QTest::keyClick(&alone, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(&alone, Qt::Key_Up);
    QCOMPARE(typed.size(), 1);
    QCOMPARE(typed.at(0).at(0).value<std::int16_t>(), std::int16_t(3));
    QVERIFY(alone.toPlainText().isEmpty());
    alone.flush();
    QVERIFY(alone.toPlainText().endsWith(QStringLiteral("[report]")));
}

QTEST_MAIN(tst_TrafficWindow)
#include "tst_trafficwindow.moc"
