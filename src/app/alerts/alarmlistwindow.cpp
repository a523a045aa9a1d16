#include "app/alerts/alarmlistwindow.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/alerts/alarmkeeper.h"
#include "rules/readings/levelpalette.h"

namespace {

enum Column { LevelColumn, UnitColumn, ConditionColumn, ValueColumn, StartedColumn, EndedColumn, AckColumn, Columns };

// Where a row's unit and kind are kept, in its first cell.
constexpr int UnitRole = Qt::UserRole;
constexpr int KindRole = Qt::UserRole + 1;

QString timeText(qint64 ms)
{
    return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QColor colourOf(const readings::Rgb &rgb)
{
    return QColor(rgb.red, rgb.green, rgb.blue);
}

} // namespace

AlarmListWindow::AlarmListWindow(AlarmKeeper &alarms, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_alarms(alarms)
{
    setObjectName(QStringLiteral("fm_alarms"));
    setWindowTitle(tr("Alarm list"));
    auto *layout = new QVBoxLayout(this);
    m_summary = new QLabel(this);
    m_summary->setObjectName(QStringLiteral("lbl_alarm_summary"));
    m_summary->setTextFormat(Qt::PlainText);
    layout->addWidget(m_summary);

    m_rows = new QTreeWidget(this);
    m_rows->setObjectName(QStringLiteral("lst_alarms"));
    m_rows->setRootIsDecorated(false);
    m_rows->setUniformRowHeights(true);
    m_rows->setSelectionMode(QAbstractItemView::SingleSelection);
    m_rows->setHeaderLabels({tr("Level"), tr("Unit"), tr("Condition"), tr("Value"), tr("Started"), tr("Ended"),
                             tr("Acknowledged")});
    m_rows->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_rows->header()->setStretchLastSection(true);
    layout->addWidget(m_rows, 1);

    auto *buttons = new QHBoxLayout;
    m_acknowledge = new QPushButton(tr("Acknowledge"), this);
    m_acknowledge->setObjectName(QStringLiteral("cmd_acknowledge"));
    m_acknowledgeUnit = new QPushButton(tr("Acknowledge unit"), this);
    m_acknowledgeUnit->setObjectName(QStringLiteral("cmd_acknowledge_unit"));
    buttons->addWidget(m_acknowledge);
    buttons->addWidget(m_acknowledgeUnit);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    connect(m_acknowledge, &QPushButton::clicked, this, [this] { acknowledgeSelected(false); });
    connect(m_acknowledgeUnit, &QPushButton::clicked, this, [this] { acknowledgeSelected(true); });
    connect(m_rows, &QTreeWidget::itemSelectionChanged, this, &AlarmListWindow::selectionChanged);
    connect(&m_alarms, &AlarmKeeper::changed, this, &AlarmListWindow::refill);
    resize(1100, 360);
    refill();
}

void AlarmListWindow::present()
{
    show();
    raise();
    activateWindow();
}

void AlarmListWindow::refill()
{
    // The selection follows its row (the unit and kind) through the refill.
    QString selectedUnit;
    int selectedKind = -1;
    if (const QTreeWidgetItem *item = m_rows->currentItem()) {
        selectedUnit = item->data(LevelColumn, UnitRole).toString();
        selectedKind = item->data(LevelColumn, KindRole).toInt();
    }
    m_rows->clear();
    const std::vector<alerts::AlarmRow> rows = m_alarms.book().rows();
    for (const alerts::AlarmRow &row : rows) {
        const bool critical = row.level == alerts::Level::Critical;
        const readings::LevelMark &mark =
            readings::levelMark(critical ? readings::criticalLevel() : readings::warningLevel());
        auto *item = new QTreeWidgetItem(m_rows);
        item->setText(LevelColumn, mark.glyph() + QLatin1Char(' ') + (critical ? tr("CRITICAL") : tr("WARNING")));
        item->setText(UnitColumn, row.unit);
        item->setText(ConditionColumn, row.condition);
        item->setText(ValueColumn, row.value ? QString::number(*row.value, 'f', 0) : QString());
        item->setText(StartedColumn, timeText(row.startedMs));
        item->setText(EndedColumn, row.endedMs ? timeText(*row.endedMs) : tr("lasting"));
        item->setText(AckColumn, row.acknowledged()
                                     ? tr("%1, %2").arg(row.acknowledgedBy, timeText(*row.acknowledgedMs))
                                     : tr("waiting"));
        item->setData(LevelColumn, UnitRole, row.unit);
        item->setData(LevelColumn, KindRole, static_cast<int>(row.kind));
        item->setToolTip(LevelColumn, QString::fromLatin1(mark.word));
        // A row waiting for an acknowledgement stands out: its level filled
        // in the level's colour and its text bold; an acknowledged one shows
        // the level's colour in its mark only.
        if (!row.acknowledged()) {
            item->setBackground(LevelColumn, colourOf(mark.colour));
            item->setForeground(LevelColumn, colourOf(mark.ink));
            QFont bold = item->font(ConditionColumn);
            bold.setBold(true);
            for (int column = 0; column < Columns; ++column)
                item->setFont(column, bold);
        }
        if (row.unit == selectedUnit && static_cast<int>(row.kind) == selectedKind)
            m_rows->setCurrentItem(item);
    }
    const int waiting = m_alarms.book().unacknowledgedCount();
    if (rows.empty())
        m_summary->setText(tr("No alarms."));
    else if (waiting > 0)
        m_summary->setText(tr("%1 of %2 alarms waiting for acknowledgement.").arg(waiting).arg(rows.size()));
    else
        m_summary->setText(tr("All %1 alarms acknowledged, their conditions lasting.").arg(rows.size()));
    selectionChanged();
}

void AlarmListWindow::selectionChanged()
{
    const QTreeWidgetItem *item = m_rows->currentItem();
    m_acknowledge->setEnabled(item && item->text(AckColumn) == tr("waiting"));
    m_acknowledgeUnit->setEnabled(item && m_alarms.worstUnacknowledged(item->data(LevelColumn, UnitRole).toString()));
}

void AlarmListWindow::acknowledgeSelected(bool wholeUnit)
{
    const QTreeWidgetItem *item = m_rows->currentItem();
    if (!item)
        return;
    const QString unit = item->data(LevelColumn, UnitRole).toString();
    const auto kind = static_cast<alerts::Kind>(item->data(LevelColumn, KindRole).toInt());
    if (wholeUnit)
        m_alarms.acknowledgeUnit(unit);
    else
        m_alarms.acknowledge(unit, kind);
}
