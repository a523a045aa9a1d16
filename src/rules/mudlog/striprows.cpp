#include "rules/mudlog/striprows.h"

#include <algorithm>
#include <cmath>

#include "rules/mudlog/mudlog.h"

namespace mudlog {

namespace {

// Takes the row of a bin or reading into the row being gathered.
void gather(StripRow &row, const StripRow &part, double &rateSum, int &rates)
{
    if (part.logged) {
        const bool higher = part.gasUnits && (!row.gasUnits || *part.gasUnits > *row.gasUnits);
        if (!row.logged || higher) {
            row.gasUnits = part.gasUnits;
            row.gas = part.gas;
            row.ratios = part.ratios;
        }
        row.logged = true;
    }
    if (part.drillingRate) {
        rateSum += *part.drillingRate;
        ++rates;
    }
    row.redrilled = row.redrilled || part.redrilled;
    row.alarm = row.alarm || part.alarm;
}

} // namespace

std::vector<StripRow> stripRows(const MudLog &log, double from, double to, int maxRows)
{
    std::vector<StripRow> rows;
    if (log.isEmpty() || !(to > from) || maxRows < 1)
        return rows;
    const int first = std::max(log.firstIndex(), log.indexAt(from));
    const int last = std::min(log.lastIndex(), log.indexAt(to));
    if (last < first)
        return rows;
    const int bins = last - first + 1;
    const int each = (bins + maxRows - 1) / maxRows;
    rows.reserve(static_cast<std::size_t>((bins + each - 1) / each));
    for (int start = first; start <= last; start += each) {
        StripRow row;
        const int end = std::min(last, start + each - 1);
        row.top = log.topOf(start);
        row.bottom = log.bottomOf(end);
        double rateSum = 0.0;
        int rates = 0;
        for (int index = start; index <= end; ++index) {
            const MudBin &bin = log.bin(index);
            StripRow part;
            part.logged = bin.logged();
            part.gasUnits = bin.gasUnits();
            part.gas = bin.chromatograph();
            part.ratios = bin.ratios();
            part.drillingRate = bin.drillingRate();
            part.redrilled = bin.redrilled();
            part.alarm = bin.hasAlarm();
            gather(row, part, rateSum, rates);
        }
        if (rates > 0)
            row.drillingRate = rateSum / rates;
        rows.push_back(row);
    }
    return rows;
}

std::vector<StripRow> timeStripRows(const std::vector<trends::Sample> &samples, qint64 fromMs, qint64 toMs,
                                    qint64 rowMs, bool metres)
{
    std::vector<StripRow> rows;
    if (rowMs <= 0 || toMs <= fromMs)
        return rows;
    const qint64 count = (toMs - fromMs + rowMs - 1) / rowMs;
    if (count > 1000000)
        return rows;
    rows.resize(static_cast<std::size_t>(count));
    std::vector<double> rateSums(rows.size(), 0.0);
    std::vector<int> rates(rows.size(), 0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].top = static_cast<double>(fromMs + static_cast<qint64>(i) * rowMs);
        rows[i].bottom = rows[i].top + static_cast<double>(rowMs);
    }
    for (const trends::Sample &sample : samples) {
        if (sample.timeMs < fromMs || sample.timeMs >= toMs)
            continue;
        const auto i = static_cast<std::size_t>((sample.timeMs - fromMs) / rowMs);
        StripRow part;
        part.logged = true;
        const double gas = sample[trends::GasUnits];
        if (!std::isnan(gas))
            part.gasUnits = gas;
        part.gas = trends::chromatographOf(sample);
        part.ratios = trends::gasRatios(part.gas);
        const double rop = sample[trends::Rop];
        if (std::isfinite(rop) && rop > 0)
            part.drillingRate = 60.0 / (metres ? rop * MetresPerFoot : rop);
        gather(rows[i], part, rateSums[i], rates[i]);
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rates[i] > 0)
            rows[i].drillingRate = rateSums[i] / rates[i];
    }
    return rows;
}

} // namespace mudlog
