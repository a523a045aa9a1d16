#pragma once

#include <QString>

// Where the viewer keeps the history of readings: a file in the user's own
// data folder for this program (the application name must be "rtviewer",
// as the viewer and rthistory set it).
QString historyDatabasePath();

// Moves a damaged history file out of the way, with the files the database
// keeps beside it, under the same name followed by ".corrupt-" and the time
// stamp (UTC). Returns the new name of the file, or an empty text when it
// could not be moved.
QString moveHistoryAside(const QString &path, qint64 nowMs);
