#include "core/GridSort.h"

#include <QCollator>
#include <QDateTime>
#include <QLocale>
#include <algorithm>
#include <numeric>
#include <vector>

#include "core/Conversions.h"
#include "core/SQLStatement.h"
#include "platform/ui/XArrayDB.h"

namespace {

int sortTypeOf(const QVariant& t)
{
    if (!IsNumeric(t) || !t.isValid()) return -1;
    const double d = Val(t);
    return (d == 0 || d == 1 || d == 2) ? int(d) : -1;
}

// Text is compared as the user's language orders it ("Émile" among the E's), ignoring case.
// The C locale has no order for letters beyond ASCII; it sorts by the language-neutral one.
QCollator textCollator()
{
    QLocale locale;
    if (locale.language() == QLocale::C) locale = QLocale(QLocale::English);
    QCollator c(locale);
    c.setCaseSensitivity(Qt::CaseInsensitive);
    return c;
}

double numberOf(const QVariant& v, int type)
{
    if (type == SortNumber) return Val(v);
    QDateTime dt;
    // A cell that is no date sorts before every date.
    return ReadDateTime(v, &dt) ? double(dt.date().toJulianDay()) : -1e300;
}

int compareNumbers(double a, double b) { return a < b ? -1 : (a > b ? 1 : 0); }

int compareCells(const QVariant& a, const QVariant& b, int type)
{
    if (type == SortText) return textCollator().compare(VariantText(a), VariantText(b));
    return compareNumbers(numberOf(a, type), numberOf(b, type));
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
    // One comparable key per cell, computed once, so the sort is O(n log n) in key comparisons.
    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    if (type == SortText) {
        // A Null key reads as empty text.
        const QCollator collator = textCollator();
        std::vector<QCollatorSortKey> keys;
        keys.reserve(size_t(count));
        for (int i = 0; i < count; ++i) keys.push_back(collator.sortKey(VariantText(xa.Value(first + i, col))));
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const int c = keys[size_t(a)].compare(keys[size_t(b)]);
            return descending ? c > 0 : c < 0;
        });
    } else {
        std::vector<double> keys(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) keys[size_t(i)] = numberOf(xa.Value(first + i, col), type);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const int c = compareNumbers(keys[size_t(a)], keys[size_t(b)]);
            return descending ? c > 0 : c < 0;
        });
    }
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
    return type >= 0 && compareCells(a, b, type) > 0;
}

bool CompareLess(const QVariant& a, const QVariant& b, const QVariant& sortType)
{
    const int type = sortTypeOf(sortType);
    return type >= 0 && compareCells(a, b, type) < 0;
}
