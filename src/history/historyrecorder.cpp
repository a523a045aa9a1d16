#include "history/historyrecorder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include "history/historyfile.h"
#include "history/historywriter.h"
#include "rules/files/safefile.h"
#include "rules/stream/linkstate.h"
#include "rules/stream/unitstream.h"

namespace {

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

HistoryRecorder::HistoryRecorder(const UnitStream &unit, Options options, QObject *parent)
    : QObject(parent)
    , m_unit(unit)
    , m_options(std::move(options))
    , m_linkState(unit.linkState())
{
    setObjectName(QStringLiteral("HistoryRecorder"));
    // What was gathered goes to the writer once a second, one batch each
    // time: waking the writer's thread for every packet would cost more
    // than the commit it waits for.
    m_submitTimer = new QTimer(this);
    m_submitTimer->setSingleShot(true);
    m_submitTimer->setInterval(SubmitIntervalMs);
    connect(m_submitTimer, &QTimer::timeout, this, &HistoryRecorder::submit);

    connect(&unit, &UnitStream::linkStateChanged, this, &HistoryRecorder::linkState);
    connect(&unit, &UnitStream::readingAccepted, this, &HistoryRecorder::readingAccepted);
    connect(&unit, &UnitStream::witsRecordStarted, this, &HistoryRecorder::witsRecordStarted);
    connect(&unit, &UnitStream::witsItemRead, this, &HistoryRecorder::witsItemRead);
    connect(&unit, &UnitStream::twoWayModeChanged, this, &HistoryRecorder::twoWayMode);
}

HistoryRecorder::~HistoryRecorder()
{
    stopWriter();
}

bool HistoryRecorder::active() const
{
    return m_recording;
}

void HistoryRecorder::setRecording(bool on)
{
    if (on == m_recording)
        return;
    if (!on) {
        stopWriter();
        m_recording = false;
        m_paused = false;
        return;
    }
    m_recording = true;
    m_paused = false;
    HistoryWriter::Options options;
    options.path = m_options.path;
    options.retentionDays = m_options.retentionDays;
    options.sizeLimitBytes = m_options.sizeLimitBytes;
    options.retryIntervalMs = m_options.retryIntervalMs;
    options.capacityReadings = m_options.keptReadings;
    options.lookupPath = m_options.lookupPath;
    m_writer = std::make_unique<HistoryWriter>(options);
    connect(m_writer.get(), &HistoryWriter::paused, this, [this](const QString &reason) {
        // Paused before the line goes out: the line comes back as a report
        // line to record, and is kept with the rest.
        m_paused = true;
        report(reason + QStringLiteral("; recording paused, what comes meanwhile is kept and tried again every %1 s")
                            .arg(m_options.retryIntervalMs / 1000.0));
    });
    connect(m_writer.get(), &HistoryWriter::resumed, this, [this](qint64 kept, qint64 lost) {
        m_paused = false;
        emit reportLine(QStringLiteral("[HISTORY: recording resumed, %1 readings kept meanwhile written, %2 lost]")
                            .arg(kept)
                            .arg(lost)
                            .toLatin1());
    });
    connect(m_writer.get(), &HistoryWriter::notice, this, &HistoryRecorder::report);
    // A failed open pauses the writer, which says so and tries again.
    (void)m_writer->start();
}

void HistoryRecorder::stopWriter()
{
    m_submitTimer->stop();
    if (!m_writer)
        return;
    // Paused or not, what was gathered and kept is tried one last time.
    m_writer->submit(std::move(m_pending));
    m_pending.clear();
    m_writer->stop();
    m_writer.reset();
}

void HistoryRecorder::report(const QString &description)
{
    emit reportLine(QByteArrayLiteral("[HISTORY ERR: ") + description.toLatin1() + QByteArrayLiteral("]"));
}

void HistoryRecorder::submit()
{
    m_submitTimer->stop();
    if (!m_writer || m_pending.empty())
        return;
    m_writer->submit(std::move(m_pending));
    m_pending.clear();
}

void HistoryRecorder::flush()
{
    submit();
    if (m_writer)
        m_writer->sync();
}

void HistoryRecorder::gathered()
{
    if (!m_submitTimer->isActive())
        m_submitTimer->start();
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
        if (m_writer && m_paused)
            m_writer->retryNow();
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
