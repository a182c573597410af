#pragma once
// Where a queued message stands, and each of its recipients: the queue keeps them, a transfer's
// outcome is told in them.
#include <QDateTime>
#include <QString>

namespace mail::send {

enum class QueueState {
    NotQueued,        // put in the Outbox by other means: listed, never delivered
    Waiting,          // goes with the next run (after a refusal: once its retry time has come)
    Sending,          // its transfer is under way
    Refused,          // refused for good: waits for the user
    MaybeDelivered,   // may have been delivered (a crash, or a connection lost before the answer)
    Delivered,        // accepted by the server, not filed yet
};

enum class RecipientState {
    Owed,             // still to be sent
    Deferred,         // refused for now: owed again from `until`
    Accepted,         // the server took the message for it: never sent again
    Refused,          // refused for good: not sent again unless the user sends the message again
    MaybeDelivered,   // named in a transfer whose end no answer followed: waits for the user
};

struct RecipientStatus {
    QString address;
    RecipientState state = RecipientState::Owed;
    QDateTime until;     // Deferred: when it is owed again (invalid: with the next run)
    QString answer;      // the server's answer, or why it may have been delivered
    bool operator==(const RecipientStatus&) const = default;
};

} // namespace mail::send
