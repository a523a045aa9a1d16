#pragma once

#include <QStringList>

#include "history/historyfile.h"

class QString;

// The lines the About window shows: the version, the commit the build comes
// from, the Qt version the program runs with, the folder the two
// configuration files are read from, and where the history is kept.
QStringList aboutLines(const QString &programDirectory);
