// Connection control and the status line of the main window.

#include "app/fm_more_data.h"

#include <QLineEdit>

#include "config/lookupfile.h"
#include "convert/attempt.h"
#include "convert/convert.h"
#include "link/socketcontrol.h"
#include "link/statustext.h"

void fm_more_data::winsock_connect()
{
    if (connect_busy)
        return;
    connect_busy = true;
    QByteArray failure;
    try {
        close_winsock();
        readlookupfile();
        if (server_address.size() < 5) {
            connect_busy = false;
            return;
        }
        Winsock_ulmex->RemoteHost(QString::fromLatin1(server_address));
        Winsock_ulmex->LocalPort(0);
        Winsock_ulmex->RemotePort(convert::toInt32(convert::leadingNumber(server_port)));
        Winsock_state();
        Winsock_ulmex->Connect();
        DelaySeconds(1);
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
    attempt([&] { Winsock_state(); });
    if (socket_state != 0)
        attempt([&] { Winsock_ulmex->Close(); });
    // What the closed link left unconsumed belongs to it: kept, its queued
    // packets would be shown after a disconnect, and a packet it broke off
    // would be completed by the next unit's first CR and shown as that
    // unit's reading.
    m_stream.incoming_buffer.clear();
    // The tick refreshes the state during each wait as well, so the loop
    // ends at the first pass after the socket reports closed.
    while (socket_state != 0) {
        --counter;
        if (counter == 0)
            break;
        attempt([&] { Winsock_state(); });
        attempt([&] { DelaySeconds(1); });
    }
}

void fm_more_data::Winsock_state()
{
    attempt([&] { status_text = QStringLiteral(" Unknown state "); });
    attempt([&] { socket_state = Winsock_ulmex->State(); });
    attempt([&] { status_text = statusWording(socket_state, txt_trailer_num->text()); });
    attempt([&] { txt_tcp_status->setText(statusLine(socket_state, status_text, m_stream.data_age)); });
}

void fm_more_data::readlookupfile()
{
    const QList<QByteArray> reports = ::readlookupfile(programDirectory(), txt_trailer_num->text().toLatin1(),
                                                       server_address, server_port);
    for (const QByteArray &line : reports)
        disply_text(line);
}

void fm_more_data::cmd_connect_Click()
{
    attempt([&] { winsock_connect(); });
}

void fm_more_data::cmd_discon_Click()
{
    attempt([&] { clear_display(); });
}

void fm_more_data::txt_trailer_num_KeyPress(std::int16_t key)
{
    attempt([&] { clear_display(); });
    if (key == 13)
        attempt([&] { winsock_connect(); });
}
