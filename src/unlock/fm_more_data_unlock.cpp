// The main window's side of the two-way unlock.

#include "app/fm_more_data.h"

#include "convert/attempt.h"
#include "link/socketcontrol.h"
#include "unlock/fm_secure.h"

void fm_more_data::cmd_secure_Click()
{
    attempt([&] {
        if (!m_secure) {
            m_secure = new fm_secure;
            m_secure->setLink(this);
        }
        m_secure->showUnlock();
    });
}

void fm_more_data::sendKeyMessage(const QByteArray &message)
{
    Winsock_ulmex->SendData(message);
}
