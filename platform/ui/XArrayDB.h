#pragma once
// A two-dimensional array of QVariant with its own lower and upper bound per dimension: the row
// array behind every grid. Dimension 1 is the rows, dimension 2 the columns.
//
// Rows are kept as slots of one cell block with a table of row -> slot, so deleting or inserting
// rows moves only slot numbers, never cells. An empty array has an upper bound below its lower
// (0..-1). An index outside the bounds throws std::out_of_range, as the windows expect a run-time
// error there.
#include <QVariant>

#include <cstdint>
#include <vector>

namespace ui {

class XArrayDB {
public:
    XArrayDB() = default;

    // New bounds, every cell empty. An upper bound below its lower bound gives no rows (columns).
    void ReDim(int lb1, int ub1, int lb2, int ub2);
    // New bounds keeping every cell whose row and column exist before and after; grows and shrinks.
    void ReDimPreserve(int lb1, int ub1, int lb2, int ub2);

    // dim 1: rows, dim 2: columns; any other dim throws std::out_of_range.
    int LowerBound(int dim) const;
    int UpperBound(int dim) const;
    // Number of rows (1) or columns (2).
    int Count(int dim) const;

    QVariant Value(int row, int col) const;
    void SetValue(int row, int col, const QVariant& value);
    QVariant operator()(int row, int col) const { return Value(row, col); }
    // Writable cell; the reference is good until the array is re-dimensioned or rows move.
    QVariant& operator()(int row, int col);

    // Removes count rows from row on; the rows below move up and the upper bound drops by count.
    void DeleteRows(int row, int count = 1);
    // Inserts count empty rows before row (row = UpperBound(1) + 1 appends); rows from row on move down.
    void InsertRows(int row, int count = 1);

    bool ContainsRow(int row) const { return row >= m_lb1 && row - m_lb1 < rowCount(); }
    bool ContainsCol(int col) const { return col >= m_lb2 && col - m_lb2 < m_cols; }

private:
    int rowCount() const { return int(m_rowSlot.size()); }
    int colCount() const { return m_cols; }
    QVariant* cell(int row, int col);
    const QVariant* cell(int row, int col) const;
    void checkRow(int row) const;
    uint32_t takeSlot();

    int m_lb1 = 0;
    int m_lb2 = 0;
    int m_cols = 0;
    // m_cells holds m_cols cells per slot; m_rowSlot[r] is the slot of row m_lb1 + r.
    std::vector<QVariant> m_cells;
    std::vector<uint32_t> m_rowSlot;
    std::vector<uint32_t> m_freeSlots;
};

} // namespace ui
