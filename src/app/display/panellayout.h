#pragma once

#include <array>
#include <vector>

// Where every box of the reading panel stands, in twips (1/1440 inch) of the
// main window's client area, and how it is drawn.
namespace panel {

enum class BoxStyle { Large, LargeCyan, Small, Chromatograph, ErrorText, Uptime };

struct Box
{
    const char *frame;    // objectName of the frame
    const char *caption;  // frame caption
    const char *label;    // objectName of the label inside
    int left, top, width, height;  // the frame
    int labelLeft, labelTop, labelWidth, labelHeight;  // the label, inside the frame
    BoxStyle style;
};

const std::vector<Box> &boxes();

// The window's design client size.
constexpr int DesignWidth = 7065;
constexpr int DesignHeight = 4995;

// Outer window sizes of the two panel states.
constexpr int FullWidth = 11115;
constexpr int FullHeight = 11115;
constexpr int CompactWidth = 7200;
constexpr int CompactHeight = 4425;

// The scales the operator can choose for the whole panel, in percent.
constexpr std::array<int, 4> ZoomSteps = {100, 125, 150, 200};

} // namespace panel
