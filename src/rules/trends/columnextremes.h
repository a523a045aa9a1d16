#pragma once

#include <cstdint>
#include <cstddef>
#include <limits>
#include <map>
#include <vector>

#include <QPointF>

namespace trends {

// A line broken where the data is: each part is drawn on its own.
using Polyline = std::vector<std::vector<QPointF>>;

// Min-max decimation. Points go into columns of one width along x (a pixel
// column of a chart: a stretch of time, or of depth), and each column keeps
// only its lowest and highest point, the span of x it saw and its last
// point along x. Drawn through the lowest and highest point of every column, in
// their order along x, a line has the same envelope as one through every
// point (no peak is lost), with at most two points per column however many
// went in: 24 hours of readings cost the chart no more than 10 minutes.
//
// Points may come in any order (a depth moves up and down). A point whose y
// is not a finite number is no point. When a limit is set, the width
// doubles (pairs of columns merge) whenever there are more columns than
// that.
class ColumnExtremes
{
public:
    struct Column
    {
        QPointF low;
        QPointF high;
        QPointF last;  // the point of the largest x (of equals, the one added last)
        double minX = 0.0;
        double maxX = 0.0;
    };

    explicit ColumnExtremes(double width = 1.0, std::size_t limit = 0);
    ColumnExtremes(const ColumnExtremes &) = delete;
    ColumnExtremes &operator=(const ColumnExtremes &) = delete;

    // Forgets every point and starts again with columns of this width.
    void reset(double width, std::size_t limit = 0);
    void add(double x, double y);
    // Forgets the columns that lie wholly before x.
    void dropBefore(double x);

    double width() const { return m_width; }
    std::size_t columnCount() const { return m_columns.size(); }
    bool empty() const { return m_columns.empty(); }
    // The smallest and largest x seen; both NaN when empty.
    double minX() const;
    double maxX() const;

    // The line to draw between fromX and toX: the lowest and highest point
    // of every column there, and of the next column on either side so that
    // the line runs on to the edges. The line breaks where x jumps by more
    // than maxGap from one point to the next (a link that was down).
    Polyline line(double fromX, double toX, double maxGap = std::numeric_limits<double>::infinity()) const;

    // The column holding x, or the nearest one within reach columns of it;
    // nullptr when none is.
    const Column *columnNear(double x, int reach = 0) const;

private:
    std::int64_t key(double x) const;
    void coarsen();

    double m_width = 1.0;
    std::size_t m_limit = 0;
    std::map<std::int64_t, Column> m_columns;
    // The column of the last point: readings come in runs of one column.
    std::map<std::int64_t, Column>::iterator m_hot = m_columns.end();
};

} // namespace trends
