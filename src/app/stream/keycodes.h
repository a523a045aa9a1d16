#pragma once

class QKeyEvent;

// The character code a key press yields, as a terminal sends it: printable
// characters as their single-byte code, Enter as 13, Backspace as 8, Escape
// as 27, Ctrl+letter as its control code. -1 for keys without a character
// (arrows, function keys, Tab, which moves the focus) and for characters
// that have no single-byte code.
int keyCharCode(const QKeyEvent *event);
