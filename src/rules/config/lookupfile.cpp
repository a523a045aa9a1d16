#include "rules/config/lookupfile.h"

#include <cstdint>
#include <exception>

#include <QFile>
#include <QFileInfo>

#include "rules/config/settingsfile.h"
#include "rules/config/textfile.h"
#include "rules/convert/convert.h"
#include "rules/convert/fault.h"
#include "rules/convert/result.h"

namespace {

const QByteArray LookupFileName = QByteArrayLiteral("RDVlookup.TXT");

// Lines this short cannot hold a number, a host and a port.
constexpr qsizetype MaximumIgnoredLength = 10;
// Serial numbers carry the unit number in their last three characters.
constexpr qsizetype UnitDigits = 3;

struct Server
{
    QByteArray unit;  // column 0 of the row, as the table spells it
    QByteArray address;
    QByteArray port;
};

// The host and port of the unit's row in the table at path; both empty
// when no row has its number.
Result<Server> lookUp(const QString &path, const QByteArray &serialText)
{
    TextFile file(path);
    if (const Result<void> opened = file.open(); !opened)
        return opened.failed();
    const Result<std::int32_t> unit = faultToResult([&serialText] { return lookupUnitNumber(serialText); });
    if (!unit)
        return unit.failed();
    // At least one line is read, so an empty table is reported.
    for (;;) {
        const Result<QByteArray> line = file.readLine();
        if (!line)
            return line.failed();
        if (line->size() > MaximumIgnoredLength) {
            const QList<QByteArray> columns = line->split(' ');
            const Result<std::int32_t> row =
                faultToResult([&columns] { return convert::toInt32(convert::leadingNumber(columns.at(0))); });
            if (!row)
                return row.failed();
            if (*unit > 0 && *row == *unit) {
                if (columns.size() < 3)
                    return failure(QString::fromLatin1(Fault::subscriptOutOfRange().what()));
                return Server{columns.at(0), columns.at(1), columns.at(2)};
            }
        }
        const Result<bool> end = file.atEnd();
        if (!end)
            return end.failed();
        if (*end)
            return Server();
    }
}

// The lookup of the serial in the table at path; shownName is the file as
// the not-found line names it.
QList<QByteArray> lookUpLines(const QString &path, const QByteArray &shownName, const QByteArray &serialText,
                              QByteArray &server_address, QByteArray &server_port, const QTime &now)
{
    if (convert::leadingNumber(serialText) == 0.0) {
        server_address = DefaultServerAddress;
        server_port = DefaultServerPort;
        return {};
    }
    if (!fileIsThere(path))
        return {fileNotFoundLine(now, shownName)};

    // From here on every outcome, failures included, replaces the previous
    // lookup.
    server_address.clear();
    server_port.clear();
    QByteArray reason;
    try {
        const Result<Server> found = lookUp(path, serialText);
        if (found) {
            server_address = found->address;
            server_port = found->port;
            return {};
        }
        reason = found.reason().toLatin1();
    } catch (const std::exception &e) {
        // Whatever else goes wrong (memory) is reported the same way.
        reason = e.what();
    }
    return {QByteArrayLiteral("[Load lookup table ERR: ") + reason + ']'};
}

} // namespace

std::int32_t lookupUnitNumber(const QByteArray &serialText)
{
    const QByteArray unit = serialText.size() > UnitDigits ? serialText.right(UnitDigits)
                                                           : serialText;
    return convert::toInt32(convert::leadingNumber(unit));
}

QList<QByteArray> readlookupfile(const QString &programDir, const QByteArray &serialText,
                                 QByteArray &server_address, QByteArray &server_port,
                                 const QTime &now)
{
    return lookUpLines(programFilePath(programDir, LookupFileName), LookupFileName, serialText,
                       server_address, server_port, now);
}

QList<QByteArray> readLookupTable(const QString &path, const QByteArray &serialText,
                                  QByteArray &server_address, QByteArray &server_port, const QTime &now)
{
    return lookUpLines(path, QFile::encodeName(path), serialText, server_address, server_port, now);
}

Result<std::optional<QByteArray>> lookupUnit(const QString &path, const QByteArray &serialText)
{
    if (convert::leadingNumber(serialText) == 0.0)
        return std::optional<QByteArray>();
    try {
        const Result<Server> found = lookUp(path, serialText);
        if (!found)
            return found.failed();
        if (found->unit.isEmpty())
            return std::optional<QByteArray>();
        return std::optional<QByteArray>(found->unit);
    } catch (const std::exception &e) {
        return failure(QString::fromLatin1(e.what()));
    }
}

UnitResolver::UnitResolver(QString path)
    : m_path(std::move(path))
{
}

QString UnitResolver::unitOf(const QString &serial)
{
    if (m_path.isEmpty())
        return serial;
    const QFileInfo table(m_path);
    const QDateTime changed = table.exists() ? table.lastModified() : QDateTime();
    if (changed != m_changed || table.size() != m_size) {
        m_changed = changed;
        m_size = table.size();
        m_units.clear();
    }
    auto known = m_units.constFind(serial);
    if (known == m_units.constEnd()) {
        const Result<std::optional<QByteArray>> found = lookupUnit(m_path, serial.toLatin1());
        known = m_units.insert(serial, found && *found ? QString::fromLatin1(**found) : serial);
    }
    return *known;
}

Result<QList<QByteArray>> lookupTableSerials(const QString &path)
{
    TextFile file(path);
    if (const Result<void> opened = file.open(); !opened)
        return opened.failed();
    QList<QByteArray> serials;
    for (;;) {
        const Result<bool> end = file.atEnd();
        if (!end)
            return end.failed();
        if (*end)
            return serials;
        const Result<QByteArray> line = file.readLine();
        if (!line)
            return line.failed();
        // A line that is no row keeps its place, empty, so that the caller
        // can name a row by its line.
        serials.append(line->size() > MaximumIgnoredLength ? line->left(line->indexOf(' ')) : QByteArray());
    }
}
