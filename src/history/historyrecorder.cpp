#include "history/historyrecorder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "history/historyfile.h"
#include "history/historystore.h"
#include "rules/files/safefile.h"
#include "rules/stream/linkstate.h"
#include "rules/stream/unitstream.h"

namespace {

constexpr qint64 DayLengthMs = 24LL * 60 * 60 * 1000;

qint64 now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString alarmDetail(double code)
{
    return QString::number(code) + QLatin1Char(' ') + readings::alarmText(code);
}

const char *levelName(readings::GasLevel level)
{
    switch (level) {
    case readings::GasLevel::Green:
        return "green";
    case readings::GasLevel::Yellow:
        return "yellow";
    case readings::GasLevel::Red:
        return "red";
    case readings::GasLevel::Unchanged:
    case readings::GasLevel::NoReading:
        break;
    }
    return "none";
}

} // namespace

bool HistoryRecorder::Lost::any() const
{
    return readings > 0 || witsItems > 0 || witsRecords > 0 || events > 0;
}

QString HistoryRecorder::Lost::text() const
{
    return QStringLiteral("%1 readings, %2 WITS items, %3 WITS records and %4 events were lost while the history"
                          " file could not be written")
        .arg(readings)
        .arg(witsItems)
        .arg(witsRecords)
        .arg(events);
}

HistoryRecorder::HistoryRecorder(const UnitStream &unit, Options options, QObject *parent)
    : QObject(parent)
    , m_unit(unit)
    , m_options(std::move(options))
    , m_linkState(unit.linkState())
{
    setObjectName(QStringLiteral("HistoryRecorder"));
    m_flushTimer = new QTimer(this);
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(FlushIntervalMs);
    connect(m_flushTimer, &QTimer::timeout, this, &HistoryRecorder::flush);
    m_pruneTimer = new QTimer(this);
    m_pruneTimer->setInterval(PruneIntervalMs);
    connect(m_pruneTimer, &QTimer::timeout, this, &HistoryRecorder::startPrune);
    m_pruneStep = new QTimer(this);
    m_pruneStep->setSingleShot(true);
    m_pruneStep->setInterval(0);
    connect(m_pruneStep, &QTimer::timeout, this, &HistoryRecorder::pruneStep);
    m_retryTimer = new QTimer(this);
    m_retryTimer->setObjectName(QStringLiteral("tmr_history_retry"));
    m_retryTimer->setInterval(m_options.retryIntervalMs);
    connect(m_retryTimer, &QTimer::timeout, this, &HistoryRecorder::retry);

    connect(&unit, &UnitStream::linkStateChanged, this, &HistoryRecorder::linkState);
    connect(&unit, &UnitStream::readingAccepted, this, &HistoryRecorder::readingAccepted);
    connect(&unit, &UnitStream::witsRecordStarted, this, &HistoryRecorder::witsRecordStarted);
    connect(&unit, &UnitStream::witsItemRead, this, &HistoryRecorder::witsItemRead);
    connect(&unit, &UnitStream::twoWayModeChanged, this, &HistoryRecorder::twoWayMode);
}

HistoryRecorder::~HistoryRecorder()
{
    flush();
}

bool HistoryRecorder::active() const
{
    return m_recording;
}

bool HistoryRecorder::writing() const
{
    return m_recording && !m_paused && m_store;
}

void HistoryRecorder::setRecording(bool on)
{
    if (on == m_recording)
        return;
    if (on) {
        m_recording = true;
        m_paused = false;
        if (openStore())
            startPrune();
        return;
    }
    flush();
    m_recording = false;
    m_paused = false;
    m_pending.clear();
    m_lost = Lost();
    m_store.reset();
    m_flushTimer->stop();
    m_pruneTimer->stop();
    m_pruneStep->stop();
    m_retryTimer->stop();
}

bool HistoryRecorder::openStore()
{
    m_store = std::make_unique<HistoryStore>();
    HistoryLimits limits;
    limits.sizeBytes = m_options.sizeLimitBytes;
    if (const HistoryResult<void> opened = m_store->open(m_options.path, HistoryStore::Access::ReadWrite, limits);
        !opened) {
        handleFailure(opened.reason());
        return m_store && m_store->isOpen();
    }
    m_openFile = files::identity(m_options.path);
    m_busyCount = 0;
    m_pruneTimer->start();
    return true;
}

void HistoryRecorder::report(const QString &description)
{
    emit reportLine(QByteArrayLiteral("[HISTORY ERR: ") + description.toLatin1() + QByteArrayLiteral("]"));
}

void HistoryRecorder::pause(QString description)
{
    m_store.reset();
    m_flushTimer->stop();
    m_pruneTimer->stop();
    m_pruneStep->stop();
    m_retryTimer->start();
    if (m_paused)
        return;
    // Paused before the line goes out: the line comes back as a report line
    // to record, and is kept with the rest.
    m_paused = true;
    report(description + QStringLiteral("; recording paused, what comes meanwhile is kept and tried again every %1 s")
                             .arg(m_options.retryIntervalMs / 1000.0));
}

void HistoryRecorder::handleFailure(HistoryError error)
{
    switch (error.kind) {
    case sqldialect::Failure::Busy:
        // Another program holds the file for a moment (rthistory, a second
        // viewer): what was gathered waits for the next flush.
        if (!m_paused && ++m_busyCount < BusyRetries && m_store && m_store->isOpen()) {
            scheduleFlush();
            return;
        }
        break;
    case sqldialect::Failure::Corrupt: {
        m_store.reset();
        const QString movedTo = moveHistoryAside(m_options.path, now());
        if (movedTo.isEmpty())
            break;
        m_store = std::make_unique<HistoryStore>();
        HistoryLimits limits;
        limits.sizeBytes = m_options.sizeLimitBytes;
        if (const HistoryResult<void> opened = m_store->open(m_options.path, HistoryStore::Access::ReadWrite, limits);
            !opened) {
            pause(error.text + QStringLiteral("; moved to %1, but a new file failed: %2")
                                   .arg(QDir::toNativeSeparators(movedTo), opened.reason().text));
            return;
        }
        m_openFile = files::identity(m_options.path);
        report(error.text + QStringLiteral("; the file was moved to %1 and a new one started")
                                .arg(QDir::toNativeSeparators(movedTo)));
        m_pruneTimer->start();
        // What was gathered goes into the new file.
        scheduleFlush();
        return;
    }
    case sqldialect::Failure::None:
    case sqldialect::Failure::Full:
    case sqldialect::Failure::Other:
        break;
    }
    pause(error.text);
}

void HistoryRecorder::scheduleFlush()
{
    if (!m_flushTimer->isActive())
        m_flushTimer->start();
}

void HistoryRecorder::flush()
{
    m_flushTimer->stop();
    if (!m_recording || m_paused || m_pending.empty())
        return;
    writePending();
}

bool HistoryRecorder::writePending()
{
    if (!m_store && !openStore())
        return false;
    // Someone deleted or replaced the file while it was open: what would be
    // written goes nowhere anybody can read. A new file is started there.
    if (m_openFile != files::identity(m_options.path)) {
        m_store.reset();
        const bool gone = !QFileInfo::exists(m_options.path);
        report(QStringLiteral("%1 was %2 while open; a new one is started there")
                   .arg(QDir::toNativeSeparators(m_options.path),
                        gone ? QStringLiteral("deleted") : QStringLiteral("replaced")));
        if (!openStore())
            return false;
    }
    const HistoryResult<void> written = m_store->write(m_pending);
    if (written) {
        m_pending.clear();
        m_busyCount = 0;
        return true;
    }
    handleFailure(written.reason());
    return false;
}

void HistoryRecorder::retry()
{
    if (!m_recording || !m_paused) {
        m_retryTimer->stop();
        return;
    }
    const qint64 kept = static_cast<qint64>(m_pending.readings.size());
    const Lost lost = m_lost;
    // What was lost is history too, written with what was kept.
    const bool note = lost.any();
    if (note)
        m_pending.events.push_back({now(), m_unit.serial(), QStringLiteral("rows lost"), lost.text()});
    if (!writePending()) {
        if (note && !m_pending.events.empty())
            m_pending.events.pop_back();
        return;
    }
    m_paused = false;
    m_lost = Lost();
    m_retryTimer->stop();
    emit reportLine(QStringLiteral("[HISTORY: recording resumed, %1 readings kept meanwhile written, %2 lost]")
                        .arg(kept)
                        .arg(lost.readings)
                        .toLatin1());
    startPrune();
}

void HistoryRecorder::gathered()
{
    // Bounded while the file does not take them: past the limit the oldest
    // go, counted, a slice at a time so that each row is not a move of all
    // the others.
    const std::size_t limit = static_cast<std::size_t>(qMax(1, m_options.keptReadings));
    const std::size_t slack = limit / 8 + 1;
    auto bound = [&](auto &rows, qint64 &lost) {
        if (rows.size() <= limit + slack)
            return;
        const std::size_t dropped = rows.size() - limit;
        rows.erase(rows.begin(), rows.begin() + static_cast<std::ptrdiff_t>(dropped));
        lost += static_cast<qint64>(dropped);
    };
    bound(m_pending.readings, m_lost.readings);
    bound(m_pending.witsItems, m_lost.witsItems);
    bound(m_pending.witsRecords, m_lost.witsRecords);
    bound(m_pending.events, m_lost.events);
    scheduleFlush();
}

void HistoryRecorder::startPrune()
{
    if (!writing())
        return;
    m_pruneCutoffMs = now() - m_options.retentionDays * DayLengthMs;
    m_prunedRows = 0;
    m_pruneStep->start();
}

void HistoryRecorder::pruneStep()
{
    if (!writing())
        return;
    const HistoryResult<qint64> deleted = m_store->pruneSome(m_pruneCutoffMs, PruneSliceRows);
    if (!deleted) {
        // A busy file is pruned at the next round; nothing is lost meanwhile.
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

void HistoryRecorder::addEvent(qint64 timeMs, const char *kind, const QString &detail)
{
    recordEvent(m_unit.serial(), QLatin1String(kind), detail, timeMs);
}

void HistoryRecorder::recordEvent(const QString &unit, const QString &kind, const QString &detail, qint64 timeMs)
{
    if (!active())
        return;
    m_pending.events.push_back({timeMs ? timeMs : now(), unit, kind, detail});
    gathered();
}

void HistoryRecorder::recordReportLine(const QByteArray &line)
{
    addEvent(now(), "report", QString::fromLatin1(line));
}

void HistoryRecorder::linkState(std::int16_t state)
{
    const std::int16_t before = m_linkState;
    m_linkState = state;
    const QString &serial = m_unit.serial();
    switch (state) {
    case LinkState::Connected:
        // A new connection: its alarm, mode and gas level are recorded
        // afresh.
        m_alarm = 0.0;
        m_twoWay = false;
        m_gasRecorded = readings::GasLevel::Unchanged;
        // A connect is a moment to try a paused file again at once.
        if (m_recording && m_paused)
            retry();
        addEvent(now(), "connected", serial + QStringLiteral(" connected"));
        break;
    case LinkState::Closing:
        addEvent(now(), "unit ended", serial + QStringLiteral(": the unit ended the connection"));
        break;
    case LinkState::Error:
        addEvent(now(), "link error", serial + QStringLiteral(": the connection failed"));
        break;
    case LinkState::Closed:
        if (before != LinkState::Closed)
            addEvent(now(), "disconnected", serial + QStringLiteral(" disconnected"));
        break;
    default:
        break;
    }
}

void HistoryRecorder::readingAccepted(const Reading &reading)
{
    if (active()) {
        m_pending.readings.push_back(history::readingRow(reading));
        gathered();
    }

    const double alarm = reading.errorCode > 0 ? reading.errorCode : 0.0;
    if (alarm != m_alarm) {
        if (m_alarm > 0)
            addEvent(reading.acceptedAtMs, "alarm end", alarmDetail(m_alarm));
        if (alarm > 0)
            addEvent(reading.acceptedAtMs, "alarm start", alarmDetail(alarm));
        m_alarm = alarm;
    }
    // A reading with no number records no level, so the history does not
    // show the gas going to none and back between two alike levels.
    const readings::GasLevel level = reading.gasLevel;
    if (level != readings::GasLevel::NoReading && level != readings::GasLevel::Unchanged && level != m_gasRecorded) {
        m_gasRecorded = level;
        addEvent(reading.acceptedAtMs, "gas level",
                 QStringLiteral("%1 at %2 units").arg(QLatin1String(levelName(level)),
                                                      QString::fromLatin1(reading.fields[5])));
    }
}

void HistoryRecorder::witsRecordStarted(const QByteArray &record)
{
    m_witsTimeMs = now();
    m_witsPosition = 0;
    if (!active())
        return;
    m_pending.witsRecords.push_back({m_witsTimeMs, m_unit.serial(), record});
    gathered();
}

void HistoryRecorder::witsItemRead(const WitsItem &item)
{
    const int position = m_witsPosition++;
    if (!active())
        return;
    m_pending.witsItems.push_back({m_witsTimeMs, m_unit.serial(), position, item.code, item.value});
    gathered();
}

void HistoryRecorder::twoWayMode(bool active)
{
    if (active == m_twoWay)
        return;
    m_twoWay = active;
    addEvent(now(), "two way", active ? QStringLiteral("Two Way Active") : QStringLiteral("Two Way Inactive"));
}
