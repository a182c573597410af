// The folder picker and its seven actions: the picker's trees and captions, every refusal, and
// moving and copying messages, mail folders, addresses and list folders.
#include <QDirIterator>
#include <QLabel>

#include "lists/Form6.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "tests/lists/ListsTestUtil.h"
#include "tests/mainwindow/Form1GridTestUtil.h"

using namespace liststest;

namespace {

// The Maildir files of a folder (cur and new), by name.
QStringList messageFiles(const QString& folder)
{
    QStringList out;
    for (const char* sub : {"cur", "new"})
        for (const QString& n : QDir(folder + "/" + sub).entryList(QDir::Files)) out << QStringLiteral("%1/%2").arg(QLatin1String(sub), n);
    out.sort();
    return out;
}

// The flags part of each file name, sorted (":2,S" and so on; "" for new/).
QStringList flagsOf(const QString& folder)
{
    QStringList out;
    for (const QString& f : messageFiles(folder)) out << (f.contains(":2,") ? f.mid(f.indexOf(":2,")) : QString());
    out.sort();
    return out;
}

// The message texts of a folder, sorted.
QList<QByteArray> contents(const QString& folder)
{
    QList<QByteArray> out;
    for (const QString& f : messageFiles(folder)) {
        QFile file(folder + "/" + f);
        file.open(QIODevice::ReadOnly);
        out << file.readAll();
    }
    std::sort(out.begin(), out.end());
    return out;
}

QStringList keysOf(ui::TreeView* tree)
{
    QStringList out;
    for (int i = 1; i <= tree->Nodes().Count(); ++i) out << tree->Nodes(i)->Key();
    return out;
}

QStringList prompts()
{
    QStringList out;
    for (const auto& b : scripted().boxes) out << b.prompt;
    return out;
}

// The e-mail addresses of the message grid's selected rows, in selection order.
QStringList selectedSubjects(Form1* f)
{
    QStringList out;
    auto& sel = f->TDBGrid1->SelBookmarks();
    for (int i = 0; i < sel.Count(); ++i) out << f->xa->Value(int(Val(sel.Item(i))), 5).toString();
    return out;
}

QStringList gridSubjects(Form1* f)
{
    QStringList out;
    for (int r = 1; r <= f->xa->UpperBound(1); ++r) out << f->xa->Value(r, 5).toString();
    return out;
}

} // namespace

class TestForm6 : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    QString home;

    QString path(const QString& key) const { return MAPINameSpace->GetFolderFromID(key)->Path(); }
    QString inboxKey() const { return f->InboxFolder->EntryID(); }
    QString mailKey(const QString& name) const { return gridtest::keyOf(f, name); }
    QString storeKey(const QString& name) const
    {
        for (int i = 1; i <= f->TreeView1->Nodes().Count(); ++i) {
            ui::TreeNode* n = f->TreeView1->Nodes(i);
            if (!n->Parent() && n->Text() == name) return n->Key();
        }
        return QString();
    }

    // A picker opened as the main window's command opens it, with the node picked.
    std::unique_ptr<Form6> picker(const QString& source, int code, const QString& pick = QString())
    {
        auto d = std::make_unique<Form6>(f);
        d->SetAction(source, code);
        if (!pick.isEmpty()) {
            ui::TreeNode* n = d->TreeView1->Nodes(pick);
            if (n) n->SetSelected(true);
        }
        return d;
    }

    // Opens the messages of a mail folder and selects the given rows.
    void showMessages(const QString& key, const QList<int>& rows)
    {
        click(f, key);
        auto& sel = f->TDBGrid1->SelBookmarks();
        sel.Clear();
        for (int r : rows) sel.Add(r);
    }

    void showAddresses(const QString& key, const QList<int>& rows)
    {
        click(f, key);
        auto& sel = f->TDBGrid2->SelBookmarks();
        sel.Clear();
        for (int r : rows) sel.Add(r);
    }

    // The row of the address grid that shows e-mail.
    int addressRow(const QString& email) const
    {
        for (int r = 1; r <= f->ex->UpperBound(1); ++r)
            if (f->ex->Value(r, 1).toString() == email) return r;
        return -1;
    }

    long master(const QString& email)
    {
        const QString quoted = QString(email).replace("'", "''");
        const QVariant v = scalar(QStringLiteral("SELECT RecID FROM MasterList WHERE Email = '%1'").arg(quoted));
        if (v.isValid()) return v.toInt();
        sql(QStringLiteral("INSERT INTO MasterList (Email) VALUES ('%1')").arg(quoted));
        return scalar("SELECT MAX(RecID) FROM MasterList").toInt();
    }

private Q_SLOTS:
    void init()
    {
        f = start([this](const QString& h) {
            home = h;
            QFile ini(h + "/stores.ini");
            ini.open(QIODevice::WriteOnly);
            ini.write("[Archive]\nPath=Archive\n[Book]\nPath=Book\n");
            gridtest::maildir(h + "/Archive/Old");
            QDir().mkpath(h + "/Book");
            QFile card(h + "/Book/k.vcf");
            card.open(QIODevice::WriteOnly);
            card.write("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Kim\r\nEMAIL:kim@book.org\r\nEND:VCARD\r\n");
            // A mail folder inside the contacts folder is left out with it.
            gridtest::maildir(h + "/Mail/Contacts/Hidden");
            gridtest::seedInbox(h, 5);
            gridtest::writeMessage(h + "/Mail/Inbox/Projects", 1, "P1 <p1@example.org>", "Project 1");
            gridtest::writeMessage(h + "/Mail/Inbox/Projects/Sub", 2, "P2 <p2@example.org>", "Project 2");
        });
        QVERIFY(f);
        gridtest::roomy(f);
        // Flags differ from message to message, and a copy keeps each.
        const QString projects = path(mailKey("Projects"));
        for (const QString& name : QDir(projects + "/cur").entryList(QDir::Files))
            QFile::rename(projects + "/cur/" + name, projects + "/cur/" + QString(name).replace(":2,S", ":2,FS"));
        gridtest::writeMessage(projects, 3, "P3 <p3@example.org>", "Project 3", QString(), QByteArray(), "new");
        f->LoadFolders();
        scripted().clear();
    }
    void cleanupTestCase() { end(); }

    // ---- the picker ----
    void captionAndTree_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<bool>("fromListFolder");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<bool>("listFolders");
        QTest::newRow("1 copy addresses") << 1 << true << "Copy To Folder" << true;
        QTest::newRow("2 copy messages") << 2 << false << "Copy To Folder" << false;
        QTest::newRow("3 move addresses") << 3 << true << "Move To Folder" << true;
        QTest::newRow("4 move messages") << 4 << false << "Move To Folder" << false;
        QTest::newRow("5 move a mail folder") << 5 << false << "Move To Folder" << false;
        QTest::newRow("5 move a list folder") << 5 << true << "Move To Folder" << true;
        QTest::newRow("6 copy a mail folder") << 6 << false << "Copy To Folder" << false;
        QTest::newRow("6 copy a list folder") << 6 << true << "Copy To Folder" << true;
        QTest::newRow("7 senders into a list") << 7 << false << "Move To Folder" << true;
    }
    void captionAndTree()
    {
        QFETCH(int, code);
        QFETCH(bool, fromListFolder);
        QFETCH(QString, caption);
        QFETCH(bool, listFolders);
        const long clients = addFolder("Clients");
        const long child = addFolder("Child", clients);
        sql("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType) VALUES ('Allocating', 1, -1)");
        auto d = picker(fromListFolder ? ListFolderKey(clients) : inboxKey(), code);
        QCOMPARE(d->windowTitle(), caption);
        QCOMPARE(d->lblAction->text(), QStringLiteral("Select Folder:"));
        const QStringList keys = keysOf(d->TreeView1);
        if (listFolders) {
            QCOMPARE(keys, (QStringList{ListFolderKey(1), ListFolderKey(clients), ListFolderKey(child)}));
            QCOMPARE(d->TreeView1->Nodes(ListFolderKey(1))->Text(), QStringLiteral("Master List"));
        } else {
            // Every mail store and mail folder of the main window's tree, in its order; the
            // contact store and the contacts folder (with the mail folder inside it) are not there.
            QStringList mainMail;
            for (const QString& k : keysOf(f->TreeView1))
                if (!k.startsWith(kListFolderKeyMark)) mainMail << k;
            QCOMPARE(keys, mainMail);
            QVERIFY(!storeKey("Archive").isEmpty());
            QVERIFY(keys.contains(storeKey("Archive")));
            QVERIFY(storeKey("Book").isEmpty());
            QVERIFY(!keys.contains(MAPINameSpace->GetDefaultFolder(mail::olFolderContacts)->EntryID()));
            QVERIFY(mailKey("Hidden").isEmpty());
        }
        // Only the top nodes are open.
        for (int i = 1; i <= d->TreeView1->Nodes().Count(); ++i) {
            ui::TreeNode* n = d->TreeView1->Nodes(i);
            QCOMPARE(n->Expanded(), n->Parent() == nullptr);
        }
        QCOMPARE(d->nodx(), fromListFolder ? ListFolderKey(clients) : inboxKey());
        QCOMPARE(d->intAction, code);
    }

    void applyWithNothingPickedOrAnUnknownCode()
    {
        auto d = picker(inboxKey(), 4);
        d->TreeView1->setCurrentItem(nullptr);
        d->TreeView1->clearSelection();
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QVERIFY(scripted().boxes.isEmpty());

        auto other = picker(inboxKey(), 9);
        QCOMPARE(other->windowTitle(), QStringLiteral("Select Folder"));
        QCOMPARE(other->TreeView1->Nodes().Count(), 0);
        other->Command1_Click();
        QCOMPARE(other->result(), int(QDialog::Accepted));

        auto cancel = picker(inboxKey(), 4, mailKey("Projects"));
        cancel->Command2_Click();
        QCOMPARE(cancel->result(), int(QDialog::Rejected));
        QCOMPARE(messageFiles(path(inboxKey())).size(), 5);
    }

    // ---- the main window's commands open it with the current folder and their code ----
    void commands_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("onListFolder");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("caption");
        QTest::newRow("message popup, copy") << "mnuEmailPopCopy" << false << 2 << "Copy To Folder";
        QTest::newRow("message popup, move") << "mnuEmailPopMove" << false << 4 << "Move To Folder";
        QTest::newRow("message popup, add to a list") << "mnuEmailPopAddToFolder" << false << 7 << "Move To Folder";
        QTest::newRow("mail folder popup, move") << "mnuFolderEmailPopMove" << false << 5 << "Move To Folder";
        QTest::newRow("mail folder popup, copy") << "mnuFolderEmailPopCopy" << false << 6 << "Copy To Folder";
        QTest::newRow("list folder popup, move") << "mnuFolderPopMove" << true << 5 << "Move To Folder";
        QTest::newRow("list folder popup, copy") << "mnuFolderPopCopy" << true << 6 << "Copy To Folder";
        QTest::newRow("address popup, copy") << "mnuBulkPopCopy" << true << 1 << "Copy To Folder";
        QTest::newRow("address popup, move") << "mnuBulkPopMove" << true << 3 << "Move To Folder";
    }
    void commands()
    {
        QFETCH(QString, command);
        QFETCH(bool, onListFolder);
        QFETCH(int, code);
        QFETCH(QString, caption);
        const QString source = onListFolder ? ListFolderKey(addFolder("A")) : mailKey("Projects");
        f->LoadFolders();
        click(f, source);
        QString nodx, title;
        int action = 0, pointer = 0;
        scripted().dialogHandlers.insert("Form6", [&](QDialog* dlg) {
            auto* d = static_cast<Form6*>(dlg);
            nodx = d->nodx();
            action = d->intAction;
            title = d->windowTitle();
            pointer = scripted().mousePointer();
            d->Command2_Click();
            return d->result();
        });
        QAction* a = f->findChild<QAction*>(command);
        QVERIFY(a);
        a->trigger();
        QCOMPARE(scripted().dialogsShown, QStringList{"Form6"});
        QCOMPARE(nodx, source);
        QCOMPARE(action, code);
        QCOMPARE(title, caption);
        QCOMPARE(pointer, int(ui::vbHourglass));
    }

    void commandRunsTheAction()
    {
        showMessages(inboxKey(), {1, 2});
        const QString projects = mailKey("Projects");
        scripted().dialogHandlers.insert("Form6", [&](QDialog* dlg) {
            auto* d = static_cast<Form6*>(dlg);
            d->TreeView1->Nodes(projects)->SetSelected(true);
            d->Command1_Click();
            return d->result();
        });
        f->mnuEmailPopMove->trigger();
        QCOMPARE(gridSubjects(f), (QStringList{"Message 3", "Message 4", "Message 5"}));
        QCOMPARE(messageFiles(path(projects)).size(), 4);
    }

    // ---- every refusal: the dialog stays open and nothing changes ----
    void refusals_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("address copy, same folder") << "copySame" << "Cannot Copy Item.  Source and Destination Folders Are The Same.";
        QTest::newRow("address copy, root")
            << "copyRoot" << "Cannot Copy Item.  Item(s) Already Exist In The Destination (Root) Folder.";
        QTest::newRow("address move, same folder") << "moveSame" << "Cannot Move Item.  Source and Destination Folders Are The Same.";
        QTest::newRow("address move, root")
            << "moveRoot" << "Cannot Move Item(s).  Item(s) Already Exist In The Destination (Root) Folder.";
        QTest::newRow("message move, same folder")
            << "messagesSame" << "Cannot Move Item.  Source and Destination Folders Are The Same.";
        QTest::newRow("mail folder move, same folder")
            << "mailFolderSame" << "Cannot Move Folder.  Source and Destination Folders Are The Same.";
        QTest::newRow("mail folder move, a store") << "mailFolderRoot" << "Cannot Move Folder.  Folder Is A Root Folder.";
        QTest::newRow("mail folder move, a default folder")
            << "mailFolderDefault" << "Error Encountered.  Cannot Move Folder To A Child Folder.  This folder cannot be moved.";
        QTest::newRow("mail folder move, into a child")
            << "mailFolderChild"
            << "Error Encountered.  Cannot Move Folder To A Child Folder.  A folder cannot be moved into itself or a folder inside it.";
        QTest::newRow("mail folder copy, into itself")
            << "mailFolderCopySelf"
            << "Error Encountered.  Cannot Copy Folder To A Child Folder.  A folder cannot be copied into itself or a folder inside it.";
        QTest::newRow("list folder move, same folder")
            << "listMoveSame" << "Cannot Copy Item.  Source and Destination Folders Are The Same.";
        QTest::newRow("list folder move, into a child")
            << "listMoveChild"
            << "Cannot Copy Folder to a Child Of The Same Folder.  However, you may select the addresses in the address window and "
               "copy them to the desired folder.";
        QTest::newRow("list folder move, the root into its child")
            << "listMoveRoot"
            << "Cannot Copy Folder to a Child Of The Same Folder.  However, you may select the addresses in the address window and "
               "copy them to the desired folder.";
        QTest::newRow("list folder copy, same folder")
            << "listCopySame" << "Cannot Copy Item.  Source and Destination Folders Are The Same.";
        QTest::newRow("list folder copy, into a grandchild") << "listCopyChild" << "Cannot Copy Folder to a Child Of The Same Folder";
    }
    void refusals()
    {
        QFETCH(QString, what);
        QFETCH(QString, prompt);
        const long a = addFolder("A");
        const long b = addFolder("B", a);
        const long c = addFolder("C", b);
        addMember(master("one@x.org"), a);
        f->LoadFolders();
        const QString projects = mailKey("Projects"), sub = mailKey("Sub");
        const QString A = ListFolderKey(a), C = ListFolderKey(c), root = ListFolderKey(1);
        showAddresses(A, {1});
        struct Case {
            QString source;
            int code;
            QString pick;
        };
        const QHash<QString, Case> cases = {
            {"copySame", {A, 1, A}},
            {"copyRoot", {A, 1, root}},
            {"moveSame", {A, 3, A}},
            {"moveRoot", {A, 3, root}},
            {"messagesSame", {inboxKey(), 4, inboxKey()}},
            {"mailFolderSame", {projects, 5, projects}},
            {"mailFolderRoot", {storeKey("Archive"), 5, projects}},
            {"mailFolderDefault", {inboxKey(), 5, storeKey("Archive")}},
            {"mailFolderChild", {projects, 5, sub}},
            {"mailFolderCopySelf", {projects, 6, projects}},
            {"listMoveSame", {A, 5, A}},
            {"listMoveChild", {A, 5, ListFolderKey(b)}},
            {"listMoveRoot", {root, 5, A}},
            {"listCopySame", {A, 6, A}},
            {"listCopyChild", {A, 6, C}},
        };
        const Case k = cases.value(what);
        if (k.code == 4) showMessages(inboxKey(), {1});
        const QString foldersBefore = keysOf(f->TreeView1).join(',');
        const int rowsBefore = count("SELECT COUNT(*) FROM MailFolders") + count("SELECT COUNT(*) FROM ListMembers");
        const QString parentsBefore = QDir(home + "/Mail").entryList().join(',');
        auto d = picker(k.source, k.code, k.pick);
        d->Command1_Click();
        QCOMPARE(prompts(), QStringList{prompt});
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QCOMPARE(scripted().mousePointer(), int(ui::vbArrow));
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(keysOf(f->TreeView1).join(','), foldersBefore);
        QCOMPARE(count("SELECT COUNT(*) FROM MailFolders") + count("SELECT COUNT(*) FROM ListMembers"), rowsBefore);
        QCOMPARE(count(QStringLiteral("SELECT ParentFolderRecID FROM MailFolders WHERE RecID = %1").arg(a)), 1);
        QCOMPARE(QDir(home + "/Mail").entryList().join(','), parentsBefore);
        QCOMPARE(messageFiles(path(inboxKey())).size(), 5);
    }

    // ---- messages ----
    void moveMessages()
    {
        showMessages(inboxKey(), {4, 2});
        const QString projects = mailKey("Projects");
        const QStringList before = messageFiles(path(projects));
        auto d = picker(inboxKey(), 4, projects);
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(gridSubjects(f), (QStringList{"Message 1", "Message 3", "Message 5"}));
        QCOMPARE(f->TDBGrid1->SelBookmarks().Count(), 0);
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("3 Items."));
        QVERIFY(f->lblMessageHeaderSubject->text().isEmpty());
        QCOMPARE(messageFiles(path(inboxKey())).size(), 3);
        QCOMPARE(messageFiles(path(projects)).size(), before.size() + 2);
        QCOMPARE(flagsOf(path(projects)).count(":2,S"), 2);
    }

    void copyMessages()
    {
        showMessages(inboxKey(), {3});
        const QString projects = mailKey("Projects");
        const QList<QByteArray> inbox = contents(path(inboxKey()));
        auto d = picker(inboxKey(), 2, projects);
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(contents(path(inboxKey())), inbox);
        QCOMPARE(gridSubjects(f).size(), 5);
        QCOMPARE(messageFiles(path(projects)).size(), 3);
        QVERIFY(contents(path(projects)).contains(inbox.at(2)));
        QCOMPARE(flagsOf(path(projects)).count(":2,S"), 1);
        // Into the folder it is in: a second copy there.
        auto again = picker(inboxKey(), 2, inboxKey());
        again->Command1_Click();
        QCOMPARE(again->result(), int(QDialog::Accepted));
        QCOMPARE(messageFiles(path(inboxKey())).size(), 6);
    }

    void moveFailsPartway()
    {
        showMessages(inboxKey(), {5, 2, 4, 1});
        f->TDBGrid1->SetBookmark(4);
        // The second message in the selection is gone from the disk.
        const mail::MailItemPtr gone = mail::AsMailItem(MAPINameSpace->GetItemFromID(f->xa->Value(2, 8).toString()));
        QVERIFY(QFile::remove(gone->FilePath()));
        const QString projects = mailKey("Projects");
        auto d = picker(inboxKey(), 4, projects);
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(prompts().first().startsWith("Cannot Move Item.  "));
        QVERIFY(prompts().first().size() > QStringLiteral("Cannot Move Item.  ").size());
        // Only the message that moved leaves the grid; the selection names the others at their new rows.
        QCOMPARE(gridSubjects(f), (QStringList{"Message 1", "Message 2", "Message 3", "Message 4"}));
        QCOMPARE(selectedSubjects(f), (QStringList{"Message 2", "Message 4", "Message 1"}));
        QCOMPARE(f->xa->Value(int(Val(f->TDBGrid1->Bookmark())), 5).toString(), QStringLiteral("Message 4"));
        QCOMPARE(messageFiles(path(inboxKey())).size(), 3);

        // The user takes the lost message out of the selection and applies again.
        f->TDBGrid1->SelBookmarks().Remove(0);
        scripted().clear();
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(gridSubjects(f), (QStringList{"Message 2", "Message 3"}));
        QCOMPARE(messageFiles(path(projects)).size(), 5);
    }

    void copyFailsPartwayLeavesNoStray()
    {
        showMessages(inboxKey(), {1, 2, 3});
        QVERIFY(QFile::remove(mail::AsMailItem(MAPINameSpace->GetItemFromID(f->xa->Value(2, 8).toString()))->FilePath()));
        const QString projects = mailKey("Projects");
        const QStringList inboxBefore = messageFiles(path(inboxKey()));
        auto d = picker(inboxKey(), 2, projects);
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(prompts().first().startsWith("Cannot Copy Item.  "));
        QCOMPARE(messageFiles(path(inboxKey())), inboxBefore);
        QCOMPARE(messageFiles(path(projects)).size(), 3);
    }

    void moveIntoTheOutboxIsRefused()
    {
        showMessages(inboxKey(), {1});
        const QString outbox = f->OutboxFolder->EntryID();
        auto d = picker(inboxKey(), 4, outbox);
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(scripted().boxes.size(), 1);
        // The mail host's own reason follows.
        QVERIFY(prompts().first().startsWith("Cannot Move Item.  "));
        QVERIFY(prompts().first().contains("Outbox"));
        QVERIFY(messageFiles(path(outbox)).isEmpty());
        QCOMPARE(gridSubjects(f).size(), 5);
        auto copy = picker(inboxKey(), 2, outbox);
        copy->Command1_Click();
        QCOMPARE(copy->result(), int(QDialog::Rejected));
        QVERIFY(prompts().last().startsWith("Cannot Copy Item.  "));
        QVERIFY(messageFiles(path(outbox)).isEmpty());
        QCOMPARE(messageFiles(path(inboxKey())).size(), 5);
    }

    // ---- mail folders ----
    void moveMailFolderWithItsSubtree()
    {
        const QString projects = mailKey("Projects"), sub = mailKey("Sub"), archive = storeKey("Archive");
        click(f, projects);
        auto d = picker(projects, 5, archive);
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QVERIFY(scripted().boxes.isEmpty());
        ui::TreeNode* n = f->TreeView1->Nodes(projects);
        QVERIFY(n);
        QCOMPARE(n->Parent()->Key(), archive);
        QCOMPARE(f->TreeView1->Nodes(sub)->Parent()->Key(), projects);
        QVERIFY(n->Selected());
        QCOMPARE(CurrentFolderNode, projects);
        QCOMPARE(f->MessageListFolderKey(), projects);
        QCOMPARE(gridSubjects(f).size(), 2);
        QVERIFY(QDir(home + "/Archive/Projects/Sub").exists());
        QVERIFY(!QDir(home + "/Mail/Inbox/Projects").exists());
    }

    void copyMailFolder()
    {
        const QString projects = mailKey("Projects"), archive = storeKey("Archive");
        const QString source = path(projects);
        auto d = picker(projects, 6, archive);
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        const QString copyKey = CurrentFolderNode;
        QVERIFY(copyKey != projects);
        ui::TreeNode* n = f->TreeView1->Nodes(copyKey);
        QVERIFY(n && n->Selected());
        QCOMPARE(n->Text(), QStringLiteral("Projects"));
        QCOMPARE(n->Parent()->Key(), archive);
        QCOMPARE(n->Children(), 1);
        QCOMPARE(n->Child()->Text(), QStringLiteral("Sub"));
        // A Maildir with the same messages and flags; the source is untouched.
        const QString copy = path(copyKey);
        QCOMPARE(copy, home + "/Archive/Projects");
        for (const char* s : {"cur", "new", "tmp"}) QVERIFY(QDir(copy + "/" + s).exists());
        QCOMPARE(contents(copy), contents(source));
        QCOMPARE(flagsOf(copy), flagsOf(source));
        QCOMPARE(contents(copy + "/Sub"), contents(source + "/Sub"));
        QCOMPARE(gridSubjects(f).size(), 2);
        QCOMPARE(f->TreeView1->Nodes(projects)->Parent()->Key(), inboxKey());
    }

    // ---- addresses ----
    void moveAddressesOntoExistingMemberships()
    {
        const long a = addFolder("A"), b = addFolder("B");
        const long one = master("one@x.org"), two = master("two@x.org"), three = master("three@x.org");
        addMember(one, a);
        addMember(two, a);
        addMember(three, a);
        addMember(two, b);
        const int oneRow = scalar(QStringLiteral("SELECT RecID FROM ListMembers WHERE MasterRecID = %1").arg(one)).toInt();
        f->LoadFolders();
        showAddresses(ListFolderKey(a), {});
        f->TDBGrid2->SelBookmarks().Add(addressRow("one@x.org"));
        f->TDBGrid2->SelBookmarks().Add(addressRow("two@x.org"));
        auto d = picker(ListFolderKey(a), 3, ListFolderKey(b));
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(members(b), (QStringList{"one@x.org", "two@x.org"}));
        QCOMPARE(members(a), QStringList{"three@x.org"});
        QCOMPARE(scalar(QStringLiteral("SELECT FolderRecID FROM ListMembers WHERE RecID = %1").arg(oneRow)).toInt(), int(b));
        // The grid shows the source folder again.
        QCOMPARE(f->AddressListFolderKey(), ListFolderKey(a));
        QCOMPARE(f->ex->UpperBound(1), 1);
    }

    void copyAddressesTwice()
    {
        const long a = addFolder("A"), b = addFolder("B");
        const long one = master("o'neil@x.org"), two = master("two@x.org");
        addMember(one, a);
        addMember(two, a);
        f->LoadFolders();
        for (int i = 0; i < 2; ++i) {
            showAddresses(ListFolderKey(a), {1, 2});
            auto d = picker(ListFolderKey(a), 1, ListFolderKey(b));
            d->Command1_Click();
            QCOMPARE(d->result(), int(QDialog::Accepted));
        }
        QCOMPARE(members(b), (QStringList{"o'neil@x.org", "two@x.org"}));
        QCOMPARE(members(a), (QStringList{"o'neil@x.org", "two@x.org"}));
        // From the Master List view as well.
        showAddresses(ListFolderKey(1), {1});
        auto d = picker(ListFolderKey(1), 1, ListFolderKey(b));
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(members(b).size(), 2);
        QCOMPARE(f->AddressListView(), int(Form1::MasterListView));
    }

    // ---- senders into a list ----
    void sendersIntoAList()
    {
        const long a = addFolder("A");
        addMember(master("s2@example.org"), a);
        master("s3@example.org");
        f->LoadFolders();
        // Message 4 comes from a name alone.
        gridtest::writeMessage(path(inboxKey()), 6, "Just A Name", "Nameless");
        showMessages(inboxKey(), {});
        for (int r = 1; r <= f->xa->UpperBound(1); ++r)
            if (QStringList{"Message 1", "Message 2", "Message 3", "Nameless"}.contains(f->xa->Value(r, 5).toString()))
                f->TDBGrid1->SelBookmarks().Add(r);
        const int masterRows = count("SELECT COUNT(*) FROM MasterList");
        auto d = picker(inboxKey(), 7, ListFolderKey(a));
        d->Command1_Click();
        // The dialog closes, and says once what was not added.
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(prompts().first().startsWith(
            "An Error Has Occurred copying an email address to a Bulk Mail Folder.  Please check the selected messages."));
        QVERIFY(prompts().first().contains("Messages not added: 1 of 4."));
        QVERIFY(prompts().first().contains("Without an e-mail address: 1."));
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), masterRows + 1);
        QCOMPARE(members(a), (QStringList{"s1@example.org", "s2@example.org", "s3@example.org"}));
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList WHERE Email LIKE '%Name%'"), 0);

        // The root means the Master List alone.
        scripted().clear();
        showMessages(inboxKey(), {5});
        auto root = picker(inboxKey(), 7, ListFolderKey(1));
        root->Command1_Click();
        QCOMPARE(root->result(), int(QDialog::Accepted));
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList WHERE Email = 's5@example.org'"), 1);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers INNER JOIN MasterList ON MasterList.RecID = MasterRecID "
                       "WHERE Email = 's5@example.org'"),
                 0);
    }

    // ---- list folders ----
    void moveListFolder()
    {
        const long t = addFolder("T"), c1 = addFolder("C1", t), leaf = addFolder("Leaf");
        addMember(master("one@x.org"), t);
        sql(QStringLiteral("INSERT INTO MailFolderProperties (Status, FolderRecID, Sequence, FieldType, FieldID, Operator, FieldValue, "
                           "Conjunction) VALUES (1, %1, 1, 0, 8, 'Equal To', 'Paris', '')")
                .arg(t));
        f->LoadFolders();
        selectNode(f, ListFolderKey(t));
        auto d = picker(ListFolderKey(t), 5, ListFolderKey(leaf));
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(scalar(QStringLiteral("SELECT ParentFolderRecID FROM MailFolders WHERE RecID = %1").arg(t)).toInt(), int(leaf));
        QCOMPARE(members(t), QStringList{"one@x.org"});
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM MailFolderProperties WHERE FolderRecID = %1").arg(t)), 1);
        ui::TreeNode* n = f->TreeView1->Nodes(ListFolderKey(t));
        QCOMPARE(n->Parent()->Key(), ListFolderKey(leaf));
        QCOMPARE(f->TreeView1->Nodes(ListFolderKey(c1))->Parent()->Key(), ListFolderKey(t));
        QVERIFY(n->Selected());
        QCOMPARE(CurrentFolderNode, ListFolderKey(t));
        QCOMPARE(f->AddressListFolderKey(), ListFolderKey(t));
        QCOMPARE(f->ex->UpperBound(1), 1);

        // To the root: a folder at the top of the list folders.
        auto up = picker(ListFolderKey(t), 5, ListFolderKey(1));
        up->Command1_Click();
        QCOMPARE(up->result(), int(QDialog::Accepted));
        QCOMPARE(f->TreeView1->Nodes(ListFolderKey(t))->Parent()->Key(), ListFolderKey(1));
    }

    void copyListFolderTree_data()
    {
        QTest::addColumn<bool>("staleMarker");
        QTest::newRow("clean") << false;
        QTest::newRow("a stale marker row") << true;
    }
    void copyListFolderTree()
    {
        QFETCH(bool, staleMarker);
        const long t = addFolder("T"), c1 = addFolder("C1", t), c2 = addFolder("C2", c1), c3 = addFolder("C3", t);
        const long leaf = addFolder("Leaf");
        addMember(master("a@x.org"), t);
        addMember(master("b@x.org"), t);
        addMember(master("c@x.org"), c1);
        addMember(master("a@x.org"), c2);
        sql(QStringLiteral("INSERT INTO MailFolderProperties (Status, FolderRecID, Sequence, FieldType, FieldID, Operator, FieldValue, "
                           "Conjunction) VALUES (1, %1, 1, 0, 8, 'Equal To', 'Paris', '')")
                .arg(t));
        if (staleMarker) sql("INSERT INTO MailFolders (FolderType) VALUES (-1)");
        f->LoadFolders();
        selectNode(f, ListFolderKey(c3));
        const int folders = count("SELECT COUNT(*) FROM MailFolders WHERE FolderType <> -1");
        const int memberships = count("SELECT COUNT(*) FROM ListMembers");
        auto d = picker(ListFolderKey(t), 6, ListFolderKey(leaf));
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(count("SELECT COUNT(*) FROM MailFolders WHERE FolderType = -1"), 0);
        QCOMPARE(count("SELECT COUNT(*) FROM MailFolders"), folders + 4);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers"), memberships + 4);
        QCOMPARE(count("SELECT COUNT(*) FROM MailFolders WHERE FolderName IS NULL"), 0);
        // The same shape, names and members under the destination; no rules.
        const long t2 = scalar(QStringLiteral("SELECT RecID FROM MailFolders WHERE ParentFolderRecID = %1").arg(leaf)).toInt();
        QCOMPARE(scalar(QStringLiteral("SELECT FolderName FROM MailFolders WHERE RecID = %1").arg(t2)).toString(), QStringLiteral("T"));
        QCOMPARE(members(t2), (QStringList{"a@x.org", "b@x.org"}));
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM MailFolderProperties WHERE FolderRecID = %1").arg(t2)), 0);
        const long c1b = scalar(QStringLiteral("SELECT RecID FROM MailFolders WHERE ParentFolderRecID = %1 AND FolderName = 'C1'").arg(t2)).toInt();
        const long c2b = scalar(QStringLiteral("SELECT RecID FROM MailFolders WHERE ParentFolderRecID = %1").arg(c1b)).toInt();
        QCOMPARE(scalar(QStringLiteral("SELECT FolderName FROM MailFolders WHERE RecID = %1").arg(c2b)).toString(), QStringLiteral("C2"));
        QCOMPARE(members(c1b), QStringList{"c@x.org"});
        QCOMPARE(members(c2b), QStringList{"a@x.org"});
        QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM MailFolders WHERE ParentFolderRecID = %1 AND FolderName = 'C3'").arg(t2)), 1);
        QCOMPARE(members(t), (QStringList{"a@x.org", "b@x.org"}));
        // The main window's tree shows the copy whole, and the current folder stays selected.
        ui::TreeNode* n = f->TreeView1->Nodes(ListFolderKey(t2));
        QVERIFY(n);
        QCOMPARE(n->Parent()->Key(), ListFolderKey(leaf));
        QCOMPARE(n->Children(), 2);
        QVERIFY(f->TreeView1->Nodes(ListFolderKey(c2b)));
        QCOMPARE(CurrentFolderNode, ListFolderKey(c3));
        QVERIFY(f->TreeView1->Nodes(ListFolderKey(c3))->Selected());
    }

    void copyListFolderFailingMidwayLeavesNothing()
    {
        const long t = addFolder("T"), c1 = addFolder("C1", t);
        addFolder("C2", c1);
        const long leaf = addFolder("Leaf");
        addMember(master("a@x.org"), t);
        addMember(master("b@x.org"), c1);
        f->LoadFolders();
        const int folders = count("SELECT COUNT(*) FROM MailFolders");
        const int memberships = count("SELECT COUNT(*) FROM ListMembers");
        // The disk fills up while the third folder is being made.
        sql(QStringLiteral("CREATE TRIGGER full BEFORE INSERT ON MailFolders WHEN (SELECT COUNT(*) FROM MailFolders) >= %1 "
                           "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END")
                .arg(folders + 2));
        const QString treeBefore = keysOf(f->TreeView1).join(',');
        auto d = picker(ListFolderKey(t), 6, ListFolderKey(leaf));
        d->Command1_Click();
        sql("DROP TRIGGER full");
        QCOMPARE(d->result(), int(QDialog::Rejected));
        QCOMPARE(scripted().boxes.size(), 1);
        QVERIFY(prompts().first().startsWith("Cannot Copy Folder.  "));
        QVERIFY(prompts().first().contains("disk is full"));
        QCOMPARE(count("SELECT COUNT(*) FROM MailFolders"), folders);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers"), memberships);
        QCOMPARE(keysOf(f->TreeView1).join(','), treeBefore);

        // The next copy works whole.
        scripted().clear();
        d->Command1_Click();
        QCOMPARE(d->result(), int(QDialog::Accepted));
        QCOMPARE(count("SELECT COUNT(*) FROM MailFolders"), folders + 3);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers"), memberships + 2);
    }

    void subtreeCheck()
    {
        const long t = addFolder("T"), c1 = addFolder("C1", t), c2 = addFolder("C2", c1), other = addFolder("Other");
        // A damaged chain: two rows that name each other as parent.
        const long x = addFolder("X", 0), y = addFolder("Y", x);
        sql(QStringLiteral("UPDATE MailFolders SET ParentFolderRecID = %1 WHERE RecID = %2").arg(y).arg(x));
        Form6 d(f);
        QVERIFY(!d.ChildCheckOK(ListFolderKey(t), ListFolderKey(c2)));
        QVERIFY(!d.ChildCheckOK(ListFolderKey(t), ListFolderKey(c1)));
        QVERIFY(d.ChildCheckOK(ListFolderKey(c1), ListFolderKey(t)));
        QVERIFY(d.ChildCheckOK(ListFolderKey(t), ListFolderKey(other)));
        QVERIFY(d.ChildCheckOK(ListFolderKey(t), ListFolderKey(x)));
        QVERIFY(!d.ChildCheckOK(ListFolderKey(x), ListFolderKey(y)));
        QVERIFY(!d.ChildCheckOK(ListFolderKey(1), ListFolderKey(c2)));

        // A move into its own subtree is refused.
        f->LoadFolders();
        auto p = picker(ListFolderKey(t), 5, ListFolderKey(c2));
        p->Command1_Click();
        QCOMPARE(p->result(), int(QDialog::Rejected));
        QCOMPARE(scalar(QStringLiteral("SELECT ParentFolderRecID FROM MailFolders WHERE RecID = %1").arg(t)).toInt(), 1);
    }
};

FERROWYN_TEST_MAIN(TestForm6)
#include "tst_Form6.moc"
