#pragma once

#include <cstdint>

#include <QString>

// The wording of a socket state for the status line; the serial number goes
// in front for every state but 3, 4 and 5.
QString statusWording(std::int16_t state, const QString &serial);

// The status line: the wording, and while connected the age of the data in
// whole seconds.
QString statusLine(std::int16_t state, const QString &wording, double dataAge);
