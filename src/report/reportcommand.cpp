#include "report/reportcommand.h"

#include <limits>

#include <QCommandLineParser>
#include <QDateTime>
#include <QDir>
#include <QIODevice>

#include "app/version.h"
#include "history/historycommand.h"
#include "history/historyexport.h"
#include "history/historystore.h"
#include "report/tourreport.h"
#include "rules/config/usersettings.h"

namespace {

constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

} // namespace

std::optional<int> runReportCommand(const QStringList &arguments, QIODevice &out, QIODevice &err)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(historycommand::unitRangeOptions());
    parser.addOptions({
        {QStringLiteral("by"), QString(), QStringLiteral("axis"), QStringLiteral("depth")},
        {QStringLiteral("out"), QString(), QStringLiteral("file")},
    });
    // Anything this parser does not know belongs to another command.
    if (!parser.parse(arguments) || parser.isSet(QStringLiteral("help")) || parser.positionalArguments().size() != 1
        || parser.positionalArguments().first() != QLatin1String("report"))
        return std::nullopt;

    const auto failed = [&err](const QString &text) {
        err.write(QStringLiteral("rthistory: %1\n").arg(text).toUtf8());
        return ExitFailure;
    };
    const auto usage = [&err](const QString &text) {
        err.write(QStringLiteral("rthistory: %1\nTry rthistory --help.\n").arg(text).toUtf8());
        return ExitUsage;
    };
    if (!parser.isSet(QStringLiteral("unit")))
        return usage(QStringLiteral("report needs --unit"));
    const QString target = parser.value(QStringLiteral("out"));
    if (target.isEmpty() || target == QLatin1String("-"))
        return usage(QStringLiteral("report needs --out FILE.pdf"));
    const QString by = parser.value(QStringLiteral("by"));
    if (by != QLatin1String("depth") && by != QLatin1String("time"))
        return usage(QStringLiteral("--by is depth or time, not %1").arg(by));
    const Result<QString> address = historycommand::historyAddress(parser);
    if (!address)
        return usage(address.reason());
    const QString db = *address;
    const Result<HistoryExport::Range> range = historycommand::unitRange(parser, db);
    if (!range)
        return usage(range.reason());
    const qint64 fromMs = range->fromMs;
    const qint64 toMs = range->toMs;

    HistoryStore store;
    if (const HistoryResult<void> opened = store.open(db, HistoryStore::Access::ReadOnly, readerLimits()); !opened)
        return failed(opened.reason().text);
    // The viewer's own unit of depth and bin size; a setting that does not
    // read is said and its default used.
    const UserSettings settings = openUserSettings();
    if (!settings.file)
        err.write(QStringLiteral("rthistory: %1\n").arg(settings.file.reason()).toUtf8());
    const mudlog::MudLogSetup setup = mudlog::mudLogSetup(*settings.settings);
    for (const QString &problem : setup.problems)
        err.write(QStringLiteral("rthistory: %1\n").arg(problem).toUtf8());

    const QString unit = range->unit;
    Result<report::TourReport> made = report::readTourReport(store, unit, fromMs, toMs, setup.settings,
                                                             by == QLatin1String("time"));
    if (!made)
        return failed(made.reason());
    // An open end of the interval is where the readings end.
    if (fromMs == std::numeric_limits<qint64>::min())
        made->fromMs = made->firstMs;
    if (toMs == std::numeric_limits<qint64>::max())
        made->toMs = made->lastMs + 1;
    made->made = QDateTime::currentDateTimeUtc();
    made->madeBy = QStringLiteral("rthistory %1").arg(QStringLiteral(RTVIEWER_VERSION));
    const Result<int> pages = report::writeTourReportPdf(*made, target, {db});
    if (!pages)
        return failed(pages.reason());
    out.write(QStringLiteral("%1 pages of the tour report of %2 written to %3\n")
                  .arg(*pages)
                  .arg(unit, QDir::toNativeSeparators(target))
                  .toUtf8());
    return 0;
}
