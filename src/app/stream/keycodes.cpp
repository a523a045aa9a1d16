#include "app/stream/keycodes.h"

#include <QKeyEvent>

int keyCharCode(const QKeyEvent *event)
{
    const int key = event->key();
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return -1;
    default:
        break;
    }
    // Ctrl+Alt is how some keyboards report AltGr: the character it types
    // counts, not a control code.
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool control = (modifiers & Qt::ControlModifier) && !(modifiers & Qt::AltModifier);
    if (control && key >= Qt::Key_A && key <= Qt::Key_Z)
        return key - Qt::Key_A + 1;
    const QString text = event->text();
    if (text.size() != 1)
        return -1;
    const ushort code = text.at(0).unicode();
    if (code > 0xFF)
        return -1;
    return code;
}
