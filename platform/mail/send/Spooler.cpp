#include "platform/mail/send/Spooler.h"

#include <QDateTime>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace mail::send {

namespace {

// How long the telling waits after a message left the Outbox, for the others leaving with it.
constexpr int kTellAfterMs = 100;
// While a run goes, what is told follows it this often, and within kTellSoonest of an outcome
// being recorded; never for more than a tenth of the time, however large the queue it reads (it
// holds the queue, which the run waits for).
constexpr auto kTellEvery = std::chrono::milliseconds(500);
constexpr auto kTellSoonest = std::chrono::milliseconds(100);
constexpr int kTellShare = 10;

} // namespace

Spooler::Spooler(const QString& outbox, const QString& sentItems, QObject* parent)
    : QObject(parent), m_outbox(outbox), m_sentItems(sentItems), m_queue(OutboxQueue::Of(outbox))
{
    // A message that leaves the Outbox may take a refusal off what is told; one released may be
    // due (the loop reads the retry times again).
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
    userAsked();
    m_pending = true;
    m_now = m_now || now;
    m_wake.notify_all();
}

void Spooler::sendReceive()
{
    m_queue->newTally();
    std::lock_guard lock(m_mutex);
    userAsked();
    m_pending = true;
    m_now = true;
    m_receivePending = true;
    m_wake.notify_all();
}

void Spooler::newTally() { m_queue->newTally(); }

void Spooler::userAsked()
{
    m_writeFailures = 0;
    m_writeRetryAt.reset();
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
        return m_stopping || (!m_running && !m_reporting && (!m_pending || m_paused));
    });
}

void Spooler::loop()
{
    // When the timer last started a run, on a clock that a change of the time of day leaves alone.
    std::optional<std::chrono::steady_clock::time_point> lastTimed;
    for (;;) {
        bool receive = false;
        bool now = false;
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
                if (m_writeRetryAt && !m_paused) {
                    // The last run could not write: the next one waits its turn, whatever is due.
                    const auto left = *m_writeRetryAt - std::chrono::steady_clock::now();
                    if (left <= std::chrono::steady_clock::duration::zero()) {
                        m_writeRetryAt.reset();
                        m_pending = true;
                        break;
                    }
                    m_wake.wait_for(lock, left);
                    continue;
                }
                // The retry timer: the next messages or account whose waits end, those due
                // together in one run, none further off than the longest wait. Never more often
                // than every few seconds, whatever a run leaves behind.
                const QDateTime wall = QDateTime::currentDateTimeUtc();
                const QDateTime due = m_paused ? QDateTime()
                                               : m_queue->nextDue(wall.addSecs(std::max(m_options.lastRetrySeconds, m_options.firstRetrySeconds)),
                                                                  kDueTogetherSeconds);
                if (!due.isValid()) {
                    m_wake.wait(lock);
                    continue;
                }
                auto wait = std::chrono::milliseconds(std::max<qint64>(0, wall.msecsTo(due)));
                if (lastTimed) {
                    const auto spaced = *lastTimed + std::chrono::seconds(kDueTogetherSeconds) - std::chrono::steady_clock::now();
                    wait = std::max(wait, std::chrono::duration_cast<std::chrono::milliseconds>(spaced));
                }
                if (wait.count() <= 0) {
                    timed = true;
                    break;
                }
                m_wake.wait_for(lock, std::min<std::chrono::milliseconds>(wait, std::chrono::hours(1)));
            }
            if (m_stopping)
                break;
            m_tell = false;
            if (run) {
                if (timed)
                    lastTimed = std::chrono::steady_clock::now();
                receive = m_receivePending;
                now = m_now;
                m_pending = false;
                m_now = false;
                m_receivePending = false;
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
        // What is told follows the run as it goes, however long one transfer takes.
        tell(nullptr, accounts);
        std::mutex tickMutex;
        std::condition_variable tickWake;
        bool ran = false;
        bool recorded = false;    // an outcome is on record that was not told yet
        std::thread ticker([&] {
            std::unique_lock lock(tickMutex);
            for (;;) {
                tickWake.wait_for(lock, kTellEvery, [&] { return ran || recorded; });
                if (ran)
                    return;
                recorded = false;
                lock.unlock();
                const auto began = std::chrono::steady_clock::now();
                tell(nullptr, accounts);
                const auto spent = std::chrono::steady_clock::now() - began;
                lock.lock();
                tickWake.wait_for(lock, std::max<std::chrono::steady_clock::duration>(kTellSoonest, kTellShare * spent),
                                  [&] { return ran; });
            }
        });
        const RunReport report = DeliverOutbox(
            m_outbox, m_sentItems, accounts,
            [&, this](const MessageReport& m) {
                {
                    std::lock_guard lock(tickMutex);
                    recorded = true;
                }
                tickWake.notify_all();
                if (m.state == QueueState::Delivered)
                    Q_EMIT messageDelivered(m.file, m.storedAs);
                else
                    Q_EMIT messageFailed(m.file, m.state != QueueState::Waiting, m.answer);
            },
            &m_halt, &m_abort, options);
        {
            std::lock_guard lock(tickMutex);
            ran = true;
        }
        tickWake.notify_all();
        ticker.join();
        QStringList failures;
        if (receive && !report.stopped) {
            failures = TellDelivery(*m_queue, accounts).details();
            failures += RunReceiveCommands(accounts, &m_abort);
        }

        bool tellStop = false;
        {
            std::lock_guard lock(m_mutex);
            m_running = false;
            m_reporting = true;
            m_tell = false;    // what is told next reads the queue as the run left it
            if (!report.unwritable.isEmpty() && !m_stopping) {
                // Tried again on doubling waits (the user's asking goes at once), as this one was
                // asked for; told once until a run writes again.
                const int seconds = std::max(1, std::max(options.firstRetrySeconds, 1) << std::min(m_writeFailures, 16));
                ++m_writeFailures;
                m_writeRetryAt = std::chrono::steady_clock::now()
                                 + std::chrono::seconds(std::min(seconds, std::max(options.lastRetrySeconds, 1)));
                m_now = m_now || now;
                m_receivePending = m_receivePending || (receive && report.stopped);
                tellStop = !m_stopTold;
                m_stopTold = true;
            } else if (report.stopped && !m_stopping) {
                // Broken off by a pause: carry on from where it stopped once resumed.
                m_pending = true;
                m_now = m_now || now;
                m_receivePending = m_receivePending || receive;
            }
            if (report.unwritable.isEmpty()) {
                m_writeFailures = 0;
                m_writeRetryAt.reset();
                m_stopTold = false;
            }
        }
        Q_EMIT runFinished(report.delivered, report.temporary + report.permanent);
        if (tellStop)
            Q_EMIT sendingStopped(StoppedText(report.unwritable, m_outbox));
        tell(&report, accounts);
        if (receive && !report.stopped)
            Q_EMIT sendReceiveFinished(failures);
        {
            std::lock_guard lock(m_mutex);
            m_reporting = false;
        }
        m_idle.notify_all();
    }
    m_idle.notify_all();
}

void Spooler::tell(const RunReport* run, const QList<Account>& accounts)
{
    const DeliveryNews news = TellDelivery(*m_queue, accounts);
    const QString summary = news.summary;
    const QString details = news.details().join(QLatin1Char('\n'));
    const bool ranSomething = run && run->delivered + run->temporary + run->permanent + run->maybeDelivered > 0 && !summary.isEmpty();
    if (!ranSomething && summary == m_toldSummary && details == m_toldDetails)
        return;
    m_toldSummary = summary;
    m_toldDetails = details;
    Q_EMIT runReported(summary, details);
}

} // namespace mail::send
