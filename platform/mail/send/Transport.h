#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>

#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/DeliveryState.h"

namespace mail::send {

// A recipient the server would not take, by its place among those the transfer named (the
// server's words need not name it as it was named), with its answer to that recipient.
struct RecipientRefusal {
    qsizetype index = 0;
    RecipientState state = RecipientState::Deferred;   // Deferred (4xx) or Refused (5xx)
    QString answer;
};

struct SendResult {
    SendResult() = default;
    SendResult(RecipientState o, QString a, QList<RecipientRefusal> r = {}, bool session = false)
        : outcome(o), answer(std::move(a)), refused(std::move(r)), sessionFailed(session)
    {
    }
    // What became of every recipient not refused one by one: Accepted; Deferred (4xx, a lost
    // connection, unreachable: tried again later); Refused (5xx, or a fault retrying will not
    // mend: waits for the user); MaybeDelivered (the connection ended after the whole message
    // went and before the server's answer: it may have been accepted, so it is never tried again
    // by itself). One that ended while the text was still going is Deferred.
    RecipientState outcome = RecipientState::Deferred;
    QString answer;   // the server's (or command's) own words; empty when delivered quietly
    QList<RecipientRefusal> refused;
    // The connection or the session failed, not this message: the account's other messages
    // would fare no better now.
    bool sessionFailed = false;
    // It failed before the message was begun (the greeting, a login, TLS): none of its
    // recipients was named, and each stays as it was.
    bool beforeMessage = false;
};

// Breaks off transfers from another thread: sets a flag and shuts the live sockets down, which
// wakes a transfer that waits on a silent server at once.
class TransferAbort {
public:
    void abort();
    bool aborted() const { return m_aborted.load(); }
    void addSocket(int fd);
    void removeSocket(int fd);

private:
    std::atomic_bool m_aborted{false};
    std::mutex m_mutex;
    std::set<int> m_sockets;
};

class Transport {
public:
    virtual ~Transport() = default;
    // Called before the last of the text is handed over (after which the server may have all
    // of it), with the recipients the server refused at RCPT; when it returns false the text is
    // not finished and the transfer fails for now.
    using EndOfData = std::function<bool(const QList<RecipientRefusal>& refused)>;
    // wire: the message with CRLF lines, as it is to be sent.
    virtual SendResult send(const QString& from, const QStringList& recipients, const QByteArray& wire,
                            const EndOfData& endOfData = {}) = 0;
};

// The transport the account names. An abort ends a transfer early, as a temporary failure. A
// server silent for timeoutSeconds counts as a lost connection.
std::unique_ptr<Transport> MakeTransport(const Account& account, TransferAbort* abort = nullptr, int timeoutSeconds = 120);

// Why a message whose connection ended after all of it went may have been delivered, as its
// window shows it; why is the transport's own account of the failure.
QString LostConnectionText(const QString& why);

// A failure told in a sentence of ours, the transport's or the system's own words after it on a
// line of their own ("Details: ..."), for the windows and tooltips.
QString FailureText(const QString& ours, const QString& detail);
// The text without those details: for the one-line summary.
QString WithoutDetails(const QString& text);

// Runs `sh -c command`; returns its standard output without the final line break.
// Returns false with *error set (standard error or the reason) when it fails or is aborted.
bool RunShellCommand(const QString& command, QByteArray* output, QString* error, int timeoutMs = 120000,
                     const TransferAbort* abort = nullptr);

} // namespace mail::send
