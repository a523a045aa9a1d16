#pragma once

#include <QByteArray>
#include <QString>

// The traffic window's content, kept as the bytes it counts: every line is
// put behind a CR LF, and once the content passes 5000 characters only the
// last 4000 are kept, even if the cut falls inside a line.
class TrafficLog
{
public:
    static constexpr int Limit = 5000;
    static constexpr int Keep = 4000;

    // Appends one line (nothing for an empty text) and trims. Returns true
    // when the content was trimmed and so must be shown afresh; otherwise
    // the screen only needs CR LF + text added at its end.
    bool append(const QByteArray &text);
    void clear();
    const QByteArray &content() const { return m_content; }

    // Text for the screen: CR LF, a lone CR and a lone LF each break the
    // line; other control characters are shown as visible symbols so they
    // cannot disturb the display.
    static QString forDisplay(const QByteArray &bytes);

private:
    QByteArray m_content;
};
