#include "history/historyprobe.h"

#include <QThread>

#include "history/historystore.h"
#include "history/readerthread.h"

namespace {

// One try, on its thread; it and its thread go once it has answered.
class ProbeRun : public QObject
{
    Q_OBJECT

public:
    explicit ProbeRun(QString address)
        : m_address(std::move(address))
    {
    }

    void run()
    {
        QString failure;
        {
            HistoryStore store;
            const HistoryResult<void> opened = store.open(m_address, HistoryStore::Access::ReadOnly, readerLimits());
            if (!opened)
                failure = opened.reason().text;
        }
        emit done(m_address, failure);
    }

signals:
    void done(const QString &address, const QString &failure);

private:
    QString m_address;
};

} // namespace

HistoryProbe::HistoryProbe(QObject *parent)
    : QObject(parent)
{
}

void HistoryProbe::probe(const QString &address)
{
    m_next = address;
    m_nextAsked = true;
    if (!m_busy)
        start();
}

void HistoryProbe::start()
{
    m_busy = true;
    m_nextAsked = false;
    auto *run = new ProbeRun(m_next);
    // Queued: the answer is taken on this object's thread, and a probe gone
    // meanwhile takes none.
    connect(run, &ProbeRun::done, this, &HistoryProbe::done, Qt::QueuedConnection);
    connect(run, &ProbeRun::done, run, [run] { run->thread()->quit(); }, Qt::DirectConnection);
    readerthread::start(run, QStringLiteral("history probe"));
    QMetaObject::invokeMethod(run, &ProbeRun::run, Qt::QueuedConnection);
}

void HistoryProbe::done(const QString &address, const QString &failure)
{
    m_busy = false;
    emit answered(address, failure);
    if (m_nextAsked)
        start();
}

#include "historyprobe.moc"
