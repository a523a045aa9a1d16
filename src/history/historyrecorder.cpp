#include "history/historyrecorder.h"

#include <QDateTime>
#include <QDir>
#include <QTimer>

#include "history/historyfile.h"
#include "history/historystore.h"
#include "link/socketcontrol.h"
#include "link/unitlink.h"

namespace {

constexpr std::int16_t BitDepthCode = 108;
constexpr qint64 DayMs = 24LL * 60 * 60 * 1000;

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

HistoryRecorder::HistoryRecorder(const UnitLink &link, Options options, QObject *parent)
    : QObject(parent)
    , m_link(link)
    , m_options(std::move(options))
    , m_linkState(link.state())
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

    connect(&link, &UnitLink::stateChanged, this, &HistoryRecorder::linkState);
    connect(&link, &UnitLink::readingAccepted, this, &HistoryRecorder::readingAccepted);
    connect(&link, &UnitLink::witsRecordStarted, this, &HistoryRecorder::witsRecordStarted);
    connect(&link, &UnitLink::witsItemRead, this, &HistoryRecorder::witsItemRead);
    connect(&link, &UnitLink::twoWayModeChanged, this, &HistoryRecorder::twoWayMode);
}

HistoryRecorder::~HistoryRecorder()
{
    flush();
}

bool HistoryRecorder::active() const
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
        openStore();
        return;
    }
    flush();
    m_recording = false;
    m_pending.clear();
    m_store.reset();
    m_flushTimer->stop();
    m_pruneTimer->stop();
    m_pruneStep->stop();
}

void HistoryRecorder::openStore()
{
    m_store = std::make_unique<HistoryStore>();
    HistoryLimits limits;
    limits.sizeBytes = m_options.sizeLimitBytes;
    if (!m_store->open(m_options.path, HistoryStore::Access::ReadWrite, limits)) {
        handleFailure(m_store->error());
        return;
    }
    m_busyCount = 0;
    m_pruneTimer->start();
    startPrune();
}

void HistoryRecorder::report(const QString &description)
{
    emit reportLine(QByteArrayLiteral("[HISTORY ERR: ") + description.toLatin1() + QByteArrayLiteral("]"));
}

void HistoryRecorder::pause(QString description)
{
    // Paused before the line goes out: the line comes back as a report line
    // to record, and must not be.
    m_paused = true;
    m_pending.clear();
    m_store.reset();
    m_flushTimer->stop();
    m_pruneTimer->stop();
    m_pruneStep->stop();
    report(description + QStringLiteral("; recording paused until the next connect"));
}

void HistoryRecorder::handleFailure(HistoryError error)
{
    switch (error.kind) {
    case sqldialect::Failure::Busy:
        // Another program holds the file for a moment (rthistory, a second
        // viewer): what was gathered waits for the next flush.
        if (++m_busyCount < BusyRetries && m_store && m_store->isOpen()) {
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
        if (!m_store->open(m_options.path, HistoryStore::Access::ReadWrite, limits)) {
            pause(error.text + QStringLiteral("; moved to %1, but a new file failed: %2")
                                   .arg(QDir::toNativeSeparators(movedTo), m_store->error().text));
            return;
        }
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
    if (!active() || m_pending.empty())
        return;
    if (m_store->write(m_pending)) {
        m_pending.clear();
        m_busyCount = 0;
        return;
    }
    handleFailure(m_store->error());
}

void HistoryRecorder::startPrune()
{
    if (!active())
        return;
    m_pruneCutoffMs = now() - m_options.retentionDays * DayMs;
    m_prunedRows = 0;
    m_pruneStep->start();
}

void HistoryRecorder::pruneStep()
{
    if (!active())
        return;
    const qint64 deleted = m_store->pruneSome(m_pruneCutoffMs, PruneSliceRows);
    if (deleted < 0) {
        // A busy file is pruned at the next round; nothing is lost meanwhile.
        if (m_store->error().kind != sqldialect::Failure::Busy)
            handleFailure(m_store->error());
        return;
    }
    m_prunedRows += deleted;
    if (deleted > 0) {
        m_pruneStep->start();
    } else if (m_prunedRows > 0 && !m_store->returnFreeSpace()
               && m_store->error().kind != sqldialect::Failure::Busy) {
        handleFailure(m_store->error());
    }
}

void HistoryRecorder::addEvent(qint64 timeMs, const char *kind, const QString &detail)
{
    recordEvent(m_link.serial(), QLatin1String(kind), detail, timeMs);
}

void HistoryRecorder::recordEvent(const QString &unit, const QString &kind, const QString &detail, qint64 timeMs)
{
    if (!active())
        return;
    m_pending.events.push_back({timeMs ? timeMs : now(), unit, kind, detail});
    scheduleFlush();
}

void HistoryRecorder::recordReportLine(const QByteArray &line)
{
    addEvent(now(), "report", QString::fromLatin1(line));
}

void HistoryRecorder::linkState(std::int16_t state)
{
    const std::int16_t before = m_linkState;
    m_linkState = state;
    const QString &serial = m_link.serial();
    switch (state) {
    case SocketControl::Connected:
        // A new connection: nothing the unit said before stands.
        m_bitDepth.reset();
        m_alarm = 0.0;
        m_twoWay = false;
        m_gasLevel.reset();
        m_gasRecorded = readings::GasLevel::Unchanged;
        if (m_recording && m_paused) {
            m_paused = false;
            openStore();
        }
        addEvent(now(), "connected", serial + QStringLiteral(" connected"));
        break;
    case SocketControl::Closing:
        addEvent(now(), "unit ended", serial + QStringLiteral(": the unit ended the connection"));
        break;
    case SocketControl::Error:
        addEvent(now(), "link error", serial + QStringLiteral(": the connection failed"));
        break;
    case SocketControl::Closed:
        if (before != SocketControl::Closed)
            addEvent(now(), "disconnected", serial + QStringLiteral(" disconnected"));
        break;
    default:
        break;
    }
}

void HistoryRecorder::readingAccepted(const Reading &reading)
{
    // The bit depth stands only while the WITS feed is fresh, as on the panel.
    if (m_link.witsCountdown() <= 0)
        m_bitDepth.reset();
    if (active()) {
        m_pending.readings.push_back(history::readingRow(reading, m_bitDepth));
        scheduleFlush();
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
    const readings::GasLevel level = m_gasLevel.update(reading.fields[5]);
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
    m_pending.witsRecords.push_back({m_witsTimeMs, m_link.serial(), record});
    scheduleFlush();
}

void HistoryRecorder::witsItemRead(const WitsItem &item)
{
    if (item.code == BitDepthCode)
        m_bitDepth = item.value;
    const int position = m_witsPosition++;
    if (!active())
        return;
    m_pending.witsItems.push_back({m_witsTimeMs, m_link.serial(), position, item.code, item.value});
    scheduleFlush();
}

void HistoryRecorder::twoWayMode(bool active)
{
    if (active == m_twoWay)
        return;
    m_twoWay = active;
    addEvent(now(), "two way", active ? QStringLiteral("Two Way Active") : QStringLiteral("Two Way Inactive"));
}
