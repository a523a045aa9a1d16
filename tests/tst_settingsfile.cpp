#include <condition_variable>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include "rules/config/lookupfile.h"
#include "rules/config/settingsfile.h"
#include "rules/config/textfile.h"
#include "rules/config/usersettings.h"
#include "rules/config/witstable.h"
#include "support/files.h"

namespace {

using support::writeFile;

const QTime Evening(21, 5, 7);
const QByteArray IniName = QByteArrayLiteral("RDconfig.ini");

bool isEmptySlot(const WitsTable &table, int slot)
{
    return table.codes[slot] == 0 && table.names[slot].isEmpty();
}

} // namespace

class tst_SettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void programFilePath_data();
    void programFilePath();
    void isFileThere();
    void isFileThereDriveLetterForm();
    void missingFile_data();
    void missingFile();
    void load_data();
    void load();
    void keepsOnlyTheFirst250();
    void neverReadsPastThe250th();
    void lineEndsAcrossReads();
    void shippedSample();
    void onlyRegularFilesAreRead_data();
    void onlyRegularFilesAreRead();
    void userSettingsOnlyFromRegularFiles_data();
    void userSettingsOnlyFromRegularFiles();
    void wholeNumberSettings_data();
    void wholeNumberSettings();
};

void tst_SettingsFile::programFilePath_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("path");

    QTest::newRow("plain dir") << QStringLiteral("/opt/rt") << IniName
                               << QStringLiteral("/opt/rt/RDconfig.ini");
    QTest::newRow("dir ending in /") << QStringLiteral("/opt/rt/") << IniName
                                     << QStringLiteral("/opt/rt/RDconfig.ini");
    QTest::newRow("root dir") << QStringLiteral("/") << IniName << QStringLiteral("/RDconfig.ini");
    QTest::newRow("dir ending in backslash")
        << QStringLiteral("C:\\rt\\") << IniName << QStringLiteral("C:\\rt\\RDconfig.ini");
    QTest::newRow("drive-letter name") << QStringLiteral("/opt/rt")
                                       << QByteArrayLiteral("D:\\cfg\\RDconfig.ini")
                                       << QStringLiteral("D:\\cfg\\RDconfig.ini");
    QTest::newRow("drive letter alone") << QStringLiteral("/opt/rt") << QByteArrayLiteral("D:")
                                        << QStringLiteral("D:");
    QTest::newRow("leading slash stays under dir")
        << QStringLiteral("/opt/rt") << QByteArrayLiteral("/etc/RDconfig.ini")
        << QStringLiteral("/opt/rt//etc/RDconfig.ini");
    QTest::newRow("leading backslash stays under dir")
        << QStringLiteral("/opt/rt") << QByteArrayLiteral("\\RDconfig.ini")
        << QStringLiteral("/opt/rt/\\RDconfig.ini");
    QTest::newRow("colon as first character") << QStringLiteral("/opt/rt") << QByteArrayLiteral(":x")
                                              << QStringLiteral("/opt/rt/:x");
    QTest::newRow("one character") << QStringLiteral("/opt/rt") << QByteArrayLiteral("D")
                                   << QStringLiteral("/opt/rt/D");
    QTest::newRow("latin-1 name") << QStringLiteral("/opt/rt") << QByteArrayLiteral("caf\xe9.ini")
                                  << (QStringLiteral("/opt/rt/caf") + QChar(0xe9) + QStringLiteral(".ini"));
}

void tst_SettingsFile::programFilePath()
{
    QFETCH(QString, dir);
    QFETCH(QByteArray, name);
    QFETCH(QString, path);
    QCOMPARE(::programFilePath(dir, name), path);
}

void tst_SettingsFile::isFileThere()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath(QStringLiteral("present.ini")), QByteArrayLiteral("0108 Bit Depth\r\n"));
    writeFile(dir.filePath(QStringLiteral("empty.ini")), QByteArray());
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.ini")));

    const QString plain = dir.path();
    const QString trailing = dir.path() + QLatin1Char('/');
    for (const QString &programDir : {plain, trailing}) {
        QVERIFY(IsFileThere(programDir, QByteArrayLiteral("present.ini")));
        QVERIFY2(IsFileThere(programDir, QByteArrayLiteral("empty.ini")), "an empty file is present");
        QVERIFY(!IsFileThere(programDir, QByteArrayLiteral("missing.ini")));
        QVERIFY2(!IsFileThere(programDir, QByteArrayLiteral("folder.ini")), "a folder is no file");
        QVERIFY(!IsFileThere(programDir, QByteArray()));
    }

    // An absolute name is still looked for under the program's directory.
    QTemporaryDir other;
    QVERIFY(other.isValid());
    const QByteArray absolute = QFile::encodeName(dir.filePath(QStringLiteral("present.ini")));
    QVERIFY(!IsFileThere(other.path(), absolute));
    QVERIFY(!IsFileThere(QStringLiteral("/no/such/folder"), QByteArrayLiteral("present.ini")));
}

void tst_SettingsFile::isFileThereDriveLetterForm()
{
    // Off Windows a drive-letter name is a plain relative name, so the test
    // reaches it through the current directory, which the program's
    // directory must not be confused with.
    QTemporaryDir cwd;
    QTemporaryDir programDir;
    QVERIFY(cwd.isValid() && programDir.isValid());
    writeFile(cwd.filePath(QStringLiteral("Q:cwd.ini")), QByteArrayLiteral("x"));
    writeFile(programDir.filePath(QStringLiteral("Q:prog.ini")), QByteArrayLiteral("x"));

    const QString saved = QDir::currentPath();
    QVERIFY(QDir::setCurrent(cwd.path()));
    const bool cwdFound = IsFileThere(programDir.path(), QByteArrayLiteral("Q:cwd.ini"));
    const bool progFound = IsFileThere(programDir.path(), QByteArrayLiteral("Q:prog.ini"));
    QVERIFY(QDir::setCurrent(saved));

    QVERIFY2(cwdFound, "a drive-letter name is taken as it stands");
    QVERIFY2(!progFound, "a drive-letter name is not put under the program directory");
}

void tst_SettingsFile::missingFile_data()
{
    QTest::addColumn<bool>("folderInItsPlace");
    QTest::newRow("no file") << false;
    QTest::newRow("a folder named RDconfig.ini") << true;
}

void tst_SettingsFile::missingFile()
{
    QFETCH(bool, folderInItsPlace);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    if (folderInItsPlace)
        QVERIFY(QDir(dir.path()).mkdir(QString::fromLatin1(IniName)));

    WitsTable table;
    table.codes[0] = 77;
    table.names[0] = QByteArrayLiteral("kept");
    table.codes[250] = 9;

    const QList<QByteArray> reports = LoadIniFile(dir.path(), table, Evening);
    QCOMPARE(reports, QList<QByteArray>{QByteArrayLiteral("[21:05:07 File not found: RDconfig.ini]")});
    QCOMPARE(table.codes[0], std::int16_t(77));
    QCOMPARE(table.names[0], QByteArrayLiteral("kept"));
    QCOMPARE(table.codes[250], std::int16_t(9));
    for (int slot = 1; slot < 250; ++slot)
        QVERIFY(isEmptySlot(table, slot));

    // Hours, minutes and seconds always take two digits.
    QCOMPARE(LoadIniFile(dir.path(), table, QTime(7, 3, 0)),
             QList<QByteArray>{QByteArrayLiteral("[07:03:00 File not found: RDconfig.ini]")});
}

void tst_SettingsFile::load_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<int>>("codes");
    QTest::addColumn<QList<QByteArray>>("names");
    QTest::addColumn<QList<QByteArray>>("reports");

    const QList<QByteArray> none;
    const QList<QByteArray> mismatch{QByteArrayLiteral("[LOAD INI ERR: Type mismatch]")};

    QTest::newRow("empty file") << QByteArray() << QList<int>{} << none << none;
    QTest::newRow("blank and comment lines only")
        << QByteArrayLiteral("\r\n' nothing here\r\n\r\n") << QList<int>{} << none << none;
    QTest::newRow("blank or comma separator")
        << QByteArrayLiteral("0108 Bit Depth\r\n0110,Hole Depth\r\n")
        << QList<int>{108, 110}
        << QList<QByteArray>{"Bit Depth", "Hole Depth"} << none;
    QTest::newRow("comments and short lines leave no gaps")
        << QByteArrayLiteral("' item names\r\n0108 Bit Depth\r\n'0109 Commented Out\r\n\r\n0110\r\n"
                             "abcd\r\n    \r\n0113 Rate Of Penetration\r\n")
        << QList<int>{108, 113}
        << QList<QByteArray>{"Bit Depth", "Rate Of Penetration"} << none;
    QTest::newRow("five characters give an empty name")
        << QByteArrayLiteral("0108 \r\n0110,\r\n0113x\r\n")
        << QList<int>{108, 110, 113} << QList<QByteArray>{"", "", ""} << none;
    QTest::newRow("name kept exactly")
        << QByteArrayLiteral("0108 Bit Depth  \r\n0110   Hole, Depth\t\r\n")
        << QList<int>{108, 110}
        << QList<QByteArray>{"Bit Depth  ", "  Hole, Depth\t"} << none;
    QTest::newRow("apostrophe only counts first")
        << QByteArrayLiteral("0108 'quoted'\r\n")
        << QList<int>{108} << QList<QByteArray>{"'quoted'"} << none;
    QTest::newRow("codes with blanks, sign and point")
        << QByteArrayLiteral(" 108 a\r\n108  b\r\n -7  c\r\n+42  d\r\n12.5 e\r\n13.5 f\r\n-2.5 g\r\n")
        << QList<int>{108, 108, -7, 42, 12, 14, -2}
        << QList<QByteArray>{"a", "b", "c", "d", "e", "f", "g"} << none;
    QTest::newRow("CR line ends")
        << QByteArrayLiteral("0001 a\r0002 b\r\r0003 c\r")
        << QList<int>{1, 2, 3} << QList<QByteArray>{"a", "b", "c"} << none;
    QTest::newRow("LF line ends")
        << QByteArrayLiteral("0001 a\n0002 b\n\n0003 c\n")
        << QList<int>{1, 2, 3} << QList<QByteArray>{"a", "b", "c"} << none;
    QTest::newRow("CR LF line ends")
        << QByteArrayLiteral("0001 a\r\n0002 b\r\n\r\n0003 c\r\n")
        << QList<int>{1, 2, 3} << QList<QByteArray>{"a", "b", "c"} << none;
    QTest::newRow("mixed line ends, last line unterminated")
        << QByteArrayLiteral("0001 a\r\n0002 b\n0003 c\r\r\n0004 d")
        << QList<int>{1, 2, 3, 4} << QList<QByteArray>{"a", "b", "c", "d"} << none;
    QTest::newRow("LF CR is two line ends")
        << QByteArrayLiteral("0001 a\n\r0002 b\n\r")
        << QList<int>{1, 2} << QList<QByteArray>{"a", "b"} << none;
    QTest::newRow("single-byte text kept as bytes")
        << QByteArrayLiteral("0133 Temp \xb0" "C\r\n")
        << QList<int>{133} << QList<QByteArray>{"Temp \xb0" "C"} << none;

    QByteArray tenth;
    QList<int> firstNine;
    QList<QByteArray> firstNineNames;
    for (int i = 1; i <= 9; ++i) {
        tenth += QByteArray::number(100 + i).rightJustified(4, '0') + " Item " + QByteArray::number(i) + "\r\n";
        if (i % 3 == 0)
            tenth += "' a comment\r\n\r\n";
        firstNine << 100 + i;
        firstNineNames << "Item " + QByteArray::number(i);
    }
    QTest::newRow("letters in the tenth code")
        << tenth + "01A8 Bad Code\r\n0200 Never Read\r\n0201 Never Read\r\n"
        << firstNine << firstNineNames << mismatch;
    QTest::newRow("four blanks as a code")
        << QByteArrayLiteral("0108 Bit Depth\r\n     Nameless\r\n0110 Hole Depth\r\n")
        << QList<int>{108} << QList<QByteArray>{"Bit Depth"} << mismatch;
    QTest::newRow("code overflowing through an exponent")
        << QByteArrayLiteral("0108 Bit Depth\r\n9e99 Huge\r\n")
        << QList<int>{108} << QList<QByteArray>{"Bit Depth"}
        << QList<QByteArray>{QByteArrayLiteral("[LOAD INI ERR: Overflow]")};
}

void tst_SettingsFile::load()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<int>, codes);
    QFETCH(QList<QByteArray>, names);
    QFETCH(QList<QByteArray>, reports);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writeFile(dir.filePath(QString::fromLatin1(IniName)), content);

    WitsTable table;
    QCOMPARE(LoadIniFile(dir.path(), table, Evening), reports);
    for (int slot = 0; slot < codes.size(); ++slot) {
        QCOMPARE(table.codes[slot], std::int16_t(codes.at(slot)));
        QCOMPARE(table.names[slot], names.at(slot));
    }
    for (int slot = codes.size(); slot < WitsTable::Slots; ++slot)
        QVERIFY2(isEmptySlot(table, slot), qPrintable(QStringLiteral("slot %1 filled").arg(slot)));
}

void tst_SettingsFile::keepsOnlyTheFirst250()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray content;
    for (int i = 0; i < 300; ++i)
        content += QByteArray::number(1000 + i) + " Item " + QByteArray::number(i) + "\r\n";
    writeFile(dir.filePath(QString::fromLatin1(IniName)), content);

    WitsTable table;
    QCOMPARE(LoadIniFile(dir.path(), table, Evening), QList<QByteArray>{});
    for (int slot = 0; slot < WitsTable::Usable; ++slot) {
        QCOMPARE(table.codes[slot], std::int16_t(1000 + slot));
        QCOMPARE(table.names[slot], "Item " + QByteArray::number(slot));
    }
    QVERIFY2(isEmptySlot(table, WitsTable::Usable), "slot 250 is never filled");
}

void tst_SettingsFile::neverReadsPastThe250th()
{
    // A faulty line behind the 250th item would be reported if it were read.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QByteArray content;
    for (int i = 0; i < 250; ++i)
        content += QByteArray::number(1000 + i) + " Item\r\n' comment\r\n";
    content += "BAD! line\r\n";
    writeFile(dir.filePath(QString::fromLatin1(IniName)), content);

    WitsTable table;
    QCOMPARE(LoadIniFile(dir.path(), table, Evening), QList<QByteArray>{});
    QCOMPARE(table.codes[249], std::int16_t(1249));
    QVERIFY(isEmptySlot(table, 250));
}

void tst_SettingsFile::lineEndsAcrossReads()
{
    // The file is read in chunks; a CR LF pair split between two of them
    // must still end one line, not two.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("long.txt"));
    for (int length = 16 * 1024 - 8; length <= 16 * 1024 + 8; ++length) {
        writeFile(path, QByteArray(length, 'a') + "\r\nB\r\n\r");
        TextFile file(path);
        QVERIFY(file.open());
        QList<QByteArray> lines;
        for (Result<bool> end = file.atEnd(); end && !*end; end = file.atEnd()) {
            const Result<QByteArray> line = file.readLine();
            QVERIFY(line);
            lines << *line;
        }
        QCOMPARE(lines, (QList<QByteArray>{QByteArray(length, 'a'), "B", ""}));
    }
}

void tst_SettingsFile::shippedSample()
{
    const QString path = QFINDTESTDATA("../config/RDconfig.ini");
    QVERIFY2(!path.isEmpty(), "config/RDconfig.ini not found");

    QFile raw(path);
    QVERIFY(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    QVERIFY2(bytes.endsWith("\r\n"), "the sample ends with CR LF");
    QCOMPARE(bytes.count('\n'), bytes.count("\r\n"));
    QCOMPARE(bytes.count('\r'), bytes.count("\r\n"));
    QVERIFY2(bytes.startsWith('\''), "the sample explains itself in a comment line");

    WitsTable table;
    QCOMPARE(LoadIniFile(QFileInfo(path).absolutePath(), table, Evening), QList<QByteArray>{});

    int filled = 0;
    while (filled < WitsTable::Usable && !isEmptySlot(table, filled))
        ++filled;
    QVERIFY2(filled >= 23, qPrintable(QStringLiteral("only %1 items").arg(filled)));
    for (int slot = filled; slot < WitsTable::Slots; ++slot)
        QVERIFY(isEmptySlot(table, slot));

    QList<std::int16_t> seen;
    auto nameOf = [&](std::int16_t code) {
        for (int slot = 0; slot < filled; ++slot) {
            if (table.codes[slot] == code)
                return table.names[slot];
        }
        return QByteArray();
    };
    for (int slot = 0; slot < filled; ++slot) {
        QVERIFY2(!seen.contains(table.codes[slot]), "codes are unique");
        seen << table.codes[slot];
        QVERIFY(table.codes[slot] > 100 && table.codes[slot] < 10000);
        QVERIFY(!table.names[slot].isEmpty());
        QCOMPARE(table.names[slot], table.names[slot].trimmed());
    }
    QCOMPARE(nameOf(108), QByteArrayLiteral("Bit Depth"));
    QCOMPARE(nameOf(110), QByteArrayLiteral("Hole Depth"));
    QCOMPARE(nameOf(113), QByteArrayLiteral("Rate Of Penetration"));
}

// What lies beside the program may be no regular file at all, or far too
// big: both readers refuse it with their own error line and go on, without
// waiting on a pipe or reading without end.
void tst_SettingsFile::onlyRegularFilesAreRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("settings");  // RDconfig.ini, or else RDVlookup.TXT
    QTest::addColumn<QByteArray>("line");

    for (const bool settings : {true, false}) {
        const QByteArray prefix = settings ? "[LOAD INI ERR: " : "[Load lookup table ERR: ";
        const char *file = settings ? "settings" : "lookup";
        QTest::addRow("%s: named pipe", file) << QStringLiteral("fifo") << settings << prefix + "Not a regular file]";
        QTest::addRow("%s: link to a device", file)
            << QStringLiteral("device") << settings << prefix + "Not a regular file]";
        QTest::addRow("%s: over 16 MB", file)
            << QStringLiteral("huge") << settings << prefix + "File larger than 16 MB]";
    }
}

void tst_SettingsFile::onlyRegularFilesAreRead()
{
    QFETCH(QString, kind);
    QFETCH(bool, settings);
    QFETCH(QByteArray, line);

    QTemporaryDir dir;
    const QString path = dir.filePath(settings ? QStringLiteral("RDconfig.ini") : QStringLiteral("RDVlookup.TXT"));
    if (kind == QLatin1String("fifo"))
        QVERIFY(support::makeFifo(path));
    else if (kind == QLatin1String("device"))
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    else
        writeFile(path, "0001 127.0.0.1 2400 " + QByteArray(17 * 1024 * 1024, 'x'));

    // Should the reader open the pipe after all, this writer lets it go on
    // after two seconds, so that the test fails instead of hanging.
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    std::thread release([&] {
        std::unique_lock<std::mutex> guard(lock);
        if (!finished.wait_for(guard, std::chrono::seconds(2), [&] { return done; }) && kind == QLatin1String("fifo")) {
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        }
    });

    QList<QByteArray> reports;
    WitsTable table;
    QByteArray address = "old.host";
    QByteArray port = "1";
    if (settings)
        reports = LoadIniFile(dir.path(), table, Evening);
    else
        reports = readlookupfile(dir.path(), "0001", address, port, Evening);
    {
        std::lock_guard<std::mutex> guard(lock);
        done = true;
    }
    finished.notify_one();
    release.join();

    QCOMPARE(reports, QList<QByteArray>{line});
    QVERIFY(isEmptySlot(table, 0));
    if (!settings)
        QCOMPARE(address, QByteArray());
}

// The user's settings file: a named pipe there must not hold the start-up,
// and nothing may be written through a link into a device or over a file
// whose lines did not read. Each gives one report line and the defaults.
void tst_SettingsFile::userSettingsOnlyFromRegularFiles_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QByteArray>("line");  // "FILE" stands for the path
    QTest::addColumn<QVariant>("sound");   // alerts/sound as read
    QTest::addColumn<QByteArray>("after"); // what lies there after a write

    const QByteArray unsaved = "; the defaults are used and nothing is saved]";
    QTest::newRow("absent") << "absent" << QByteArray() << QVariant() << QByteArray("file");
    QTest::newRow("regular") << "regular" << QByteArray() << QVariant(QStringLiteral("false")) << QByteArray("file");
    QTest::newRow("named pipe") << "fifo" << "[SETTINGS ERR: FILE: not a regular file (a named pipe)" + unsaved
                                << QVariant() << QByteArray("fifo");
    QTest::newRow("link to a device") << "device" << "[SETTINGS ERR: FILE: a link to a device" + unsaved << QVariant()
                                      << QByteArray("link");
    QTest::newRow("folder") << "folder" << "[SETTINGS ERR: FILE: not a regular file (a folder)" + unsaved << QVariant()
                            << QByteArray("other");
    QTest::newRow("lines that do not read")
        << "format"
        << QByteArray("[SETTINGS ERR: FILE has lines that are not settings; the rest is used and nothing is saved]")
        << QVariant(QStringLiteral("false")) << QByteArray("file");
    QTest::newRow("unreadable") << "unreadable" << "[SETTINGS ERR: cannot read FILE" + unsaved << QVariant()
                                << QByteArray("file");
}

void tst_SettingsFile::userSettingsOnlyFromRegularFiles()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, line);
    QFETCH(QVariant, sound);
    QFETCH(QByteArray, after);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rtviewer.conf"));
    const QByteArray content = kind == QLatin1String("format") ? "[alerts]\nsound=false\n[x\n\xff=1\n"
                                                               : "[alerts]\nsound=false\n";
    if (kind == QLatin1String("fifo")) {
        QVERIFY(support::makeFifo(path));
    } else if (kind == QLatin1String("device")) {
        QVERIFY(QFile::link(support::deviceNode(dir.path()), path));
    } else if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(path));
    } else if (kind != QLatin1String("absent")) {
        writeFile(path, content);
        if (kind == QLatin1String("unreadable")) {
            QFile::setPermissions(path, QFileDevice::Permissions());
            QFile probe(path);
            if (probe.open(QIODevice::ReadOnly))
                QSKIP("this user reads unreadable files (root)");
        }
    }
    {
        support::HangGuard guard;
        UserSettings opened = openUserSettings(path);
        line.replace("FILE", path.toLatin1());
        QCOMPARE(opened.file ? QByteArray() : settingsReport(opened.file.reason()), line);
        QCOMPARE(opened.settings->value(QStringLiteral("alerts/sound")), sound);
        opened.settings->setValue(QStringLiteral("alerts/staleSeconds"), 45);
        opened.settings->sync();
    }
    QCOMPARE(support::kindAt(path), after);
    if (kind == QLatin1String("device"))
        QCOMPARE(support::kindAt(QFile::symLinkTarget(path)), QByteArray("device"));
    if (after != "file")
        return;
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray written = file.readAll();
    // Where the file was sound the setting is saved; otherwise it is left
    // exactly as it was.
    if (line.isEmpty())
        QVERIFY2(written.contains("staleSeconds=45"), written.constData());
    else
        QCOMPARE(written, content);
}

void tst_SettingsFile::wholeNumberSettings_data()
{
    QTest::addColumn<QByteArray>("text");  // the line in the file; empty for none
    QTest::addColumn<int>("value");
    QTest::addColumn<QByteArray>("line");
    const QByteArray slip = " is not a whole number of at least 1; 30 is used]";
    QTest::newRow("absent") << QByteArray() << 30 << QByteArray();
    QTest::newRow("seven") << QByteArray("days=7") << 7 << QByteArray();
    QTest::newRow("blanks around") << QByteArray("days= 12 ") << 12 << QByteArray();
    QTest::newRow("unit typed after") << QByteArray("days=30d") << 30 << "[SETTINGS ERR: history/days=30d" + slip;
    QTest::newRow("zero") << QByteArray("days=0") << 30 << "[SETTINGS ERR: history/days=0" + slip;
    QTest::newRow("negative") << QByteArray("days=-3") << 30 << "[SETTINGS ERR: history/days=-3" + slip;
    QTest::newRow("fraction") << QByteArray("days=1.5") << 30 << "[SETTINGS ERR: history/days=1.5" + slip;
    QTest::newRow("list") << QByteArray("days=5, 6") << 30 << "[SETTINGS ERR: history/days=5, 6" + slip;
    QTest::newRow("empty") << QByteArray("days=") << 30 << "[SETTINGS ERR: history/days=" + slip;
}

void tst_SettingsFile::wholeNumberSettings()
{
    QFETCH(QByteArray, text);
    QFETCH(int, value);
    QFETCH(QByteArray, line);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("rtviewer.conf"));
    writeFile(path, "[history]\n" + text + "\n");
    const UserSettings opened = openUserSettings(path);
    const Result<int> days = wholeNumberSetting(*opened.settings, QStringLiteral("history/days"), 30, 1);
    QCOMPARE(days ? *days : 30, value);
    QCOMPARE(days ? QByteArray() : settingsReport(days.reason()), line);
}

QTEST_APPLESS_MAIN(tst_SettingsFile)
#include "tst_settingsfile.moc"
