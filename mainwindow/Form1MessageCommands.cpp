// The File menu, the message grid's popup, the mail-folder popup and the toolbar.
#include <QLabel>

#include <algorithm>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/OLAPP.h"
#include "core/OutlookLookups.h"
#include "core/TreeKeys.h"
#include "lists/Form2.h"
#include "lists/Form3.h"
#include "mainwindow/Form1.h"
#include "mainwindow/Form16.h"
#include "platform/db/Connection.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/CommonDialog.h"
#include "platform/ui/UiServices.h"
#include "profiles/AddressImport.h"

namespace {
mail::MailItemPtr messageOfRow(const ui::XArrayDB& rows, int row)
{
    if (row < 1 || !rows.ContainsRow(row)) throw mail::MailError(QStringLiteral("No such row."));
    const mail::MailItemPtr mi = mail::AsMailItem(RequireNameSpace()->GetItemFromID(rows.Value(row, 8).toString()));
    if (!mi) throw mail::MailError(QStringLiteral("Not a message."));
    return mi;
}

int currentRow(ui::DataGrid* grid) { return int(Val(grid->Bookmark().toString())); }

void refuseNotAMessage()
{
    ui::MsgBox(QStringLiteral("Cannot Complete Operation. Source is not an Email Message"), ui::vbCritical);
}
} // namespace

QString Form1::MessageCorrespondent(int row)
{
    const QString address = GetMessageAddress(messageOfRow(*xa, row));
    // A sender known by name only has no address to store or look up.
    return AddressImport::LooksLikeAddress(address) ? address : QString();
}

bool Form1::messageGridShown() const { return !TDBGrid1->isHidden(); }

void Form1::ComposeNewMessage()
{
    if (TDBGrid1->isHidden() && TDBGrid2->isHidden()) return;
    RequireApplication()->CreateItem(0)->Display();
}

// ---- File menu ----
void Form1::filem_new_Click() { ComposeNewMessage(); }

void Form1::filem_open_Click()
{
    if (messageGridShown())
        mnuEmailPopOpen_Click();
    else
        mnuBulkPopCompose_Click();
}

void Form1::filem_print_Click()
{
    if (!messageGridShown()) return refuseNotAMessage();
    if (TDBGrid1->SelBookmarks().Count() != 0) mnuEmailPopPrint_Click();
}

void Form1::filem_printsetup_Click()
{
    ui::CommonDialog dlg;
    dlg.CancelError = true;
    // Cancel ends the command without a word.
    dlg.ShowPrinter();
}

// ---- message popup ----
void Form1::mnuEmailPopOpen_Click()
{
    try {
        const mail::MailItemPtr mi = messageOfRow(*xa, currentRow(TDBGrid1));
        if (!OLAPPObject) throw mail::MailError(QStringLiteral("The mail host is not running."));
        OLAPPObject->ShowMessage(mi);
    } catch (const std::exception&) {
        ShowItemError();
    }
}

void Form1::mnuEmailPopPrint_Click()
{
    try {
        ui::CommonDialog dlg;
        dlg.CancelError = true;
        // Cancel prints nothing and is no error.
        if (!dlg.ShowPrinter()) return;
        ui::SetMousePointer(ui::vbHourglass);
        for (int row : SelectedRows(TDBGrid1)) messageOfRow(*xa, row)->PrintOut();
        ui::SetMousePointer(ui::vbArrow);
    } catch (const std::exception&) {
        ShowItemError();
    }
}

void Form1::mnuEmailPopReply_Click()
{
    try {
        const QList<int> rows = SelectedRows(TDBGrid1);
        if (rows.size() == 1) {
            // One selected row answers the current row, which may be another one.
            if (!OLAPPObject) throw mail::MailError(QStringLiteral("The mail host is not running."));
            OLAPPObject->ShowReplyMessage(messageOfRow(*xa, currentRow(TDBGrid1)));
            return;
        }
        const mail::MailItemPtr mi = RequireApplication()->CreateItem(0);
        for (int row : rows) mi->Recipients().Add(xa->Value(row, 4).toString());
        mi->Display();
    } catch (const std::exception&) {
        ShowItemError();
    }
}

void Form1::mnuEmailPopForward_Click()
{
    try {
        messageOfRow(*xa, currentRow(TDBGrid1))->Forward()->Display();
    } catch (const std::exception&) {
        ShowItemError(false);
    }
}

void Form1::mnuEmailPopDelete_Click()
{
    const QList<int> rows = SelectedRows(TDBGrid1);
    if (rows.isEmpty()) return;
    if (ui::MsgBox(QStringLiteral("Confirm Deleting Selected Messages?"), ui::vbYesNo + ui::vbQuestion) != ui::vbYes) return;
    ui::SetMousePointer(ui::vbHourglass);
    QList<int> deleted;
    QString failure;
    for (int row : rows) {
        try {
            messageOfRow(*xa, row)->Delete();
            deleted << row;
        } catch (const std::exception& e) {
            // What was deleted stays deleted; the rest stays where it is.
            failure = ItemErrorText(e);
            break;
        }
    }
    if (!deleted.isEmpty()) {
        // The rows of the deleted messages go, from the bottom up so the numbers still hold.
        std::sort(deleted.begin(), deleted.end());
        deleted.erase(std::unique(deleted.begin(), deleted.end()), deleted.end());
        int last = deleted.last();
        for (auto it = deleted.crbegin(); it != deleted.crend(); ++it) xa->DeleteRows(*it);
        TDBGrid1->SelBookmarks().Clear();
        TDBGrid1->ReBind();
        StatusBar1->SetPanelText(1, QString::number(qMax(0, xa->UpperBound(1))) + QStringLiteral(" Items."));
        if (xa->UpperBound(1) < 1) {
            SetFirstEmailBookmark();
        } else {
            // The row now standing where the highest deleted row stood becomes current.
            last = qMin(last, xa->UpperBound(1));
            ClearMessagePane();
            TDBGrid1->SetBookmark(last);
            TDBGrid1->SelBookmarks().Add(last);
            LastMessageBookmark = last;
            LoadMessageFromBookmark(last);
        }
    }
    ui::SetMousePointer(ui::vbArrow);
    if (!failure.isEmpty()) ui::MsgBox(failure, ui::vbCritical);
}

void Form1::mnuEmailPopAddToMaster_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    int problems = 0;
    try {
        AddressImport import(DBConnection(), {});
        for (int row : SelectedRows(TDBGrid1)) {
            QString address;
            try {
                address = MessageCorrespondent(row);
            } catch (const std::exception&) {
                ++problems;
                continue;
            }
            // A name without an address is never stored as one.
            if (address.isEmpty() || import.ImportAddress(address) == AddressImport::Failed) ++problems;
        }
        import.Commit();
    } catch (const std::exception&) {
        ++problems;
    }
    if (problems > 0) return ShowItemError();
    ui::SetMousePointer(ui::vbArrow);
}

void Form1::mnuEmailPopExport_Click() { ExportAddresses(2); }

// ---- mail-folder popup ----
void Form1::mnuFolderEmailPopNewFolder_Click()
{
    ui::TreeNode* node = TreeView1->SelectedItem();
    Form2 dlg(this);
    dlg.Mode = 0;
    dlg.ParentEntryID = node ? node->Key() : QString();
    ui::ShowModal(&dlg);
}

// The rename dialog serves both kinds of folder.
void Form1::mnuFolderEmailPopRename_Click() { mnuFolderPopRename_Click(); }

void Form1::mnuFolderEmailPopDelete_Click()
{
    const QString key = CurrentFolderNode;
    ui::TreeNode* node = TreeView1->Nodes(key);
    if (!node || !IsEmailFolderNode(node)) return;
    if (ui::MsgBox(QStringLiteral("Confirm Deleting Folder ") + node->Text() + QStringLiteral("?"), ui::vbYesNo + ui::vbQuestion)
        != ui::vbYes)
        return;
    ui::SetMousePointer(ui::vbHourglass);
    const auto refuse = [](const QString& text) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(text, ui::vbCritical);
    };
    const QString parentKey = node->Parent() ? node->Parent()->Key() : QString();
    // The parent is shown in place of a folder that left the tree.
    const auto showParent = [this, &parentKey] {
        ui::TreeNode* parent = TreeView1->Nodes(parentKey);
        if (!parent) return ui::SetMousePointer(ui::vbArrow);
        parent->SetSelected(true);
        CurrentFolderNode = parentKey;
        mnuFolderEmailPopRefresh_Click();
    };
    try {
        const mail::FolderPtr folder = RequireNameSpace()->GetFolderFromID(key);
        const QString eid = folder->EntryID();
        for (const mail::FolderPtr& f : {DeletedItemsFolder, InboxFolder, OutboxFolder, SentItemsFolder, DraftsFolder})
            if (f && eid.compare(f->EntryID(), Qt::CaseInsensitive) == 0)
                return refuse(QStringLiteral("Cannot Delete Reserved Folder"));
        const mail::FolderPtr parent = folder->Parent();
        // A store's root is no folder of its store: it goes only with the store.
        if (!parent) return refuse(QStringLiteral("Cannot Delete Reserved Folder"));
        if (folder->Folders()->Count() >= 1) return refuse(QStringLiteral("Cannot Delete Folder.  It Has Children."));
        // The folder goes with everything in it in one step of the mail host.
        const mail::FoldersPtr siblings = parent->Folders();
        bool removed = false;
        for (int i = 1; i <= siblings->Count() && !removed; ++i) {
            if (siblings->Item(i)->EntryID().compare(eid, Qt::CaseInsensitive) != 0) continue;
            siblings->Remove(i);
            removed = true;
        }
        // A folder its parent does not list was not deleted: its node must not go as if it had been.
        if (!removed) throw mail::MailError(QStringLiteral("The folder could not be found."));
    } catch (const std::exception& e) {
        refuse(QStringLiteral("Cannot Delete Folder.  ") + QString::fromUtf8(e.what()));
        // The tree shows again what the mail host holds.
        LoadFolders();
        if (ui::TreeNode* n = TreeView1->Nodes(key))
            n->SetSelected(true);
        else
            showParent();
        return;
    }

    TreeView1->Nodes().Remove(key);
    showParent();
}

void Form1::mnuFolderEmailPopRefresh_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    try {
        LoadMessages(TreeView1->Nodes(CurrentFolderNode));
    } catch (const std::exception& e) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("The folder could not be read.  ") + QString::fromUtf8(e.what()), ui::vbCritical);
    }
    if (xa->UpperBound(1) < 1)
        ClearMessagePane();
    else
        LoadMessageFromBookmark(TDBGrid1->Bookmark());
    if (AddressListMode != 0) {
        AddressListMode = 0;
        Form_Resize();
    }
    ui::SetMousePointer(ui::vbArrow);
}

// ---- toolbar ----
void Form1::Toolbar1_ButtonClick(int Index)
{
    const bool messages = messageGridShown();
    const int selected = TDBGrid1->SelBookmarks().Count();
    switch (Index) {
    case 1: {
        ui::TreeNode* node = TreeView1->SelectedItem();
        Form3 dlg(this);
        dlg.SetNodx(node ? node->Key() : QString());
        ui::ShowModal(&dlg);
        break;
    }
    case 2: {
        ui::SetMousePointer(ui::vbHourglass);
        Form2 dlg(this);
        ui::ShowModal(&dlg);
        break;
    }
    case 3:
        ComposeNewMessage();
        break;
    case 4:
        if (messages)
            mnuEmailPopOpen_Click();
        else
            mnuBulkPopCompose_Click();
        break;
    case 5:
        if (messages)
            mnuEmailPopReply_Click();
        else
            mnuBulkPopCompose_Click();
        break;
    case 6:
        if (!messages)
            refuseNotAMessage();
        else if (selected != 0)
            mnuEmailPopPrint_Click();
        break;
    case 7:
        if (!messages)
            mnuBulkPopDelete_Click();
        else if (selected != 0)
            mnuEmailPopDelete_Click();
        break;
    case 8: {
        // Check Mail: send and receive; the dialog unloads when it closes.
        Form16 dlg(this);
        ui::ShowModal(&dlg);
        break;
    }
    case 9:
        if (!messages)
            mnuBulkPopProperties_Click();
        else if (selected != 0)
            mnuEmailPopProperties_Click();
        break;
    case 10:
        helpm_contents_Click();
        break;
    default:
        break;
    }
}
