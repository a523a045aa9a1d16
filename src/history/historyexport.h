#pragma once

#include <memory>

#include <QByteArray>
#include <QString>

class HistoryStore;
class QIODevice;
class QSqlQuery;

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
class HistoryExport
{
public:
    enum class Format { Csv, Raw };

    struct Range
    {
        QString unit;
        qint64 fromMs = 0;  // included
        qint64 toMs = 0;    // excluded
    };

    // The store must stay open while the export runs.
    HistoryExport(HistoryStore &store, const Range &range, Format format, QIODevice &out);
    ~HistoryExport();
    HistoryExport(const HistoryExport &) = delete;
    HistoryExport &operator=(const HistoryExport &) = delete;

    // Counts what is to be written and writes the header. False on failure.
    bool start();
    // Writes up to maxRows more rows. False on failure, with the reason in
    // error(); done() once everything is written.
    bool writeSome(int maxRows);
    bool done() const { return m_done; }
    qint64 total() const { return m_total; }
    qint64 written() const { return m_written; }
    const QString &error() const { return m_error; }

    // Everything at once (or all that is left after start()), for a program
    // without a window.
    bool run();

    // The CSV header row (without its line end).
    static QByteArray csvHeader();

private:
    bool fail(const QString &text);
    bool failQuery(const QSqlQuery &query);
    bool flush(QByteArray &chunk);
    void appendCsvRow(QByteArray &chunk);
    void appendWitsRecord(QByteArray &chunk, int &rows);

    HistoryStore &m_store;
    Range m_range;
    Format m_format;
    QIODevice &m_out;
    std::unique_ptr<QSqlQuery> m_readings;
    std::unique_ptr<QSqlQuery> m_wits;
    bool m_readingPending = false;
    bool m_witsPending = false;
    bool m_witsRebuilt = false;  // a file from before the records were kept
    bool m_started = false;
    bool m_done = false;
    qint64 m_total = 0;
    qint64 m_written = 0;
    QString m_error;
};

// A time as the history's files show it: ISO 8601, UTC, milliseconds.
QString historyTimeText(qint64 ms);
