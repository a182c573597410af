#pragma once
// The Debian aiosmtpd server (smtp_server.py beside this file) on a free loopback port, as a test
// meets a real one: greylisting, a connection dropped in the middle of the text. What it answered
// and took is read back from its log.
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class AioSmtpServer {
public:
    struct Transaction {
        QStringList named;      // RCPT TO, in order
        QStringList accepted;   // what the server took the message for (empty: none)
        bool dropped = false;   // the connection was reset in the text
        QString subject;
        QString sender;         // MAIL FROM
        QString from;           // the From field as the server read it
    };

    // args: the script's options (--delay-for, --drop-data-for ...).
    explicit AioSmtpServer(const QStringList& args = {})
    {
        m_log = m_dir.filePath(QStringLiteral("smtp.log"));
        m_process.setProgram(QStringLiteral("/usr/bin/python3"));
        m_process.setArguments(QStringList{QStringLiteral(FERROWYN_FIXTURES "/../platform/mail/send/smtp_server.py"),
                                           QStringLiteral("--log"), m_log}
                               + args);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return;
        while (m_port == 0 && m_process.waitForReadyRead(20000)) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("PORT "))
                m_port = line.mid(5).toInt();
        }
    }
    ~AioSmtpServer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

    bool ok() const { return m_port > 0; }
    QString url() const { return QStringLiteral("smtp://127.0.0.1:%1").arg(m_port); }

    QList<Transaction> transactions() const
    {
        QList<Transaction> out;
        QFile f(m_log);
        if (!f.open(QIODevice::ReadOnly))
            return out;
        QHash<int, qsizetype> at;
        while (!f.atEnd()) {
            const QJsonObject e = QJsonDocument::fromJson(f.readLine()).object();
            const int t = e.value(QStringLiteral("transaction")).toInt();
            const QString event = e.value(QStringLiteral("event")).toString();
            if (event == QLatin1String("mail")) {
                at.insert(t, out.size());
                out.append(Transaction{});
                out.last().sender = e.value(QStringLiteral("sender")).toString();
                continue;
            }
            if (!at.contains(t))
                continue;
            Transaction& x = out[at.value(t)];
            if (event == QLatin1String("rcpt")) {
                x.named << e.value(QStringLiteral("recipient")).toString();
            } else if (event == QLatin1String("message")) {
                for (const QJsonValue& r : e.value(QStringLiteral("recipients")).toArray())
                    x.accepted << r.toString();
                x.subject = e.value(QStringLiteral("subject")).toString();
                x.from = e.value(QStringLiteral("from_header")).toString();
            } else if (event == QLatin1String("dropped")) {
                x.dropped = true;
            }
        }
        return out;
    }

    // Every recipient the server took a message for, as often as it did.
    QStringList deliveries() const
    {
        QStringList out;
        for (const Transaction& t : transactions())
            out += t.accepted;
        out.sort();
        return out;
    }

private:
    QTemporaryDir m_dir;
    QString m_log;
    QProcess m_process;
    int m_port = 0;
};
