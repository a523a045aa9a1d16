#pragma once

#include <functional>

#include <QByteArray>
#include <QObject>
#include <QString>

#include "fleet/reconnectpolicy.h"
#include "history/historyrows.h"
#include "rules/config/witstable.h"

class QTimer;
class SocketControl;
class UnitLink;
struct Reading;
struct WitsItem;

// One unit of a recorded fleet: its UnitLink (with its usual timers and
// keep-alive), the schedule of its attempts, and the rows it has gathered
// for the history since they were last taken. The unit is resolved through
// the lookup table afresh at every attempt, as the viewer does at every
// connect, so an edited table takes effect at the next attempt.
//
// A link that is refused, fails, is ended by the unit or stays silent is
// closed and opened again on the schedule of its ReconnectPolicy; it never
// gives up. Every change of the link and every failure goes out as one
// event(kind, detail) and is kept as an event row.
class FleetUnit : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        QString lookupPath;
        WitsTable wits;
        ReconnectPolicy::Clock clock;    // monotonic milliseconds
        ReconnectPolicy::Random random;  // uniform in [0, 1)
        std::function<qint64()> wallClock;  // UTC milliseconds, for the rows
        // Makes the unit's socket; null for a TCP socket.
        std::function<SocketControl *()> makeSocket;
    };

    FleetUnit(const QByteArray &serial, const Context &context, QObject *parent = nullptr);
    ~FleetUnit() override;

    const QByteArray &serial() const { return m_serial; }
    const UnitLink &link() const { return *m_link; }
    const ReconnectPolicy &policy() const { return m_policy; }
    // A next attempt is planned (the link is down).
    bool waiting() const;

    // The first attempt, now.
    void start();
    // Closes the link for good and plans nothing more; why goes out as the
    // "disconnected" event.
    void finish(const QString &why);
    // Parses whatever the link has received and not yet parsed.
    void drain();
    // Closes a link that has been silent for too long and plans the next
    // attempt (called once a second).
    void checkSilence();

    // The rows gathered since the last call.
    history::Batch takeRows();
    bool hasRows() const { return !m_rows.empty(); }

signals:
    void event(const QString &kind, const QString &detail);

private:
    void attempt();
    void linkState(std::int16_t state);
    // The link is gone: closed, the next attempt planned, and one event
    // that says why and when the next attempt comes.
    void lost(const QString &kind, const QString &why);
    void record(const QString &kind, const QString &detail);
    void readingAccepted(const Reading &reading);
    void witsRecordStarted(const QByteArray &record);
    void witsItemRead(const WitsItem &item);
    void delivered();
    QString server() const;

    QByteArray m_serial;
    QString m_unit;  // the serial as the rows name it
    Context m_context;
    UnitLink *m_link = nullptr;
    ReconnectPolicy m_policy;
    QTimer *m_retry = nullptr;
    QByteArray m_address;
    QByteArray m_port;
    bool m_opening = false;  // an attempt runs: the link is on its way or up
    bool m_finished = false;
    history::Batch m_rows;
    qint64 m_witsTimeMs = 0;
    int m_witsPosition = 0;
};
