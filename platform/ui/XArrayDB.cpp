#include "platform/ui/XArrayDB.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

namespace ui {

namespace {
int extent(int lb, int ub) { return ub < lb ? 0 : ub - lb + 1; }

[[noreturn]] void outOfRange(const char* what, int index)
{
    throw std::out_of_range(std::string("Subscript out of range: ") + what + " " + std::to_string(index));
}
} // namespace

void XArrayDB::ReDim(int lb1, int ub1, int lb2, int ub2)
{
    const int rows = extent(lb1, ub1);
    const int cols = extent(lb2, ub2);
    std::vector<QVariant> cells(size_t(rows) * size_t(cols));
    std::vector<uint32_t> slots(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r)
        slots[size_t(r)] = uint32_t(r);
    m_cells.swap(cells);
    m_rowSlot.swap(slots);
    m_freeSlots.clear();
    m_lb1 = lb1;
    m_lb2 = lb2;
    m_cols = cols;
}

void XArrayDB::ReDimPreserve(int lb1, int ub1, int lb2, int ub2)
{
    const int rows = extent(lb1, ub1);
    const int cols = extent(lb2, ub2);
    if (lb2 == m_lb2 && cols == m_cols) {
        // Only the rows change: surviving rows keep their slots, the others are freed.
        constexpr uint32_t kNone = UINT32_MAX;
        std::vector<uint32_t> slots(size_t(rows), kNone);
        std::vector<char> kept(m_rowSlot.size(), 0);
        for (int r = 0; r < rows; ++r) {
            const int row = lb1 + r;
            if (ContainsRow(row)) {
                slots[size_t(r)] = m_rowSlot[size_t(row - m_lb1)];
                kept[size_t(row - m_lb1)] = 1;
            }
        }
        for (size_t i = 0; i < m_rowSlot.size(); ++i) {
            if (kept[i])
                continue;
            std::fill_n(m_cells.begin() + ptrdiff_t(m_rowSlot[i]) * m_cols, m_cols, QVariant());
            m_freeSlots.push_back(m_rowSlot[i]);
        }
        m_rowSlot.swap(slots);
        m_lb1 = lb1;
        for (uint32_t& s : m_rowSlot) {
            if (s == kNone)
                s = takeSlot();
        }
        return;
    }
    // The columns change: copy the surviving cells into a new block.
    std::vector<QVariant> cells(size_t(rows) * size_t(cols));
    for (int r = 0; r < rows; ++r) {
        const int row = lb1 + r;
        if (!ContainsRow(row))
            continue;
        for (int c = 0; c < cols; ++c) {
            const int col = lb2 + c;
            if (ContainsCol(col))
                cells[size_t(r) * size_t(cols) + size_t(c)] = std::move(*cell(row, col));
        }
    }
    std::vector<uint32_t> slots(static_cast<size_t>(rows));
    for (int r = 0; r < rows; ++r)
        slots[size_t(r)] = uint32_t(r);
    m_cells.swap(cells);
    m_rowSlot.swap(slots);
    m_freeSlots.clear();
    m_lb1 = lb1;
    m_lb2 = lb2;
    m_cols = cols;
}

uint32_t XArrayDB::takeSlot()
{
    if (!m_freeSlots.empty()) {
        const uint32_t s = m_freeSlots.back();
        m_freeSlots.pop_back();
        return s;
    }
    const uint32_t s = uint32_t(m_cells.size() / size_t(std::max(m_cols, 1)));
    m_cells.resize(m_cells.size() + size_t(m_cols));
    return s;
}

int XArrayDB::LowerBound(int dim) const
{
    if (dim == 1)
        return m_lb1;
    if (dim == 2)
        return m_lb2;
    outOfRange("dimension", dim);
}

int XArrayDB::UpperBound(int dim) const
{
    if (dim == 1)
        return m_lb1 + rowCount() - 1;
    if (dim == 2)
        return m_lb2 + m_cols - 1;
    outOfRange("dimension", dim);
}

int XArrayDB::Count(int dim) const
{
    if (dim == 1)
        return rowCount();
    if (dim == 2)
        return m_cols;
    outOfRange("dimension", dim);
}

void XArrayDB::checkRow(int row) const
{
    if (!ContainsRow(row))
        outOfRange("row", row);
}

const QVariant* XArrayDB::cell(int row, int col) const
{
    checkRow(row);
    if (!ContainsCol(col))
        outOfRange("column", col);
    return &m_cells[size_t(m_rowSlot[size_t(row - m_lb1)]) * size_t(m_cols) + size_t(col - m_lb2)];
}

QVariant* XArrayDB::cell(int row, int col) { return const_cast<QVariant*>(std::as_const(*this).cell(row, col)); }

QVariant XArrayDB::Value(int row, int col) const { return *cell(row, col); }

void XArrayDB::SetValue(int row, int col, const QVariant& value) { *cell(row, col) = value; }

QVariant& XArrayDB::operator()(int row, int col) { return *cell(row, col); }

void XArrayDB::DeleteRows(int row, int count)
{
    if (count < 0)
        outOfRange("count", count);
    if (count == 0)
        return;
    checkRow(row);
    checkRow(row + count - 1);
    const auto first = m_rowSlot.begin() + (row - m_lb1);
    for (auto it = first; it != first + count; ++it) {
        std::fill_n(m_cells.begin() + ptrdiff_t(*it) * m_cols, m_cols, QVariant());
        m_freeSlots.push_back(*it);
    }
    m_rowSlot.erase(first, first + count);
}

void XArrayDB::InsertRows(int row, int count)
{
    if (count < 0)
        outOfRange("count", count);
    if (row < m_lb1 || row > m_lb1 + rowCount())
        outOfRange("row", row);
    if (count == 0)
        return;
    std::vector<uint32_t> fresh(static_cast<size_t>(count));
    for (uint32_t& s : fresh)
        s = takeSlot();
    m_rowSlot.insert(m_rowSlot.begin() + (row - m_lb1), fresh.begin(), fresh.end());
}

} // namespace ui
