#include <QLineEdit>
#include <QListWidget>

#include "lists/Form2.h"
#include "lists/Form3.h"
#include "lists/Form7.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "tests/lists/ListsTestUtil.h"

using namespace liststest;

namespace {
void maildir(const QString& path)
{
    for (const char* sub : {"cur", "new", "tmp"}) QDir().mkpath(path + "/" + sub);
}

// Drives a dialog of type D through the given steps when the command shows it.
template <class D>
void onDialog(const char* cls, std::function<void(D&)> steps)
{
    scripted().dialogHandlers.insert(QString::fromLatin1(cls), [steps](QDialog* d) {
        steps(*static_cast<D*>(d));
        return d->result();
    });
}

QStringList selectedEntries(const Form3& d)
{
    QStringList out;
    for (int i = 0; i < d.List1->count(); ++i)
        if (d.List1->item(i)->isSelected()) out << d.List1->item(i)->text();
    return out;
}
} // namespace

class TestListFolderDialogs : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    long clients = 0, child = 0, leaf = 0;

    QString inbox() const { return f->InboxFolder->EntryID(); }
    int folderRows() const { return count("SELECT COUNT(*) FROM MailFolders"); }

private Q_SLOTS:
    void initTestCase()
    {
        f = start([](const QString& home) { maildir(home + "/Mail/Inbox/Projects"); });
        QVERIFY(f);
        sql("INSERT INTO MasterList (Email) VALUES ('a@x.org')");
        sql("INSERT INTO MasterList (Email) VALUES ('b@x.org')");
        clients = addFolder("Clients");
        child = addFolder("Child", clients);
        leaf = addFolder("Leaf");
        // A row a copy is still allocating: no folder yet.
        sql("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType, Status) VALUES ('Pending', 0, -1, -1)");
        addMember(1, clients);
        addMember(2, clients);
        addMember(1, leaf);
        sql(QStringLiteral("INSERT INTO MailFolderProperties (Status, FolderRecID, Sequence, FieldType, FieldID, Operator, FieldValue, "
                           "Conjunction) VALUES (1, %1, 1, 0, 8, 'Equal To', 'Paris', '')")
                .arg(leaf));
        f->LoadFolders();
    }
    void cleanupTestCase() { end(); }
    void init() { scripted().clear(); }

    // ---- add folder ----
    void addListFolder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("an apostrophe") << "O'Neil's";
        QTest::newRow("blanks around it") << "  padded  ";
    }
    void addListFolder()
    {
        QFETCH(QString, name);
        selectNode(f, ListFolderKey(1));
        const int before = folderRows();
        QString proposed;
        onDialog<Form2>("Form2", [&](Form2& d) {
            proposed = d.Text1->text();
            QCOMPARE(d.TreeView1->SelectedItem()->Key(), ListFolderKey(1));
            d.Text1->setText(name);
            d.Command1_Click();
        });
        f->mnuFolderPopNew->trigger();
        QCOMPARE(proposed, QStringLiteral("New Folder"));
        QCOMPARE(folderRows(), before + 1);
        const long id = scalar("SELECT MAX(RecID) FROM MailFolders").toInt();
        QCOMPARE(scalar(QStringLiteral("SELECT FolderName FROM MailFolders WHERE RecID = %1").arg(id)).toString(), name);
        QCOMPARE(scalar(QStringLiteral("SELECT ParentFolderRecID FROM MailFolders WHERE RecID = %1").arg(id)).toInt(), 1);
        QCOMPARE(count("SELECT COUNT(*) FROM MailFolders WHERE Status = 0"), 0);
        ui::TreeNode* n = f->TreeView1->Nodes(ListFolderKey(id));
        QVERIFY(n);
        QCOMPARE(n->Text(), name);
        QCOMPARE(n->Parent()->Key(), ListFolderKey(1));
        QVERIFY(n->Selected());
        QCOMPARE(CurrentFolderNode, ListFolderKey(id));
        QCOMPARE(f->AddressListFolderKey(), ListFolderKey(id));
    }

    void addTwoFoldersOfOneNameUnderAPickedParent()
    {
        selectNode(f, ListFolderKey(1));
        for (int i = 0; i < 2; ++i) {
            onDialog<Form2>("Form2", [&](Form2& d) {
                d.TreeView1->Nodes(ListFolderKey(clients))->SetSelected(true);
                d.Text1->setText("Twin");
                d.Command1_Click();
            });
            f->mnuFolderPopNew->trigger();
        }
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM MailFolders WHERE FolderName = 'Twin' AND ParentFolderRecID = %1").arg(clients)),
                 2);
        QCOMPARE(f->TreeView1->Nodes(ListFolderKey(clients))->Children(), 3);
    }

    void addFolderRefusals()
    {
        selectNode(f, ListFolderKey(1));
        const int rows = folderRows();
        const int nodes = f->TreeView1->Nodes().Count();
        // A blank name; then a mail folder name its siblings already have.
        Form2 d(f);
        d.Text1->setText("   ");
        d.Command1_Click();
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Error Saving Folder.  A Folder Name Must Be Specified."));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QCOMPARE(d.Text1->text(), QStringLiteral("   "));
        QCOMPARE(d.result(), int(QDialog::Rejected));

        d.TreeView1->Nodes(inbox())->SetSelected(true);
        d.Text1->setText("projects");
        d.Command1_Click();
        QVERIFY(scripted().lastPrompt().startsWith(QStringLiteral("Error Saving Folder.  ")));
        QCOMPARE(scripted().boxes.size(), 2);
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(f->TreeView1->Nodes().Count(), nodes);
        QCOMPARE(folderRows(), rows);
        QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));

        d.Command2_Click();
        QCOMPARE(folderRows(), rows);
    }

    // A name the database cannot take gets a plain message, never the statement's text.
    void folderNamesTheDatabaseRefuses_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("added");
        QTest::addColumn<QString>("renamed");
        QTest::newRow("NUL") << QStringLiteral("Bad") + QChar(0) + QStringLiteral("Name")
                             << "Error Saving Folder.  A folder name cannot hold control characters."
                             << "Cannot Rename Folder.  A folder name cannot hold control characters.";
        QTest::newRow("line break") << "Two\nLines" << "Error Saving Folder.  A folder name cannot hold control characters."
                                    << "Cannot Rename Folder.  A folder name cannot hold control characters.";
        QTest::newRow("refused by a rule of the database")
            << "Refused" << "Error Saving Folder.  The database could not store the new folder; nothing was added."
            << "Cannot Rename Folder.  The database could not store the new name; the folder keeps its name.";
    }
    void folderNamesTheDatabaseRefuses()
    {
        QFETCH(QString, name);
        QFETCH(QString, added);
        QFETCH(QString, renamed);
        sql("CREATE TEMP TRIGGER IF NOT EXISTS refuseInsert BEFORE INSERT ON MailFolders WHEN NEW.FolderName = 'Refused' "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END");
        sql("CREATE TEMP TRIGGER IF NOT EXISTS refuseUpdate BEFORE UPDATE ON MailFolders WHEN NEW.FolderName = 'Refused' "
            "BEGIN SELECT RAISE(ABORT, 'refused'); END");
        selectNode(f, ListFolderKey(clients));
        const int rows = folderRows();
        const int nodes = f->TreeView1->Nodes().Count();
        Form2 d(f);
        d.Text1->setText(name);
        d.Command1_Click();
        QCOMPARE(scripted().lastPrompt(), added);
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(folderRows(), rows);
        QCOMPARE(f->TreeView1->Nodes().Count(), nodes);

        const QString before = f->TreeView1->Nodes(ListFolderKey(clients))->Text();
        Form7 r(f);
        r.Text1->setText(name);
        r.Command1_Click();
        sql("DROP TRIGGER refuseInsert");
        sql("DROP TRIGGER refuseUpdate");
        QCOMPARE(scripted().lastPrompt(), renamed);
        QCOMPARE(r.result(), int(QDialog::Rejected));
        QCOMPARE(f->TreeView1->Nodes(ListFolderKey(clients))->Text(), before);
        QCOMPARE(scalar(QStringLiteral("SELECT FolderName FROM MailFolders WHERE RecID = %1").arg(clients)).toString(), before);
    }

    void addMailFolder()
    {
        selectNode(f, inbox());
        const int rows = folderRows();
        Form2 d(f);
        QCOMPARE(d.TreeView1->SelectedItem()->Key(), inbox());
        d.Text1->setText("Archive");
        d.Command1_Click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(folderRows(), rows);
        mail::FoldersPtr subs = f->InboxFolder->Folders();
        QString key;
        for (int i = 1; i <= subs->Count(); ++i)
            if (subs->Item(i)->Name() == QLatin1String("Archive")) key = subs->Item(i)->EntryID();
        QVERIFY(!key.isEmpty());
        QCOMPARE(f->TreeView1->Nodes(key)->Parent()->Key(), inbox());
        QCOMPARE(CurrentFolderNode, key);
        QCOMPARE(f->MessageListFolderKey(), key);
    }

    // ---- rename ----
    void renameListFolder()
    {
        selectNode(f, ListFolderKey(clients));
        QString preset;
        onDialog<Form7>("Form7", [&](Form7& d) {
            preset = d.Text1->text();
            d.Text1->setText("   ");
            d.Command1_Click();
            QCOMPARE(scripted().lastPrompt(), QStringLiteral("Cannot Rename Folder.  No Folder Name Specified."));
            QCOMPARE(f->TreeView1->Nodes(ListFolderKey(clients))->Text(), QStringLiteral("Clients"));
            d.Text1->setText("Bob's list");
            d.Command1_Click();
        });
        f->mnuFolderPopRename->trigger();
        QCOMPARE(preset, QStringLiteral("Clients"));
        QCOMPARE(scalar(QStringLiteral("SELECT FolderName FROM MailFolders WHERE RecID = %1").arg(clients)).toString(),
                 QStringLiteral("Bob's list"));
        QCOMPARE(f->TreeView1->Nodes(ListFolderKey(clients))->Text(), QStringLiteral("Bob's list"));
        // Only its own row changes.
        QCOMPARE(scalar(QStringLiteral("SELECT FolderName FROM MailFolders WHERE RecID = %1").arg(child)).toString(),
                 QStringLiteral("Child"));
        QCOMPARE(members(clients).size(), 2);

        Form7 d(f);
        QCOMPARE(d.Text1->MaxLength(), 64);
        // The limit is for typing: a longer name the program presets is shown whole.
        const QString longName(100, QLatin1Char('L'));
        d.Text1->setText(longName);
        QCOMPARE(d.Text1->text(), longName);
        d.Text1->setText("Other");
        d.Command2_Click();
        QCOMPARE(f->TreeView1->Nodes(ListFolderKey(clients))->Text(), QStringLiteral("Bob's list"));
    }

    void renameMailFolder()
    {
        mail::FoldersPtr subs = f->InboxFolder->Folders();
        QString projects;
        for (int i = 1; i <= subs->Count(); ++i)
            if (subs->Item(i)->Name() == QLatin1String("Projects")) projects = subs->Item(i)->EntryID();
        CurrentFolderNode = projects;
        Form7 d(f);
        d.Text1->setText("Plans");
        d.Command1_Click();
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QCOMPARE(MAPINameSpace->GetFolderFromID(projects)->Name(), QStringLiteral("Plans"));
        QCOMPARE(f->TreeView1->Nodes(projects)->Text(), QStringLiteral("Plans"));

        // The store refuses to rename a default folder: the node keeps its name.
        CurrentFolderNode = inbox();
        Form7 refused(f);
        refused.Text1->setText("Post");
        refused.Command1_Click();
        QVERIFY(scripted().lastPrompt().startsWith(QStringLiteral("Cannot Rename Folder.  ")));
        QCOMPARE(refused.result(), int(QDialog::Rejected));
        QCOMPARE(f->TreeView1->Nodes(inbox())->Text(), QStringLiteral("Inbox"));
        QCOMPARE(f->InboxFolder->Name(), QStringLiteral("Inbox"));
    }

    // ---- delete ----
    void deleteRefusals()
    {
        const int rows = folderRows();
        selectNode(f, ListFolderKey(1));
        f->mnuFolderPopDelete->trigger();
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Cannot Delete Top Bulk Email List Node"));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));

        selectNode(f, ListFolderKey(clients));
        scripted().boxes.clear();
        f->mnuFolderPopDelete->trigger();
        QCOMPARE(scripted().boxes.size(), 2);
        QVERIFY(scripted().boxes.at(0).prompt.startsWith(QStringLiteral("Confirm Deleting Folder Bob's list. Please note")));
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Cannot Delete Folder.  It Has Children."));
        QVERIFY(f->TreeView1->Nodes(ListFolderKey(clients)));
        QCOMPARE(members(clients).size(), 2);

        // No: nothing happens.
        selectNode(f, ListFolderKey(leaf));
        scripted().boxAnswers.enqueue(ui::vbNo);
        f->mnuFolderPopDelete->trigger();
        QCOMPARE(folderRows(), rows);
        QVERIFY(f->TreeView1->Nodes(ListFolderKey(leaf)));
        QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));
    }

    void deleteLeafFolder()
    {
        selectNode(f, ListFolderKey(leaf));
        f->mnuFolderPopDelete->trigger();
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM MailFolders WHERE RecID = %1").arg(leaf)), 0);
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM ListMembers WHERE FolderRecID = %1").arg(leaf)), 0);
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM MailFolderProperties WHERE FolderRecID = %1").arg(leaf)), 0);
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList WHERE Email = 'a@x.org'"), 1);
        QVERIFY(!f->TreeView1->Nodes(ListFolderKey(leaf)));
        // The parent takes over.
        QCOMPARE(f->TreeView1->SelectedItem()->Key(), ListFolderKey(1));
        QCOMPARE(CurrentFolderNode, ListFolderKey(1));
        QCOMPARE(f->AddressListFolderKey(), ListFolderKey(1));
        QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));
    }

    // ---- add address ----
    void folderListHoldsListFoldersOnly()
    {
        Form3 d(f);
        QStringList names;
        for (int i = 0; i < d.List1->count(); ++i) names << d.List1->item(i)->text();
        QVERIFY(!names.contains(QStringLiteral("Pending")));
        QCOMPARE(names.first(), QStringLiteral("Master List"));
        QCOMPARE(selectedEntries(d), QStringList{"Master List"});
        // A mail-folder node preselects nothing more.
        d.SetNodx(inbox());
        QCOMPARE(selectedEntries(d), QStringList{"Master List"});
        d.SetNodx(ListFolderKey(child));
        QCOMPARE(selectedEntries(d), (QStringList{"Master List", "Child"}));
    }

    void addAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QStringList>("pick"); // folders selected besides the preselection
        QTest::addColumn<bool>("rootSelected");
        QTest::addColumn<int>("newRows");
        QTest::addColumn<QStringList>("clientsMembers");
        QTest::addColumn<QStringList>("childMembers");
        QTest::newRow("new address into two folders")
            << "n'ew@x.org" << QStringList{"Child"} << true << 1 << QStringList{"a@x.org", "b@x.org", "n'ew@x.org"}
            << QStringList{"n'ew@x.org"};
        QTest::newRow("existing address in another case")
            << "A@X.ORG" << QStringList{"Child"} << true << 0 << QStringList{"a@x.org", "b@x.org", "n'ew@x.org"}
            << QStringList{"a@x.org", "n'ew@x.org"};
        QTest::newRow("folder chosen without the root")
            << "c@x.org" << QStringList{} << false << 1 << QStringList{"a@x.org", "b@x.org", "c@x.org", "n'ew@x.org"}
            << QStringList{"a@x.org", "n'ew@x.org"};
    }
    void addAddress()
    {
        QFETCH(QString, address);
        QFETCH(QStringList, pick);
        QFETCH(bool, rootSelected);
        QFETCH(int, newRows);
        QFETCH(QStringList, clientsMembers);
        QFETCH(QStringList, childMembers);
        selectNode(f, ListFolderKey(clients));
        const int before = count("SELECT COUNT(*) FROM MasterList");
        onDialog<Form3>("Form3", [&](Form3& d) {
            QCOMPARE(selectedEntries(d), (QStringList{"Master List", "Bob's list"}));
            for (int i = 0; i < d.List1->count(); ++i) {
                QListWidgetItem* it = d.List1->item(i);
                if (pick.contains(it->text())) it->setSelected(true);
                if (it->text() == QLatin1String("Master List")) it->setSelected(rootSelected);
            }
            d.Text1->setText(address);
            d.Command1_Click();
        });
        f->mnuFolderPopupNew->trigger();
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), before + newRows);
        QCOMPARE(members(clients), clientsMembers);
        QCOMPARE(members(child), childMembers);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers WHERE FolderRecID = 1"), 0);
        // The grid shows the folder again, with the address.
        QCOMPARE(f->ex->UpperBound(1), clientsMembers.size());
    }

    void addAddressToTheRootOnly()
    {
        const int memberships = count("SELECT COUNT(*) FROM ListMembers");
        Form3 d(f);
        d.SetNodx(ListFolderKey(1));
        d.Text1->setText("solo@x.org");
        d.Command1_Click();
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList WHERE Email = 'solo@x.org' AND Status = 0"), 1);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers"), memberships);

        Form3 blank(f);
        blank.Text1->setText("  ");
        blank.Command1_Click();
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Error In Email Address.  No Email Address Specified"));
        QCOMPARE(blank.result(), int(QDialog::Rejected));
        QCOMPARE(blank.Text1->MaxLength(), 64);
    }

    void addAddressRefusesWhatIsNoAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::newRow("no @") << "jane.example.org";
        QTest::newRow("nothing before @") << "@example.org";
        QTest::newRow("nothing after @") << "jane@";
        QTest::newRow("blank inside") << "jane doe@example.org";
        QTest::newRow("two words") << "Jane Doe";
        QTest::newRow("two @") << "jane@doe@example.org";
        QTest::newRow("formula") << "=HYPERLINK(\"http://x\")@example.com";
    }
    void addAddressRefusesWhatIsNoAddress()
    {
        QFETCH(QString, typed);
        const int rows = count("SELECT COUNT(*) FROM MasterList");
        const int memberships = count("SELECT COUNT(*) FROM ListMembers");
        Form3 d(f);
        d.SetNodx(ListFolderKey(clients));
        d.Text1->setText(typed);
        d.Command1_Click();
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Error In Email Address.  This is not an email address: ") + typed);
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), rows);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers"), memberships);
    }

    void addAddressDropsBlanksAtItsEnds()
    {
        Form3 d(f);
        d.SetNodx(ListFolderKey(clients));
        d.Text1->setText(QStringLiteral("  a@x.org "));
        d.Command1_Click();
        // The address the list holds already: no second row.
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList WHERE Email LIKE '%a@x.org%'"), 1);
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }

    // ---- compose and the commands that come later ----
    void composeAddressesEveryMember()
    {
        selectNode(f, ListFolderKey(clients));
        mail::MailItemPtr shown;
        mail::Hooks().display = [&](const mail::MailItemPtr& mi, bool) { shown = mi; };
        f->TDBGrid2->SelBookmarks().Clear();
        f->mnuFolderPopCompose->trigger();
        mail::Hooks().display = nullptr;
        QVERIFY(shown);
        QCOMPARE(shown->Recipients().Count(), f->ex->UpperBound(1));
        for (int i = 1; i <= shown->Recipients().Count(); ++i) QCOMPARE(shown->Recipients().Item(i)->Type(), int(mail::olBCC));
        QVERIFY(shown->BCC().contains(QStringLiteral("b@x.org")));
        QVERIFY(scripted().boxes.isEmpty());

        // No window to show it in: the shared error message.
        f->mnuFolderPopCompose->trigger();
        QVERIFY(scripted().lastPrompt().startsWith(QStringLiteral("There was an error processing selected item(s).")));
        QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));
    }
};

FERROWYN_TEST_MAIN(TestListFolderDialogs)
#include "tst_ListFolderDialogs.moc"
