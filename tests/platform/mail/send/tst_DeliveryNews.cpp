// What the user is told of delivery, worded from what the queue holds: the status line's summary
// and the lines behind it.
#include <QTemporaryDir>
#include <QtTest>

#include "platform/mail/MimeUtil.h"
#include "platform/mail/send/DeliveryNews.h"
#include "platform/mail/send/MaildirWriter.h"
#include "tests/platform/mail/send/SendTestUtil.h"
#include "tests/support/TestMain.h"

using namespace mail::send;

Q_DECLARE_METATYPE(OutboxQueue::Told)

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
            << QStringLiteral("Sending: 1 refused. bob@example.net and 1 other: 550 5.1.1 bob: No such user; 550 5.1.1 carol: No such user")
            << answers;

        const QString reply = QStringLiteral("550-5.1.1 The account does not exist.\r\n550 5.1.1 Check the address.");
        OutboxQueue::Told unlisted;
        unlisted.retry = 11;
        unlisted.refusedRecipients = 1;
        unlisted.firstRefused = RecipientStatus{QStringLiteral("gone@example.net"), RecipientState::Refused, {}, reply};
        QTest::newRow("a reply of several lines, its message not listed")
            << unlisted
            << QStringLiteral("Sending: 11 waiting for a retry, 1 refused. gone@example.net: 550-5.1.1 The account does not exist. "
                              "550 5.1.1 Check the address.")
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
            << QStringLiteral("Sending: 2 waiting to be sent. The Outbox's delivery record is missing. So 1 message may have been "
                              "delivered already.")
            << finding;
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
