#pragma once

#include <QList>
#include <QPair>

// The reading panel written out by hand, independently of the window's own
// field table, so a test catches a field shown in the wrong box.
// Every label that shows a packet field, with the field it shows.
inline const QList<QPair<int, const char *>> &fieldLabels()
{
    static const QList<QPair<int, const char *>> labels = {
        {2, "lbl_date"},       {3, "lbl_time"},      {4, "lbl_DrillDepth"}, {5, "lbl_GasUnits"},
        {6, "lbl_Lel"},        {7, "lbl_Methane"},   {8, "lbl_Ppm"},        {9, "lbl_Temp"},
        {10, "lbl_DrilRateMF"}, {11, "lbl_DrilRateFH"}, {12, "lbl_Lph"},     {13, "lbl_Vac"},
        {14, "lbl_Volts"},     {15, "lbl_vq21"},     {16, "lbl_vq6"},       {17, "lbl_cg_num"},
        {18, "lbl_vq6cg"},     {19, "lbl_vq101"},    {20, "lbl_h2s_ppm"},   {21, "lbl_err"},
        {22, "lbl_samplemot"}, {23, "lbl_rssi"},     {24, "lbl_rigvolts"},  {25, "lbl_rigfreq"},
        {26, "lbl_dcamps"},    {27, "lbl_hrmtemp"},  {28, "lbl_chromvac"},  {29, "lbl_packetnum"},
        {30, "lbl_c1"},        {31, "lbl_c2"},       {32, "lbl_c3"},        {33, "lbl_ic4"},
        {34, "lbl_nc4"},       {35, "lbl_exh"},      {36, "lbl_col_tmp"},   {37, "lbl_lag_depth"},
        {38, "lbl_hobbs"},     {39, "lbl_iPen"},     {40, "lbl_nPen"},
    };
    return labels;
}
