#include "link/statustext.h"

#include "rules/convert/convert.h"
#include "link/socketcontrol.h"

QString statusWording(std::int16_t state, const QString &serial)
{
    switch (state) {
    case SocketControl::Closed:
        return serial + QStringLiteral(" Connection is closed. ");
    case SocketControl::Open:
        return serial + QStringLiteral(" Connection is open. ");
    case SocketControl::Listening:
        return serial + QStringLiteral(" Connection is listening. ");
    case SocketControl::ConnectionPending:
        return QStringLiteral("Connection Pending. ");
    case SocketControl::ResolvingHost:
        return QStringLiteral("Resolving host. ");
    case SocketControl::HostResolved:
        return QStringLiteral("Host resolved. ");
    case SocketControl::Connecting:
        return serial + QStringLiteral(" is connecting to server. ");
    case SocketControl::Connected:
        return serial + QStringLiteral(" is connected to server. ");
    case SocketControl::Closing:
        return serial + QStringLiteral(" is closing the connection. ");
    case SocketControl::Error:
        return serial + QStringLiteral(" is in error. ");
    default:
        return QStringLiteral(" Unknown state ");
    }
}

QString statusLine(std::int16_t state, const QString &wording, double dataAge)
{
    if (state != SocketControl::Connected)
        return wording;
    return wording + QStringLiteral(" The data is ") + convert::formatWhole(dataAge) + QStringLiteral(" seconds old");
}
