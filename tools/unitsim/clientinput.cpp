#include "unitsim/clientinput.h"

namespace {

const QByteArray KeepAlive = QByteArrayLiteral("[KEEP ALIVE]");
const QByteArray KeyPrefix = QByteArrayLiteral("[PGP KEY ");

} // namespace

QList<ClientInput::Event> ClientInput::feed(const QByteArray &bytes)
{
    m_buffer.append(bytes);
    return take(false);
}

QList<ClientInput::Event> ClientInput::flush()
{
    return take(true);
}

bool ClientInput::hasPending() const
{
    return !m_buffer.isEmpty();
}

void ClientInput::addTyped(QList<Event> &events, const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    if (!events.isEmpty() && events.back().kind == Event::Kind::Typed)
        events.back().bytes.append(bytes);
    else
        events.append(Event{Event::Kind::Typed, bytes});
}

QList<ClientInput::Event> ClientInput::take(bool final)
{
    QList<Event> events;
    while (!m_buffer.isEmpty()) {
        if (m_skipCr || m_skipLf) {
            const char c = m_buffer.front();
            if (m_skipCr && c == '\r') {
                m_skipCr = false;
                m_buffer.remove(0, 1);
                continue;
            }
            m_skipCr = false;
            if (m_skipLf && c == '\n') {
                m_skipLf = false;
                m_buffer.remove(0, 1);
                continue;
            }
            m_skipLf = false;
        }

        if (m_buffer.front() != '[') {
            const qsizetype next = m_buffer.indexOf('[');
            const qsizetype count = next < 0 ? m_buffer.size() : next;
            addTyped(events, m_buffer.left(count));
            m_buffer.remove(0, count);
            continue;
        }

        const bool mayBeKeepAlive = KeepAlive.startsWith(m_buffer) || m_buffer.startsWith(KeepAlive);
        const bool mayBeKey = KeyPrefix.startsWith(m_buffer) || m_buffer.startsWith(KeyPrefix);

        if (m_buffer.startsWith(KeepAlive)) {
            events.append(Event{Event::Kind::KeepAlive, KeepAlive});
            m_buffer.remove(0, KeepAlive.size());
            m_skipCr = m_skipLf = true;
            continue;
        }

        if (m_buffer.startsWith(KeyPrefix)) {
            const qsizetype close = m_buffer.indexOf(']');
            if (close >= 0 && close < MaxKeyMessage) {
                events.append(Event{Event::Kind::KeyMessage, m_buffer.left(close + 1)});
                m_buffer.remove(0, close + 1);
                m_skipCr = m_skipLf = true;
                continue;
            }
            if (close < 0 && m_buffer.size() < MaxKeyMessage && !final)
                break;
            // Too long to be a key message, or the rest never came: the viewer
            // still deserves its answer, which the decoder's refusal gives.
            const qsizetype count = qMin<qsizetype>(m_buffer.size(), MaxKeyMessage);
            events.append(Event{Event::Kind::KeyMessage, m_buffer.left(count)});
            m_buffer.remove(0, count);
            continue;
        }

        if ((mayBeKeepAlive || mayBeKey) && !final)
            break;

        // A "[" that starts nothing we know is a typed key like any other.
        addTyped(events, m_buffer.left(1));
        m_buffer.remove(0, 1);
    }
    return events;
}
