#pragma once

// A unit link fed as the simulator feeds it at --rate 10, and the process's
// CPU time over turns of the event loop: what the drivers that measure a
// listener's cost at ten packets a second share.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QTimer>

#include "link/unitlink.h"
#include "samplestream.h"
#include "support/fakesocket.h"

// User and system CPU seconds of this process so far.
inline double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for this long and returns the CPU seconds it took.
inline double cpuOfTurn(int seconds)
{
    const double before = processCpuSeconds();
    QTimer::singleShot(seconds * 1000, QCoreApplication::instance(), [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    return processCpuSeconds() - before;
}

// An open link to unit 0001 on an in-memory socket that receives a data
// packet every 100 ms and a WITS record every fifth second, taken by the
// link's own poll and the real parser.
class FedLink
{
public:
    FedLink()
        : m_socket(FakeSocket::inMemory(SocketControl::Connected))
        , m_link(m_socket)
    {
        m_link.open(QStringLiteral("0001"));
        m_link.refreshState();
        QObject::connect(&m_link, &UnitLink::readingAccepted, &m_link, [this] { ++m_readings; });
        m_feed.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_feed, &QTimer::timeout, &m_link, [this] {
            m_socket->incoming += SampleStream::dataPacket(m_sent);
            if (m_sent % 50 == 0)
                m_socket->incoming += SampleStream::witsRecord(m_sent);
            ++m_sent;
        });
        m_feed.start(100);
    }

    UnitLink &link() { return m_link; }
    // Readings the link has accepted so far.
    qint64 readings() const { return m_readings; }

private:
    FakeSocket *m_socket;  // owned by the link
    UnitLink m_link;
    QTimer m_feed;
    qint64 m_readings = 0;
    int m_sent = 0;
};
