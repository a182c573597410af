// The two grids' selection: the window keeps its own anchor per grid and rewrites SelBookmarks on
// each button press (a plain press on the selection when the button comes up without a drag, so
// that all of it can be dragged); popups, drag start, double-click and header-click sorting.
#include <QAction>
#include <QMenu>
#include <QMimeData>

#include <stdexcept>

#include "core/Conversions.h"
#include "core/GridSort.h"
#include "core/Globals.h"
#include "core/OLAPP.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "mainwindow/Form11.h"
#include "platform/mail/Application.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/UiServices.h"

namespace {
constexpr int kMessageDragMoves = 5;
constexpr int kAddressDragMoves = 10;

// Makes the row under y current and gives its bookmark; throws where no row is.
int currentRowAt(ui::DataGrid* grid, double y)
{
    const int r = grid->RowContaining(y);
    if (r < 0) throw std::out_of_range("No row under the mouse.");
    grid->SetRow(r);
    return grid->Bookmark().toInt();
}

// The anchor as a row number; 0 when there is none.
int anchorRow(const QVariant& anchor) { return int(Val(anchor.toString())); }

bool isSelected(ui::DataGrid* grid, int row)
{
    auto& sel = grid->SelBookmarks();
    for (int i = 0; i < sel.Count(); ++i)
        if (int(Val(sel.Item(i).toString())) == row) return true;
    return false;
}

// Rows from the smaller to the larger of a and b; rows the array lacks (a missing anchor is 0)
// are left out.
void selectRange(ui::DataGrid* grid, int a, int b)
{
    const auto rows = grid->Array();
    for (int r = qMin(a, b); r <= qMax(a, b); ++r)
        if (rows && rows->ContainsRow(r) && r >= 1) grid->SelBookmarks().Add(r);
}

QVariant captureSelection(ui::DataGrid* grid)
{
    auto& sel = grid->SelBookmarks();
    QVariantList marks{QVariant()};
    for (int i = 0; i < sel.Count(); ++i) marks << sel.Item(i);
    return marks;
}
} // namespace

void Form1::ConnectGridEvents()
{
    // Selection is the window's own: the grids only move the current row on a click.
    TDBGrid1->SetMultiSelect(ui::DataGrid::dbgMultiSelectNone);
    TDBGrid2->SetMultiSelect(ui::DataGrid::dbgMultiSelectNone);
    connect(TDBGrid1, &ui::DataGrid::MouseDown, this, &Form1::TDBGrid1_MouseButton);
    connect(TDBGrid2, &ui::DataGrid::MouseDown, this, &Form1::TDBGrid2_MouseButton);
    // Moves count towards a drag from the last button event: a press on the selection is not
    // told until the button comes up.
    for (ui::DataGrid* grid : {TDBGrid1, TDBGrid2})
        connect(grid, &ui::DataGrid::MouseUp, this, [this] { DragMoveCount = 0; });
    connect(TDBGrid1, &ui::DataGrid::MouseMove, this, &Form1::TDBGrid1_MouseMove);
    connect(TDBGrid2, &ui::DataGrid::MouseMove, this, &Form1::TDBGrid2_MouseMove);
    connect(TDBGrid1, &ui::DataGrid::OLEStartDrag, this, &Form1::TDBGrid1_OLEStartDrag);
    connect(TDBGrid2, &ui::DataGrid::OLEStartDrag, this, &Form1::TDBGrid2_OLEStartDrag);
    connect(TDBGrid1, &ui::DataGrid::OLECompleteDrag, this, &Form1::TDBGrid1_OLECompleteDrag);
    connect(TDBGrid2, &ui::DataGrid::OLECompleteDrag, this, &Form1::TDBGrid2_OLECompleteDrag);
    connect(TDBGrid1, &ui::DataGrid::DblClick, this, &Form1::TDBGrid1_DblClick);
    connect(TDBGrid2, &ui::DataGrid::DblClick, this, &Form1::TDBGrid2_DblClick);
    connect(TDBGrid1, &ui::DataGrid::HeadClick, this, &Form1::TDBGrid1_HeadClick);
    connect(TDBGrid2, &ui::DataGrid::HeadClick, this, &Form1::TDBGrid2_HeadClick);
    TreeView1->SetOLEDropMode(1);
    connect(TreeView1, &ui::TreeView::OLEDragDrop, this, &Form1::TreeView1_OLEDragDrop);
    DragInProgress = false;
    DragMoveCount = 0;
}

void Form1::TDBGrid1_MouseButton(int Button, int Shift, double X, double Y)
{
    Q_UNUSED(X);
    DragInProgress = false;
    DragMoveCount = 0;
    auto& sel = TDBGrid1->SelBookmarks();
    try {
        if (Button == ui::vbLeftButton && Shift == 0) {
            const int b = currentRowAt(TDBGrid1, Y);
            if (b == anchorRow(LastMessageBookmark)) return;
            sel.Clear();
            TDBGrid1->SetBookmark(b);
            sel.Add(b);
            LastMessageBookmark = b;
            LoadMessageFromBookmark(b);
        } else if (Button == ui::vbLeftButton && Shift == ui::vbCtrlMask) {
            const int b = currentRowAt(TDBGrid1, Y);
            sel.Add(b);
            LastMessageBookmark = b;
            LoadMessageFromBookmark(b);
        } else if (Button == ui::vbLeftButton && Shift == ui::vbShiftMask) {
            const int p = anchorRow(LastMessageBookmark);
            sel.Clear();
            const int c = currentRowAt(TDBGrid1, Y);
            LastMessageBookmark = c;
            selectRange(TDBGrid1, p, c);
            LoadMessageFromBookmark(c);
        } else if (Button == ui::vbRightButton) {
            const int b = currentRowAt(TDBGrid1, Y);
            if (!isSelected(TDBGrid1, b)) {
                sel.Clear();
                sel.Add(b);
                LastMessageBookmark = b;
                LoadMessageFromBookmark(b);
            }
            mnuEmailPopProperties->setEnabled(sel.Count() <= 1);
            popup(mnuEmailPop);
        }
    } catch (const std::exception&) {
        // A press below the last row or on the header selects nothing.
    }
}

void Form1::TDBGrid2_MouseButton(int Button, int Shift, double X, double Y)
{
    Q_UNUSED(X);
    DragInProgress = false;
    DragMoveCount = 0;
    auto& sel = TDBGrid2->SelBookmarks();
    try {
        if (Button == ui::vbLeftButton && Shift == 0) {
            const int b = currentRowAt(TDBGrid2, Y);
            sel.Clear();
            sel.Add(b);
            LastAddressBookmark = b;
        } else if (Button == ui::vbLeftButton && Shift == ui::vbCtrlMask) {
            const int b = currentRowAt(TDBGrid2, Y);
            sel.Add(b);
            LastAddressBookmark = b;
        } else if (Button == ui::vbLeftButton && Shift == ui::vbShiftMask) {
            const int p = anchorRow(LastAddressBookmark);
            sel.Clear();
            const int c = currentRowAt(TDBGrid2, Y);
            LastAddressBookmark = c;
            selectRange(TDBGrid2, p, c);
        } else if (Button == ui::vbRightButton) {
            const int b = currentRowAt(TDBGrid2, Y);
            if (!isSelected(TDBGrid2, b)) {
                sel.Clear();
                sel.Add(b);
            }
            mnuBulkPopProperties->setEnabled(sel.Count() <= 1);
            mnuBulkPopMove->setEnabled(!IsTopLevelNode(TreeView1->Nodes(CurrentFolderNode)));
            popup(mnuBulkPop);
        }
    } catch (const std::exception&) {
    }
}

void Form1::TDBGrid1_MouseMove(int Button, int Shift, double X, double Y)
{
    Q_UNUSED(Shift);
    Q_UNUSED(X);
    Q_UNUSED(Y);
    if (DragInProgress.toBool() || Button != ui::vbLeftButton) return;
    DragMoveCount = DragMoveCount.toInt() + 1;
    if (DragMoveCount.toInt() >= kMessageDragMoves) {
        DragMoveCount = 0;
        DragInProgress = true;
        TDBGrid1->OLEDrag();
    }
}

void Form1::TDBGrid2_MouseMove(int Button, int Shift, double X, double Y)
{
    Q_UNUSED(Shift);
    Q_UNUSED(X);
    Q_UNUSED(Y);
    if (DragInProgress.toBool() || Button != ui::vbLeftButton) return;
    DragMoveCount = DragMoveCount.toInt() + 1;
    if (DragMoveCount.toInt() >= kAddressDragMoves) {
        DragMoveCount = 0;
        DragInProgress = true;
        TDBGrid2->OLEDrag();
    }
}

void Form1::TDBGrid1_OLEStartDrag()
{
    if (TDBGrid1->SelBookmarks().Count() >= 1) DragSource = 0;
    DragBookmarks = captureSelection(TDBGrid1);
}

void Form1::TDBGrid2_OLEStartDrag()
{
    if (TDBGrid2->SelBookmarks().Count() >= 1) DragSource = 1;
    DragBookmarks = captureSelection(TDBGrid2);
}

// A finished drag leaves nothing behind that a later drop from elsewhere could act on.
void Form1::TDBGrid1_OLECompleteDrag()
{
    DragInProgress = false;
    DragSource = QVariant();
    DragBookmarks = QVariant();
}

void Form1::TDBGrid2_OLECompleteDrag() { TDBGrid1_OLECompleteDrag(); }

void Form1::TDBGrid1_DblClick()
{
    try {
        const int row = int(Val(TDBGrid1->Bookmark().toString()));
        if (!xa->ContainsRow(row)) return;
        const mail::MailItemPtr mi = mail::AsMailItem(MAPINameSpace->GetItemFromID(xa->Value(row, 8).toString()));
        if (mi && OLAPPObject) OLAPPObject->ShowMessage(mi);
    } catch (const std::exception&) {
        // The message has gone from its folder since the list was read.
    }
}

void Form1::TDBGrid2_DblClick() { mnuBulkPopProperties_Click(); }

void Form1::TDBGrid1_HeadClick(int ColIndex)
{
    const int k = ColIndex - 4;
    if (k < 0 || k > 2) {
        ui::SetMousePointer(ui::vbArrow);
        return;
    }
    ui::SetMousePointer(ui::vbHourglass);
    const int type = ColIndex == 6 ? SortDate : SortText;
    if (MessageSortState.at(k).toInt() == 1) {
        SortArrayDescending(*xa, ColIndex, type);
        MessageSortState[k] = 0;
    } else {
        SortArrayAscending(*xa, ColIndex, type);
        MessageSortState[k] = 1;
    }
    for (int i = 0; i < 3; ++i)
        if (i != k) MessageSortState[i] = 0;
    messageSort_ = MessageSortState.at(k).toInt() == 1 ? ColIndex : -ColIndex;
    ui::SetMousePointer(ui::vbArrow);
    TDBGrid1->SetBookmark(QVariant());
    TDBGrid1->Refresh();
    // The selected row numbers now belong to other messages: start again at the first row and
    // show it, so the preview is always the highlighted message.
    SetFirstEmailBookmark();
    if (xa->UpperBound(1) >= 1) LoadMessageFromBookmark(TDBGrid1->Bookmark());
}

void Form1::TDBGrid2_HeadClick(int ColIndex)
{
    const int k = ColIndex - 1;
    if (k < 0 || k > 2) {
        ui::SetMousePointer(ui::vbArrow);
        return;
    }
    ui::SetMousePointer(ui::vbHourglass);
    if (AddressSortState.at(k).toInt() == 1) {
        SortArrayDescending(*ex, ColIndex, SortText);
        AddressSortState[k] = 0;
    } else {
        SortArrayAscending(*ex, ColIndex, SortText);
        AddressSortState[k] = 1;
    }
    for (int i = 0; i < 3; ++i)
        if (i != k) AddressSortState[i] = 0;
    ui::SetMousePointer(ui::vbArrow);
    TDBGrid2->SetBookmark(QVariant());
    TDBGrid2->Refresh();
    SetFirstdravonelBookmark();
}

void Form1::SetSpecificEmailBookmark(const QVariant& bookmark)
{
    ClearMessagePane();
    LastMessageBookmark = QString();
    TDBGrid1->SelBookmarks().Clear();
    TDBGrid1->SetBookmark(bookmark);
    TDBGrid1->SelBookmarks().Add(bookmark);
    LastMessageBookmark = bookmark;
}

void Form1::mnuAtt_Click(int Index)
{
    Form11 dialog(this);
    dialog.SetMI(CurrentMailItem);
    dialog.SetIndex(Index);
    ui::ShowModal(&dialog);
}
