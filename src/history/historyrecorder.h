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

class QTimer;
class UnitStream;

class HistoryWriter;

// Keeps the history of one unit's stream (the one its link owns): every
// accepted reading with the bit depth and gas level it came with, every WITS
// item, and the events around them ("connected", "disconnected", "unit
// ended", "link error", "two way", "report" lines, "alarm start" and "alarm
// end", "gas level" changes, and whatever else the viewer records),
// gathered as the link reports them and handed, once a second, to a
// HistoryWriter that owns the file on a thread of its own: the
// window never waits on the disk except for flush().
//
// A failure never reaches the caller: the writer pauses, and the recorder
// reports one line "[HISTORY ERR: ...]" through reportLine. While paused
// the writer keeps what comes (at most keptReadings readings; past that
// the oldest go and are counted) and tries the file again every
// retryIntervalMs and at each connect; once the file takes the rows the
// recorder says so in one line, with how many readings were kept and how
// many lost, and the loss is recorded as a "rows lost" event. A damaged
// file is moved aside and a new one started; so is a file deleted or
// replaced under the writer. Recording off, or the recorder going, commits
// what was kept, paused or not, before the file is closed. Rows older than
// the retention are deleted when recording starts and once a day.
class HistoryRecorder : public QObject
{
    Q_OBJECT

public:
    // How often what was gathered is handed to the writer, which commits
    // it at once when its last commit is a second old.
    static constexpr int SubmitIntervalMs = 1000;
    static constexpr int PruneSliceRows = 2000;
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
        int keptReadings = KeptReadings;  // readings kept while the file does not take them
        // The lookup table the serial resolves through to its unit (empty:
        // recorded under the serial as typed).
        QString lookupPath;
    };

    HistoryRecorder(const UnitStream &unit, Options options, QObject *parent = nullptr);
    ~HistoryRecorder() override;

    // On: starts the writer (opening and pruning the file) and records from
    // now on. Off: commits what was gathered or kept, closes the file and
    // records nothing more.
    void setRecording(bool on);
    bool isRecording() const { return m_recording; }
    // True after a failure, until the file takes what was kept.
    bool isPaused() const { return m_paused; }
    const Options &options() const { return m_options; }

    // Commits what was gathered now and waits for it (before an export or
    // the trends read the file).
    void flush();
    // A report line the traffic window has shown.
    void recordReportLine(const QByteArray &line);
    // An event another part of the viewer tells (an alert), at timeMs or,
    // when 0, now.
    void recordEvent(const QString &unit, const QString &kind, const QString &detail, qint64 timeMs = 0);

signals:
    void reportLine(const QByteArray &line);

private:
    bool active() const;
    void submit();
    void gathered();
    void report(const QString &description);
    void addEvent(qint64 timeMs, const char *kind, const QString &detail);
    void stopWriter();

    // What the link reports.
    void linkState(std::int16_t state);
    void readingAccepted(const Reading &reading);
    void witsRecordStarted(const QByteArray &record);
    void witsItemRead(const WitsItem &item);
    void twoWayMode(bool active);

    const UnitStream &m_unit;
    Options m_options;
    std::unique_ptr<HistoryWriter> m_writer;
    history::Batch m_pending;
    QTimer *m_submitTimer = nullptr;
    bool m_recording = false;
    bool m_paused = false;

    // What the unit last reported in this connection.
    std::int16_t m_linkState = 0;
    double m_alarm = 0.0;
    bool m_twoWay = false;
    readings::GasLevel m_gasRecorded = readings::GasLevel::Unchanged;
    qint64 m_witsTimeMs = 0;
    int m_witsPosition = 0;
};
