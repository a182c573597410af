#include "core/Database.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include "platform/db/Connection.h"
#include "platform/ui/DataFolder.h"

QString DatabasePath() { return ui::DataPath(QStringLiteral("dv.db")); }

namespace {

QString textCols(const QStringList& names)
{
    QStringList out;
    for (const QString& n : names) out << n + QStringLiteral(" TEXT COLLATE NOCASE");
    return out.join(QStringLiteral(", "));
}

QString numbered(const QString& prefix, int count, const QString& type)
{
    QStringList out;
    for (int i = 0; i < count; ++i) out << QStringLiteral("%1%2 %3").arg(prefix).arg(i).arg(type);
    return out.join(QStringLiteral(", "));
}

const QString kId = QStringLiteral("RecID INTEGER PRIMARY KEY AUTOINCREMENT");
const QString kCheck = QStringLiteral("INTEGER NOT NULL DEFAULT 0");
const QString kText = QStringLiteral("TEXT COLLATE NOCASE");

} // namespace

QStringList SchemaStatements()
{
    QStringList s;
    s << QStringLiteral("CREATE TABLE MasterList (%1, Email %2, Disabled %3, %4, %5, %6, %7, Status INTEGER DEFAULT 1)")
             .arg(kId, kText, kCheck,
                  textCols({QStringLiteral("Company"), QStringLiteral("First"), QStringLiteral("Middle"), QStringLiteral("Last"),
                            QStringLiteral("SortName"), QStringLiteral("Address1"), QStringLiteral("Address2"), QStringLiteral("City"),
                            QStringLiteral("State"), QStringLiteral("Country"), QStringLiteral("Zip"), QStringLiteral("Website"),
                            QStringLiteral("Phone1"), QStringLiteral("Phone2"), QStringLiteral("Fax"), QStringLiteral("Cell")}),
                  numbered(QStringLiteral("chkHot"), 6, kCheck), numbered(QStringLiteral("chk"), 15, kCheck),
                  numbered(QStringLiteral("combo"), 15, kText));
    s << QStringLiteral("CREATE TABLE ListMembers (%1, MasterRecID INTEGER, FolderRecID INTEGER)").arg(kId);
    // A copied folder's row keeps the Status default until it is written: settled, never the
    // add-folder dialog's marker 0.
    s << QStringLiteral("CREATE TABLE MailFolders (%1, FolderName %2, ParentFolderRecID INTEGER DEFAULT 0, "
                        "FolderType INTEGER DEFAULT 1, Status INTEGER DEFAULT -1)")
             .arg(kId, kText);
    s << QStringLiteral("CREATE TABLE MailFolderProperties (%1, FolderRecID INTEGER, Sequence INTEGER, FieldType INTEGER, "
                        "FieldID INTEGER, Operator %2, FieldValue %2, Conjunction %2, Status INTEGER DEFAULT 1)")
             .arg(kId, kText);
    s << QStringLiteral("CREATE TABLE Profiles (%1, Description %2, Status INTEGER DEFAULT 1, TargetEmailFolderEntryID %2, "
                        "TargetDravonelFolderID INTEGER DEFAULT 0)")
             .arg(kId, kText);
    s << QStringLiteral("CREATE TABLE ProfileDetails (%1, ProfileRecID INTEGER, Sequence INTEGER, FieldType INTEGER, "
                        "FieldID INTEGER, FieldValue %2)")
             .arg(kId, kText);
    s << QStringLiteral("CREATE TABLE Config (%1, %2, %3, %4, %5)")
             .arg(kId, numbered(QStringLiteral("combo"), 15, kText),
                  numbered(QStringLiteral("combofieldtype"), 15, QStringLiteral("INTEGER DEFAULT 0")),
                  numbered(QStringLiteral("chk"), 15, kText), numbered(QStringLiteral("chkHot"), 6, kText));
    s << QStringLiteral("CREATE TABLE ConfigCombo (%1, FieldID INTEGER, FieldIDX INTEGER, FieldValue %2)").arg(kId, kText);
    s << QStringLiteral("CREATE INDEX MasterList_Email ON MasterList (Email)");
    s << QStringLiteral("CREATE INDEX ListMembers_Master_Folder ON ListMembers (MasterRecID, FolderRecID)");
    s << QStringLiteral("CREATE INDEX ListMembers_Folder ON ListMembers (FolderRecID)");
    s << QStringLiteral("CREATE INDEX MailFolders_Parent ON MailFolders (ParentFolderRecID)");
    s << QStringLiteral("CREATE INDEX MailFolders_Type ON MailFolders (FolderType)");
    s << QStringLiteral("CREATE INDEX MailFolderProperties_Folder ON MailFolderProperties (FolderRecID, Sequence)");
    s << QStringLiteral("CREATE INDEX ProfileDetails_Profile ON ProfileDetails (ProfileRecID, Sequence)");
    s << QStringLiteral("CREATE INDEX ConfigCombo_Field ON ConfigCombo (FieldID, FieldIDX)");
    return s;
}

namespace {
void removeDatabaseFiles(const QString& path)
{
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) QFile::remove(path + QLatin1String(suffix));
}
} // namespace

void OpenDatabase(db::Connection& c, const QString& path)
{
    if (!QFileInfo::exists(path)) {
        // The schema is made under another name and renamed into place, so a crash while it is
        // made never leaves a file without tables that the next start would take as a database.
        const QString building = path + QStringLiteral(".new");
        removeDatabaseFiles(building);
        try {
            c.Open(building);
            auto t = c.BeginTrans();
            for (const QString& stmt : SchemaStatements()) c.Execute(stmt);
            t.Commit();
            c.Close();
        } catch (...) {
            c.Close();
            removeDatabaseFiles(building);
            throw;
        }
        // The addresses are the user's alone; SQLite gives its journal files the same mode.
        QFile::setPermissions(building, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        if (!QFile::rename(building, path)) {
            removeDatabaseFiles(building);
            throw db::DbError(db::errUnspecified, QStringLiteral("The database file could not be created: ") + path);
        }
    }
    c.Open(path);
}
