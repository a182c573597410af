#pragma once
// Program-wide objects, created by start-up and alive until the main window unloads.
namespace db {
class Connection;
}

// The one database connection every SQLStatement uses.
db::Connection& DBConnection();
