#include "lists/ListBuild.h"

#include <QSet>
#include <vector>

#include "core/Conversions.h"
#include "core/FolderCriteria.h"
#include "core/Globals.h"
#include "core/SQLStatement.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"

ListBuildResult BuildListMembers(long folderRecID, bool clearFirst, const ListBuildProgress& progress)
{
    ListBuildResult result;
    const QString id = QString::number(folderRecID);

    QString where;
    try {
        where = BuildFolderWhere(folderRecID);
    } catch (const db::DbError& e) {
        result.error = e.message();
        return result;
    }
    if (where.trimmed().isEmpty()) where = QStringLiteral(" WHERE RecID = -1 ");

    // Only the ids are needed; reading them first keeps a refused condition away from the folder.
    SQLStatement select;
    select.SetConnection(&DBConnection());
    select.SetSql(QStringLiteral("SELECT MasterList.RecID FROM MasterList ") + where + QStringLiteral(" ORDER BY Email;"));
    db::Recordset rs;
    if (!select.GetRecordsetRO(rs)) {
        result.error = select.ErrorMessage();
        return result;
    }
    std::vector<qint64> ids;
    ids.reserve(size_t(rs.RecordCount()));
    for (; !rs.Eof(); rs.MoveNext()) ids.push_back(NullToZero(rs.Fields(0)).toLongLong());
    rs.Close();
    result.selected = int(ids.size());
    if (progress.started) progress.started(result.selected);

    db::Connection& c = DBConnection();
    try {
        // Whole or not at all, with or without clearing: a failure never leaves a half-built folder.
        db::Connection::Transaction whole(c);
        QSet<qint64> members;
        if (clearFirst) {
            c.Execute(QStringLiteral("DELETE FROM ListMembers WHERE FolderRecID = ") + id + QStringLiteral(";"));
        } else {
            db::Statement current = c.Prepare(QStringLiteral("SELECT MasterRecID FROM ListMembers WHERE FolderRecID = ?;"));
            current.Bind(0, qint64(folderRecID)).Exec();
            while (current.Next()) members.insert(current.Value(0).toLongLong());
        }

        db::Statement insert = c.Prepare(QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (?, ?);"));
        for (size_t i = 0; i < ids.size(); ++i) {
            if (progress.step) progress.step(int(i) + 1);
            const qint64 m = ids[i];
            if (members.contains(m)) continue;
            insert.Bind(0, m).Bind(1, qint64(folderRecID)).Exec();
            members.insert(m);
            ++result.added;
        }
        whole.Commit();
    } catch (const db::DbError& e) {
        result.error = e.message();
        return result;
    }
    result.ok = true;
    return result;
}
