#include <QRegularExpression>

#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/mail/MailStore.h"
#include "platform/ui/DataFolder.h"
#include "tests/platform/mail/MailTestUtil.h"
#include "tests/support/TestMain.h"

using namespace mail;

namespace {

QStringList names(const FoldersPtr& folders)
{
    QStringList out;
    for (int i = 1; i <= folders->Count(); ++i)
        out << folders->Item(i)->Name();
    return out;
}

FolderPtr child(const FolderPtr& parent, const QString& name)
{
    const FoldersPtr f = parent->Folders();
    for (int i = 1; i <= f->Count(); ++i)
        if (f->Item(i)->Name() == name)
            return f->Item(i);
    return nullptr;
}

void writeMessage(const QString& dir, const QString& name, const QByteArray& date)
{
    QDir().mkpath(dir + QStringLiteral("/cur"));
    QDir().mkpath(dir + QStringLiteral("/new"));
    QFile f(dir + QStringLiteral("/cur/") + name);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("From: a@example.org\nSubject: " + name.toUtf8() + "\nDate: " + date + "\n\nbody\n");
}

} // namespace

class TestMailStore : public QObject {
    Q_OBJECT
    std::shared_ptr<Application> app;
    NameSpacePtr ns;

    void reopen()
    {
        ns.reset();
        app = std::make_shared<Application>();
        ns = app->GetNamespace(QStringLiteral("MAPI"));
    }

private Q_SLOTS:
    void init()
    {
        testsupport::TestHome::reset();
        reopen();
    }

    void cleanup()
    {
        ns.reset();
        app.reset();
    }

    void defaultStoreCreatedOnFirstUse()
    {
        const FoldersPtr stores = ns->Folders();
        QCOMPARE(stores->Count(), 1);
        const FolderPtr root = stores->Item(1);
        QCOMPARE(root->Name(), QStringLiteral("Personal Folders"));
        QCOMPARE(root->DefaultItemType(), int(olMailItem));
        QVERIFY(!root->Parent());
        QCOMPARE(root->Path(), QFileInfo(ui::DataPath(QStringLiteral("Mail"))).canonicalFilePath());
        QCOMPARE(names(root->Folders()), QStringList({"Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts", "Contacts"}));
        for (const char* maildir : {"Inbox", "Outbox", "Sent Items", "Deleted Items", "Drafts"})
            for (const char* sub : {"cur", "new", "tmp"})
                QVERIFY(QFileInfo(ui::DataPath(QStringLiteral("Mail/") + QLatin1String(maildir) + QLatin1Char('/') + QLatin1String(sub))).isDir());
        QVERIFY(!QFileInfo::exists(ui::DataPath(QStringLiteral("Mail/Contacts/cur"))));
        QVERIFY_THROWS_EXCEPTION(MailError, app->GetNamespace(QStringLiteral("OTHER")));
        QVERIFY_THROWS_EXCEPTION(MailError, ns->GetDefaultFolder(9));
    }

    void defaultFolders_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("itemType");
        QTest::newRow("3") << 3 << "Deleted Items" << 0;
        QTest::newRow("4") << 4 << "Outbox" << 0;
        QTest::newRow("5") << 5 << "Sent Items" << 0;
        QTest::newRow("6") << 6 << "Inbox" << 0;
        QTest::newRow("10") << 10 << "Contacts" << 2;
        QTest::newRow("16") << 16 << "Drafts" << 0;
    }

    void defaultFolders()
    {
        QFETCH(int, which);
        const FolderPtr f = ns->GetDefaultFolder(which);
        QTEST(f->Name(), "name");
        QTEST(f->DefaultItemType(), "itemType");
        QCOMPARE(f->Parent()->EntryID(), ns->Folders()->Item(1)->EntryID());
        // Reserved: neither renamed, moved nor removed.
        const FolderPtr other = ns->Folders()->Item(1)->Folders()->Add(QStringLiteral("Other"));
        QVERIFY_THROWS_EXCEPTION(MailError, f->SetName(QStringLiteral("Renamed")));
        QVERIFY_THROWS_EXCEPTION(MailError, f->MoveTo(other));
        const FoldersPtr siblings = f->Parent()->Folders();
        QVERIFY_THROWS_EXCEPTION(MailError, siblings->Remove(names(siblings).indexOf(f->Name()) + 1));
        QTEST(f->Name(), "name");
    }

    void entryIdsUniqueAndStable()
    {
        const FolderPtr root = ns->Folders()->Item(1);
        const FolderPtr inbox = ns->GetDefaultFolder(olFolderInbox);
        const FolderPtr a = inbox->Folders()->Add(QStringLiteral("A"));
        const FolderPtr b = root->Folders()->Add(QStringLiteral("B"));
        QSet<QString> ids;
        for (const FolderPtr& f : {root, inbox, a, b, ns->GetDefaultFolder(olFolderContacts)}) {
            QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]{32}$")).match(f->EntryID()).hasMatch());
            ids.insert(f->EntryID());
        }
        QCOMPARE(ids.size(), 5);

        const MailItemPtr mi = a->AddMessageFile("Subject: kept\n\nx\n");
        const QString folderId = a->EntryID();
        const QString itemId = mi->EntryID();
        QVERIFY(itemId.startsWith(folderId));
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9A-F]+$")).match(itemId).hasMatch());

        // Rename and move keep both ids; the old handle follows the folder.
        a->SetName(QStringLiteral("A renamed"));
        a->MoveTo(b);
        QCOMPARE(a->EntryID(), folderId);
        QCOMPARE(a->Name(), QStringLiteral("A renamed"));
        QCOMPARE(a->Parent()->EntryID(), b->EntryID());
        QCOMPARE(ns->GetFolderFromID(folderId.toLower())->Name(), QStringLiteral("A renamed"));
        QCOMPARE(AsMailItem(ns->GetItemFromID(itemId))->Subject(), QStringLiteral("kept"));

        // And a new session reads the same ids from disk.
        reopen();
        QCOMPARE(ns->GetFolderFromID(folderId)->Name(), QStringLiteral("A renamed"));
        QCOMPARE(ns->GetItemFromID(itemId)->EntryID(), itemId);
        QCOMPARE(ns->GetDefaultFolder(olFolderInbox)->EntryID(), inbox->EntryID());
    }

    void unknownIdsFail_data()
    {
        QTest::addColumn<QString>("id");
        QTest::newRow("empty") << "";
        QTest::newRow("not hex") << "XYZ";
        QTest::newRow("unknown folder") << QString(32, QLatin1Char('A'));
        QTest::newRow("folder id with odd tail") << "INBOX+0";
        QTest::newRow("folder id with no such file") << "INBOX+41";
        QTest::newRow("folder id only") << "INBOX";
    }

    void unknownIdsFail()
    {
        QFETCH(QString, id);
        id.replace(QStringLiteral("INBOX"), ns->GetDefaultFolder(olFolderInbox)->EntryID()).remove(QLatin1Char('+'));
        QVERIFY_THROWS_EXCEPTION(MailError, ns->GetItemFromID(id));
        if (!id.startsWith(ns->GetDefaultFolder(olFolderInbox)->EntryID()) || id.size() != 32)
            QVERIFY_THROWS_EXCEPTION(MailError, ns->GetFolderFromID(id));
    }

    void folderNamesAsTyped_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("slash") << "2023/24";
        QTest::newRow("leading dot") << ".hidden";
        QTest::newRow("maildir word") << "cur";
        QTest::newRow("percent") << "100%25";
        QTest::newRow("blanks kept") << "  spaced  ";
        QTest::newRow("apostrophe") << "Bob's";
    }

    void folderNamesAsTyped()
    {
        QFETCH(QString, name);
        const FolderPtr inbox = ns->GetDefaultFolder(olFolderInbox);
        const FolderPtr f = inbox->Folders()->Add(name);
        QCOMPARE(f->Name(), name);
        QCOMPARE(QFileInfo(f->Path()).path(), inbox->Path());
        QVERIFY(!QFileInfo(f->Path()).fileName().startsWith(QLatin1Char('.')));
        reopen();
        QCOMPARE(ns->GetFolderFromID(f->EntryID())->Name(), name);
        QCOMPARE(names(ns->GetDefaultFolder(olFolderInbox)->Folders()), QStringList({name}));
    }

    void folderRefusals()
    {
        const FolderPtr inbox = ns->GetDefaultFolder(olFolderInbox);
        const FolderPtr root = ns->Folders()->Item(1);
        const FolderPtr work = inbox->Folders()->Add(QStringLiteral("Work"));
        const FolderPtr deep = work->Folders()->Add(QStringLiteral("Deep"));
        inbox->Folders()->Add(QStringLiteral("Home"));

        QVERIFY_THROWS_EXCEPTION(MailError, inbox->Folders()->Add(QStringLiteral("WORK")));
        QVERIFY_THROWS_EXCEPTION(MailError, inbox->Folders()->Add(QStringLiteral("   ")));
        QVERIFY_THROWS_EXCEPTION(MailError, work->SetName(QStringLiteral("home")));
        QVERIFY_THROWS_EXCEPTION(MailError, work->SetName(QString()));
        QVERIFY_THROWS_EXCEPTION(MailError, root->SetName(QStringLiteral("Mine")));
        QVERIFY_THROWS_EXCEPTION(MailError, root->MoveTo(work));
        QVERIFY_THROWS_EXCEPTION(MailError, work->MoveTo(work));
        QVERIFY_THROWS_EXCEPTION(MailError, work->MoveTo(deep));
        QVERIFY_THROWS_EXCEPTION(MailError, work->CopyTo(work));
        QVERIFY_THROWS_EXCEPTION(MailError, work->CopyTo(deep));
        QVERIFY_THROWS_EXCEPTION(MailError, work->CopyTo(inbox));  // a "Work" is there already
        QVERIFY_THROWS_EXCEPTION(MailError, ns->Folders()->Remove(1));
        QVERIFY_THROWS_EXCEPTION(MailError, ns->Folders()->Add(QStringLiteral("Store")));

        // Nothing was changed by the refusals; a case-only rename is allowed.
        QCOMPARE(names(inbox->Folders()), QStringList({"Home", "Work"}));
        QCOMPARE(names(work->Folders()), QStringList({"Deep"}));
        work->SetName(QStringLiteral("work"));
        QCOMPARE(work->Name(), QStringLiteral("work"));
        // Moving into the folder it is in does nothing.
        work->MoveTo(inbox);
        QCOMPARE(work->Parent()->EntryID(), inbox->EntryID());
    }

    void copyGetsNewIdsMoveKeepsThem()
    {
        const FolderPtr inbox = ns->GetDefaultFolder(olFolderInbox);
        const FolderPtr src = inbox->Folders()->Add(QStringLiteral("Projects"));
        const FolderPtr sub = src->Folders()->Add(QStringLiteral("Old"));
        const MailItemPtr m1 = src->AddMessageFile("Subject: one\n\n1\n");
        sub->AddMessageFile("Subject: two\n\n2\n");
        const FolderPtr dest = ns->Folders()->Item(1)->Folders()->Add(QStringLiteral("Archive"));

        const FolderPtr copy = src->CopyTo(dest);
        QCOMPARE(copy->Name(), QStringLiteral("Projects"));
        QCOMPARE(copy->Parent()->EntryID(), dest->EntryID());
        QVERIFY(copy->EntryID() != src->EntryID());
        const FolderPtr copySub = copy->Folders()->Item(1);
        QCOMPARE(copySub->Name(), QStringLiteral("Old"));
        QVERIFY(copySub->EntryID() != sub->EntryID());
        QCOMPARE(copy->Items()->Count(), 1);
        const QString copiedItemId = copy->Items()->Item(1)->EntryID();
        QVERIFY(copiedItemId != m1->EntryID());
        QCOMPARE(AsMailItem(ns->GetItemFromID(copiedItemId))->Subject(), QStringLiteral("one"));
        QCOMPARE(AsMailItem(ns->GetItemFromID(m1->EntryID()))->Subject(), QStringLiteral("one"));
        QCOMPARE(copySub->Items()->Count(), 1);
        QVERIFY(QDir(dest->Path()).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot).filter(QStringLiteral(".copy")).isEmpty());
        // A copy of a contact folder stays a contact folder.
        QCOMPARE(ns->GetDefaultFolder(olFolderContacts)->CopyTo(dest)->DefaultItemType(), int(olContactItem));

        // Move: the same ids, under the new parent; a mail folder may sit in a contact folder.
        const QString srcId = src->EntryID();
        const QString subId = sub->EntryID();
        const QString m1Id = m1->EntryID();
        src->MoveTo(ns->GetDefaultFolder(olFolderContacts));
        QCOMPARE(ns->GetFolderFromID(srcId)->Parent()->Name(), QStringLiteral("Contacts"));
        QCOMPARE(ns->GetFolderFromID(srcId)->DefaultItemType(), int(olMailItem));
        QCOMPARE(ns->GetFolderFromID(subId)->Parent()->EntryID(), srcId);
        QCOMPARE(ns->GetItemFromID(m1Id)->EntryID(), m1Id);
        QCOMPARE(sub->Items()->Count(), 1);  // an old handle on a folder inside follows too
    }

    void removeFolderAndItems()
    {
        const FolderPtr inbox = ns->GetDefaultFolder(olFolderInbox);
        const FolderPtr doomed = inbox->Folders()->Add(QStringLiteral("Doomed"));
        doomed->Folders()->Add(QStringLiteral("Inner"));
        const MailItemPtr m = doomed->AddMessageFile("Subject: x\n\nx\n");
        const QString path = doomed->Path();

        // Items.Remove deletes for good, fetching Items again each time.
        doomed->AddMessageFile("Subject: y\n\ny\n");
        while (doomed->Items()->Count() >= 1)
            doomed->Items()->Remove(1);
        QVERIFY(!QFileInfo::exists(m->FilePath()));
        QCOMPARE(ns->GetDefaultFolder(olFolderDeletedItems)->Items()->Count(), 0);

        const FoldersPtr siblings = inbox->Folders();
        siblings->Remove(1);
        QCOMPARE(siblings->Count(), 0);
        QVERIFY(!QFileInfo::exists(path));
        QVERIFY_THROWS_EXCEPTION(MailError, ns->GetFolderFromID(doomed->EntryID()));
        QVERIFY_THROWS_EXCEPTION(MailError, doomed->Items());
        QCOMPARE(inbox->Folders()->Count(), 0);
    }

    void itemsOrderedAndSnapshot()
    {
        const FolderPtr inbox = ns->GetDefaultFolder(olFolderInbox);
        const QString dir = inbox->Path();
        writeMessage(dir, QStringLiteral("3.b"), "Mon, 02 Jan 2023 10:00:00 +0000");
        writeMessage(dir, QStringLiteral("1.c"), "Tue, 03 Jan 2023 10:00:00 +0000");
        writeMessage(dir, QStringLiteral("2.a"), "Mon, 02 Jan 2023 10:00:00 +0000");
        const ItemsPtr items = inbox->Items();
        QStringList order;
        for (int i = 1; i <= items->Count(); ++i)
            order << AsMailItem(items->Item(i))->Subject();
        // Received time first, then the file name.
        QCOMPARE(order, QStringList({"2.a", "3.b", "1.c"}));

        // The snapshot does not see later changes on disk.
        QFile::remove(dir + QStringLiteral("/cur/3.b"));
        writeMessage(dir, QStringLiteral("4.d"), "Wed, 04 Jan 2023 10:00:00 +0000");
        QCOMPARE(items->Count(), 3);
        QCOMPARE(AsMailItem(items->Item(2))->Subject(), QStringLiteral("3.b"));
        QCOMPARE(inbox->Items()->Count(), 3);
        QCOMPARE(AsMailItem(inbox->Items()->Item(3))->Subject(), QStringLiteral("4.d"));
        QVERIFY_THROWS_EXCEPTION(MailError, items->Item(0));
        QVERIFY_THROWS_EXCEPTION(MailError, items->Item(4));
        // A vanished message is an unknown id.
        QVERIFY_THROWS_EXCEPTION(MailError, ns->GetItemFromID(items->Item(2)->EntryID()));
    }

    // A large folder is read on several threads: the order is still received time, then file
    // name, and every item is what reading it alone gives.
    void threadedListingKeepsOrderAndItems()
    {
        const FolderPtr f = ns->GetDefaultFolder(olFolderInbox)->Folders()->Add(QStringLiteral("Many"));
        QStringList expected;  // "minute unique", sorted below as the listing must order them
        constexpr int kCount = 700;
        for (int i = 0; i < kCount; ++i) {
            // Times repeat, so the file name decides between equals; names are not in time order.
            const int minute = (i * 37) % 60;
            const QString unique = QStringLiteral("%1.M%2P1.many").arg(1700000000 + (i * 7919) % kCount).arg(i);
            const QByteArray n = QByteArray::number(i);
            QByteArray text = "From: Sender " + n + " <s" + n + "@example.org>\nTo: bob@example.net\nSubject: =?UTF-8?Q?M=C3=BC?= " + n
                              + "\nDate: Tue, 14 Nov 2023 10:" + QByteArray::number(minute).rightJustified(2, '0') + ":00 +0000\nMIME-Version: 1.0\n";
            switch (i % 5) {
            case 0:
                text += "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n--b\n"
                        "Content-Type: application/pdf; name=r" + n + ".pdf\n\nPDF\n--b--\n";
                break;
            case 1:
                text += "Content-Type: multipart/alternative; boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n--b\n"
                        "Content-Type: text/html\n\n<p>hi</p>\n--b\nContent-Type: text/calendar; method=REQUEST\n\nBEGIN\n--b--\n";
                break;
            case 2:  // one the quick reader leaves to GMime
                text += "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: text/plain\n\nhi\n--b\n"
                        "Content-Type: message/rfc822\n\nSubject: inner\n\nx\n--b--\n";
                break;
            default:
                text += "Content-Type: text/plain\n\nhello\n";
            }
            QFile file(f->Path() + QStringLiteral("/cur/") + unique + QStringLiteral(":2,S"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(text);
            expected << QStringLiteral("%1 %2").arg(minute, 2, 10, QLatin1Char('0')).arg(unique);
        }
        expected.sort();
        const ItemsPtr items = f->Items();
        QCOMPARE(items->Count(), kCount);
        QCOMPARE(items->Skipped(), 0);
        for (int i = 1; i <= kCount; ++i) {
            const MailItemPtr listed = AsMailItem(items->Item(i));
            QCOMPARE(listed->FilePath(), f->Path() + QStringLiteral("/cur/") + expected.at(i - 1).mid(3) + QStringLiteral(":2,S"));
            const MailItemPtr alone = AsMailItem(ns->GetItemFromID(listed->EntryID()));
            QCOMPARE(listed->Subject(), alone->Subject());
            QCOMPARE(listed->SenderEmailAddress(), alone->SenderEmailAddress());
            QCOMPARE(listed->ReceivedTime(), alone->ReceivedTime());
            QCOMPARE(listed->Class(), alone->Class());
            QCOMPARE(listed->Attachments().Count(), alone->Attachments().Count());
            for (int a = 1; a <= listed->Attachments().Count(); ++a)
                QCOMPARE(listed->Attachments().Item(a)->FileName(), alone->Attachments().Item(a)->FileName());
        }
    }

    // A file taken away by another program after the folder was read and before the file was:
    // the listing goes on without it.
    void fileVanishingMidListing()
    {
        const FolderPtr inbox = ns->GetDefaultFolder(olFolderInbox);
        for (int i = 0; i < 300; ++i)
            writeMessage(inbox->Path(), QStringLiteral("%1.x%2").arg(1700000000 + i).arg(i),
                         "Mon, 02 Jan 2023 10:" + QByteArray::number(i % 60).rightJustified(2, '0') + ":00 +0000");
        static QString doomed;
        doomed = inbox->Path() + QStringLiteral("/cur/1700000150.x150");
        detail::beforeListingRead = [](const QString& path) {
            if (path == doomed)
                QFile::remove(path);
        };
        const ItemsPtr items = inbox->Items();
        detail::beforeListingRead = nullptr;
        QCOMPARE(items->Count(), 299);
        QCOMPARE(items->Skipped(), 1);
        QStringList subjects;
        for (int i = 1; i <= items->Count(); ++i)
            subjects << AsMailItem(items->Item(i))->Subject();
        QVERIFY(!subjects.contains(QStringLiteral("1700000150.x150")));
        QCOMPARE(subjects.first(), QStringLiteral("1700000000.x0"));
        QCOMPARE(subjects.at(1), QStringLiteral("1700000060.x60"));  // the same minute: file name next
    }

    void storesFromIni()
    {
        // A nested Maildir tree as a synchronising tool keeps it, and a vdir inside it.
        const QString tree = testsupport::TestHome::path() + QStringLiteral("/external");
        writeMessage(tree + QStringLiteral("/INBOX"), QStringLiteral("m1"), "Mon, 02 Jan 2023 10:00:00 +0000");
        writeMessage(tree + QStringLiteral("/Work/Projects"), QStringLiteral("m2"), "Mon, 02 Jan 2023 10:00:00 +0000");
        QDir().mkpath(tree + QStringLiteral("/Work/cur"));
        mailtest::copyTree(mailtest::fixture(QStringLiteral("contacts")), tree + QStringLiteral("/People"));
        QFile ini(ui::DataPath(QStringLiteral("stores.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Zeta Archive]\nPath=" + tree.toUtf8() + "\n\n[Missing]\nPath=/no/such/store\n\n[Inside]\nPath=Mail/Inbox\n");
        ini.close();
        reopen();

        const FoldersPtr stores = ns->Folders();
        QCOMPARE(names(stores), QStringList({"Personal Folders", "Zeta Archive"}));
        const FolderPtr ext = stores->Item(2);
        QCOMPARE(ext->DefaultItemType(), int(olMailItem));
        QVERIFY(!ext->Parent());
        QCOMPARE(names(ext->Folders()), QStringList({"INBOX", "People", "Work"}));
        QCOMPARE(child(ext, QStringLiteral("People"))->DefaultItemType(), int(olContactItem));
        QCOMPARE(child(ext, QStringLiteral("People"))->Items()->Count(), 3);
        const FolderPtr projects = child(child(ext, QStringLiteral("Work")), QStringLiteral("Projects"));
        QCOMPARE(AsMailItem(projects->Items()->Item(1))->Subject(), QStringLiteral("m2"));
        QVERIFY_THROWS_EXCEPTION(MailError, ext->SetName(QStringLiteral("Other")));

        // Ids are unique across the stores and found whatever their letter case.
        QSet<QString> ids;
        std::function<void(const FolderPtr&)> collect = [&](const FolderPtr& f) {
            ids.insert(f->EntryID().toUpper());
            const FoldersPtr subs = f->Folders();
            for (int i = 1; i <= subs->Count(); ++i)
                collect(subs->Item(i));
        };
        for (int i = 1; i <= stores->Count(); ++i)
            collect(stores->Item(i));
        QCOMPARE(ids.size(), 7 + 5);
        QCOMPARE(ns->GetFolderFromID(projects->EntryID().toLower())->Name(), QStringLiteral("Projects"));

        // Moving between stores keeps the ids.
        const QString id = projects->EntryID();
        projects->MoveTo(ns->GetDefaultFolder(olFolderInbox));
        QCOMPARE(ns->GetFolderFromID(id)->Parent()->Name(), QStringLiteral("Inbox"));
    }

    void currentUser()
    {
        QVERIFY(!ns->CurrentUser()->Name().isEmpty());
        Hooks().currentUser = [] { return std::pair<QString, QString>(QStringLiteral("Bob Baker"), QStringLiteral("bob@example.net")); };
        QCOMPARE(ns->CurrentUser()->Name(), QStringLiteral("Bob Baker"));
        QCOMPARE(ns->CurrentUser()->Address(), QStringLiteral("bob@example.net"));
        Hooks().currentUser = nullptr;
    }

    void outsideCopyGetsItsOwnId()
    {
        const FolderPtr inbox = ns->GetDefaultFolder(olFolderInbox);
        const FolderPtr orig = inbox->Folders()->Add(QStringLiteral("Original"));
        const QString id = orig->EntryID();
        mailtest::copyTree(orig->Path(), inbox->Path() + QStringLiteral("/Duplicate"));
        reopen();
        const FolderPtr dup = child(ns->GetDefaultFolder(olFolderInbox), QStringLiteral("Duplicate"));
        QVERIFY(dup->EntryID() != id);
        QCOMPARE(ns->GetFolderFromID(id)->Name(), QStringLiteral("Original"));
        QCOMPARE(ns->GetFolderFromID(dup->EntryID())->Name(), QStringLiteral("Duplicate"));

        // A folder renamed outside the program keeps its id.
        QVERIFY(QDir().rename(dup->Path(), inbox->Path() + QStringLiteral("/Renamed")));
        QCOMPARE(ns->GetFolderFromID(dup->EntryID())->Name(), QStringLiteral("Renamed"));
    }
};

FERROWYN_TEST_MAIN(TestMailStore)
#include "tst_MailStore.moc"
