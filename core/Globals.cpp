#include "core/Globals.h"

#include "platform/db/Connection.h"

db::Connection& DBConnection()
{
    // Never destroyed: it must outlive Qt's own registry of connections at exit.
    static db::Connection* connection = new db::Connection;
    return *connection;
}

QVariantList ComboFieldType;
