#include "history/historyprobe.h"

#include <QThread>

#include "history/historystore.h"

HistoryProbe::HistoryProbe(QObject *parent)
    : QObject(parent)
{
}

HistoryProbe::~HistoryProbe()
{
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
    }
}

void HistoryProbe::probe(const QString &address)
{
    m_next = address;
    m_nextAsked = true;
    if (!m_thread)
        start();
}

void HistoryProbe::start()
{
    const QString address = m_next;
    m_nextAsked = false;
    // The thread only opens and closes a store of its own; its answer
    // reaches this object as a queued call, dropped if this has gone.
    m_thread = QThread::create([this, address] {
        QString failure;
        {
            HistoryStore store;
            const HistoryResult<void> opened = store.open(address, HistoryStore::Access::ReadOnly);
            if (!opened)
                failure = opened.reason().text;
        }
        QMetaObject::invokeMethod(this, [this, address, failure] { done(address, failure); }, Qt::QueuedConnection);
    });
    m_thread->start();
}

void HistoryProbe::done(const QString &address, const QString &failure)
{
    if (m_thread) {
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
    emit answered(address, failure);
    if (m_nextAsked)
        start();
}
