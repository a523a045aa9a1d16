#include "stream/trafficwindow.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>

#include "convert/attempt.h"
#include "display/colours.h"
#include "stream/keycodes.h"

TrafficWindow::TrafficWindow(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("text_window"));
    setReadOnly(true);
    // Text only ever comes from the stream; an undo history would only grow.
    setUndoRedoEnabled(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Packets have no blanks: wrap them at the window's edge like a terminal.
    setWordWrapMode(QTextOption::WrapAnywhere);
    setToolTip(QStringLiteral("Allows direct viewing of incoming data packets"));
    QFont mono;
    mono.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Liberation Mono"),
                      QStringLiteral("Courier New")});
    mono.setPointSizeF(8.25);
    setFont(mono);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, colours::black());
    palette.setColor(QPalette::Text, colours::yellow());
    setPalette(palette);
}

void TrafficWindow::appendChunk(const QByteArray &chunk)
{
    showText(chunk);
}

void TrafficWindow::appendLine(const QByteArray &line)
{
    showText(line);
    if (!line.isEmpty())
        emit lineAppended(line);
}

void TrafficWindow::clearTraffic()
{
    m_log.clear();
    setPlainText(QString());
}

void TrafficWindow::showText(const QByteArray &text)
{
    bool trimmed = false;
    attempt([&] { trimmed = m_log.append(text); });
    attempt([&] {
        if (!text.isEmpty()) {
            QTextCursor end(document());
            end.movePosition(QTextCursor::End);
            end.insertText(TrafficLog::forDisplay(QByteArrayLiteral("\r\n") + text));
        }
        if (trimmed) {
            // The shown text of the kept bytes is always a tail of what is on
            // the screen, so only the front leaves; the lines that stay keep
            // their layout instead of being laid out afresh.
            const qsizetype keep = TrafficLog::forDisplay(m_log.content()).size();
            const qsizetype drop = (document()->characterCount() - 1) - keep;
            if (drop > 0) {
                QTextCursor front(document());
                front.setPosition(static_cast<int>(drop), QTextCursor::KeepAnchor);
                front.removeSelectedText();
            } else if (drop < 0) {
                setPlainText(TrafficLog::forDisplay(m_log.content()));
            }
        }
    });
    attempt([&] {
        moveCursor(QTextCursor::End);
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    });
}

void TrafficWindow::keyPressEvent(QKeyEvent *event)
{
    // Every key with a character goes to the unit and nowhere else; keys
    // without one (arrows, Page Up) still move through the text.
    const int code = keyCharCode(event);
    if (code < 0) {
        QPlainTextEdit::keyPressEvent(event);
        return;
    }
    event->accept();
    emit keyTyped(static_cast<std::int16_t>(code));
}
