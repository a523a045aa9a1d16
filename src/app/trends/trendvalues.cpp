#include "app/trends/trendvalues.h"

#include <cmath>

#include <QDateTime>
#include <QFont>
#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/display/colours.h"
#include "app/trends/pixlerplot.h"
#include "rules/mudlog/combinedreading.h"
#include "rules/mudlog/pixler.h"
#include "rules/trends/gasratios.h"

using namespace trends;

namespace {

enum class Shown { Channel, C1C2, C1C3, C1C4, C1C5, Combined, Pixler };

// The rows below the time: a channel, a methane ratio or a reading in
// words. A depth's caption names the unit shown ("%1").
struct ValueRow
{
    const char *key;
    const char *name;
    Channel channel;
    Shown shown;
};

const ValueRow ValueRows[] = {
    {"gas", "Gas units", GasUnits, Shown::Channel},
    {"c1", "C1 (ppm)", C1, Shown::Channel},
    {"c2", "C2 (ppm)", C2, Shown::Channel},
    {"c3", "C3 (ppm)", C3, Shown::Channel},
    {"ic4", "iC4 (ppm)", IC4, Shown::Channel},
    {"nc4", "nC4 (ppm)", NC4, Shown::Channel},
    {"ic5", "iC5 (ppm)", IC5, Shown::Channel},
    {"nc5", "nC5 (ppm)", NC5, Shown::Channel},
    {"wh", "Wetness Wh (%)", Wetness, Shown::Channel},
    {"bh", "Balance Bh", Balance, Shown::Channel},
    {"ch", "Character Ch", Character, Shown::Channel},
    {"reading", "Wh, Bh, Ch read", ChannelCount, Shown::Combined},
    {"c1c2", "C1/C2", ChannelCount, Shown::C1C2},
    {"c1c3", "C1/C3", ChannelCount, Shown::C1C3},
    {"c1c4", "C1/C4", ChannelCount, Shown::C1C4},
    {"c1c5", "C1/C5", ChannelCount, Shown::C1C5},
    {"pixler", "Pixler", ChannelCount, Shown::Pixler},
    {"hole", "Hole depth (%1)", HoleDepth, Shown::Channel},
    {"lag", "Lag depth (%1)", LagDepth, Shown::Channel},
    {"bit", "Bit depth (%1)", BitDepth, Shown::Channel},
    {"rop", "ROP (%1/hr)", Rop, Shown::Channel},
};
static_assert(std::size(ValueRows) + 1 == 22, "the time and a label per value");

const QString NoValue = QStringLiteral("\u2014");

QString valueText(Channel channel, double value, mudlog::DepthUnit unit)
{
    if (std::isnan(value))
        return NoValue;
    switch (channel) {
    case Wetness:
    case Balance:
    case Character:
        return ratioText(value);
    case HoleDepth:
    case LagDepth:
    case BitDepth:
    case Rop:
        return QString::number(mudlog::fromFeet(value, unit), 'f', 1);
    default:
        return QString::number(value, 'f', 0);
    }
}

QString shownText(const ValueRow &row, const trends::Sample &sample, const GasRatios &ratios, mudlog::DepthUnit unit)
{
    switch (row.shown) {
    case Shown::Channel:
        return valueText(row.channel, sample[row.channel], unit);
    case Shown::C1C2:
        return ratioText(ratios.c1c2);
    case Shown::C1C3:
        return ratioText(ratios.c1c3);
    case Shown::C1C4:
        return ratioText(ratios.c1c4);
    case Shown::C1C5:
        return ratioText(ratios.c1c5);
    case Shown::Combined: {
        const QString words = mudlog::fluidWords(mudlog::combinedReading(ratios).fluid);
        return words.isEmpty() ? NoValue : words;
    }
    case Shown::Pixler: {
        const QString words = mudlog::pixlerWords(mudlog::pixlerReading(ratios));
        return words.isEmpty() ? NoValue : words;
    }
    }
    return NoValue;
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
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *grid = new QGridLayout;
    outer->addLayout(grid);
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
    auto addRow = [&](int row, const char *key, const QString &name, bool words) {
        m_captions[row] = new QLabel(name, this);
        m_captions[row]->setTextFormat(Qt::PlainText);
        grid->addWidget(m_captions[row], row + 1, 0, Qt::AlignTop);
        m_latest.labels[row] = valueLabel(QStringLiteral("lbl_latest_") + QLatin1String(key), this);
        m_cursor.labels[row] = valueLabel(QStringLiteral("lbl_cursor_") + QLatin1String(key), this);
        for (QLabel *label : {m_latest.labels[row], m_cursor.labels[row]}) {
            // The readings in words take the lines they need: a word cut
            // off could turn oil into gas.
            label->setWordWrap(words);
            label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        }
        grid->addWidget(m_latest.labels[row], row + 1, 1);
        grid->addWidget(m_cursor.labels[row], row + 1, 2);
    };
    addRow(0, "time", QStringLiteral("Time"), false);
    for (std::size_t i = 0; i < std::size(ValueRows); ++i) {
        const ValueRow &row = ValueRows[i];
        addRow(static_cast<int>(i) + 1, row.key, QString(), row.shown == Shown::Combined || row.shown == Shown::Pixler);
    }
    const int eventRow = Rows + 1;
    grid->addWidget(new QLabel(QStringLiteral("Event"), this), eventRow, 0, Qt::AlignTop);
    m_event = valueLabel(QStringLiteral("lbl_cursor_event"), this);
    m_event->setWordWrap(true);
    grid->addWidget(m_event, eventRow, 1, 1, 2);
    m_pixler = new PixlerPlot(this);
    outer->addWidget(m_pixler, 1);
    setDepthUnit(m_unit);
}

void TrendValues::setDepthUnit(mudlog::DepthUnit unit)
{
    m_unit = unit;
    for (std::size_t i = 0; i < std::size(ValueRows); ++i) {
        const QString name = QString::fromLatin1(ValueRows[i].name);
        m_captions[i + 1]->setText(name.contains(QLatin1String("%1")) ? name.arg(mudlog::unitSymbol(unit)) : name);
    }
    show(m_latest);
    show(m_cursor);
}

QString TrendValues::timeText(qint64 ms)
{
    const QDateTime time = QDateTime::fromMSecsSinceEpoch(ms);
    if (time.date() == QDate::currentDate())
        return time.toString(QStringLiteral("HH:mm:ss"));
    return time.toString(QStringLiteral("d MMM HH:mm:ss"));
}

void TrendValues::show(Column &column)
{
    column.labels[0]->setText(!column.timeShown.isNull() ? column.timeShown
                              : column.timeMs            ? timeText(*column.timeMs)
                                                         : NoValue);
    const GasRatios ratios = column.shown ? gasRatios(chromatographOf(*column.shown)) : GasRatios();
    for (std::size_t i = 0; i < std::size(ValueRows); ++i)
        column.labels[i + 1]->setText(column.shown ? shownText(ValueRows[i], *column.shown, ratios, m_unit) : NoValue);
}

void TrendValues::showPixler()
{
    const bool cursor = m_cursorPlace.has_value();
    const std::optional<trends::Sample> &sample = cursor ? m_cursor.shown : m_latest.shown;
    m_pixler->setRatios(sample ? gasRatios(chromatographOf(*sample)) : GasRatios(),
                        cursor ? (m_againstDepth ? QStringLiteral("at the cursor's bin") : QStringLiteral("at the cursor"))
                               : QStringLiteral("of the latest reading"));
}

void TrendValues::showLatest(const std::optional<trends::Sample> &latest, readings::GasLevel level)
{
    m_latest.shown = latest;
    m_latest.timeMs = latest ? std::optional<qint64>(latest->timeMs) : std::nullopt;
    show(m_latest);
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
    if (!m_cursorPlace)
        showPixler();
}

void TrendValues::showCursor(std::optional<double> place, bool againstDepth, const trends::Sample &under,
                             const EventMark *event)
{
    m_cursorPlace = place;
    m_againstDepth = againstDepth;
    m_cursor.timeShown = NoValue;
    if (place && againstDepth)
        m_cursor.timeShown = QStringLiteral("%1 %2 lag").arg(*place, 0, 'f', 1).arg(mudlog::unitSymbol(m_unit));
    else if (place)
        m_cursor.timeShown = timeText(static_cast<qint64>(*place));
    m_cursor.shown = under;
    show(m_cursor);
    m_event->setText(event ? timeText(event->timeMs) + QStringLiteral("  ") + event->text : NoValue);
    showPixler();
}
