#pragma once
// Merge fields: the names a bulk message may carry as "<%" & name & ">", the field each stands
// for, and the value each takes for one MasterList row. Also the tag helpers of profile presets.
#include <QString>
#include <QVariant>

namespace db {
class Recordset;
}
namespace ui {
class XArrayDB;
}

// Fills the merge-field list, rows 1..n, columns 0 (name), 1 (FieldID), 2 (FieldType): the custom
// combo, check and hot-check fields with a caption (in upper case), the seventeen standard tokens,
// then the six computed names. At most 59 rows; 23 when Config has no row. Throws db::DbError
// when Config cannot be read (the list is then left as it was).
void LoadMergeFieldList(ui::XArrayDB& list);

// The text that replaces one merge tag for the current row of rs (a MasterList row with all
// columns). The computed names ignore case; any other name is the field (FieldType, FieldID).
// Throws db::DbError for a field without a column or a recordset without a current row.
QString GetMergeFieldValue(const QString& name, int FieldType, int FieldID, const db::Recordset& rs);

// -1 when s starts with "<%", else 0.
int IsTagToken(const QString& s);

// The text of body between the tag (trimmed) and its closing tag ("<%NAME>" closes with
// "<%/NAME>"), letter case ignored, untrimmed; empty when either is missing or the closing tag
// stands before the end of the opening one.
QVariant GetTaggedText(const QString& tag, const QString& body);

template <class Item>
    requires requires(Item& item) { QString(item.Body()); }
QVariant GetTaggedText(const QString& tag, Item& item)
{
    return GetTaggedText(tag, QString(item.Body()));
}
