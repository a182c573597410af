// The Outbox queue's record against what a full disk, a power loss and a second program do to it:
// each step that must outlast a power loss is flushed before it, what could not be recorded is
// held as possibly delivered and never sent again by itself, and a second program's transfer is
// left alone. Sending goes to a loopback SMTP server; a power loss puts every queue database file
// back as it was at its last flush, in a process of its own, and the test starts again after it.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/mail/MimeUtil.h"
#include "platform/mail/send/Delivery.h"
#include "platform/mail/send/DeliveryNews.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/QueueDatabase.h"
#include "platform/mail/send/Spooler.h"
#include "platform/ui/DataFolder.h"
#include "tests/platform/mail/send/AioSmtpServer.h"
#include "tests/platform/mail/send/SendTestUtil.h"
#include "tests/platform/mail/send/SmtpTestServer.h"
#include "tests/support/TestMain.h"

using namespace mail::send;
using namespace sendtest;

namespace {

QByteArray letter(const QByteArray& to, const QByteArray& subject, const QByteArray& body = "Hello.\n")
{
    return message(to, "Subject: " + subject + "\n", body).replace("Subject: Test\n", "");
}

// How many rows of the queue's database carry a mark, read as another program would.
int markedRows(const QString& outbox)
{
    QueueDatabase::Opening o = QueueDatabase::Open(outbox + "/.queue.db");
    if (!o.db)
        return -1;
    QueueDatabase::Query q = o.db->query("SELECT count(*) FROM messages WHERE mark > 0");
    return q.next() ? int(q.integer(0)) : -1;
}

DeliveryOptions failingAfter(RunStep at, std::shared_ptr<int> writes)
{
    DeliveryOptions o;
    o.step = [at, writes](RunStep s) {
        if (s != at || *writes >= 0)
            return;
        *writes = 0;
        SetQueueFault([writes](qint64 bytes) { return bytes > 0 && ++*writes == 1 ? QueueFault::Fail : QueueFault::None; });
    };
    return o;
}

// A small file system of its own at `at`, taken away at the end; none when not root.
struct SmallDisk {
    QString at;
    bool mounted = false;
    explicit SmallDisk(const QString& where) : at(where)
    {
        mounted = ::geteuid() == 0 && QDir().mkpath(at)
                  && ::mount("tmpfs", QFile::encodeName(at).constData(), "tmpfs", 0, "size=600k") == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(QFile::encodeName(at).constData(), MNT_DETACH);
    }
    // The rest of its room taken.
    void fill() const
    {
        QFile ballast(at + "/ballast");
        if (ballast.open(QIODevice::WriteOnly)) {
            const QByteArray block(4096, 'x');
            while (ballast.write(block) == block.size() && ballast.flush()) {
            }
        }
    }
    void free() const { QFile::remove(at + "/ballast"); }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
};

// When a full disk is met.
enum class FullWhen { Opening, InARun, Queueing };

// The steps a child process takes before its power goes.
enum class Loss { Placed, Answered, Filed };

} // namespace

Q_DECLARE_METATYPE(FullWhen)

class TestQueueDurability : public QObject {
    Q_OBJECT

    QString m_home, m_outbox, m_sent;

    QString queue(const QByteArray& bytes)
    {
        QString error;
        const QString path = QueueMessage(m_outbox, bytes, &error);
        [&] { QVERIFY2(!path.isEmpty(), qPrintable(error)); }();
        return path;
    }

    // An Outbox as an earlier version left it: one message, whose journal says that the server
    // took it for a<n> and deferred b<n> and c. Returns the message's unique name.
    static QString oldOutbox(const QString& outbox, const QByteArray& n)
    {
        const QString file = WriteToMaildir(
            outbox, letter("a" + n + "@example.net, b" + n + "@example.net, c@example.net", "Old " + n), MaildirSub::Cur, "S");
        const QByteArray unique = MaildirUniquePart(file).toUtf8();
        QFile j(outbox + "/.queue");
        if (!j.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return {};
        j.write("ferrowyn-queue 1\nQ " + unique + "\nR " + unique + "\tw\t1\t-\tt\t450 try later\ta" + n + "@example.net\ta\t-\t\tb" + n
                + "@example.net\td\t-\t450 try later\tc@example.net\td\t-\t450 try later\n");
        return QString::fromUtf8(unique);
    }

    // The journal of oldOutbox taken over as it stood: nothing held, nothing told, and no journal
    // left to be read again.
    static void checkTakenOver(const QString& outbox, const QString& unique, const QByteArray& n, const QString& where)
    {
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(outbox);
        const QueueStatus st = q->status(unique);
        QVERIFY2(st.state == QueueState::Waiting, qPrintable(where));
        QVERIFY2(st.recipients.size() == 3 && st.recipients[0].address == "a" + n + "@example.net"
                     && st.recipients[0].state == RecipientState::Accepted,
                 qPrintable(where));
        const QString finding = q->takeFinding();
        QVERIFY2(finding.isEmpty(), qPrintable(where + ": " + finding));
        const QStringList left = QDir(outbox).entryList({".queue", ".queue.taken", ".queue.damaged-*", ".queue.db.*"},
                                                        QDir::AllEntries | QDir::Hidden | QDir::System);
        QVERIFY2(left.isEmpty(), qPrintable(where + ": " + left.join(' ')));
    }

    // A child of this program, run to its end (or its kill).
    static QProcess::ExitStatus child(const QStringList& args)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedChannels);
        p.start(QCoreApplication::applicationFilePath(), args);
        if (!p.waitForFinished(60000))
            return QProcess::CrashExit;
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 ? QProcess::NormalExit : QProcess::CrashExit;
    }

private Q_SLOTS:
    void initTestCase() { mail::mime::ensureInit(); }

    void init()
    {
        m_home = testsupport::TestHome::reset();
        m_outbox = ui::DataPath(QStringLiteral("Mail/Outbox"));
        m_sent = ui::DataPath(QStringLiteral("Mail/Sent Items"));
    }
    void cleanup()
    {
        SetQueueFault({});
        SetDirSyncFault({});
    }

    // The server takes a message and its outcome cannot be recorded (a full disk): it is held as
    // possibly delivered, told so, and never sent again by a run, not even one whose own first
    // write fails too; Send Again, the user's choice, settles it first.
    void anOutcomeNotRecordedIsInFlight()
    {
        SmtpTestServer server;
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        const QString file = queue(letter("a@example.net, b@example.net", "Once"));
        const QString unique = MaildirUniquePart(file);
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        auto writes = std::make_shared<int>(-1);
        const RunReport first = DeliverOutbox(m_outbox, m_sent, accounts, {}, nullptr, nullptr, failingAfter(RunStep::Answered, writes));
        SetQueueFault({});
        QVERIFY(*writes >= 1);
        QCOMPARE(server.messageCount(), 1);
        Q_UNUSED(first);
        QVERIFY(TellDelivery(*q, accounts).lines.join('\n').contains("could not be written"));
        QCOMPARE(q->status(unique).state, QueueState::MaybeDelivered);
        QCOMPARE(q->count(QueueState::Waiting), 0);
        QVERIFY(TellDelivery(*q, accounts).lines.join('\n').contains("may have been delivered"));

        // The next run's first write fails: it stops, says why, and sends nothing.
        auto again = std::make_shared<int>(0);
        SetQueueFault([again](qint64 bytes) { return bytes > 0 && ++*again == 1 ? QueueFault::Fail : QueueFault::None; });
        QVERIFY(DeliverOutbox(m_outbox, m_sent, accounts).stopped);
        SetQueueFault({});
        QCOMPARE(server.messageCount(), 1);
        QVERIFY(q->told(10).runNotes.join('\n').contains("could not be written"));
        for (int run = 0; run < 2; ++run)
            DeliverOutbox(m_outbox, m_sent, accounts);
        QCOMPARE(server.messageCount(), 1);
        QCOMPARE(q->status(unique).state, QueueState::MaybeDelivered);
        QVERIFY(q->status(unique).answer.contains("could not be written"));

        // Sent again by the user, knowing it may have gone.
        QString error;
        QVERIFY2(q->requeue(unique, &error), qPrintable(error));
        DeliverOutbox(m_outbox, m_sent, accounts);
        QCOMPARE(server.messageCount(), 2);
        QVERIFY(filesIn(m_outbox).isEmpty());
    }

    // The same on a real file system that fills while the run goes: nobody gets a message twice,
    // whatever the next runs do once there is room again.
    void aDiskThatFillsNeverSendsTwice()
    {
        const SmallDisk disk(m_home + "/small");
        if (!disk.mounted)
            QSKIP("a small file system cannot be mounted here (it needs root)");
        const QString outbox = disk.at + "/Outbox";
        SmtpTestServer server;
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        constexpr int kCount = 40;
        {
            const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(outbox);
            for (int k = 0; k < kCount; ++k)
                QVERIFY(!q->enqueue(letter("x" + QByteArray::number(k) + "@example.net", "Fill " + QByteArray::number(k)), nullptr).isEmpty());
            // The rest of the room goes while the run goes.
            DeliveryOptions o;
            auto filled = std::make_shared<bool>(false);
            o.step = [filled, &disk](RunStep s) {
                if (s != RunStep::Answered || *filled)
                    return;
                *filled = true;
                disk.fill();
            };
            DeliverOutbox(outbox, m_sent, accounts, {}, nullptr, nullptr, o);
            DeliverOutbox(outbox, m_sent, accounts);
            disk.free();
            DeliverOutbox(outbox, m_sent, accounts);
        }
        for (int run = 0; run < 3; ++run)
            DeliverOutbox(outbox, m_sent, accounts);
        checkOnce(deliveriesBySubject(server));
        // What did not go is held for the user, never silently left.
        for (const QString& f : filesIn(outbox))
            QVERIFY2(forTheUser(queued(outbox, f)), qPrintable(f));
        QVERIFY(server.messageCount() + int(filesIn(outbox).size()) >= kCount);
    }

    // A full disk is told as that, in one wording, whatever SQLite or the system said of it: when
    // the record is opened (its log cannot be made), when a run writes and when a message cannot
    // be put in the Outbox.
    void aFullDiskIsToldAsFull_data()
    {
        QTest::addColumn<FullWhen>("when");
        QTest::newRow("opening the record") << FullWhen::Opening;
        QTest::newRow("a run") << FullWhen::InARun;
        QTest::newRow("queueing a message") << FullWhen::Queueing;
    }
    void aFullDiskIsToldAsFull()
    {
        QFETCH(FullWhen, when);
        const SmallDisk disk(m_home + "/small");
        if (!disk.mounted)
            QSKIP("a small file system cannot be mounted here (it needs root)");
        const QString outbox = disk.at + "/Outbox";
        SmtpTestServer server;
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        {
            const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(outbox);
            for (int k = 0; k < 3; ++k)
                QVERIFY(!q->enqueue(letter("x" + QByteArray::number(k) + "@example.net", "Full"), nullptr).isEmpty());
        }
        QString told;
        if (when == FullWhen::InARun) {
            DeliveryOptions o;
            o.step = [&disk](RunStep s) {
                if (s == RunStep::Answered && !QFile::exists(disk.at + "/ballast"))
                    disk.fill();
            };
            const RunReport r = DeliverOutbox(outbox, m_sent, accounts, {}, nullptr, nullptr, o);
            told = r.unwritable;
            const QString box = StoppedText(r.unwritable, outbox);
            QVERIFY2(box.contains("(" + outbox + ") is full") && box.contains(".\n\nFree some space"), qPrintable(box));
        } else if (when == FullWhen::Queueing) {
            const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(outbox);
            disk.fill();
            QVERIFY(q->enqueue(letter("late@example.net", "Full"), &told).isEmpty());
        } else {
            disk.fill();
            told = OutboxQueue::Of(outbox)->problem();
        }
        QVERIFY2(told.contains(QLatin1String(kDiskFullText)) && !told.contains("I/O") && !told.contains("database or disk")
                     && !told.contains("No space left"),
                 qPrintable(told));
    }

    // A run whose writes fail (the disk full as an outcome came in, so that no later run can
    // settle it) is not started again at once: the next waits, on doubling waits, and the stop
    // is told once. The user's asking goes at once; a run that writes again ends the waits.
    void aRunThatCannotWriteWaits()
    {
        SmtpTestServer server;
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        QVERIFY(SaveAccounts(accounts));
        queue(letter("a@example.net", "First"));
        queue(letter("b@example.net", "Second"));
        const auto fail = [] { SetQueueFault([](qint64 bytes) { return bytes > 0 ? QueueFault::Fail : QueueFault::None; }); };
        Spooler spooler(m_outbox, m_sent);
        DeliveryOptions o;
        o.firstRetrySeconds = 2;
        o.lastRetrySeconds = 4;
        auto filled = std::make_shared<bool>(false);
        o.step = [filled, fail](RunStep s) {
            if (s == RunStep::Answered && !*filled) {
                *filled = true;
                fail();
            }
        };
        spooler.setOptions(o);
        QSignalSpy runs(&spooler, &Spooler::runFinished);
        QSignalSpy stops(&spooler, &Spooler::sendingStopped);
        spooler.deliver();
        QTRY_VERIFY_WITH_TIMEOUT(!runs.isEmpty(), 20000);
        QCOMPARE(server.messageCount(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(stops.size(), 1, 5000);
        QVERIFY2(stops[0][0].toString().contains(" is full"), qPrintable(stops[0][0].toString()));

        // Asked for, a run goes at once, its first write fails too, and the next waits; the stop
        // is not told again.
        for (int ask = 0; ask < 2; ++ask) {
            const qsizetype before = runs.size();
            spooler.deliver(ask == 1);
            QTRY_VERIFY_WITH_TIMEOUT(runs.size() > before, 1000);
            QTest::qWait(1500);
            QVERIFY2(runs.size() <= before + 2, qPrintable(QStringLiteral("%1 runs").arg(runs.size() - before)));
        }
        QCOMPARE(stops.size(), 1);
        QCOMPARE(server.messageCount(), 1);

        // Room again: the next run writes and sends the second; the first is held, never sent twice.
        SetQueueFault({});
        QTRY_COMPARE_WITH_TIMEOUT(server.messageCount(), 2, 20000);
        QVERIFY(spooler.waitUntilIdle(20000));
        QCOMPARE(spooler.queue()->count(QueueState::Waiting), 0);

        // A later stop is told again.
        queue(letter("c@example.net", "Third"));
        fail();
        spooler.deliver();
        QTRY_COMPARE_WITH_TIMEOUT(stops.size(), 2, 20000);
        SetQueueFault({});
        QCOMPARE(server.messageCount(), 2);
    }

    // Messages the run passes over without trying (no recipient, a missing account) do not
    // stop it: the ones after them go.
    void passingOverMessagesNeverStopsARun()
    {
        SmtpTestServer server;
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        queue(letter("first@example.net", "First"));
        for (int k = 0; k < 12; ++k)
            queue(k % 2 ? letter("", "Nobody") : message("x@example.net", "X-Ferrowyn-Account: Gone\nSubject: Lost\n"));
        queue(letter("last@example.net", "Last"));
        const RunReport r = DeliverOutbox(m_outbox, m_sent, accounts);
        QVERIFY(!r.stopped);
        QCOMPARE(deliveriesBySubject(server), (QStringList{"First first@example.net", "Last last@example.net"}));
        QVERIFY(!TellDelivery(*OutboxQueue::Of(m_outbox), accounts).lines.join('\n').contains("could not be written"));
    }

    // A message saved anew while the run reads it ahead, held before the read and released
    // after it, goes as it is now.
    void aSaveAroundTheReadAheadIsReadAgain()
    {
        SmtpTestServer server;
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        QStringList files;
        for (int k = 0; k < 9; ++k)
            files << queue(letter("r" + QByteArray::number(k) + "@example.net", "M" + QByteArray::number(k)));
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        const QString unique = MaildirUniquePart(files[8]);
        int transfers = 0;
        DeliveryOptions o;
        o.step = [&](RunStep s) {
            if (s != RunStep::Transferring)
                return;
            if (++transfers == 1) {
                // The save begins before the run reads the last one...
                QVERIFY(q->hold(unique));
            } else if (transfers == 2) {
                // ...which it has read by now; then the new text lands and the save ends.
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                QFile f(m_outbox + "/tmp/saving");
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write(letter("new@example.net", "M8", "Changed.\n"));
                f.close();
                QVERIFY(::rename(QFile::encodeName(f.fileName()).constData(), QFile::encodeName(files[8]).constData()) == 0);
                q->release(unique);
            }
        };
        DeliverOutbox(m_outbox, m_sent, accounts, {}, nullptr, nullptr, o);
        QCOMPARE(server.messageCount(), 9);
        QCOMPARE(server.messages().last().recipients, QList<QByteArray>{"new@example.net"});
        QVERIFY(server.messages().last().data.contains("Changed."));
    }

    // The last group of marks, still being written when a run that tried little ends, is
    // taken back with the rest: no never-tried message is left marked (after a reboot it would
    // read as possibly delivered).
    void aRunLeavesNoMarkBehind()
    {
        const QList<Account> accounts{smtpAccount("Work", "smtp://127.0.0.1:1")};
        for (int k = 0; k < 30; ++k)
            queue(letter("r" + QByteArray::number(k) + "@example.net", "Marked"));
        const auto main = std::this_thread::get_id();
        SetQueueFault([main](qint64 bytes) {
            if (bytes > 0 && std::this_thread::get_id() != main)
                std::this_thread::sleep_for(std::chrono::milliseconds(40));
            return QueueFault::None;
        });
        DeliverOutbox(m_outbox, m_sent, accounts);
        SetQueueFault({});
        QCOMPARE(markedRows(m_outbox), 0);
    }

    // A folder of the Outbox that cannot be listed says nothing of what is gone: the queue keeps
    // its messages.
    void anUnlistableFolderEmptiesNothing()
    {
        const QString unique = MaildirUniquePart(queue(letter("a@example.net", "Kept")));
        QVERIFY(QDir().rename(m_outbox + "/cur", m_outbox + "/cur.away"));
        {
            QFile blocker(m_outbox + "/cur");
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        OutboxQueue::Of(m_outbox)->pathOf(unique);    // opened and tidied while cur/ cannot be read
        QVERIFY(QFile::remove(m_outbox + "/cur"));
        QVERIFY(QDir().rename(m_outbox + "/cur.away", m_outbox + "/cur"));
        QCOMPARE(OutboxQueue::Of(m_outbox)->status(unique).state, QueueState::Waiting);
    }

    // A sent message leaves the queue only once its place in Sent Items is on the disk.
    void aFiledMessageLeavesTheQueueOnceItsFolderIsFlushed()
    {
        SmtpTestServer server;
        const QString unique = MaildirUniquePart(queue(letter("a@example.net", "Filed")));
        const QString sentCur = m_sent + "/cur";
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);    // as the program keeps it
        SetDirSyncFault([sentCur](const QString& dir) { return dir == sentCur; });
        DeliverOutbox(m_outbox, m_sent, {smtpAccount("Work", server.url())});
        SetDirSyncFault({});
        QCOMPARE(server.messageCount(), 1);
        QCOMPARE(filesIn(m_sent).size(), 1);
        QCOMPARE(q->status(unique).state, QueueState::Delivered);
        // Nor does an edit put it back in the queue.
        QString error;
        QVERIFY(q->enqueue(letter("a@example.net", "Filed, edited"), &error, unique).isEmpty());
        QCOMPARE(error, QString::fromLatin1(kAcceptedText));
        QCOMPARE(filesIn(m_outbox).size(), 0);
    }

    // The queue's flushes find its log through SQLite, under whatever name SQLite opened it:
    // with the database behind a symbolic link, a flush that fails still fails a queueing.
    void aFlushReachesALogBehindALink()
    {
        const QString real = m_home + "/elsewhere.db";
        // Made by the queue, then moved behind a link.
        { OutboxQueue::Of(m_outbox)->databasePath(); }
        QVERIFY(QFile::rename(m_outbox + "/.queue.db", real));
        QVERIFY(QFile::link(real, m_outbox + "/.queue.db"));
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        QVERIFY(!q->enqueue(letter("a@example.net", "Linked"), nullptr).isEmpty());
        SetQueueFault([](qint64 bytes) { return bytes == 0 ? QueueFault::Fail : QueueFault::None; });
        QString error;
        QVERIFY(q->enqueue(letter("b@example.net", "Linked"), &error).isEmpty());
        QVERIFY(error.contains("could not be written"));
    }

    // A statement of a transaction that fails (a full disk while SQLite spills its cache, which
    // rolls everything back) stops the transaction: nothing after it is committed on its own.
    void aFailedStatementStopsItsTransaction()
    {
        const QString path = m_home + "/t.db";
        {
            QueueDatabase::Opening o = QueueDatabase::Open(path);
            QVERIFY(o.db);
            QVERIFY(o.db->exec("CREATE TABLE t(x)"));
            QVERIFY(o.db->exec("PRAGMA cache_size=20"));
            int writes = 0;
            SetQueueFault([&](qint64 bytes) { return bytes > 0 && ++writes == 10 ? QueueFault::Fail : QueueFault::None; });
            QVERIFY(o.db->begin());
            o.db->query("INSERT INTO t VALUES(?)").bind(QString(4 << 20, QLatin1Char('x'))).run();
            o.db->query("INSERT INTO t VALUES('after')").run();
            QVERIFY(!o.db->commit());
            SetQueueFault({});
            QVERIFY(writes >= 10);
        }
        QueueDatabase::Opening o = QueueDatabase::Open(path);
        QVERIFY(o.db);
        QueueDatabase::Query q = o.db->query("SELECT count(*) FROM t");
        QVERIFY(q.next());
        QCOMPARE(q.integer(0), 0);
    }

    // An earlier version's journal taken over by a program whose flushes fail, whose disk fills at
    // any write of it, or that is killed at any call of it: the journal stays until the new record
    // is whole on the disk, and the next start takes it over as it stands, holding nothing.
    void aCutTakeOverIsDoneAgain_data()
    {
        QTest::addColumn<QString>("cut");
        QTest::newRow("a flush fails") << "flush";
        QTest::newRow("the disk fills at a write") << "fill";
        QTest::newRow("killed") << "kill";
    }
    void aCutTakeOverIsDoneAgain()
    {
        QFETCH(QString, cut);
        for (int at = 1;; ++at) {
            QVERIFY(at < 400);
            init();
            const QString where = QStringLiteral("at call %1").arg(at);
            const QString unique = oldOutbox(m_outbox, "1");
            bool reached = false;
            if (cut == "kill") {
                reached = child({"--open", m_outbox, QString::number(at)}) == QProcess::CrashExit;
            } else {
                int n = 0;
                SetQueueFault([&](qint64 bytes) {
                    if (cut == "flush" ? bytes != 0 : bytes <= 0)
                        return QueueFault::None;
                    if (++n == at)
                        reached = true;
                    // A full disk stays full.
                    return n == at ? (cut == "fill" ? QueueFault::Short : QueueFault::Fail)
                                   : n > at && cut == "fill" ? QueueFault::Fail : QueueFault::None;
                });
                OutboxQueue::Of(m_outbox).reset();
                SetQueueFault({});
                if (reached && QFileInfo::exists(m_outbox + "/.queue"))
                    QVERIFY2(!QFileInfo::exists(m_outbox + "/.queue.db"), qPrintable(where));
            }
            checkTakenOver(m_outbox, unique, "1", where);
            if (QTest::currentTestFailed() || !reached)
                break;
        }
    }

    // The same on a real file system with little room left, less each time.
    void aTakeOverOnAFullDiskIsDoneAgain()
    {
        const SmallDisk disk(m_home + "/small");
        if (!disk.mounted)
            QSKIP("a small file system cannot be mounted here (it needs root)");
        const QString mount = disk.at;
        int failed = 0;
        for (int room = 0; room < 64; ++room) {
            const QString where = QStringLiteral("with %1 KiB free").arg(room * 4);
            const QString outbox = mount + "/Outbox";
            QVERIFY(QDir(outbox).removeRecursively());
            const QString unique = oldOutbox(outbox, "1");
            {
                const int fd = ::open(QFile::encodeName(mount + "/ballast").constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
                QVERIFY(fd >= 0);
                const QByteArray block(4096, 'x');
                off_t size = 0;
                while (::write(fd, block.constData(), size_t(block.size())) == block.size())
                    size += block.size();
                QVERIFY(::ftruncate(fd, std::max<off_t>(0, size - room * 4096)) == 0);
                ::close(fd);
            }
            bool full = false;
            {
                const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(outbox);
                full = !q->problem().isEmpty();
            }
            failed += full ? 1 : 0;
            QVERIFY(QFile::remove(mount + "/ballast"));
            checkTakenOver(outbox, unique, "1", where);
            if (QTest::currentTestFailed() || !full)
                break;
        }
        QVERIFY(failed > 0);
    }

    // A power loss at any call of taking over an earlier version's journal, or after a failure at
    // any of them and a run that goes on from there: after the restart the record is whole, and
    // nobody the server took the message for gets it again.
    void aPowerLossAroundATakeOverSendsNothingTwice_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("the power goes at a call") << "loss";
        QTest::newRow("a call fails, the power goes after a run") << "fail";
    }
    void aPowerLossAroundATakeOverSendsNothingTwice()
    {
        QFETCH(QString, fault);
        AioSmtpServer server({"--delay-for", "c@example.net=3600"});
        QVERIFY(server.ok());
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        int calls = 0;
        oldOutbox(m_outbox, "0");
        SetQueueFault([&](qint64) {
            ++calls;
            return QueueFault::None;
        });
        OutboxQueue::Of(m_outbox).reset();
        SetQueueFault({});
        QVERIFY(calls > 5);
        const QString boot = OutboxQueue::BootId();
        struct Back {
            QString boot;
            ~Back() { OutboxQueue::SetBootId(boot); }
        } back{boot};
        for (int at = 1; at <= calls + 1; ++at) {
            OutboxQueue::SetBootId(boot);
            init();
            const QByteArray n = QByteArray::number(at);
            const QString where = QStringLiteral("at call %1 of %2").arg(at).arg(calls);
            const QString unique = oldOutbox(m_outbox, n);
            QCOMPARE(child({"--take-over-then-lose", m_outbox, m_sent, server.url(), QString::number(at), fault}),
                     QProcess::CrashExit);
            OutboxQueue::SetBootId(QStringLiteral("after-a-power-loss"));
            {
                const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
                const QString finding = q->takeFinding();
                QVERIFY2(finding.isEmpty(), qPrintable(where + ": " + finding));
                DeliverOutbox(m_outbox, m_sent, accounts);
                const QueueState state = q->status(unique).state;
                QVERIFY2(state == QueueState::Waiting || state == QueueState::MaybeDelivered, qPrintable(where));
            }
            const QStringList got = server.deliveries();
            QVERIFY2(got.count("b" + n + "@example.net") == 1 && !got.contains("a" + n + "@example.net"),
                     qPrintable(where + ": " + got.join(' ')));
            if (QTest::currentTestFailed())
                return;
        }
    }

    // A program killed at any call of taking over an earlier version's journal, whose record is
    // later lost (removed or emptied, at once or after a run): once the record was in place the
    // journal is never taken up again. The loss is told as any lost record is, the message is
    // held, and nobody gets it twice.
    void aTakenOverJournalIsNeverTakenUpAgain_data()
    {
        QTest::addColumn<bool>("run");
        QTest::addColumn<bool>("emptied");
        QTest::newRow("removed at once") << false << false;
        QTest::newRow("emptied after a run") << true << true;
    }
    void aTakenOverJournalIsNeverTakenUpAgain()
    {
        QFETCH(bool, run);
        QFETCH(bool, emptied);
        AioSmtpServer server({"--delay-for", "c@example.net=3600"});
        QVERIFY(server.ok());
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        for (int at = 1;; ++at) {
            QVERIFY(at < 400);
            init();
            const QByteArray n = QByteArray::number(at);
            const QString where = QStringLiteral("killed at call %1").arg(at);
            const QString unique = oldOutbox(m_outbox, n);
            const bool killed = child({"--open", m_outbox, QString::number(at)}) == QProcess::CrashExit;
            if (run)
                DeliverOutbox(m_outbox, m_sent, accounts);
            const bool inPlace = QFileInfo::exists(m_outbox + "/.queue.db");
            // The file alone, as a person removes it: what a kill left beside it stays.
            QFile::remove(m_outbox + "/.queue.db");
            if (emptied)
                QVERIFY(QFile(m_outbox + "/.queue.db").open(QIODevice::WriteOnly));
            const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
            const QString finding = q->takeFinding();
            if (inPlace) {
                QVERIFY2(finding.contains(emptied ? "was damaged" : "is missing")
                             && finding.contains("1 message in the Outbox may have been delivered"),
                         qPrintable(where + ": " + finding));
                QCOMPARE(q->status(unique).state, QueueState::MaybeDelivered);
            } else {
                QVERIFY2(finding.isEmpty(), qPrintable(where + ": " + finding));
            }
            DeliverOutbox(m_outbox, m_sent, accounts);
            const QStringList got = server.deliveries();
            QVERIFY2(got.count("b" + n + "@example.net") == (run || !inPlace ? 1 : 0) && !got.contains("a" + n + "@example.net"),
                     qPrintable(where + ": " + got.join(' ')));
            if (QTest::currentTestFailed() || !killed)
                break;
        }
    }

    // A disk full when the record is first made is told as what passes once there is room,
    // not as a file to mend; the next try makes it.
    void aFullDiskAtTheStartIsToldAsPassing()
    {
        SetQueueFault([](qint64 bytes) { return bytes > 0 ? QueueFault::Fail : QueueFault::None; });
        {
            const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
            const QString problem = q->problem();
            QVERIFY2(problem.contains("at this moment") && !problem.contains("make it a file"), qPrintable(problem));
            SetQueueFault({});
            QString error;
            QVERIFY2(!q->enqueue(letter("a@example.net", "Later"), &error).isEmpty(), qPrintable(error));
            QVERIFY(q->problem().isEmpty());
        }
    }

    // A second program opening the Outbox while the first still makes its record (the run lock
    // taken, no schema yet) leaves that record alone and waits for it.
    void aRecordBeingMadeIsNotSetAside()
    {
        QVERIFY(QDir().mkpath(m_outbox + "/cur"));
        const int fd = ::open(QFile::encodeName(m_outbox + "/.queue.lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        QVERIFY(fd >= 0 && ::flock(fd, LOCK_EX) == 0);
        {
            QFile db(m_outbox + "/.queue.db");
            QVERIFY(db.open(QIODevice::WriteOnly));
        }
        {
            const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
            QString error;
            QVERIFY(q->enqueue(letter("a@example.net", "Early"), &error).isEmpty());
            QVERIFY2(error.contains("another process"), qPrintable(error));
            QVERIFY(QDir(m_outbox).entryList({".queue.db.damaged*"}, QDir::Files | QDir::Hidden).isEmpty());
        }
        ::close(fd);
    }

    // Another program delivers a message while this one tries to hold it (to edit, move or
    // delete it), send it again or replace it: each refuses, saying why, and the server gets it
    // once, its outcome recorded.
    void anotherProgramsTransferIsLeftAlone()
    {
        SmtpTestServer server;
        server.refuseMessage("Subject: Theirs", "HOLD", 1);
        const QString file = queue(letter("a@example.net", "Theirs"));
        const QString unique = MaildirUniquePart(file);
        QProcess other;
        other.setProcessChannelMode(QProcess::ForwardedChannels);
        other.start(QCoreApplication::applicationFilePath(), {"--deliver", m_outbox, m_sent, server.url()});
        QTRY_COMPARE_WITH_TIMEOUT(server.dataSeen(), 1, 20000);
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        // Told as being sent elsewhere, not as stopped.
        const QueueStatus st = q->status(unique);
        QCOMPARE(st.state, QueueState::Sending);
        QCOMPARE(st.answer, QString::fromLatin1(kBeingSentElsewhereText));
        const OutboxQueue::Told told = q->told(10);
        QCOMPARE(told.sending, 1);
        QCOMPARE(told.maybeDelivered, 0);
        QCOMPARE(q->count(QueueState::Sending), 1);
        QCOMPARE(q->count(QueueState::MaybeDelivered), 0);
        const QString lines = TellDelivery(told, {smtpAccount("Work", server.url())}).lines.join('\n');
        QVERIFY2(!lines.contains("stopped") && !lines.contains("may have been delivered"), qPrintable(lines));
        QString why;
        QVERIFY(!q->hold(unique, &why));
        QCOMPARE(why, QString::fromLatin1(kBeingSentElsewhereText));
        why.clear();
        QVERIFY(!q->requeue(unique, &why));
        QCOMPARE(why, QString::fromLatin1(kBeingSentElsewhereText));
        QString error;
        QVERIFY(q->enqueue(letter("a@example.net", "Theirs edited"), &error, unique).isEmpty());
        QCOMPARE(error, QString::fromLatin1(kBeingSentElsewhereText));
        server.releaseHeld();
        QVERIFY(other.waitForFinished(30000));
        QCOMPARE(other.exitCode(), 0);
        QCOMPARE(server.messageCount(), 1);
        QVERIFY(filesIn(m_outbox).isEmpty());
        QCOMPARE(filesIn(m_sent).size(), 1);
        // Once it has ended, this program may change what waits again.
        const QString next = queue(letter("b@example.net", "Ours"));
        QVERIFY(q->hold(MaildirUniquePart(next)));
        q->release(MaildirUniquePart(next));
    }

    // Another program stops between recording a message and putting it in place (killed while
    // it flushes the record): a run of this one, which had the queue open all along, puts the
    // message in place and sends it, rather than forgetting it as gone and leaving its file
    // behind in tmp/ with no record.
    void aMessageLeftInTmpByAnotherProgramGoes()
    {
        SmtpTestServer server;
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);    // as the program keeps it
        QCOMPARE(child({"--stop-placing", m_outbox}), QProcess::CrashExit);
        QCOMPARE(QDir(m_outbox + "/tmp").entryList(QDir::Files).size(), 1);
        QCOMPARE(filesIn(m_outbox).size(), 1);
        DeliverOutbox(m_outbox, m_sent, {smtpAccount("Work", server.url())});
        QStringList got = deliveriesBySubject(server);
        got.sort();
        QCOMPARE(got, (QStringList{"Left in tmp b@example.net", "Placed a@example.net"}));
        QVERIFY(filesIn(m_outbox).isEmpty());
        QVERIFY(QDir(m_outbox + "/tmp").entryList(QDir::Files).isEmpty());
        QCOMPARE(filesIn(m_sent).size(), 2);
    }

    // A message read here to be edited, sent and filed meanwhile by another program: the edit
    // finds it gone and is refused, never queued afresh for everyone.
    void anEditOfWhatAnotherProgramSentIsRefused()
    {
        SmtpTestServer server;
        const QString unique = MaildirUniquePart(queue(letter("a@example.net, b@example.net", "Sent there")));
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        QCOMPARE(child({"--deliver", m_outbox, m_sent, server.url()}), QProcess::NormalExit);
        QCOMPARE(server.messageCount(), 1);
        QVERIFY(q->hold(unique));    // Edit and Send holds it first
        QString error;
        QVERIFY(q->enqueue(letter("a@example.net, b@example.net", "Sent there, edited"), &error, unique).isEmpty());
        QCOMPARE(error, QString::fromLatin1(kNoLongerQueuedText));
        q->release(unique);
        DeliverOutbox(m_outbox, m_sent, {smtpAccount("Work", server.url())});
        QCOMPARE(server.messageCount(), 1);
        QVERIFY(filesIn(m_outbox).isEmpty());
        QVERIFY(QDir(m_outbox + "/tmp").entryList(QDir::Files).isEmpty());
    }

    // A message another program holds (its user edits it) is left alone by this one's runs
    // while that program lives: it goes once it is released, or once its holder is gone.
    void aHoldOfAnotherProgramIsKept_data()
    {
        QTest::addColumn<bool>("killed");
        QTest::newRow("released") << false;
        QTest::newRow("its program killed") << true;
    }
    void aHoldOfAnotherProgramIsKept()
    {
        QFETCH(bool, killed);
        SmtpTestServer server;
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        const QString unique = MaildirUniquePart(queue(letter("a@example.net", "Held there")));
        QProcess other;
        other.start(QCoreApplication::applicationFilePath(), {"--hold", m_outbox, unique});
        QVERIFY(other.waitForReadyRead(20000));
        QCOMPARE(other.readLine().trimmed(), QByteArray("HELD"));
        DeliverOutbox(m_outbox, m_sent, accounts);
        QCOMPARE(server.messageCount(), 0);
        // Held and released here too: the other program's hold stands.
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        QVERIFY(q->hold(unique));
        q->release(unique);
        DeliverOutbox(m_outbox, m_sent, accounts);
        QCOMPARE(server.messageCount(), 0);
        QCOMPARE(q->status(unique).state, QueueState::Waiting);
        if (killed) {
            other.kill();
        } else {
            other.write("release\n");
            other.closeWriteChannel();
        }
        QVERIFY(other.waitForFinished(20000));
        DeliverOutbox(m_outbox, m_sent, accounts);
        QCOMPARE(server.messageCount(), 1);
        QVERIFY(filesIn(m_outbox).isEmpty());
    }

    // An edit whose record cannot be flushed: the message it was to replace waits again as it
    // was, with whom the server took it for, and the user is told so. Unless another program,
    // starting meanwhile, put the edit in place from its record: then the edit is queued.
    void anEditThatCannotBeFlushedKeepsTheOriginal_data()
    {
        QTest::addColumn<bool>("placedByAnother");
        QTest::newRow("nobody puts it in place") << false;
        QTest::newRow("another program puts it in place") << true;
    }
    void anEditThatCannotBeFlushedKeepsTheOriginal()
    {
        QFETCH(bool, placedByAnother);
        SmtpTestServer server;
        server.refuseRecipient("busy@example.net", "450 4.2.0 Greylisted", 1);
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        const QString original = queue(letter("a@example.net, busy@example.net", "Original"));
        const QString unique = MaildirUniquePart(original);
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        DeliverOutbox(m_outbox, m_sent, accounts);
        QCOMPARE(server.messageCount(), 1);
        const QueueStatus before = q->status(unique);
        QCOMPARE(before.state, QueueState::Waiting);
        QVERIFY(q->hold(unique));
        const QString tmp = m_outbox + "/tmp";
        const QString cur = m_outbox + "/cur";
        q->newTally();    // the log begun anew: the next commits are written, not flushed
        SetQueueFault([&](qint64 bytes) {
            if (bytes != 0)
                return QueueFault::None;
            if (placedByAnother)
                for (const QString& n : QDir(tmp).entryList(QDir::Files))
                    QFile::rename(tmp + "/" + n, cur + "/" + n + ":2,S");
            return QueueFault::Fail;
        });
        QString error;
        const QString path = q->enqueue(letter("a@example.net, busy@example.net", "Edited"), &error, unique);
        SetQueueFault({});
        q->release(unique);
        QVERIFY(QDir(tmp).entryList(QDir::Files).isEmpty());
        if (placedByAnother) {
            QVERIFY2(!path.isEmpty(), qPrintable(error));
            QCOMPARE(q->status(MaildirUniquePart(path)).state, QueueState::Waiting);
            QCOMPARE(q->status(unique).state, QueueState::NotQueued);
            QVERIFY(QFile::remove(original));    // as the caller does once the edit is queued
        } else {
            QVERIFY(path.isEmpty());
            QVERIFY2(error.contains("could not be written") && error.contains("earlier version is still in the Outbox, waiting"),
                     qPrintable(error));
            QCOMPARE(q->status(unique), before);
        }
        DeliverOutbox(m_outbox, m_sent, accounts);
        QCOMPARE(deliveriesBySubject(server),
                 (QStringList{"Original a@example.net", placedByAnother ? "Edited busy@example.net" : "Original busy@example.net"}));
        QVERIFY(filesIn(m_outbox).isEmpty());
    }

    // An edit whose record is on the disk but whose file cannot be put in place: the message it
    // was to replace is queued again, and that outlasts a power loss.
    void aFailedEditIsUndoneOnTheDisk()
    {
        const QString unique = MaildirUniquePart(queue(letter("a@example.net", "Original")));
        QCOMPARE(child({"--edit-power-loss", m_outbox, unique}), QProcess::CrashExit);
        const QStringList blocked = QDir(m_outbox + "/cur").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(blocked.size(), 1);
        QVERIFY(QDir(m_outbox + "/cur/" + blocked.first()).removeRecursively());
        QCOMPARE(OutboxQueue::Of(m_outbox)->status(unique).state, QueueState::Waiting);
        QCOMPARE(filesIn(m_outbox).size(), 1);
    }

    // Send Again whose record cannot be flushed is not made (a power loss would undo it
    // unseen): the user is told, and the message stays as it was.
    void aSendAgainThatCannotBeFlushedIsNotMade()
    {
        SmtpTestServer server;
        server.refuseRecipient("gone@example.net", "550 5.1.1 No such user", 1);
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        const QString unique = MaildirUniquePart(queue(letter("gone@example.net", "Refused")));
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        DeliverOutbox(m_outbox, m_sent, accounts);
        const QueueStatus before = q->status(unique);
        QCOMPARE(before.state, QueueState::Refused);
        q->newTally();    // the log begun anew: the next commits are written, not flushed
        SetQueueFault([](qint64 bytes) { return bytes == 0 ? QueueFault::Fail : QueueFault::None; });
        QString error;
        QVERIFY(!q->requeue(unique, &error));
        SetQueueFault({});
        QVERIFY2(error.contains("could not be written to the disk") && error.contains("not sent again"), qPrintable(error));
        QCOMPARE(q->status(unique), before);
        DeliverOutbox(m_outbox, m_sent, accounts);
        QCOMPARE(server.messageCount(), 0);
        QCOMPARE(q->status(unique).state, QueueState::Refused);
    }

    // A message left in flight is told once, even when the first try to settle it cannot be
    // recorded.
    void aMessageFoundInFlightIsToldOnce()
    {
        const QString unique = MaildirUniquePart(queue(letter("a@example.net", "In flight")));
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);    // open before the mark
        {
            QueueDatabase::Opening o = QueueDatabase::Open(m_outbox + "/.queue.db");
            QVERIFY(o.db);
            QVERIFY(o.db->query("UPDATE messages SET mark = 2, mark_boot = 'an earlier boot', transfer = 1 WHERE name = ?").bind(unique).run());
        }
        const QList<Account> accounts{smtpAccount("Work", "smtp://127.0.0.1:1")};
        auto writes = std::make_shared<int>(0);
        SetQueueFault([writes](qint64 bytes) { return bytes > 0 && ++*writes == 1 ? QueueFault::Fail : QueueFault::None; });
        QVERIFY(DeliverOutbox(m_outbox, m_sent, accounts).stopped);
        SetQueueFault({});
        QCOMPARE(DeliverOutbox(m_outbox, m_sent, accounts).maybeDelivered, 1);
        QCOMPARE(DeliverOutbox(m_outbox, m_sent, accounts).maybeDelivered, 0);
        QCOMPARE(q->status(unique).state, QueueState::MaybeDelivered);
    }

    // A run finds a message it listed gone while this program is putting it in place: it stays
    // queued.
    void aMessageBeingPlacedIsNotForgotten()
    {
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        const QString tmp = m_outbox + "/tmp";
        q->newTally();    // the log begun anew: the next commits are written, not flushed
        QStringList found;
        SetQueueFault([&](qint64 bytes) {
            if (bytes == 0 && found.isEmpty())
                for (const QString& n : QDir(tmp).entryList(QDir::Files))
                    found << q->placeOrForget(n);
            return QueueFault::None;
        });
        const QString path = q->enqueue(letter("a@example.net", "Placing"), nullptr);
        SetQueueFault({});
        QCOMPARE(found, QStringList{QString()});
        QVERIFY(!path.isEmpty());
        QCOMPARE(q->status(MaildirUniquePart(path)).state, QueueState::Waiting);
    }

    // What could not be recorded after the server took a message is told in the same words
    // after the program starts again.
    void anUnrecordedOutcomeKeepsItsWordsAfterARestart()
    {
        SmtpTestServer server;
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        const QString unique = MaildirUniquePart(queue(letter("a@example.net", "Unrecorded")));
        {
            const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
            auto writes = std::make_shared<int>(-1);
            DeliverOutbox(m_outbox, m_sent, accounts, {}, nullptr, nullptr, failingAfter(RunStep::Answered, writes));
            SetQueueFault({});
            QVERIFY(*writes >= 1);
            QVERIFY(q->status(unique).answer.contains("could not be written"));
        }    // the program ends
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        const QueueStatus st = q->status(unique);
        QCOMPARE(st.state, QueueState::MaybeDelivered);
        QVERIFY2(st.answer.contains("could not be written") && !st.answer.contains("stopped"), qPrintable(st.answer));
        DeliverOutbox(m_outbox, m_sent, accounts);
        QCOMPARE(server.messageCount(), 1);
    }

    // This program's own run, as it takes or gives up the run lock, is never taken for
    // another's: holding a marked message is not refused meanwhile.
    void ourOwnRunIsNeverTakenForAnothers()
    {
        const QString unique = MaildirUniquePart(queue(letter("a@example.net", "Ours")));
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        QVERIFY(q->markAhead({unique}));
        std::atomic_bool stop{false};
        std::thread runs([&] {
            while (!stop.load())
                auto lock = q->lockRun();
        });
        int refused = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        while (std::chrono::steady_clock::now() < until) {
            if (q->hold(unique))
                q->release(unique);
            else
                ++refused;
        }
        stop = true;
        runs.join();
        QCOMPARE(refused, 0);
    }

    // A power loss drops what the queue had not flushed; the machine starts again on another
    // boot. Each step that must outlast it was flushed first: a queued message in place has its
    // mark, a message the server took is never sent again by itself, and a sent message's
    // refusals are still told.
    void aPowerLossKeepsEveryGuardedStep_data()
    {
        QTest::addColumn<int>("loss");
        QTest::newRow("messages in place") << int(Loss::Placed);
        QTest::newRow("the server has it") << int(Loss::Answered);
        QTest::newRow("filed in Sent Items") << int(Loss::Filed);
    }
    void aPowerLossKeepsEveryGuardedStep()
    {
        QFETCH(int, loss);
        SmtpTestServer server;
        server.refuseRecipient("gone@example.net", "550 5.1.1 <gone@example.net>: No such user");
        if (loss != int(Loss::Placed))
            queue(letter("a@example.net, gone@example.net", "Guarded"));
        QCOMPARE(child({"--power-loss", m_outbox, m_sent, server.url(), QString::number(loss)}), QProcess::CrashExit);
        const QString boot = OutboxQueue::BootId();
        OutboxQueue::SetBootId(QStringLiteral("after-a-power-loss"));
        struct Back {
            QString boot;
            ~Back() { OutboxQueue::SetBootId(boot); }
        } back{boot};
        const QList<Account> accounts{smtpAccount("Work", server.url())};
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(m_outbox);
        switch (Loss(loss)) {
        case Loss::Placed:
            QCOMPARE(filesIn(m_outbox).size(), 3);
            for (const QString& f : filesIn(m_outbox))
                QCOMPARE(queued(m_outbox, f).state, QueueState::Waiting);
            break;
        case Loss::Answered:
            QCOMPARE(server.messageCount(), 1);
            for (int run = 0; run < 2; ++run)
                DeliverOutbox(m_outbox, m_sent, accounts);
            QCOMPARE(server.messageCount(), 1);
            QCOMPARE(waitingForTheUser(m_outbox), 1);
            break;
        case Loss::Filed: {
            QCOMPARE(filesIn(m_sent).size(), 1);
            DeliverOutbox(m_outbox, m_sent, accounts);
            QCOMPARE(server.messageCount(), 1);
            const OutboxQueue::Told t = q->told(10);
            QCOMPARE(t.sent, 1);
            QCOMPARE(t.notes.size(), 1);
            QCOMPARE(t.notes[0].refused.value(0).address, QStringLiteral("gone@example.net"));
            break;
        }
        }
    }
};

int main(int argc, char** argv)
{
    // "--open OUTBOX N": a program killed at the N-th call (a write, a flush, a rename, a removal)
    // on its queue's files while it opens the queue.
    if (argc == 4 && qstrcmp(argv[1], "--open") == 0) {
        QCoreApplication app(argc, argv);
        auto calls = std::make_shared<int>(0);
        const int at = QByteArray(argv[3]).toInt();
        SetQueueFault([calls, at](qint64) { return ++*calls == at ? QueueFault::Crash : QueueFault::None; });
        OutboxQueue::Of(QString::fromLocal8Bit(argv[2]))->databasePath();
        return 0;
    }
    // "--take-over-then-lose OUTBOX SENT URL N loss|fail": a program opening its queue whose power
    // goes at the N-th call on the queue's files; or whose N-th call fails, and whose power goes
    // after a run.
    if (argc == 7 && qstrcmp(argv[1], "--take-over-then-lose") == 0) {
        QCoreApplication app(argc, argv);
        mail::mime::ensureInit();
        TrackQueueFlushes();
        auto calls = std::make_shared<int>(0);
        const int at = QByteArray(argv[5]).toInt();
        const QueueFault fault = qstrcmp(argv[6], "loss") == 0 ? QueueFault::PowerLoss : QueueFault::Fail;
        SetQueueFault([calls, at, fault](qint64) { return ++*calls == at ? fault : QueueFault::None; });
        const QString outbox = QString::fromLocal8Bit(argv[2]);
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(outbox);
        SetQueueFault({});
        DeliverOutbox(outbox, QString::fromLocal8Bit(argv[3]), {smtpAccount("Work", QString::fromLocal8Bit(argv[4]))});
        LoseQueuePower();
    }
    // "--stop-placing OUTBOX": a program that queues one message, then is killed while it flushes
    // the record of a second, before putting it in place.
    if (argc == 3 && qstrcmp(argv[1], "--stop-placing") == 0) {
        QCoreApplication app(argc, argv);
        mail::mime::ensureInit();
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(QString::fromLocal8Bit(argv[2]));
        if (q->enqueue(letter("a@example.net", "Placed"), nullptr).isEmpty())
            return 1;
        SetQueueFault([](qint64 bytes) { return bytes == 0 ? QueueFault::Crash : QueueFault::None; });
        q->enqueue(letter("b@example.net", "Left in tmp"), nullptr);
        return 1;
    }
    // "--edit-power-loss OUTBOX UNIQUE": a program that replaces the message by an edit whose file
    // cannot be put in place (a folder stands in its way), then loses its power.
    if (argc == 4 && qstrcmp(argv[1], "--edit-power-loss") == 0) {
        QCoreApplication app(argc, argv);
        mail::mime::ensureInit();
        TrackQueueFlushes();
        const QString outbox = QString::fromLocal8Bit(argv[2]);
        const QString unique = QString::fromLocal8Bit(argv[3]);
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(outbox);
        q->newTally();
        if (!q->hold(unique))
            return 1;
        bool blocked = false;
        SetQueueFault([&](qint64 bytes) {
            if (bytes == 0 && !blocked)
                for (const QString& n : QDir(outbox + "/tmp").entryList(QDir::Files))
                    blocked = QDir().mkpath(outbox + "/cur/" + n + ":2,S/in-the-way");
            return QueueFault::None;
        });
        QString error;
        if (!q->enqueue(letter("a@example.net", "Edited"), &error, unique).isEmpty() || !blocked)
            return 1;
        LoseQueuePower();
    }
    // "--hold OUTBOX UNIQUE": a program that holds a message until a line comes on its input.
    if (argc == 4 && qstrcmp(argv[1], "--hold") == 0) {
        QCoreApplication app(argc, argv);
        const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(QString::fromLocal8Bit(argv[2]));
        const QString unique = QString::fromLocal8Bit(argv[3]);
        if (!q->hold(unique))
            return 1;
        QFile out, in;
        if (!out.open(stdout, QIODevice::WriteOnly) || !in.open(stdin, QIODevice::ReadOnly))
            return 1;
        out.write("HELD\n");
        out.flush();
        in.readLine();
        q->release(unique);
        return 0;
    }
    // "--deliver OUTBOX SENT URL": a second program delivering from the same Outbox.
    if (argc == 5 && qstrcmp(argv[1], "--deliver") == 0) {
        QCoreApplication app(argc, argv);
        mail::mime::ensureInit();
        DeliverOutbox(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                      {smtpAccount("Work", QString::fromLocal8Bit(argv[4]))});
        return 0;
    }
    // "--power-loss OUTBOX SENT URL STEP": a program whose power goes at the step.
    if (argc == 6 && qstrcmp(argv[1], "--power-loss") == 0) {
        QCoreApplication app(argc, argv);
        mail::mime::ensureInit();
        TrackQueueFlushes();
        const QString outbox = QString::fromLocal8Bit(argv[2]);
        const Loss loss = Loss(QByteArray(argv[5]).toInt());
        if (loss == Loss::Placed) {
            // Kept open, as the program keeps it: closing it would fold the log into the file.
            const std::shared_ptr<OutboxQueue> q = OutboxQueue::Of(outbox);
            for (int k = 0; k < 3; ++k)
                if (q->enqueue(letter("a@example.net", "Placed"), nullptr).isEmpty())
                    return 1;
            LoseQueuePower();
        }
        DeliveryOptions o;
        o.step = [loss](RunStep s) {
            if ((loss == Loss::Answered && s == RunStep::Answered) || (loss == Loss::Filed && s == RunStep::Filed))
                LoseQueuePower();
        };
        DeliverOutbox(outbox, QString::fromLocal8Bit(argv[3]), {smtpAccount("Work", QString::fromLocal8Bit(argv[4]))}, {}, nullptr,
                      nullptr, o);
        return 1;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testsupport::TestHome::reset();
    QApplication app(argc, argv);
    TestQueueDurability tc;
    return testsupport::runTests(argc, argv, &tc);
}

#include "tst_QueueDurability.moc"
