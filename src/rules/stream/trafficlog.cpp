#include "rules/stream/trafficlog.h"

#include "rules/convert/visibletext.h"

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
    return convert::visibleText(bytes, convert::LineEnds::Break);
}
