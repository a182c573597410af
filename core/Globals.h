#pragma once
// Program-wide objects, created by start-up and alive until the main window unloads.
#include <QVariantList>

namespace db {
class Connection;
}

// The one database connection every SQLStatement uses.
db::Connection& DBConnection();

// The configured type of each combo custom field 0 to 14 (0 text, 1 numeric, 2 date/time),
// filled by LoadComboFieldTypes; empty until it has run.
extern QVariantList ComboFieldType;
