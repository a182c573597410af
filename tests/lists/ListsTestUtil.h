#pragma once
// Shared set-up of the list-folder tests: a started program with a small Master List.
#include <QSet>

#include "core/SQLStatement.h"
#include "core/TreeKeys.h"
#include "platform/db/Recordset.h"
#include "tests/mainwindow/Form1TestUtil.h"

namespace liststest {

using namespace form1test;

// One value read with a query ("" when there is no row).
inline QVariant scalar(const QString& query)
{
    db::Recordset rs;
    rs.Open(query, DBConnection());
    return rs.Eof() ? QVariant() : rs.Fields(0);
}

inline int count(const QString& query) { return scalar(query).toInt(); }

// The e-mail addresses of a folder's members, one entry per membership row.
inline QStringList members(long folder)
{
    db::Recordset rs;
    rs.Open(QStringLiteral("SELECT MasterList.Email FROM ListMembers INNER JOIN MasterList ON MasterList.RecID = "
                           "ListMembers.MasterRecID WHERE FolderRecID = %1 ORDER BY MasterList.Email")
                .arg(folder),
            DBConnection());
    QStringList out;
    for (; !rs.Eof(); rs.MoveNext()) out << rs.Fields(0).toString();
    return out;
}

// A list folder row under parent; returns its RecID.
inline long addFolder(const QString& name, long parent = 1)
{
    SQLStatement st;
    st.SetConnection(&DBConnection());
    st.SetSql(QStringLiteral("INSERT INTO MailFolders (?) VALUES (?);"));
    st.SetString(QStringLiteral("FolderName"), name);
    st.SetLong(QStringLiteral("ParentFolderRecID"), parent);
    st.SetLong(QStringLiteral("FolderType"), 1);
    st.SetLong(QStringLiteral("Status"), -1);
    st.Execute();
    return scalar(QStringLiteral("SELECT MAX(RecID) FROM MailFolders")).toInt();
}

inline void addMember(long master, long folder)
{
    sql(QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (%1, %2)").arg(master).arg(folder));
}

// Makes the node the tree's selection and the current folder, as a right click does.
inline void selectNode(Form1* f, const QString& key)
{
    f->TreeView1->Nodes(key)->SetSelected(true);
    click(f, key);
}

} // namespace liststest
