// The two configuration readers on arbitrary file bytes. Both files are
// edited by hand at the rig, so anything may stand in them. The readers must
// never throw, and what they hand back must be exactly what a separate
// reading of the same bytes gives: the lines split at CR LF, CR or LF, the
// WITS table filled from slot 0 with at most 250 items and stopped by the
// first bad code, the first matching row of the lookup table chosen.
//
// Input: byte 0 holds the serial number's length (low three bits) and two
// switches (0x40: no RDconfig.ini, 0x80: no RDVlookup.TXT); the serial
// number follows, and every byte after it is the content of both files.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

#include <QByteArray>
#include <QByteArrayList>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTime>

#include "rules/config/lookupfile.h"
#include "rules/config/settingsfile.h"
#include "rules/config/witstable.h"
#include "rules/convert/convert.h"

namespace {

const QTime Now(12, 34, 56);
const QByteArray PreviousAddress = QByteArrayLiteral("previous.host");
const QByteArray PreviousPort = QByteArrayLiteral("2401");

[[noreturn]] void broken(const char *what, const QByteArray &detail = QByteArray())
{
    std::fprintf(stderr, "fuzz_config: %s\n", what);
    if (!detail.isEmpty())
        std::fprintf(stderr, "  detail: %s\n", detail.toPercentEncoding(" ,[]:'.-").constData());
    std::abort();
}

QByteArrayList linesOf(const QByteArray &bytes)
{
    QByteArrayList lines;
    qsizetype i = 0;
    const qsizetype n = bytes.size();
    while (i < n) {
        qsizetype end = i;
        while (end < n && bytes.at(end) != '\r' && bytes.at(end) != '\n')
            ++end;
        lines.append(bytes.mid(i, end - i));
        if (end < n && bytes.at(end) == '\r' && end + 1 < n && bytes.at(end + 1) == '\n')
            ++end;
        i = end + 1;
    }
    return lines;
}

std::optional<std::int16_t> codeOf(const QByteArray &text)
{
    try {
        return convert::textToInt16(text);
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

std::optional<std::int32_t> wholeOf(const QByteArray &text)
{
    try {
        return convert::toInt32(convert::leadingNumber(text));
    } catch (const std::exception &) {
        return std::nullopt;
    }
}

bool isReportLine(const QByteArray &line, const QByteArray &prefix)
{
    return line.startsWith(prefix) && line.endsWith(']') && !line.contains('\r') && !line.contains('\n');
}

void checkSettings(const QString &dir, const QByteArray &content, bool present)
{
    WitsTable table;
    table.codes[250] = 4242;  // the slot the file can never reach keeps this
    table.names[250] = QByteArrayLiteral("untouched");
    table.codes[0] = 777;
    table.names[0] = QByteArrayLiteral("before");

    QList<QByteArray> reports;
    try {
        reports = LoadIniFile(dir, table, Now);
    } catch (...) {
        broken("LoadIniFile threw");
    }
    if (table.codes[250] != 4242 || table.names[250] != "untouched")
        broken("LoadIniFile wrote slot 250", content);

    if (!present) {
        if (reports != QList<QByteArray>{QByteArrayLiteral("[12:34:56 File not found: RDconfig.ini]")})
            broken("a missing settings file was not reported as such");
        if (table.codes[0] != 777 || table.names[0] != "before")
            broken("a missing settings file changed the table");
        return;
    }

    WitsTable expected;
    expected.codes[250] = 4242;
    expected.names[250] = QByteArrayLiteral("untouched");
    expected.codes[0] = 777;
    expected.names[0] = QByteArrayLiteral("before");
    bool failed = false;
    int filled = 0;
    for (const QByteArray &line : linesOf(content)) {
        if (filled == WitsTable::Usable)
            break;
        if (line.size() < 5 || line.startsWith('\''))
            continue;
        const std::optional<std::int16_t> code = codeOf(line.left(4));
        if (!code) {
            failed = true;
            break;
        }
        expected.codes[static_cast<std::size_t>(filled)] = *code;
        expected.names[static_cast<std::size_t>(filled)] = line.mid(5);
        ++filled;
    }

    if (failed) {
        if (reports.size() != 1 || !isReportLine(reports.at(0), QByteArrayLiteral("[LOAD INI ERR: ")))
            broken("a bad code was not reported in one LOAD INI ERR line", content);
    } else if (!reports.isEmpty()) {
        broken("a good settings file was reported", reports.value(0));
    }
    if (table.codes != expected.codes || table.names != expected.names)
        broken("the WITS table differs from the file's lines", content);
}

void checkLookup(const QString &dir, const QByteArray &serial, const QByteArray &content, bool present)
{
    QByteArray address = PreviousAddress;
    QByteArray port = PreviousPort;
    QList<QByteArray> reports;
    try {
        reports = readlookupfile(dir, serial, address, port, Now);
    } catch (...) {
        broken("readlookupfile threw");
    }

    QByteArray wantAddress;
    QByteArray wantPort;
    QList<QByteArray> wantReports;
    bool failed = false;
    if (convert::leadingNumber(serial) == 0.0) {
        wantAddress = DefaultServerAddress;
        wantPort = DefaultServerPort;
    } else if (!present) {
        wantAddress = PreviousAddress;
        wantPort = PreviousPort;
        wantReports = {QByteArrayLiteral("[12:34:56 File not found: RDVlookup.TXT]")};
    } else {
        const QByteArrayList lines = linesOf(content);
        const std::optional<std::int32_t> unit = wholeOf(serial.size() > 3 ? serial.right(3) : serial);
        if (lines.isEmpty() || !unit)
            failed = true;
        for (const QByteArray &line : lines) {
            if (failed)
                break;
            if (line.size() <= 10)
                continue;
            const QByteArrayList columns = line.split(' ');
            const std::optional<std::int32_t> row = wholeOf(columns.at(0));
            if (!row) {
                failed = true;
                break;
            }
            if (*unit > 0 && *row == *unit) {
                if (columns.size() < 3) {
                    failed = true;
                    break;
                }
                wantAddress = columns.at(1);
                wantPort = columns.at(2);
                break;
            }
        }
    }

    if (failed) {
        if (reports.size() != 1 || !isReportLine(reports.at(0), QByteArrayLiteral("[Load lookup table ERR: ")))
            broken("a faulty lookup table was not reported in one line", content);
        wantAddress.clear();
        wantPort.clear();
    } else if (reports != wantReports) {
        broken("the lookup table's report lines are wrong", reports.value(0));
    }
    if (address != wantAddress || port != wantPort)
        broken("the lookup found another host or port than the table's first matching row",
               serial + " -> " + address + ' ' + port);
}

void writeOrRemove(const QString &path, const QByteArray &content, bool present)
{
    QFile file(path);
    if (!present) {
        if (file.exists() && !file.remove())
            broken("cannot remove a file");
        return;
    }
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        broken("cannot write a file");
}

std::unique_ptr<QTemporaryDir> g_dir;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication *app = new QCoreApplication(*argc, *argv);
    Q_UNUSED(app);
    // A memory-backed folder where there is one: rewriting two files per run
    // on a disk file system costs more than the readers themselves.
    const QString shm = QStringLiteral("/dev/shm");
    g_dir = QFileInfo(shm).isDir() && QFileInfo(shm).isWritable()
        ? std::make_unique<QTemporaryDir>(shm + QStringLiteral("/fuzz_config-XXXXXX"))
        : std::make_unique<QTemporaryDir>();
    if (!g_dir->isValid())
        broken("cannot make a folder for the files");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t head = data[0];
    const std::size_t serialLength = std::min<std::size_t>(head & 0x07U, size - 1);
    const bool settingsPresent = (head & 0x40U) == 0;
    const bool lookupPresent = (head & 0x80U) == 0;
    const QByteArray serial(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(serialLength));
    const QByteArray content(reinterpret_cast<const char *>(data + 1 + serialLength),
                             static_cast<qsizetype>(size - 1 - serialLength));

    writeOrRemove(g_dir->filePath(QStringLiteral("RDconfig.ini")), content, settingsPresent);
    writeOrRemove(g_dir->filePath(QStringLiteral("RDVlookup.TXT")), content, lookupPresent);
    checkSettings(g_dir->path(), content, settingsPresent);
    checkLookup(g_dir->path(), serial, content, lookupPresent);
    return 0;
}
