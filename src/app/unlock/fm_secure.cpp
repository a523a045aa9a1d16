#include "app/unlock/fm_secure.h"

#include <exception>
#include <utility>

#include <QEvent>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "rules/unlock/keymessage.h"

namespace {

constexpr int ShortestCredential = 3;

// A frame holding one text box, for the user name and for the password.
QGroupBox *fieldFrame(const QString &objectName, const QString &title, QLineEdit *box,
                      const QFont &font, QWidget *parent)
{
    auto *frame = new QGroupBox(title, parent);
    frame->setObjectName(objectName);
    frame->setFont(font);
    auto *layout = new QVBoxLayout(frame);
    layout->addWidget(box);
    return frame;
}

} // namespace

fm_secure::fm_secure(QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_runMessageBox([](QMessageBox &box) { box.exec(); })
{
    setObjectName(QStringLiteral("fm_secure"));
    setWindowTitle(QStringLiteral("  Unlock Connection"));

    auto *outer = new QGroupBox(QStringLiteral("Enter Password To Unlock Connection"), this);
    outer->setObjectName(QStringLiteral("frame_unlock"));
    QFont boldFont = outer->font();
    boldFont.setBold(true);
    outer->setFont(boldFont);
    // Only the outer caption is bold; the weight is set explicitly so the
    // inner frames do not inherit it.
    QFont plainFont = boldFont;
    plainFont.setBold(false);

    txt_username = new QLineEdit(this);
    txt_username->setObjectName(QStringLiteral("txt_username"));
    txt_username->setMaxLength(KeyMessage::FieldWidth);
    txt_username->setToolTip(QStringLiteral("Enter your user name for this key file"));

    txt_pwe = new QLineEdit(this);
    txt_pwe->setObjectName(QStringLiteral("txt_pwe"));
    txt_pwe->setMaxLength(KeyMessage::FieldWidth);
    txt_pwe->setToolTip(QStringLiteral("Enter the password for this key file"));
    txt_pwe->setEchoMode(QLineEdit::Password);
    // Every style has its own mask character; the operator is used to "*".
    txt_pwe->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));
    txt_pwe->installEventFilter(this);

    cmd_send_key = new QPushButton(QStringLiteral("Send"), this);
    cmd_send_key->setObjectName(QStringLiteral("cmd_send_key"));
    cmd_send_key->setFont(plainFont);
    connect(cmd_send_key, &QPushButton::clicked, this, &fm_secure::cmd_send_key_Click);

    auto *strip = new QHBoxLayout(outer);
    strip->addWidget(fieldFrame(QStringLiteral("frame_username"), QStringLiteral("Username"),
                                txt_username, plainFont, outer));
    strip->addWidget(fieldFrame(QStringLiteral("frame_password"), QStringLiteral("Password"),
                                txt_pwe, plainFont, outer));
    strip->addWidget(cmd_send_key, 0, Qt::AlignBottom);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(outer);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    setTabOrder(txt_username, txt_pwe);
    setTabOrder(txt_pwe, cmd_send_key);
}

void fm_secure::setMessageBoxRunner(MessageBoxRunner runner)
{
    m_runMessageBox = std::move(runner);
}

void fm_secure::showUnlock()
{
    showNormal();
    raise();
    activateWindow();
}

void fm_secure::send_key()
{
    const QString userName = txt_username->text();
    const QString password = txt_pwe->text();
    if (userName.size() < ShortestCredential) {
        showLengthNotice(QStringLiteral("The username must be at least 3 characters long"),
                         QStringLiteral("USERNAME TOO SHORT"));
        return;
    }
    if (password.size() < ShortestCredential) {
        showLengthNotice(QStringLiteral("The password must be at least 3 characters long"),
                         QStringLiteral("PASSWORD TOO SHORT"));
        return;
    }

    // The boxes keep their text: a later show offers the same credentials.
    hide();
    QByteArray message;
    try {
        message = KeyMessage::buildWithClockSeed(userName, password);
    } catch (const std::exception &failure) {
        // The description comes from the conversion, never from the
        // credentials, so it is safe to show.
        emit keyMessageFailed(QByteArray(failure.what()));
        return;
    }
    emit keyMessageReady(message);
}

bool fm_secure::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txt_pwe && event->type() == QEvent::KeyPress)
        txt_pwe_KeyPress(static_cast<const QKeyEvent &>(*event));
    // The key always goes on to the box unchanged.
    return QWidget::eventFilter(watched, event);
}

void fm_secure::cmd_send_key_Click()
{
    send_key();
}

void fm_secure::txt_pwe_KeyPress(const QKeyEvent &event)
{
    if (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter)
        send_key();
}

void fm_secure::showLengthNotice(const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, this);
    m_runMessageBox(box);
}
