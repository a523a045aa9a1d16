#include "rules/config/unitsfile.h"

#include <QHash>

#include "rules/config/lookupfile.h"
#include "rules/config/textfile.h"
#include "rules/convert/convert.h"
#include "rules/convert/fault.h"

namespace unitsfile {

namespace {

// What the lookup table makes of a serial number: every serial of value 0
// goes to the default server, every other to the row of its unit number.
// Empty when no row could ever serve it.
QByteArray lookupKey(const QByteArray &serial)
{
    if (convert::leadingNumber(serial) == 0.0)
        return QByteArrayLiteral("default");
    std::int32_t unit = 0;
    try {
        unit = lookupUnitNumber(serial);
    } catch (const Fault &) {
        return {};
    }
    return unit > 0 ? QByteArray::number(unit) : QByteArray();
}

bool printable(const QByteArray &word)
{
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f)
            return false;
    }
    return true;
}

QString lineFault(int line, const QString &what)
{
    return QStringLiteral("line %1: %2").arg(line).arg(what);
}

// What is wrong with the serial of a line (trimmed, its comment gone), or
// nothing.
QString faultIn(const QByteArray &text, const QByteArray &key, const QList<Entry> &entries,
                const QHash<QByteArray, int> &unitLines)
{
    if (text.contains(' ') || text.contains('\t'))
        return QStringLiteral("more than one serial number");
    if (!printable(text))
        return QStringLiteral("a serial number is printable text without blanks");
    if (text.size() > MaxSerialLength)
        return QStringLiteral("serial number longer than %1 characters").arg(MaxSerialLength);
    const QString shown = QString::fromLatin1(text);
    if (key.isEmpty())
        return QStringLiteral("%1 is no unit the lookup table can serve (it looks up the last three characters)").arg(shown);
    if (const auto earlier = unitLines.constFind(key); earlier != unitLines.cend()) {
        const Entry &first = entries.at(*earlier);
        return QStringLiteral("%1 is the same unit as %2 on line %3")
            .arg(shown, QString::fromLatin1(first.serial))
            .arg(first.line);
    }
    return QString();
}

} // namespace

Result<QList<Entry>> parse(const QList<QByteArray> &lines, QStringList *skipped)
{
    QList<Entry> entries;
    QHash<QByteArray, int> unitLines;  // lookup key to the index in entries
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        QByteArray text = lines.at(i);
        if (const qsizetype hash = text.indexOf('#'); hash >= 0)
            text.truncate(hash);
        text = text.trimmed();
        if (text.isEmpty())
            continue;
        const QByteArray key = lookupKey(text);
        const QString fault = faultIn(text, key, entries, unitLines);
        if (!fault.isEmpty()) {
            if (!skipped)
                return failure(lineFault(number, fault));
            skipped->append(lineFault(number, fault));
            continue;
        }
        unitLines.insert(key, int(entries.size()));
        entries.append({number, text});
    }
    return entries;
}

Result<QList<Entry>> read(const QString &path)
{
    TextFile file(path);
    if (const Result<void> opened = file.open(); !opened)
        return opened.failed();
    QList<QByteArray> lines;
    for (;;) {
        const Result<bool> end = file.atEnd();
        if (!end)
            return end.failed();
        if (*end)
            break;
        Result<QByteArray> line = file.readLine();
        if (!line)
            return line.failed();
        lines.append(std::move(*line));
    }
    return parse(lines);
}

} // namespace unitsfile
