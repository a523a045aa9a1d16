#pragma once

#include <functional>
#include <map>
#include <memory>

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include "fleet/fleetunit.h"
#include "rules/convert/result.h"

class HistoryWriter;
class QTimer;

// Records every unit of a fleet into one history: one FleetUnit per unit
// of the units file (or, without one, per row of the lookup table), their
// rows gathered and handed to the HistoryWriter several times a second as
// one batch for all units, so that the writer commits them together.
//
// It owns the units and which units there are; the writer (made, started
// and stopped by the caller) owns the file. What happens to a link, and
// what the writer reports, goes out as one line each through logLine:
// nothing per packet.
class FleetRecorder : public QObject
{
    Q_OBJECT

public:
    // Rows reach the writer this often; the writer commits once a second.
    static constexpr int HandOverIntervalMs = 100;
    static constexpr int SilenceCheckIntervalMs = 1000;

    struct Options
    {
        QString unitsPath;   // empty: every row of the lookup table
        QString lookupPath;
        WitsTable wits;
        int handOverIntervalMs = HandOverIntervalMs;
    };

    FleetRecorder(Options options, HistoryWriter &writer, FleetUnit::Context context, QObject *parent = nullptr);
    ~FleetRecorder() override;

    // Reads the units and opens a link to each. The reason names the file
    // and the line at fault; nothing is opened then.
    Result<void> start();
    // Reads the units again: links to units added are opened, links to
    // units removed closed, the others left as they are. A units file that
    // does not read leaves every unit as it was, with a line that says why.
    void reload();
    // Closes every link and hands what was gathered to the writer.
    void stop();

    // The units recorded, in the order of their file.
    QList<QByteArray> serials() const;
    const FleetUnit *unit(const QByteArray &serial) const;

signals:
    void logLine(const QString &line);

private:
    Result<QList<QByteArray>> readUnits();
    void add(const QByteArray &serial);
    void handOver();
    void checkSilence();
    void log(const QString &unit, const QString &text);

    Options m_options;
    HistoryWriter &m_writer;
    FleetUnit::Context m_context;
    QList<QByteArray> m_order;
    std::map<QByteArray, std::unique_ptr<FleetUnit>> m_units;
    history::Batch m_leftover;  // rows of units removed, not yet handed over
    QTimer *m_handOver = nullptr;
    QTimer *m_silence = nullptr;
    bool m_stopped = false;
};
