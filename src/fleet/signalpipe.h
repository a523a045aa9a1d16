#pragma once

#include <QObject>

class QSocketNotifier;

// The signals a service is stopped and reloaded with, turned into Qt
// signals on the thread that made this object. The handler does only what
// is safe in a signal handler: it writes the signal's number into one end
// of a socket pair; a QSocketNotifier on the other end reads it in the
// event loop. One object per process.
class SignalPipe : public QObject
{
    Q_OBJECT

public:
    explicit SignalPipe(QObject *parent = nullptr);
    ~SignalPipe() override;

    // Installs the handlers for SIGTERM, SIGINT and SIGHUP; false (with the
    // handlers as they were) when the pair cannot be made.
    bool install();

signals:
    void stopAsked(int signalNumber);  // SIGTERM or SIGINT
    void reloadAsked();                // SIGHUP

private:
    void readSignals();

    QSocketNotifier *m_notifier = nullptr;
};
