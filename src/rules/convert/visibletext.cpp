#include "rules/convert/visibletext.h"

namespace convert {

QString visibleText(const QByteArray &bytes, LineEnds lineEnds)
{
    QString shown;
    shown.reserve(bytes.size());
    const qsizetype n = bytes.size();
    for (qsizetype i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(bytes.at(i));
        if (lineEnds == LineEnds::Break && (c == '\r' || c == '\n')) {
            if (c == '\r' && i + 1 < n && bytes.at(i + 1) == '\n')
                ++i;
            shown += QLatin1Char('\n');
        } else if (c < 0x20) {
            // A tab too: a gap would pass for blanks.
            shown += QChar(0x2400 + c);
        } else if (c == 0x7F) {
            shown += QChar(0x2421);
        } else if (c >= 0x80 && c < 0xA0) {
            shown += QChar(0xFFFD);
        } else {
            shown += QLatin1Char(static_cast<char>(c));
        }
    }
    return shown;
}

} // namespace convert
