#pragma once

#include <memory>

#include <QObject>
#include <QString>
#include <QStringList>

#include "history/historyrows.h"
#include "history/historystore.h"

class QThread;
class HistoryWriterWorker;

// The one writer of a history file, on a thread of its own with its own
// database connection, so that whoever records (the viewer's window, a
// recorder of many units) never waits on the disk.
//
// Use: make it on any thread, start() it, then hand it batches from any
// thread with submit(); its signals come back queued to the thread the
// writer was made on. stop() (and the destructor) commits everything
// submitted before it, closes the file and ends the thread before it
// returns, so a program stopped by SIGTERM, or a window closing, loses
// nothing the file will take.
//
//     HistoryWriter writer({path});
//     connect(&writer, &HistoryWriter::paused, ...);   // one line each
//     if (const auto opened = writer.start(); !opened) ...
//     writer.submit(std::move(batch));                   // any thread
//     ...
//     writer.stop();                                     // all committed
//
// Batches of any number of units are gathered and committed together, one
// transaction a second at most. When the file does not take them (busy
// past a few tries, full, unwritable) the writer pauses: it keeps what
// comes, tries again every retryIntervalMs (or at once on retryNow()), and
// says so once with paused() and once with resumed(). What it keeps is
// bounded by capacityReadings: past that the oldest whole batch goes, is
// counted, reported by dropped() and written as a "rows lost" event of each
// unit it held rows of, once the file takes rows again. A damaged file is
// moved aside and a new one started; so is a file deleted or replaced while
// open. Rows older than the retention are pruned at start and once a day,
// in small transactions between commits.
class HistoryWriter : public QObject
{
    Q_OBJECT

public:
    static constexpr int CommitIntervalMs = 1000;
    static constexpr int RetryIntervalMs = 5000;
    static constexpr int DefaultRetentionDays = 30;
    // Rows deleted per pruning transaction.
    static constexpr int PruneSliceRows = 2000;
    // A minute of readings at 1000 a second (the viewer's most, or a fleet
    // of 100 units at 10 a second): some 40 MB.
    static constexpr int DefaultCapacityReadings = 60000;

    struct Options
    {
        QString path;  // the history file
        int retentionDays = DefaultRetentionDays;  // 0: nothing is pruned
        qint64 sizeLimitBytes = 0;  // above 0: the file may not grow past it
        int commitIntervalMs = CommitIntervalMs;
        int retryIntervalMs = RetryIntervalMs;
        // Readings held while waiting (all units together), at least a
        // minute of what is recorded; rows of the other kinds are bounded
        // alike.
        int capacityReadings = DefaultCapacityReadings;
        // The lookup table the units resolve through: the rows of a batch
        // name their unit by the serial as typed, and are recorded under
        // the unit it resolves to (0001, 1001 and 1 are one unit), the
        // serial kept beside each reading. Empty: recorded as typed.
        QString lookupPath;
        // How long a commit waits for another program's transaction on the
        // file (a spool's forwarder) before it counts as busy.
        int lockWaitMs = 0;
    };

    explicit HistoryWriter(Options options, QObject *parent = nullptr);
    ~HistoryWriter() override;  // stop()
    HistoryWriter(const HistoryWriter &) = delete;
    HistoryWriter &operator=(const HistoryWriter &) = delete;

    const Options &options() const { return m_options; }

    // Starts the thread and opens the file on it, and returns how the open
    // went (the caller waits for the open only). After a failed open the
    // writer is running and paused, trying the file again like after any
    // failure; stop() gives up.
    HistoryResult<void> start();
    // Commits everything submitted so far, closes the file and ends the
    // thread. Returns true when nothing submitted was left uncommitted.
    bool stop();
    bool isRunning() const;

    // Thread-safe: hands a batch to the writer, which owns it from now on.
    // Ignored when the writer is not running.
    void submit(history::Batch batch);
    // Thread-safe: commits what is pending without waiting for the next
    // second; paused, tries the file at once.
    void retryNow();
    // Commits what was submitted before it and returns when that is done
    // (before an export reads the file): the caller waits on the disk, so
    // only for what the user asked for. True when nothing is left pending.
    bool sync();

signals:
    // One transaction went in: the units it held rows of, and how many rows
    // (readings, WITS items and records, events) it wrote.
    void committed(const QStringList &units, qint64 rows);
    // The file did not take rows (why, for the operator); what comes is
    // kept and tried again.
    void paused(const QString &reason);
    // The file took what was kept: how many readings were kept and written,
    // how many were lost while paused.
    void resumed(qint64 keptReadings, qint64 lostReadings);
    // The queue was full: the oldest batch went, with these many readings
    // and rows in all (readings included).
    void dropped(qint64 readings, qint64 rows);
    // Something the writer did by itself that the operator should know (a
    // damaged file moved aside, a deleted file started again).
    void notice(const QString &text);

private:
    Options m_options;
    QThread *m_thread = nullptr;
    HistoryWriterWorker *m_worker = nullptr;
};
