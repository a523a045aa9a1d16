#include "app/stream/trafficwindow.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

#include "rules/convert/attempt.h"
#include "app/display/colours.h"
#include "app/stream/keycodes.h"

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

    // New text reaches the screen in one update for everything that came in
    // the meantime; out of view it waits until the window is seen again.
    m_update = new QTimer(this);
    m_update->setObjectName(QStringLiteral("tmr_traffic"));
    m_update->setSingleShot(true);
    m_update->setInterval(UpdateMs);
    connect(m_update, &QTimer::timeout, this, [this] {
        if (inView()) {
            flush();
        } else {
            m_rebuild = true;
            m_pending.clear();
            m_trimmed = false;
        }
    });
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
    m_pending.clear();
    m_trimmed = false;
    m_rebuild = false;
    setPlainText(QString());
}

void TrafficWindow::showText(const QByteArray &text)
{
    bool trimmed = false;
    attempt([&] { trimmed = m_log.append(text); });
    if (!m_rebuild) {
        if (!text.isEmpty())
            m_pending += TrafficLog::forDisplay(QByteArrayLiteral("\r\n") + text);
        m_trimmed = m_trimmed || trimmed;
        // More than the window keeps is cheaper built afresh.
        if (m_pending.size() > TrafficLog::Limit)
            m_rebuild = true;
    }
    if (!m_update->isActive())
        m_update->start();
}

bool TrafficWindow::inView() const
{
    return isVisible() && !visibleRegion().isEmpty();
}

void TrafficWindow::syncWithScreen()
{
    if ((m_rebuild || !m_pending.isEmpty()) && inView())
        flush();
}

void TrafficWindow::showEvent(QShowEvent *event)
{
    QPlainTextEdit::showEvent(event);
    syncWithScreen();
}

void TrafficWindow::flush()
{
    m_update->stop();
    attempt([&] {
        if (m_rebuild) {
            setPlainText(TrafficLog::forDisplay(m_log.content()));
        } else {
            if (!m_pending.isEmpty()) {
                QTextCursor end(document());
                end.movePosition(QTextCursor::End);
                end.insertText(m_pending);
            }
            if (m_trimmed) {
                // The shown text of the kept bytes is always a tail of what
                // is on the screen, so only the front leaves; the lines that
                // stay keep their layout instead of being laid out afresh.
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
        }
    });
    m_pending.clear();
    m_trimmed = false;
    m_rebuild = false;
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
