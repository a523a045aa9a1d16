#pragma once

#include <QColor>

#include "rules/readings/levelpalette.h"

class QWidget;

// The colours of the panel and the two ways a widget is coloured: its back
// colour (label or button face) and its text colour.
namespace colours {

inline QColor red() { return QColor(255, 0, 0); }
inline QColor green() { return QColor(0, 255, 0); }
inline QColor yellow() { return QColor(255, 255, 0); }
inline QColor orange() { return QColor(255, 128, 0); }
inline QColor lightGrey() { return QColor(224, 224, 224); }
inline QColor lightCyan() { return QColor(192, 255, 255); }
inline QColor black() { return QColor(0, 0, 0); }
inline QColor white() { return QColor(255, 255, 255); }
// Readings that are no longer current are drawn in this grey.
inline QColor staleText() { return QColor(128, 128, 128); }

// A colour of the level palette (the board, the alarm list, the trends'
// bands), with the opacity given.
inline QColor of(const readings::Rgb &rgb, int alpha = 255) { return QColor(rgb.red, rgb.green, rgb.blue, alpha); }

// The system's face and text colours of buttons, the default of every label
// and button that nothing else colours.
QColor buttonFace();
QColor buttonText();

void setBackColor(QWidget *widget, const QColor &colour);
void setForeColor(QWidget *widget, const QColor &colour);
QColor backColor(const QWidget *widget);
QColor foreColor(const QWidget *widget);

} // namespace colours
