#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTime>

#include "rules/config/witstable.h"

// The settings file RDconfig.ini beside the program: WITS item codes and the
// names the viewer shows them under. The readers take the program's
// directory as a parameter (the window passes the directory of the running
// executable) and hand back the lines to show in the traffic window instead
// of writing to a window, so they run anywhere.

// The path of a file kept beside the program. A name of the drive-letter form
// (second character ":") is taken as it stands; any other name, even one that
// begins with a separator, is placed under the program's directory.
QString programFilePath(const QString &programDir, const QByteArray &filename);

// True when the file can be opened for reading; an empty file counts as
// present. Never throws.
bool IsFileThere(const QString &programDir, const QByteArray &filename);
// The same for a file at a path of its own.
bool fileIsThere(const QString &path);

// "[" + hh:mm:ss + " File not found: " + filename + "]"
QByteArray fileNotFoundLine(const QTime &now, const QByteArray &filename);

// Fills the table from RDconfig.ini, from slot 0 on, with at most 250
// entries. Returns the report lines (none when all went well). A missing
// file leaves the table untouched; a failure keeps the slots filled before
// the failing line. Never throws.
QList<QByteArray> LoadIniFile(const QString &programDir, WitsTable &table,
                              const QTime &now = QTime::currentTime());
