#include "history/trendsloader.h"

#include <algorithm>

#include <QFileInfo>
#include <QTimer>

#include "history/trendsource.h"
#include "rules/trends/trendview.h"

namespace trends {

namespace {

// How far back each look for new events goes.
constexpr qint64 EventsOverlapMs = 30 * 1000;

} // namespace

TrendsLoader::TrendsLoader(QString historyPath, QObject *parent)
    : QObject(parent)
    , m_path(std::move(historyPath))
    , m_next(new QTimer(this))
{
    m_next->setSingleShot(true);
    m_next->setInterval(0);
    connect(m_next, &QTimer::timeout, this, &TrendsLoader::readSlice);
}

TrendsLoader::~TrendsLoader()
{
    // The reading goes before the store it reads.
    m_readings.reset();
}

Result<bool> TrendsLoader::open()
{
    stop();
    m_events.clear();
    m_store.reset();
    if (!QFileInfo::exists(m_path))
        return false;
    auto store = std::make_unique<HistoryStore>();
    const HistoryResult<void> opened = store->open(m_path, HistoryStore::Access::ReadOnly);
    if (!opened)
        return failure(opened.reason().text);
    m_store = std::move(store);
    return true;
}

Result<std::vector<RecordedUnit>> TrendsLoader::recordedUnits()
{
    if (!m_store)
        return std::vector<RecordedUnit>();
    HistoryResult<std::vector<RecordedUnit>> units = m_store->recordedUnits();
    if (!units)
        return failure(units.reason().text);
    return std::move(*units);
}

void TrendsLoader::read(const QString &unit, qint64 fromMs, qint64 toMs, HistoryClock clock)
{
    stop();
    m_unit = unit;
    m_events.clear();
    m_eventsFromMs = fromMs;
    m_eventsUntilMs = fromMs;
    if (!m_store)
        return;
    m_readings = std::make_unique<HistoryReadings>(*m_store, unit, fromMs, toMs, clock);
    m_next->start();
}

Result<UnitClockReadings> TrendsLoader::unitClock(const QString &unit, qint64 sinceMs)
{
    if (!m_store)
        return UnitClockReadings();
    HistoryResult<UnitClockReadings> clock = m_store->unitClock(unit, sinceMs, static_cast<int>(UnitClock::Kept));
    if (!clock)
        return failure(clock.reason().text);
    return std::move(*clock);
}

void TrendsLoader::stop()
{
    m_next->stop();
    m_readings.reset();
}

void TrendsLoader::readSlice()
{
    if (!m_readings)
        return;
    const Result<std::vector<Sample>> samples = m_readings->readSome(SliceRows);
    if (!samples) {
        m_readings.reset();
        emit finished(samples.failed());
        return;
    }
    const qint64 read = m_readings->read();
    const bool done = m_readings->done();
    if (done)
        m_readings.reset();
    emit samplesRead(*samples, read);
    if (done)
        emit finished({});
    else
        m_next->start();
}

Result<bool> TrendsLoader::fetchNewEvents(qint64 untilMs)
{
    if (!m_store)
        return false;
    const qint64 from = std::max(m_eventsFromMs, m_eventsUntilMs - EventsOverlapMs);
    const Result<std::vector<EventMark>> events = historyEvents(*m_store, m_unit, from, untilMs);
    if (!events)
        return events.failed();
    const auto seenFrom = std::lower_bound(m_events.begin(), m_events.end(), from,
                                           [](const EventMark &mark, qint64 ms) { return mark.timeMs < ms; });
    const std::vector<EventMark> seen(seenFrom, m_events.end());
    bool added = false;
    for (const EventMark &event : *events) {
        if (std::find(seen.begin(), seen.end(), event) != seen.end())
            continue;
        m_events.insert(std::upper_bound(m_events.begin(), m_events.end(), event.timeMs,
                                         [](qint64 ms, const EventMark &mark) { return ms < mark.timeMs; }),
                        event);
        added = true;
    }
    m_eventsUntilMs = untilMs;
    return added;
}

} // namespace trends
