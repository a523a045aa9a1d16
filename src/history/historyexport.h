#pragma once

#include <memory>
#include <optional>

#include <QByteArray>
#include <QString>

#include "history/historystore.h"
#include "rules/convert/result.h"
#include "rules/mudlog/laswriter.h"
#include "rules/mudlog/mudlog.h"

class QIODevice;

// Writes one unit's readings over a time range to a device, a slice at a
// time, so that a window can show progress and stop between slices:
//
// - Csv: a header row, then one row per reading in order of time: the time
//   accepted (ISO 8601, UTC), the serial number, then every field of the
//   packet under the caption the panel gives it, and the bit depth. UTF-8,
//   CR LF line ends, fields quoted where they must be, control characters
//   as their visible pictures, and an apostrophe before a field that a
//   spreadsheet would run as a formula.
// - Raw: the packets in order of time, each as its exact text, with the WITS
//   records between them rebuilt from their items, CR LF after each: what a
//   simulator replays to a viewer.
// - Las: the readings binned by lag depth (mudlog::MudLog, in the unit of
//   depth and bin size given by setMudLog) and written as a LAS 2.0 file
//   once the last reading is read; nothing is written before, so a failed
//   reading leaves no half file behind.
class HistoryExport
{
public:
    enum class Format { Csv, Raw, Las };
    using Range = HistoryRange;

    // The store must stay open while the export runs.
    HistoryExport(HistoryStore &store, const Range &range, Format format, QIODevice &out);
    ~HistoryExport();
    HistoryExport(const HistoryExport &) = delete;
    HistoryExport &operator=(const HistoryExport &) = delete;

    // The mud log's unit of depth and bin size, and the well's header, for
    // Las; feet and 1 ft bins, the unit's serial as the well, without it.
    void setMudLog(const mudlog::MudLogSettings &settings, const mudlog::LasWell &well);

    // Where Raw reads the WITS records beside the readings; the export's own
    // store without it. A server's connection carries one cursor at a
    // time, so reading one needs a second connection to the same history.
    void setWitsStore(HistoryStore &store) { m_witsStore = &store; }

    // Counts what is to be written and writes the header.
    Result<void> start();
    // Writes up to maxRows more rows; done() once everything is written.
    Result<void> writeSome(int maxRows);
    bool done() const { return m_done; }
    qint64 total() const { return m_total; }
    qint64 written() const { return m_written; }

    // Everything at once (or all that is left after start()), for a program
    // without a window.
    Result<void> run();

    // The CSV header row (without its line end).
    static QByteArray csvHeader();

private:
    struct Rows;

    Result<void> flush(QByteArray &chunk);
    void appendCsvRow(QByteArray &chunk, const history::ReadingRow &reading);
    Result<void> appendWitsRecord(QByteArray &chunk, int &rows);
    Result<void> writeLasFile();
    mudlog::MudReading mudReadingOf(const history::ReadingRow &row);

    HistoryStore &m_store;
    HistoryStore *m_witsStore;
    Range m_range;
    Format m_format;
    QIODevice &m_out;
    std::unique_ptr<Rows> m_rows;
    mudlog::MudLog m_mudLog;
    mudlog::LasWell m_well;
    qint64 m_firstMs = 0;
    qint64 m_lastMs = 0;
    bool m_started = false;
    bool m_done = false;
    qint64 m_total = 0;
    qint64 m_written = 0;
};

// The unit's own clock (history::ReadingRow::unitTimeMs) as the CSV
// writes it: ISO 8601 to the second, with no zone.
QByteArray unitTimeText(qint64 ms);
// A time as the history's files show it: ISO 8601, UTC, milliseconds.
QString historyTimeText(qint64 ms);
// A time given on a command line: ISO 8601 (a date alone is its start),
// UTC unless it names its offset; none when it does not read.
std::optional<qint64> historyTimeFromText(const QString &text);
