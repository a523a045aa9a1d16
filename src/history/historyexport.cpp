#include "history/historyexport.h"

#include <QDateTime>
#include <QIODevice>
#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include "rules/convert/visibletext.h"
#include "rules/readings/readingrules.h"
#include "history/historyrows.h"
#include "history/historystore.h"

namespace {

const QByteArray LineEnd = QByteArrayLiteral("\r\n");

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

QString historyTimeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
}

HistoryExport::HistoryExport(HistoryStore &store, const Range &range, Format format, QIODevice &out)
    : m_store(store)
    , m_range(range)
    , m_format(format)
    , m_out(out)
{
}

HistoryExport::~HistoryExport() = default;

QByteArray HistoryExport::csvHeader()
{
    QByteArrayList header = {"Time (UTC)", "Serial Number", "Unit Name"};
    for (const readings::FieldRow &row : readings::fieldTable())
        header.append(QString::fromLatin1(row.caption).toUtf8());
    header.append("Bit Depth");
    return csvRow(header);
}

bool HistoryExport::fail(const QString &text)
{
    m_error = text;
    return false;
}

bool HistoryExport::failQuery(const QSqlQuery &query)
{
    return fail(QStringLiteral("cannot read %1: %2").arg(m_store.path(), query.lastError().text().trimmed()));
}

bool HistoryExport::start()
{
    m_error.clear();
    m_started = true;
    m_done = false;
    m_written = 0;
    m_total = 0;
    const QString range = QStringLiteral(" WHERE unit = ? AND time_ms >= ? AND time_ms < ?");
    auto open = [&](std::unique_ptr<QSqlQuery> &query, const QString &columns, const QString &table) {
        QSqlQuery count(m_store.database());
        count.prepare(QStringLiteral("SELECT COUNT(*) FROM ") + table + range);
        for (const QVariant &value : {QVariant(m_range.unit), QVariant(m_range.fromMs), QVariant(m_range.toMs)})
            count.addBindValue(value);
        if (!count.exec() || !count.next())
            return failQuery(count);
        m_total += count.value(0).toLongLong();
        query = std::make_unique<QSqlQuery>(m_store.database());
        query->setForwardOnly(true);
        query->prepare(QStringLiteral("SELECT ") + columns + QStringLiteral(" FROM ") + table + range
                       + QStringLiteral(" ORDER BY time_ms, id"));
        query->addBindValue(m_range.unit);
        query->addBindValue(m_range.fromMs);
        query->addBindValue(m_range.toMs);
        return query->exec() || failQuery(*query);
    };
    if (!open(m_readings, QStringLiteral("time_ms, packet, bit_depth"), QStringLiteral("readings")))
        return false;
    // The WITS records as they were received; a file written before they
    // were kept has only their items, from which the records are rebuilt.
    if (m_format == Format::Raw) {
        const qint64 before = m_total;
        if (!open(m_wits, QStringLiteral("time_ms, record"), QStringLiteral("wits_records")))
            return false;
        m_witsRebuilt = m_total == before;
        if (m_witsRebuilt
            && !open(m_wits, QStringLiteral("time_ms, item_position, item_code, item_value"), QStringLiteral("wits_items")))
            return false;
    }
    m_readingPending = m_readings->next();
    m_witsPending = m_wits && m_wits->next();
    QByteArray header;
    if (m_format == Format::Csv)
        header = csvHeader() + LineEnd;
    return flush(header);
}

bool HistoryExport::writeSome(int maxRows)
{
    QByteArray chunk;
    int rows = 0;
    while (rows < maxRows) {
        const bool readingFirst =
            m_readingPending
            && (!m_witsPending || m_readings->value(0).toLongLong() <= m_wits->value(0).toLongLong());
        if (readingFirst) {
            if (m_format == Format::Csv)
                appendCsvRow(chunk);
            else
                chunk += m_readings->value(1).toByteArray() + LineEnd;
            ++rows;
            m_readingPending = m_readings->next();
        } else if (m_witsPending) {
            appendWitsRecord(chunk, rows);
        } else {
            break;
        }
    }
    if (!m_readingPending && m_readings->lastError().isValid())
        return failQuery(*m_readings);
    if (m_wits && !m_witsPending && m_wits->lastError().isValid())
        return failQuery(*m_wits);
    m_written += rows;
    m_done = !m_readingPending && !m_witsPending;
    return flush(chunk);
}

bool HistoryExport::run()
{
    if (!m_started && !start())
        return false;
    while (!m_done) {
        if (!writeSome(10000))
            return false;
    }
    return true;
}

bool HistoryExport::flush(QByteArray &chunk)
{
    if (!chunk.isEmpty() && m_out.write(chunk) != chunk.size())
        return fail(QStringLiteral("cannot write the export: %1").arg(m_out.errorString()));
    chunk.clear();
    return true;
}

void HistoryExport::appendCsvRow(QByteArray &chunk)
{
    const QByteArrayList fields = history::packetFields(m_readings->value(1).toByteArray());
    auto field = [&fields](int k) { return csvCell(fields.value(k - 1)); };
    QByteArrayList row = {historyTimeText(m_readings->value(0).toLongLong()).toUtf8(), csvCell(m_range.unit.toLatin1()),
                          field(1)};
    for (const readings::FieldRow &column : readings::fieldTable())
        row.append(field(column.index));
    const QVariant bitDepth = m_readings->value(2);
    row.append(bitDepth.isNull() ? QByteArray() : numberText(bitDepth.toDouble()));
    chunk += csvRow(row) + LineEnd;
}

void HistoryExport::appendWitsRecord(QByteArray &chunk, int &rows)
{
    if (!m_witsRebuilt) {
        chunk += m_wits->value(1).toByteArray() + LineEnd;
        ++rows;
        m_witsPending = m_wits->next();
        return;
    }
    // The items of one record share the time it was read at and count their
    // places from 0. The header pieces are not kept: the record type, the
    // unit and the time stand in for them, which is all a reader looks at.
    const qint64 timeMs = m_wits->value(0).toLongLong();
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(timeMs, Qt::UTC);
    QByteArray record = "^,01," + m_range.unit.toLatin1() + ',' + at.toString(QStringLiteral("yyMMdd")).toLatin1()
                        + ',' + at.toString(QStringLiteral("HHmmss")).toLatin1();
    bool first = true;
    while (m_witsPending && m_wits->value(0).toLongLong() == timeMs && (first || m_wits->value(1).toInt() != 0)) {
        record += ',' + QByteArray::number(m_wits->value(2).toInt()).rightJustified(4, '0')
                  + numberText(m_wits->value(3).toDouble());
        ++rows;
        first = false;
        m_witsPending = m_wits->next();
    }
    chunk += record + LineEnd;
}
