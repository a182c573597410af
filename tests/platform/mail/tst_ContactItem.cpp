#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSet>

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

    static QString card(const ContactItemPtr& c) { return c->FullName() + QStringLiteral(" <") + c->Email1Address() + QLatin1Char('>'); }

    // The contacts of a folder in their order, as "FN <first address>".
    static QStringList cards(const ItemsPtr& items)
    {
        QStringList out;
        for (int i = 1; i <= items->Count(); ++i)
            out << card(AsContactItem(items->Item(i)));
        return out;
    }

    static QString idOf(const FolderPtr& folder, const QByteArray& unique) { return folder->EntryID() + QString::fromLatin1(unique.toHex().toUpper()); }

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

    void severalCardsInOneFile()
    {
        QVERIFY(QFile::copy(mailtest::fixture(QStringLiteral("addressbook.vcf")), contacts->Path() + QStringLiteral("/addressbook.vcf")));
        const ItemsPtr items = contacts->Items();
        QCOMPARE(items->Count(), 6);
        QCOMPARE(items->Skipped(), 0);
        // In the file's order, before the other files.
        QCOMPARE(cards(items).mid(0, 3), (QStringList{QStringLiteral("Maja Lindqvist <maja.lindqvist@nordhavn.example>"),
                                                      QStringLiteral("Kwame Osei <kwame.osei@accra-trading.example>"),
                                                      QStringLiteral("Zoë Fairweather <z.fairweather@kestrel-books.example>")}));
        const ContactItemPtr kwame = AsContactItem(items->Item(2));
        QCOMPARE(kwame->CompanyName(), QStringLiteral("Accra Trading Ltd."));
        QCOMPARE(kwame->MobileTelephoneNumber(), QStringLiteral("+233 24 555 0199"));
        QCOMPARE(AsContactItem(items->Item(1))->BusinessAddressCity(), QStringLiteral("Stockholm"));

        // Each card has an id of its own, found again; the first keeps the id the file had.
        QCOMPARE(items->Item(1)->EntryID(), idOf(contacts, "addressbook"));
        QSet<QString> ids;
        const ItemsPtr again = contacts->Items();
        for (int i = 1; i <= items->Count(); ++i) {
            const QString id = items->Item(i)->EntryID();
            QVERIFY2(QRegularExpression(QStringLiteral("^[0-9A-F]+$")).match(id).hasMatch(), qPrintable(id));
            QCOMPARE(again->Item(i)->EntryID(), id);
            ids.insert(id);
            const ContactItemPtr found = AsContactItem(ns->GetItemFromID(id.toLower()));
            QCOMPARE(card(found), card(AsContactItem(items->Item(i))));
            QCOMPARE(found->EntryID(), id);
            QCOMPARE(found->FilePath(), items->Item(i)->FilePath());
        }
        QCOMPARE(ids.size(), 6);

        // A card the file no longer holds is not found.
        const QString third = items->Item(3)->EntryID();
        QFile f(contacts->Path() + QStringLiteral("/addressbook.vcf"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        f.close();
        writeCard(QStringLiteral("addressbook.vcf"), bytes.left(bytes.lastIndexOf("BEGIN:VCARD")));
        QVERIFY_THROWS_EXCEPTION(MailError, ns->GetItemFromID(third));
        QCOMPARE(AsContactItem(ns->GetItemFromID(items->Item(2)->EntryID()))->FullName(), QStringLiteral("Kwame Osei"));
    }

    void cardsOfAFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("cards");
        QTest::newRow("text around and between cards, a card with no address")
            << QByteArray("exported 2024\nBEGIN:VCARD\nFN:A\nEMAIL:a@x.org\nEND:VCARD\n\nnot a card\nEND:VCARD\nBEGIN:VCARD\nFN:B\nEND:VCARD\ntrailing")
            << QStringList{"A <a@x.org>", "B <>"};
        QTest::newRow("CRLF, folded lines")
            << QByteArray("BEGIN:VCARD\r\nFN:An\r\n na\r\nEMAIL:an\r\n\tna@x.org\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:Bo\r\nEND:VCARD\r\n")
            << QStringList{"Anna <anna@x.org>", "Bo <>"};
        QTest::newRow("a folded line is no BEGIN")
            << QByteArray("BEGIN:VCARD\nFN:A\nNOTE:x\n BEGIN:VCARD\nEMAIL:a@x.org\nEND:VCARD\n") << QStringList{"A <a@x.org>"};
        QTest::newRow("letter case and blanks") << QByteArray("begin:vcard\nFN:A\nEnd:VCard \nBEGIN: VCARD\nFN:B\nEND:VCARD") << QStringList{"A <>", "B <>"};
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF" "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n") << QStringList{"A <>"};
        // An embedded card (vCard 2.1) is part of the card that holds it, not a contact of its own.
        QTest::newRow("agent card on the next line")
            << QByteArray("BEGIN:VCARD\nVERSION:2.1\nFN:Boss\nAGENT:\nBEGIN:VCARD\nVERSION:2.1\nFN:Aide\nEMAIL:aide@x.org\nEND:VCARD\n"
                          "EMAIL:boss@x.org\nEND:VCARD\nBEGIN:VCARD\nFN:Next\nEND:VCARD\n")
            << QStringList{"Boss <boss@x.org>", "Next <>"};
        QTest::newRow("agent card on the same line")
            << QByteArray("BEGIN:VCARD\nFN:Boss\nAGENT;TYPE=x:BEGIN:VCARD\nFN:Aide\nAGENT:\nBEGIN:VCARD\nFN:Deputy\nEND:VCARD\nEND:VCARD\nEMAIL:boss@x.org\nEND:VCARD\n")
            << QStringList{"Boss <boss@x.org>"};
        QTest::newRow("agent as text (3.0)")
            << QByteArray("BEGIN:VCARD\nFN:Boss\nAGENT:BEGIN:VCARD\\nFN:Aide\\nEND:VCARD\nEND:VCARD\nBEGIN:VCARD\nFN:Next\nEND:VCARD\n")
            << QStringList{"Boss <>", "Next <>"};
        // A card whose END is missing ends where the next begins, or at the end of the file.
        QTest::newRow("missing END") << QByteArray("BEGIN:VCARD\nFN:A\nBEGIN:VCARD\nFN:B\nEND:VCARD\nBEGIN:VCARD\nFN:C\nEMAIL:c@x.org")
                                     << QStringList{"A <>", "B <>", "C <c@x.org>"};
        QTest::newRow("each card its own encoding")
            << QByteArray("BEGIN:VCARD\nFN:J\xC3\xB6rg\nEND:VCARD\nBEGIN:VCARD\nFN:J\xF6rn\nEND:VCARD\n")
            << QStringList{QStringLiteral("Jörg <>"), QStringLiteral("Jörn <>")};
        QTest::newRow("no card") << QByteArray("FN:A\nEND:VCARD\n") << QStringList{};
    }

    void cardsOfAFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, cards);
        const FolderPtr folder = contacts->Folders()->Add(QStringLiteral("One file"));
        QFile f(folder->Path() + QStringLiteral("/book.vcf"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        const ItemsPtr items = folder->Items();
        QCOMPARE(this->cards(items), cards);
        QCOMPARE(items->Skipped(), cards.isEmpty() ? 1 : 0);
        for (int i = 1; i <= items->Count(); ++i)
            QCOMPARE(card(AsContactItem(ns->GetItemFromID(items->Item(i)->EntryID()))), cards.at(i - 1));
    }

    void oneCardOfASharedFile()
    {
        QVERIFY(QFile::copy(mailtest::fixture(QStringLiteral("addressbook.vcf")), contacts->Path() + QStringLiteral("/addressbook.vcf")));
        const QByteArray before = mailtest::readAll(contacts->Path() + QStringLiteral("/addressbook.vcf"));
        const FolderPtr friends = contacts->Folders()->Add(QStringLiteral("Friends"));
        ItemsPtr items = contacts->Items();

        // A copy is the card alone, in a file of its own.
        const ContactItemPtr copy = AsContactItem(items->Item(2))->Copy();
        QCOMPARE(card(copy), QStringLiteral("Kwame Osei <kwame.osei@accra-trading.example>"));
        const QByteArray copied = mailtest::readAll(copy->FilePath());
        QVERIFY(copied.startsWith("BEGIN:VCARD\r\nVERSION:2.1\r\n"));
        QVERIFY(copied.endsWith("END:VCARD\r\n"));
        QVERIFY(!copied.contains("Lindqvist") && !copied.contains("Fairweather"));
        QCOMPARE(contacts->Items()->Count(), 7);

        // Taking one card out of the file would leave the others under other ids: refused, nothing lost.
        for (int i : {1, 2}) {
            const ContactItemPtr c = AsContactItem(items->Item(i));
            const QString id = c->EntryID();
            QVERIFY_THROWS_EXCEPTION(MailError, c->Delete());
            QVERIFY_THROWS_EXCEPTION(MailError, c->Move(friends));
            QVERIFY_THROWS_EXCEPTION(MailError, items->Remove(i));
            QCOMPARE(c->EntryID(), id);
        }
        QCOMPARE(items->Count(), 6);
        QCOMPARE(mailtest::readAll(contacts->Path() + QStringLiteral("/addressbook.vcf")), before);
        QCOMPARE(contacts->Items()->Count(), 7);
        QCOMPARE(friends->Items()->Count(), 0);

        // The copy has its file to itself, and goes as any contact does.
        copy->Move(friends);
        QCOMPARE(cards(friends->Items()), QStringList{QStringLiteral("Kwame Osei <kwame.osei@accra-trading.example>")});
        copy->Delete();
        QCOMPARE(friends->Items()->Count(), 0);
    }

    void largeFileReadOnce()
    {
        // A scan of the file for each of its cards took minutes here; once through takes about two
        // seconds under the sanitizers, so the bound leaves room for a loaded machine.
        constexpr int kCards = 20000;
        QByteArray text;
        for (int i = 0; i < kCards; ++i)
            text += "BEGIN:VCARD\r\nVERSION:3.0\r\nN:Person;Number;;;\r\nFN:Number " + QByteArray::number(i) + "\r\nEMAIL;TYPE=INTERNET:n" +
                    QByteArray::number(i) + "@example.org\r\nTEL;TYPE=CELL:+1 555 0100\r\nEND:VCARD\r\n";
        const FolderPtr folder = contacts->Folders()->Add(QStringLiteral("Large"));
        QFile f(folder->Path() + QStringLiteral("/all.vcf"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
        f.close();
        QElapsedTimer t;
        t.start();
        const ItemsPtr items = folder->Items();
        QCOMPARE(items->Count(), kCards);
        const ContactItemPtr last = AsContactItem(ns->GetItemFromID(items->Item(kCards)->EntryID()));
        QVERIFY2(t.elapsed() < 60000, qPrintable(QStringLiteral("%1 ms").arg(t.elapsed())));
        QCOMPARE(last->Email1Address(), QStringLiteral("n%1@example.org").arg(kCards - 1));
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
