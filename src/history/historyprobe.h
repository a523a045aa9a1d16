#pragma once

#include <QObject>
#include <QString>

// Tries whether a history can be read at an address, on a thread of its own,
// so that a server that does not answer holds no window: the store's own
// read-only open on a connection of that thread (a server's connect_timeout
// bounds it, 10 s unless the address says otherwise), then the connection is
// closed. The answer comes back by a queued signal. A new try while one runs
// waits for it to end. Going away never waits for a try: the try ends by
// itself, and its answer then reaches nobody.
class HistoryProbe : public QObject
{
    Q_OBJECT

public:
    explicit HistoryProbe(QObject *parent = nullptr);

    void probe(const QString &address);
    bool busy() const { return m_busy; }

signals:
    // The reason it cannot be read, as one line; empty when it can.
    void answered(const QString &address, const QString &failure);

private:
    void start();
    void done(const QString &address, const QString &failure);

    bool m_busy = false;
    QString m_next;  // the address to try once the try under way ends
    bool m_nextAsked = false;
};
