#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QString>
#include <QStringList>

// An option's seconds as a timer's milliseconds, rounded, within 0 and two
// thousand million.
int millis(double seconds);

// Everything the command line can set. Counts of 0 and negative seconds mean
// "off"; the defaults are the simulator's normal, well-behaved unit.
struct SimOptions
{
    QHostAddress host{QHostAddress::LocalHost};
    quint16 port = 2400;
    int units = 0;               // 0 = one unit, a fresh run per connection; else a fleet
    QString lookupFile;          // lookup table to write, empty = none
    QString sentLogFile;         // log of the packets sent, empty = none
    QByteArray user = QByteArrayLiteral("operator");
    QByteArray password = QByteArrayLiteral("rig2400");
    bool seeded = false;
    quint64 seed = 0;
    double rate = 1.0;           // packets per second
    double witsPeriod = 5.0;     // seconds, 0 = no WITS records
    double uptimePeriod = 30.0;  // seconds, 0 = no uptime messages
    QByteArray name = QByteArrayLiteral("0001");
    bool lineFeed = true;
    QDateTime startTime;         // invalid = wall clock
    QByteArray alarm;            // empty = alarm scenario
    QByteArray gas;              // empty = drifting gas

    // Fault modes.
    int badChecksumEvery = 0;
    bool split = false;
    int splitGapMs = 150;
    int batch = 1;
    bool witsGlued = false;
    int junkBytes = 0;
    double burstEvery = 0;       // seconds, 0 = no bursts
    int burstSize = 6000;
    int longPacketEvery = 0;
    int noCommaEvery = 0;
    int nonNumericEvery = 0;
    double witsStopAfter = -1;   // seconds after connecting
    double silentAfter = -1;     // seconds after connecting
    int closeAfter = 0;          // packets
    int resetAfter = 0;          // packets
    double acceptDelay = 0;      // seconds
    double dropEvery = 0;        // seconds, 0 = no drops

    // Replay of recorded traffic instead of the generated stream.
    QString replayFile;
    QByteArray replayBytes;
    double replayRate = 100.0;   // bytes per second
    bool replayLoop = false;

    QByteArray lineEnd() const;
    bool replaying() const { return !replayFile.isEmpty(); }
    bool fleet() const { return units > 0; }
    int unitCount() const { return fleet() ? units : 1; }

    struct Outcome;
    // `arguments` includes the program name first, as QCoreApplication gives it.
    static Outcome parse(const QStringList &arguments);
};

struct SimOptions::Outcome
{
    enum class Status { Run, Help, Error };
    Status status = Status::Error;
    SimOptions options;
    QString text;  // the help text, or the reason for refusing the command line
};
