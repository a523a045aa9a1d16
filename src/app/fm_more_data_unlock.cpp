// The main window's side of the two-way unlock.

#include "app/fm_more_data.h"

#include "link/unitlink.h"
#include "app/unlock/fm_secure.h"

void fm_more_data::cmd_secure_Click()
{
    if (m_ended)
        return;
    if (!m_secure) {
        m_secure = new fm_secure;
        connect(m_secure, &fm_secure::keyMessageReady, this, &fm_more_data::sendKeyMessage);
        connect(m_secure, &fm_secure::keyMessageFailed, this, &fm_more_data::reportLogInError);
    }
    m_secure->showUnlock();
}

const fm_secure *fm_more_data::secureForm() const
{
    return m_secure.data();
}

void fm_more_data::sendKeyMessage(const QByteArray &message)
{
    // Sent whatever the link's state: a refusal is the operator's answer.
    if (m_ended)
        return;
    try {
        m_link->send(message);
    } catch (const std::exception &failure) {
        reportLogInError(QByteArray(failure.what()));
    }
}

void fm_more_data::reportLogInError(const QByteArray &description)
{
    disply_text(QByteArrayLiteral("[Log In err: ") + description + QByteArrayLiteral("]"));
}
