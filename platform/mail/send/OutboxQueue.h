#pragma once
// The sending queue of an Outbox. A message is delivered only when Send queued it: the queue
// mark lives in a journal beside the messages (".queue", one record a line, appended), not in the
// mere presence of a file. The journal keeps, as a mail server's queue file does, each
// recipient's state (owed; deferred until a time, with the server's answer; accepted; refused for
// good, with the answer; may have been delivered), the marks that keep a message from being sent
// twice across a crash, and what the runs since the user last sent or checked mail did, so that
// what the window tells survives a restart.
//
// Records ("K u[\tfield...]", fields escaped, see OutboxQueue.cpp):
//   Q u     queued (an earlier version also wrote it when the user sent a message again)
//   A u     the user sends it again: every recipient not accepted is owed once more
//   W u     may be tried soon (flushed ahead of the transfers, in groups)
//   F u     its transfer started
//   E u     the last byte of its text is being handed to the transport
//   R u ... an attempt's outcome, or a new kept answer: the message's state, attempts, next try
//           and answer, and every recipient that is not simply owed (one line, so a crash keeps
//           all of it or none)
//   T u     back to waiting, untried (a "W" whose transfer never started)
//   M u     may have been delivered (an earlier version's record; D and P likewise)
//   X u     left the queue
//   B id    a run starts on this boot
//   N t     the user sent or checked mail: what the runs tell is counted afresh
//   S u     a message counted as sent; C n: n of them (a rewritten journal)
//   G u ... a message sent while the server refused some of its recipients for good, who and why
//   K n ... what kept the last run from trying
// Per-message records are written with plain writes: on the same boot they survive any crash of
// the program (the page cache holds them). Groups of "W" marks are flushed before their
// transfers, and a message's outcome is flushed before the message leaves the Outbox. So after a
// crash on the same boot: "F" and no "E" was never wholly handed over (tried again by itself);
// "E" and no outcome may have been delivered (waits for the user). After a reboot anything
// between a "W" and its outcome may have gone.
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace mail::send {

// The refusals of the Outbox, as the windows show them.
inline constexpr char kIntoOutboxText[] = "A message cannot be moved or copied into the Outbox: only Send puts a message there.";
inline constexpr char kBeingSentText[] = "The message is being sent at this moment. Try again when this attempt has ended.";

// The answer kept with an Outbox message that could not be delivered.
struct Refusal {
    bool permanent = false;   // permanent: not tried again until the user sends it again
    QString answer;
    bool operator==(const Refusal&) const = default;
};

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

struct QueueStatus {
    QueueState state = QueueState::NotQueued;
    int attempts = 0;       // failed attempts since it was queued or sent again
    QDateTime nextTry;      // Waiting after a refusal: when it is tried again by itself
    bool held = false;      // kept off the spooler while the user edits, moves or removes it
    std::optional<Refusal> refusal;   // the message's kept answer
    QList<RecipientStatus> recipients;   // every recipient that is not simply owed
    bool operator==(const QueueStatus&) const = default;
};

// A message sent while its server refused some recipients for good: told until the user next
// sends or checks mail, though the message has left the Outbox.
struct SentNote {
    QString subject;
    QString firstRecipient;
    int recipients = 0;
    QList<RecipientStatus> refused;
};

class OutboxQueue {
public:
    // The one queue of this Outbox folder in the process. Made on first use: reads the journal,
    // settles what a crash left (see the top of this file), removes half-written files from
    // tmp/, and, when there is no journal yet, takes in the messages already waiting.
    static std::shared_ptr<OutboxQueue> Of(const QString& outbox);
    ~OutboxQueue();
    OutboxQueue(const OutboxQueue&) = delete;
    OutboxQueue& operator=(const OutboxQueue&) = delete;

    QString outbox() const { return m_outbox; }

    // Writes the message into cur/ (seen) through tmp/ with the queue mark flushed before it
    // is renamed into place. Returns its path, or an empty string with *error set.
    QString enqueue(const QByteArray& bytes, QString* error);
    // Many messages at once: each already written and flushed into tmp/ under a name from
    // MaildirUniqueName (WriteToMaildirTmp, on any thread), their queue marks flushed together,
    // then each renamed into place in the order given. One outcome per message: its path, or
    // an empty path with the reason (and its tmp/ file gone).
    struct Queued {
        QString path;
        QString error;
    };
    QList<Queued> enqueueWritten(const QStringList& uniques);

    QueueStatus status(const QString& unique) const;
    // Where the message is now; empty when it is not queued or gone.
    QString pathOf(const QString& unique);
    // The user sends it again: a waiting, refused or possibly delivered message is tried with the
    // next run, for every recipient the server has not accepted; a file put there by other means
    // is not (false). False while it is being sent and for a message the server accepted already.
    bool requeue(const QString& unique);
    // Keeps the spooler off the message (nested); false while its transfer is under way. A file
    // that is not queued can always be held.
    bool hold(const QString& unique);
    void release(const QString& unique);
    // The message has left the Outbox (removed, moved away, replaced).
    void forget(const QString& unique);

    // Told, on the thread that made the change, whenever a message leaves the queue; one
    // callback per owner. unwatch waits for a call under way.
    void watch(const void* owner, std::function<void()> left);
    void unwatch(const void* owner);

    int waitingCount() const;
    int count(QueueState state) const;

    // What the window tells of delivery, as the journal has it: the runs since the user last sent
    // or checked mail, and every message that waits.
    struct Standing {
        QString unique;
        QString path;
        QueueStatus status;
    };
    struct Told {
        int sent = 0;                 // messages sent since the user last sent or checked mail
        QList<SentNote> notes;        // of those, the ones sent while some recipients were refused
        QStringList runNotes;         // what kept the last run from trying
        int toSend = 0;               // queued and not tried yet (or being sent)
        int retry = 0;                // waiting for a retry
        int refused = 0;              // refused for good: wait for the user
        int maybeDelivered = 0;       // may have been delivered: wait for the user
        int refusedRecipients = 0;    // refused for good one by one of the others that wait
        // The first recipient refused for good of a message that waits, listed or not.
        std::optional<RecipientStatus> firstRefused;
        // Waiting, refused or possibly delivered ones, the first `first` of them in queue order.
        QList<Standing> standing;
        qsizetype standingTotal = 0;
    };
    Told told(qsizetype first) const;

    // ---- for the delivery run ----
    struct Candidate {
        QString unique;
        QString path;
        int attempts = 0;
        QDateTime nextTry;
    };
    // One delivery run at a time per Outbox.
    std::unique_lock<std::mutex> lockRun() { return std::unique_lock(m_runMutex); }
    // Waiting messages not held, in queue order; without the ones whose retry time has not come
    // when dueOnly. Delivered ones that still wait to be filed come in *toFile.
    QList<Candidate> candidates(bool dueOnly, const QDateTime& now, QList<Candidate>* toFile = nullptr);
    // Starts a run on this boot.
    void beginRun();
    // Writes "may be tried soon" marks; flush() makes them (and all records before them) durable.
    bool markAhead(const QStringList& uniques);
    bool flush();
    // Flushes unless every record up to `record` (as settle returned it) is durable already.
    bool flushTo(qint64 record);
    // Before the transfer: false when the message is held or no longer waiting. On true the
    // message is Sending and *path is where the queue last saw it.
    bool startAttempt(const QString& unique, QString* path);
    // The transport is about to hand over the end of the message's text. False when that cannot
    // be recorded: the text must not be finished then.
    bool endOfData(const QString& unique);
    // An attempt's outcome (or a new answer): its state as given, with the recipients' states,
    // recorded in one record. sent: the message counts as sent in what the runs tell, with a
    // note when the server refused some recipients for good. Returns the record's number for
    // flushTo (0 when nothing was written).
    struct Outcome {
        QueueState state = QueueState::Waiting;
        bool tried = true;           // counts as an attempt
        QDateTime nextTry;
        std::optional<Refusal> answer;
        QList<RecipientStatus> recipients;
        std::optional<SentNote> sent;
    };
    qint64 settle(const QString& unique, const Outcome& outcome);
    // A marked message the run never tried (a failed connection, a pause): waiting again.
    void untried(const QString& unique);
    // Not tried because its account waits: it comes due with the account, or (until invalid)
    // only with a run the user asks for.
    void postpone(const QString& unique, const QDateTime& until);
    // Messages found in flight when the queue was read (after a crash), not reported yet.
    QStringList takeFoundInFlight();
    // What the runs tell is counted afresh from now (the user sent or checked mail).
    void newTally();
    // What kept the run that just ended from trying (replaces the last run's).
    void setRunNotes(const QStringList& notes);
    // Rewrites the journal when it is mostly records of messages long gone.
    void compact();

    // The kept answer of a message (empty answer: none).
    void keepAnswer(const QString& unique, bool permanent, const QString& answer);
    std::optional<Refusal> keptAnswer(const QString& unique) const;

    // Accounts whose connection failed: the rest of their messages wait until the retry time, or
    // (forGood) until the user asks for a run.
    struct AccountWait {
        int failures = 0;
        QDateTime until;
        bool forGood = false;
    };
    std::optional<AccountWait> accountWait(const QString& account) const;
    void setAccountWait(const QString& account, const AccountWait& wait);
    void clearAccountWait(const QString& account);
    // All of them (the user asked), or those whose time has come.
    void clearAccountWaits(bool all, const QDateTime& now);
    // The earliest time a waiting message or account comes due; invalid when none does.
    QDateTime nextDue() const;

    // The boot this process runs on ("" when unknown).
    static QString BootId();

private:
    explicit OutboxQueue(const QString& outbox);
    struct Entry {
        QueueStatus status;   // state, attempts, nextTry, answer and recipients; held from holds
        QString rel;          // "cur/u:2,S"; empty while not in place yet
        int holds = 0;
        // Its account waits (kept here, not in the journal): until then, or (parked) for a run
        // the user asks for.
        bool parked = false;
        QDateTime parkedUntil;
        bool oldAnswer = false;   // an earlier version kept its answer in a file beside it
    };
    struct File;
    struct Tally {
        int sent = 0;
        QList<SentNote> notes;
        QStringList runNotes;
    };
    void load();
    void replay(const QByteArray& text, QByteArray* pending);
    void settleFoundInFlight(const QStringList& uniques, QByteArray* pending);
    bool append(const QByteArray& records);     // m_mutex held
    QByteArray outcomeRecord(const QString& unique, const Entry& e) const;
    QString resolve(const QString& unique, Entry& e);   // m_mutex held
    QString answerPath(const QString& unique) const;
    void dropOldAnswer(const QString& unique, Entry& e);   // m_mutex held

    const QString m_outbox;
    mutable std::mutex m_mutex;
    std::mutex m_runMutex;
    std::shared_ptr<File> m_file;
    std::map<QString, Entry> m_entries;   // by unique name: queueing order
    QStringList m_foundInFlight;
    Tally m_tally;
    qint64 m_records = 0;     // records in the journal (for compacting)
    qint64 m_written = 0;     // records appended by this process
    qint64 m_durable = 0;     // of those, the ones flushed
    QHash<QString, AccountWait> m_accountWaits;
    std::mutex m_watchMutex;
    std::map<const void*, std::function<void()>> m_watchers;
};

// The kept answer of an Outbox message, by its file.
std::optional<Refusal> OutboxRefusal(const QString& outbox, const QString& messageFile);
// The user sends the message again: forget its refusal so that the next run tries it.
void ClearRefusal(const QString& outbox, const QString& messageFile);
// The queue mark's way in for callers outside the mail host (tests, tools): as Send writes.
QString QueueMessage(const QString& outbox, const QByteArray& bytes, QString* error = nullptr);

} // namespace mail::send
