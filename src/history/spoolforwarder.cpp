#include "history/spoolforwarder.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

namespace {

// Past the bound the spool drops at least this share of its rows at once,
// so that it does not drop a few rows at every commit.
constexpr double LeastDropShare = 0.05;
// ... and comes down to this share of the bound.
constexpr double RefillShare = 0.9;
constexpr int DropRounds = 4;

} // namespace

// Everything that touches the spool and the server, on the forwarder's
// thread: both connections, the timers, paused or not, what was forwarded
// since the server answered again.
class SpoolForwarderWorker : public QObject
{
    Q_OBJECT

public:
    SpoolForwarderWorker(const SpoolForwarder::Options &options, std::shared_ptr<std::atomic<bool>> caughtUp)
        : m_options(options)
        , m_caughtUp(std::move(caughtUp))
        , m_backoffMs(qMax(1, options.retryFirstMs))
    {
        m_step = new QTimer(this);
        m_step->setSingleShot(true);
        m_step->setInterval(0);
        connect(m_step, &QTimer::timeout, this, &SpoolForwarderWorker::forwardSlice);
        m_retry = new QTimer(this);
        m_retry->setSingleShot(true);
        connect(m_retry, &QTimer::timeout, this, &SpoolForwarderWorker::forwardSlice);
    }

    HistoryResult<void> start()
    {
        m_spool = std::make_unique<HistoryStore>();
        HistoryLimits limits;
        limits.lockWaitMs = SpoolForwarder::SpoolLockWaitMs;
        if (const HistoryResult<void> opened = m_spool->open(m_options.spoolPath, HistoryStore::Access::ReadWrite, limits);
            !opened) {
            m_spool.reset();
            return opened;
        }
        m_step->start();
        return {};
    }

    void wake()
    {
        if (!m_spool)
            return;
        bound();
        if (!m_paused && !m_finishing && !m_step->isActive())
            m_step->start();
    }

    // Forwards until the spool is empty or the time is up; while paused,
    // tries nothing more (the server was not there a moment ago, and a
    // connection attempt could outlast the time).
    void finish(int withinMs)
    {
        m_finishing = true;
        m_deadline = QDeadlineTimer(qMax(0, withinMs));
        m_retry->stop();
        if (m_paused || !m_spool) {
            end();
            return;
        }
        m_step->start();
    }

signals:
    void forwarded(qint64 rows, qint64 added, bool caughtUp);
    void paused(const QString &reason);
    void resumed(qint64 readings, qint64 rows, qint64 ms);
    void spoolFull(qint64 limitBytes, qint64 readings, qint64 rows);

private:
    // One server transaction per turn of the thread's loop, so that a wake
    // or the stop comes in between.
    void forwardSlice()
    {
        if (!m_spool)
            return;
        if (m_finishing && m_deadline.hasExpired()) {
            end();
            return;
        }
        bound();
        if (!m_server && !connectServer())
            return;
        history::RowMarks marks = m_marks;
        HistoryResult<history::Batch> slice = m_spool->rowsAfter(marks, m_options.sliceRows);
        if (!slice) {
            // The spool is the writer's for a moment: the rows wait.
            retryLater();
            return;
        }
        if (slice->empty()) {
            caughtUp();
            return;
        }
        history::RowCounts added;
        if (const HistoryResult<void> written = m_server->write(*slice, added); !written) {
            m_server.reset();
            pause(written.reason().text);
            return;
        }
        // Acknowledged: the slice leaves the spool (what this fails to
        // delete goes with the next slice's). Killed before this, the slice
        // goes again at the next start, and the server leaves out every row
        // of it; so does the newest row, which the spool keeps.
        m_marks = marks;
        const bool forgotten = bool(m_spool->forget(marks));
        const qint64 rows = static_cast<qint64>(slice->readings.size() + slice->witsItems.size()
                                                + slice->witsRecords.size() + slice->events.size());
        m_sinceBack.readings += static_cast<qint64>(slice->readings.size());
        m_sinceBack.events += rows - static_cast<qint64>(slice->readings.size());
        emit forwarded(rows, added.rows(), false);
        if (forgotten)
            m_step->start();
        else
            retryLater();
    }

    bool connectServer()
    {
        if (m_finishing) {
            end();
            return false;
        }
        auto server = std::make_unique<HistoryStore>();
        HistoryLimits limits;
        limits.connectSeconds = m_options.connectSeconds;
        limits.silenceSeconds = m_options.silenceSeconds;
        if (const HistoryResult<void> opened =
                server->open(m_options.serverAddress, HistoryStore::Access::ReadWrite, limits);
            !opened) {
            pause(opened.reason().text);
            return false;
        }
        m_server = std::move(server);
        m_backoffMs = qMax(1, m_options.retryFirstMs);
        if (m_paused) {
            m_paused = false;
            m_sinceBack = {};
            m_back.start();
        }
        return true;
    }

    void caughtUp()
    {
        *m_caughtUp = true;
        if (m_behind) {
            m_behind = false;
            emit resumed(m_sinceBack.readings, m_sinceBack.rows(), m_back.elapsed());
        }
        m_full = false;
        emit forwarded(0, 0, true);
        if (m_finishing)
            end();
    }

    void pause(const QString &reason)
    {
        *m_caughtUp = false;
        m_server.reset();
        if (m_finishing) {
            end();
            return;
        }
        if (!m_paused) {
            m_paused = true;
            if (!m_behind)
                emit paused(reason);
            m_behind = true;
        }
        m_retry->start(m_backoffMs);
        m_backoffMs = qMin(m_backoffMs * 2, qMax(1, m_options.retryMostMs));
    }

    void retryLater()
    {
        if (m_finishing) {
            end();
            return;
        }
        m_retry->start(qMax(1, m_options.retryFirstMs));
    }

    // Past the bound the oldest rows go, counted and recorded in the spool
    // itself, so the count reaches the server with the rows kept.
    void bound()
    {
        if (m_options.limitBytes <= 0)
            return;
        history::RowCounts dropped;
        // Rows deleted leave pages partly filled: a few rounds, each on
        // what the last one left.
        for (int round = 0; round < DropRounds; ++round) {
            const HistoryResult<qint64> used = m_spool->usedBytes();
            if (!used || *used <= m_options.limitBytes)
                break;
            const double share = qMax(LeastDropShare, 1.0 - RefillShare * double(m_options.limitBytes) / double(*used));
            const HistoryResult<history::RowCounts> went = m_spool->dropOldest(
                share, QDateTime::currentMSecsSinceEpoch(),
                QStringLiteral("were dropped from the full spool (%1 MB) before they reached the server")
                    .arg(QString::number(double(m_options.limitBytes) / (1024 * 1024), 'g', 4)));
            if (!went || went->rows() == 0)
                break;
            dropped += *went;
        }
        if (dropped.rows() == 0 || m_full)
            return;
        m_full = true;
        *m_caughtUp = false;
        emit spoolFull(m_options.limitBytes, dropped.readings, dropped.rows());
    }

    void end()
    {
        m_step->stop();
        m_retry->stop();
        m_server.reset();
        m_spool.reset();
        thread()->quit();
    }

    const SpoolForwarder::Options m_options;
    std::shared_ptr<std::atomic<bool>> m_caughtUp;
    std::unique_ptr<HistoryStore> m_spool;
    std::unique_ptr<HistoryStore> m_server;
    QTimer *m_step = nullptr;
    QTimer *m_retry = nullptr;
    int m_backoffMs;
    // Paused: the server did not answer at the last try. Behind: a pause
    // was said and the backlog is not yet on the server.
    bool m_paused = false;
    bool m_behind = false;
    bool m_full = false;
    bool m_finishing = false;
    QDeadlineTimer m_deadline;
    QElapsedTimer m_back;
    history::RowCounts m_sinceBack;  // readings, and the other rows as events
    // The last row of each table acknowledged by the server.
    history::RowMarks m_marks;
};

SpoolForwarder::SpoolForwarder(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    setObjectName(QStringLiteral("SpoolForwarder"));
}

SpoolForwarder::~SpoolForwarder()
{
    stop(0);
}

HistoryResult<void> SpoolForwarder::start()
{
    if (m_thread)
        return failure(HistoryError{sqldialect::Failure::Other, QStringLiteral("the spool's forwarder runs already")});
    m_thread = new QThread();
    m_thread->setObjectName(QStringLiteral("spool forwarder"));
    m_worker = new SpoolForwarderWorker(m_options, m_caughtUp);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &SpoolForwarderWorker::forwarded, this, &SpoolForwarder::forwarded);
    connect(m_worker, &SpoolForwarderWorker::paused, this, &SpoolForwarder::paused);
    connect(m_worker, &SpoolForwarderWorker::resumed, this, &SpoolForwarder::resumed);
    connect(m_worker, &SpoolForwarderWorker::spoolFull, this, &SpoolForwarder::spoolFull);
    m_thread->start();
    HistoryResult<void> opened;
    SpoolForwarderWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        m_worker, [worker, &opened] { opened = worker->start(); }, Qt::BlockingQueuedConnection);
    if (!opened) {
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
        m_worker = nullptr;
    }
    return opened;
}

void SpoolForwarder::wake()
{
    if (!m_worker)
        return;
    SpoolForwarderWorker *worker = m_worker;
    QMetaObject::invokeMethod(m_worker, [worker] { worker->wake(); }, Qt::QueuedConnection);
}

bool SpoolForwarder::stop(int withinMs)
{
    if (!m_thread)
        return true;
    SpoolForwarderWorker *worker = m_worker;
    QMetaObject::invokeMethod(m_worker, [worker, withinMs] { worker->finish(withinMs); }, Qt::QueuedConnection);
    // A slice under way when the time is up is let finish: a fraction of
    // a second on a server that answers.
    constexpr int SliceGraceMs = 500;
    const bool ended = m_thread->wait(QDeadlineTimer(qMax(0, withinMs) + SliceGraceMs));
    if (!ended) {
        // The server holds the thread in a statement (a link gone without
        // a word): it is left to end with the process, deliberately not
        // deleted, as a QThread cannot be deleted while it runs.
        m_thread = nullptr;
        m_worker = nullptr;
        return false;
    }
    delete m_thread;
    m_thread = nullptr;
    m_worker = nullptr;
    return true;
}

#include "spoolforwarder.moc"
