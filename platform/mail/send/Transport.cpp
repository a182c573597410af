#include "platform/mail/send/Transport.h"

#include <QElapsedTimer>
#include <QProcess>

#include <curl/curl.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace mail::send {

namespace {

constexpr int kExTempFail = 75;    // sysexits: "try again later"
constexpr int kShCannotRun = 126;
constexpr int kShNotFound = 127;

void initCurl()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// Waits for a process in short steps so that an abort kills it promptly.
// Returns false (after killing it) on timeout or abort.
bool waitFinished(QProcess& p, int timeoutMs, const TransferAbort* abort)
{
    QElapsedTimer t;
    t.start();
    while (!p.waitForFinished(100)) {
        if (p.state() == QProcess::NotRunning)
            return true;
        if ((abort && abort->aborted()) || t.elapsed() > timeoutMs) {
            p.kill();
            p.waitForFinished(5000);
            return false;
        }
    }
    return true;
}

// The process has read all that was written to it, and its input is closed.
bool inputTaken(const QProcess& p) { return p.bytesToWrite() == 0; }

QByteArray toLf(const QByteArray& wire)
{
    QByteArray out = wire;
    out.replace("\r\n", "\n");
    return out;
}

class SmtpTransport final : public Transport {
public:
    SmtpTransport(const Account& account, TransferAbort* abort, int timeoutSeconds)
        : m_account(account), m_abort(abort), m_timeout(std::max(1, timeoutSeconds))
    {
        initCurl();
        m_curl = curl_easy_init();
    }
    ~SmtpTransport() override
    {
        if (m_curl)
            curl_easy_cleanup(m_curl);    // says QUIT on a live connection
        curl_slist_free_all(m_rcpts);
    }

    SendResult send(const QString& from, const QStringList& recipients, const QByteArray& wire,
                    const EndOfData& endOfData) override
    {
        if (!m_curl)
            return beforeMessage({RecipientState::Deferred, QStringLiteral("Cannot start the mail transfer."), {}, true});
        if (!m_configured) {
            QString why;
            if (!configure(&why))
                return beforeMessage({RecipientState::Deferred, why, {}, true});
            m_configured = true;
        }
        m_from = "<" + from.toUtf8() + ">";
        curl_easy_setopt(m_curl, CURLOPT_MAIL_FROM, m_from.constData());
        curl_slist_free_all(m_rcpts);
        m_rcpts = nullptr;
        for (const QString& r : recipients)
            m_rcpts = curl_slist_append(m_rcpts, ("<" + r.toUtf8() + ">").constData());
        curl_easy_setopt(m_curl, CURLOPT_MAIL_RCPT, m_rcpts);
        m_data = &wire;
        m_pos = 0;
        m_endOfData = &endOfData;
        curl_easy_setopt(m_curl, CURLOPT_INFILESIZE_LARGE, curl_off_t(wire.size()));
        m_partial.clear();
        m_lastReply.clear();
        m_refusal.clear();
        m_refused.clear();
        m_command = Command::Other;
        m_rcptsSent = 0;
        m_mailSent = false;
        m_authSent = false;
        m_dataOpen = false;
        m_dataAnswered = false;
        m_errbuf[0] = 0;

        const CURLcode rc = curl_easy_perform(m_curl);
        m_data = nullptr;
        m_endOfData = nullptr;
        if (rc == CURLE_OK)
            return {RecipientState::Accepted, QString::fromUtf8(m_lastReply), m_refused, false};
        SendResult r = classify(rc, recipients.size(), handedOver(rc, wire.size()));
        return m_mailSent ? r : beforeMessage(r);
    }

private:
    static SendResult beforeMessage(SendResult r)
    {
        r.sessionFailed = true;
        r.beforeMessage = true;
        return r;
    }

    bool configure(QString* why)
    {
        QString url = m_account.transport.trimmed();
        curl_easy_setopt(m_curl, CURLOPT_URL, url.toUtf8().constData());
        if (url.startsWith(QLatin1String("smtp://"), Qt::CaseInsensitive))
            curl_easy_setopt(m_curl, CURLOPT_USE_SSL, long(m_account.requireStartTls ? CURLUSESSL_ALL : CURLUSESSL_TRY));
        if (!m_account.user.isEmpty()) {
            QByteArray password = m_account.password.toUtf8();
            if (!m_account.passwordCommand.isEmpty()) {
                QString err;
                if (!RunShellCommand(m_account.passwordCommand, &password, &err, 120000, m_abort)) {
                    *why = QStringLiteral("The password command of the account \"%1\" failed: %2").arg(m_account.name, err);
                    return false;
                }
            }
            curl_easy_setopt(m_curl, CURLOPT_USERNAME, m_account.user.toUtf8().constData());
            curl_easy_setopt(m_curl, CURLOPT_PASSWORD, password.constData());
        }
        curl_easy_setopt(m_curl, CURLOPT_UPLOAD, 1L);
        // A refused recipient does not stop the message for the others.
        curl_easy_setopt(m_curl, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
        curl_easy_setopt(m_curl, CURLOPT_READFUNCTION, &SmtpTransport::readCb);
        curl_easy_setopt(m_curl, CURLOPT_READDATA, this);
        curl_easy_setopt(m_curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(m_curl, CURLOPT_CONNECTTIMEOUT, long(std::min(30, m_timeout)));
        // A server that stops answering counts as a lost connection.
        curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(m_curl, CURLOPT_LOW_SPEED_TIME, long(m_timeout));
        curl_easy_setopt(m_curl, CURLOPT_ERRORBUFFER, m_errbuf);
        // The server's own words come only through the debug stream.
        curl_easy_setopt(m_curl, CURLOPT_VERBOSE, 1L);
        curl_easy_setopt(m_curl, CURLOPT_DEBUGFUNCTION, &SmtpTransport::debugCb);
        curl_easy_setopt(m_curl, CURLOPT_DEBUGDATA, this);
        if (m_abort) {
            curl_easy_setopt(m_curl, CURLOPT_NOPROGRESS, 0L);
            curl_easy_setopt(m_curl, CURLOPT_XFERINFOFUNCTION, &SmtpTransport::progressCb);
            curl_easy_setopt(m_curl, CURLOPT_XFERINFODATA, this);
            // The progress check does not run while curl waits for a reply; the sockets are
            // known so that an abort can shut them.
            curl_easy_setopt(m_curl, CURLOPT_OPENSOCKETFUNCTION, &SmtpTransport::openCb);
            curl_easy_setopt(m_curl, CURLOPT_OPENSOCKETDATA, this);
            curl_easy_setopt(m_curl, CURLOPT_CLOSESOCKETFUNCTION, &SmtpTransport::closeCb);
            curl_easy_setopt(m_curl, CURLOPT_CLOSESOCKETDATA, this);
        }
        return true;
    }

    // The server said go ahead to DATA, every byte of the message was written to the connection
    // (the bytes written count the dots doubled, never fewer than the message), the final "."
    // after it did not fail to go, and no answer came: the server may have the whole message.
    // A failure to send is one of the text or of that ".": then the server cannot have it all.
    bool handedOver(CURLcode rc, qsizetype size) const
    {
        if (!m_dataOpen || m_dataAnswered || m_pos < size || rc == CURLE_SEND_ERROR || rc == CURLE_ABORTED_BY_CALLBACK)
            return false;
        curl_off_t written = 0;
        return curl_easy_getinfo(m_curl, CURLINFO_SIZE_UPLOAD_T, &written) == CURLE_OK && written >= size;
    }

    SendResult classify(CURLcode rc, qsizetype recipients, bool handedOver) const
    {
        if (m_refusal.isEmpty() && !m_refused.isEmpty() && m_refused.size() >= recipients) {
            // Every recipient refused: the message waits as the mildest refusal allows.
            SendResult r{RecipientState::Refused, {}, m_refused, false};
            QStringList lines;
            for (const RecipientRefusal& x : m_refused) {
                if (x.state == RecipientState::Deferred)
                    r.outcome = RecipientState::Deferred;
                lines << x.answer;
            }
            r.answer = lines.join(QLatin1Char('\n'));
            return r;
        }
        // The refusal that ended the transfer, not the QUIT exchange that may follow it.
        const QByteArray& decisive = m_refusal.isEmpty() ? m_lastReply : m_refusal;
        const QString reply = QString::fromUtf8(decisive).trimmed();
        const int code = decisive.size() >= 3 ? decisive.left(3).toInt() : 0;
        // Before MAIL FROM was answered the refusal is the session's (greeting, login, TLS); 421
        // closes the session whenever it comes.
        const bool session = !m_mailSent || code == 421;
        const bool login = m_authSent && !m_mailSent;
        const QString account = QStringLiteral("\"%1\"").arg(m_account.name);
        // A refused login is the account's set-up, tried again as a refusal for now is.
        if (login && code >= 400 && code < 600)
            return {RecipientState::Deferred,
                    QStringLiteral("Could not log in to %1 (%2)").arg(account, reply)
                        + (code >= 500 ? QStringLiteral(": check the user name and password in Setup > Mail Accounts.")
                                       : QStringLiteral(".")),
                    m_refused, true};
        if (code >= 400 && code < 500)
            return {RecipientState::Deferred, reply, m_refused, session};
        if (code >= 500 && code < 600)
            return {RecipientState::Refused, reply, m_refused, session};
        QString text = QString::fromUtf8(m_errbuf).trimmed();
        if (text.isEmpty())
            text = QString::fromUtf8(curl_easy_strerror(rc));
        if (!reply.isEmpty() && !handedOver)
            text += QStringLiteral(" (last answer: %1)").arg(reply);
        // Lost, timed out or broken off while the server had the whole message and had not
        // answered: it may have taken it.
        if (handedOver)
            return {RecipientState::MaybeDelivered, LostConnectionText(text), m_refused, true};
        text = FailureText(ours(rc, login, account), text);
        switch (rc) {
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_CONNECT:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_ABORTED_BY_CALLBACK:
        case CURLE_READ_ERROR:
        case CURLE_OUT_OF_MEMORY:
        case CURLE_SSL_CONNECT_ERROR:
            return {RecipientState::Deferred, text, m_refused, true};
        default:
            return {RecipientState::Refused, text, m_refused, true};
        }
    }

    // What went wrong, in a sentence of ours; curl's words follow it as details.
    QString ours(CURLcode rc, bool login, const QString& account) const
    {
        if (m_abort && m_abort->aborted())
            return m_dataOpen ? QStringLiteral("Sending was broken off before the whole message had gone to the server.")
                              : QStringLiteral("Sending was broken off.");
        const bool silent = rc == CURLE_OPERATION_TIMEDOUT;
        if (login)
            return silent ? QStringLiteral("Could not log in to %1: its server did not answer.").arg(account)
                          : QStringLiteral("Could not log in to %1: the connection to its server failed.").arg(account);
        switch (rc) {
        case CURLE_COULDNT_RESOLVE_PROXY:
        case CURLE_COULDNT_RESOLVE_HOST:
            return QStringLiteral("The server of %1 could not be found.").arg(account);
        case CURLE_COULDNT_CONNECT:
            return QStringLiteral("The server of %1 could not be reached.").arg(account);
        case CURLE_OPERATION_TIMEDOUT:
            return m_mailSent ? QStringLiteral("The server of %1 stopped answering while the message was being sent.").arg(account)
                              : QStringLiteral("The server of %1 did not answer.").arg(account);
        case CURLE_USE_SSL_FAILED:
            return QStringLiteral("The server of %1 offers no encrypted connection (STARTTLS), which the account requires.").arg(account);
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
            return QStringLiteral("No secure connection to the server of %1 could be made.").arg(account);
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
            return m_dataOpen ? QStringLiteral("The connection to the server of %1 was lost before the whole message had gone.").arg(account)
                              : QStringLiteral("The connection to the server of %1 was lost.").arg(account);
        default:
            return QStringLiteral("The message could not be sent through %1.").arg(account);
        }
    }

    static size_t readCb(char* buf, size_t size, size_t n, void* user)
    {
        auto* self = static_cast<SmtpTransport*>(user);
        if (!self->m_data)
            return 0;
        const qsizetype left = self->m_data->size() - self->m_pos;
        const qsizetype take = std::min<qsizetype>(left, qsizetype(size * n));
        // The last of the text goes only once its going is on record.
        if (take > 0 && take == left && self->m_endOfData && *self->m_endOfData && !(*self->m_endOfData)(self->m_refused))
            return CURL_READFUNC_ABORT;
        memcpy(buf, self->m_data->constData() + self->m_pos, size_t(take));
        self->m_pos += take;
        return size_t(take);
    }

    static int debugCb(CURL*, curl_infotype type, char* data, size_t size, void* user)
    {
        auto* self = static_cast<SmtpTransport*>(user);
        if (type == CURLINFO_HEADER_OUT) {
            // Which command the next reply answers; nothing else of what goes out is kept.
            const QByteArray out(data, qsizetype(std::min<size_t>(size, 1024)));
            if (out.startsWith("RCPT TO:")) {
                // Named one by one in the order given, each answered before the next goes: the
                // answer is the named one's, whatever the address looks like by now (an
                // international domain goes in its ASCII form).
                self->m_command = Command::Rcpt;
                ++self->m_rcptsSent;
            } else if (out.startsWith("AUTH ")) {
                self->m_command = Command::Other;
                self->m_authSent = true;
            } else if (out.startsWith("MAIL FROM:")) {
                self->m_command = Command::Mail;
                self->m_mailSent = true;
            } else if (out.startsWith("DATA")) {
                self->m_command = Command::Data;
            } else {
                self->m_command = Command::Other;
            }
            return 0;
        }
        if (type != CURLINFO_HEADER_IN)
            return 0;
        QByteArray line(data, qsizetype(size));
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        if (!self->m_partial.isEmpty())
            self->m_partial += '\n';
        self->m_partial += line;
        // "250-..." continues a reply, "250 ..." ends it.
        if (line.size() < 4 || line[3] != '-') {
            self->m_lastReply = self->m_partial;
            self->m_partial.clear();
            const bool refusal = self->m_lastReply.startsWith('4') || self->m_lastReply.startsWith('5');
            if (self->m_command == Command::Data) {
                // The first answer to DATA opens the message's text; the next one is the verdict.
                if (self->m_dataOpen)
                    self->m_dataAnswered = true;
                else
                    self->m_dataOpen = self->m_lastReply.startsWith("354");
            }
            if (refusal && self->m_command == Command::Rcpt)
                self->m_refused.append({self->m_rcptsSent - 1,
                                        self->m_lastReply.startsWith('5') ? RecipientState::Refused : RecipientState::Deferred,
                                        QString::fromUtf8(self->m_lastReply).trimmed()});
            else if (self->m_refusal.isEmpty() && refusal)
                self->m_refusal = self->m_lastReply;
        }
        return 0;
    }

    static int progressCb(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
    {
        auto* self = static_cast<SmtpTransport*>(user);
        // Once curl has the whole text, whether the end of it went cannot be told from an abort
        // here: the shut socket ends the transfer instead, failing the send of what did not go.
        if (self->m_data && self->m_pos >= self->m_data->size())
            return 0;
        return self->m_abort && self->m_abort->aborted() ? 1 : 0;
    }

    static curl_socket_t openCb(void* user, curlsocktype, curl_sockaddr* a)
    {
        auto* self = static_cast<SmtpTransport*>(user);
        if (self->m_abort->aborted())
            return CURL_SOCKET_BAD;
        const curl_socket_t fd = ::socket(a->family, a->socktype | SOCK_CLOEXEC, a->protocol);
        if (fd != CURL_SOCKET_BAD)
            self->m_abort->addSocket(fd);
        return fd;
    }

    static int closeCb(void* user, curl_socket_t fd)
    {
        static_cast<SmtpTransport*>(user)->m_abort->removeSocket(fd);
        return ::close(fd);
    }

    enum class Command { Other, Mail, Rcpt, Data };

    Account m_account;
    TransferAbort* m_abort;
    int m_timeout;
    CURL* m_curl = nullptr;
    bool m_configured = false;
    curl_slist* m_rcpts = nullptr;
    QByteArray m_from;
    const QByteArray* m_data = nullptr;
    qsizetype m_pos = 0;
    const EndOfData* m_endOfData = nullptr;
    QByteArray m_partial;
    QByteArray m_lastReply;
    QByteArray m_refusal;
    QList<RecipientRefusal> m_refused;
    Command m_command = Command::Other;
    qsizetype m_rcptsSent = 0;    // RCPT commands of this transfer so far
    bool m_mailSent = false;
    bool m_authSent = false;      // a login began on this connection and MAIL has not gone yet
    bool m_dataOpen = false;       // the server answered DATA with 354
    bool m_dataAnswered = false;   // and then answered the message
    char m_errbuf[CURL_ERROR_SIZE] = {};
};

class CommandTransport final : public Transport {
public:
    CommandTransport(const Account& account, const TransferAbort* abort) : m_account(account), m_abort(abort) {}

    SendResult send(const QString&, const QStringList& recipients, const QByteArray& wire,
                    const EndOfData& endOfData) override
    {
        const QString command = m_account.transport.trimmed();
        if (command.isEmpty())
            return {RecipientState::Refused, QStringLiteral("The account \"%1\" has no send command.").arg(m_account.name)};
        // A command may send what it has read before it ends: the end mark goes first.
        if (endOfData && !endOfData({}))
            return {RecipientState::Deferred, QStringLiteral("The Outbox's delivery record could not be written.")};
        // The shell reads the command as the user wrote it (quotes and all); the recipients go
        // in as positional parameters, never through the shell's parser.
        const QString program = command.section(QLatin1Char(' '), 0, 0);
        QProcess p;
        p.start(QStringLiteral("/bin/sh"),
                QStringList{QStringLiteral("-c"), command + QStringLiteral(" \"$@\""), QStringLiteral("sh")} + recipients);
        if (!p.waitForStarted(30000))
            return {RecipientState::Deferred, QStringLiteral("Cannot start %1: %2").arg(program, p.errorString())};
        p.write(toLf(wire));
        p.closeWriteChannel();
        // Once it has the whole text, a command cut off (stopped, out of time, crashed) may have
        // sent it on, as a sending command does before it hears back from its server: it is not
        // run again by itself. Before that, it cannot have sent all of it.
        const bool finished = waitFinished(p, 300000, m_abort);
        const bool whole = inputTaken(p);
        const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
        if (!finished || p.exitStatus() != QProcess::NormalExit) {
            const QString why = !finished ? (m_abort && m_abort->aborted() ? QStringLiteral("%1 was stopped.").arg(program)
                                                                           : QStringLiteral("%1 did not finish in time.").arg(program))
                                          : err.isEmpty() ? QStringLiteral("%1 crashed.").arg(program) : err;
            if (!whole)
                return {RecipientState::Deferred, why};
            return {RecipientState::MaybeDelivered,
                    QStringLiteral("%1 It had the whole message, so it may have sent it.").arg(why), {}, !finished};
        }
        if (p.exitCode() == 0)
            return {RecipientState::Accepted, err};
        const QString text = err.isEmpty() ? QStringLiteral("%1 ended with code %2.").arg(program).arg(p.exitCode()) : err;
        // A command that cannot run is a set-up fault: the message waits until it is mended.
        const int code = p.exitCode();
        const bool later = code == kExTempFail || code == kShCannotRun || code == kShNotFound;
        return {later ? RecipientState::Deferred : RecipientState::Refused, text};
    }

private:
    Account m_account;
    const TransferAbort* m_abort;
};

} // namespace

void TransferAbort::abort()
{
    std::lock_guard lock(m_mutex);
    m_aborted = true;
    for (int fd : m_sockets)
        ::shutdown(fd, SHUT_RDWR);
}

void TransferAbort::addSocket(int fd)
{
    std::lock_guard lock(m_mutex);
    m_sockets.insert(fd);
    if (m_aborted)
        ::shutdown(fd, SHUT_RDWR);
}

void TransferAbort::removeSocket(int fd)
{
    std::lock_guard lock(m_mutex);
    m_sockets.erase(fd);
}

std::unique_ptr<Transport> MakeTransport(const Account& account, TransferAbort* abort, int timeoutSeconds)
{
    if (account.isSmtp())
        return std::make_unique<SmtpTransport>(account, abort, timeoutSeconds);
    return std::make_unique<CommandTransport>(account, abort);
}

QString LostConnectionText(const QString& why)
{
    return FailureText(QStringLiteral("The connection ended after the whole message had gone to the server and before it "
                                      "answered, so the server may have received it. It will not be sent again by itself: "
                                      "check with its recipients before you send it again."),
                       why);
}

namespace {
const QString kDetails = QStringLiteral("\nDetails: ");
} // namespace

QString FailureText(const QString& ours, const QString& detail)
{
    const QString d = detail.trimmed();
    return d.isEmpty() ? ours : ours + kDetails + d;
}

QString WithoutDetails(const QString& text)
{
    const qsizetype at = text.indexOf(kDetails);
    return at < 0 ? text : text.left(at);
}

bool RunShellCommand(const QString& command, QByteArray* output, QString* error, int timeoutMs,
                     const TransferAbort* abort)
{
    QProcess p;
    p.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    p.closeWriteChannel();
    if (!p.waitForStarted(30000)) {
        *error = QStringLiteral("Cannot start the command: %1").arg(p.errorString());
        return false;
    }
    if (!waitFinished(p, timeoutMs, abort)) {
        *error = abort && abort->aborted() ? QStringLiteral("The command \"%1\" was stopped.").arg(command)
                                           : QStringLiteral("The command \"%1\" did not finish in time.").arg(command);
        return false;
    }
    const QString err = QString::fromLocal8Bit(p.readAllStandardError()).trimmed();
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = err.isEmpty() ? QStringLiteral("The command \"%1\" ended with code %2.").arg(command).arg(p.exitCode()) : err;
        return false;
    }
    if (output) {
        *output = p.readAllStandardOutput();
        if (output->endsWith('\n'))
            output->chop(1);
        if (output->endsWith('\r'))
            output->chop(1);
    }
    return true;
}

} // namespace mail::send
