#include "app/trends/trendvalues.h"

#include <cmath>

#include <QDateTime>
#include <QFont>
#include <QGridLayout>
#include <QLabel>

#include "app/display/colours.h"
#include "rules/trends/gasratios.h"

using namespace trends;

namespace {

enum class MethaneRatio { None, C1C2, C1C3, C1C4, C1C5 };

// The rows below the time: a channel, or a methane ratio.
struct ValueRow
{
    const char *key;
    const char *name;
    Channel channel;
    MethaneRatio ratio;
};

const ValueRow ValueRows[] = {
    {"gas", "Gas units", GasUnits, MethaneRatio::None},
    {"c1", "C1 (ppm)", C1, MethaneRatio::None},
    {"c2", "C2 (ppm)", C2, MethaneRatio::None},
    {"c3", "C3 (ppm)", C3, MethaneRatio::None},
    {"ic4", "iC4 (ppm)", IC4, MethaneRatio::None},
    {"nc4", "nC4 (ppm)", NC4, MethaneRatio::None},
    {"ic5", "iC5 (ppm)", IC5, MethaneRatio::None},
    {"nc5", "nC5 (ppm)", NC5, MethaneRatio::None},
    {"wh", "Wetness Wh (%)", Wetness, MethaneRatio::None},
    {"bh", "Balance Bh", Balance, MethaneRatio::None},
    {"ch", "Character Ch", Character, MethaneRatio::None},
    {"c1c2", "C1/C2", ChannelCount, MethaneRatio::C1C2},
    {"c1c3", "C1/C3", ChannelCount, MethaneRatio::C1C3},
    {"c1c4", "C1/C4", ChannelCount, MethaneRatio::C1C4},
    {"c1c5", "C1/C5", ChannelCount, MethaneRatio::C1C5},
    {"hole", "Hole depth (ft)", HoleDepth, MethaneRatio::None},
    {"lag", "Lag depth (ft)", LagDepth, MethaneRatio::None},
    {"bit", "Bit depth (ft)", BitDepth, MethaneRatio::None},
    {"rop", "ROP (ft/hr)", Rop, MethaneRatio::None},
};
static_assert(std::size(ValueRows) + 1 == 20, "the time and a label per value");

const QString NoValue = QStringLiteral("\u2014");

QString valueText(Channel channel, double value)
{
    if (std::isnan(value))
        return NoValue;
    switch (channel) {
    case Wetness: {
        const QString words = wetnessReading(value);
        return ratioText(value) + (words.isEmpty() ? QString() : QStringLiteral("  ") + words);
    }
    case Balance: {
        const QString words = balanceReading(value);
        return ratioText(value) + (words.isEmpty() ? QString() : QStringLiteral("  ") + words);
    }
    case Character:
        return ratioText(value) + QStringLiteral("  ") + characterReading(value);
    case HoleDepth:
    case LagDepth:
    case BitDepth:
    case Rop:
        return QString::number(value, 'f', 1);
    default:
        return QString::number(value, 'f', 0);
    }
}

QString methaneRatioText(const GasRatios &ratios, MethaneRatio ratio)
{
    switch (ratio) {
    case MethaneRatio::C1C2:
        return ratioText(ratios.c1c2);
    case MethaneRatio::C1C3:
        return ratioText(ratios.c1c3);
    case MethaneRatio::C1C4:
        return ratioText(ratios.c1c4);
    default:
        return ratioText(ratios.c1c5);
    }
}

QLabel *valueLabel(const QString &name, QWidget *parent)
{
    auto *label = new QLabel(NoValue, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(label->fontMetrics().averageCharWidth() * 18);
    return label;
}

} // namespace

TrendValues::TrendValues(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("pnl_values"));
    auto *grid = new QGridLayout(this);
    grid->setVerticalSpacing(3);
    grid->setHorizontalSpacing(10);
    auto heading = [this](const QString &text) {
        auto *label = new QLabel(text, this);
        label->setTextFormat(Qt::PlainText);
        QFont bold = label->font();
        bold.setBold(true);
        label->setFont(bold);
        return label;
    };
    grid->addWidget(heading(QStringLiteral("Latest")), 0, 1);
    grid->addWidget(heading(QStringLiteral("At cursor")), 0, 2);
    auto addRow = [&](int row, const char *key, const QString &name) {
        auto *caption = new QLabel(name, this);
        caption->setTextFormat(Qt::PlainText);
        grid->addWidget(caption, row + 1, 0);
        m_latest.labels[row] = valueLabel(QStringLiteral("lbl_latest_") + QLatin1String(key), this);
        m_cursor.labels[row] = valueLabel(QStringLiteral("lbl_cursor_") + QLatin1String(key), this);
        grid->addWidget(m_latest.labels[row], row + 1, 1);
        grid->addWidget(m_cursor.labels[row], row + 1, 2);
    };
    addRow(0, "time", QStringLiteral("Time"));
    for (std::size_t i = 0; i < std::size(ValueRows); ++i)
        addRow(static_cast<int>(i) + 1, ValueRows[i].key, QString::fromLatin1(ValueRows[i].name));
    const int eventRow = Rows + 1;
    grid->addWidget(new QLabel(QStringLiteral("Event"), this), eventRow, 0);
    m_event = valueLabel(QStringLiteral("lbl_cursor_event"), this);
    m_event->setWordWrap(true);
    grid->addWidget(m_event, eventRow, 1, 1, 2);
    grid->setRowStretch(eventRow + 1, 1);
}

QString TrendValues::timeText(qint64 ms)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(ms);
    if (time.date() == QDate::currentDate())
        return time.toString(QStringLiteral("HH:mm:ss"));
    return time.toString(QStringLiteral("d MMM HH:mm:ss"));
}

void TrendValues::show(Column &column, std::optional<qint64> timeMs, const QString &timeShown, const trends::Sample *sample)
{
    column.labels[0]->setText(timeShown.isNull() ? (timeMs ? timeText(*timeMs) : NoValue) : timeShown);
    const GasRatios ratios = sample ? gasRatios(chromatographOf(*sample)) : GasRatios();
    for (std::size_t i = 0; i < std::size(ValueRows); ++i) {
        const ValueRow &row = ValueRows[i];
        QString text;
        if (row.ratio != MethaneRatio::None)
            text = methaneRatioText(ratios, row.ratio);
        else
            text = sample ? valueText(row.channel, (*sample)[row.channel]) : NoValue;
        column.labels[i + 1]->setText(text);
    }
}

void TrendValues::showLatest(const std::optional<trends::Sample> &latest, readings::GasLevel level)
{
    show(m_latest, latest ? std::optional<qint64>(latest->timeMs) : std::nullopt, QString(),
         latest ? &*latest : nullptr);
    // The gas units in the panel's colour for the level the link holds them
    // at; a reading with no number has none.
    QLabel *gas = m_latest.labels[1];
    const QColor back = level == readings::GasLevel::Red      ? colours::red()
                        : level == readings::GasLevel::Yellow ? colours::yellow()
                        : level == readings::GasLevel::Green  ? colours::green()
                                                              : QColor();
    gas->setAutoFillBackground(back.isValid());
    if (back.isValid())
        colours::setBackColor(gas, back);
}

void TrendValues::showCursor(std::optional<double> place, bool againstDepth, const trends::Sample &under,
                             const EventMark *event)
{
    QString shown = NoValue;
    if (place && againstDepth)
        shown = QStringLiteral("%1 ft lag").arg(*place, 0, 'f', 1);
    else if (place)
        shown = timeText(static_cast<qint64>(*place));
    show(m_cursor, std::nullopt, shown, &under);
    m_event->setText(event ? timeText(event->timeMs) + QStringLiteral("  ") + event->text : NoValue);
}
