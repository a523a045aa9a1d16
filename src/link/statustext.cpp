#include "link/statustext.h"

#include "convert/convert.h"

QString statusWording(std::int16_t state, const QString &serial)
{
    switch (state) {
    case 0:
        return serial + QStringLiteral(" Connection is closed. ");
    case 1:
        return serial + QStringLiteral(" Connection is open. ");
    case 2:
        return serial + QStringLiteral(" Connection is listening. ");
    case 3:
        return QStringLiteral("Connection Pending. ");
    case 4:
        return QStringLiteral("Resolving host. ");
    case 5:
        return QStringLiteral("Host resolved. ");
    case 6:
        return serial + QStringLiteral(" is connecting to server. ");
    case 7:
        return serial + QStringLiteral(" is connected to server. ");
    case 8:
        return serial + QStringLiteral(" is closing the connection. ");
    case 9:
        return serial + QStringLiteral(" is in error. ");
    default:
        return QStringLiteral(" Unknown state ");
    }
}

QString statusLine(std::int16_t state, const QString &wording, double dataAge)
{
    if (state != 7)
        return wording;
    return wording + QStringLiteral(" The data is ") + convert::formatWhole(dataAge) + QStringLiteral(" seconds old");
}
