#pragma once
// The mail host's entry points: Application, and its "MAPI" NameSpace, over the stores in the
// data folder (see MAPIFolder.h, MailItem.h, ContactItem.h).
//
//   auto app = std::make_shared<mail::Application>();
//   auto ns = app->GetNamespace("MAPI");
//   auto inbox = ns->GetDefaultFolder(mail::olFolderInbox);
//   auto items = inbox->Items();            // a snapshot
//   auto mi = mail::AsMailItem(items->Item(1));
//
// Making an Application installs the mail host's windows, printing and the current user into
// Hooks() (see MailItem.h). The stores are read when the Application is made: the default store "Personal Folders" (Mail/
// in the data folder, created on first use) and the stores listed in stores.ini:
//   [Archive]
//   Path=/home/me/Mail/archive        (relative paths are taken from the data folder)
#include <QString>

#include <functional>

#include "platform/mail/MailTypes.h"

namespace mail {

namespace detail {
class Session;
}
namespace send {
class Spooler;
}

class NameSpace {
public:
    explicit NameSpace(std::shared_ptr<detail::Session> session);
    // 3 Deleted Items, 4 Outbox, 5 Sent Items, 6 Inbox, 10 Contacts, 16 Drafts of the default store.
    FolderPtr GetDefaultFolder(int folderType);
    // MailError when no folder or item has that id (letter case does not matter).
    FolderPtr GetFolderFromID(const QString& entryId);
    ItemPtr GetItemFromID(const QString& entryId);
    // The stores' root folders: the default store first, then stores.ini's in its order.
    FoldersPtr Folders();
    // The user's name (Name()) and address, as the accounts give it, else the login user's full name.
    RecipientPtr CurrentUser();

private:
    std::shared_ptr<detail::Session> session_;
};

class Application {
public:
    Application();
    ~Application();
    // Only "MAPI" (MailError otherwise).
    NameSpacePtr GetNamespace(const QString& type);
    NameSpacePtr Session() { return ns_; }
    // 0: a new unsaved message. Other item types: MailError.
    MailItemPtr CreateItem(int itemType);
    // Stops the background sending (also done when the Application is destroyed); what has not
    // gone yet waits in the Outbox for the next start.
    void Quit();
    // Before quitting. From here on no transfer starts; while a delivery run still goes, asks
    // whether to wait for it (then waits, the event loop running without user input, and tells
    // `waiting` what to show meanwhile), break it off, or stay. False: the user chose to stay,
    // and sending goes on as before.
    bool MayQuit(const std::function<void(const QString&)>& waiting = {});
    // The session's spooler (started on first use); nullptr after Quit.
    send::Spooler* spooler();

private:
    std::shared_ptr<detail::Session> session_;
    NameSpacePtr ns_;
};

} // namespace mail
