#pragma once
// The names of an address field: a field reference (FieldType, FieldID) turned into its
// MasterList column, caption, merge token, numeric test, quote and check-value text.
//   type 0: standard field, ids 1-17      type 1: combo custom field, ids 0-14
//   type 2: check custom field, ids 0-14  type 3: hot check, ids 0-5
#include <QList>
#include <QString>
#include <QStringList>
#include <initializer_list>
#include <QVariant>

// The MasterList column; the empty string for a reference without one.
QString GetFieldColumnName(int FieldType, int FieldID);
// Whether the reference names a MasterList column (GetFieldColumnName does not check the ids of
// custom fields).
bool HasFieldColumn(int FieldType, int FieldID);
// Standard fields: the column name. Custom fields: the caption in the Config row (empty when
// there is no row). Throws db::DbError when Config cannot be read.
QString GetFieldCaption(int FieldType, int FieldID);
// The merge token of standard field 1-17 ("$DISABLED" ... "$CELL", "WEBSITE" for 12).
QString GetFieldToken(int FieldID);
// Nonzero for a field compared as a number: Disabled, check fields, and combo fields whose
// configured type is numeric (1) or date/time (2; the type itself is returned). Throws
// std::out_of_range for a combo id outside ComboFieldType (not loaded, or not 0-14).
int IsNumericField(int FieldType, int FieldID);
// The quote a criteria value takes: empty for a numeric field, else one apostrophe.
QVariant GetFieldQuote(int FieldType, int FieldID);
// "CHECKED" for -1, "UNCHECKED" for anything else.
QString CheckedText(int value);
// A custom field in use: its caption (as stored, trailing blanks removed) and its reference.
struct FieldChoice {
    QString caption;
    int FieldType;
    int FieldID;
};
// The custom fields whose caption is not blank, the types in the order given (1 combo, 2 check,
// 3 hot check), each by id; none when Config has no row. Throws db::DbError when Config cannot
// be read.
QList<FieldChoice> CustomFieldsInUse(std::initializer_list<int> typeOrder);
// The value list of combo field FieldID, in value order. Throws db::DbError.
QStringList ComboFieldValues(int FieldID);
// Refills ComboFieldType (15 elements) from the Config row; zeros when there is no row.
// Throws db::DbError when Config cannot be read.
void LoadComboFieldTypes();
