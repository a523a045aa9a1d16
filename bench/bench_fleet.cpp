// Watches a history file that rtrecorder writes, from outside, for the
// fleet benchmark (bench/fleet.sh):
//
//   bench_fleet watch --db PATH|URI --sent-log FILE --seconds N
//       every 100 ms reads the readings committed since the last look and
//       prints, at the end, how long after its acceptance (the row's time)
//       and after its sending (the simulator's sent log) each became
//       visible in the file: "accepted|sent p50 p99 max count" (ms)
//   bench_fleet count --db PATH --sent-log FILE
//       per unit, the packets sent and how many of them the history holds
//       once: "unit sent recorded duplicates", then "total ...", then
//       "missing unit,number sent-ms" for each packet not recorded
//
// A reading's packet number is its field 29, as the simulator numbers it.

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QUrl>
#include <QVariant>

namespace {

using Key = QByteArray;  // "unit,packet number"

QHash<Key, qint64> readSentLog(const QString &path)
{
    QHash<Key, qint64> sent;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return sent;
    while (!file.atEnd()) {
        const QByteArrayList parts = file.readLine().trimmed().split(',');
        if (parts.size() == 3)
            sent.insert(parts.at(0) + ',' + parts.at(1), parts.at(2).toLongLong());
    }
    return sent;
}

Key keyOf(const QString &unit, const QByteArray &packet)
{
    const QByteArrayList fields = packet.split(',');
    return unit.toLatin1() + ',' + (fields.size() > 28 ? fields.at(28) : QByteArray());
}

bool isServer(const QString &path)
{
    return path.startsWith(QLatin1String("postgresql://"));
}

// A history file, or a shared store as postgresql://user@host:port/dbname
// (bench/shared.sh's own server, which trusts the loopback).
bool openDb(QSqlDatabase &db, const QString &path)
{
    if (isServer(path)) {
        const QUrl url(path);
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("watch"));
        db.setHostName(url.host());
        db.setPort(url.port(5432));
        db.setUserName(url.userName());
        db.setDatabaseName(url.path().mid(1));
        return db.open();
    }
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("watch"));
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000"));
    return db.open();
}

double percentile(std::vector<qint64> values, double share)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, size_t(share * double(values.size())));
    return double(values[at]);
}

void printLatency(const char *name, const std::vector<qint64> &values)
{
    std::printf("%s %.0f %.0f %.0f %zu\n", name, percentile(values, 0.5), percentile(values, 0.99),
                values.empty() ? -1.0 : double(*std::max_element(values.begin(), values.end())), values.size());
}

int watch(const QString &dbPath, const QString &sentPath, int seconds)
{
    QSqlDatabase db;
    QElapsedTimer waited;
    waited.start();
    while (!isServer(dbPath) && !QFile::exists(dbPath) && waited.elapsed() < 10000)
        QThread::msleep(100);
    if (!openDb(db, dbPath))
        return 1;
    std::vector<qint64> fromAccepted;
    std::vector<qint64> fromSent;
    std::vector<std::pair<Key, qint64>> unmatched;  // the sent log is written once a second
    qint64 last = 0;
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < qint64(seconds) * 1000) {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("SELECT id, time_ms, unit, packet FROM readings WHERE id > ? ORDER BY id"));
        query.addBindValue(last);
        if (query.exec()) {
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            while (query.next()) {
                last = query.value(0).toLongLong();
                fromAccepted.push_back(now - query.value(1).toLongLong());
                unmatched.emplace_back(keyOf(query.value(2).toString(), query.value(3).toByteArray()), now);
            }
        }
        query.finish();
        QThread::msleep(100);
    }
    db.close();
    // The simulator's times, read at the end when its log holds them.
    QThread::msleep(1500);
    const QHash<Key, qint64> sent = readSentLog(sentPath);
    for (const auto &[key, seen] : unmatched) {
        const auto it = sent.constFind(key);
        if (it != sent.cend())
            fromSent.push_back(seen - *it);
    }
    printLatency("accepted", fromAccepted);
    printLatency("sent", fromSent);
    return 0;
}

int count(const QString &dbPath, const QString &sentPath)
{
    QSqlDatabase db;
    if (!openDb(db, dbPath))
        return 1;
    const QHash<Key, qint64> sent = readSentLog(sentPath);
    std::map<QByteArray, std::pair<qint64, qint64>> perUnit;  // sent, recorded once
    std::map<QByteArray, qint64> duplicates;
    QHash<Key, int> recorded;
    std::vector<Key> missing;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT unit, packet FROM readings")))
        return 1;
    while (query.next())
        ++recorded[keyOf(query.value(0).toString(), query.value(1).toByteArray())];
    for (auto it = sent.cbegin(); it != sent.cend(); ++it) {
        const QByteArray unit = it.key().left(it.key().indexOf(','));
        auto &[sentCount, once] = perUnit[unit];
        ++sentCount;
        const int times = recorded.value(it.key());
        once += times >= 1;
        if (times == 0)
            missing.push_back(it.key());
        if (times > 1)
            duplicates[unit] += times - 1;
    }
    qint64 allSent = 0, allOnce = 0, allDuplicates = 0;
    double lowest = 100.0;
    for (const auto &[unit, counts] : perUnit) {
        std::printf("unit %s %lld %lld %lld\n", unit.constData(), counts.first, counts.second, duplicates[unit]);
        allSent += counts.first;
        allOnce += counts.second;
        allDuplicates += duplicates[unit];
        if (counts.first > 0)
            lowest = std::min(lowest, 100.0 * double(counts.second) / double(counts.first));
    }
    std::printf("total %zu %lld %lld %lld %.3f\n", perUnit.size(), allSent, allOnce, allDuplicates, lowest);
    // The packets missing, with when they were sent, to tell a loss at the
    // start, on the way or at the stop.
    std::sort(missing.begin(), missing.end());
    for (const Key &key : missing)
        std::printf("missing %s %lld\n", key.constData(), sent.value(key));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    auto value = [&args](const char *name) {
        const qsizetype at = args.indexOf(QLatin1String(name));
        return at > 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
    };
    const QString mode = args.value(1);
    if (mode == QLatin1String("watch"))
        return watch(value("--db"), value("--sent-log"), value("--seconds").toInt());
    if (mode == QLatin1String("count"))
        return count(value("--db"), value("--sent-log"));
    std::fprintf(stderr, "usage: bench_fleet watch|count --db PATH --sent-log FILE [--seconds N]\n");
    return 2;
}
