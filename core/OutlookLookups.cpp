#include "core/OutlookLookups.h"

#include <exception>

#include "core/Globals.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"

namespace {
bool sameFolder(const QString& nodeKey, const mail::FolderPtr& folder)
{
    if (!folder) throw mail::MailError(QStringLiteral("No folder."));
    return !nodeKey.isEmpty() && nodeKey.compare(folder->EntryID(), Qt::CaseInsensitive) == 0;
}
} // namespace

bool IsSentItemsFolder(const mail::FolderPtr& folder) { return sameFolder(SentItemsNode, folder); }
bool IsOutboxFolder(const mail::FolderPtr& folder) { return sameFolder(OutboxNode, folder); }
bool IsDraftsFolder(const mail::FolderPtr& folder) { return sameFolder(DraftsNode, folder); }

QString GetMessageAddress(const mail::MailItemPtr& item)
{
    try {
        if (!item) return QString();
        const mail::FolderPtr folder = item->Parent();
        const bool outbox = IsOutboxFolder(folder);
        const bool drafts = IsDraftsFolder(folder);
        const bool sent = IsSentItemsFolder(folder);
        if (outbox || drafts || sent) {
            if (item->Recipients().Count() >= 1) return item->Recipients().Item(1)->Address().trimmed();
            return QString();
        }
        const mail::MailItemPtr reply = item->Reply();
        if (reply && reply->Recipients().Count() >= 1)
            return reply->Recipients().Item(1)->AddressEntry().Address().trimmed();
        return item->SenderName().trimmed();
    } catch (const std::exception&) {
        return QString();
    }
}
