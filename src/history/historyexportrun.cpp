#include "history/historyexportrun.h"

#include <QDir>
#include <QThread>

#include "history/historystore.h"
#include "history/readerthread.h"
#include "history/sqldialect.h"
#include "rules/files/safefile.h"

namespace {

// How much of a unit's name the export's texts show; a name typed long
// must not stretch a window past the screen.
constexpr int ShownUnitLength = 40;

// Opens the history at address read-only, or the local file when address
// is a server that cannot be read; note says why it was not.
HistoryResult<void> openSource(HistoryStore &store, const QString &address, const QString &localPath, QString &note)
{
    HistoryResult<void> opened = store.open(address, HistoryStore::Access::ReadOnly, readerLimits());
    if (!opened && sqldialect::isServerAddress(address) && !localPath.isEmpty()) {
        note = opened.reason().text;
        opened = store.open(localPath, HistoryStore::Access::ReadOnly, readerLimits());
    }
    return opened;
}

// The units a history holds, on its thread; it and its thread go once it
// has answered.
class UnitsWork : public QObject
{
    Q_OBJECT

public:
    UnitsWork(QString address, QString localPath)
        : m_address(std::move(address))
        , m_localPath(std::move(localPath))
    {
    }

    void run()
    {
        QStringList names;
        QString note;
        {
            HistoryStore store;
            if (openSource(store, m_address, m_localPath, note)) {
                if (const HistoryResult<std::vector<UnitSummary>> units = store.units()) {
                    for (const UnitSummary &unit : *units)
                        names.append(unit.unit);
                }
            }
        }
        emit listed(names, note);
    }

signals:
    void listed(const QStringList &units, const QString &note);

private:
    QString m_address;
    QString m_localPath;
};

// One export, on its thread: the connection, the reading and the file are
// its own. It looks at the flag between slices, and a cancelled export
// leaves no file.
class ExportWork : public QObject
{
    Q_OBJECT

public:
    ExportWork(QString address, QString localPath, HistoryExportJob job, std::shared_ptr<std::atomic_bool> cancelled)
        : m_address(std::move(address))
        , m_localPath(std::move(localPath))
        , m_job(std::move(job))
        , m_cancelled(std::move(cancelled))
    {
    }

    void run()
    {
        QString note;
        HistoryStore store;
        const HistoryResult<void> opened = openSource(store, m_address, m_localPath, note);
        if (*m_cancelled)
            return end();
        if (!opened)
            return failedWith(opened.reason().text, note);
        // Only a complete file appears under the name asked for, and never
        // in place of the history or of anything but a regular file.
        QStringList keepOff{m_localPath};
        if (!sqldialect::isServerAddress(m_address))
            keepOff.append(m_address);
        SafeFile file(m_job.file, keepOff);
        if (const Result<void> fileOpened = file.open(); !fileOpened)
            return failedWith(fileOpened.reason(), note);
        // A server's connection carries one cursor at a time: the WITS
        // records of a raw export come through a second one (declared
        // before the export, whose cursors go first).
        HistoryStore witsStore;
        HistoryExport job(store, m_job.range, m_job.format, file.device());
        if (m_job.format == HistoryExport::Format::Raw && note.isEmpty() && sqldialect::isServerAddress(m_address)) {
            if (const HistoryResult<void> witsOpened = witsStore.open(m_address, HistoryStore::Access::ReadOnly, readerLimits());
                !witsOpened) {
                file.cancel();
                return failedWith(witsOpened.reason().text, note);
            }
            job.setWitsStore(witsStore);
        }
        if (m_job.format == HistoryExport::Format::Las)
            job.setMudLog(m_job.mudLog, m_job.well);
        if (const Result<void> started = job.start(); !started) {
            file.cancel();
            return failedWith(started.reason(), note);
        }
        const QString &unit = m_job.range.unit;
        if (job.total() == 0) {
            file.cancel();
            return finish(false,
                          QStringLiteral("[HISTORY: no readings of %1 in that time range, no file written]").arg(unit),
                          QStringLiteral("No readings of %1 in that time range.").arg(shownExportUnit(unit)), note);
        }
        while (!job.done()) {
            emit progressed(job.written(), job.total());
            if (*m_cancelled) {
                file.cancel();
                return end();
            }
            if (const Result<void> written = job.writeSome(HistoryExportRun::RowsPerStep); !written) {
                file.cancel();
                return failedWith(written.reason(), note);
            }
        }
        if (*m_cancelled) {
            file.cancel();
            return end();
        }
        if (const Result<void> committed = file.commit(); !committed)
            return failedWith(committed.reason(), note);
        // A server read is named; the local history is the viewer's own.
        const QString from = note.isEmpty() && sqldialect::isServerAddress(m_address)
                                 ? QStringLiteral(" from %1").arg(m_address)
                                 : QString();
        finish(true,
               QStringLiteral("[HISTORY: %1 readings of %2%3 written to %4]")
                   .arg(job.written())
                   .arg(unit, from, QDir::toNativeSeparators(m_job.file)),
               QString(), note);
    }

signals:
    void progressed(qint64 written, qint64 total);
    void finished(bool written, const QByteArray &line, const QString &shown, const QString &note);
    void ended();

private:
    void failedWith(const QString &description, const QString &note)
    {
        finish(false, QStringLiteral("[HISTORY ERR: %1]").arg(description),
               description.left(1).toUpper() + description.mid(1) + QLatin1Char('.'), note);
    }

    void finish(bool written, const QString &line, const QString &shown, const QString &note)
    {
        emit finished(written, line.toLatin1(), shown, note);
        end();
    }

    void end() { emit ended(); }

    QString m_address;
    QString m_localPath;
    HistoryExportJob m_job;
    std::shared_ptr<std::atomic_bool> m_cancelled;
};

} // namespace

QString shownExportUnit(const QString &unit)
{
    return unit.size() <= ShownUnitLength ? unit : unit.left(ShownUnitLength - 1) + QChar(0x2026);
}

HistoryExportRun::HistoryExportRun(QString address, QString localPath, QObject *parent)
    : QObject(parent)
    , m_address(std::move(address))
    , m_localPath(std::move(localPath))
{
}

HistoryExportRun::~HistoryExportRun()
{
    cancel();
}

void HistoryExportRun::listUnits()
{
    auto *work = new UnitsWork(m_address, m_localPath);
    // Queued: taken on this object's thread, and by nobody once it has gone.
    const quint64 listing = ++m_listing;
    connect(
        work, &UnitsWork::listed, this,
        [this, listing](const QStringList &units, const QString &note) {
            if (listing == m_listing)
                emit unitsListed(units, note);
        },
        Qt::QueuedConnection);
    connect(work, &UnitsWork::listed, work, [work] { work->thread()->quit(); }, Qt::DirectConnection);
    readerthread::start(work, QStringLiteral("history export"));
    QMetaObject::invokeMethod(work, &UnitsWork::run, Qt::QueuedConnection);
}

void HistoryExportRun::setSource(const QString &address, const QString &localPath)
{
    if (address == m_address && localPath == m_localPath)
        return;
    m_address = address;
    m_localPath = localPath;
    listUnits();
}

void HistoryExportRun::start(const HistoryExportJob &job)
{
    cancel();
    auto cancelled = std::make_shared<std::atomic_bool>(false);
    m_cancelled = cancelled;
    m_running = true;
    auto *work = new ExportWork(m_address, m_localPath, job, cancelled);
    // Whatever comes from an export since cancelled is dropped here.
    connect(
        work, &ExportWork::progressed, this,
        [this, cancelled](qint64 written, qint64 total) {
            if (!*cancelled)
                emit progressed(written, total);
        },
        Qt::QueuedConnection);
    connect(
        work, &ExportWork::finished, this,
        [this, cancelled](bool written, const QByteArray &line, const QString &shown, const QString &note) {
            if (*cancelled)
                return;
            m_running = false;
            emit finished(written, line, shown, note);
        },
        Qt::QueuedConnection);
    connect(work, &ExportWork::ended, work, [work] { work->thread()->quit(); }, Qt::DirectConnection);
    readerthread::start(work, QStringLiteral("history export"));
    QMetaObject::invokeMethod(work, &ExportWork::run, Qt::QueuedConnection);
}

void HistoryExportRun::cancel()
{
    if (m_cancelled)
        *m_cancelled = true;
    m_cancelled.reset();
    m_running = false;
}

#include "historyexportrun.moc"
