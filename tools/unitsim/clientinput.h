#pragma once

#include <QByteArray>
#include <QList>

// Cuts what one viewer sends into keep-alives, key messages and typed bytes.
// Reads may split a message anywhere, so the start of a message that is not
// complete yet waits here for the next read; flush() gives up waiting.
class ClientInput
{
public:
    struct Event
    {
        enum class Kind { KeepAlive, KeyMessage, Typed };
        Kind kind = Kind::Typed;
        QByteArray bytes;  // the message as received, or the typed bytes
    };

    // Longest key message kept while waiting for its "]": a little over the
    // 775 characters of a good one, so a runaway message cannot grow the buffer.
    static constexpr int MaxKeyMessage = 800;

    QList<Event> feed(const QByteArray &bytes);
    // Treats what is waiting as all there is: a started key message is handed
    // over as it stands, the start of anything else counts as typed bytes.
    QList<Event> flush();
    bool hasPending() const;

private:
    QList<Event> take(bool final);
    static void addTyped(QList<Event> &events, const QByteArray &bytes);

    QByteArray m_buffer;
    // After "]" the CR and LF that end the message are not typed bytes.
    bool m_skipCr = false;
    bool m_skipLf = false;
};
