#pragma once
// Sorting the row array behind a grid in place by one column, as text, number or date.
#include <QVariant>

namespace ui {
class XArrayDB;
}

enum SortType { SortText = 0, SortNumber = 1, SortDate = 2 };

// Rows 1 to the upper row bound are sorted; rows below 1 never move. Equal keys keep their
// order in both directions. A sort type other than 0, 1, 2 leaves the array as it is.
void SortArrayAscending(ui::XArrayDB& xa, const QVariant& column, const QVariant& sortType);
void SortArrayDescending(ui::XArrayDB& xa, const QVariant& column, const QVariant& sortType);

// True when a sorts after (before) b: text in the user's language ignoring case, numbers by Val,
// dates by calendar day.
bool CompareGreater(const QVariant& a, const QVariant& b, const QVariant& sortType);
bool CompareLess(const QVariant& a, const QVariant& b, const QVariant& sortType);
