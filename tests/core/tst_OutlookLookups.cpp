#include "core/Globals.h"
#include "core/OutlookLookups.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "tests/support/TestMain.h"

namespace {
mail::MailItemPtr file(const mail::FolderPtr& folder, const QByteArray& headers)
{
    return folder->AddMessageFile(headers + "Subject: s\r\nDate: Tue, 2 Jan 2001 10:00:00 +0000\r\n\r\nbody\r\n");
}
} // namespace

class TestOutlookLookups : public QObject {
    Q_OBJECT
    mail::ApplicationPtr app;
    mail::NameSpacePtr ns;

private Q_SLOTS:
    void initTestCase()
    {
        app = std::make_shared<mail::Application>();
        ns = app->GetNamespace("MAPI");
    }
    void init()
    {
        // Keys in another letter case than the ids: the comparison ignores case.
        SentItemsNode = ns->GetDefaultFolder(mail::olFolderSentMail)->EntryID().toLower();
        OutboxNode = ns->GetDefaultFolder(mail::olFolderOutbox)->EntryID().toLower();
        DraftsNode = ns->GetDefaultFolder(mail::olFolderDrafts)->EntryID();
    }
    void cleanupTestCase()
    {
        SentItemsNode = OutboxNode = DraftsNode = QString();
    }

    void addresses()
    {
        auto sent = file(ns->GetDefaultFolder(mail::olFolderSentMail),
                         "From: me@here.org\r\nTo:  first@x.org , second@x.org\r\n");
        QCOMPARE(GetMessageAddress(sent), QString("first@x.org"));
        auto draft = file(ns->GetDefaultFolder(mail::olFolderDrafts), "From: me@here.org\r\n");
        QCOMPARE(GetMessageAddress(draft), QString());
        auto inbox = ns->GetDefaultFolder(mail::olFolderInbox);
        auto received = file(inbox, "From: Ann <ann@x.org>\r\nReply-To: list@x.org\r\nTo: me@here.org\r\n");
        QCOMPARE(GetMessageAddress(received), QString("list@x.org"));
        auto plain = file(inbox, "From: Bob <bob@x.org>\r\nTo: me@here.org\r\n");
        QCOMPARE(GetMessageAddress(plain), QString("bob@x.org"));
        QCOMPARE(GetMessageAddress(nullptr), QString());

        QVERIFY(IsSentItemsFolder(ns->GetDefaultFolder(mail::olFolderSentMail)));
        QVERIFY(!IsSentItemsFolder(inbox));
        QVERIFY(IsOutboxFolder(ns->GetDefaultFolder(mail::olFolderOutbox)));
        QVERIFY(IsDraftsFolder(ns->GetDefaultFolder(mail::olFolderDrafts)));
    }

    void unsetNodeMeansNotThatFolder()
    {
        OutboxNode.clear();
        auto sent = file(ns->GetDefaultFolder(mail::olFolderSentMail), "From: me@here.org\r\nTo: one@x.org\r\n");
        QCOMPARE(GetMessageAddress(sent), QString("one@x.org"));
        QVERIFY(!IsOutboxFolder(ns->GetDefaultFolder(mail::olFolderOutbox)));
    }
};

FERROWYN_TEST_MAIN(TestOutlookLookups)
#include "tst_OutlookLookups.moc"
