#include <atomic>
#include <memory>

#include <QBuffer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSemaphore>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>

#include "history/historycommand.h"
#include "history/historynews.h"
#include "history/historyprobe.h"
#include "history/historysource.h"
#include "history/historystore.h"
#include "history/historywriter.h"
#include "history/readerthread.h"
#include "history/sqldialect.h"
#include "support/historysupport.h"

// The history on either engine: a SQLite file, or a database of its own on
// the PostgreSQL server the suite starts. Addresses, the same store on both,
// a server's schema left to its owner, and the roles keeping to their
// rights.

namespace {

constexpr qint64 Start = 1796000000000;  // 2026-11-30, UTC

const QString Sqlite = QStringLiteral("sqlite");
const QString Postgres = QStringLiteral("postgresql");

// Bytes as a unit sends them, a degree sign and a NUL included: the store
// keeps them as they came on both engines.
const QByteArray OddPacket("P,0001,12/08/2026,14:05:09,1820.5,\xb0" "C,\x01\x7f,#A1\r\n", 46);

} // namespace

class tst_SharedStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void addresses_data();
    void addresses();
    void sourceIsRememberedWithoutPassword_data();
    void sourceIsRememberedWithoutPassword();
    void probeNeverHoldsTheCaller();
    void programEndWaitsForItsReaders();
    void engines_data();
    void roundTrip_data() { engines_data(); }
    void roundTrip();
    void serverSchemaIsTheOwners();
    void rolesKeepToTheirRights();
    void recorderWritesAsTheWriterRole();
    void lostConnectionFailsInOneLine();
    void newsNamesTheUnitsWritten_data() { engines_data(); }
    void newsNamesTheUnitsWritten();
    void rawExportOnEitherEngine_data() { engines_data(); }
    void rawExportOnEitherEngine();

private:

    // The address of an empty history on the engine, its schema made as
    // its owner would; empty when the engine is a server and there is none
    // (m_server says why).
    QString historyOn(const QString &engine);

    QTemporaryDir m_dir;
    std::unique_ptr<support::ServerDatabase> m_server;
};

void tst_SharedStore::init()
{
    m_server.reset();
}

void tst_SharedStore::cleanup()
{
    m_server.reset();
}

QString tst_SharedStore::historyOn(const QString &engine)
{
    if (engine == Sqlite)
        return m_dir.filePath(QStringLiteral("%1-%2.sqlite3")
                                  .arg(QLatin1String(QTest::currentTestFunction()), QLatin1String(QTest::currentDataTag())));
    m_server = std::make_unique<support::ServerDatabase>();
    if (!m_server->isValid())
        return QString();
    HistoryStore owner;
    if (const HistoryResult<void> made = owner.open(m_server->uri(), HistoryStore::Access::Migrate); !made)
        qFatal("%s", qPrintable(made.reason().text));
    return m_server->uri();
}

void tst_SharedStore::addresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");  // engine|path or host|port|user|database|options; or the refusal
    QTest::newRow("a path") << "/var/lib/rtviewer/history.sqlite3" << "file|/var/lib/rtviewer/history.sqlite3";
    QTest::newRow("a relative path") << "history.sqlite3" << "file|history.sqlite3";
    QTest::newRow("sqlite: before a path") << "sqlite:/tmp/h.sqlite3" << "file|/tmp/h.sqlite3";
    QTest::newRow("sqlite: alone") << "sqlite:" << "refused: names no file";
    QTest::newRow("a file named like a scheme") << "postgresql.sqlite3" << "file|postgresql.sqlite3";
    QTest::newRow("everything") << "postgresql://rec@db.example:6432/rthistory?sslmode=require"
                                << "server|db.example|6432|rec|rthistory|sslmode=require";
    QTest::newRow("short scheme, defaults") << "postgres://db.example/h" << "server|db.example|-1||h|";
    QTest::newRow("nothing but the scheme") << "postgresql://" << "server||-1|||";
    QTest::newRow("a socket folder") << "postgresql:///h?host=/run/postgresql" << "server|/run/postgresql|-1||h|";
    QTest::newRow("service and timeout") << "postgresql://db/h?service=ops&connect_timeout=3"
                                         << "server|db|-1||h|service=ops,connect_timeout=3";
    QTest::newRow("verify-full") << "postgresql://db/h?sslmode=verify-full&sslrootcert=/etc/ssl/ca.pem"
                                 << "server|db|-1||h|sslmode=verify-full,sslrootcert=/etc/ssl/ca.pem";
    QTest::newRow("a password") << "postgresql://rec:s3cret@db/h" << "refused: carries a password";
    QTest::newRow("an empty password") << "postgresql://rec:@db/h" << "refused: carries a password";
    QTest::newRow("a password option") << "postgresql://rec@db/h?password=s3cret" << "refused: carries a password";
    QTest::newRow("an unknown sslmode") << "postgresql://db/h?sslmode=sometimes" << "refused: sslmode is one of";
    QTest::newRow("an unknown option") << "postgresql://db/h?options=-c%20x=1" << "refused: does not know: options";
    QTest::newRow("a value of two words") << "postgresql://db/h?application_name=a%20b" << "refused: unusable value";
    QTest::newRow("a timeout of 0") << "postgresql://db/h?connect_timeout=0" << "refused: connect_timeout";
    QTest::newRow("a path past the database") << "postgresql://db/h/more" << "refused: more than a database";
}

void tst_SharedStore::addresses()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const Result<sqldialect::Address, QString> address = sqldialect::parseAddress(text);
    if (expected.startsWith(QLatin1String("refused: "))) {
        QVERIFY2(!address, qPrintable(text));
        QVERIFY2(address.reason().contains(expected.mid(9)), qPrintable(address.reason()));
        // The refusal never repeats a password.
        QVERIFY(!address.reason().contains(QLatin1String("s3cret")));
        return;
    }
    QVERIFY2(address, qPrintable(address ? QString() : address.reason()));
    const QString seen = address->engine == sqldialect::Engine::Sqlite
        ? QStringLiteral("file|") + address->path
        : QStringList{QStringLiteral("server"), address->host, QString::number(address->port), address->user,
                      address->database, address->options.join(QLatin1Char(','))}
              .join(QLatin1Char('|'));
    QCOMPARE(seen, expected);
}

void tst_SharedStore::sourceIsRememberedWithoutPassword_data()
{
    QTest::addColumn<QString>("stored");  // in the settings before; "-" for nothing
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("refusal");  // part of it; empty when taken
    const QString server = QStringLiteral("postgresql://rtviewer_reader@db.example/rthistory?sslmode=require");
    QTest::newRow("a server") << "-" << server << "";
    QTest::newRow("back to the file") << server << "" << "";
    QTest::newRow("a password") << server << "postgresql://rtviewer_reader:s3cret@db/h" << "carries a password";
    QTest::newRow("a password option") << "-" << "postgresql://r@db/h?password=s3cret" << "carries a password";
    QTest::newRow("a path") << "-" << "/tmp/other.sqlite3" << "PostgreSQL connection URI";
    QTest::newRow("an unknown sslmode") << server << "postgresql://db/h?sslmode=sometimes" << "sslmode is one of";
}

void tst_SharedStore::sourceIsRememberedWithoutPassword()
{
    QFETCH(QString, stored);
    QFETCH(QString, chosen);
    QFETCH(QString, refusal);
    const QString key = QLatin1String(HistorySource::SettingKey);
    const QString local = m_dir.filePath(QStringLiteral("history.sqlite3"));
    if (stored == QLatin1String("-"))
        QSettings().remove(key);
    else
        QSettings().setValue(key, stored);
    HistorySource source(local);
    QVERIFY(source.problem().isEmpty());
    const QString before = source.address();
    QCOMPARE(before, stored == QLatin1String("-") ? local : stored);
    QSignalSpy changed(&source, &HistorySource::changed);
    const Result<void> outcome = source.choose(chosen);
    if (!refusal.isEmpty()) {
        // Refused with the store's own reason, never repeating a secret,
        // and nothing changed or written.
        QVERIFY(!outcome);
        QVERIFY2(outcome.reason().contains(refusal), qPrintable(outcome.reason()));
        QVERIFY(!outcome.reason().contains(QLatin1String("s3cret")));
        QCOMPARE(source.address(), before);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(QSettings().value(key, QStringLiteral("-")).toString(), stored);
        return;
    }
    QVERIFY(outcome);
    QCOMPARE(source.address(), chosen.isEmpty() ? local : chosen);
    QCOMPARE(source.isServer(), !chosen.isEmpty());
    QCOMPARE(changed.count(), 1);
    // A second owner made later, as at the next start, reads the choice.
    QCOMPARE(HistorySource(local).address(), source.address());
    QVERIFY(!QSettings().contains(key) || QSettings().value(key).toString() == chosen);

    // A password written into the file by hand is not taken, nor repeated.
    QSettings().setValue(key, QStringLiteral("postgresql://r:s3cret@db/h"));
    const HistorySource handWritten(local);
    QCOMPARE(handWritten.address(), local);
    QVERIFY(handWritten.problem().startsWith("[SETTINGS ERR: history/source"));
    QVERIFY(!handWritten.problem().contains("s3cret"));
}

void tst_SharedStore::probeNeverHoldsTheCaller()
{
    if (!sqldialect::driverAvailable(sqldialect::Engine::Postgres))
        QSKIP("Qt SQL's PostgreSQL driver is not installed");
    // A server that takes the connection and never answers: the try ends
    // at the address's connect timeout, while this thread's timer ticks on.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    const QString silentAt = QStringLiteral("postgresql://nobody@127.0.0.1:%1/h?connect_timeout=2").arg(silent.serverPort());
    // A probe that goes while its try runs does not wait for it.
    {
        QElapsedTimer held;
        held.start();
        auto gone = std::make_unique<HistoryProbe>();
        gone->probe(silentAt);
        gone.reset();
        QVERIFY2(held.elapsed() < 500, qPrintable(QString::number(held.elapsed())));
    }
    HistoryProbe probe;
    QSignalSpy answered(&probe, &HistoryProbe::answered);
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&ticks] { ++ticks; });
    ticker.start(100);
    probe.probe(silentAt);
    QVERIFY(probe.busy());
    QVERIFY(answered.wait(10000));
    QCOMPARE(answered.first().at(0).toString(), silentAt);
    const QString failure = answered.first().at(1).toString();
    QVERIFY2(failure.startsWith(QLatin1String("cannot open ")) && !failure.contains(QLatin1Char('\n')), qPrintable(failure));
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));

    // A port nobody listens on fails at once, with its reason.
    const quint16 port = silent.serverPort();
    silent.close();
    probe.probe(QStringLiteral("postgresql://nobody@127.0.0.1:%1/h").arg(port));
    QVERIFY(answered.wait(10000));
    QVERIFY2(answered.last().at(1).toString().contains(QLatin1String("refused")), qPrintable(answered.last().at(1).toString()));
    QVERIFY(!probe.busy());

    // The suite's server, its schema made by the owner, answers.
    const QString reached = historyOn(Postgres);
    if (reached.isEmpty())
        QSKIP(qPrintable(m_server->skipReason()));
    probe.probe(reached);
    QVERIFY(answered.wait(10000));
    QCOMPARE(answered.last().at(1).toString(), QString());
}

void tst_SharedStore::programEndWaitsForItsReaders()
{
    // The windows never wait for their readers; the program's end does, so
    // that none is still closing its connection while the database layer
    // goes. One that does not end in time is left, and said to be.
    QSemaphore go;
    std::atomic_bool gone{false};
    auto *work = new QObject;
    connect(work, &QObject::destroyed, [&gone] { gone = true; });
    readerthread::start(work, QStringLiteral("held reader"));
    QMetaObject::invokeMethod(work, [work, &go] {
        go.acquire();
        work->thread()->quit();
    });
    QVERIFY(!readerthread::waitForAll(QDeadlineTimer(50)));
    QVERIFY(!gone);
    go.release();
    QVERIFY(readerthread::waitForAll(QDeadlineTimer(10000)));
    QVERIFY(gone);
}

void tst_SharedStore::engines_data()
{
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << Sqlite;
    QTest::newRow("postgresql") << Postgres;
}

// Every kind of row written and read back alike on both engines, across
// sessions: the units written once however often they come, bytes kept
// exactly, empty values kept empty, the oldest rows pruned and no others.
void tst_SharedStore::roundTrip()
{
    QFETCH(QString, engine);
    const QString address = historyOn(engine);
    if (address.isEmpty())
        QSKIP(qPrintable(m_server->skipReason()));

    for (int session = 0; session < 2; ++session) {
        HistoryStore store;
        const HistoryResult<void> opened = store.open(address, HistoryStore::Access::ReadWrite);
        QVERIFY2(opened, qPrintable(opened ? QString() : opened.reason().text));
        history::Batch batch;
        for (int i = 0; i < 3; ++i) {
            history::ReadingRow row;
            row.timeMs = Start + (session * 3 + i) * 1000;
            row.unit = QStringLiteral("0001");
            row.serial = QStringLiteral("1001");
            row.unitName = QByteArray("Rig \xb0 7");
            row.packet = OddPacket;
            row.values[0] = 1820.5 + i;
            if (i == 1)
                row.unitTimeMs = Start - 5000;
            batch.readings.push_back(row);
        }
        batch.witsItems.push_back({Start + session, QStringLiteral("0001"), 2, 108, -12.25});
        batch.witsRecords.push_back({Start + session, QStringLiteral("0001"), QByteArray("&&\r\n0108-12.25\r\n!!\r\n")});
        batch.events.push_back({Start + session, QStringLiteral("0002"), QStringLiteral("connected"), QStringLiteral("é")});
        const HistoryResult<void> written = store.write(batch);
        QVERIFY2(written, qPrintable(written ? QString() : written.reason().text));
    }

    HistoryStore store;
    QVERIFY(store.open(address, HistoryStore::Access::ReadOnly));
    QCOMPARE(store.engine(), engine == Postgres ? sqldialect::Engine::Postgres : sqldialect::Engine::Sqlite);
    const HistoryResult<std::vector<UnitSummary>> units = store.units();
    QVERIFY(units);
    QCOMPARE(units->size(), std::size_t(1));  // 0002 has events only
    QCOMPARE(units->front().unit, QStringLiteral("0001"));
    QCOMPARE(units->front().readings, 6);
    QCOMPARE(units->front().firstMs, Start);
    QCOMPARE(units->front().lastMs, Start + 5000);
    const HistoryResult<std::vector<RecordedUnit>> recorded = store.recordedUnits();
    QVERIFY(recorded);
    QCOMPARE(recorded->size(), std::size_t(1));

    HistoryResult<HistoryCursor<history::ReadingRow>> cursor =
        store.readings({QStringLiteral("0001"), Start, Start + 10000}, true, {QLatin1String(history::numericColumns()[0].name),
                                                                            QLatin1String(history::numericColumns()[1].name)});
    QVERIFY(cursor);
    const HistoryResult<std::vector<history::ReadingRow>> rows = cursor->fetch(100);
    QVERIFY(rows);
    QCOMPARE(rows->size(), std::size_t(6));
    QCOMPARE(rows->at(0).packet, OddPacket);
    QCOMPARE(rows->at(0).serial, QStringLiteral("1001"));
    QCOMPARE(rows->at(2).values[0], std::optional<double>(1822.5));
    QCOMPARE(rows->at(2).values[1], std::optional<double>());
    QCOMPARE(rows->at(0).unitTimeMs, std::optional<qint64>());
    QCOMPARE(rows->at(4).unitTimeMs, std::optional<qint64>(Start - 5000));
    QVERIFY(cursor->done());

    HistoryResult<HistoryCursor<history::WitsRecordRow>> records = store.witsRecords({QStringLiteral("0001"), Start, Start + 2});
    QVERIFY(records);
    const HistoryResult<std::vector<history::WitsRecordRow>> recordRows = records->fetch(10);
    QVERIFY(recordRows);
    QCOMPARE(recordRows->size(), std::size_t(2));
    QCOMPARE(recordRows->at(1).record, QByteArray("&&\r\n0108-12.25\r\n!!\r\n"));
    HistoryResult<HistoryCursor<history::WitsRow>> items = store.witsItems({QStringLiteral("0001"), Start, Start + 2});
    QVERIFY(items);
    const HistoryResult<std::vector<history::WitsRow>> itemRows = items->fetch(10);
    QVERIFY(itemRows);
    QCOMPARE(itemRows->size(), std::size_t(2));
    QCOMPARE(itemRows->at(0).value, -12.25);
    const HistoryResult<std::vector<history::EventRow>> events =
        store.events({QStringLiteral("0002"), Start, Start + 2}, {QStringLiteral("connected")});
    QVERIFY(events);
    QCOMPARE(events->size(), std::size_t(2));
    QCOMPARE(events->at(0).detail, QStringLiteral("é"));
    store.close();

    HistoryStore pruner;
    QVERIFY(pruner.open(address, HistoryStore::Access::ReadWrite));
    const HistoryResult<qint64> pruned = pruner.pruneSome(Start + 2000, 1000);
    QVERIFY2(pruned, qPrintable(pruned ? QString() : pruned.reason().text));
    // Readings at 0 and 1 s; the WITS items, records and events of both
    // sessions, all before the cut.
    QCOMPARE(*pruned, 2 + 2 + 2 + 2);
    QCOMPARE(*pruner.count(HistoryStore::Table::Readings, {QStringLiteral("0001"), 0, Start + 10000}), 4);
    QVERIFY(pruner.returnFreeSpace());
}

// Recorders and viewers never change a server's schema: they say what they
// need, and only the owner's migration makes it.
void tst_SharedStore::serverSchemaIsTheOwners()
{
    support::ServerDatabase server;
    if (!server.isValid())
        QSKIP(qPrintable(server.skipReason()));
    for (const HistoryStore::Access access : {HistoryStore::Access::ReadWrite, HistoryStore::Access::ReadOnly}) {
        HistoryStore store;
        const HistoryResult<void> opened = store.open(server.uri(), access);
        QVERIFY(!opened);
        QVERIFY2(opened.reason().text.contains(QStringLiteral("holds no history yet; this program needs schema %1:"
                                                              " its owner brings it forward with rthistory migrate --db ")
                                                   .arg(HistoryStore::SchemaVersion)),
                 qPrintable(opened.reason().text));
    }
    QCOMPARE(server.run(QStringLiteral("SELECT 1 FROM schema_version")),
             QStringLiteral("relation \"schema_version\" does not exist"));

    // A store of the second schema.
    QVERIFY(server.run(QStringLiteral("CREATE TABLE schema_version (version INTEGER NOT NULL);"
                                      " INSERT INTO schema_version VALUES (1), (2);"
                                      " CREATE TABLE units (unit TEXT PRIMARY KEY); CREATE TABLE readings (id INTEGER);"
                                      " CREATE TABLE wits_items (id INTEGER); CREATE TABLE events (id INTEGER);"
                                      " CREATE TABLE wits_records (id INTEGER)"))
                .isEmpty());
    HistoryStore recorder;
    const HistoryResult<void> refused = recorder.open(server.uri(), HistoryStore::Access::ReadWrite);
    QVERIFY(!refused);
    QVERIFY2(refused.reason().text.contains(
                 QStringLiteral("has schema 2; this program needs schema %1").arg(HistoryStore::SchemaVersion)),
             qPrintable(refused.reason().text));
}

// The roles of packaging/sql: the owner migrates, the writer adds rows but
// cannot change the schema or delete, the reader only reads.
void tst_SharedStore::rolesKeepToTheirRights()
{
    support::ServerDatabase server;
    if (!server.isValid())
        QSKIP(qPrintable(server.skipReason()));
    QFile roles(QFINDTESTDATA("../packaging/sql/roles.sql"));
    QVERIFY(roles.open(QIODevice::ReadOnly));
    const QString script = QString::fromUtf8(roles.readAll());
    QCOMPARE(server.run(script), QString());
    QCOMPARE(server.run(script), QString());  // twice changes nothing

    const QString owner = server.uri(QStringLiteral("rtviewer_owner"));
    const QString writer = server.uri(QStringLiteral("rtviewer_writer"));
    const QString reader = server.uri(QStringLiteral("rtviewer_reader"));
    {
        HistoryStore store;
        const HistoryResult<void> opened = store.open(writer, HistoryStore::Access::Migrate);
        QVERIFY(!opened);  // the writer cannot make tables
        QVERIFY2(opened.reason().text.contains(QLatin1String("permission denied")), qPrintable(opened.reason().text));
    }
    {
        HistoryStore store;
        const HistoryResult<void> opened = store.open(owner, HistoryStore::Access::Migrate);
        QVERIFY2(opened, qPrintable(opened ? QString() : opened.reason().text));
    }
    history::Batch batch;
    batch.readings.push_back({Start, QStringLiteral("0001"), OddPacket, {}, QStringLiteral("0001"), {}, {}});
    batch.events.push_back({Start, QStringLiteral("0001"), QStringLiteral("connected"), QString()});
    {
        HistoryStore store;
        QVERIFY(store.open(writer, HistoryStore::Access::ReadWrite));
        const HistoryResult<void> written = store.write(batch);
        QVERIFY2(written, qPrintable(written ? QString() : written.reason().text));
        QVERIFY(store.write(batch));  // the unit again: left as it is
    }
    {
        HistoryStore store;
        QVERIFY(store.open(reader, HistoryStore::Access::ReadOnly));
        QCOMPARE(*store.count(HistoryStore::Table::Readings, {QStringLiteral("0001"), 0, Start + 1}), 2);
        QVERIFY(!store.write(batch));
    }
    // Rights the roles must not have, tried through connections of their
    // own so that nothing of the store stands in the way.
    for (const char *statement : {"DROP TABLE readings", "ALTER TABLE readings ADD COLUMN x INTEGER",
                                  "CREATE TABLE x (y INTEGER)", "DELETE FROM readings", "UPDATE events SET detail = ''",
                                  "TRUNCATE events", "DROP TABLE schema_version"}) {
        QVERIFY2(!server.run(QLatin1String(statement), QStringLiteral("rtviewer_writer")).isEmpty(), statement);
        QVERIFY2(!server.run(QLatin1String(statement), QStringLiteral("rtviewer_reader")).isEmpty(), statement);
    }
    QVERIFY(server.run(QStringLiteral("INSERT INTO events (time_ms, unit, kind, detail) VALUES (1, '0001', 'x', '')"),
                       QStringLiteral("rtviewer_reader"))
                .contains(QLatin1String("permission denied")));
    QCOMPARE(server.run(QStringLiteral("SELECT COUNT(*) FROM readings"), QStringLiteral("rtviewer_reader")), QString());
    // The owner prunes.
    HistoryStore store;
    QVERIFY(store.open(owner, HistoryStore::Access::ReadWrite));
    QCOMPARE(*store.pruneSome(Start + 1, 100), 4);
}

// The recorder's writer on a server, as the writer role: it writes what it
// is given and leaves old rows for the owner to prune, where trying to
// delete them would stop it.
void tst_SharedStore::recorderWritesAsTheWriterRole()
{
    m_server = std::make_unique<support::ServerDatabase>();
    if (!m_server->isValid())
        QSKIP(qPrintable(m_server->skipReason()));
    QFile roles(QFINDTESTDATA("../packaging/sql/roles.sql"));
    QVERIFY(roles.open(QIODevice::ReadOnly));
    QCOMPARE(m_server->run(QString::fromUtf8(roles.readAll())), QString());
    {
        HistoryStore owner;
        QVERIFY(owner.open(m_server->uri(QStringLiteral("rtviewer_owner")), HistoryStore::Access::Migrate));
    }
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    {
        // Rows older than the retention, there before the writer starts.
        HistoryStore store;
        QVERIFY(store.open(m_server->uri(QStringLiteral("rtviewer_writer")), HistoryStore::Access::ReadWrite));
        history::Batch old;
        old.readings.push_back({now - 3 * 86400000LL, QStringLiteral("0001"), OddPacket, {}, QStringLiteral("0001"), {}, {}});
        QVERIFY(store.write(old));
    }
    HistoryWriter::Options options;
    options.path = m_server->uri(QStringLiteral("rtviewer_writer"));
    options.retentionDays = 1;
    HistoryWriter writer(options);
    QSignalSpy paused(&writer, &HistoryWriter::paused);
    QSignalSpy committed(&writer, &HistoryWriter::committed);
    const HistoryResult<void> started = writer.start();
    QVERIFY2(started, qPrintable(started ? QString() : started.reason().text));
    for (const qint64 at : {now - 2 * 86400000LL, now}) {
        history::Batch batch;
        batch.readings.push_back({at, QStringLiteral("0001"), OddPacket, {}, QStringLiteral("0001"), {}, {}});
        writer.submit(std::move(batch));
    }
    QTRY_VERIFY(!committed.isEmpty());
    QVERIFY(writer.sync());
    QVERIFY(writer.stop());
    QCOMPARE(paused.count(), 0);
    HistoryStore reader;
    QVERIFY(reader.open(m_server->uri(QStringLiteral("rtviewer_reader")), HistoryStore::Access::ReadOnly));
    QCOMPARE(*reader.count(HistoryStore::Table::Readings, {QStringLiteral("0001"), 0, now + 1}), 3);
}

// The server ends the connection (a restart, a failover): the write fails
// with the server's reason as one line, and closing the store says nothing
// more (a recorder's standard error has one line per event).
void tst_SharedStore::lostConnectionFailsInOneLine()
{
    const QString address = historyOn(Postgres);
    if (address.isEmpty())
        QSKIP(qPrintable(m_server->skipReason()));
    QTest::failOnWarning(QRegularExpression(QStringLiteral(".")));
    HistoryStore store;
    QVERIFY(store.open(address, HistoryStore::Access::ReadWrite));
    history::Batch batch;
    batch.readings.push_back({Start, QStringLiteral("0001"), OddPacket, {}, QStringLiteral("0001"), {}, {}});
    QVERIFY(store.write(batch));
    QCOMPARE(m_server->run(QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity"
                                          " WHERE datname = current_database() AND pid <> pg_backend_pid()")),
             QString());
    const HistoryResult<void> written = store.write(batch);
    QVERIFY(!written);
    QCOMPARE(written.reason().kind, sqldialect::Failure::Other);
    QVERIFY2(!written.reason().text.contains(QLatin1Char('\n')), qPrintable(written.reason().text));
    QVERIFY2(written.reason().text.startsWith(QStringLiteral("cannot write to ") + address + QStringLiteral(": ")),
             qPrintable(written.reason().text));
    store.close();
}

// A reader hears which units a writer's commits touched, and only those:
// notified by a server, found by looking once a second at a file.
void tst_SharedStore::newsNamesTheUnitsWritten()
{
    QFETCH(QString, engine);
    const QString address = historyOn(engine);
    if (address.isEmpty())
        QSKIP(qPrintable(m_server->skipReason()));
    HistoryStore writer;
    QVERIFY(writer.open(address, HistoryStore::Access::ReadWrite));
    auto write = [&writer](const QStringList &units, qint64 at) {
        history::Batch batch;
        for (const QString &unit : units)
            batch.readings.push_back({at, unit, OddPacket, {}, unit, {}, {}});
        return bool(writer.write(batch));
    };
    // Rows there before the reader starts are no news.
    QVERIFY(write({QStringLiteral("0009")}, Start));

    HistoryNews news;
    QSignalSpy heard(&news, &HistoryNews::unitsChanged);
    const HistoryResult<void> started = news.start(address);
    QVERIFY2(started, qPrintable(started ? QString() : started.reason().text));
    QVERIFY(write({QStringLiteral("0003"), QStringLiteral("0001"), QStringLiteral("0003")}, Start + 1000));
    QVERIFY(heard.wait(5000));
    QCOMPARE(heard.takeFirst().at(0).toStringList(), (QStringList{QStringLiteral("0001"), QStringLiteral("0003")}));
    history::Batch event;
    event.events.push_back({Start + 2000, QStringLiteral("0002"), QStringLiteral("connected"), QString()});
    QVERIFY(writer.write(event));
    QVERIFY(heard.wait(5000));
    QCOMPARE(heard.takeFirst().at(0).toStringList(), QStringList{QStringLiteral("0002")});
    // Nothing written, nothing heard.
    QVERIFY(!heard.wait(1200));
}

QTEST_GUILESS_MAIN(tst_SharedStore)
// rthistory's raw export reads the readings and the WITS records side by
// side; a server's connection carries one cursor at a time, so it takes a
// second one there.
void tst_SharedStore::rawExportOnEitherEngine()
{
    QFETCH(QString, engine);
    const QString address = historyOn(engine);
    if (address.isEmpty())
        QSKIP(qPrintable(m_server->skipReason()));
    {
        HistoryStore store;
        QVERIFY(store.open(address, HistoryStore::Access::ReadWrite));
        history::Batch batch;
        batch.readings.push_back({1000, QStringLiteral("0001"), "*1,A,", {}});
        batch.readings.push_back({2000, QStringLiteral("0001"), "*1,B,", {}});
        QVERIFY(store.write(batch));
    }
    QByteArray out;
    QByteArray err;
    QBuffer outBuffer(&out);
    QBuffer errBuffer(&err);
    outBuffer.open(QIODevice::WriteOnly);
    errBuffer.open(QIODevice::WriteOnly);
    const int code = runHistoryCommand({QStringLiteral("rthistory"), QStringLiteral("export"), QStringLiteral("--db"), address,
                                        QStringLiteral("--unit"), QStringLiteral("0001"), QStringLiteral("--format"),
                                        QStringLiteral("raw")},
                                       outBuffer, errBuffer);
    QVERIFY2(code == 0, err.constData());
    QCOMPARE(out, QByteArray("*1,A,\r\n*1,B,\r\n"));
}

#include "tst_sharedstore.moc"
