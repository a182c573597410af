// Sending through MailItem::Send: a real SMTP conversation on a loopback port.
#include <QDir>
#include <QFile>
#include <QSignalSpy>

#include <functional>

#include <gmime/gmime.h>

#include "platform/mail/Application.h"
#include "platform/mail/Explorer.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/MimeUtil.h"
#include "platform/mail/SendBatch.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/send/QueueDatabase.h"
#include "platform/mail/send/Spooler.h"
#include "tests/platform/mail/send/AioSmtpServer.h"
#include "tests/platform/mail/send/SmtpTestServer.h"
#include "tests/support/TestMain.h"

using namespace mail;

namespace {

struct Parsed {
    GMimeMessage* msg = nullptr;
    explicit Parsed(const QByteArray& bytes)
    {
        GMimeStream* s = g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()));
        GMimeParser* p = g_mime_parser_new_with_stream(s);
        msg = g_mime_parser_construct_message(p, nullptr);
        g_object_unref(p);
        g_object_unref(s);
    }
    ~Parsed()
    {
        if (msg)
            g_object_unref(msg);
    }
    QString header(const char* name) const
    {
        const char* v = g_mime_object_get_header(GMIME_OBJECT(msg), name);
        return v ? QString::fromUtf8(v) : QString();
    }
};

QStringList recipients(const SmtpTestServer::Message& m)
{
    QStringList out;
    for (const QByteArray& r : m.recipients)
        out << QString::fromUtf8(r);
    out.sort();
    return out;
}

} // namespace

class TestMailSend : public QObject {
    Q_OBJECT
    std::unique_ptr<SmtpTestServer> server;
    std::shared_ptr<Application> app;
    NameSpacePtr ns;

    int count(int folder) { return ns->GetDefaultFolder(folder)->Items()->Count(); }
    bool idle() { return app->spooler()->waitUntilIdle(20000); }

    void writeAccount(const QString& transport, const QString& receive = {})
    {
        send::Account a;
        a.name = QStringLiteral("Work");
        a.displayName = QStringLiteral("Ann Ærøe");
        a.address = QStringLiteral("ann@example.org");
        a.transport = transport;
        a.receiveCommand = receive;
        a.isDefault = true;
        QVERIFY(send::SaveAccounts({a}));
    }

    MailItemPtr newItem(const QString& to, const QString& subject = QStringLiteral("Hello"))
    {
        MailItemPtr mi = app->CreateItem(olMailItem);
        mi->SetTo(to);
        mi->SetSubject(subject);
        mi->SetBody(QStringLiteral("Body text\n"));
        return mi;
    }

private Q_SLOTS:
    void initTestCase() { mime::ensureInit(); }

    void init()
    {
        testsupport::TestHome::reset();
        server = std::make_unique<SmtpTestServer>();
        writeAccount(server->url());
        app = std::make_shared<Application>();
        ns = app->GetNamespace(QStringLiteral("MAPI"));
    }

    void cleanup()
    {
        ns.reset();
        app.reset();
        server.reset();
    }

    void deliveredWithHeadersEncodingsAndAttachment()
    {
        QByteArray binary;
        for (int i = 0; i < 3000; ++i)
            binary += char(i * 7 % 256);
        binary += "\r\n.\r\n.dot\n";
        const QString file = testsupport::TestHome::path() + QStringLiteral("/naïve résumé.bin");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(binary);
        f.close();

        MailItemPtr mi = newItem(QStringLiteral("Bob Bäcker <bob@example.net>"), QStringLiteral("Grüße – ünïcode"));
        mi->SetCC(QStringLiteral("carol@example.net"));
        mi->SetBCC(QStringLiteral("hidden@example.net"));
        mi->SetBody(QStringLiteral("Ünïcode body\n.leading dot\n"));
        mi->Attachments().Add(file, olByValue);
        mi->Send();
        QVERIFY(idle());

        const QList<SmtpTestServer::Message> got = server->messages();
        QCOMPARE(got.size(), 1);
        QCOMPARE(got[0].from, QByteArray("ann@example.org"));
        QCOMPARE(recipients(got[0]), QStringList({"bob@example.net", "carol@example.net", "hidden@example.net"}));
        const QByteArray wire = got[0].data;
        QVERIFY(!wire.contains("hidden@"));
        QVERIFY(!wire.contains("X-Ferrowyn"));
        const QByteArray lower = wire.toLower();
        QVERIFY(lower.contains("subject: =?utf-8?"));        // RFC 2047 on the wire
        QVERIFY(lower.contains("from: ann =?utf-8?"));
        QVERIFY(lower.contains("filename*=utf-8''"));        // RFC 2231 for the file name
        QVERIFY(lower.contains("text/plain; charset=utf-8"));

        Parsed p(wire);
        QVERIFY(p.msg);
        QCOMPARE(QString::fromUtf8(g_mime_message_get_subject(p.msg)), QStringLiteral("Grüße – ünïcode"));
        InternetAddress* from = internet_address_list_get_address(g_mime_message_get_from(p.msg), 0);
        QCOMPARE(QString::fromUtf8(internet_address_get_name(from)), QStringLiteral("Ann Ærøe"));
        QVERIFY(!p.header("Message-Id").isEmpty());
        QVERIFY(!p.header("Date").isEmpty());

        // The copy in Sent Items keeps BCC and reads back whole.
        QCOMPARE(count(olFolderOutbox), 0);
        QCOMPARE(count(olFolderSentMail), 1);
        MailItemPtr sent = AsMailItem(ns->GetDefaultFolder(olFolderSentMail)->Items()->Item(1));
        QCOMPARE(sent->BCC(), QStringLiteral("hidden@example.net"));
        QCOMPARE(sent->Body(), QStringLiteral("Ünïcode body\n.leading dot\n"));
        QCOMPARE(sent->Attachments().Count(), 1);
        QCOMPARE(sent->Attachments().Item(1)->FileName(), QStringLiteral("naïve résumé.bin"));
        QCOMPARE(sent->Attachments().Item(1)->content(), binary);
    }

    void sendsGoOutInOrderEachWithItsOwnId()
    {
        app->spooler()->setPaused(true);
        QStringList queued;
        for (int i = 1; i <= 30; ++i) {
            queued << QStringLiteral("Issue %1").arg(i);
            newItem(QStringLiteral("reader%1@example.net").arg(i), queued.last())->Send();
        }
        app->spooler()->setPaused(false);
        QVERIFY(idle());
        const QList<SmtpTestServer::Message> got = server->messages();
        QStringList arrived;
        QSet<QString> ids;
        for (const SmtpTestServer::Message& m : got) {
            Parsed p(m.data);
            arrived << QString::fromUtf8(g_mime_message_get_subject(p.msg));
            ids << p.header("Message-Id");
        }
        QCOMPARE(arrived, queued);
        QCOMPARE(ids.size(), 30);
    }

    void deleteAfterSubmitKeepsNoCopy()
    {
        MailItemPtr mi = newItem(QStringLiteral("bob@example.net"));
        mi->SetDeleteAfterSubmit(true);
        mi->Send();
        QVERIFY(idle());
        QCOMPARE(server->messageCount(), 1);
        QCOMPARE(count(olFolderOutbox), 0);
        QCOMPARE(count(olFolderSentMail), 0);
    }

    void temporaryRefusalIsTriedAgainBySendReceive()
    {
        server->refuseMessage("Retry me", "451 4.3.0 Try again later", 1);
        newItem(QStringLiteral("bob@example.net"), QStringLiteral("Retry me"))->Send();
        QVERIFY(idle());
        QCOMPARE(server->messageCount(), 0);
        const ItemsPtr waiting = ns->GetDefaultFolder(olFolderOutbox)->Items();
        QCOMPARE(waiting->Count(), 1);  // the kept answer beside it is not listed
        const send::QueueStatus st = AsMailItem(waiting->Item(1))->SendingStatus();
        QCOMPARE(st.state, send::QueueState::Waiting);
        QVERIFY(st.answer.contains(QStringLiteral("Try again later")));

        ExplorerPtr ex = ns->GetDefaultFolder(olFolderInbox)->GetExplorer();
        QSignalSpy done(ex.get(), &Explorer::SendAndReceiveFinished);
        ex->SendAndReceive();
        QVERIFY(done.wait(20000));
        QCOMPARE(done.first().first().toStringList(), QStringList());
        QCOMPARE(server->messageCount(), 1);
        QCOMPARE(count(olFolderOutbox), 0);
        QCOMPARE(count(olFolderSentMail), 1);
    }

    void permanentRefusalWaitsUntilSentAgain()
    {
        server->refuseRecipient("gone@example.net", "550 5.1.1 No such user", 1);
        newItem(QStringLiteral("gone@example.net"))->Send();
        QVERIFY(idle());
        MailItemPtr waiting = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        QCOMPARE(waiting->SendingStatus().state, send::QueueState::Refused);
        QVERIFY(waiting->SendingStatus().answer.contains(QStringLiteral("No such user")));

        app->spooler()->deliver();  // a plain run leaves it alone
        QVERIFY(idle());
        QCOMPARE(server->messageCount(), 0);
        QCOMPARE(count(olFolderOutbox), 1);

        waiting->Send();  // the user sends it again
        QVERIFY(idle());
        QCOMPARE(server->messageCount(), 1);
        QCOMPARE(count(olFolderOutbox), 0);
        QVERIFY(QDir(app->spooler()->outbox()).entryList({".answer.*"}, QDir::Files | QDir::Hidden).isEmpty());
    }

    // Send Again refused by the queue says why: its record cannot be written, or cannot be opened
    // at all (naming the file); never that the message is being sent.
    void sendAgainRefusedForItsOwnReason_data()
    {
        QTest::addColumn<bool>("unopenable");
        QTest::newRow("a write fails") << false;
        QTest::newRow("the record cannot be opened") << true;
    }

    void sendAgainRefusedForItsOwnReason()
    {
        QFETCH(bool, unopenable);
        server->refuseRecipient("gone@example.net", "550 5.1.1 No such user", 1);
        newItem(QStringLiteral("gone@example.net"))->Send();
        QVERIFY(idle());
        const QString outbox = app->spooler()->outbox();
        const QString database = send::OutboxQueue::Of(outbox)->databasePath();
        if (unopenable) {
            ns.reset();
            app.reset();
            for (const char* tail : {"", "-wal", "-shm"})
                QFile::remove(database + QLatin1String(tail));
            QVERIFY(QDir().mkdir(database));
            app = std::make_shared<Application>();
            ns = app->GetNamespace(QStringLiteral("MAPI"));
        } else {
            send::SetQueueFault([](qint64 bytes) { return bytes > 0 ? send::QueueFault::Fail : send::QueueFault::None; });
        }
        MailItemPtr waiting = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        QString told;
        try {
            waiting->Send();
        } catch (const MailError& e) {
            told = e.message();
        }
        send::SetQueueFault({});
        QVERIFY2(!told.contains(QStringLiteral("being sent")), qPrintable(told));
        if (unopenable)
            QVERIFY2(told.contains(QStringLiteral("cannot be opened")) && told.contains(database), qPrintable(told));
        else
            QVERIFY2(told.startsWith(QStringLiteral("The Outbox's delivery record could not be written")), qPrintable(told));
        QCOMPARE(server->messageCount(), 0);
    }

    void refusedAtOnceAndNothingQueued_data()
    {
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("account");
        QTest::addColumn<QString>("message");
        QTest::newRow("not an address") << "Bob Smith" << "" << "\"Bob Smith\" is not an e-mail address.";
        QTest::newRow("no recipient") << "" << "" << "The message has no recipients.";
        QTest::newRow("unknown account") << "bob@example.net" << "Home" << "There is no mail account \"Home\".";
        // Addresses the sending side's reader would refuse are refused here, named.
        QTest::newRow("unclosed comment") << "bob@(example.net" << "" << "\"bob@(example.net\" is not an e-mail address.";
        QTest::newRow("unbalanced quotes") << "\"bob@example.net" << "" << "\"\"bob@example.net\" is not an e-mail address.";
        QTest::newRow("two at signs") << "bob@@example.net" << "" << "\"bob@@example.net\" is not an e-mail address.";
        // Pasted from a web page: the refusal shows what the address editor would.
        const QString shown = QStringLiteral("\"bob@exam<U+200B>ple.net\" is not an e-mail address.");
        QTest::newRow("hidden character") << QStringLiteral("bob@exam\u200bple.net") << "" << shown;
        QTest::newRow("hidden character, named") << QStringLiteral("Bob <bob@exam\u200bple.net>") << "" << shown;
    }

    void refusedAtOnceAndNothingQueued()
    {
        QFETCH(QString, to);
        QFETCH(QString, account);
        QFETCH(QString, message);
        MailItemPtr mi = newItem(to);
        mi->SetSendUsingAccount(account);
        try {
            mi->Send();
            QFAIL("Send did not refuse");
        } catch (const MailError& e) {
            QCOMPARE(e.message(), message);
        }
        QCOMPARE(count(olFolderOutbox), 0);
        QVERIFY_THROWS_EXCEPTION(MailError, mi->Attachments().Add(QStringLiteral("/no/such/file.txt")));
    }

    // Only Send puts a message into the Outbox: moving, copying or filing one there is refused
    // with a message the caller can show, and the Outbox's messages leave it only whole.
    void nothingMovesOrCopiesIntoTheOutbox()
    {
        const FolderPtr outbox = ns->GetDefaultFolder(olFolderOutbox);
        const QString refusal = QStringLiteral("A message cannot be moved or copied into the Outbox: only Send puts a message there.");
        MailItemPtr received = ns->GetDefaultFolder(olFolderInbox)->AddMessageFile("From: x@example.net\nTo: bob@example.net\nSubject: s\n\nb\n");
        for (const std::function<void()>& attempt : std::initializer_list<std::function<void()>>{
                 [&] { received->Move(outbox); },
                 [&] { outbox->AddMessageFile("To: bob@example.net\n\nb\n"); },
                 [&] { newItem(QStringLiteral("bob@example.net"))->Move(outbox); }}) {
            try {
                attempt();
                QFAIL("not refused");
            } catch (const MailError& e) {
                QCOMPARE(e.message(), refusal);
            }
        }
        QCOMPARE(count(olFolderOutbox), 0);
        QCOMPARE(count(olFolderInbox), 1);

        app->spooler()->setPaused(true);
        newItem(QStringLiteral("bob@example.net"))->Send();
        MailItemPtr queued = AsMailItem(outbox->Items()->Item(1));
        try {
            queued->Copy();
            QFAIL("not refused");
        } catch (const MailError& e) {
            QCOMPARE(e.message(), refusal);
        }
        // Moved out, it leaves the queue: back in, it would have to be sent again.
        queued->Move(ns->GetDefaultFolder(olFolderDrafts));
        QCOMPARE(queued->SendingStatus().state, send::QueueState::NotQueued);
        app->spooler()->setPaused(false);
        QVERIFY(idle());
        QCOMPARE(server->messageCount(), 0);
        QCOMPARE(count(olFolderDrafts), 1);
    }

    void withoutAccountMailWaitsAndIsSignedByTheAccountLater()
    {
        QFile::remove(send::AccountsFile());
        newItem(QStringLiteral("bob@example.net"))->Send();
        QVERIFY(idle());
        QCOMPARE(count(olFolderOutbox), 1);
        QCOMPARE(server->messageCount(), 0);

        writeAccount(server->url());
        app->spooler()->deliver();
        QVERIFY(idle());
        QCOMPARE(server->messageCount(), 1);
        QVERIFY(server->messages()[0].data.toLower().contains("from: ann =?utf-8?"));
        QVERIFY(server->messages()[0].data.contains("<ann@example.org>"));
    }

    void namedAccountIsUsed()
    {
        SmtpTestServer other;
        send::Account home;
        home.name = QStringLiteral("Home");
        home.displayName = QStringLiteral("Ann at home");
        home.address = QStringLiteral("ann@home.example");
        home.transport = other.url();
        QList<send::Account> all = send::LoadAccounts();
        all << home;
        QVERIFY(send::SaveAccounts(all));
        MailItemPtr mi = newItem(QStringLiteral("bob@example.net"));
        mi->SetSendUsingAccount(QStringLiteral("Home"));
        mi->Send();
        QVERIFY(idle());
        QCOMPARE(server->messageCount(), 0);
        QCOMPARE(other.messageCount(), 1);
        QCOMPARE(other.messages()[0].from, QByteArray("ann@home.example"));
    }

    // Its account removed, a waiting message goes through the default account when the user
    // sends it again, signed by that account.
    void sendAgainWhenItsAccountIsGoneUsesTheDefault()
    {
        QList<send::Account> all = send::LoadAccounts();
        send::Account authd = all.first();
        authd.name = QStringLiteral("Authd");
        authd.address = QStringLiteral("ann@authd.example");
        authd.isDefault = false;
        QVERIFY(send::SaveAccounts(all + QList<send::Account>{authd}));
        app->spooler()->setPaused(true);
        MailItemPtr mi = newItem(QStringLiteral("bob@example.net"));
        mi->SetSendUsingAccount(QStringLiteral("Authd"));
        mi->Send();
        QVERIFY(send::SaveAccounts(all));
        app->spooler()->setPaused(false);
        QVERIFY(idle());
        QCOMPARE(server->messageCount(), 0);
        MailItemPtr waiting = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        QCOMPARE(waiting->SendingStatus().state, send::QueueState::Waiting);

        waiting->Send();
        QVERIFY(idle());
        QCOMPARE(server->messageCount(), 1);
        QCOMPARE(server->messages()[0].from, QByteArray("ann@example.org"));
        QVERIFY(server->messages()[0].data.contains("<ann@example.org>"));
        QVERIFY(!server->messages()[0].data.contains("authd.example"));
        QCOMPARE(count(olFolderOutbox), 0);
    }

    // A message the server took for some and refused for now for a mistyped address: the user
    // opens it in the Outbox, mends the address and sends it. Only the mended address gets it;
    // those who had it keep theirs, and the window named them.
    void editingAPartlyDeliveredMessageSendsOnlyToWhoWaits()
    {
        AioSmtpServer real({"--delay-for", "bob@exampel.net=3600"});
        QVERIFY(real.ok());
        writeAccount(real.url());
        MailItemPtr mi = newItem(QString::fromUtf8("carol@example.net; bob@exampel.net; ida@b\xc3\xbc" "cher.example"));
        mi->SetCC(QStringLiteral("dave@example.net"));
        mi->Send();
        QVERIFY(idle());
        QCOMPARE(real.deliveries(), QStringList({"carol@example.net", "dave@example.net", "ida@xn--bcher-kva.example"}));
        MailItemPtr waiting = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        QCOMPARE(waiting->SendingStatus().state, send::QueueState::Waiting);

        // As the compose window shows it (an international domain may read in its ASCII form).
        waiting->SetTo(waiting->To().replace(QStringLiteral("exampel"), QStringLiteral("example")));
        waiting->Send();
        QVERIFY(idle());
        QCOMPARE(real.deliveries(),
                 QStringList({"bob@example.net", "carol@example.net", "dave@example.net", "ida@xn--bcher-kva.example"}));
        QCOMPARE(count(olFolderOutbox), 0);
        QCOMPARE(count(olFolderSentMail), 1);
        // Sent as the user wrote it: its header names everyone, its envelope only who waited.
        const QList<AioSmtpServer::Transaction> all = real.transactions();
        QCOMPARE(all.last().named, QStringList{"bob@example.net"});
    }

    // The server took a message and filing it failed, so it is still in the Outbox: Send on it,
    // edited or through an account that is gone, is refused and nobody gets it again.
    void aMessageTheServerTookIsNeverSentAgain_data()
    {
        QTest::addColumn<bool>("accountGone");
        QTest::newRow("edited") << false;
        QTest::newRow("its account gone") << true;
    }
    void aMessageTheServerTookIsNeverSentAgain()
    {
        QFETCH(bool, accountGone);
        AioSmtpServer real;
        QVERIFY(real.ok());
        writeAccount(real.url());
        // Sent Items cannot take it.
        const QString sentCur = testsupport::TestHome::path() + QStringLiteral("/Mail/Sent Items/cur");
        QVERIFY(QDir(sentCur).removeRecursively());
        {
            QFile blocker(sentCur);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        newItem(QStringLiteral("bob@example.net; carol@example.net"), QStringLiteral("Taken"))->Send();
        QVERIFY(idle());
        QCOMPARE(real.deliveries(), QStringList({"bob@example.net", "carol@example.net"}));
        MailItemPtr waiting = AsMailItem(ns->GetDefaultFolder(olFolderOutbox)->Items()->Item(1));
        QCOMPARE(waiting->SendingStatus().state, send::QueueState::Delivered);

        if (accountGone) {
            send::Account home;
            home.name = QStringLiteral("Home");
            home.address = QStringLiteral("ann@home.example");
            home.transport = real.url();
            home.isDefault = true;
            QVERIFY(send::SaveAccounts({home}));
        } else {
            waiting->SetSubject(QStringLiteral("Taken, edited"));
        }
        QString told;
        try {
            waiting->Send();
        } catch (const MailError& e) {
            told = e.message();
        }
        QCOMPARE(told, QStringLiteral("This message has been sent already."));
        app->spooler()->deliver(true);
        QVERIFY(idle());
        QCOMPARE(real.deliveries(), QStringList({"bob@example.net", "carol@example.net"}));
        QCOMPARE(count(olFolderOutbox), 1);
    }

    void draftsSaveAndSend()
    {
        app->spooler()->setPaused(true);
        MailItemPtr mi = newItem(QStringLiteral("bob@example.net"));
        mi->SetSendUsingAccount(QStringLiteral("Work"));
        mi->Save();
        QCOMPARE(count(olFolderDrafts), 1);
        MailItemPtr draft = AsMailItem(ns->GetDefaultFolder(olFolderDrafts)->Items()->Item(1));
        QCOMPARE(draft->SendUsingAccount(), QStringLiteral("Work"));
        draft->Send();
        QCOMPARE(count(olFolderDrafts), 0);
        QCOMPARE(count(olFolderOutbox), 1);
    }

    void quittingKeepsWhatIsQueued()
    {
        app->spooler()->setPaused(true);
        for (int i = 0; i < 3; ++i)
            newItem(QStringLiteral("bob@example.net"))->Send();
        app->Quit();
        QCOMPARE(app->spooler(), nullptr);
        newItem(QStringLiteral("bob@example.net"))->Send();  // still queued after quitting
        ns.reset();
        app.reset();
        QCOMPARE(server->messageCount(), 0);

        app = std::make_shared<Application>();
        ns = app->GetNamespace(QStringLiteral("MAPI"));
        QCOMPARE(count(olFolderOutbox), 4);
        app->spooler()->deliver();
        QVERIFY(idle());
        QCOMPARE(server->messageCount(), 4);
    }

    // More messages than the batch keeps in hand, written on its threads: queued, named and
    // delivered in the order handed over, each item then in the Outbox as after Send.
    void batchKeepsTheOrderHandedOver()
    {
        app->spooler()->setPaused(true);
        QByteArray binary;
        for (int i = 0; i < 3000; ++i)
            binary += char(i * 13 % 256);
        const QString file = testsupport::TestHome::path() + QStringLiteral("/terms.bin");
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(binary);
        f.close();
        const MailItemPtr source = app->CreateItem(olMailItem);
        source->Attachments().Add(file, olByValue);

        constexpr int kMessages = 300;
        QStringList handed;
        QList<int> tags;
        std::vector<MailItemPtr> items;
        {
            SendBatch batch;
            auto take = [&](const QList<SendBatch::Result>& results) {
                for (const SendBatch::Result& r : results) {
                    QVERIFY2(r.error.isEmpty(), qPrintable(r.error));
                    tags << r.tag;
                }
            };
            for (int i = 1; i <= kMessages; ++i) {
                MailItemPtr mi = newItem(QStringLiteral("reader%1@example.net").arg(i), QStringLiteral("Issue %1").arg(i));
                mi->Attachments().Add(source->Attachments().Item(1));
                batch.Send(mi, i);
                handed << mi->Subject();
                items.push_back(mi);
                take(batch.TakeResults());
                if (i == 150) {
                    // Refused before anything is written: nothing handed over.
                    MailItemPtr bad = newItem(QStringLiteral("not an address"));
                    QVERIFY_THROWS_EXCEPTION(MailError, batch.Send(bad, -1));
                }
            }
            take(batch.Finish());
        }
        QList<int> expectedTags;
        for (int i = 1; i <= kMessages; ++i)
            expectedTags << i;
        QCOMPARE(tags, expectedTags);
        for (const MailItemPtr& mi : items) {
            QVERIFY(mi->isInOutbox());
            QCOMPARE(mi->SendingStatus().state, send::QueueState::Waiting);
        }
        // The file names sort in the order handed over.
        const QString cur = app->spooler()->outbox() + QStringLiteral("/cur");
        const QStringList names = QDir(cur).entryList(QDir::Files, QDir::Name);
        QCOMPARE(names.size(), kMessages);
        QStringList stored;
        for (const QString& n : names) {
            bool read = false;
            stored << mime::parseHeaders(mime::readHeaderBlock(cur + QLatin1Char('/') + n, &read)).subject;
            QVERIFY(read);
        }
        QCOMPARE(stored, handed);
        QVERIFY(QDir(app->spooler()->outbox() + QStringLiteral("/tmp")).isEmpty());

        app->spooler()->setPaused(false);
        QVERIFY(idle());
        const QList<SmtpTestServer::Message> got = server->messages();
        QStringList arrived;
        for (const SmtpTestServer::Message& m : got) {
            Parsed p(m.data);
            arrived << QString::fromUtf8(g_mime_message_get_subject(p.msg));
            bool ok = false;
            const QList<QByteArray> contents = mime::attachmentContents(m.data, &ok);
            QVERIFY(ok);
            QCOMPARE(contents, QList<QByteArray>{binary});
        }
        QCOMPARE(arrived, handed);
    }

    // With the spooler delivering while the batch still writes, the messages still arrive in the
    // order handed over: each delivery run finds only ones whose earlier messages are in place.
    void batchDeliversInOrderWhileWriting()
    {
        QStringList handed;
        {
            SendBatch batch;
            for (int i = 1; i <= 120; ++i) {
                handed << QStringLiteral("Live %1").arg(i);
                batch.Send(newItem(QStringLiteral("reader%1@example.net").arg(i), handed.last()), i);
                for (const SendBatch::Result& r : batch.TakeResults())
                    QVERIFY(r.error.isEmpty());
            }
            for (const SendBatch::Result& r : batch.Finish())
                QVERIFY(r.error.isEmpty());
        }
        QVERIFY(idle());
        QStringList arrived;
        for (const SmtpTestServer::Message& m : server->messages())
            arrived << QString::fromUtf8(g_mime_message_get_subject(Parsed(m.data).msg));
        QCOMPARE(arrived, handed);
    }

    // A draft handed over between new messages goes as Send sends it, in its place.
    void batchSendsADraftInItsPlace()
    {
        app->spooler()->setPaused(true);
        MailItemPtr draft = newItem(QStringLiteral("bob@example.net"), QStringLiteral("Second"));
        draft->Save();
        QCOMPARE(count(olFolderDrafts), 1);
        QList<int> tags;
        {
            SendBatch batch;
            batch.Send(newItem(QStringLiteral("ann@example.net"), QStringLiteral("First")), 1);
            batch.Send(draft, 2);
            batch.Send(newItem(QStringLiteral("cy@example.net"), QStringLiteral("Third")), 3);
            for (const SendBatch::Result& r : batch.Finish()) {
                QVERIFY(r.error.isEmpty());
                tags << r.tag;
            }
        }
        QCOMPARE(tags, (QList<int>{1, 2, 3}));
        QCOMPARE(count(olFolderDrafts), 0);
        QVERIFY(draft->isInOutbox());
        app->spooler()->setPaused(false);
        QVERIFY(idle());
        QStringList arrived;
        for (const SmtpTestServer::Message& m : server->messages())
            arrived << QString::fromUtf8(g_mime_message_get_subject(Parsed(m.data).msg));
        QCOMPARE(arrived, (QStringList{"First", "Second", "Third"}));
    }

    // An attachment encoded once for many messages is the very text GMime writes for it in each.
    void attachmentEncodedOnceIsGMimesOwn_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("name");
        for (int size : {1, 56, 57, 58, 114, 20480})
            QTest::newRow(qPrintable(QString::number(size))) << size << QStringLiteral("report.pdf");
        QTest::newRow("unknown kind") << 300 << QStringLiteral("data");
    }
    void attachmentEncodedOnceIsGMimesOwn()
    {
        QFETCH(int, size);
        QFETCH(QString, name);
        QByteArray content;
        for (int i = 0; i < size; ++i)
            content += char((i * 131 + 7) & 0xff);
        mime::OutgoingMessage m;
        m.from = {QStringLiteral("Ann"), QStringLiteral("ann@example.org")};
        m.to = {{QString(), QStringLiteral("bob@example.net")}};
        m.body = QStringLiteral("Hello\n");
        m.messageId = QStringLiteral("fixed@example.org");
        m.date = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5));
        m.attachments = {{name, QString(), content, {}}};
        const QByteArray plain = mime::buildMessage(m);

        const mime::OutgoingAttachment once = mime::encodeAttachment(m.attachments.first());
        QVERIFY(!once.encoded.isEmpty());
        QVERIFY(plain.contains("\n\n" + once.encoded));
        m.attachments = {once};
        const QByteArray built = mime::buildMessage(m);
        QVERIFY(built.contains("\n\n" + once.encoded + "\n--"));
        // The same message apart from its boundary.
        auto boundary = [](const QByteArray& bytes) {
            const qsizetype at = bytes.indexOf("boundary=\"") + 10;
            return bytes.mid(at, bytes.indexOf('"', at) - at);
        };
        QByteArray a = plain, b = built;
        a.replace(boundary(plain), "B");
        b.replace(boundary(built), "B");
        QCOMPARE(b, a);
        bool ok = false;
        QCOMPARE(mime::attachmentContents(built, &ok), QList<QByteArray>{content});
    }

    void currentUserIsTheDefaultAccount()
    {
        RecipientPtr me = ns->CurrentUser();
        QCOMPARE(me->Name(), QStringLiteral("Ann Ærøe"));
        QCOMPARE(me->Address(), QStringLiteral("ann@example.org"));
        QFile::remove(send::AccountsFile());
        QVERIFY(!ns->CurrentUser()->Name().isEmpty());  // the login user
        QVERIFY(ns->CurrentUser()->Address().isEmpty());
    }
};

FERROWYN_TEST_MAIN(TestMailSend)
#include "tst_MailSend.moc"
