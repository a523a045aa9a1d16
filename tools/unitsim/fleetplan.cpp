#include "unitsim/fleetplan.h"

namespace {

// The gas of a unit: where it swings and how fast. The viewer shows gas below
// 1200 green, above 1400 yellow and above 1750 red.
const RigModel::GasCurve QuietGas{600.0, 250.0, 240};      // 350 to 850: green throughout
const RigModel::GasCurve WarningGas{1150.0, 450.0, 200};   // 700 to 1600: up into yellow and back
const RigModel::GasCurve CriticalGas{1250.0, 650.0, 160};  // 600 to 1900: through yellow into red

const QList<RigModel::AlarmStep> NoAlarms{{"0", 1}};
// A unit that raises an alarm now and then, between long quiet stretches.
const QList<RigModel::AlarmStep> FlowAndH2s{{"0", 100}, {"5", 8}, {"0", 140}, {"17", 6}};
const QList<RigModel::AlarmStep> TemperatureAndHobbs{{"0", 120}, {"10", 8}, {"0", 90}, {"19", 6}};

struct Gas
{
    const RigModel::GasCurve *curve;
    const char *words;
};
const Gas Quiet{&QuietGas, "quiet gas"};
const Gas Warning{&WarningGas, "gas up into yellow"};
const Gas Critical{&CriticalGas, "gas up into red"};

struct Alarms
{
    const QList<RigModel::AlarmStep> *steps;  // nullptr: the full alarm scenario
    const char *words;
};
const Alarms None{&NoAlarms, "no alarms"};
const Alarms Every{nullptr, "every alarm in turn"};
const Alarms Occasional1{&FlowAndH2s, "an alarm now and then"};
const Alarms Occasional2{&TemperatureAndHobbs, "an alarm now and then"};

struct Behaviour
{
    Gas gas;
    Alarms alarms;
};

// Every tenth unit, from the first on, behaves alike. Most are quiet; the
// first of each ten is the single unit's full show.
const Behaviour Behaviours[] = {
    {Critical, Every}, {Quiet, None},        {Quiet, None}, {Warning, None},
    {Quiet, None},     {Quiet, Occasional1}, {Quiet, None}, {Quiet, None},
    {Warning, Occasional2}, {Quiet, None},
};
constexpr int BehaviourCount = static_cast<int>(sizeof Behaviours / sizeof Behaviours[0]);

} // namespace

std::uint64_t FleetPlan::unitSeed(std::uint64_t baseSeed, int index)
{
    // splitmix64 of the base moved on by the unit's place.
    std::uint64_t z = baseSeed + 0x9e3779b97f4a7c15ULL * (static_cast<std::uint64_t>(index) + 1);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

QList<UnitPlan> FleetPlan::make(int count, quint16 firstPort, std::uint64_t baseSeed)
{
    QList<UnitPlan> plans;
    plans.reserve(count);
    for (int i = 0; i < count; ++i) {
        const Behaviour &behaviour = Behaviours[i % BehaviourCount];
        UnitPlan plan;
        plan.index = i;
        plan.name = QByteArray::number(i + 1).rightJustified(4, '0');
        plan.port = firstPort == 0 ? quint16(0) : static_cast<quint16>(firstPort + i);
        plan.seed = unitSeed(baseSeed, i);
        plan.gas = *behaviour.gas.curve;
        if (behaviour.alarms.steps)
            plan.alarms = *behaviour.alarms.steps;
        plan.gasWords = behaviour.gas.words;
        plan.alarmWords = behaviour.alarms.words;
        plans.append(plan);
    }
    return plans;
}

QByteArray FleetPlan::lookupTable(const QList<Entry> &entries, const QHostAddress &host)
{
    const bool everywhere = host == QHostAddress(QHostAddress::AnyIPv4) || host == QHostAddress(QHostAddress::Any);
    const QByteArray address = everywhere ? QByteArrayLiteral("127.0.0.1") : host.toString().toLatin1();
    QByteArray table;
    for (const Entry &entry : entries)
        table += entry.name + ' ' + address + ' ' + QByteArray::number(entry.port) + "\r\n";
    return table;
}
