#include "platform/mail/send/Spooler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>

#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/Outgoing.h"

namespace mail::send {

namespace {

const QString kAnswerPrefix = QStringLiteral(".answer.");

QString refusalPath(const QString& outbox, const QString& messageFile)
{
    return outbox + QLatin1Char('/') + kAnswerPrefix + MaildirUniquePart(messageFile);
}

// The messages that have an answer kept beside them, by unique name: one listing per run
// instead of a look per message.
QSet<QString> keptAnswers(const QString& outbox)
{
    QSet<QString> out;
    const QStringList names = QDir(outbox).entryList({kAnswerPrefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden);
    for (const QString& n : names)
        out.insert(n.mid(kAnswerPrefix.size()));
    return out;
}

void keepRefusal(const QString& outbox, const QString& messageFile, bool permanent, const QString& answer)
{
    QFile f(refusalPath(outbox, messageFile));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write((permanent ? QByteArray("permanent\n") : QByteArray("temporary\n")) + answer.toUtf8() + '\n');
}

// Waiting messages in a stable order: new/ and cur/ by unique name (which starts with the time).
QStringList outboxFiles(const QString& outbox)
{
    QList<std::pair<QString, QString>> found;
    for (const char* sub : {"new", "cur"}) {
        const QDir d(outbox + QLatin1Char('/') + QLatin1String(sub));
        for (const QString& name : d.entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Unsorted))
            found.append({MaildirUniquePart(name), d.filePath(name)});
    }
    std::sort(found.begin(), found.end());
    QStringList out;
    out.reserve(found.size());
    for (const auto& [key, path] : found)
        out << path;
    return out;
}

} // namespace

std::optional<Refusal> OutboxRefusal(const QString& outbox, const QString& messageFile)
{
    QFile f(refusalPath(outbox, messageFile));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray kind = f.readLine().trimmed();
    Refusal r;
    r.permanent = kind == "permanent";
    r.answer = QString::fromUtf8(f.readAll()).trimmed();
    return r;
}

void ClearRefusal(const QString& outbox, const QString& messageFile)
{
    QFile::remove(refusalPath(outbox, messageFile));
}

RunReport DeliverOutbox(const QString& outbox, const QString& sentItems, const QList<Account>& accounts,
                        const std::function<void(const MessageReport&)>& onMessage,
                        const std::atomic_bool* halt, TransferAbort* abort)
{
    RunReport report;
    std::map<QString, std::unique_ptr<Transport>> transports;
    const QSet<QString> answers = keptAnswers(outbox);

    auto finish = [&](MessageReport& m, Outcome outcome, const QString& answer) {
        m.outcome = outcome;
        m.answer = answer;
        switch (outcome) {
        case Outcome::Delivered:
            ++report.delivered;
            break;
        case Outcome::Temporary:
            ++report.temporary;
            break;
        case Outcome::Permanent:
            ++report.permanent;
            break;
        }
        if (outcome != Outcome::Delivered) {
            keepRefusal(outbox, m.file, outcome == Outcome::Permanent, answer);
            report.failures << (m.account.isEmpty()
                                    ? QStringLiteral("A message could not be sent: %1").arg(answer)
                                    : QStringLiteral("A message could not be sent through \"%1\": %2").arg(m.account, answer));
        }
        if (onMessage)
            onMessage(m);
    };

    for (const QString& file : outboxFiles(outbox)) {
        if (halt && halt->load()) {
            report.stopped = true;
            break;
        }
        const bool hadAnswer = answers.contains(MaildirUniquePart(file));
        if (hadAnswer) {
            if (const auto r = OutboxRefusal(outbox, file); r && r->permanent) {
                ++report.waiting;
                continue;
            }
        }
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            continue;    // taken away meanwhile
        const Outgoing out = PrepareOutgoing(f.readAll());
        f.close();

        MessageReport m;
        m.file = file;
        m.account = out.account;
        std::optional<Account> account = out.account.isEmpty() ? DefaultAccount(accounts) : FindAccount(accounts, out.account);
        if (account)
            m.account = account->name;
        if (!account) {
            // Waits until the account is set up.
            finish(m, Outcome::Temporary,
                   out.account.isEmpty() ? QStringLiteral("No mail account is set up.")
                                         : QStringLiteral("There is no mail account \"%1\".").arg(out.account));
            continue;
        }
        if (const QString problem = account->problem(); !problem.isEmpty()) {
            finish(m, Outcome::Temporary, problem);
            continue;
        }
        if (!out.problem.isEmpty()) {
            finish(m, Outcome::Permanent, out.problem);
            continue;
        }

        auto& transport = transports[account->name];
        if (!transport)
            transport = MakeTransport(*account, abort);
        // Queued before any account existed: the account that sends it signs it.
        const QByteArray wire = out.hasFrom ? out.wire : FromHeader(account->displayName, account->address) + out.wire;
        const SendResult result = transport->send(account->address, out.recipients, wire);
        if (result.outcome != Outcome::Delivered) {
            finish(m, result.outcome, result.answer);
            continue;
        }

        QString err;
        bool filed = true;
        if (out.deleteAfterSubmit) {
            filed = QFile::remove(file);
            if (!filed)
                err = QStringLiteral("Cannot remove %1").arg(file);
        } else {
            m.storedAs = MoveToMaildir(file, sentItems, QStringLiteral("S"), &err, false);
            filed = !m.storedAs.isEmpty();
        }
        if (!filed) {
            // Sent already: mark it so that it is never sent twice.
            finish(m, Outcome::Permanent, QStringLiteral("The message was sent, but could not be filed: %1").arg(err));
            continue;
        }
        if (hadAnswer)
            ClearRefusal(outbox, file);
        finish(m, Outcome::Delivered, result.answer);
    }
    // One flush for the run's moves and removals: until it lands, a crash can at worst bring a
    // sent message back into the Outbox, never lose one (its bytes were flushed when queued).
    if (report.delivered > 0) {
        SyncDir(sentItems + QStringLiteral("/cur"));
        SyncDir(outbox + QStringLiteral("/new"));
        SyncDir(outbox + QStringLiteral("/cur"));
    }
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

Spooler::Spooler(const QString& outbox, const QString& sentItems, QObject* parent)
    : QObject(parent), m_outbox(outbox), m_sentItems(sentItems)
{
    m_thread.reset(QThread::create([this] { loop(); }));
    m_thread->start();
}

Spooler::~Spooler() { stop(); }

void Spooler::deliver()
{
    std::lock_guard lock(m_mutex);
    m_pending = true;
    m_wake.notify_all();
}

void Spooler::sendReceive()
{
    std::lock_guard lock(m_mutex);
    m_pending = true;
    m_receivePending = true;
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
    for (;;) {
        bool receive = false;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || (m_pending && !m_paused); });
            if (m_stopping)
                break;
            receive = m_receivePending;
            m_pending = false;
            m_receivePending = false;
            m_running = true;
        }

        const QList<Account> accounts = LoadAccounts();
        const RunReport report = DeliverOutbox(
            m_outbox, m_sentItems, accounts,
            [this](const MessageReport& m) {
                if (m.outcome == Outcome::Delivered)
                    Q_EMIT messageDelivered(m.file, m.storedAs);
                else
                    Q_EMIT messageFailed(m.file, m.outcome == Outcome::Permanent, m.answer);
            },
            &m_halt, &m_abort);
        QStringList failures = report.failures;
        if (receive && !report.stopped)
            failures += RunReceiveCommands(accounts, &m_abort);

        {
            std::lock_guard lock(m_mutex);
            m_running = false;
            // Broken off by a pause: carry on from where it stopped once resumed.
            if (report.stopped && !m_stopping) {
                m_pending = true;
                m_receivePending = m_receivePending || receive;
            }
        }
        Q_EMIT runFinished(report.delivered, report.temporary + report.permanent);
        if (receive && !report.stopped)
            Q_EMIT sendReceiveFinished(failures);
        m_idle.notify_all();
    }
    m_idle.notify_all();
}

} // namespace mail::send
