#pragma once

#include <QStringList>

class QIODevice;

// The rthistory command line: arguments as the program got them (its name
// first), what it prints goes to out and err. Returns the exit code: 0 done,
// 1 a failure (one line on err), 2 a bad command line.
int runHistoryCommand(const QStringList &arguments, QIODevice &out, QIODevice &err);
