// The Outbox queue's state against damage of the kinds a crash, a full disk, a restored backup or
// a second program leave: never a message sent again to those who have it, never one dropped,
// and the user told. Messages are partly delivered against a real SMTP conversation on a
// loopback port, the queue is damaged, and the next start delivers to a server that takes all.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>

#include <signal.h>
#include <unistd.h>

#include "platform/mail/MimeUtil.h"
#include "platform/mail/send/Delivery.h"
#include "platform/mail/send/DeliveryNews.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/QueueDatabase.h"
#include "platform/ui/DataFolder.h"
#include "tests/platform/mail/send/SendTestUtil.h"
#include "tests/platform/mail/send/SmtpTestServer.h"
#include "tests/support/TestMain.h"

using namespace mail::send;
using namespace sendtest;

Q_DECLARE_METATYPE(mail::send::QueueFault)

namespace {

constexpr int kMessages = 3;

// 3 To and 2 Bcc: the server takes a, b and c, defers busy and refuses gone for good.
QByteArray partMessage(int k)
{
    const QByteArray n = QByteArray::number(k);
    return "From: Ann <ann@example.org>\nTo: a" + n + "@example.net, b" + n + "@example.net, busy" + n
           + "@example.net\nBcc: gone" + n + "@example.net, c" + n + "@example.net\nSubject: Part " + n + "\nMessage-ID: <part" + n
           + "@example.org>\nMIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n\nHello.\n";
}

void refuseSome(SmtpTestServer& server, int busyTimes)
{
    for (int k = 0; k < kMessages; ++k) {
        const QByteArray n = QByteArray::number(k);
        server.refuseRecipient("busy" + n + "@example.net", "450 4.2.0 <busy" + n + "@example.net>: Greylisted", busyTimes);
        server.refuseRecipient("gone" + n + "@example.net", "550 5.1.1 <gone" + n + "@example.net>: No such user");
    }
}

// The old journal's spelling of a state, for a message as the queue has it.
QByteArray oldRecords(const QString& unique, const QueueStatus& s)
{
    auto field = [](const QString& t) {
        QByteArray f = t.toUtf8();
        f.replace('%', "%25").replace('\t', "%09").replace('\n', "%0A");
        return f;
    };
    auto time = [](const QDateTime& t) { return t.isValid() ? QByteArray::number(t.toMSecsSinceEpoch()) : QByteArray("-"); };
    const char state = s.state == QueueState::Refused ? 'p' : s.state == QueueState::MaybeDelivered ? 'm' : s.state == QueueState::Delivered ? 'd' : 'w';
    QByteArray r = "Q " + unique.toUtf8() + "\nR " + unique.toUtf8() + '\t' + state + '\t' + QByteArray::number(s.attempts) + '\t'
                   + time(s.nextTry) + '\t' + (s.answer.isEmpty() ? '-' : state == 'w' ? 't' : 'p') + '\t'
                   + field(s.answer);
    for (const RecipientStatus& x : s.recipients) {
        const char rs = x.state == RecipientState::Deferred ? 'd' : x.state == RecipientState::Accepted ? 'a'
                        : x.state == RecipientState::Refused ? 'p' : x.state == RecipientState::MaybeDelivered ? 'm' : 'o';
        r += '\t' + field(x.address) + '\t' + rs + '\t' + time(x.until) + '\t' + field(x.answer);
    }
    return r + '\n';
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

void removeDatabase(const QString& outbox)
{
    for (const char* tail : {"", "-wal", "-shm"})
        QFile::remove(outbox + "/.queue.db" + tail);
}

} // namespace

class TestOutboxQueue : public QObject {
    Q_OBJECT

    QString m_outbox, m_sent;
    QStringList m_uniques;

    // Three messages queued and tried once: each waits for busy, gone refused, the rest served.
    void partlyDeliver(SmtpTestServer& server)
    {
        m_uniques.clear();
        for (int k = 0; k < kMessages; ++k) {
            const QString path = QueueMessage(m_outbox, partMessage(k));
            QVERIFY(!path.isEmpty());
            m_uniques << MaildirUniquePart(path);
        }
        DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(server.messageCount(), kMessages);
    }

private Q_SLOTS:
    void initTestCase() { mail::mime::ensureInit(); }

    void init()
    {
        testsupport::TestHome::reset();
        m_outbox = ui::DataPath(QStringLiteral("Mail/Outbox"));
        m_sent = ui::DataPath(QStringLiteral("Mail/Sent Items"));
    }
    void cleanup() { SetQueueFault({}); }

    // The queue's state lost or damaged while partly delivered messages wait: each is held as
    // possibly delivered, the user is told once what was found, and nothing goes out until the
    // user chooses. An earlier version's journal, whole, is taken over as it stands.
    void damagedStateHoldsWhatWaits_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("held");
        QTest::newRow("database missing") << "missing" << true;
        QTest::newRow("database empty") << "empty" << true;
        QTest::newRow("database garbage") << "garbage" << true;
        QTest::newRow("database cut short") << "cut" << true;
        QTest::newRow("old record whole") << "old" << false;
        QTest::newRow("old record with a queue mark doubled") << "old doubled" << false;
        QTest::newRow("old record empty") << "old empty" << true;
        QTest::newRow("old record garbage") << "old garbage" << true;
        QTest::newRow("old record torn, the next written on its line") << "old torn" << true;
        QTest::newRow("old record a folder") << "old folder" << true;
    }
    void damagedStateHoldsWhatWaits()
    {
        QFETCH(QString, damage);
        QFETCH(bool, held);
        SmtpTestServer first;
        refuseSome(first, -1);
        QVERIFY(SaveAccounts({smtpAccount("Work", first.url())}));
        partlyDeliver(first);
        QList<QueueStatus> before;
        QByteArray journal = "ferrowyn-queue 2\n";
        {
            const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
            for (const QString& u : std::as_const(m_uniques)) {
                before << q->status(u);
                QCOMPARE(before.last().state, QueueState::Waiting);
                journal += oldRecords(u, before.last());
            }
        }    // the program ends
        const QString db = m_outbox + "/.queue.db";
        if (damage == "missing") {
            removeDatabase(m_outbox);
        } else if (damage == "empty") {
            removeDatabase(m_outbox);
            writeFile(db, {});
        } else if (damage == "garbage") {
            QByteArray noise(8192, '\0');
            for (char& c : noise)
                c = char(QRandomGenerator::global()->bounded(256));
            writeFile(db, noise);
        } else if (damage == "cut") {
            QVERIFY(QFile::resize(db, QFileInfo(db).size() / 2));
        } else {
            removeDatabase(m_outbox);
            const QString path = m_outbox + "/.queue";
            if (damage == "old doubled")
                journal += "Q " + m_uniques[0].toUtf8() + "\n";
            else if (damage == "old empty")
                journal.clear();
            else if (damage == "old garbage")
                journal = QByteArray("\x7f\x01garbage\n\xff\xfe", 12).repeated(40);
            else if (damage == "old torn") {
                // The last R cut in its answer, and a later record written on the same line.
                const qsizetype r = journal.lastIndexOf("\nR ") + 1;
                journal = journal.left(journal.indexOf("Greylisted", r)) + "F " + m_uniques[0].toUtf8() + "\n";
            }
            if (damage == "old folder")
                QVERIFY(QDir().mkpath(path));
            else
                writeFile(path, journal);
        }

        // The next start is killed before its message box comes up; the one after it tells.
        SmtpTestServer next;
        QVERIFY(SaveAccounts({smtpAccount("Work", next.url())}));
        QProcess killed;
        killed.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open-and-die"), m_outbox});
        QVERIFY(killed.waitForFinished(60000) && killed.exitStatus() == QProcess::CrashExit);
        std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        const QString finding = q->takeFinding();
        if (held) {
            QVERIFY2(finding.contains("3 messages in the Outbox may have been delivered already") && finding.contains("/.queue"),
                     qPrintable(finding));
            QVERIFY(q->takeFinding().isEmpty());    // told once
            // Its box never closed (the program stopped meanwhile): the next start tells it again;
            // once seen, not again.
            q.reset();
            q = OutboxQueue::Of(m_outbox);
            QCOMPARE(q->takeFinding(), finding);
            q->findingSeen();
            q.reset();
            q = OutboxQueue::Of(m_outbox);
            QVERIFY(q->takeFinding().isEmpty());
            for (const QString& u : std::as_const(m_uniques))
                QCOMPARE(q->status(u).state, QueueState::MaybeDelivered);
            const DeliveryNews told = TellDelivery(*q, LoadAccounts());
            QVERIFY2(told.summary.startsWith("Sending: 3 messages may have been delivered") && told.summary.contains(". The Outbox's"),
                     qPrintable(told.summary));
            QVERIFY2(told.lines.first() == finding, qPrintable(told.lines.join('\n')));
        } else {
            QVERIFY2(finding.isEmpty(), qPrintable(finding));
        }
        DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        if (held) {
            QCOMPARE(next.messageCount(), 0);
            QCOMPARE(filesIn(m_outbox).size(), kMessages);
            // The user sends one again, knowing who has it.
            QVERIFY(q->requeue(m_uniques[0]));
            DeliverOutbox(m_outbox, m_sent, LoadAccounts());
            QCOMPARE(next.messageCount(), 1);
        } else {
            // Each goes on from where it stood: to those the server has not taken.
            for (const QString& line : deliveriesBySubject(next))
                QVERIFY2(line.contains(" busy") || (damage == "old doubled" && line.contains(" gone")), qPrintable(line));
            QCOMPARE(filesIn(m_sent).size(), kMessages);
            QVERIFY(!QFileInfo::exists(m_outbox + "/.queue"));
        }
        // Kept, for a look: never read again.
        if (damage == "garbage" || damage == "cut")
            QCOMPARE(QDir(m_outbox).entryList({".queue.db.damaged-*"}, QDir::Files | QDir::Hidden).size(), 1);
        if (damage == "old folder" || damage == "old torn")
            QCOMPARE(QDir(m_outbox).entryList({".queue.damaged-*"}, QDir::AllEntries | QDir::Hidden).size(), 1);
    }

    // A queue database that cannot be opened at all is named to the user, and nothing is sent
    // from that Outbox, nor queued into it, until it can be.
    void anUnopenableQueueSendsNothing()
    {
        SmtpTestServer first;
        refuseSome(first, -1);
        QVERIFY(SaveAccounts({smtpAccount("Work", first.url())}));
        partlyDeliver(first);
        removeDatabase(m_outbox);
        const QString db = m_outbox + "/.queue.db";
        QVERIFY(QDir().mkpath(db));

        SmtpTestServer next;
        QVERIFY(SaveAccounts({smtpAccount("Work", next.url())}));
        std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        const QString finding = q->takeFinding();
        QVERIFY2(finding.startsWith("The Outbox's delivery record " + db + " cannot be opened: it is a folder. "
                                    "Nothing is sent from the Outbox until it can be"),
                 qPrintable(finding));
        const QueueStatus st = q->status(m_uniques[0]);
        QCOMPARE(st.state, QueueState::MaybeDelivered);
        QCOMPARE(st.answer, finding);
        QCOMPARE(TellDelivery(*q, LoadAccounts()).lines, QStringList{finding});
        DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(next.messageCount(), 0);
        QString error;
        QVERIFY(q->enqueue(message("new@example.net"), &error).isEmpty());
        QCOMPARE(error, finding);
        QVERIFY(QDir(m_outbox + "/tmp").isEmpty());
        QVERIFY(!q->requeue(m_uniques[0], &error));
        QCOMPARE(error, finding);

        // Moved out of the way: its state is lost, so the messages wait for the user.
        QVERIFY(QDir().rmdir(db));
        DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        QCOMPARE(next.messageCount(), 0);
        QCOMPARE(q->status(m_uniques[0]).state, QueueState::MaybeDelivered);
        QVERIFY(q->takeFinding().contains("is missing"));
    }

    // The disk fills at every write of a delivery run in turn (nothing written, or half of it),
    // and at every flush: the run stops and says so, nothing leaves the Outbox before its outcome
    // is on disk, and after a restart no one gets a message twice and no one is dropped.
    void aFullDiskNeverResendsNorLoses_data()
    {
        QTest::addColumn<QueueFault>("fault");
        QTest::addColumn<bool>("flushes");
        QTest::newRow("a write fails") << QueueFault::Fail << false;
        QTest::newRow("a write is cut short") << QueueFault::Short << false;
        QTest::newRow("a flush fails") << QueueFault::Fail << true;
    }
    void aFullDiskNeverResendsNorLoses()
    {
        QFETCH(QueueFault, fault);
        QFETCH(bool, flushes);
        // How many writes (or flushes) a run makes when nothing fails.
        int points = 0;
        {
            SmtpTestServer server;
            refuseSome(server, 1);
            QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
            for (int k = 0; k < kMessages; ++k)
                QVERIFY(!QueueMessage(m_outbox, partMessage(k)).isEmpty());
            SetQueueFault([&](qint64 bytes) {
                points += (bytes == 0) == flushes ? 1 : 0;
                return QueueFault::None;
            });
            DeliverOutbox(m_outbox, m_sent, LoadAccounts());
            SetQueueFault({});
        }
        QVERIFY(points > 3);
        // Flushes go as the disk keeps pace: a run may make fewer than another.
        int hits = 0;
        for (int at = 1; at <= points; ++at) {
            const QString where = QStringLiteral("at the %1th of %2").arg(at).arg(points);
            init();
            SmtpTestServer server;
            refuseSome(server, 1);
            QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
            {
                const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
                for (int k = 0; k < kMessages; ++k)
                    QVERIFY(!q->enqueue(partMessage(k), nullptr).isEmpty());
                int n = 0;
                bool hit = false;
                SetQueueFault([&](qint64 bytes) {
                    if ((bytes == 0) != flushes || ++n != at)
                        return QueueFault::None;
                    hit = true;
                    return fault;
                });
                DeliverOutbox(m_outbox, m_sent, LoadAccounts());
                SetQueueFault({});
                if (!hit)
                    continue;
                ++hits;
                // What left the Outbox was counted as sent, with its refusal, before it left.
                const OutboxQueue::Told t = q->told(10);
                QVERIFY2(t.sent == filesIn(m_sent).size() && t.notes.size() == t.sent,
                         qPrintable(QStringLiteral("%1: %2 told sent, %3 notes, %4 filed").arg(where).arg(t.sent).arg(t.notes.size()).arg(filesIn(m_sent).size())));
                // A run that did less than a whole one says why.
                if (filesIn(m_sent).size() < kMessages) {
                    const QString text = TellDelivery(t, LoadAccounts()).lines.join('\n');
                    QVERIFY2(text.contains("The Outbox's delivery record could not be written") || t.retry == kMessages - filesIn(m_sent).size(),
                             qPrintable(where + ": " + text));
                }
            }    // the program ends; it starts again with room on the disk
            for (int run = 0; run < 4; ++run)
                DeliverOutbox(m_outbox, m_sent, LoadAccounts());
            const QStringList got = deliveriesBySubject(server);
            checkOnce(got, where);
            if (QTest::currentTestFailed())
                return;
            const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
            const QString told = TellDelivery(*q, LoadAccounts()).lines.join('\n');
            for (int k = 0; k < kMessages; ++k) {
                const QString part = QStringLiteral("Part %1 ").arg(k);
                const QString unique = [&] {
                    for (const QString& f : filesIn(m_outbox))
                        if (readFile(f).contains("Subject: Part " + QByteArray::number(k) + "\n"))
                            return MaildirUniquePart(f);
                    return QString();
                }();
                const bool waits = !unique.isEmpty() && q->status(unique).state == QueueState::MaybeDelivered;
                for (const char* who : {"a", "b", "c", "busy"}) {
                    const QString r = part + QLatin1String(who) + QString::number(k) + "@example.net";
                    QVERIFY2(got.contains(r) || waits, qPrintable(where + ": never delivered, not held: " + r));
                }
                if (waits)
                    QVERIFY2(told.contains("may have been delivered"), qPrintable(where + ": held, not told"));
            }
        }
        QVERIFY2(hits * 2 >= points, qPrintable(QStringLiteral("%1 of %2 points reached").arg(hits).arg(points)));
    }

    // A second program writing into the same queue loses nothing of its own nor of ours.
    void aSecondWriterLosesNothing()
    {
        SmtpTestServer server;
        QVERIFY(SaveAccounts({smtpAccount("Work", server.url())}));
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);    // as the program keeps it
        constexpr int kEach = 60;
        QProcess other;
        other.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--queue"), m_outbox, QString::number(kEach)});
        QVERIFY(other.waitForStarted());
        for (int i = 0; i < kEach; ++i) {
            QVERIFY(!q->enqueue(message("ours@example.net"), nullptr).isEmpty());
            if (i % 10 == 0)
                DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        }
        QVERIFY(other.waitForFinished(60000));
        QCOMPARE(other.exitCode(), 0);
        DeliverOutbox(m_outbox, m_sent, LoadAccounts());
        // What is left, and why, when something did not go.
        QStringList left;
        for (const QString& f : filesIn(m_outbox)) {
            const QueueStatus st = q->status(MaildirUniquePart(f));
            left << QStringLiteral("%1: state %2, %3 attempts, %4").arg(f).arg(int(st.state)).arg(st.attempts).arg(st.answer);
        }
        QVERIFY2(server.messageCount() == 2 * kEach && left.isEmpty(),
                 qPrintable(QStringLiteral("%1 delivered; left: %2").arg(server.messageCount()).arg(left.join(QLatin1Char('\n')))));
        QCOMPARE(filesIn(m_sent).size(), 2 * kEach);
    }
};

// "--queue OUTBOX N": a second program queueing N messages into the same Outbox.
// "--open-and-die OUTBOX": a program killed once it has opened the Outbox's queue.
int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--open-and-die") == 0) {
        QCoreApplication app(argc, argv);
        mail::mime::ensureInit();
        OutboxQueue::Of(QString::fromLocal8Bit(argv[2]))->databasePath();
        ::kill(::getpid(), SIGKILL);
    }
    if (argc == 4 && qstrcmp(argv[1], "--queue") == 0) {
        QCoreApplication app(argc, argv);
        mail::mime::ensureInit();
        const QString outbox = QString::fromLocal8Bit(argv[2]);
        for (int i = 0; i < QByteArray(argv[3]).toInt(); ++i)
            if (QueueMessage(outbox, message("theirs@example.net")).isEmpty())
                return 1;
        return 0;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testsupport::TestHome::reset();
    QApplication app(argc, argv);
    TestOutboxQueue tc;
    return testsupport::runTests(argc, argv, &tc);
}

#include "tst_OutboxQueue.moc"
