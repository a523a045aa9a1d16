#include "app/fleet/fleetboard.h"

#include <algorithm>
#include <cmath>

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "app/display/colours.h"
#include "history/fleetboardmodel.h"

// The tiles, drawn in one widget: a board of hundreds of units stays one
// paint, and the keys move a choice, not the focus.
class TileGrid : public QWidget
{
public:
    struct Shown
    {
        const board::Tile *tile = nullptr;
        board::Judgement judged;
    };

    // The smallest tile: below this the board scrolls instead.
    static constexpr int MinimumHeight = 120;
    static constexpr double Aspect = 1.6;

    explicit TileGrid(QWidget *parent)
        : QWidget(parent)
    {
        setObjectName(QStringLiteral("pic_tiles"));
        setFocusPolicy(Qt::StrongFocus);
        setAutoFillBackground(true);
        QPalette dark = palette();
        dark.setColor(QPalette::Window, QColor(12, 12, 12));
        setPalette(dark);
    }

    std::function<void(const QString &)> activated;
    std::function<void(const QString &)> watch;

    void setTiles(std::vector<Shown> shown)
    {
        m_shown = std::move(shown);
        const auto found = std::find_if(m_shown.begin(), m_shown.end(),
                                        [this](const Shown &s) { return s.tile->unit == m_current; });
        if (found == m_shown.end())
            m_current = m_shown.empty() ? QString() : m_shown.front().tile->unit;
        fit(m_viewport);
        update();
    }

    // Lays the tiles out for the space the board has: as large as they fit
    // all at once, or scrolling once they would be smaller than the least.
    void fit(const QSize &viewport)
    {
        m_viewport = viewport;
        const int count = std::max<int>(1, int(m_shown.size()));
        const int width = std::max(1, viewport.width());
        const int height = std::max(1, viewport.height());
        int bestColumns = 1;
        double bestHeight = 0.0;
        for (int columns = 1; columns <= count; ++columns) {
            const int rows = (count + columns - 1) / columns;
            const double tileHeight = std::min(width / double(columns) / Aspect, height / double(rows));
            if (tileHeight > bestHeight) {
                bestHeight = tileHeight;
                bestColumns = columns;
            }
        }
        if (bestHeight < MinimumHeight) {
            bestColumns = std::max(1, int(width / (MinimumHeight * Aspect)));
            bestHeight = MinimumHeight;
        }
        m_columns = bestColumns;
        m_tile = QSize(width / m_columns, int(bestHeight));
        const int rows = (count + m_columns - 1) / m_columns;
        setFixedSize(width, std::max(height, rows * m_tile.height()));
    }

    const std::vector<Shown> &shown() const { return m_shown; }
    const QString &current() const { return m_current; }
    void setCurrent(const QString &unit)
    {
        m_current = unit;
        update();
        if (const int at = indexOf(unit); at >= 0)
            emitVisible(at);
    }
    QRect tileRect(int at) const
    {
        return QRect((at % m_columns) * m_tile.width(), (at / m_columns) * m_tile.height(), m_tile.width(),
                     m_tile.height());
    }
    std::function<void(const QRect &)> ensureVisible;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        for (std::size_t i = 0; i < m_shown.size(); ++i)
            paintTile(painter, tileRect(int(i)).adjusted(4, 4, -4, -4), m_shown[i]);
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        const int at = indexOf(m_current);
        int to = at;
        switch (event->key()) {
        case Qt::Key_Left:
            to = at - 1;
            break;
        case Qt::Key_Right:
            to = at + 1;
            break;
        case Qt::Key_Up:
            to = at - m_columns;
            break;
        case Qt::Key_Down:
            to = at + m_columns;
            break;
        case Qt::Key_Home:
            to = 0;
            break;
        case Qt::Key_End:
            to = int(m_shown.size()) - 1;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (at >= 0 && activated)
                activated(m_current);
            return;
        default:
            QWidget::keyPressEvent(event);
            return;
        }
        if (to >= 0 && to < int(m_shown.size()))
            setCurrent(m_shown[std::size_t(to)].tile->unit);
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        setFocus();
        if (const int at = indexAt(event->pos()); at >= 0)
            setCurrent(m_shown[std::size_t(at)].tile->unit);
    }

    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        if (const int at = indexAt(event->pos()); at >= 0 && activated)
            activated(m_shown[std::size_t(at)].tile->unit);
    }

    void contextMenuEvent(QContextMenuEvent *event) override
    {
        const int at = indexAt(event->pos());
        if (at < 0) {
            // Not a tile: the viewer's own menu, as anywhere else.
            event->ignore();
            return;
        }
        const QString unit = m_shown[std::size_t(at)].tile->unit;
        setCurrent(unit);
        QMenu menu(this);
        menu.addAction(tr("Watch on panel"), this, [this, unit] {
            if (watch)
                watch(unit);
        });
        menu.addAction(tr("Trends…"), this, [this, unit] {
            if (activated)
                activated(unit);
        });
        menu.exec(event->globalPos());
    }

private:
    int indexOf(const QString &unit) const
    {
        for (std::size_t i = 0; i < m_shown.size(); ++i) {
            if (m_shown[i].tile->unit == unit)
                return int(i);
        }
        return -1;
    }
    int indexAt(const QPoint &pos) const
    {
        for (std::size_t i = 0; i < m_shown.size(); ++i) {
            if (tileRect(int(i)).contains(pos))
                return int(i);
        }
        return -1;
    }
    void emitVisible(int at)
    {
        if (ensureVisible)
            ensureVisible(tileRect(at));
    }

    static QString figure(const std::optional<double> &value, int decimals = 0)
    {
        return value ? QString::number(*value, 'f', decimals) : QStringLiteral("–");
    }

    void paintTile(QPainter &painter, const QRect &box, const Shown &shown) const
    {
        const board::Tile &tile = *shown.tile;
        const board::Judgement &judged = shown.judged;
        const std::optional<readings::LevelMark> mark =
            judged.level ? std::optional<readings::LevelMark>(readings::levelMark(*judged.level)) : std::nullopt;
        const QColor levelColour = mark ? colours::of(mark->colour) : QColor(200, 200, 200);
        const int h = box.height();
        const int pad = std::max(4, h / 20);
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(34, 34, 34));
        painter.drawRoundedRect(box, pad, pad);
        // The level's band down the left edge.
        painter.setBrush(levelColour);
        painter.drawRoundedRect(QRect(box.left(), box.top(), std::max(6, h / 14), h), pad / 2, pad / 2);
        if (tile.unit == m_current && hasFocus()) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(Qt::white, std::max(3, h / 40)));
            painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), pad, pad);
        } else if (tile.unit == m_current) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(QColor(160, 160, 160), std::max(2, h / 60)));
            painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), pad, pad);
        }
        // Old data is drawn faint, so it never passes for current.
        if (judged.stale)
            painter.setOpacity(0.45);
        const QRect inner = box.adjusted(std::max(6, h / 14) + pad, pad, -pad, -pad);
        QFont font = this->font();
        font.setBold(true);

        // The unit, and the level's badge: its shape and word.
        const int top = inner.top();
        const int lineH = h / 8;
        font.setPixelSize(std::max(9, int(lineH * 0.9)));
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(inner.left(), top, inner.width(), lineH), Qt::AlignLeft | Qt::AlignVCenter, tile.unit);
        if (mark) {
            const QString label = mark->label();
            const int badgeW = painter.fontMetrics().horizontalAdvance(label) + pad * 2;
            const QRect badge(inner.right() - badgeW, top, badgeW, lineH);
            painter.setPen(Qt::NoPen);
            painter.setBrush(levelColour);
            painter.drawRoundedRect(badge, lineH / 4, lineH / 4);
            painter.setPen(colours::of(mark->ink));
            painter.drawText(badge, Qt::AlignCenter, label);
        }

        // The gas in large figures, in the level's colour.
        const QRect gasBox(inner.left(), top + lineH, inner.width(), int(h * 0.30));
        font.setPixelSize(std::max(12, int(gasBox.height() * 0.85)));
        painter.setFont(font);
        painter.setPen(judged.noData ? QColor(220, 220, 220) : levelColour);
        const QString gas = judged.noData ? QStringLiteral("NO DATA") : figure(tile.gas);
        // Narrow tiles take smaller figures rather than cut them.
        const int room = inner.width() * 3 / 4;
        if (const int wide = QFontMetrics(font).horizontalAdvance(gas); wide > room)
            font.setPixelSize(std::max(10, font.pixelSize() * room / wide));
        painter.setFont(font);
        painter.drawText(gasBox, Qt::AlignLeft | Qt::AlignVCenter, gas);
        if (!judged.noData) {
            QFont small = font;
            small.setPixelSize(std::max(8, lineH * 2 / 3));
            painter.setFont(small);
            painter.setPen(QColor(190, 190, 190));
            painter.drawText(gasBox, Qt::AlignRight | Qt::AlignBottom, tr("gas units"));
        }

        // The unit's alarm, blinking with its readings as the panel's does.
        const QRect alarmBox(inner.left(), gasBox.bottom() + 1, inner.width(), lineH);
        if (judged.alarmRed) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(colours::red());
            painter.drawRect(alarmBox);
        }
        font.setPixelSize(std::max(8, int(lineH * 0.8)));
        painter.setFont(font);
        painter.setPen(judged.alarm ? (judged.alarmRed ? Qt::white : QColor(255, 120, 120)) : QColor(150, 150, 150));
        painter.drawText(alarmBox.adjusted(pad / 2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, judged.alarmText);

        // The depths, the ROP and the age of the data.
        QFont detail = this->font();
        detail.setPixelSize(std::max(8, int(lineH * 0.72)));
        painter.setFont(detail);
        painter.setPen(QColor(225, 225, 225));
        const QRect depths(inner.left(), alarmBox.bottom() + 1, inner.width(), lineH);
        painter.drawText(depths, Qt::AlignLeft | Qt::AlignVCenter,
                         tr("Hole %1  Lag %2  Bit %3")
                             .arg(figure(tile.holeDepth), figure(tile.lagDepth), figure(tile.bitDepth)));
        const QRect rop(inner.left(), depths.bottom() + 1, inner.width(), lineH);
        painter.drawText(rop, Qt::AlignLeft | Qt::AlignVCenter, tr("ROP %1 min/ft").arg(figure(tile.ropMinFt, 3)));
        painter.drawText(rop, Qt::AlignRight | Qt::AlignVCenter,
                         judged.ageMs ? tr("age %1").arg(board::ageText(*judged.ageMs)) : tr("no reading"));

        // The last hour's gas, against the hour, not against its own span.
        const QRect line(inner.left(), rop.bottom() + pad / 2, inner.width(), inner.bottom() - rop.bottom() - pad / 2);
        if (line.height() > 4 && tile.spark.size() > 1) {
            const qint64 end = tile.spark.back().timeMs + board::SparkBucketMs;
            const qint64 start = end - board::SparkSpanMs;
            // The dotted line is the unit's own very high level.
            const double veryHighAbove = tile.levels.veryHighAbove;
            double high = std::max(2000.0, veryHighAbove * 8 / 7);
            for (const board::SparkPoint &p : tile.spark)
                high = std::max(high, p.gas);
            QPainterPath path;
            bool first = true;
            for (const board::SparkPoint &p : tile.spark) {
                const double x = line.left() + line.width() * double(p.timeMs - start) / board::SparkSpanMs;
                const double y = line.bottom() - line.height() * std::clamp(p.gas / high, 0.0, 1.0);
                first ? path.moveTo(x, y) : path.lineTo(x, y);
                first = false;
            }
            painter.setPen(QPen(QColor(140, 140, 140), 1, Qt::DotLine));
            const double veryHigh = line.bottom() - line.height() * veryHighAbove / high;
            painter.drawLine(QPointF(line.left(), veryHigh), QPointF(line.right(), veryHigh));
            painter.setPen(QPen(QColor(230, 230, 230), std::max(1.5, h / 90.0)));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(path);
        }
        painter.restore();
    }

    std::vector<Shown> m_shown;
    QString m_current;
    int m_columns = 1;
    QSize m_tile{200, 125};
    QSize m_viewport{800, 600};
};

namespace {

// The scroll area tells the tiles how much room the window gives them.
class TileArea : public QScrollArea
{
public:
    using QScrollArea::QScrollArea;
    std::function<void()> resized;

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QScrollArea::resizeEvent(event);
        if (resized)
            resized();
    }
};

} // namespace

FleetBoard::FleetBoard(FleetBoardOptions options, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_options(std::move(options))
{
    setObjectName(QStringLiteral("fm_fleet"));
    setWindowTitle(tr("Fleet board"));
    m_model = new FleetBoardModel(m_options.clock, this);

    auto *layout = new QVBoxLayout(this);
    auto *top = new QHBoxLayout;
    txt_filter = new QLineEdit(this);
    txt_filter->setObjectName(QStringLiteral("txt_filter"));
    txt_filter->setPlaceholderText(tr("Filter by unit"));
    txt_filter->setClearButtonEnabled(true);
    txt_filter->setMaximumWidth(260);
    top->addWidget(txt_filter);
    lbl_board = new QLabel(this);
    lbl_board->setObjectName(QStringLiteral("lbl_board"));
    lbl_board->setTextFormat(Qt::PlainText);
    top->addWidget(lbl_board, 1);
    auto *watch = new QPushButton(tr("Watch on panel"), this);
    watch->setObjectName(QStringLiteral("cmd_watch"));
    watch->setToolTip(tr("Puts the chosen unit's serial in the serial box and connects"));
    top->addWidget(watch);
    layout->addLayout(top);

    auto *area = new TileArea(this);
    scr_tiles = area;
    scr_tiles->setObjectName(QStringLiteral("scr_tiles"));
    scr_tiles->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scr_tiles->setFrameShape(QFrame::NoFrame);
    m_grid = new TileGrid(scr_tiles);
    scr_tiles->setWidget(m_grid);
    layout->addWidget(scr_tiles, 1);
    area->resized = [this] {
        m_grid->fit(scr_tiles->viewport()->size());
    };
    m_grid->ensureVisible = [this](const QRect &rect) {
        scr_tiles->ensureVisible(rect.center().x(), rect.center().y(), rect.width() / 2, rect.height() / 2);
    };
    m_grid->activated = [this](const QString &unit) {
        if (m_options.openTrends)
            m_options.openTrends(unit);
    };
    m_grid->watch = [this](const QString &unit) {
        if (m_options.watch)
            m_options.watch(unit);
    };
    setFocusProxy(m_grid);

    connect(watch, &QPushButton::clicked, this, &FleetBoard::watchCurrent);
    connect(txt_filter, &QLineEdit::textChanged, this, &FleetBoard::arrange);
    // Down from the filter goes to the tiles.
    txt_filter->installEventFilter(this);
    connect(m_model, &FleetBoardModel::tilesChanged, this, &FleetBoard::arrange);
    connect(m_model, &FleetBoardModel::problemChanged, this, &FleetBoard::showProblem);
    // The ages grow and tiles turn stale without news: judged again each
    // second, from what the model holds, without asking the history; not
    // again when news has just done so (a busy fleet brings news every
    // second, and a board of hundreds of tiles is drawn once for both).
    m_clock = new QTimer(this);
    m_clock->setInterval(1000);
    connect(m_clock, &QTimer::timeout, this, [this] {
        if (!m_arranged.isValid() || m_arranged.elapsed() >= 900)
            arrange();
    });
    resize(1280, 800);
}

FleetBoard::~FleetBoard() = default;

void FleetBoard::follow(const QString &address)
{
    if (address == m_model->address())
        return;
    m_model->start(address);
    arrange();
}

void FleetBoard::present()
{
    m_clock->start();
    arrange();
    show();
    raise();
    activateWindow();
    m_grid->setFocus();
}

bool FleetBoard::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txt_filter && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Down) {
        m_grid->setFocus();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void FleetBoard::closeEvent(QCloseEvent *event)
{
    m_clock->stop();
    QWidget::closeEvent(event);
}

void FleetBoard::setStaleSeconds(int seconds)
{
    m_options.staleSeconds = seconds;
    arrange();
}

void FleetBoard::arrange()
{
    m_arranged.start();
    const std::vector<board::Tile> &tiles = m_model->tiles();
    const qint64 now = m_model->now();
    // The alarm list first, so that the order reads its acknowledgements
    // of what the tiles show now.
    tellConditions(now);
    const QString filter = txt_filter->text().trimmed();
    std::vector<TileGrid::Shown> shown;
    for (const std::size_t i : board::boardOrder(tiles, now, m_options.staleSeconds, m_options.acknowledged)) {
        if (!filter.isEmpty() && !tiles[i].unit.contains(filter, Qt::CaseInsensitive))
            continue;
        shown.push_back({&tiles[i], board::judge(tiles[i], now, m_options.staleSeconds)});
    }
    int noData = 0, stale = 0;
    for (const TileGrid::Shown &s : shown) {
        noData += s.judged.noData ? 1 : 0;
        stale += s.judged.stale ? 1 : 0;
    }
    const std::size_t count = shown.size();
    m_grid->setTiles(std::move(shown));
    if (m_model->isReading()) {
        lbl_board->setText(tr("Reading %1").arg(m_model->address()));
    } else if (m_model->problem().isEmpty()) {
        lbl_board->setText(tr("%1 of %2 units   %3 no data   %4 stale   %5")
                               .arg(count)
                               .arg(tiles.size())
                               .arg(noData)
                               .arg(stale)
                               .arg(m_model->address()));
    }
}

void FleetBoard::tellConditions(qint64 now)
{
    if (!m_options.conditionStarted && !m_options.conditionEnded)
        return;
    for (const board::Tile &tile : m_model->tiles()) {
        const std::vector<board::TileCondition> conditions =
            board::conditionsOf(tile, board::judge(tile, now, m_options.staleSeconds), m_options.staleSeconds);
        std::vector<board::TileCondition> &told = m_told[tile.unit];
        for (const board::TileCondition &was : told) {
            const bool lasts = std::any_of(conditions.begin(), conditions.end(),
                                           [&was](const board::TileCondition &c) { return c.kind == was.kind; });
            if (!lasts && m_options.conditionEnded)
                m_options.conditionEnded(tile.unit, was.kind);
        }
        for (const board::TileCondition &condition : conditions) {
            const auto was = std::find_if(told.begin(), told.end(),
                                          [&condition](const board::TileCondition &c) { return c.kind == condition.kind; });
            if ((was == told.end() || was->level != condition.level || was->text != condition.text)
                && m_options.conditionStarted)
                m_options.conditionStarted(tile.unit, condition);
        }
        told = conditions;
    }
}

void FleetBoard::showProblem()
{
    if (m_model->problem().isEmpty())
        arrange();
    else
        lbl_board->setText(tr("The history cannot be read: %1").arg(m_model->problem()));
}

QStringList FleetBoard::shownUnits() const
{
    QStringList units;
    for (const TileGrid::Shown &s : m_grid->shown())
        units << s.tile->unit;
    return units;
}

QString FleetBoard::currentUnit() const
{
    return m_grid->current();
}

void FleetBoard::setCurrentUnit(const QString &unit)
{
    m_grid->setCurrent(unit);
}

void FleetBoard::watchCurrent()
{
    if (!currentUnit().isEmpty() && m_options.watch)
        m_options.watch(currentUnit());
}

void FleetBoard::openCurrentTrends()
{
    if (!currentUnit().isEmpty() && m_options.openTrends)
        m_options.openTrends(currentUnit());
}
