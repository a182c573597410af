// The main window and the background delivery: start-up sends what waits in the Outbox, and each
// run that sent or refused anything says so on the status line.
#include <QLabel>

#include "platform/mail/Application.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/send/OutboxQueue.h"
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
        QTRY_COMPARE(f->StatusBar1->PanelText(2), QStringLiteral("Sending: 1 sent."));
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
                                  QStringLiteral("Sending: 1 sent, 1 refused. gone@example.net: 550 5.1.1 No such user"), 20000);
        QCOMPARE(f->StatusBar1->panel(2)->toolTip(),
                 QStringLiteral("A message to bob@example.net and 1 other (\"News\") was sent, but the server refused "
                                "gone@example.net: 550 5.1.1 No such user. It was not sent to that address."));
        QCOMPARE(server->messages().size(), 1);
        QVERIFY(scripted().boxes.isEmpty());
    }
};

FERROWYN_TEST_MAIN(TestForm1Delivery)
#include "tst_Form1Delivery.moc"
