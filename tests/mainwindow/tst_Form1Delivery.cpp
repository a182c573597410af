// The main window and the background delivery: start-up sends what waits in the Outbox, each
// run that sent or refused anything says so on the status line, and the Outbox or Sent Items shown
// is read again when a run ends.
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QLabel>
#include <QTimer>
#include <QToolTip>
#include <QTextEdit>

#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/SendBatch.h"
#include "platform/mail/send/DeliveryNews.h"
#include "platform/mail/send/MaildirWriter.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/QueueDatabase.h"
#include "platform/mail/send/Spooler.h"
#include "tests/mainwindow/Form1GridTestUtil.h"
#include "tests/mainwindow/Form1TestUtil.h"
#include "tests/platform/mail/send/SendTestUtil.h"
#include "tests/platform/mail/send/SmtpTestServer.h"

using namespace form1test;

class TestForm1Delivery : public QObject {
    Q_OBJECT
    std::unique_ptr<SmtpTestServer> server;

    Form1* startWithAccount(const std::function<void(const QString&)>& more = {})
    {
        return start([&](const QString& home) {
            QVERIFY(mail::send::SaveAccounts({sendtest::smtpAccount("Work", server->url())}));
            if (more) more(home);
        });
    }

    // The program closed and started again on the same data folder.
    static Form1* restart()
    {
        end();
        scripted().clear();
        return Main() ? Form1::Instance() : nullptr;
    }

    static mail::MailItemPtr news(const QString& to)
    {
        mail::MailItemPtr mi = OutlookApp->CreateItem(mail::olMailItem);
        mi->SetTo(to);
        mi->SetSubject(QStringLiteral("News"));
        return mi;
    }

    static mail::MailItemPtr outboxItem(int index)
    {
        return mail::AsMailItem(
            OutlookApp->GetNamespace(QStringLiteral("MAPI"))->GetDefaultFolder(mail::olFolderOutbox)->Items()->Item(index));
    }

    // What hovering over the mark of the message grid's row shows.
    static QString markTip(Form1* f, int row)
    {
        const QRect r = f->TDBGrid1->visualRect(f->TDBGrid1->model()->index(row, 1));
        QHelpEvent hover(QEvent::ToolTip, r.center(), f->TDBGrid1->viewport()->mapToGlobal(r.center()));
        QApplication::sendEvent(f->TDBGrid1->viewport(), &hover);
        return QToolTip::text();
    }

private Q_SLOTS:
    void init() { server = std::make_unique<SmtpTestServer>(); }
    void cleanup()
    {
        end();
        server.reset();
    }

    void startUpDeliversTheOutbox()
    {
        Form1* f = startWithAccount([](const QString& home) {
            QVERIFY(!mail::send::QueueMessage(home + "/Mail/Outbox", sendtest::message("bob@example.net")).isEmpty());
        });
        QVERIFY(f);
        QTRY_COMPARE_WITH_TIMEOUT(server->messageCount(), 1, 20000);
        QTRY_COMPARE(f->StatusBar1->PanelText(2), QStringLiteral("Sending: 1 message sent."));
    }

    // The Outbox's queue lost while messages wait: start-up says so once, in a box and on the
    // status line, marks them in the Outbox, and sends nothing until the user chooses.
    void aLostQueueIsToldAndSendsNothing()
    {
        QString outbox;
        Form1* f = startWithAccount([&](const QString& home) {
            outbox = home + "/Mail/Outbox";
            QVERIFY(!mail::send::QueueMessage(outbox, sendtest::message("bob@example.net")).isEmpty());
        });
        QVERIFY(f);
        QTRY_COMPARE_WITH_TIMEOUT(server->messageCount(), 1, 20000);
        server->setSilent(true);    // it stays in the Outbox
        news(QStringLiteral("carol@example.net"))->Send();
        QTRY_VERIFY_WITH_TIMEOUT(server->connections() >= 2, 20000);
        end();
        for (const char* tail : {"", "-wal", "-shm"})
            QVERIFY(!QFile::exists(outbox + "/.queue.db" + tail) || QFile::remove(outbox + "/.queue.db" + tail));
        server->setSilent(false);
        scripted().clear();
        QVERIFY(Main());
        f = Form1::Instance();
        QCOMPARE(scripted().boxes.size(), 1);
        const QString box = scripted().boxes.first().prompt;
        QVERIFY2(box.startsWith("The Outbox's delivery record " + outbox + "/.queue.db is missing. So 1 message in the Outbox may "
                                "have been delivered already."),
                 qPrintable(box));
        QTRY_VERIFY_WITH_TIMEOUT(f->StatusBar1->PanelText(2).startsWith("Sending: 1 message may have been delivered. The Outbox's"), 20000);
        // Too long for one line at 1280 pixels: it ends in "…", the whole of it in the tooltip.
        f->resize(1280, 720);
        f->Form_Resize();
        const QLabel* panel = f->StatusBar1->panel(2);
        QVERIFY2(panel->text().endsWith(QChar(0x2026)), qPrintable(panel->text()));
        QVERIFY(panel->fontMetrics().horizontalAdvance(panel->text()) <= panel->contentsRect().width());
        QVERIFY(panel->toolTip().startsWith(f->StatusBar1->PanelText(2) + "\n"));
        testsupport::SaveShot(f, QStringLiteral("status-line-cut"));
        click(f, OutboxNode);
        QCOMPARE(f->xa->UpperBound(1), 1);
        QCOMPARE(f->xa->Value(1, 1).toString(), QStringLiteral("may have been delivered"));
        QTest::qWait(300);
        QCOMPARE(server->messageCount(), 1);
    }

    // Sending stopped for a full disk is told in a box, where the user looks, once however many
    // runs fail after it; once there is room, Get Mail sends the rest. The box names the command
    // by the caption the user sees, and the status line ends its sentence.
    void aFullDiskStopsSendingWithOneBox()
    {
        Form1* f = startWithAccount();
        QVERIFY(f);
        mail::send::Spooler* spooler = OutlookApp->spooler();
        QVERIFY(spooler->waitUntilIdle(20000));
        spooler->setPaused(true);
        news(QStringLiteral("a@example.net"))->Send();
        news(QStringLiteral("b@example.net"))->Send();
        mail::send::SetQueueFault([](qint64 bytes) { return bytes > 0 ? mail::send::QueueFault::Fail : mail::send::QueueFault::None; });
        struct Unfault {
            ~Unfault() { mail::send::SetQueueFault({}); }
        } unfault;
        spooler->setPaused(false);
        QTRY_COMPARE_WITH_TIMEOUT(scripted().boxes.size(), 1, 20000);
        const QString box = scripted().boxes.first().prompt;
        QVERIFY2(box.startsWith("Sending has stopped: the disk that holds the Outbox (")
                     && box.endsWith(") is full, so the Outbox's delivery record could not be written.\n\nFree some space on "
                                     "that disk, then choose Get Mail to send the rest. Until then it is tried again by itself, less and less often."),
                 qPrintable(box));
        QVERIFY(f->findChild<QAction*>(QStringLiteral("Toolbar1:Get Mail")));
        QTRY_VERIFY_WITH_TIMEOUT(f->StatusBar1->PanelText(2).contains(QLatin1String(mail::send::kDiskFullText)), 20000);
        QVERIFY2(f->StatusBar1->PanelText(2).endsWith(QLatin1String(mail::send::kDiskFullText) + QLatin1Char('.')),
                 qPrintable(f->StatusBar1->PanelText(2)));
        // Asked again while the disk is still full: told on the status line, no second box.
        spooler->deliver(true);
        QTest::qWait(300);
        QVERIFY(spooler->waitUntilIdle(20000));
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(server->messageCount(), 0);

        mail::send::SetQueueFault({});
        spooler->sendReceive();
        QTRY_COMPARE_WITH_TIMEOUT(server->messageCount(), 2, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(f->StatusBar1->PanelText(2), QStringLiteral("Sending: 2 messages sent."), 20000);
        QCOMPARE(scripted().boxes.size(), 1);
    }

    // How many went, wait and were refused, with the first refusal in the server's words; all of
    // them in the tooltip. Nothing pops up in the user's way.
    void refusalsReachTheStatusLine()
    {
        server->refuseRecipient("gone@example.net", "550 5.1.1 No such user");
        Form1* f = startWithAccount();
        QVERIFY(f);
        mail::MailItemPtr mi = OutlookApp->CreateItem(mail::olMailItem);
        mi->SetTo(QStringLiteral("bob@example.net; gone@example.net"));
        mi->SetSubject(QStringLiteral("News"));
        mi->Send();
        QTRY_COMPARE_WITH_TIMEOUT(f->StatusBar1->PanelText(2),
                                  QStringLiteral("Sending: 1 message sent (1 recipient refused). gone@example.net: 550 5.1.1 No such user"), 20000);
        // After the whole summary when the panel shows it cut.
        QVERIFY(f->StatusBar1->panel(2)->toolTip().endsWith(
            QStringLiteral("\nA message to bob@example.net and 1 other (\"News\") was sent, but the server refused "
                           "gone@example.net: 550 5.1.1 No such user. It was not sent to that address.")));
        QCOMPARE(server->messages().size(), 1);
        QVERIFY(scripted().boxes.isEmpty());
    }

    // A send delivered in several runs is told whole. A message refused for good stays on the
    // status line, and marked in the Outbox's list, while it waits: after later runs and a
    // restart too, until it is sent again.
    void aRefusalStaysInViewUntilSentAgain()
    {
        server->refuseRecipient("gone@example.net", "550 5.1.1 No such user", 1);
        Form1* f = startWithAccount();
        QVERIFY(f);
        const QString refusal = QStringLiteral("gone@example.net: 550 5.1.1 No such user");
        {
            mail::SendBatch batch;
            batch.Send(news(QStringLiteral("gone@example.net")), 1);
            batch.Send(news(QStringLiteral("bob@example.net")), 2);
            batch.Finish();
            QTRY_COMPARE_WITH_TIMEOUT(f->StatusBar1->PanelText(2), "Sending: 1 message sent, 1 refused. " + refusal, 20000);
            batch.Send(news(QStringLiteral("carol@example.net")), 3);
            batch.Finish();
            QTRY_COMPARE_WITH_TIMEOUT(f->StatusBar1->PanelText(2), "Sending: 2 messages sent, 1 refused. " + refusal, 20000);
        }
        const QString line = QStringLiteral("A message to gone@example.net (\"News\") could not be sent through \"Work\": "
                                            "550 5.1.1 No such user. It will not be tried again: open it in the Outbox to "
                                            "send it again or delete it.");
        QCOMPARE(f->StatusBar1->panel(2)->toolTip(), line);
        const auto markShown = [](Form1* f) {
            click(f, OutboxNode);
            QCOMPARE(f->xa->UpperBound(1), 1);
            QCOMPARE(f->xa->Value(1, 1).toString(), QStringLiteral("refused"));
            const QModelIndex cell = f->TDBGrid1->model()->index(0, 1);
            QVERIFY(!f->TDBGrid1->model()->data(cell, Qt::DecorationRole).isNull());
        };
        markShown(f);
        QVERIFY(!QTest::currentTestFailed());

        // After a restart it tells what it told before.
        f = restart();
        QVERIFY(f);
        QTRY_COMPARE_WITH_TIMEOUT(f->StatusBar1->PanelText(2), "Sending: 2 messages sent, 1 refused. " + refusal, 20000);
        QCOMPARE(f->StatusBar1->panel(2)->toolTip(), line);
        markShown(f);
        QVERIFY(!QTest::currentTestFailed());

        // Send Again: taken this time.
        outboxItem(1)->Send();
        QTRY_COMPARE_WITH_TIMEOUT(f->StatusBar1->PanelText(2), QStringLiteral("Sending: 1 message sent."), 20000);
        QCOMPARE(f->StatusBar1->panel(2)->toolTip(), QString());
        QTRY_COMPARE(f->xa->UpperBound(1), 0);
        QCOMPARE(server->messageCount(), 3);
    }

    // A message the server deferred waits in the Outbox marked, its tooltip saying when it goes
    // again and why.
    void aMessageWaitingForARetryIsMarked()
    {
        server->refuseRecipient("busy@example.net", "450 4.2.1 Mailbox busy");
        Form1* f = startWithAccount();
        QVERIFY(f);
        news(QStringLiteral("busy@example.net"))->Send();
        QTRY_COMPARE_WITH_TIMEOUT(f->StatusBar1->PanelText(2),
                                  QStringLiteral("Sending: 1 message waiting for a retry. busy@example.net: 450 4.2.1 Mailbox busy"), 20000);
        click(f, OutboxNode);
        QCOMPARE(f->xa->UpperBound(1), 1);
        QCOMPARE(f->xa->Value(1, 1).toString(), QStringLiteral("waiting for a retry"));
        const QModelIndex cell = f->TDBGrid1->model()->index(0, 1);
        QVERIFY(!f->TDBGrid1->model()->data(cell, Qt::DecorationRole).isNull());
        const QString tip = markTip(f, 0);
        QVERIFY2(tip.startsWith("Waiting for a retry at ") && tip.endsWith("\n450 4.2.1 Mailbox busy"), qPrintable(tip));
    }

    // A message whose account is gone waits for the user, not for a retry: its mark says so, and
    // its tooltip what Send Again will do.
    void aMessageWhoseAccountIsGoneIsMarkedAsWaitingForYou()
    {
        Form1* f = startWithAccount([](const QString& home) {
            QVERIFY(!mail::send::QueueMessage(home + "/Mail/Outbox",
                                              sendtest::message("bob@example.net", "X-Ferrowyn-Account: Gone\n"))
                         .isEmpty());
        });
        QVERIFY(f);
        QTRY_VERIFY_WITH_TIMEOUT(f->StatusBar1->PanelText(2).startsWith("Sending: 1 message waiting for you."), 20000);
        click(f, OutboxNode);
        QCOMPARE(f->xa->UpperBound(1), 1);
        QCOMPARE(f->xa->Value(1, 1).toString(), QStringLiteral("waiting for you"));
        const QString tip = markTip(f, 0);
        QVERIFY2(tip.startsWith("This message was not sent. There is no mail account \"Gone\" any more.") &&
                     tip.contains("choose Send Again"),
                 qPrintable(tip));
        QCOMPARE(server->messageCount(), 0);
    }

    // A message the server took for one recipient, refused for good for another and deferred for
    // the third: the tooltip of its mark tells each of them.
    void theMarkTellsEachRecipient()
    {
        server->refuseRecipient("gone@example.net", "550 5.1.1 No such user");
        server->refuseRecipient("grey3@example.net", "450 4.7.1 Greylisted");
        Form1* f = startWithAccount();
        QVERIFY(f);
        news(QStringLiteral("alice@example.net; gone@example.net; grey3@example.net"))->Send();
        QTRY_VERIFY_WITH_TIMEOUT(f->StatusBar1->PanelText(2).startsWith("Sending: 1 message waiting for a retry (1 recipient refused)."), 20000);
        QCOMPARE(server->messageCount(), 1);
        click(f, OutboxNode);
        QCOMPARE(f->xa->UpperBound(1), 1);
        QCOMPARE(f->xa->Value(1, 1).toString(), QStringLiteral("waiting for a retry"));
        const QDateTime next = outboxItem(1)->SendingStatus().nextTry;
        QVERIFY(next.isValid());
        QCOMPARE(markTip(f, 0).split(QLatin1Char('\n')),
                 (QStringList{"Sent to alice@example.net. It will not be sent to that address again.",
                              "The server refused gone@example.net for good: 550 5.1.1 No such user. It will not be sent to that "
                              "address unless you send it again.",
                              "The server refused grey3@example.net for now: 450 4.7.1 Greylisted. It will be tried again for that "
                              "address at " + mail::send::WhenText(next) + "."}));
    }

    // A message refused whole, each recipient with an answer of its own: the one-line status bar
    // quotes them on one line; its tooltip keeps them a line each.
    void severalAnswersAreToldOnOneLine()
    {
        server->refuseRecipient("bob@example.net", "550 5.1.1 bob: No such user");
        server->refuseRecipient("carol@example.net", "550 5.2.1 carol: Mailbox disabled");
        Form1* f = startWithAccount();
        QVERIFY(f);
        news(QStringLiteral("bob@example.net; carol@example.net"))->Send();
        QTRY_VERIFY_WITH_TIMEOUT(f->StatusBar1->PanelText(2).startsWith("Sending: 1 message refused."), 20000);
        QCOMPARE(f->StatusBar1->PanelText(2), QStringLiteral("Sending: 1 message refused. bob@example.net and 1 other: 550 5.1.1 bob: No such "
                                                             "user; 550 5.2.1 carol: Mailbox disabled"));
        QVERIFY2(f->StatusBar1->panel(2)->toolTip().contains("550 5.1.1 bob: No such user\n550 5.2.1 carol: Mailbox disabled"),
                 qPrintable(f->StatusBar1->panel(2)->toolTip()));
        testsupport::SaveShot(f, QStringLiteral("status-line-several-answers"));
    }

    // A large send as it runs: what is queued and not tried yet is told as waiting to be sent,
    // the one in hand as being sent (as its window says), and the count and the Outbox shown
    // follow the run while a transfer holds it up.
    void theStatusLineAndTheOutboxFollowALargeSend()
    {
        server->refuseMessage("Subject: Hold", "HOLD", 2);
        Form1* f = startWithAccount([](const QString& home) {
            const QString outbox = home + "/Mail/Outbox";
            QVERIFY(!mail::send::QueueMessage(outbox, sendtest::message("first@example.net", "Subject: Hold\n")).isEmpty());
            for (int i = 0; i < 20; ++i)
                QVERIFY(!mail::send::QueueMessage(outbox, sendtest::message("a@example.net")).isEmpty());
            QVERIFY(!mail::send::QueueMessage(outbox, sendtest::message("second@example.net", "Subject: Hold\n")).isEmpty());
            for (int i = 0; i < 10; ++i)
                QVERIFY(!mail::send::QueueMessage(outbox, sendtest::message("b@example.net")).isEmpty());
        });
        QVERIFY(f);
        QTRY_COMPARE_WITH_TIMEOUT(server->dataSeen(), 1, 20000);
        click(f, OutboxNode);
        QCOMPARE(f->xa->UpperBound(1), 32);
        QTRY_COMPARE(f->StatusBar1->PanelText(2), QStringLiteral("Sending: 1 message being sent, 31 waiting to be sent."));
        server->releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(server->dataSeen(), 22, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(f->StatusBar1->PanelText(2), QStringLiteral("Sending: 21 messages sent, 1 being sent, 10 waiting to be sent."), 3000);
        QTRY_COMPARE_WITH_TIMEOUT(f->xa->UpperBound(1), 11, 3000);
        server->releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(f->StatusBar1->PanelText(2), QStringLiteral("Sending: 32 messages sent."), 20000);
        QTRY_COMPARE(f->xa->UpperBound(1), 0);
    }

    // Closed while a message is being sent, and told to wait: the status line says so for the
    // whole wait (what the run tells meanwhile does not take its place), the window keeps
    // painting, and it closes once the message has gone.
    void quittingWaitsInView()
    {
        server->refuseMessage("Subject: Test", "HOLD", 1);
        Form1* f = startWithAccount([](const QString& home) {
            QVERIFY(!mail::send::QueueMessage(home + "/Mail/Outbox", sendtest::message("bob@example.net")).isEmpty());
        });
        QVERIFY(f);
        QTRY_COMPARE_WITH_TIMEOUT(server->dataSeen(), 1, 20000);
        struct PaintCount : QObject {
            int paints = 0;
            bool eventFilter(QObject*, QEvent* e) override
            {
                paints += e->type() == QEvent::Paint ? 1 : 0;
                return false;
            }
        } count;
        f->StatusBar1->panel(2)->installEventFilter(&count);
        QString during;
        int paints = 0;
        QTimer::singleShot(1200, f, [&] {
            during = f->StatusBar1->PanelText(2);
            paints = count.paints;
            server->releaseHeld();
        });
        scripted().boxAnswers.enqueue(ui::vbYes);
        QVERIFY(f->close());
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY2(during.startsWith(QStringLiteral("Waiting for the message being sent")), qPrintable(during));
        QVERIFY(paints > 0);
        QCOMPARE(server->messageCount(), 1);
        f->StatusBar1->panel(2)->removeEventFilter(&count);
    }

    // The Outbox's list and preview show what the file holds after Save, Edit and Send, and Send
    // Again, with no delivery run to read the folder again.
    void theOutboxShowsWhatItsFileHolds()
    {
        server->refuseRecipient("gone@example.net", "550 5.1.1 No such user");
        Form1* f = startWithAccount();
        QVERIFY(f);
        news(QStringLiteral("gone@example.net"))->Send();
        QTRY_VERIFY_WITH_TIMEOUT(f->StatusBar1->PanelText(2).startsWith("Sending: 1 message refused."), 20000);
        QVERIFY(OutlookApp->spooler()->waitUntilIdle(20000));
        OutlookApp->spooler()->setPaused(true);
        click(f, OutboxNode);
        QCOMPARE(f->xa->UpperBound(1), 1);
        f->SetSpecificEmailBookmark(1);
        f->LoadMessageFromBookmark(1);
        QCOMPARE(f->lblMessageHeaderSubject->text(), QStringLiteral("News"));
        QCOMPARE(f->xa->Value(1, 1).toString(), QStringLiteral("refused"));

        mail::MailItemPtr mi = outboxItem(1);
        mi->SetSubject(QStringLiteral("Saved"));
        mi->Save();
        QTRY_COMPARE(f->xa->Value(1, 5).toString(), QStringLiteral("Saved"));
        QCOMPARE(f->lblMessageHeaderSubject->text(), QStringLiteral("Saved"));

        mi = outboxItem(1);
        mi->Send();    // sent again
        QTRY_COMPARE(f->xa->Value(1, 1).toString(), QStringLiteral("-1"));

        mi = outboxItem(1);
        mi->SetSubject(QStringLiteral("Edited"));
        mi->Send();    // edited and sent: a new message in its place
        QTRY_COMPARE(f->xa->Value(1, 5).toString(), QStringLiteral("Edited"));
        QCOMPARE(f->xa->UpperBound(1), 1);
        QCOMPARE(f->lblMessageHeaderSubject->text(), QStringLiteral("Edited"));
        QCOMPARE(f->CurrentMailItem->EntryID(), mi->EntryID());
        QCOMPARE(server->dataSeen(), 0);
    }

    // Each message is counted on the status line as soon as its outcome is recorded, not at the
    // next look the run's telling takes a while later.
    void theStatusLineCountsEachMessageAtOnce()
    {
        server->refuseMessage("Subject: Test", "HOLD");
        Form1* f = startWithAccount([](const QString& home) {
            for (int i = 0; i < 6; ++i)
                QVERIFY(!mail::send::QueueMessage(home + "/Mail/Outbox", sendtest::message("bob@example.net")).isEmpty());
        });
        QVERIFY(f);
        qint64 total = 0;
        for (int k = 1; k <= 5; ++k) {
            QTRY_COMPARE_WITH_TIMEOUT(server->dataSeen(), k, 20000);
            QElapsedTimer took;
            took.start();
            server->releaseHeld();
            QTRY_VERIFY_WITH_TIMEOUT(f->StatusBar1->PanelText(2).startsWith(QStringLiteral("Sending: %1 %2 sent").arg(k).arg(k == 1 ? "message" : "messages")), 20000);
            total += took.elapsed();
        }
        QVERIFY2(total < 1000, qPrintable(QStringLiteral("%1 ms for 5 messages").arg(total)));
        server->releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(f->StatusBar1->PanelText(2), QStringLiteral("Sending: 6 messages sent."), 20000);
    }

    // A message on the wire stays in the Outbox when it is deleted or dragged to another folder,
    // and the box says it is being sent.
    void aMessageBeingSentStaysAndTheBoxSaysWhy()
    {
        server->refuseMessage("Subject: Test", "HOLD", 1);
        Form1* f = startWithAccount([](const QString& home) {
            QVERIFY(!mail::send::QueueMessage(home + "/Mail/Outbox", sendtest::message("bob@example.net")).isEmpty());
        });
        QVERIFY(f);
        QTRY_COMPARE_WITH_TIMEOUT(server->dataSeen(), 1, 20000);
        click(f, OutboxNode);
        QCOMPARE(f->xa->UpperBound(1), 1);
        const QString busy = QString::fromLatin1(mail::send::kBeingSentText);
        gridtest::selectRows(f->TDBGrid1, {1});
        scripted().boxes.clear();
        f->mnuEmailPopDelete->trigger();
        QCOMPARE(scripted().boxes.size(), 2);    // the question, then the refusal
        QCOMPARE(scripted().lastPrompt(), busy);
        QCOMPARE(f->xa->UpperBound(1), 1);

        f->DragInProgress = true;
        f->DragSource = 0;
        f->DragBookmarks = QVariantList{QVariant(), 1};
        const QPointF p = nodePoint(f, gridtest::keyOf(f, QStringLiteral("Deleted Items")));
        int effect = ui::vbDropEffectMove;
        f->TreeView1_OLEDragDrop(nullptr, effect, 1, 0, p.x(), p.y());
        f->DragInProgress = false;    // the drag is over
        QCOMPARE(scripted().boxes.size(), 3);
        QCOMPARE(scripted().lastPrompt(), busy);
        QCOMPARE(f->xa->UpperBound(1), 1);

        server->releaseHeld();
        QTRY_COMPARE_WITH_TIMEOUT(server->messageCount(), 1, 20000);
        QTRY_COMPARE(f->xa->UpperBound(1), 0);
    }

    // Sent Items shown, sorted by the user, scrolled, a message current: a run files one more.
    // The list is read again in the user's order, the same message current and previewed, the
    // same message first in view.
    void aRunEndReadsSentItemsAgainInPlace()
    {
        Form1* f = startWithAccount([](const QString& home) {
            for (int i = 0; i < 60; ++i)
                QVERIFY(!mail::send::WriteToMaildir(home + "/Mail/Sent Items",
                                                    sendtest::message("old" + QByteArray::number(100 + i) + "@example.net"),
                                                    mail::send::MaildirSub::Cur, QStringLiteral("S"))
                             .isEmpty());
        });
        QVERIFY(f);
        click(f, SentItemsNode);
        QCOMPARE(f->xa->UpperBound(1), 60);
        f->TDBGrid1_HeadClick(4);    // by recipient, descending: the new one comes first
        QCOMPARE(f->xa->Value(1, 4).toString(), QStringLiteral("old159@example.net"));
        f->SetSpecificEmailBookmark(25);
        f->LoadMessageFromBookmark(25);
        f->TDBGrid1->scrollTo(f->TDBGrid1->model()->index(19, 0), QAbstractItemView::PositionAtTop);
        const QString current = f->xa->Value(25, 8).toString();
        const QString top = f->xa->Value(f->TDBGrid1->bookmarkOfModelRow(f->TDBGrid1->rowAt(0)), 8).toString();
        QCOMPARE(top, f->xa->Value(20, 8).toString());
        const QString preview = f->msgPane->toPlainText();

        mail::MailItemPtr mi = OutlookApp->CreateItem(mail::olMailItem);
        mi->SetTo(QStringLiteral("zed@example.net"));
        mi->SetSubject(QStringLiteral("New"));
        mi->Send();
        QTRY_COMPARE_WITH_TIMEOUT(f->xa->UpperBound(1), 61, 20000);
        QCOMPARE(f->xa->Value(1, 4).toString(), QStringLiteral("zed@example.net"));
        QCOMPARE(f->xa->Value(f->TDBGrid1->Bookmark().toInt(), 8).toString(), current);
        QCOMPARE(f->TDBGrid1->Bookmark().toInt(), 26);
        QCOMPARE(f->TDBGrid1->SelBookmarks().Count(), 1);
        QCOMPARE(f->TDBGrid1->SelBookmarks().Item(0).toInt(), 26);
        QCOMPARE(f->LastMessageBookmark.toInt(), 26);
        QCOMPARE(f->xa->Value(f->TDBGrid1->bookmarkOfModelRow(f->TDBGrid1->rowAt(0)), 8).toString(), top);
        QCOMPARE(f->CurrentMailItem->EntryID(), current);
        QCOMPARE(f->msgPane->toPlainText(), preview);
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("61 Items."));
    }

    // The Outbox shown while a run delivers its current message: while a long command runs the
    // rows are left alone; once it has ended they are read again, and the row at the place of the
    // message that went is current and previewed.
    void aRunEndReadsTheOutboxAgainAfterTheBusyCommand()
    {
        server->refuseMessage("Subject: Test", "HOLD", 1);
        server->refuseRecipient("stay@example.net", "550 5.1.1 No such user");
        Form1* f = startWithAccount([](const QString& home) {
            QVERIFY(!mail::send::QueueMessage(home + "/Mail/Outbox", sendtest::message("first@example.net")).isEmpty());
            QVERIFY(!mail::send::QueueMessage(home + "/Mail/Outbox", sendtest::message("stay@example.net")).isEmpty());
        });
        QVERIFY(f);
        QTRY_COMPARE_WITH_TIMEOUT(server->connections(), 1, 20000);    // the first one is on the wire
        click(f, OutboxNode);
        QCOMPARE(f->xa->UpperBound(1), 2);
        const int firstRow = f->xa->Value(1, 4).toString() == QLatin1String("first@example.net") ? 1 : 2;
        const QString stay = f->xa->Value(3 - firstRow, 8).toString();
        f->SetSpecificEmailBookmark(firstRow);
        f->LoadMessageFromBookmark(firstRow);
        {
            BusyScope busy(f);
            server->releaseHeld();
            QTRY_VERIFY_WITH_TIMEOUT(f->StatusBar1->PanelText(2).startsWith("Sending: 1 message sent, 1 refused."), 20000);
            QTest::qWait(100);
            QCOMPARE(f->xa->UpperBound(1), 2);
        }
        QTRY_COMPARE(f->xa->UpperBound(1), 1);
        QCOMPARE(f->xa->Value(1, 8).toString(), stay);
        QCOMPARE(f->TDBGrid1->Bookmark().toInt(), 1);
        QCOMPARE(f->TDBGrid1->SelBookmarks().Count(), 1);
        QCOMPARE(f->CurrentMailItem->EntryID(), stay);
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("1 Items."));
    }
};

FERROWYN_TEST_MAIN(TestForm1Delivery)
#include "tst_Form1Delivery.moc"
