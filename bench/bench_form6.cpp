// The folder picker's bulk actions, each as the user runs it (Apply in the dialog, the main
// window brought up to date), against a reference in the same run on the same data:
//   - copying a three-level list-folder tree holding 50,000 memberships, against the sqlite3
//     command-line tool running the equivalent INSERT ... SELECT statements on a copy of the file;
//   - copying and moving 50,000 selected addresses to another list folder, against the tool
//     running the set statements that do the same;
//   - moving 1,000 of 10,000 messages to another mail folder, against rename() of 1,000 files.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "bench/BenchUtil.h"
#include "core/Database.h"
#include "core/Globals.h"
#include "core/Main.h"
#include "core/TreeKeys.h"
#include "lists/Form6.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"

namespace {

constexpr int kAddresses = 60000;
constexpr int kTreeMembers = 50000;
constexpr int kSelected = 50000;
constexpr int kMessages = 10000;
constexpr int kMoved = 1000;
constexpr int kRounds = 3;

// Folder ids: 1 the root, 2 the tree's top, 3-7 its children, 8-32 their children, 33 the
// destination of the tree copy, 34 the 50,000-address folder, 35 and 36 the address destinations.
constexpr long kTop = 2, kTreeEnd = 32, kTreeDest = 33, kBig = 34, kCopyDest = 35, kMoveDest = 36;

long parentOf(long id) { return id == kTop ? 1 : id <= 7 ? kTop : 3 + (id - 8) / 5; }

void seedDatabase(const QString& path)
{
    db::Connection c;
    OpenDatabase(c, path);
    auto t = c.BeginTrans();
    db::Statement folder = c.Prepare("INSERT INTO MailFolders (RecID, FolderName, ParentFolderRecID, FolderType, Status) VALUES (?, ?, ?, ?, -1)");
    folder.Bind(0, 1).Bind(1, "Master List").Bind(2, 0).Bind(3, 0).Exec();
    for (long id = kTop; id <= kTreeEnd; ++id) folder.Bind(0, qint64(id)).Bind(1, QStringLiteral("Folder %1").arg(id)).Bind(2, qint64(parentOf(id))).Bind(3, 1).Exec();
    for (long id : {kTreeDest, kBig, kCopyDest, kMoveDest}) folder.Bind(0, qint64(id)).Bind(1, QStringLiteral("Other %1").arg(id)).Bind(2, 1).Bind(3, 1).Exec();
    db::Statement ins = c.Prepare("INSERT INTO MasterList (Email, SortName, City) VALUES (?, ?, ?)");
    for (int i = 0; i < kAddresses; ++i)
        ins.Bind(0, QStringLiteral("person%1@example.org").arg((i * 7919) % kAddresses)).Bind(1, QStringLiteral("Person %1").arg(i)).Bind(2, "Springfield").Exec();
    db::Statement mem = c.Prepare("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (?, ?)");
    const long treeFolders = kTreeEnd - kTop + 1;
    for (int i = 0; i < kTreeMembers; ++i) mem.Bind(0, 1 + i).Bind(1, qint64(kTop + i % treeFolders)).Exec();
    for (int i = 0; i < kSelected; ++i) mem.Bind(0, 1 + (i + 7000) % kAddresses).Bind(1, qint64(kBig)).Exec();
    t.Commit();
    c.Close();
}

// The summed "Run Time: real" figures of a script run by the sqlite3 tool, in ms; negative on failure.
double sqliteTool(const QString& dbFile, const QByteArray& script)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {dbFile});
    p.write(".timer on\n" + script);
    p.closeWriteChannel();
    if (!p.waitForFinished(600000) || p.exitCode() != 0) return -1;
    double total = 0;
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    auto it = QRegularExpression(QStringLiteral("Run Time: real ([0-9.]+)")).globalMatch(out);
    while (it.hasNext()) total += it.next().captured(1).toDouble();
    return total * 1000;
}

// A copy of the database file as it stands (the write-ahead log folded in first).
QString snapshot(const QString& dbPath, const QString& name)
{
    DBConnection().Execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    const QString copy = QFileInfo(dbPath).dir().filePath(name);
    QFile::remove(copy);
    QFile::copy(dbPath, copy);
    return copy;
}

// What the dialog's folder copy does, as plain statements: each new row, then its members.
QByteArray treeCopyScript(const QString& dbFile)
{
    db::Connection c;
    c.Open(dbFile);
    db::Recordset rs;
    rs.Open(QStringLiteral("SELECT MAX(RecID) FROM MailFolders"), c);
    const long next = rs.Fields(0).toInt() + 1;
    rs.Close();
    c.Close();
    QByteArray s = "BEGIN;\n";
    for (long id = kTop; id <= kTreeEnd; ++id) {
        const long newId = next + (id - kTop);
        const long newParent = id == kTop ? kTreeDest : next + (parentOf(id) - kTop);
        s += QStringLiteral("INSERT INTO MailFolders (RecID, FolderName, ParentFolderRecID, FolderType) VALUES (%1, 'Folder %2', %3, 1);\n"
                            "INSERT INTO ListMembers (MasterRecID, FolderRecID) SELECT MasterRecID, %1 FROM ListMembers WHERE FolderRecID = %2;\n")
                 .arg(newId)
                 .arg(id)
                 .arg(newParent)
                 .toUtf8();
    }
    return s + "COMMIT;\n";
}

int count(const QString& query)
{
    db::Recordset rs;
    rs.Open(query, DBConnection());
    return rs.Fields(0).toInt();
}

// Runs one action of the dialog as Apply does; false when it did not close.
bool apply(Form1* f, const QString& source, int code, const QString& pick)
{
    Form6 d(f);
    d.SetAction(source, code);
    d.TreeView1->Nodes(pick)->SetSelected(true);
    d.Command1_Click();
    return d.result() == QDialog::Accepted;
}

void selectAll(ui::DataGrid* g, int rows, int step = 1)
{
    g->SelBookmarks().Clear();
    for (int r = 1; r <= rows; r += step) g->SelBookmarks().Add(r);
}

QByteArray message(int i)
{
    const QByteArray n = QByteArray::number(i);
    return "From: Sender " + n + " <sender" + n + "@example.org>\nTo: bob@example.net\nSubject: Message " + n +
           "\nDate: Tue, 14 Nov 2023 09:00:00 +0000\nMessage-ID: <" + n + "@example.org>\nMIME-Version: 1.0\n"
           "Content-Type: text/plain; charset=utf-8\n\nA short body.\n";
}

bool writeMessages(const QString& dir, int n, const char* tag)
{
    for (const char* sub : {"cur", "new", "tmp"}) QDir().mkpath(dir + "/" + sub);
    for (int i = 0; i < n; ++i) {
        QFile f(dir + QStringLiteral("/cur/%1.M%2P1.%3:2,S").arg(1700000000 + i).arg(i).arg(QLatin1String(tag)));
        if (!f.open(QIODevice::WriteOnly) || f.write(message(i)) < 0) return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    QApplication qapp(argc, argv);

    const QString dbPath = home.path() + "/dv.db";
    seedDatabase(dbPath);
    if (!writeMessages(home.path() + "/Mail/Inbox", kMessages, "bench")) return 1;
    QDir().mkpath(home.path() + "/Mail/Inbox/Target/cur");
    if (!Main()) {
        std::printf("start-up failed\n");
        return 1;
    }
    Form1* f = Form1::Instance();
    int failures = 0;

    // The tree copy, best of alternating rounds.
    double ours = 1e18, ref = 1e18;
    for (int r = 0; r < kRounds; ++r) {
        const QString copy = snapshot(dbPath, QStringLiteral("reference.db"));
        const double refRun = sqliteTool(copy, treeCopyScript(copy));
        if (refRun < 0) {
            std::printf("sqlite3 command-line tool did not run\n");
            return 1;
        }
        ref = std::min(ref, refRun);
        const int before = count(QStringLiteral("SELECT COUNT(*) FROM ListMembers"));
        ours = std::min(ours, timed([&] { failures += !apply(f, ListFolderKey(kTop), 6, ListFolderKey(kTreeDest)); }));
        failures += count(QStringLiteral("SELECT COUNT(*) FROM ListMembers")) != before + kTreeMembers;
    }
    std::printf("list-folder copy, 31 folders in three levels with %d memberships: %.1f ms (best of %d); "
                "sqlite3 tool, the same INSERT ... SELECT statements on a copy: %.1f ms; ratio %.2f (aim: at most 3)\n",
                kTreeMembers, ours, kRounds, ref, ours / ref);

    // 50,000 selected addresses, copied and then moved.
    const QString big = ListFolderKey(kBig);
    f->LoadEmailAddresses(f->TreeView1->Nodes(big));
    selectAll(f->TDBGrid2, f->ex->UpperBound(1));
    const QString copyRef = snapshot(dbPath, QStringLiteral("reference.db"));
    const double copyTool = sqliteTool(copyRef, QStringLiteral("INSERT INTO ListMembers (MasterRecID, FolderRecID) SELECT DISTINCT MasterRecID, %1 "
                                                               "FROM ListMembers s WHERE FolderRecID = %2 AND NOT EXISTS (SELECT 1 FROM "
                                                               "ListMembers d WHERE d.FolderRecID = %1 AND d.MasterRecID = s.MasterRecID);\n")
                                                    .arg(kCopyDest)
                                                    .arg(kBig)
                                                    .toUtf8());
    const double copyOurs = timed([&] { failures += !apply(f, big, 1, ListFolderKey(kCopyDest)); });
    failures += count(QStringLiteral("SELECT COUNT(*) FROM ListMembers WHERE FolderRecID = %1").arg(kCopyDest)) != kSelected;
    std::printf("copy %d selected addresses: %.2f s; sqlite3 tool, one INSERT ... SELECT: %.2f s; ratio %.1f\n", kSelected, copyOurs / 1000,
                copyTool / 1000, copyOurs / copyTool);

    selectAll(f->TDBGrid2, f->ex->UpperBound(1));
    const QString moveRef = snapshot(dbPath, QStringLiteral("reference.db"));
    const double moveTool =
        sqliteTool(moveRef, QStringLiteral("UPDATE ListMembers SET FolderRecID = %1 WHERE FolderRecID = %2;\n").arg(kMoveDest).arg(kBig).toUtf8());
    const double moveOurs = timed([&] { failures += !apply(f, big, 3, ListFolderKey(kMoveDest)); });
    failures += count(QStringLiteral("SELECT COUNT(*) FROM ListMembers WHERE FolderRecID = %1").arg(kMoveDest)) != kSelected;
    failures += f->ex->UpperBound(1) != 0;
    std::printf("move %d selected addresses: %.2f s; sqlite3 tool, one UPDATE: %.2f s; ratio %.1f\n", kSelected, moveOurs / 1000,
                moveTool / 1000, moveOurs / moveTool);

    // 1,000 of 10,000 messages, every tenth row.
    const QString inbox = f->InboxFolder->EntryID();
    f->LoadMessages(f->TreeView1->Nodes(inbox), true);
    selectAll(f->TDBGrid1, f->xa->UpperBound(1), kMessages / kMoved);
    const QString target = MAPINameSpace->GetFolderFromID(inbox)->Folders()->Item(1)->EntryID();
    const double moveMessages = timed([&] { failures += !apply(f, inbox, 4, target); });
    failures += f->xa->UpperBound(1) != kMessages - kMoved;
    const QString refDir = home.path() + "/rename";
    writeMessages(refDir + "/from", kMoved, "ref");
    QDir().mkpath(refDir + "/to/cur");
    const double renames = timed([&] {
        for (const QString& n : QDir(refDir + "/from/cur").entryList(QDir::Files))
            failures += std::rename(QFile::encodeName(refDir + "/from/cur/" + n).constData(), QFile::encodeName(refDir + "/to/cur/" + n).constData()) != 0;
    });
    std::printf("move %d of %d messages: %.1f ms; rename() of %d files alone: %.1f ms; ratio %.1f\n", kMoved, kMessages, moveMessages, kMoved,
                renames, moveMessages / renames);

    f->close();
    ReleaseInstanceLock();
    if (failures) std::printf("%d checks failed\n", failures);
    return failures ? 1 : 0;
}
