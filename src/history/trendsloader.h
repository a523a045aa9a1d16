#pragma once

#include <memory>
#include <vector>

#include <QObject>
#include <QString>

#include "history/historystore.h"
#include "rules/convert/result.h"
#include "rules/trends/trendsample.h"

class QTimer;

namespace trends {

class HistoryReadings;

// What the trends window reads from the history file: the units recorded,
// one unit's readings over a range (a slice at each turn of the event loop,
// so the window stays responsive while a day comes in) and the events
// marked on the time axis, followed as the recorder writes them. It opens
// the file read-only, afresh for every reading, so that a file the recorder
// moved aside and started again is followed, and never disturbs recording.
class TrendsLoader : public QObject
{
    Q_OBJECT

public:
    static constexpr int SliceRows = 20000;

    explicit TrendsLoader(QString historyPath, QObject *parent = nullptr);
    ~TrendsLoader() override;

    // Opens the file again, dropping the reading under way and the events:
    // true when it is open, false when no history was recorded yet.
    Result<bool> open();
    bool isOpen() const { return m_store != nullptr; }
    // Every unit with readings in the file open, and its first reading.
    Result<std::vector<RecordedUnit>> recordedUnits();

    // Starts reading the unit's readings from fromMs to toMs (excluded) and
    // follows its events from fromMs on; samplesRead for each slice, then
    // finished. Nothing when the file is not open. By the unit's clock the
    // range and the samples' times are the unit's own (the events keep
    // their arrival times).
    void read(const QString &unit, qint64 fromMs, qint64 toMs, HistoryClock clock = HistoryClock::Arrival);
    // The unit's own clock as the history knows it: its first unit time
    // and the latest readings' pairs of times since sinceMs.
    Result<UnitClockReadings> unitClock(const QString &unit, qint64 sinceMs);
    void stop();
    bool reading() const { return m_readings != nullptr; }

    // Looks for the unit's events written since the last look, up to
    // untilMs: true when there are new ones. The recorder writes an event a
    // second or more after its time, so each look goes back over the last
    // while and keeps what it has not seen.
    Result<bool> fetchNewEvents(qint64 untilMs);
    // The events from the start of the reading on, in order of time.
    const std::vector<EventMark> &events() const { return m_events; }

signals:
    void samplesRead(const std::vector<trends::Sample> &samples, qint64 readSoFar);
    // Every reading read, or the reading failed.
    void finished(const Result<void> &outcome);

private:
    void readSlice();

    QString m_path;
    std::unique_ptr<HistoryStore> m_store;
    std::unique_ptr<HistoryReadings> m_readings;
    QTimer *m_next = nullptr;
    QString m_unit;
    std::vector<EventMark> m_events;
    qint64 m_eventsFromMs = 0;
    qint64 m_eventsUntilMs = 0;
};

} // namespace trends
