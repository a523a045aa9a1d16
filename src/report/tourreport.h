#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include "rules/convert/result.h"
#include "rules/mudlog/mudlog.h"
#include "rules/trends/trendsample.h"

class HistoryStore;
class QPagedPaintDevice;

// The report a mud logger hands over at the end of a tour, from the
// history of one unit over an interval:
//
//   - on every page, a header: the unit, the interval (UTC), when it was
//     made and by which version, the page and the page count;
//   - the strip log of the interval (report::paintStrip) by lag depth, or
//     by time, one stretch per page at one scale for every page (the
//     depth, or the time, a page holds is a round figure chosen so that
//     the interval takes at most MaxStripPages pages);
//   - the events and alarms with their times and the lag and hole depth
//     of the reading before each;
//   - a summary: the highest gas with its depth and time, and the
//     readings (the combined reading and Pixler's) by depth interval, a
//     new interval wherever they change or a gap falls.
//
// Pages are portrait where the tracks fit the page's width at a readable
// size, landscape otherwise.
namespace report {

inline constexpr int MaxStripPages = 30;
// The tracks are not drawn narrower than this, in millimetres.
inline constexpr double LeastStripWidthMm = 150.0;

struct ReportEvent
{
    qint64 timeMs = 0;
    QString text;
    bool alarm = false;
    std::optional<double> lagDepth;  // feet, of the reading before it
    std::optional<double> holeDepth;
};

struct TourReport
{
    QString unit;
    qint64 fromMs = 0;  // the interval asked for; from included, to not
    qint64 toMs = 0;
    QDateTime made;   // UTC
    QString madeBy;   // the program and its version
    bool byTime = false;
    qint64 readings = 0;
    qint64 firstMs = 0;  // of the readings found
    qint64 lastMs = 0;
    mudlog::MudLog log;
    std::vector<trends::Sample> samples;  // kept for a report by time only
    std::vector<ReportEvent> events;
};

// Reads the unit's readings and events over the interval from the store
// (open); fails with the reason, or when the unit has no reading there.
Result<TourReport> readTourReport(HistoryStore &store, const QString &unit, qint64 fromMs, qint64 toMs,
                                  const mudlog::MudLogSettings &settings, bool byTime);

// What a reading of the report gave: the report or why there is none, and
// why the history chosen was not read when the local file was (empty
// otherwise).
struct TourReportRead
{
    Result<TourReport> made = failure(QString());
    QString note;
};

// Reads a tour report for a window from the history chosen, on a thread of
// its own with a read-only connection of that thread (one thread a
// reading, gone once it has answered), so that a server that answers
// slowly or not at all never holds the window; a server that cannot be
// read gives its reason and the local file is read instead. Going away
// never waits: the reading under way ends on its thread and its answer
// reaches nobody.
class TourReportRun : public QObject
{
    Q_OBJECT

public:
    // address: the history to read (a file, or a server's URI); localPath:
    // the file read when a server cannot be (empty: none).
    TourReportRun(QString address, QString localPath, QObject *parent = nullptr);

    void setAddress(const QString &address) { m_address = address; }
    const QString &address() const { return m_address; }

    // Starts reading, unless a reading is under way (false); read answers.
    bool start(const QString &unit, qint64 fromMs, qint64 toMs, const mudlog::MudLogSettings &settings, bool byTime);
    bool running() const { return m_running; }

signals:
    void read(const std::shared_ptr<const report::TourReportRead> &read);

private:
    QString m_address;
    QString m_localPath;
    bool m_running = false;
};

// The pages as they will be painted; paintTourReport paints that many.
int tourReportPages(const TourReport &report, QPagedPaintDevice &device);
// Paints the report on the device (a PDF writer or a printer, its page
// size chosen; the orientation is set here); fails when the device cannot
// be painted on.
Result<int> paintTourReport(const TourReport &report, QPagedPaintDevice &device);

// Writes the report as a PDF file, complete or not at all: through a
// temporary file and a rename, never over anything but a regular file, and
// never over one of keepOff (the history and its journals).
Result<int> writeTourReportPdf(const TourReport &report, const QString &path, const QStringList &keepOff);

} // namespace report
