#pragma once
// The stores on disk: a tree of folder directories per store, each folder knowing its id and
// kind from a small hidden file inside it. Internal to the mail host; callers use MAPIFolder.
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "platform/mail/MailTypes.h"

namespace mail::send {
class OutboxQueue;
class Spooler;
}

namespace mail::detail {

enum class Kind { Mail, Contacts };

struct FolderNode {
    QString id;    // upper-case hex
    QString path;  // absolute directory
    Kind kind = Kind::Mail;
    bool isRoot = false;
    QString storeName;  // roots only
    bool removed = false;
    // Known files: unique name -> path relative to the folder ("cur/x:2,S", "new/x", "x.vcf").
    QHash<QString, QString> files;
    QStringList unindexed;  // listed, not yet in files (Session::filesOf puts them there)
    bool filesKnown = false;
};
using NodePtr = std::shared_ptr<FolderNode>;

// Runs work(0) ... work(count - 1) on up to threads() threads (here as well), in chunks taken in
// turn, and returns when all are done. work must not throw and must touch nothing shared.
void inParallel(qsizetype count, const std::function<void(qsizetype)>& work);
// The threads inParallel uses: the machine's cores, at most eight.
int threads();

// Tests only: when set, a listing calls it (on its worker threads) with a file's path just
// before reading it, so a test can take the file away mid-listing.
extern void (*beforeListingRead)(const QString& path);

// The name of the hidden file that holds a folder's id and kind.
inline constexpr const char* kFolderFile = ".ferrowyn-folder";
inline constexpr int kFolderIdLength = 32;

class Session {
public:
    // Opens the stores of the data folder: the default store under Mail/ (created with its
    // default folders when missing) and those listed in stores.ini.
    explicit Session(const QString& dataFolder);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    QString dataFolder() const { return dataFolder_; }
    // The one spooler of the session, started on first use; nullptr once the session has quit
    // (what is queued then waits in the Outbox for the next start).
    send::Spooler* spooler();
    // Ends the spooler's thread; a transfer in progress is broken off and its message stays queued.
    void quit();
    // The default Outbox's sending queue (read and settled on first use). Only Send puts a
    // message into the Outbox; a queued message cannot be moved, removed or rewritten while
    // its transfer is under way (MailError).
    std::shared_ptr<send::OutboxQueue> outboxQueue();
    bool isOutbox(const NodePtr& node);

    QList<NodePtr> stores() const { return stores_; }
    NodePtr defaultFolder(int which);
    bool isDefaultFolder(const NodePtr& node) const;
    NodePtr byId(const QString& id);  // throws MailError when unknown
    QList<NodePtr> children(const NodePtr& node);
    NodePtr parentOf(const NodePtr& node);
    QString displayName(const NodePtr& node) const;
    // True when node is candidate or lies below it.
    static bool isSelfOrBelow(const NodePtr& node, const NodePtr& candidate);

    NodePtr addFolder(const NodePtr& parent, const QString& name);
    void rename(const NodePtr& node, const QString& name);
    void move(const NodePtr& node, const NodePtr& dest);
    NodePtr copy(const NodePtr& node, const NodePtr& dest);
    void remove(const NodePtr& node);

    // Message and contact files of a folder.
    QStringList listFiles(const NodePtr& node);  // relative paths; refreshes the cache
    QString findFile(const NodePtr& node, const QString& unique);  // relative path, or empty
    // The known files of node by unique name (see FolderNode::files).
    static QHash<QString, QString>& filesOf(const NodePtr& node);
    static QString uniqueOf(const NodePtr& node, const QString& rel);
    static QStringView uniqueView(const NodePtr& node, const QString& rel);
    // Writes bytes as a new file of node (via tmp/, renamed into place); returns its relative path.
    QString writeNewFile(const NodePtr& node, const QByteArray& bytes, const QString& flags, const QString& subdir = QStringLiteral("cur"));
    // Replaces the content of an existing file, keeping its name.
    void replaceFile(const NodePtr& node, const QString& rel, const QByteArray& bytes);
    QString moveFile(const NodePtr& from, const QString& rel, const NodePtr& to);
    QString renameFile(const NodePtr& node, const QString& rel, const QString& newRel);
    void removeFile(const NodePtr& node, const QString& rel);
    static QString newUniqueName();

    static QString encodeName(const QString& name);
    static QString decodeName(const QString& dirName);

private:
    NodePtr registerDir(const QString& path, bool isRoot, const QString& storeName);
    void walk(const QString& dir);
    void rescan();
    QStringList subDirs(const QString& dir) const;
    void checkUsable(const NodePtr& node) const;
    void refuseSibling(const NodePtr& parent, const QString& name, const NodePtr& except);
    void repath(const QString& oldPath, const QString& newPath);
    void copyTree(const QString& from, const QString& to, bool newIds);
    void forgetTree(const QString& path);
    QString moveFileAs(const NodePtr& from, const QString& rel, const NodePtr& to);

    QString dataFolder_;
    std::unique_ptr<send::Spooler> spooler_;
    std::shared_ptr<send::OutboxQueue> outboxQueue_;
    bool quit_ = false;
    QList<NodePtr> stores_;
    QHash<QString, NodePtr> byId_;
    QHash<QString, NodePtr> byPath_;
};

} // namespace mail::detail
