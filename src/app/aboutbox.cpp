#include "app/aboutbox.h"

#include <QDialogButtonBox>
#include <QFont>
#include <QLabel>
#include <QString>
#include <QVBoxLayout>

#include "app/aboutinfo.h"

AboutBox::AboutBox(const QString &programDirectory, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("fm_about"));
    setWindowTitle(QStringLiteral("About Real Time Data Viewer"));
    setModal(false);

    auto *title = new QLabel(QStringLiteral("Real Time Data Viewer"), this);
    title->setObjectName(QStringLiteral("lbl_about_title"));
    title->setTextFormat(Qt::PlainText);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    title->setFont(titleFont);

    // Paths can hold any character: they are shown as they are, never as markup.
    auto *details = new QLabel(aboutLines(programDirectory).join(QLatin1Char('\n')), this);
    details->setObjectName(QStringLiteral("lbl_about"));
    details->setTextFormat(Qt::PlainText);
    details->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(title);
    layout->addWidget(details);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void AboutBox::present()
{
    show();
    raise();
    activateWindow();
}
