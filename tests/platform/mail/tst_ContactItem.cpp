#include "platform/mail/Application.h"
#include "platform/mail/ContactItem.h"
#include "platform/mail/MAPIFolder.h"
#include "tests/platform/mail/MailTestUtil.h"
#include "tests/support/TestMain.h"

using namespace mail;

class TestContactItem : public QObject {
    Q_OBJECT
    std::shared_ptr<Application> app;
    NameSpacePtr ns;
    FolderPtr contacts;

    ContactItemPtr byName(const ItemsPtr& items, const QString& fullName)
    {
        for (int i = 1; i <= items->Count(); ++i)
            if (const ContactItemPtr c = AsContactItem(items->Item(i)); c && c->FullName() == fullName)
                return c;
        return nullptr;
    }

    void writeCard(const QString& name, const QByteArray& text)
    {
        QFile f(contacts->Path() + QLatin1Char('/') + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }

private Q_SLOTS:
    void init()
    {
        testsupport::TestHome::reset();
        app = std::make_shared<Application>();
        ns = app->GetNamespace(QStringLiteral("MAPI"));
        contacts = ns->GetDefaultFolder(olFolderContacts);
        mailtest::copyTree(mailtest::fixture(QStringLiteral("contacts")), contacts->Path());
    }

    void cleanup()
    {
        contacts.reset();
        ns.reset();
        app.reset();
    }

    void fields_data()
    {
        QTest::addColumn<QString>("fullName");
        QTest::addColumn<QStringList>("names");   // first, middle, last
        QTest::addColumn<QString>("company");
        QTest::addColumn<QStringList>("emails");
        QTest::addColumn<QStringList>("phones");  // business, home, mobile, business fax
        QTest::addColumn<QStringList>("address"); // street, city, state, postal code, country
        // vCard 3.0: escapes, a folded line, TYPE lists, the work address rather than the home one.
        QTest::newRow("3.0") << "Alice Archer" << QStringList{"Alice", "Beatrice", "Archer"} << "Archer, Bow & Co"
                             << QStringList{"alice@example.org", "alice.home@example.org", ""}
                             << QStringList{"+1 555 0100", "", "+1 555 0101", "+1 555 0102"}
                             << QStringList{"Suite 5\n12 Market Street\nBack entrance", "Springfield", "IL", "62701", "USA"};
        // vCard 4.0: PREF orders the addresses, quoted TYPE lists, tel: URIs.
        QTest::newRow("4.0") << "Bob Baker" << QStringList{"Bob", "", "Baker"} << ""
                             << QStringList{"bob.baker@example.com", "bob@example.net", "bob3@example.com"}
                             << QStringList{"", "+44-20-7946-0000", "", ""} << QStringList{"", "", "", "", ""};
        // CRLF line ends, UTF-8, a grouped property.
        QTest::newRow("utf-8") << QStringLiteral("Jörg Müller") << QStringList{QStringLiteral("Jörg"), "", QStringLiteral("Müller")} << ""
                               << QStringList{"joerg@example.de", "", ""} << QStringList{"", "", "", ""} << QStringList{"", "", "", "", ""};
    }

    void fields()
    {
        QFETCH(QString, fullName);
        QFETCH(QStringList, names);
        QFETCH(QStringList, emails);
        QFETCH(QStringList, phones);
        QFETCH(QStringList, address);
        QCOMPARE(contacts->DefaultItemType(), int(olContactItem));
        const ItemsPtr items = contacts->Items();
        QCOMPARE(items->Count(), 3);
        const ContactItemPtr c = byName(items, fullName);
        QVERIFY(c);
        QCOMPARE(c->Class(), int(olContact));
        QCOMPARE(QStringList({c->FirstName(), c->MiddleName(), c->LastName()}), names);
        QTEST(c->CompanyName(), "company");
        QCOMPARE(QStringList({c->Email1Address(), c->Email2Address(), c->Email3Address()}), emails);
        QCOMPARE(QStringList({c->BusinessTelephoneNumber(), c->HomeTelephoneNumber(), c->MobileTelephoneNumber(), c->BusinessFaxNumber()}), phones);
        QCOMPARE(QStringList({c->BusinessAddressStreet(), c->BusinessAddressCity(), c->BusinessAddressState(), c->BusinessAddressPostalCode(),
                              c->BusinessAddressCountry()}),
                 address);
        QCOMPARE(c->Parent()->EntryID(), contacts->EntryID());
        QCOMPARE(AsContactItem(ns->GetItemFromID(c->EntryID()))->FullName(), fullName);
    }

    void groupsAndBrokenCards()
    {
        writeCard(QStringLiteral("team.vcf"), "BEGIN:VCARD\nVERSION:4.0\nKIND:group\nFN:Team\nMEMBER:urn:uuid:bob-2\nEND:VCARD\n");
        writeCard(QStringLiteral("noname.vcf"), "BEGIN:VCARD\nVERSION:3.0\nN:Nobody;Nora\nEMAIL:nora@example.org\n");  // no END
        writeCard(QStringLiteral("garbage.vcf"), QByteArray("\x00\x01not a card at all\n", 19));
        writeCard(QStringLiteral("empty.vcf"), "");
        writeCard(QStringLiteral("notes.txt"), "BEGIN:VCARD\nFN:Ignored\nEND:VCARD\n");
        const ItemsPtr items = contacts->Items();
        QCOMPARE(items->Count(), 5);
        QCOMPARE(items->Skipped(), 2);
        QCOMPARE(byName(items, QStringLiteral("Team"))->Class(), int(olDistributionList));
        const ContactItemPtr nora = byName(items, QStringLiteral("Nora Nobody"));
        QVERIFY(nora);
        QCOMPARE(nora->Email1Address(), QStringLiteral("nora@example.org"));
    }

    void copyMoveDelete()
    {
        const ContactItemPtr bob = byName(contacts->Items(), QStringLiteral("Bob Baker"));
        const ContactItemPtr copy = bob->Copy();
        QVERIFY(copy->EntryID() != bob->EntryID());
        QCOMPARE(copy->Email1Address(), bob->Email1Address());
        QCOMPARE(contacts->Items()->Count(), 4);

        const FolderPtr friends = contacts->Folders()->Add(QStringLiteral("Friends"));
        QCOMPARE(friends->DefaultItemType(), int(olContactItem));
        copy->Move(friends);
        QCOMPARE(friends->Items()->Count(), 1);
        QVERIFY_THROWS_EXCEPTION(MailError, copy->Move(ns->GetDefaultFolder(olFolderInbox)));
        QVERIFY_THROWS_EXCEPTION(MailError, friends->AddMessageFile("Subject: x\n\nx\n"));
        copy->Delete();
        QCOMPARE(friends->Items()->Count(), 0);
        QCOMPARE(ns->GetDefaultFolder(olFolderDeletedItems)->Items()->Count(), 0);
    }
};

FERROWYN_TEST_MAIN(TestContactItem)
#include "tst_ContactItem.moc"
