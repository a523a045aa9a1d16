#include "stream/trafficlog.h"

bool TrafficLog::append(const QByteArray &text)
{
    if (!text.isEmpty()) {
        m_content += "\r\n";
        m_content += text;
    }
    if (m_content.size() > Limit) {
        m_content = m_content.right(Keep);
        return true;
    }
    return false;
}

void TrafficLog::clear()
{
    m_content.clear();
}

QString TrafficLog::forDisplay(const QByteArray &bytes)
{
    QString shown;
    shown.reserve(bytes.size());
    const int n = bytes.size();
    for (int i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(bytes.at(i));
        if (c == '\r') {
            if (i + 1 < n && bytes.at(i + 1) == '\n')
                ++i;
            shown += QLatin1Char('\n');
        } else if (c == '\n') {
            shown += QLatin1Char('\n');
        } else if (c < 0x20) {
            // A tab too: the window shows the bytes as they came, and a gap
            // would pass for blanks.
            shown += QChar(0x2400 + c);  // control pictures
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
