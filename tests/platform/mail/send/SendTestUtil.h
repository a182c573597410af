#pragma once
// Helpers shared by the sending tests: small messages, the files of a Maildir, an account.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringList>
#include <QTest>

#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/OutboxQueue.h"

namespace sendtest {

inline QByteArray message(const QByteArray& to, const QByteArray& extra = {}, const QByteArray& body = "Hello.\n")
{
    return "From: Ann <ann@example.org>\nTo: " + to + "\nSubject: Test\nMessage-ID: <" +
           QByteArray::number(QRandomGenerator::global()->generate64()) + "@example.org>\n" + extra +
           "MIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n\n" + body;
}

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QStringList filesIn(const QString& maildir)
{
    QStringList out;
    for (const char* sub : {"new", "cur"})
        for (const QString& n : QDir(maildir + QLatin1Char('/') + QLatin1String(sub)).entryList(QDir::Files))
            out << maildir + QLatin1Char('/') + QLatin1String(sub) + QLatin1Char('/') + n;
    return out;
}

inline mail::send::Account smtpAccount(const QString& name, const QString& url)
{
    mail::send::Account a;
    a.name = name;
    a.displayName = name;
    a.address = name.toLower() + QStringLiteral("@example.org");
    a.transport = url;
    return a;
}

// Where a queued message stands, by its file.
inline mail::send::QueueStatus queued(const QString& outbox, const QString& file)
{
    return mail::send::OutboxQueue::Of(outbox)->status(mail::send::MaildirUniquePart(file));
}

// Not tried again by itself: refused for good, or it may have been delivered.
inline bool forTheUser(const mail::send::QueueStatus& s)
{
    return s.state == mail::send::QueueState::Refused || s.state == mail::send::QueueState::MaybeDelivered;
}

// How many messages of the Outbox wait for the user.
inline int waitingForTheUser(const QString& outbox)
{
    int n = 0;
    for (const QString& f : filesIn(outbox))
        n += forTheUser(queued(outbox, f)) ? 1 : 0;
    return n;
}

// Whom a server took each message for, as "subject recipient".
template <typename Server>
QStringList deliveriesBySubject(const Server& server)
{
    QStringList out;
    for (const auto& m : server.messages()) {
        const qsizetype s = m.data.indexOf("Subject: ") + 9;
        const QByteArray subject = m.data.mid(s, m.data.indexOf('\r', s) - s);
        for (const QByteArray& r : m.recipients)
            out << QString::fromUtf8(subject + ' ' + r);
    }
    return out;
}

// No one got a message twice.
inline void checkOnce(const QStringList& got, const QString& where = {})
{
    QStringList sorted = got;
    sorted.sort();
    for (qsizetype i = 1; i < sorted.size(); ++i)
        QVERIFY2(sorted[i] != sorted[i - 1], qPrintable(where + ": delivered twice: " + sorted[i]));
}

} // namespace sendtest
