// The mud log leaving the viewer: the LAS file rthistory writes, read
// back by a reader of the format's own sections.

#include <cmath>
#include <map>

#include <QBuffer>
#include <QDateTime>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "history/historycommand.h"
#include "history/historystore.h"

namespace {

const qint64 Start = QDateTime(QDate(2026, 12, 8), QTime(6, 0), Qt::UTC).toMSecsSinceEpoch();

history::ReadingRow row(qint64 timeMs, const std::map<QString, double> &values)
{
    history::ReadingRow made;
    made.timeMs = timeMs;
    made.unit = QStringLiteral("0001");
    made.packet = "*";
    for (std::size_t i = 0; i < history::numericColumns().size(); ++i) {
        const auto found = values.find(QLatin1String(history::numericColumns()[i].name));
        if (found != values.end())
            made.values[i] = found->second;
    }
    return made;
}

// Two stretches logged a long way apart, as after a trip with the
// recorder off: 9,550 to 9,559 ft and 9,600 to 9,604 ft, a reading every
// 30 s, drilling a foot a minute, gas peaking at the second stretch.
history::Batch tour()
{
    history::Batch batch;
    qint64 time = Start;
    auto add = [&](double depth, double gas) {
        batch.readings.push_back(row(time, {{QStringLiteral("hole_depth"), depth + 30},
                                            {QStringLiteral("lag_depth"), depth},
                                            {QStringLiteral("gas_units"), gas},
                                            {QStringLiteral("c1"), 10 * gas},
                                            {QStringLiteral("c2"), gas / 2},
                                            {QStringLiteral("c3"), gas / 4},
                                            {QStringLiteral("ic4"), 5},
                                            {QStringLiteral("nc4"), 5},
                                            {QStringLiteral("ic5"), 2},
                                            {QStringLiteral("nc5"), 2},
                                            {QStringLiteral("error_number"), 0}}));
        time += 30000;
    };
    for (double depth = 9550; depth < 9560; depth += 0.5)
        add(depth, 400 + depth - 9550);
    time += 3600000;
    for (double depth = 9600; depth < 9605; depth += 0.5)
        add(depth, depth == 9602 ? 2500 : 600);
    return batch;
}

// A LAS 2.0 file read by its sections: each section's lines by the
// letter after the tilde, header lines split at the first dot, the first
// blank after it and the last colon, the ~A rows as numbers.
struct LasFile
{
    struct Line
    {
        QByteArray mnemonic, unit, data, description;
    };
    std::map<char, QList<QByteArray>> sections;
    QList<QList<double>> rows;

    static LasFile read(const QByteArray &text)
    {
        LasFile las;
        char section = 0;
        for (const QByteArray &line : text.split('\n')) {
            QByteArray plain = line;
            if (plain.endsWith('\r'))
                plain.chop(1);
            if (plain.startsWith('~')) {
                section = plain.size() > 1 ? plain.at(1) : 0;
                las.sections[section];
                continue;
            }
            if (plain.startsWith('#') || plain.trimmed().isEmpty())
                continue;
            if (section == 'A') {
                QList<double> values;
                for (const QByteArray &cell : plain.simplified().split(' '))
                    values.append(cell.toDouble());
                las.rows.append(values);
            } else {
                las.sections[section].append(plain);
            }
        }
        return las;
    }

    std::optional<Line> line(char section, const QByteArray &mnemonic) const
    {
        const auto found = sections.find(section);
        if (found == sections.end())
            return std::nullopt;
        for (const QByteArray &text : found->second) {
            const qsizetype dot = text.indexOf('.');
            const qsizetype colon = text.lastIndexOf(':');
            if (dot < 0 || colon < dot || text.left(dot).trimmed() != mnemonic)
                continue;
            const QByteArray rest = text.mid(dot + 1, colon - dot - 1);
            const qsizetype blank = rest.indexOf(' ');
            return Line{mnemonic, rest.left(blank), rest.mid(blank).trimmed(), text.mid(colon + 1).trimmed()};
        }
        return std::nullopt;
    }
};

} // namespace

class tst_MudLogReport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void lasThroughRthistory_data();
    void lasThroughRthistory();

private:
    int run(QStringList arguments, QByteArray *out = nullptr, QByteArray *err = nullptr);

    QTemporaryDir m_dir;
    QString m_db;
};

void tst_MudLogReport::initTestCase()
{
    m_db = m_dir.filePath(QStringLiteral("history.sqlite3"));
    HistoryStore store;
    QVERIFY(store.open(m_db, HistoryStore::Access::ReadWrite));
    QVERIFY(store.write(tour()));
}

void tst_MudLogReport::init()
{
    QSettings().remove(QStringLiteral("mudlog"));
}

int tst_MudLogReport::run(QStringList arguments, QByteArray *out, QByteArray *err)
{
    arguments.prepend(QStringLiteral("rthistory"));
    arguments << QStringLiteral("--db") << m_db;
    QBuffer outBuffer;
    QBuffer errBuffer;
    outBuffer.open(QIODevice::WriteOnly);
    errBuffer.open(QIODevice::WriteOnly);
    const int code = runHistoryCommand(arguments, outBuffer, errBuffer);
    if (out)
        *out = outBuffer.data();
    if (err)
        *err = errBuffer.data();
    return code;
}

void tst_MudLogReport::lasThroughRthistory_data()
{
    QTest::addColumn<QString>("unit");  // the viewer's setting; empty: none
    QTest::addColumn<QByteArray>("symbol");
    QTest::addColumn<double>("step");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("stop");
    QTest::addColumn<double>("peakDepth");  // the top of the bin with 2500 units

    QTest::newRow("feet, as the unit sends") << QString() << QByteArray("FT") << 1.0 << 9550.0 << 9634.0 << 9602.0;
    // 9550 ft = 2910.84 m, in the bin from 2910.5; the deepest hole depth,
    // 9634.5 ft, 2936.60 m.
    QTest::newRow("metres") << QStringLiteral("metres") << QByteArray("M") << 0.5 << 2910.5 << 2936.5 << 2926.5;
}

void tst_MudLogReport::lasThroughRthistory()
{
    QFETCH(QString, unit);
    QFETCH(QByteArray, symbol);
    QFETCH(double, step);
    QFETCH(double, start);
    QFETCH(double, stop);
    QFETCH(double, peakDepth);
    if (!unit.isEmpty())
        QSettings().setValue(QStringLiteral("mudlog/depthUnit"), unit);
    QSettings().sync();

    const QString path = m_dir.filePath(QStringLiteral("tour.las"));
    QByteArray err;
    QCOMPARE(run({QStringLiteral("export"), QStringLiteral("--unit"), QStringLiteral("0001"), QStringLiteral("--format"),
                  QStringLiteral("las"), QStringLiteral("--out"), path},
                 nullptr, &err),
             0);
    QCOMPARE(err, QByteArray());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const LasFile las = LasFile::read(file.readAll());

    // Every section, in the version the file says.
    for (const char section : {'V', 'W', 'C', 'P', 'O', 'A'})
        QVERIFY2(las.sections.count(section), &section);
    QCOMPARE(las.line('V', "VERS")->data, QByteArray("2.0"));
    QCOMPARE(las.line('V', "WRAP")->data, QByteArray("NO"));
    QCOMPARE(las.line('W', "WELL")->data, QByteArray("0001"));
    QCOMPARE(las.line('W', "NULL")->data.toDouble(), -999.25);
    for (const char *name : {"STRT", "STOP", "STEP"})
        QCOMPARE(las.line('W', name)->unit, symbol);
    QCOMPARE(las.line('W', "STRT")->data.toDouble(), start);
    QCOMPARE(las.line('W', "STOP")->data.toDouble(), stop);
    QCOMPARE(las.line('W', "STEP")->data.toDouble(), step);
    QCOMPARE(las.line('C', "DEPT")->unit, symbol);
    QCOMPARE(las.line('C', "ROP")->unit, "MIN/" + symbol);

    // One row per step from start to stop, every column filled in.
    const qsizetype curves = las.sections.at('C').size();
    QCOMPARE(curves, qsizetype(13));
    QCOMPARE(las.rows.size(), qsizetype(std::lround((stop - start) / step)) + 1);
    int nulls = 0;
    for (qsizetype i = 0; i < las.rows.size(); ++i) {
        const QList<double> &cells = las.rows.at(i);
        QCOMPARE(cells.size(), curves);
        QCOMPARE(cells.at(0), start + i * step);
        nulls += cells.at(1) == -999.25 ? 1 : 0;
        if (std::fabs(cells.at(0) - peakDepth) < 1e-6)
            QCOMPARE(cells.at(1), 2500.0);
    }
    // The 40 ft between the stretches is logged as nothing, never as 0.
    QVERIFY2(nulls >= std::lround(39 * (symbol == "M" ? 0.3048 : 1.0) / step) - 1, QByteArray::number(nulls));
}

QTEST_GUILESS_MAIN(tst_MudLogReport)
#include "tst_mudlogreport.moc"
