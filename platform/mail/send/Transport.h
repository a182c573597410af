#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

#include "platform/mail/send/Accounts.h"

namespace mail::send {

enum class Outcome {
    Delivered,
    Temporary,   // 4xx, lost connection, unreachable: try again later
    Permanent,   // 5xx or a fault that retrying will not mend: wait for the user
};

struct SendResult {
    Outcome outcome = Outcome::Temporary;
    QString answer;   // the server's (or command's) own words; empty when delivered quietly
};

class Transport {
public:
    virtual ~Transport() = default;
    // wire: the message with CRLF lines, as it is to be sent.
    virtual SendResult send(const QString& from, const QStringList& recipients, const QByteArray& wire) = 0;
};

// The transport the account names. A set abort flag ends a transfer early (as a temporary failure).
std::unique_ptr<Transport> MakeTransport(const Account& account, const std::atomic_bool* abort = nullptr);

// Runs `sh -c command`; returns its standard output without the final line break.
// Returns false with *error set (standard error or the reason) when it fails.
bool RunShellCommand(const QString& command, QByteArray* output, QString* error, int timeoutMs = 120000);

} // namespace mail::send
