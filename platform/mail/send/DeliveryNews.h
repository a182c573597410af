#pragma once
// What the user is told of delivery, in one place: the status line's summary and the lines of
// its tooltip (and of Check Mail's report). Everything told is read from the Outbox's queue, so
// it is the same after a restart: the runs since the user last sent or checked mail, and every
// message that waits in the Outbox for a retry or for the user.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/Outgoing.h"

namespace mail::send {

struct DeliveryNews {
    // "Sending: 3 messages sent, 2 waiting to be sent (1 recipient refused). bob@example.net: 550 5.1.1
    // No such user"; messages are counted, recipients refused one by one told apart;
    // empty when there is nothing to tell. Always one line (the status bar has one): an answer
    // or finding of several lines is joined on it.
    QString summary;
    // One line per refusal, retry or doubt; the messages beyond those read are counted in unlisted.
    QStringList lines;
    qsizetype unlisted = 0;
    // The first lines, and how many more there are.
    QStringList details(qsizetype first = 10) const;
};

// The messages that wait in the Outbox whose lines are told in full; the rest are counted.
inline constexpr qsizetype kListedWaiting = 10;

DeliveryNews TellDelivery(const OutboxQueue::Told& told, const QList<Account>& accounts);
DeliveryNews TellDelivery(const OutboxQueue& queue, const QList<Account>& accounts);

// Why a queued message (out: as read) cannot go through its account, from the accounts as they
// are now: the account it names is gone, its name is another identity's now, or none is set up.
// wayOut adds that it waits for the user, and how Send Again sends it through the default account
// and from which address. Empty when its account is there.
QString AccountMissingText(const Outgoing& out, const QList<Account>& accounts, bool wayOut = true);
// The same of a queued message's file (path), for its window whatever it waits for.
QString TellAccountMissing(const QString& path, const QList<Account>& accounts);
// told (what a refused or possibly delivered message's window or tooltip says of it) with missing
// (TellAccountMissing's words, empty: none) added: before the transport's own words when they end told.
QString WithAccountMissing(const QString& told, const QString& missing);

// What the message window says of a message that waits (state Waiting): its account missing, a
// fault of its own, or the server's refusal for now, and when it goes again. path: its file.
QString TellWaiting(const QueueStatus& status, const QString& path, const QList<Account>& accounts);

// What a message box tells when a run stopped because the Outbox's record could not be written
// (why: the run's sentence for it): that the disk is full when it is, that sending stopped, and
// what to do.
QString StoppedText(const QString& why, const QString& outbox);

// When a message goes again: the time alone today, else the date and time.
QString WhenText(const QDateTime& t);
// The first few recipients named, the rest of count counted: "bob@example.net",
// "bob@example.net and carol@example.net", "bob@example.net, carol@example.net and 2 others".
QString RecipientsText(const QStringList& named, qsizetype count);

// Where each recipient of a message in the Outbox stands, for its window and the tooltip of its
// mark in the Outbox's list: one line per outcome (who has it, who was refused for good and why,
// who waits and until when, who may have had it), naming the first few recipients of each and
// counting the others; a handful of lines however many recipients and answers. Empty when the
// recipients all fared alike (not tried yet, refused as a whole...): the message's own state
// says it then. path: the message's file, read for its recipients as written.
QStringList TellRecipients(const QueueStatus& status, const QString& path);

} // namespace mail::send
