#pragma once
// The sending queue as earlier versions kept it: a journal of appended records (".queue" in the
// Outbox, one a line), with answers in ".answer.<message>" files beside the messages. Read once,
// when the queue's database is first made, to take over what it says; never written.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <map>

#include "platform/mail/send/OutboxQueue.h"

namespace mail::send {

struct OldJournal {
    // The queued messages by unique name, their states as the records left them.
    std::map<QString, QueueStatus> entries;
    // Of those, the ones whose transfer may have gone further than the records say.
    QStringList inFlight;
    int sent = 0;
    QList<SentNote> notes;
    QStringList runNotes;
    // Why the records cannot be trusted past some point (a record torn or overwritten, a state
    // going back); empty when they can. Whatever was read before that point is in entries.
    QString damage;
};

// Reads the journal's text. On the boot named thisBoot, a transfer whose end mark is not on
// record never handed over the whole text; after a reboot any open mark may hide one that did.
OldJournal ReadOldJournal(const QByteArray& text, const QString& thisBoot);

// The answer an earlier version kept in a file beside a message ("permanent" or "temporary" on
// the first line, the answer after it); empty when the file says nothing.
QString ReadOldAnswer(const QByteArray& file);

} // namespace mail::send
