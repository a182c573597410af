#include "core/Globals.h"

#include "platform/db/Connection.h"

db::Connection& DBConnection()
{
    // Never destroyed: it must outlive Qt's own registry of connections at exit.
    static db::Connection* connection = new db::Connection;
    return *connection;
}

QVariantList ComboFieldType;

std::shared_ptr<OLAPP> OLAPPObject;
mail::ApplicationPtr OutlookApp;
mail::NameSpacePtr MAPINameSpace;

QString CurrentFolderNode;
QString SentItemsNode;
QString OutboxNode;
QString DraftsNode;
QString SentItemsEntryID;
QString OutboxEntryID;
QString DraftsEntryID;

QVariantList MailAccounts = QVariantList(101);
int MailAccountCount = 0;
