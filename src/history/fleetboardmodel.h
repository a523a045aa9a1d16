#pragma once

#include <functional>
#include <vector>

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include "history/historynews.h"
#include "rules/board/fleettile.h"

class FleetReader;
class QThread;

// The fleet board's tiles, read from a history (a file or a server) without
// widgets: every unit's latest reading and gas levels, its link events as
// the recorder writes them, and the last hour's gas as half-minute peaks.
// The reading runs on a thread of its own, with a read-only connection of
// that thread, so that a long first read or a server that answers slowly or
// not at all never holds the window; the tiles read come back by queued
// signals, and an answer to a request overtaken by a newer one (another
// history, a stop) is dropped. It reads each unit's latest reading when it
// starts, so that every tile shows its unit at once, then the hour's peaks
// a few units at a time, and then only the units the history's news names,
// and of those only what came since, through one statement kept prepared:
// never a query per unit per second. A file's connection is kept while its
// name stands for the file opened, so that one the recorder moved aside and
// started again is followed; a history that cannot be read
// (no file so far, a server away) is tried again every few seconds, and
// problem() says why meanwhile.
class FleetBoardModel : public QObject
{
    Q_OBJECT

public:
    static constexpr int RetryMs = 5000;
    // The reader's pages of a file kept between reads (KiB), as the news
    // keeps: it reads each unit's rows since the last, which lie on pages
    // the writer has just changed.
    static constexpr int CacheKiB = HistoryNews::CacheKiB;

    // clock: UTC milliseconds of the wall clock (the recorders' time); it is
    // called on the reading thread too.
    explicit FleetBoardModel(std::function<qint64()> clock = {}, QObject *parent = nullptr);
    // Waits for nothing: a read or a connect under way ends on its thread,
    // and its answer reaches nobody.
    ~FleetBoardModel() override;

    // Follows the history at the address; an empty address follows nothing.
    void start(const QString &address);
    void stop();
    const QString &address() const { return m_address; }
    // Started, and the history not yet read (nor found unreadable).
    bool isReading() const { return m_reading; }

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
    // Tiles added or changed (their units), after start and after news;
    // after the first read of a history also when it has no unit.
    void tilesChanged(const QStringList &units);
    // The history could not be read, or could again (empty).
    void problemChanged(const QString &problem);

private:
    friend class FleetReader;
    // Tiles read: each replaces the unit's own, or is a new one.
    void take(const std::vector<board::Tile> &read);
    void setProblem(const QString &problem);
    template <typename Call>
    void ask(Call call);

    std::function<qint64()> m_clock;
    QString m_address;
    QThread *m_thread = nullptr;      // goes by itself once it has ended
    FleetReader *m_reader = nullptr;  // lives on m_thread, and goes with it
    quint64 m_generation = 0;         // of the history followed last
    bool m_reading = false;
    std::vector<board::Tile> m_tiles;
    QHash<QString, std::size_t> m_index;
    QString m_problem;
};
