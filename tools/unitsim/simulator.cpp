#include "unitsim/simulator.h"

#include <QTimer>

#include "unitsim/fleetplan.h"
#include "unitsim/safefile.h"
#include "unitsim/sentlog.h"
#include "unitsim/unitserver.h"

namespace {

// Sessions give a viewer that does not read a second to take its last bytes;
// past this the simulator ends without waiting for the rest.
constexpr int StopDeadlineMs = 3000;

QByteArray address(const UnitServer *unit)
{
    return unit->serverAddress().toString().toLatin1() + ':' + QByteArray::number(unit->serverPort());
}

} // namespace

QByteArray Simulator::behaviour(const UnitPlan &plan) const
{
    if (m_options.replaying())
        return "replaying " + m_options.replayFile.toLocal8Bit();
    return (m_options.gas.isEmpty() ? plan.gasWords : "gas held at " + m_options.gas) + ", "
           + (m_options.alarm.isEmpty() ? plan.alarmWords : "error number held at " + m_options.alarm);
}

Simulator::Simulator(const SimOptions &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_deadline(new QTimer(this))
{
    m_deadline->setSingleShot(true);
    connect(m_deadline, &QTimer::timeout, this, &Simulator::finish);
}

Simulator::~Simulator() = default;

bool Simulator::start(QString *error)
{
    if (!m_options.sentLogFile.isEmpty()) {
        m_sentLog = SentLog::create(m_options.sentLogFile, error);
        if (!m_sentLog)
            return false;
        connect(m_sentLog.get(), &SentLog::failed, this, [this](const QString &why) {
            emit eventLine("unit-sim: " + why.toLocal8Bit());
        });
    }

    const std::uint64_t baseSeed = m_options.seeded ? m_options.seed : RandomSource::freshSeed();
    QList<UnitPlan> plans;
    if (m_options.fleet())
        plans = FleetPlan::make(m_options.units, m_options.port, baseSeed);
    for (qsizetype i = 0; i < m_options.unitCount(); ++i) {
        auto *unit = new UnitServer(m_options, m_options.fleet() ? &plans.at(i) : nullptr, m_sentLog.get(), this);
        connect(unit, &UnitServer::eventLine, this, &Simulator::eventLine);
        connect(unit, &UnitServer::stopped, this, &Simulator::onUnitStopped);
        m_units.append(unit);
    }

    // Every port and the table first: a simulator that fails says nothing
    // of listening.
    auto fail = [this, error](const QString &why) {
        *error = why;
        qDeleteAll(m_units);
        m_units.clear();
        return false;
    };
    for (UnitServer *unit : std::as_const(m_units)) {
        if (!unit->listen()) {
            const quint16 port = m_options.fleet() ? plans.at(m_units.indexOf(unit)).port : m_options.port;
            return fail((m_options.fleet() ? QStringLiteral("unit %1 ").arg(QString::fromLatin1(unit->name())) : QString())
                        + QStringLiteral("cannot listen on %1:%2: %3")
                              .arg(m_options.host.toString()).arg(port).arg(unit->errorString()));
        }
    }
    if (!m_options.lookupFile.isEmpty()) {
        QList<FleetPlan::Entry> entries;
        for (const UnitServer *unit : std::as_const(m_units))
            entries.append({unit->name(), unit->serverPort()});
        if (!SafeFile::writeWhole(m_options.lookupFile, FleetPlan::lookupTable(entries, m_options.host), error))
            return fail(QStringLiteral("--write-lookup: ") + *error);
    }
    m_running = static_cast<int>(m_units.size());

    for (qsizetype i = 0; i < m_units.size(); ++i) {
        const UnitServer *unit = m_units.at(i);
        if (m_options.fleet())
            emit eventLine("unit " + unit->name() + " listening on " + address(unit) + ": " + behaviour(plans.at(i)));
        else
            emit eventLine("unit-sim listening on " + address(unit));
    }
    if (!m_options.lookupFile.isEmpty())
        emit eventLine("unit-sim wrote the lookup table " + m_options.lookupFile.toLocal8Bit() + " for "
                       + QByteArray::number(m_units.size()) + (m_units.size() == 1 ? " unit" : " units"));
    if (m_options.fleet())
        emit eventLine("unit-sim: " + QByteArray::number(m_units.size()) + " units listening on "
                       + m_options.host.toString().toLatin1() + ", seed "
                       + QByteArray::number(static_cast<qulonglong>(baseSeed)));
    return true;
}

void Simulator::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_deadline->start(StopDeadlineMs);
    if (m_units.isEmpty()) {
        finish();
        return;
    }
    const QList<UnitServer *> units = m_units;
    for (UnitServer *unit : units)
        unit->stop();
}

void Simulator::onUnitStopped()
{
    if (--m_running <= 0)
        finish();
}

void Simulator::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_deadline->stop();
    if (m_sentLog)
        m_sentLog->flush();
    emit finished();
}
