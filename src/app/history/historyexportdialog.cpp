#include "app/history/historyexportdialog.h"

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
#include <QStandardPaths>
#include <QVBoxLayout>

#include "app/version.h"
#include "rules/config/usersettings.h"
#include "rules/mudlog/mudlog.h"

namespace {

constexpr qint64 HourMs = 60LL * 60 * 1000;
// How much of a unit's name goes into the file name offered.
constexpr int ShownUnitLength = 40;

QDateTimeEdit *timeEdit(const char *name, const QDateTime &value, QWidget *parent)
{
    auto *edit = new QDateTimeEdit(value, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    edit->setCalendarPopup(true);
    return edit;
}

// What the dialog says of a server that could not be read.
QString unreadSourceText(const QString &reason)
{
    return QStringLiteral("The history source cannot be read (%1); the local history is offered and exported meanwhile.")
        .arg(reason);
}

// A unit's name as part of a file name: no separators, nothing a shell or a
// file system minds, and short.
QString fileNamePart(const QString &unit)
{
    QString part;
    for (const QChar c : unit.left(ShownUnitLength)) {
        const bool safe = (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
                          || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || c == QLatin1Char('-')
                          || c == QLatin1Char('_') || c == QLatin1Char('.');
        part += safe ? c : QLatin1Char('_');
    }
    return part;
}

const char *suffixOf(HistoryExport::Format format)
{
    switch (format) {
    case HistoryExport::Format::Raw:
        return ".raw";
    case HistoryExport::Format::Las:
        return ".las";
    default:
        return ".csv";
    }
}

} // namespace

HistoryExportDialog::HistoryExportDialog(HistoryExportSource source, const QString &unit, QWidget *parent)
    : QDialog(parent)
    , m_source(std::move(source))
    , m_run(new HistoryExportRun(m_source.address, m_source.localPath, this))
{
    setObjectName(QStringLiteral("fm_history_export"));
    setWindowTitle(QStringLiteral("Export history"));

    cbo_unit = new QComboBox(this);
    cbo_unit->setObjectName(QStringLiteral("cbo_unit"));
    cbo_unit->setEditable(true);
    cbo_unit->setCurrentText(unit);
    // Sized for a serial number, not for the longest name in the file.
    cbo_unit->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbo_unit->setMinimumContentsLength(16);

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

    cbo_format = new QComboBox(this);
    cbo_format->setObjectName(QStringLiteral("cbo_format"));
    cbo_format->addItem(QStringLiteral("CSV, for a spreadsheet"), static_cast<int>(HistoryExport::Format::Csv));
    cbo_format->addItem(QStringLiteral("Raw packets, for unit-sim --replay"), static_cast<int>(HistoryExport::Format::Raw));
    cbo_format->addItem(QStringLiteral("LAS 2.0 mud log by depth, for log-analysis programs"),
                        static_cast<int>(HistoryExport::Format::Las));

    txt_file = new QLineEdit(this);
    txt_file->setObjectName(QStringLiteral("txt_file"));
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!QDir(folder).exists())
        folder = QDir::homePath();
    txt_file->setText(QDir(folder).filePath(
        QStringLiteral("history-%1-%2.csv").arg(fileNamePart(unit), now.toString(QStringLiteral("yyyyMMdd-HHmm")))));
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
    // A failure names files by their whole path, which may be longer than
    // the dialog is wide: it wraps rather than widening the dialog.
    lbl_status->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Unit"), cbo_unit);
    form->addRow(QStringLiteral("Time range"), cbo_range);
    form->addRow(QString(), times);
    form->addRow(QString(), note);
    form->addRow(QStringLiteral("Format"), cbo_format);
    form->addRow(QStringLiteral("File"), fileRow);

    auto *buttons = new QDialogButtonBox(this);
    cmd_export = buttons->addButton(QStringLiteral("Export"), QDialogButtonBox::AcceptRole);
    cmd_export->setObjectName(QStringLiteral("cmd_export"));
    cmd_export->setDefault(true);
    buttons->addButton(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cmd_cancel"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(lbl_status);
    layout->addWidget(buttons);

    connect(cbo_range, &QComboBox::currentIndexChanged, this, &HistoryExportDialog::rangeChosen);
    connect(cbo_format, &QComboBox::currentIndexChanged, this, &HistoryExportDialog::formatChosen);
    connect(browseButton, &QPushButton::clicked, this, &HistoryExportDialog::browse);
    connect(buttons, &QDialogButtonBox::accepted, this, &HistoryExportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &HistoryExportDialog::reject);
    rangeChosen();

    // The units come when the history has answered; a unit typed meanwhile
    // stays.
    connect(m_run, &HistoryExportRun::unitsListed, this, &HistoryExportDialog::unitsListed);
    connect(m_run, &HistoryExportRun::progressed, this, &HistoryExportDialog::progressed);
    connect(m_run, &HistoryExportRun::finished, this, &HistoryExportDialog::finished);
    m_run->listUnits();
}

void HistoryExportDialog::followSource(const QString &address, const QString &localPath)
{
    if (address == m_source.address && localPath == m_source.localPath)
        return;
    m_source.address = address;
    m_source.localPath = localPath;
    // What was said of the history before is no longer so.
    if (!m_exporting)
        lbl_status->clear();
    m_run->setSource(address, localPath);
}

void HistoryExportDialog::unitsListed(const QStringList &units, const QString &note)
{
    const QString typed = cbo_unit->currentText();
    cbo_unit->clear();
    cbo_unit->addItems(units);
    cbo_unit->setCurrentText(typed);
    if (!note.isEmpty() && !m_exporting)
        lbl_status->setText(unreadSourceText(note));
}

void HistoryExportDialog::rangeChosen()
{
    const bool fromTo = cbo_range->currentIndex() == FromTo;
    dtp_from->setEnabled(fromTo);
    dtp_to->setEnabled(fromTo);
}

void HistoryExportDialog::formatChosen()
{
    // The file name follows the format while it ends as another one's.
    const auto format = static_cast<HistoryExport::Format>(cbo_format->currentData().toInt());
    QString file = txt_file->text();
    for (const auto other : {HistoryExport::Format::Csv, HistoryExport::Format::Raw, HistoryExport::Format::Las}) {
        if (other != format && file.endsWith(QLatin1String(suffixOf(other)))) {
            file.chop(4);
            txt_file->setText(file + QLatin1String(suffixOf(format)));
            break;
        }
    }
}

void HistoryExportDialog::browse()
{
    const auto format = static_cast<HistoryExport::Format>(cbo_format->currentData().toInt());
    const QString filter = format == HistoryExport::Format::Raw   ? QStringLiteral("Raw files (*.raw);;All files (*)")
                           : format == HistoryExport::Format::Las ? QStringLiteral("LAS files (*.las);;All files (*)")
                                                                  : QStringLiteral("CSV files (*.csv);;All files (*)");
    const QString file = QFileDialog::getSaveFileName(this, QStringLiteral("Export history to"), txt_file->text(), filter);
    if (!file.isEmpty())
        txt_file->setText(file);
}

HistoryExportRequest HistoryExportDialog::request(qint64 nowMs) const
{
    HistoryExportRequest request;
    request.range.unit = cbo_unit->currentText().trimmed();
    request.file = txt_file->text().trimmed();
    request.format = static_cast<HistoryExport::Format>(cbo_format->currentData().toInt());
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
    if (m_exporting)
        return;
    const HistoryExportRequest asked = request(QDateTime::currentMSecsSinceEpoch());
    QString problem;
    if (asked.range.unit.isEmpty())
        problem = QStringLiteral("Choose a unit.");
    else if (asked.file.isEmpty())
        problem = QStringLiteral("Choose a file to write.");
    else if (asked.range.fromMs >= asked.range.toMs)
        problem = QStringLiteral("The start of the range must lie before its end.");
    lbl_status->setText(problem);
    if (!problem.isEmpty())
        return;
    // What the recorder gathered in the last second belongs in the export.
    if (m_source.beforeExport)
        m_source.beforeExport();
    HistoryExportJob job;
    job.range = asked.range;
    job.format = asked.format;
    job.file = asked.file;
    if (asked.format == HistoryExport::Format::Las) {
        // In the unit of depth and bin size the trends window shows; a
        // setting that does not read has been said there.
        job.mudLog = mudlog::mudLogSetup(*openUserSettings().settings).settings;
        job.well.well = asked.range.unit;
        job.well.writtenBy = QStringLiteral("rtviewer ") + QStringLiteral(RTVIEWER_VERSION);
    }
    m_exporting = true;
    cmd_export->setEnabled(false);
    lbl_status->setText(QStringLiteral("Exporting…"));

    // Shown only when the export takes longer than a moment; busy until
    // the readings are counted.
    m_progress = new QProgressDialog(QStringLiteral("Exporting the history of %1…").arg(shownExportUnit(asked.range.unit)),
                                     QStringLiteral("Cancel"), 0, 0, this);
    m_progress->setObjectName(QStringLiteral("dlg_export_progress"));
    m_progress->setWindowTitle(QStringLiteral("Export history"));
    m_progress->setWindowModality(Qt::WindowModal);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setMinimumDuration(500);
    m_progress->setValue(0);
    connect(m_progress, &QProgressDialog::canceled, this, &HistoryExportDialog::cancelExport);
    m_run->start(job);
}

void HistoryExportDialog::reject()
{
    // Closing drops the export at once, whatever it waits for.
    if (m_exporting)
        cancelExport();
    QDialog::reject();
}

void HistoryExportDialog::progressed(qint64 written, qint64 total)
{
    if (!m_progress || total <= 0)
        return;
    const int maximum = static_cast<int>(qMin<qint64>(total, 1 << 30));
    if (m_progress->maximum() != maximum)
        m_progress->setMaximum(maximum);
    m_progress->setValue(static_cast<int>(qMin<qint64>(written, maximum)));
}

void HistoryExportDialog::finished(bool written, const QByteArray &line, const QString &shown, const QString &note)
{
    endExport();
    if (!note.isEmpty())
        report(QStringLiteral("[HISTORY ERR: the history source cannot be read: %1; the local history was exported]")
                   .arg(note)
                   .toLatin1());
    report(line);
    if (written) {
        QDialog::accept();
        return;
    }
    lbl_status->setText(note.isEmpty() ? shown : shown + QLatin1Char('\n') + unreadSourceText(note));
}

void HistoryExportDialog::cancelExport()
{
    if (!m_exporting)
        return;
    m_run->cancel();
    endExport();
    report("[HISTORY: export cancelled, no file written]");
    lbl_status->setText(QStringLiteral("Export cancelled, no file written."));
}

void HistoryExportDialog::endExport()
{
    m_exporting = false;
    cmd_export->setEnabled(true);
    if (m_progress) {
        m_progress->disconnect(this);
        m_progress->hide();
        m_progress->deleteLater();
        m_progress = nullptr;
    }
}

void HistoryExportDialog::report(const QByteArray &line) const
{
    if (m_source.report)
        m_source.report(line);
}
