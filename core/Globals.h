#pragma once
// Program-wide objects, created by start-up and alive until the main window unloads.
#include <QString>
#include <QVariantList>
#include <memory>

#include "platform/mail/MailTypes.h"

namespace db {
class Connection;
}
class OLAPP;

// The one database connection every SQLStatement uses.
db::Connection& DBConnection();

// The configured type of each combo custom field 0 to 14 (0 text, 1 numeric, 2 date/time),
// filled by LoadComboFieldTypes; empty until it has run.
extern QVariantList ComboFieldType;

// The mail host: the wrapper, its application and the "MAPI" namespace.
extern std::shared_ptr<OLAPP> OLAPPObject;
extern mail::ApplicationPtr OutlookApp;
extern mail::NameSpacePtr MAPINameSpace;

// Tree nodes are held by key and looked up again when used, so a rebuilt tree never leaves a
// dangling node; an empty key is a node that is not set.
extern QString CurrentFolderNode;
extern QString SentItemsNode;
extern QString OutboxNode;
extern QString DraftsNode;
extern QString SentItemsEntryID;
extern QString OutboxEntryID;
extern QString DraftsEntryID;

// Mail-account names from index 1 (index 0 stays empty), at most 100.
extern QVariantList MailAccounts;
extern int MailAccountCount;
