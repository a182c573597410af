#include <QDrag>
#include <QDropEvent>

#include "core/TreeKeys.h"
#include "tests/mainwindow/Form1GridTestUtil.h"

using namespace gridtest;

namespace {
const QString kItemError = QStringLiteral(
    "There was an error processing selected item(s).  Some of the selected item(s) may have been deleted or are "
    "not Mail Messages.  Check the Item(s) and Refresh the list to remedy.");

// A drag started from now on drops on the node with that key; an empty key drops on empty space.
void dropOn(Form1* f, const QString& key)
{
    ui::DataGrid::SetDragRunner([f, key](QDrag& drag) {
        // The drop arrives as the tree's own drop event, over the node's row or over empty space.
        QWidget* vp = f->TreeView1->viewport();
        const QPoint p = key.isEmpty() ? QPoint(5, vp->height() - 2)
                                       : f->TreeView1->visualItemRect(f->TreeView1->Nodes(key)->item()).center();
        QDropEvent drop(QPointF(p), Qt::CopyAction | Qt::MoveAction, drag.mimeData(), Qt::LeftButton, Qt::NoModifier);
        QDragEnterEvent enter(p, Qt::CopyAction | Qt::MoveAction, drag.mimeData(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(vp, &enter);
        QCoreApplication::sendEvent(vp, &drop);
        return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
    });
}

// Drags the grid's selected rows as the user would (button-down moves) and drops them on the
// node with that key.
void dragTo(Form1* f, bool messages, const QString& key)
{
    dropOn(f, key);
    // One drag: 5 moves start it in the message grid, 10 in the address grid.
    for (int i = 0; i < (messages ? 5 : 10); ++i) {
        if (messages) f->TDBGrid1_MouseMove(1, 0, 300, 300);
        else f->TDBGrid2_MouseMove(1, 0, 300, 300);
    }
    ui::DataGrid::SetDragRunner(nullptr);
}

void select(ui::DataGrid* g, const QList<int>& rows)
{
    g->SelBookmarks().Clear();
    for (int r : rows) g->SelBookmarks().Add(r);
}

int members(const QString& folderKey)
{
    return count(QStringLiteral("SELECT COUNT(*) FROM ListMembers WHERE FolderRecID = %1").arg(FolderRecIDFromKey(folderKey)));
}

QStringList subjects(Form1* f)
{
    QStringList out;
    for (int r = 1; r <= f->xa->UpperBound(1); ++r) out << f->xa->Value(r, 5).toString();
    return out;
}
} // namespace

class TestForm1Drop : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    QString inbox, archive, alpha, master;

    void startWithInbox()
    {
        f = start([](const QString& home) {
            seedInbox(home, 10);
            maildir(home + "/Mail/Archive");
            // A sender with a name only, one with no From at all, an address with a quote, and
            // an address without a domain.
            writeMessage(home + "/Mail/Odd", 1, "Just A Name", "Name only");
            writeMessage(home + "/Mail/Odd", 2, QString(), "No sender");
            writeMessage(home + "/Mail/Odd", 3, "O'Brien <o'brien@example.org>", "Quote");
            writeMessage(home + "/Mail/Odd", 4, "Again <o'brien@example.org>", "Quote again");
            writeMessage(home + "/Mail/Odd", 5, "Sales <sales>", "Local only");
            writeMessage(home + "/Mail/Odd", 6, "\"ann@b@example.org\"", "Two at signs");
        });
        QVERIFY(f);
        alpha = addListFolder(f, "alpha");
        inbox = keyOf(f, "Inbox");
        archive = keyOf(f, "Archive");
        master = keyOf(f, "Master List");
        QVERIFY(!alpha.isEmpty() && !inbox.isEmpty() && !archive.isEmpty() && !master.isEmpty());
    }

private Q_SLOTS:
    void cleanupTestCase() { end(); }

    void addressesOntoListFolder()
    {
        startWithInbox();
        for (const char* a : {"a@example.org", "b@example.org", "c@example.org"})
            sql(QStringLiteral("INSERT INTO MasterList (Email) VALUES ('%1')").arg(QString::fromLatin1(a)));
        click(f, inbox);
        click(f, master);
        select(f->TDBGrid2, {3, 1});
        dragTo(f, false, alpha);
        QCOMPARE(members(alpha), 2);
        // Again, and a mix: only the missing one is added.
        dragTo(f, false, alpha);
        QCOMPARE(members(alpha), 2);
        select(f->TDBGrid2, {1, 2});
        dragTo(f, false, alpha);
        QCOMPARE(members(alpha), 3);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers WHERE FolderRecID = " + QString::number(FolderRecIDFromKey(alpha)) +
                       " AND MasterRecID = 2"),
                 1);
        // Onto the Master List, a mail folder or empty space: nothing.
        for (const QString& key : {master, inbox, QString()}) dragTo(f, false, key);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers"), 3);
        QCOMPARE(scripted().boxes.size(), 0);
    }

    void messagesOntoListFolders()
    {
        startWithInbox();
        click(f, inbox);
        // Rows 1 and 2 come from s1 and s2; onto the Master List they only join it.
        select(f->TDBGrid1, {1, 2});
        dragTo(f, true, master);
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList WHERE Email IN ('s1@example.org', 's2@example.org')"), 2);
        QCOMPARE(count("SELECT COUNT(*) FROM ListMembers"), 0);
        // Onto a list folder they also become members, once however often they are dropped.
        select(f->TDBGrid1, {2, 3});
        dragTo(f, true, alpha);
        dragTo(f, true, alpha);
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 3);
        QCOMPARE(members(alpha), 2);
        QCOMPARE(f->xa->UpperBound(1), 10);

        // A sender that is no address a send could use, or none at all, is reported and skipped;
        // a quote in an address is found again, so its second message adds nothing.
        click(f, keyOf(f, "Odd"));
        select(f->TDBGrid1, {1, 2, 3, 4, 5, 6});
        scripted().boxes.clear();
        dragTo(f, true, alpha);
        QCOMPARE(scripted().boxes.size(), 4);
        for (const auto& b : scripted().boxes) {
            QCOMPARE(b.prompt, kItemError);
            QCOMPARE(b.style, int(ui::vbCritical));
        }
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList"), 4);
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList WHERE Email = 'o''brien@example.org'"), 1);
        QCOMPARE(count("SELECT COUNT(*) FROM MasterList WHERE Email NOT LIKE '%@%'"), 0);
        QCOMPARE(members(alpha), 3);
    }

    // Rows picked with Ctrl, then a plain press on one of them and the moves of a drag: all of
    // them are dropped.
    void severalRowsDraggedWithTheMouse_data()
    {
        QTest::addColumn<bool>("messages");
        QTest::newRow("messages") << true;
        QTest::newRow("addresses") << false;
    }
    void severalRowsDraggedWithTheMouse()
    {
        QFETCH(bool, messages);
        startWithInbox();
        for (const char* a : {"a@example.org", "b@example.org", "c@example.org"})
            sql(QStringLiteral("INSERT INTO MasterList (Email) VALUES ('%1')").arg(QString::fromLatin1(a)));
        click(f, messages ? master : inbox);
        click(f, messages ? inbox : master);
        roomy(f);
        ui::DataGrid* g = messages ? f->TDBGrid1 : f->TDBGrid2;
        QWidget* vp = g->viewport();
        QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, rowPoint(g, 1));
        QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, rowPoint(g, 2));
        QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, rowPoint(g, 3));
        QCOMPARE(selection(g), (QList<int>{1, 2, 3}));

        dropOn(f, alpha);
        const QPoint p = rowPoint(g, 2);
        QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, p);
        for (int i = 1; i <= (messages ? 5 : 10); ++i) QTest::mouseMove(vp, p + QPoint(i, 0));
        QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, p + QPoint(10, 0));
        ui::DataGrid::SetDragRunner(nullptr);
        QCOMPARE(members(alpha), 3);
        QCOMPARE(selection(g), (QList<int>{1, 2, 3}));
    }

    void messagesOntoMailFolder_data()
    {
        QTest::addColumn<QList<int>>("moved");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("previewed");
        QTest::newRow("rows 3 and 4") << QList<int>{4, 3} << 4 << "Message 6";
        QTest::newRow("last two") << QList<int>{9, 10} << 8 << "Message 8";
        QTest::newRow("all") << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10} << 0 << "";
    }
    void messagesOntoMailFolder()
    {
        QFETCH(QList<int>, moved);
        QFETCH(int, selected);
        QFETCH(QString, previewed);
        startWithInbox();
        click(f, inbox);
        select(f->TDBGrid1, moved);
        QStringList left = subjects(f);
        for (int r : moved) left.removeAll(QStringLiteral("Message %1").arg(r));
        dragTo(f, true, archive);
        QCOMPARE(subjects(f), left);
        QCOMPARE(f->TDBGrid1->Array()->UpperBound(1), left.size());
        QCOMPARE(MAPINameSpace->GetFolderFromID(archive)->Items()->Count(), int(moved.size()));
        QCOMPARE(MAPINameSpace->GetFolderFromID(inbox)->Items()->Count(), int(left.size()));
        QCOMPARE(selection(f->TDBGrid1), selected ? QList<int>{selected} : QList<int>{});
        QCOMPARE(f->lblMessageHeaderSubject->text(), previewed);
        if (selected) QCOMPARE(f->TDBGrid1->Bookmark().toInt(), selected);
    }

    // A message gone since the list was read stops the move; those moved before it still leave
    // the list.
    void messagesOntoMailFolderStopAtAGoneMessage()
    {
        startWithInbox();
        click(f, inbox);
        const QStringList before = subjects(f);
        const mail::MailItemPtr gone = mail::AsMailItem(MAPINameSpace->GetItemFromID(f->xa->Value(2, 8).toString()));
        QVERIFY(gone);
        gone->Move(MAPINameSpace->GetFolderFromID(archive));
        select(f->TDBGrid1, {1, 2, 3});
        dragTo(f, true, archive);
        QCOMPARE(subjects(f), before.mid(1));
        QCOMPARE(MAPINameSpace->GetFolderFromID(archive)->Items()->Count(), 2);
        QCOMPARE(MAPINameSpace->GetFolderFromID(inbox)->Items()->Count(), 8);
    }

    // Only Send puts messages into the Outbox: a drop there is refused with the mail host's words.
    void messagesOntoTheOutbox()
    {
        startWithInbox();
        click(f, inbox);
        select(f->TDBGrid1, {1, 2});
        scripted().boxes.clear();
        dragTo(f, true, keyOf(f, "Outbox"));
        QCOMPARE(scripted().boxes.size(), 1);
        QCOMPARE(scripted().lastPrompt(), QStringLiteral("A message cannot be moved or copied into the Outbox: only Send puts a message there."));
        QCOMPARE(scripted().boxes.first().style, int(ui::vbCritical));
        QCOMPARE(f->xa->UpperBound(1), 10);
        QCOMPARE(MAPINameSpace->GetDefaultFolder(mail::olFolderOutbox)->Items()->Count(), 0);
    }

    void messagesOntoTheirOwnFolder()
    {
        startWithInbox();
        click(f, inbox);
        select(f->TDBGrid1, {3, 4});
        dragTo(f, true, inbox);
        QCOMPARE(f->xa->UpperBound(1), 10);
        QCOMPARE(MAPINameSpace->GetFolderFromID(inbox)->Items()->Count(), 10);
        QCOMPARE(selection(f->TDBGrid1), (QList<int>{3, 4}));
    }

    // Only a drag started in one of the grids is taken; what an earlier drag left is not reused.
    void dropNotFromAGrid()
    {
        startWithInbox();
        sql("INSERT INTO MasterList (Email) VALUES ('a@example.org')");
        click(f, inbox);
        click(f, master);
        select(f->TDBGrid2, {1});
        dragTo(f, false, alpha);
        QCOMPARE(members(alpha), 1);
        sql("DELETE FROM ListMembers");
        const QPointF p = nodePoint(f, alpha);
        int effect = ui::vbDropEffectCopy;
        f->TreeView1_OLEDragDrop(nullptr, effect, 1, 0, p.x(), p.y());
        QCOMPARE(effect, int(ui::vbDropEffectNone));
        QCOMPARE(members(alpha), 0);
        // Nor with the state of a drag that never started from a grid.
        f->DragSource = 1;
        f->DragBookmarks = QVariantList{QVariant(), 1};
        f->TreeView1_OLEDragDrop(nullptr, effect, 1, 0, p.x(), p.y());
        QCOMPARE(members(alpha), 0);
    }
};

FERROWYN_TEST_MAIN(TestForm1Drop)
#include "tst_Form1Drop.moc"
