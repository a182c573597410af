#pragma once
// Shared names of the mail host: handle types, the numbers callers pass and read, and the one
// error every refusal or failure is reported with.
//
// Ownership: every object is handed out as a std::shared_ptr. A handle stays valid for as long
// as the caller holds it, also after the Application or NameSpace it came from is released; a
// handle whose folder or message was removed or moved away on disk reports MailError when it
// has to touch the disk again.
//
// Errors: anything the caller must handle (an unknown EntryID, a refused folder move or rename,
// a file that cannot be written) throws mail::MailError, whose what() is a sentence fit to show.
#include <QString>
#include <memory>
#include <stdexcept>

namespace mail {

class Application;
class NameSpace;
class MAPIFolder;
class Folders;
class Items;
class Item;
class MailItem;
class ContactItem;
class Recipient;
class Recipients;
class Attachment;
class Attachments;
class Inspector;

using ApplicationPtr = std::shared_ptr<Application>;
using NameSpacePtr = std::shared_ptr<NameSpace>;
using FolderPtr = std::shared_ptr<MAPIFolder>;
using FoldersPtr = std::shared_ptr<Folders>;
using ItemsPtr = std::shared_ptr<Items>;
using ItemPtr = std::shared_ptr<Item>;
using MailItemPtr = std::shared_ptr<MailItem>;
using ContactItemPtr = std::shared_ptr<ContactItem>;
using RecipientPtr = std::shared_ptr<Recipient>;
using AttachmentPtr = std::shared_ptr<Attachment>;
using InspectorPtr = std::shared_ptr<Inspector>;
class Explorer;
using ExplorerPtr = std::shared_ptr<Explorer>;

class MailError : public std::runtime_error {
public:
    explicit MailError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// The Outbox's queue keeps the message where it is (it is being sent; the queue's record cannot
// be opened or written): the text is the reason, to be told as it stands.
class QueueRefusal : public MailError {
public:
    using MailError::MailError;
};

enum OlDefaultFolders {
    olFolderDeletedItems = 3,
    olFolderOutbox = 4,
    olFolderSentMail = 5,
    olFolderInbox = 6,
    olFolderContacts = 10,
    olFolderDrafts = 16,
};

enum OlItemType { olMailItem = 0, olContactItem = 2 };

enum OlObjectClass {
    olContact = 40,
    olMail = 43,
    olReport = 46,
    olMeetingRequest = 53,
    olDistributionList = 69,
};

enum OlMailRecipientType { olOriginator = 0, olTo = 1, olCC = 2, olBCC = 3 };
enum OlAttachmentType { olByValue = 1 };
enum OlEditorType { olEditorText = 1, olEditorHTML = 2 };
enum OlImportance { olImportanceLow = 0, olImportanceNormal = 1, olImportanceHigh = 2 };
enum OlSensitivity { olNormal = 0, olPersonal = 1, olPrivate = 2, olConfidential = 3 };
enum OlInspectorClose { olSave = 0, olDiscard = 1, olPromptForSave = 2 };

} // namespace mail
