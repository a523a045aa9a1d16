#include "fleet/fleetunit.h"

#include <exception>

#include <QTimer>

#include "link/unitlink.h"
#include "rules/config/lookupfile.h"
#include "rules/convert/convert.h"
#include "rules/stream/linkstate.h"
#include "rules/stream/reading.h"

namespace {

// The viewer connects only to a host of more than four characters.
constexpr qsizetype ShortestHost = 5;

QString seconds(qint64 ms)
{
    return QString::number(double(ms) / 1000.0, 'f', 1) + QStringLiteral(" s");
}

} // namespace

FleetUnit::FleetUnit(const QByteArray &serial, const Context &context, QObject *parent)
    : QObject(parent)
    , m_serial(serial)
    , m_unit(QString::fromLatin1(serial))
    , m_context(context)
    , m_link(new UnitLink(context.makeSocket ? context.makeSocket() : nullptr, this))
    , m_policy(context.clock, context.random)
    , m_retry(new QTimer(this))
{
    setObjectName(QStringLiteral("FleetUnit ") + m_unit);
    m_link->setWitsTable(context.wits);
    // The recorder shows nothing: no reading is ever dimmed.
    m_link->setStaleSeconds(0);
    m_retry->setSingleShot(true);
    connect(m_retry, &QTimer::timeout, this, &FleetUnit::attempt);
    connect(m_link, &UnitLink::stateChanged, this, &FleetUnit::linkState);
    connect(m_link, &UnitLink::readingAccepted, this, &FleetUnit::readingAccepted);
    connect(m_link, &UnitLink::witsRecordStarted, this, &FleetUnit::witsRecordStarted);
    connect(m_link, &UnitLink::witsItemRead, this, &FleetUnit::witsItemRead);
    connect(m_link, &UnitLink::uptimeChanged, this, &FleetUnit::delivered);
    connect(m_link, &UnitLink::twoWayModeChanged, this, &FleetUnit::delivered);
}

FleetUnit::~FleetUnit()
{
    m_link->stop();
}

bool FleetUnit::waiting() const
{
    return m_retry->isActive();
}

void FleetUnit::start()
{
    attempt();
}

QString FleetUnit::server() const
{
    return QString::fromLatin1(m_address) + QLatin1Char(':') + QString::fromLatin1(m_port);
}

void FleetUnit::attempt()
{
    if (m_finished)
        return;
    m_policy.opening();
    const QList<QByteArray> reports =
        readLookupTable(m_context.lookupPath, m_serial, m_address, m_port);
    if (!reports.isEmpty()) {
        lost(QStringLiteral("lookup error"), QString::fromLatin1(reports.join(' ')));
        return;
    }
    if (m_address.size() < ShortestHost) {
        lost(QStringLiteral("lookup error"),
             m_address.isEmpty() ? QStringLiteral("no row of the lookup table serves it")
                                 : QStringLiteral("the lookup table gives the host \"%1\"").arg(QString::fromLatin1(m_address)));
        return;
    }
    try {
        m_link->close();
        m_link->refreshState();
        m_link->setRemoteHost(QString::fromLatin1(m_address));
        m_link->setLocalPort(0);
        m_link->setRemotePort(convert::toInt32(convert::leadingNumber(m_port)));
        m_link->open(m_unit);
        m_opening = true;
    } catch (const std::exception &fault) {
        lost(QStringLiteral("link error"), QStringLiteral("cannot connect to %1: %2").arg(server(), QString::fromLatin1(fault.what())));
    }
}

void FleetUnit::linkState(std::int16_t state)
{
    if (m_finished || !m_opening)
        return;
    switch (state) {
    case LinkState::Connected:
        m_policy.up();
        record(QStringLiteral("connected"), QStringLiteral("connected to %1").arg(server()));
        break;
    case LinkState::Closing:
        lost(QStringLiteral("unit ended"), QStringLiteral("the unit ended the connection"));
        break;
    case LinkState::Error: {
        const QString why = m_link->errorText().isEmpty() ? QStringLiteral("no reason given") : m_link->errorText();
        lost(QStringLiteral("link error"), m_policy.isUp() ? QStringLiteral("the link failed: %1").arg(why)
                                                           : QStringLiteral("connection to %1 failed: %2").arg(server(), why));
        break;
    }
    case LinkState::Closed:
        lost(QStringLiteral("link error"), QStringLiteral("the link closed"));
        break;
    default:
        break;
    }
}

void FleetUnit::lost(const QString &kind, const QString &why)
{
    m_opening = false;
    m_link->close();
    const qint64 wait = m_policy.down();
    m_retry->start(int(wait));
    record(kind, why + QStringLiteral("; next attempt in ") + seconds(wait));
}

void FleetUnit::checkSilence()
{
    if (m_finished || !m_opening || !m_policy.silent())
        return;
    lost(QStringLiteral("silent"),
         QStringLiteral("nothing received for %1, the link is closed").arg(seconds(ReconnectPolicy::SilenceMs)));
}

void FleetUnit::drain()
{
    if (m_finished)
        return;
    // A flood larger than one poll's runs takes a few.
    for (int i = 0; i < 10; ++i) {
        m_link->poll();
        if (!m_link->unit().hasBacklog())
            break;
    }
}

void FleetUnit::finish(const QString &why)
{
    if (m_finished)
        return;
    m_finished = true;
    m_retry->stop();
    m_opening = false;
    m_link->close();
    m_link->stop();
    record(QStringLiteral("disconnected"), why);
}

void FleetUnit::record(const QString &kind, const QString &detail)
{
    m_rows.events.push_back({m_context.wallClock(), m_unit, kind, detail});
    emit event(kind, detail);
}

void FleetUnit::delivered()
{
    m_policy.delivered();
}

void FleetUnit::readingAccepted(const Reading &reading)
{
    m_policy.delivered();
    m_rows.readings.push_back(history::readingRow(reading));
}

void FleetUnit::witsRecordStarted(const QByteArray &record)
{
    m_policy.delivered();
    m_witsTimeMs = m_context.wallClock();
    m_witsPosition = 0;
    m_rows.witsRecords.push_back({m_witsTimeMs, m_unit, record});
}

void FleetUnit::witsItemRead(const WitsItem &item)
{
    m_rows.witsItems.push_back({m_witsTimeMs, m_unit, m_witsPosition++, item.code, item.value});
}

history::Batch FleetUnit::takeRows()
{
    history::Batch rows = std::move(m_rows);
    m_rows.clear();
    return rows;
}
