// What the user is told of delivery, worded from what the queue holds: the status line's summary
// and the lines behind it.
#include <QTemporaryDir>
#include <QtTest>

#include "platform/mail/MimeUtil.h"
#include "platform/mail/send/Delivery.h"
#include "platform/mail/send/DeliveryNews.h"
#include "platform/mail/send/MaildirWriter.h"
#include "tests/platform/mail/send/SendTestUtil.h"
#include "tests/support/TestMain.h"

using namespace mail::send;

Q_DECLARE_METATYPE(OutboxQueue::Told)
Q_DECLARE_METATYPE(QueueStatus)

namespace {

// A message waiting in the Outbox, as the queue tells it.
OutboxQueue::Standing standing(const QString& dir, const QByteArray& to, const QueueStatus& status)
{
    const QString path = WriteToMaildir(dir, sendtest::message(to), MaildirSub::Cur, QStringLiteral("S"));
    return {MaildirUniquePart(path), path, status};
}

} // namespace

class TestDeliveryNews : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private Q_SLOTS:
    void initTestCase()
    {
        mail::mime::ensureInit();
        QVERIFY(EnsureMaildir(dir.path()));
    }

    // The status bar has one line: answers of several lines, and findings, are joined there; the
    // tooltip keeps them as they are.
    void theSummaryIsOneLine_data()
    {
        QTest::addColumn<OutboxQueue::Told>("told");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("detail");

        const QString answers = QStringLiteral("550 5.1.1 bob: No such user\n550 5.1.1 carol: No such user");
        OutboxQueue::Told refused;
        refused.refused = 1;
        refused.standing = {standing(dir.path(), "bob@example.net, carol@example.net", {QueueState::Refused, 1, {}, false, answers, {}})};
        refused.standingTotal = 1;
        QTest::newRow("a message refused with two answers")
            << refused
            << QStringLiteral("Sending: 1 message refused. bob@example.net and 1 other: 550 5.1.1 bob: No such user; 550 5.1.1 carol: "
                              "No such user")
            << answers;

        const QString reply = QStringLiteral("550-5.1.1 The account does not exist.\r\n550 5.1.1 Check the address.");
        OutboxQueue::Told unlisted;
        unlisted.retry = 11;
        unlisted.refusedRecipients = 1;
        unlisted.firstRefused = RecipientStatus{QStringLiteral("gone@example.net"), RecipientState::Refused, {}, reply};
        QTest::newRow("a reply of several lines, its message not listed")
            << unlisted
            << QStringLiteral("Sending: 11 messages waiting for a retry (1 recipient refused). gone@example.net: 550-5.1.1 The account "
                              "does not exist. 550 5.1.1 Check the address.")
            << QString();

        // Messages counted, recipients told apart from them.
        const RecipientStatus gone{QStringLiteral("gone@example.net"), RecipientState::Refused, {}, QStringLiteral("550 5.1.1 No such user")};
        OutboxQueue::Told one;
        one.retry = 1;
        one.refusedRecipients = 1;
        one.firstRefused = gone;
        QTest::newRow("one message to three, one of them refused")
            << one << QStringLiteral("Sending: 1 message waiting for a retry (1 recipient refused). gone@example.net: 550 5.1.1 No such user")
            << QString();
        OutboxQueue::Told mixed;
        mixed.sent = 2;
        mixed.notes = {{QStringLiteral("Test"), QStringLiteral("alice@example.net"), 3, {gone, gone}}};
        mixed.refused = 1;
        mixed.firstRefused = gone;
        QTest::newRow("sent with refusals, and a message refused as a whole")
            << mixed
            << QStringLiteral("Sending: 2 messages sent, 1 refused (and 2 recipients of the others). gone@example.net: 550 5.1.1 No such user")
            << QString();

        const QString finding = QStringLiteral("The Outbox's delivery record is missing.\nSo 1 message may have been delivered already.");
        OutboxQueue::Told found;
        found.finding = finding;
        QTest::newRow("a finding alone")
            << found << QStringLiteral("The Outbox's delivery record is missing. So 1 message may have been delivered already.")
            << finding;
        found.toSend = 2;
        QTest::newRow("a finding after the counts")
            << found
            << QStringLiteral("Sending: 2 messages waiting to be sent. The Outbox's delivery record is missing. So 1 message may "
                              "have been delivered already.")
            << finding;
    }

    // Each recipient's outcome when they fared differently; nothing of them when they fared
    // alike, the message's own state saying it then.
    void eachRecipientIsTold_data()
    {
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QueueStatus>("status");
        QTest::addColumn<QStringList>("told");

        const QDateTime next = QDateTime::currentDateTime().addSecs(3600);
        const QString at = WhenText(next);
        const RecipientStatus alice{QStringLiteral("alice@example.net"), RecipientState::Accepted, {}, {}};
        const RecipientStatus gone{QStringLiteral("gone@example.net"), RecipientState::Refused, {}, QStringLiteral("550 5.1.1 No such user")};
        const RecipientStatus grey{QStringLiteral("grey3@example.net"), RecipientState::Deferred, next, QStringLiteral("450 4.7.1 Greylisted")};
        const QString sent = QStringLiteral("Sent to alice@example.net. It will not be sent to that address again.");
        const QString refused = QStringLiteral("The server refused gone@example.net for good: 550 5.1.1 No such user. It will not be "
                                               "sent to that address unless you send it again.");
        const QString deferred = "The server refused grey3@example.net for now: 450 4.7.1 Greylisted. It will be tried again for that "
                                 "address at " + at + ".";
        const QByteArray three = "alice@example.net, gone@example.net\nBcc: grey3@example.net";
        const auto status = [&](QueueState state, const QList<RecipientStatus>& known, const QString& own = {}) {
            QueueStatus st{state, 1, state == QueueState::Waiting ? next : QDateTime(), false, own, known};
            if (own.isEmpty())
                st.answer = MessageAnswer(state, known);
            return st;
        };

        QTest::newRow("not tried yet") << three << status(QueueState::Waiting, {}) << QStringList();
        QTest::newRow("refused for now as a whole")
            << QByteArray("grey3@example.net, Grey4@Example.net")
            << status(QueueState::Waiting, {grey, {QStringLiteral("grey4@example.net"), RecipientState::Deferred, next, grey.answer}})
            << QStringList();
        QTest::newRow("refused for good as a whole") << QByteArray("gone@example.net") << status(QueueState::Refused, {gone}) << QStringList();
        QTest::newRow("sent, refused for good, refused for now, Bcc too")
            << three << status(QueueState::Waiting, {alice, gone, grey}) << QStringList{sent, refused, deferred};
        QTest::newRow("sent again after that: who has it and who waits")
            << three << status(QueueState::Waiting, {alice})
            << QStringList{sent, QStringLiteral("It waits in the Outbox to be sent to gone@example.net and grey3@example.net.")};
        const RecipientStatus doubt{QStringLiteral("gone@example.net"), RecipientState::MaybeDelivered, {},
                                    QStringLiteral("The connection was lost before the server answered.")};
        QTest::newRow("may have been delivered to one")
            << QByteArray("alice@example.net, gone@example.net") << status(QueueState::MaybeDelivered, {alice, doubt})
            << QStringList{sent, "It may have been delivered to gone@example.net. " + doubt.answer};
        QTest::newRow("refused one by one in the server's own words")
            << QByteArray("gone@example.net, old@example.net")
            << status(QueueState::Refused, {gone, {QStringLiteral("old@example.net"), RecipientState::Refused, {}, QStringLiteral("550 5.2.1 Mailbox disabled")}})
            << QStringList{refused, QStringLiteral("The server refused old@example.net for good: 550 5.2.1 Mailbox disabled. It will not be "
                                                   "sent to that address unless you send it again.")};
        QTest::newRow("the message's own answer after a partial delivery")
            << three << status(QueueState::Waiting, {alice}, QStringLiteral("535 5.7.8 Authentication failed"))
            << QStringList{sent, QStringLiteral("It waits in the Outbox to be sent to gone@example.net and grey3@example.net."),
                           "535 5.7.8 Authentication failed. It will be tried again at " + at + "."};
    }

    void eachRecipientIsTold()
    {
        QFETCH(QByteArray, to);
        QFETCH(QueueStatus, status);
        QFETCH(QStringList, told);
        QCOMPARE(TellRecipients(status, standing(dir.path(), to, status).path), told);
    }

    // Thousands of recipients, each refused in words of its own: a few lines, a few names each.
    void manyRecipientsAreSummarised()
    {
        QStringList to;
        QList<RecipientStatus> known;
        for (int i = 0; i < 5000; ++i) {
            to << QStringLiteral("r%1@example.net").arg(i);
            known.append({to.last(), i < 3 ? RecipientState::Accepted : RecipientState::Refused, {},
                          QStringLiteral("550 5.1.1 <%1>: No such user").arg(to.last())});
        }
        const QueueStatus st{QueueState::Delivered, 0, {}, false, {}, known};
        const QStringList lines = TellRecipients(st, standing(dir.path(), to.join(QStringLiteral(", ")).toUtf8(), st).path);
        QCOMPARE(lines.size(), 6);
        QCOMPARE(lines[0], QStringLiteral("Sent to r0@example.net, r1@example.net and r2@example.net. It will not be sent to those "
                                          "addresses again."));
        QCOMPARE(lines[4], QStringLiteral("The server refused r6@example.net for good: 550 5.1.1 <r6@example.net>: No such user. It "
                                          "will not be sent to that address unless you send it again."));
        QCOMPARE(lines[5], QStringLiteral("... and 4993 more recipients with other answers."));
    }

    // When a message goes again is told in our words, before the transport's own details.
    void theRetryComesBeforeTheDetails()
    {
        const QList<Account> accounts{sendtest::smtpAccount("Work", "smtp://127.0.0.1:1")};
        const QDateTime next = QDateTime::currentDateTime().addSecs(3600);
        const QString again = "It will be tried again at " + WhenText(next) + ".";
        const QString details = QStringLiteral("\nDetails: Failed to connect to 127.0.0.1 port 1: Connection refused");
        const QString ours = QStringLiteral("Could not connect to the mail server of \"Work\".");
        QueueStatus st{QueueState::Waiting, 1, next, false, FailureText(ours, details.mid(10)), {}};
        OutboxQueue::Told told;
        told.retry = 1;
        told.standing = {standing(dir.path(), "bob@example.net", st)};
        told.standingTotal = 1;
        QCOMPARE(TellDelivery(told, accounts).lines,
                 QStringList{"A message to bob@example.net (\"Test\") could not be sent through \"Work\": " + ours + " " + again + details});
        QCOMPARE(TellWaiting(st, told.standing[0].path, accounts), "This message was not sent: " + ours + "\n" + again + details);
        // Its recipients fared differently: the message's own answer closes their lines.
        st.recipients = {{QStringLiteral("alice@example.net"), RecipientState::Accepted, {}, {}}};
        const QStringList lines = TellRecipients(st, standing(dir.path(), "alice@example.net, bob@example.net", st).path);
        QCOMPARE(lines.value(lines.size() - 1), ours + " " + again + " " + details.mid(1));
    }

    void theSummaryIsOneLine()
    {
        QFETCH(OutboxQueue::Told, told);
        QFETCH(QString, summary);
        QFETCH(QString, detail);
        const DeliveryNews news = TellDelivery(told, {});
        QCOMPARE(news.summary, summary);
        if (!detail.isEmpty())
            QVERIFY2(news.lines.join(QLatin1Char('\n')).contains(detail), qPrintable(news.lines.join(QLatin1Char('\n'))));
    }
};

FERROWYN_TEST_MAIN(TestDeliveryNews)
#include "tst_DeliveryNews.moc"
