#pragma once

#include <cstdint>

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QList>

#include "unitsim/randomsource.h"
#include "unitsim/witsbuilder.h"

// A rig at work, one data packet at a time: the bit drills ahead with a
// wandering rate of penetration and now and then comes off bottom for a
// connection, the gas swings through the alarm levels and back, the
// chromatograph follows the gas, the supplies wander in their bands and the
// error number steps through a fixed alarm scenario with quiet stretches.
class RigModel
{
public:
    static constexpr int FieldCount = 40;

    // The gas swings around `middle` by up to `swing` either way, once every
    // `cyclePackets` packets. The default passes through every alarm level.
    struct GasCurve
    {
        double middle = 1250.0;
        double swing = 650.0;
        int cyclePackets = 160;
    };

    // One step of the alarm scenario: what field 21 carries, for how many packets.
    struct AlarmStep
    {
        const char *code;
        int packets;
    };

    struct Settings
    {
        QByteArray unitName = QByteArrayLiteral("0001");
        GasCurve gas;
        QList<AlarmStep> alarms;   // empty = alarmScenario()
        QByteArray fixedGas;       // sent as field 5 when not empty
        QByteArray fixedAlarm;     // sent as field 21 when not empty
        double packetSeconds = 1.0;
        // When valid the clock starts here and moves one packet interval per
        // packet; otherwise packets carry the wall-clock time.
        QDateTime startTime;
    };

    // The scenario of a unit left to itself: quiet stretches between alarms.
    static const QList<AlarmStep> &alarmScenario();

    RigModel(const Settings &settings, std::uint64_t seed);

    // Moves the rig on by one packet interval and counts one more packet.
    void advance();

    // Fields 1 to 40 of the current packet (index 0 holds field 1).
    QByteArrayList fields() const;
    // The four header pieces and the items of a WITS record for the current state.
    QByteArrayList witsHeader() const;
    QList<WitsBuilder::Item> witsItems() const;
    // The next uptime percentage, one decimal.
    QByteArray nextUptime();

    bool onBottom() const { return m_onBottom; }
    QByteArray holeDepthText() const;
    QByteArray bitDepthText() const;
    std::uint64_t packetNumber() const { return m_packetNumber; }
    // The same fields with text where the viewer expects numbers.
    static QByteArrayList spoilNumbers(QByteArrayList fields);

private:
    // A reading that drifts at random but never leaves its band.
    struct Wander
    {
        double value = 0;
        double low = 0;
        double high = 0;
        double step = 0;
        void move(RandomSource &random);
    };

    QDateTime now() const;
    void updateFields();
    void refreshChromatograph();

    Settings m_settings;
    RandomSource m_random;
    // The uptime is asked for on its own timer; its own source keeps the
    // readings of a seeded run the same whenever and however often it is asked.
    RandomSource m_uptimeRandom;
    QList<AlarmStep> m_alarms;

    std::uint64_t m_packetNumber = 0;
    double m_rigSeconds = 0;

    double m_holeDepth = 0;
    bool m_onBottom = true;
    int m_phasePackets = 0;      // packets left in the current phase
    int m_phaseLength = 1;
    int m_phasePosition = 0;
    double m_tripHeight = 0;     // how far the bit comes up in this connection
    double m_bitOffset = 0;      // feet above bottom, 0 on bottom

    double m_gasPhase = 0;
    double m_gas = 0;
    double m_lag = 0;
    double m_hobbsStart = 0;

    int m_alarmStep = 0;
    int m_alarmLeft = 0;

    Wander m_rop;
    Wander m_o2;
    Wander m_co2;
    Wander m_temp;
    Wander m_lph;
    Wander m_vac;
    Wander m_voltsDc;
    Wander m_priVolts;
    Wander m_secVolts;
    Wander m_cgVolts;
    Wander m_h2sVolts;
    Wander m_motor;
    Wander m_rssi;
    Wander m_acVolts;
    Wander m_acFreq;
    Wander m_amps;
    Wander m_hrmTemp;
    Wander m_cgPressure;
    Wander m_exhaust;
    Wander m_columnTemp;
    Wander m_uptime;
    Wander m_lagFeet;
    Wander m_hookload;
    Wander m_wob;
    Wander m_rpm;
    Wander m_standpipe;
    Wander m_block;

    int m_cgAge = 0;
    QList<double> m_cg;          // methane, ethane, propane, iso/n butane, iso/n pentane

    QByteArrayList m_fields;
};
