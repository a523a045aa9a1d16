#pragma once

#include <functional>

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>

#include "history/historyexport.h"
#include "rules/convert/result.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPushButton;

// What the operator asked to export.
struct HistoryExportRequest
{
    HistoryExport::Range range;
    QString file;
    HistoryExport::Format format = HistoryExport::Format::Csv;
};

// "Export history": asks for the unit (the units the file holds are
// offered, the given one first), the time range (the last hour, the last 24
// hours, everything, or from and to in the computer's local time), the
// format (CSV, or raw for a replay) and the file to write. Export runs the
// exporter it was given while the dialog stays open: the dialog closes once
// the file is written, and otherwise shows what went wrong and stays, so
// the operator can choose again.
class HistoryExportDialog : public QDialog
{
    Q_OBJECT

public:
    enum Range { LastHour, LastDay, Everything, FromTo };

    // Writes the request, showing its progress over the dialog; on failure
    // the reason is what the dialog shows.
    using Exporter = std::function<Result<void>(const HistoryExportRequest &, QWidget *dialog)>;

    HistoryExportDialog(const QStringList &units, const QString &unit, Exporter exporter, QWidget *parent = nullptr);

    // The request as the dialog stands, "now" being nowMs.
    HistoryExportRequest request(qint64 nowMs) const;

    void accept() override;

private:
    void browse();
    void rangeChosen();
    void formatChosen();

    Exporter m_exporter;
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

// The units the history file at path holds; none when it cannot be read.
QStringList historyUnits(const QString &path);

// Writes the request from the history file at databasePath, showing a
// progress window over parent that the operator can cancel once it takes a
// moment. How it ended goes out as one report line; on failure the reason
// says it again for the dialog. A cancelled or failed export leaves no
// file, and nothing is written over the history file or its journals.
Result<void> runHistoryExport(const QString &databasePath, const HistoryExportRequest &request, QWidget *parent,
                              const std::function<void(const QByteArray &)> &report);
