#include <array>

#include <QtTest>
#include <QtWidgets>

#include "support/keymessages.h"
#include "support/testsupport.h"
#include "app/unlock/fm_secure.h"

namespace {

// Stands in for the main window: takes what the form hands on, as the
// window's socket and traffic window would, and refuses sends on request.
class FakeLink
{
public:
    void attach(fm_secure *form)
    {
        QObject::connect(form, &fm_secure::keyMessageReady, form, [this](const QByteArray &message) {
            ++sendCalls;
            if (!refusal.empty())
                lines.append("[Log In err: " + QByteArray::fromStdString(refusal) + "]");
            else
                sent.append(message);
        });
        QObject::connect(form, &fm_secure::keyMessageFailed, form, [this](const QByteArray &description) {
            lines.append("[Log In err: " + description + "]");
        });
    }

    std::string refusal;  // empty: the send is taken
    int sendCalls = 0;
    QList<QByteArray> sent;
    QList<QByteArray> lines;
};

struct SeenBox
{
    QString text;
    QString title;
    QMessageBox::StandardButtons buttons;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool formVisible = false;
};

// Every message logged while a test runs, to prove the password is never
// written anywhere.
QStringList loggedMessages;

void recordMessage(QtMsgType, const QMessageLogContext &, const QString &text)
{
    loggedMessages.append(text);
}

} // namespace

class tst_FmSecure : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void controls();
    void layoutAndTabOrder();
    void passwordShownAsStars();
    void lengthChecks_data();
    void lengthChecks();
    void goodSend_data();
    void goodSend();
    void enterKey_data();
    void enterKey();
    void failedSend_data();
    void failedSend();
    void noLink();
    void reshowKeepsTextsAndRestores();
    void realMessageBox();
    void windowSendsThroughItsLink();

private:
    template <typename T>
    T *child(const char *name) const
    {
        return form->findChild<T *>(QLatin1String(name));
    }

    void fill(const QString &userName, const QString &password);

    fm_secure *form = nullptr;
    FakeLink link;
    QList<SeenBox> boxes;
    QtMessageHandler previousHandler = nullptr;
};

void tst_FmSecure::init()
{
    form = new fm_secure;
    link = FakeLink();
    boxes.clear();
    link.attach(form);
    form->setMessageBoxRunner([this](QMessageBox &box) {
        boxes.append({box.text(), box.windowTitle(), box.standardButtons(), box.icon(), form->isVisible()});
    });
    loggedMessages.clear();
    previousHandler = qInstallMessageHandler(recordMessage);
}

void tst_FmSecure::cleanup()
{
    qInstallMessageHandler(previousHandler);
    delete form;
    form = nullptr;
}

void tst_FmSecure::fill(const QString &userName, const QString &password)
{
    child<QLineEdit>("txt_username")->setText(userName);
    child<QLineEdit>("txt_pwe")->setText(password);
}

void tst_FmSecure::controls()
{
    QCOMPARE(form->objectName(), QStringLiteral("fm_secure"));
    QCOMPARE(form->windowTitle(), QStringLiteral("  Unlock Connection"));
    QVERIFY(form->isWindow());
    QVERIFY(!form->isVisible());

    // A parent owns it but it stays a window of its own.
    QWidget owner;
    fm_secure owned(&owner);
    QVERIFY(owned.isWindow());

    auto *outer = child<QGroupBox>("frame_unlock");
    auto *userFrame = child<QGroupBox>("frame_username");
    auto *passwordFrame = child<QGroupBox>("frame_password");
    auto *userBox = child<QLineEdit>("txt_username");
    auto *passwordBox = child<QLineEdit>("txt_pwe");
    auto *send = child<QPushButton>("cmd_send_key");
    QVERIFY(outer && userFrame && passwordFrame && userBox && passwordBox && send);

    QCOMPARE(outer->title(), QStringLiteral("Enter Password To Unlock Connection"));
    QVERIFY(outer->font().bold());
    QCOMPARE(userFrame->title(), QStringLiteral("Username"));
    QCOMPARE(passwordFrame->title(), QStringLiteral("Password"));
    QVERIFY(!userFrame->font().bold());
    QVERIFY(!passwordFrame->font().bold());
    QVERIFY(!send->font().bold());
    QVERIFY(!userBox->font().bold());
    QCOMPARE(send->text(), QStringLiteral("Send"));

    QCOMPARE(userBox->parentWidget(), userFrame);
    QCOMPARE(passwordBox->parentWidget(), passwordFrame);
    QCOMPARE(userFrame->parentWidget(), outer);
    QCOMPARE(passwordFrame->parentWidget(), outer);
    QCOMPARE(send->parentWidget(), outer);

    QVERIFY(userBox->text().isEmpty());
    QVERIFY(passwordBox->text().isEmpty());
    QCOMPARE(userBox->toolTip(), QStringLiteral("Enter your user name for this key file"));
    QCOMPARE(passwordBox->toolTip(), QStringLiteral("Enter the password for this key file"));
    QCOMPARE(userBox->echoMode(), QLineEdit::Normal);
    QCOMPARE(passwordBox->echoMode(), QLineEdit::Password);

    // Ten characters at most, typed or pasted.
    QCOMPARE(userBox->maxLength(), 10);
    QCOMPARE(passwordBox->maxLength(), 10);
    QTest::keyClicks(userBox, QStringLiteral("abcdefghijkl"));
    QCOMPARE(userBox->text(), QStringLiteral("abcdefghij"));
    passwordBox->setText(QStringLiteral("0123456789xyz"));
    QCOMPARE(passwordBox->text(), QStringLiteral("0123456789"));
}

// A small strip: the two frames and the button side by side, left to right,
// and the tab key walks them in that order.
void tst_FmSecure::layoutAndTabOrder()
{
    form->showUnlock();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    auto *outer = child<QGroupBox>("frame_unlock");
    const QRect user = child<QWidget>("frame_username")->geometry();
    const QRect password = child<QWidget>("frame_password")->geometry();
    const QRect send = child<QWidget>("cmd_send_key")->geometry();
    QVERIFY(user.right() < password.left());
    QVERIFY(password.right() < send.left());
    QVERIFY(user.top() < send.bottom() && send.top() < user.bottom());
    QVERIFY(user.top() < password.bottom() && password.top() < user.bottom());
    QVERIFY(outer->contentsRect().contains(send));
    QVERIFY(form->width() > form->height());

    QVERIFY(QTest::qWaitForWindowActive(form));
    auto *userBox = child<QLineEdit>("txt_username");
    userBox->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), userBox);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QWidget>("txt_pwe"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QWidget>("cmd_send_key"));
}

void tst_FmSecure::passwordShownAsStars()
{
    form->showUnlock();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    auto *passwordBox = child<QLineEdit>("txt_pwe");
    QTest::keyClicks(passwordBox, QStringLiteral("s3cret"));
    QCOMPARE(passwordBox->text(), QStringLiteral("s3cret"));
    QCOMPARE(passwordBox->displayText(), QStringLiteral("******"));
    QCOMPARE(child<QLineEdit>("txt_username")->displayText(), QString());
}

void tst_FmSecure::lengthChecks_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");

    const QString userText = QStringLiteral("The username must be at least 3 characters long");
    const QString userTitle = QStringLiteral("USERNAME TOO SHORT");
    const QString passwordText = QStringLiteral("The password must be at least 3 characters long");
    const QString passwordTitle = QStringLiteral("PASSWORD TOO SHORT");

    QTest::newRow("both empty: user name first") << QString() << QString() << userText << userTitle;
    QTest::newRow("user name of 2, good password")
        << QStringLiteral("ab") << QStringLiteral("secret") << userText << userTitle;
    QTest::newRow("user name of 1, password of 2")
        << QStringLiteral("a") << QStringLiteral("se") << userText << userTitle;
    QTest::newRow("user name of 3, password of 2")
        << QStringLiteral("abc") << QStringLiteral("se") << passwordText << passwordTitle;
    QTest::newRow("user name of 10, empty password")
        << QStringLiteral("abcdefghij") << QString() << passwordText << passwordTitle;
}

void tst_FmSecure::lengthChecks()
{
    QFETCH(QString, userName);
    QFETCH(QString, password);
    QFETCH(QString, text);
    QFETCH(QString, title);

    form->showUnlock();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    fill(userName, password);
    QTest::mouseClick(child<QPushButton>("cmd_send_key"), Qt::LeftButton);

    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].text, text);
    QCOMPARE(boxes[0].title, title);
    QCOMPARE(boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(boxes[0].icon, QMessageBox::NoIcon);
    QVERIFY(boxes[0].formVisible);
    QVERIFY(form->isVisible());
    QCOMPARE(link.sendCalls, 0);
    QVERIFY(link.lines.isEmpty());
    QCOMPARE(child<QLineEdit>("txt_username")->text(), userName);
    QCOMPARE(child<QLineEdit>("txt_pwe")->text(), password);
}

void tst_FmSecure::goodSend_data()
{
    QTest::addColumn<QString>("userName");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("userCodes");
    QTest::addColumn<QByteArray>("passwordCodes");

    QTest::newRow("three and three")
        << QStringLiteral("abc") << QStringLiteral("xyz") << QByteArray("abc") << QByteArray("xyz");
    QTest::newRow("ten and ten") << QStringLiteral("DrillerOne") << QStringLiteral("0123456789")
                                 << QByteArray("DrillerOne") << QByteArray("0123456789");
    QTest::newRow("blanks and Latin-1 letters")
        << QStringLiteral("Jos\u00e9 M") << QStringLiteral("Stra\u00dfe 1")
        << QByteArray("Jos\xe9 M") << QByteArray("Stra\xdf" "e 1");
}

// A good send hides the form and hands one 777-byte message to the socket,
// with nothing in the traffic window and nothing logged.
void tst_FmSecure::goodSend()
{
    QFETCH(QString, userName);
    QFETCH(QString, password);
    QFETCH(QByteArray, userCodes);
    QFETCH(QByteArray, passwordCodes);

    form->showUnlock();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    fill(userName, password);
    QTest::mouseClick(child<QPushButton>("cmd_send_key"), Qt::LeftButton);

    QVERIFY(boxes.isEmpty());
    QVERIFY(!form->isVisible());
    QCOMPARE(link.sendCalls, 1);
    QCOMPARE(link.sent.size(), 1);
    QCOMPARE(link.sent[0].size(), 777);
    const support::DecodedKey got = support::decodeKeyMessage(link.sent[0]);
    QCOMPARE(got.userName(), userCodes);
    QCOMPARE(got.password(), passwordCodes);
    QVERIFY(link.lines.isEmpty());
    for (const QString &logged : qAsConst(loggedMessages))
        QVERIFY2(!logged.contains(password), qPrintable(logged));

    // The same credentials again: fresh random bytes, same content.
    form->send_key();
    QCOMPARE(link.sent.size(), 2);
    QVERIFY(link.sent[1] != link.sent[0]);
    QCOMPARE(support::decodeKeyMessage(link.sent[1]).password(), passwordCodes);
}

void tst_FmSecure::enterKey_data()
{
    QTest::addColumn<QString>("box");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("sends");

    QTest::newRow("Return in the password box") << QStringLiteral("txt_pwe") << int(Qt::Key_Return) << 1;
    QTest::newRow("keypad Enter in the password box") << QStringLiteral("txt_pwe") << int(Qt::Key_Enter) << 1;
    QTest::newRow("Return in the user-name box") << QStringLiteral("txt_username") << int(Qt::Key_Return) << 0;
    QTest::newRow("keypad Enter in the user-name box") << QStringLiteral("txt_username") << int(Qt::Key_Enter) << 0;
    QTest::newRow("other key in the password box") << QStringLiteral("txt_pwe") << int(Qt::Key_Z) << 0;
}

void tst_FmSecure::enterKey()
{
    QFETCH(QString, box);
    QFETCH(int, key);
    QFETCH(int, sends);

    form->showUnlock();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    fill(QStringLiteral("abc"), QStringLiteral("secret"));
    auto *target = form->findChild<QLineEdit *>(box);
    QTest::keyClick(target, Qt::Key(key));

    QCOMPARE(link.sent.size(), sends);
    QCOMPARE(form->isVisible(), sends == 0);
    QVERIFY(boxes.isEmpty());
    if (sends)
        QCOMPARE(support::decodeKeyMessage(link.sent[0]).password(), QByteArray("secret"));
}

void tst_FmSecure::failedSend_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QByteArray>("refusal");
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<int>("sendCalls");

    QTest::newRow("socket refuses") << QStringLiteral("secret")
                                    << QByteArray("Wrong protocol or connection state for the requested transaction or request")
                                    << QByteArray("[Log In err: Wrong protocol or connection state for the requested transaction or request]")
                                    << 1;
    QTest::newRow("password character beyond one byte")
        << QStringLiteral("s\u20acret") << QByteArray() << QByteArray("[Log In err: Invalid procedure call or argument]")
        << 0;
}

// A refused send or an unsendable character: the form stays hidden, one
// line in the traffic window, and the password appears nowhere.
void tst_FmSecure::failedSend()
{
    QFETCH(QString, password);
    QFETCH(QByteArray, refusal);
    QFETCH(QByteArray, line);
    QFETCH(int, sendCalls);

    link.refusal = refusal.toStdString();
    form->showUnlock();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    fill(QStringLiteral("driller"), password);
    QTest::mouseClick(child<QPushButton>("cmd_send_key"), Qt::LeftButton);

    QVERIFY(!form->isVisible());
    QVERIFY(boxes.isEmpty());
    QCOMPARE(link.sendCalls, sendCalls);
    QVERIFY(link.sent.isEmpty());
    QCOMPARE(link.lines, QList<QByteArray>{line});
    QVERIFY(!link.lines[0].contains(password.toLatin1()));
    for (const QString &logged : qAsConst(loggedMessages))
        QVERIFY2(!logged.contains(password), qPrintable(logged));
    QCOMPARE(child<QLineEdit>("txt_pwe")->text(), password);
}

// No socket to send through: the form hides as after any send, nothing else.
void tst_FmSecure::noLink()
{
    QObject::disconnect(form, nullptr, nullptr, nullptr);
    form->showUnlock();
    fill(QStringLiteral("abc"), QStringLiteral("secret"));
    form->send_key();
    QVERIFY(!form->isVisible());
    QVERIFY(boxes.isEmpty());
}

// Shown again after a send, the form offers the same credentials; shown
// while minimised, it comes back to normal size and takes the focus.
void tst_FmSecure::reshowKeepsTextsAndRestores()
{
    form->showUnlock();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    fill(QStringLiteral("driller"), QStringLiteral("mud2deep"));
    form->send_key();
    QVERIFY(!form->isVisible());

    form->showUnlock();
    QVERIFY(form->isVisible());
    QCOMPARE(child<QLineEdit>("txt_username")->text(), QStringLiteral("driller"));
    QCOMPARE(child<QLineEdit>("txt_pwe")->text(), QStringLiteral("mud2deep"));

    // Another window has the focus while the form lies minimised.
    form->showMinimized();
    QTRY_VERIFY(form->isMinimized());
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &other);

    form->showUnlock();
    QTRY_VERIFY(!form->isMinimized());
    QVERIFY(form->isVisible());
    QTRY_COMPARE(QApplication::activeWindow(), form);
}

// The boxes the operator really gets: modal, closed with OK, and the form
// still there afterwards.
void tst_FmSecure::realMessageBox()
{
    fm_secure plain;
    link.attach(&plain);
    plain.showUnlock();
    QVERIFY(QTest::qWaitForWindowExposed(&plain));
    plain.findChild<QLineEdit *>(QStringLiteral("txt_username"))->setText(QStringLiteral("abc"));

    SeenBox seen;
    bool closed = false;
    QTimer closer;
    closer.setInterval(10);
    connect(&closer, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = {box->text(), box->windowTitle(), box->standardButtons(), box->icon(), plain.isVisible()};
        closer.stop();
        box->button(QMessageBox::Ok)->click();
        closed = true;
    });
    closer.start();
    plain.send_key();

    QVERIFY(closed);
    QCOMPARE(seen.text, QStringLiteral("The password must be at least 3 characters long"));
    QCOMPARE(seen.title, QStringLiteral("PASSWORD TOO SHORT"));
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen.icon, QMessageBox::NoIcon);
    QVERIFY(plain.isVisible());
    QCOMPARE(link.sendCalls, 0);
}

// The main window sends what the form hands on, and a refusal of its link
// becomes the one report line.
void tst_FmSecure::windowSendsThroughItsLink()
{
    support::WindowFixture fixture;
    fm_more_data &w = fixture.w();
    w.cmd_secure_Click();
    auto *shown = const_cast<fm_secure *>(w.secureForm());
    shown->findChild<QLineEdit *>(QStringLiteral("txt_username"))->setText(QStringLiteral("driller"));
    shown->findChild<QLineEdit *>(QStringLiteral("txt_pwe"))->setText(QStringLiteral("secret"));

    shown->send_key();
    QCOMPARE(w.trafficContent(), QByteArrayLiteral(
        "\r\n[Log In err: Wrong protocol or connection state for the requested transaction or request]"));

    fixture.socket->state = SocketControl::Connected;
    w.Winsock_state();
    shown->send_key();
    QCOMPARE(fixture.socket->sent.size(), 1);
    QCOMPARE(fixture.socket->sent.at(0).size(), 777);
}

QTEST_MAIN(tst_FmSecure)
#include "tst_fm_secure.moc"
