#pragma once
// A list folder's rules (rows of MailFolderProperties) turned into the WHERE clause of a query
// over MasterList.
#include <QString>

// " = ", " > ", " >= ", " < ", " <= " or " LIKE " for "Equal To", "Greater Than",
// "Greater Than Equal To", "Less Than", "Less Than Equal To", "LIKE" (any case); else empty.
QString GetSQLOperator(const QString& word);
// Check fields (types 2 and 3): "-1" for "CHECKED" in any case, "0" for anything else. Any
// other field: the value unchanged.
QString FormatCriteriaValue(const QString& value, int FieldType, int FieldID);

// " WHERE " followed by one term per rule in Sequence order, each
//   " " & column & " " & operator & " " & quote & value & quote & " " & Conjunction,
// or the empty string when the folder has no rules. Text values have their quotes doubled and
// LIKE patterns take * and ? as well as % and _. Numeric combo fields compare as numbers and
// date/time combo fields as dates (ISO text). A rule that cannot be compared soundly (unknown
// field, condition or conjunction; a value that is not a number or date where one is needed)
// makes the whole clause one the database refuses, so the caller's query fails through its usual
// failure path and nothing is selected. Throws db::DbError when the rules cannot be read.
QString BuildFolderWhere(long FolderRecID);
