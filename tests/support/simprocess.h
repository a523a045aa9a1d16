#pragma once

// The simulator as a child process on a port of its own choosing, with the
// lines it writes to its standard error gathered. The path of the program
// comes from the UNIT_SIM variable that ctest sets.

#include <QByteArray>
#include <QByteArrayList>
#include <QProcess>
#include <QStringList>

namespace support {

class SimProcess
{
public:
    static constexpr int Patience = 10000;

    SimProcess() = default;
    // Starts at once with these options; waitListening() then waits.
    explicit SimProcess(const QStringList &options);
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;
    ~SimProcess();

    static bool available();

    // Starts and waits until it says where it listens.
    bool start(const QStringList &options);

    // Waits for the first line and takes the port from it.
    bool waitListening();

    quint16 port() const { return m_port; }
    // Everything it wrote so far, as it came.
    const QByteArray &output() const { return m_output; }
    const QByteArrayList &lines() const { return m_lines; }
    bool hasLine(const QByteArray &fragment) const { return lineIndex(fragment) >= 0; }
    qsizetype lineIndex(const QByteArray &fragment) const;
    QByteArray allLines() const { return m_lines.join('\n'); }
    QProcess &process() { return m_process; }

private:
    bool launch(QStringList options);

    QProcess m_process;
    QByteArray m_output;
    QByteArray m_pending;
    QByteArrayList m_lines;
    quint16 m_port = 0;
};

} // namespace support
