#pragma once

#include <QStringList>

class QIODevice;

// rtrecorder: every unit of a fleet recorded into one history, until
// SIGTERM or SIGINT; SIGHUP reads the units again. One line per event on
// err. Runs the event loop of the QCoreApplication that must exist.
// Returns the exit code: 0 stopped by a signal, 2 a bad option or units
// file, 1 a history that cannot be opened.
int runRecorder(const QStringList &arguments, QIODevice &err);
