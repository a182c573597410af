#pragma once
// The one address a message stands for, and the special-folder tests behind it.
#include <QString>

#include "platform/mail/MailTypes.h"

// The first recipient of a message the user wrote (Outbox, Drafts, Sent Items); for one the
// user received, the address a reply would go to, else the sender's name. Empty on any failure.
QString GetMessageAddress(const mail::MailItemPtr& item);
// Whether the folder is the one whose node is kept for it. A node that is not set means
// "not that folder".
bool IsSentItemsFolder(const mail::FolderPtr& folder);
bool IsOutboxFolder(const mail::FolderPtr& folder);
bool IsDraftsFolder(const mail::FolderPtr& folder);
