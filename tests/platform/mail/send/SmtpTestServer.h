#pragma once
// A small SMTP server on a loopback port for tests and benchmarks: one thread per connection,
// scripted refusals per recipient or per message, and a record of what arrived.
#include <QByteArray>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class SmtpTestServer {
public:
    struct Message {
        QByteArray from;
        QList<QByteArray> recipients;
        QByteArray data;    // as sent, dot-stuffing undone, CRLF lines
        int connection = 0;
    };

    explicit SmtpTestServer(bool keepData = true) : m_keepData(keepData)
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 16);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_acceptor = std::thread([this] { acceptLoop(); });
    }

    ~SmtpTestServer()
    {
        m_stopping = true;
        m_heldWake.notify_all();
        ::shutdown(m_listen, SHUT_RDWR);
        m_acceptor.join();
        {
            std::lock_guard lock(m_mutex);
            for (int fd : m_clients)
                ::shutdown(fd, SHUT_RDWR);
        }
        for (std::thread& t : m_handlers)
            t.join();
        ::close(m_listen);
    }

    quint16 port() const { return m_port; }
    QString url() const { return QStringLiteral("smtp://127.0.0.1:%1").arg(m_port); }

    // Answers RCPT TO for this address with reply (e.g. "550 5.1.1 No such user"), times times (-1: always).
    void refuseRecipient(const QByteArray& address, const QByteArray& reply, int times = -1)
    {
        std::lock_guard lock(m_mutex);
        m_rules.push_back({Rule::Rcpt, address, reply, times});
    }
    // Answers the end of DATA with reply when the message contains needle; an empty reply drops
    // the connection instead, "STALL" never answers, "HOLD" accepts the message once
    // releaseHeld() lets it.
    void refuseMessage(const QByteArray& needle, const QByteArray& reply, int times = -1)
    {
        std::lock_guard lock(m_mutex);
        m_rules.push_back({Rule::Data, needle, reply, times});
    }
    // Drops the connection while a message that contains needle comes in: AfterData once its
    // final "." arrived, before any answer; MidData at the first line of its text that contains
    // needle (reset at once, the rest of the text unread).
    enum class Drop { AfterData, MidData };
    void dropConnection(const QByteArray& needle, Drop when, int times = -1)
    {
        std::lock_guard lock(m_mutex);
        m_rules.push_back({when == Drop::AfterData ? Rule::Data : Rule::DataLine, needle, QByteArray(), times});
        if (when == Drop::MidData)
            m_lineRules = true;
    }
    // Stops reading a message's text at its first line that contains needle, the connection
    // left open, until the server goes.
    void stallInData(const QByteArray& needle)
    {
        std::lock_guard lock(m_mutex);
        m_rules.push_back({Rule::DataLine, needle, QByteArrayLiteral("STALL"), -1});
        m_lineRules = true;
    }
    // Lets one held message (the one held now, or the next) be accepted.
    void releaseHeld()
    {
        std::lock_guard lock(m_mutex);
        ++m_released;
        m_heldWake.notify_all();
    }
    // Takes connections and never says a word.
    void setSilent(bool silent) { m_silent = silent; }
    // Greets and answers EHLO, then falls silent at AUTH.
    void setSilentAtLogin(bool silent) { m_silentAtLogin = silent; }
    void requireAuth(const QByteArray& user, const QByteArray& password)
    {
        std::lock_guard lock(m_mutex);
        m_user = user;
        m_password = password;
    }

    QList<Message> messages() const
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }
    int messageCount() const
    {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
    int connections() const { return m_connections; }
    // Messages whose data arrived whole, whatever the answer.
    int dataSeen() const { return m_dataSeen; }

private:
    struct Rule {
        enum Kind { Rcpt, Data, DataLine } kind;
        QByteArray key;
        QByteArray reply;
        int times;
    };

    // The reply of the first rule that matches; false when none does.
    bool match(Rule::Kind kind, const QByteArray& subject, QByteArray* reply)
    {
        std::lock_guard lock(m_mutex);
        for (Rule& r : m_rules) {
            if (r.kind != kind || r.times == 0)
                continue;
            if (kind == Rule::Rcpt ? subject.compare(r.key, Qt::CaseInsensitive) != 0 : !subject.contains(r.key))
                continue;
            if (r.times > 0)
                --r.times;
            *reply = r.reply;
            return true;
        }
        return false;
    }

    void acceptLoop()
    {
        while (!m_stopping) {
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) {
                if (m_stopping)
                    return;
                continue;
            }
            const int id = ++m_connections;
            std::lock_guard lock(m_mutex);
            m_clients.push_back(fd);
            m_handlers.emplace_back([this, fd, id] { serve(fd, id); });
        }
    }

    struct Conn {
        int fd;
        QByteArray buf;
        bool readLine(QByteArray* line)
        {
            for (;;) {
                const qsizetype nl = buf.indexOf('\n');
                if (nl >= 0) {
                    *line = buf.left(nl);
                    if (line->endsWith('\r'))
                        line->chop(1);
                    buf.remove(0, nl + 1);
                    return true;
                }
                char tmp[65536];
                const ssize_t n = ::recv(fd, tmp, sizeof tmp, 0);
                if (n <= 0)
                    return false;
                buf.append(tmp, n);
            }
        }
        void say(const QByteArray& text) { (void)!::send(fd, text.constData(), size_t(text.size()), MSG_NOSIGNAL); }
    };

    void serve(int fd, int id)
    {
        Conn c{fd, {}};
        QByteArray line;
        if (m_silent) {
            while (c.readLine(&line)) {
            }
            std::lock_guard lock(m_mutex);
            ::close(fd);
            std::erase(m_clients, fd);
            return;
        }
        c.say("220 test.invalid ESMTP ready\r\n");
        bool authed = false;
        Message msg;
        QByteArray user, password;
        {
            std::lock_guard lock(m_mutex);
            user = m_user;
            password = m_password;
        }
        while (c.readLine(&line)) {
            const QByteArray verb = line.left(4).toUpper();
            if (verb == "EHLO") {
                c.say(user.isEmpty() ? "250-test.invalid\r\n250 8BITMIME\r\n"
                                     : "250-test.invalid\r\n250-AUTH PLAIN\r\n250 8BITMIME\r\n");
            } else if (verb == "HELO") {
                c.say("250 test.invalid\r\n");
            } else if (verb == "AUTH" && m_silentAtLogin) {
                while (c.readLine(&line)) {
                }
                break;
            } else if (verb == "AUTH") {
                QByteArray resp = line.mid(11).trimmed();    // "AUTH PLAIN <initial response>"
                if (resp.isEmpty()) {
                    c.say("334 \r\n");
                    if (!c.readLine(&resp))
                        break;
                }
                const QList<QByteArray> parts = QByteArray::fromBase64(resp).split('\0');
                authed = parts.size() == 3 && parts[1] == user && parts[2] == password;
                c.say(authed ? "235 2.7.0 Authentication successful\r\n" : "535 5.7.8 Authentication credentials invalid\r\n");
            } else if (verb == "MAIL") {
                if (!user.isEmpty() && !authed) {
                    c.say("530 5.7.0 Authentication required\r\n");
                    continue;
                }
                msg = Message{};
                msg.connection = id;
                msg.from = between(line);
                c.say("250 2.1.0 Ok\r\n");
            } else if (verb == "RCPT") {
                const QByteArray addr = between(line);
                QByteArray reply;
                if (match(Rule::Rcpt, addr, &reply)) {
                    c.say(reply + "\r\n");
                } else {
                    msg.recipients << addr;
                    c.say("250 2.1.5 Ok\r\n");
                }
            } else if (verb == "DATA") {
                if (msg.recipients.isEmpty()) {
                    c.say("503 5.5.1 No valid recipients\r\n");
                    continue;
                }
                c.say("354 End data with <CR><LF>.<CR><LF>\r\n");
                QByteArray data;
                bool complete = false;
                const bool lineRules = m_lineRules;
                QByteArray unused;
                while (c.readLine(&line)) {
                    if (line == ".") {
                        complete = true;
                        break;
                    }
                    if (lineRules && match(Rule::DataLine, line, &unused)) {
                        if (unused == "STALL") {
                            std::unique_lock lock(m_mutex);
                            while (!m_stopping)
                                m_heldWake.wait_for(lock, std::chrono::milliseconds(100));
                            break;
                        }
                        // Reset, not closed: the client learns of it while it still writes.
                        const linger now{1, 0};
                        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
                        break;
                    }
                    if (line.startsWith('.'))
                        line.remove(0, 1);
                    data += line;
                    data += "\r\n";
                }
                if (!complete)
                    break;
                ++m_dataSeen;
                QByteArray reply;
                const bool matched = match(Rule::Data, data, &reply);
                if (matched && reply == "HOLD") {
                    std::unique_lock lock(m_mutex);
                    m_heldWake.wait(lock, [this] { return m_released > 0 || m_stopping; });
                    if (m_stopping)
                        break;
                    --m_released;
                } else if (matched) {
                    if (reply.isEmpty())
                        break;    // lost connection
                    if (reply == "STALL") {
                        while (c.readLine(&line)) {
                        }
                        break;
                    }
                    c.say(reply + "\r\n");
                    continue;
                }
                if (m_keepData)
                    msg.data = data;
                {
                    std::lock_guard lock(m_mutex);
                    ++m_count;
                    if (m_keepData)
                        m_messages << msg;
                }
                c.say("250 2.0.0 Ok: queued\r\n");
                msg = Message{};
            } else if (verb == "RSET") {
                msg = Message{};
                c.say("250 2.0.0 Ok\r\n");
            } else if (verb == "NOOP") {
                c.say("250 2.0.0 Ok\r\n");
            } else if (verb == "QUIT") {
                c.say("221 2.0.0 Bye\r\n");
                break;
            } else {
                c.say("502 5.5.2 Command not recognised\r\n");
            }
        }
        std::lock_guard lock(m_mutex);
        ::close(fd);
        std::erase(m_clients, fd);
    }

    static QByteArray between(const QByteArray& line)
    {
        const qsizetype a = line.indexOf('<');
        const qsizetype b = line.indexOf('>', a + 1);
        return a >= 0 && b > a ? line.mid(a + 1, b - a - 1) : QByteArray();
    }

    const bool m_keepData;
    int m_listen = -1;
    quint16 m_port = 0;
    std::atomic_bool m_stopping{false};
    std::atomic_int m_connections{0};
    std::atomic_int m_dataSeen{0};
    std::atomic_bool m_silent{false};
    std::atomic_bool m_silentAtLogin{false};
    std::atomic_bool m_lineRules{false};
    int m_released = 0;
    std::condition_variable m_heldWake;
    mutable std::mutex m_mutex;
    std::vector<int> m_clients;
    std::thread m_acceptor;
    std::vector<std::thread> m_handlers;
    std::vector<Rule> m_rules;
    QByteArray m_user, m_password;
    QList<Message> m_messages;
    int m_count = 0;
};
