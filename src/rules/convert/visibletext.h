#pragma once

#include <QByteArray>
#include <QString>

namespace convert {

// What a line end becomes: a line break, or a picture like every other
// control character.
enum class LineEnds { Break, Picture };

// Single-byte text from the wire made safe to show: every control
// character becomes its visible picture (U+2400 to U+241F, U+2421 for DEL),
// so that it can neither disturb a display nor pass for a blank, and the
// C1 controls (0x80 to 0x9F) become U+FFFD. With LineEnds::Break, CR LF, a
// lone CR and a lone LF each become one "\n".
QString visibleText(const QByteArray &bytes, LineEnds lineEnds);

} // namespace convert
