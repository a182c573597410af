#include "lists/Form2.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "core/Conversions.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/ui/UiServices.h"

namespace {
// What the database said stays out: its text quotes the statement.
const QString kFolderNotStored = QStringLiteral("Error Saving Folder.  The database could not store the new folder; nothing was added.");
} // namespace

Form2::Form2(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Add Folder"));
    resize(320, 380);
    auto* l1 = new QLabel(QStringLiteral("Enter Name Of New Folder:"), this);
    l1->setGeometry(10, 8, 300, 18);
    Text1 = new QLineEdit(this);
    Text1->setGeometry(10, 28, 300, 24);
    auto* l2 = new QLabel(QStringLiteral("Specify Where To Put Folder:"), this);
    l2->setGeometry(10, 60, 300, 18);
    TreeView1 = new ui::TreeView(this);
    TreeView1->setHeaderHidden(true);
    TreeView1->setGeometry(10, 80, 300, 250);
    TreeView1->SetImageList({style()->standardIcon(QStyle::SP_DirIcon), style()->standardIcon(QStyle::SP_DirClosedIcon)});
    Command1 = new QPushButton(QStringLiteral("&Apply"), this);
    Command1->setGeometry(130, 340, 86, 28);
    Command2 = new QPushButton(QStringLiteral("Cancel"), this);
    Command2->setGeometry(224, 340, 86, 28);
    setTabOrder(Text1, TreeView1);
    Text1->installEventFilter(this);
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);
    Form_Load();
}

bool Form2::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

bool Form2::eventFilter(QObject* watched, QEvent* e)
{
    const bool r = QDialog::eventFilter(watched, e);
    if (watched == Text1 && e->type() == QEvent::FocusIn) Text1->selectAll();
    return r;
}

void Form2::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form2::Form_Load()
{
    CenterForm(*this);
    Form1* f = Form1::Instance();
    if (f) {
        CopyTreeNodes(*f->TreeView1, *TreeView1);
        ui::TreeNode* selected = f->TreeView1->SelectedItem();
        if (selected) {
            for (int i = 1; i <= TreeView1->Nodes().Count(); ++i) {
                ui::TreeNode* n = TreeView1->Nodes(i);
                if (n->Key().compare(selected->Key(), Qt::CaseInsensitive) == 0) {
                    n->SetExpanded(true);
                    n->SetSelected(true);
                    break;
                }
            }
        }
    }
    Text1->setText(QStringLiteral("New Folder"));
}

void Form2::Command1_Click()
{
    const QString name = Text1->text();
    if (name.trimmed().isEmpty()) {
        ui::MsgBox(QStringLiteral("Error Saving Folder.  A Folder Name Must Be Specified."), ui::vbCritical);
        return;
    }
    if (HasControlCharacters(name)) {
        ui::MsgBox(QStringLiteral("Error Saving Folder.  A folder name cannot hold control characters."), ui::vbCritical);
        return;
    }
    ui::TreeNode* parent = TreeView1->SelectedItem();
    // Nowhere to put it: the dialog stays open for a pick.
    if (!parent) return;
    ui::SetMousePointer(ui::vbHourglass);
    const bool done = IsDravonelFolderNode(parent) ? addListFolder(name) : addMailFolder(name);
    ui::SetMousePointer(ui::vbArrow);
    if (done) accept();
}

bool Form2::addListFolder(const QString& name)
{
    Form1* f = Form1::Instance();
    ParentEntryID = TreeView1->SelectedItem()->Key();
    const long parentId = FolderRecIDFromKey(ParentEntryID);
    db::Connection& c = DBConnection();
    QString newKey;
    try {
        // The marker finds the new row; inserting, finding and clearing it are one step, so no
        // marked row is ever left for a later add to pick up.
        auto tx = c.BeginTrans();
        SQLStatement sql;
        sql.SetConnection(&c);
        sql.SetSql(QStringLiteral("INSERT INTO MailFolders (?) VALUES (?);"));
        sql.SetString(QStringLiteral("FolderName"), name);
        sql.SetLong(QStringLiteral("ParentFolderRecID"), parentId);
        sql.SetLong(QStringLiteral("FolderType"), 1);
        sql.SetLong(QStringLiteral("Status"), 0);
        sql.Execute();
        if (sql.Error()) {
            ui::MsgBox(kFolderNotStored, ui::vbCritical);
            return false;
        }
        sql.SetSql(QStringLiteral("SELECT * FROM MailFolders WHERE FolderName = '") + EscapeSQL(name) + QStringLiteral("' ")
                   + QStringLiteral("AND Status = 0;"));
        db::Recordset rs;
        if (!sql.GetRecordsetFO(rs) || rs.Eof()) {
            ui::MsgBox(kFolderNotStored, ui::vbCritical);
            return false;
        }
        newKey = ListFolderKey(NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong());
        rs.Close();
        c.Execute(QStringLiteral("UPDATE MailFolders SET Status = -1;"));
        tx.Commit();
    } catch (const db::DbError&) {
        ui::MsgBox(kFolderNotStored, ui::vbCritical);
        return false;
    }
    if (f) {
        ui::TreeNode* node = f->TreeView1->Nodes().Add(ParentEntryID, ui::tvwChild, newKey, name, 1);
        node->SetSelected(true);
        CurrentFolderNode = newKey;
        f->LoadEmailAddresses(node);
    }
    return true;
}

bool Form2::addMailFolder(const QString& name)
{
    Form1* f = Form1::Instance();
    const QString parentKey = TreeView1->SelectedItem()->Key();
    mail::FolderPtr folder;
    try {
        mail::FolderPtr parent = MAPINameSpace->GetFolderFromID(parentKey);
        folder = parent->Folders()->Add(name);
    } catch (const mail::MailError& e) {
        // The store refuses names it cannot hold (a sibling has it, or it is not a valid name).
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(QStringLiteral("Error Saving Folder.  ") + e.message(), ui::vbCritical);
        return false;
    }
    if (f) {
        ui::TreeNode* node = f->TreeView1->Nodes().Add(parentKey, ui::tvwChild, folder->EntryID(), name, 1);
        node->SetSelected(true);
        CurrentFolderNode = folder->EntryID();
        try {
            f->LoadMessages(node);
        } catch (const mail::MailError& e) {
            ui::MsgBox(e.message(), ui::vbCritical);
        }
    }
    return true;
}

void Form2::Command2_Click() { reject(); }
