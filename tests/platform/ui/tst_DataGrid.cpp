#include <QDateTime>
#include <QDrag>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QScrollBar>
#include <QSignalSpy>
#include <QVBoxLayout>

#include <memory>
#include <stdexcept>

#include "platform/ui/DataGrid.h"
#include "platform/ui/WindowPlacement.h"
#include "tests/support/TestMain.h"

using ui::DataGrid;
using ui::DataGridColumn;
using ui::DataGridDropDown;
using ui::XArrayDB;

namespace {
// Rows 1..rows, columns 0..cols-1, each cell "r:c".
std::shared_ptr<XArrayDB> makeArray(int rows, int cols)
{
    auto a = std::make_shared<XArrayDB>();
    a->ReDim(1, rows, 0, cols - 1);
    for (int r = 1; r <= rows; ++r)
        for (int c = 0; c < cols; ++c)
            a->SetValue(r, c, QStringLiteral("%1:%2").arg(r).arg(c));
    return a;
}

// A move with no button down (QTest moves only the cursor then).
void hover(QWidget* w, const QPoint& at)
{
    QMouseEvent move(QEvent::MouseMove, at, w->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
}

QList<int> selection(DataGrid& grid)
{
    QList<int> rows;
    for (int i = 0; i < grid.SelBookmarks().Count(); ++i)
        rows << grid.SelBookmarks().Item(i).toInt();
    return rows;
}

// A grid of `cols` columns bound to the array, shown so that clicks land.
struct ShownGrid {
    DataGrid grid;
    std::shared_ptr<XArrayDB> array;
    ShownGrid(int rows, int cols, int gridCols)
        : array(makeArray(rows, cols))
    {
        for (int c = 0; c < gridCols; ++c)
            grid.Columns().Add(QStringLiteral("Col %1").arg(c));
        grid.SetArray(array);
        grid.ReBind();
        grid.resize(400, 300);
        grid.show();
        grid.activateWindow();
    }
    // Centre of the cell of array row `bookmark`, column `col`, in viewport pixels.
    QPoint cell(int bookmark, int col = 0) const
    {
        return grid.visualRect(grid.model()->index(bookmark - array->LowerBound(1), col)).center();
    }
    QWidget* viewport() const { return grid.viewport(); }
};
} // namespace

class TestDataGrid : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void showsTheArrayInPlace()
    {
        ShownGrid g(5, 4, 3);
        QVERIFY(QTest::qWaitForWindowExposed(&g.grid));
        QCOMPARE(g.grid.model()->rowCount(), 5);
        QCOMPARE(g.grid.model()->columnCount(), 3);
        QCOMPARE(g.grid.model()->index(1, 2).data().toString(), QStringLiteral("2:2"));
        // The grid reads the array itself: a written cell shows once its row is redrawn.
        g.array->SetValue(2, 2, QStringLiteral("changed"));
        g.grid.RefetchRow(2);
        QCOMPARE(g.grid.model()->index(1, 2).data().toString(), QStringLiteral("changed"));

        const QDateTime received(QDate(2001, 8, 2), QTime(9, 3, 7));
        g.array->SetValue(3, 1, received); // a date cell, as the message list keeps them
        QCOMPARE(g.grid.model()->index(2, 1).data().toString(), QLocale().toString(received, QLocale::ShortFormat));

        // Rows inserted into the array show after Refresh, deleted ones after ReBind.
        g.array->InsertRows(1);
        g.grid.Refresh();
        QCOMPARE(g.grid.model()->rowCount(), 6);
        QCOMPARE(g.grid.model()->index(0, 0).data().toString(), QString());
        g.grid.SelBookmarks().Add(2);
        g.grid.SelBookmarks().Add(6);
        g.array->DeleteRows(1, 3);
        g.grid.grab(); // painting before the rebind reads no cell the array no longer has
        QTest::mouseClick(g.viewport(), Qt::LeftButton, Qt::ControlModifier, g.grid.visualRect(g.grid.model()->index(5, 0)).center());
        g.grid.ReBind();
        QCOMPARE(selection(g.grid), QList<int>({2})); // row 6 is gone from the array
        QCOMPARE(g.grid.model()->rowCount(), 3);
        QCOMPARE(g.grid.model()->index(0, 0).data().toString(), QStringLiteral("3:0"));

        // Width in twips (15 to the pixel); a negative width is refused.
        DataGridColumn& col = g.grid.Columns(1);
        col.SetWidth(360);
        QCOMPARE(col.WidthPixels(), 24);
        QCOMPARE(g.grid.horizontalHeader()->sectionSize(1), 24);
        col.SetWidth(-15);
        QCOMPARE(col.Width(), 360.0);
        col.SetVisible(false);
        QVERIFY(g.grid.isColumnHidden(1));
        col.SetCaption(QStringLiteral("EMail Address"));
        QCOMPARE(g.grid.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("EMail Address"));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, g.grid.Columns(3));
    }

    void bookmarkAndRow()
    {
        ShownGrid g(30, 2, 2);
        QVERIFY(QTest::qWaitForWindowExposed(&g.grid));
        QVERIFY(g.grid.Bookmark().isNull());
        QVERIFY(g.grid.Bookmark().isValid()); // Null, not Empty
        QCOMPARE(g.grid.Row(), -1);
        g.grid.SetBookmark(3);
        QCOMPARE(g.grid.Bookmark().toInt(), 3);
        g.grid.SetBookmark(QStringLiteral("4")); // bookmarks come back as text too
        QCOMPARE(g.grid.Bookmark().toInt(), 4);
        QCOMPARE(g.grid.Row(), 3);
        g.grid.SetBookmark(QVariant());
        QVERIFY(g.grid.Bookmark().isNull());
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, g.grid.SetBookmark(31));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, g.grid.SetBookmark(0));

        // The last row has no row after it: moving on fails, moving back works.
        g.grid.SetBookmark(30);
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, g.grid.SetRow(g.grid.Row() + 1));
        g.grid.SetRow(g.grid.Row() - 1);
        QCOMPARE(g.grid.Bookmark().toInt(), 29);

        // A rebind keeps the current row while it exists.
        g.grid.ReBind();
        QCOMPARE(g.grid.Bookmark().toInt(), 29);

        // Rows are counted from the first one shown; a point over the header holds none.
        g.grid.scrollToTop();
        const QPoint at = g.viewport()->mapTo(&g.grid, g.cell(3));
        QCOMPARE(g.grid.RowContaining(at.y() * 15.0), 2);
        QCOMPARE(g.grid.RowContaining(2 * 15.0), -1);
        QCOMPARE(g.grid.ColContaining(at.x() * 15.0), 0);
    }

    void selBookmarksKeepTheOrderRowsWereAdded()
    {
        ShownGrid g(6, 2, 2);
        QVERIFY(QTest::qWaitForWindowExposed(&g.grid));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.cell(3));
        QCOMPARE(selection(g.grid), QList<int>({3}));
        QCOMPARE(g.grid.Bookmark().toInt(), 3);
        QTest::mouseClick(g.viewport(), Qt::LeftButton, Qt::ControlModifier, g.cell(1));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, Qt::ControlModifier, g.cell(5));
        QCOMPARE(selection(g.grid), QList<int>({3, 1, 5}));
        g.grid.SelBookmarks().Add(2);
        g.grid.SelBookmarks().Add(QStringLiteral("1")); // already selected: keeps its place
        QCOMPARE(selection(g.grid), QList<int>({3, 1, 5, 2}));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, Qt::ControlModifier, g.cell(1)); // Ctrl on a selected row drops it
        QCOMPARE(selection(g.grid), QList<int>({3, 5, 2}));
        g.grid.SelBookmarks().Remove(0);
        QCOMPARE(selection(g.grid), QList<int>({5, 2}));
        QVERIFY(g.grid.isModelRowSelected(4));
        QVERIFY(!g.grid.isModelRowSelected(2));

        // Shift extends from the last clicked row, in ascending order from it.
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.cell(4));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, Qt::ShiftModifier, g.cell(2));
        QCOMPARE(selection(g.grid), QList<int>({4, 3, 2}));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.cell(6));
        QCOMPARE(selection(g.grid), QList<int>({6}));

        QVERIFY_THROWS_EXCEPTION(std::out_of_range, g.grid.SelBookmarks().Add(7));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, g.grid.SelBookmarks().Add(QVariant()));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, g.grid.SelBookmarks().Item(1));
        QVERIFY_THROWS_EXCEPTION(std::out_of_range, g.grid.SelBookmarks().Remove(-1));

        // With the grid's own selection off, clicks move the current row only: the window decides.
        g.grid.SetMultiSelect(DataGrid::dbgMultiSelectNone);
        QTest::mouseClick(g.viewport(), Qt::LeftButton, Qt::ControlModifier, g.cell(2));
        QCOMPARE(selection(g.grid), QList<int>({6}));
        QCOMPARE(g.grid.Bookmark().toInt(), 2);

        // Selecting every row, as Select All does, then emptying it from the front.
        g.grid.SelBookmarks().Clear();
        for (int r = 1; r <= 6; ++r)
            g.grid.SelBookmarks().Add(QString::number(r));
        QCOMPARE(g.grid.SelBookmarks().Count(), 6);
        while (g.grid.SelBookmarks().Count() >= 1)
            g.grid.SelBookmarks().Remove(0);
        QCOMPARE(g.grid.SelBookmarks().Count(), 0);
    }

    void mouseAndHeaderEvents()
    {
        ShownGrid g(6, 3, 3);
        QVERIFY(QTest::qWaitForWindowExposed(&g.grid));
        g.grid.SetAllowUpdate(false);
        QSignalSpy down(&g.grid, &DataGrid::MouseDown);
        QSignalSpy up(&g.grid, &DataGrid::MouseUp);
        QSignalSpy dbl(&g.grid, &DataGrid::DblClick);
        QSignalSpy head(&g.grid, &DataGrid::HeadClick);

        QTest::mouseClick(g.viewport(), Qt::RightButton, Qt::ControlModifier, g.cell(4, 1));
        QCOMPARE(down.size(), 1);
        QCOMPARE(down.at(0).at(0).toInt(), int(ui::vbRightButton));
        QCOMPARE(down.at(0).at(1).toInt(), int(ui::vbCtrlMask));
        QCOMPARE(up.size(), 1);
        // The event's position finds the clicked row again; the right click made it current.
        QCOMPARE(g.grid.RowContaining(down.at(0).at(3).toDouble()), 3);
        QCOMPARE(g.grid.Bookmark().toInt(), 4);

        QTest::mouseDClick(g.viewport(), Qt::LeftButton, {}, g.cell(2, 1));
        QCOMPARE(dbl.size(), 1);
        QCOMPARE(g.grid.Bookmark().toInt(), 2);

        QHeaderView* header = g.grid.horizontalHeader();
        const QPoint col2(header->sectionViewportPosition(2) + header->sectionSize(2) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, col2);
        QCOMPARE(head.size(), 1);
        QCOMPARE(head.at(0).at(0).toInt(), 2);
        // A press on the header is a mouse event over no row.
        QCOMPARE(g.grid.RowContaining(down.last().at(3).toDouble()), -1);

        // A handler that fails does not take the program down with it.
        connect(&g.grid, &DataGrid::HeadClick, &g.grid, [](int) { throw std::runtime_error("sort failed"); });
        QTest::ignoreMessage(QtWarningMsg, "Unhandled error in a grid event handler: sort failed");
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, col2);
        QCOMPARE(head.size(), 2);
    }

    void keyPressCanBeSwallowedAndEditsReachTheArray()
    {
        ShownGrid g(4, 3, 3);
        QVERIFY(QTest::qWaitForWindowActive(&g.grid));
        g.grid.SetAllowUpdate(true);
        g.grid.Columns(1).SetDataWidth(3);
        QList<int> pressed;
        // The field column takes no typing but Tab, as the rule and profile grids do.
        connect(&g.grid, &DataGrid::KeyPress, &g.grid, [&](int& keyAscii) {
            pressed << keyAscii;
            if (g.grid.Col() <= 0 && keyAscii != ui::vbKeyTab)
                keyAscii = 0;
        });
        g.grid.setFocus();
        g.grid.SetBookmark(2);
        g.grid.SetCol(0);
        QTest::keyClick(&g.grid, Qt::Key_X);
        QTest::keyClick(&g.grid, Qt::Key_Backspace);
        QTest::keyClick(&g.grid, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(pressed, QList<int>({'x', ui::vbKeyBack, 22}));
        QVERIFY(g.grid.findChild<QLineEdit*>() == nullptr);
        QCOMPARE(g.array->Value(2, 0).toString(), QStringLiteral("2:0"));

        // Elsewhere typing edits the cell, up to the column's length; Update commits it.
        g.grid.SetCol(1);
        QTest::keyClick(&g.grid, Qt::Key_A);
        auto* editor = g.grid.findChild<QLineEdit*>();
        QVERIFY(editor);
        QTest::keyClicks(editor, QStringLiteral("bcdef"));
        QCOMPARE(pressed.size(), 9); // every key once, whether typed to the grid or its editor
        g.grid.Update();
        QCOMPARE(g.array->Value(2, 1).toString(), QStringLiteral("abc"));

        // Moving the current row commits a pending edit too.
        QTest::keyClick(&g.grid, Qt::Key_Z);
        g.grid.SetRow(g.grid.Row() + 1);
        QCOMPARE(g.array->Value(2, 1).toString(), QStringLiteral("z"));
    }

    // A grid takes no typing, no double-click edit and no click on a check until its window
    // allows updates.
    void aNewGridIsReadOnly()
    {
        ShownGrid g(3, 3, 3);
        QVERIFY(QTest::qWaitForWindowActive(&g.grid));
        QVERIFY(!g.grid.AllowUpdate());
        g.array->SetValue(1, 2, QStringLiteral("-1"));
        g.grid.Columns(2).SetColumnStyle(DataGridColumn::CheckBox);
        QSignalSpy dbl(&g.grid, &DataGrid::DblClick);
        g.grid.setFocus();
        g.grid.SetBookmark(2);
        g.grid.SetCol(1);
        QTest::keyClick(&g.grid, Qt::Key_A);
        QTest::keyClick(&g.grid, Qt::Key_F2);
        QTest::mouseDClick(g.viewport(), Qt::LeftButton, {}, g.cell(2, 1));
        QCOMPARE(dbl.size(), 1); // the window still hears the double-click
        QVERIFY(g.grid.findChild<QLineEdit*>() == nullptr);
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.cell(1, 2));
        g.grid.Update();
        QCOMPARE(g.array->Value(2, 1).toString(), QStringLiteral("2:1"));
        QCOMPARE(g.array->Value(1, 2).toString(), QStringLiteral("-1"));
        QVERIFY(!(g.grid.model()->flags(g.grid.model()->index(1, 1)) & Qt::ItemIsEditable));

        g.grid.SetAllowUpdate(true);
        QVERIFY(g.grid.model()->flags(g.grid.model()->index(1, 1)) & Qt::ItemIsEditable);
    }

    void checkAndPictureColumnsToggleOnClick()
    {
        ShownGrid g(3, 2, 2);
        QVERIFY(QTest::qWaitForWindowExposed(&g.grid));
        g.grid.SetAllowUpdate(true);
        g.array->SetValue(1, 0, QStringLiteral("-1"));
        g.array->SetValue(2, 0, QStringLiteral("0"));
        g.array->SetValue(1, 1, QStringLiteral("-1"));
        g.grid.Columns(0).SetColumnStyle(DataGridColumn::CheckBox);
        QCOMPARE(g.grid.model()->index(0, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.cell(1, 0));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.cell(2, 0));
        QCOMPARE(g.array->Value(1, 0).toString(), QStringLiteral("0"));
        QCOMPARE(g.array->Value(2, 0).toString(), QStringLiteral("-1"));

        DataGridColumn& send = g.grid.Columns(1);
        QPixmap tick(21, 20);
        tick.fill(Qt::black);
        send.SetColumnStyle(DataGridColumn::Picture);
        send.ValueItems() = {{QStringLiteral("-1"), tick, {}}, {QStringLiteral("0"), QPixmap(), {}}};
        send.SetCycleOnClick(true);
        QVERIFY(!g.grid.model()->index(0, 1).data(Qt::DecorationRole).isNull());
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.cell(1, 1));
        QCOMPARE(g.array->Value(1, 1).toString(), QStringLiteral("0"));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.cell(1, 1));
        QCOMPARE(g.array->Value(1, 1).toString(), QStringLiteral("-1"));

        // A grid that takes no updates leaves the cells alone.
        g.grid.SetAllowUpdate(false);
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.cell(1, 1));
        QCOMPARE(g.array->Value(1, 1).toString(), QStringLiteral("-1"));
    }

    void dragStartsFromTheMoveHandler()
    {
        ShownGrid g(6, 2, 2);
        QVERIFY(QTest::qWaitForWindowExposed(&g.grid));
        g.grid.SetAllowUpdate(false);
        QStringList log;
        QByteArray carried;
        DataGrid::SetDragRunner([&](QDrag& drag) {
            log << QStringLiteral("drag");
            carried = drag.mimeData()->data(QString::fromLatin1(ui::kGridRowsMimeType));
            return Qt::MoveAction;
        });
        // The window's rule: a drag starts after three moves with the left button down since the
        // last button event.
        int moves = 0;
        connect(&g.grid, &DataGrid::MouseDown, &g.grid, [&](int, int, double, double) { moves = 0; });
        connect(&g.grid, &DataGrid::MouseUp, &g.grid, [&](int, int, double, double) { moves = 0; });
        connect(&g.grid, &DataGrid::MouseMove, &g.grid, [&](int button, int, double, double) {
            if (button == ui::vbLeftButton && ++moves == 3)
                g.grid.OLEDrag();
        });
        connect(&g.grid, &DataGrid::OLEStartDrag, &g.grid, [&] { log << QStringLiteral("start %1").arg(g.grid.SelBookmarks().Count()); });
        connect(&g.grid, &DataGrid::OLECompleteDrag, &g.grid, [&](int effect) { log << QStringLiteral("complete %1").arg(effect); });

        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.cell(5));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, Qt::ControlModifier, g.cell(2));
        QTest::mousePress(g.viewport(), Qt::LeftButton, Qt::ControlModifier, g.cell(4));
        for (int i = 1; i <= 2; ++i)
            QTest::mouseMove(g.viewport(), g.cell(4) + QPoint(i, 0));
        QVERIFY(log.isEmpty());
        QTest::mouseMove(g.viewport(), g.cell(4) + QPoint(3, 0));
        QTest::mouseRelease(g.viewport(), Qt::LeftButton, Qt::ControlModifier, g.cell(4) + QPoint(3, 0));
        QCOMPARE(log, QStringList({QStringLiteral("start 3"), QStringLiteral("drag"), QStringLiteral("complete 2")}));
        QCOMPARE(carried, QByteArrayLiteral("5\n2\n4"));

        // A plain press on a selected row drags the whole selection; its MouseDown waits for the
        // button to come up without a drag, and then the press is a plain click.
        QSignalSpy down(&g.grid, &DataGrid::MouseDown);
        log.clear();
        QTest::mousePress(g.viewport(), Qt::LeftButton, {}, g.cell(2));
        QCOMPARE(down.size(), 0);
        for (int i = 1; i <= 3; ++i)
            QTest::mouseMove(g.viewport(), g.cell(2) + QPoint(i, 0));
        QTest::mouseRelease(g.viewport(), Qt::LeftButton, {}, g.cell(2) + QPoint(3, 0));
        QCOMPARE(log, QStringList({QStringLiteral("start 3"), QStringLiteral("drag"), QStringLiteral("complete 2")}));
        QCOMPARE(carried, QByteArrayLiteral("5\n2\n4"));
        QCOMPARE(down.size(), 0);
        QCOMPARE(selection(g.grid), QList<int>({5, 2, 4}));

        QTest::mousePress(g.viewport(), Qt::LeftButton, {}, g.cell(2));
        QTest::mouseMove(g.viewport(), g.cell(2) + QPoint(1, 0));
        QCOMPARE(selection(g.grid), QList<int>({5, 2, 4}));
        QTest::mouseRelease(g.viewport(), Qt::LeftButton, {}, g.cell(3));
        QCOMPARE(down.size(), 1);
        QCOMPARE(g.grid.RowContaining(down.at(0).at(3).toDouble()), 1); // where the press was
        QCOMPARE(selection(g.grid), QList<int>({2}));
        DataGrid::SetDragRunner(nullptr);
    }

    // The rows read again or scrolled under a press held on the selection: the press point no
    // longer shows which row was pressed, so the release selects nothing and raises no MouseDown.
    void aHeldPressComesToNothingWhenItsRowMoves_data()
    {
        QTest::addColumn<QString>("change");
        QTest::newRow("re-sorted and rebound") << "rebind";
        QTest::newRow("another array") << "array";
        QTest::newRow("scrolled") << "scroll";
    }
    void aHeldPressComesToNothingWhenItsRowMoves()
    {
        QFETCH(QString, change);
        ShownGrid g(40, 2, 2);
        QVERIFY(QTest::qWaitForWindowExposed(&g.grid));
        g.grid.SetMultiSelect(DataGrid::dbgMultiSelectNone);
        g.grid.SelBookmarks().Add(2);
        g.grid.SelBookmarks().Add(3);
        QSignalSpy down(&g.grid, &DataGrid::MouseDown);
        QSignalSpy up(&g.grid, &DataGrid::MouseUp);
        const QPoint p = g.cell(3);
        QTest::mousePress(g.viewport(), Qt::LeftButton, {}, p);
        QVERIFY(g.grid.PressHeld());
        if (change == QLatin1String("rebind")) {
            for (int r = 1; r <= 40; ++r)
                g.array->SetValue(r, 0, QStringLiteral("%1:0").arg(41 - r));
            g.grid.ReBind();
        } else if (change == QLatin1String("array")) {
            g.grid.SetArray(makeArray(40, 2));
        } else {
            g.grid.verticalScrollBar()->setValue(5);
        }
        QTest::mouseRelease(g.viewport(), Qt::LeftButton, {}, p);
        QVERIFY(!g.grid.PressHeld());
        QCOMPARE(down.size(), 0);
        QCOMPARE(up.size(), 1);
        QCOMPARE(selection(g.grid), QList<int>({2, 3}));
    }

    // An open list shows its longest entry whole, however narrow the cell, and no caption strip;
    // a list that fits keeps the width it was given. A long list leaves room for its scroll bar.
    void dropDownShowsItsEntriesWhole_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<int>("widthPx");
        QTest::addColumn<bool>("given");
        QTest::newRow("narrow cell") << 3 << 40 << false;
        QTest::newRow("narrow cell, long list") << 30 << 40 << false;
        QTest::newRow("wide enough") << 3 << 360 << true;
    }
    void dropDownShowsItsEntriesWhole()
    {
        QFETCH(int, entries);
        QFETCH(int, widthPx);
        QFETCH(bool, given);
        ShownGrid g(3, 1, 1);
        QVERIFY(QTest::qWaitForWindowExposed(&g.grid));
        g.grid.SetAllowUpdate(true);
        DataGridDropDown dd(&g.grid);
        auto items = std::make_shared<XArrayDB>();
        items->ReDim(1, entries, 0, 2);
        const QString longest = QStringLiteral("Greater Than Equal To");
        for (int r = 1; r <= entries; ++r) {
            items->SetValue(r, 0, r == 2 ? longest : QStringLiteral("LIKE"));
            items->SetValue(r, 1, QStringLiteral("a hidden column's much longer text"));
        }
        for (int c = 0; c < 2; ++c)
            dd.Columns().Add();
        dd.Columns(1).SetVisible(false);
        dd.SetArray(items);
        dd.ReBind();
        dd.SetHeight(8 * dd.RowHeight());
        dd.SetWidth(widthPx * 15.0);
        g.grid.Columns(0).SetDropDown(&dd);
        g.grid.SetBookmark(1);
        g.grid.SetCol(0);
        QTest::keyClick(&g.grid, Qt::Key_F4);
        QVERIFY(dd.IsOpen());

        DataGrid& list = dd.List();
        QVERIFY(list.horizontalHeader()->isHidden());
        const int need = list.fontMetrics().horizontalAdvance(longest);
        QVERIFY2(list.columnWidth(0) >= need, qPrintable(QString::number(list.columnWidth(0))));
        // As wide as the cells need to draw their texts unshortened, margins and grid line included.
        QVERIFY(list.columnWidth(0) >= static_cast<QAbstractItemView&>(list).sizeHintForColumn(0));
        QVERIFY(list.viewport()->width() >= list.columnWidth(0));
        QCOMPARE(list.verticalScrollBar()->isVisible(), entries > 8);
        if (given)
            QCOMPARE(dd.width(), widthPx);
        else
            QVERIFY(dd.width() < 2 * need);  // the hidden column takes no room
        QCOMPARE(dd.Width(), widthPx * 15.0);
        dd.Close();
    }

    // A drop-down column shows whole, beside the list's button, the entry picked from a list
    // loaded as its button is pressed, and a value its rows held already. Where the columns no
    // longer fit, the window holding the grid widens, no further than the screen area.
    void dropDownColumnsShowTheirEntriesWhole_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("window");
        QTest::newRow("short entries") << "LIKE" << "" << "kept";
        QTest::newRow("picked entry") << "Greater Than Equal To" << "" << "kept";
        QTest::newRow("stored value") << "LIKE" << "West Coast and Islands" << "kept";
        QTest::newRow("entry wider than the window") << QString(40, QLatin1Char('M')) << "" << "widened";
        QTest::newRow("entry wider than the screen") << QString(400, QLatin1Char('M')) << "" << "screen";
    }
    void dropDownColumnsShowTheirEntriesWhole()
    {
        QFETCH(QString, entry);
        QFETCH(QString, stored);
        QFETCH(QString, window);
        QWidget w;
        auto* layout = new QVBoxLayout(&w);
        auto* grid = new DataGrid;
        layout->addWidget(grid);
        grid->SetAllowUpdate(true);
        grid->Columns().Add(QStringLiteral("Field"));
        grid->Columns().Add(QStringLiteral("Condition"));
        grid->Columns(0).SetWidthPixels(100);
        grid->Columns(1).SetWidthPixels(80);
        const int designWidth = 80;
        auto rows = makeArray(3, 2);
        rows->SetValue(1, 1, stored);
        rows->SetValue(2, 1, QString());
        grid->SetArray(rows);
        auto items = std::make_shared<XArrayDB>();
        items->ReDim(1, 1, 0, 0);
        items->SetValue(1, 0, QStringLiteral("AND"));
        DataGridDropDown dd(&w);
        dd.Columns().Add();
        dd.SetArray(items);
        dd.ReBind();
        grid->Columns(1).SetDropDown(&dd);
        grid->ReBind();
        // The list is read when its button is pressed.
        connect(grid, &DataGrid::ButtonClick, grid, [&] {
            items->ReDim(1, 2, 0, 0);
            items->SetValue(1, 0, QString());
            items->SetValue(2, 0, entry);
            dd.ReBind();
        });
        w.resize(400, 240);
        ui::CenterInScreenArea(w);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const int shownWidth = w.width();

        grid->SetBookmark(2);
        grid->SetCol(1);
        QTest::keyClick(grid, Qt::Key_F4);
        QVERIFY(dd.IsOpen());
        QTest::keyClick(&dd.List(), Qt::Key_Down);
        QTest::keyClick(&dd.List(), Qt::Key_Return);
        QCOMPARE(rows->Value(2, 1).toString(), entry);
        QApplication::processEvents();

        // The widest cell as the delegate draws it, and the button, fit the column.
        const int need = static_cast<QAbstractItemView*>(grid)->sizeHintForColumn(1) + 16;
        QVERIFY2(need <= grid->columnWidth(1), qPrintable(QString::number(grid->columnWidth(1))));
        QCOMPARE(grid->columnWidth(1) > designWidth, entry != QLatin1String("LIKE") || !stored.isEmpty());
        const QRect area = ui::ScreenArea(w);
        QVERIFY(area.contains(w.frameGeometry()));
        if (window == QLatin1String("kept"))
            QCOMPARE(w.width(), shownWidth);
        else
            QVERIFY(w.width() > shownWidth);
        if (window == QLatin1String("screen")) {
            QCOMPARE(w.frameGeometry().width(), area.width());
        } else {
            QVERIFY(grid->WidthForColumns() <= grid->width());
            QCOMPARE(grid->horizontalScrollBar()->maximum(), 0);
        }
    }

    void dropDownPickWritesTheCell()
    {
        ShownGrid g(3, 6, 2);
        QVERIFY(QTest::qWaitForWindowExposed(&g.grid));
        g.grid.SetAllowUpdate(true);
        DataGridDropDown dd(&g.grid);
        auto fields = std::make_shared<XArrayDB>();
        fields->ReDim(1, 3, 0, 2);
        const QStringList names{QString(), QStringLiteral("$COMPANY"), QStringLiteral("REGION")};
        for (int r = 1; r <= 3; ++r) {
            fields->SetValue(r, 0, names.at(r - 1));
            fields->SetValue(r, 1, r == 3 ? 1 : 0);
            fields->SetValue(r, 2, r * 10);
        }
        dd.Columns().Add(QStringLiteral("Field"));
        dd.SetArray(fields);
        dd.ReBind();
        dd.SetHeight(dd.RowHeight() * 8);
        g.grid.Columns(0).SetDropDown(&dd);

        QList<int> buttons;
        connect(&g.grid, &DataGrid::ButtonClick, &g.grid, [&](int col) {
            buttons << col;
            dd.SetWidth(g.grid.Columns(col).Width()); // the list takes the column's width
        });
        QString cellWhenPicked;
        connect(&dd, &DataGridDropDown::ItemPicked, &g.grid, [&](const QVariant& bm) {
            cellWhenPicked = g.array->Value(2, 0).toString();
            g.array->SetValue(2, 4, fields->Value(bm.toInt(), 2)); // the handler fills the row's other cells
        });
        QSignalSpy combo(&g.grid, &DataGrid::ComboSelect);

        const QRect cell = g.grid.visualRect(g.grid.model()->index(1, 0));
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, QPoint(cell.right() - 4, cell.center().y()));
        QCOMPARE(buttons, QList<int>({0}));
        QVERIFY(dd.IsOpen());
        QCOMPARE(dd.width(), g.grid.Columns(0).WidthPixels());
        DataGrid& list = dd.List();
        const QPoint region = list.visualRect(list.model()->index(2, 0)).center();
        hover(list.viewport(), region);
        QCOMPARE(dd.Bookmark().toInt(), 3); // the list's row follows the pointer
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, region);
        QVERIFY(!dd.IsOpen());
        QCOMPARE(g.array->Value(2, 0).toString(), QStringLiteral("REGION"));
        QCOMPARE(cellWhenPicked, QStringLiteral("REGION"));
        QCOMPARE(g.array->Value(2, 4).toInt(), 30);
        QCOMPARE(combo.size(), 1);

        // Esc closes the list and changes nothing; F4 opens it from the keyboard and Enter picks.
        g.grid.setFocus();
        QTest::keyClick(&g.grid, Qt::Key_F4);
        QVERIFY(dd.IsOpen());
        QCOMPARE(dd.Bookmark().toInt(), 3); // the list opens on the entry the cell holds
        QTest::keyClick(&list, Qt::Key_Escape);
        QVERIFY(!dd.IsOpen());
        QCOMPARE(g.array->Value(2, 0).toString(), QStringLiteral("REGION"));
        QTest::keyClick(&g.grid, Qt::Key_F4);
        QTest::keyClick(&list, Qt::Key_Up);
        QTest::keyClick(&list, Qt::Key_Return);
        QCOMPARE(g.array->Value(2, 0).toString(), QStringLiteral("$COMPANY"));
        QCOMPARE(buttons.size(), 3);
    }
};

FERROWYN_TEST_MAIN(TestDataGrid)
#include "tst_DataGrid.moc"
