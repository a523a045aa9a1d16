#pragma once

#include <functional>

#include <QWidget>

class QKeyEvent;
class QLineEdit;
class QMessageBox;
class QPushButton;

// The unlock form: a small strip where the operator types a user name and a
// password and sends the key message that asks the unit for two-way
// operation. The form only builds the message and hands it on: whoever owns
// the link sends it, and the unit's answer arrives on the data stream. It is
// a window of its own even when given a parent.
class fm_secure : public QWidget
{
    Q_OBJECT

public:
    // Runs one of the two length-check message boxes. The default shows it
    // modally with exec(); tests put in their own to read it without blocking.
    using MessageBoxRunner = std::function<void(QMessageBox &box)>;

    explicit fm_secure(QWidget *parent = nullptr);

    void setMessageBoxRunner(MessageBoxRunner runner);

    // Shows the form without making it modal, restores it when minimised and
    // brings it to the front with the focus.
    void showUnlock();

    // Checks the lengths, hides the form and hands on the key message.
    // Never throws.
    void send_key();

signals:
    // The message to send to the unit, in one send.
    void keyMessageReady(const QByteArray &message);
    // The credentials cannot travel (a character without a single-byte
    // code): the description of why, for the one report line.
    void keyMessageFailed(const QByteArray &description);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cmd_send_key_Click();
    void txt_pwe_KeyPress(const QKeyEvent &event);
    void showLengthNotice(const QString &text, const QString &title);

    QLineEdit *txt_username = nullptr;
    QLineEdit *txt_pwe = nullptr;
    QPushButton *cmd_send_key = nullptr;
    MessageBoxRunner m_runMessageBox;
};
