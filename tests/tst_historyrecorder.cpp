// The recorder on a unit's stream, without a link, a socket or any widget:
// what it keeps of a session, how it fails, and what it prunes. This test
// links only the history library, which is how rthistory and a recorder
// without a window use it.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "history/historyrecorder.h"
#include "history/historystore.h"
#include "rules/stream/linkstate.h"
#include "rules/stream/unitstream.h"
#include "support/historysupport.h"
#include "support/packets.h"

class tst_HistoryRecorder : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void keepsTheSession();
    void gasWithoutNumberRecordsNoLevel();
    void failuresReportPauseAndRetry_data();
    void failuresReportPauseAndRetry();
    void keepsRowsWhileTheFileIsHeld();
    void startsAgainWhereTheFileWent_data();
    void startsAgainWhereTheFileWent();
    void prunesPastTheRetention();

private:
    void connectLink();
    void feed(const QByteArray &bytes);
    std::unique_ptr<HistoryRecorder> recorder(qint64 sizeLimit = 0);

    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<UnitStream> m_unit;
};

void tst_HistoryRecorder::init()
{
    // A folder of its own for every test and data row.
    const QString name = QString::fromLatin1(QTest::currentDataTag() ? QTest::currentDataTag() : QTest::currentTestFunction());
    m_path = m_dir.filePath(QString(name).replace(QLatin1Char(' '), QLatin1Char('_')) + QStringLiteral("/history.sqlite3"));
    m_unit = std::make_unique<UnitStream>();
}

void tst_HistoryRecorder::cleanup()
{
    m_unit.reset();
}

void tst_HistoryRecorder::connectLink()
{
    // As the link does: a close drops what was not consumed, and the socket
    // reports closed, then connected.
    if (m_unit->linkState() != LinkState::Closed) {
        m_unit->dropBuffer();
        m_unit->setLinkState(LinkState::Closed);
    }
    m_unit->setSerial(QStringLiteral("0001"));
    m_unit->setLinkState(LinkState::Connected);
}

void tst_HistoryRecorder::feed(const QByteArray &bytes)
{
    m_unit->receive(bytes);
}

std::unique_ptr<HistoryRecorder> tst_HistoryRecorder::recorder(qint64 sizeLimit)
{
    HistoryRecorder::Options options;
    options.path = m_path;
    options.sizeLimitBytes = sizeLimit;
    return std::make_unique<HistoryRecorder>(*m_unit, options);
}

void tst_HistoryRecorder::keepsTheSession()
{
    auto history = recorder();
    history->setRecording(true);
    connectLink();
    const QByteArray yellow = support::packet(support::unitFields("1523.4", "1500", "5"));
    feed("[OUTPUT ONLY]\r\n^,01,0001,261208,030000,01081520.0\r" + yellow);
    feed(support::packet(support::unitFields("----.-", "N/A", "E7")));
    feed(support::packet(support::unitFields("1523.6", "1800", "1203")) + "[TWO WAY]\r\n");
    history->recordReportLine("[Parse Checksum failed]");
    m_unit->dropBuffer();
    m_unit->setLinkState(LinkState::Closed);
    // Gathered, not yet written: the transaction waits for the flush.
    QVERIFY(support::sqlRows(m_path, "SELECT * FROM readings").isEmpty());
    history->flush();

    QCOMPARE(support::sqlRows(m_path, "SELECT packet FROM readings ORDER BY id").first() + '\r',
             yellow);
    // Text in a numeric field is no value, not 0; the error number is read
    // as the panel reads it.
    QCOMPARE(support::sqlRows(m_path, "SELECT unit, hole_depth, gas_units, bit_depth, error_number,"
                                                     " c1 FROM readings ORDER BY id"),
             QByteArrayList({"0001|1523.4|1500|-|5|301", "0001|-|-|1520|-|301", "0001|1523.6|1800|1520|12|301"}));
    QCOMPARE(support::sqlRows(m_path, "SELECT item_position, item_code, item_value FROM wits_items"),
             QByteArrayList({"0|108|1520"}));
    QCOMPARE(support::sqlRows(m_path, "SELECT kind, detail FROM events ORDER BY id").join(';'),
             QByteArray("connected|0001 connected;alarm start|5 HIGH SAMPLE FLOW RATE;gas level|yellow at 1500 units;"
                        "alarm end|5 HIGH SAMPLE FLOW RATE;two way|Two Way Active;"
                        "alarm start|12 HIGH GAS UNITS;gas level|red at 1800 units;report|[Parse Checksum failed];"
                        "disconnected|0001 disconnected"));

    // Off: nothing more is written.
    history->setRecording(false);
    connectLink();
    feed(yellow);
    history->flush();
    QCOMPARE(support::sqlRows(m_path, "SELECT COUNT(*) FROM readings"), QByteArrayList({"3"}));
}

void tst_HistoryRecorder::gasWithoutNumberRecordsNoLevel()
{
    auto history = recorder();
    history->setRecording(true);
    connectLink();
    for (const QByteArray gas : {"1900", "N/A", "", "1900", "----", "1300", "1100"})
        feed(support::packet(support::unitFields("1523.4", gas, "0")));
    history->flush();
    // Red once: the readings without a number are no level of their own,
    // and the red that follows them is no new one.
    QCOMPARE(support::sqlRows(m_path, "SELECT detail FROM events WHERE kind = 'gas level' ORDER BY id"),
             QByteArrayList({"red at 1900 units", "green at 1100 units"}));
}

void tst_HistoryRecorder::failuresReportPauseAndRetry_data()
{
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<bool>("paused");
    QTest::newRow("folder is a file") << QByteArray("[HISTORY ERR: cannot create the folder ") << true;
    QTest::newRow("read-only folder") << QByteArray("[HISTORY ERR: cannot open ") << true;
    QTest::newRow("corrupt file") << QByteArray("file is not a database; the file was moved to ") << false;
    QTest::newRow("newer schema") << QByteArray("was written by a newer program (schema 99") << true;
    QTest::newRow("named pipe") << QByteArray(": not a regular file (a named pipe); recording paused") << true;
    QTest::newRow("disk full") << QByteArray("database or disk is full; recording paused, what comes meanwhile is"
                                             " kept and tried again every 5 s]")
                               << true;
}

void tst_HistoryRecorder::failuresReportPauseAndRetry()
{
    QFETCH(QByteArray, expected);
    QFETCH(bool, paused);
    const QString tag = QString::fromLatin1(QTest::currentDataTag());
    const QString folder = QFileInfo(m_path).path();
    QDir().mkpath(QFileInfo(folder).path());
    if (tag == QStringLiteral("folder is a file")) {
        support::writeFile(folder, "not a folder");
    } else if (tag == QStringLiteral("read-only folder")) {
        QDir().mkpath(folder);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        if (QFile(folder + QStringLiteral("/probe")).open(QIODevice::WriteOnly))
            QSKIP("this user writes into read-only folders (root)");
    } else if (tag == QStringLiteral("corrupt file")) {
        QDir().mkpath(folder);
        support::writeFile(m_path, QByteArray(8192, 'x'));
    } else if (tag == QStringLiteral("named pipe")) {
        QDir().mkpath(folder);
        QVERIFY(support::makeFifo(m_path));
    } else if (tag == QStringLiteral("newer schema")) {
        HistoryStore store;
        QVERIFY(store.open(m_path, HistoryStore::Access::ReadWrite));
        QVERIFY(store.database().exec(QStringLiteral("INSERT INTO schema_version VALUES (99)")).lastError().text().isEmpty());
    }

    auto history = recorder(tag == QStringLiteral("disk full") ? 48 * 1024 : 0);
    QSignalSpy lines(history.get(), &HistoryRecorder::reportLine);
    connectLink();
    support::HangGuard guard;
    history->setRecording(true);
    // The writer answers by signal: what came before its line is kept, and
    // written once the file takes rows.
    int fed = 0;
    for (int i = 0; i < 400 && lines.isEmpty(); ++i, ++fed) {
        feed(support::packet(support::unitFields(QByteArray::number(1000 + i), "900", "0")));
        history->flush();
        QCoreApplication::processEvents();
    }
    QTRY_COMPARE(lines.size(), 1);
    const QByteArray line = lines.at(0).at(0).toByteArray();
    QVERIFY2(line.startsWith("[HISTORY ERR: ") && line.contains(expected), line.constData());
    QTRY_COMPARE(history->isPaused(), paused);
    if (tag == QStringLiteral("corrupt file")) {
        QDir dir(folder);
        QCOMPARE(dir.entryList({QStringLiteral("history.sqlite3.corrupt-*")}).size(), 1);
        feed(support::packet(support::unitFields("1", "900", "0")));
        history->flush();
        QCOMPARE(support::sqlRows(m_path, "SELECT COUNT(*) FROM readings"), QByteArrayList({QByteArray::number(fed + 1)}));
        return;
    }

    // Put right, the recorder takes up again at the latest at the next
    // connect and says so; a file still full stays paused without a word
    // more.
    const bool full = tag == QStringLiteral("disk full");
    if (!full) {
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::remove(folder);
        QFile::remove(m_path);
    }
    connectLink();
    feed(support::packet(support::unitFields("1", "900", "0")));
    history->flush();
    if (full) {
        // Tried again and still full: no word more.
        QSignalSpy tried(history.get(), &HistoryRecorder::reportLine);
        QVERIFY(!tried.wait(200));
        QVERIFY(history->isPaused());
        QCOMPARE(lines.size(), 1);
        return;
    }
    QTRY_COMPARE(lines.size(), 2);
    QVERIFY(!history->isPaused());
    QCOMPARE(lines.at(1).at(0).toByteArray(),
             QByteArray("[HISTORY: recording resumed, " + QByteArray::number(fed) + " readings kept meanwhile written, 0 lost]"));
    QCOMPARE(support::sqlRows(m_path, "SELECT COUNT(*) FROM readings"), QByteArrayList({QByteArray::number(fed + 1)}));
}

// Another program holds the file longer than the recorder waits: it says
// once that it pauses, keeps what comes (the newest, up to its limit,
// counting what it drops), tries again by itself, and once the file is free
// writes what it kept, says so once and records the loss.
void tst_HistoryRecorder::keepsRowsWhileTheFileIsHeld()
{
    HistoryRecorder::Options options;
    options.path = m_path;
    options.retryIntervalMs = 50;
    options.keptReadings = 20;
    HistoryRecorder history(*m_unit, options);
    QSignalSpy lines(&history, &HistoryRecorder::reportLine);
    history.setRecording(true);
    connectLink();
    feed(support::packet(support::unitFields("1", "900", "0")));
    history.flush();
    QCOMPARE(support::sqlRows(m_path, "SELECT COUNT(*) FROM readings"), QByteArrayList({"1"}));

    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("holder"));
        db.setDatabaseName(m_path);
        QVERIFY(db.open());
        QSqlQuery hold(db);
        QVERIFY(hold.exec(QStringLiteral("BEGIN IMMEDIATE")));
        for (int i = 2; i <= 41; ++i) {
            feed(support::packet(support::unitFields(QByteArray::number(i), "900", "0")));
            history.flush();
        }
        QTRY_COMPARE(lines.size(), 1);
        const QByteArray paused = lines.at(0).at(0).toByteArray();
        QVERIFY2(paused.startsWith("[HISTORY ERR: ") && paused.contains("database is locked; recording paused"),
                 paused.constData());
        QVERIFY(history.isPaused());
        // Tries while the file is held (each flush tries at once) change
        // nothing and say nothing.
        for (int i = 0; i < 3; ++i)
            history.flush();
        QVERIFY(!lines.wait(200));
        QCOMPARE(lines.size(), 1);
        QVERIFY(history.isPaused());
        QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
        hold.finish();
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("holder"));

    QTRY_COMPARE(lines.size(), 2);
    QVERIFY(!history.isPaused());
    const QByteArray resumed = lines.at(1).at(0).toByteArray();
    const QRegularExpression said(QStringLiteral("^\\[HISTORY: recording resumed, (\\d+) readings kept meanwhile written,"
                                                 " (\\d+) lost\\]$"));
    const QRegularExpressionMatch counts = said.match(QString::fromLatin1(resumed));
    QVERIFY2(counts.hasMatch(), resumed.constData());
    const int kept = counts.captured(1).toInt();
    const int lost = counts.captured(2).toInt();
    QVERIFY2(kept >= 20 && kept + lost == 40, resumed.constData());
    // The newest were kept.
    QCOMPARE(support::sqlRows(m_path, "SELECT COUNT(*), MAX(hole_depth), MIN(hole_depth) FROM readings"),
             QByteArrayList({QByteArray::number(1 + kept) + "|41|1"}));
    QCOMPARE(support::sqlRows(m_path, "SELECT detail FROM events WHERE kind = 'rows lost'"),
             QByteArrayList({QByteArray::number(lost)
                             + " readings, 0 WITS items, 0 WITS records and 0 events were lost while the history file"
                               " could not be written"}));
}

// The file deleted or replaced under the recorder: it says so and starts a
// new file at the path, instead of writing on into a file nobody sees.
void tst_HistoryRecorder::startsAgainWhereTheFileWent_data()
{
    QTest::addColumn<bool>("replaced");
    QTest::newRow("deleted") << false;
    QTest::newRow("replaced") << true;
}

void tst_HistoryRecorder::startsAgainWhereTheFileWent()
{
    QFETCH(bool, replaced);
    auto history = recorder();
    QSignalSpy lines(history.get(), &HistoryRecorder::reportLine);
    history->setRecording(true);
    connectLink();
    feed(support::packet(support::unitFields("1", "900", "0")));
    history->flush();
    QCOMPARE(support::sqlRows(m_path, "SELECT COUNT(*) FROM readings"), QByteArrayList({"1"}));
    for (const QString &file : {m_path, m_path + QStringLiteral("-wal"), m_path + QStringLiteral("-shm")})
        QFile::remove(file);
    if (replaced) {
        const QString other = m_path + QStringLiteral(".other");
        {
            HistoryStore store;
            QVERIFY(store.open(other, HistoryStore::Access::ReadWrite));
        }
        QVERIFY(QFile::rename(other, m_path));
    }
    feed(support::packet(support::unitFields("2", "900", "0")));
    history->flush();
    QTRY_COMPARE(lines.size(), 1);
    QCOMPARE(lines.at(0).at(0).toByteArray(),
             QStringLiteral("[HISTORY ERR: %1 was %2 while open; a new one is started there]")
                 .arg(m_path, replaced ? QStringLiteral("replaced") : QStringLiteral("deleted"))
                 .toLatin1());
    QCOMPARE(support::sqlRows(m_path, "SELECT COUNT(*), MAX(hole_depth) FROM readings"), QByteArrayList({"1|2"}));
    feed(support::packet(support::unitFields("3", "900", "0")));
    history->flush();
    QCOMPARE(lines.size(), 1);
    QCOMPARE(support::sqlRows(m_path, "SELECT COUNT(*) FROM readings"), QByteArrayList({"2"}));
}

void tst_HistoryRecorder::prunesPastTheRetention()
{
    const qint64 day = 24LL * 60 * 60 * 1000;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        HistoryStore store;
        QVERIFY(store.open(m_path, HistoryStore::Access::ReadWrite));
        history::Batch batch;
        for (int i = 0; i < 2 * HistoryRecorder::PruneSliceRows + 10; ++i) {
            for (const char *unit : {"0001", "0002"})
                batch.readings.push_back({now - 40 * day + i, QString::fromLatin1(unit), "*old", {}});
        }
        batch.readings.push_back({now - 29 * day, QStringLiteral("0001"), "*kept", {}});
        batch.witsItems.push_back({now - 31 * day, QStringLiteral("0002"), 0, 108, 1.0});
        batch.events.push_back({now - 31 * day, QStringLiteral("0002"), QStringLiteral("connected"), QString()});
        const HistoryResult<void> written = store.write(batch);
        QVERIFY2(written, qPrintable(written ? QString() : written.reason().text));
    }
    auto history = recorder();
    history->setRecording(true);
    QTRY_COMPARE(support::sqlRows(m_path, "SELECT (SELECT COUNT(*) FROM readings) || ' '"
                                                         " || (SELECT COUNT(*) FROM wits_items) || ' '"
                                                         " || (SELECT COUNT(*) FROM events)"),
                 QByteArrayList({"1 0 0"}));
    QCOMPARE(support::sqlRows(m_path, "SELECT packet FROM readings"), QByteArrayList({"*kept"}));
}

QTEST_GUILESS_MAIN(tst_HistoryRecorder)
#include "tst_historyrecorder.moc"
