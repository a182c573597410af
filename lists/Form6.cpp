#include "lists/Form6.h"

#include <QEvent>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "core/Conversions.h"
#include "core/FolderTree.h"
#include "core/FormUtilities.h"
#include "core/Globals.h"
#include "core/OutlookLookups.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/mail/MailItem.h"
#include "platform/ui/UiServices.h"
#include "profiles/AddressImport.h"

namespace {
QString what(const std::exception& e) { return QString::fromUtf8(e.what()); }

// A refusal or an error: the arrow pointer first, then the message.
void refuse(const QString& text)
{
    ui::SetMousePointer(ui::vbArrow);
    ui::MsgBox(text, ui::vbCritical);
}

// The grid rows named by a grid's selection, in the selection's order; rows it no longer has are
// left out.
QList<int> selectedRows(ui::DataGrid& grid, const ui::XArrayDB& rows)
{
    QList<int> out;
    auto& sel = grid.SelBookmarks();
    for (int i = 0; i < sel.Count(); ++i) {
        const int row = int(Val(sel.Item(i)));
        if (rows.ContainsRow(row)) out << row;
    }
    return out;
}
} // namespace

Form6::Form6(Form1* owner) : QDialog(owner), f_(owner)
{
    setWindowTitle(QStringLiteral("Select Folder"));
    resize(340, 400);
    lblAction = new QLabel(QStringLiteral("Select Folder:"), this);
    lblAction->setGeometry(10, 8, 320, 18);
    TreeView1 = new ui::TreeView(this);
    TreeView1->setHeaderHidden(true);
    TreeView1->setGeometry(10, 28, 320, 318);
    TreeView1->SetImageList({style()->standardIcon(QStyle::SP_DirIcon)});
    Command1 = new QPushButton(QStringLiteral("&Apply"), this);
    Command1->setGeometry(150, 358, 86, 28);
    Command1->setDefault(true);
    Command2 = new QPushButton(QStringLiteral("&Cancel"), this);
    Command2->setGeometry(244, 358, 86, 28);
    connect(Command1, &QPushButton::clicked, this, &Form6::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form6::Command2_Click);
    Form_Load();
}

bool Form6::event(QEvent* e)
{
    if (e->type() == QEvent::WindowActivate) Form_Activate();
    return QDialog::event(e);
}

void Form6::Form_Load() { CenterForm(*this); }

void Form6::Form_Activate() { ui::SetMousePointer(ui::vbArrow); }

void Form6::SetAction(const QString& nodx, int Action)
{
    nodx_ = nodx;
    intAction = Action;
    switch (Action) {
    case ActionCopyAddresses:
    case ActionMoveAddresses:
    case ActionSendersToList:
        setWindowTitle(Action == ActionCopyAddresses ? QStringLiteral("Copy To Folder") : QStringLiteral("Move To Folder"));
        LoadDravonelFolders();
        break;
    case ActionCopyMessages:
    case ActionMoveMessages:
        setWindowTitle(Action == ActionCopyMessages ? QStringLiteral("Copy To Folder") : QStringLiteral("Move To Folder"));
        LoadEmailFolders();
        break;
    case ActionMoveFolder:
    case ActionCopyFolder:
        setWindowTitle(Action == ActionCopyFolder ? QStringLiteral("Copy To Folder") : QStringLiteral("Move To Folder"));
        if (!nodx_.startsWith(kListFolderKeyMark)) {
            LoadEmailFolders();
            intFolderType = 0;
        } else {
            LoadDravonelFolders();
            intFolderType = 1;
        }
        break;
    default:
        break;
    }
}

void Form6::LoadEmailFolders()
{
    TreeView1->Nodes().Clear();
    AddEmailFolderNodes(*TreeView1, RequireNameSpace());
}

void Form6::LoadDravonelFolders()
{
    TreeView1->Nodes().Clear();
    AddDravonelFolderNodes(*TreeView1);
}

void Form6::LoadAllFolders()
{
    TreeView1->Nodes().Clear();
    AddEmailFolderNodes(*TreeView1, RequireNameSpace());
    AddDravonelFolderNodes(*TreeView1);
}

void Form6::Command1_Click()
{
    using Procedure = bool (Form6::*)();
    Procedure run = nullptr;
    switch (intAction) {
    case ActionCopyAddresses: run = &Form6::ActionDravonelCopy; break;
    case ActionCopyMessages: run = &Form6::ActionEMailCopy; break;
    case ActionMoveAddresses: run = &Form6::ActionDravonelMove; break;
    case ActionMoveMessages: run = &Form6::ActionEMailMove; break;
    case ActionMoveFolder:
        run = intFolderType == 0 ? &Form6::ActionEmailFolderMove : intFolderType == 1 ? &Form6::ActionDravonelFolderMove : nullptr;
        break;
    case ActionCopyFolder:
        run = intFolderType == 0 ? &Form6::ActionEmailFolderCopy : intFolderType == 1 ? &Form6::ActionDravonelFolderCopy : nullptr;
        break;
    case ActionSendersToList: run = &Form6::ActionEmailToDravonel; break;
    default: break;
    }
    if (!run) {
        accept();
        return;
    }
    // Nothing picked: nothing to do yet.
    if (!TreeView1->SelectedItem() || !f_) return;
    bool done = false;
    try {
        done = (this->*run)();
    } catch (const std::exception& e) {
        refuse(what(e));
    }
    if (done) accept();
}

void Form6::Command2_Click() { reject(); }

// ---------------------------------------------------------------------------------------------
// Messages and mail folders

bool Form6::ActionEMailCopy() { return moveOrCopyMessages(false); }

bool Form6::ActionEMailMove() { return moveOrCopyMessages(true); }

bool Form6::moveOrCopyMessages(bool move)
{
    const QString destKey = TreeView1->SelectedItem()->Key();
    if (move && destKey == nodx_) {
        refuse(QStringLiteral("Cannot Move Item.  Source and Destination Folders Are The Same."));
        return false;
    }
    ui::SetMousePointer(ui::vbHourglass);
    QStringList ids;
    for (int row : selectedRows(*f_->TDBGrid1, *f_->xa)) ids << f_->xa->Value(row, 8).toString();

    // One message after the other; the first refusal ends the run, and what was done stays done.
    QSet<QString> done;
    QString reason;
    try {
        const mail::FolderPtr dest = RequireNameSpace()->GetFolderFromID(destKey);
        for (const QString& id : std::as_const(ids)) {
            const mail::MailItemPtr mi = mail::AsMailItem(MAPINameSpace->GetItemFromID(id));
            if (!mi) throw mail::MailError(QStringLiteral("The item is not a mail message."));
            if (move)
                mi->Move(dest);
            else
                mi->Copy(dest);
            done.insert(id.toUpper());
        }
    } catch (const std::exception& e) {
        reason = what(e);
    }
    if (move && !done.isEmpty()) removeMessageRows(done);
    ui::SetMousePointer(ui::vbArrow);
    if (!reason.isEmpty()) {
        ui::MsgBox((move ? QStringLiteral("Cannot Move Item.  ") : QStringLiteral("Cannot Copy Item.  ")) + reason, ui::vbCritical);
        return false;
    }
    return true;
}

void Form6::removeMessageRows(QSet<QString> moved)
{
    ui::XArrayDB& xa = *f_->xa;
    ui::DataGrid& grid = *f_->TDBGrid1;
    auto& sel = grid.SelBookmarks();
    const QString currentId = xa.ContainsRow(int(Val(grid.Bookmark()))) ? xa.Value(int(Val(grid.Bookmark())), 8).toString().toUpper() : QString();
    QList<QString> stayedSelection;
    for (int row : selectedRows(grid, xa)) {
        const QString id = xa.Value(row, 8).toString().toUpper();
        if (!moved.contains(id)) stayedSelection << id;
    }
    const QSet<QString> wanted(stayedSelection.cbegin(), stayedSelection.cend());

    // One pass: each moved message takes the first row that names it; the rows that stay get
    // their new numbers as the pass goes.
    QList<int> gone;
    QHash<QString, int> newRow;
    const int upper = xa.UpperBound(1);
    for (int r = xa.LowerBound(1); r <= upper; ++r) {
        const QString id = xa.Value(r, 8).toString().toUpper();
        if (moved.remove(id)) {
            gone << r;
        } else if ((wanted.contains(id) || id == currentId) && !newRow.contains(id)) {
            newRow.insert(id, r - int(gone.size()));
        }
    }
    sel.Clear();
    grid.SetBookmark(QVariant());
    // From the bottom up, a run of neighbouring rows at a time.
    for (qsizetype i = gone.size() - 1; i >= 0;) {
        qsizetype j = i;
        while (j > 0 && gone.at(j - 1) == gone.at(j) - 1) --j;
        xa.DeleteRows(gone.at(j), int(i - j + 1));
        i = j - 1;
    }
    grid.ReBind();
    // The selection now names the messages that stayed, by their new rows.
    for (const QString& id : std::as_const(stayedSelection))
        if (newRow.contains(id)) sel.Add(newRow.value(id));
    if (newRow.contains(currentId))
        grid.SetBookmark(newRow.value(currentId));
    else if (sel.Count() > 0)
        grid.SetBookmark(sel.Item(0));
    f_->LastMessageBookmark = grid.Bookmark();
    f_->ClearMessagePane();
    f_->StatusBar1->SetPanelText(1, QString::number(qMax(0, xa.UpperBound(1))) + QStringLiteral(" Items."));
}

ui::TreeNode* Form6::addMainNode(const QString& parentKey, const QString& key, const QString& text)
{
    ui::TreeView& tree = *f_->TreeView1;
    if (tree.Nodes(key)) tree.Nodes().Remove(key);
    ui::TreeNode* parent = tree.Nodes(parentKey);
    if (!parent) {
        // The main window's tree lacks the destination: build it anew from the stores.
        f_->LoadFolders();
        return tree.Nodes(key);
    }
    parent->SetExpanded(true);
    return tree.Nodes().Add(parentKey, ui::tvwChild, key, text, 1);
}

void Form6::showMessagesOf(ui::TreeNode* node, bool quietly)
{
    try {
        f_->LoadMessages(node, quietly ? QVariant(true) : QVariant());
    } catch (const std::exception& e) {
        // The folder was moved or copied all the same; its list could not be read.
        ui::SetMousePointer(ui::vbArrow);
        ui::MsgBox(what(e), ui::vbCritical);
    }
}

QString Form6::mainNodeText(const QString& key) const
{
    if (const ui::TreeNode* n = f_->TreeView1->Nodes(key)) return n->Text();
    if (const ui::TreeNode* n = TreeView1->Nodes(key)) return n->Text();
    return QString();
}

bool Form6::ActionEmailFolderCopy()
{
    ui::SetMousePointer(ui::vbHourglass);
    const QString destKey = TreeView1->SelectedItem()->Key();
    mail::FolderPtr copy;
    try {
        const mail::NameSpacePtr ns = RequireNameSpace();
        copy = ns->GetFolderFromID(nodx_)->CopyTo(ns->GetFolderFromID(destKey));
    } catch (const std::exception& e) {
        refuse(QStringLiteral("Error Encountered.  Cannot Copy Folder To A Child Folder.  ") + what(e));
        return false;
    }
    const QString key = copy->EntryID();
    ui::TreeNode* node = addMainNode(destKey, key, copy->Name());
    if (node && !node->Children()) AddEmailSubFolderNodes(*f_->TreeView1, copy, key);
    CurrentFolderNode = key;
    if (node) {
        node->SetSelected(true);
        showMessagesOf(node, true);
    }
    ui::SetMousePointer(ui::vbArrow);
    return true;
}

bool Form6::ActionEmailFolderMove()
{
    const QString destKey = TreeView1->SelectedItem()->Key();
    if (destKey == nodx_) {
        refuse(QStringLiteral("Cannot Move Folder.  Source and Destination Folders Are The Same."));
        return false;
    }
    if (IsTopLevelNode(f_->TreeView1->Nodes(nodx_))) {
        refuse(QStringLiteral("Cannot Move Folder.  Folder Is A Root Folder."));
        return false;
    }
    ui::SetMousePointer(ui::vbHourglass);
    mail::FolderPtr folder;
    try {
        const mail::NameSpacePtr ns = RequireNameSpace();
        folder = ns->GetFolderFromID(nodx_);
        folder->MoveTo(ns->GetFolderFromID(destKey));
    } catch (const std::exception& e) {
        refuse(QStringLiteral("Error Encountered.  Cannot Move Folder To A Child Folder.  ") + what(e));
        return false;
    }
    if (f_->TreeView1->Nodes(nodx_)) f_->TreeView1->Nodes().Remove(nodx_);
    // The folder keeps its ids: its node comes back under the new parent with everything below it.
    const QString key = folder->EntryID();
    ui::TreeNode* node = addMainNode(destKey, key, folder->Name());
    if (node && !node->Children()) AddEmailSubFolderNodes(*f_->TreeView1, folder, key);
    CurrentFolderNode = key;
    if (node) {
        node->SetSelected(true);
        showMessagesOf(node, false);
    }
    ui::SetMousePointer(ui::vbArrow);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Addresses and correspondents

QString Form6::addressSourceKey() const
{
    const QString key = f_->AddressListFolderKey();
    return key.isEmpty() ? nodx_ : key;
}

ui::TreeNode* Form6::addressDestination(const QString& sourceKey, const QString& sameFolder, const QString& rootFolder)
{
    ui::TreeNode* dest = TreeView1->SelectedItem();
    if (dest->Key() == sourceKey) {
        refuse(sameFolder);
        return nullptr;
    }
    if (IsTopLevelNode(dest)) {
        refuse(rootFolder);
        return nullptr;
    }
    return dest;
}

bool Form6::ActionDravonelCopy()
{
    const QString sourceKey = addressSourceKey();
    ui::TreeNode* dest = addressDestination(sourceKey, QStringLiteral("Cannot Copy Item.  Source and Destination Folders Are The Same."),
                                            QStringLiteral("Cannot Copy Item.  Item(s) Already Exist In The Destination (Root) Folder."));
    if (!dest) return false;
    ui::SetMousePointer(ui::vbHourglass);
    const qint64 destId = FolderRecIDFromKey(dest->Key());
    db::Connection& c = DBConnection();
    try {
        db::Connection::Transaction tx(c);
        {
            // Its batches nest inside the transaction, which makes the copy whole or nothing.
            AddressImport join(c, {destId});
            for (int row : selectedRows(*f_->TDBGrid2, *f_->ex)) join.JoinFolders(f_->ex->Value(row, 4).toLongLong());
            join.Commit();
            if (join.FailedCount() > 0) throw db::DbError(db::errUnspecified, join.LastError());
        }
        tx.Commit();
    } catch (const db::DbError& e) {
        refuse(QStringLiteral("Cannot Copy Item.  ") + e.message());
        return false;
    }
    f_->LoadEmailAddresses(f_->TreeView1->Nodes(sourceKey));
    ui::SetMousePointer(ui::vbArrow);
    return true;
}

bool Form6::ActionDravonelMove()
{
    const QString sourceKey = addressSourceKey();
    ui::TreeNode* dest = addressDestination(sourceKey, QStringLiteral("Cannot Move Item.  Source and Destination Folders Are The Same."),
                                            QStringLiteral("Cannot Move Item(s).  Item(s) Already Exist In The Destination (Root) Folder."));
    if (!dest) return false;
    ui::SetMousePointer(ui::vbHourglass);
    const qint64 sourceId = FolderRecIDFromKey(sourceKey);
    const qint64 destId = FolderRecIDFromKey(dest->Key());
    db::Connection& c = DBConnection();
    try {
        db::Connection::Transaction tx(c);
        db::Statement find = c.Prepare(QStringLiteral("SELECT RecID FROM ListMembers WHERE MasterRecID = ? AND FolderRecID = ? LIMIT 1"));
        db::Statement inDest = c.Prepare(QStringLiteral("SELECT 1 FROM ListMembers WHERE MasterRecID = ? AND FolderRecID = ? LIMIT 1"));
        db::Statement repoint = c.Prepare(QStringLiteral("UPDATE ListMembers SET FolderRecID = ? WHERE RecID = ?"));
        db::Statement drop = c.Prepare(QStringLiteral("DELETE FROM ListMembers WHERE RecID = ?"));
        for (int row : selectedRows(*f_->TDBGrid2, *f_->ex)) {
            const qint64 m = f_->ex->Value(row, 4).toLongLong();
            find.Bind(0, m).Bind(1, sourceId).Exec();
            // An address that is not a member of the source folder is passed over.
            if (!find.Next()) continue;
            const qint64 r = find.Value(0).toLongLong();
            inDest.Bind(0, m).Bind(1, destId).Exec();
            // Already in the destination: the source membership goes instead of making a second one.
            if (inDest.Next()) {
                drop.Bind(0, r).Exec();
            } else {
                repoint.Bind(0, destId).Bind(1, r).Exec();
            }
        }
        tx.Commit();
    } catch (const db::DbError& e) {
        refuse(QStringLiteral("Cannot Move Item(s).  ") + e.message());
        return false;
    }
    f_->LoadEmailAddresses(f_->TreeView1->Nodes(sourceKey));
    ui::SetMousePointer(ui::vbArrow);
    return true;
}

bool Form6::ActionEmailToDravonel()
{
    ui::SetMousePointer(ui::vbHourglass);
    ui::TreeNode* dest = TreeView1->SelectedItem();
    // The root "Master List" means the Master List only.
    QList<qint64> folders;
    if (!IsTopLevelNode(dest)) folders << FolderRecIDFromKey(dest->Key());
    const QList<int> rows = selectedRows(*f_->TDBGrid1, *f_->xa);
    int noAddress = 0, failed = 0;
    QString reason;
    try {
        AddressImport import(DBConnection(), folders);
        for (int row : rows) {
            try {
                const mail::MailItemPtr mi = mail::AsMailItem(RequireNameSpace()->GetItemFromID(f_->xa->Value(row, 8).toString()));
                if (!mi) {
                    ++failed;
                    continue;
                }
                const int failedBefore = import.FailedCount();
                // A name without an address (or nothing at all) is no address to mail to.
                const QString address = GetMessageAddress(mi).trimmed();
                const AddressImport::Result r = import.ImportAddress(address);
                if (r == AddressImport::Skipped)
                    ++noAddress;
                else if (r == AddressImport::Failed || import.FailedCount() > failedBefore)
                    ++failed;
            } catch (const mail::MailError&) {
                ++failed;
            }
        }
        import.Commit();
    } catch (const db::DbError& e) {
        // The batch in progress rolled back: what it held is not known to be kept.
        reason = e.message();
    }
    ui::SetMousePointer(ui::vbArrow);
    if (noAddress + failed > 0 || !reason.isEmpty()) {
        QString text = QStringLiteral("An Error Has Occurred copying an email address to a Bulk Mail Folder.  Please check the selected messages.");
        if (reason.isEmpty()) {
            text += QStringLiteral("\n\nMessages not added: %1 of %2.").arg(noAddress + failed).arg(rows.size());
            if (noAddress > 0) text += QStringLiteral("\nWithout an e-mail address: %1.").arg(noAddress);
            if (failed > 0) text += QStringLiteral("\nCould not be read or stored: %1.").arg(failed);
        } else {
            text += QStringLiteral("\n\n") + reason;
        }
        ui::MsgBox(text, ui::vbCritical);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// List folders

bool Form6::RecurChildCheck(qint64 ParentFolderRecID, qint64 TargetRecID)
{
    db::Statement up = DBConnection().Prepare(QStringLiteral("SELECT ParentFolderRecID FROM MailFolders WHERE RecID = ?"));
    QSet<qint64> seen{TargetRecID};
    qint64 id = TargetRecID;
    for (;;) {
        up.Bind(0, id).Exec();
        if (!up.Next()) return true;
        const qint64 parent = NullToZero(up.Value(0)).toLongLong();
        if (parent == ParentFolderRecID) return false;
        if (parent == 0 || seen.contains(parent)) return true;
        seen.insert(parent);
        id = parent;
    }
}

bool Form6::ChildCheckOK(const QString& sourceKey, const QString& destinationKey)
{
    return RecurChildCheck(FolderRecIDFromKey(sourceKey), FolderRecIDFromKey(destinationKey));
}

bool Form6::ActionDravonelFolderMove()
{
    const QString destKey = TreeView1->SelectedItem()->Key();
    if (destKey == nodx_) {
        refuse(QStringLiteral("Cannot Copy Item.  Source and Destination Folders Are The Same."));
        return false;
    }
    if (!ChildCheckOK(nodx_, destKey)) {
        refuse(QStringLiteral("Cannot Copy Folder to a Child Of The Same Folder.  However, you may select the addresses in the "
                              "address window and copy them to the desired folder."));
        return false;
    }
    ui::SetMousePointer(ui::vbHourglass);
    const qint64 sourceId = FolderRecIDFromKey(nodx_);
    const qint64 destId = FolderRecIDFromKey(destKey);
    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    sql.SetSql(QStringLiteral("UPDATE MailFolders SET ? WHERE RecID = ") + QString::number(sourceId) + QStringLiteral(";"));
    sql.SetLong(QStringLiteral("ParentFolderRecID"), destId);
    sql.SetInteger(QStringLiteral("FolderType"), 1);
    sql.Execute();
    if (sql.Error()) {
        refuse(QStringLiteral("Cannot Move Folder.  ") + sql.ErrorMessage());
        return false;
    }
    // The folder's node comes back under its new parent with its whole subtree.
    const QString key = ListFolderKey(sourceId);
    const QString text = mainNodeText(nodx_);
    if (f_->TreeView1->Nodes(nodx_)) f_->TreeView1->Nodes().Remove(nodx_);
    ui::TreeNode* node = addMainNode(destKey, key, text);
    if (node && !node->Children()) AddDravonelSubFolderNodes(*f_->TreeView1, sourceId);
    CurrentFolderNode = key;
    if (node) {
        node->SetSelected(true);
        f_->LoadEmailAddresses(node);
    }
    ui::SetMousePointer(ui::vbArrow);
    return true;
}

qint64 Form6::GetNextFolderRecID()
{
    db::Connection& c = DBConnection();
    c.Execute(QStringLiteral("INSERT INTO MailFolders (FolderType) VALUES (-1);"));
    db::Recordset rs;
    rs.Open(QStringLiteral("SELECT RecID FROM MailFolders WHERE FolderType = -1;"), c);
    if (rs.Eof()) throw db::DbError(db::errUnspecified, QStringLiteral("The new folder could not be found again."));
    const qint64 id = NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong();
    rs.Close();
    return id;
}

void Form6::copyFolderRow(qint64 sourceId, const QString& name, qint64 parentId, QSet<qint64>& copied)
{
    copied.insert(sourceId);
    const qint64 newId = GetNextFolderRecID();
    db::Connection& c = DBConnection();
    // Filling the placeholder clears its marker.
    c.Prepare(QStringLiteral("UPDATE MailFolders SET FolderName = ?, ParentFolderRecID = ?, FolderType = 1 WHERE FolderType = -1;"))
        .Bind(0, name)
        .Bind(1, parentId)
        .Exec();
    c.Prepare(QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) SELECT MasterRecID, ? FROM ListMembers WHERE FolderRecID = ?;"))
        .Bind(0, newId)
        .Bind(1, sourceId)
        .Exec();
    CopyFolderChildren(sourceId, newId, copied);
}

void Form6::CopyFolderChildren(qint64 oldParent, qint64 newParent, QSet<qint64>& copied)
{
    db::Statement children = DBConnection().Prepare(QStringLiteral("SELECT RecID, FolderName FROM MailFolders WHERE ParentFolderRecID = ?;"));
    children.Bind(0, oldParent).Exec();
    QList<QPair<qint64, QString>> rows;
    while (children.Next())
        rows.append({NullToZero(children.Value(0)).toLongLong(), NullToString(children.Value(1)).toString()});
    for (const auto& [childId, childName] : std::as_const(rows)) {
        // A folder met again through a damaged parent chain is copied once.
        if (copied.contains(childId)) continue;
        copyFolderRow(childId, childName, newParent, copied);
    }
}

bool Form6::ActionDravonelFolderCopy()
{
    const QString destKey = TreeView1->SelectedItem()->Key();
    if (destKey == nodx_) {
        refuse(QStringLiteral("Cannot Copy Item.  Source and Destination Folders Are The Same."));
        return false;
    }
    if (!ChildCheckOK(nodx_, destKey)) {
        refuse(QStringLiteral("Cannot Copy Folder to a Child Of The Same Folder"));
        return false;
    }
    ui::SetMousePointer(ui::vbHourglass);
    const qint64 destId = FolderRecIDFromKey(destKey);
    const qint64 sourceId = FolderRecIDFromKey(nodx_);
    const QString name = mainNodeText(nodx_);
    db::Connection& c = DBConnection();
    try {
        // Whole or not at all; a placeholder left by an earlier interrupted copy goes first, so
        // each new row is the one placeholder there is while it is filled.
        db::Connection::Transaction tx(c);
        c.Execute(QStringLiteral("DELETE FROM MailFolders WHERE FolderType = -1;"));
        QSet<qint64> copied;
        copyFolderRow(sourceId, name, destId, copied);
        tx.Commit();
    } catch (const db::DbError& e) {
        refuse(QStringLiteral("Cannot Copy Folder.  ") + e.message());
        return false;
    }
    try {
        f_->LoadFolders();
    } catch (const std::exception& e) {
        // The copy is kept; the tree shows it once it can be read again.
        ui::MsgBox(what(e), ui::vbCritical);
    }
    // The copy shows under its destination; the current folder stays selected.
    for (ui::TreeNode* n = f_->TreeView1->Nodes(destKey); n; n = n->Parent()) n->SetExpanded(true);
    if (ui::TreeNode* current = f_->TreeView1->Nodes(CurrentFolderNode)) current->SetSelected(true);
    ui::SetMousePointer(ui::vbArrow);
    return true;
}
