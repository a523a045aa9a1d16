#include "history/historyexportdialog.h"

#include <limits>

#include <QComboBox>
#include <QDateTime>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSaveFile>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "history/historystore.h"

namespace {

constexpr qint64 HourMs = 60LL * 60 * 1000;
constexpr int RowsPerStep = 2000;

QDateTimeEdit *timeEdit(const char *name, const QDateTime &value, QWidget *parent)
{
    auto *edit = new QDateTimeEdit(value, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    edit->setCalendarPopup(true);
    return edit;
}

} // namespace

HistoryExportDialog::HistoryExportDialog(const QStringList &units, const QString &unit, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("fm_history_export"));
    setWindowTitle(QStringLiteral("Export history"));

    cbo_unit = new QComboBox(this);
    cbo_unit->setObjectName(QStringLiteral("cbo_unit"));
    cbo_unit->setEditable(true);
    cbo_unit->addItems(units);
    cbo_unit->setCurrentText(unit);

    cbo_range = new QComboBox(this);
    cbo_range->setObjectName(QStringLiteral("cbo_range"));
    cbo_range->addItems({QStringLiteral("Last hour"), QStringLiteral("Last 24 hours"), QStringLiteral("Everything"),
                         QStringLiteral("From … to …")});
    cbo_range->setCurrentIndex(LastDay);
    const QDateTime now = QDateTime::currentDateTime();
    dtp_from = timeEdit("dtp_from", now.addDays(-1), this);
    dtp_to = timeEdit("dtp_to", now, this);
    auto *times = new QHBoxLayout;
    times->addWidget(dtp_from);
    times->addWidget(new QLabel(QStringLiteral("to"), this));
    times->addWidget(dtp_to);

    txt_file = new QLineEdit(this);
    txt_file->setObjectName(QStringLiteral("txt_file"));
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!QDir(folder).exists())
        folder = QDir::homePath();
    txt_file->setText(QDir(folder).filePath(
        QStringLiteral("history-%1-%2.csv").arg(unit, now.toString(QStringLiteral("yyyyMMdd-HHmm")))));
    txt_file->setMinimumWidth(fontMetrics().averageCharWidth() * 48);
    auto *browseButton = new QPushButton(QStringLiteral("Browse…"), this);
    browseButton->setObjectName(QStringLiteral("cmd_browse"));
    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(txt_file, 1);
    fileRow->addWidget(browseButton);

    auto *note = new QLabel(QStringLiteral("Times are this computer's local time; the file gives them in UTC."), this);
    note->setTextFormat(Qt::PlainText);
    lbl_status = new QLabel(this);
    lbl_status->setObjectName(QStringLiteral("lbl_status"));
    lbl_status->setTextFormat(Qt::PlainText);
    lbl_status->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Unit"), cbo_unit);
    form->addRow(QStringLiteral("Time range"), cbo_range);
    form->addRow(QString(), times);
    form->addRow(QString(), note);
    form->addRow(QStringLiteral("CSV file"), fileRow);

    auto *buttons = new QDialogButtonBox(this);
    auto *exportButton = buttons->addButton(QStringLiteral("Export"), QDialogButtonBox::AcceptRole);
    exportButton->setObjectName(QStringLiteral("cmd_export"));
    exportButton->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmd_cancel"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(lbl_status);
    layout->addWidget(buttons);

    connect(cbo_range, &QComboBox::currentIndexChanged, this, &HistoryExportDialog::rangeChosen);
    connect(browseButton, &QPushButton::clicked, this, &HistoryExportDialog::browse);
    connect(buttons, &QDialogButtonBox::accepted, this, &HistoryExportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &HistoryExportDialog::reject);
    rangeChosen();
}

void HistoryExportDialog::rangeChosen()
{
    const bool fromTo = cbo_range->currentIndex() == FromTo;
    dtp_from->setEnabled(fromTo);
    dtp_to->setEnabled(fromTo);
}

void HistoryExportDialog::browse()
{
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Export history to"), txt_file->text(),
                                                      QStringLiteral("CSV files (*.csv);;All files (*)"));
    if (!file.isEmpty())
        txt_file->setText(file);
}

HistoryExportRequest HistoryExportDialog::request(qint64 nowMs) const
{
    HistoryExportRequest request;
    request.range.unit = cbo_unit->currentText().trimmed();
    request.file = txt_file->text().trimmed();
    // The end lies just past now, so the reading of this very moment is in.
    request.range.toMs = nowMs + 1;
    switch (cbo_range->currentIndex()) {
    case LastHour:
        request.range.fromMs = nowMs - HourMs;
        break;
    case LastDay:
        request.range.fromMs = nowMs - 24 * HourMs;
        break;
    case FromTo:
        request.range.fromMs = dtp_from->dateTime().toMSecsSinceEpoch();
        request.range.toMs = dtp_to->dateTime().toMSecsSinceEpoch();
        break;
    default:
        request.range.fromMs = std::numeric_limits<qint64>::min();
        request.range.toMs = std::numeric_limits<qint64>::max();
        break;
    }
    return request;
}

void HistoryExportDialog::accept()
{
    const HistoryExportRequest asked = request(QDateTime::currentMSecsSinceEpoch());
    QString problem;
    if (asked.range.unit.isEmpty())
        problem = QStringLiteral("Choose a unit.");
    else if (asked.file.isEmpty())
        problem = QStringLiteral("Choose a file to write.");
    else if (asked.range.fromMs >= asked.range.toMs)
        problem = QStringLiteral("The start of the range must lie before its end.");
    lbl_status->setText(problem);
    if (problem.isEmpty())
        QDialog::accept();
}

QStringList historyUnits(const QString &path)
{
    HistoryStore store;
    QStringList names;
    if (!store.open(path, HistoryStore::Access::ReadOnly))
        return names;
    if (const auto units = store.units()) {
        for (const UnitSummary &unit : *units)
            names.append(unit.unit);
    }
    return names;
}

bool runHistoryExport(const QString &databasePath, const HistoryExportRequest &request, QWidget *parent,
                      const std::function<void(const QByteArray &)> &report)
{
    auto failed = [&report](const QString &description) {
        report(QByteArrayLiteral("[HISTORY ERR: ") + description.toLatin1() + QByteArrayLiteral("]"));
        return false;
    };
    HistoryStore store;
    if (!store.open(databasePath, HistoryStore::Access::ReadOnly))
        return failed(store.error().text);
    // Only a complete file appears under the name asked for.
    QSaveFile file(request.file);
    if (!file.open(QIODevice::WriteOnly))
        return failed(QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(request.file), file.errorString()));
    HistoryExport job(store, request.range, HistoryExport::Format::Csv, file);
    if (!job.start())
        return failed(job.error());

    // Shown only when the export takes longer than a moment.
    QProgressDialog progress(QStringLiteral("Exporting the history of %1…").arg(request.range.unit),
                             QStringLiteral("Cancel"), 0, static_cast<int>(qMin<qint64>(job.total(), 1 << 30)), parent);
    progress.setObjectName(QStringLiteral("dlg_export_progress"));
    progress.setWindowTitle(QStringLiteral("Export history"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    while (!job.done()) {
        // A window-modal progress handles the events waiting at each step,
        // so the viewer goes on receiving meanwhile.
        progress.setValue(static_cast<int>(qMin<qint64>(job.written(), progress.maximum())));
        if (progress.wasCanceled()) {
            file.cancelWriting();
            report(QByteArrayLiteral("[HISTORY: export cancelled, no file written]"));
            return false;
        }
        if (!job.writeSome(RowsPerStep)) {
            file.cancelWriting();
            return failed(job.error());
        }
    }
    progress.setValue(progress.maximum());
    if (!file.commit())
        return failed(QStringLiteral("cannot write %1: %2").arg(QDir::toNativeSeparators(request.file), file.errorString()));
    report(QStringLiteral("[HISTORY: %1 readings of %2 written to %3]")
               .arg(job.written())
               .arg(request.range.unit, QDir::toNativeSeparators(request.file))
               .toLatin1());
    return true;
}
