#pragma once

#include <QStringList>

class QString;

// Where the viewer keeps the history of readings: a file in the user's own
// data folder for this program.
QString historyDatabasePath();

// The lines the About window shows: the version, the commit the build comes
// from, the Qt version the program runs with, the folder the two
// configuration files are read from, and where the history is kept.
QStringList aboutLines(const QString &programDirectory);
