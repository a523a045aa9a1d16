#pragma once

#include <atomic>
#include <memory>

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include "history/historyexport.h"
#include "rules/mudlog/laswriter.h"
#include "rules/mudlog/mudlog.h"

// What an export writes: one unit's readings over a range, in a format, to
// a file; for LAS, the mud log's unit of depth and bin size and the well.
struct HistoryExportJob
{
    HistoryExport::Range range;
    HistoryExport::Format format = HistoryExport::Format::Csv;
    QString file;
    mudlog::MudLogSettings mudLog;
    mudlog::LasWell well;
};

// Reads a history for the export window, on a thread of its own with a
// read-only connection of that thread, so that a server that answers
// slowly or not at all never holds the window: the units the history holds
// (listUnits) and one export (start), answered by queued signals. A server
// that cannot be read gives its reason and the local file is read instead.
// The file is written whole through a SafeFile, or not at all, never over
// the local history. cancel() and going away return at once: the connect
// or the slice under way ends on its thread, which then leaves the file
// unwritten and goes, its answer reaching nobody.
class HistoryExportRun : public QObject
{
    Q_OBJECT

public:
    static constexpr int RowsPerStep = 2000;

    // address: the history to read (a file, or a server's URI); localPath:
    // the file read when a server cannot be (empty: none).
    HistoryExportRun(QString address, QString localPath, QObject *parent = nullptr);
    ~HistoryExportRun() override;

    const QString &address() const { return m_address; }

    // unitsListed answers, once; an earlier listing's answer, should it
    // come after, is dropped.
    void listUnits();
    // The history read from now on, its units listed again; an export under
    // way goes on reading the one it started with.
    void setSource(const QString &address, const QString &localPath);
    // Starts the export, dropping one under way; progressed as it goes,
    // then finished once.
    void start(const HistoryExportJob &job);
    // Drops the export under way: no file is written and finished does not
    // come. Never waits.
    void cancel();
    bool running() const { return m_running; }

signals:
    // note: why the server chosen was not read (the local file was), empty
    // otherwise; units empty when no history can be read.
    void unitsListed(const QStringList &units, const QString &note);
    // total is 0 until the readings are counted.
    void progressed(qint64 written, qint64 total);
    // written: whether the file is there. line: how it ended, as one report
    // line; shown: the same said for the export window. note as above.
    void finished(bool written, const QByteArray &line, const QString &shown, const QString &note);

private:
    QString m_address;
    QString m_localPath;
    std::shared_ptr<std::atomic_bool> m_cancelled;  // of the export under way
    quint64 m_listing = 0;  // the latest listing of the units asked for
    bool m_running = false;
};

// A unit's name as the export window's texts show it: cut short when long.
QString shownExportUnit(const QString &unit);
