#pragma once

// The reading panel written out by hand, independently of the window's own
// tables, so that a test catches a field shown in the wrong box, a box in
// the wrong place or a wrong alarm text.

#include <array>

#include <QRect>
#include <QSize>

namespace contract {

enum class Style { Large, Cyan, Small, ErrorText, Uptime };

// One box of the panel: its frame caption and place (twips, in the window),
// the label inside and its size (empty: not fixed), and the packet field it
// shows (0: none).
struct Box
{
    const char *caption;
    const char *label;
    QRect frame;
    QSize labelSize;
    Style style;
    int field;
};

inline const std::array<Box, 42> &boxes()
{
    constexpr int c1 = 3150, c2 = 4455, c3 = 5760;
    const QSize small(1065, 255);
    const QSize chrom(720, 255);
    static const std::array<Box, 42> all = {{
        {"Gas Units", "lbl_GasUnits", QRect(0, 990, 3105, 975), QSize(2910, 705), Style::Large, 5},
        {"Hole Depth In Feet", "lbl_DrillDepth", QRect(0, 2025, 3105, 975), QSize(2910, 720), Style::Large, 4},
        {"Bit Depth", "lbl_bit_depth", QRect(0, 3015, 3105, 975), QSize(), Style::Large, 0},
        {"ROP Mn/Ft", "lbl_DrilRateMF", QRect(0, 4005, 3105, 975), QSize(2955, 705), Style::Large, 10},
        {"Lag Depth", "lbl_lag_depth", QRect(0, 4995, 3105, 975), QSize(2955, 705), Style::Cyan, 37},
        {"% CO2", "lbl_Methane", QRect(c1, 1035, 1305, 480), small, Style::Small, 7},
        {"Time", "lbl_time", QRect(c2, 1035, 1305, 480), small, Style::Small, 3},
        {"Date", "lbl_date", QRect(c3, 1035, 1305, 480), small, Style::Small, 2},
        {"% O2", "lbl_Lel", QRect(c1, 1530, 1305, 480), small, Style::Small, 6},
        {"Sample Vac", "lbl_Vac", QRect(c2, 1530, 1305, 480), small, Style::Small, 13},
        {"Temp", "lbl_Temp", QRect(c3, 1530, 1305, 480), small, Style::Small, 9},
        {"H2S PPM", "lbl_h2s_ppm", QRect(c1, 2025, 1305, 480), small, Style::Small, 20},
        {"Sample LPH", "lbl_Lph", QRect(c2, 2025, 1305, 480), small, Style::Small, 12},
        {"Attenuation", "lbl_Ppm", QRect(c3, 2025, 1305, 480), small, Style::Small, 8},
        {"ROP Ft/Hr", "lbl_DrilRateFH", QRect(c1, 2520, 1305, 480), small, Style::Small, 11},
        {"Packet Num", "lbl_packetnum", QRect(c2, 2520, 1305, 480), small, Style::Small, 29},
        {"Volts DC", "lbl_Volts", QRect(c3, 2520, 1305, 480), small, Style::Small, 14},
        {"Pri Volts", "lbl_vq21", QRect(c1, 3015, 1305, 480), small, Style::Small, 15},
        {"Sec Volts", "lbl_vq6", QRect(c2, 3015, 1305, 480), small, Style::Small, 16},
        {"H2S Volts", "lbl_vq101", QRect(c3, 3015, 1305, 480), small, Style::Small, 19},
        {"CG Volts", "lbl_vq6cg", QRect(c1, 3510, 1305, 480), small, Style::Small, 18},
        {"CG ID", "lbl_cg_num", QRect(c2, 3510, 1305, 480), small, Style::Small, 17},
        {"RSSI", "lbl_rssi", QRect(c3, 3510, 1305, 480), small, Style::Small, 23},
        {"AC Volts", "lbl_rigvolts", QRect(c1, 4005, 1305, 480), small, Style::Small, 24},
        {"AC Freq", "lbl_rigfreq", QRect(c2, 4005, 1305, 480), small, Style::Small, 25},
        {"Amps", "lbl_dcamps", QRect(c3, 4005, 1305, 480), small, Style::Small, 26},
        {"Motor %", "lbl_samplemot", QRect(c1, 4500, 1305, 480), small, Style::Small, 22},
        {"HRM Temp", "lbl_hrmtemp", QRect(c2, 4500, 1305, 480), small, Style::Small, 27},
        {"CG Pressure", "lbl_chromvac", QRect(c3, 4500, 1305, 480), small, Style::Small, 28},
        {"Error Number", "lbl_err", QRect(c1, 4995, 1305, 480), small, Style::Small, 21},
        {"HOBBS", "lbl_hobbs", QRect(c2, 4995, 1305, 480), small, Style::Small, 38},
        {"Exhaust Prs", "lbl_exh", QRect(c3, 4995, 1305, 480), small, Style::Small, 35},
        {"Column Temp", "lbl_col_tmp", QRect(c1, 5490, 1305, 480), small, Style::Small, 36},
        {"Error Description", "lbl_err_txt", QRect(0, 5985, 7110, 480), QSize(6825, 255), Style::ErrorText, 0},
        {"Methane", "lbl_c1", QRect(0, 6570, 975, 480), chrom, Style::Small, 30},
        {"Ethane", "lbl_c2", QRect(990, 6570, 990, 480), chrom, Style::Small, 31},
        {"Propane", "lbl_c3", QRect(1980, 6570, 990, 480), chrom, Style::Small, 32},
        {"Iso Butane", "lbl_ic4", QRect(2970, 6570, 990, 480), chrom, Style::Small, 33},
        {"N Butane", "lbl_nc4", QRect(3960, 6570, 990, 480), chrom, Style::Small, 34},
        {"Iso Pentane", "lbl_iPen", QRect(4950, 6570, 1080, 480), chrom, Style::Small, 39},
        {"N Pentane", "lbl_nPen", QRect(6030, 6570, 1080, 480), chrom, Style::Small, 40},
        {"Uptime", "lbl_uptime", QRect(3285, 45, 1005, 600), QSize(825, 195), Style::Uptime, 0},
    }};
    return all;
}

// The alarm texts of codes 1 to 19.
inline const std::array<const char *, 19> &alarmTexts()
{
    static const std::array<const char *, 19> texts = {
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
    return texts;
}

} // namespace contract
