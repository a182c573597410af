#pragma once
// Rules for values every writer of MasterList applies the same way: the sort name, and how a
// combo custom field's value is stored so the list rules can compare it.
#include <QString>
#include <optional>

// The sort name of an address from its names and company, each trimmed first:
// "Last, First, Middle" (the parts present, Last required), or the company when First, Last and
// Middle are all empty. Empty when Last is empty but First or Middle is not.
QString SortNameOf(const QString& First, const QString& Last, const QString& Middle, const QString& Company);

// A text that reads as a date, a time or both, as ISO text ("yyyy-MM-dd", "HH:mm:ss",
// "yyyy-MM-dd HH:mm:ss"); nothing otherwise. Read in this order: ISO, the user's locale short
// forms, then the fixed forms ReadDateTime knows. A two-digit year means 1930-2029.
std::optional<QString> ReadIsoDateTime(const QString& text);
// A text that reads wholly as a number (the user's locale first, then the C locale), written
// as a C-locale number: whole numbers without a point, others with up to 15 significant digits.
std::optional<QString> ReadNumberText(const QString& text);

// The text stored for a combo field of the given type (0 Text, 1 Numeric, 2 Date/Time): a
// Date/Time value that reads as one becomes ISO text, a Numeric value that reads as a number
// becomes a C-locale number; anything else, and every Text value, is stored as given.
QString StoredComboValue(int comboFieldType, const QString& text);
// The same for combo field FieldID (0-14) by its type in ComboFieldType; a field whose type is
// not loaded counts as Text.
QString StoredComboFieldValue(int FieldID, const QString& text);
