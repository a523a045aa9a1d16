#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QString>

#include "rules/trends/trendsample.h"

class HistoryStore;
class QSqlQuery;

// What the trends read from the history file. (A reading the link accepts
// becomes a sample through trends::sampleOf, in the rules.)
namespace trends {

// What is marked on the time axis: the unit's alarms and the viewer's
// alerts starting, and the link's events.
struct EventMark
{
    enum class Kind { Alarm, Link };

    qint64 timeMs = 0;
    Kind kind = Kind::Link;
    QString text;
};

// The marks of a unit in a time range, in order of time; none on failure,
// with the reason in error.
std::optional<std::vector<EventMark>> historyEvents(HistoryStore &store, const QString &unit, qint64 fromMs,
                                                    qint64 toMs, QString *error);

// A unit with readings in the history, and the time of its first one.
struct RecordedUnit
{
    QString unit;
    qint64 firstMs = 0;
};

// Every unit with readings, in order of the unit; none on failure. Each
// costs a look-up in the index, however long its history.
std::optional<std::vector<RecordedUnit>> recordedUnits(HistoryStore &store);

// A unit's readings over a time range (from included, to excluded) read
// from the history a slice at a time, in order of time, so a window stays
// responsive while a long range comes in. The store must stay open while
// it reads.
class HistoryReadings
{
public:
    HistoryReadings(HistoryStore &store, const QString &unit, qint64 fromMs, qint64 toMs);
    ~HistoryReadings();
    HistoryReadings(const HistoryReadings &) = delete;
    HistoryReadings &operator=(const HistoryReadings &) = delete;

    // Hands up to maxRows more readings to take. False on failure, with the
    // reason in error(); done() once every reading was handed on.
    bool readSome(int maxRows, const std::function<void(const Sample &)> &take);
    bool done() const { return m_done; }
    qint64 read() const { return m_read; }
    const QString &error() const { return m_error; }

private:
    std::unique_ptr<QSqlQuery> m_query;
    bool m_done = false;
    qint64 m_read = 0;
    QString m_error;
};

} // namespace trends
