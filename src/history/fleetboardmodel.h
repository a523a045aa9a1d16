#pragma once

#include <functional>
#include <vector>

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include "history/historystore.h"
#include "rules/board/fleettile.h"

class HistoryNews;
class QTimer;

// The fleet board's tiles, read from a history (a file or a server) without
// widgets: every unit's latest reading, its link events as the recorder
// writes them, and the last hour's gas. It reads everything once when it
// starts, then only the units the history's news names, and of those only
// what came since: never a query per unit per second. A history that cannot
// be opened yet (no file so far, a server away) is tried again every few
// seconds, and problem() says why meanwhile.
class FleetBoardModel : public QObject
{
    Q_OBJECT

public:
    static constexpr int RetryMs = 5000;

    // clock: UTC milliseconds of the wall clock (the recorders' time).
    explicit FleetBoardModel(std::function<qint64()> clock = {}, QObject *parent = nullptr);
    ~FleetBoardModel() override;

    // Follows the history at the address; an empty address follows nothing.
    void start(const QString &address);
    void stop();
    const QString &address() const { return m_address; }

    // In order of the unit.
    const std::vector<board::Tile> &tiles() const { return m_tiles; }
    const board::Tile *tile(const QString &unit) const;
    // Why the history is not followed; empty while it is.
    const QString &problem() const { return m_problem; }
    qint64 now() const { return m_clock(); }

    // Reads the units named again, from what they last showed on; units
    // not seen before get a tile.
    void refresh(const QStringList &units);

signals:
    // Tiles added or changed (their units), after start and after news.
    void tilesChanged(const QStringList &units);
    // The history could not be read, or could again (empty).
    void problemChanged(const QString &problem);

private:
    void open();
    bool readUnit(board::Tile &tile);
    void setProblem(const QString &problem);

    std::function<qint64()> m_clock;
    QString m_address;
    HistoryStore m_store;
    HistoryNews *m_news = nullptr;
    QTimer *m_retry = nullptr;
    std::vector<board::Tile> m_tiles;
    QHash<QString, std::size_t> m_index;
    // Each unit's latest reading and event while the tiles are first read.
    QHash<QString, QPair<qint64, qint64>> m_latest;
    QString m_problem;
};
