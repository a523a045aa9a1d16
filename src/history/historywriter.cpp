#include "history/historywriter.h"

#include <deque>
#include <map>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QThread>
#include <QTimer>

#include "history/historyfile.h"
#include "rules/config/lookupfile.h"
#include "rules/files/safefile.h"

namespace {

constexpr qint64 PruneDayMs = 24LL * 60 * 60 * 1000;
constexpr int PruneIntervalMs = 24 * 60 * 60 * 1000;
constexpr int PruneSliceRows = HistoryWriter::PruneSliceRows;
// A file another program holds is tried again at the next commit; after
// this many in a row the writer pauses.
constexpr int BusyRetries = 10;

qint64 writerNowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

qint64 rowCount(const history::Batch &batch)
{
    return static_cast<qint64>(batch.readings.size() + batch.witsItems.size() + batch.witsRecords.size()
                               + batch.events.size());
}

// What was dropped of one unit's rows while the queue was full.
struct Lost
{
    qint64 readings = 0;
    qint64 witsItems = 0;
    qint64 witsRecords = 0;
    qint64 events = 0;

    QString text() const
    {
        return QStringLiteral("%1 readings, %2 WITS items, %3 WITS records and %4 events were lost while the"
                              " history file could not be written")
            .arg(readings)
            .arg(witsItems)
            .arg(witsRecords)
            .arg(events);
    }
};

} // namespace

// Everything that touches the file, living on the writer's thread: the
// store, the batches waiting, the timers, paused or not, what was lost.
class HistoryWriterWorker : public QObject
{
    Q_OBJECT

public:
    explicit HistoryWriterWorker(const HistoryWriter::Options &options)
        : m_options(options)
        , m_units(options.lookupPath)
    {
        m_commitTimer = new QTimer(this);
        m_commitTimer->setSingleShot(true);
        m_commitTimer->setInterval(qMax(0, options.commitIntervalMs));
        connect(m_commitTimer, &QTimer::timeout, this, &HistoryWriterWorker::commit);
        m_retryTimer = new QTimer(this);
        m_retryTimer->setInterval(qMax(1, options.retryIntervalMs));
        connect(m_retryTimer, &QTimer::timeout, this, &HistoryWriterWorker::commit);
        m_pruneTimer = new QTimer(this);
        m_pruneTimer->setInterval(PruneIntervalMs);
        connect(m_pruneTimer, &QTimer::timeout, this, &HistoryWriterWorker::startPrune);
        m_pruneStep = new QTimer(this);
        m_pruneStep->setSingleShot(true);
        m_pruneStep->setInterval(0);
        connect(m_pruneStep, &QTimer::timeout, this, &HistoryWriterWorker::pruneStep);
    }

    HistoryResult<void> start()
    {
        m_sinceCommit.start();
        const HistoryResult<void> opened = openStore();
        if (opened)
            startPrune();
        else
            handleFailure(opened.reason());
        return opened;
    }

    void take(history::Batch &batch)
    {
        if (batch.empty())
            return;
        resolveUnits(batch);
        m_queuedReadings += static_cast<qint64>(batch.readings.size());
        m_queuedRows += rowCount(batch);
        m_queue.push_back(std::move(batch));
        bound();
        // One transaction a second at most: at once when the last one is
        // that old, so that a batch a second costs one wake-up, not two.
        if (!m_paused && !m_commitTimer->isActive())
            m_commitTimer->start(static_cast<int>(
                qBound(qint64(0), qint64(m_options.commitIntervalMs) - m_sinceCommit.elapsed(), qint64(m_options.commitIntervalMs))));
    }

    void retryNow()
    {
        m_commitTimer->stop();
        commit();
    }

    bool isIdle() const { return m_queue.empty() && m_lost.empty(); }

    // The last commit: tried even while paused, then the file is closed.
    bool finish()
    {
        m_commitTimer->stop();
        m_retryTimer->stop();
        m_pruneTimer->stop();
        m_pruneStep->stop();
        if (!m_queue.empty() || !m_lost.empty())
            commit();
        m_store.reset();
        m_retryTimer->stop();
        return m_queue.empty();
    }

    void commit()
    {
        m_commitTimer->stop();
        const bool nothing = m_queue.empty() && m_lost.empty();
        if (nothing && !m_paused)
            return;
        if (!m_store) {
            const HistoryResult<void> opened = openStore();
            if (!opened) {
                handleFailure(opened.reason());
                return;
            }
        }
        // Someone deleted or replaced the file while it was open: what would
        // be written goes nowhere anybody can read. A new file is started
        // there.
        if (m_openFile != files::identity(m_options.path)) {
            m_store.reset();
            const bool gone = !QFileInfo::exists(m_options.path);
            emit notice(QStringLiteral("%1 was %2 while open; a new one is started there")
                            .arg(QDir::toNativeSeparators(m_options.path),
                                 gone ? QStringLiteral("deleted") : QStringLiteral("replaced")));
            if (const HistoryResult<void> opened = openStore(); !opened) {
                handleFailure(opened.reason());
                return;
            }
        }
        if (nothing) {
            // The file opens again and nothing waits for it.
            resume(0, 0);
            return;
        }
        // What was lost is history too, written with what was kept, under
        // each unit it was lost from.
        const bool noting = !m_lost.empty();
        if (noting) {
            history::Batch note;
            const qint64 at = writerNowMs();
            for (const auto &[unit, lost] : m_lost)
                note.events.push_back({at, unit, QStringLiteral("rows lost"), lost.text()});
            m_queue.push_back(std::move(note));
        }
        const HistoryResult<void> written = m_store->write(m_queue);
        if (!written) {
            if (noting)
                m_queue.pop_back();
            handleFailure(written.reason());
            return;
        }
        QStringList units;
        for (const history::Batch &batch : m_queue) {
            auto note = [&units](const QString &unit) {
                if (units.isEmpty() || units.constLast() != unit)
                    if (!units.contains(unit))
                        units.append(unit);
            };
            for (const auto &row : batch.readings)
                note(row.unit);
            for (const auto &row : batch.witsItems)
                note(row.unit);
            for (const auto &row : batch.witsRecords)
                note(row.unit);
            for (const auto &row : batch.events)
                note(row.unit);
        }
        qint64 rows = 0;
        for (const history::Batch &batch : m_queue)
            rows += rowCount(batch);
        const qint64 kept = m_queuedReadings;
        qint64 lostReadings = 0;
        for (const auto &entry : m_lost)
            lostReadings += entry.second.readings;
        m_queue.clear();
        m_queuedReadings = 0;
        m_queuedRows = 0;
        m_lost.clear();
        m_busyCount = 0;
        m_sinceCommit.restart();
        emit committed(units, rows);
        if (m_paused)
            resume(kept, lostReadings);
    }

signals:
    void committed(const QStringList &units, qint64 rows);
    void paused(const QString &reason);
    void resumed(qint64 keptReadings, qint64 lostReadings);
    void dropped(qint64 readings, qint64 rows);
    void notice(const QString &text);

private:
    // Each row's unit, a serial as typed, becomes the unit it resolves to
    // in the lookup table; a serial no row serves keeps its spelling. The
    // table is read again when it changes, as the viewer reads it afresh
    // at every connection.
    void resolveUnits(history::Batch &batch)
    {
        if (m_options.lookupPath.isEmpty())
            return;
        auto resolve = [this](QString &unit) { unit = m_units.unitOf(unit); };
        for (auto &row : batch.readings) {
            if (row.serial.isEmpty())
                row.serial = row.unit;
            resolve(row.unit);
        }
        for (auto &row : batch.witsItems)
            resolve(row.unit);
        for (auto &row : batch.witsRecords)
            resolve(row.unit);
        for (auto &row : batch.events)
            resolve(row.unit);
    }

    HistoryResult<void> openStore()
    {
        m_store = std::make_unique<HistoryStore>();
        HistoryLimits limits;
        limits.sizeBytes = m_options.sizeLimitBytes;
        limits.lockWaitMs = m_options.lockWaitMs;
        if (const HistoryResult<void> opened = m_store->open(m_options.path, HistoryStore::Access::ReadWrite, limits);
            !opened) {
            m_store.reset();
            return opened;
        }
        m_openFile = files::identity(m_options.path);
        m_busyCount = 0;
        if (m_options.retentionDays > 0)
            m_pruneTimer->start();
        return {};
    }

    void handleFailure(const HistoryError &error)
    {
        switch (error.kind) {
        case sqldialect::Failure::Busy:
            // Another program holds the file for a moment (rthistory, a
            // second viewer): what waits goes at the next commit.
            if (!m_paused && ++m_busyCount < BusyRetries && m_store) {
                m_commitTimer->start();
                return;
            }
            break;
        case sqldialect::Failure::Corrupt: {
            m_store.reset();
            const QString movedTo = moveHistoryAside(m_options.path, writerNowMs());
            if (movedTo.isEmpty())
                break;
            if (const HistoryResult<void> opened = openStore(); !opened) {
                pause(error.text + QStringLiteral("; moved to %1, but a new file failed: %2")
                                       .arg(QDir::toNativeSeparators(movedTo), opened.reason().text));
                return;
            }
            emit notice(error.text + QStringLiteral("; the file was moved to %1 and a new one started")
                                         .arg(QDir::toNativeSeparators(movedTo)));
            // What waits goes into the new file.
            m_commitTimer->start();
            return;
        }
        case sqldialect::Failure::None:
        case sqldialect::Failure::Full:
        case sqldialect::Failure::Other:
            break;
        }
        pause(error.text);
    }

    void pause(const QString &reason)
    {
        m_store.reset();
        m_commitTimer->stop();
        m_pruneTimer->stop();
        m_pruneStep->stop();
        m_retryTimer->start();
        if (m_paused)
            return;
        m_paused = true;
        emit paused(reason);
    }

    void resume(qint64 kept, qint64 lost)
    {
        m_paused = false;
        m_retryTimer->stop();
        emit resumed(kept, lost);
        startPrune();
    }

    // Past the capacity the oldest batches go, counted per unit, until the
    // rest fits; the newest is always kept.
    void bound()
    {
        const qint64 readingLimit = qMax(1, m_options.capacityReadings);
        // The other kinds together are bounded alike: a unit sends far
        // fewer of them than readings.
        const qint64 rowLimit = 4 * readingLimit;
        qint64 droppedReadings = 0;
        qint64 droppedRows = 0;
        while (m_queue.size() > 1 && (m_queuedReadings > readingLimit || m_queuedRows > rowLimit)) {
            const history::Batch &oldest = m_queue.front();
            for (const auto &row : oldest.readings)
                ++m_lost[row.unit].readings;
            for (const auto &row : oldest.witsItems)
                ++m_lost[row.unit].witsItems;
            for (const auto &row : oldest.witsRecords)
                ++m_lost[row.unit].witsRecords;
            for (const auto &row : oldest.events)
                ++m_lost[row.unit].events;
            const qint64 readings = static_cast<qint64>(oldest.readings.size());
            const qint64 rows = rowCount(oldest);
            m_queuedReadings -= readings;
            m_queuedRows -= rows;
            droppedReadings += readings;
            droppedRows += rows;
            m_queue.pop_front();
        }
        if (droppedRows > 0)
            emit dropped(droppedReadings, droppedRows);
    }

    void startPrune()
    {
        if (!m_store || m_paused || m_options.retentionDays <= 0)
            return;
        // A shared server's retention is its owner's (rthistory prune as the
        // owner): a recorder's role may not delete.
        if (m_store->engine() != sqldialect::Engine::Sqlite)
            return;
        m_pruneCutoffMs = writerNowMs() - m_options.retentionDays * PruneDayMs;
        m_prunedRows = 0;
        m_pruneStep->start();
    }

    // One slice of the pruning per turn of the thread's loop, so commits
    // go on between them.
    void pruneStep()
    {
        if (!m_store || m_paused)
            return;
        const HistoryResult<qint64> deleted = m_store->pruneSome(m_pruneCutoffMs, PruneSliceRows);
        if (!deleted) {
            // A busy file is pruned at the next round; nothing is lost
            // meanwhile.
            if (deleted.reason().kind != sqldialect::Failure::Busy)
                handleFailure(deleted.reason());
            return;
        }
        m_prunedRows += *deleted;
        if (*deleted > 0) {
            m_pruneStep->start();
            return;
        }
        if (m_prunedRows > 0) {
            const HistoryResult<void> compacted = m_store->returnFreeSpace();
            if (!compacted && compacted.reason().kind != sqldialect::Failure::Busy)
                handleFailure(compacted.reason());
        }
    }

    const HistoryWriter::Options m_options;
    std::unique_ptr<HistoryStore> m_store;
    // The file opened, to tell it from whatever is at the path later.
    std::optional<files::Identity> m_openFile;
    std::deque<history::Batch> m_queue;
    qint64 m_queuedReadings = 0;
    qint64 m_queuedRows = 0;
    std::map<QString, Lost> m_lost;
    // The units of the serials, by the lookup table.
    UnitResolver m_units;
    QTimer *m_commitTimer = nullptr;
    QElapsedTimer m_sinceCommit;
    QTimer *m_retryTimer = nullptr;
    QTimer *m_pruneTimer = nullptr;
    QTimer *m_pruneStep = nullptr;
    bool m_paused = false;
    int m_busyCount = 0;
    qint64 m_pruneCutoffMs = 0;
    qint64 m_prunedRows = 0;
};

HistoryWriter::HistoryWriter(Options options, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
{
    setObjectName(QStringLiteral("HistoryWriter"));
}

HistoryWriter::~HistoryWriter()
{
    stop();
}

HistoryResult<void> HistoryWriter::start()
{
    if (m_thread)
        return failure(HistoryError{sqldialect::Failure::Other, QStringLiteral("the history writer runs already")});
    m_thread = new QThread();
    m_thread->setObjectName(QStringLiteral("history writer"));
    m_worker = new HistoryWriterWorker(m_options);
    m_worker->moveToThread(m_thread);
    connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &HistoryWriterWorker::committed, this, &HistoryWriter::committed);
    connect(m_worker, &HistoryWriterWorker::paused, this, &HistoryWriter::paused);
    connect(m_worker, &HistoryWriterWorker::resumed, this, &HistoryWriter::resumed);
    connect(m_worker, &HistoryWriterWorker::dropped, this, &HistoryWriter::dropped);
    connect(m_worker, &HistoryWriterWorker::notice, this, &HistoryWriter::notice);
    m_thread->start();
    HistoryResult<void> opened;
    HistoryWriterWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        m_worker, [worker, &opened] { opened = worker->start(); }, Qt::BlockingQueuedConnection);
    return opened;
}

bool HistoryWriter::stop()
{
    if (!m_thread)
        return true;
    bool done = true;
    HistoryWriterWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        m_worker, [worker, &done] { done = worker->finish(); }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    // The worker went with its thread's last events.
    delete m_thread;
    m_thread = nullptr;
    m_worker = nullptr;
    return done;
}

bool HistoryWriter::isRunning() const
{
    return m_thread != nullptr;
}

void HistoryWriter::submit(history::Batch batch)
{
    if (!m_worker || batch.empty())
        return;
    HistoryWriterWorker *worker = m_worker;
    QMetaObject::invokeMethod(
        m_worker, [worker, batch = std::move(batch)]() mutable { worker->take(batch); }, Qt::QueuedConnection);
}

void HistoryWriter::retryNow()
{
    if (!m_worker)
        return;
    HistoryWriterWorker *worker = m_worker;
    QMetaObject::invokeMethod(m_worker, [worker] { worker->retryNow(); }, Qt::QueuedConnection);
}

bool HistoryWriter::sync()
{
    if (!m_worker)
        return true;
    bool done = true;
    HistoryWriterWorker *worker = m_worker;
    // Queued behind every batch submitted before it.
    QMetaObject::invokeMethod(
        m_worker,
        [worker, &done] {
            worker->retryNow();
            done = worker->isIdle();
        },
        Qt::BlockingQueuedConnection);
    return done;
}

#include "historywriter.moc"
