#include "rules/config/lookupfile.h"

#include <cstdint>
#include <exception>

#include "rules/config/settingsfile.h"
#include "rules/config/textfile.h"
#include "rules/convert/convert.h"
#include "rules/convert/fault.h"

namespace {

const QByteArray LookupFileName = QByteArrayLiteral("RDVlookup.TXT");

// Lines this short cannot hold a number, a host and a port.
constexpr qsizetype MaximumIgnoredLength = 10;
// Serial numbers carry the unit number in their last three characters.
constexpr qsizetype UnitDigits = 3;

std::int32_t unitNumber(const QByteArray &serialText)
{
    const QByteArray unit = serialText.size() > UnitDigits ? serialText.right(UnitDigits)
                                                           : serialText;
    return convert::toInt32(convert::leadingNumber(unit));
}

} // namespace

QList<QByteArray> readlookupfile(const QString &programDir, const QByteArray &serialText,
                                 QByteArray &server_address, QByteArray &server_port,
                                 const QTime &now)
{
    try {
        if (convert::leadingNumber(serialText) == 0.0) {
            server_address = DefaultServerAddress;
            server_port = DefaultServerPort;
            return {};
        }

        if (!IsFileThere(programDir, LookupFileName))
            return {fileNotFoundLine(now, LookupFileName)};

        // From here on every outcome, failures included, replaces the
        // previous lookup.
        server_address.clear();
        server_port.clear();
        TextFile file(programFilePath(programDir, LookupFileName));
        file.open();

        const std::int32_t unit = unitNumber(serialText);
        // At least one line is read, so an empty table is reported.
        do {
            const QByteArray line = file.readLine();
            if (line.size() <= MaximumIgnoredLength)
                continue;
            const QList<QByteArray> columns = line.split(' ');
            const std::int32_t row = convert::toInt32(convert::leadingNumber(columns.at(0)));
            if (unit > 0 && row == unit) {
                if (columns.size() < 3)
                    throw Fault::subscriptOutOfRange();
                server_address = columns.at(1);
                server_port = columns.at(2);
                break;
            }
        } while (!file.atEnd());
    } catch (const std::exception &e) {
        server_address.clear();
        server_port.clear();
        return {QByteArrayLiteral("[Load lookup table ERR: ") + QByteArray(e.what()) + ']'};
    }
    return {};
}
