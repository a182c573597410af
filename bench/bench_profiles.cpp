// Applying an action profile of five presets with a target list folder:
//   - to every address of a 100,000-address Master List (the chooser's Mode 2 on the root), against
//     the sqlite3 command-line tool running one UPDATE of the same columns and one INSERT ... SELECT
//     of the memberships on a copy of the same file;
//   - once more through the chooser itself, which also reloads the address grid;
//   - to the senders of 1,000 messages (half of them already listed), each message moved to the
//     profile's mail folder.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include "bench/BenchUtil.h"
#include "core/Database.h"
#include "core/Globals.h"
#include "core/Main.h"
#include "core/TreeKeys.h"
#include "core/ValueRules.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/ui/ScriptedUi.h"
#include "profiles/Form10.h"
#include "profiles/ProfileApply.h"

namespace {

int addresses() { return qEnvironmentVariableIntValue("FERROWYN_BENCH_ADDRESSES") > 0 ? qEnvironmentVariableIntValue("FERROWYN_BENCH_ADDRESSES") : 100000; }
constexpr int kMessages = 1000;
constexpr qint64 kTarget = 2;

qint64 scalar(const QString& sql)
{
    db::Statement st = DBConnection().Prepare(sql);
    st.Exec();
    return st.Next() ? st.Value(0).toLongLong() : -1;
}

void seedDatabase(const QString& path)
{
    db::Connection c;
    OpenDatabase(c, path);
    auto t = c.BeginTrans();
    c.Execute("INSERT INTO MailFolders (RecID, FolderName, ParentFolderRecID, FolderType, Status) VALUES (1, 'Master List', 0, 0, -1)");
    c.Execute("INSERT INTO MailFolders (RecID, FolderName, ParentFolderRecID, FolderType, Status) VALUES (2, 'Customers', 1, 1, -1)");
    c.Execute("INSERT INTO Config (combo0, combo1, chk0, chkHot1) VALUES ('Kind', 'Since', 'Paid', 'Hot')");
    db::Statement ins = c.Prepare(
        "INSERT INTO MasterList (Email, First, Last, Company, SortName, City, State, Zip) VALUES (?, ?, ?, ?, ?, ?, 'ST', ?)");
    for (int i = 0; i < addresses(); ++i) {
        const QString n = QString::number(i);
        const QString first = "First" + n, last = i % 10 ? "Last" + n : QString(), company = "Company " + n;
        ins.Bind(0, "sender" + n + "@example.org")
            .Bind(1, first)
            .Bind(2, last)
            .Bind(3, company)
            .Bind(4, SortNameOf(first, last, QString(), company))
            .Bind(5, i % 3 ? QVariant("Boston") : QVariant())
            .Bind(6, QString::number(10000 + i % 89999));
        ins.Exec();
    }
    c.Execute("INSERT INTO Profiles (RecID, Description, Status, TargetEmailFolderEntryID, TargetDravonelFolderID) "
              "VALUES (1, 'Customers', 1, '', 2)");
    c.Execute("INSERT INTO ProfileDetails (ProfileRecID, Sequence, FieldType, FieldID, FieldValue) VALUES "
              "(1, 1, 1, 0, 'Customer'), (1, 2, 1, 1, '$DATE'), (1, 3, 2, 0, 'CHECKED'), (1, 4, 3, 1, 'CHECKED'), "
              "(1, 5, 0, 8, 'Springfield')");
    t.Commit();
    c.Close();
}

QByteArray message(int i)
{
    const QByteArray n = QByteArray::number(i);
    return "From: Sender " + n + " <sender" + n + "@example.org>\nTo: me@example.net\nSubject: Order " + n +
           "\nDate: Tue, 14 Nov 2023 09:00:00 +0000\nMessage-ID: <" + n + "@example.org>\nMIME-Version: 1.0\n"
           "Content-Type: text/plain; charset=utf-8\n\nPlease ship to <%CITY>Town " + n + "<%/CITY>.\nThanks.\n";
}

bool chooseAndApply(const QVariant& mode)
{
    Form10 d;
    d.Mode = mode;
    d.List1->setCurrentRow(0);
    d.Command1_Click();
    return d.result() == QDialog::Accepted;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    QApplication qapp(argc, argv);
    ui::ScriptedUi scripted;
    ui::setServices(&scripted);

    const QString dbPath = home.path() + "/dv.db";
    const QString refPath = home.path() + "/reference.db";
    seedDatabase(dbPath);
    QFile::copy(dbPath, refPath);
    for (const char* sub : {"cur", "new", "tmp"}) QDir().mkpath(home.path() + "/Mail/Inbox/" + sub);
    for (int i = 0; i < kMessages; ++i) {
        // Half the senders are listed already, half are new.
        const int sender = i % 2 ? i : addresses() + i;
        QFile f(home.path() + QStringLiteral("/Mail/Inbox/cur/%1.M%2P1.bench:2,S").arg(1700000000 + i).arg(i));
        if (!f.open(QIODevice::WriteOnly) || f.write(message(sender)) < 0) return 1;
    }

    // The reference: the same columns in one UPDATE, the memberships in one INSERT ... SELECT.
    const double reference = RunTool(QStringLiteral("sqlite3"), {refPath},
                                     "BEGIN;\n"
                                     "UPDATE MasterList SET combo0 = 'Customer', combo1 = date('now'), chk0 = -1, chkHot1 = -1, "
                                     "City = 'Springfield';\n"
                                     "INSERT INTO ListMembers (MasterRecID, FolderRecID) SELECT RecID, 2 FROM MasterList WHERE NOT EXISTS "
                                     "(SELECT 1 FROM ListMembers WHERE MasterRecID = MasterList.RecID AND FolderRecID = 2);\n"
                                     "COMMIT;\n");

    if (!Main()) {
        std::printf("start-up failed\n");
        return 1;
    }
    Form1* f = Form1::Instance();
    db::Connection& c = DBConnection();

    // What the chooser runs for the root, without its window: the profile, the ids, the writes.
    QElapsedTimer t;
    t.start();
    Profile profile;
    ReadProfile(c, 1, profile);
    bool missing = false;
    const qint64 target = TargetListFolder(c, profile.TargetDravonelFolderID, &missing);
    std::vector<qint64> ids;
    {
        db::Statement st = c.Prepare(QStringLiteral("SELECT RecID FROM MasterList;"));
        st.Exec();
        while (st.Next()) ids.push_back(st.Value(0).toLongLong());
    }
    const ApplyCount count = ApplyProfileToAddresses(c, profile, target, ids);
    const double ours = ms(t);
    if (count.applied != addresses() || count.failed != 0 || scalar("SELECT COUNT(*) FROM ListMembers") != addresses() ||
        scalar("SELECT COUNT(*) FROM MasterList WHERE City = 'Springfield' AND chkHot1 = -1") != addresses()) {
        std::printf("wrong result: %d applied, %d failed\n", count.applied, count.failed);
        return 1;
    }
    std::printf("profile of 5 presets and a list folder, %d addresses: %.1f ms; sqlite3 tool, one UPDATE and one INSERT ... "
                "SELECT on a copy: %.1f ms; ratio %.2f (aim: at most 10)\n",
                addresses(), ours, reference, ours / reference);

    // Once more, as the user runs it: the chooser on the root, then the address grid reloaded.
    ui::TreeNode* root = f->TreeView1->Nodes(ListFolderKey(1));
    root->SetSelected(true);
    t.restart();
    const bool closed = chooseAndApply(2);
    std::printf("the same again through the chooser, with the address grid reloaded: %.1f ms%s\n", ms(t),
                closed ? "" : " (the chooser did not close)");

    // Message senders: each row written with its message's move.
    c.Execute("UPDATE Profiles SET TargetEmailFolderEntryID = '" + f->DeletedItemsFolder->EntryID() + "'");
    c.Execute("UPDATE ProfileDetails SET FieldValue = '<%CITY>' WHERE FieldID = 8 AND FieldType = 0");
    f->LoadMessages(f->TreeView1->Nodes(f->InboxFolder->EntryID()));
    for (int r = 1; r <= f->xa->UpperBound(1); ++r) f->TDBGrid1->SelBookmarks().Add(r);
    const qint64 before = scalar("SELECT COUNT(*) FROM MasterList");
    t.restart();
    chooseAndApply(0);
    const double senders = ms(t);
    const int moved = f->DeletedItemsFolder->Items()->Count();
    std::printf("profile applied to %d message senders (%lld new), each message moved: %.1f ms (%.2f ms a message); "
                "%d moved, %d rows left in the grid\n",
                kMessages, scalar("SELECT COUNT(*) FROM MasterList") - before, senders, senders / kMessages, moved,
                qMax(0, f->xa->UpperBound(1)));
    f->close();
    ReleaseInstanceLock();
    return 0;
}
