#include "core/FolderTree.h"

#include <stdexcept>

#include "core/Conversions.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/ui/TreeView.h"

namespace {
// Str() of a number that is not negative starts with a blank.
QString Str(qint64 n) { return n < 0 ? QString::number(n) : QStringLiteral(" ") + QString::number(n); }

void readFolders(SQLStatement& sql, db::Recordset& rs)
{
    // An unreadable table is the caller's failure (at start-up: the initialisation message).
    if (!sql.GetRecordsetFO(rs)) throw std::runtime_error(sql.ErrorMessage().toStdString());
}
} // namespace

void AddEmailFolderNodes(ui::TreeView& tree, const mail::NameSpacePtr& ns, const FolderNodeAdded& added)
{
    const mail::FoldersPtr stores = ns->Folders();
    for (int i = 1; i <= stores->Count(); ++i) {
        const mail::FolderPtr store = stores->Item(i);
        if (store->DefaultItemType() != mail::olMailItem) continue;
        const QString key = store->EntryID();
        ui::TreeNode* n = tree.Nodes().Add(key, store->Name(), 1);
        if (added) added(key);
        n->SetExpanded(true);
        AddEmailSubFolderNodes(tree, store, key, added);
    }
}

void AddEmailSubFolderNodes(ui::TreeView& tree, const mail::FolderPtr& folder, const QString& parentKey,
                            const FolderNodeAdded& added)
{
    const mail::FoldersPtr children = folder->Folders();
    for (int i = 1; i <= children->Count(); ++i) {
        const mail::FolderPtr child = children->Item(i);
        // A folder of another kind is left out together with everything below it.
        if (child->DefaultItemType() != mail::olMailItem) continue;
        const QString key = child->EntryID();
        tree.Nodes().Add(parentKey, ui::tvwChild, key, child->Name(), 1);
        if (added) added(key);
        AddEmailSubFolderNodes(tree, child, key, added);
    }
}

void AddDravonelFolderNodes(ui::TreeView& tree)
{
    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    sql.SetSql(QStringLiteral("SELECT * FROM MailFolders WHERE FolderType = ") + Str(0) + QStringLiteral(";"));
    db::Recordset rs;
    readFolders(sql, rs);
    while (!rs.Eof()) {
        const qint64 recId = NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong();
        const QString name = NullToString(rs.Fields(QStringLiteral("FolderName"))).toString();
        ui::TreeNode* n = tree.Nodes().Add(ListFolderKey(recId), name, 1);
        n->SetExpanded(true);
        AddDravonelSubFolderNodes(tree, recId);
        rs.MoveNext();
    }
    rs.Close();
}

void AddDravonelSubFolderNodes(ui::TreeView& tree, qint64 parentRecID)
{
    SQLStatement sql;
    sql.SetConnection(&DBConnection());
    sql.SetSql(QStringLiteral("SELECT * FROM MailFolders WHERE ParentFolderRecID = ") + Str(parentRecID) +
               QStringLiteral(" ") + QStringLiteral("AND FolderType = ") + Str(1) +
               QStringLiteral(" ORDER BY FolderName; "));
    db::Recordset rs;
    readFolders(sql, rs);
    const QString parentKey = ListFolderKey(parentRecID);
    while (!rs.Eof()) {
        const qint64 recId = NullToZero(rs.Fields(QStringLiteral("RecID"))).toLongLong();
        const QString key = ListFolderKey(recId);
        if (!tree.Nodes(key)) {
            const QString name = NullToString(rs.Fields(QStringLiteral("FolderName"))).toString();
            tree.Nodes().Add(parentKey, ui::tvwChild, key, name, 1);
            AddDravonelSubFolderNodes(tree, recId);
        }
        rs.MoveNext();
    }
    rs.Close();
}
