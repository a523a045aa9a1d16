#pragma once

#include <atomic>
#include <memory>

#include <QObject>
#include <QString>

#include "history/historystore.h"

class QThread;
class SpoolForwarderWorker;

// Hands a recorder's spool on to a shared store, in the order it was
// written, on a thread of its own with a connection to each: the recorder
// commits every batch into the spool (a history file beside it, through its
// HistoryWriter) and never waits on the server or the link to it.
//
// Each row goes with its key (the spool's identity, its row number and its
// time: history::RowKey), and the server leaves out a row whose key it
// holds, so a slice sent again after a lost acknowledgement, or after the
// recorder was killed between the server's commit and the spool's, adds
// nothing. A slice leaves the spool only once the server acknowledged it.
//
// While the server cannot be reached the spool grows; the forwarder tries
// again after retryFirstMs, doubling to retryMostMs, and says so once with
// paused() and once with resumed() when the backlog is on the server. The
// spool is bounded: past limitBytes its oldest rows go (the newest always
// stay), counted and written into it as a "rows lost" event of each unit,
// said once with spoolFull() until the spool has caught up again.
//
//     SpoolForwarder forwarder({spool, server});
//     if (const auto opened = forwarder.start(); !opened) ...
//     connect(&writer, &HistoryWriter::committed, &forwarder, &SpoolForwarder::wake);
//     ...
//     forwarder.stop(2000);   // forwards what it can meanwhile
class SpoolForwarder : public QObject
{
    Q_OBJECT

public:
    static constexpr qint64 DefaultLimitBytes = 1024LL * 1024 * 1024;
    // Rows of each table per server transaction.
    static constexpr int SliceRows = 10000;
    static constexpr int RetryFirstMs = 1000;
    static constexpr int RetryMostMs = 8000;
    // 0: the address's connect_timeout, or the dialect's 10 s. A link with
    // a long round trip needs seconds for a TLS handshake, and a stop does
    // not wait for a connection under way.
    static constexpr int ConnectSeconds = 0;
    static constexpr int SilenceSeconds = 20;
    // How long a statement on the spool waits for the writer's transaction.
    static constexpr int SpoolLockWaitMs = 2000;

    struct Options
    {
        QString spoolPath;      // the spool, a history file
        QString serverAddress;  // where its rows go (sqldialect::parseAddress)
        qint64 limitBytes = DefaultLimitBytes;
        int sliceRows = SliceRows;
        int retryFirstMs = RetryFirstMs;
        int retryMostMs = RetryMostMs;
        int connectSeconds = ConnectSeconds;
        int silenceSeconds = SilenceSeconds;
    };

    explicit SpoolForwarder(Options options, QObject *parent = nullptr);
    ~SpoolForwarder() override;  // stop(0)
    SpoolForwarder(const SpoolForwarder &) = delete;
    SpoolForwarder &operator=(const SpoolForwarder &) = delete;

    const Options &options() const { return m_options; }

    // Starts the thread and opens the spool on it (made when missing), and
    // returns how that went; the server is tried right after, without
    // waiting for it.
    HistoryResult<void> start();
    // Thread-safe: the spool has new rows. Forwards them unless paused,
    // and bounds the spool either way.
    void wake();
    // Goes on forwarding for at most withinMs (not at all while paused),
    // then closes both connections and ends the thread. False when the
    // server held the thread in a statement past that: the thread is left
    // to end with the process, and the spool keeps what was not
    // acknowledged for the next start.
    bool stop(int withinMs);
    bool isRunning() const { return m_thread != nullptr; }
    // After stop(): whether the spool had nothing left to forward.
    bool caughtUp() const { return *m_caughtUp; }

signals:
    // A server transaction went in: rows sent, and of them the rows the
    // server did not hold yet; caughtUp when the spool is empty after it
    // (also sent, with no rows, when a look finds it empty).
    void forwarded(qint64 rows, qint64 added, bool caughtUp);
    // The server cannot be reached or refuses the rows (why, for the
    // operator); the spool keeps them, and they are tried again.
    void paused(const QString &reason);
    // The backlog kept while paused is on the server: readings and rows
    // forwarded since the server answered again, and how long that took.
    void resumed(qint64 readings, qint64 rows, qint64 ms);
    // The spool reached its bound: the oldest rows went, these many
    // readings and rows at first. Said once until the spool catches up.
    void spoolFull(qint64 limitBytes, qint64 readings, qint64 rows);

private:
    Options m_options;
    // Written by the worker, which may outlive this object when its thread
    // is left to the process's end.
    std::shared_ptr<std::atomic<bool>> m_caughtUp = std::make_shared<std::atomic<bool>>(false);
    QThread *m_thread = nullptr;
    SpoolForwarderWorker *m_worker = nullptr;
};
