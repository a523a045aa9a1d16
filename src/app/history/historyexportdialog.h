#pragma once

#include <functional>

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>

#include "history/historyexport.h"
#include "history/historyexportrun.h"
#include "rules/convert/result.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QPushButton;

// What the operator asked to export.
struct HistoryExportRequest
{
    HistoryExport::Range range;
    QString file;
    HistoryExport::Format format = HistoryExport::Format::Csv;
};

// Which history the export reads, and where it says how an export ended.
struct HistoryExportSource
{
    QString address;    // the history chosen: a file, or a server's URI
    QString localPath;  // the viewer's own file, read while a server cannot be
    std::function<void()> beforeExport;  // run on the window's thread before each export
    std::function<void(const QByteArray &)> report;  // one line per export
};

// "Export history": asks for the unit (the units the history holds are
// offered, the given one first), the time range (the last hour, the last 24
// hours, everything, or from and to in the computer's local time), the
// format (CSV, or raw for a replay) and the file to write. The history is
// read by a HistoryExportRun on a thread of its own, so that a server that
// does not answer never holds the window: Export starts it and shows its
// cancellable progress, the dialog closes once the file is written, and
// otherwise shows what went wrong and stays, so the operator can choose
// again. A server that cannot be read is said here, and the local history
// is offered and exported meanwhile. Cancelling the progress or closing the
// dialog drops the export at once, without waiting for a connect.
class HistoryExportDialog : public QDialog
{
    Q_OBJECT

public:
    enum Range { LastHour, LastDay, Everything, FromTo };

    HistoryExportDialog(HistoryExportSource source, const QString &unit, QWidget *parent = nullptr);

    // The request as the dialog stands, "now" being nowMs.
    HistoryExportRequest request(qint64 nowMs) const;
    bool exporting() const { return m_exporting; }
    // Another history chosen while the dialog is open: its units are
    // offered, and the next export reads it.
    void followSource(const QString &address, const QString &localPath);

    void accept() override;
    void reject() override;

private:
    void browse();
    void rangeChosen();
    void formatChosen();
    void unitsListed(const QStringList &units, const QString &note);
    void progressed(qint64 written, qint64 total);
    void finished(bool written, const QByteArray &line, const QString &shown, const QString &note);
    void cancelExport();
    void endExport();
    void report(const QByteArray &line) const;

    HistoryExportSource m_source;
    HistoryExportRun *m_run = nullptr;
    QProgressDialog *m_progress = nullptr;
    bool m_exporting = false;
    QComboBox *cbo_unit = nullptr;
    QComboBox *cbo_range = nullptr;
    QComboBox *cbo_format = nullptr;
    QDateTimeEdit *dtp_from = nullptr;
    QDateTimeEdit *dtp_to = nullptr;
    QLineEdit *txt_file = nullptr;
    QLabel *lbl_status = nullptr;
    QPushButton *cmd_export = nullptr;
};
