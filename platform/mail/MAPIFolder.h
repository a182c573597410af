#pragma once
// Folders of the mail host. A MAPIFolder is a handle on one folder directory; several handles
// on the same folder see each other's renames and moves. Folders and Items are snapshots taken
// when fetched: indexing them (1-based) never rescans the disk.
#include <QList>
#include <QString>

#include "platform/mail/MailTypes.h"

namespace mail {

namespace detail {
class Session;
struct FolderNode;
using NodePtr = std::shared_ptr<FolderNode>;
} // namespace detail

class MAPIFolder {
public:
    MAPIFolder(std::shared_ptr<detail::Session> session, detail::NodePtr node);

    // The name as typed (a store's root: the store's name).
    QString Name() const;
    // Renames. Refused (MailError) for default folders, a store's root, a blank name and a name
    // a sibling has already (letter case ignored).
    void SetName(const QString& name);
    // Upper-case hex; kept through renames and moves.
    QString EntryID() const;
    // nullptr for a store's root.
    FolderPtr Parent() const;
    // 0 mail, 2 contacts.
    int DefaultItemType() const;
    FoldersPtr Folders() const;
    ItemsPtr Items() const;
    // A copy of the folder and everything in it under dest, with new ids; returns the copy.
    // Refused into the folder itself or a folder below it, or when dest has a folder of that name.
    FolderPtr CopyTo(const FolderPtr& dest);
    // Moves the folder under dest, keeping its ids. Refused as CopyTo, and for default folders
    // and stores' roots. Moving it into the folder it is in does nothing.
    void MoveTo(const FolderPtr& dest);

    // Files a complete RFC 5322 message into this mail folder as it is (written to tmp/,
    // renamed into place) and returns it. flags are Maildir flags ("S" seen).
    MailItemPtr AddMessageFile(const QByteArray& message, const QString& flags = QStringLiteral("S"));
    // The folder's directory.
    QString Path() const;
    // An explorer on this folder (not shown); its send/receive command checks mail.
    ExplorerPtr GetExplorer();

    const detail::NodePtr& node() const { return node_; }
    bool operator==(const MAPIFolder& other) const { return node_ == other.node_; }

private:
    std::shared_ptr<detail::Session> session_;
    detail::NodePtr node_;
};

class Folders {
public:
    int Count() const { return int(list_.size()); }
    FolderPtr Item(int index) const;  // MailError when out of range
    // A sub-folder of the same kind as the parent. Refused for a blank name or one that a
    // sibling has already. Not possible on the list of stores.
    FolderPtr Add(const QString& name);
    // Removes folder index with everything in it. Refused for default folders and stores.
    void Remove(int index);

private:
    friend class MAPIFolder;
    friend class NameSpace;
    std::shared_ptr<detail::Session> session_;
    detail::NodePtr parent_;  // nullptr: the list of stores
    QList<FolderPtr> list_;
};

class Items {
public:
    int Count() const { return int(list_.size()); }
    ItemPtr Item(int index) const;  // MailError when out of range
    // Removes item index from the folder for good (and from this list).
    void Remove(int index);
    // Files that were left out because they could not be read.
    int Skipped() const { return skipped_; }

private:
    friend class MAPIFolder;
    QList<ItemPtr> list_;
    int skipped_ = 0;
};

} // namespace mail
