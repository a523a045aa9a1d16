#include "history/fleetboardmodel.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>

#include <QDateTime>
#include <QThread>
#include <QTimer>

#include "history/gaslevelstore.h"
#include "history/historynews.h"
#include "history/historystore.h"
#include "history/readerthread.h"
#include "history/sqldialect.h"
#include "rules/files/safefile.h"

namespace {

// Rows stamped a little ahead of this computer's clock are still read.
constexpr qint64 Open = std::numeric_limits<qint64>::max() / 2;

const QStringList &tileColumns()
{
    static const QStringList columns = {QStringLiteral("gas_units"),  QStringLiteral("hole_depth"),
                                        QStringLiteral("lag_depth"),  QStringLiteral("bit_depth"),
                                        QStringLiteral("rop_min_ft"), QStringLiteral("error_number")};
    return columns;
}

std::optional<double> valueOf(const history::ReadingRow &row, const char *column)
{
    const history::NumericColumn *named = history::numericColumn(QLatin1String(column));
    return row.values[static_cast<std::size_t>(named - history::numericColumns().data())];
}

using Latest = QHash<QString, QPair<qint64, qint64>>;

} // namespace

// The model's half on its thread: the store, its connection, the news and
// every unit's tile as read so far. Each read answers with copies of the
// tiles it changed through a queued signal, so that a model gone meanwhile
// takes nothing, and it goes with its thread.
class FleetReader : public QObject
{
    Q_OBJECT

public:
    using Answer = std::function<void(FleetBoardModel &)>;

    explicit FleetReader(std::function<qint64()> clock)
        : m_clock(std::move(clock))
        , m_news(new HistoryNews(this))
        , m_retry(new QTimer(this))
        , m_nextPeaks(new QTimer(this))
    {
        m_nextPeaks->setSingleShot(true);
        m_nextPeaks->setInterval(0);
        connect(m_nextPeaks, &QTimer::timeout, this, &FleetReader::readPeaks);
        connect(m_news, &HistoryNews::unitsChanged, this, &FleetReader::refresh);
        m_retry->setSingleShot(true);
        m_retry->setInterval(FleetBoardModel::RetryMs);
        connect(m_retry, &QTimer::timeout, this, &FleetReader::open);
    }

    void start(quint64 generation, const QString &address)
    {
        stop();
        m_generation = generation;
        m_address = address;
        if (!m_address.isEmpty())
            open();
    }

    void stop()
    {
        m_retry->stop();
        m_nextPeaks->stop();
        m_news->stop();
        m_store.reset();
        m_tiles.clear();
        m_peaksDue.clear();
        m_address.clear();
    }

    // Reads the units named from where their tiles stand.
    void refresh(QStringList units)
    {
        units.removeAll(QString());
        if (units.isEmpty() || m_address.isEmpty() || m_retry->isActive() || !reopen())
            return;
        // A unit new to the board starts from its latest reading.
        Latest latest;
        if (std::any_of(units.begin(), units.end(), [this](const QString &unit) { return !m_tiles.count(unit); })) {
            const HistoryResult<Latest> read = m_store->latestByUnit();
            if (!read)
                return fail(read.reason());
            latest = *read;
        }
        readUnits(units, latest, false);
    }

signals:
    // run, on the model's thread, unless a newer request came meanwhile.
    void answered(quint64 generation, const FleetReader::Answer &run);

private:
    // Opens the history and reads every unit, then follows its news.
    void open()
    {
        // The news first: what is written while the tiles are read comes
        // as news and is read again from where each tile stands.
        if (const HistoryResult<void> news = m_news->start(m_address); !news)
            return fail(news.reason());
        if (!reopen())
            return;
        const HistoryResult<Latest> latest = m_store->latestByUnit();
        if (!latest)
            return fail(latest.reason());
        QStringList names = latest->keys();
        // The viewer records its report lines before any unit is chosen
        // under no unit: no tile, and no alarm of a unit that is none.
        names.removeAll(QString());
        names.sort();
        readUnits(names, *latest, true);
    }

    // A server's connection while it serves; a file's while the name
    // stands for the file opened (one moved aside and started again is
    // opened afresh).
    bool reopen()
    {
        const Result<sqldialect::Address, QString> address = sqldialect::parseAddress(m_address);
        const QString path = address ? address->path : m_address;
        if (m_store && m_store->isOpen()
            && (m_store->engine() == sqldialect::Engine::Postgres || (m_file && files::identity(path) == m_file)))
            return true;
        m_store = std::make_unique<HistoryStore>();
        m_file = files::identity(path);
        HistoryLimits limits = readerLimits();
        limits.cacheKiB = FleetBoardModel::CacheKiB;
        if (const HistoryResult<void> opened = m_store->open(m_address, HistoryStore::Access::ReadOnly, limits); !opened) {
            fail(opened.reason());
            return false;
        }
        return true;
    }

    void readUnits(const QStringList &units, const Latest &latest, bool first)
    {
        const HistoryResult<QHash<QString, readings::GasLevels>> levels = history::unitGasLevels(*m_store);
        if (!levels)
            return fail(levels.reason());
        const qint64 now = m_clock();
        std::vector<board::Tile> read;
        read.reserve(static_cast<std::size_t>(units.size()));
        for (const QString &unit : units) {
            board::Tile tile;
            if (const auto known = m_tiles.find(unit); known != m_tiles.end())
                tile = known->second;
            else
                tile.unit = unit;
            // The latest event known (read with the units, or by the news
            // that named them) spares the events query of a unit that had
            // none since its tile's: most units, most seconds.
            const auto known = latest.constFind(unit);
            const std::optional<qint64> latestEventMs =
                known != latest.cend() ? std::optional<qint64>(known->second) : m_news->latestEventMs(unit);
            const HistoryResult<void> outcome =
                readUnit(tile, known != latest.cend() ? known->first : -1, latestEventMs, levels->value(unit), now);
            if (!outcome)
                return fail(outcome.reason());
            m_tiles[unit] = tile;
            read.push_back(std::move(tile));
        }
        if (!m_peaksDue.isEmpty())
            m_nextPeaks->start();
        answer([read, first](FleetBoardModel &front) {
            front.m_reading = false;
            front.setProblem({});
            if (!read.empty() || first)
                front.take(read);
        });
    }

    HistoryResult<void> readUnit(board::Tile &tile, qint64 latestMs, std::optional<qint64> latestEventMs,
                                 const readings::GasLevels &levels, qint64 now)
    {
        tile.setLevels(levels);
        // A new tile reads its latest reading, however old (its line of
        // the hour comes after every tile has its latest); a known one what
        // came after what it shows.
        HistoryRange range{tile.unit, tile.lastReadingMs + 1, Open};
        if (tile.lastReadingMs < 0) {
            range = {tile.unit, latestMs, latestMs + 1};
            if (!m_peaksDue.contains(tile.unit))
                m_peaksDue << tile.unit;
        }
        if (range.fromMs >= 0) {
            const auto add = [&tile](const history::ReadingRow &row) {
                tile.addReading(row.timeMs, valueOf(row, "gas_units"), valueOf(row, "error_number").value_or(0.0));
                tile.holeDepth = valueOf(row, "hole_depth");
                tile.lagDepth = valueOf(row, "lag_depth");
                tile.bitDepth = valueOf(row, "bit_depth");
                tile.ropMinFt = valueOf(row, "rop_min_ft");
            };
            if (tile.lastReadingMs >= 0) {
                if (const HistoryResult<void> read = m_store->eachReading(range, tileColumns(), add); !read)
                    return read;
            } else {
                // The latest reading alone, whose level may be held from
                // before it: asked for once the reading's statement is
                // done, as a server's connection serves one at a time.
                std::vector<history::ReadingRow> rows;
                const HistoryResult<void> read = m_store->eachReading(
                    range, tileColumns(), [&rows](const history::ReadingRow &row) { rows.push_back(row); });
                if (!read)
                    return read;
                if (!rows.empty()) {
                    if (const HistoryResult<void> held = holdLevel(tile, rows.front(), now); !held)
                        return held;
                }
                std::for_each(rows.begin(), rows.end(), add);
            }
        }
        // The link events since the latest reading: one after it says
        // whether the recorder lost the link since.
        const qint64 eventsFrom = tile.lastLinkEventMs >= 0 ? tile.lastLinkEventMs + 1
                                  : tile.lastReadingMs >= 0 ? tile.lastReadingMs
                                                            : now - board::SparkSpanMs;
        if (!latestEventMs || *latestEventMs >= eventsFrom) {
            const HistoryResult<std::vector<history::EventRow>> events =
                m_store->events({tile.unit, eventsFrom, Open}, board::linkEventKinds());
            if (!events)
                return events.failed();
            for (const history::EventRow &event : *events)
                tile.addLinkEvent(event.timeMs, event.kind);
        }
        tile.trimSpark(now);
        return {};
    }

    // A latest gas between the unit's levels keeps the level an earlier
    // reading set, as the panel holds it: the latest reading of the hour
    // before it that shows a number outside them, or none, sets the level
    // it holds.
    HistoryResult<void> holdLevel(board::Tile &tile, const history::ReadingRow &latest, qint64 now)
    {
        const std::optional<double> gas = valueOf(latest, "gas_units");
        // A whole number is shown: half a unit either way shows the same.
        if (!gas || *gas < tile.levels.clearBelow - 0.5 || *gas > tile.levels.highAbove + 0.5)
            return {};
        const HistoryResult<std::optional<Sample>> before =
            m_store->latestOutside({tile.unit, std::min(now, latest.timeMs) - board::SparkSpanMs, latest.timeMs},
                                   QStringLiteral("gas_units"), tile.levels.clearBelow - 0.5, tile.levels.highAbove + 0.5);
        if (!before)
            return before.failed();
        if (*before)
            tile.gasLevel.update(std::isfinite((*before)->value) ? QByteArray::number((*before)->value, 'f', 6)
                                                                  : QByteArray("N/A"));
        return {};
    }

    // The last hour's gas of a few new tiles, as the engine reduces it to
    // half-minute peaks, a few tiles a turn so that news is read between.
    void readPeaks()
    {
        if (m_peaksDue.isEmpty() || !reopen())
            return;
        const qint64 now = m_clock();
        std::vector<board::Tile> read;
        while (!m_peaksDue.isEmpty() && read.size() < PeaksPerTurn) {
            const auto known = m_tiles.find(m_peaksDue.front());
            if (known == m_tiles.end()) {
                m_peaksDue.removeFirst();
                continue;
            }
            board::Tile &tile = known->second;
            const HistoryResult<std::vector<Sample>> peaks =
                m_store->peaks(tile.unit, QStringLiteral("gas_units"), now - board::SparkSpanMs, Open, board::SparkBucketMs);
            if (!peaks)
                return fail(peaks.reason());
            m_peaksDue.removeFirst();
            // Points of readings after the peaks' (news meanwhile) stay.
            std::vector<board::SparkPoint> spark;
            for (const Sample &peak : *peaks)
                spark.push_back({peak.timeMs, peak.value});
            for (const board::SparkPoint &point : tile.spark) {
                if (spark.empty() || point.timeMs > spark.back().timeMs)
                    spark.push_back(point);
                else if (point.timeMs == spark.back().timeMs)
                    spark.back().gas = std::max(spark.back().gas, point.gas);
            }
            tile.spark = std::move(spark);
            tile.trimSpark(now);
            read.push_back(tile);
        }
        if (!m_peaksDue.isEmpty())
            m_nextPeaks->start();
        answer([read](FleetBoardModel &front) { front.take(read); });
    }

    // The history is followed no more until it is opened again in a while;
    // the tiles keep what they showed.
    void fail(const HistoryError &error)
    {
        m_news->stop();
        m_nextPeaks->stop();
        m_store.reset();
        const QString reason = error.text;
        answer([reason](FleetBoardModel &front) {
            front.m_reading = false;
            front.setProblem(reason);
        });
        m_retry->start();
    }

    void answer(const Answer &run) { emit answered(m_generation, run); }

    static constexpr std::size_t PeaksPerTurn = 20;

    std::function<qint64()> m_clock;
    HistoryNews *m_news;
    QTimer *m_retry;
    QTimer *m_nextPeaks;
    QStringList m_peaksDue;  // new tiles whose hour is still to be read
    QString m_address;
    quint64 m_generation = 0;
    std::unique_ptr<HistoryStore> m_store;
    std::optional<files::Identity> m_file;  // the file m_store opened
    std::map<QString, board::Tile> m_tiles;
};

FleetBoardModel::FleetBoardModel(std::function<qint64()> clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); })
    , m_reader(new FleetReader(m_clock))
{
    connect(m_reader, &FleetReader::answered, this,
            [this](quint64 generation, const FleetReader::Answer &run) {
                if (generation == m_generation)
                    run(*this);
            },
            Qt::QueuedConnection);
    // The thread and its reader go once the read or the connect under way
    // ends: the model never waits for them, the program's end does for a
    // moment.
    m_thread = readerthread::start(m_reader, QStringLiteral("fleet board reader"));
}

FleetBoardModel::~FleetBoardModel()
{
    disconnect(m_reader, nullptr, this, nullptr);
    // Nothing more is read: the news and the retry stop with the reader.
    ask([](FleetReader &reader) { reader.stop(); });
    m_thread->quit();
}

template <typename Call>
void FleetBoardModel::ask(Call call)
{
    FleetReader *reader = m_reader;
    QMetaObject::invokeMethod(reader, [reader, call] { call(*reader); }, Qt::QueuedConnection);
}

const board::Tile *FleetBoardModel::tile(const QString &unit) const
{
    const auto found = m_index.constFind(unit);
    return found == m_index.cend() ? nullptr : &m_tiles[*found];
}

void FleetBoardModel::start(const QString &address)
{
    stop();
    m_address = address;
    if (m_address.isEmpty())
        return;
    m_reading = true;
    const quint64 generation = m_generation;
    ask([generation, address](FleetReader &reader) { reader.start(generation, address); });
}

void FleetBoardModel::stop()
{
    ++m_generation;
    ask([](FleetReader &reader) { reader.stop(); });
    m_address.clear();
    m_reading = false;
    setProblem({});
    const bool had = !m_tiles.empty();
    m_tiles.clear();
    m_index.clear();
    if (had)
        emit tilesChanged({});
}

void FleetBoardModel::refresh(const QStringList &units)
{
    if (m_address.isEmpty())
        return;
    ask([units](FleetReader &reader) { reader.refresh(units); });
}

void FleetBoardModel::take(const std::vector<board::Tile> &read)
{
    QStringList changed;
    bool added = false;
    for (const board::Tile &tile : read) {
        if (const auto found = m_index.constFind(tile.unit); found != m_index.cend()) {
            m_tiles[*found] = tile;
        } else {
            m_tiles.push_back(tile);
            added = true;
        }
        changed << tile.unit;
    }
    if (added) {
        std::sort(m_tiles.begin(), m_tiles.end(),
                  [](const board::Tile &a, const board::Tile &b) { return a.unit < b.unit; });
        m_index.clear();
        for (std::size_t i = 0; i < m_tiles.size(); ++i)
            m_index.insert(m_tiles[i].unit, i);
    }
    emit tilesChanged(changed);
}

void FleetBoardModel::setProblem(const QString &problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    emit problemChanged(problem);
}

#include "fleetboardmodel.moc"
