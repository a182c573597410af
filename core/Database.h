#pragma once
// The database file: created with the whole schema when it does not exist.
#include <QString>

namespace db {
class Connection;
}

// dv.db in the data folder.
QString DatabasePath();
// Opens path on c, creating the file with every table when it is missing. Throws db::DbError
// when the file exists but cannot be opened or read.
void OpenDatabase(db::Connection& c, const QString& path);
// The statements that make an empty database, in order.
QStringList SchemaStatements();
