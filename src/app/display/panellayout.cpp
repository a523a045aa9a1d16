#include "app/display/panellayout.h"

namespace panel {

namespace {

Box large(const char *frame, const char *caption, const char *label, int top, int labelWidth = 2910, int labelHeight = 705)
{
    return {frame, caption, label, 0, top, 3105, 975, 90, 180, labelWidth, labelHeight, BoxStyle::Large};
}

Box small(const char *frame, const char *caption, const char *label, int left, int top)
{
    return {frame, caption, label, left, top, 1305, 480, 120, 180, 1065, 255, BoxStyle::Small};
}

Box chrom(const char *frame, const char *caption, const char *label, int left, int width)
{
    return {frame, caption, label, left, 6570, width, 480, (width - 720) / 2, 180, 720, 255, BoxStyle::Chromatograph};
}

} // namespace

const std::vector<Box> &boxes()
{
    static const std::vector<Box> all = [] {
        std::vector<Box> b;
        // Left column: the large boxes.
        b.push_back(large("fra_GasUnits", "Gas Units", "lbl_GasUnits", 990));
        b.push_back(large("fra_DrillDepth", "Hole Depth In Feet", "lbl_DrillDepth", 2025, 2910, 720));
        b.push_back(large("Frame22", "Bit Depth", "lbl_bit_depth", 3015));
        b.push_back(large("fra_DrilRateMF", "ROP Mn/Ft", "lbl_DrilRateMF", 4005, 2955, 705));
        Box lag = large("fra_lag_depth", "Lag Depth", "lbl_lag_depth", 4995, 2955, 705);
        lag.style = BoxStyle::LargeCyan;
        b.push_back(lag);

        // Three columns of small boxes.
        const int c1 = 3150, c2 = 4455, c3 = 5760;
        b.push_back(small("fra_Methane", "% CO2", "lbl_Methane", c1, 1035));
        b.push_back(small("fra_time", "Time", "lbl_time", c2, 1035));
        b.push_back(small("fra_date", "Date", "lbl_date", c3, 1035));
        b.push_back(small("fra_Lel", "% O2", "lbl_Lel", c1, 1530));
        b.push_back(small("fra_Vac", "Sample Vac", "lbl_Vac", c2, 1530));
        b.push_back(small("fra_Temp", "Temp", "lbl_Temp", c3, 1530));
        b.push_back(small("fra_h2s_ppm", "H2S PPM", "lbl_h2s_ppm", c1, 2025));
        b.push_back(small("fra_Lph", "Sample LPH", "lbl_Lph", c2, 2025));
        b.push_back(small("fra_Ppm", "Attenuation", "lbl_Ppm", c3, 2025));
        b.push_back(small("fra_DrilRateFH", "ROP Ft/Hr", "lbl_DrilRateFH", c1, 2520));
        b.push_back(small("fra_packetnum", "Packet Num", "lbl_packetnum", c2, 2520));
        b.push_back(small("fra_Volts", "Volts DC", "lbl_Volts", c3, 2520));
        b.push_back(small("fra_vq21", "Pri Volts", "lbl_vq21", c1, 3015));
        b.push_back(small("fra_vq6", "Sec Volts", "lbl_vq6", c2, 3015));
        b.push_back(small("fra_vq101", "H2S Volts", "lbl_vq101", c3, 3015));
        b.push_back(small("fra_vq6cg", "CG Volts", "lbl_vq6cg", c1, 3510));
        b.push_back(small("fra_cg_num", "CG ID", "lbl_cg_num", c2, 3510));
        b.push_back(small("fra_rssi", "RSSI", "lbl_rssi", c3, 3510));
        b.push_back(small("fra_rigvolts", "AC Volts", "lbl_rigvolts", c1, 4005));
        b.push_back(small("fra_rigfreq", "AC Freq", "lbl_rigfreq", c2, 4005));
        b.push_back(small("fra_dcamps", "Amps", "lbl_dcamps", c3, 4005));
        b.push_back(small("fra_samplemot", "Motor %", "lbl_samplemot", c1, 4500));
        b.push_back(small("fra_hrmtemp", "HRM Temp", "lbl_hrmtemp", c2, 4500));
        b.push_back(small("fra_chromvac", "CG Pressure", "lbl_chromvac", c3, 4500));
        b.push_back(small("fra_err", "Error Number", "lbl_err", c1, 4995));
        b.push_back(small("fra_hobbs", "HOBBS", "lbl_hobbs", c2, 4995));
        b.push_back(small("fra_exh", "Exhaust Prs", "lbl_exh", c3, 4995));
        b.push_back(small("fra_col_tmp", "Column Temp", "lbl_col_tmp", c1, 5490));

        b.push_back({"fra_err_txt", "Error Description", "lbl_err_txt", 0, 5985, 7110, 480, 120, 180, 6825, 255, BoxStyle::ErrorText});

        b.push_back(chrom("fra_c1", "Methane", "lbl_c1", 0, 975));
        b.push_back(chrom("fra_c2", "Ethane", "lbl_c2", 990, 990));
        b.push_back(chrom("fra_c3", "Propane", "lbl_c3", 1980, 990));
        b.push_back(chrom("fra_ic4", "Iso Butane", "lbl_ic4", 2970, 990));
        b.push_back(chrom("fra_nc4", "N Butane", "lbl_nc4", 3960, 990));
        b.push_back(chrom("fra_iPen", "Iso Pentane", "lbl_iPen", 4950, 1080));
        b.push_back(chrom("fra_nPen", "N Pentane", "lbl_nPen", 6030, 1080));

        b.push_back({"fra_uptime", "Uptime", "lbl_uptime", 3285, 45, 1005, 600, 90, 270, 825, 195, BoxStyle::Uptime});
        return b;
    }();
    return all;
}

} // namespace panel
