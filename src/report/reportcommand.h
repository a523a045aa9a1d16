#pragma once

#include <optional>

#include <QStringList>

class QIODevice;

// "rthistory report": the tour report of one unit written as a PDF file.
// Answers none when the command line is not a report (another command of
// rthistory's, which runHistoryCommand takes); otherwise the exit code:
// 0 written, 1 failed (one line on err), 2 a bad command line.
std::optional<int> runReportCommand(const QStringList &arguments, QIODevice &out, QIODevice &err);
