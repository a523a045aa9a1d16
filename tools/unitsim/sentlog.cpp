#include "unitsim/sentlog.h"

#include <QFile>
#include <QTimer>

#include "unitsim/safefile.h"

namespace {

constexpr int FlushMs = 1000;

} // namespace

std::unique_ptr<SentLog> SentLog::create(const QString &path, QString *error)
{
    std::unique_ptr<QFile> file = SafeFile::createLog(path, error);
    if (!file)
        return nullptr;
    return std::unique_ptr<SentLog>(new SentLog(std::move(file), path));
}

SentLog::SentLog(std::unique_ptr<QFile> file, const QString &path)
    : m_file(std::move(file))
    , m_path(path)
    , m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &SentLog::flush);
    m_timer->start(FlushMs);
}

SentLog::~SentLog()
{
    flush();
}

void SentLog::record(const QByteArray &unit, std::uint64_t packetNumber, qint64 unixMs)
{
    m_pending += unit;
    m_pending += ',';
    m_pending += QByteArray::number(static_cast<qulonglong>(packetNumber));
    m_pending += ',';
    m_pending += QByteArray::number(unixMs);
    m_pending += '\n';
}

bool SentLog::flush()
{
    if (m_pending.isEmpty())
        return true;
    const qint64 written = m_file->write(m_pending);
    const bool ok = written == m_pending.size() && m_file->flush();
    // A file that stops taking lines (a full disk) must not make the log grow
    // in memory: what it refused is dropped, and the one line says so.
    m_pending.clear();
    if (!ok && !m_reported) {
        m_reported = true;
        emit failed(QStringLiteral("cannot write the sent log %1: %2").arg(m_path, m_file->errorString()));
    }
    return ok;
}
