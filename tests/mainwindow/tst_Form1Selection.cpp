#include <QAction>
#include <QDrag>
#include <QMenu>

#include "core/Conversions.h"
#include "core/TreeKeys.h"
#include "lists/Form4.h"
#include "platform/mail/send/Spooler.h"
#include "tests/mainwindow/Form1GridTestUtil.h"

using namespace gridtest;

namespace {
// "L0:2 L2:5 R0:3": button (L/R), shift state, row (0 is below the last row).
void run(Form1* f, bool messages, const QString& steps)
{
    ui::DataGrid* g = messages ? f->TDBGrid1 : f->TDBGrid2;
    for (const QString& step : steps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const int button = step.at(0) == QLatin1Char('L') ? 1 : 2;
        const int shift = step.mid(1, 1).toInt();
        const int row = step.mid(3).toInt();
        const double y = row > 0 ? rowY(g, row) : 1e7;
        if (messages)
            f->TDBGrid1_MouseButton(button, shift, 300, y);
        else
            f->TDBGrid2_MouseButton(button, shift, 300, y);
    }
}

QList<int> ints(const QString& s)
{
    QList<int> out;
    for (const QString& p : s.split(QLatin1Char(','), Qt::SkipEmptyParts)) out << p.toInt();
    return out;
}
} // namespace

class TestForm1Selection : public QObject {
    Q_OBJECT
    Form1* f = nullptr;
    QString inbox, alpha, master;

    void showMessages()
    {
        // Another folder first, so the click below loads the Inbox afresh: row 1 selected, shown.
        click(f, master);
        click(f, inbox);
        roomy(f);
    }
    void showAddresses(const QString& key)
    {
        click(f, inbox);
        click(f, key);
        roomy(f);
    }

private Q_SLOTS:
    void initTestCase()
    {
        f = start([](const QString& home) {
            seedInbox(home, 9);
            // Two of one day and one of the day before, for the date sort's ties.
            writeMessage(home + "/Mail/Inbox/Days", 1, "A <a@example.org>", "Early same day", "Wed, 15 Nov 2023 08:00:00 +0000");
            writeMessage(home + "/Mail/Inbox/Days", 2, "B <b@example.org>", "Day before", "Tue, 14 Nov 2023 23:00:00 +0000");
            writeMessage(home + "/Mail/Inbox/Days", 3, "C <c@example.org>", "Late same day", "Wed, 15 Nov 2023 20:00:00 +0000");
            for (int n : {2, 4, 6, 8}) writeMessage(home + "/Mail/Sent Items", n, QString(), QStringLiteral("Sent %1").arg(n));
        });
        QVERIFY(f);
        for (int i = 1; i <= 9; ++i)
            sql(QStringLiteral("INSERT INTO MasterList (Email, SortName) VALUES ('a%1@example.org', 'Name %2')").arg(i).arg(10 - i));
        alpha = addListFolder(f, "alpha");
        inbox = keyOf(f, "Inbox");
        master = keyOf(f, "Master List");
        QVERIFY(!alpha.isEmpty() && !inbox.isEmpty() && !master.isEmpty());
    }
    void cleanupTestCase() { end(); }
    void cleanup() { ui::DataGrid::SetDragRunner(nullptr); }

    void messageGrid_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<int>("anchor");
        QTest::addColumn<int>("previewed");
        QTest::newRow("after load") << "" << "1" << 1 << 1;
        QTest::newRow("plain") << "L0:3" << "3" << 3 << 3;
        QTest::newRow("plain on anchor keeps Ctrl selection") << "L0:2 L2:5 L2:7 L0:7" << "2,5,7" << 7 << 7;
        QTest::newRow("Ctrl on a selected row keeps it") << "L0:2 L2:4 L2:2" << "2,4" << 2 << 2;
        QTest::newRow("Shift above anchor") << "L0:5 L1:2" << "2,3,4,5" << 2 << 2;
        QTest::newRow("second Shift from first Shift row") << "L0:5 L1:2 L1:4" << "2,3,4" << 4 << 4;
        QTest::newRow("Shift below anchor") << "L0:3 L1:6" << "3,4,5,6" << 6 << 6;
        QTest::newRow("right inside selection") << "L0:2 L2:3 R0:2" << "2,3" << 3 << 3;
        QTest::newRow("right outside selection") << "L0:2 L2:3 R0:6" << "6" << 6 << 6;
        QTest::newRow("below last row") << "L0:4 L0:0 L2:0 R0:0" << "4" << 4 << 4;
        QTest::newRow("Shift and Ctrl together") << "L0:4 L3:7" << "4" << 4 << 4;
    }
    void messageGrid()
    {
        QFETCH(QString, steps);
        QFETCH(QString, selected);
        QFETCH(int, anchor);
        QFETCH(int, previewed);
        showMessages();
        QCOMPARE(f->xa->UpperBound(1), 9);
        f->LastPopup = nullptr;
        run(f, true, steps);
        QCOMPARE(selection(f->TDBGrid1), ints(selected));
        QCOMPARE(f->LastMessageBookmark.toInt(), anchor);
        QCOMPARE(previewedRow(f), previewed);
        if (steps.contains(QLatin1Char('R')) && !steps.endsWith(QLatin1String(":0"))) {
            QCOMPARE(f->LastPopup, f->mnuEmailPop);
            QCOMPARE(f->mnuEmailPopProperties->isEnabled(), selection(f->TDBGrid1).size() <= 1);
        }
    }

    void addressGrid_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<int>("anchor");
        QTest::newRow("after load") << "" << "1" << 1;
        QTest::newRow("plain on anchor reduces to it") << "L0:2 L2:5 L0:5" << "5" << 5;
        QTest::newRow("Ctrl adds, never removes") << "L0:2 L2:4 L2:2" << "2,4" << 2;
        QTest::newRow("Shift above anchor, then again") << "L0:5 L1:2 L1:4" << "2,3,4" << 4;
        QTest::newRow("right inside selection") << "L0:2 L2:3 R0:2" << "2,3" << 3;
        QTest::newRow("right outside keeps the anchor") << "L0:2 R0:6" << "6" << 2;
        QTest::newRow("below last row") << "L0:4 L0:0" << "4" << 4;
    }
    void addressGrid()
    {
        QFETCH(QString, steps);
        QFETCH(QString, selected);
        QFETCH(int, anchor);
        showAddresses(master);
        QCOMPARE(f->ex->UpperBound(1), 9);
        run(f, false, steps);
        QCOMPARE(selection(f->TDBGrid2), ints(selected));
        QCOMPARE(f->LastAddressBookmark.toInt(), anchor);
    }

    void addressPopupEnablement()
    {
        sql(QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (1, %1)").arg(FolderRecIDFromKey(alpha)));
        sql(QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (2, %1)").arg(FolderRecIDFromKey(alpha)));
        struct Case {
            QString folder;
            QString steps;
            bool move;
            bool properties;
        };
        for (const Case& c : {Case{master, "L0:1 R0:1", false, true}, Case{alpha, "L0:1 R0:1", true, true},
                              Case{alpha, "L0:1 L2:2 R0:2", true, false}}) {
            showAddresses(c.folder);
            f->LastPopup = nullptr;
            run(f, false, c.steps);
            QCOMPARE(f->LastPopup, f->mnuBulkPop);
            QCOMPARE(f->mnuBulkPopMove->isEnabled(), c.move);
            QCOMPARE(f->mnuBulkPopProperties->isEnabled(), c.properties);
            f->mnuBulkPop->hide();
        }
        sql("DELETE FROM ListMembers");
    }

    // Real presses: the grid must leave selection to the window (a Ctrl press on a selected row
    // would otherwise take it out).
    void pressesReachTheHandlers()
    {
        showMessages();
        QTest::mouseClick(f->TDBGrid1->viewport(), Qt::LeftButton, Qt::NoModifier, rowPoint(f->TDBGrid1, 2));
        QTest::mouseClick(f->TDBGrid1->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(f->TDBGrid1, 4));
        QTest::mouseClick(f->TDBGrid1->viewport(), Qt::LeftButton, Qt::ControlModifier, rowPoint(f->TDBGrid1, 2));
        QCOMPARE(selection(f->TDBGrid1), (QList<int>{2, 4}));
        QCOMPARE(previewedRow(f), 2);
    }

    // A plain press on a row of a several-row selection keeps it while the button is down, as a
    // drag may follow; released without one, it selects that row alone. Moves of an earlier
    // press count nothing towards this one's drag.
    void plainClickInsideASelection_data()
    {
        QTest::addColumn<bool>("messages");
        QTest::newRow("messages") << true;
        QTest::newRow("addresses") << false;
    }
    void plainClickInsideASelection()
    {
        QFETCH(bool, messages);
        if (messages) showMessages();
        else showAddresses(master);
        ui::DataGrid* g = messages ? f->TDBGrid1 : f->TDBGrid2;
        QWidget* vp = g->viewport();
        int drags = 0;
        ui::DataGrid::SetDragRunner([&](QDrag&) {
            ++drags;
            return Qt::IgnoreAction;
        });
        const int moves = messages ? 5 : 10;
        QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, rowPoint(g, 2));
        QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, rowPoint(g, 4));
        QTest::mousePress(vp, Qt::LeftButton, Qt::ControlModifier, rowPoint(g, 6));
        for (int i = 1; i < moves; ++i) QTest::mouseMove(vp, rowPoint(g, 6) + QPoint(i, 0));
        QTest::mouseRelease(vp, Qt::LeftButton, Qt::ControlModifier, rowPoint(g, 6));
        QCOMPARE(selection(g), (QList<int>{2, 4, 6}));

        const QPoint p = rowPoint(g, 4);
        QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, p);
        QCOMPARE(selection(g), (QList<int>{2, 4, 6}));
        QTest::mouseMove(vp, p + QPoint(2, 0));
        QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, p + QPoint(2, 0));
        QCOMPARE(drags, 0);
        QCOMPARE(selection(g), QList<int>{4});
        QCOMPARE((messages ? f->LastMessageBookmark : f->LastAddressBookmark).toInt(), 4);
        if (messages) QCOMPARE(previewedRow(f), 4);
    }

    // A delivery run ends while a press on the selection is held: Sent Items is read again, in
    // the user's order, with one more message on top. The release selects the message pressed,
    // not the one that now stands under the pointer.
    void aReloadDuringAHeldPressSelectsThePressedMessage()
    {
        click(f, SentItemsNode);
        roomy(f);
        f->TDBGrid1_HeadClick(5);
        QCOMPARE(f->xa->Value(1, 5).toString(), QStringLiteral("Sent 8"));
        ui::DataGrid* g = f->TDBGrid1;
        QWidget* vp = g->viewport();
        QTest::mouseClick(vp, Qt::LeftButton, Qt::NoModifier, rowPoint(g, 1));
        QTest::mouseClick(vp, Qt::LeftButton, Qt::ControlModifier, rowPoint(g, 3));
        QCOMPARE(selection(g), (QList<int>{1, 3}));
        const QString pressed = f->xa->Value(1, 8).toString();
        const QPoint p = rowPoint(g, 1);
        QTest::mousePress(vp, Qt::LeftButton, Qt::NoModifier, p);
        writeMessage(testsupport::TestHome::path() + "/Mail/Sent Items", 9, QString(), QStringLiteral("Sent 9"));
        Q_EMIT OutlookApp->spooler()->runFinished(1, 0);
        QTest::mouseRelease(vp, Qt::LeftButton, Qt::NoModifier, p);
        QTRY_COMPARE(f->xa->UpperBound(1), 5);
        QCOMPARE(f->xa->Value(1, 5).toString(), QStringLiteral("Sent 9"));
        QCOMPARE(selection(g).size(), 1);
        QCOMPARE(f->xa->Value(selection(g).first(), 8).toString(), pressed);
        QCOMPARE(f->CurrentMailItem->EntryID(), pressed);
        QCOMPARE(f->xa->Value(f->LastMessageBookmark.toInt(), 8).toString(), pressed);
        QFile::remove(QDir(testsupport::TestHome::path() + "/Mail/Sent Items/cur").entryInfoList(QDir::Files).last().filePath());
    }

    void dragStart_data()
    {
        QTest::addColumn<bool>("messages");
        QTest::addColumn<int>("moves");
        QTest::addColumn<bool>("pressBetween");
        QTest::addColumn<int>("drags");
        QTest::newRow("messages 4") << true << 4 << false << 0;
        QTest::newRow("messages 5") << true << 5 << false << 1;
        QTest::newRow("messages 4, press, 4") << true << 8 << true << 0;
        QTest::newRow("addresses 9") << false << 9 << false << 0;
        QTest::newRow("addresses 10") << false << 10 << false << 1;
        QTest::newRow("messages 10: one drag per 5") << true << 10 << false << 2;
    }
    void dragStart()
    {
        QFETCH(bool, messages);
        QFETCH(int, moves);
        QFETCH(bool, pressBetween);
        QFETCH(int, drags);
        if (messages) showMessages();
        else showAddresses(master);
        ui::DataGrid* g = messages ? f->TDBGrid1 : f->TDBGrid2;
        run(f, messages, "L0:3 L2:1");
        int started = 0;
        QVariant captured, source;
        ui::DataGrid::SetDragRunner([&](QDrag&) {
            ++started;
            captured = f->DragBookmarks;
            source = f->DragSource;
            return Qt::IgnoreAction;
        });
        for (int i = 1; i <= moves; ++i) {
            if (pressBetween && i == moves / 2 + 1) run(f, messages, "L2:1");
            if (messages) f->TDBGrid1_MouseMove(1, 0, 300, rowY(g, 1));
            else f->TDBGrid2_MouseMove(1, 0, 300, rowY(g, 1));
        }
        QCOMPARE(started, drags);
        if (drags > 0) {
            QCOMPARE(captured, QVariant(QVariantList{QVariant(), 3, 1}));
            QCOMPARE(source.toInt(), messages ? 0 : 1);
            // The ended drag leaves nothing a later drop could act on.
            QVERIFY(!f->DragInProgress.toBool());
            QVERIFY(!f->DragBookmarks.isValid());
        }
    }

    void dragWithNothingSelected()
    {
        showMessages();
        f->TDBGrid1->SelBookmarks().Clear();
        QVariant captured;
        ui::DataGrid::SetDragRunner([&](QDrag&) {
            captured = f->DragBookmarks;
            return Qt::IgnoreAction;
        });
        for (int i = 0; i < 5; ++i) f->TDBGrid1_MouseMove(1, 0, 300, rowY(f->TDBGrid1, 1));
        QCOMPARE(captured, QVariant(QVariantList{QVariant()}));
        // Moves without the left button count nothing.
        int started = 0;
        ui::DataGrid::SetDragRunner([&](QDrag&) {
            ++started;
            return Qt::IgnoreAction;
        });
        for (int i = 0; i < 12; ++i) f->TDBGrid1_MouseMove(0, 0, 300, rowY(f->TDBGrid1, 1));
        QCOMPARE(started, 0);
    }

    void messageSort()
    {
        click(f, inbox);
        click(f, keyOf(f, "Days"));
        roomy(f);
        auto subjects = [this] {
            QStringList out;
            for (int r = 1; r <= f->xa->UpperBound(1); ++r) out << f->xa->Value(r, 5).toString();
            return out;
        };
        const QStringList loaded = subjects();
        QCOMPARE(loaded, (QStringList{"Day before", "Early same day", "Late same day"}));
        // Flag columns sort nothing.
        for (int c : {0, 1, 2, 3, 7}) f->TDBGrid1_HeadClick(c);
        QCOMPARE(subjects(), loaded);
        QCOMPARE(f->MessageSortState, (QVariantList{1, 1, 1}));

        struct Step {
            int col;
            QStringList order;
            QVariantList flags;
        };
        // Dates compare by day: the two of one day keep their order either way.
        const QList<Step> steps = {
            {6, {"Early same day", "Late same day", "Day before"}, {0, 0, 0}},
            {6, {"Day before", "Early same day", "Late same day"}, {0, 0, 1}},
            {5, {"Day before", "Early same day", "Late same day"}, {0, 1, 0}},
            {5, {"Late same day", "Early same day", "Day before"}, {0, 0, 0}},
            {4, {"Early same day", "Day before", "Late same day"}, {1, 0, 0}},
            {4, {"Late same day", "Day before", "Early same day"}, {0, 0, 0}},
        };
        for (const Step& s : steps) {
            run(f, true, "L0:2 L2:3");
            f->TDBGrid1_HeadClick(s.col);
            QCOMPARE(subjects(), s.order);
            QCOMPARE(f->MessageSortState, s.flags);
            // The first row is selected and is the one previewed.
            QCOMPARE(selection(f->TDBGrid1), QList<int>{1});
            QCOMPARE(f->LastMessageBookmark.toInt(), 1);
            QCOMPARE(previewedRow(f), 1);
            QCOMPARE(f->CurrentMailItem->EntryID(), f->xa->Value(1, 8).toString());
        }
    }

    void addressSort()
    {
        showAddresses(master);
        auto column = [this](int c) {
            QStringList out;
            for (int r = 1; r <= f->ex->UpperBound(1); ++r) out << f->ex->Value(r, c).toString();
            return out;
        };
        const QStringList loaded = column(1);
        f->TDBGrid2_HeadClick(0);
        f->TDBGrid2_HeadClick(4);
        QCOMPARE(column(1), loaded);
        QStringList sorted = loaded;
        std::sort(sorted.begin(), sorted.end());
        run(f, false, "L0:4 L2:5");
        f->TDBGrid2_HeadClick(1);
        QCOMPARE(column(1), QStringList(sorted.rbegin(), sorted.rend()));
        QCOMPARE(f->AddressSortState, (QVariantList{0, 0, 0}));
        QCOMPARE(selection(f->TDBGrid2), QList<int>{1});
        QCOMPARE(f->LastAddressBookmark.toInt(), 1);
        f->TDBGrid2_HeadClick(2);
        QCOMPARE(column(2).first(), QStringLiteral("Name 1"));
        QCOMPARE(f->AddressSortState, (QVariantList{0, 1, 0}));
        // A reload starts the flags again.
        showAddresses(master);
        QCOMPARE(f->AddressSortState, (QVariantList{1, 1, 1}));
    }

    void doubleClick()
    {
        showMessages();
        // The message has gone from the store: nothing happens.
        const QString id = f->xa->Value(1, 8).toString();
        QVERIFY(MAPINameSpace->GetItemFromID(id));
        QDir cur(testsupport::TestHome::path() + "/Mail/Inbox/cur");
        const QStringList files = cur.entryList(QDir::Files, QDir::Name);
        QVERIFY(QFile::rename(cur.filePath(files.first()), testsupport::TestHome::path() + "/gone"));
        f->TDBGrid1->SetBookmark(1);
        f->TDBGrid1_DblClick();
        QVERIFY(QFile::rename(testsupport::TestHome::path() + "/gone", cur.filePath(files.first())));
        // On an address row it opens the address editor for that row.
        showAddresses(master);
        scripted().clear();
        long shownRecID = -1;
        scripted().dialogHandlers.insert(QStringLiteral("Form4"), [&](QDialog* d) {
            shownRecID = static_cast<Form4*>(d)->RecID;
            return int(QDialog::Rejected);
        });
        f->TDBGrid2->SetBookmark(2);
        f->TDBGrid2_DblClick();
        QCOMPARE(scripted().dialogsShown, QStringList{QStringLiteral("Form4")});
        QCOMPARE(shownRecID, long(Val(f->ex->Value(2, 4))));
    }
};

FERROWYN_TEST_MAIN(TestForm1Selection)
#include "tst_Form1Selection.moc"
