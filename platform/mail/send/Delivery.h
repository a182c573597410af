#pragma once
// One delivery run over an Outbox, and the steps it takes for each message: who is still owed,
// the transfer, what it did to each recipient, the message's state after it, filing.
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/Transport.h"

namespace mail::send {

// One message's outcome in a run, as the spooler's signals tell it.
struct MessageReport {
    QString file;       // the Outbox file
    QString account;
    QueueState state = QueueState::Waiting;   // after the attempt
    QString answer;     // the message's kept answer; the server's last words when delivered
    QString storedAs;   // the Sent Items file; empty when deleted or not delivered
};

// What one run did, counted. What the user is told is read from the queue (TellDelivery).
struct RunReport {
    int delivered = 0;          // sent to every recipient still owed that the server took
    int temporary = 0;          // tried; some recipients wait for a retry
    int permanent = 0;          // refused for good: wait for the user
    int maybeDelivered = 0;     // may have been delivered (found in flight after a crash too)
    int refusedRecipients = 0;  // refused for good one by one while the message went on
    int notTried = 0;           // left for later because their account's connection failed
    bool stopped = false;       // ended early; the rest waits in the Outbox
    // Not empty when the queue refused a write (a full disk) and nothing more went: why, in a sentence.
    QString unwritable;
};

// Points of a run a test may stop the program at.
enum class RunStep {
    Transferring,   // the transfer's start is on record
    Answered,       // the transport has returned, nothing of it recorded yet
    Recorded,       // the outcome is recorded, the message not filed yet
    Filed,          // the message has left the Outbox
};

// Retries that fall due within this many seconds of each other go in one run.
inline constexpr int kDueTogetherSeconds = 5;

struct DeliveryOptions {
    // False: every waiting message is tried now (the user asked). True: a message refused for now
    // waits for its retry time, and an account whose connection failed waits for its own.
    bool dueOnly = false;
    int firstRetrySeconds = 60;       // waits after a temporary refusal double from here...
    int lastRetrySeconds = 3600;      // ...up to here
    int timeoutSeconds = 120;         // a server silent this long counts as a lost connection
    // For tests: the clock, the transport, and the points a crash may be staged at.
    std::function<QDateTime()> clock;
    std::function<std::unique_ptr<Transport>(const Account&)> transport;
    std::function<void(RunStep)> step;
};

// Delivers the waiting Outbox messages that Send queued, each to every recipient still owed,
// once, through its account's transport (one connection per account for the whole run); after
// a failed connection the rest of that account's messages wait for the next retry. Checks halt
// between messages; abort ends a transfer.
RunReport DeliverOutbox(const QString& outbox, const QString& sentItems, const QList<Account>& accounts,
                        const std::function<void(const MessageReport&)>& onMessage = {},
                        const std::atomic_bool* halt = nullptr, TransferAbort* abort = nullptr,
                        const DeliveryOptions& options = {});

// ---- the steps, one by one ----

// Whom a message still goes to: its recipients (as the stored file names them) that the server
// has not accepted, refused for good, or possibly reached; each once.
QStringList OwedRecipients(const QStringList& all, const QList<RecipientStatus>& known);
// What one attempt did to each recipient it named: refused one by one as the server answered
// each (by place among the named); the others as the message fared. Those refused for now are
// owed again from retryAt.
QList<RecipientStatus> AttemptOutcome(const QStringList& named, const SendResult& result, const QDateTime& retryAt);
// The recipients' states with an attempt's outcome over them.
QList<RecipientStatus> MergeOutcome(QList<RecipientStatus> known, const QList<RecipientStatus>& outcome);
// The message's state once its recipients' are known: waiting while any is owed; then possibly
// delivered if any may have been; then delivered if the server took it for any; refused if not.
QueueState MessageState(const QStringList& all, const QList<RecipientStatus>& known);
// The answer kept with the message in that state: its recipients' answers, each once (the
// deferred ones' while it waits, the refused ones' when refused, the doubtful ones' when it may
// have been delivered).
QString MessageAnswer(QueueState state, const QList<RecipientStatus>& known);
// When a message refused for now goes again: waits doubling from the first to the last.
QDateTime RetryTime(const QDateTime& now, int attempts, const DeliveryOptions& options);

// Runs the receive command of every account that takes part in send/receive; returns what failed.
QStringList RunReceiveCommands(const QList<Account>& accounts, const TransferAbort* abort = nullptr);

} // namespace mail::send
