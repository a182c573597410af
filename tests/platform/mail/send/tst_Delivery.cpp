// Delivery the user can trust, against a real SMTP conversation on a loopback port: refusals per
// recipient, retries by the timer, one timeout per run for a silent server, at most once across a
// crash, and only what Send queued.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>

#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/mail/MimeUtil.h"
#include "platform/mail/send/Delivery.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/Spooler.h"
#include "platform/ui/DataFolder.h"
#include "tests/platform/mail/send/AioSmtpServer.h"
#include "tests/platform/mail/send/SendTestUtil.h"
#include "tests/platform/mail/send/SmtpTestServer.h"
#include "tests/support/TestMain.h"

using namespace mail::send;
using namespace sendtest;

Q_DECLARE_METATYPE(mail::send::QueueState)

namespace {

// A server that defers every recipient at RCPT, each with an answer of its own.
class DeferringServer final : public Transport {
public:
    SendResult send(const QString&, const QStringList& named, const QByteArray&, const EndOfData&) override
    {
        SendResult r{RecipientState::Deferred, QStringLiteral("450 4.2.0 Greylisted")};
        for (qsizetype k = 0; k < named.size(); ++k)
            r.refused.append({k, RecipientState::Deferred, QStringLiteral("450 4.2.0 <%1>: Greylisted").arg(named[k])});
        return r;
    }
};

unsigned modeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A message an earlier version (or another program) put into the Outbox: no queue mark.
QString placed(const QString& outbox, const QByteArray& bytes)
{
    return WriteToMaildir(outbox, bytes, MaildirSub::Cur, QStringLiteral("S"));
}

} // namespace

class TestDelivery : public QObject {
    Q_OBJECT

    QString m_outbox, m_sent;

    QString queue(const QByteArray& bytes)
    {
        const QString path = QueueMessage(m_outbox, bytes);
        [&] { QVERIFY(!path.isEmpty()); }();
        return path;
    }

    static QString lastSummary(const QSignalSpy& reports) { return reports.isEmpty() ? QString() : reports.last()[0].toString(); }
    // The summaries told, each change once.
    static QStringList summaries(const QSignalSpy& reports)
    {
        QStringList out;
        for (const QList<QVariant>& r : reports)
            if (out.isEmpty() || out.last() != r[0].toString())
                out << r[0].toString();
        return out;
    }

    // What the window tells, as the queue has it.
    DeliveryNews news() const { return TellDelivery(*OutboxQueue::Of(m_outbox), LoadAccounts()); }

    static DeliveryOptions quickRetries()
    {
        DeliveryOptions o;
        o.firstRetrySeconds = 1;
        o.lastRetrySeconds = 2;
        return o;
    }

private Q_SLOTS:
    void initTestCase() { mail::mime::ensureInit(); }

    void init()
    {
        testsupport::TestHome::reset();
        m_outbox = ui::DataPath(QStringLiteral("Mail/Outbox"));
        m_sent = ui::DataPath(QStringLiteral("Mail/Sent Items"));
    }

    // One recipient refused for good: the others get the message and the refusal is told in the
    // server's words. One refused for now gets it later, and only that one; the message waits in
    // the Outbox until then, and the refusal is still told once it has gone, after a restart too.
    void refusedRecipientsStopOnlyThemselves()
    {
        SmtpTestServer server;
        server.refuseRecipient("nobody@example.net", "550 5.1.1 <nobody@example.net>: Recipient unknown");
        server.refuseRecipient("busy@example.net", "450 4.2.1 Mailbox busy", 1);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        queue(message("a@example.net, nobody@example.net", "Cc: c@example.net\nBcc: busy@example.net\n"));

        RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.temporary, 1);
        QCOMPARE(r.refusedRecipients, 1);
        QCOMPARE(server.messages()[0].recipients, QList<QByteArray>({"a@example.net", "c@example.net"}));
        const QString refusal = QStringLiteral("was sent, but the server refused nobody@example.net: 550 5.1.1 "
                                               "<nobody@example.net>: Recipient unknown. It was not sent to that address.");
        DeliveryNews told = news();
        QString lines = told.lines.join('\n');
        QVERIFY2(lines.contains(refusal), qPrintable(lines));
        QVERIFY2(lines.contains("refused busy@example.net: 450 4.2.1 Mailbox busy. It will be tried again for that address at"),
                 qPrintable(lines));
        QCOMPARE(told.summary, QStringLiteral("Sending: 1 message waiting for a retry (1 recipient refused). "
                                              "nobody@example.net: 550 5.1.1 <nobody@example.net>: Recipient unknown"));
        QVERIFY(filesIn(m_sent).isEmpty());
        QCOMPARE(filesIn(m_outbox).size(), 1);
        QCOMPARE(OutboxQueue::Of(m_outbox)->status(MaildirUniquePart(filesIn(m_outbox).first())).state, QueueState::Waiting);

        r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 1);
        QCOMPARE(server.messages()[1].recipients, QList<QByteArray>{"busy@example.net"});
        QVERIFY(!server.messages()[1].data.contains("busy@"));
        QVERIFY(!server.messages()[1].data.contains("X-Ferrowyn"));
        QVERIFY(filesIn(m_outbox).isEmpty());
        QCOMPARE(filesIn(m_sent).size(), 1);    // as it was sent, blind copy included
        QVERIFY(readFile(filesIn(m_sent).first()).contains("busy@example.net"));
        const QString summary = QStringLiteral("Sending: 1 message sent (1 recipient refused). nobody@example.net: 550 5.1.1 "
                                               "<nobody@example.net>: Recipient unknown");
        // Nothing holds the queue between the runs here: news() reads the journal afresh, as a
        // restart does.
        told = news();
        QCOMPARE(told.summary, summary);
        QCOMPARE(told.lines.size(), 1);
        QVERIFY2(told.lines.first().endsWith(refusal), qPrintable(told.lines.first()));
    }

    // A temporary refusal goes again by itself once its wait is over; each run tells what it did.
    void temporaryRefusalIsRetriedByItself()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Test", "451 4.3.0 Try again later", 1);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        queue(message("a@example.net"));
        Spooler spooler(m_outbox, m_sent);
        spooler.setOptions(quickRetries());
        QSignalSpy reports(&spooler, &Spooler::runReported);
        spooler.deliver();
        QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), 1, 20000);
        QTRY_VERIFY(filesIn(m_outbox).isEmpty());    // filed once the server's answer is in
        QTRY_COMPARE(lastSummary(reports), QStringLiteral("Sending: 1 message sent."));
        QCOMPARE(summaries(reports), QStringList({"Sending: 1 message waiting to be sent.",
                                                  "Sending: 1 message waiting for a retry. a@example.net: 451 4.3.0 Try again later",
                                                  "Sending: 1 message sent."}));
        const QString details = reports[1][1].toString();
        QVERIFY2(details.startsWith("A message to a@example.net (\"Test\") could not be sent through \"Work\": "
                                    "451 4.3.0 Try again later. It will be tried again at "),
                 qPrintable(details));
    }

    // What a run tells counts every run since the user last sent (or checked mail), and keeps a
    // message that waits refused in view until it goes: over later runs, a new send and a restart.
    void whatWaitsRefusedStaysInView()
    {
        SmtpTestServer server;
        server.refuseRecipient("gone@example.net", "550 5.1.1 No such user", 1);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const QString refused = queue(message("gone@example.net"));
        queue(message("a@example.net"));
        const QString first = QStringLiteral("gone@example.net: 550 5.1.1 No such user");
        const QString line = QStringLiteral("A message to gone@example.net (\"Test\") could not be sent through \"Work\": "
                                            "550 5.1.1 No such user. It will not be tried again: open it in the Outbox to "
                                            "send it again or delete it.");
        {
            Spooler spooler(m_outbox, m_sent);
            QSignalSpy reports(&spooler, &Spooler::runReported);
            spooler.newTally();
            spooler.deliver();
            QTRY_COMPARE_WITH_TIMEOUT(lastSummary(reports), "Sending: 1 message sent, 1 refused. " + first, 20000);
            // The same send's next run.
            queue(message("b@example.net"));
            spooler.deliver();
            QTRY_COMPARE_WITH_TIMEOUT(lastSummary(reports), "Sending: 2 messages sent, 1 refused. " + first, 20000);
            QCOMPARE(reports.last()[1].toString(), line);
            // A new send counts afresh.
            queue(message("c@example.net"));
            spooler.newTally();
            spooler.deliver();
            QTRY_COMPARE_WITH_TIMEOUT(lastSummary(reports), "Sending: 1 message sent, 1 refused. " + first, 20000);
            QVERIFY(spooler.waitUntilIdle(20000));
        }
        QCOMPARE(server.messageCount(), 3);

        // After a restart it tells what it told before.
        Spooler spooler(m_outbox, m_sent);
        QSignalSpy reports(&spooler, &Spooler::runReported);
        spooler.deliver(true);
        QVERIFY(spooler.waitUntilIdle(20000));
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 20000);
        QCOMPARE(reports.last()[0].toString(), "Sending: 1 message sent, 1 refused. " + first);
        QCOMPARE(reports.last()[1].toString(), line);
        // Sent again, and taken this time.
        spooler.newTally();
        QVERIFY(spooler.queue()->requeue(MaildirUniquePart(refused)));
        spooler.deliver(true);
        QTRY_COMPARE_WITH_TIMEOUT(lastSummary(reports), QStringLiteral("Sending: 1 message sent."), 20000);
        QCOMPARE(reports.last()[1].toString(), QString());
    }

    // The summary names a recipient refused for good first, though its message is beyond the
    // ones whose lines are listed.
    void theSummaryNamesARefusalForGoodFirst()
    {
        SmtpTestServer server;
        server.refuseRecipient("busy@example.net", "450 4.2.1 Mailbox busy");
        server.refuseRecipient("gone@example.net", "550 5.1.1 No such user");
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        for (qsizetype i = 0; i < kListedWaiting; ++i)
            queue(message("busy@example.net"));
        queue(message("busy@example.net, gone@example.net"));
        DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        const DeliveryNews told = news();
        QCOMPARE(told.summary, QStringLiteral("Sending: 11 messages waiting for a retry (1 recipient refused). gone@example.net: 550 5.1.1 No such user"));
        QCOMPARE(told.unlisted, 1);
    }

    // A message that waits for the user after a restart is told by the first run, and no more
    // once it has left the Outbox, though no run follows.
    void whatWaitsForTheUserIsToldUntilItGoes_data()
    {
        QTest::addColumn<QByteArray>("records");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("summary");
        QTest::newRow("refused for good") << QByteArray("Q %u\nF %u\nP %u\n") << QByteArray("permanent\n550 5.1.1 No such user\n")
                                          << "Sending: 1 message refused. a@example.net: 550 5.1.1 No such user";
        QTest::newRow("may have been delivered")
            << QByteArray("Q %u\nF %u\nM %u\n") << QByteArray("permanent\nThe connection ended too soon.\n")
            << "Sending: 1 message may have been delivered. The server may have received it: check with the recipients before you "
               "send again from the Outbox.";
    }
    void whatWaitsForTheUserIsToldUntilItGoes()
    {
        QFETCH(QByteArray, records);
        QFETCH(QByteArray, answer);
        QFETCH(QString, summary);
        const QString file = placed(m_outbox, message("a@example.net"));
        const QString unique = MaildirUniquePart(file);
        writeFile(m_outbox + "/.queue", "ferrowyn-queue 1\n" + records.replace("%u", unique.toUtf8()));
        writeFile(m_outbox + "/.answer." + unique, answer);

        Spooler spooler(m_outbox, m_sent);
        QSignalSpy reports(&spooler, &Spooler::runReported);
        spooler.deliver(true);
        QTRY_COMPARE_WITH_TIMEOUT(reports.size(), 1, 20000);
        QCOMPARE(reports.last()[0].toString(), summary);
        const QString details = reports.last()[1].toString();
        QVERIFY2(details.startsWith("A message to a@example.net (\"Test\")") && details.contains(answer.split('\n')[1]),
                 qPrintable(details));

        // Taken over once: the earlier version's files are gone.
        QVERIFY(!QFile::exists(m_outbox + "/.queue") && !QFile::exists(m_outbox + "/.answer." + unique));
        // The run may still be telling when the file goes: what it tells last is that nothing waits.
        QVERIFY(QFile::remove(file));
        spooler.queue()->forget(unique);
        QTRY_VERIFY_WITH_TIMEOUT(reports.size() >= 2 && reports.last()[0].toString().isEmpty(), 20000);
        QCOMPARE(reports.last()[1].toString(), QString());
    }

    // A server that defers everything gets attempts at growing intervals, however often runs are
    // asked for (here: ten a second, as a bulk send's queueing asks).
    void aServerThatAlwaysDefersGetsFewAttempts()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Test", "451 4.3.0 Try again later");
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        queue(message("a@example.net"));
        Spooler spooler(m_outbox, m_sent);
        spooler.setOptions(quickRetries());
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 6500) {
            spooler.deliver();
            QTest::qWait(100);
        }
        // Waits of 1, 2, 2 seconds: four attempts at most in six and a half seconds.
        QVERIFY2(server.dataSeen() >= 2 && server.dataSeen() <= 4, qPrintable(QString::number(server.dataSeen())));
        QCOMPARE(server.messageCount(), 0);
    }

    // The clock set back by hours after a refusal for now: the retry waits at most the longest
    // wait from now, not the hours.
    void aClockSetBackDelaysNoRetryBeyondTheLongestWait()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Test", "451 4.3.0 Try again later", 1);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const QString unique = MaildirUniquePart(queue(message("a@example.net")));
        QDateTime clock = QDateTime::currentDateTimeUtc();
        DeliveryOptions o;
        o.dueOnly = true;
        o.firstRetrySeconds = 60;
        o.lastRetrySeconds = 600;
        o.clock = [&] { return clock; };
        DeliverOutbox(m_outbox, m_sent, LoadAccounts(), {}, nullptr, nullptr, o);
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        QCOMPARE(q->status(unique).nextTry, clock.addSecs(60));

        clock = clock.addSecs(-3 * 3600);
        QCOMPARE(q->nextDue(clock.addSecs(600), kDueTogetherSeconds), clock.addSecs(600));
        DeliverOutbox(m_outbox, m_sent, LoadAccounts(), {}, nullptr, nullptr, o);
        QCOMPARE(server.dataSeen(), 1);
        QCOMPARE(q->status(unique).nextTry, clock.addSecs(600));    // what the window tells
        clock = clock.addSecs(601);
        DeliverOutbox(m_outbox, m_sent, LoadAccounts(), {}, nullptr, nullptr, o);
        QCOMPARE(server.messageCount(), 1);
    }

    // Messages refused for now in one run, moments apart, are tried again together in one run
    // when their time comes, not one timer tick each.
    void retriesDueTogetherGoTogether()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Test", "451 4.3.0 Try again later", 2);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        queue(message("a@example.net"));
        queue(message("b@example.net"));
        Spooler spooler(m_outbox, m_sent);
        spooler.setOptions(quickRetries());
        spooler.deliver();
        QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), 2, 20000);
        QCOMPARE(server.connections(), 2);
    }

    // A server that never answers costs one timeout per run, not one per message; the rest of its
    // account's messages wait for the account's retry.
    void aSilentServerCostsOneTimeoutPerRun()
    {
        SmtpTestServer server;
        server.setSilent(true);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const std::shared_ptr<OutboxQueue> kept = OutboxQueue::Of(m_outbox);    // as the session keeps it
        for (int i = 0; i < 5; ++i)
            queue(message("a@example.net"));
        DeliveryOptions o;
        o.timeoutSeconds = 2;
        QElapsedTimer t;
        t.start();
        RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts(), {}, nullptr, nullptr, o);
        QVERIFY2(t.elapsed() < 5000, qPrintable(QString::number(t.elapsed())));
        QCOMPARE(r.temporary, 1);
        QCOMPARE(r.notTried, 4);
        QCOMPARE(server.connections(), 1);
        const QStringList lines = news().lines;
        QVERIFY2(lines.last().startsWith("4 more message(s) through \"Work\" were not tried: The server of \"Work\" did not answer. They will"),
                 qPrintable(lines.join('\n')));
        QCOMPARE(filesIn(m_outbox).size(), 5);

        // Within the account's wait a run that respects it tries nothing; one the user asks for does.
        o.dueOnly = true;
        r = DeliverOutbox(m_outbox, m_sent, LoadAccounts(), {}, nullptr, nullptr, o);
        QCOMPARE(server.connections(), 1);
        QCOMPARE(r.temporary, 0);
        o.dueOnly = false;
        DeliverOutbox(m_outbox, m_sent, LoadAccounts(), {}, nullptr, nullptr, o);
        QCOMPARE(server.connections(), 2);
    }

    // Killed after the data went and before the server's answer came: the restart sends nothing
    // again by itself, says the message may have been delivered, and the user decides.
    void aCrashMidTransferNeverSendsItAgain()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Test", "STALL", 1);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const QString file = queue(message("a@example.net"));
        const QString unique = MaildirUniquePart(file);

        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--deliver"), m_outbox, m_sent});
        QVERIFY(child.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(server.dataSeen(), 1, 30000);
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());

        Spooler spooler(m_outbox, m_sent);
        QSignalSpy reports(&spooler, &Spooler::runReported);
        spooler.deliver(true);
        QVERIFY(spooler.waitUntilIdle(20000));
        QCOMPARE(server.dataSeen(), 1);
        QCOMPARE(spooler.queue()->status(unique).state, QueueState::MaybeDelivered);
        QVERIFY(spooler.queue()->status(unique).answer.contains("it may have been delivered"));
        QTRY_VERIFY(reports.size() >= 1);
        QCOMPARE(reports[0][0].toString(), QStringLiteral("Sending: 1 message may have been delivered. The server may have received it: "
                                                          "check with the recipients before you send again from the Outbox."));
        QVERIFY(reports[0][1].toString().startsWith("A message to a@example.net (\"Test\") may have been delivered"));

        spooler.deliver(true);
        QVERIFY(spooler.waitUntilIdle(20000));
        QCOMPARE(server.dataSeen(), 1);
        QVERIFY(spooler.queue()->requeue(unique));    // the user: send it again
        spooler.deliver(true);
        QVERIFY(spooler.waitUntilIdle(20000));
        QCOMPARE(server.messageCount(), 1);
        QVERIFY(filesIn(m_outbox).isEmpty());
    }

    // Killed after the whole text went, while the server holds its answer: what the server said at
    // RCPT in that attempt is kept. The one it refused for good is told, the one it refused for
    // now is tried again by itself, and only the one it took may have been delivered.
    void aCrashAfterTheTextKeepsTheRcptAnswers()
    {
        SmtpTestServer server;
        server.refuseRecipient("gone@example.net", "550 5.1.1 <gone@example.net>: No such user");
        server.refuseRecipient("slowx@example.net", "450 4.2.0 <slowx@example.net>: Greylisted", 1);
        server.refuseMessage("Subject: Test", "HOLD", 1);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const QString unique = MaildirUniquePart(queue(message("a@example.net, slowx@example.net", "Cc: gone@example.net\n")));

        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--deliver"), m_outbox, m_sent});
        QVERIFY(child.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(server.dataSeen(), 1, 30000);
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());
        server.releaseHeld();
        QTRY_COMPARE(server.messageCount(), 1);

        const QueueStatus st = OutboxQueue::Of(m_outbox)->status(unique);
        QCOMPARE(st.state, QueueState::Waiting);
        QCOMPARE(st.recipients.size(), 3);
        QCOMPARE(st.recipients[0].address, QStringLiteral("slowx@example.net"));
        QCOMPARE(st.recipients[0].state, RecipientState::Deferred);
        QCOMPARE(st.recipients[1], (RecipientStatus{"gone@example.net", RecipientState::Refused, {}, "550 5.1.1 <gone@example.net>: No such user"}));
        QCOMPARE(st.recipients[2].address, QStringLiteral("a@example.net"));
        QCOMPARE(st.recipients[2].state, RecipientState::MaybeDelivered);

        DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(server.messageCount(), 2);
        QCOMPARE(server.messages()[1].recipients, QList<QByteArray>{"slowx@example.net"});
        QCOMPARE(OutboxQueue::Of(m_outbox)->status(unique).state, QueueState::MaybeDelivered);
        const DeliveryNews told = news();
        QVERIFY2(told.summary.contains("gone@example.net: 550 5.1.1"), qPrintable(told.summary));
        QVERIFY2(told.lines.join('\n').contains("may have been delivered"), qPrintable(told.lines.join('\n')));
    }

    // Killed once the server has accepted a message that it refused for now for one recipient:
    // after the restart that recipient still gets it, once, and the message is filed once.
    void aCrashAfterAcceptanceKeepsWhoWasRefusedForNow()
    {
        SmtpTestServer server;
        server.refuseRecipient("busy@example.net", "450 4.2.1 Mailbox busy", 1);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        queue(message("a@example.net, busy@example.net"));

        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--deliver-and-die-once-accepted"), m_outbox, m_sent});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        QCOMPARE(server.messageCount(), 1);

        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(server.messageCount(), 2);
        QCOMPARE(server.messages()[1].recipients, QList<QByteArray>{"busy@example.net"});
        QCOMPARE(r.delivered, 1);
        QVERIFY(filesIn(m_outbox).isEmpty());
        QCOMPARE(filesIn(m_sent).size(), 1);
        DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(server.messageCount(), 2);
    }

    // The connection ends after the whole message went and before the server answered: the server
    // may have it, so it is told once and waits for the user, across a restart too. One that ends
    // in the middle of the text is retried as any lost connection.
    void aConnectionLostBeforeTheAnswerWaitsForTheUser()
    {
        SmtpTestServer server;
        server.dropConnection("Subject: Middle", SmtpTestServer::Drop::MidData, 1);
        server.dropConnection("Subject: After", SmtpTestServer::Drop::AfterData, 1);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        // More than the sockets' buffers hold: most of it is still unwritten when the server drops it.
        const QString middle = queue(message("b@example.net", "Subject: Middle\n", QByteArray(63, 'x').append('\n').repeated(1 << 18)));
        const QString after = queue(message("a@example.net", "Subject: After\n"));
        const QString afterUnique = MaildirUniquePart(after);

        // The lost connection leaves the other message for the next run.
        RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.temporary, 1);
        QCOMPARE(r.maybeDelivered, 0);
        QCOMPARE(OutboxQueue::Of(m_outbox)->status(MaildirUniquePart(middle)).state, QueueState::Waiting);

        r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 1);
        QCOMPARE(r.maybeDelivered, 1);
        QCOMPARE(r.temporary + r.permanent, 0);
        QCOMPARE(server.dataSeen(), 2);
        const DeliveryNews told = news();
        QCOMPARE(told.summary, QStringLiteral("Sending: 1 message sent, 1 may have been delivered. The server may have received it: "
                                              "check with the recipients before you send again from the Outbox."));
        QVERIFY2(told.lines.first().startsWith("A message to a@example.net (\"After\") may have been delivered through \"Work\". "
                                               "The connection ended after the whole message had gone to the server and "
                                               "before it answered, so the server may have received it. It will not be "
                                               "sent again by itself"),
                 qPrintable(told.lines.first()));
        const QueueStatus kept = OutboxQueue::Of(m_outbox)->status(afterUnique);
        QCOMPARE(kept.state, QueueState::MaybeDelivered);
        QVERIFY2(kept.answer.contains("so the server may have received it")
                     && WithoutDetails(kept.answer).endsWith("check with its recipients before you send it again.")
                     && kept.answer.contains("\nDetails: "),
                 qPrintable(kept.answer));

        // A restart reads the same from the journal, tells nothing again and sends nothing.
        {
            std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
            QCOMPARE(q->status(afterUnique).state, QueueState::MaybeDelivered);
            QVERIFY(q->takeFoundInFlight().isEmpty());
        }
        r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered + r.temporary + r.permanent + r.maybeDelivered, 0);
        QCOMPARE(server.dataSeen(), 2);

        // The user sends it again.
        QVERIFY(OutboxQueue::Of(m_outbox)->requeue(afterUnique));
        r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 1);
        QCOMPARE(server.messageCount(), 2);
        QVERIFY(filesIn(m_outbox).isEmpty());
    }

    // A greylisting server takes a at once, b a second later and c later still: over the rounds
    // each gets the message once, and no transaction names anyone twice.
    void greylistedRecipientsGetItOnce()
    {
        AioSmtpServer server({"--delay-for", "b@example.net=1", "--delay-for", "c@example.net=2.5"});
        QVERIFY(server.ok());
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        queue(message("a@example.net, b@example.net", "Cc: c@example.net\n"));
        QElapsedTimer t;
        t.start();
        while (!filesIn(m_outbox).isEmpty() && t.elapsed() < 10000) {
            DeliverOutbox(m_outbox, m_sent, LoadAccounts());
            QTest::qWait(400);
        }
        const QList<AioSmtpServer::Transaction> all = server.transactions();
        for (const AioSmtpServer::Transaction& x : all) {
            QStringList named = x.named;
            named.removeDuplicates();
            QCOMPARE(named.size(), x.named.size());
        }
        QCOMPARE(server.deliveries(), QStringList({"a@example.net", "b@example.net", "c@example.net"}));
        QVERIFY(filesIn(m_outbox).isEmpty());
        QCOMPARE(filesIn(m_sent).size(), 1);
    }

    // The server refuses an address at an international domain, naming it in the ASCII form it
    // got: the refusal is the address's as the user wrote it, told and kept, and the others have it.
    void aRefusalAtAnInternationalDomainIsItsOwn()
    {
        AioSmtpServer server({"--refuse", "ida@xn--bcher-kva.example"});
        QVERIFY(server.ok());
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const QString unique = MaildirUniquePart(queue(message("a@example.net, ida@b\xc3\xbc" "cher.example")));
        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 1);
        QCOMPARE(r.refusedRecipients, 1);
        QCOMPARE(server.deliveries(), QStringList{"a@example.net"});
        const DeliveryNews told = news();
        QCOMPARE(told.summary, QString::fromUtf8("Sending: 1 message sent (1 recipient refused). ida@b\xc3\xbc" "cher.example: 550 5.1.1 "
                                                 "<ida@xn--bcher-kva.example>: Recipient address rejected: User unknown"));
        QCOMPARE(filesIn(m_sent).size(), 1);
        QCOMPARE(OutboxQueue::Of(m_outbox)->status(unique).state, QueueState::NotQueued);
    }

    // A sending command that took the whole text, handed it on to its server and waits is cut
    // off by quitting: it may have sent it, so the next start does not run it again, and says so.
    void aCommandCutOffAfterTheTextIsNotRunAgain()
    {
        AioSmtpServer server;
        QVERIFY(server.ok());
        Account a = smtpAccount("Local", {});
        a.transport = QStringLiteral("/usr/bin/python3 -c 'import smtplib, sys, time; text = sys.stdin.buffer.read(); "
                                     "s = smtplib.SMTP(\"127.0.0.1\", %1); s.sendmail(\"local@example.org\", sys.argv[1:], text); "
                                     "s.quit(); time.sleep(120)'")
                          .arg(server.url().section(QLatin1Char(':'), -1));
        QVERIFY(SaveAccounts({a}));
        const QString unique = MaildirUniquePart(queue(message("a@example.net")));
        {
            Spooler spooler(m_outbox, m_sent);
            spooler.deliver(true);
            QTRY_COMPARE_WITH_TIMEOUT(server.deliveries(), QStringList{"a@example.net"}, 20000);
            spooler.stop();    // the program quits
        }
        const QueueStatus st = OutboxQueue::Of(m_outbox)->status(unique);
        QCOMPARE(st.state, QueueState::MaybeDelivered);
        QVERIFY2(st.answer.contains("was stopped. It had the whole message, so it may have sent it."), qPrintable(st.answer));

        // The next start.
        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered + r.temporary + r.permanent, 0);
        QCOMPARE(server.deliveries(), QStringList{"a@example.net"});
        QVERIFY(news().summary.startsWith("Sending: 1 message may have been delivered."));
    }

    // The server drops the connection a few hundred bytes into the text, while the rest of it is
    // still to go (more than the sockets hold): nothing can have been delivered, so the message
    // goes again by itself, once, and no one is told it may have gone.
    void aConnectionDroppedInTheTextIsRetriedByItself()
    {
        AioSmtpServer server({"--drop-data-for", "d@example.net"});
        QVERIFY(server.ok());
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        queue(message("d@example.net", {}, QByteArray(63, 'x').append('\n').repeated(1 << 16)));
        Spooler spooler(m_outbox, m_sent);
        spooler.setOptions(quickRetries());
        QSignalSpy reports(&spooler, &Spooler::runReported);
        spooler.deliver();
        QTRY_VERIFY_WITH_TIMEOUT(filesIn(m_outbox).isEmpty(), 20000);
        QCOMPARE(server.deliveries(), QStringList{"d@example.net"});
        QCOMPARE(server.transactions().size(), 2);
        QVERIFY(server.transactions().first().dropped);
        for (const QList<QVariant>& r : std::as_const(reports))
            QVERIFY2(!r[0].toString().contains("may have been delivered"), qPrintable(r[0].toString()));
    }

    // What the queue's records say after a crash, read at the next start (%u the message, %b the
    // boot the records were written on).
    void journalSettlesWhatACrashLeft_data()
    {
        QTest::addColumn<QByteArray>("records");
        QTest::addColumn<QueueState>("state");
        QTest::addColumn<bool>("toldAsInFlight");
        QTest::newRow("queued") << QByteArray("Q %u\n") << QueueState::Waiting << false;
        QTest::newRow("marked, never tried") << QByteArray("Q %u\nB %b\nW %u\n") << QueueState::Waiting << false;
        QTest::newRow("marked, then a reboot") << QByteArray("Q %u\nB other-boot\nW %u\n") << QueueState::MaybeDelivered << true;
        // The end of the text never went: tried again by itself.
        QTest::newRow("transfer started") << QByteArray("Q %u\nB %b\nW %u\nF %u\n") << QueueState::Waiting << false;
        QTest::newRow("end of the text handed over") << QByteArray("Q %u\nB %b\nW %u\nF %u\nE %u\n") << QueueState::MaybeDelivered
                                                     << true;
        QTest::newRow("transfer started, then a reboot") << QByteArray("Q %u\nB other-boot\nW %u\nF %u\n")
                                                         << QueueState::MaybeDelivered << true;
        QTest::newRow("refused for now") << QByteArray("Q %u\nW %u\nF %u\nT %u\n") << QueueState::Waiting << false;
        QTest::newRow("refused for good") << QByteArray("Q %u\nF %u\nP %u\n") << QueueState::Refused << false;
        QTest::newRow("accepted, not filed") << QByteArray("Q %u\nF %u\nD %u\n") << QueueState::Delivered << false;
        QTest::newRow("sent again by the user") << QByteArray("Q %u\nF %u\nM %u\nQ %u\n") << QueueState::Waiting << false;
        QTest::newRow("left the queue") << QByteArray("Q %u\nX %u\n") << QueueState::NotQueued << false;
        QTest::newRow("never queued") << QByteArray() << QueueState::NotQueued << false;
        QTest::newRow("last record cut short") << QByteArray("Q %u\nB %b\nF %u") << QueueState::Waiting << false;
    }
    void journalSettlesWhatACrashLeft()
    {
        QFETCH(QByteArray, records);
        QFETCH(QueueState, state);
        QFETCH(bool, toldAsInFlight);
        const QString file = placed(m_outbox, message("a@example.net"));
        const QByteArray unique = MaildirUniquePart(file).toUtf8();
        records.replace("%u", unique).replace("%b", OutboxQueue::BootId().toUtf8());
        writeFile(m_outbox + "/.queue", "ferrowyn-queue 1\n" + records);

        std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        QCOMPARE(q->status(QString::fromUtf8(unique)).state, state);
        QCOMPARE(q->takeFoundInFlight().contains(QString::fromUtf8(unique)), toldAsInFlight);
        // What it settled is on record: the next start reads the same and tells nothing again.
        q.reset();
        q = OutboxQueue::Of(m_outbox);
        QCOMPARE(q->status(QString::fromUtf8(unique)).state, state);
        QVERIFY(q->takeFoundInFlight().isEmpty());
    }

    // Sent again by the user, a message goes to every recipient the server has not taken, each
    // once: here one took it, one may have got it as the connection ended, one was refused.
    void sendingAgainSkipsWhoGotIt()
    {
        SmtpTestServer server;
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const QString file = placed(m_outbox, message("a@example.net, b@example.net", "Cc: c@example.net, B@example.net\n"));
        const QByteArray unique = MaildirUniquePart(file).toUtf8();
        writeFile(m_outbox + "/.queue", "ferrowyn-queue 2\nQ " + unique + "\nR " + unique
                                            + "\tm\t1\t-\tp\tThe connection ended.\ta@example.net\ta\t-\t"
                                              "\tb@example.net\tm\t-\tConnection died\tc@example.net\tp\t-\t550 5.1.1 No%09such user\n");
        std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        QueueStatus st = q->status(QString::fromUtf8(unique));
        QCOMPARE(st.state, QueueState::MaybeDelivered);
        QCOMPARE(st.recipients.size(), 3);
        QCOMPARE(st.recipients[2].answer, QStringLiteral("550 5.1.1 No\tsuch user"));
        QVERIFY(q->requeue(QString::fromUtf8(unique)));
        q.reset();    // read back as a restart reads it
        st = OutboxQueue::Of(m_outbox)->status(QString::fromUtf8(unique));
        QCOMPARE(st.state, QueueState::Waiting);
        QCOMPARE(st.recipients, QList<RecipientStatus>({{"a@example.net", RecipientState::Accepted, {}, {}}}));

        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 1);
        QCOMPARE(server.messageCount(), 1);
        QCOMPARE(server.messages()[0].recipients, QList<QByteArray>({"b@example.net", "c@example.net"}));
        QVERIFY(filesIn(m_outbox).isEmpty());
    }

    // A message changed while a run has read it ahead (the user saved it anew while the one
    // before it was on the wire) goes out as it is now, to whom it names now.
    void aMessageChangedWhileReadAheadGoesAsItIsNow()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: First", "HOLD", 1);
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        queue(message("a@example.net", "Subject: First\n"));
        const QString second = queue(message("old@example.net", "Subject: Second\n"));
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        Spooler spooler(m_outbox, m_sent);
        spooler.deliver(true);
        QTRY_COMPARE_WITH_TIMEOUT(server.dataSeen(), 1, 20000);    // the first on the wire, the second read
        // Saved anew as the mail store saves it: held while it is written through tmp/.
        const QString unique = MaildirUniquePart(second);
        QVERIFY(q->hold(unique));
        writeFile(m_outbox + "/tmp/saving", message("new@example.net", "Subject: Second\n", "Changed.\n"));
        QVERIFY(::rename(QFile::encodeName(m_outbox + "/tmp/saving").constData(), QFile::encodeName(second).constData()) == 0);
        q->release(unique);
        server.releaseHeld();
        QVERIFY(spooler.waitUntilIdle(20000));
        QCOMPARE(server.messageCount(), 2);
        QCOMPARE(server.messages()[1].recipients, QList<QByteArray>{"new@example.net"});
        QVERIFY(server.messages()[1].data.contains("Changed."));
    }

    // A retry copy an earlier version queued for those it still owed (its envelope line) goes to
    // them only: taken over, the others count as having it.
    void anEarlierRetryCopyGoesToItsEnvelopeOnly()
    {
        const QString file = placed(m_outbox, message("a@example.net, b@example.net", "X-Ferrowyn-Envelope-To: b@example.net\n"));
        writeFile(m_outbox + "/.queue", "ferrowyn-queue 1\nQ " + MaildirUniquePart(file).toUtf8() + "\n");
        SmtpTestServer server;
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 1);
        QCOMPARE(server.messages()[0].recipients, QList<QByteArray>{"b@example.net"});
        QVERIFY(!server.messages()[0].data.contains("X-Ferrowyn"));
    }

    // A message to 20,000 recipients that the server defers again and again: its state is kept in
    // place, so what is stored after twelve attempts is about what one attempt left.
    void storedStateStaysLinearInRecipients()
    {
        constexpr int kRecipients = 20000;
        QByteArray to;
        for (int i = 0; i < kRecipients; ++i)
            to += (i ? ", r" : "r") + QByteArray::number(i) + "@example.net";
        const QString file = queue(message(to));
        QVERIFY(SaveAccounts({smtpAccount("Work", "smtp://127.0.0.1:9")}));
        DeliveryOptions o;
        o.transport = [](const Account&) { return std::make_unique<DeferringServer>(); };
        const auto stored = [&] {
            qint64 size = 0;
            for (const char* tail : {"", "-wal", "-shm"})
                size += QFileInfo(m_outbox + "/.queue.db" + tail).size();
            return size;
        };
        qint64 first = 0;
        QElapsedTimer t;
        t.start();
        for (int attempt = 1; attempt <= 12; ++attempt) {
            DeliverOutbox(m_outbox, m_sent, LoadAccounts(), {}, nullptr, nullptr, o);
            if (attempt == 1)
                first = stored();
        }
        const QueueStatus st = OutboxQueue::Of(m_outbox)->status(MaildirUniquePart(file));
        QCOMPARE(st.attempts, 12);
        QCOMPARE(st.recipients.size(), kRecipients);
        QCOMPARE(st.recipients.last().answer, QStringLiteral("450 4.2.0 <r19999@example.net>: Greylisted"));
        QVERIFY2(stored() < 2 * first, qPrintable(QStringLiteral("%1 bytes after one attempt, %2 after twelve").arg(first).arg(stored())));
        qInfo("20,000 recipients deferred 12 times: %lld bytes stored after one attempt, %lld after twelve, %lld ms",
              first, stored(), t.elapsed());
    }

    // Only what Send queued is delivered: a file put there by other means is listed and never
    // sent. One queued and not in place yet when the program stopped goes in place at the next
    // start; what a crash left half-written in tmp/ goes once it is old, and a file another
    // program is writing there now is left alone.
    void onlyWhatWasQueuedGoes()
    {
        OutboxQueue::Of(m_outbox);    // an Outbox of this version, empty
        queue(message("a@example.net"));
        const QString foreign = placed(m_outbox, message("stranger@example.net"));
        const QString late = QStringLiteral("1700000000.M000001P1Q000000000001R00000000.host");
        writeFile(m_outbox + "/tmp/" + late, message("late@example.net"));
        {
            sqlite3* db = nullptr;
            QCOMPARE(sqlite3_open(QFile::encodeName(m_outbox + "/.queue.db").constData(), &db), SQLITE_OK);
            const QByteArray insert = "INSERT INTO messages(name, rel, state) VALUES('" + late.toUtf8() + "', 'cur/" + late.toUtf8()
                                      + ":2,S', 'w')";
            QCOMPARE(sqlite3_exec(db, insert.constData(), nullptr, nullptr, nullptr), SQLITE_OK);
            sqlite3_close(db);
        }
        writeFile(m_outbox + "/tmp/half-written", "From: x");
        QFile half(m_outbox + "/tmp/half-written");
        QVERIFY(half.open(QIODevice::ReadWrite));
        QVERIFY(half.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
        half.close();
        writeFile(m_outbox + "/tmp/being-written", "From: y");

        SmtpTestServer server;
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const RunReport r = DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(r.delivered, 2);
        QStringList to;
        for (const SmtpTestServer::Message& m : server.messages())
            to << QString::fromUtf8(m.recipients.join(','));
        to.sort();
        QCOMPARE(to, QStringList({"a@example.net", "late@example.net"}));
        QCOMPARE(filesIn(m_outbox), QStringList{foreign});
        QCOMPARE(OutboxQueue::Of(m_outbox)->status(MaildirUniquePart(foreign)).state, QueueState::NotQueued);
        QCOMPARE(QDir(m_outbox + "/tmp").entryList(QDir::Files), QStringList{"being-written"});
    }

    // Check Mail's lines say, for each refusal, whether it is tried again.
    void checkMailSaysWhatIsTriedAgain()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Later", "451 4.3.0 Try again later");
        server.refuseMessage("Subject: Never", "554 5.7.1 Rejected");
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        queue(message("a@example.net", "Subject: Later\n"));
        queue(message("b@example.net", "Subject: Never\n"));
        Spooler spooler(m_outbox, m_sent);
        QSignalSpy done(&spooler, &Spooler::sendReceiveFinished);
        spooler.sendReceive();
        QVERIFY(done.wait(20000));
        const QStringList lines = done.first().first().toStringList();
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].startsWith("A message to a@example.net (\"Later\") could not be sent through \"Work\": "
                                     "451 4.3.0 Try again later. It will be tried again at "),
                 qPrintable(lines[0]));
        QCOMPARE(lines[1], QStringLiteral("A message to b@example.net (\"Never\") could not be sent through \"Work\": "
                                          "554 5.7.1 Rejected. It will not be tried again: open it in the Outbox to send it "
                                          "again or delete it."));
        // The next check tells the one refused for good as waiting for the user.
        done.clear();
        spooler.sendReceive();
        QVERIFY(done.wait(20000));
        QVERIFY(done.first().first().toStringList().contains(lines[1]));
    }

    // The Outbox's messages and its queue, which keeps the answers, are the user's alone; an
    // answer an earlier version kept in a file of its own goes once a newer one is recorded.
    // A message to a great many recipients, some taken, some deferred, some refused: who is still
    // owed and what an attempt did to each are found by address, not by a search per recipient.
    void manyRecipientsCostLinearTime()
    {
        constexpr int kRecipients = 40000;
        QStringList all;
        QList<RecipientStatus> known;
        for (int i = 0; i < kRecipients; ++i) {
            all << QStringLiteral("User%1@example.org").arg(i);
            if (i % 2 == 0)
                known.append({QStringLiteral("user%1@EXAMPLE.org").arg(i), RecipientState::Accepted, {}, {}});
            else if (i % 4 == 1)
                known.append({all.last(), RecipientState::Deferred, {}, QStringLiteral("450 <%1>: later").arg(all.last())});
        }
        QElapsedTimer t;
        t.start();
        const QStringList owed = OwedRecipients(all, known);
        // The odd ones are owed, in order: every fourth of them refused.
        SendResult result{RecipientState::Accepted, {}};
        for (int i = 3; i < kRecipients; i += 8)
            result.refused.append({(i - 1) / 2, RecipientState::Refused, QStringLiteral("550 no such user")});
        const QList<RecipientStatus> outcome = AttemptOutcome(owed, result, {});
        const QList<RecipientStatus> merged = MergeOutcome(known, outcome);
        const QueueState state = MessageState(all, merged);
        const QString kept = MessageAnswer(QueueState::Waiting, known);    // each answer its own
        const qint64 elapsed = t.elapsed();
        QCOMPARE(kept.count(QLatin1Char('\n')), kRecipients / 4 - 1);

        QCOMPARE(owed.size(), kRecipients / 2);   // the deferred and the never tried, letter case ignored
        QCOMPARE(merged.size(), kRecipients);
        QCOMPARE(std::count_if(merged.begin(), merged.end(), [](const RecipientStatus& r) { return r.state == RecipientState::Refused; }),
                 qsizetype(kRecipients / 8));
        QCOMPARE(state, QueueState::Delivered);
        // A search per recipient takes minutes here; by address it is a few milliseconds.
        QVERIFY2(elapsed < 3000, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    }

    // The Outbox's messages and its queue, which keeps the answers, are the user's alone.
    void outboxFilesArePrivate()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Test", "554 5.7.1 Rejected");
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const std::shared_ptr<OutboxQueue> kept = OutboxQueue::Of(m_outbox);    // as the session keeps it
        const QString file = queue(message("a@example.net"));
        DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(modeOf(file), 0600u);
        for (const char* name : {"/.queue.db", "/.queue.db-wal", "/.queue.db-shm", "/.queue.lock"})
            QVERIFY2(modeOf(m_outbox + name) == 0600u, name);
        QCOMPARE(kept->status(MaildirUniquePart(file)).answer, QStringLiteral("554 5.7.1 Rejected"));
    }
};

// "--deliver OUTBOX SENT": one delivery run in a process of its own, for the crash tests to kill;
// "--deliver-and-die-once-accepted" kills itself as soon as the server has accepted a message.
int main(int argc, char** argv)
{
    if (argc == 4 && (qstrcmp(argv[1], "--deliver") == 0 || qstrcmp(argv[1], "--deliver-and-die-once-accepted") == 0)) {
        QCoreApplication app(argc, argv);
        mail::mime::ensureInit();
        DeliveryOptions o;
        if (qstrcmp(argv[1], "--deliver-and-die-once-accepted") == 0)
            o.step = [](RunStep s) {
                if (s == RunStep::Recorded)
                    ::kill(::getpid(), SIGKILL);
            };
        DeliverOutbox(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), LoadAccounts(), {}, nullptr, nullptr, o);
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testsupport::TestHome::reset();
    QApplication app(argc, argv);
    TestDelivery tc;
    return testsupport::runTests(argc, argv, &tc);
}

#include "tst_Delivery.moc"
