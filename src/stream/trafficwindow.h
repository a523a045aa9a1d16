#pragma once

#include <cstdint>

#include <QByteArray>
#include <QPlainTextEdit>

#include "stream/trafficlog.h"

// The traffic window: every received chunk and every report line, in the
// order they came, as yellow text on black, and a minimal terminal whose
// typed keys go to the unit. It keeps the exact bytes it was given (the
// TrafficLog) and shows them with control characters made visible.
class TrafficWindow : public QPlainTextEdit
{
    Q_OBJECT

public:
    explicit TrafficWindow(QWidget *parent = nullptr);

    // A chunk as the unit sent it, on a line of its own.
    void appendChunk(const QByteArray &chunk);
    // A report line of the viewer's own; also announced by lineAppended.
    void appendLine(const QByteArray &line);
    // Empties the window.
    void clearTraffic();

    const QByteArray &content() const { return m_log.content(); }

signals:
    // The character code of a key typed into the window (0 to 255).
    void keyTyped(std::int16_t code);
    void lineAppended(const QByteArray &line);

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showText(const QByteArray &text);

    TrafficLog m_log;
};
