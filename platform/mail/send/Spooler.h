#pragma once
#include <QDateTime>
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
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/Transport.h"

namespace mail::send {

struct MessageReport {
    QString file;       // the Outbox file
    QString account;
    Outcome outcome = Outcome::Temporary;
    QString answer;
    QString storedAs;   // the Sent Items file; empty when deleted or not delivered
    QString subject;
    QStringList recipients;
    QList<RecipientRefusal> refused;   // recipients refused one by one
    QDateTime nextTry;  // Temporary: when it is tried again by itself (invalid: with the next run)
};

struct RunReport {
    int delivered = 0;
    int temporary = 0;      // tried and not delivered; tried again later
    int permanent = 0;      // refused for good: wait for the user
    int waiting = 0;        // left alone: refused earlier, or may have been delivered
    int maybeDelivered = 0; // found in flight after a crash, or the connection ended before the
                            // server's answer to the whole message: wait for the user
    int refusedRecipients = 0;   // refused for good one by one while the others got the message
    int queued = 0;         // still waiting in the queue after the run (for a retry)
    bool stopped = false;   // ended early; the rest waits in the Outbox
    QStringList failures;   // one clear line per refusal, saying whether it is tried again
    QList<RecipientRefusal> refusals;   // who was refused and the server's answer, in order
    // Of those, what the Outbox will not show once the run is over: the recipients refused
    // while the others got the message...
    QStringList sentNotes;
    QList<RecipientRefusal> sentRefusals;
    // ...and what kept the run from trying.
    QStringList runNotes;
    int unlisted = 0;       // further lines, left out of failures
};

// What a run tells the main window: one line, and the refusals in full (empty when nothing
// happened worth telling). The spooler tells the runs since the user last sent or checked mail,
// with every message that waits in the Outbox refused or possibly delivered.
QString RunSummary(const RunReport& report);
QString RunDetails(const RunReport& report, int first = 10);

struct DeliveryOptions {
    // False: every waiting message is tried now (the user asked). True: a message refused for now
    // waits for its retry time, and an account whose connection failed waits for its own.
    bool dueOnly = false;
    int firstRetrySeconds = 60;       // waits after a temporary refusal double from here...
    int lastRetrySeconds = 3600;      // ...up to here
    int timeoutSeconds = 120;         // a server silent this long counts as a lost connection
    // For tests: called once the server has accepted a message and the run has recorded it,
    // before the message is filed.
    std::function<void()> accepted;
};

// Delivers the waiting Outbox messages that Send queued, each once, through its account's
// transport (one connection per account for the whole run); after a failed connection the rest
// of that account's messages wait for the next retry. Checks halt between messages; abort ends a
// transfer.
RunReport DeliverOutbox(const QString& outbox, const QString& sentItems, const QList<Account>& accounts,
                        const std::function<void(const MessageReport&)>& onMessage = {},
                        const std::atomic_bool* halt = nullptr, TransferAbort* abort = nullptr,
                        const DeliveryOptions& options = {});

// Runs the receive command of every account that takes part in send/receive; returns what failed.
QStringList RunReceiveCommands(const QList<Account>& accounts, const TransferAbort* abort = nullptr);

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
    // The user sent something: what the runs tell is counted afresh from the next run on.
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
    // RunSummary and RunDetails of the runs since the user last sent or checked mail, with what
    // waits refused: after each run that delivered or refused anything, and whenever what it
    // tells changes (empty: nothing to tell any more).
    void runReported(const QString& summary, const QString& details);
    void sendReceiveFinished(const QStringList& failures);

private:
    void loop();
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
    bool m_paused = false;
    bool m_stopping = false;
    bool m_freshTally = false;
    bool m_tell = false;          // a message left the Outbox
    DeliveryOptions m_options;
    // The spooler thread's own: the runs since the user last sent (what the Outbox does not
    // show of them), the last run's notes, and what was told last.
    RunReport m_tally;
    QStringList m_runNotes;
    QString m_toldSummary, m_toldDetails;
    std::atomic_bool m_halt{false};
    TransferAbort m_abort;
    // A QThread, not a bare thread: the commands it runs (QProcess) need its event dispatcher.
    std::unique_ptr<QThread> m_thread;
};

} // namespace mail::send
