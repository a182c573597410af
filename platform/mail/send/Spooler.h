#pragma once
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <memory>

#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/Transport.h"

namespace mail::send {

// The answer kept beside an Outbox message that could not be delivered.
struct Refusal {
    bool permanent = false;   // permanent: not tried again until ClearRefusal
    QString answer;
};
std::optional<Refusal> OutboxRefusal(const QString& outbox, const QString& messageFile);
// The user sends the message again: forget its refusal so the next run tries it.
void ClearRefusal(const QString& outbox, const QString& messageFile);

struct MessageReport {
    QString file;       // the Outbox file
    QString account;
    Outcome outcome = Outcome::Temporary;
    QString answer;
    QString storedAs;   // the Sent Items file; empty when deleted or not delivered
};

struct RunReport {
    int delivered = 0;
    int temporary = 0;
    int permanent = 0;
    int waiting = 0;        // left alone: refused permanently before
    bool stopped = false;   // ended early; the rest waits in the Outbox
    QStringList failures;   // one clear line per message not delivered
};

// Delivers every waiting Outbox message once, each through its account's transport (one
// connection per account for the whole run). Checks halt between messages; abort ends a transfer.
RunReport DeliverOutbox(const QString& outbox, const QString& sentItems, const QList<Account>& accounts,
                        const std::function<void(const MessageReport&)>& onMessage = {},
                        const std::atomic_bool* halt = nullptr, TransferAbort* abort = nullptr);

// Runs the receive command of every account that takes part in send/receive; returns what failed.
QStringList RunReceiveCommands(const QList<Account>& accounts, const TransferAbort* abort = nullptr);

// Delivers the Outbox on its own thread; the caller never waits on the network.
// Signals come from that thread and reach receivers in their own thread (queued).
class Spooler : public QObject {
    Q_OBJECT
public:
    Spooler(const QString& outbox, const QString& sentItems, QObject* parent = nullptr);
    ~Spooler() override;

    QString outbox() const { return m_outbox; }
    QString sentItems() const { return m_sentItems; }

    // Asks for a delivery run; returns at once. Accounts are read afresh for each run.
    void deliver();
    // Delivers, then runs the receive commands.
    void sendReceive();
    // Paused: requests wait (a run in progress ends after the message in hand) until resumed.
    void setPaused(bool paused);
    bool isPaused() const;
    // Ends the thread; a transfer in progress is broken off and its message stays in the Outbox.
    void stop();
    bool isBusy() const;
    // For tests, benchmarks and quitting only: blocks until no run is pending or running.
    bool waitUntilIdle(int timeoutMs);

Q_SIGNALS:
    void messageDelivered(const QString& outboxFile, const QString& storedAs);
    void messageFailed(const QString& outboxFile, bool permanent, const QString& answer);
    void runFinished(int delivered, int failed);
    void sendReceiveFinished(const QStringList& failures);

private:
    void loop();

    const QString m_outbox;
    const QString m_sentItems;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    bool m_pending = false;
    bool m_receivePending = false;
    bool m_running = false;
    bool m_paused = false;
    bool m_stopping = false;
    std::atomic_bool m_halt{false};
    TransferAbort m_abort;
    // A QThread, not a bare thread: the commands it runs (QProcess) need its event dispatcher.
    std::unique_ptr<QThread> m_thread;
};

} // namespace mail::send
