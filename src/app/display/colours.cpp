#include "app/display/colours.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFont>
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
    // Most styles draw a button's face as a gradient or a texture made from
    // the palette, or ignore it: a style sheet gives the face the exact
    // colour whatever the style, with the caption in the button text colour.
    const bool button = qobject_cast<const QAbstractButton *>(widget) != nullptr;
    const QString sheet = button ? QStringLiteral("QPushButton { background-color: %1; color: %2;"
                                                  " border: 1px solid #606060; border-radius: 2px; }"
                                                  "QPushButton:pressed { background-color: %3; }"
                                                  "QPushButton:focus { border: 1px solid #000000; }")
                                       .arg(colour.name(), buttonText().name(), colour.darker(120).name())
                                 : QString();
    // Nothing to repaint when the colour stands already. A style sheet set
    // again, even the same one, restyles and repaints the button, and the
    // WITS button is set every second. (The style sheet's style takes the
    // button's background filling over, so only its sheet tells.)
    const bool stands = button ? widget->styleSheet() == sheet
                               : widget->autoFillBackground() && backColor(widget) == colour;
    if (stands)
        return;
    QPalette palette = widget->palette();
    palette.setColor(backRole(widget), colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
    if (button) {
        // A style sheet set on a shown button resolves its font again and
        // drops the panel font's list of families on the way, so the caption
        // would change to the default face: the button keeps the font it had.
        const QFont font = widget->font();
        widget->setStyleSheet(sheet);
        widget->setFont(font);
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
