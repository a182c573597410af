#include "platform/mail/send/Spooler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <deque>
#include <thread>
#include <chrono>
#include <future>
#include <map>
#include <memory>

#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/Outgoing.h"

namespace mail::send {

namespace {

constexpr int kLargestMarkGroup = 256;

QString whenText(const QDateTime& t)
{
    const QDateTime local = t.toLocalTime();
    if (local.date() == QDate::currentDate())
        return QLocale().toString(local.time(), QLocale::ShortFormat);
    return QLocale().toString(local, QLocale::ShortFormat);
}

QString retryText(const QDateTime& next)
{
    return next.isValid() ? QStringLiteral("It will be tried again at %1.").arg(whenText(next))
                          : QStringLiteral("It will be tried again with the next delivery.");
}

// The server's answer as a sentence of the line that tells it.
QString sentence(const QString& answer)
{
    const QString a = answer.trimmed();
    return a.endsWith(QLatin1Char('.')) || a.endsWith(QLatin1Char('!')) || a.endsWith(QLatin1Char('?')) ? a : a + QLatin1Char('.');
}

const QString kForUser = QStringLiteral("It will not be tried again: open it in the Outbox to send it again or delete it.");

// Kept beside a message whose connection ended after the whole of it went: what the Outbox's
// message window shows.
QString lostAnswerText(const QString& why)
{
    return QStringLiteral("The connection ended after the whole message had gone to the server and before it answered, so "
                          "the server may have received it (%1). It will not be sent again by itself: check with its "
                          "recipients before you send it again.")
        .arg(why.trimmed());
}

// "bob@example.net" or "bob@example.net and 2 others".
QString recipientsText(const MessageReport& m)
{
    QString who = m.recipients.isEmpty() ? QStringLiteral("no one") : m.recipients.first();
    if (m.recipients.size() == 2)
        who += QStringLiteral(" and 1 other");
    else if (m.recipients.size() > 2)
        who += QStringLiteral(" and %1 others").arg(m.recipients.size() - 1);
    return who;
}

QString messageText(const MessageReport& m) { return QStringLiteral("A message to %1 (\"%2\")").arg(recipientsText(m), m.subject); }

// Waits after a temporary refusal: doubling from the first to the last.
QDateTime retryTime(const QDateTime& now, int attempts, const DeliveryOptions& o)
{
    qint64 wait = std::max(1, o.firstRetrySeconds);
    for (int i = 1; i < attempts && wait < o.lastRetrySeconds; ++i)
        wait *= 2;
    return now.addSecs(std::min<qint64>(wait, std::max(o.lastRetrySeconds, o.firstRetrySeconds)));
}

// The "may be tried soon" marks, flushed a group ahead of the transfers on a thread of their own,
// so that a transfer waits for the disk only when the disk is slower than the network.
class Marks {
public:
    Marks(OutboxQueue& q, const QList<OutboxQueue::Candidate>& list) : m_q(q), m_list(list) {}
    ~Marks()
    {
        if (m_pending.valid())
            m_pending.wait();
    }
    // True once list[i]'s mark is on disk.
    bool cover(qsizetype i)
    {
        if (i >= m_durable) {
            if (!m_pending.valid())
                issue(i);
            const bool waited = m_pending.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
            if (!m_pending.get())
                return false;
            m_durable = m_pendingTo;
            if (waited)
                m_group = std::min(m_group * 2, kLargestMarkGroup);
        }
        if (!m_pending.valid() && m_marked < m_list.size())
            issue(m_marked);
        return i < m_durable;
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
        if (!m_q.markAhead(uniques)) {
            std::promise<bool> failed;
            failed.set_value(false);
            m_pending = failed.get_future();
            return;
        }
        OutboxQueue* q = &m_q;
        m_pending = std::async(std::launch::async, [q] { return q->flush(); });
    }

    OutboxQueue& m_q;
    const QList<OutboxQueue::Candidate>& m_list;
    qsizetype m_marked = 0;
    qsizetype m_durable = 0;
    qsizetype m_pendingTo = 0;
    int m_group = 4;
    std::future<bool> m_pending;
};

constexpr qsizetype kReadAhead = 8;

// A message read and made ready for the wire.
struct Prepared {
    bool readable = false;
    QString error;
    QByteArray stored;
    Outgoing out;
};

std::shared_ptr<Prepared> prepare(const QString& path)
{
    auto p = std::make_shared<Prepared>();
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        p->error = f.errorString();
        return p;
    }
    p->stored = f.readAll();
    p->readable = true;
    p->out = PrepareOutgoing(p->stored);
    return p;
}

// A second pair of hands for a run: it reads the next messages and files the sent ones while the
// transport waits on the network. Tasks run in the order they were posted.
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

} // namespace

QString RunSummary(const RunReport& r)
{
    QStringList parts;
    if (r.delivered)
        parts << QStringLiteral("%1 sent").arg(r.delivered);
    if (r.queued)
        parts << QStringLiteral("%1 waiting for a retry").arg(r.queued);
    if (r.permanent + r.refusedRecipients)
        parts << QStringLiteral("%1 refused").arg(r.permanent + r.refusedRecipients);
    if (r.maybeDelivered)
        parts << QStringLiteral("%1 may have been delivered").arg(r.maybeDelivered);
    const bool anything = r.delivered || r.temporary || r.permanent || r.maybeDelivered || r.refusedRecipients
                          || !r.failures.isEmpty();
    if (!anything || parts.isEmpty())
        return {};
    QString line = QStringLiteral("Sending: ") + parts.join(QStringLiteral(", ")) + QLatin1Char('.');
    // The first refusal in a few words: who, and the server's own answer.
    if (!r.refusals.isEmpty())
        line += QLatin1Char(' ') + r.refusals.first().recipient + QStringLiteral(": ") + r.refusals.first().answer;
    else if (r.maybeDelivered)
        line += QStringLiteral(" The server may have received %1: check with the recipients before you send again from the Outbox.")
                    .arg(r.maybeDelivered == 1 ? QStringLiteral("it") : QStringLiteral("them"));
    else if (!r.failures.isEmpty())
        line += QLatin1Char(' ') + r.failures.first();
    return line;
}

QString RunDetails(const RunReport& r, int first)
{
    QStringList lines = r.failures.mid(0, first);
    if (const qsizetype more = std::max<qsizetype>(0, r.failures.size() - first) + r.unlisted; more > 0)
        lines << QStringLiteral("... and %1 more.").arg(more);
    return lines.join(QLatin1Char('\n'));
}

RunReport DeliverOutbox(const QString& outbox, const QString& sentItems, const QList<Account>& accounts,
                        const std::function<void(const MessageReport&)>& onMessage,
                        const std::atomic_bool* halt, TransferAbort* abort, const DeliveryOptions& options)
{
    RunReport report;
    const std::shared_ptr<OutboxQueue> queue = OutboxQueue::Of(outbox);
    OutboxQueue& q = *queue;
    auto runLock = q.lockRun();
    const QDateTime now = QDateTime::currentDateTimeUtc();
    q.clearAccountWaits(!options.dueOnly, now);

    // What a crash left in flight waits for the user; it is told once.
    for (const QString& unique : q.takeFoundInFlight()) {
        MessageReport m;
        const QString path = q.pathOf(unique);
        QFile f(path);
        if (f.open(QIODevice::ReadOnly)) {
            const Outgoing out = PrepareOutgoing(f.readAll());
            m.subject = out.subject;
            m.recipients = out.recipients;
        }
        m.file = path;
        m.outcome = Outcome::MaybeDelivered;
        m.answer = q.keptAnswer(unique).value_or(Refusal{}).answer;
        ++report.maybeDelivered;
        report.failures << messageText(m) + QStringLiteral(" may have been delivered: the program stopped while it was being sent. ") + kForUser;
        if (onMessage)
            onMessage(m);
    }

    // Accepted earlier and not filed: filed now, never sent again.
    QList<OutboxQueue::Candidate> toFile;
    const QList<OutboxQueue::Candidate> list = q.candidates(options.dueOnly, now, &toFile);
    for (const OutboxQueue::Candidate& c : toFile) {
        QFile f(c.path);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const Outgoing out = PrepareOutgoing(f.readAll());
        f.close();
        QString err;
        if (!file(c.path, sentItems, out.deleteAfterSubmit, &err).isEmpty())
            q.forget(c.unique);
    }

    std::map<QString, std::unique_ptr<Transport>> transports;
    QHash<QString, int> untried;    // per account whose connection failed
    std::atomic_bool anyFiled{false};
    Marks marks(q, list);
    if (!list.isEmpty())
        q.beginRun();

    // The helper files sent messages beside the run: what both tell goes through this lock.
    std::mutex told;
    // local: a fault of the set-up, not of the server; tried again with the next run, whatever starts it.
    auto finish = [&](MessageReport& m, Outcome outcome, const QString& answer, const QString& unique, int attempts,
                      bool local = false) {
        m.outcome = outcome;
        m.answer = answer;
        const QString through = m.account.isEmpty() ? QString() : QStringLiteral(" through \"%1\"").arg(m.account);
        QString line;
        switch (outcome) {
        case Outcome::Delivered:
            break;
        case Outcome::Temporary:
            m.nextTry = local ? QDateTime() : retryTime(QDateTime::currentDateTimeUtc(), attempts + 1, options);
            q.notDelivered(unique, true, m.nextTry);
            q.keepAnswer(unique, false, answer);
            line = messageText(m) + QStringLiteral(" could not be sent%1: %2 ").arg(through, sentence(answer)) + retryText(m.nextTry);
            break;
        case Outcome::Permanent:
            q.refused(unique);
            q.keepAnswer(unique, true, answer);
            line = messageText(m) + QStringLiteral(" could not be sent%1: %2 ").arg(through, sentence(answer)) + kForUser;
            break;
        case Outcome::MaybeDelivered:
            q.maybeDelivered(unique);
            q.keepAnswer(unique, true, lostAnswerText(answer));
            line = messageText(m)
                   + QStringLiteral(" may have been delivered%1: the connection ended after the whole message had gone and "
                                    "before the server answered (%2). ")
                         .arg(through, answer.trimmed())
                   + kForUser;
            break;
        }
        std::lock_guard lock(told);
        ++(outcome == Outcome::Delivered       ? report.delivered
           : outcome == Outcome::Temporary     ? report.temporary
           : outcome == Outcome::Permanent     ? report.permanent
                                               : report.maybeDelivered);
        if (!line.isEmpty()) {
            report.failures << line;
            if (outcome != Outcome::MaybeDelivered)
                report.refusals.append({recipientsText(m), answer, outcome == Outcome::Permanent});
        }
        if (onMessage)
            onMessage(m);
    };

    // The recipients a server refused for now get a copy of their own, kept out of Sent Items,
    // where the message filed stands for both.
    struct Again {
        QString path;
        QString error;
        QDateTime next;
    };
    auto queueAgain = [&](const QByteArray& stored, const SendResult& result) {
        Again again;
        QStringList later, laterAnswers;
        for (const RecipientRefusal& r : result.refused) {
            if (!r.permanent) {
                later << r.recipient;
                laterAnswers << r.answer;
            }
        }
        if (later.isEmpty())
            return again;
        again.next = retryTime(QDateTime::currentDateTimeUtc(), 1, options);
        const QByteArray copy = QByteArray(kEnvelopeHeader) + ": " + later.join(QStringLiteral(", ")).toUtf8() + "\n"
                                + kDeleteAfterSubmitHeader + ": 1\n" + stored;
        again.path = q.enqueue(copy, &again.error);
        if (!again.path.isEmpty()) {
            const QString copyUnique = MaildirUniquePart(again.path);
            q.notDelivered(copyUnique, true, again.next);
            q.keepAnswer(copyUnique, false, laterAnswers.join(QLatin1Char('\n')));
        }
        return again;
    };

    // Filed in Sent Items (or removed), and the recipients refused one by one told.
    auto fileSent = [&](MessageReport m, const QString& unique, const QString& path, const Outgoing& out,
                        const SendResult& result, const Again& again) {
        QStringList lines, notes;
        QList<RecipientRefusal> gone;
        int refusedForGood = 0;
        for (const RecipientRefusal& r : result.refused) {
            refusedForGood += r.permanent ? 1 : 0;
            const bool queuedAgain = !r.permanent && !again.path.isEmpty();
            const QString tail = r.permanent ? QStringLiteral("It was not sent to that address.")
                                 : !queuedAgain ? QStringLiteral("It could not be queued again for that address: %1").arg(again.error)
                                                : QStringLiteral("It will be tried again for that address at %1.").arg(whenText(again.next));
            lines << messageText(m) + QStringLiteral(" was sent, but the server refused %1: %2 ").arg(r.recipient, sentence(r.answer)) + tail;
            // One queued again is told by its copy in the Outbox.
            if (!queuedAgain) {
                notes << lines.last();
                gone << r;
            }
        }
        {
            std::lock_guard lock(told);
            report.refusedRecipients += refusedForGood;
            report.failures += lines;
            report.refusals += result.refused;
            report.sentNotes += notes;
            report.sentRefusals += gone;
        }
        QString err;
        m.storedAs = file(path, sentItems, out.deleteAfterSubmit, &err);
        if (m.storedAs.isEmpty()) {
            q.keepAnswer(unique, true, QStringLiteral("The message was sent, but could not be filed: %1").arg(err));
        } else {
            q.forget(unique);
            anyFiled = true;
        }
        if (out.deleteAfterSubmit)
            m.storedAs.clear();
        finish(m, Outcome::Delivered, result.answer, unique, 0);
    };

    // Declared last, so that it is done before anything its tasks use goes; none for an empty run.
    std::optional<Helper> helping;
    if (!list.isEmpty())
        helping.emplace();
    Helper* helper = helping ? &*helping : nullptr;
    std::vector<std::future<std::shared_ptr<Prepared>>> prepared(size_t(list.size()));
    qsizetype posted = 0;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (halt && halt->load()) {
            report.stopped = true;
            break;
        }
        // The next few are read and made ready while this one is on the wire.
        for (; posted < std::min(list.size(), i + kReadAhead); ++posted) {
            auto promise = std::make_shared<std::promise<std::shared_ptr<Prepared>>>();
            prepared[size_t(posted)] = promise->get_future();
            helper->post([promise, path = list[posted].path] { promise->set_value(prepare(path)); });
        }
        const OutboxQueue::Candidate& c = list[i];
        std::shared_ptr<Prepared> pr = prepared[size_t(i)].get();
        MessageReport m;
        m.file = c.path;
        if (!pr->readable) {
            // Renamed since it was listed (its flags), gone, or unreadable.
            const QString where = q.pathOf(c.unique);
            if (where.isEmpty()) {
                q.forget(c.unique);
                continue;
            }
            m.file = where;
            pr = prepare(where);
            if (!pr->readable) {
                finish(m, Outcome::Temporary, QStringLiteral("The message cannot be read: %1").arg(pr->error), c.unique, c.attempts);
                continue;
            }
        }
        const Outgoing& out = pr->out;
        m.account = out.account;
        m.subject = out.subject;
        m.recipients = out.recipients;
        std::optional<Account> account = out.account.isEmpty() ? DefaultAccount(accounts) : FindAccount(accounts, out.account);
        if (account)
            m.account = account->name;
        if (!account) {
            // Waits until the account is set up.
            finish(m, Outcome::Temporary,
                   out.account.isEmpty() ? QStringLiteral("No mail account is set up.")
                                         : QStringLiteral("There is no mail account \"%1\".").arg(out.account),
                   c.unique, c.attempts, true);
            continue;
        }
        if (const QString problem = account->problem(); !problem.isEmpty()) {
            finish(m, Outcome::Temporary, problem, c.unique, c.attempts, true);
            continue;
        }
        if (!out.problem.isEmpty()) {
            finish(m, Outcome::Permanent, out.problem, c.unique, c.attempts);
            continue;
        }
        if (const auto wait = q.accountWait(account->name)) {
            ++untried[account->name];
            q.postpone(c.unique, wait->forGood ? QDateTime() : wait->until);
            continue;
        }
        if (!marks.cover(i)) {
            std::lock_guard lock(told);
            report.failures << QStringLiteral("The Outbox's sending queue cannot be written: nothing more is sent until it can.");
            report.runNotes << report.failures.last();
            break;
        }
        QString path;
        if (!q.startAttempt(c.unique, &path))
            continue;    // held by the user, or gone
        m.file = path;

        auto& transport = transports[account->name];
        if (!transport)
            transport = MakeTransport(*account, abort, options.timeoutSeconds);
        // Queued before any account existed: the account that sends it signs it.
        const SendResult result = transport->send(account->address, out.recipients,
                                                  out.hasFrom ? out.wire : FromHeader(account->displayName, account->address) + out.wire);
        m.refused = result.refused;
        if (result.outcome != Outcome::Delivered) {
            if (result.sessionFailed) {
                // The rest of this account's messages wait for the next retry, not each for a timeout.
                OutboxQueue::AccountWait w = q.accountWait(account->name).value_or(OutboxQueue::AccountWait{});
                ++w.failures;
                w.forGood = result.outcome == Outcome::Permanent;
                w.until = retryTime(QDateTime::currentDateTimeUtc(), w.failures, options);
                q.setAccountWait(account->name, w);
            }
            finish(m, result.outcome, result.answer, c.unique, c.attempts);
            continue;
        }
        // Accepted: never sent again, whatever happens next. Those refused for now are queued
        // on their own first: a crash in between leaves their copy to go, and the message
        // waiting as possibly delivered, never a recipient lost.
        const Again again = queueAgain(pr->stored, result);
        q.delivered(c.unique);
        q.clearAccountWait(account->name);
        if (options.accepted)
            options.accepted();
        helper->post([&fileSent, m, unique = c.unique, path, pr, result, again] { fileSent(m, unique, path, pr->out, result, again); });
    }
    if (helper)
        helper->drain();
    // Marked and never tried (a failed connection, a pause): back to waiting.
    for (const QString& unique : std::as_const(marks.open))
        q.notDelivered(unique, false, {});
    for (auto it = untried.cbegin(); it != untried.cend(); ++it) {
        const auto w = q.accountWait(it.key());
        report.failures << QStringLiteral("%1 more message(s) through \"%2\" were not tried: its connection failed. %3")
                               .arg(it.value())
                               .arg(it.key(), w && w->forGood ? QStringLiteral("They wait until mail is checked or sent again.")
                                                              : QStringLiteral("They will be tried again at %1.").arg(whenText(w ? w->until : now)));
        report.runNotes << report.failures.last();
    }
    // One flush for the run's records, moves and removals: until it lands, a crash can at worst
    // bring a sent message back into the Outbox as possibly delivered, never lose one.
    if (!list.isEmpty())
        q.flush();
    if (anyFiled.load()) {
        SyncDir(sentItems + QStringLiteral("/cur"));
        SyncDir(outbox + QStringLiteral("/new"));
        SyncDir(outbox + QStringLiteral("/cur"));
    }
    q.compact();
    report.queued = q.waitingCount();
    report.waiting = q.count(QueueState::Refused) + q.count(QueueState::MaybeDelivered) - report.permanent - report.maybeDelivered;
    return report;
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

namespace {

// The lines about messages waiting in the Outbox that are told in full; the rest are counted.
constexpr qsizetype kListedWaiting = 10;
// How long the telling waits after a message left the Outbox, for the others leaving with it.
constexpr int kTellAfterMs = 100;

// A stored message up to the end of its header, enough for whom it goes to and through which account.
QByteArray headOf(const QString& path)
{
    QFile f(path);
    QByteArray head;
    if (!f.open(QIODevice::ReadOnly))
        return head;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine();
        head += line;
        if (line == "\n" || line == "\r\n")
            break;
    }
    return head;
}

// The tally of the runs since the user last sent, the last run's notes, and every message that
// waits in the Outbox refused or possibly delivered, as the queue has it: after a restart too.
RunReport toldReport(const RunReport& tally, const QStringList& runNotes, OutboxQueue& q, const QList<Account>& accounts)
{
    RunReport t;
    t.delivered = tally.delivered;
    t.temporary = tally.temporary;
    t.refusedRecipients = tally.refusedRecipients;
    t.permanent = q.count(QueueState::Refused);
    t.maybeDelivered = q.count(QueueState::MaybeDelivered);
    t.queued = q.waitingCount();
    qsizetype total = 0;
    const QList<OutboxQueue::Standing> standing = q.standing(kListedWaiting, &total);
    for (const OutboxQueue::Standing& w : standing) {
        QByteArray head = headOf(w.path);
        if (head.isEmpty())
            head = headOf(q.pathOf(w.unique));    // its flags changed
        const Outgoing out = PrepareOutgoing(head);
        MessageReport m;
        m.subject = out.subject;
        m.recipients = out.recipients;
        const std::optional<Account> account = out.account.isEmpty() ? DefaultAccount(accounts) : FindAccount(accounts, out.account);
        m.account = account ? account->name : out.account;
        const QString through = m.account.isEmpty() ? QString() : QStringLiteral(" through \"%1\"").arg(m.account);
        const QString& answer = w.refusal.answer;
        if (w.state == QueueState::MaybeDelivered) {
            t.failures << messageText(m) + QStringLiteral(" may have been delivered%1. ").arg(through) + answer;
            continue;
        }
        const bool permanent = w.state == QueueState::Refused;
        t.failures << messageText(m) + QStringLiteral(" could not be sent%1: %2 ").arg(through, sentence(answer))
                          + (permanent ? kForUser : retryText(w.nextTry));
        t.refusals.append({recipientsText(m), answer, permanent});
    }
    t.unlisted = int(total - standing.size());
    t.failures += tally.sentNotes;
    t.failures += runNotes;
    t.refusals += tally.sentRefusals;
    // The first told is one the server will not take.
    std::stable_partition(t.refusals.begin(), t.refusals.end(), [](const RecipientRefusal& r) { return r.permanent; });
    return t;
}

} // namespace

Spooler::Spooler(const QString& outbox, const QString& sentItems, QObject* parent)
    : QObject(parent), m_outbox(outbox), m_sentItems(sentItems), m_queue(OutboxQueue::Of(outbox))
{
    // A message that leaves the Outbox may take a refusal off what is told.
    m_queue->watch(this, [this] {
        std::lock_guard lock(m_mutex);
        m_tell = true;
        m_wake.notify_all();
    });
    m_thread.reset(QThread::create([this] { loop(); }));
    m_thread->start();
}

Spooler::~Spooler()
{
    m_queue->unwatch(this);
    stop();
}

void Spooler::deliver(bool now)
{
    std::lock_guard lock(m_mutex);
    m_pending = true;
    m_now = m_now || now;
    m_wake.notify_all();
}

void Spooler::sendReceive()
{
    std::lock_guard lock(m_mutex);
    m_pending = true;
    m_now = true;
    m_receivePending = true;
    m_freshTally = true;
    m_wake.notify_all();
}

void Spooler::newTally()
{
    std::lock_guard lock(m_mutex);
    m_freshTally = true;
}

void Spooler::setOptions(const DeliveryOptions& options)
{
    std::lock_guard lock(m_mutex);
    m_options = options;
    m_wake.notify_all();
}

void Spooler::setPaused(bool paused)
{
    std::lock_guard lock(m_mutex);
    m_paused = paused;
    m_halt = paused || m_stopping;
    m_wake.notify_all();
}

bool Spooler::isPaused() const
{
    std::lock_guard lock(m_mutex);
    return m_paused;
}

void Spooler::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_halt = true;
        m_abort.abort();
        m_wake.notify_all();
    }
    if (m_thread)
        m_thread->wait();
}

bool Spooler::isBusy() const
{
    std::lock_guard lock(m_mutex);
    return m_running || m_pending;
}

bool Spooler::waitUntilIdle(int timeoutMs)
{
    std::unique_lock lock(m_mutex);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
        return m_stopping || (!m_running && (!m_pending || m_paused));
    });
}

void Spooler::loop()
{
    QDateTime lastTimed;
    for (;;) {
        bool receive = false;
        bool now = false;
        bool fresh = false;
        bool run = true;
        DeliveryOptions options;
        {
            std::unique_lock lock(m_mutex);
            bool timed = false;
            for (;;) {
                if (m_stopping)
                    break;
                if (m_pending && !m_paused)
                    break;
                if (m_tell) {
                    // Many leave together (the user deletes a selection): told once for all,
                    // by a run if one is asked for meanwhile.
                    m_wake.wait_for(lock, std::chrono::milliseconds(kTellAfterMs),
                                    [this] { return m_stopping || (m_pending && !m_paused); });
                    run = m_pending && !m_paused;
                    break;
                }
                // The retry timer: the next message or account whose wait ends. Never more
                // often than the first wait, whatever a run leaves behind.
                QDateTime due = m_paused ? QDateTime() : m_queue->nextDue();
                if (due.isValid() && lastTimed.isValid())
                    due = std::max(due, lastTimed.addSecs(std::max(1, m_options.firstRetrySeconds)));
                if (!due.isValid()) {
                    m_wake.wait(lock);
                    continue;
                }
                const qint64 ms = QDateTime::currentDateTimeUtc().msecsTo(due);
                if (ms <= 0) {
                    timed = true;
                    break;
                }
                m_wake.wait_for(lock, std::chrono::milliseconds(std::min<qint64>(ms, 3600000)));
            }
            if (m_stopping)
                break;
            m_tell = false;
            if (run) {
                if (timed)
                    lastTimed = QDateTime::currentDateTimeUtc();
                receive = m_receivePending;
                now = m_now;
                fresh = m_freshTally;
                m_pending = false;
                m_now = false;
                m_receivePending = false;
                m_freshTally = false;
                m_running = true;
                options = m_options;
            }
        }
        if (!run) {
            tell(nullptr, LoadAccounts());
            continue;
        }
        options.dueOnly = !now;

        const QList<Account> accounts = LoadAccounts();
        const RunReport report = DeliverOutbox(
            m_outbox, m_sentItems, accounts,
            [this](const MessageReport& m) {
                if (m.outcome == Outcome::Delivered)
                    Q_EMIT messageDelivered(m.file, m.storedAs);
                else
                    Q_EMIT messageFailed(m.file, m.outcome != Outcome::Temporary, m.answer);
            },
            &m_halt, &m_abort, options);
        QStringList failures = report.failures;
        if (receive && !report.stopped) {
            if (report.waiting > 0)
                failures << QStringLiteral("%1 message(s) refused earlier wait in the Outbox: open them there to send them again or delete them.")
                                .arg(report.waiting);
            failures += RunReceiveCommands(accounts, &m_abort);
        }

        {
            std::lock_guard lock(m_mutex);
            m_running = false;
            m_tell = false;    // what is told next reads the queue as the run left it
            // Broken off by a pause: carry on from where it stopped once resumed.
            if (report.stopped && !m_stopping) {
                m_pending = true;
                m_now = m_now || now;
                m_receivePending = m_receivePending || receive;
            }
        }
        Q_EMIT runFinished(report.delivered, report.temporary + report.permanent);
        if (fresh)
            m_tally = {};
        m_tally.delivered += report.delivered;
        m_tally.temporary += report.temporary;
        m_tally.refusedRecipients += report.refusedRecipients;
        m_tally.sentNotes += report.sentNotes;
        m_tally.sentRefusals += report.sentRefusals;
        m_runNotes = report.runNotes;
        tell(&report, accounts);
        if (receive && !report.stopped)
            Q_EMIT sendReceiveFinished(failures);
        m_idle.notify_all();
    }
    m_idle.notify_all();
}

void Spooler::tell(const RunReport* run, const QList<Account>& accounts)
{
    const RunReport told = toldReport(m_tally, m_runNotes, *m_queue, accounts);
    const QString summary = RunSummary(told);
    const QString details = RunDetails(told);
    const bool ranSomething = run && !RunSummary(*run).isEmpty() && !summary.isEmpty();
    if (!ranSomething && summary == m_toldSummary && details == m_toldDetails)
        return;
    m_toldSummary = summary;
    m_toldDetails = details;
    Q_EMIT runReported(summary, details);
}

} // namespace mail::send
