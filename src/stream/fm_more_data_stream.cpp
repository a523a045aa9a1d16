// Receive polling and the traffic window of the main window.

#include "app/fm_more_data.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

#include "convert/attempt.h"
#include "link/socketcontrol.h"
#include "stream/parser.h"

namespace {

constexpr int BufferLimit = 5000;

} // namespace

void fm_more_data::tmrDataArrival_Timer()
{
    if (m_stream.parse_busy)
        return;
    std::int32_t waiting = 0;
    attempt([&] { waiting = Winsock_ulmex->BytesReceived(); });
    if (waiting > 0) {
        if (!attempt([&] { Winsock_ulmex->GetData(incoming_chunk); }))
            incoming_chunk.clear();
        m_stream.incoming_buffer += incoming_chunk;
        disply_text(incoming_chunk);
        incoming_chunk.clear();
        if (m_stream.incoming_buffer.size() > BufferLimit)
            m_stream.incoming_buffer.clear();
    } else if (m_stream.incoming_buffer.isEmpty()) {
        return;
    }
    // Also on a tick that fetched nothing: packets that arrived together are
    // shown one per tick rather than waiting for the unit's next send.
    parse_ulmex_string(m_stream, m_wits, *this);
}

void fm_more_data::Winsock_ulmex_DataArrival(std::int32_t bytesTotal)
{
    // The poll does all the reading.
    Q_UNUSED(bytesTotal);
}

void fm_more_data::disply_text(const QByteArray &strText)
{
    bool trimmed = false;
    attempt([&] { trimmed = m_traffic.append(strText); });
    attempt([&] {
        if (!strText.isEmpty()) {
            QTextCursor end(text_window->document());
            end.movePosition(QTextCursor::End);
            end.insertText(TrafficLog::forDisplay(QByteArrayLiteral("\r\n") + strText));
        }
        if (trimmed) {
            // The shown text of the kept bytes is always a tail of what is on
            // the screen, so only the front leaves; the lines that stay keep
            // their layout instead of being laid out afresh.
            QTextDocument *document = text_window->document();
            const qsizetype keep = TrafficLog::forDisplay(m_traffic.content()).size();
            const qsizetype drop = (document->characterCount() - 1) - keep;
            if (drop > 0) {
                QTextCursor front(document);
                front.setPosition(static_cast<int>(drop), QTextCursor::KeepAnchor);
                front.removeSelectedText();
            } else if (drop < 0) {
                text_window->setPlainText(TrafficLog::forDisplay(m_traffic.content()));
            }
        }
    });
    attempt([&] {
        text_window->moveCursor(QTextCursor::End);
        text_window->verticalScrollBar()->setValue(text_window->verticalScrollBar()->maximum());
    });
}

void fm_more_data::text_window_KeyPress(std::int16_t key)
{
    attempt([&] {
        if (socket_state == 7 && key >= 0 && key <= 255)
            Winsock_ulmex->SendData(QByteArray(1, static_cast<char>(key)));
    });
}

void fm_more_data::reportLine(const QByteArray &line)
{
    disply_text(line);
}
