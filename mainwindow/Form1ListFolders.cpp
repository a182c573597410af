// The list-folder popup's commands.
#include <QLineEdit>
#include <memory>

#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "core/WholeNumber.h"
#include "lists/Form13.h"
#include "lists/Form2.h"
#include "lists/Form3.h"
#include "lists/Form7.h"
#include "lists/ListBuild.h"
#include "mainwindow/Form1.h"
#include "mainwindow/Form23.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/UiServices.h"

void Form1::mnuFolderPopupNew_Click()
{
    ui::TreeNode* node = TreeView1->SelectedItem();
    Form3 dlg(this);
    dlg.SetNodx(node ? node->Key() : QString());
    ui::ShowModal(&dlg);
}

void Form1::mnuFolderPopNew_Click()
{
    ui::TreeNode* node = TreeView1->SelectedItem();
    Form2 dlg(this);
    dlg.Mode = 1;
    dlg.ParentEntryID = node ? node->Key() : QString();
    ui::ShowModal(&dlg);
}

void Form1::mnuFolderPopRename_Click()
{
    ui::TreeNode* node = TreeView1->Nodes(CurrentFolderNode);
    if (!node) return;
    ui::SetMousePointer(ui::vbHourglass);
    Form7 dlg(this);
    dlg.Text1->setText(node->Text());
    ui::ShowModal(&dlg);
}

void Form1::mnuFolderPopProperties_Click()
{
    ui::TreeNode* node = TreeView1->SelectedItem();
    if (!node || !IsDravonelFolderNode(node)) return;
    ui::SetMousePointer(ui::vbHourglass);
    Form13 dlg(this);
    dlg.CurrentNode = node->Key();
    dlg.LoadProperties();
    ui::ShowModal(&dlg);
}

void Form1::mnuFolderPopRefresh_Click()
{
    const QString key = CurrentFolderNode;
    ui::TreeNode* node = TreeView1->Nodes(key);
    // The Master List holds every address already; it has no rules to apply.
    if (!node || !IsDravonelFolderNode(node) || IsTopLevelNode(node)) return;
    const long id = FolderRecIDFromKey(key);
    const QString name = node->Text();
    const bool clear = ui::MsgBox(QStringLiteral("Do You Wish To Clear The List Before Refreshing?"), ui::vbYesNo + ui::vbQuestion)
                       == ui::vbYes;
    ui::SetMousePointer(ui::vbHourglass);
    BusyScope busy(this);

    std::unique_ptr<Form23> progress;
    ListBuildProgress p;
    p.started = [&](int count) {
        if (count <= 0) return;
        progress = std::make_unique<Form23>(this);
        progress->ProgressBar1->setMinimum(0);
        progress->ProgressBar1->setMaximum(count);
        progress->SetLabelTitle(QStringLiteral("Refreshing Folder ") + name);
        progress->SetWindowTitle(QStringLiteral("Loading "));
        progress->show();
        ui::DoEvents();
    };
    p.step = [&](int i) {
        if (progress) progress->ProgressBar1->setValue(i);
    };
    // The rules are tried before anything is cleared: rules the database refuses leave the folder as it was.
    const ListBuildResult r = BuildListMembers(id, clear, p);
    progress.reset();
    if (!r.ok) ui::MsgBox(r.error, ui::vbOKOnly);
    ui::DoEvents();
    if (ui::TreeNode* n = TreeView1->Nodes(key)) LoadEmailAddresses(n);
    ui::DoEvents();
    ui::SetMousePointer(ui::vbArrow);
}

void Form1::mnuFolderPopCompose_Click()
{
    ui::SetMousePointer(ui::vbHourglass);
    try {
        mail::MailItemPtr mi = RequireApplication()->CreateItem(0);
        for (int i = ex->LowerBound(1); i <= ex->UpperBound(1); ++i) {
            mail::RecipientPtr r = mi->Recipients().Add(ex->Value(i, 1).toString());
            r->SetType(mail::olBCC);
        }
        ui::SetMousePointer(ui::vbArrow);
        // A window the user writes in: it stays open until the user closes it.
        mi->Display();
    } catch (const std::exception&) {
        ShowItemError();
    }
}

void Form1::mnuFolderPopExport_Click() { ExportAddresses(3); }

void Form1::mnuFolderPopDelete_Click()
{
    ui::TreeNode* node = TreeView1->SelectedItem();
    if (!node || !IsDravonelFolderNode(node)) return;
    const QString key = node->Key();
    const QString name = node->Text();
    const long id = FolderRecIDFromKey(key);
    db::Connection& c = DBConnection();

    // The root is refused for what it is: the top node, or the row of type 0.
    bool top = IsTopLevelNode(node);
    SQLStatement sql;
    sql.SetConnection(&c);
    db::Recordset rs;
    if (!top) {
        sql.SetSql(QStringLiteral("SELECT FolderType FROM MailFolders WHERE RecID = ") + QString::number(id) + QStringLiteral(";"));
        if (sql.GetRecordsetFO(rs) && !rs.Eof()) top = ToInteger(rs.Fields(0)) == 0;
        rs.Close();
    }
    if (top) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("Cannot Delete Top Bulk Email List Node"), ui::vbCritical);
        return;
    }
    if (ui::MsgBox(QStringLiteral("Confirm Deleting Folder ") + name + QStringLiteral(". Please note that this will also delete all ")
                       + QStringLiteral("list members."),
                   ui::vbYesNo + ui::vbQuestion)
        != ui::vbYes)
        return;
    ui::SetMousePointer(ui::vbHourglass);

    sql.SetSql(QStringLiteral("SELECT * FROM Mailfolders WHERE ParentFolderRecID = ") + QString::number(id) + QStringLiteral(";"));
    if (!sql.GetRecordsetFO(rs)) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(sql.ErrorMessage(), ui::vbOKOnly);
        return;
    }
    const bool hasChildren = !rs.Eof();
    rs.Close();
    if (hasChildren) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("Cannot Delete Folder.  It Has Children."), ui::vbCritical);
        return;
    }

    // The folder, its members and its rules go together or not at all.
    try {
        auto tx = c.BeginTrans();
        const QString sid = QString::number(id);
        c.Execute(QStringLiteral("DELETE FROM ListMembers WHERE FolderRecID = ") + sid + QStringLiteral(";"));
        c.Execute(QStringLiteral("DELETE FROM MailFolderProperties WHERE FolderRecID = ") + sid + QStringLiteral(";"));
        c.Execute(QStringLiteral("DELETE FROM MailFolders WHERE RecID = ") + sid + QStringLiteral(";"));
        tx.Commit();
    } catch (const db::DbError& e) {
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("Cannot Delete Folder ") + name + QStringLiteral(".  Nothing was deleted.  ") + e.message(),
                   ui::vbCritical);
        return;
    }

    const QString parentKey = node->Parent() ? node->Parent()->Key() : QString();
    TreeView1->Nodes().Remove(key);
    ui::TreeNode* parent = TreeView1->Nodes(parentKey);
    if (parent) {
        parent->SetSelected(true);
        CurrentFolderNode = parentKey;
        if (IsDravonelFolderNode(parent)) LoadEmailAddresses(parent);
    }
    ui::SetMousePointer(ui::vbArrow);
}
