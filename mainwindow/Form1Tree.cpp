#include <QAction>
#include <QMenu>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/ui/UiServices.h"

namespace {
// Str() of a number that is not negative starts with a blank.
QString Str(qint64 n) { return n < 0 ? QString::number(n) : QStringLiteral(" ") + QString::number(n); }
} // namespace

void Form1::specialFolderTest(const QString& entryId, const QString& nodeKey)
{
    if (entryId.compare(SentItemsEntryID, Qt::CaseInsensitive) == 0) SentItemsNode = nodeKey;
    if (entryId.compare(OutboxEntryID, Qt::CaseInsensitive) == 0) OutboxNode = nodeKey;
    if (entryId.compare(DraftsEntryID, Qt::CaseInsensitive) == 0) DraftsNode = nodeKey;
}

void Form1::LoadFolders()
{
    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    const mail::NameSpacePtr ns = RequireNameSpace();
    SentItemsEntryID = ns->GetDefaultFolder(mail::olFolderSentMail)->EntryID();
    OutboxEntryID = ns->GetDefaultFolder(mail::olFolderOutbox)->EntryID();
    DraftsEntryID = ns->GetDefaultFolder(mail::olFolderDrafts)->EntryID();
    TreeView1->Nodes().Clear();

    const mail::FoldersPtr stores = ns->Folders();
    for (int i = 1; i <= stores->Count(); ++i) {
        const mail::FolderPtr store = stores->Item(i);
        if (store->DefaultItemType() != mail::olMailItem) continue;
        const QString key = store->EntryID();
        ui::TreeNode* n = TreeView1->Nodes().Add(key, store->Name(), 1);
        specialFolderTest(key, key);
        n->SetExpanded(true);
        LoadEmailSubFolders(store, key);
    }

    db::Recordset rs;
    sql.SetSql(QStringLiteral("SELECT * FROM MailFolders WHERE FolderType = ") + Str(0) + QStringLiteral(";"));
    // An unreadable table is the caller's failure (at start-up: the initialisation message).
    if (!sql.GetRecordsetFO(rs)) throw std::runtime_error(sql.ErrorMessage().toStdString());
    while (!rs.Eof()) {
        const qint64 recId = NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong();
        const QString name = NullToString(rs.Fields(QStringLiteral("FolderName"))).toString();
        ui::TreeNode* n = TreeView1->Nodes().Add(ListFolderKey(recId), name, 1);
        n->SetExpanded(true);
        LoadDravonelSubFolders(recId);
        rs.MoveNext();
    }
    rs.Close();
}

void Form1::LoadEmailSubFolders(const mail::FolderPtr& folder, const QString& parentKey)
{
    const mail::FoldersPtr children = folder->Folders();
    for (int i = 1; i <= children->Count(); ++i) {
        const mail::FolderPtr child = children->Item(i);
        // A folder of another kind is left out together with everything below it.
        if (child->DefaultItemType() != mail::olMailItem) continue;
        const QString key = child->EntryID();
        TreeView1->Nodes().Add(parentKey, ui::tvwChild, key, child->Name(), 1);
        specialFolderTest(key, key);
        LoadEmailSubFolders(child, key);
    }
}

void Form1::LoadDravonelSubFolders(qint64 parentRecID)
{
    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    sql.SetSql(QStringLiteral("SELECT * FROM MailFolders WHERE ParentFolderRecID = ") + Str(parentRecID) +
               QStringLiteral(" ") + QStringLiteral("AND FolderType = ") + Str(1) +
               QStringLiteral(" ORDER BY FolderName; "));
    db::Recordset rs;
    if (!sql.GetRecordsetFO(rs)) throw std::runtime_error(sql.ErrorMessage().toStdString());
    while (!rs.Eof()) {
        const qint64 recId = NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong();
        const QString name = NullToString(rs.Fields(QStringLiteral("FolderName"))).toString();
        TreeView1->Nodes().Add(ListFolderKey(parentRecID), ui::tvwChild, ListFolderKey(recId), name, 1);
        LoadDravonelSubFolders(recId);
        rs.MoveNext();
    }
    rs.Close();
}

void Form1::TreeView1_MouseUp(int Button, int Shift, double x, double y)
{
    Q_UNUSED(Shift);
    if (Busy()) return;
    try {
        ui::TreeNode* nodx = TreeView1->HitTest(x, y);
        if (!nodx) return;
        const QString key = nodx->Key();
        if (key.compare(CurrentFolderNode, Qt::CaseInsensitive) != 0) {
            CurrentFolderNode = key;
            if (IsEmailFolderNode(nodx)) {
                ui::SetMousePointer(ui::vbHourglass);
                LoadMessages(nodx);
                if (xa->UpperBound(1) < 1) {
                    msgPaneHeader->setVisible(true);
                    ClearMessagePane();
                } else {
                    LoadMessageFromBookmark(TDBGrid1->Bookmark());
                }
                if (AddressListMode != 0) {
                    AddressListMode = 0;
                    Form_Resize();
                }
                ui::SetMousePointer(ui::vbArrow);
            } else {
                ui::SetMousePointer(ui::vbHourglass);
                LoadEmailAddresses(nodx);
                SetFirstdravonelBookmark();
                if (AddressListMode != 1) {
                    AddressListMode = 1;
                    Form_Resize();
                }
                ui::SetMousePointer(ui::vbArrow);
            }
        }
        // The load above may have rebuilt nothing, but look the node up again all the same.
        nodx = TreeView1->Nodes(key);
        if (Button == 2 && nodx) {
            if (IsDravonelFolderNode(nodx)) {
                const bool enable = !IsTopLevelNode(nodx);
                for (QAction* a : {mnuFolderPopMove, mnuFolderPopRename, mnuFolderPopDelete, mnuFolderPopProperties,
                                   mnuFolderPopRefresh})
                    a->setEnabled(enable);
                popup(mnuFolderPop);
            } else {
                bool enable = !IsTopLevelNode(nodx);
                if (enable) {
                    for (const mail::FolderPtr& f : {DeletedItemsFolder, InboxFolder, OutboxFolder, SentItemsFolder, DraftsFolder})
                        if (f && key.compare(f->EntryID(), Qt::CaseInsensitive) == 0) enable = false;
                }
                for (QAction* a : {mnuFolderEmailPopMove, mnuFolderEmailPopRename, mnuFolderEmailPopDelete})
                    a->setEnabled(enable);
                popup(mnuFolderEmailPop);
            }
        }
    } catch (const std::exception&) {
        // The handler ends silently; the pointer comes back when the window is next activated.
    }
}

void Form1::TreeView1_KeyDown(int& KeyCode, int Shift)
{
    Q_UNUSED(Shift);
    // The current folder changes by mouse only.
    KeyCode = 0;
}
