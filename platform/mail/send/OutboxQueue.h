#pragma once
// The sending queue of an Outbox. A message is delivered only when Send queued it: the queue
// mark lives in the Outbox's queue database (".queue.db", see QueueDatabase.h), not in the mere
// presence of a file. The database keeps, as a mail server's queue file does, each recipient's
// state (owed; deferred until a time, with the server's answer; accepted; refused for good,
// with the answer; may have been delivered), the marks that keep a message from being sent
// twice across a crash, and what the runs since the user last sent or checked mail did, so that
// what the window tells survives a restart.
//
// Each change is one transaction. What must outlast a power loss is flushed before the step it
// guards: a message's queue mark before the message is put in place, the "may be tried soon"
// marks of a group before its transfers, an outcome before its message leaves the Outbox. The
// end-of-text mark, with the answers the server gave at RCPT, is committed just before the
// transport hands over the last of the text: on the same boot it survives any crash of the
// program. So after a crash on the same boot a message marked, without the end mark, never
// went whole (tried again by itself); with it, the recipients the server took at RCPT may have
// been delivered (they wait for the user) and the ones it refused keep their answers. After a
// reboot anything marked and not settled may have gone.
//
// A queue state that is missing or damaged while messages wait is never guessed at: those
// messages wait for the user as possibly delivered, and what was found is told once.
#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/mail/send/DeliveryState.h"
#include "platform/mail/send/QueueDatabase.h"

namespace mail::send {

// The refusals of the Outbox, as the windows show them.
inline constexpr char kIntoOutboxText[] = "A message cannot be moved or copied into the Outbox: only Send puts a message there.";
inline constexpr char kBeingSentText[] = "The message is being sent at this moment. Try again when this attempt has ended.";
inline constexpr char kBeingSentElsewhereText[] = "The message is being sent at this moment by another copy of the program "
                                                  "using this Outbox. Try again when it has ended.";
inline constexpr char kAcceptedText[] = "The server has accepted this message already.";
inline constexpr char kNoLongerQueuedText[] = "This message is no longer in the Outbox: it has been sent, moved or deleted meanwhile.";

struct QueueStatus {
    QueueState state = QueueState::NotQueued;
    int attempts = 0;       // failed attempts since it was queued or sent again
    QDateTime nextTry;      // Waiting after a refusal: when it is tried again by itself
    bool held = false;      // kept off the spooler while the user edits, moves or removes it
    // The message's kept answer: its own (a fault of the set-up, say), or else its recipients'
    // answers, each once. Empty: none.
    QString answer;
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
    // The one queue of this Outbox folder in the process. Made on first use: opens the queue's
    // database (taking over an earlier version's journal the first time), settles what a crash
    // left (see the top of this file) and removes half-written files from tmp/.
    static std::shared_ptr<OutboxQueue> Of(const QString& outbox);
    ~OutboxQueue();
    OutboxQueue(const OutboxQueue&) = delete;
    OutboxQueue& operator=(const OutboxQueue&) = delete;

    QString outbox() const { return m_outbox; }
    // The queue's database file.
    QString databasePath() const;

    // Writes the message into cur/ (seen) through tmp/ with the queue mark flushed before it
    // is renamed into place. Returns its path, or an empty string with *error set. replacing: a
    // message of the Outbox this one takes the place of (the user edited it): whoever the server
    // took that one for has this one too and is not sent it again, and that one leaves the queue
    // in the same transaction (its file stays for the caller to remove). Refused while that one
    // is being sent, once the server has accepted it, and when it has left the Outbox meanwhile;
    // when this one cannot be put in place, that one is queued again as it was (the error says
    // whether it could be).
    QString enqueue(const QByteArray& bytes, QString* error, const QString& replacing = {});
    // Many messages at once: each already written and flushed into tmp/ under a name from
    // MaildirUniqueName (WriteToMaildirTmp, on any thread), their queue marks flushed together,
    // then each renamed into place in the order given. One outcome per message: its path, or
    // an empty path with the reason (and its tmp/ file gone).
    struct Queued {
        QString path;
        QString error;
    };
    QList<Queued> enqueueWritten(const QStringList& uniques, const QString& replacing = {});

    // A message whose transfer by another process awaits the server's answer reads as Sending,
    // with kBeingSentElsewhereText for its answer.
    QueueStatus status(const QString& unique) const;
    // Where the message is now; empty when it is not queued or gone.
    QString pathOf(const QString& unique);
    // The user sends it again: a waiting, refused or possibly delivered message is tried with the
    // next run, for every recipient the server has not accepted; a file put there by other means
    // is not (false). A transfer whose outcome could not be recorded is settled first (whom it
    // may have reached). False while it is being sent (here, or by another process), for a
    // message the server accepted already, and when it cannot be recorded or flushed (*error
    // says why; empty for a message that is not queued): the message then stays as it was.
    bool requeue(const QString& unique, QString* error = nullptr);
    // Keeps the spooler off the message (nested); false while its transfer is under way, here or
    // in another process (*why says so). A file that is not queued can always be held. Every hold
    // and release counts as a change of the message (its file may be written anew meanwhile): a
    // run that read it before, or while it was held, reads it again. The hold is recorded in the
    // queue's database too, so that another process's run leaves the message alone while this
    // process lives.
    bool hold(const QString& unique, QString* why = nullptr);
    // How often the message has been held or released so far in this process: read before its
    // file is.
    quint64 changes(const QString& unique) const;
    void release(const QString& unique);
    // The message has left the Outbox (removed, moved away, replaced); many at once in one record.
    void forget(const QString& unique);
    void forget(const QStringList& uniques);
    // A run found the message's file gone. One whose record is written while its file is still
    // in tmp/ (the program queueing it stopped before putting it in place, or is doing so now)
    // is put in place, and its path returned; any other leaves the queue (empty).
    QString placeOrForget(const QString& unique);

    // Told, on the thread that made the change, whenever a message leaves the queue or its last
    // hold ends; one callback per owner. unwatch waits for a call under way.
    void watch(const void* owner, std::function<void()> left);
    void unwatch(const void* owner);

    int waitingCount() const;
    int count(QueueState state) const;

    // Why the queue cannot be read or written now, in a sentence for the user; empty when it can.
    QString problem() const;
    // Its database is open (it may still fail to be written).
    bool isOpen() const;
    // What opening the queue found (its state missing or damaged while messages waited, or
    // unreadable), once a process: for a message box. It comes again at the next start until
    // findingSeen() says the box was shown. Empty when there is nothing to tell.
    QString takeFinding();
    // The box that told the finding has been seen (closed): later starts do not tell it again.
    void findingSeen();

    // What the window tells of delivery, as the queue has it: the runs since the user last sent
    // or checked mail, and every message that waits.
    struct Standing {
        QString unique;
        QString path;
        QueueStatus status;
    };
    struct Told {
        QString finding;              // what opening the queue found, until the user next sends
        QString problem;              // the queue cannot be read or written
        int sent = 0;                 // messages sent since the user last sent or checked mail
        QList<SentNote> notes;        // of those, the ones sent while some recipients were refused
        QStringList runNotes;         // what kept the last run from trying
        int toSend = 0;               // queued and not tried yet
        int sending = 0;              // being sent at this moment
        int retry = 0;                // waiting for a retry
        int refused = 0;              // refused for good: wait for the user
        int maybeDelivered = 0;       // may have been delivered: wait for the user
        int refusedRecipients = 0;    // refused for good one by one of the others that wait
        // The first recipient refused for good of a message that waits, listed or not.
        std::optional<RecipientStatus> firstRefused;
        // Waiting, refused or possibly delivered ones, the first `first` of them in queue order.
        QList<Standing> standing;
        qsizetype standingTotal = 0;
        // The own answers of those waiting for a retry past the first `first`, each with how many
        // keep it: what they wait for, without reading their files.
        QHash<QString, int> unlistedRetryAnswers;
    };
    Told told(qsizetype first) const;

    // ---- for the delivery run ----
    struct Candidate {
        QString unique;
        QString path;
        int attempts = 0;
        QDateTime nextTry;
        bool anyKnown = false;    // some recipient is not simply owed
    };
    // One delivery run at a time per Outbox, across processes too. While it is held, this
    // process's own run is never taken for another's.
    class RunLock {
    public:
        explicit RunLock(OutboxQueue& q);
        ~RunLock();
        RunLock(const RunLock&) = delete;
        RunLock& operator=(const RunLock&) = delete;

    private:
        OutboxQueue& m_q;
        std::unique_lock<std::mutex> m_lock;
    };
    RunLock lockRun();
    // Settles what an earlier run left marked (a crash, a failed write) and reopens a queue
    // that could not be opened. No retry time stays later than `latest` (the longest wait from
    // now: a clock set back would leave it hours ahead). Under the run lock, before the
    // candidates are read. False when that cannot be recorded (or the queue cannot be opened):
    // the run sends nothing.
    bool beginRun(const QDateTime& latest);
    // Waiting messages not held, in queue order; without the ones whose retry time has not come
    // when dueOnly. Never one whose transfer's outcome is not on record. Delivered ones that
    // still wait to be filed come in *toFile.
    QList<Candidate> candidates(bool dueOnly, const QDateTime& now, QList<Candidate>* toFile = nullptr);
    // Writes "may be tried soon" marks; flush() makes them (and every commit before them) durable.
    bool markAhead(const QStringList& uniques);
    bool flush();
    // Flushes unless everything up to `commit` (as settle returned it) is durable already.
    bool flushTo(quint64 commit);
    // Before the transfer: false when the message is held or no longer waiting, or (*changed)
    // when it changed since it was read with `changes` as they were (read it again). On true the
    // message is Sending and *path is where the queue last saw it.
    bool startAttempt(const QString& unique, QString* path, quint64 readAt, bool* changed);
    // The transport is about to hand over the end of the message's text; answered: what the
    // server said at RCPT to those it refused, recorded with the mark. False when that cannot be
    // recorded: the text must not be finished then.
    bool endOfData(const QString& unique, const QList<RecipientStatus>& answered = {});
    // An attempt's outcome (or a new answer): its state as given, with the recipients' states,
    // recorded in one transaction. sent: the message counts as sent in what the runs tell, with a
    // note when the server refused some recipients for good. Returns the commit's number for
    // flushTo, 0 when the message is no longer queued, nothing when it could not be recorded.
    struct Outcome {
        QueueState state = QueueState::Waiting;
        bool tried = true;           // counts as an attempt
        QDateTime nextTry;
        // The message's own answer (a fault of the set-up, say); the recipients' answers are
        // kept with them, and the message's kept answer is made of theirs when it has none.
        QString answer;
        QList<RecipientStatus> recipients;
        std::optional<SentNote> sent;
    };
    std::optional<quint64> settle(const QString& unique, const Outcome& outcome);
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
    // Folds what the runs wrote into the database file, so that it stays its size.
    void checkpoint();

    // The message's own answer (empty: none).
    bool keepAnswer(const QString& unique, const QString& answer);

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
    // When the next run is due: the earliest time a waiting message or account comes due, or
    // the latest of those due within `together` seconds after it, so that they go in one run.
    // None later than `latest`; invalid when nothing comes due.
    QDateTime nextDue(const QDateTime& latest, int together) const;

    // The boot this process runs on ("" when unknown).
    static QString BootId();
    // For tests: the process runs on another boot (after a power loss).
    static void SetBootId(const QString& id);

private:
    explicit OutboxQueue(const QString& outbox);
    // What only this process knows of a message.
    struct Local {
        int holds = 0;
        bool sending = false;
        bool placing = false;    // queued, not in place yet: no run takes it
        // Its account waits: until then, or (parked) for a run the user asks for.
        bool parked = false;
        QDateTime parkedUntil;
        quint64 changes = 0;     // holds so far
    };
public:
    struct Row;
    struct Kept;

private:
    // m_mutex held for all of these.
    void open(bool atStart, bool settle);
    bool openAt(bool atStart, bool settle, bool locked);
    bool adopt(QueueDatabase::Opening o);
    bool build(const QString& path, const QString& journal, const QString& damage, const QString& aside);
    bool placed(QHash<QString, QString>* out) const;
    void tidy(bool atStart);
    bool othersRun() const;
    int openRunLock() const;
    void tellWatchers();
    bool inFlight(const Row& row) const;
    QString busy(const Row& row) const;
    void settleMarks();
    void settleInFlight(const Row& row);
    bool takeOver(const QString& journal, const QHash<QString, QString>& inPlace, QString* why);
    void holdForTheUser(const QStringList& names, const QHash<QString, QString>& inPlace, const QString& answer);
    bool write(const std::function<void()>& body);
    std::optional<Row> row(const QString& unique) const;
    QList<Row> readRows(const char* sql) const;
    QueueStatus statusOf(const Row& row) const;
    QList<RecipientStatus> recipientsOf(qint64 id) const;
    void writeRecipients(qint64 id, const QList<RecipientStatus>& recipients, qint64 rcpt = 0);
    void removeRow(qint64 id);
    Kept keep(const Row& row) const;
    void putBack(const Kept& kept);
    void noteUnrecorded();
    QString doubtOf(const Row& row) const;
    bool inOutbox(const QString& unique) const;
    QSet<QString> heldElsewhere(QStringList* dead = nullptr) const;
    void addNote(const SentNote& note);
    QString resolve(const Row& row);
    bool placeFromTmp(const Row& row);
    void prune(const QString& unique);
    QString unopenable() const;
    QString why() const;
    bool syncLog();

    const QString m_outbox;
    mutable std::mutex m_mutex;
    std::mutex m_runMutex;
    int m_runFd = -1;
    // This process's run holds the run lock, or (m_acquiring) is taking it; both under m_mutex.
    std::atomic_bool m_running{false};
    bool m_acquiring = false;
    std::unique_ptr<QueueDatabase> m_db;
    QString m_openError;      // the database cannot be opened: why
    bool m_openPasses = false;    // ...for a reason that passes by itself (another process sets it up)
    QString m_writeError;     // the last write failed: why (until one succeeds)
    QString m_finding;        // what opening found, not shown in a message box yet
    QHash<QString, Local> m_local;
    QStringList m_foundInFlight;
    QStringList m_settled;    // found in flight by the transaction under way: told once it commits
    QSet<QString> m_unrecorded;    // their outcome could not be recorded after the transfer's end
    bool m_unrecordedNoted = true;    // ...and that is in the record too
    quint64 m_durable = 0;    // commits made durable so far
    mutable std::mutex m_waitMutex;    // for these alone, taken after m_mutex when both are
    QHash<QString, AccountWait> m_accountWaits;
    std::mutex m_watchMutex;
    std::map<const void*, std::function<void()>> m_watchers;
};

// The queue mark's way in for callers outside the mail host (tests, tools): as Send writes.
QString QueueMessage(const QString& outbox, const QByteArray& bytes, QString* error = nullptr);

} // namespace mail::send
