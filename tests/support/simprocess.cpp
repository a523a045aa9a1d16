#include "support/simprocess.h"

#include <QObject>
#include <QRegularExpression>
#include <QTest>

namespace support {

SimProcess::SimProcess(const QStringList &options)
{
    launch(options);
}

SimProcess::~SimProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

bool SimProcess::available()
{
    return !qEnvironmentVariableIsEmpty("UNIT_SIM");
}

bool SimProcess::start(const QStringList &options)
{
    return launch(options) && waitListening();
}

bool SimProcess::waitListening()
{
    static const QRegularExpression first(QStringLiteral("^unit-sim listening on 127\\.0\\.0\\.1:(\\d+)$"));
    if (!QTest::qWaitFor([this] { return !m_lines.isEmpty() || m_process.state() == QProcess::NotRunning; },
                         Patience)
        || m_lines.isEmpty())
        return false;
    const QRegularExpressionMatch match = first.match(QString::fromLatin1(m_lines.front()));
    m_port = match.hasMatch() ? static_cast<quint16>(match.captured(1).toUInt()) : 0;
    return m_port != 0;
}

qsizetype SimProcess::lineIndex(const QByteArray &fragment) const
{
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (m_lines.at(i).contains(fragment))
            return i;
    }
    return -1;
}

bool SimProcess::launch(QStringList options)
{
    const QString program = qEnvironmentVariable("UNIT_SIM");
    if (program.isEmpty())
        return false;
    options.prepend(QStringLiteral("0"));
    options.prepend(QStringLiteral("--port"));
    QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process, [this] {
        const QByteArray bytes = m_process.readAllStandardError();
        m_output += bytes;
        m_pending += bytes;
        qsizetype end;
        while ((end = m_pending.indexOf('\n')) >= 0) {
            m_lines.append(m_pending.left(end));
            m_pending.remove(0, end + 1);
        }
    });
    m_process.start(program, options);
    return m_process.waitForStarted(5000);
}

} // namespace support
