#pragma once

#include <vector>

#include <QObject>
#include <QString>

#include "history/historystore.h"
#include "rules/convert/result.h"
#include "rules/trends/trendsample.h"

class QEvent;
class QThread;

namespace trends {

class TrendsReader;

// What the trends window reads from the history: the units recorded, one
// unit's readings over a range (a slice at a time) and the events marked on
// the time axis, followed as the recorder writes them. Every read runs on a
// thread of its own, with a read-only connection of that thread, so that a
// server that answers slowly or not at all never holds the window; the
// answers come back as queued signals, and an answer to a request
// overtaken by a newer one is dropped. The history is opened afresh for
// every reading, so that a file the recorder moved aside and started again
// is followed. A server that cannot be read gives its reason and the local
// file is read instead. A server is connected to as the loader is made,
// and the first open() takes that connection; a second one, on a thread of
// its own, groups half of each overview at the same time as the reader
// groups the other half.
class TrendsLoader : public QObject
{
    Q_OBJECT

public:
    static constexpr int SliceRows = 20000;

    // address: the history to read (a file, or a server's URI); localPath:
    // the file read when a server cannot be (empty: none).
    explicit TrendsLoader(QString address, QString localPath = QString(), QObject *parent = nullptr);
    // Never waits: the slice or the connect under way ends on its thread,
    // and its answer reaches nobody.
    ~TrendsLoader() override;

    // Another history for the next open().
    void setAddress(const QString &address) { m_address = address; }
    const QString &address() const { return m_address; }

    // Opens the history again, dropping the reading under way and the
    // events; opened() answers with the units recorded and, for unit (or
    // the first unit recorded when it is empty), its own clock since
    // clockSinceMs.
    void open(const QString &unit, qint64 clockSinceMs);
    bool isOpen() const { return m_open; }

    // Starts reading the unit's readings from fromMs to toMs (excluded) and
    // follows its events from fromMs on; samplesRead for each slice, then
    // finished; by arrival, the events up to now come before the first
    // slice. By the unit's clock the range and the samples' times are the
    // unit's own (the events keep their arrival times and are not read).
    // With overviewWidthMs above 0, a server is first asked for the
    // overview of the range in columns of that width (historyOverview),
    // answered by overviewRead before the first slice: a day of a reading
    // a second from a server reached the charts in some 360 ms, every row
    // crossing the connection, and its overview in 120 ms. The readings are
    // asked for once the events posted until the overview came (the
    // window's paint of it) were handled. A file is read as before: its
    // engine groups a day more slowly (430 ms) than it reads every reading
    // (200 ms).
    void read(const QString &unit, qint64 fromMs, qint64 toMs, HistoryClock clock = HistoryClock::Arrival,
              double overviewWidthMs = 0);
    void stop();
    bool reading() const { return m_reading; }

    // Looks for the unit's events written since the last look, up to
    // untilMs; eventsChanged() when there are new ones. The recorder writes
    // an event a second or more after its time, so each look goes back over
    // the last while and keeps what it has not seen.
    void fetchNewEvents(qint64 untilMs);
    // The events from the start of the reading on, in order of time.
    const std::vector<EventMark> &events() const { return m_events; }

signals:
    // opened: true when a history is open, false when none was recorded
    // yet; the reason when it cannot be read. note: why the server chosen
    // was not read (the local file was), empty otherwise.
    void opened(const Result<bool> &opened, const std::vector<RecordedUnit> &units, const UnitClockReadings &clock,
                const QString &note);
    // The overview of the range, before its readings (historyOverview).
    void overviewRead(const std::vector<trends::Sample> &samples);
    void samplesRead(const std::vector<trends::Sample> &samples, qint64 readSoFar);
    // Every reading read, or the reading failed.
    void finished(const Result<void> &outcome);
    void eventsChanged();
    // A look for events failed.
    void eventsFailed(const QString &reason);

protected:
    void customEvent(QEvent *event) override;

private:
    friend class TrendsReader;
    void eventsRead(qint64 from, qint64 untilMs, const std::vector<EventMark> &events);

    QString m_address;
    QString m_localPath;
    QThread *m_thread = nullptr;       // goes by itself once it has ended
    TrendsReader *m_reader = nullptr;  // lives on m_thread, and goes with it
    quint64 m_generation = 0;          // of the open and the reading asked for last
    bool m_open = false;
    bool m_reading = false;
    QString m_unit;
    std::vector<EventMark> m_events;
    qint64 m_eventsFromMs = 0;
    qint64 m_eventsUntilMs = 0;
};

} // namespace trends
