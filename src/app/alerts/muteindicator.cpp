#include "app/alerts/muteindicator.h"

#include <algorithm>

#include <QEvent>

#include "app/alerts/alertcontroller.h"

MuteIndicator::MuteIndicator(const AlertController &alerts, QWidget *parent)
    : QLabel(parent)
{
    setObjectName(QStringLiteral("lbl_muted"));
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignCenter);
    // Amber with black, bold: read at a glance, and apart from the panel's
    // green, yellow and red, which speak of the gas. The size of the font is
    // the parent's, so it follows the panel's zoom.
    QFont bold = font();
    bold.setBold(true);
    setFont(bold);
    setAutoFillBackground(true);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(0xff, 0xb0, 0x00));
    colours.setColor(QPalette::WindowText, Qt::black);
    setPalette(colours);
    setFrameShape(QFrame::Box);
    setMargin(2);
    setToolTip(tr("Alerts muted: new warnings stay quiet until the mute ends; a critical alert ends it at once."));
    connect(&alerts, &AlertController::muteChanged, this, &MuteIndicator::showLeft);
    showLeft(alerts.muteSecondsLeft());
}

QString MuteIndicator::textFor(int secondsLeft, bool brief)
{
    const QString left = QStringLiteral("%1:%2").arg(secondsLeft / 60).arg(secondsLeft % 60, 2, 10, QLatin1Char('0'));
    return brief ? tr("MUTED %1").arg(left) : tr("Alerts muted, %1 left").arg(left);
}

void MuteIndicator::keepAtRightEnd()
{
    m_brief = true;
    setMargin(0);
    parentWidget()->installEventFilter(this);
    showLeft(m_secondsLeft);
}

bool MuteIndicator::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        place();
    return QLabel::eventFilter(watched, event);
}

void MuteIndicator::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        place();
}

void MuteIndicator::showLeft(int secondsLeft)
{
    m_secondsLeft = secondsLeft;
    if (secondsLeft <= 0) {
        hide();
        return;
    }
    setText(textFor(secondsLeft, m_brief));
    place();
    show();
}

void MuteIndicator::place()
{
    if (!m_brief || !parentWidget())
        return;
    // As wide as the longest text, so that it does not move as it counts.
    const QRect area = parentWidget()->rect();
    const int width = fontMetrics().horizontalAdvance(textFor(15 * 60, true)) + 2 * frameWidth() + 8;
    const int height = std::min(sizeHint().height(), area.height() - 2);
    setGeometry(area.right() - width, area.top() + (area.height() - height) / 2, width, height);
    raise();
}
