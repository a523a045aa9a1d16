// The reading display of the main window: filling the boxes from an
// accepted packet, the display reset, the WITS indicator and the panel
// toggle.

#include "app/fm_more_data.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include "rules/convert/attempt.h"
#include "rules/convert/convert.h"
#include "app/display/colours.h"
#include "app/display/panellayout.h"
#include "rules/readings/readingrules.h"
#include "link/unitlink.h"
#include "app/stream/trafficwindow.h"

namespace {

// The gas-units text colour for a level; white until a packet sets one, and
// again after a packet whose gas units are no number.
QColor gasColour(readings::GasLevel level)
{
    switch (level) {
    case readings::GasLevel::Green:
        return colours::green();
    case readings::GasLevel::Yellow:
        return colours::yellow();
    case readings::GasLevel::Red:
        return colours::red();
    case readings::GasLevel::Unchanged:
    case readings::GasLevel::NoReading:
        break;
    }
    return colours::white();
}

} // namespace

QString fm_more_data::normalCaption(const Reading &reading) const
{
    return QStringLiteral("  ") + QString::fromLatin1(reading.fields[1]) + QStringLiteral(" ")
        + QString::fromLatin1(reading.fields[3]);
}

void fm_more_data::populate_moredata(const Reading &reading)
{
    const auto &table = readings::fieldTable();
    std::size_t row = 0;  // the row being shown, for a fault to stop at
    try {
        for (; row < table.size(); ++row) {
            QLabel *target = panelLabel(table[row].label);
            if (!target)
                throw std::runtime_error("Object variable not set");
            // A box whose value stands is left alone: no layout, no repaint.
            const QString text = readings::shownText(table[row], reading.fields.at(table[row].index));
            if (target->text() != text)
                target->setText(text);
        }

        showGasLevel(reading.gasLevel);

        // The blink advances one phase per packet while the error lasts.
        if (reading.errorCode > 0) {
            if (!error_blink) {
                error_blink = true;
                colours::setBackColor(lbl_err, colours::buttonFace());
                setWindowTitle(normalCaption(reading));
            } else {
                error_blink = false;
                colours::setBackColor(lbl_err, colours::red());
                setWindowTitle(QStringLiteral("  ERROR"));
            }
            lbl_err_txt->setText(readings::alarmText(reading.errorCode));
        } else {
            setWindowTitle(normalCaption(reading));
            colours::setBackColor(lbl_err, colours::buttonFace());
            lbl_err_txt->setText(QStringLiteral("No Errors"));
        }
    } catch (const std::exception &fault) {
        showPartly(reading, row);
        disply_text(QByteArrayLiteral("[POPULATE CHART ERR: ") + QByteArray(fault.what()) + "]");
    }
}

void fm_more_data::showPartly(const Reading &reading, std::size_t shownRows)
{
    // A packet shown only up to a fault: the boxes it did not reach would
    // go on showing the previous packet's values beside this one's time, so
    // they are emptied, and nothing else of the previous packet stays
    // (its gas level, its alarm, its caption). The gas colour is the
    // reading's own: only gas units too large to show stop the panel before
    // the gas box, and those are no reading for the link either.
    const auto &table = readings::fieldTable();
    for (std::size_t row = shownRows; row < table.size(); ++row)
        attempt([&] { panelLabel(table[row].label)->setText(QString()); });
    attempt([&] { showGasLevel(reading.gasLevel); });
    setWindowTitle(normalCaption(reading));
    colours::setBackColor(lbl_err, colours::buttonFace());
    lbl_err_txt->setText(QString());
}

void fm_more_data::showGasLevel(readings::GasLevel level)
{
    if (!m_stale)
        colours::setForeColor(lbl_GasUnits, gasColour(level));
}

void fm_more_data::clear_display()
{
    // Every box of the reading panel goes blank: what stayed would pass for
    // a reading of the next unit.
    close_winsock();
    for (const readings::FieldRow &row : readings::fieldTable())
        attempt([&] { panelLabel(row.label)->setText(QString()); });
    lbl_bit_depth->setText(QString());
    colours::setBackColor(lbl_bit_depth, colours::black());
    Frame22->setTitle(QStringLiteral("Bit Depth"));
    lbl_err_txt->setText(QStringLiteral("No Errors"));
    wits_info->clear();
    text_window->clearTraffic();
    twoWayMode(false);
    // No alarm and no gas level outlive the unit that reported them: the
    // next unit's first reading starts the level (the link's) and the blink
    // afresh.
    setWindowTitle(startCaption());
    colours::setBackColor(lbl_err, colours::buttonFace());
    error_blink = false;
    m_link->forgetReadings();
    paintReadingColours();
    showUptime();
}

void fm_more_data::tmr_wits_Timer()
{
    // The link counts; witsCounted() shows the count.
    m_link->witsTick();
}

void fm_more_data::witsCounted(UnitStream::WitsWatch watch, std::int16_t left)
{
    if (watch == UnitStream::WitsWatch::Bad) {
        cmd_wits->setText(QStringLiteral("WITS BAD"));
        colours::setBackColor(cmd_wits, colours::red());
        return;
    }
    cmd_wits->setText(QStringLiteral("WITS ") + QString::number(left));
    colours::setBackColor(cmd_wits, colours::green());
    if (watch == UnitStream::WitsWatch::Expired) {
        // The WITS data has gone stale: nothing it put on the screen stays.
        cmd_wits->setText(QStringLiteral("WITS"));
        colours::setBackColor(cmd_wits, colours::red());
        wits_info->clear();
        lbl_bit_depth->setText(QString());
        colours::setBackColor(lbl_bit_depth, colours::black());
        Frame22->setTitle(QStringLiteral("Bit Depth"));
    }
}

void fm_more_data::cmd_wits_Click()
{
}

void fm_more_data::cmd_more_data_Click()
{
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
    if (property("Tag").toString() != QLatin1String("1")) {
        setProperty("Tag", QStringLiteral("1"));
        setOuterSizeTwips(panel::FullWidth, panel::FullHeight);
        cmd_more_data->setText(QStringLiteral("Less Data"));
    } else {
        setProperty("Tag", QStringLiteral("0"));
        setOuterSizeTwips(panel::CompactWidth, panel::CompactHeight);
        cmd_more_data->setText(QStringLiteral("More Data"));
    }
}

void fm_more_data::setReadingsStale(bool stale)
{
    if (stale == m_stale)
        return;
    m_stale = stale;
    paintReadingColours();
}

void fm_more_data::paintReadingColours()
{
    for (const panel::Box &box : panel::boxes()) {
        QLabel *shown = panelLabel(box.label);
        QColor colour = colours::buttonText();
        if (m_stale)
            colour = colours::staleText();
        else if (shown == lbl_GasUnits)
            colour = gasColour(m_link->gasLevel());
        else if (box.style == panel::BoxStyle::Large)
            colour = colours::white();
        else if (box.style == panel::BoxStyle::LargeCyan)
            colour = colours::lightCyan();
        colours::setForeColor(shown, colour);
    }
}

void fm_more_data::twoWayMode(bool active)
{
    cmd_secure->setText(active ? QStringLiteral("Two Way Active") : QStringLiteral("Two Way Inactive"));
    colours::setBackColor(cmd_secure, active ? colours::green() : colours::buttonFace());
}

void fm_more_data::witsListCleared()
{
    wits_info->clear();
}

void fm_more_data::witsItemRead(const WitsItem &item)
{
    wits_info->addItem(item.line);
}

void fm_more_data::witsBitDepth(double value)
{
    attempt([&] {
        lbl_bit_depth->setText(convert::formatOneDecimal(value));
        // On bottom only when the shown texts agree digit for digit.
        if (lbl_DrillDepth->text() != lbl_bit_depth->text()) {
            colours::setBackColor(lbl_bit_depth, colours::orange());
            Frame22->setTitle(QStringLiteral("Bit Depth    OFF BOTTOM"));
        } else {
            colours::setBackColor(lbl_bit_depth, colours::black());
            Frame22->setTitle(QStringLiteral("Bit Depth"));
        }
    });
}
