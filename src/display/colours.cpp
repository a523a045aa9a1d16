#include "display/colours.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPalette>
#include <QWidget>

namespace colours {

namespace {

// Buttons draw their face from the Button role, everything else from Window.
QPalette::ColorRole backRole(const QWidget *widget)
{
    return qobject_cast<const QAbstractButton *>(widget) ? QPalette::Button : QPalette::Window;
}

QPalette::ColorRole foreRole(const QWidget *widget)
{
    return qobject_cast<const QAbstractButton *>(widget) ? QPalette::ButtonText : QPalette::WindowText;
}

} // namespace

QColor buttonFace()
{
    return QApplication::palette().color(QPalette::Button);
}

QColor buttonText()
{
    return QApplication::palette().color(QPalette::ButtonText);
}

void setBackColor(QWidget *widget, const QColor &colour)
{
    // Nothing to repaint when the colour stands already.
    if (widget->autoFillBackground() && backColor(widget) == colour)
        return;
    QPalette palette = widget->palette();
    palette.setColor(backRole(widget), colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    // Most styles draw a button's face as a gradient or a texture made from
    // the palette, or ignore it: a style sheet gives the face the exact
    // colour whatever the style, with the caption in the button text colour.
    if (qobject_cast<const QAbstractButton *>(widget)) {
        widget->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; color: %2;"
                                             " border: 1px solid #606060; border-radius: 2px; }"
                                             "QPushButton:pressed { background-color: %3; }"
                                             "QPushButton:focus { border: 1px solid #000000; }")
                                  .arg(colour.name(), buttonText().name(), colour.darker(120).name()));
    }
}

void setForeColor(QWidget *widget, const QColor &colour)
{
    if (foreColor(widget) == colour)
        return;
    QPalette palette = widget->palette();
    palette.setColor(foreRole(widget), colour);
    widget->setPalette(palette);
}

QColor backColor(const QWidget *widget)
{
    return widget->palette().color(backRole(widget));
}

QColor foreColor(const QWidget *widget)
{
    return widget->palette().color(foreRole(widget));
}

} // namespace colours
