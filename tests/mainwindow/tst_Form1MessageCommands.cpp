#include <QAction>
#include <QClipboard>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QToolBar>
#include <QWindow>

#include "core/OLAPP.h"
#include "core/TreeKeys.h"
#include "lists/Form2.h"
#include "mainwindow/Form16.h"
#include "platform/mail/Explorer.h"
#include "platform/mail/send/Accounts.h"
#include "platform/mail/send/OutboxQueue.h"
#include "platform/mail/windows/MailWindows.h"
#include "tests/mainwindow/Form1GridTestUtil.h"
#include "tests/platform/mail/send/SmtpTestServer.h"

using namespace gridtest;

namespace {
const QString kItemError = QStringLiteral(
    "There was an error processing selected item(s).  Some of the selected item(s) may have been deleted or are not Mail "
    "Messages.  Check the Item(s) and Refresh the list to remedy.");
const QString kNotAMessage = QStringLiteral("Cannot Complete Operation. Source is not an Email Message");

QStringList addresses(const mail::MailItemPtr& mi, int type = -1)
{
    QStringList out;
    for (int i = 1; i <= mi->Recipients().Count(); ++i)
        if (type < 0 || mi->Recipients().Item(i)->Type() == type) out << mi->Recipients().Item(i)->Address();
    return out;
}

int fileCount(const QString& maildirPath)
{
    int n = 0;
    for (const char* sub : {"cur", "new"}) n += int(QDir(maildirPath + "/" + sub).entryList(QDir::Files).size());
    return n;
}
} // namespace

class TestForm1MessageCommands : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    QString home, inbox, master;
    mail::MailHostHooks savedHooks;
    QList<mail::MailItemPtr> shown;
    QStringList printed;

    void showInbox()
    {
        click(f, master);
        click(f, inbox);
        QCOMPARE(f->AddressListMode, 0);
        scripted().clear();
    }
    QString subjectOfRow(int row) { return f->xa->Value(row, 5).toString(); }
    // The message file of a row is taken away behind the program's back.
    void removeRowFile(int row)
    {
        const auto mi = mail::AsMailItem(MAPINameSpace->GetItemFromID(f->xa->Value(row, 8).toString()));
        QVERIFY(mi && QFile::remove(mi->FilePath()));
    }

private Q_SLOTS:
    void init()
    {
        f = start([](const QString& h) {
            seedInbox(h, 10);
            writeMessage(h + "/Mail/Projects", 1, "P <p@example.org>", "Project");
            maildir(h + "/Mail/Projects/Sub");
            for (int n = 1; n <= 3; ++n) writeMessage(h + "/Mail/Old", n, "O <o@example.org>", QStringLiteral("Old %1").arg(n));
        });
        QVERIFY(f);
        home = testsupport::TestHome::path();
        inbox = keyOf(f, "Inbox");
        master = keyOf(f, "Master List");
        savedHooks = mail::Hooks();
        shown.clear();
        printed.clear();
        mail::Hooks().display = [this](const mail::MailItemPtr& mi, bool) { shown << mi; };
        mail::Hooks().printOut = [this](const mail::MailItemPtr& mi) { printed << mi->Subject(); };
        showInbox();
    }
    void cleanup()
    {
        mail::Hooks() = savedHooks;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<mail::ComposeWindow*>(w)) delete w;
    }
    void cleanupTestCase() { end(); }

    // ---- File menu ----
    void fileMenuWithTheMessageGrid()
    {
        f->TDBGrid1->SetBookmark(4);
        selectRows(f->TDBGrid1, {2, 3});
        f->filem_new->trigger();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown.last()->EntryID().isEmpty());
        QCOMPARE(shown.last()->Recipients().Count(), 0);
        QVERIFY(shown.last()->Subject().isEmpty());

        // Open shows the current row, not the selected ones.
        f->filem_open->trigger();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown.last()->Subject(), subjectOfRow(4));

        f->filem_print->trigger();
        QCOMPARE(scripted().files.size(), 1);
        QCOMPARE(scripted().files.last().kind, 2);
        QCOMPARE(printed, (QStringList{subjectOfRow(2), subjectOfRow(3)}));

        // Nothing selected: nothing at all.
        f->TDBGrid1->SelBookmarks().Clear();
        f->filem_print->trigger();
        QCOMPARE(scripted().files.size(), 1);
        QCOMPARE(printed.size(), 2);

        // Print Setup: the printer dialog; Cancel says nothing.
        scripted().fileAnswers.enqueue(QString());
        f->filem_printsetup->trigger();
        QCOMPARE(scripted().files.size(), 2);
        QCOMPARE(scripted().files.last().kind, 2);
        QVERIFY(scripted().boxes.isEmpty());
    }

    void fileMenuWithTheAddressGrid()
    {
        sql("INSERT INTO MasterList (Email) VALUES ('a1@example.org')");
        sql("INSERT INTO MasterList (Email) VALUES ('a2@example.org')");
        click(f, master);
        QVERIFY(f->TDBGrid1->isHidden() && !f->TDBGrid2->isHidden());
        scripted().clear();
        f->filem_new->trigger();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.last()->Recipients().Count(), 0);

        // Open composes to the selected addresses.
        selectRows(f->TDBGrid2, {2, 1});
        f->filem_open->trigger();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(addresses(shown.last(), mail::olBCC), (QStringList{"a2@example.org", "a1@example.org"}));

        f->filem_print->trigger();
        QCOMPARE(scripted().lastPrompt(), kNotAMessage);
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QVERIFY(printed.isEmpty());
        QVERIFY(scripted().files.isEmpty());
    }

    void exitUnloadsTheWindow()
    {
        f->filem_exit->trigger();
        QVERIFY(!f->isVisible());
        QCOMPARE(DBConnection().State(), 0);
        QVERIFY(!OutlookApp);
    }

    // Quitting closes each compose window first, as its close box would: Cancel in any of them
    // keeps the program running with the window and its text. Each question comes up over the
    // window it is about, brought in front of the main window.
    void quittingAsksEachUnsavedComposeWindow_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<bool>("quits");
        QTest::addColumn<int>("drafts");
        for (const char* how : {"exit", "close box"}) {
            const QString h = QString::fromLatin1(how);
            QTest::addRow("%s, cancel", how) << h << QList<int>{ui::vbCancel} << false << 0;
            QTest::addRow("%s, yes", how) << h << QList<int>{ui::vbYes} << true << 1;
            QTest::addRow("%s, no then cancel", how) << h << QList<int>{ui::vbNo, ui::vbCancel} << false << 0;
            QTest::addRow("%s, yes and no", how) << h << QList<int>{ui::vbYes, ui::vbNo} << true << 1;
        }
    }

    void quittingAsksEachUnsavedComposeWindow()
    {
        QFETCH(QString, how);
        QFETCH(QList<int>, answers);
        QFETCH(bool, quits);
        QFETCH(int, drafts);
        mail::Hooks() = savedHooks;  // the mail host's own windows
        auto openCompose = [] {
            QList<mail::ComposeWindow*> out;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* c = qobject_cast<mail::ComposeWindow*>(w); c && c->isVisible()) out << c;
            return out;
        };
        for (int i = 0; i < answers.size(); ++i) {
            f->filem_new->trigger();
            for (mail::ComposeWindow* c : openCompose())
                if (c->txtBody->toPlainText().isEmpty()) {
                    QTest::keyClicks(c->txtBody, QStringLiteral("Note %1").arg(i));
                    c->setWindowTitle(QStringLiteral("Note %1").arg(i));
                }
        }
        // One more, untouched: it closes without a question.
        f->filem_new->trigger();
        QCOMPARE(openCompose().size(), answers.size() + 1);
        for (int answer : answers) scripted().boxAnswers.enqueue(answer);
        QCoreApplication::processEvents();
        QApplication::setActiveWindow(f);
        QCoreApplication::processEvents();

        if (how == QLatin1String("exit"))
            f->filem_exit->trigger();
        else
            f->windowHandle()->close();
        QCOMPARE(scripted().boxes.size(), answers.size());
        QStringList askedOver;
        for (const auto& box : scripted().boxes) {
            QCOMPARE(box.prompt, QStringLiteral("Do you want to save changes?"));
            askedOver << box.over;
        }
        QStringList notes;
        for (int i = 0; i < answers.size(); ++i) notes << QStringLiteral("Note %1").arg(i);
        askedOver.sort();
        QCOMPARE(askedOver, notes);
        QCOMPARE(fileCount(home + "/Mail/Drafts"), drafts);
        if (quits) {
            QVERIFY(!f->isVisible());
            QVERIFY(!OutlookApp);
            QVERIFY(openCompose().isEmpty());
        } else {
            QVERIFY(f->isVisible());
            QVERIFY(OutlookApp);
            QVERIFY(DBConnection().State() != 0);
            // The one cancelled keeps its text (the untouched one may be open still or closed).
            int withText = 0;
            for (mail::ComposeWindow* c : openCompose()) withText += c->txtBody->toPlainText().startsWith(QStringLiteral("Note "));
            QCOMPARE(withText, 1);
        }
    }

    // ---- message popup ----
    void printCancelledPrintsNothing()
    {
        selectRows(f->TDBGrid1, {1});
        scripted().fileAnswers.enqueue(QString());
        f->mnuEmailPopPrint->trigger();
        QVERIFY(printed.isEmpty());
        QVERIFY(scripted().boxes.isEmpty());
    }

    void reply()
    {
        // None selected: a blank new message.
        f->TDBGrid1->SelBookmarks().Clear();
        f->mnuEmailPopReply->trigger();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.last()->Recipients().Count(), 0);

        // One selected: the reply answers the current row, which is another one here.
        selectRows(f->TDBGrid1, {3});
        f->TDBGrid1->SetBookmark(5);
        f->mnuEmailPopReply->trigger();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(addresses(shown.last()), QStringList{"s5@example.org"});
        QVERIFY(shown.last()->Subject().endsWith(subjectOfRow(5)));

        // Several: one new message to each correspondent in selection order.
        selectRows(f->TDBGrid1, {4, 2, 7});
        f->mnuEmailPopReply->trigger();
        QCOMPARE(shown.size(), 3);
        QCOMPARE(addresses(shown.last()), (QStringList{"s4@example.org", "s2@example.org", "s7@example.org"}));
        QVERIFY(shown.last()->Subject().isEmpty());
        QVERIFY(scripted().boxes.isEmpty());
    }

    void forward()
    {
        selectRows(f->TDBGrid1, {2});
        f->TDBGrid1->SetBookmark(6);
        f->mnuEmailPopForward->trigger();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.last()->Recipients().Count(), 0);
        QVERIFY(shown.last()->Subject().endsWith(subjectOfRow(6)));

        // A message gone since the list was read: the shared message, the pointer untouched.
        removeRowFile(6);
        ui::SetMousePointer(ui::vbHourglass);
        f->mnuEmailPopForward->trigger();
        QCOMPARE(scripted().lastPrompt(), kItemError);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbHourglass));
        f->mnuEmailPopOpen->trigger();
        QCOMPARE(scripted().boxes.size(), 2);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
    }

    void deleteMessages_data()
    {
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<int>("current");   // afterwards; 0: none
        QTest::addColumn<QString>("previewed");
        // Rows 3 to 5 of 10: the former row 8 stands at 5 and becomes current.
        QTest::newRow("middle") << QList<int>{4, 3, 5} << 5 << "Message 8";
        QTest::newRow("last rows") << QList<int>{9, 10} << 8 << "Message 8";
        QTest::newRow("all rows") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10} << 0 << "";
    }
    void deleteMessages()
    {
        QFETCH(QList<int>, rows);
        QFETCH(int, current);
        QFETCH(QString, previewed);
        QCOMPARE(subjectOfRow(1), QStringLiteral("Message 1"));
        selectRows(f->TDBGrid1, rows);
        f->mnuEmailPopDelete->trigger();
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().boxes.first().prompt, QStringLiteral("Confirm Deleting Selected Messages?"));
        QCOMPARE(scripted().boxes.first().style, int(ui::vbYesNo + ui::vbQuestion));
        QCOMPARE(f->xa->UpperBound(1), 10 - int(rows.size()));
        QCOMPARE(fileCount(home + "/Mail/Inbox"), 10 - int(rows.size()));
        QCOMPARE(fileCount(home + "/Mail/Deleted Items"), int(rows.size()));
        for (int r = 1; r <= f->xa->UpperBound(1); ++r)
            for (int gone : rows) QVERIFY(subjectOfRow(r) != QStringLiteral("Message %1").arg(gone));
        if (current) {
            QCOMPARE(selection(f->TDBGrid1), QList<int>{current});
            QCOMPARE(f->TDBGrid1->Bookmark().toInt(), current);
            QCOMPARE(f->LastMessageBookmark.toInt(), current);
        } else {
            QVERIFY(selection(f->TDBGrid1).isEmpty());
        }
        QCOMPARE(f->lblMessageHeaderSubject->text(), previewed);
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("%1 Items.").arg(10 - rows.size()));
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
    }

    void deleteAnsweredNoOrFailingPartway()
    {
        selectRows(f->TDBGrid1, {2, 3, 4});
        scripted().boxAnswers.enqueue(ui::vbNo);
        f->mnuEmailPopDelete->trigger();
        QCOMPARE(f->xa->UpperBound(1), 10);
        QCOMPARE(fileCount(home + "/Mail/Inbox"), 10);

        // Row 3's message is gone: row 2's was deleted before, row 4's stays.
        removeRowFile(3);
        f->mnuEmailPopDelete->trigger();
        QCOMPARE(scripted().lastPrompt(), kItemError);
        QCOMPARE(f->xa->UpperBound(1), 9);
        QCOMPARE(subjectOfRow(2), QStringLiteral("Message 3"));
        QCOMPARE(subjectOfRow(3), QStringLiteral("Message 4"));
        QCOMPARE(fileCount(home + "/Mail/Deleted Items"), 1);
        QCOMPARE(selection(f->TDBGrid1), QList<int>{2});
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));

        // Edit > Delete with nothing selected: nothing, not even a question.
        scripted().clear();
        f->TDBGrid1->SelBookmarks().Clear();
        f->mnuEdit_Delete->trigger();
        QVERIFY(scripted().boxes.isEmpty());
        // With a selection it deletes messages, not addresses.
        sql("INSERT INTO MasterList (Email) VALUES ('s1@example.org')");
        selectRows(f->TDBGrid1, {1});
        f->mnuEdit_Delete->trigger();
        QCOMPARE(scripted().boxes.first().prompt, QStringLiteral("Confirm Deleting Selected Messages?"));
        QCOMPARE(f->xa->UpperBound(1), 8);
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 1);
    }

    void addToMaster()
    {
        const QString h = home + "/Mail/Senders";
        writeMessage(h, 1, "Known <known@example.org>", "Known");
        writeMessage(h, 2, "New <new@example.org>", "New");
        writeMessage(h, 3, "Again <again@example.org>", "Again 1");
        writeMessage(h, 4, "Again <again@example.org>", "Again 2");
        writeMessage(h, 5, "Only A Name", "Name only");
        writeMessage(h, 6, "Quote <o'brien@example.org>", "Quote");
        // Senders no send could use; such a From header reads back as its own text.
        writeMessage(h, 7, "\"ann@b@example.org\"", "Two at signs");
        writeMessage(h, 8, "\"=HYPERLINK(\\\"http://x\\\")@example.com\"", "Formula");
        writeMessage(h, 9, "-x@example.org", "Option-like");
        f->LoadFolders();
        click(f, keyOf(f, "Senders"));
        QCOMPARE(f->xa->UpperBound(1), 9);
        sql("INSERT INTO MasterList (Email, SortName) VALUES ('known@example.org', 'Kept')");
        selectRows(f->TDBGrid1, {1, 2, 3, 4, 5, 6, 7, 8, 9});
        scripted().clear();
        f->mnuEmailPopAddToMaster->trigger();
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 4);
        for (const char* e : {"known@example.org", "new@example.org", "again@example.org", "o''brien@example.org"})
            QCOMPARE(count(QStringLiteral("SELECT COUNT(*) FROM MasterList WHERE Email = '%1'").arg(QLatin1String(e))), 1);
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList WHERE SortName = 'Kept'"), 1);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers"), 0);
        // The name without an address and the unsendable ones are skipped, told once at the end.
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().lastPrompt(), kItemError);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));

        // Known ones only: nothing to say.
        scripted().clear();
        selectRows(f->TDBGrid1, {1, 2});
        f->mnuEmailPopAddToMaster->trigger();
        QVERIFY(scripted().boxes.isEmpty());
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 4);
    }

    // ---- mail-folder popup ----
    void deleteFolderRefused_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("refusal");
        for (const char* name : {"Inbox", "Outbox", "Sent Items", "Drafts", "Deleted Items"})
            QTest::newRow(name) << name << "Cannot Delete Reserved Folder";
        QTest::newRow("with a child") << "Projects" << "Cannot Delete Folder.  It Has Children.";
    }
    void deleteFolderRefused()
    {
        QFETCH(QString, folder);
        QFETCH(QString, refusal);
        const QString key = keyOf(f, folder);
        click(f, key);
        const int nodes = f->TreeView1->Nodes().Count();
        scripted().clear();
        f->mnuFolderEmailPopDelete_Click();
        QCOMPARE(scripted().boxes.size(), 2);
        QCOMPARE(scripted().boxes.first().prompt, QStringLiteral("Confirm Deleting Folder %1?").arg(folder));
        QCOMPARE(scripted().boxes.first().style, int(ui::vbYesNo + ui::vbQuestion));
        QCOMPARE(scripted().lastPrompt(), refusal);
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QCOMPARE(f->TreeView1->Nodes().Count(), nodes);
        QVERIFY(MAPINameSpace->GetFolderFromID(key));
        QCOMPARE(CurrentFolderNode, key);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
    }

    void deleteFolderWithMessages()
    {
        const QString old = keyOf(f, "Old");
        click(f, old);
        QCOMPARE(f->xa->UpperBound(1), 3);
        const int nodes = f->TreeView1->Nodes().Count();
        scripted().boxAnswers.enqueue(ui::vbNo);
        f->mnuFolderEmailPopDelete->trigger();
        QVERIFY(QDir(home + "/Mail/Old").exists());

        f->mnuFolderEmailPopDelete->trigger();
        QVERIFY(!QDir(home + "/Mail/Old").exists());
        QCOMPARE(f->TreeView1->Nodes().Count(), nodes - 1);
        QVERIFY(!f->TreeView1->Nodes(old));
        QVERIFY_THROWS_EXCEPTION(mail::MailError, MAPINameSpace->GetFolderFromID(old));
        // The parent, the store, is selected and shown.
        const QString store = keyOf(f, "Personal Folders");
        QCOMPARE(CurrentFolderNode, store);
        QCOMPARE(f->TreeView1->SelectedItem()->Key(), store);
        QCOMPARE(f->MessageListFolderKey(), store);
        QCOMPARE(f->lblRightPane->text(), QStringLiteral("Message List (Personal Folders)"));
        QCOMPARE(fileCount(home + "/Mail/Deleted Items"), 0);
        QCOMPARE(scripted().boxes.size(), 2);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));

        // A leaf under Inbox: the Inbox is shown afterwards.
        const QString sub = keyOf(f, "Sub");
        click(f, sub);
        f->mnuFolderEmailPopDelete->trigger();
        QCOMPARE(CurrentFolderNode, keyOf(f, "Projects"));
        QCOMPARE(f->xa->UpperBound(1), 1);
        QCOMPARE(f->lblMessageHeaderSubject->text(), QStringLiteral("Project"));
    }

    void deleteFolderItsParentDoesNotList()
    {
        const QString old = keyOf(f, "Old");
        click(f, old);
        // Put elsewhere behind the program's back and linked in its place: the store lists no such folder.
        QVERIFY(QDir().rename(home + "/Mail/Old", home + "/Elsewhere"));
        QVERIFY(QFile::link(home + "/Elsewhere", home + "/Mail/Old"));
        scripted().clear();
        f->mnuFolderEmailPopDelete->trigger();
        QCOMPARE(scripted().boxes.size(), 2);
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Cannot Delete Folder.  The folder could not be found."));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QCOMPARE(fileCount(home + "/Elsewhere"), 3);
        // The tree is read again from the store, and the parent is shown in place of the folder.
        QVERIFY(!f->TreeView1->Nodes(old));
        const QString store = keyOf(f, "Personal Folders");
        QCOMPARE(CurrentFolderNode, store);
        QCOMPARE(f->TreeView1->SelectedItem()->Key(), store);
        QCOMPARE(f->MessageListFolderKey(), store);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
    }

    void refreshFromTheAddressLayout()
    {
        click(f, master);
        QCOMPARE(f->AddressListMode, 1);
        writeMessage(home + "/Mail/Inbox", 11, "S11 <s11@example.org>", "Message 11");
        CurrentFolderNode = inbox;
        f->mnuFolderEmailPopRefresh->trigger();
        QCOMPARE(f->AddressListMode, 0);
        QVERIFY(!f->TDBGrid1->isHidden());
        QVERIFY(f->TDBGrid2->isHidden());
        QCOMPARE(f->xa->UpperBound(1), 11);
        QCOMPARE(previewedRow(f), f->TDBGrid1->Bookmark().toInt());
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
    }

    void newFolderAndRename()
    {
        click(f, keyOf(f, "Projects"));
        f->TreeView1->Nodes(keyOf(f, "Projects"))->SetSelected(true);
        QString parent, renameText;
        scripted().dialogHandlers["Form2"] = [&](QDialog* d) {
            parent = static_cast<Form2*>(d)->ParentEntryID;
            return 0;
        };
        scripted().dialogHandlers["Form7"] = [&](QDialog* d) {
            renameText = d->findChild<QLineEdit*>()->text();
            return 0;
        };
        f->mnuFolderEmailPopNewFolder->trigger();
        f->mnuFolderEmailPopRename->trigger();
        scripted().dialogHandlers.clear();
        QCOMPARE(scripted().dialogsShown, (QStringList{"Form2", "Form7"}));
        QCOMPARE(parent, keyOf(f, "Projects"));
        QCOMPARE(renameText, QStringLiteral("Projects"));
    }

    // ---- toolbar ----
    void toolbar_data()
    {
        QTest::addColumn<bool>("messages");
        QTest::addColumn<int>("selected");
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("outcome");
        const QStringList m = {"", "dialog Form3", "dialog Form2", "compose 0", "open Message 2", "reply s2@example.org",
                               "print Message 3", "ask Confirm Deleting Selected Messages?", "dialog Form16", "dialog Form4",
                               "document dravonel.html"};
        const QStringList a = {"", "dialog Form3", "dialog Form2", "compose 0", "compose 2", "compose 2",
                               "say " + kNotAMessage, "ask Confirm Deleting Selected Addresses", "dialog Form16", "dialog Form4",
                               "document dravonel.html"};
        for (int i = 0; i <= 11; ++i) {
            QTest::newRow(qPrintable(QStringLiteral("messages %1").arg(i))) << true << 1 << i << m.value(i);
            QTest::newRow(qPrintable(QStringLiteral("addresses %1").arg(i))) << false << 2 << i << a.value(i);
        }
        // With no message selected Print, Delete and Properties do nothing.
        for (int i : {6, 7, 9}) QTest::newRow(qPrintable(QStringLiteral("no message %1").arg(i))) << true << 0 << i << "";
    }
    void toolbar()
    {
        QFETCH(bool, messages);
        QFETCH(int, selected);
        QFETCH(int, index);
        QFETCH(QString, outcome);
        sql("INSERT INTO MasterList (Email) VALUES ('a1@example.org')");
        sql("INSERT INTO MasterList (Email) VALUES ('a2@example.org')");
        if (!messages) click(f, master);
        ui::DataGrid* g = messages ? f->TDBGrid1 : f->TDBGrid2;
        selectRows(g, selected == 0 ? QList<int>{} : selected == 1 ? QList<int>{3} : QList<int>{1, 2});
        f->TDBGrid1->SetBookmark(2);
        scripted().clear();
        scripted().boxAnswers.enqueue(ui::vbNo);
        f->Toolbar1_ButtonClick(index);
        QStringList happened;
        for (const QString& d : scripted().dialogsShown) happened << "dialog " + d;
        for (const auto& m : shown) {
            if (!m->EntryID().isEmpty())
                happened << "open " + m->Subject();
            else if (m->Subject().startsWith(QLatin1String("RE")))
                happened << "reply " + addresses(m).join(',');
            else
                happened << "compose " + QString::number(m->Recipients().Count());
        }
        for (const QString& p : printed) happened << "print " + p;
        for (const QString& d : scripted().openedDocuments) happened << "document " + QFileInfo(d).fileName();
        for (const auto& b : scripted().boxes)
            happened << (b.style == ui::vbYesNo + ui::vbQuestion ? "ask " : "say ") + b.prompt;
        QCOMPARE(happened.join(QLatin1String("; ")), outcome);
    }

    void toolbarButtonsRunTheirIndex()
    {
        const QList<QAction*> buttons = f->Toolbar1->actions();
        QCOMPARE(buttons.size(), 10);
        QCOMPARE(buttons.at(2)->text(), QStringLiteral("Compose"));
        buttons.at(2)->trigger();
        QCOMPARE(shown.size(), 1);
    }

    void getMailRunsSendAndReceive()
    {
        SmtpTestServer server;
        mail::send::Account a;
        a.name = QStringLiteral("Work");
        a.address = QStringLiteral("ann@example.org");
        a.transport = server.url();
        const QString arrived = home + "/Mail/Inbox/new/1700099999.M1P1.arrived";
        a.receiveCommand = QStringLiteral("printf 'From: r@example.org\\nTo: ann@example.org\\nSubject: Arrived\\n\\nHi\\n' > '%1'")
                               .arg(arrived);
        QVERIFY(mail::send::SaveAccounts({a}));
        // Queued as Send queues, without asking for a delivery: Get Mail delivers it.
        QVERIFY(!mail::send::QueueMessage(MAPINameSpace->GetDefaultFolder(mail::olFolderOutbox)->Path(),
                                          "From: ann@example.org\r\nTo: bob@example.net\r\nSubject: Waiting\r\n\r\nText\r\n")
                     .isEmpty());
        bool finished = false;
        scripted().dialogHandlers["Form16"] = [&](QDialog* d) {
            auto* dlg = static_cast<Form16*>(d);
            dlg->Command1_Click();
            QSignalSpy done(OLAPPObject->CheckMessagesExplorer.get(), &mail::Explorer::SendAndReceiveFinished);
            // Events run by hand: an unloaded main window has told every event loop to quit.
            QDeadlineTimer deadline(20000);
            while (done.isEmpty() && !deadline.hasExpired()) QTest::qWait(20);
            finished = !done.isEmpty();
            dlg->Command2_Click();
            return int(QDialog::Accepted);
        };
        f->Toolbar1->actions().at(7)->trigger();
        scripted().dialogHandlers.clear();
        QVERIFY(finished);
        QCOMPARE(server.messageCount(), 1);
        QCOMPARE(fileCount(home + "/Mail/Outbox"), 0);
        QVERIFY(QFile::exists(arrived));
        // The Inbox was shown: it lists what arrived.
        QCOMPARE(f->xa->UpperBound(1), 11);
        QVERIFY(!OLAPPObject->CheckMessagesExplorer);
    }

    // A draft saved for the first time joins the Drafts list shown; the row shown stays.
    void aNewDraftJoinsTheDraftsShown()
    {
        mail::Hooks() = savedHooks;  // the mail host's own windows
        writeMessage(home + "/Mail/Drafts", 1, "D <d@example.org>", "Older draft");
        click(f, keyOf(f, "Drafts"));
        QCOMPARE(f->xa->UpperBound(1), 1);
        f->filem_new->trigger();
        mail::ComposeWindow* c = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* cw = qobject_cast<mail::ComposeWindow*>(w); cw && cw->isVisible()) c = cw;
        QVERIFY(c);
        QTest::keyClicks(c->txtSubject, QStringLiteral("Agenda"));
        QVERIFY(c->Save_Click());
        QTRY_COMPARE(f->xa->UpperBound(1), 2);
        QStringList subjects{f->xa->Value(1, 5).toString(), f->xa->Value(2, 5).toString()};
        subjects.sort();
        QCOMPARE(subjects, (QStringList{"Agenda", "Older draft"}));
        QCOMPARE(f->lblMessageHeaderSubject->text(), QStringLiteral("Older draft"));
        c->close();
    }

    // ---- Edit menu ----
    void selectAllKeepsTheCurrentRowAndPreview()
    {
        f->TDBGrid1->SetBookmark(1);
        f->LoadMessageFromBookmark(1);
        f->mnuEdit_SelectAll->trigger();
        QCOMPARE(selection(f->TDBGrid1), (QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
        QCOMPARE(f->TDBGrid1->Bookmark().toInt(), 1);
        QCOMPARE(previewedRow(f), 1);
        click(f, keyOf(f, "Drafts"));
        f->mnuEdit_SelectAll->trigger();
        QVERIFY(selection(f->TDBGrid1).isEmpty());
    }

    void cutCopyPasteKeysStayWithATextBox()
    {
        f->show();
        QApplication::setActiveWindow(f);
        QVERIFY(QTest::qWaitForWindowActive(f));
        QCOMPARE(f->mnuEdit_Copy->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
        QCOMPARE(f->mnuEdit_Paste->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_V));
        QCOMPARE(f->mnuEdit_Cut->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_X));
        QSignalSpy copyItem(f->mnuEdit_Copy, &QAction::triggered);
        f->LoadMessageFromBookmark(1);
        f->msgPane->setFocus();
        f->msgPane->selectAll();
        QApplication::clipboard()->clear();
        QTest::keyClick(f->msgPane, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), f->msgPane->toPlainText());
        QCOMPARE(copyItem.count(), 0);

        QLineEdit box(f->client());
        box.show();
        box.setFocus();
        QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box.text(), f->msgPane->toPlainText());
        QCOMPARE(copyItem.count(), 0);

        // Outside a text box the menu item takes the key and does nothing.
        f->TDBGrid1->setFocus();
        QTest::keyClick(f->TDBGrid1, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(copyItem.count(), 1);
        QVERIFY(scripted().boxes.isEmpty());
    }
};

FERROWYN_TEST_MAIN(TestForm1MessageCommands)
#include "tst_Form1MessageCommands.moc"
