#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "rules/readings/readingrules.h"
#include "rules/files/safefile.h"
#include "history/historyrows.h"
#include "rules/stream/reading.h"

class HistoryStore;
class QTimer;
class UnitStream;
struct HistoryError;

// Keeps the history of one unit's stream (the one its link owns): every
// accepted reading with the bit depth and gas level it came with, every WITS
// item, and the events around them ("connected", "disconnected", "unit
// ended", "link error", "two way", "report" lines, "alarm start" and "alarm
// end", "gas level" changes, and whatever else the viewer records),
// gathered as the link reports them and written to the history file in one
// transaction at most once a second, and when recording stops or the
// recorder goes.
//
// It owns the file. A failure never reaches the caller: it reports one line
// "[HISTORY ERR: ...]" through reportLine and pauses. While paused it keeps
// gathering (at most keptReadings rows of each kind; past that the oldest
// go and are counted) and tries the file again every retryIntervalMs and at
// each connect; once the file takes the rows it says so in one line, with
// how many readings were kept and how many lost, and records the loss as a
// "rows lost" event. A damaged file is moved aside and a new one started;
// so is a file deleted or replaced under the recorder, which it notices
// before each write. Rows older than the retention are deleted when
// recording starts and once a day, in small steps between the window's
// other work.
class HistoryRecorder : public QObject
{
    Q_OBJECT

public:
    static constexpr int FlushIntervalMs = 1000;
    static constexpr int PruneIntervalMs = 24 * 60 * 60 * 1000;
    static constexpr int PruneSliceRows = 2000;
    // A file another program holds is tried again at the next flush; after
    // this many in a row the recorder pauses.
    static constexpr int BusyRetries = 10;
    static constexpr int RetryIntervalMs = 5000;
    // A minute of readings at 1000 a second, the most the viewer takes:
    // some 40 MB.
    static constexpr int KeptReadings = 60000;

    static constexpr int DefaultRetentionDays = 30;

    struct Options
    {
        QString path;  // the history file
        int retentionDays = DefaultRetentionDays;  // rows older than this many days are deleted
        qint64 sizeLimitBytes = 0;  // above 0: the file may not grow past it
        int retryIntervalMs = RetryIntervalMs;  // how often a paused file is tried again
        int keptReadings = KeptReadings;  // rows of each kind kept while the file does not take them
    };

    HistoryRecorder(const UnitStream &unit, Options options, QObject *parent = nullptr);
    ~HistoryRecorder() override;

    // On: opens the file (pruning it) and records from now on. Off: writes
    // what was gathered, closes the file and records nothing more.
    void setRecording(bool on);
    bool isRecording() const { return m_recording; }
    // True after a failure, until the file takes what was kept.
    bool isPaused() const { return m_paused; }
    const Options &options() const { return m_options; }

    // Writes what was gathered now (before an export reads the file).
    void flush();
    // A report line the traffic window has shown.
    void recordReportLine(const QByteArray &line);
    // An event another part of the viewer tells (an alert), at timeMs or,
    // when 0, now.
    void recordEvent(const QString &unit, const QString &kind, const QString &detail, qint64 timeMs = 0);

signals:
    void reportLine(const QByteArray &line);

private:
    // What was dropped while the file did not take the rows.
    struct Lost
    {
        qint64 readings = 0;
        qint64 witsItems = 0;
        qint64 witsRecords = 0;
        qint64 events = 0;

        bool any() const;
        QString text() const;
    };

    // Gathering: recording is on. Writing: and the file is open and takes
    // rows.
    bool active() const;
    bool writing() const;
    bool openStore();
    bool writePending();
    void retry();
    void gathered();
    void report(const QString &description);
    void pause(QString description);
    void handleFailure(HistoryError error);
    void scheduleFlush();
    void startPrune();
    void pruneStep();
    void addEvent(qint64 timeMs, const char *kind, const QString &detail);

    // What the link reports.
    void linkState(std::int16_t state);
    void readingAccepted(const Reading &reading);
    void witsRecordStarted(const QByteArray &record);
    void witsItemRead(const WitsItem &item);
    void twoWayMode(bool active);

    const UnitStream &m_unit;
    Options m_options;
    std::unique_ptr<HistoryStore> m_store;
    history::Batch m_pending;
    QTimer *m_flushTimer = nullptr;
    QTimer *m_pruneTimer = nullptr;
    QTimer *m_pruneStep = nullptr;
    QTimer *m_retryTimer = nullptr;
    bool m_recording = false;
    bool m_paused = false;
    int m_busyCount = 0;
    Lost m_lost;
    // The file opened, to tell it from whatever is at the path later.
    std::optional<files::Identity> m_openFile;
    qint64 m_pruneCutoffMs = 0;
    qint64 m_prunedRows = 0;

    // What the unit last reported in this connection.
    std::int16_t m_linkState = 0;
    double m_alarm = 0.0;
    bool m_twoWay = false;
    readings::GasLevel m_gasRecorded = readings::GasLevel::Unchanged;
    qint64 m_witsTimeMs = 0;
    int m_witsPosition = 0;
};
