#include "unitsim/rigmodel.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double Pi = 3.14159265358979323846;
// The chromatograph needs a while for each analysis; its values hold between.
constexpr int ChromatographCyclePackets = 8;

QByteArray fixed(double value, int decimals)
{
    QByteArray text = QByteArray::number(value, 'f', decimals);
    // A reading that rounds to zero is shown as zero, not as "-0.0".
    if (text.startsWith('-')
        && std::all_of(text.cbegin() + 1, text.cend(), [](char c) { return c == '0' || c == '.'; }))
        text.remove(0, 1);
    return text;
}

QByteArray whole(double value)
{
    return fixed(value, 0);
}

} // namespace

const QList<RigModel::AlarmStep> &RigModel::alarmScenario()
{
    // Quiet stretches between the alarms. 1203 and 1704 are two-digit alarms
    // sent with extra digits; 27 is a number no table knows.
    static const QList<AlarmStep> steps = {
        {"0", 25},  {"5", 8},  {"0", 30}, {"1203", 8}, {"0", 30}, {"27", 6},
        {"0", 25},  {"13", 8}, {"0", 30}, {"19", 6},   {"0", 30}, {"1704", 6},
    };
    return steps;
}

void RigModel::Wander::move(RandomSource &random)
{
    value += random.between(-step, step);
    // Reflect at the edges so a reading does not stick to its limit.
    if (value > high)
        value = high - (value - high);
    if (value < low)
        value = low + (low - value);
    value = std::clamp(value, low, high);
}

RigModel::RigModel(const Settings &settings, std::uint64_t seed)
    : m_settings(settings)
    , m_random(seed)
    , m_uptimeRandom(seed ^ 0x5851f42d4c957f2dULL)
    , m_alarms(settings.alarms.isEmpty() ? alarmScenario() : settings.alarms)
{
    m_settings.gas.cyclePackets = std::max(2, m_settings.gas.cyclePackets);
    auto band = [this](double low, double high, double step) {
        return Wander{m_random.between(low, high), low, high, step};
    };

    m_holeDepth = std::round(m_random.between(6000.0, 12000.0) * 10.0) / 10.0;
    m_phaseLength = m_phasePackets = 40 + m_random.below(50);
    // Start low on the gas swing, so a new viewer first sees a calm unit.
    m_gasPhase = 1.5 * Pi + m_random.between(0.0, 0.4);
    m_hobbsStart = std::round(m_random.between(800.0, 4000.0) * 10.0) / 10.0;
    m_alarmLeft = m_alarms.front().packets;

    m_rop = band(25.0, 140.0, 6.0);
    m_o2 = band(20.6, 21.0, 0.05);
    m_co2 = band(0.03, 0.12, 0.01);
    m_temp = band(22.0, 34.0, 0.2);
    m_lph = band(55.0, 65.0, 0.4);
    m_vac = band(5.5, 7.5, 0.1);
    m_voltsDc = band(12.8, 13.9, 0.05);
    m_priVolts = band(4.95, 5.05, 0.01);
    m_secVolts = band(3.25, 3.35, 0.01);
    m_cgVolts = band(2.40, 2.60, 0.01);
    m_h2sVolts = band(0.400, 0.420, 0.002);
    m_motor = band(45.0, 60.0, 1.0);
    m_rssi = band(-80.0, -55.0, 1.0);
    m_acVolts = band(114.0, 126.0, 0.5);
    m_acFreq = band(59.85, 60.15, 0.02);
    m_amps = band(2.10, 3.20, 0.05);
    m_hrmTemp = band(59.5, 60.5, 0.05);
    m_cgPressure = band(10.0, 12.0, 0.1);
    m_exhaust = band(0.10, 0.30, 0.01);
    m_columnTemp = band(39.5, 40.5, 0.05);
    m_uptime = band(97.0, 100.0, 0.3);
    m_lagFeet = band(25.0, 45.0, 0.3);
    m_hookload = band(180.0, 220.0, 2.0);
    m_wob = band(15.0, 30.0, 0.8);
    m_rpm = band(90.0, 140.0, 2.0);
    m_standpipe = band(2800.0, 3200.0, 15.0);
    m_block = band(5.0, 90.0, 0.5);

    m_gas = std::max(0.0, m_settings.gas.middle + m_settings.gas.swing * std::sin(m_gasPhase));
    refreshChromatograph();
    updateFields();
}

void RigModel::advance()
{
    ++m_packetNumber;
    m_rigSeconds += m_settings.packetSeconds;

    if (--m_phasePackets <= 0) {
        m_onBottom = !m_onBottom;
        m_phaseLength = m_phasePackets = m_onBottom ? 40 + m_random.below(50) : 12 + m_random.below(14);
        m_phasePosition = 0;
        m_tripHeight = m_random.between(3.0, 30.0);
    }
    ++m_phasePosition;

    if (m_onBottom) {
        m_rop.move(m_random);
        m_holeDepth += m_rop.value * m_settings.packetSeconds / 3600.0;
        m_bitOffset = 0;
        m_wob.move(m_random);
        m_rpm.move(m_random);
    } else {
        // Up and back down again; at least a foot up, so the bit depth never
        // reads the same as the hole depth while off bottom.
        const double along = (m_phasePosition - 0.5) / m_phaseLength;
        m_bitOffset = std::max(1.0, m_tripHeight * std::sin(Pi * along));
    }

    m_gasPhase += 2.0 * Pi / m_settings.gas.cyclePackets;
    m_gas = std::max(0.0, m_settings.gas.middle + m_settings.gas.swing * std::sin(m_gasPhase)
                              + m_random.between(-15.0, 15.0));
    if (++m_cgAge >= ChromatographCyclePackets) {
        m_cgAge = 0;
        refreshChromatograph();
    }

    if (--m_alarmLeft <= 0) {
        m_alarmStep = (m_alarmStep + 1) % static_cast<int>(m_alarms.size());
        m_alarmLeft = m_alarms.at(m_alarmStep).packets;
    }

    for (Wander *reading : {&m_o2, &m_co2, &m_temp, &m_lph, &m_vac, &m_voltsDc, &m_priVolts,
                            &m_secVolts, &m_cgVolts, &m_h2sVolts, &m_motor, &m_rssi, &m_acVolts,
                            &m_acFreq, &m_amps, &m_hrmTemp, &m_cgPressure, &m_exhaust,
                            &m_columnTemp, &m_lagFeet, &m_hookload, &m_standpipe, &m_block})
        reading->move(m_random);

    updateFields();
}

void RigModel::refreshChromatograph()
{
    // Rough shares of a wet gas, each with a little analysis noise.
    static const double shares[] = {6.2, 0.9, 0.45, 0.08, 0.11, 0.03, 0.035};
    m_cg.clear();
    for (const double share : shares)
        m_cg.append(m_gas * share * m_random.between(0.97, 1.03));
}

QDateTime RigModel::now() const
{
    if (m_settings.startTime.isValid())
        return m_settings.startTime.addMSecs(static_cast<qint64>(std::llround(m_rigSeconds * 1000.0)));
    return QDateTime::currentDateTime();
}

QByteArray RigModel::holeDepthText() const
{
    return fixed(m_holeDepth, 1);
}

QByteArray RigModel::bitDepthText() const
{
    // On bottom the bit depth must read exactly as the packet's hole depth.
    return m_onBottom ? holeDepthText() : fixed(m_holeDepth - m_bitOffset, 1);
}

void RigModel::updateFields()
{
    const QDateTime stamp = now();
    const double rop = m_onBottom ? m_rop.value : 0.0;
    const QByteArray attenuation = m_gas < 1000 ? "1" : (m_gas < 1600 ? "2" : "4");
    const QByteArray alarm = !m_settings.fixedAlarm.isEmpty()
                                 ? m_settings.fixedAlarm
                                 : QByteArray(m_alarms.at(m_alarmStep).code);

    m_fields = QByteArrayList{
        m_settings.unitName,                                    // 1 unit name
        stamp.toString(QStringLiteral("MM/dd/yyyy")).toLatin1(), // 2 date
        stamp.toString(QStringLiteral("hh:mm:ss")).toLatin1(),   // 3 time
        holeDepthText(),                                        // 4 hole depth
        m_settings.fixedGas.isEmpty() ? fixed(m_gas, 1) : m_settings.fixedGas, // 5 gas units
        fixed(m_o2.value, 1),                                   // 6 % O2
        fixed(m_co2.value, 2),                                  // 7 % CO2
        attenuation,                                            // 8 attenuation
        fixed(m_temp.value, 1),                                 // 9 temp
        rop > 0 ? fixed(60.0 / rop, 2) : QByteArray("0.00"),    // 10 ROP min/ft
        fixed(rop, 1),                                          // 11 ROP ft/hr
        fixed(m_lph.value, 1),                                  // 12 sample LPH
        fixed(m_vac.value, 1),                                  // 13 sample vac
        fixed(m_voltsDc.value, 2),                              // 14 volts DC
        fixed(m_priVolts.value, 2),                             // 15 pri volts
        fixed(m_secVolts.value, 2),                             // 16 sec volts
        QByteArrayLiteral("7"),                                 // 17 CG ID
        fixed(m_cgVolts.value, 2),                              // 18 CG volts
        fixed(m_h2sVolts.value, 3),                             // 19 H2S volts
        fixed(std::max(0.0, (m_h2sVolts.value - 0.410) * 100.0), 1), // 20 H2S ppm
        alarm,                                                  // 21 error number
        whole(m_motor.value),                                   // 22 motor %
        whole(m_rssi.value),                                    // 23 RSSI
        fixed(m_acVolts.value, 1),                              // 24 AC volts
        fixed(m_acFreq.value, 2),                               // 25 AC freq
        fixed(m_amps.value, 2),                                 // 26 amps
        fixed(m_hrmTemp.value, 1),                              // 27 HRM temp
        fixed(m_cgPressure.value, 1),                           // 28 CG pressure
        QByteArray::number(static_cast<qulonglong>(m_packetNumber)), // 29 packet number
        whole(m_cg.at(0)),                                      // 30 methane
        whole(m_cg.at(1)),                                      // 31 ethane
        whole(m_cg.at(2)),                                      // 32 propane
        whole(m_cg.at(3)),                                      // 33 iso butane
        whole(m_cg.at(4)),                                      // 34 n butane
        fixed(m_exhaust.value, 2),                              // 35 exhaust prs
        fixed(m_columnTemp.value, 1),                           // 36 column temp
        fixed(std::max(0.0, m_holeDepth - m_lagFeet.value), 1), // 37 lag depth
        fixed(m_hobbsStart + m_rigSeconds / 3600.0, 1),         // 38 HOBBS
        whole(m_cg.at(5)),                                      // 39 iso pentane
        whole(m_cg.at(6)),                                      // 40 n pentane
    };
}

QByteArrayList RigModel::fields() const
{
    return m_fields;
}

QByteArrayList RigModel::spoilNumbers(QByteArrayList fields)
{
    // Text where the viewer expects numbers: none at all, a unit glued on, a
    // lettered error number, a dashed-out reading.
    static const QList<QPair<int, const char *>> spoiled = {
        {4, "----.-"}, {5, "N/A"}, {10, "--.---"}, {11, "12ft/h"},
        {21, "E7"},    {29, "#"},  {37, "n/a"},
    };
    for (const auto &entry : spoiled) {
        if (entry.first <= fields.size())
            fields[entry.first - 1] = entry.second;
    }
    return fields;
}

QByteArrayList RigModel::witsHeader() const
{
    const QDateTime stamp = now();
    return {QByteArrayLiteral("01"), m_settings.unitName,
            stamp.toString(QStringLiteral("yyMMdd")).toLatin1(),
            stamp.toString(QStringLiteral("hhmmss")).toLatin1()};
}

QList<WitsBuilder::Item> RigModel::witsItems() const
{
    // Record 1 (general time-based) items. Values always carry a decimal, so
    // every item is longer than code plus one digit.
    return {
        {108, bitDepthText()},                                      // bit depth (meas)
        {110, holeDepthText()},                                     // hole depth (meas)
        {112, fixed(m_block.value, 1)},                             // block position
        {113, fixed(m_onBottom ? m_rop.value : 0.0, 1)},            // rate of penetration
        {114, fixed(m_onBottom ? m_hookload.value : m_hookload.value + 35.0, 1)}, // hookload
        {116, fixed(m_onBottom ? m_wob.value : 0.0, 1)},            // weight on bit
        {120, fixed(m_onBottom ? m_rpm.value : 0.0, 1)},            // rotary speed
        {121, fixed(m_standpipe.value, 1)},                         // standpipe pressure
    };
}

QByteArray RigModel::nextUptime()
{
    m_uptime.move(m_uptimeRandom);
    return fixed(m_uptime.value, 1);
}
