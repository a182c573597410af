#include "platform/mail/SendBatch.h"

#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/mail/MailItem.h"
#include "platform/mail/MailStore.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/Spooler.h"

namespace mail {

namespace {
// Messages handed over and not queued yet, at most: the caller waits beyond this.
constexpr size_t kInHand = 256;
// Attachments kept encoded, at most (a bulk send has the composer's few).
constexpr qsizetype kEncodedKept = 16;
// Building takes little of a worker's time; most of it waits for its file to reach the disk.
int workerCount() { return std::clamp(QThread::idealThreadCount() * 2, 2, 16); }
} // namespace

struct SendBatch::Impl {
    struct Job {
        int tag = 0;
        MailItemPtr item;  // the caller's thread only
        QString unique;
        mime::OutgoingMessage message;
        mime::Address from;
        QStringList addresses;
        bool built = false;  // written into tmp/, or error set
        bool direct = false; // sent by Send itself
        QString error;
        QString path;
        mime::HeaderSummary headers;
    };
    struct Encoded {
        QByteArray content;
        QString fileName, mimeType;
        mime::OutgoingAttachment ready;
    };

    std::shared_ptr<detail::Session> session;
    std::shared_ptr<send::OutboxQueue> queue;
    QString outbox;
    std::optional<QList<send::Account>> accounts;
    bool oneByOne = false;  // no threads
    bool tallied = false;   // the spooler was told of a new send
    QList<Encoded> encoded;

    std::mutex mutex;
    std::condition_variable work;     // workers: something to build
    std::condition_variable front;    // committer: the first one in hand may be ready
    std::condition_variable changed;  // the caller: room in hand, or outcomes
    std::deque<std::unique_ptr<Job>> inHand;  // handed over, not queued yet: in order
    std::deque<Job*> toBuild;
    std::vector<std::unique_ptr<Job>> done;
    size_t committing = 0;
    bool stopping = false;
    std::vector<std::thread> threads;

    // False when no thread can be started: the messages then go through Send one by one.
    bool start(const std::shared_ptr<detail::Session>& s)
    {
        queue = s->outboxQueue();
        outbox = queue->outbox();
        const int n = workerCount();
        try {
            threads.reserve(size_t(n) + 1);
            for (int k = 0; k < n; ++k)
                threads.emplace_back([this] { buildLoop(); });
            threads.emplace_back([this] { commitLoop(); });
        } catch (const std::system_error&) {
            stop();
            return false;
        }
        session = s;
        return true;
    }

    void stop()
    {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        work.notify_all();
        front.notify_all();
        for (std::thread& t : threads)
            t.join();
        threads.clear();
    }

    // The same attachment in every message: encoded the first time only.
    mime::OutgoingAttachment encodedOnce(const mime::OutgoingAttachment& a)
    {
        for (const Encoded& e : std::as_const(encoded))
            if (e.content.constData() == a.content.constData() && e.content.size() == a.content.size() && e.fileName == a.fileName
                && e.mimeType == a.mimeType)
                return e.ready;
        if (encoded.size() >= kEncodedKept)
            encoded.removeFirst();
        encoded.append({a.content, a.fileName, a.mimeType, mime::encodeAttachment(a)});
        return encoded.constLast().ready;
    }

    void build(Job& j)
    {
        try {
            const QByteArray bytes = mime::buildMessage(j.message);
            j.message = {};
            j.error = MailItem::sendProblem(bytes, j.addresses);
            if (!j.error.isEmpty())
                return;
            j.headers = mime::parseHeaders(bytes.left(bytes.indexOf("\n\n") + 1));
            QString error;
            if (!send::WriteToMaildirTmp(outbox, j.unique, bytes, &error))
                j.error = QStringLiteral("The message could not be put in the Outbox: %1").arg(error);
        } catch (const std::exception& e) {
            j.error = QString::fromUtf8(e.what());
        }
    }

    void buildLoop()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            work.wait(lock, [this] { return stopping || !toBuild.empty(); });
            if (toBuild.empty())
                return;
            Job* j = toBuild.front();
            toBuild.pop_front();
            lock.unlock();
            build(*j);
            lock.lock();
            j->built = true;
            if (j == inHand.front().get())
                front.notify_one();
        }
    }

    // Queues, in order, every message at the front whose file is written: their marks go to
    // disk with one flush while the workers write the next ones.
    void commitLoop()
    {
        std::unique_lock lock(mutex);
        for (;;) {
            front.wait(lock, [this] { return stopping || (!inHand.empty() && inHand.front()->built); });
            if (inHand.empty() || !inHand.front()->built) {
                if (stopping)
                    return;
                continue;
            }
            std::vector<std::unique_ptr<Job>> batch;
            while (!inHand.empty() && inHand.front()->built) {
                batch.push_back(std::move(inHand.front()));
                inHand.pop_front();
            }
            committing = batch.size();
            changed.notify_all();
            lock.unlock();
            QStringList uniques;
            std::vector<Job*> written;
            for (const std::unique_ptr<Job>& j : batch) {
                if (j->error.isEmpty()) {
                    uniques << j->unique;
                    written.push_back(j.get());
                }
            }
            if (!uniques.isEmpty()) {
                const QList<send::OutboxQueue::Queued> queued = queue->enqueueWritten(uniques);
                for (size_t k = 0; k < written.size(); ++k) {
                    if (queued[qsizetype(k)].path.isEmpty())
                        written[k]->error = QStringLiteral("The message could not be put in the Outbox: %1").arg(queued[qsizetype(k)].error);
                    else
                        written[k]->path = queued[qsizetype(k)].path;
                }
            }
            lock.lock();
            for (std::unique_ptr<Job>& j : batch)
                done.push_back(std::move(j));
            committing = 0;
            changed.notify_all();
        }
    }

    void waitAllQueued()
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return inHand.empty() && committing == 0; });
    }
};

SendBatch::SendBatch() : d(std::make_unique<Impl>()) {}

SendBatch::~SendBatch()
{
    d->waitAllQueued();
    TakeResults();
    d->stop();
}

void SendBatch::Send(const MailItemPtr& item, int tag)
{
    if (!item)
        throw MailError(QStringLiteral("There is no message to send."));
    if (!d->session && !d->oneByOne && !item->isSaved() && !d->start(item->session_))
        d->oneByOne = true;
    // The whole send is one for what the delivery runs tell.
    if (!d->tallied) {
        d->tallied = true;
        if (send::Spooler* s = item->session_->spooler())
            s->newTally();
    }
    if (d->oneByOne || item->isSaved() || d->session != item->session_) {
        // Filed already (Send replaces the earlier file), or no threads: Send itself, after the
        // messages before it.
        d->waitAllQueued();
        item->submit(false);
        auto job = std::make_unique<Impl::Job>();
        job->tag = tag;
        job->direct = true;
        std::lock_guard lock(d->mutex);
        d->done.push_back(std::move(job));
        return;
    }
    item->ensureBody();
    item->Attachments();
    if (!d->accounts)
        d->accounts = send::LoadAccounts();
    const std::optional<send::Account> account = item->checkSendable(*d->accounts);
    auto job = std::make_unique<Impl::Job>();
    job->tag = tag;
    job->item = item;
    job->message = item->messageToSend(account);
    job->from = job->message.from;
    for (mime::OutgoingAttachment& a : job->message.attachments)
        a = d->encodedOnce(a);
    job->addresses = item->recipientAddresses();
    // Named now, in the order handed over: the Outbox delivers in name order.
    job->unique = send::MaildirUniqueName();
    std::unique_lock lock(d->mutex);
    d->changed.wait(lock, [this] { return d->inHand.size() < kInHand; });
    d->toBuild.push_back(job.get());
    d->inHand.push_back(std::move(job));
    d->work.notify_one();
}

QList<SendBatch::Result> SendBatch::TakeResults()
{
    std::vector<std::unique_ptr<Impl::Job>> jobs;
    {
        std::lock_guard lock(d->mutex);
        jobs.swap(d->done);
    }
    QList<Result> out;
    out.reserve(qsizetype(jobs.size()));
    bool queued = false;
    for (const std::unique_ptr<Impl::Job>& j : jobs) {
        if (!j->direct && j->error.isEmpty()) {
            j->item->queuedAt(j->path, j->from, j->headers);
            queued = true;
        }
        out.append({j->tag, j->error});
    }
    if (queued)
        if (send::Spooler* s = d->session->spooler())
            s->deliver();
    return out;
}

QList<SendBatch::Result> SendBatch::Finish()
{
    d->waitAllQueued();
    return TakeResults();
}

} // namespace mail
