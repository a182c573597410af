#include "platform/mail/MAPIFolder.h"

#include <algorithm>

#include "platform/mail/ContactItem.h"
#include "platform/mail/Explorer.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/MailStore.h"

namespace mail {

using detail::Kind;

MAPIFolder::MAPIFolder(std::shared_ptr<detail::Session> session, detail::NodePtr node)
    : session_(std::move(session)), node_(std::move(node))
{
}

QString MAPIFolder::Name() const { return session_->displayName(node_); }

void MAPIFolder::SetName(const QString& name) { session_->rename(node_, name); }

QString MAPIFolder::EntryID() const { return node_->id; }

FolderPtr MAPIFolder::Parent() const
{
    detail::NodePtr p = session_->parentOf(node_);
    return p ? std::make_shared<MAPIFolder>(session_, p) : nullptr;
}

int MAPIFolder::DefaultItemType() const { return node_->kind == Kind::Contacts ? olContactItem : olMailItem; }

QString MAPIFolder::Path() const { return node_->path; }

ExplorerPtr MAPIFolder::GetExplorer() { return std::make_shared<Explorer>(session_, std::make_shared<MAPIFolder>(session_, node_)); }

FoldersPtr MAPIFolder::Folders() const
{
    auto f = std::make_shared<mail::Folders>();
    f->session_ = session_;
    f->parent_ = node_;
    for (const detail::NodePtr& c : session_->children(node_))
        f->list_.append(std::make_shared<MAPIFolder>(session_, c));
    return f;
}

ItemsPtr MAPIFolder::Items() const
{
    auto items = std::make_shared<mail::Items>();
    const QStringList files = session_->listFiles(node_);
    if (node_->kind == Kind::Contacts) {
        // By file name, each file's cards in their order.
        QStringList sorted = files;
        std::sort(sorted.begin(), sorted.end());
        for (const QString& rel : std::as_const(sorted)) {
            const QList<ContactItemPtr> cards = ContactItem::fromFile(session_, node_, rel);
            if (cards.isEmpty())
                ++items->skipped_;
            for (const ContactItemPtr& c : cards)
                items->list_.append(c);
        }
        return items;
    }
    struct Entry {
        qint64 when = 0;
        QStringView unique;  // in files
        MailItemPtr item;
    };
    // Each file is read on one of several threads into its own slot; the order is made after.
    std::vector<Entry> entries(size_t(files.size()));
    detail::inParallel(files.size(), [&](qsizetype i) {
        const QString& rel = files.at(i);
        if (detail::beforeListingRead)
            detail::beforeListingRead(node_->path + QLatin1Char('/') + rel);
        try {
            MailItemPtr m = MailItem::listFile(session_, node_, rel);
            if (m)
                entries[size_t(i)] = {m->receivedTime_.toMSecsSinceEpoch(), detail::Session::uniqueView(node_, rel), std::move(m)};
        } catch (...) {
            // as unreadable: left out and counted below
        }
    });
    const auto unread = std::remove_if(entries.begin(), entries.end(), [](const Entry& e) { return !e.item; });
    items->skipped_ += int(entries.end() - unread);
    entries.erase(unread, entries.end());
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.when != b.when)
            return a.when < b.when;
        return a.unique != b.unique ? a.unique < b.unique : a.item->rel_ < b.item->rel_;
    });
    items->list_.reserve(qsizetype(entries.size()));
    for (Entry& e : entries)
        items->list_.append(std::move(e.item));
    return items;
}

FolderPtr MAPIFolder::CopyTo(const FolderPtr& dest)
{
    if (!dest)
        throw MailError(QStringLiteral("There is no folder to copy to."));
    return std::make_shared<MAPIFolder>(session_, session_->copy(node_, dest->node_));
}

void MAPIFolder::MoveTo(const FolderPtr& dest)
{
    if (!dest)
        throw MailError(QStringLiteral("There is no folder to move to."));
    session_->move(node_, dest->node_);
}

MailItemPtr MAPIFolder::AddMessageFile(const QByteArray& message, const QString& flags)
{
    if (node_->kind != Kind::Mail)
        throw MailError(QStringLiteral("A message cannot be filed in a contact folder."));
    const QString rel = session_->writeNewFile(node_, message, flags);
    MailItemPtr m = MailItem::fromFile(session_, node_, rel);
    if (!m)
        throw MailError(QStringLiteral("The message could not be read back."));
    return m;
}

FolderPtr Folders::Item(int index) const
{
    if (index < 1 || index > list_.size())
        throw MailError(QStringLiteral("There is no folder %1.").arg(index));
    return list_.at(index - 1);
}

FolderPtr Folders::Add(const QString& name)
{
    if (!parent_)
        throw MailError(QStringLiteral("A store cannot be added here."));
    auto f = std::make_shared<MAPIFolder>(session_, session_->addFolder(parent_, name));
    list_.clear();
    for (const detail::NodePtr& c : session_->children(parent_))
        list_.append(std::make_shared<MAPIFolder>(session_, c));
    return f;
}

void Folders::Remove(int index)
{
    const FolderPtr f = Item(index);
    if (!parent_)
        throw MailError(QStringLiteral("A store cannot be removed here."));
    session_->remove(f->node());
    list_.removeAt(index - 1);
}

ItemPtr Items::Item(int index) const
{
    if (index < 1 || index > list_.size())
        throw MailError(QStringLiteral("There is no item %1.").arg(index));
    return list_.at(index - 1);
}

void Items::Remove(int index)
{
    const ItemPtr it = Item(index);
    if (const ContactItemPtr c = AsContactItem(it))
        c->checkAlone();
    if (it->node_) {
        it->session_->removeFile(it->node_, it->rel_);
        it->node_.reset();
        it->rel_.clear();
    }
    list_.removeAt(index - 1);
}

} // namespace mail
