#pragma once

// Small readers and writers of the texts the tests compare: faults raised,
// numbers as the operator sees them, command lines, the traffic window's
// growth and the status line's age.

#include <functional>

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace support {

// The description of the Fault a call raises, or an empty text when it
// raises none.
QString faultOf(const std::function<void()> &call);

// Expected texts are written with "." and shown with the system locale's
// decimal separator, as the operator sees them.
QString shown(const QString &text);
QString shown(const char *text);

// The text the traffic window gained between two looks at it. The window
// keeps only its last 4000 characters once it passes 5000, so the new
// content is the tail of the old one followed by what was added; an emptied
// window (a display reset) starts afresh.
QByteArray appendedSince(const QByteArray &before, const QByteArray &now);

// A command line's options written as one text, split at the blanks.
QStringList words(const char *text);

// The age in seconds a connected unit's status line states ("... is
// connected to server.  The data is N seconds old"); -1 when it states none.
int dataAgeShown(const QString &statusLine);

} // namespace support
