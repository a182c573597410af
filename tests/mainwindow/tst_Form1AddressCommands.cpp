#include <QAction>

#include "core/TreeKeys.h"
#include "lists/Form3.h"
#include "tests/mainwindow/Form1GridTestUtil.h"

using namespace gridtest;

namespace {
QString address(int i) { return QStringLiteral("a%1@example.org").arg(i, 2, 10, QLatin1Char('0')); }

QStringList recipients(const mail::MailItemPtr& mi, int type)
{
    QStringList out;
    for (int i = 1; i <= mi->Recipients().Count(); ++i)
        if (mi->Recipients().Item(i)->Type() == type) out << mi->Recipients().Item(i)->Address();
    return out;
}
} // namespace

class TestForm1AddressCommands : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    QString inbox, master, alpha, beta, empty;

    QStringList rows()
    {
        QStringList out;
        for (int r = 1; r <= f->ex->UpperBound(1); ++r) out << f->ex->Value(r, 1).toString();
        return out;
    }
    int members(const QString& folderKey)
    {
        return count(QStringLiteral("SELECT COUNT(*) FROM ListMembers WHERE FolderRecID = %1").arg(FolderRecIDFromKey(folderKey)));
    }
    void deleteRows(const QList<int>& selected)
    {
        selectRows(f->TDBGrid2, selected);
        scripted().clear();
        f->mnuBulkPopDelete->trigger();
    }

private Q_SLOTS:
    void init()
    {
        f = start([](const QString& home) { seedInbox(home, 3); });
        QVERIFY(f);
        for (int i = 1; i <= 10; ++i) sql(QStringLiteral("INSERT INTO MasterList (Email) VALUES ('%1')").arg(address(i)));
        alpha = addListFolder(f, "alpha");
        beta = addListFolder(f, "beta");
        empty = addListFolder(f, "empty");
        for (int i = 1; i <= 10; ++i)
            sql(QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (%1, %2)").arg(i).arg(FolderRecIDFromKey(alpha)));
        for (int i : {3, 4})
            sql(QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (%1, %2)").arg(i).arg(FolderRecIDFromKey(beta)));
        inbox = keyOf(f, "Inbox");
        master = keyOf(f, "Master List");
        click(f, inbox);
    }
    void cleanupTestCase() { end(); }

    void deleteInTheMasterList()
    {
        click(f, master);
        // Rows 3 to 5 of ten: the former row 8 stands at 5 and becomes current and selected.
        deleteRows({4, 3, 5});
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Confirm Deleting Selected Addresses"));
        QCOMPARE(scripted().boxes.first().style, int(ui::vbYesNo + ui::vbQuestion));
        QCOMPARE(f->ex->UpperBound(1), 7);
        QCOMPARE(f->ex->Value(5, 1).toString(), address(8));
        QCOMPARE(selection(f->TDBGrid2), QList<int>{5});
        QCOMPARE(f->TDBGrid2->Bookmark().toInt(), 5);
        QCOMPARE(f->LastAddressBookmark.toInt(), 5);
        // The addresses left every folder and the Master List.
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 7);
        QCOMPARE(members(alpha), 7);
        QCOMPARE(members(beta), 0);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));

        // The last row: the new last row.
        deleteRows({7});
        QCOMPARE(f->ex->UpperBound(1), 6);
        QCOMPARE(selection(f->TDBGrid2), QList<int>{6});
        QCOMPARE(f->TDBGrid2->Bookmark().toInt(), 6);

        // Every row.
        f->mnuEdit_SelectAll->trigger();
        scripted().clear();
        f->mnuEdit_Delete->trigger();
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Confirm Deleting Selected Addresses"));
        QCOMPARE(f->ex->UpperBound(1), 0);
        QVERIFY(selection(f->TDBGrid2).isEmpty());
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 0);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers"), 0);
        QCOMPARE(f->StatusBar1->PanelText(1), QStringLiteral("0 Items."));
    }

    void deleteInAListFolder()
    {
        click(f, alpha);
        deleteRows({3, 4, 5});
        QCOMPARE(rows(), (QStringList{address(1), address(2), address(6), address(7), address(8), address(9), address(10)}));
        QCOMPARE(selection(f->TDBGrid2), QList<int>{5});
        // Only the memberships went.
        QCOMPARE(members(alpha), 7);
        QCOMPARE(members(beta), 2);
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 10);

        // The view is the one the rows came from, whatever node the tree shows as current.
        CurrentFolderNode = master;
        f->TreeView1->Nodes(master)->SetSelected(true);
        deleteRows({1});
        QCOMPARE(members(alpha), 6);
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 10);
        QCOMPARE(f->AddressListFolderKey(), alpha);
        QCOMPARE(f->ex->UpperBound(1), 6);
    }

    void deleteRefusedOrNotAsked()
    {
        click(f, master);
        f->TDBGrid2->SelBookmarks().Clear();
        scripted().clear();
        f->mnuBulkPopDelete->trigger();
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("Cannot Delete.  No Email Addresses Selected."));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));

        selectRows(f->TDBGrid2, {1, 2});
        scripted().boxAnswers.enqueue(ui::vbNo);
        f->mnuBulkPopDelete->trigger();
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 10);

        // The database refuses the second statement: nothing at all is deleted, and the user hears why.
        sql("CREATE TRIGGER keep BEFORE DELETE ON MasterList BEGIN SELECT RAISE(ABORT, 'kept by a rule'); END");
        deleteRows({3, 4});
        QCOMPARE(scripted().boxes.size(), 2);
        QVERIFY(scripted().lastPrompt().startsWith(QStringLiteral("Cannot Delete.  Nothing was deleted.")));
        QVERIFY(scripted().lastPrompt().contains(QStringLiteral("kept by a rule")));
        QCOMPARE(scripted().boxes.last().style, int(ui::vbCritical));
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 10);
        QCOMPARE(members(beta), 2);
        QCOMPARE(f->ex->UpperBound(1), 10);
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
    }

    void composeMessage()
    {
        click(f, alpha);
        mail::MailItemPtr shown;
        const auto saved = mail::Hooks().display;
        mail::Hooks().display = [&](const mail::MailItemPtr& mi, bool) { shown = mi; };
        selectRows(f->TDBGrid2, {4});
        f->mnuBulkPopCompose->trigger();
        QVERIFY(shown);
        QCOMPARE(recipients(shown, mail::olTo), QStringList{address(4)});
        QCOMPARE(shown->Recipients().Count(), 1);

        selectRows(f->TDBGrid2, {7, 2, 9});
        f->mnuBulkPopCompose->trigger();
        QCOMPARE(recipients(shown, mail::olBCC), (QStringList{address(7), address(2), address(9)}));
        QVERIFY(recipients(shown, mail::olTo).isEmpty());
        QCOMPARE(ui::GetMousePointer(), int(ui::vbArrow));
        mail::Hooks().display = saved;
    }

    void selectAll()
    {
        click(f, empty);
        f->mnuEdit_SelectAll->trigger();
        QVERIFY(selection(f->TDBGrid2).isEmpty());
        click(f, beta);
        f->TDBGrid2->SetBookmark(2);
        f->mnuEdit_SelectAll->trigger();
        QCOMPARE(selection(f->TDBGrid2), (QList<int>{1, 2}));
        QCOMPARE(f->TDBGrid2->Bookmark().toInt(), 2);
    }

    void newAddressTakesTheCurrentFolder()
    {
        click(f, beta);
        QString nodx;
        scripted().dialogHandlers["Form3"] = [&](QDialog* d) {
            nodx = static_cast<Form3*>(d)->nodx();
            return 0;
        };
        f->mnuBulkPopNew->trigger();
        scripted().dialogHandlers.clear();
        QCOMPARE(nodx, beta);
    }
};

FERROWYN_TEST_MAIN(TestForm1AddressCommands)
#include "tst_Form1AddressCommands.moc"
