#pragma once
// Items of the mail host: a message (MailItem) with its recipients and attachments, and the
// Inspector that shows one. Member names follow the calls the windows make; indexes are 1-based.
//
// A MailItem read from a folder reads its header block when listed and its body and
// attachments when first asked for. A MailItem made by Reply, Forward or CreateItem is unsaved
// (EntryID empty, Parent null) until Save (to Drafts) or Move; MimeContent gives the message it
// stands for, and MAPIFolder::AddMessageFile files such a message anywhere.
//
// Display, PrintOut and the inspector's window belong to the windows of the mail host; they are
// reached through Hooks(), which the Application fills in when it is made. Unset, they throw
// MailError. Send queues the message in the Outbox and asks the session's spooler to deliver it.
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

#include "platform/mail/MailTypes.h"
#include "platform/mail/MimeUtil.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/OutboxQueue.h"

namespace mail {

namespace detail {
class Session;
struct FolderNode;
using NodePtr = std::shared_ptr<FolderNode>;
} // namespace detail

// Anything a folder holds. Class tells what it is: 43 a message, 46 a delivery report, 53 a
// meeting request, 40 a contact, 69 a contact group.
class Item : public std::enable_shared_from_this<Item> {
public:
    virtual ~Item();
    virtual int Class() = 0;
    // Upper-case hex; empty while the item is unsaved.
    virtual QString EntryID() const;
    // The folder holding the item; nullptr while unsaved.
    FolderPtr Parent() const;
    // Into the default Deleted Items folder; an item already there (and a contact) is removed for good.
    virtual void Delete();
    // Into dest; nothing happens when dest is the folder the item is in. A message cannot go into
    // a contact folder nor a contact into a mail folder (MailError).
    virtual void Move(const FolderPtr& dest);
    // The item's file; empty while unsaved.
    QString FilePath() const;

protected:
    Item(std::shared_ptr<detail::Session> session, detail::NodePtr node, QString rel);
    // The refusals Move and a copy into another folder share (MailError).
    void checkDestination(const FolderPtr& dest) const;
    virtual void writeInto(const detail::NodePtr& node);
    virtual bool isContact() const { return false; }
    bool isSaved() const { return node_ != nullptr; }
    QByteArray fileBytes() const;

    std::shared_ptr<detail::Session> session_;
    detail::NodePtr node_;
    QString rel_;  // path of the file inside the folder

    friend class Items;
    friend class NameSpace;
    friend class MAPIFolder;
};

class AddressEntry {
public:
    AddressEntry(QString name, QString address) : name_(std::move(name)), address_(std::move(address)) {}
    QString Name() const { return name_; }
    QString Address() const { return address_; }

private:
    QString name_, address_;
};

// The entries of an address line as a person types it, separated by ";" or "," (not inside
// quotes or angle brackets): each a name and an address, or, for an entry that is not an
// address, its text as the address, so that nothing typed is lost and Send can refuse it.
QList<AddressEntry> SplitAddressLine(const QString& text);

class Recipient {
public:
    Recipient(QString name, QString address, int type) : name_(std::move(name)), address_(std::move(address)), type_(type) {}
    // The display name, or the address when the message gives no name.
    QString Name() const { return name_.isEmpty() ? address_ : name_; }
    QString Address() const { return address_; }
    int Type() const { return type_; }
    void SetType(int type) { type_ = type; }
    mail::AddressEntry AddressEntry() const { return {Name(), address_}; }

private:
    QString name_, address_;
    int type_;
};

class Recipients {
public:
    int Count() const { return int(list_.size()); }
    RecipientPtr Item(int index) const;  // MailError when out of range
    // "Name <address>" or a bare address; anything else is kept as typed. Type is olTo.
    RecipientPtr Add(const QString& text);
    void Remove(int index);

private:
    friend class MailItem;
    explicit Recipients(MailItem* owner) : owner_(owner) {}
    MailItem* owner_;
    QList<RecipientPtr> list_;
};

class Attachment {
public:
    // A safe base name: no folders, no control characters, never hidden.
    QString FileName() const { return fileName_; }
    QString DisplayName() const { return fileName_; }
    int Type() const { return olByValue; }
    // Writes the attachment's content to path. MailError when it cannot.
    void SaveAsFile(const QString& path) const;
    // The content (read from the message when first asked for).
    QByteArray content() const;
    QString mimeType() const { return mimeType_; }

private:
    friend class Attachments;
    friend class MailItem;
    QString fileName_;
    QString mimeType_;
    mutable QByteArray content_;
    mutable bool loaded_ = false;
    std::weak_ptr<MailItem> owner_;
    int ordinal_ = -1;  // place in the stored message, while not loaded
};

class Attachments {
public:
    int Count() const { return int(list_.size()); }
    AttachmentPtr Item(int index) const;  // MailError when out of range
    // A copy of the file, taken now (type 1, by value). MailError when the file cannot be read.
    AttachmentPtr Add(const QString& source, int type = olByValue);
    // A copy of another item's attachment.
    AttachmentPtr Add(const AttachmentPtr& source);
    void Remove(int index);

private:
    friend class MailItem;
    explicit Attachments(MailItem* owner) : owner_(owner) {}
    MailItem* owner_;
    QList<AttachmentPtr> list_;
};

// The window a message is shown in. EditorType is 2 for a message with an HTML body, else 1.
class Inspector : public QObject {
    Q_OBJECT
public:
    explicit Inspector(const MailItemPtr& item);
    int EditorType() const;
    MailItemPtr CurrentItem() const { return item_.lock(); }
    void Display(bool modal = false);
    void Close(int saveMode);

Q_SIGNALS:
    // Raised by the window when it stops being the active window.
    void Deactivate();

private:
    std::weak_ptr<MailItem> item_;
};

// The mail host's windows plug in here (see the top of this file).
struct MailHostHooks {
    std::function<void(const MailItemPtr&, bool modal)> display;
    std::function<void(const MailItemPtr&)> printOut;
    std::function<void(Inspector&, int saveMode)> closeInspector;
    // The name and address of the user; default: the login user's full name.
    std::function<std::pair<QString, QString>()> currentUser;
    // A stored message written anew where it is (saved; sent again, or edited and sent, from the
    // Outbox; a new draft): its folder's EntryID, its EntryID now and before (another when a new
    // message took its place; empty for a new draft). For the windows that show it; told on the
    // thread that wrote it.
    std::function<void(const QString& folderId, const QString& itemId, const QString& formerId)> itemChanged;
    // Setup > Mail Accounts saved the accounts.
    std::function<void()> accountsSaved;
};
MailHostHooks& Hooks();

class MailItem : public Item {
public:
    // A new unsaved message.
    static MailItemPtr create(std::shared_ptr<detail::Session> session);
    // The message in a folder's file; nullptr when the file cannot be read.
    static MailItemPtr fromFile(std::shared_ptr<detail::Session> session, detail::NodePtr node, const QString& rel);
    // As fromFile, for a folder listing, reading the file once: a message whose headers cannot
    // tell its attachments (a multipart) also has its parts' kinds read, no content decoded, so
    // that Class and Attachments answer without parsing it. Touches nothing shared: safe on
    // several threads at once.
    static MailItemPtr listFile(std::shared_ptr<detail::Session> session, detail::NodePtr node, const QString& rel);
    ~MailItem() override;

    int Class() override;
    QString Subject() const { return subject_; }
    void SetSubject(const QString& s);
    QString Body();
    void SetBody(const QString& text);
    QString HTMLBody();
    void SetHTMLBody(const QString& html);
    // The display names of the recipients of each kind, separated by "; ".
    QString To() const { return joined(olTo); }
    QString CC() const { return joined(olCC); }
    QString BCC() const { return joined(olBCC); }
    void SetTo(const QString& text) { setKind(olTo, text); }
    void SetCC(const QString& text) { setKind(olCC, text); }
    void SetBCC(const QString& text) { setKind(olBCC, text); }
    QString SenderName() const { return from_.display(); }
    QString SenderEmailAddress() const { return from_.address; }
    // The name of the first To recipient (the person the message was delivered to).
    QString ReceivedByName() const;
    // Local time; invalid when the message has none (an unsaved item, SentOn of a file without a Date).
    QDateTime ReceivedTime() const { return receivedTime_.toLocalTime(); }
    QDateTime SentOn() const { return sentOn_.toLocalTime(); }
    int Importance() const { return importance_; }
    void SetImportance(int v);
    int Sensitivity() const { return sensitivity_; }
    void SetSensitivity(int v);
    bool ReadReceiptRequested() const { return readReceipt_; }
    void SetReadReceiptRequested(bool v);
    bool DeleteAfterSubmit() const { return deleteAfterSubmit_; }
    void SetDeleteAfterSubmit(bool v);
    // The account (its name in accounts.ini) to send through; empty: the default account.
    QString SendUsingAccount() const { return sendUsing_; }
    void SetSendUsingAccount(const QString& name);
    // Kept in the Maildir file name: changing it renames the file, the EntryID stays.
    bool UnRead() const;
    void SetUnRead(bool v);

    mail::Recipients& Recipients() { return recipients_; }
    mail::Recipients& ReplyRecipients() { return replyRecipients_; }
    mail::Attachments& Attachments();

    // Addressed to Reply-To, else From; unsaved.
    MailItemPtr Reply();
    // With the attachments; unsaved, no recipient.
    MailItemPtr Forward();
    // A copy in the same folder, with its own EntryID (an unsaved item gives an unsaved copy).
    MailItemPtr Copy();
    // A copy filed straight into dest, with the same flags; refused as Move is, and then nothing
    // is left anywhere.
    MailItemPtr Copy(const FolderPtr& dest);
    // An unsaved message goes to Drafts; a changed stored one is rewritten in place (same EntryID).
    void Save();
    // Writes the finished message into the Outbox (durably, with its queue mark) and returns;
    // delivery runs in the background. A saved draft leaves Drafts; a message waiting in the
    // Outbox is tried again at once, or, when changed, replaced in the queue. MailError, and
    // nothing queued, for a recipient that is not an address as the sending side reads it, no
    // recipients, an account that does not exist, an Outbox that cannot be written, or a waiting
    // message whose transfer is under way.
    void Send();
    // A message in the Outbox: where it stands in the sending queue (NotQueued anywhere else).
    send::QueueStatus SendingStatus();
    // Keeps the spooler off this Outbox message while the user edits it; false while its
    // transfer is under way. ReleaseSending gives it back (also done when the item goes).
    bool HoldSending();
    void ReleaseSending();
    void Display(bool modal = false);
    void PrintOut();
    InspectorPtr GetInspector();

    // The message as it is, or as Save would write it: RFC 5322, BCC kept.
    QByteArray MimeContent();
    // True for a message still being written: unsaved, or filed in Drafts.
    bool isComposing() const;
    bool isInOutbox() const;
    // The sender, as the mail host's sending side sets it.
    void setSender(const QString& name, const QString& address);

protected:
    void writeInto(const detail::NodePtr& node) override;

private:
    friend class Attachments;
    friend class MAPIFolder;
    friend class Recipients;
    friend class Attachment;
    friend class SendBatch;
    explicit MailItem(std::shared_ptr<detail::Session> session, detail::NodePtr node, QString rel);
    static MailItemPtr fromHeaders(std::shared_ptr<detail::Session> session, detail::NodePtr node, const QString& rel,
                                   const mime::HeaderSummary& h);
    void ensureBody();
    void takeAttachments(const MailItemPtr& self, const mime::Structure& s);
    // Fills every unread attachment of the list from one parse; gives all the contents read.
    QList<QByteArray> loadAttachmentContents();
    MailItemPtr copyInto(const detail::NodePtr& node);
    void changed() { dirty_ = true; }
    QString joined(int type) const;
    void setKind(int type, const QString& text);
    mime::OutgoingMessage outgoing();
    // Send in steps, for SendBatch too: the refusals made before anything is written (MailError),
    // the message then written, the spooler's own reading of it built (the reason it would refuse
    // it, or empty; any thread), and the item's state once it is queued at path.
    std::optional<send::Account> checkSendable(const QList<send::Account>& accounts) const;
    mime::OutgoingMessage messageToSend(const std::optional<send::Account>& account);
    QStringList recipientAddresses() const;
    static QString sendProblem(const QByteArray& bytes, const QStringList& addresses);
    void queuedAt(const QString& path, const mime::Address& from, const mime::HeaderSummary& h);
    // Hooks().itemChanged, for this message as it is now.
    void tellChanged(const QString& formerId) const;
    // Send; newTally false for one of a bulk send, whose delivery runs are told together.
    void submit(bool newTally);

    QString subject_;
    mime::Address from_;
    QList<mime::Address> headerReplyTo_;
    QDateTime receivedTime_;  // UTC
    QDateTime sentOn_;        // UTC
    int importance_ = olImportanceNormal;
    int sensitivity_ = olNormal;
    bool readReceipt_ = false;
    bool deleteAfterSubmit_ = false;
    QString sendUsing_;
    bool unreadUnsaved_ = false;
    QString messageId_;
    QByteArray inReplyTo_;
    // Top-level type from the headers, for Class and for knowing a message has no attachments.
    QString mediaType_ = QStringLiteral("text");
    QString subType_ = QStringLiteral("plain");
    QString calendarMethod_;
    bool calendarClass_ = false;
    bool maybeAttachments_ = false;

    bool bodyLoaded_ = false;
    bool attachmentsLoaded_ = false;
    bool meetingRequest_ = false;
    bool structureKnown_ = false;  // attachments and meetingRequest_ read by listFile
    QString body_;
    QString html_;
    std::shared_ptr<MailItem> quoteOf_;  // a reply or forward quotes this when its body is first read
    bool forwardQuote_ = false;
    bool dirty_ = false;

    mail::Recipients recipients_{this};
    mail::Recipients replyRecipients_{this};
    mail::Attachments attachments_{this};
    InspectorPtr inspector_;
    QString heldUnique_;
};

MailItemPtr AsMailItem(const ItemPtr& item);
ContactItemPtr AsContactItem(const ItemPtr& item);

} // namespace mail
