// The message grid's commands and the File menu.
#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/OutlookLookups.h"
#include "mainwindow/Form1.h"
#include "platform/mail/Application.h"
#include "platform/mail/MailItem.h"
#include "profiles/AddressImport.h"

QString Form1::MessageCorrespondent(int row)
{
    if (row < 1 || !xa->ContainsRow(row)) throw mail::MailError(QStringLiteral("No such row."));
    const mail::MailItemPtr mi = mail::AsMailItem(RequireNameSpace()->GetItemFromID(xa->Value(row, 8).toString()));
    if (!mi) throw mail::MailError(QStringLiteral("Not a message."));
    const QString address = GetMessageAddress(mi);
    // A sender known by name only has no address to store or look up.
    return AddressImport::LooksLikeAddress(address) ? address : QString();
}
