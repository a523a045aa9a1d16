// Receive polling and the traffic window of the main window.

#include "app/fm_more_data.h"

#include "rules/convert/attempt.h"
#include "link/socketcontrol.h"
#include "link/unitlink.h"
#include "app/stream/trafficwindow.h"

void fm_more_data::tmrDataArrival_Timer()
{
    m_link->poll();
}

void fm_more_data::Winsock_ulmex_DataArrival(std::int32_t bytesTotal)
{
    // The link's poll does all the reading.
    Q_UNUSED(bytesTotal);
}

void fm_more_data::disply_text(const QByteArray &strText)
{
    // After the shut-down nothing more is written to the screen.
    if (m_ended)
        return;
    text_window->appendLine(strText);
}

void fm_more_data::text_window_KeyPress(std::int16_t key)
{
    attempt([&] {
        if (!m_ended && m_link->state() == SocketControl::Connected && key >= 0 && key <= 255)
            m_link->send(QByteArray(1, static_cast<char>(key)));
    });
}
