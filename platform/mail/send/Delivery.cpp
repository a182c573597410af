#include "platform/mail/send/Delivery.h"

#include <QFile>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/mail/send/DeliveryNews.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/Outgoing.h"

namespace mail::send {

namespace {

constexpr int kLargestMarkGroup = 256;
constexpr auto kMarkFlushEvery = std::chrono::milliseconds(20);
constexpr qsizetype kReadAhead = 8;
constexpr auto kGatherToFile = std::chrono::milliseconds(20);
// How long an outcome waits for the next transfer to start before it is recorded anyway.
constexpr auto kRecordAside = std::chrono::milliseconds(5);

// Recipients are looked up by address, letter case ignored, in one pass however many there are.
QHash<QString, qsizetype> indexOf(const QList<RecipientStatus>& known)
{
    QHash<QString, qsizetype> index;
    index.reserve(known.size());
    for (qsizetype i = 0; i < known.size(); ++i)
        if (const QString key = AddressKey(known[i].address); !index.contains(key))
            index.insert(key, i);
    return index;
}

// The "may be tried soon" marks, flushed a group ahead of the transfers on a thread of their own,
// so that a transfer waits for the disk only when the disk is slower than the network. A group
// grows while the run would wait for its flush, or would flush more often than every few
// milliseconds: each flush slows the writes beside it, and one costs the same for many marks.
class Marks {
public:
    Marks(OutboxQueue& q, const QList<OutboxQueue::Candidate>& list) : m_q(q), m_list(list) {}
    ~Marks() { finish(); }
    // True once list[i]'s mark is on disk; false only when a mark could not be written or flushed.
    bool cover(qsizetype i)
    {
        // The pending group may end below i when the run passed over messages it did not try.
        while (i >= m_durable) {
            if (!m_pending.valid())
                issue(i);
            const bool waited = m_pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
            if (!m_pending.get())
                return false;
            m_durable = m_pendingTo;
            if (waited || std::chrono::steady_clock::now() - m_issued < kMarkFlushEvery)
                m_group = std::min(m_group * 2, kLargestMarkGroup);
        }
        if (!m_pending.valid() && m_marked < m_list.size())
            issue(m_marked);
        return true;
    }
    // Waits for the group being marked: after this no mark lands that `open` does not name.
    void finish()
    {
        if (m_pending.valid())
            m_pending.get();
    }
    // Marked and not ended by an attempt.
    QSet<QString> open;

private:
    void issue(qsizetype from)
    {
        from = std::max(from, m_marked);
        const qsizetype to = std::min(m_list.size(), from + m_group);
        QStringList uniques;
        for (qsizetype k = from; k < to; ++k) {
            uniques << m_list[k].unique;
            open.insert(m_list[k].unique);
        }
        m_marked = m_pendingTo = to;
        m_issued = std::chrono::steady_clock::now();
        OutboxQueue* q = &m_q;
        m_pending = std::async(std::launch::async, [q, uniques] { return q->markAhead(uniques) && q->flush(); });
    }

    OutboxQueue& m_q;
    const QList<OutboxQueue::Candidate>& m_list;
    qsizetype m_marked = 0;
    qsizetype m_durable = 0;
    qsizetype m_pendingTo = 0;
    int m_group = 4;
    std::chrono::steady_clock::time_point m_issued;
    std::future<bool> m_pending;
};

// A second pair of hands for a run, working beside the transport while it waits on the network.
// Tasks run in the order they were posted.
class Helper {
public:
    Helper() : m_thread([this] { loop(); }) {}
    ~Helper()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    void post(std::function<void()> task)
    {
        std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
        m_wake.notify_all();
    }
    void drain()
    {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_tasks.empty() && !m_busy; });
    }

private:
    void loop()
    {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_done || !m_tasks.empty(); });
            if (m_tasks.empty())
                return;
            std::function<void()> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            m_busy = true;
            lock.unlock();
            task();
            lock.lock();
            m_busy = false;
            m_wake.notify_all();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    bool m_busy = false;
    bool m_done = false;
    std::thread m_thread;
};

// A message read and made ready for the wire.
struct Prepared {
    bool readable = false;
    QString error;
    Outgoing out;
    quint64 changes = 0;    // the queue's count of its changes when it was read
};

std::shared_ptr<Prepared> prepare(const OutboxQueue& q, const QString& unique, const QString& path)
{
    auto p = std::make_shared<Prepared>();
    p->changes = q.changes(unique);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        p->error = f.errorString();
        return p;
    }
    p->readable = true;
    p->out = PrepareOutgoing(f.readAll());
    return p;
}

// Sent Items, or gone when the message asked for no copy. Empty with *error set when it failed.
QString file(const QString& path, const QString& sentItems, bool deleteAfterSubmit, QString* error)
{
    if (deleteAfterSubmit) {
        if (QFile::remove(path))
            return path;
        *error = QStringLiteral("Cannot remove %1").arg(path);
        return {};
    }
    return MoveToMaildir(path, sentItems, QStringLiteral("S"), error, false);
}

// One delivery run: its steps in the order they are taken.
class Run {
public:
    Run(const QString& outbox, const QString& sentItems, const QList<Account>& accounts,
        const std::function<void(const MessageReport&)>& onMessage, const std::atomic_bool* halt, TransferAbort* abort,
        const DeliveryOptions& options)
        : m_queue(OutboxQueue::Of(outbox)), q(*m_queue), m_outbox(outbox), m_sentItems(sentItems), m_accounts(accounts),
          m_onMessage(onMessage), m_halt(halt), m_abort(abort), m_options(options)
    {
    }

    RunReport go()
    {
        auto runLock = q.lockRun();
        const QDateTime start = now();
        if (!q.beginRun(start.addSecs(std::max(m_options.lastRetrySeconds, m_options.firstRetrySeconds)))) {
            // What an earlier run left marked could not be settled: nothing goes until it can be.
            if (q.problem().isEmpty() || q.isOpen()) {
                m_report.stopped = true;
                unwritable();
            }
            endRun();
            return m_report;
        }
        q.clearAccountWaits(!m_options.dueOnly, start);
        tellFoundInFlight();
        QList<OutboxQueue::Candidate> toFile;
        m_list = q.candidates(m_options.dueOnly, start, &toFile);
        fileAcceptedEarlier(toFile);
        if (!m_list.isEmpty()) {
            Marks marks(q, m_list);
            m_marks = &marks;
            {
                Helper reader, filer, recorder;
                m_reader = &reader;
                m_filer = &filer;
                m_recorder = &recorder;
                m_prepared.resize(size_t(m_list.size()));
                for (qsizetype i = 0; i < m_list.size(); ++i) {
                    if (m_halt && m_halt->load()) {
                        m_report.stopped = true;
                        break;
                    }
                    if (m_recordFailed || !deliver(i))
                        break;
                }
                {
                    std::lock_guard lock(m_transferMutex);
                    m_lastTransfer = true;
                }
                m_transferStarted.notify_all();
                recorder.drain();
                if (m_recordFailed)
                    unwritable();
                {
                    std::lock_guard lock(m_inHandMutex);
                    m_lastMessage = true;
                }
                m_inHandWake.notify_all();
                filer.drain();
            }
            // Marked and never tried (a failed connection, a pause): back to waiting, once the last
            // group's marks have landed.
            marks.finish();
            for (const QString& unique : std::as_const(marks.open))
                q.untried(unique);
            m_marks = nullptr;
        }
        endRun();
        return m_report;
    }

private:
    QDateTime now() const { return m_options.clock ? m_options.clock() : QDateTime::currentDateTimeUtc(); }

    void step(RunStep s) const
    {
        if (m_options.step)
            m_options.step(s);
    }

    void told(const MessageReport& m) const
    {
        if (m_onMessage)
            m_onMessage(m);
    }

    // What a crash left in flight waits for the user (the queue has settled it); told once.
    void tellFoundInFlight()
    {
        for (const QString& unique : q.takeFoundInFlight()) {
            MessageReport m;
            m.file = q.pathOf(unique);
            const QueueStatus st = q.status(unique);
            m.state = st.state;
            m.answer = st.answer;
            ++m_report.maybeDelivered;
            told(m);
        }
    }

    // Accepted by the server in an earlier run and not filed then: filed now, never sent again,
    // once that is on disk.
    void fileAcceptedEarlier(const QList<OutboxQueue::Candidate>& toFile)
    {
        if (toFile.isEmpty() || !q.flush())
            return;
        for (const OutboxQueue::Candidate& c : toFile) {
            const std::shared_ptr<Prepared> p = prepare(q, c.unique, c.path);
            QString err;
            if (p->readable && !file(c.path, m_sentItems, p->out.deleteAfterSubmit, &err).isEmpty())
                filed(c.unique);
        }
    }

    // The next few are read and made ready while this one is on the wire.
    std::shared_ptr<Prepared> prepared(qsizetype i)
    {
        for (; m_posted < std::min(m_list.size(), i + kReadAhead); ++m_posted) {
            auto promise = std::make_shared<std::promise<std::shared_ptr<Prepared>>>();
            m_prepared[size_t(m_posted)] = promise->get_future();
            m_reader->post([this, promise, c = m_list[m_posted]] { promise->set_value(prepare(q, c.unique, c.path)); });
        }
        return m_prepared[size_t(i)].get();
    }

    // Changed since it was read ahead (the user saved it anew): read now, where it is now.
    void readAgain(qsizetype i)
    {
        OutboxQueue::Candidate& c = m_list[i];
        if (const QString where = q.pathOf(c.unique); !where.isEmpty())
            c.path = where;
        std::promise<std::shared_ptr<Prepared>> now;
        now.set_value(prepare(q, c.unique, c.path));
        m_prepared[size_t(i)] = now.get_future();
    }

    // One message: read, its account found, sent to whoever is still owed, the outcome recorded.
    // False when nothing more can be sent in this run.
    bool deliver(qsizetype i)
    {
        const OutboxQueue::Candidate& c = m_list[i];
        std::shared_ptr<Prepared> pr = prepared(i);
        MessageReport m;
        m.file = c.path;
        if (!pr->readable) {
            // Renamed since it was listed (its flags), still to be put in place, gone, or unreadable.
            const QString where = q.placeOrForget(c.unique);
            if (where.isEmpty()) {
                closeMark(c.unique);
                return true;
            }
            m.file = where;
            pr = prepare(q, c.unique, where);
            if (!pr->readable) {
                notSent(m, c, nullptr, {RecipientState::Deferred, QStringLiteral("The message cannot be read: %1").arg(pr->error)}, false);
                return true;
            }
        }
        const Outgoing& out = pr->out;
        QString missing;
        const std::optional<Account> account = QueuedAccount(m_accounts, out.account, out.accountId, out.sender, &missing);
        m.account = account ? account->name : out.account;
        // Faults of the set-up wait for the next run, whatever starts it; a message that names
        // what cannot be an address waits for the user.
        if (!account)
            return notSent(m, c, &out, {RecipientState::Deferred, missing}, true);
        if (const QString problem = account->problem(); !problem.isEmpty())
            return notSent(m, c, &out, {RecipientState::Deferred, problem}, true);
        if (!out.problem.isEmpty())
            return notSent(m, c, &out, {RecipientState::Refused, out.problem}, false);
        if (const auto wait = q.accountWait(account->name)) {
            ++m_untried[account->name];
            ++m_report.notTried;
            q.postpone(c.unique, wait->forGood ? QDateTime() : wait->until);
            return true;
        }
        if (!m_marks->cover(i))
            return unwritable();
        QString path;
        bool changed = false;
        if (!q.startAttempt(c.unique, &path, pr->changes, &changed)) {
            if (!changed)
                return true;    // held by the user, or gone
            readAgain(i);
            return deliver(i);
        }
        m.file = path;
        step(RunStep::Transferring);

        const QueueStatus before = c.anyKnown ? q.status(c.unique) : QueueStatus{};
        const QStringList named = OwedRecipients(out.recipients, before.recipients);
        const QDateTime retryAt = RetryTime(now(), c.attempts + 1, m_options);
        SendResult result{RecipientState::Accepted, {}};
        if (!named.isEmpty()) {
            {
                std::lock_guard lock(m_transferMutex);
                ++m_transfers;
            }
            m_transferStarted.notify_all();
            result = transfer(*account, c.unique, out, named, retryAt);
        }
        step(RunStep::Answered);
        if (m_endMarkFailed) {
            // The end of the text never went: the message is as it was before the attempt.
            q.untried(c.unique);
            closeMark(c.unique);
            return unwritable();
        }
        if (result.outcome == RecipientState::Deferred && m_abort && m_abort->aborted()) {
            // Broken off because the program quits, before the whole text went: no attempt, and
            // no fault of the account. It goes with the next delivery (at the next start), as
            // the question on quitting promised.
            return ownAnswer(m, c, {QueueState::Waiting, false, QDateTime(), result.answer, before.recipients, {}});
        }
        if (result.sessionFailed) {
            // The rest of this account's messages wait for the next retry, not each for a timeout.
            OutboxQueue::AccountWait w = q.accountWait(account->name).value_or(OutboxQueue::AccountWait{});
            // A wait ends before the next run starts: the message's own failed attempts keep it doubling.
            w.failures = std::max(w.failures, result.beforeMessage ? c.attempts : 0) + 1;
            w.forGood = result.outcome == RecipientState::Refused;
            w.until = RetryTime(now(), w.failures, m_options);
            q.setAccountWait(account->name, w);
            m_accountFailures.insert(account->name, result.answer);
            if (result.beforeMessage) {
                // Nothing of the message went (a refused login, TLS that is required and not
                // offered, a server out of reach): the account's problem, not its recipients'.
                // It waits with its account, saying why.
                return ownAnswer(m, c, {QueueState::Waiting, true, w.forGood ? QDateTime() : w.until, result.answer,
                                        before.recipients, {}});
            }
        } else if (result.outcome == RecipientState::Accepted) {
            q.clearAccountWait(account->name);
        }
        return record(m, c, out, before, named, result, retryAt);
    }

    // The queue refused a write: nothing more goes in this run, and the user is told why.
    bool unwritable()
    {
        if (!m_report.unwritable.isEmpty())
            return false;    // said once a run
        QString why = q.problem();
        if (why.isEmpty())
            why = QStringLiteral("The Outbox's delivery record could not be written.");
        else if (!why.endsWith(QLatin1Char('.')))
            why += QLatin1Char('.');
        m_report.unwritable = why;
        m_runNotes << why + QStringLiteral(" Nothing more was sent: once the disk has room, choose Get Mail to send the rest.");
        return false;
    }

    // The transfer, through the account's one connection for this run. What the server said at
    // RCPT is recorded with the end mark, before the last of the text goes.
    SendResult transfer(const Account& account, const QString& unique, const Outgoing& out, const QStringList& named,
                        const QDateTime& retryAt)
    {
        auto& transport = m_transports[account.name];
        if (!transport)
            transport = m_options.transport ? m_options.transport(account) : MakeTransport(account, m_abort, m_options.timeoutSeconds);
        // Queued before any account existed: the account that sends it signs it.
        const QByteArray wire = out.hasFrom ? out.wire : FromHeader(account.displayName, account.address) + out.wire;
        return transport->send(account.address, named, wire, [&](const QList<RecipientRefusal>& refused) {
            QList<RecipientStatus> answered = AttemptOutcome(named, SendResult{RecipientState::Accepted, {}, refused}, retryAt);
            answered.removeIf([](const RecipientStatus& r) { return r.state == RecipientState::Accepted; });
            m_endMarkFailed = !q.endOfData(unique, answered);
            return !m_endMarkFailed;
        });
    }

    // Not sent for a reason of its own (local: of the set-up, tried again with the next run).
    // out: the message as read, when it could be. False when the queue cannot record it.
    bool notSent(MessageReport m, const OutboxQueue::Candidate& c, const Outgoing* out, const SendResult& why, bool local)
    {
        const QueueStatus before = q.status(c.unique);
        const QStringList named = out ? OwedRecipients(out->recipients, before.recipients) : QStringList();
        const QDateTime retryAt = local ? QDateTime() : RetryTime(now(), c.attempts + 1, m_options);
        if (named.isEmpty() || local) {
            // Nothing readable to name, or a fault of the set-up, not of the recipients: the
            // message itself carries the answer.
            const QueueState state = why.outcome == RecipientState::Refused ? QueueState::Refused : QueueState::Waiting;
            return ownAnswer(m, c, {state, !local, retryAt, why.answer, before.recipients, {}});
        }
        return record(m, c, *out, before, named, why, retryAt);
    }

    // The message keeps an answer of its own, its recipients as they were.
    bool ownAnswer(MessageReport m, const OutboxQueue::Candidate& c, const OutboxQueue::Outcome& o)
    {
        if (!q.settle(c.unique, o))
            return unwritable();
        closeMark(c.unique);
        m.state = o.state;
        m.answer = o.answer;
        count(o.state, 0);
        told(m);
        return true;
    }

    // The message's attempt in this run is over: its "may be tried soon" mark is closed by
    // what was recorded.
    void closeMark(const QString& unique)
    {
        if (m_marks)
            m_marks->open.remove(unique);
    }

    // What the attempt did to each recipient, and the message's state after it, in one
    // transaction, recorded beside the next transfer; then the message is filed, or waits. A
    // crash before the record lands finds the end mark and holds whom it may have reached.
    bool record(MessageReport m, const OutboxQueue::Candidate& c, const Outgoing& out, const QueueStatus& before,
                const QStringList& named, const SendResult& result, const QDateTime& retryAt)
    {
        const QList<RecipientStatus> outcome = AttemptOutcome(named, result, retryAt);
        const QList<RecipientStatus> known = MergeOutcome(before.recipients, outcome);
        const QueueState state = MessageState(out.recipients, known);
        OutboxQueue::Outcome o;
        o.state = state;
        o.tried = state != QueueState::Delivered;
        o.nextTry = state == QueueState::Waiting ? retryAt : QDateTime();
        o.recipients = known;
        if (state == QueueState::Delivered) {
            SentNote note{out.subject, out.recipients.value(0), int(out.recipients.size()), {}};
            for (const RecipientStatus& r : known)
                if (r.state == RecipientState::Refused)
                    note.refused.append(r);
            o.sent = note;
        }
        closeMark(c.unique);
        int newlyRefused = 0;
        for (const RecipientStatus& r : outcome)
            newlyRefused += r.state == RecipientState::Refused ? 1 : 0;
        count(state, newlyRefused);
        m.state = state;
        m.answer = state == QueueState::Delivered ? result.answer : MessageAnswer(state, known);
        const quint64 after = m_transfers.load();
        m_recorder->post([this, m, o, unique = c.unique, deleteAfterSubmit = out.deleteAfterSubmit, after] {
            // While the next transfer waits on the network, not while the run gets it ready.
            {
                std::unique_lock lock(m_transferMutex);
                m_transferStarted.wait_for(lock, kRecordAside, [&] { return m_transfers.load() > after || m_lastTransfer; });
            }
            const std::optional<quint64> recorded = q.settle(unique, o);
            if (!recorded) {
                m_recordFailed = true;
                return;
            }
            step(RunStep::Recorded);
            if (o.state != QueueState::Delivered) {
                told(m);
                return;
            }
            std::lock_guard lock(m_inHandMutex);
            m_inHand.append({m, unique, deleteAfterSubmit, *recorded});
            if (!m_filerPosted) {
                m_filerPosted = true;
                m_filer->post([this] { fileInHand(); });
            }
        });
        return true;
    }

    void count(QueueState state, int newlyRefused)
    {
        switch (state) {
        case QueueState::Delivered: ++m_report.delivered; break;
        case QueueState::Refused: ++m_report.permanent; return;
        case QueueState::MaybeDelivered: ++m_report.maybeDelivered; break;
        default: ++m_report.temporary; break;
        }
        m_report.refusedRecipients += newlyRefused;
    }

    // Filed in Sent Items (or removed), once their outcomes are on disk: a crash after a move never
    // loses what the user is to be told of it. What the filer has in hand goes together: one
    // flush before the moves, one record of them after.
    void fileInHand()
    {
        // A moment for more to come: a flush costs the same for one message or a hundred.
        {
            std::unique_lock lock(m_inHandMutex);
            m_inHandWake.wait_for(lock, kGatherToFile, [this] { return m_lastMessage; });
        }
        QList<ToFile> batch;
        {
            std::lock_guard lock(m_inHandMutex);
            batch.swap(m_inHand);
            m_filerPosted = false;
        }
        if (batch.isEmpty())
            return;
        quint64 upTo = 0;
        for (const ToFile& f : std::as_const(batch))
            upTo = std::max(upTo, f.commit);
        const bool durable = q.flushTo(upTo);
        QStringList filed;
        for (ToFile& f : batch) {
            QString err = QStringLiteral("its delivery record could not be written to the disk.");
            if (durable)
                f.m.storedAs = file(f.m.file, m_sentItems, f.deleteAfterSubmit, &err);
            if (f.m.storedAs.isEmpty())
                q.keepAnswer(f.unique, QStringLiteral("The message was sent, but could not be filed: %1").arg(err));
            else
                filed << f.unique;
        }
        for (const QString& unique : std::as_const(filed))
            this->filed(unique);
        for (ToFile& f : batch) {
            if (!f.m.storedAs.isEmpty())
                step(RunStep::Filed);
            if (f.deleteAfterSubmit)
                f.m.storedAs.clear();
            told(f.m);
        }
    }

    void endRun()
    {
        for (auto it = m_untried.cbegin(); it != m_untried.cend(); ++it) {
            const auto w = q.accountWait(it.key());
            // The server's own words when it answered; else the connection itself failed.
            const QString failure = m_accountFailures.value(it.key());
            const bool answered = failure.size() >= 3 && failure[0].isDigit() && failure[1].isDigit() && failure[2].isDigit();
            m_runNotes << QStringLiteral("%1 more message(s) through \"%2\" were not tried: %3 %4")
                              .arg(it.value())
                              .arg(it.key(),
                                   answered ? QStringLiteral("its server answered %1.").arg(failure.section(QLatin1Char('\n'), 0, 0))
                                   : failure.isEmpty() ? QStringLiteral("its connection failed.")
                                                       : WithoutDetails(failure),
                                   w && w->forGood ? QStringLiteral("They wait until mail is checked or sent again.")
                                                   : QStringLiteral("They will be tried again at %1.").arg(WhenText(w ? w->until : now())));
        }
        q.setRunNotes(m_runNotes);
        // One flush for the run's records, moves and removals: until it lands, a crash can at worst
        // bring a sent message back into the Outbox as possibly delivered, never lose one.
        if (!m_list.isEmpty())
            q.flush();
        QStringList filed;
        {
            std::lock_guard lock(m_filedMutex);
            filed.swap(m_filed);
        }
        // A filed message leaves the queue once its new place is on the disk: a power loss before
        // that may bring it back into the Outbox, where its row still says it went.
        if (!filed.isEmpty() && SyncDir(m_sentItems + QStringLiteral("/cur")) && SyncDir(m_outbox + QStringLiteral("/new"))
            && SyncDir(m_outbox + QStringLiteral("/cur")))
            q.forget(filed);
        q.checkpoint();
    }

    // Moved to Sent Items (or removed): leaves the queue at the end of the run.
    void filed(const QString& unique)
    {
        std::lock_guard lock(m_filedMutex);
        m_filed << unique;
    }

    const std::shared_ptr<OutboxQueue> m_queue;
    OutboxQueue& q;
    const QString m_outbox, m_sentItems;
    const QList<Account>& m_accounts;
    const std::function<void(const MessageReport&)>& m_onMessage;
    const std::atomic_bool* m_halt;
    TransferAbort* m_abort;
    const DeliveryOptions& m_options;

    RunReport m_report;
    QList<OutboxQueue::Candidate> m_list;
    Marks* m_marks = nullptr;
    Helper* m_reader = nullptr;
    Helper* m_filer = nullptr;
    Helper* m_recorder = nullptr;
    std::atomic_bool m_recordFailed{false};
    // Transfers started in this run, for the recorder to go beside them.
    std::mutex m_transferMutex;
    std::condition_variable m_transferStarted;
    std::atomic<quint64> m_transfers{0};
    bool m_lastTransfer = false;
    std::vector<std::future<std::shared_ptr<Prepared>>> m_prepared;
    qsizetype m_posted = 0;
    std::map<QString, std::unique_ptr<Transport>> m_transports;
    QHash<QString, int> m_untried;    // per account whose connection failed
    QHash<QString, QString> m_accountFailures;    // how it failed
    QStringList m_runNotes;
    std::mutex m_filedMutex;
    QStringList m_filed;
    // Delivered, their outcomes recorded, waiting for the filer.
    struct ToFile {
        MessageReport m;
        QString unique;
        bool deleteAfterSubmit = false;
        quint64 commit = 0;
    };
    std::mutex m_inHandMutex;
    std::condition_variable m_inHandWake;
    QList<ToFile> m_inHand;
    bool m_filerPosted = false;
    bool m_lastMessage = false;    // the run has tried its last: file at once
    bool m_endMarkFailed = false;
};

} // namespace

QStringList OwedRecipients(const QStringList& all, const QList<RecipientStatus>& known)
{
    const QHash<QString, qsizetype> index = indexOf(known);
    QStringList owed;
    QSet<QString> named;
    named.reserve(all.size());
    for (const QString& a : all) {
        const QString key = AddressKey(a);
        if (named.contains(key))
            continue;
        named.insert(key);
        const qsizetype k = index.value(key, -1);
        if (k < 0 || known[k].state == RecipientState::Owed || known[k].state == RecipientState::Deferred)
            owed << a;
    }
    return owed;
}

QList<RecipientStatus> AttemptOutcome(const QStringList& named, const SendResult& result, const QDateTime& retryAt)
{
    const auto untilFor = [&](RecipientState s) { return s == RecipientState::Deferred ? retryAt : QDateTime(); };
    QList<RecipientStatus> out;
    out.reserve(named.size());
    for (const QString& a : named)
        out.append({a, result.outcome, untilFor(result.outcome), result.outcome == RecipientState::Accepted ? QString() : result.answer});
    // Each refusal belongs to the recipient named at its place, whatever its text says.
    for (const RecipientRefusal& r : result.refused)
        if (r.index >= 0 && r.index < out.size())
            out[r.index] = {named[r.index], r.state, untilFor(r.state), r.answer};
    return out;
}

QList<RecipientStatus> MergeOutcome(QList<RecipientStatus> known, const QList<RecipientStatus>& outcome)
{
    QHash<QString, qsizetype> index = indexOf(known);
    for (const RecipientStatus& r : outcome) {
        const QString key = AddressKey(r.address);
        const qsizetype k = index.value(key, -1);
        if (k < 0) {
            index.insert(key, known.size());
            known.append(r);
        } else {
            known[k] = r;
        }
    }
    known.removeIf([](const RecipientStatus& r) { return r.state == RecipientState::Owed; });
    return known;
}

QueueState MessageState(const QStringList& all, const QList<RecipientStatus>& known)
{
    if (!OwedRecipients(all, known).isEmpty())
        return QueueState::Waiting;
    const auto any = [&](RecipientState s) {
        return std::any_of(known.begin(), known.end(), [&](const RecipientStatus& r) { return r.state == s; });
    };
    if (any(RecipientState::MaybeDelivered))
        return QueueState::MaybeDelivered;
    if (any(RecipientState::Accepted))
        return QueueState::Delivered;
    return QueueState::Refused;
}

QString MessageAnswer(QueueState state, const QList<RecipientStatus>& known)
{
    RecipientState of = RecipientState::Deferred;
    if (state == QueueState::Refused)
        of = RecipientState::Refused;
    else if (state == QueueState::MaybeDelivered)
        of = RecipientState::MaybeDelivered;
    else if (state != QueueState::Waiting)
        return {};
    QStringList answers;
    QSet<QString> seen;
    for (const RecipientStatus& r : known)
        if (r.state == of && !r.answer.isEmpty() && !seen.contains(r.answer)) {
            seen.insert(r.answer);
            answers << r.answer;
        }
    return answers.join(QLatin1Char('\n'));
}

QDateTime RetryTime(const QDateTime& now, int attempts, const DeliveryOptions& o)
{
    qint64 wait = std::max(1, o.firstRetrySeconds);
    for (int i = 1; i < attempts && wait < o.lastRetrySeconds; ++i)
        wait *= 2;
    return now.addSecs(std::min<qint64>(wait, std::max(o.lastRetrySeconds, o.firstRetrySeconds)));
}

RunReport DeliverOutbox(const QString& outbox, const QString& sentItems, const QList<Account>& accounts,
                        const std::function<void(const MessageReport&)>& onMessage, const std::atomic_bool* halt,
                        TransferAbort* abort, const DeliveryOptions& options)
{
    return Run(outbox, sentItems, accounts, onMessage, halt, abort, options).go();
}

QStringList RunReceiveCommands(const QList<Account>& accounts, const TransferAbort* abort)
{
    QStringList failures;
    for (const Account& a : accounts) {
        if (!a.sendReceive || a.receiveCommand.trimmed().isEmpty())
            continue;
        QString err;
        if (abort && abort->aborted())
            break;
        if (!RunShellCommand(a.receiveCommand, nullptr, &err, 600000, abort))
            failures << QStringLiteral("Receiving mail for \"%1\" failed: %2").arg(a.name, err);
    }
    return failures;
}

} // namespace mail::send
