#pragma once

#include <functional>

#include <QByteArray>
#include <QDialog>
#include <QString>
#include <QStringList>

#include "history/historyexport.h"

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;

// What the operator asked to export.
struct HistoryExportRequest
{
    HistoryExport::Range range;
    QString file;
};

// "Export history": asks for the unit (the units the file holds are
// offered, the given one first), the time range (the last hour, the last 24
// hours, everything, or from and to in the computer's local time) and the
// CSV file to write, and hands the request back.
class HistoryExportDialog : public QDialog
{
    Q_OBJECT

public:
    enum Range { LastHour, LastDay, Everything, FromTo };

    HistoryExportDialog(const QStringList &units, const QString &unit, QWidget *parent = nullptr);

    // The request as the dialog stands, "now" being nowMs.
    HistoryExportRequest request(qint64 nowMs) const;

    void accept() override;

private:
    void browse();
    void rangeChosen();

    QComboBox *cbo_unit = nullptr;
    QComboBox *cbo_range = nullptr;
    QDateTimeEdit *dtp_from = nullptr;
    QDateTimeEdit *dtp_to = nullptr;
    QLineEdit *txt_file = nullptr;
    QLabel *lbl_status = nullptr;
};

// The units the history file at path holds; none when it cannot be read.
QStringList historyUnits(const QString &path);

// Writes the request from the history file at databasePath as CSV, showing
// a progress window the operator can cancel once it takes a moment. How it
// ended goes out as one report line; a cancelled or failed export leaves no
// file. True when the file was written.
bool runHistoryExport(const QString &databasePath, const HistoryExportRequest &request, QWidget *parent,
                      const std::function<void(const QByteArray &)> &report);
