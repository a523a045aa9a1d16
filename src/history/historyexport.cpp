#include "history/historyexport.h"

#include <optional>

#include <QDateTime>
#include <QIODevice>
#include <QLocale>

#include "rules/convert/visibletext.h"
#include "rules/mudlog/laswriter.h"
#include "rules/readings/readingrules.h"
#include "history/historyrows.h"
#include "history/historystore.h"

namespace {

const QByteArray LineEnd = QByteArrayLiteral("\r\n");

// Where the bit depth stands among a reading's numeric values.
const std::size_t BitDepthColumn =
    static_cast<std::size_t>(history::numericColumn(QStringLiteral("bit_depth")) - history::numericColumns().data());

// A CSV row: fields quoted where they hold a separator, a quote or a line
// end.
QByteArray csvRow(const QByteArrayList &fields)
{
    QByteArray row;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QByteArray &field = fields.at(i);
        if (i > 0)
            row += ',';
        if (field.contains(',') || field.contains('"') || field.contains('\r') || field.contains('\n')) {
            QByteArray quoted = field;
            quoted.replace('"', "\"\"");
            row += '"' + quoted + '"';
        } else {
            row += field;
        }
    }
    return row;
}

// A decimal number as a spreadsheet reads one: a sign, digits with at most
// one point, an exponent, nothing else.
bool isPlainNumber(const QByteArray &text)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto digits = [&] {
        const qsizetype from = i;
        while (i < n && text.at(i) >= '0' && text.at(i) <= '9')
            ++i;
        return i - from;
    };
    if (i < n && (text.at(i) == '+' || text.at(i) == '-'))
        ++i;
    qsizetype count = digits();
    if (i < n && text.at(i) == '.') {
        ++i;
        count += digits();
    }
    if (count == 0)
        return false;
    if (i < n && (text.at(i) == 'e' || text.at(i) == 'E')) {
        ++i;
        if (i < n && (text.at(i) == '+' || text.at(i) == '-'))
            ++i;
        if (digits() == 0)
            return false;
    }
    return i == n;
}

// A CSV cell of single-byte text from the wire, as UTF-8. Control
// characters are written as the pictures the traffic window shows for them:
// a NUL or an escape in a file meant for people and spreadsheets breaks the
// programs that read it. A spreadsheet takes a cell that begins with "=",
// "+", "-", "@", a tab or a CR for a formula and runs it, so such a cell,
// unless it is a plain number, is written behind an apostrophe, the
// spreadsheet's mark of text.
QByteArray csvCell(const QByteArray &latin1)
{
    bool plain = true;
    for (const char c : latin1) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7F) {
            plain = false;
            break;
        }
    }
    QByteArray cell = plain ? latin1 : convert::visibleText(latin1, convert::LineEnds::Picture).toUtf8();
    static const QByteArray FormulaStarts = QByteArrayLiteral("=+-@\t\r");
    if (!latin1.isEmpty() && FormulaStarts.contains(latin1.at(0)) && !isPlainNumber(latin1))
        cell.prepend('\'');
    return cell;
}

// The text a number is written with in the files: "." as the separator and
// as few digits as read back to the same value.
QByteArray numberText(double value)
{
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}

} // namespace

QByteArray unitTimeText(qint64 ms)
{
    // The unit's clock has no zone: written without one.
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1();
}

QString historyTimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

std::optional<qint64> historyTimeFromText(const QString &text)
{
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid()) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (!date.isValid())
            return std::nullopt;
        time = date.startOfDay(Qt::UTC);
    }
    if (time.timeSpec() == Qt::LocalTime)
        time.setTimeSpec(Qt::UTC);
    return time.toMSecsSinceEpoch();
}

namespace {

// Rows are read from the store this many at a time.
constexpr int SliceRows = 2000;

// One table's rows in order of time, read a slice at a time and looked at
// one by one.
template <typename Row>
class Feed
{
public:
    void open(HistoryCursor<Row> cursor) { m_cursor.emplace(std::move(cursor)); }
    bool isOpen() const { return m_cursor.has_value(); }

    // The next row, or none at the end.
    Result<const Row *> front()
    {
        if (m_next == m_rows.size()) {
            m_rows.clear();
            m_next = 0;
            if (!m_cursor || m_cursor->done())
                return static_cast<const Row *>(nullptr);
            HistoryResult<std::vector<Row>> slice = m_cursor->fetch(SliceRows);
            if (!slice)
                return failure(slice.reason().text);
            m_rows = std::move(*slice);
            if (m_rows.empty())
                return static_cast<const Row *>(nullptr);
        }
        return &m_rows[m_next];
    }
    void pop() { ++m_next; }

private:
    std::optional<HistoryCursor<Row>> m_cursor;
    std::vector<Row> m_rows;
    std::size_t m_next = 0;
};

} // namespace

struct HistoryExport::Rows
{
    Feed<history::ReadingRow> readings;
    Feed<history::WitsRecordRow> witsRecords;  // as received
    Feed<history::WitsRow> witsItems;          // a file from before the records were kept
};

HistoryExport::HistoryExport(HistoryStore &store, const Range &range, Format format, QIODevice &out)
    : m_store(store)
    , m_witsStore(&store)
    , m_range(range)
    , m_format(format)
    , m_out(out)
{
    m_well.well = range.unit;
}

HistoryExport::~HistoryExport() = default;

void HistoryExport::setMudLog(const mudlog::MudLogSettings &settings, const mudlog::LasWell &well)
{
    m_mudLog = mudlog::MudLog(settings);
    m_well = well;
    if (m_well.well.isEmpty())
        m_well.well = m_range.unit;
}

QByteArray HistoryExport::csvHeader()
{
    QByteArrayList header = {"Time (UTC)", "Serial Number", "Unit Name"};
    for (const readings::FieldRow &row : readings::fieldTable())
        header.append(QString::fromLatin1(row.caption).toUtf8());
    header.append("Bit Depth");
    // Appended, so that the columns before keep their places: the serial
    // as it was typed (the serial number column is the unit it resolved
    // to) and the unit's own clock, read from its date and time fields.
    header.append("Serial As Typed");
    header.append("Unit Time");
    return csvRow(header);
}

Result<void> HistoryExport::start()
{
    m_started = true;
    m_done = false;
    m_written = 0;
    m_total = 0;
    m_rows = std::make_unique<Rows>();
    m_mudLog.clear();
    m_firstMs = m_lastMs = 0;
    const HistoryResult<qint64> readings = m_store.count(HistoryStore::Table::Readings, m_range);
    if (!readings)
        return failure(readings.reason().text);
    m_total = *readings;
    // The mud log needs the depths, the gas and the error number, not the
    // packet.
    const QStringList columns = m_format == Format::Las
                                    ? QStringList{QStringLiteral("hole_depth"), QStringLiteral("lag_depth"),
                                                  QStringLiteral("gas_units"), QStringLiteral("c1"),
                                                  QStringLiteral("c2"), QStringLiteral("c3"),
                                                  QStringLiteral("ic4"), QStringLiteral("nc4"),
                                                  QStringLiteral("ic5"), QStringLiteral("nc5"),
                                                  QStringLiteral("error_number")}
                                    : QStringList{QStringLiteral("bit_depth")};
    // Every count before the first cursor: a server's connection answers
    // one statement at a time, and a cursor holds it until it is read out
    // (the WITS cursor beside the readings' wants a connection of its own
    // there, setWitsStore).
    qint64 records = 0;
    qint64 items = 0;
    if (m_format == Format::Raw) {
        const HistoryResult<qint64> counted = m_store.count(HistoryStore::Table::WitsRecords, m_range);
        if (!counted)
            return failure(counted.reason().text);
        records = *counted;
        if (records == 0) {
            const HistoryResult<qint64> itemsCounted = m_store.count(HistoryStore::Table::WitsItems, m_range);
            if (!itemsCounted)
                return failure(itemsCounted.reason().text);
            items = *itemsCounted;
        }
    }
    HistoryResult<HistoryCursor<history::ReadingRow>> cursor =
        m_store.readings(m_range, m_format != Format::Las, columns);
    if (!cursor)
        return failure(cursor.reason().text);
    m_rows->readings.open(std::move(*cursor));
    // The WITS records as they were received; a file written before they
    // were kept has only their items, from which the records are rebuilt.
    if (m_format == Format::Raw) {
        if (records > 0) {
            m_total += records;
            HistoryResult<HistoryCursor<history::WitsRecordRow>> wits = m_witsStore->witsRecords(m_range);
            if (!wits)
                return failure(wits.reason().text);
            m_rows->witsRecords.open(std::move(*wits));
        } else {
            m_total += items;
            HistoryResult<HistoryCursor<history::WitsRow>> wits = m_witsStore->witsItems(m_range);
            if (!wits)
                return failure(wits.reason().text);
            m_rows->witsItems.open(std::move(*wits));
        }
    }
    QByteArray header;
    if (m_format == Format::Csv)
        header = csvHeader() + LineEnd;
    return flush(header);
}

Result<void> HistoryExport::writeSome(int maxRows)
{
    QByteArray chunk;
    int rows = 0;
    for (;;) {
        const Result<const history::ReadingRow *> reading = m_rows->readings.front();
        if (!reading)
            return reading.failed();
        std::optional<qint64> witsAt;
        if (m_rows->witsRecords.isOpen()) {
            const Result<const history::WitsRecordRow *> record = m_rows->witsRecords.front();
            if (!record)
                return record.failed();
            if (*record)
                witsAt = (*record)->timeMs;
        } else if (m_rows->witsItems.isOpen()) {
            const Result<const history::WitsRow *> item = m_rows->witsItems.front();
            if (!item)
                return item.failed();
            if (*item)
                witsAt = (*item)->timeMs;
        }
        m_done = !*reading && !witsAt;
        if (m_done || rows >= maxRows)
            break;
        if (*reading && (!witsAt || (*reading)->timeMs <= *witsAt)) {
            if (m_format == Format::Las)
                m_mudLog.add(mudReadingOf(**reading));
            else if (m_format == Format::Csv)
                appendCsvRow(chunk, **reading);
            else
                chunk += (*reading)->packet + LineEnd;
            ++rows;
            m_rows->readings.pop();
        } else if (const Result<void> appended = appendWitsRecord(chunk, rows); !appended) {
            return appended;
        }
    }
    m_written += rows;
    if (m_done && m_format == Format::Las && m_total > 0)
        return writeLasFile();
    return flush(chunk);
}

mudlog::MudReading HistoryExport::mudReadingOf(const history::ReadingRow &row)
{
    const auto value = [&row](const char *name) {
        const history::NumericColumn *column = history::numericColumn(QLatin1String(name));
        return row.values[static_cast<std::size_t>(column - history::numericColumns().data())];
    };
    if (m_firstMs == 0)
        m_firstMs = row.timeMs;
    m_lastMs = row.timeMs;
    mudlog::MudReading reading;
    reading.timeMs = row.timeMs;
    reading.holeDepth = value("hole_depth");
    reading.lagDepth = value("lag_depth");
    reading.gasUnits = value("gas_units");
    reading.gas = {value("c1"), value("c2"), value("c3"), value("ic4"), value("nc4"), value("ic5"), value("nc5")};
    reading.errorCode = value("error_number").value_or(0.0);
    return reading;
}

Result<void> HistoryExport::writeLasFile()
{
    mudlog::LasWell well = m_well;
    well.fromMs = m_firstMs;
    well.toMs = m_lastMs;
    if (!well.date.isValid())
        well.date = QDateTime::fromMSecsSinceEpoch(m_lastMs, Qt::UTC).date();
    if (const Result<void> written = mudlog::writeLas(m_out, m_mudLog, well); !written)
        return failure(QStringLiteral("cannot write the export: %1").arg(written.reason()));
    return {};
}

Result<void> HistoryExport::run()
{
    if (!m_started) {
        if (const Result<void> started = start(); !started)
            return started;
    }
    while (!m_done) {
        if (const Result<void> written = writeSome(10000); !written)
            return written;
    }
    return {};
}

Result<void> HistoryExport::flush(QByteArray &chunk)
{
    if (!chunk.isEmpty() && m_out.write(chunk) != chunk.size())
        return failure(QStringLiteral("cannot write the export: %1").arg(m_out.errorString()));
    chunk.clear();
    return {};
}

void HistoryExport::appendCsvRow(QByteArray &chunk, const history::ReadingRow &reading)
{
    const QByteArrayList fields = history::packetFields(reading.packet);
    auto field = [&fields](int k) { return csvCell(fields.value(k - 1)); };
    QByteArrayList row = {historyTimeText(reading.timeMs).toUtf8(), csvCell(m_range.unit.toLatin1()), field(1)};
    for (const readings::FieldRow &column : readings::fieldTable())
        row.append(field(column.index));
    const std::optional<double> &bitDepth = reading.values[BitDepthColumn];
    row.append(bitDepth ? numberText(*bitDepth) : QByteArray());
    row.append(csvCell((reading.serial.isEmpty() ? m_range.unit : reading.serial).toLatin1()));
    row.append(reading.unitTimeMs ? unitTimeText(*reading.unitTimeMs) : QByteArray());
    chunk += csvRow(row) + LineEnd;
}

Result<void> HistoryExport::appendWitsRecord(QByteArray &chunk, int &rows)
{
    if (m_rows->witsRecords.isOpen()) {
        const Result<const history::WitsRecordRow *> record = m_rows->witsRecords.front();
        if (!record)
            return record.failed();
        chunk += (*record)->record + LineEnd;
        ++rows;
        m_rows->witsRecords.pop();
        return {};
    }
    // The items of one record share the time it was read at and count their
    // places from 0. The header pieces are not kept: the record type, the
    // unit and the time stand in for them, which is all a reader looks at.
    Result<const history::WitsRow *> item = m_rows->witsItems.front();
    if (!item)
        return item.failed();
    const qint64 timeMs = (*item)->timeMs;
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC);
    QByteArray record = "^,01," + m_range.unit.toLatin1() + ',' + at.toString(QStringLiteral("yyMMdd")).toLatin1()
                        + ',' + at.toString(QStringLiteral("HHmmss")).toLatin1();
    bool first = true;
    while (*item && (*item)->timeMs == timeMs && (first || (*item)->position != 0)) {
        record += ',' + QByteArray::number((*item)->code).rightJustified(4, '0') + numberText((*item)->value);
        ++rows;
        first = false;
        m_rows->witsItems.pop();
        item = m_rows->witsItems.front();
        if (!item)
            return item.failed();
    }
    chunk += record + LineEnd;
    return {};
}
