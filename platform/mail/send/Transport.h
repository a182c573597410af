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

namespace mail::send {

enum class Outcome {
    Delivered,
    Temporary,   // 4xx, lost connection, unreachable: try again later
    Permanent,   // 5xx or a fault that retrying will not mend: wait for the user
    // The connection ended after the whole message went and before the server's answer: it may
    // have been accepted, so it is never tried again by itself. One that ended while the text
    // was still going is Temporary.
    MaybeDelivered,
};

// A recipient the server would not take, with its answer to that recipient.
struct RecipientRefusal {
    QString recipient;
    QString answer;
    bool permanent = false;
};

struct SendResult {
    SendResult() = default;
    SendResult(Outcome o, QString a, QList<RecipientRefusal> r = {}, bool session = false)
        : outcome(o), answer(std::move(a)), refused(std::move(r)), sessionFailed(session)
    {
    }
    Outcome outcome = Outcome::Temporary;
    QString answer;   // the server's (or command's) own words; empty when delivered quietly
    // Recipients refused one by one; the others got the message (Delivered) or none did.
    QList<RecipientRefusal> refused;
    // The connection or the session failed, not this message: the account's other messages
    // would fare no better now.
    bool sessionFailed = false;
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

// Runs `sh -c command`; returns its standard output without the final line break.
// Returns false with *error set (standard error or the reason) when it fails or is aborted.
bool RunShellCommand(const QString& command, QByteArray* output, QString* error, int timeoutMs = 120000,
                     const TransferAbort* abort = nullptr);

} // namespace mail::send
