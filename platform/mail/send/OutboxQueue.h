#pragma once
// The sending queue of an Outbox. A message is delivered only when Send queued it: the queue
// mark lives in a journal beside the messages (".queue", one record a line, appended), not in the
// mere presence of a file. The journal also carries the in-flight mark set before a transfer,
// so that a message the program was sending when it stopped is never sent again by itself.
//
// Records: "Q u" queued, "W u" may be tried soon (flushed before the transfer starts), "F u"
// transfer started, "D u" accepted by the server, "T u" tried and not delivered (waits for a
// retry), "P u" refused for good, "M u" may have been delivered (found in flight after a crash, or
// its connection ended after the whole message went and before the server answered), "X u" left
// the queue; "B id" starts a run on the boot id. "W" marks are flushed ahead of the transfers in
// groups; the per-message records are flushed with the next group. After a crash on the same boot
// every record written is there (the page cache survived): a message with "F" and no end may have
// been delivered, one with only "W" was never tried. After a power loss "W" alone is not proof
// enough. So an "M" lost before its flush reads back as the same state from its "F".
#include <QByteArray>
#include <QDateTime>
#include <QHash>
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

// The answer kept beside an Outbox message that could not be delivered.
struct Refusal {
    bool permanent = false;   // permanent: not tried again until the user sends it again
    QString answer;
};

enum class QueueState {
    NotQueued,        // put in the Outbox by other means: listed, never delivered
    Waiting,          // goes with the next run (after a refusal: once its retry time has come)
    Sending,          // its transfer is under way
    Refused,          // refused for good: waits for the user
    MaybeDelivered,   // was being sent when the program stopped: waits for the user
    Delivered,        // accepted by the server, not filed yet
};

struct QueueStatus {
    QueueState state = QueueState::NotQueued;
    int attempts = 0;       // failed attempts since it was queued (this session)
    QDateTime nextTry;      // Waiting after a refusal: when it is tried again by itself
    bool held = false;      // kept off the spooler while the user edits, moves or removes it
    std::optional<Refusal> refusal;
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
    // next run, a file put there by other means is not (false). False while it is being sent
    // and for a message the server accepted already.
    bool requeue(const QString& unique);
    // Keeps the spooler off the message (nested); false while its transfer is under way. A file
    // that is not queued can always be held.
    bool hold(const QString& unique);
    void release(const QString& unique);
    // The message has left the Outbox (removed, moved away, replaced).
    void forget(const QString& unique);

    int waitingCount() const;
    int count(QueueState state) const;

    // A message that waits after a refusal (for good or for now) or may have been delivered.
    struct Standing {
        QString unique;
        QString path;
        QueueState state = QueueState::Waiting;
        QDateTime nextTry;
        Refusal refusal;
    };
    // The first of them in queue order, at most `first`; *total counts them all.
    QList<Standing> standing(qsizetype first, qsizetype* total);
    // Told, on the thread that made the change, whenever a message leaves the queue; one
    // callback per owner. unwatch waits for a call under way.
    void watch(const void* owner, std::function<void()> left);
    void unwatch(const void* owner);

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
    // Before the transfer: false when the message is held or no longer waiting. On true the
    // message is Sending and *path is where the queue last saw it.
    bool startAttempt(const QString& unique, QString* path);
    // The outcome of an attempt (or of a marked message that was not tried: tried = false).
    void delivered(const QString& unique);
    void notDelivered(const QString& unique, bool tried, const QDateTime& nextTry);
    void refused(const QString& unique);
    // The connection ended after the whole message went and before the server answered.
    void maybeDelivered(const QString& unique);
    // Not tried because its account waits: it comes due with the account, or (until invalid)
    // only with a run the user asks for.
    void postpone(const QString& unique, const QDateTime& until);
    // Messages found in flight when the queue was read (after a crash), not reported yet.
    QStringList takeFoundInFlight();
    // Rewrites the journal when it is mostly records of messages long gone.
    void compact();

    // The kept answer of a message, written owner-only; empty answer removes it.
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
        QueueState state = QueueState::Waiting;
        QString rel;          // "cur/u:2,S"; empty while not in place yet
        int attempts = 0;
        QDateTime nextTry;
        int holds = 0;
        bool parked = false;  // waits for a run the user asks for
        bool answered = false;   // an answer is kept beside it
    };
    struct File;
    void load();
    bool append(const QByteArray& records);     // m_mutex held
    // An attempt's end: the state and its record.
    void settle(const QString& unique, QueueState state, char kind);
    QString resolve(const QString& unique, Entry& e);   // m_mutex held
    QString answerPath(const QString& unique) const;

    const QString m_outbox;
    mutable std::mutex m_mutex;
    std::mutex m_runMutex;
    std::shared_ptr<File> m_file;
    std::map<QString, Entry> m_entries;   // by unique name: queueing order
    QStringList m_foundInFlight;
    qint64 m_records = 0;
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
