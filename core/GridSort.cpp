#include "core/GridSort.h"

#include <QDateTime>
#include <algorithm>
#include <numeric>
#include <vector>

#include "core/Conversions.h"
#include "core/SQLStatement.h"
#include "platform/ui/XArrayDB.h"

namespace {

// One comparable key per cell, computed once so the sort is O(n log n) in comparisons of keys.
struct Key {
    QString text;
    double number = 0;
};

int sortTypeOf(const QVariant& t)
{
    if (!IsNumeric(t) || !t.isValid()) return -1;
    const double d = Val(t);
    return (d == 0 || d == 1 || d == 2) ? int(d) : -1;
}

Key keyOf(const QVariant& v, int type)
{
    Key k;
    if (type == SortText) {
        // A Null key reads as empty text.
        k.text = VariantText(v).toCaseFolded();
    } else if (type == SortNumber) {
        k.number = Val(v);
    } else {
        QDateTime dt;
        // A cell that is no date sorts before every date.
        k.number = ReadDateTime(v, &dt) ? double(dt.date().toJulianDay()) : -1e300;
    }
    return k;
}

int compareKeys(const Key& a, const Key& b, int type)
{
    if (type == SortText) return a.text.compare(b.text);
    return a.number < b.number ? -1 : (a.number > b.number ? 1 : 0);
}

void sortRows(ui::XArrayDB& xa, const QVariant& column, const QVariant& sortType, bool descending)
{
    const int type = sortTypeOf(sortType);
    const int n = xa.UpperBound(1);
    if (type < 0 || n < 2) return;
    const int first = std::max(1, xa.LowerBound(1));
    if (n - first < 1) return;
    const int col = int(Val(column));
    const int count = n - first + 1;
    std::vector<Key> keys(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) keys[size_t(i)] = keyOf(xa.Value(first + i, col), type);
    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const int c = compareKeys(keys[size_t(a)], keys[size_t(b)], type);
        return descending ? c > 0 : c < 0;
    });
    const int lb2 = xa.LowerBound(2), ub2 = xa.UpperBound(2);
    const int cols = ub2 - lb2 + 1;
    if (cols <= 0) return;
    std::vector<QVariant> rows(size_t(count) * size_t(cols));
    for (int i = 0; i < count; ++i)
        for (int c = 0; c < cols; ++c) rows[size_t(i) * size_t(cols) + size_t(c)] = xa.Value(first + i, lb2 + c);
    for (int i = 0; i < count; ++i) {
        const size_t src = size_t(order[size_t(i)]) * size_t(cols);
        for (int c = 0; c < cols; ++c) xa.SetValue(first + i, lb2 + c, std::move(rows[src + size_t(c)]));
    }
}

} // namespace

void SortArrayAscending(ui::XArrayDB& xa, const QVariant& column, const QVariant& sortType)
{
    sortRows(xa, column, sortType, false);
}

void SortArrayDescending(ui::XArrayDB& xa, const QVariant& column, const QVariant& sortType)
{
    sortRows(xa, column, sortType, true);
}

bool CompareGreater(const QVariant& a, const QVariant& b, const QVariant& sortType)
{
    const int type = sortTypeOf(sortType);
    return type >= 0 && compareKeys(keyOf(a, type), keyOf(b, type), type) > 0;
}

bool CompareLess(const QVariant& a, const QVariant& b, const QVariant& sortType)
{
    const int type = sortTypeOf(sortType);
    return type >= 0 && compareKeys(keyOf(a, type), keyOf(b, type), type) < 0;
}
