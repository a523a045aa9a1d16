#include "history/readerthread.h"

#include <algorithm>
#include <vector>

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

namespace {

// Never destroyed, so that nothing about a thread left behind at the
// program's end can touch it after the statics have gone.
struct Running
{
    QMutex mutex;
    std::vector<QThread *> threads;
};

Running &runningReaders()
{
    static auto *threads = new Running;
    return *threads;
}

void waitAtTheEnd()
{
    readerthread::waitForAll(QDeadlineTimer(readerthread::EndGraceMs));
}

} // namespace

namespace readerthread {

QThread *start(QObject *work, const QString &name)
{
    // The post routine runs first thing in the application's destructor,
    // before the database layer's own statics go.
    static const bool waitsAtTheEnd = (qAddPostRoutine(waitAtTheEnd), true);
    Q_UNUSED(waitsAtTheEnd);

    auto *thread = new QThread;
    thread->setObjectName(name);
    work->moveToThread(thread);
    {
        QMutexLocker lock(&runningReaders().mutex);
        runningReaders().threads.push_back(thread);
    }
    QObject::connect(thread, &QThread::finished, work, &QObject::deleteLater);
    // The work is deleted on its thread as that ends (before wait() returns);
    // the thread afterwards, on this one, and only then leaves the list, so
    // that waiting for every thread listed covers a work still closing.
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater, Qt::QueuedConnection);
    QObject::connect(thread, &QObject::destroyed, [thread] {
        QMutexLocker lock(&runningReaders().mutex);
        auto &threads = runningReaders().threads;
        threads.erase(std::remove(threads.begin(), threads.end(), thread), threads.end());
    });
    thread->start();
    return thread;
}

bool waitForAll(QDeadlineTimer deadline)
{
    // The threads are deleted only on the thread that made them, which is
    // this one: the copies stay valid while it waits.
    std::vector<QThread *> threads;
    {
        QMutexLocker lock(&runningReaders().mutex);
        threads = runningReaders().threads;
    }
    bool allEnded = true;
    for (QThread *thread : threads)
        allEnded = thread->wait(deadline) && allEnded;
    return allEnded;
}

} // namespace readerthread
