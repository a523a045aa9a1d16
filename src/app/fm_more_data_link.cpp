// Connection control and the status line of the main window.

#include "app/fm_more_data.h"

#include <QLineEdit>

#include "rules/config/lookupfile.h"
#include "rules/convert/attempt.h"
#include "rules/convert/convert.h"
#include "link/socketcontrol.h"
#include "link/statustext.h"
#include "link/unitlink.h"

void fm_more_data::winsock_connect()
{
    if (connect_busy || m_ended)
        return;
    connect_busy = true;
    QByteArray failure;
    try {
        close_winsock();
        // A shut-down that ran during the wait has ended the program: the
        // rest of this connect must not run on the way out.
        if (m_ended) {
            connect_busy = false;
            return;
        }
        readlookupfile();
        if (server_address.size() < 5) {
            connect_busy = false;
            return;
        }
        m_link->setRemoteHost(QString::fromLatin1(server_address));
        m_link->setLocalPort(0);
        m_link->setRemotePort(convert::toInt32(convert::leadingNumber(server_port)));
        Winsock_state();
        m_link->open(txt_trailer_num->text());
        DelaySeconds(1);
        if (m_ended) {
            connect_busy = false;
            return;
        }
        Winsock_state();
        disply_text("[" + status_text.toLatin1() + "]");
        connect_busy = false;
        return;
    } catch (const std::exception &fault) {
        failure = fault.what();
    } catch (...) {
        failure = "Unexpected error";
    }
    // Whatever failed, the link is closed and the next connect is possible.
    disply_text(QByteArrayLiteral("[TCP ERR: ") + failure + "]");
    close_winsock();
    connect_busy = false;
}

void fm_more_data::close_winsock()
{
    std::int16_t counter = 5;
    Winsock_state();
    m_link->close();
    // The tick refreshes the state during each wait as well, so the loop
    // ends at the first pass after the socket reports closed.
    while (m_link->state() != SocketControl::Closed && !m_ended) {
        --counter;
        if (counter == 0)
            break;
        Winsock_state();
        DelaySeconds(1);
    }
}

void fm_more_data::Winsock_state()
{
    status_text = QStringLiteral(" Unknown state ");
    const std::int16_t state = m_link->refreshState();
    status_text = statusWording(state, txt_trailer_num->text());
    // Set every tick, but changed at most once a second: the same text set
    // again would be laid out and drawn again for nothing.
    const QString line = statusLine(state, status_text, m_link->dataAge());
    if (txt_tcp_status->text() != line)
        txt_tcp_status->setText(line);
}

void fm_more_data::readlookupfile()
{
    const QList<QByteArray> reports = ::readlookupfile(m_options.programDirectory, txt_trailer_num->text().toLatin1(),
                                                       server_address, server_port);
    for (const QByteArray &line : reports)
        disply_text(line);
}

void fm_more_data::cmd_connect_Click()
{
    winsock_connect();
}

void fm_more_data::watchUnit(const QString &serial)
{
    if (m_ended)
        return;
    // As typed: any key in the serial box drops the link, Enter connects.
    clear_display();
    txt_trailer_num->setText(serial);
    show();
    raise();
    activateWindow();
    winsock_connect();
}

void fm_more_data::cmd_discon_Click()
{
    if (m_ended)
        return;
    clear_display();
}

void fm_more_data::txt_trailer_num_KeyPress(std::int16_t key)
{
    if (m_ended)
        return;
    clear_display();
    if (key == 13)
        winsock_connect();
}
