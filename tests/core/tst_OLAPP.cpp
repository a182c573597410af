#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSignalSpy>

#include "core/OLAPP.h"
#include "platform/mail/Application.h"
#include "platform/mail/Explorer.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/Spooler.h"
#include "platform/mail/windows/MailWindows.h"
#include "platform/ui/ScriptedUi.h"
#include "tests/platform/mail/send/SmtpTestServer.h"
#include "tests/support/TestMain.h"

using namespace mail;

namespace {
ui::ScriptedUi& scripted() { return static_cast<ui::ScriptedUi&>(ui::services()); }

// Pending activation requests (a window just shown) run first, so that only w's turn counts.
void activate(QWidget* w)
{
    QCoreApplication::processEvents();
    QApplication::setActiveWindow(w);
    QCoreApplication::processEvents();
}
} // namespace

class TestOLAPP : public QObject {
    Q_OBJECT
    std::unique_ptr<OLAPP> o;
    std::unique_ptr<QWidget> mainWindow;

    FolderPtr folder(int which) { return o->ol->GetNamespace(QStringLiteral("MAPI"))->GetDefaultFolder(which); }
    MailItemPtr received(const QString& subject)
    {
        return folder(olFolderInbox)->AddMessageFile("From: a@example.net\nTo: me@example.org\nSubject: " + subject.toUtf8() + "\n\nText\n");
    }

private Q_SLOTS:
    void init()
    {
        testsupport::TestHome::reset();
        scripted().clear();
        o = std::make_unique<OLAPP>();
        mainWindow = std::make_unique<QWidget>();
        mainWindow->show();
    }

    void cleanup()
    {
        o.reset();
        mainWindow.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    void shownMessageClosesWhenItLosesActivation()
    {
        MailItemPtr first = received(QStringLiteral("First"));
        MailItemPtr second = received(QStringLiteral("Second"));
        o->ShowMessage(first);
        QPointer<QDialog> w1 = WindowOf(*first->GetInspector());
        QVERIFY(qobject_cast<MessageWindow*>(w1.data()));
        activate(w1);
        o->ShowMessage(second);  // only the last one shown closes itself
        QPointer<QDialog> w2 = WindowOf(*second->GetInspector());
        activate(w2);
        activate(mainWindow.get());
        QTRY_VERIFY(w2.isNull());
        QVERIFY(!w1.isNull());
        activate(w1);
        activate(mainWindow.get());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!w1.isNull());
        delete w1;
    }

    void replyAndNewMessageWindowsStayOpen()
    {
        MailItemPtr mi = received(QStringLiteral("Question"));
        o->ShowReplyMessage(mi);
        ComposeWindow* reply = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* c = qobject_cast<ComposeWindow*>(w))
                reply = c;
        QVERIFY(reply);
        QCOMPARE(reply->txtSubject->text(), QStringLiteral("RE: Question"));

        // A new message shown through ShowMessage keeps the user's text when the user looks away.
        MailItemPtr fresh = o->ol->CreateItem(olMailItem);
        o->ShowMessage(fresh);
        auto* compose = qobject_cast<ComposeWindow*>(WindowOf(*fresh->GetInspector()));
        QVERIFY(compose);
        activate(compose);
        QTest::keyClicks(compose->txtBody, QStringLiteral("Dear all,"));
        activate(reply);
        activate(mainWindow.get());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(reply->isVisible());
        QVERIFY(compose->isVisible());
        QCOMPARE(compose->txtBody->toPlainText(), QStringLiteral("Dear all,"));
        delete reply;
        delete compose;
    }

    void checkMessagesDeliversTheOutboxAndReports()
    {
        SmtpTestServer server;
        send::Account a;
        a.name = QStringLiteral("Work");
        a.address = QStringLiteral("ann@example.org");
        a.transport = server.url();
        a.receiveCommand = QStringLiteral("echo no server >&2; exit 3");
        QVERIFY(send::SaveAccounts({a}));
        o->ol->spooler()->setPaused(true);
        MailItemPtr mi = o->ol->CreateItem(olMailItem);
        mi->SetTo(QStringLiteral("bob@example.net"));
        mi->Send();
        QCOMPARE(server.messageCount(), 0);
        o->ol->spooler()->setPaused(false);
        QVERIFY(o->ol->spooler()->waitUntilIdle(20000));
        QCOMPARE(server.messageCount(), 1);  // a queued send goes out by itself

        server.refuseMessage("Subject: Later", "451 4.7.1 Busy", 1);
        o->ol->spooler()->setPaused(true);
        mi = o->ol->CreateItem(olMailItem);
        mi->SetTo(QStringLiteral("bob@example.net"));
        mi->SetSubject(QStringLiteral("Later"));
        mi->Send();
        o->ol->spooler()->setPaused(false);
        QVERIFY(o->ol->spooler()->waitUntilIdle(20000));
        QCOMPARE(folder(olFolderOutbox)->Items()->Count(), 1);

        o->CurrentFolder = folder(olFolderInbox);
        o->CheckMessages();
        QVERIFY(o->CheckMessagesExplorer);
        QSignalSpy done(o->CheckMessagesExplorer.get(), &Explorer::SendAndReceiveFinished);
        QVERIFY(done.wait(20000));
        QCOMPARE(server.messageCount(), 2);
        QCOMPARE(folder(olFolderOutbox)->Items()->Count(), 0);
        // The receive command failed: told once the run ended.
        QTRY_COMPARE(scripted().boxes.size(), 1);
        QVERIFY(scripted().lastPrompt().contains(QStringLiteral("Receiving mail for \"Work\" failed")));
        QCOMPARE(scripted().boxes.last().title, QStringLiteral("Ferrowyn"));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QVERIFY(scripted().lastPrompt().contains(QStringLiteral("no server")));

        o->CloseCheckMessagesExplorer();
        QVERIFY(!o->CheckMessagesExplorer);
    }

    void explorerCallsWithoutCheck()
    {
        o->CloseCheckMessagesExplorer();  // never opened: nothing happens
        QVERIFY_THROWS_EXCEPTION(MailError, o->CheckMessages());  // no folder
        ExplorerPtr ex = folder(olFolderInbox)->GetExplorer();
        ex->Close();
        QVERIFY_THROWS_EXCEPTION(MailError, ex->SendAndReceive());
    }
};

FERROWYN_TEST_MAIN(TestOLAPP)
#include "tst_OLAPP.moc"
