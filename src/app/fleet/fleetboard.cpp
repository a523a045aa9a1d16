#include "app/fleet/fleetboard.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QStaticText>
#include <QTimer>
#include <QVBoxLayout>

#include "app/display/colours.h"
#include "history/fleetboardmodel.h"

// What one tile shows, as it is drawn: two faces alike draw alike, so the
// board draws again only the tiles whose face changed. Each second moves
// the ages, the news the units' figures; most of a tile stays as it was.
struct TileFace
{
    QString unit;
    std::optional<readings::Level> level;
    QString gas;  // the figure, or "NO DATA"
    QString alarmText;
    QString depths;
    QString rop;
    QString age;
    bool noData = false;
    bool stale = false;
    bool alarm = false;
    bool alarmRed = false;
    double veryHighAbove = 0.0;
    std::vector<board::SparkPoint> spark;

    friend bool operator==(const TileFace &a, const TileFace &b)
    {
        return a.unit == b.unit && a.level == b.level && a.gas == b.gas && a.alarmText == b.alarmText
               && a.depths == b.depths && a.rop == b.rop && a.age == b.age && a.noData == b.noData
               && a.stale == b.stale && a.alarm == b.alarm && a.alarmRed == b.alarmRed
               && a.veryHighAbove == b.veryHighAbove && a.spark == b.spark;
    }
    friend bool operator!=(const TileFace &a, const TileFace &b) { return !(a == b); }
};

// The tiles, drawn in one widget: a board of hundreds of units stays one
// paint, and the keys move a choice, not the focus. Only the tiles whose
// face changed are drawn again, and only those in sight; their fonts and
// laid-out texts are kept for the tile size until the board is resized.
class TileGrid : public QWidget
{
public:
    // The smallest tile: below this the board scrolls instead.
    static constexpr int MinimumHeight = 120;
    static constexpr double Aspect = 1.6;
    // The space around each tile's box.
    static constexpr int Margin = 4;

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

    static QString figure(const std::optional<double> &value, int decimals = 0)
    {
        return value ? QString::number(*value, 'f', decimals) : QStringLiteral("–");
    }

    static TileFace faceOf(const board::Tile &tile, const board::Judgement &judged)
    {
        TileFace face;
        face.unit = tile.unit;
        face.level = judged.level;
        face.noData = judged.noData;
        face.stale = judged.stale;
        face.alarm = judged.alarm;
        face.alarmRed = judged.alarmRed;
        face.alarmText = judged.alarmText;
        face.gas = judged.noData ? QStringLiteral("NO DATA") : figure(tile.gas);
        face.depths = tr("Hole %1  Lag %2  Bit %3")
                          .arg(figure(tile.holeDepth), figure(tile.lagDepth), figure(tile.bitDepth));
        face.rop = tr("ROP %1 min/ft").arg(figure(tile.ropMinFt, 3));
        face.age = judged.ageMs ? tr("age %1").arg(board::ageText(*judged.ageMs)) : tr("no reading");
        face.veryHighAbove = tile.levels.veryHighAbove;
        face.spark = tile.spark;
        return face;
    }

    void setTiles(std::vector<TileFace> faces)
    {
        std::swap(m_faces, faces);
        const auto found = std::find_if(m_faces.begin(), m_faces.end(),
                                        [this](const TileFace &f) { return f.unit == m_current; });
        if (found == m_faces.end())
            m_current = m_faces.empty() ? QString() : m_faces.front().unit;
        const bool moved = fit(m_viewport);
        dropLinesOutOfSight();
        if (moved)
            return;
        // The same places: only the tiles whose face changed, and those
        // that are gone.
        for (std::size_t i = 0; i < std::max(m_faces.size(), faces.size()); ++i) {
            if (i >= m_faces.size() || i >= faces.size() || m_faces[i] != faces[i])
                update(tileRect(int(i)));
        }
    }

    // Lays the tiles out for the space the board has: as large as they fit
    // all at once, or scrolling once they would be smaller than the least.
    // Whether the places changed (the whole board is then drawn again).
    bool fit(const QSize &viewport)
    {
        m_viewport = viewport;
        const int count = std::max<int>(1, int(m_faces.size()));
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
        const QSize tile(width / bestColumns, int(bestHeight));
        const int rows = (count + bestColumns - 1) / bestColumns;
        setFixedSize(width, std::max(height, rows * tile.height()));
        if (bestColumns == m_columns && tile == m_tile)
            return false;
        m_columns = bestColumns;
        if (tile != m_tile)
            m_metrics.reset();
        m_tile = tile;
        update();
        return true;
    }

    const std::vector<TileFace> &shown() const { return m_faces; }
    int keptLines() const { return m_metrics ? int(m_metrics->lines.size()) : 0; }
    const QString &current() const { return m_current; }
    void setCurrent(const QString &unit)
    {
        if (unit != m_current) {
            updateTile(m_current);
            m_current = unit;
            updateTile(m_current);
        }
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
    void paintEvent(QPaintEvent *event) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (!m_metrics)
            m_metrics = std::make_unique<Metrics>(font(), m_tile - QSize(2 * Margin, 2 * Margin));
        // The rows in the part to draw, and of those the tiles it crosses.
        const QRect dirty = event->rect();
        const int from = std::max(0, dirty.top() / m_tile.height()) * m_columns;
        const int to = std::min<int>(int(m_faces.size()), (dirty.bottom() / m_tile.height() + 1) * m_columns);
        for (int at = from; at < to; ++at) {
            const QRect place = tileRect(at);
            if (event->region().intersects(place))
                paintTile(painter, place.adjusted(Margin, Margin, -Margin, -Margin), m_faces[std::size_t(at)]);
        }
    }

    void changeEvent(QEvent *event) override
    {
        if (event->type() == QEvent::FontChange) {
            m_metrics.reset();
            update();
        }
        QWidget::changeEvent(event);
    }

    // The chosen tile's frame shows whether the tiles have the keys.
    void focusInEvent(QFocusEvent *) override { updateTile(m_current); }
    void focusOutEvent(QFocusEvent *) override { updateTile(m_current); }

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
            to = int(m_faces.size()) - 1;
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
        if (to >= 0 && to < int(m_faces.size()))
            setCurrent(m_faces[std::size_t(to)].unit);
    }

    void mousePressEvent(QMouseEvent *event) override
    {
        setFocus();
        if (const int at = indexAt(event->pos()); at >= 0)
            setCurrent(m_faces[std::size_t(at)].unit);
    }

    void mouseDoubleClickEvent(QMouseEvent *event) override
    {
        if (const int at = indexAt(event->pos()); at >= 0 && activated)
            activated(m_faces[std::size_t(at)].unit);
    }

    void contextMenuEvent(QContextMenuEvent *event) override
    {
        const int at = indexAt(event->pos());
        if (at < 0) {
            // Not a tile: the viewer's own menu, as anywhere else.
            event->ignore();
            return;
        }
        const QString unit = m_faces[std::size_t(at)].unit;
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
    // The fonts of a tile of a size, its texts as laid out in them, and its
    // ground and badge of each level drawn: each is made once for as long
    // as the tiles keep their size, not at every drawing.
    enum Role { UnitText, GasText, SmallText, AlarmText, DetailText, RoleCount };
    struct Laid
    {
        QStaticText text;
        QFont font;
        QSizeF size;
    };
    struct Line
    {
        std::vector<board::SparkPoint> points;
        qint64 endMs = 0;
        double high = 0.0;
        double veryHighAbove = 0.0;
        QPixmap picture;
    };
    // Room around a line's picture for the pen's width.
    static constexpr int LineMargin = 3;
    struct Metrics
    {
        Metrics(const QFont &base, const QSize &tile)
            : size(tile)
            , h(tile.height())
            , pad(std::max(4, h / 20))
            , band(std::max(6, h / 14))
            , lineH(h / 8)
            , gasH(int(h * 0.30))
        {
            QFont bold = base;
            bold.setBold(true);
            fonts[UnitText] = bold;
            fonts[UnitText].setPixelSize(std::max(9, int(lineH * 0.9)));
            fonts[GasText] = bold;
            fonts[GasText].setPixelSize(std::max(12, int(gasH * 0.85)));
            fonts[SmallText] = bold;
            fonts[SmallText].setPixelSize(std::max(8, lineH * 2 / 3));
            fonts[AlarmText] = bold;
            fonts[AlarmText].setPixelSize(std::max(8, int(lineH * 0.8)));
            fonts[DetailText] = base;
            fonts[DetailText].setPixelSize(std::max(8, int(lineH * 0.72)));
        }
        QSize size;
        int h, pad, band, lineH, gasH;
        QFont fonts[RoleCount];
        // By the level (-1 for none).
        QHash<int, QPixmap> grounds;
        QHash<int, QPixmap> badges;
        // By the unit in sight: its line of the hour but the latest half
        // minute; the sheet each is drawn on.
        QHash<QString, Line> lines;
        QImage lineSheet;
        // Each role's texts in two generations: once the fresh one holds
        // MaxFresh it becomes the older and the older goes, a text used
        // meanwhile coming back into the fresh one. The texts in sight
        // stay; the figures that passed (the depths move with every
        // reading) go, and the memory stays within twice MaxFresh.
        struct Store
        {
            QHash<QString, Laid> fresh;
            QHash<QString, Laid> older;
        };
        Store laid[RoleCount];
        static constexpr int MaxFresh = 512;
    };

    const Laid &laid(Role role, const QString &text, int room = 0) const
    {
        Metrics::Store &store = m_metrics->laid[role];
        if (const auto found = store.fresh.constFind(text); found != store.fresh.cend())
            return *found;
        if (store.fresh.size() >= Metrics::MaxFresh) {
            store.older = std::move(store.fresh);
            store.fresh = {};
        }
        if (const auto found = store.older.constFind(text); found != store.older.cend())
            return *store.fresh.insert(text, *found);
        Laid laid;
        laid.font = m_metrics->fonts[role];
        // Narrow tiles take smaller figures rather than cut them.
        if (room > 0) {
            if (const int wide = QFontMetrics(laid.font).horizontalAdvance(text); wide > room)
                laid.font.setPixelSize(std::max(10, laid.font.pixelSize() * room / wide));
        }
        laid.text.setTextFormat(Qt::PlainText);
        laid.text.setText(text);
        laid.text.prepare(QTransform(), laid.font);
        laid.size = laid.text.size();
        return *store.fresh.insert(text, laid);
    }

    // A text in a box, aligned as drawText would, cut at the box's sides
    // only when it is wider.
    void drawText(QPainter &painter, const QRect &box, Qt::Alignment align, Role role, const QString &text,
                  int room = 0) const
    {
        if (text.isEmpty())
            return;
        const Laid &l = laid(role, text, room);
        painter.setFont(l.font);
        QPointF at(box.left(), box.top());
        if (align & Qt::AlignRight)
            at.setX(box.left() + box.width() - l.size.width());
        else if (align & Qt::AlignHCenter)
            at.setX(box.left() + (box.width() - l.size.width()) / 2);
        if (align & Qt::AlignBottom)
            at.setY(box.top() + box.height() - l.size.height());
        else if (align & Qt::AlignVCenter)
            at.setY(box.top() + (box.height() - l.size.height()) / 2);
        const bool cut = l.size.width() > box.width();
        if (cut) {
            painter.save();
            painter.setClipRect(box, Qt::IntersectClip);
        }
        painter.drawStaticText(at, l.text);
        if (cut)
            painter.restore();
    }

    // A picture drawn a few rows at a time: the raster engine hands a
    // picture of more rows to its thread pool, and for a tile's box waking
    // the pool and waiting for it cost more than the copy (a board of 200
    // tiles in sight at once, each drawn every second).
    static void drawInBands(QPainter &painter, const QPoint &at, const QPixmap &picture)
    {
        constexpr int Band = 48;
        const qreal ratio = picture.devicePixelRatio();
        for (int y = 0; y < picture.height(); y += Band) {
            const int rows = std::min(Band, picture.height() - y);
            painter.drawPixmap(QPointF(at.x(), at.y() + y / ratio), picture, QRectF(0, y, picture.width(), rows));
        }
    }

    // A clear picture of a size in the screen's pixels.
    QPixmap blank(const QSize &size) const
    {
        const qreal ratio = devicePixelRatioF();
        QPixmap pixmap(size * ratio);
        pixmap.setDevicePixelRatio(ratio);
        pixmap.fill(Qt::transparent);
        return pixmap;
    }

    // Only the lines of the tiles in sight are kept: the order moves with
    // the gas and the board scrolls, and a picture kept for every unit that
    // ever came into sight held a megabyte or more of a board of 200 units
    // out of sight. A tile coming into sight draws its line once.
    void dropLinesOutOfSight()
    {
        if (!m_metrics || m_metrics->lines.isEmpty())
            return;
        const QRect seen = visibleRegion().boundingRect();
        QSet<QString> inSight;
        if (!seen.isEmpty()) {
            const int from = std::max(0, seen.top() / m_tile.height()) * m_columns;
            const int to = std::min<int>(int(m_faces.size()), (seen.bottom() / m_tile.height() + 1) * m_columns);
            for (int at = from; at < to; ++at)
                inSight.insert(m_faces[std::size_t(at)].unit);
        }
        m_metrics->lines.removeIf([&inSight](const auto &line) { return !inSight.contains(line.key()); });
    }

    int indexOf(const QString &unit) const
    {
        for (std::size_t i = 0; i < m_faces.size(); ++i) {
            if (m_faces[i].unit == unit)
                return int(i);
        }
        return -1;
    }
    int indexAt(const QPoint &pos) const
    {
        for (std::size_t i = 0; i < m_faces.size(); ++i) {
            if (tileRect(int(i)).contains(pos))
                return int(i);
        }
        return -1;
    }
    void updateTile(const QString &unit)
    {
        if (const int at = indexOf(unit); at >= 0)
            update(tileRect(at));
    }
    void emitVisible(int at)
    {
        if (ensureVisible)
            ensureVisible(tileRect(at));
    }

    void paintTile(QPainter &painter, const QRect &box, const TileFace &face) const
    {
        Metrics &m = *m_metrics;
        const std::optional<readings::LevelMark> mark =
            face.level ? std::optional<readings::LevelMark>(readings::levelMark(*face.level)) : std::nullopt;
        const QColor levelColour = mark ? colours::of(mark->colour) : QColor(200, 200, 200);
        const int h = m.h;
        const int pad = m.pad;
        const int lineH = m.lineH;
        painter.save();
        // The box, with the level's band down the left edge.
        const int key = face.level ? int(*face.level) : -1;
        QPixmap &ground = m.grounds[key];
        if (ground.isNull()) {
            ground = blank(m.size);
            QPainter on(&ground);
            on.setRenderHint(QPainter::Antialiasing);
            on.setPen(Qt::NoPen);
            on.setBrush(QColor(34, 34, 34));
            on.drawRoundedRect(QRect(QPoint(0, 0), m.size), pad, pad);
            on.setBrush(levelColour);
            on.drawRoundedRect(QRect(0, 0, m.band, h), pad / 2, pad / 2);
        }
        drawInBands(painter, box.topLeft(), ground);
        if (face.unit == m_current && hasFocus()) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(Qt::white, std::max(3, h / 40)));
            painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), pad, pad);
        } else if (face.unit == m_current) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(QColor(160, 160, 160), std::max(2, h / 60)));
            painter.drawRoundedRect(box.adjusted(1, 1, -1, -1), pad, pad);
        }
        // Old data is drawn faint, so it never passes for current.
        if (face.stale)
            painter.setOpacity(0.45);
        const QRect inner = box.adjusted(m.band + pad, pad, -pad, -pad);

        // The unit, and the level's badge: its shape and word.
        const int top = inner.top();
        painter.setPen(Qt::white);
        drawText(painter, QRect(inner.left(), top, inner.width(), lineH), Qt::AlignLeft | Qt::AlignVCenter, UnitText,
                 face.unit);
        if (mark) {
            QPixmap &badge = m.badges[key];
            if (badge.isNull()) {
                const QString label = mark->label();
                const Laid &text = laid(UnitText, label);
                const QSize size(int(std::ceil(text.size.width())) + pad * 2, lineH);
                badge = blank(size);
                QPainter on(&badge);
                on.setRenderHint(QPainter::Antialiasing);
                on.setPen(Qt::NoPen);
                on.setBrush(levelColour);
                on.drawRoundedRect(QRect(QPoint(0, 0), size), lineH / 4, lineH / 4);
                on.setPen(colours::of(mark->ink));
                drawText(on, QRect(QPoint(0, 0), size), Qt::AlignCenter, UnitText, label);
            }
            painter.drawPixmap(inner.right() - int(badge.deviceIndependentSize().width()), top, badge);
        }

        // The gas in large figures, in the level's colour.
        const QRect gasBox(inner.left(), top + lineH, inner.width(), m.gasH);
        painter.setPen(face.noData ? QColor(220, 220, 220) : levelColour);
        drawText(painter, gasBox, Qt::AlignLeft | Qt::AlignVCenter, GasText, face.gas, inner.width() * 3 / 4);
        if (!face.noData) {
            painter.setPen(QColor(190, 190, 190));
            drawText(painter, gasBox, Qt::AlignRight | Qt::AlignBottom, SmallText, tr("gas units"));
        }

        // The unit's alarm, blinking with its readings as the panel's does.
        const QRect alarmBox(inner.left(), gasBox.bottom() + 1, inner.width(), lineH);
        if (face.alarmRed) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(colours::red());
            painter.drawRect(alarmBox);
        }
        painter.setPen(face.alarm ? (face.alarmRed ? Qt::white : QColor(255, 120, 120)) : QColor(150, 150, 150));
        drawText(painter, alarmBox.adjusted(pad / 2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, AlarmText,
                 face.alarmText);

        // The depths, the ROP and the age of the data.
        painter.setPen(QColor(225, 225, 225));
        const QRect depths(inner.left(), alarmBox.bottom() + 1, inner.width(), lineH);
        drawText(painter, depths, Qt::AlignLeft | Qt::AlignVCenter, DetailText, face.depths);
        const QRect rop(inner.left(), depths.bottom() + 1, inner.width(), lineH);
        drawText(painter, rop, Qt::AlignLeft | Qt::AlignVCenter, DetailText, face.rop);
        drawText(painter, rop, Qt::AlignRight | Qt::AlignVCenter, DetailText, face.age);

        // The last hour's gas, against the hour, not against its own span.
        const QRect line(inner.left(), rop.bottom() + pad / 2, inner.width(), inner.bottom() - rop.bottom() - pad / 2);
        if (line.height() > 4 && face.spark.size() > 1) {
            const qint64 end = face.spark.back().timeMs + board::SparkBucketMs;
            const qint64 start = end - board::SparkSpanMs;
            // The dotted line is the unit's own very high level.
            const double veryHighAbove = face.veryHighAbove;
            double high = std::max(2000.0, veryHighAbove * 8 / 7);
            for (const board::SparkPoint &p : face.spark)
                high = std::max(high, p.gas);
            const auto place = [&line, start, high](const board::SparkPoint &p) {
                return QPointF(line.left() + line.width() * double(p.timeMs - start) / board::SparkSpanMs,
                               line.bottom() - line.height() * std::clamp(p.gas / high, 0.0, 1.0));
            };
            const QPen pen(QColor(230, 230, 230), std::max(1.5, h / 90.0));
            // The line up to the latest half minute is kept as drawn, and
            // drawn again only once a half minute begins or the scale
            // moves; the latest half minute's peak rises with the readings
            // and its part is drawn each time. A line wider than a pixel
            // is costly to draw, and 200 of them each second were most of
            // the board's drawing.
            Line &kept = m.lines[face.unit];
            const std::size_t before = face.spark.size() - 1;
            if (kept.picture.isNull() || kept.endMs != end || kept.high != high
                || kept.veryHighAbove != veryHighAbove || kept.points.size() != before
                || !std::equal(kept.points.begin(), kept.points.end(), face.spark.begin())) {
                kept.points.assign(face.spark.begin(), face.spark.begin() + std::ptrdiff_t(before));
                kept.endMs = end;
                kept.high = high;
                kept.veryHighAbove = veryHighAbove;
                const QRect room = line.adjusted(-LineMargin, -LineMargin, LineMargin, LineMargin);
                // Drawn on the one sheet of the tile size and copied off: a
                // picture painted on keeps its painter's engine, some 20 kB
                // of buffers, for as long as it lives.
                const qreal ratio = devicePixelRatioF();
                QImage &sheet = m.lineSheet;
                if (sheet.size() != room.size() * ratio) {
                    sheet = QImage(room.size() * ratio, QImage::Format_ARGB32_Premultiplied);
                    sheet.setDevicePixelRatio(ratio);
                }
                sheet.fill(Qt::transparent);
                QPainter on(&sheet);
                on.setRenderHint(QPainter::Antialiasing);
                on.translate(-room.topLeft());
                on.setPen(QPen(QColor(140, 140, 140), 1, Qt::DotLine));
                const double veryHigh = line.bottom() - line.height() * veryHighAbove / high;
                on.drawLine(QPointF(line.left(), veryHigh), QPointF(line.right(), veryHigh));
                if (kept.points.size() > 1) {
                    QPolygonF points;
                    points.reserve(qsizetype(kept.points.size()));
                    for (const board::SparkPoint &p : kept.points)
                        points << place(p);
                    on.setPen(pen);
                    on.setBrush(Qt::NoBrush);
                    on.drawPolyline(points);
                }
                on.end();
                kept.picture = QPixmap::fromImage(sheet.copy());
            }
            // Kept in the tile's place: its box moves with the tile.
            painter.drawPixmap(line.topLeft() - QPoint(LineMargin, LineMargin), kept.picture);
            painter.setPen(pen);
            painter.drawLine(place(face.spark[before - 1]), place(face.spark[before]));
        }
        painter.restore();
    }

    std::vector<TileFace> m_faces;
    QString m_current;
    int m_columns = 1;
    QSize m_tile{200, 125};
    QSize m_viewport{800, 600};
    mutable std::unique_ptr<Metrics> m_metrics;
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
    std::vector<TileFace> shown;
    int noData = 0, stale = 0;
    for (const std::size_t i : board::boardOrder(tiles, now, m_options.staleSeconds, m_options.acknowledged)) {
        if (!filter.isEmpty() && !tiles[i].unit.contains(filter, Qt::CaseInsensitive))
            continue;
        shown.push_back(TileGrid::faceOf(tiles[i], board::judge(tiles[i], now, m_options.staleSeconds)));
        noData += shown.back().noData ? 1 : 0;
        stale += shown.back().stale ? 1 : 0;
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
    for (const TileFace &face : m_grid->shown())
        units << face.unit;
    return units;
}

QRect FleetBoard::tileRect(const QString &unit) const
{
    const QStringList units = shownUnits();
    const int at = units.indexOf(unit);
    return at < 0 ? QRect() : m_grid->tileRect(at);
}

int FleetBoard::keptLines() const
{
    return m_grid->keptLines();
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
