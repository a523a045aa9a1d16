#include "rules/readings/readingrules.h"

#include <cmath>

#include "rules/convert/attempt.h"
#include "rules/convert/convert.h"

namespace readings {

const std::array<FieldRow, 39> &fieldTable()
{
    static const std::array<FieldRow, 39> table = {{
        {2, "lbl_date", "Date", Pattern::AsReceived},
        {3, "lbl_time", "Time", Pattern::AsReceived},
        {4, "lbl_DrillDepth", "Hole Depth In Feet", Pattern::AsReceived},
        {5, "lbl_GasUnits", "Gas Units", Pattern::Whole},
        {6, "lbl_Lel", "% O2", Pattern::AsReceived},
        {7, "lbl_Methane", "% CO2", Pattern::AsReceived},
        {8, "lbl_Ppm", "Attenuation", Pattern::AsReceived},
        {9, "lbl_Temp", "Temp", Pattern::AsReceived},
        {10, "lbl_DrilRateMF", "ROP Mn/Ft", Pattern::ThreeDecimals},
        {11, "lbl_DrilRateFH", "ROP Ft/Hr", Pattern::AsReceived},
        {12, "lbl_Lph", "Sample LPH", Pattern::AsReceived},
        {13, "lbl_Vac", "Sample Vac", Pattern::AsReceived},
        {14, "lbl_Volts", "Volts DC", Pattern::AsReceived},
        {15, "lbl_vq21", "Pri Volts", Pattern::AsReceived},
        {16, "lbl_vq6", "Sec Volts", Pattern::AsReceived},
        {17, "lbl_cg_num", "CG ID", Pattern::AsReceived},
        {18, "lbl_vq6cg", "CG Volts", Pattern::AsReceived},
        {19, "lbl_vq101", "H2S Volts", Pattern::AsReceived},
        {20, "lbl_h2s_ppm", "H2S PPM", Pattern::AsReceived},
        {21, "lbl_err", "Error Number", Pattern::AsReceived},
        {22, "lbl_samplemot", "Motor %", Pattern::AsReceived},
        {23, "lbl_rssi", "RSSI", Pattern::AsReceived},
        {24, "lbl_rigvolts", "AC Volts", Pattern::AsReceived},
        {25, "lbl_rigfreq", "AC Freq", Pattern::AsReceived},
        {26, "lbl_dcamps", "Amps", Pattern::AsReceived},
        {27, "lbl_hrmtemp", "HRM Temp", Pattern::AsReceived},
        {28, "lbl_chromvac", "CG Pressure", Pattern::AsReceived},
        {29, "lbl_packetnum", "Packet Num", Pattern::AsReceived},
        {30, "lbl_c1", "Methane", Pattern::AsReceived},
        {31, "lbl_c2", "Ethane", Pattern::AsReceived},
        {32, "lbl_c3", "Propane", Pattern::AsReceived},
        {33, "lbl_ic4", "Iso Butane", Pattern::AsReceived},
        {34, "lbl_nc4", "N Butane", Pattern::AsReceived},
        {35, "lbl_exh", "Exhaust Prs", Pattern::AsReceived},
        {36, "lbl_col_tmp", "Column Temp", Pattern::AsReceived},
        {37, "lbl_lag_depth", "Lag Depth", Pattern::AsReceived},
        {38, "lbl_hobbs", "HOBBS", Pattern::AsReceived},
        {39, "lbl_iPen", "Iso Pentane", Pattern::AsReceived},
        {40, "lbl_nPen", "N Pentane", Pattern::AsReceived},
    }};
    return table;
}

QString shownText(const FieldRow &row, const QByteArray &field)
{
    switch (row.pattern) {
    case Pattern::Whole:
        return convert::formatWhole(field);
    case Pattern::ThreeDecimals:
        return convert::formatThreeDecimals(field);
    case Pattern::AsReceived:
        break;
    }
    return QString::fromLatin1(field);
}

QString alarmText(double errorCode)
{
    static const char *const alarms[] = {
        "HIGH PRESSURE",
        "BLOCKED SAMPLE LINE",
        "HRM SENSOR VOLTAGE HIGH",
        "HRM SENSOR VOLTAGE LOW",
        "HIGH SAMPLE FLOW RATE",
        "LOW SAMPLE FLOW RATE",
        "LOW POWER SUPPLY VOLTAGE",
        "HIGH POWER SUPPLY VOLTAGE",
        "HIGH POWER SUPPLY AMPERAGE",
        "HIGH EQUIPMENT TEMPERATURE",
        "LOW EQUIPMENT TEMPERATURE",
        "HIGH GAS UNITS",
        "HRM WARMING UP",
        "UNIT IN SHUTDOWN MODE",
        "NOISY GEOLOGRAPH",
        "CHROMATOGRAPH PRESSURE",
        "HIGH H2S",
        "BLOCKED EXHAUST",
        "HOBBS SERVICE",
    };
    if (!(errorCode > 0.0))
        return QStringLiteral("No Errors");
    for (int code = 1; code <= 19; ++code) {
        if (errorCode == code)
            return QString::fromLatin1(alarms[code - 1]);
    }
    return QStringLiteral("UNKNOWN ALARM");
}

std::optional<double> numberIn(const QByteArray &field)
{
    if (!convert::isNumeric(field))
        return std::nullopt;
    const double value = convert::leadingNumber(field);
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

GasLevel gasLevel(double shownValue)
{
    return gasLevel(shownValue, GasLevels{GreenBelow, YellowAbove, RedAbove});
}

GasLevel gasLevel(double shownValue, const GasLevels &levels)
{
    GasLevel level = GasLevel::Unchanged;
    if (shownValue < levels.clearBelow)
        level = GasLevel::Green;
    if (shownValue > levels.highAbove)
        level = GasLevel::Yellow;
    if (shownValue > levels.veryHighAbove)
        level = GasLevel::Red;
    return level;
}

Result<GasLevels> checkedGasLevels(double clearBelow, double highAbove, double veryHighAbove)
{
    for (const double level : {clearBelow, highAbove, veryHighAbove}) {
        if (!std::isfinite(level) || level < 0)
            return failure(QStringLiteral("a gas level must be a number of 0 or more"));
    }
    if (clearBelow > highAbove || highAbove > veryHighAbove)
        return failure(QStringLiteral("the gas levels must rise: normal below %1, high above %2, very high above %3"
                                      " does not")
                           .arg(clearBelow)
                           .arg(highAbove)
                           .arg(veryHighAbove));
    return GasLevels{clearBelow, highAbove, veryHighAbove};
}

QString gasLevelsText(const GasLevels &levels)
{
    return QStringLiteral("%1 / %2 / %3").arg(levels.clearBelow).arg(levels.highAbove).arg(levels.veryHighAbove);
}

GasLevel GasLevelTracker::update(const QByteArray &gasField)
{
    // The level is that of the whole number shown, not of the raw field.
    QByteArray shown;
    if (!attempt([&] { shown = convert::formatWhole(gasField).toLatin1(); })
        || !convert::hasLeadingNumber(shown)) {
        m_level = GasLevel::Unchanged;
        return GasLevel::NoReading;
    }
    const GasLevel now = gasLevel(convert::leadingNumber(shown), m_levels);
    if (now != GasLevel::Unchanged)
        m_level = now;
    return m_level;
}

} // namespace readings
