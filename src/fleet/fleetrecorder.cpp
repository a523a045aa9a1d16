#include "fleet/fleetrecorder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QTimer>

#include "history/historywriter.h"
#include "rules/config/lookupfile.h"
#include "rules/config/unitsfile.h"

namespace {

void append(history::Batch &to, history::Batch &&from)
{
    auto move = [](auto &into, auto &rows) {
        into.insert(into.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    };
    move(to.readings, from.readings);
    move(to.witsItems, from.witsItems);
    move(to.witsRecords, from.witsRecords);
    move(to.events, from.events);
}

} // namespace

FleetRecorder::FleetRecorder(Options options, HistoryWriter &writer, FleetUnit::Context context, QObject *parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_writer(writer)
    , m_context(std::move(context))
    , m_handOver(new QTimer(this))
    , m_silence(new QTimer(this))
{
    setObjectName(QStringLiteral("FleetRecorder"));
    m_context.lookupPath = m_options.lookupPath;
    m_context.wits = m_options.wits;
    m_handOver->setInterval(m_options.handOverIntervalMs);
    connect(m_handOver, &QTimer::timeout, this, &FleetRecorder::handOver);
    m_silence->setInterval(SilenceCheckIntervalMs);
    connect(m_silence, &QTimer::timeout, this, &FleetRecorder::checkSilence);

    const QString history = QStringLiteral("history");
    connect(&m_writer, &HistoryWriter::paused, this, [this, history](const QString &reason) {
        log(history, QStringLiteral("recording paused: %1; what comes is kept and tried again").arg(reason));
    });
    connect(&m_writer, &HistoryWriter::resumed, this, [this, history](qint64 kept, qint64 lost) {
        log(history, QStringLiteral("recording resumed: %1 readings kept meanwhile written, %2 lost").arg(kept).arg(lost));
    });
    connect(&m_writer, &HistoryWriter::dropped, this, [this, history](qint64 readings, qint64 rows) {
        log(history, QStringLiteral("queue full: the oldest %1 readings (%2 rows) dropped").arg(readings).arg(rows));
    });
    connect(&m_writer, &HistoryWriter::notice, this, [this, history](const QString &text) { log(history, text); });
}

FleetRecorder::~FleetRecorder()
{
    stop();
}

Result<QList<QByteArray>> FleetRecorder::readUnits()
{
    QList<QByteArray> serials;
    if (!m_options.unitsPath.isEmpty()) {
        const Result<QList<unitsfile::Entry>> read = unitsfile::read(m_options.unitsPath);
        if (!read)
            return failure(QStringLiteral("units file %1: %2").arg(m_options.unitsPath, read.reason()));
        for (const unitsfile::Entry &entry : *read)
            serials.append(entry.serial);
        return serials;
    }
    // Without a units file, every unit the lookup table serves: a row the
    // viewer could never reach, or a second row for a unit, is passed over.
    const Result<QList<QByteArray>> rows = lookupTableSerials(m_options.lookupPath);
    if (!rows)
        return failure(QStringLiteral("lookup table %1: %2").arg(m_options.lookupPath, rows.reason()));
    QStringList skipped;
    const Result<QList<unitsfile::Entry>> entries = unitsfile::parse(*rows, &skipped);
    for (const QString &why : skipped)
        log(QStringLiteral("lookup table"), why + QStringLiteral(": not recorded"));
    for (const unitsfile::Entry &entry : *entries)
        serials.append(entry.serial);
    if (serials.isEmpty())
        return failure(QStringLiteral("lookup table %1: no unit").arg(m_options.lookupPath));
    return serials;
}

Result<void> FleetRecorder::start()
{
    const Result<QList<QByteArray>> serials = readUnits();
    if (!serials)
        return serials.failed();
    for (const QByteArray &serial : *serials)
        add(serial);
    m_handOver->start();
    m_silence->start();
    log(QStringLiteral("rtrecorder"), QStringLiteral("recording %1 units").arg(m_order.size()));
    return {};
}

void FleetRecorder::add(const QByteArray &serial)
{
    auto unit = std::make_unique<FleetUnit>(serial, m_context, this);
    const QString name = QString::fromLatin1(serial);
    connect(unit.get(), &FleetUnit::event, this,
            [this, name](const QString &, const QString &detail) { log(QStringLiteral("unit ") + name, detail); });
    FleetUnit *started = unit.get();
    m_units.emplace(serial, std::move(unit));
    m_order.append(serial);
    started->start();
}

void FleetRecorder::reload()
{
    if (m_stopped)
        return;
    const Result<QList<QByteArray>> serials = readUnits();
    if (!serials) {
        log(QStringLiteral("rtrecorder"), serials.reason() + QStringLiteral("; the units stay as they were"));
        return;
    }
    int removed = 0;
    for (const QByteArray &serial : QList<QByteArray>(m_order)) {
        if (serials->contains(serial))
            continue;
        const auto found = m_units.find(serial);
        found->second->finish(QStringLiteral("removed from the units"));
        append(m_leftover, found->second->takeRows());
        m_units.erase(found);
        m_order.removeOne(serial);
        ++removed;
    }
    int added = 0;
    for (const QByteArray &serial : *serials) {
        if (m_units.count(serial))
            continue;
        add(serial);
        ++added;
    }
    // The file's order, for whoever lists the units.
    m_order = *serials;
    log(QStringLiteral("rtrecorder"),
        QStringLiteral("units read again: %1 added, %2 removed, %3 recorded").arg(added).arg(removed).arg(m_order.size()));
}

void FleetRecorder::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    m_handOver->stop();
    m_silence->stop();
    // What the units handed over before the stop is recorded: the sockets
    // take in what the system holds for them, every link parses what it
    // has, and only then do the links close, which would throw it away.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    for (auto &[serial, unit] : m_units)
        unit->drain();
    for (auto &[serial, unit] : m_units)
        unit->finish(QStringLiteral("the recorder stops"));
    handOver();
}

QList<QByteArray> FleetRecorder::serials() const
{
    return m_order;
}

const FleetUnit *FleetRecorder::unit(const QByteArray &serial) const
{
    const auto found = m_units.find(serial);
    return found == m_units.end() ? nullptr : found->second.get();
}

void FleetRecorder::handOver()
{
    history::Batch batch = std::move(m_leftover);
    m_leftover.clear();
    for (auto &[serial, unit] : m_units) {
        if (unit->hasRows())
            append(batch, unit->takeRows());
    }
    if (!batch.empty())
        m_writer.submit(std::move(batch));
}

void FleetRecorder::checkSilence()
{
    for (auto &[serial, unit] : m_units)
        unit->checkSilence();
}

void FleetRecorder::log(const QString &unit, const QString &text)
{
    const QString time = QDateTime::fromMSecsSinceEpoch(m_context.wallClock(), Qt::UTC)
                             .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
    emit logLine(time + QLatin1Char(' ') + unit + QStringLiteral(": ") + text);
}
