#pragma once
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <memory>

#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/Delivery.h"
#include "platform/mail/send/DeliveryNews.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/Transport.h"

namespace mail::send {

// Delivers the Outbox on its own thread; the caller never waits on the network. A message
// refused for now is tried again by itself when its retry time comes.
// Signals come from that thread and reach receivers in their own thread (queued).
class Spooler : public QObject {
    Q_OBJECT
public:
    Spooler(const QString& outbox, const QString& sentItems, QObject* parent = nullptr);
    ~Spooler() override;

    QString outbox() const { return m_outbox; }
    QString sentItems() const { return m_sentItems; }
    std::shared_ptr<OutboxQueue> queue() const { return m_queue; }

    // Asks for a delivery run; returns at once. Accounts are read afresh for each run. A message
    // refused for now, and an account whose connection failed, wait for their retry times unless
    // now is set (the user asked).
    void deliver(bool now = false);
    // Delivers everything waiting, then runs the receive commands.
    void sendReceive();
    // The user sent something: what the runs tell is counted afresh from now on.
    void newTally();
    // Paused: requests wait (a run in progress ends after the message in hand) until resumed.
    void setPaused(bool paused);
    bool isPaused() const;
    // Ends the thread; a transfer in progress is broken off and its message stays in the Outbox.
    void stop();
    bool isBusy() const;
    // For tests, benchmarks and quitting only: blocks until no run is pending or running.
    bool waitUntilIdle(int timeoutMs);
    // For tests: the retry waits and the silence that counts as a lost connection.
    void setOptions(const DeliveryOptions& options);

Q_SIGNALS:
    void messageDelivered(const QString& outboxFile, const QString& storedAs);
    // permanent: not tried again by itself (refused for good, or it may have been delivered).
    void messageFailed(const QString& outboxFile, bool permanent, const QString& answer);
    void runFinished(int delivered, int failed);
    // What the user is told of delivery (TellDelivery: the summary, and the details one a line):
    // after each run that delivered or refused anything, and whenever what it tells changes
    // (looked at twice a second while a run goes). Empty: nothing to tell any more.
    void runReported(const QString& summary, const QString& details);
    void sendReceiveFinished(const QStringList& failures);
    // A run stopped because the Outbox's record could not be written (a full disk): what a message
    // box tells the user (StoppedText). Once until a run writes again, however many runs fail.
    void sendingStopped(const QString& text);

private:
    void loop();
    // The user asked for a run: it goes now, whatever runs failed to write before. Under m_mutex.
    void userAsked();
    // run: the run that just ended, if any.
    void tell(const RunReport* run, const QList<Account>& accounts);

    const QString m_outbox;
    const QString m_sentItems;
    const std::shared_ptr<OutboxQueue> m_queue;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    bool m_pending = false;
    bool m_now = false;
    bool m_receivePending = false;
    bool m_running = false;
    bool m_reporting = false;    // a run ended and what it leaves is being told
    bool m_paused = false;
    bool m_stopping = false;
    bool m_tell = false;          // a message left the Outbox
    // Runs that could not write, one after another: the next one waits, doubling, till then
    // (writing again at once would fail again), unless the user asks.
    int m_writeFailures = 0;
    std::optional<std::chrono::steady_clock::time_point> m_writeRetryAt;
    bool m_stopTold = false;      // sendingStopped since a run last wrote
    DeliveryOptions m_options;
    // What was told last: the spooler thread's own, or its ticker's while a run goes.
    QString m_toldSummary, m_toldDetails;
    std::atomic_bool m_halt{false};
    TransferAbort m_abort;
    // A QThread, not a bare thread: the commands it runs (QProcess) need its event dispatcher.
    std::unique_ptr<QThread> m_thread;
};

} // namespace mail::send
