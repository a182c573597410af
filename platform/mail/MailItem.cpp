#include "platform/mail/MailItem.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <pwd.h>
#include <unistd.h>

#include "platform/mail/ContactItem.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailStore.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/Outgoing.h"
#include "platform/mail/send/Spooler.h"

namespace mail {

using detail::Kind;
using detail::NodePtr;

MailHostHooks& Hooks()
{
    static MailHostHooks hooks;
    return hooks;
}

MailItemPtr AsMailItem(const ItemPtr& item) { return std::dynamic_pointer_cast<MailItem>(item); }
ContactItemPtr AsContactItem(const ItemPtr& item) { return std::dynamic_pointer_cast<ContactItem>(item); }

// ---- Item ----

Item::Item(std::shared_ptr<detail::Session> session, NodePtr node, QString rel)
    : session_(std::move(session)), node_(std::move(node)), rel_(std::move(rel))
{
}

Item::~Item() = default;

QString Item::EntryID() const
{
    if (!node_)
        return {};
    // The folder's id, then the unique name's UTF-8 in upper-case hex.
    static constexpr char16_t hex[] = u"0123456789ABCDEF";
    const QStringView unique = detail::Session::uniqueView(node_, rel_);
    const QByteArray utf8 = unique.toUtf8();
    QString id(node_->id.size() + 2 * utf8.size(), Qt::Uninitialized);
    QChar* out = std::copy(node_->id.cbegin(), node_->id.cend(), id.data());
    for (const char c : utf8) {
        *out++ = QChar(hex[static_cast<unsigned char>(c) >> 4]);
        *out++ = QChar(hex[static_cast<unsigned char>(c) & 15]);
    }
    return id;
}

FolderPtr Item::Parent() const
{
    return node_ ? std::make_shared<MAPIFolder>(session_, node_) : nullptr;
}

QString Item::FilePath() const { return node_ ? node_->path + QLatin1Char('/') + rel_ : QString(); }

QByteArray Item::fileBytes() const
{
    QFile f(FilePath());
    if (!f.open(QIODevice::ReadOnly))
        throw MailError(QStringLiteral("The item could not be read."));
    return f.readAll();
}

void Item::writeInto(const NodePtr&) { throw MailError(QStringLiteral("The item cannot be saved.")); }

void Item::Delete()
{
    if (!node_)
        return;
    const NodePtr deleted = session_->defaultFolder(olFolderDeletedItems);
    if (node_ == deleted || node_->kind == Kind::Contacts) {
        session_->removeFile(node_, rel_);
        node_.reset();
        rel_.clear();
        return;
    }
    Move(std::make_shared<MAPIFolder>(session_, deleted));
}

void Item::checkDestination(const FolderPtr& dest) const
{
    if (!dest)
        throw MailError(QStringLiteral("There is no folder to move the item to."));
    const Kind mine = isContact() ? Kind::Contacts : Kind::Mail;
    if (dest->node()->kind != mine)
        throw MailError(QStringLiteral("The item cannot be moved into a folder of another kind."));
}

void Item::Move(const FolderPtr& dest)
{
    if (dest && dest->node() == node_)
        return;
    checkDestination(dest);
    const NodePtr& to = dest->node();
    if (!node_) {
        writeInto(to);
        return;
    }
    rel_ = session_->moveFile(node_, rel_, to);
    node_ = to;
}

// ---- Recipients ----

QList<AddressEntry> SplitAddressLine(const QString& text)
{
    QStringList entries;
    QString current;
    bool quoted = false;
    int angle = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted && c == QLatin1Char('\\') && i + 1 < text.size()) {
            current += c;
            current += text.at(++i);
            continue;
        }
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char('<'))
            ++angle;
        else if (!quoted && c == QLatin1Char('>') && angle > 0)
            --angle;
        else if (!quoted && angle == 0 && (c == QLatin1Char(';') || c == QLatin1Char(','))) {
            entries << current;
            current.clear();
            continue;
        }
        current += c;
    }
    entries << current;

    QList<AddressEntry> out;
    for (const QString& entry : entries) {
        if (entry.trimmed().isEmpty())
            continue;
        const QList<mime::Address> parsed = mime::parseAddressList(entry);
        const bool addresses = !parsed.isEmpty() && std::all_of(parsed.begin(), parsed.end(), [](const mime::Address& a) { return !a.address.isEmpty(); });
        if (!addresses) {
            out.append({QString(), entry.trimmed()});
            continue;
        }
        for (const mime::Address& a : parsed)
            out.append({a.name, a.address});
    }
    return out;
}

RecipientPtr Recipients::Item(int index) const
{
    if (index < 1 || index > list_.size())
        throw MailError(QStringLiteral("There is no recipient %1.").arg(index));
    return list_.at(index - 1);
}

RecipientPtr Recipients::Add(const QString& text)
{
    const QList<mime::Address> parsed = mime::parseAddressList(text);
    RecipientPtr r;
    if (parsed.size() == 1 && !parsed.first().address.isEmpty())
        r = std::make_shared<Recipient>(parsed.first().name, parsed.first().address, olTo);
    else
        r = std::make_shared<Recipient>(QString(), text.trimmed(), olTo);
    list_.append(r);
    owner_->changed();
    return r;
}

void Recipients::Remove(int index)
{
    Item(index);
    list_.removeAt(index - 1);
    owner_->changed();
}

// ---- Attachments ----

QByteArray Attachment::content() const
{
    if (loaded_)
        return content_;
    MailItemPtr owner = owner_.lock();
    if (!owner || !owner->isSaved())
        throw MailError(QStringLiteral("The attachment is no longer available."));
    // A removed attachment still held elsewhere is not in the list: it takes its own part.
    const QList<QByteArray> contents = owner->loadAttachmentContents();
    if (!loaded_ && ordinal_ >= 0 && ordinal_ < contents.size()) {
        content_ = contents.at(ordinal_);
        loaded_ = true;
    }
    if (!loaded_)
        throw MailError(QStringLiteral("The attachment could not be read."));
    return content_;
}

void Attachment::SaveAsFile(const QString& path) const
{
    const QByteArray bytes = content();
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        throw MailError(QStringLiteral("The attachment could not be saved as %1.").arg(path));
}

AttachmentPtr Attachments::Item(int index) const
{
    if (index < 1 || index > list_.size())
        throw MailError(QStringLiteral("There is no attachment %1.").arg(index));
    return list_.at(index - 1);
}

AttachmentPtr Attachments::Add(const QString& source, int /*type: always a copy*/)
{
    owner_->ensureBody();
    QFile f(source);
    if (!QFileInfo(source).isFile() || !f.open(QIODevice::ReadOnly))
        throw MailError(QStringLiteral("The file %1 could not be read.").arg(source));
    auto a = std::make_shared<Attachment>();
    a->fileName_ = mime::safeFileName(QFileInfo(source).fileName());
    a->content_ = f.readAll();
    a->loaded_ = true;
    list_.append(a);
    owner_->changed();
    return a;
}

AttachmentPtr Attachments::Add(const AttachmentPtr& source)
{
    owner_->ensureBody();
    auto a = std::make_shared<Attachment>();
    a->fileName_ = source->FileName();
    a->mimeType_ = source->mimeType();
    a->content_ = source->content();
    a->loaded_ = true;
    list_.append(a);
    owner_->changed();
    return a;
}

void Attachments::Remove(int index)
{
    owner_->ensureBody();
    Item(index);
    list_.removeAt(index - 1);
    owner_->changed();
}

// ---- Inspector ----

Inspector::Inspector(const MailItemPtr& item) : item_(item) {}

int Inspector::EditorType() const
{
    MailItemPtr item = item_.lock();
    return item && !item->HTMLBody().isEmpty() ? olEditorHTML : olEditorText;
}

void Inspector::Display(bool modal)
{
    MailItemPtr item = item_.lock();
    if (!item)
        throw MailError(QStringLiteral("The item is no longer available."));
    item->Display(modal);
}

void Inspector::Close(int saveMode)
{
    if (Hooks().closeInspector)
        Hooks().closeInspector(*this, saveMode);
}

// ---- MailItem ----

MailItem::MailItem(std::shared_ptr<detail::Session> session, NodePtr node, QString rel)
    : Item(std::move(session), std::move(node), std::move(rel))
{
}

MailItemPtr MailItem::create(std::shared_ptr<detail::Session> session)
{
    MailItemPtr m(new MailItem(std::move(session), nullptr, QString()));
    m->bodyLoaded_ = true;
    m->attachmentsLoaded_ = true;
    return m;
}

MailItemPtr MailItem::fromFile(std::shared_ptr<detail::Session> session, NodePtr node, const QString& rel)
{
    const QString path = node->path + QLatin1Char('/') + rel;
    bool ok = false;
    const QByteArray block = mime::readHeaderBlock(path, &ok);
    if (!ok)
        return nullptr;
    return fromHeaders(std::move(session), std::move(node), rel, mime::parseHeaders(block));
}

MailItemPtr MailItem::fromHeaders(std::shared_ptr<detail::Session> session, NodePtr node, const QString& rel, const mime::HeaderSummary& h)
{
    MailItemPtr m(new MailItem(std::move(session), std::move(node), rel));
    m->subject_ = h.subject;
    m->from_ = h.from.value(0);
    m->headerReplyTo_ = h.replyTo;
    for (const mime::Address& a : h.to)
        m->recipients_.list_.append(std::make_shared<Recipient>(a.name, a.address, olTo));
    for (const mime::Address& a : h.cc)
        m->recipients_.list_.append(std::make_shared<Recipient>(a.name, a.address, olCC));
    for (const mime::Address& a : h.bcc)
        m->recipients_.list_.append(std::make_shared<Recipient>(a.name, a.address, olBCC));
    for (const mime::Address& a : h.replyTo)
        m->replyRecipients_.list_.append(std::make_shared<Recipient>(a.name, a.address, olTo));
    m->sentOn_ = h.date;
    m->receivedTime_ = h.received.isValid() ? h.received : h.date;
    if (!m->receivedTime_.isValid())
        m->receivedTime_ = QFileInfo(m->FilePath()).lastModified().toUTC();
    m->importance_ = h.importance;
    m->sensitivity_ = h.sensitivity;
    m->readReceipt_ = h.readReceipt;
    m->deleteAfterSubmit_ = h.deleteAfterSubmit;
    m->sendUsing_ = h.account;
    m->messageId_ = h.messageId;
    m->mediaType_ = h.mediaType;
    m->subType_ = h.subType;
    m->calendarMethod_ = h.calendarMethod;
    m->calendarClass_ = h.calendarClass;
    const bool plainText = h.mediaType == QLatin1String("text") && (h.subType == QLatin1String("plain") || h.subType == QLatin1String("html"));
    m->maybeAttachments_ = !plainText || h.topLevelAttachment;
    m->attachmentsLoaded_ = !m->maybeAttachments_;
    return m;
}

MailItemPtr MailItem::listFile(std::shared_ptr<detail::Session> session, NodePtr node, const QString& rel)
{
    mime::MessageFile file(node->path + QLatin1Char('/') + rel);
    bool ok = false;
    const QByteArray block = file.headerBlock(&ok);
    if (!ok)
        return nullptr;
    MailItemPtr m = fromHeaders(std::move(session), std::move(node), rel, mime::parseHeaders(block));
    // A message whose headers cannot tell its attachments (a report is never listed as mail).
    if (m->attachmentsLoaded_ || (m->mediaType_ == QLatin1String("multipart") && m->subType_ == QLatin1String("report")))
        return m;
    const QByteArray bytes = file.whole(&ok);
    if (!ok)
        return m;  // unreadable since its headers were read: as fromFile leaves it
    const mime::Structure s = mime::scanStructure(bytes);
    m->takeAttachments(m, s);
    m->meetingRequest_ = s.meetingRequest;
    m->structureKnown_ = true;
    return m;
}

// The attachments of the stored message, named as found; their content is read when asked for.
void MailItem::takeAttachments(const MailItemPtr& self, const mime::Structure& s)
{
    for (int i = 0; i < s.attachments.size(); ++i) {
        auto a = std::make_shared<Attachment>();
        a->fileName_ = s.attachments.at(i).fileName;
        a->mimeType_ = s.attachments.at(i).mimeType;
        a->owner_ = self;
        a->ordinal_ = i;
        attachments_.list_.append(a);
    }
    attachmentsLoaded_ = true;
}

void MailItem::ensureBody()
{
    if (bodyLoaded_)
        return;
    bodyLoaded_ = true;
    if (!isSaved()) {
        if (quoteOf_) {
            // A reply or forward quotes its original when its text is first wanted.
            const MailItemPtr o = quoteOf_;
            quoteOf_.reset();
            const QString when = o->sentOn_.isValid() ? o->SentOn().toString(Qt::RFC2822Date) : QString();
            QString head;
            if (forwardQuote_) {
                head = QStringLiteral("\n\n-------- Forwarded Message --------\nFrom: %1\nDate: %2\nSubject: %3\nTo: %4\n\n")
                           .arg(o->from_.address.isEmpty() ? o->SenderName() : QStringLiteral("%1 <%2>").arg(o->SenderName(), o->from_.address),
                                when, o->Subject(), o->To());
                body_ = head + o->Body();
                html_ = o->HTMLBody();
            } else {
                QString quoted;
                const QStringList lines = o->Body().split(QLatin1Char('\n'));
                for (const QString& l : lines)
                    quoted += QStringLiteral("> ") + l + QLatin1Char('\n');
                body_ = QStringLiteral("\n\nOn %1, %2 wrote:\n").arg(when, o->SenderName()) + quoted;
            }
        }
        return;
    }
    mime::Structure s;
    try {
        s = mime::parseStructure(fileBytes());
    } catch (const MailError&) {
        attachmentsLoaded_ = true;
        throw;
    }
    body_ = s.body;
    html_ = s.html;
    meetingRequest_ = s.meetingRequest;
    if (!attachmentsLoaded_)
        takeAttachments(std::static_pointer_cast<MailItem>(shared_from_this()), s);
}

// One parse fills every attachment still unread: reading them one by one would parse the whole
// message again for each.
QList<QByteArray> MailItem::loadAttachmentContents()
{
    bool ok = false;
    const QList<QByteArray> contents = mime::attachmentContents(fileBytes(), &ok);
    if (!ok)
        return {};
    for (const AttachmentPtr& a : attachments_.list_) {
        if (a->loaded_ || a->ordinal_ < 0 || a->ordinal_ >= contents.size())
            continue;
        a->content_ = contents.at(a->ordinal_);
        a->loaded_ = true;
    }
    return contents;
}

int MailItem::Class()
{
    if (mediaType_ == QLatin1String("multipart") && subType_ == QLatin1String("report"))
        return olReport;
    if (calendarClass_ || (mediaType_ == QLatin1String("text") && subType_ == QLatin1String("calendar") && calendarMethod_ == QLatin1String("request")))
        return olMeetingRequest;
    if (mediaType_ == QLatin1String("multipart") && isSaved()) {
        if (!structureKnown_) {
            try {
                ensureBody();
            } catch (const MailError&) {
                return olMail;  // unreadable now: still listed as a message
            }
        }
        if (meetingRequest_)
            return olMeetingRequest;
    }
    return olMail;
}

void MailItem::SetSubject(const QString& s)
{
    subject_ = s;
    changed();
}

QString MailItem::Body()
{
    ensureBody();
    if (body_.isEmpty() && !html_.isEmpty())
        return mime::htmlToText(html_);
    return body_;
}

void MailItem::SetBody(const QString& text)
{
    ensureBody();
    body_ = text;
    changed();
}

QString MailItem::HTMLBody()
{
    ensureBody();
    return html_;
}

void MailItem::SetHTMLBody(const QString& html)
{
    ensureBody();
    html_ = html;
    changed();
}

QString MailItem::joined(int type) const
{
    QStringList names;
    for (const RecipientPtr& r : recipients_.list_)
        if (r->Type() == type)
            names.append(r->Name());
    return names.join(QStringLiteral("; "));
}

void MailItem::setKind(int type, const QString& text)
{
    recipients_.list_.erase(std::remove_if(recipients_.list_.begin(), recipients_.list_.end(), [type](const RecipientPtr& r) { return r->Type() == type; }),
                            recipients_.list_.end());
    for (const AddressEntry& a : SplitAddressLine(text))
        recipients_.list_.append(std::make_shared<Recipient>(a.Name(), a.Address(), type));
    changed();
}

QString MailItem::ReceivedByName() const
{
    for (const RecipientPtr& r : recipients_.list_)
        if (r->Type() == olTo)
            return r->Name();
    return {};
}

void MailItem::SetImportance(int v)
{
    importance_ = v;
    changed();
}

void MailItem::SetSensitivity(int v)
{
    sensitivity_ = v;
    changed();
}

void MailItem::SetReadReceiptRequested(bool v)
{
    readReceipt_ = v;
    changed();
}

void MailItem::SetDeleteAfterSubmit(bool v)
{
    deleteAfterSubmit_ = v;
    changed();
}

bool MailItem::isComposing() const { return !node_ || node_ == session_->defaultFolder(olFolderDrafts); }

bool MailItem::isInOutbox() const { return node_ && session_->isOutbox(node_); }

void MailItem::SetSendUsingAccount(const QString& name)
{
    sendUsing_ = name.trimmed();
    changed();
}

void MailItem::setSender(const QString& name, const QString& address)
{
    from_ = {name, address};
    changed();
}

namespace {
QString flagsOf(const QString& rel)
{
    const qsizetype at = rel.indexOf(QStringLiteral(":2,"));
    return at < 0 ? QString() : rel.mid(at + 3);
}
} // namespace

bool MailItem::UnRead() const
{
    if (!isSaved())
        return unreadUnsaved_;
    // The flags decide, wherever the file lies: another program may leave a seen message in new/.
    return !flagsOf(rel_).contains(QLatin1Char('S'));
}

void MailItem::SetUnRead(bool v)
{
    if (!isSaved()) {
        unreadUnsaved_ = v;
        return;
    }
    QString flags = flagsOf(rel_);
    flags.remove(QLatin1Char('S'));
    if (!v)
        flags += QLatin1Char('S');
    std::sort(flags.begin(), flags.end());
    const QString unique = detail::Session::uniqueOf(node_, rel_);
    rel_ = session_->renameFile(node_, rel_, QStringLiteral("cur/") + unique + QStringLiteral(":2,") + flags);
}

mail::Attachments& MailItem::Attachments()
{
    if (!attachmentsLoaded_) {
        try {
            ensureBody();
        } catch (const MailError&) {
            attachmentsLoaded_ = true;  // unreadable now: shown without attachments
        }
    }
    return attachments_;
}

MailItemPtr MailItem::Reply()
{
    MailItemPtr r = create(session_);
    const QList<mime::Address> to = headerReplyTo_.isEmpty() ? (from_.address.isEmpty() && from_.name.isEmpty() ? QList<mime::Address>() : QList<mime::Address>{from_})
                                                             : headerReplyTo_;
    for (const mime::Address& a : to)
        if (!a.address.isEmpty())
            r->recipients_.list_.append(std::make_shared<Recipient>(a.name, a.address, olTo));
    r->subject_ = subject_.startsWith(QLatin1String("RE:"), Qt::CaseInsensitive) ? subject_ : QStringLiteral("RE: ") + subject_;
    if (!messageId_.isEmpty())
        r->inReplyTo_ = '<' + messageId_.toUtf8() + '>';
    r->quoteOf_ = std::static_pointer_cast<MailItem>(shared_from_this());
    r->bodyLoaded_ = false;
    r->dirty_ = true;
    return r;
}

MailItemPtr MailItem::Forward()
{
    MailItemPtr f = create(session_);
    f->subject_ = subject_.startsWith(QLatin1String("FW:"), Qt::CaseInsensitive) ? subject_ : QStringLiteral("FW: ") + subject_;
    f->importance_ = importance_;
    f->quoteOf_ = std::static_pointer_cast<MailItem>(shared_from_this());
    f->forwardQuote_ = true;
    f->bodyLoaded_ = false;
    mail::Attachments& mine = Attachments();
    for (int i = 1; i <= mine.Count(); ++i)
        f->attachments_.Add(mine.Item(i));
    f->dirty_ = true;
    return f;
}

mime::OutgoingMessage MailItem::outgoing()
{
    ensureBody();
    Attachments();
    mime::OutgoingMessage m;
    m.from = from_;
    for (const RecipientPtr& r : recipients_.list_) {
        const mime::Address a{r->Name() == r->Address() ? QString() : r->Name(), r->Address()};
        (r->Type() == olCC ? m.cc : r->Type() == olBCC ? m.bcc : m.to).append(a);
    }
    for (const RecipientPtr& r : replyRecipients_.list_)
        m.replyTo.append({r->Name() == r->Address() ? QString() : r->Name(), r->Address()});
    m.subject = subject_;
    m.body = body_;
    m.html = html_;
    m.date = sentOn_;
    m.importance = importance_;
    m.sensitivity = sensitivity_;
    m.readReceipt = readReceipt_;
    m.deleteAfterSubmit = deleteAfterSubmit_;
    m.account = sendUsing_;
    m.messageId = messageId_;
    m.inReplyTo = inReplyTo_;
    if (isSaved()) {
        bool ok = false;
        m.preserved = mime::preservedHeaders(mime::readHeaderBlock(FilePath(), &ok));
    }
    for (const AttachmentPtr& a : attachments_.list_)
        m.attachments.append({a->FileName(), a->mimeType(), a->content(), {}});
    return m;
}

QByteArray MailItem::MimeContent()
{
    if (isSaved() && !dirty_)
        return fileBytes();
    return mime::buildMessage(outgoing());
}

void MailItem::writeInto(const NodePtr& node)
{
    const QByteArray bytes = MimeContent();
    // Once in a folder the item reads its attachments from its own file.
    rel_ = session_->writeNewFile(node, bytes, unreadUnsaved_ ? QString() : QStringLiteral("S"));
    node_ = node;
    dirty_ = false;
    const mime::HeaderSummary h = mime::parseHeaders(bytes.left(bytes.indexOf("\n\n") + 1));
    messageId_ = h.messageId;
    if (!sentOn_.isValid())
        sentOn_ = h.date;
    if (!receivedTime_.isValid())
        receivedTime_ = h.date;
}

void MailItem::Save()
{
    if (!isSaved()) {
        writeInto(session_->defaultFolder(olFolderDrafts));
        tellChanged(QString());
        return;
    }
    if (!dirty_)
        return;
    const QByteArray bytes = mime::buildMessage(outgoing());
    session_->replaceFile(node_, rel_, bytes);
    dirty_ = false;
    tellChanged(EntryID());
}

void MailItem::tellChanged(const QString& formerId) const
{
    if (Hooks().itemChanged && node_)
        Hooks().itemChanged(node_->id, EntryID(), formerId);
}

MailItemPtr MailItem::Copy()
{
    if (!isSaved()) {
        MailItemPtr c = create(session_);
        ensureBody();
        c->from_ = from_;
        c->subject_ = subject_;
        c->body_ = body_;
        c->html_ = html_;
        c->importance_ = importance_;
        c->sensitivity_ = sensitivity_;
        c->readReceipt_ = readReceipt_;
        c->deleteAfterSubmit_ = deleteAfterSubmit_;
        c->sendUsing_ = sendUsing_;
        for (const RecipientPtr& r : recipients_.list_)
            c->recipients_.list_.append(std::make_shared<Recipient>(*r));
        for (const RecipientPtr& r : replyRecipients_.list_)
            c->replyRecipients_.list_.append(std::make_shared<Recipient>(*r));
        for (const AttachmentPtr& a : Attachments().list_)
            c->attachments_.Add(a);
        c->dirty_ = true;
        return c;
    }
    return copyInto(node_);
}

MailItemPtr MailItem::Copy(const FolderPtr& dest)
{
    checkDestination(dest);
    if (!isSaved()) {
        MailItemPtr c = Copy();
        c->Move(dest);
        return c;
    }
    return copyInto(dest->node());
}

MailItemPtr MailItem::copyInto(const NodePtr& node)
{
    const QByteArray bytes = MimeContent();
    const QString flags = flagsOf(rel_);
    const QString rel = session_->writeNewFile(node, bytes, flags, rel_.startsWith(QLatin1String("new/")) ? QStringLiteral("new") : QStringLiteral("cur"));
    MailItemPtr c = fromFile(session_, node, rel);
    if (!c)
        throw MailError(QStringLiteral("The copy could not be read."));
    return c;
}

namespace {
const QString kBeingSent = QString::fromLatin1(send::kBeingSentText);
} // namespace

std::optional<send::Account> MailItem::checkSendable(const QList<send::Account>& accounts) const
{
    std::optional<send::Account> account;
    if (!sendUsing_.isEmpty()) {
        account = send::FindAccount(accounts, sendUsing_);
        if (!account)
            throw MailError(QStringLiteral("There is no mail account \"%1\".").arg(sendUsing_));
    } else {
        account = send::DefaultAccount(accounts);
    }
    bool anyRecipient = false;
    for (const RecipientPtr& r : recipients_.list_) {
        // Named by the address, not the display name: the fault is in the address.
        if (!send::IsSendableAddress(r->Address()))
            throw MailError(
                QStringLiteral("\"%1\" is not an e-mail address.").arg(send::ShowHiddenCharacters(r->Address())));
        anyRecipient = true;
    }
    if (!anyRecipient)
        throw MailError(QStringLiteral("The message has no recipients."));
    return account;
}

mime::OutgoingMessage MailItem::messageToSend(const std::optional<send::Account>& account)
{
    mime::OutgoingMessage m = outgoing();
    if (account && !account->address.isEmpty())
        m.from = {account->displayName, account->address};
    else if (from_.address.isEmpty())
        m.from = {};  // no usable account yet: the account that sends it signs it
    m.account = account ? account->name : QString();
    m.accountId = account ? account->id : QString();
    m.date = QDateTime::currentDateTime();
    m.messageId.clear();
    m.preserved.clear();
    return m;
}

QStringList MailItem::recipientAddresses() const
{
    QStringList out;
    for (const RecipientPtr& r : recipients_.list_)
        out << r->Address();
    return out;
}

QString MailItem::sendProblem(const QByteArray& bytes, const QStringList& addresses)
{
    // The spooler's own reading of the message: a recipient it would refuse is refused now. The
    // header block alone says who gets it.
    const qsizetype end = bytes.indexOf("\n\n");
    const send::Outgoing wire = send::PrepareOutgoing(end < 0 ? bytes : bytes.left(end + 2));
    QSet<QString> readable;
    for (const QString& a : wire.recipients)
        readable.insert(send::AddressKey(a));
    for (const QString& a : addresses)
        if (!readable.contains(send::AddressKey(a)))
            return QStringLiteral("\"%1\" is not an e-mail address.").arg(send::ShowHiddenCharacters(a));
    return wire.problem;
}

void MailItem::queuedAt(const QString& path, const mime::Address& from, const mime::HeaderSummary& h)
{
    node_ = session_->defaultFolder(olFolderOutbox);
    rel_ = QStringLiteral("cur/") + QFileInfo(path).fileName();
    dirty_ = false;
    from_ = from;
    messageId_ = h.messageId;
    sentOn_ = h.date;
    receivedTime_ = h.date;
}

void MailItem::Send() { submit(true); }

void MailItem::submit(bool newTally)
{
    ensureBody();
    Attachments();
    const NodePtr outbox = session_->defaultFolder(olFolderOutbox);
    const bool inOutbox = node_ == outbox;
    const std::shared_ptr<send::OutboxQueue> queue = session_->outboxQueue();
    const QString unique = inOutbox ? detail::Session::uniqueOf(node_, rel_) : QString();
    const auto refuseFor = [](send::QueueState state) {
        if (state == send::QueueState::Sending)
            throw QueueRefusal(kBeingSent);
        if (state == send::QueueState::Delivered)
            throw MailError(QStringLiteral("This message has been sent already."));
    };
    // Being sent, or taken by the server already: neither sent again nor written afresh.
    const send::QueueStatus st = inOutbox ? queue->status(unique) : send::QueueStatus{};
    if (st.state == send::QueueState::Sending && st.answer == QLatin1String(send::kBeingSentElsewhereText))
        throw QueueRefusal(st.answer);
    refuseFor(st.state);
    const QList<send::Account> accounts = send::LoadAccounts();
    // Queued through an account that is gone, or whose name is another identity's now: it goes
    // through the default account, written afresh with that account's From line. One renamed
    // since goes through it, by the name it has now.
    bool accountGone = false;
    if (inOutbox && !sendUsing_.isEmpty()) {
        bool ok = false;
        const send::Outgoing queued = send::PrepareOutgoing(mime::readHeaderBlock(FilePath(), &ok));
        // Another account chosen since it was queued is found by its name.
        const std::optional<send::Account> own = queued.account.compare(sendUsing_, Qt::CaseInsensitive) == 0
                                                     ? send::QueuedAccount(accounts, sendUsing_, queued.accountId, queued.sender)
                                                     : send::FindAccount(accounts, sendUsing_);
        if (own)
            sendUsing_ = own->name;
        else if (const std::optional<send::Account> other = send::DefaultAccount(accounts)) {
            sendUsing_ = other->name;
            accountGone = true;
        }
    }
    // What would make the message undeliverable is said now, before anything is queued.
    const std::optional<send::Account> account = checkSendable(accounts);

    // Waiting in the Outbox unchanged: the user asks for another try, now.
    if (inOutbox && !dirty_ && !accountGone) {
        if (st.state != send::QueueState::NotQueued) {
            QString error;
            if (!queue->requeue(unique, &error)) {
                if (!error.isEmpty())
                    throw QueueRefusal(error);
                // No reason: its transfer began meanwhile, or has ended and it has left the queue.
                const send::QueueState now = queue->status(unique).state;
                refuseFor(now);
                if (now == send::QueueState::NotQueued)
                    throw MailError(QStringLiteral("This message is no longer in the Outbox."));
                throw QueueRefusal(kBeingSent);
            }
            tellChanged(EntryID());    // its mark in the Outbox's list
            if (send::Spooler* s = session_->spooler()) {
                if (newTally)
                    s->newTally();
                s->deliver(true);
            }
            return;
        }
        // A file put there by other means goes out only as the user's own message, written afresh.
    }

    const mime::OutgoingMessage m = messageToSend(account);
    const QByteArray bytes = mime::buildMessage(m);
    if (const QString problem = sendProblem(bytes, recipientAddresses()); !problem.isEmpty())
        throw MailError(problem);

    // A waiting message that is replaced is kept off the spooler first, so that it never goes too.
    if (QString why; inOutbox && !queue->hold(unique, &why))
        throw QueueRefusal(why.isEmpty() ? kBeingSent : why);
    QString error;
    // Edited in the Outbox: whoever the server took it for already is not sent it again.
    const QString path = queue->enqueue(bytes, &error, inOutbox ? unique : QString());
    if (path.isEmpty()) {
        if (inOutbox)
            queue->release(unique);
        throw MailError(QStringLiteral("The message could not be put in the Outbox: %1").arg(error));
    }

    // Sent from Drafts or changed in the Outbox: the earlier file goes.
    if (node_ && (inOutbox || node_ == session_->defaultFolder(olFolderDrafts))) {
        try {
            session_->removeFile(node_, rel_);
        } catch (const MailError&) {
            // Already gone.
        }
        if (inOutbox)
            queue->forget(unique);
    }
    const QString formerId = inOutbox ? EntryID() : QString();
    queuedAt(path, m.from, mime::parseHeaders(bytes.left(bytes.indexOf("\n\n") + 1)));
    if (inOutbox)
        tellChanged(formerId);
    if (send::Spooler* s = session_->spooler()) {
        if (newTally)
            s->newTally();
        s->deliver();
    }
}

send::QueueStatus MailItem::SendingStatus()
{
    if (!node_ || !session_->isOutbox(node_))
        return {};
    return session_->outboxQueue()->status(detail::Session::uniqueOf(node_, rel_));
}

bool MailItem::HoldSending()
{
    if (!node_ || !session_->isOutbox(node_))
        return true;
    const QString unique = detail::Session::uniqueOf(node_, rel_);
    if (!session_->outboxQueue()->hold(unique))
        return false;
    ReleaseSending();
    heldUnique_ = unique;
    return true;
}

MailItem::~MailItem() { ReleaseSending(); }

void MailItem::ReleaseSending()
{
    if (heldUnique_.isEmpty())
        return;
    session_->outboxQueue()->release(heldUnique_);
    heldUnique_.clear();
}

void MailItem::Display(bool modal)
{
    if (!Hooks().display)
        throw MailError(QStringLiteral("Messages cannot be shown."));
    Hooks().display(std::static_pointer_cast<MailItem>(shared_from_this()), modal);
}

void MailItem::PrintOut()
{
    if (!Hooks().printOut)
        throw MailError(QStringLiteral("Printing is not available."));
    Hooks().printOut(std::static_pointer_cast<MailItem>(shared_from_this()));
}

InspectorPtr MailItem::GetInspector()
{
    if (!inspector_)
        inspector_ = std::make_shared<Inspector>(std::static_pointer_cast<MailItem>(shared_from_this()));
    return inspector_;
}

} // namespace mail
