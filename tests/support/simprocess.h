#pragma once

// The simulator as a child process on a port of its own choosing, with the
// lines it writes to its standard error gathered. The path of the program
// comes from the UNIT_SIM variable that ctest sets.

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTest>

namespace support {

class SimProcess
{
public:
    static constexpr int Patience = 10000;

    SimProcess() = default;
    // Starts at once with these options; waitListening() then waits.
    explicit SimProcess(const QStringList &options) { launch(options); }
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    ~SimProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    static bool available() { return !qEnvironmentVariableIsEmpty("UNIT_SIM"); }

    // Starts and waits until it says where it listens.
    bool start(const QStringList &options)
    {
        return launch(options) && waitListening();
    }

    // Waits for the first line and takes the port from it.
    bool waitListening()
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

    quint16 port() const { return m_port; }
    // Everything it wrote so far, as it came.
    const QByteArray &output() const { return m_output; }
    const QByteArrayList &lines() const { return m_lines; }
    bool hasLine(const QByteArray &fragment) const { return lineIndex(fragment) >= 0; }
    qsizetype lineIndex(const QByteArray &fragment) const
    {
        for (qsizetype i = 0; i < m_lines.size(); ++i) {
            if (m_lines.at(i).contains(fragment))
                return i;
        }
        return -1;
    }
    QByteArray allLines() const { return m_lines.join('\n'); }
    QProcess &process() { return m_process; }

private:
    bool launch(QStringList options)
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

    QProcess m_process;
    QByteArray m_output;
    QByteArray m_pending;
    QByteArrayList m_lines;
    quint16 m_port = 0;
};

} // namespace support
