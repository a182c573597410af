// The address grid's popup commands and the Edit menu's Select All and Delete.
#include "core/Globals.h"
#include "lists/Form3.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/mail/Application.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/UiServices.h"

namespace {
// Ids per DELETE statement: few statements for a large selection, each of a modest length.
constexpr int kIdsPerStatement = 500;
} // namespace

void Form1::mnuBulkPopNew_Click()
{
    Form3 dlg(this);
    dlg.SetNodx(CurrentFolderNode);
    ui::ShowModal(&dlg);
}

void Form1::mnuBulkPopCompose_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    try {
        const mail::MailItemPtr mi = RequireApplication()->CreateItem(0);
        const QList<int> rows = SelectedRows(TDBGrid2);
        // One address is the message's addressee; several are blind copies of one another.
        const int type = rows.size() > 1 ? mail::olBCC : mail::olTo;
        for (int row : rows) mi->Recipients().Add(ex->Value(row, 1).toString())->SetType(type);
        ui::SetMousePointer(ui::vbArrow);
        mi->Display();
    } catch (const std::exception&) {
        ShowItemError();
    }
}

void Form1::mnuBulkPopExport_Click() { ExportAddresses(1); }

void Form1::mnuBulkPopDelete_Click()
{
    const QList<int> rows = SelectedRows(TDBGrid2);
    if (rows.isEmpty()) {
        ui::MsgBox(QStringLiteral("Cannot Delete.  No Email Addresses Selected."), ui::vbCritical);
        return;
    }
    if (ui::MsgBox(QStringLiteral("Confirm Deleting Selected Addresses"), ui::vbYesNo + ui::vbQuestion) != ui::vbYes) return;
    ui::SetMousePointer(ui::vbHourglass);

    // The rows are those of the list ex was loaded from, whatever the tree shows now.
    const bool master = addressView_ == MasterListView;
    const QString folderKey = addressFolderKey_;
    int maxRow = 0;
    QStringList ids;
    ids.reserve(rows.size());
    for (int row : rows) {
        maxRow = qMax(maxRow, row);
        // Master List: the address; a list folder: its membership only.
        ids << QString::number(ex->Value(row, master ? 4 : 5).toLongLong());
    }
    db::Connection& c = DBConnection();
    try {
        auto tx = c.BeginTrans();
        for (qsizetype i = 0; i < ids.size(); i += kIdsPerStatement) {
            const QString list = QStringLiteral(" IN (") + ids.mid(i, kIdsPerStatement).join(QLatin1Char(',')) + QStringLiteral(");");
            if (master) {
                c.Execute(QStringLiteral("DELETE FROM ListMembers WHERE MasterRecID") + list);
                c.Execute(QStringLiteral("DELETE FROM MasterList WHERE RecID") + list);
            } else {
                c.Execute(QStringLiteral("DELETE FROM ListMembers WHERE RecID") + list);
            }
        }
        tx.Commit();
    } catch (const db::DbError& e) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("Cannot Delete.  Nothing was deleted.  ") + e.message(), ui::vbCritical);
        return;
    }

    LoadEmailAddresses(TreeView1->Nodes(folderKey));
    if (ex->UpperBound(1) < 1) {
        SetFirstdravonelBookmark();
    } else {
        // The row now standing where the last deleted row stood becomes current and selected.
        const int r = qMin(maxRow, ex->UpperBound(1));
        TDBGrid2->SetBookmark(r);
        TDBGrid2->SelBookmarks().Add(r);
        LastAddressBookmark = r;
    }
    ui::SetMousePointer(ui::vbArrow);
}

// ---- Edit menu ----
void Form1::mnuEdit_SelectAll_Click()
{
    const bool messages = messageGridShown();
    ui::DataGrid* grid = messages ? TDBGrid1 : TDBGrid2;
    const ui::XArrayDB& rows = messages ? *xa : *ex;
    // The current row and the preview stay as they are.
    auto& sel = grid->SelBookmarks();
    sel.Clear();
    for (int i = 1; i <= rows.UpperBound(1); ++i) sel.Add(i);
    grid->Refresh();
}

void Form1::mnuEdit_Delete_Click()
{
    if (!messageGridShown()) return mnuBulkPopDelete_Click();
    if (TDBGrid1->SelBookmarks().Count() > 0) mnuEmailPopDelete_Click();
}
