#include "rules/trends/columnextremes.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace trends {

namespace {

std::int64_t halfDown(std::int64_t key)
{
    return key >= 0 ? key / 2 : -((-key + 1) / 2);
}

void merge(ColumnExtremes::Column &into, const ColumnExtremes::Column &from)
{
    if (from.low.y() < into.low.y())
        into.low = from.low;
    if (from.high.y() > into.high.y())
        into.high = from.high;
    if (from.last.x() >= into.last.x())
        into.last = from.last;
    into.minX = std::min(into.minX, from.minX);
    into.maxX = std::max(into.maxX, from.maxX);
}

} // namespace

ColumnExtremes::ColumnExtremes(double width, std::size_t limit)
{
    reset(width, limit);
}

void ColumnExtremes::reset(double width, std::size_t limit)
{
    m_columns.clear();
    m_hot = m_columns.end();
    m_width = width > 0 && std::isfinite(width) ? width : 1.0;
    m_limit = limit;
}

std::int64_t ColumnExtremes::key(double x) const
{
    constexpr double Reach = 4.0e18;
    return static_cast<std::int64_t>(std::clamp(std::floor(x / m_width), -Reach, Reach));
}

void ColumnExtremes::add(double x, double y)
{
    if (!std::isfinite(x) || !std::isfinite(y))
        return;
    const QPointF point(x, y);
    const std::int64_t k = key(x);
    if (m_hot == m_columns.end() || m_hot->first != k) {
        auto found = m_columns.lower_bound(k);
        if (found == m_columns.end() || found->first != k) {
            Column fresh;
            fresh.low = fresh.high = fresh.last = point;
            fresh.minX = fresh.maxX = x;
            found = m_columns.emplace_hint(found, k, fresh);
        }
        m_hot = found;
    }
    Column &column = m_hot->second;
    if (y < column.low.y())
        column.low = point;
    if (y > column.high.y())
        column.high = point;
    if (x >= column.last.x())
        column.last = point;
    column.minX = std::min(column.minX, x);
    column.maxX = std::max(column.maxX, x);
    if (m_limit > 0 && m_columns.size() > m_limit)
        coarsen();
}

void ColumnExtremes::coarsen()
{
    while (m_columns.size() > m_limit) {
        std::map<std::int64_t, Column> merged;
        for (const auto &[k, column] : m_columns) {
            const auto [it, fresh] = merged.try_emplace(halfDown(k), column);
            if (!fresh)
                merge(it->second, column);
        }
        m_columns.swap(merged);
        m_width *= 2.0;
    }
    m_hot = m_columns.end();
}

void ColumnExtremes::dropBefore(double x)
{
    if (!std::isfinite(x))
        return;
    m_columns.erase(m_columns.begin(), m_columns.lower_bound(key(x)));
    m_hot = m_columns.end();
}

double ColumnExtremes::minX() const
{
    return m_columns.empty() ? std::nan("") : m_columns.begin()->second.minX;
}

double ColumnExtremes::maxX() const
{
    return m_columns.empty() ? std::nan("") : m_columns.rbegin()->second.maxX;
}

Polyline ColumnExtremes::line(double fromX, double toX, double maxGap) const
{
    Polyline parts;
    if (m_columns.empty() || !(fromX <= toX))
        return parts;
    auto first = m_columns.lower_bound(key(fromX));
    if (first != m_columns.begin())
        --first;
    auto last = m_columns.upper_bound(key(toX));
    if (last != m_columns.end())
        ++last;
    const Column *previous = nullptr;
    for (auto it = first; it != last; ++it) {
        const Column &column = it->second;
        if (!previous || column.minX - previous->maxX > maxGap)
            parts.emplace_back();
        std::vector<QPointF> &points = parts.back();
        const bool lowFirst = column.low.x() <= column.high.x();
        points.push_back(lowFirst ? column.low : column.high);
        if (column.low != column.high)
            points.push_back(lowFirst ? column.high : column.low);
        previous = &column;
    }
    return parts;
}

const ColumnExtremes::Column *ColumnExtremes::columnNear(double x, int reach) const
{
    if (m_columns.empty() || !std::isfinite(x))
        return nullptr;
    const std::int64_t k = key(x);
    auto after = m_columns.lower_bound(k);
    if (after != m_columns.end() && after->first == k)
        return &after->second;
    const Column *best = nullptr;
    std::int64_t distance = reach + 1;
    if (after != m_columns.end() && after->first - k < distance) {
        best = &after->second;
        distance = after->first - k;
    }
    if (after != m_columns.begin()) {
        const auto before = std::prev(after);
        if (k - before->first <= distance && k - before->first <= reach)
            best = &before->second;
    }
    return best;
}

} // namespace trends
