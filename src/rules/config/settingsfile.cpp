#include "rules/config/settingsfile.h"

#include <exception>

#include <QFile>
#include <QFileInfo>

#include "rules/config/textfile.h"
#include "rules/convert/convert.h"
#include "rules/convert/result.h"

namespace {

const QByteArray SettingsFileName = QByteArrayLiteral("RDconfig.ini");

// Shorter lines carry no name and are skipped without taking a slot.
constexpr qsizetype MinimumLineLength = 5;
constexpr int CodeLength = 4;
// The fifth character only separates the code from the name.
constexpr int NameStart = 5;

} // namespace

QString programFilePath(const QString &programDir, const QByteArray &filename)
{
    if (filename.size() >= 2 && filename.at(1) == ':')
        return QString::fromLatin1(filename);
    QString path = programDir;
    if (!path.endsWith(QLatin1Char('/')) && !path.endsWith(QLatin1Char('\\')))
        path += QLatin1Char('/');
    return path + QString::fromLatin1(filename);
}

bool IsFileThere(const QString &programDir, const QByteArray &filename)
{
    return fileIsThere(programFilePath(programDir, filename));
}

bool fileIsThere(const QString &path)
{
    // Something that is there but is no regular file or folder (a pipe, a
    // device) is never opened: opening a pipe waits for a writer that may
    // never come. It counts as present, and the reader then refuses it with
    // its read error.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile() && !info.isDir())
        return true;
    // Opening is the test: a file that exists but cannot be read is as good
    // as missing to the readers that ask.
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

QByteArray fileNotFoundLine(const QTime &now, const QByteArray &filename)
{
    return '[' + now.toString(QStringLiteral("HH:mm:ss")).toLatin1()
        + QByteArrayLiteral(" File not found: ") + filename + ']';
}

namespace {

// Fills the table from the file, from slot 0 on; a failure keeps the slots
// filled before the failing line.
Result<void> readWitsTable(const QString &path, WitsTable &table)
{
    TextFile file(path);
    if (const Result<void> opened = file.open(); !opened)
        return opened;
    int filled = 0;
    while (filled < WitsTable::Usable) {
        const Result<bool> end = file.atEnd();
        if (!end)
            return end.failed();
        if (*end)
            break;
        const Result<QByteArray> line = file.readLine();
        if (!line)
            return line.failed();
        if (line->size() < MinimumLineLength || line->startsWith('\''))
            continue;
        // Convert first: a bad code must leave its slot as it was.
        const Result<std::int16_t> code = faultToResult([&line] { return convert::textToInt16(line->left(CodeLength)); });
        if (!code)
            return code.failed();
        table.codes[filled] = *code;
        table.names[filled] = line->mid(NameStart);
        ++filled;
    }
    return {};
}

} // namespace

QList<QByteArray> LoadIniFile(const QString &programDir, WitsTable &table, const QTime &now)
{
    if (!IsFileThere(programDir, SettingsFileName))
        return {fileNotFoundLine(now, SettingsFileName)};
    try {
        const Result<void> read = readWitsTable(programFilePath(programDir, SettingsFileName), table);
        if (!read)
            return {QByteArrayLiteral("[LOAD INI ERR: ") + read.reason().toLatin1() + ']'};
    } catch (const std::exception &e) {
        // Whatever else goes wrong (memory) is reported the same way.
        return {QByteArrayLiteral("[LOAD INI ERR: ") + QByteArray(e.what()) + ']'};
    }
    return {};
}
