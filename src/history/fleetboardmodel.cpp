#include "history/fleetboardmodel.h"

#include <algorithm>
#include <limits>

#include <QDateTime>
#include <QTimer>

#include "history/historynews.h"

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

} // namespace

FleetBoardModel::FleetBoardModel(std::function<qint64()> clock, QObject *parent)
    : QObject(parent)
    , m_clock(clock ? std::move(clock) : [] { return QDateTime::currentMSecsSinceEpoch(); })
{
    m_news = new HistoryNews(this);
    connect(m_news, &HistoryNews::unitsChanged, this, &FleetBoardModel::refresh);
    m_retry = new QTimer(this);
    m_retry->setSingleShot(true);
    m_retry->setInterval(RetryMs);
    connect(m_retry, &QTimer::timeout, this, &FleetBoardModel::open);
}

FleetBoardModel::~FleetBoardModel() = default;

const board::Tile *FleetBoardModel::tile(const QString &unit) const
{
    const auto found = m_index.constFind(unit);
    return found == m_index.cend() ? nullptr : &m_tiles[*found];
}

void FleetBoardModel::start(const QString &address)
{
    stop();
    m_address = address;
    if (!m_address.isEmpty())
        open();
}

void FleetBoardModel::stop()
{
    m_retry->stop();
    m_news->stop();
    m_store.close();
    const bool had = !m_tiles.empty();
    m_tiles.clear();
    m_index.clear();
    if (had)
        emit tilesChanged({});
}

void FleetBoardModel::open()
{
    const auto retry = [this](const HistoryError &error) {
        m_news->stop();
        m_store.close();
        setProblem(error.text);
        m_retry->start();
    };
    if (const HistoryResult<void> opened = m_store.open(m_address, HistoryStore::Access::ReadOnly); !opened)
        return retry(opened.reason());
    // The news first: what is written while the tiles are read comes as
    // news and is read again from where each tile stands.
    if (const HistoryResult<void> news = m_news->start(m_address); !news)
        return retry(news.reason());
    // Every unit with rows, and when its latest reading came: one look-up
    // per unit, however long its history.
    const HistoryResult<QHash<QString, QPair<qint64, qint64>>> latest = m_store.latestByUnit();
    if (!latest)
        return retry(latest.reason());
    m_latest = *latest;
    QStringList names = m_latest.keys();
    names.sort();
    setProblem({});
    refresh(names);
    m_latest.clear();
}

void FleetBoardModel::refresh(const QStringList &units)
{
    if (!m_store.isOpen())
        return;
    QStringList changed;
    bool added = false;
    for (const QString &unit : units) {
        auto found = m_index.constFind(unit);
        board::Tile fresh;
        fresh.unit = unit;
        board::Tile &tile = found == m_index.cend() ? fresh : m_tiles[*found];
        if (!readUnit(tile))
            continue;
        if (found == m_index.cend()) {
            m_tiles.push_back(std::move(fresh));
            added = true;
        }
        changed << unit;
    }
    if (added) {
        std::sort(m_tiles.begin(), m_tiles.end(),
                  [](const board::Tile &a, const board::Tile &b) { return a.unit < b.unit; });
        m_index.clear();
        for (std::size_t i = 0; i < m_tiles.size(); ++i)
            m_index.insert(m_tiles[i].unit, i);
    }
    if (!changed.isEmpty())
        emit tilesChanged(changed);
}

bool FleetBoardModel::readUnit(board::Tile &tile)
{
    const qint64 now = m_clock();
    // A new tile reads the last hour, and at least its latest reading
    // however old; a known one what came after what it shows.
    qint64 from = tile.lastReadingMs + 1;
    if (tile.lastReadingMs < 0) {
        from = now - board::SparkSpanMs;
        const qint64 newest = m_latest.value(tile.unit, {-1, -1}).first;
        if (newest >= 0 && newest < from)
            from = newest;
    }
    HistoryResult<HistoryCursor<history::ReadingRow>> cursor =
        m_store.readings({tile.unit, from, Open}, false, tileColumns());
    if (!cursor) {
        setProblem(cursor.reason().text);
        return false;
    }
    while (!cursor->done()) {
        const HistoryResult<int> read = cursor->fetch(2000, [&tile](const history::ReadingRow &row) {
            tile.addReading(row.timeMs, valueOf(row, "gas_units"), valueOf(row, "error_number").value_or(0.0));
            tile.holeDepth = valueOf(row, "hole_depth");
            tile.lagDepth = valueOf(row, "lag_depth");
            tile.bitDepth = valueOf(row, "bit_depth");
            tile.ropMinFt = valueOf(row, "rop_min_ft");
        });
        if (!read) {
            setProblem(read.reason().text);
            return false;
        }
    }
    // The link events since the latest reading: one after it says whether
    // the recorder lost the link since.
    const qint64 eventsFrom = tile.lastLinkEventMs >= 0 ? tile.lastLinkEventMs + 1
                              : tile.lastReadingMs >= 0 ? tile.lastReadingMs
                                                        : now - board::SparkSpanMs;
    const HistoryResult<std::vector<history::EventRow>> events =
        m_store.events({tile.unit, eventsFrom, Open}, board::linkEventKinds());
    if (!events) {
        setProblem(events.reason().text);
        return false;
    }
    for (const history::EventRow &event : *events)
        tile.addLinkEvent(event.timeMs, event.kind);
    tile.trimSpark(now);
    return true;
}

void FleetBoardModel::setProblem(const QString &problem)
{
    if (problem == m_problem)
        return;
    m_problem = problem;
    emit problemChanged(problem);
}
