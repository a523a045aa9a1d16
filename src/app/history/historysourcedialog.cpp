#include "app/history/historysourcedialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "history/historyprobe.h"
#include "history/historysource.h"

HistorySourceDialog::HistorySourceDialog(HistorySource &source, QWidget *parent)
    : QDialog(parent)
    , m_source(source)
    , m_probe(new HistoryProbe(this))
{
    setObjectName(QStringLiteral("fm_historysource"));
    setWindowTitle(QStringLiteral("History source"));
    auto *layout = new QVBoxLayout(this);
    auto *intro = new QLabel(QStringLiteral("The history the trends window and the fleet board read. This viewer's "
                                            "own recording, the export and the tour report use its local file."),
                             this);
    intro->setTextFormat(Qt::PlainText);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    opt_local = new QRadioButton(QStringLiteral("Local file: %1").arg(QDir::toNativeSeparators(source.localPath())), this);
    opt_local->setObjectName(QStringLiteral("opt_local"));
    opt_server = new QRadioButton(QStringLiteral("Server (PostgreSQL connection URI, no password):"), this);
    opt_server->setObjectName(QStringLiteral("opt_server"));
    auto *modes = new QButtonGroup(this);
    modes->addButton(opt_local);
    modes->addButton(opt_server);
    layout->addWidget(opt_local);
    layout->addWidget(opt_server);

    auto *row = new QHBoxLayout;
    txt_uri = new QLineEdit(source.server(), this);
    txt_uri->setObjectName(QStringLiteral("txt_uri"));
    txt_uri->setPlaceholderText(QStringLiteral("postgresql://rtviewer_reader@db.example/rthistory?sslmode=require"));
    txt_uri->setMinimumWidth(420);
    row->addWidget(txt_uri, 1);
    cmd_test = new QPushButton(QStringLiteral("Test"), this);
    cmd_test->setObjectName(QStringLiteral("cmd_test"));
    cmd_test->setAutoDefault(false);
    row->addWidget(cmd_test);
    layout->addLayout(row);

    lbl_result = new QLabel(this);
    lbl_result->setObjectName(QStringLiteral("lbl_result"));
    lbl_result->setTextFormat(Qt::PlainText);
    lbl_result->setWordWrap(true);
    lbl_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for a server's reason over a few lines: a wrapped label does not
    // make its window taller by itself.
    lbl_result->setMinimumHeight(lbl_result->fontMetrics().lineSpacing() * 4);
    lbl_result->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(lbl_result);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &HistorySourceDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &HistorySourceDialog::reject);
    connect(cmd_test, &QPushButton::clicked, this, &HistorySourceDialog::tryServer);
    connect(txt_uri, &QLineEdit::returnPressed, this, &HistorySourceDialog::tryServer);
    connect(opt_local, &QRadioButton::toggled, this, &HistorySourceDialog::modeChanged);
    connect(m_probe, &HistoryProbe::answered, this, &HistorySourceDialog::answered);

    (source.isServer() ? opt_server : opt_local)->setChecked(true);
    modeChanged();
}

QString HistorySourceDialog::resultText() const
{
    return lbl_result->text();
}

void HistorySourceDialog::modeChanged()
{
    txt_uri->setEnabled(opt_server->isChecked());
    cmd_test->setEnabled(opt_server->isChecked());
}

void HistorySourceDialog::tryServer()
{
    const QString uri = txt_uri->text().trimmed();
    if (const QString why = HistorySource::refusal(uri); !why.isEmpty()) {
        lbl_result->setText(QStringLiteral("Not usable: ") + why);
        return;
    }
    lbl_result->setText(QStringLiteral("Connecting to the server…"));
    m_probe->probe(uri);
}

void HistorySourceDialog::answered(const QString &address, const QString &failure)
{
    // An answer about an address no longer in the box says nothing of it.
    if (address != txt_uri->text().trimmed())
        return;
    lbl_result->setText(failure.isEmpty() ? QStringLiteral("The server answers and holds a history this viewer reads.")
                                          : QStringLiteral("Not reached: ") + failure);
}

void HistorySourceDialog::accept()
{
    const QString uri = opt_server->isChecked() ? txt_uri->text().trimmed() : QString();
    if (opt_server->isChecked() && uri.isEmpty()) {
        lbl_result->setText(QStringLiteral("Type the server's address, or choose the local file."));
        return;
    }
    if (const Result<void> chosen = m_source.choose(uri); !chosen) {
        lbl_result->setText(QStringLiteral("Not usable: ") + chosen.reason());
        return;
    }
    QDialog::accept();
}
