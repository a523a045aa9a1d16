#pragma once

#include <cstdint>

#include <QByteArray>
#include <QPlainTextEdit>
#include <QString>

class QTimer;

#include "rules/stream/trafficlog.h"

// The traffic window: every received chunk and every report line, in the
// order they came, as yellow text on black, and a minimal terminal whose
// typed keys go to the unit. It keeps the exact bytes it was given (the
// TrafficLog) and shows them with control characters made visible.
//
// The kept bytes are always current; the screen follows them at most
// 200 ms later, in one update for whatever came meanwhile, and only while
// the window can be seen: out of view (the compact main window) nothing is
// laid out, and the text is built once when it comes into view again.
class TrafficWindow : public QPlainTextEdit
{
    Q_OBJECT

public:
    // At most this long between new text and the screen.
    static constexpr int UpdateMs = 200;

    explicit TrafficWindow(QWidget *parent = nullptr);

    // A chunk as the unit sent it, on a line of its own.
    void appendChunk(const QByteArray &chunk);
    // A report line of the viewer's own; also announced by lineAppended.
    void appendLine(const QByteArray &line);
    // Empties the window.
    void clearTraffic();
    // Brings the screen up to the kept text now, in view or not.
    void flush();
    // The window may have come into view (its owner resized or showed it):
    // shows what it holds if it is seen now.
    void syncWithScreen();

    const QByteArray &content() const { return m_log.content(); }

signals:
    // The character code of a key typed into the window (0 to 255).
    void keyTyped(std::int16_t code);
    void lineAppended(const QByteArray &line);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void showText(const QByteArray &text);
    bool inView() const;

    TrafficLog m_log;
    QString m_pending;       // shown text not yet on the screen
    bool m_trimmed = false;  // the kept text lost its front since the last update
    bool m_rebuild = false;  // the screen is built afresh from the kept text
    QTimer *m_update = nullptr;
};
