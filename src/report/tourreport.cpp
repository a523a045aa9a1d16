#include "report/tourreport.h"

#include <algorithm>
#include <cmath>

#include <QFontMetricsF>
#include <QThread>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>

#include "history/historyrows.h"
#include "history/historystore.h"
#include "history/readerthread.h"
#include "history/sqldialect.h"
#include "history/trendsource.h"
#include "report/stripdrawing.h"
#include "rules/files/safefile.h"
#include "rules/mudlog/combinedreading.h"
#include "rules/mudlog/pixler.h"
#include "rules/mudlog/striprows.h"

namespace report {

namespace {

constexpr int SliceRows = 5000;
constexpr double MarginMm = 12.0;
constexpr double FontPoints = 7.5;
// The summary lists at most this many intervals of the readings.
constexpr int MostIntervals = 400;
constexpr qint64 MinuteMs = 60 * 1000;
constexpr qint64 HourMs = 60 * MinuteMs;

// The history's columns the report reads, and the sample channel of each
// (ChannelCount: the error number).
struct Column
{
    const char *name;
    trends::Channel channel;
};

const Column Columns[] = {
    {"gas_units", trends::GasUnits}, {"hole_depth", trends::HoleDepth}, {"lag_depth", trends::LagDepth},
    {"rop_ft_hr", trends::Rop},      {"c1", trends::C1},                {"c2", trends::C2},
    {"c3", trends::C3},              {"ic4", trends::IC4},              {"nc4", trends::NC4},
    {"ic5", trends::IC5},            {"nc5", trends::NC5},              {"error_number", trends::ChannelCount},
};

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString depthText(std::optional<double> feet, mudlog::DepthUnit unit)
{
    if (!feet)
        return QStringLiteral("\u2014");
    return QStringLiteral("%L1 %2").arg(mudlog::fromFeet(*feet, unit), 0, 'f', 1).arg(mudlog::unitSymbol(unit));
}

QString depthSpan(double top, double bottom, mudlog::DepthUnit unit)
{
    return QStringLiteral("%L1 to %L2 %3").arg(top, 0, 'f', 1).arg(bottom, 0, 'f', 1).arg(mudlog::unitSymbol(unit));
}

// One line of the text pages: a heading, a paragraph, or a table row
// whose cells stand at the columns' places.
struct Line
{
    enum class Kind { Heading, Text, Row, HeaderRow };
    Kind kind = Kind::Text;
    QStringList cells;
};

struct Plan
{
    QPageLayout::Orientation orientation = QPageLayout::Portrait;
    double perPage = 100.0;  // depth in the unit, or milliseconds
    std::vector<std::pair<double, double>> strips;
    std::vector<std::vector<Line>> textPages;
    int pages() const { return static_cast<int>(strips.size() + textPages.size()); }
};

// The events and the summary, line by line.
std::vector<Line> textLines(const TourReport &report)
{
    const mudlog::DepthUnit unit = report.log.unit();
    std::vector<Line> lines;
    lines.push_back({Line::Kind::Heading, {QStringLiteral("Events and alarms")}});
    if (report.events.empty()) {
        lines.push_back({Line::Kind::Text, {QStringLiteral("None recorded in the interval.")}});
    } else {
        lines.push_back({Line::Kind::HeaderRow,
                         {QStringLiteral("Time (UTC)"), QStringLiteral("Lag depth"), QStringLiteral("Hole depth"),
                          QStringLiteral("Event")}});
        for (const ReportEvent &event : report.events)
            lines.push_back({Line::Kind::Row,
                             {timeText(event.timeMs), depthText(event.lagDepth, unit), depthText(event.holeDepth, unit),
                              (event.alarm ? QStringLiteral("\u25B2 ") : QString()) + event.text}});
    }
    lines.push_back({Line::Kind::Text, {QString()}});
    lines.push_back({Line::Kind::Heading, {QStringLiteral("Summary")}});
    lines.push_back({Line::Kind::Text,
                     {QStringLiteral("%L1 readings from %2 to %3 UTC.")
                          .arg(report.readings)
                          .arg(timeText(report.firstMs), timeText(report.lastMs))}});
    const mudlog::MudLog &log = report.log;
    int highest = 0;
    int logged = 0;
    int redrilled = 0;
    std::optional<double> highestGas;
    for (int index = log.firstIndex(); !log.isEmpty() && index <= log.lastIndex(); ++index) {
        const mudlog::MudBin &bin = log.bin(index);
        logged += bin.logged() ? 1 : 0;
        redrilled += bin.redrilled() ? 1 : 0;
        if (bin.gasUnits() && (!highestGas || *bin.gasUnits() > *highestGas)) {
            highestGas = bin.gasUnits();
            highest = index;
        }
    }
    if (log.isEmpty()) {
        lines.push_back({Line::Kind::Text, {QStringLiteral("No reading had a lag depth: nothing to log by depth.")}});
        return lines;
    }
    lines.push_back({Line::Kind::Text,
                     {QStringLiteral("Logged by lag depth from %1 in bins of %2 %3: %L4 bins logged, %L5 re-drilled "
                                     "(the later pass kept).")
                          .arg(depthSpan(log.topOf(log.firstIndex()), log.bottomOf(log.lastIndex()), unit))
                          .arg(log.binSize())
                          .arg(mudlog::unitSymbol(unit))
                          .arg(logged)
                          .arg(redrilled)}});
    if (highestGas) {
        const mudlog::MudBin &bin = log.bin(highest);
        lines.push_back({Line::Kind::Text,
                         {QStringLiteral("Highest gas: %L1 units at %2 lag depth, %3 UTC; %4.")
                              .arg(*highestGas, 0, 'f', 0)
                              .arg(depthSpan(log.topOf(highest), log.bottomOf(highest), unit), timeText(bin.timeMs()),
                                   [&bin] {
                                       const QString words = mudlog::fluidWords(bin.combined().fluid);
                                       return words.isEmpty() ? QStringLiteral("the ratios give no reading") : words;
                                   }())}});
    }

    // The readings by depth interval: a new interval where either reading
    // changes, and at a gap.
    lines.push_back({Line::Kind::Text, {QString()}});
    lines.push_back({Line::Kind::HeaderRow,
                     {QStringLiteral("Lag depth"), QStringLiteral("Wh, Bh, Ch read together"),
                      QStringLiteral("Pixler")}});
    struct Interval
    {
        int first;
        int last;
        QString combined;
        QString pixler;
    };
    std::vector<Interval> intervals;
    for (int index = log.firstIndex(); index <= log.lastIndex(); ++index) {
        const mudlog::MudBin &bin = log.bin(index);
        if (!bin.logged())
            continue;
        QString combined = mudlog::fluidWords(bin.combined().fluid);
        QString pixler = mudlog::pixlerWords(bin.pixler());
        if (combined.isEmpty())
            combined = QStringLiteral("no reading");
        if (pixler.isEmpty())
            pixler = QStringLiteral("no reading");
        if (!intervals.empty() && intervals.back().last == index - 1 && intervals.back().combined == combined
            && intervals.back().pixler == pixler) {
            intervals.back().last = index;
        } else {
            intervals.push_back({index, index, combined, pixler});
        }
    }
    const std::size_t shown = std::min<std::size_t>(intervals.size(), MostIntervals);
    for (std::size_t i = 0; i < shown; ++i) {
        const Interval &interval = intervals[i];
        lines.push_back({Line::Kind::Row,
                         {depthSpan(log.topOf(interval.first), log.bottomOf(interval.last), unit),
                          interval.combined, interval.pixler}});
    }
    if (intervals.size() > shown)
        lines.push_back({Line::Kind::Text,
                         {QStringLiteral("%L1 more intervals, where the readings change from bin to bin; "
                                         "the LAS export holds every bin.")
                              .arg(intervals.size() - shown)}});
    return lines;
}

QFont reportFont()
{
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(FontPoints);
    return font;
}

// The round stretch of depth (or time) a page holds.
double perPageFor(const TourReport &report, double span)
{
    if (report.byTime) {
        static const qint64 Steps[] = {HourMs, 2 * HourMs, 3 * HourMs, 6 * HourMs, 12 * HourMs, 24 * HourMs};
        for (const qint64 step : Steps) {
            if (step * MaxStripPages >= span)
                return static_cast<double>(step);
        }
        return std::ceil(span / MaxStripPages / (24.0 * HourMs)) * 24.0 * HourMs;
    }
    const double least = report.log.unit() == mudlog::DepthUnit::Metres ? 50.0 : 100.0;
    for (double power = 1; power < 1e7; power *= 10) {
        for (const double step : {1.0, 2.0, 5.0}) {
            const double candidate = step * power;
            if (candidate >= least && candidate * MaxStripPages >= span)
                return candidate;
        }
    }
    return 1e7;
}

QPageLayout::Orientation orientationFor(const QPagedPaintDevice &device)
{
    const QSizeF page = device.pageLayout().pageSize().size(QPageSize::Millimeter);
    const double portraitWidth = std::min(page.width(), page.height()) - 2 * MarginMm;
    return portraitWidth >= LeastStripWidthMm ? QPageLayout::Portrait : QPageLayout::Landscape;
}

// Lines of the running header.
constexpr int HeaderLines = 3;

Plan planReport(const TourReport &report, const QFontMetricsF &metrics, const QSizeF &page)
{
    Plan plan;
    double from = 0.0;
    double to = 0.0;
    if (report.byTime) {
        from = static_cast<double>(report.firstMs);
        to = static_cast<double>(report.lastMs + 1);
    } else if (!report.log.isEmpty()) {
        from = report.log.topOf(report.log.firstIndex());
        to = report.log.bottomOf(report.log.lastIndex());
    }
    if (to > from) {
        plan.perPage = perPageFor(report, to - from);
        // Pages start on a tenth of a page's stretch, so every page's
        // scale marks fall on the same round figures.
        const double tenth = plan.perPage / 10;
        for (double top = std::floor(from / tenth) * tenth; top < to; top += plan.perPage)
            plan.strips.emplace_back(top, top + plan.perPage);
    }
    const double line = metrics.height() * 1.25;
    const double usable = page.height() - (HeaderLines + 1) * line;
    const int perTextPage = std::max(5, static_cast<int>(usable / line));
    std::vector<Line> lines = textLines(report);
    for (std::size_t at = 0; at < lines.size(); at += static_cast<std::size_t>(perTextPage))
        plan.textPages.emplace_back(lines.begin() + static_cast<std::ptrdiff_t>(at),
                                    lines.begin() + static_cast<std::ptrdiff_t>(
                                        std::min(lines.size(), at + static_cast<std::size_t>(perTextPage))));
    return plan;
}

void prepare(QPagedPaintDevice &device)
{
    device.setPageOrientation(orientationFor(device));
    device.setPageMargins(QMarginsF(MarginMm, MarginMm, MarginMm, MarginMm), QPageLayout::Millimeter);
}

QString scaleText(const TourReport &report, double perPage, double plotHeightMm)
{
    if (report.byTime)
        return QStringLiteral("%1 h per page").arg(perPage / HourMs);
    const mudlog::DepthUnit unit = report.log.unit();
    const double metres = unit == mudlog::DepthUnit::Metres ? perPage : perPage * mudlog::MetresPerFoot;
    return QStringLiteral("%L1 %2 per page, 1:%L3").arg(perPage).arg(mudlog::unitSymbol(unit)).arg(
        std::lround(metres * 1000.0 / plotHeightMm));
}

} // namespace

Result<TourReport> readTourReport(HistoryStore &store, const QString &unit, qint64 fromMs, qint64 toMs,
                                  const mudlog::MudLogSettings &settings, bool byTime)
{
    TourReport report;
    report.unit = unit;
    report.fromMs = fromMs;
    report.toMs = toMs;
    report.byTime = byTime;
    report.log = mudlog::MudLog(settings);
    QStringList names;
    std::vector<std::size_t> places;
    for (const Column &column : Columns) {
        names << QLatin1String(column.name);
        const history::NumericColumn *found = history::numericColumn(QLatin1String(column.name));
        places.push_back(static_cast<std::size_t>(found - history::numericColumns().data()));
    }
    HistoryResult<HistoryCursor<history::ReadingRow>> cursor = store.readings({unit, fromMs, toMs}, false, names);
    if (!cursor)
        return failure(cursor.reason().text);
    // The depths of each reading, for the events between them.
    struct Depths
    {
        qint64 timeMs;
        std::optional<double> lag;
        std::optional<double> hole;
    };
    std::vector<Depths> depths;
    while (!cursor->done()) {
        const HistoryResult<int> read = cursor->fetch(SliceRows, [&](const history::ReadingRow &row) {
            trends::Sample sample;
            sample.timeMs = row.timeMs;
            double error = 0.0;
            for (std::size_t c = 0; c < std::size(Columns); ++c) {
                const std::optional<double> &value = row.values[places[c]];
                if (!value)
                    continue;
                if (Columns[c].channel == trends::ChannelCount)
                    error = *value;
                else
                    sample[Columns[c].channel] = *value;
            }
            const mudlog::MudReading reading = mudlog::mudReadingOf(sample, error);
            report.log.add(reading);
            depths.push_back({row.timeMs, reading.lagDepth, reading.holeDepth});
            if (report.readings++ == 0)
                report.firstMs = row.timeMs;
            report.lastMs = row.timeMs;
            if (byTime)
                report.samples.push_back(sample);
        });
        if (!read)
            return failure(read.reason().text);
    }
    if (report.readings == 0)
        return failure(QStringLiteral("no readings of %1 from %2 to %3 UTC").arg(unit, timeText(fromMs), timeText(toMs)));

    const Result<std::vector<trends::EventMark>> events = trends::historyEvents(store, unit, fromMs, toMs);
    if (!events)
        return failure(events.reason());
    for (const trends::EventMark &mark : *events) {
        ReportEvent event;
        event.timeMs = mark.timeMs;
        event.text = mark.text;
        event.alarm = mark.kind == trends::EventMark::Kind::Alarm;
        // The reading at or before the event: where the bit and the gas
        // stood when it happened.
        const auto after = std::upper_bound(depths.begin(), depths.end(), mark.timeMs,
                                            [](qint64 time, const Depths &d) { return time < d.timeMs; });
        if (after != depths.begin()) {
            event.lagDepth = std::prev(after)->lag;
            event.holeDepth = std::prev(after)->hole;
        }
        report.events.push_back(event);
    }
    return report;
}

int tourReportPages(const TourReport &report, QPagedPaintDevice &device)
{
    prepare(device);
    const QFont font = reportFont();
    const QFontMetricsF metrics(font, &device);
    return planReport(report, metrics, QSizeF(device.width(), device.height())).pages();
}

Result<int> paintTourReport(const TourReport &report, QPagedPaintDevice &device)
{
    prepare(device);
    QPainter painter;
    if (!painter.begin(&device))
        return failure(QStringLiteral("the report cannot be painted"));
    painter.setFont(reportFont());
    const QFontMetricsF metrics(painter.font(), &device);
    const QSizeF page(device.width(), device.height());
    const Plan plan = planReport(report, metrics, page);
    const double line = metrics.height() * 1.25;
    const double pixelsPerMm = device.height() / device.heightMM();
    const mudlog::DepthUnit unit = report.log.unit();
    int pageNumber = 0;

    const auto header = [&]() {
        ++pageNumber;
        if (pageNumber > 1)
            device.newPage();
        QFont bold = painter.font();
        bold.setBold(true);
        painter.save();
        painter.setFont(bold);
        painter.drawText(QRectF(0, 0, page.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("Tour report: unit %1").arg(report.unit));
        painter.restore();
        painter.drawText(QRectF(0, 0, page.width(), line), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("Page %1 of %2").arg(pageNumber).arg(plan.pages()));
        painter.drawText(QRectF(0, line, page.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("Interval %1 to %2 UTC").arg(timeText(report.fromMs), timeText(report.toMs)));
        painter.drawText(QRectF(0, 2 * line, page.width(), line), Qt::AlignLeft | Qt::AlignVCenter,
                         QStringLiteral("Made %1 UTC by %2")
                             .arg(report.made.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), report.madeBy));
        painter.drawLine(QPointF(0, HeaderLines * line), QPointF(page.width(), HeaderLines * line));
    };

    // One gas and drilling rate scale for every page, as for the depth.
    StripFrame scales;
    if (report.byTime)
        fitScales(scales, mudlog::timeStripRows(report.samples, report.firstMs, report.lastMs + 1, MinuteMs,
                                                unit == mudlog::DepthUnit::Metres));
    else if (!report.log.isEmpty())
        fitScales(scales, mudlog::stripRows(report.log, report.log.topOf(report.log.firstIndex()),
                                            report.log.bottomOf(report.log.lastIndex()), mudlog::MaxBins));
    for (const auto &[from, to] : plan.strips) {
        header();
        const QRectF area(0, (HeaderLines + 1) * line, page.width(), page.height() - (HeaderLines + 1) * line);
        StripFrame frame;
        frame.from = from;
        frame.to = to;
        frame.time = report.byTime;
        frame.unitSymbol = mudlog::unitSymbol(unit);
        frame.slowestRate = scales.slowestRate;
        frame.highestGas = scales.highestGas;
        const StripLayout layout = stripLayout(area, metrics, frame);
        const int rowsAcross = std::max(1, static_cast<int>(layout.plot.height()));
        const std::vector<mudlog::StripRow> rows =
            report.byTime ? mudlog::timeStripRows(report.samples, static_cast<qint64>(from), static_cast<qint64>(to),
                                                  std::max<qint64>(MinuteMs, static_cast<qint64>((to - from) / rowsAcross)),
                                                  unit == mudlog::DepthUnit::Metres)
                          : mudlog::stripRows(report.log, from, to, rowsAcross);
        painter.drawText(QRectF(0, HeaderLines * line, page.width(), line), Qt::AlignRight | Qt::AlignVCenter,
                         (report.byTime ? QStringLiteral("Strip log by time, ") : QStringLiteral("Strip log by lag depth, "))
                             + scaleText(report, to - from, layout.plot.height() / pixelsPerMm));
        paintStrip(painter, area, frame, rows);
    }

    for (const std::vector<Line> &lines : plan.textPages) {
        header();
        double y = (HeaderLines + 1) * line;
        for (const Line &text : lines) {
            QFont font = reportFont();
            font.setBold(text.kind == Line::Kind::Heading || text.kind == Line::Kind::HeaderRow);
            if (text.kind == Line::Kind::Heading)
                font.setPointSizeF(FontPoints * 1.3);
            painter.setFont(font);
            if (text.kind == Line::Kind::Row || text.kind == Line::Kind::HeaderRow) {
                // Four cells: an event's time, depths and text; three: an
                // interval's depths and its two readings.
                const std::vector<double> starts = text.cells.size() == 4 ? std::vector<double>{0.0, 0.17, 0.29, 0.41}
                                                                          : std::vector<double>{0.0, 0.22, 0.45};
                for (int c = 0; c < text.cells.size() && c < static_cast<int>(starts.size()); ++c) {
                    const double left = starts[static_cast<std::size_t>(c)] * page.width();
                    const double right = c + 1 < static_cast<int>(starts.size())
                                             ? starts[static_cast<std::size_t>(c) + 1] * page.width()
                                             : page.width();
                    painter.drawText(QRectF(left, y, right - left, line), Qt::AlignLeft | Qt::AlignVCenter,
                                     QFontMetricsF(painter.font(), &device)
                                         .elidedText(text.cells.at(c), Qt::ElideRight, right - left - 4));
                }
            } else if (!text.cells.isEmpty()) {
                painter.drawText(QRectF(0, y, page.width(), line), Qt::AlignLeft | Qt::AlignVCenter, text.cells.first());
            }
            y += line;
        }
        painter.setFont(reportFont());
    }
    if (!painter.end())
        return failure(QStringLiteral("the report cannot be painted"));
    return plan.pages();
}

Result<int> writeTourReportPdf(const TourReport &report, const QString &path, const QStringList &keepOff)
{
    SafeFile file(path, keepOff);
    if (const Result<void> opened = file.open(); !opened)
        return failure(opened.reason());
    Result<int> pages = failure(QString());
    {
        QPdfWriter writer(&file.device());
        writer.setResolution(300);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setTitle(QStringLiteral("Tour report: unit %1").arg(report.unit));
        writer.setCreator(report.madeBy);
        pages = paintTourReport(report, writer);
    }
    if (!pages) {
        file.cancel();
        return pages;
    }
    if (const Result<void> committed = file.commit(); !committed)
        return failure(committed.reason());
    return pages;
}

// The reading of one report, on its thread; it and its thread go once it
// has answered.
class TourReportWork : public QObject
{
    Q_OBJECT

public:
    TourReportWork(QString address, QString localPath, QString unit, qint64 fromMs, qint64 toMs,
                   mudlog::MudLogSettings settings, bool byTime)
        : m_address(std::move(address))
        , m_localPath(std::move(localPath))
        , m_unit(std::move(unit))
        , m_fromMs(fromMs)
        , m_toMs(toMs)
        , m_settings(std::move(settings))
        , m_byTime(byTime)
    {
    }

    void run()
    {
        auto read = std::make_shared<TourReportRead>();
        {
            HistoryStore store;
            HistoryResult<void> opened = store.open(m_address, HistoryStore::Access::ReadOnly, readerLimits());
            if (!opened && sqldialect::isServerAddress(m_address) && !m_localPath.isEmpty()) {
                read->note = opened.reason().text;
                opened = store.open(m_localPath, HistoryStore::Access::ReadOnly, readerLimits());
            }
            read->made = opened ? readTourReport(store, m_unit, m_fromMs, m_toMs, m_settings, m_byTime)
                                : Result<TourReport>(failure(opened.reason().text));
        }
        emit done(read);
    }

signals:
    void done(const std::shared_ptr<const report::TourReportRead> &read);

private:
    QString m_address;
    QString m_localPath;
    QString m_unit;
    qint64 m_fromMs;
    qint64 m_toMs;
    mudlog::MudLogSettings m_settings;
    bool m_byTime;
};

TourReportRun::TourReportRun(QString address, QString localPath, QObject *parent)
    : QObject(parent)
    , m_address(std::move(address))
    , m_localPath(std::move(localPath))
{
}

bool TourReportRun::start(const QString &unit, qint64 fromMs, qint64 toMs, const mudlog::MudLogSettings &settings,
                          bool byTime)
{
    if (m_running)
        return false;
    m_running = true;
    auto *work = new TourReportWork(m_address, m_localPath, unit, fromMs, toMs, settings, byTime);
    // Queued: taken on this object's thread, and by nobody once it has gone.
    connect(work, &TourReportWork::done, this,
            [this](const std::shared_ptr<const TourReportRead> &answer) {
                m_running = false;
                emit read(answer);
            },
            Qt::QueuedConnection);
    connect(work, &TourReportWork::done, work, [work] { work->thread()->quit(); }, Qt::DirectConnection);
    readerthread::start(work, QStringLiteral("tour report"));
    QMetaObject::invokeMethod(work, &TourReportWork::run, Qt::QueuedConnection);
    return true;
}

} // namespace report

#include "tourreport.moc"
