#include "rules/mudlog/mudlog.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <QSettings>

#include "rules/stream/reading.h"
#include "rules/trends/trendsample.h"

namespace mudlog {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

std::optional<double> valueOf(double value)
{
    return std::isnan(value) ? std::nullopt : std::optional<double>(value);
}

double orNaN(std::optional<double> value)
{
    return value ? *value : NaN;
}

bool usableBinSize(double size)
{
    return std::isfinite(size) && size >= SmallestBinSize && size <= LargestBinSize;
}

// The bit of an error number in a bin's alarms; 0 for none.
quint32 alarmBit(double errorCode)
{
    if (!(errorCode > 0))
        return 0;
    for (int code = 1; code <= 19; ++code) {
        if (errorCode == code)
            return 1u << code;
    }
    return 1u;
}

} // namespace

MudReading mudReadingOf(const trends::Sample &sample, double errorCode)
{
    MudReading reading;
    reading.timeMs = sample.timeMs;
    reading.holeDepth = valueOf(sample[trends::HoleDepth]);
    reading.lagDepth = valueOf(sample[trends::LagDepth]);
    reading.gasUnits = valueOf(sample[trends::GasUnits]);
    reading.gas = trends::chromatographOf(sample);
    reading.errorCode = errorCode;
    return reading;
}

MudReading mudReadingOf(const Reading &reading)
{
    return mudReadingOf(trends::sampleOf(reading), reading.errorCode);
}

Result<double> binSizeSetting(const QSettings &settings, DepthUnit unit)
{
    const QString key = QString::fromLatin1(BinSizeKey);
    const QVariant value = settings.value(key);
    if (!value.isValid())
        return defaultBinSize(unit);
    const QString shown = value.toStringList().join(QStringLiteral(", "));
    bool ok = false;
    const double size = shown.trimmed().toDouble(&ok);
    if (ok && usableBinSize(size))
        return size;
    return failure(QStringLiteral("%1=%2 is not a bin size from %3 to %4; %5 %6 is used")
                       .arg(key, shown)
                       .arg(SmallestBinSize)
                       .arg(LargestBinSize)
                       .arg(defaultBinSize(unit))
                       .arg(unitSymbol(unit)));
}

MudLogSetup mudLogSetup(const QSettings &settings)
{
    MudLogSetup setup;
    const Result<DepthUnit> unit = depthUnitSetting(settings);
    if (!unit)
        setup.problems << unit.reason();
    setup.settings = MudLogSettings::forUnit(unit ? *unit : DefaultDepthUnit);
    const Result<double> size = binSizeSetting(settings, setup.settings.unit);
    if (size)
        setup.settings.binSize = *size;
    else
        setup.problems << size.reason();
    return setup;
}

MudBin::MudBin()
    : m_gasUnits(NaN)
{
    m_chromatograph.fill(NaN);
}

std::optional<double> MudBin::gasUnits() const
{
    return valueOf(m_gasUnits);
}

trends::Chromatograph MudBin::chromatograph() const
{
    const auto &c = m_chromatograph;
    return {valueOf(c[0]), valueOf(c[1]), valueOf(c[2]), valueOf(c[3]),
            valueOf(c[4]), valueOf(c[5]), valueOf(c[6])};
}

trends::GasRatios MudBin::ratios() const
{
    return trends::gasRatios(chromatograph());
}

CombinedReading MudBin::combined() const
{
    return combinedReading(ratios());
}

PixlerReading MudBin::pixler() const
{
    return pixlerReading(ratios());
}

QList<int> MudBin::alarmCodes() const
{
    QList<int> codes;
    for (int code = 1; code <= 19; ++code) {
        if (m_alarms & (1u << code))
            codes.append(code);
    }
    if (m_alarms & 1u)
        codes.append(0);
    return codes;
}

std::optional<double> MudBin::drillingRate() const
{
    if (!(m_drilledLength > 0))
        return std::nullopt;
    return m_drillingMinutes / m_drilledLength;
}

void MudBin::clearGas()
{
    m_timeMs = 0;
    m_gasUnits = NaN;
    m_chromatograph.fill(NaN);
    m_readings = 0;
    m_alarms = 0;
}

void MudBin::clearDrilling()
{
    m_drillingMinutes = 0;
    m_drilledLength = 0;
}

void BinSpan::include(int index)
{
    if (isEmpty()) {
        first = last = index;
        return;
    }
    first = std::min(first, index);
    last = std::max(last, index);
}

void BinSpan::include(const BinSpan &other)
{
    if (other.isEmpty())
        return;
    include(other.first);
    include(other.last);
}

MudLog::MudLog(MudLogSettings settings)
    : m_settings(settings)
{
    if (!usableBinSize(m_settings.binSize))
        m_settings.binSize = defaultBinSize(m_settings.unit);
}

void MudLog::clear()
{
    *this = MudLog(m_settings);
}

const MudBin &MudLog::bin(int index) const
{
    static const MudBin empty;
    if (isEmpty() || index < m_first || index > lastIndex())
        return empty;
    return m_bins[static_cast<std::size_t>(index - m_first)];
}

int MudLog::indexAt(double depth) const
{
    // A depth on a bin's top edge belongs to that bin, also where the
    // division lands a hair below the whole number (0.3 / 0.1).
    const double place = depth / m_settings.binSize;
    return static_cast<int>(std::floor(place + 1e-9 * std::max(1.0, std::fabs(place))));
}

std::optional<double> MudLog::depthOf(std::optional<double> feet) const
{
    if (!feet || !std::isfinite(*feet) || !(*feet > 0) || *feet > MaxDepthFeet)
        return std::nullopt;
    return fromFeet(*feet, m_settings.unit);
}

bool MudLog::reach(int from, int to)
{
    if (m_bins.empty()) {
        if (to - from + 1 > MaxBins)
            return false;
        m_first = from;
        m_bins.resize(static_cast<std::size_t>(to - from + 1));
        return true;
    }
    const int first = std::min(m_first, from);
    const int last = std::max(lastIndex(), to);
    if (last - first + 1 > MaxBins)
        return false;
    if (first < m_first)
        m_bins.insert(m_bins.begin(), static_cast<std::size_t>(m_first - first), MudBin());
    m_first = first;
    m_bins.resize(static_cast<std::size_t>(last - first + 1));
    return true;
}

BinSpan MudLog::add(const MudReading &reading)
{
    BinSpan touched;
    if (const std::optional<double> hole = depthOf(reading.holeDepth))
        addDrilling(reading.timeMs, *hole, touched);
    if (const std::optional<double> lag = depthOf(reading.lagDepth))
        addGas(reading, *lag, touched);
    return touched;
}

BinSpan MudLog::add(const QList<MudReading> &readings)
{
    BinSpan touched;
    for (const MudReading &reading : readings)
        touched.include(add(reading));
    return touched;
}

void MudLog::addGas(const MudReading &reading, double lag, BinSpan &touched)
{
    const int index = indexAt(lag);
    if (!reach(index, index)) {
        ++m_refused;
        return;
    }
    // Up by more than a bin is a new pass, less is the depth's own jitter.
    if (m_deepestLag && lag < *m_deepestLag - m_settings.binSize) {
        ++m_lagPass;
        m_deepestLag = lag;
    } else {
        m_deepestLag = std::max(m_deepestLag.value_or(lag), lag);
    }

    MudBin &bin = at(index);
    if (bin.logged() && bin.m_lagPass != m_lagPass) {
        bin.clearGas();
        bin.m_redrilled = true;
    }
    bin.m_lagPass = m_lagPass;

    const bool higher = reading.gasUnits && std::isfinite(*reading.gasUnits)
                        && (!bin.gasUnits() || *reading.gasUnits > bin.m_gasUnits);
    if (bin.m_readings == 0 || higher) {
        bin.m_timeMs = reading.timeMs;
        bin.m_gasUnits = higher ? *reading.gasUnits : NaN;
        const trends::Chromatograph &gas = reading.gas;
        bin.m_chromatograph = {orNaN(gas.c1),  orNaN(gas.c2),  orNaN(gas.c3), orNaN(gas.ic4),
                               orNaN(gas.nc4), orNaN(gas.ic5), orNaN(gas.nc5)};
    }
    ++bin.m_readings;
    bin.m_alarms |= alarmBit(reading.errorCode);
    touched.include(index);
}

void MudLog::addDrilling(qint64 timeMs, double hole, BinSpan &touched)
{
    const std::optional<double> reached = m_holeReached;
    const qint64 elapsedMs = timeMs - m_holeTimeMs;
    m_holeTimeMs = timeMs;
    if (!reached) {
        m_holeReached = hole;
        return;
    }
    if (hole < *reached - m_settings.binSize) {
        // The hole depth went back up: what is drilled from here on is a
        // new pass over those depths.
        ++m_drillPass;
        m_holeReached = hole;
        return;
    }
    if (!(hole > *reached))
        return;
    m_holeReached = hole;

    const double drilled = hole - *reached;
    const double seconds = elapsedMs / 1000.0;
    if (elapsedMs <= 0 || elapsedMs > LongestStepMs
        || toFeet(drilled, m_settings.unit) > FastestFeetPerSecond * seconds)
        return;

    const double minutesPerDepth = seconds / 60.0 / drilled;
    const int top = indexAt(*reached);
    int bottom = indexAt(hole);
    if (!(hole > topOf(bottom)))
        --bottom;  // drilled down to the bin's top edge, not into it
    if (!reach(top, bottom))
        return;
    for (int index = top; index <= bottom; ++index) {
        const double part = std::min(hole, bottomOf(index)) - std::max(*reached, topOf(index));
        if (!(part > 0))
            continue;
        MudBin &bin = at(index);
        if (bin.drilled() && bin.m_drillPass != m_drillPass) {
            bin.clearDrilling();
            bin.m_redrilled = true;
        }
        bin.m_drillPass = m_drillPass;
        bin.m_drilledLength += part;
        bin.m_drillingMinutes += part * minutesPerDepth;
        touched.include(index);
    }
}

} // namespace mudlog
