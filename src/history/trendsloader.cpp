#include "history/trendsloader.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <future>
#include <memory>
#include <optional>

#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include "history/readerthread.h"
#include "history/sqldialect.h"
#include "history/trendsource.h"
#include "rules/trends/trendview.h"

namespace trends {

namespace {

// How far back each look for new events goes.
constexpr qint64 EventsOverlapMs = 30 * 1000;

// Posted to the loader behind the window's paint of an overview: the
// readings of the generation it names may come now.
class OverviewShownEvent : public QEvent
{
public:
    static QEvent::Type kind()
    {
        static const auto registered = static_cast<QEvent::Type>(QEvent::registerEventType());
        return registered;
    }
    explicit OverviewShownEvent(quint64 generation)
        : QEvent(kind())
        , generation(generation)
    {
    }
    const quint64 generation;
};

} // namespace

// A second connection to a server, on a thread of its own, that groups the
// later half of an overview while the reader groups the earlier one: the
// server works on both at once, each in a process of its own, and the
// overview comes in about half the time (the grouping is nearly all of it).
// Connected as the reader is, and kept while the address stays the same; a
// connection that failed is made again for the next overview.
class OverviewHelper : public QObject
{
public:
    // The server at the address, connected unless it is already; none
    // for a file (its overview is not asked for).
    void use(const QString &address)
    {
        if (m_store && address == m_address)
            return;
        m_store.reset();
        m_address = address;
        if (!sqldialect::isServerAddress(address))
            return;
        auto store = std::make_unique<HistoryStore>();
        if (store->open(address, HistoryStore::Access::ReadOnly, readerLimits()))
            m_store = std::move(store);
    }

    Result<std::vector<Sample>> overview(const QString &unit, qint64 fromMs, qint64 toMs, double widthMs,
                                         HistoryClock clock)
    {
        use(m_address);
        if (!m_store)
            return failure(QStringLiteral("no second connection"));
        Result<std::vector<Sample>> samples = historyOverview(*m_store, unit, fromMs, toMs, widthMs, clock);
        if (!samples)
            m_store.reset();
        return samples;
    }

private:
    QString m_address;
    std::unique_ptr<HistoryStore> m_store;
};

// The loader's half on its thread: the store, its connection and the
// reading under way. It answers through a queued signal, so that a loader
// gone meanwhile takes nothing, and goes with its thread.
class TrendsReader : public QObject
{
    Q_OBJECT

public:
    using Answer = std::function<void(TrendsLoader &)>;

    TrendsReader()
        : m_next(new QTimer(this))
        , m_helper(new OverviewHelper)
    {
        m_helperThread = readerthread::start(m_helper, QStringLiteral("trends overview"));
        m_next->setSingleShot(true);
        m_next->setInterval(0);
        connect(m_next, &QTimer::timeout, this, &TrendsReader::readSlice);
    }

    ~TrendsReader() override
    {
        // The reading goes before the store it reads.
        m_readings.reset();
        // Nothing waits on the helper now: it goes with its thread.
        m_helperThread->quit();
    }

    // Connects to a server while the window is still being made, and
    // reads the units recorded (they depend on nothing the window has yet
    // to say): the open() that follows takes the connection and the units,
    // or the reason there is no connection, instead of asking again.
    void connectAhead(const QString &address)
    {
        useHelper(address);
        const Result<bool> opened = openAt(address);
        m_ahead = std::make_unique<Ahead>(Ahead{address, opened, std::move(m_store), std::nullopt});
        if (opened && *opened) {
            if (HistoryResult<std::vector<RecordedUnit>> recorded = m_ahead->store->recordedUnits())
                m_ahead->units = std::move(*recorded);
        }
    }

    void open(quint64 generation, const QString &address, const QString &localPath, QString unit, qint64 clockSinceMs)
    {
        stop();
        m_store.reset();
        m_generation = generation;
        QString note;
        useHelper(address);
        std::optional<std::vector<RecordedUnit>> unitsAhead;
        Result<bool> opened = takeAheadOrOpen(address, unitsAhead);
        if (!opened && sqldialect::isServerAddress(address) && !localPath.isEmpty()) {
            note = opened.reason();
            opened = openAt(localPath);
        }
        std::vector<RecordedUnit> units;
        UnitClockReadings clock;
        if (opened && *opened) {
            if (unitsAhead) {
                units = std::move(*unitsAhead);
            } else if (HistoryResult<std::vector<RecordedUnit>> recorded = m_store->recordedUnits()) {
                units = std::move(*recorded);
            }
            if (unit.isEmpty() && !units.empty())
                unit = units.front().unit;
            if (HistoryResult<UnitClockReadings> read =
                    m_store->unitClock(unit, clockSinceMs, static_cast<int>(UnitClock::Kept)))
                clock = std::move(*read);
        }
        answer([opened, units, clock, note](TrendsLoader &front) {
            front.m_open = opened && *opened;
            emit front.opened(opened, units, clock, note);
        });
    }

    void read(quint64 generation, const QString &unit, qint64 fromMs, qint64 toMs, HistoryClock clock,
              double overviewWidthMs)
    {
        stop();
        m_generation = generation;
        if (!m_store) {
            answer([](TrendsLoader &front) {
                front.m_reading = false;
                emit front.finished(failure(QStringLiteral("no history is open")));
            });
            return;
        }
        m_readings = std::make_unique<HistoryReadings>(*m_store, unit, fromMs, toMs, clock);
        // The events marked by arrival, answered before the first slice,
        // so that they are there when the reading is.
        if (clock == HistoryClock::Arrival)
            fetchEvents(generation, unit, fromMs, QDateTime::currentMSecsSinceEpoch() + 1);
        // A server's overview goes first; when it cannot be read, the
        // readings still come and say why if they cannot either. When it
        // can, the readings wait until the window has painted it: the
        // server sending every row and this thread taking them would
        // otherwise share the processors with that painting.
        if (overviewWidthMs > 0 && m_store->engine() == sqldialect::Engine::Postgres) {
            if (const Result<std::vector<Sample>> overview = overviewInHalves(unit, fromMs, toMs, overviewWidthMs, clock)) {
                const std::vector<Sample> samples = *overview;
                answer([samples, generation](TrendsLoader &front) {
                    emit front.overviewRead(samples);
                    QCoreApplication::postEvent(&front, new OverviewShownEvent(generation), Qt::LowEventPriority);
                });
                return;
            }
        }
        m_next->start();
    }

    // The overview of the reading of that generation was shown: its
    // readings may come.
    void overviewShown(quint64 generation)
    {
        if (generation == m_generation && m_readings && !m_next->isActive())
            m_next->start();
    }

    void stop()
    {
        m_next->stop();
        m_readings.reset();
    }

    void fetchEvents(quint64 generation, const QString &unit, qint64 from, qint64 untilMs)
    {
        if (!m_store)
            return;
        const Result<std::vector<EventMark>> events = historyEvents(*m_store, unit, from, untilMs);
        if (!events) {
            const QString reason = events.reason();
            emit answered(generation, [reason](TrendsLoader &front) { emit front.eventsFailed(reason); });
            return;
        }
        const std::vector<EventMark> read = *events;
        emit answered(generation, [from, untilMs, read](TrendsLoader &front) { front.eventsRead(from, untilMs, read); });
    }

signals:
    // run, on the loader's thread, unless a newer request came meanwhile.
    void answered(quint64 generation, const TrendsReader::Answer &run);

public:

private:
    void useHelper(const QString &address)
    {
        OverviewHelper *helper = m_helper;
        QMetaObject::invokeMethod(helper, [helper, address] { helper->use(address); }, Qt::QueuedConnection);
    }

    // The overview, its later half grouped by the helper at the same time
    // as the earlier one here, split on a column's edge; the helper's half
    // grouped here when it cannot give it. A column the split falls in
    // after all (the edge rounded) comes in two samples of each half, which
    // the charts take as one column.
    Result<std::vector<Sample>> overviewInHalves(const QString &unit, qint64 fromMs, qint64 toMs, double widthMs,
                                                 HistoryClock clock)
    {
        const double edge = std::floor((fromMs / 2.0 + toMs / 2.0) / widthMs) * widthMs;
        const auto split = static_cast<qint64>(std::ceil(edge));
        if (split <= fromMs || split >= toMs)
            return historyOverview(*m_store, unit, fromMs, toMs, widthMs, clock);
        auto later = std::make_shared<std::promise<Result<std::vector<Sample>>>>();
        std::future<Result<std::vector<Sample>>> laterRead = later->get_future();
        OverviewHelper *helper = m_helper;
        QMetaObject::invokeMethod(
            helper,
            [helper, later, unit, split, toMs, widthMs, clock] {
                later->set_value(helper->overview(unit, split, toMs, widthMs, clock));
            },
            Qt::QueuedConnection);
        Result<std::vector<Sample>> earlier = historyOverview(*m_store, unit, fromMs, split, widthMs, clock);
        Result<std::vector<Sample>> rest = laterRead.get();
        if (!earlier)
            return earlier;
        if (!rest)
            rest = historyOverview(*m_store, unit, split, toMs, widthMs, clock);
        if (!rest)
            return rest;
        std::vector<Sample> samples = std::move(*earlier);
        samples.insert(samples.end(), rest->begin(), rest->end());
        return samples;
    }

    // What connectAhead() found, for the open() of the same address.
    struct Ahead
    {
        QString address;
        Result<bool> opened;
        std::unique_ptr<HistoryStore> store;
        std::optional<std::vector<RecordedUnit>> units;  // none when they could not be read
    };

    Result<bool> takeAheadOrOpen(const QString &address, std::optional<std::vector<RecordedUnit>> &units)
    {
        std::unique_ptr<Ahead> ahead = std::move(m_ahead);
        if (!ahead || ahead->address != address)
            return openAt(address);
        m_store = std::move(ahead->store);
        units = std::move(ahead->units);
        return ahead->opened;
    }

    Result<bool> openAt(const QString &address)
    {
        if (!sqldialect::isServerAddress(address) && !QFileInfo::exists(sqldialect::parseAddress(address)
                                                                            ? sqldialect::parseAddress(address)->path
                                                                            : address))
            return false;
        auto store = std::make_unique<HistoryStore>();
        const HistoryResult<void> opened = store->open(address, HistoryStore::Access::ReadOnly, readerLimits());
        if (!opened)
            return failure(opened.reason().text);
        m_store = std::move(store);
        return true;
    }

    void readSlice()
    {
        if (!m_readings)
            return;
        const Result<std::vector<Sample>> samples = m_readings->readSome(TrendsLoader::SliceRows);
        if (!samples) {
            m_readings.reset();
            const Result<void> failed = samples.failed();
            answer([failed](TrendsLoader &front) {
                front.m_reading = false;
                emit front.finished(failed);
            });
            return;
        }
        const qint64 read = m_readings->read();
        const bool done = m_readings->done();
        if (done)
            m_readings.reset();
        const std::vector<Sample> slice = *samples;
        answer([slice, read, done](TrendsLoader &front) {
            if (done)
                front.m_reading = false;
            emit front.samplesRead(slice, read);
            if (done)
                emit front.finished({});
        });
        if (!done)
            m_next->start();
    }

    void answer(const Answer &run) { emit answered(m_generation, run); }

    QTimer *m_next;
    OverviewHelper *m_helper;  // lives on m_helperThread, and goes with it
    QThread *m_helperThread = nullptr;
    std::unique_ptr<Ahead> m_ahead;
    std::unique_ptr<HistoryStore> m_store;
    std::unique_ptr<HistoryReadings> m_readings;
    quint64 m_generation = 0;
};

TrendsLoader::TrendsLoader(QString address, QString localPath, QObject *parent)
    : QObject(parent)
    , m_address(std::move(address))
    , m_localPath(std::move(localPath))
    , m_reader(new TrendsReader)
{
    connect(m_reader, &TrendsReader::answered, this,
            [this](quint64 generation, const TrendsReader::Answer &run) {
                if (generation == m_generation)
                    run(*this);
            },
            Qt::QueuedConnection);
    // The thread and its reader go once the slice or the connect under way
    // ends: the loader never waits for them.
    m_thread = readerthread::start(m_reader, QStringLiteral("trends reader"));
    // A server is connected to at once, while the window that made the
    // loader is built and shown (some 20 ms), rather than after.
    if (sqldialect::isServerAddress(m_address)) {
        TrendsReader *reader = m_reader;
        const QString address = m_address;
        QMetaObject::invokeMethod(reader, [reader, address] { reader->connectAhead(address); }, Qt::QueuedConnection);
    }
}

TrendsLoader::~TrendsLoader()
{
    disconnect(m_reader, nullptr, this, nullptr);
    m_thread->quit();
}

void TrendsLoader::open(const QString &unit, qint64 clockSinceMs)
{
    const quint64 generation = ++m_generation;
    m_reading = false;
    m_events.clear();
    TrendsReader *reader = m_reader;
    QString address = m_address;
    QString local = m_localPath;
    QMetaObject::invokeMethod(
        reader, [reader, generation, address, local, unit, clockSinceMs] { reader->open(generation, address, local, unit, clockSinceMs); },
        Qt::QueuedConnection);
}

void TrendsLoader::read(const QString &unit, qint64 fromMs, qint64 toMs, HistoryClock clock, double overviewWidthMs)
{
    const quint64 generation = ++m_generation;
    m_unit = unit;
    m_events.clear();
    m_eventsFromMs = fromMs;
    m_eventsUntilMs = fromMs;
    m_reading = true;
    TrendsReader *reader = m_reader;
    QMetaObject::invokeMethod(
        reader,
        [reader, generation, unit, fromMs, toMs, clock, overviewWidthMs] {
            reader->read(generation, unit, fromMs, toMs, clock, overviewWidthMs);
        },
        Qt::QueuedConnection);
}

void TrendsLoader::stop()
{
    ++m_generation;
    m_reading = false;
    TrendsReader *reader = m_reader;
    QMetaObject::invokeMethod(reader, [reader] { reader->stop(); }, Qt::QueuedConnection);
}

void TrendsLoader::customEvent(QEvent *event)
{
    if (event->type() != OverviewShownEvent::kind())
        return;
    const quint64 generation = static_cast<OverviewShownEvent *>(event)->generation;
    if (generation != m_generation)
        return;
    TrendsReader *reader = m_reader;
    QMetaObject::invokeMethod(reader, [reader, generation] { reader->overviewShown(generation); }, Qt::QueuedConnection);
}

void TrendsLoader::fetchNewEvents(qint64 untilMs)
{
    if (!m_open)
        return;
    const qint64 from = std::max(m_eventsFromMs, m_eventsUntilMs - EventsOverlapMs);
    TrendsReader *reader = m_reader;
    const quint64 generation = m_generation;
    const QString unit = m_unit;
    QMetaObject::invokeMethod(
        reader, [reader, generation, unit, from, untilMs] { reader->fetchEvents(generation, unit, from, untilMs); },
        Qt::QueuedConnection);
}

void TrendsLoader::eventsRead(qint64 from, qint64 untilMs, const std::vector<EventMark> &events)
{    const auto seenFrom = std::lower_bound(m_events.begin(), m_events.end(), from,
                                           [](const EventMark &mark, qint64 ms) { return mark.timeMs < ms; });
    const std::vector<EventMark> seen(seenFrom, m_events.end());
    bool added = false;
    for (const EventMark &event : events) {
        if (std::find(seen.begin(), seen.end(), event) != seen.end())
            continue;
        m_events.insert(std::upper_bound(m_events.begin(), m_events.end(), event.timeMs,
                                         [](qint64 ms, const EventMark &mark) { return ms < mark.timeMs; }),
                        event);
        added = true;
    }
    m_eventsUntilMs = std::max(m_eventsUntilMs, untilMs);
    if (added)
        emit eventsChanged();
}

} // namespace trends

#include "trendsloader.moc"
