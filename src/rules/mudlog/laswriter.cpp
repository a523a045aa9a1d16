#include "rules/mudlog/laswriter.h"

#include <array>
#include <cmath>
#include <optional>

#include <QDateTime>
#include <QIODevice>

#include "rules/mudlog/mudlog.h"

namespace mudlog {

namespace {

constexpr int ColumnWidth = 12;
constexpr qsizetype ChunkBytes = 64 * 1024;

struct Curve
{
    const char *mnemonic;
    const char *unit;  // nullptr: the unit of depth; "MIN/" + it for the rate
    const char *description;
    int decimals;      // -1: as many as the bin size needs
};

const std::array<Curve, 13> &curves()
{
    static const std::array<Curve, 13> table = {{
        {"DEPT", nullptr, "Depth, top of the bin (lag depth)", -1},
        {"TGAS", "UNITS", "Total gas, highest in the bin", 2},
        {"C1", "PPM", "Methane at the highest gas", 2},
        {"C2", "PPM", "Ethane at the highest gas", 2},
        {"C3", "PPM", "Propane at the highest gas", 2},
        {"IC4", "PPM", "Iso butane at the highest gas", 2},
        {"NC4", "PPM", "Normal butane at the highest gas", 2},
        {"IC5", "PPM", "Iso pentane at the highest gas", 2},
        {"NC5", "PPM", "Normal pentane at the highest gas", 2},
        {"ROP", "MIN/", "Drilling rate, minutes per unit of depth", 3},
        {"WH", "%", "Wetness Wh", 3},
        {"BH", "", "Balance Bh", 3},
        {"CH", "", "Character Ch", 3},
    }};
    return table;
}

// Printable ASCII only, as the format allows.
QByteArray asciiText(const QString &text)
{
    QByteArray bytes;
    for (const QChar c : text.trimmed())
        bytes.append(c.unicode() >= 32 && c.unicode() <= 126 ? static_cast<char>(c.unicode()) : '?');
    return bytes;
}

QByteArray padded(QByteArray text, int width)
{
    if (text.size() < width)
        text.append(QByteArray(width - text.size(), ' '));
    return text;
}

QByteArray headerLine(const char *mnemonic, const QByteArray &unit, const QByteArray &data,
                      const char *description)
{
    QByteArray line = ' ' + padded(QByteArray(mnemonic) + '.' + unit, 14) + ' ' + padded(data, 28);
    return line + " : " + description;
}

// The decimals that write every multiple of the bin size exactly: the
// format allows no rounded depths.
int depthDecimals(double binSize)
{
    for (int decimals = 1; decimals < 6; ++decimals) {
        const double scaled = binSize * std::pow(10.0, decimals);
        if (std::fabs(scaled - std::round(scaled)) < 1e-6)
            return decimals;
    }
    return 6;
}

QByteArray number(double value, int decimals)
{
    return QByteArray::number(value, 'f', decimals);
}

QByteArray cell(std::optional<double> value, int decimals)
{
    // At least one blank between columns, even for a value wider than one.
    const auto aligned = [](const QByteArray &text) {
        return ' ' + (text.size() < ColumnWidth ? QByteArray(ColumnWidth - text.size(), ' ') + text : text);
    };
    // The null value is written as the header gives it, whatever the
    // column's decimals, and most cells of a sparse log are null.
    static const QByteArray null = aligned(QByteArrayLiteral("-999.25"));
    return value && std::isfinite(*value) ? aligned(number(*value, decimals)) : null;
}

QByteArray isoTime(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODate).toLatin1();
}

class LasOutput
{
public:
    explicit LasOutput(QIODevice &out)
        : m_out(out)
    {
    }

    // Lines end in CR LF, all but the last.
    bool line(const QByteArray &text)
    {
        if (m_lines++ > 0)
            m_chunk += "\r\n";
        m_chunk += text;
        return m_chunk.size() < ChunkBytes || flush();
    }

    bool flush()
    {
        if (!m_chunk.isEmpty() && m_out.write(m_chunk) != m_chunk.size())
            return false;
        m_chunk.clear();
        return true;
    }

private:
    QIODevice &m_out;
    QByteArray m_chunk;
    qint64 m_lines = 0;
};

} // namespace

Result<void> writeLas(QIODevice &out, const MudLog &log, const LasWell &well)
{
    if (!out.isWritable())
        return failure(QStringLiteral("the file is not open for writing"));
    if (log.isEmpty())
        return failure(QStringLiteral("no reading with a depth to export"));

    const QByteArray depthUnit = log.unit() == DepthUnit::Metres ? QByteArrayLiteral("M") : QByteArrayLiteral("FT");
    const int decimals = depthDecimals(log.binSize());
    const QByteArray start = number(log.topOf(log.firstIndex()), decimals);
    const QByteArray stop = number(log.topOf(log.lastIndex()), decimals);
    const QByteArray step = number(log.binSize(), decimals);
    const QByteArray date = well.date.isValid() ? well.date.toString(QStringLiteral("yyyy MM dd")).toLatin1()
                                                : QByteArray();

    QList<QByteArray> lines = {
        "~Version Information",
        headerLine("VERS", {}, "2.0", "CWLS LOG ASCII STANDARD - VERSION 2.0"),
        headerLine("WRAP", {}, "NO", "ONE LINE PER DEPTH STEP"),
        "~Well Information",
        "#MNEM.UNIT      DATA                           DESCRIPTION",
        headerLine("STRT", depthUnit, start, "START DEPTH"),
        headerLine("STOP", depthUnit, stop, "STOP DEPTH"),
        headerLine("STEP", depthUnit, step, "STEP"),
        headerLine("NULL", {}, "-999.25", "NULL VALUE"),
        headerLine("COMP", {}, asciiText(well.company), "COMPANY"),
        headerLine("WELL", {}, asciiText(well.well), "WELL"),
        headerLine("FLD", {}, asciiText(well.field), "FIELD"),
        headerLine("LOC", {}, asciiText(well.location), "LOCATION"),
        headerLine("PROV", {}, asciiText(well.province), "PROVINCE"),
        headerLine("SRVC", {}, asciiText(well.serviceCompany), "SERVICE COMPANY"),
        headerLine("DATE", {}, date, "LOG DATE"),
        headerLine("UWI", {}, asciiText(well.uwi), "UNIQUE WELL ID"),
        "~Curve Information",
        "#MNEM.UNIT                                     DESCRIPTION",
    };
    for (const Curve &curve : curves()) {
        const QByteArray unit = !curve.unit ? depthUnit
                                : qstrcmp(curve.unit, "MIN/") == 0 ? "MIN/" + depthUnit
                                                                   : QByteArray(curve.unit);
        lines.append(headerLine(curve.mnemonic, unit, {}, curve.description));
    }
    lines.append("~Parameter Information");
    lines.append(headerLine("BINS", depthUnit, step, "Bin size of the lag depth"));
    lines.append(headerLine("DUNI", {}, unitName(log.unit()).toLatin1(), "Unit of depth"));
    if (well.fromMs != 0 || well.toMs != 0) {
        lines.append(headerLine("TSTA", {}, isoTime(well.fromMs), "First reading time UTC"));
        lines.append(headerLine("TEND", {}, isoTime(well.toMs), "Last reading time UTC"));
    }

    int redrilled = 0;
    for (int index = log.firstIndex(); index <= log.lastIndex(); ++index)
        redrilled += log.bin(index).redrilled() ? 1 : 0;
    const QByteArray size = step + ' ' + unitSymbol(log.unit()).toLatin1();
    lines.append("~Other Information");
    lines.append("Mud log binned by lag depth, one row per bin of " + size + ", DEPT at the top of the bin.");
    lines.append("TGAS is the highest total gas in the bin; C1 to NC5, WH, BH and CH are those of that reading.");
    lines.append("ROP is the time taken to drill the bin by hole depth and time, in minutes per "
                 + unitSymbol(log.unit()).toLatin1() + "; time off bottom is left out.");
    lines.append(log.unit() == DepthUnit::Metres
                     ? QByteArrayLiteral("Depths in metres, converted from the feet the unit sends (1 ft = 0.3048 m).")
                     : QByteArrayLiteral("Depths in feet, as the unit sends them."));
    lines.append("A bin without a reading holds the null value -999.25.");
    if (redrilled > 0)
        lines.append(QByteArray::number(redrilled) + " bins were drilled twice and hold the later pass.");
    if (!well.writtenBy.isEmpty())
        lines.append("Written by " + asciiText(well.writtenBy) + '.');

    QByteArray heading = "~A";
    for (std::size_t c = 0; c < curves().size(); ++c) {
        const QByteArray name(curves()[c].mnemonic);
        heading += c == 0 ? QByteArray(ColumnWidth - 2 - name.size(), ' ') + name
                          : QByteArray(ColumnWidth + 1 - name.size(), ' ') + name;
    }
    lines.append(heading);

    LasOutput output(out);
    for (const QByteArray &line : std::as_const(lines)) {
        if (!output.line(line))
            return failure(out.errorString());
    }
    for (int index = log.firstIndex(); index <= log.lastIndex(); ++index) {
        const MudBin &bin = log.bin(index);
        const bool logged = bin.logged();
        const trends::Chromatograph gas = bin.chromatograph();
        const trends::GasRatios ratios = bin.ratios();
        const std::array<std::optional<double>, 12> values = {
            logged ? bin.gasUnits() : std::nullopt,
            gas.c1, gas.c2, gas.c3, gas.ic4, gas.nc4, gas.ic5, gas.nc5,
            bin.drillingRate(),
            ratios.wetness, ratios.balance, ratios.character,
        };
        QByteArray row = cell(log.topOf(index), decimals).mid(1);
        for (std::size_t c = 0; c < values.size(); ++c)
            row += cell(values[c], curves()[c + 1].decimals);
        if (!output.line(row))
            return failure(out.errorString());
    }
    if (!output.flush())
        return failure(out.errorString());
    return {};
}

} // namespace mudlog
