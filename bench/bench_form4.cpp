// The address "Properties" dialog at scale:
//   - open, edit and apply one address of a 100,000-address Master List shown in the address
//     grid, from the command to the closed dialog (budget 50 ms), beside the same reads and the
//     same write sent straight to the database;
//   - the message-history scan over 10,000 messages in three folders, against the message
//     grid's own listing of the same three folders.
// Each figure is the best of alternating rounds in the same run, on the same data.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include "bench/BenchUtil.h"
#include "core/Database.h"
#include "core/Globals.h"
#include "core/Main.h"
#include "core/TreeKeys.h"
#include "lists/Form4.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"
#include "platform/mail/Application.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/ui/ScriptedUi.h"

namespace {

constexpr int kAddresses = 100000;
constexpr int kRounds = 7;
// Messages per folder: Inbox, its sub-folder Clients, Sent Items.
constexpr int kInbox = 4000, kClients = 3000, kSent = 3000;
constexpr int kScanRounds = 3;

QByteArray message(int i, bool sent)
{
    const QByteArray n = QByteArray::number(i);
    // One message in fifty is with the address the history looks for.
    const QByteArray other = i % 50 == 0 ? QByteArray("Ann Lee <ann@example.org>") : "Person " + n + " <person" + n + "@example.org>";
    const QByteArray me = "Bob Baker <bob@example.net>";
    const QByteArray head = "From: " + (sent ? me : other) + "\nTo: " + (sent ? other : me) + "\nCc: carol@example.net\n"
                      "Subject: Message number " + n + "\nDate: Tue, 14 Nov 2023 09:00:00 +0000\n"
                      "Message-ID: <" + n + "@example.org>\nMIME-Version: 1.0\n";
    return BenchMessage(head, i);
}

bool writeFolder(const QString& dir, int first, int count, bool sent)
{
    for (const char* sub : {"cur", "new", "tmp"}) QDir().mkpath(dir + "/" + sub);
    for (int i = first; i < first + count; ++i) {
        QFile f(dir + QStringLiteral("/cur/%1.M%2P1.bench:2,S").arg(1700000000 + i).arg(i));
        if (!f.open(QIODevice::WriteOnly) || f.write(message(i, sent)) < 0) return false;
    }
    return true;
}

void seedDatabase(const QString& path)
{
    db::Connection c;
    OpenDatabase(c, path);
    auto t = c.BeginTrans();
    c.Execute("INSERT INTO MailFolders (RecID, FolderName, ParentFolderRecID, FolderType, Status) VALUES (1, 'Master List', 0, 0, -1)");
    c.Execute("INSERT INTO MailFolders (RecID, FolderName, ParentFolderRecID, FolderType, Status) VALUES (2, 'Half', 1, 1, -1)");
    c.Execute("INSERT INTO Config (combo0, combo1, chk0, chkHot0, combofieldtype1) VALUES ('Region', 'Since', 'Member', 'VIP', 2)");
    for (int i = 1; i <= 12; ++i)
        c.Execute(QStringLiteral("INSERT INTO ConfigCombo (FieldID, FieldIDX, FieldValue) VALUES (0, %1, 'Region %1')").arg(i));
    db::Statement ins = c.Prepare("INSERT INTO MasterList (Email, First, Last, Company, SortName, Address1, City, State, Country, Zip, "
                                  "Phone1, combo0, chk0, chkHot0) VALUES (?, ?, ?, 'Company', ?, '1 Main Street', 'Springfield', "
                                  "'ST', 'Country', ?, '555-0100', 'Region 3', -1, 0)");
    for (int i = 0; i < kAddresses; ++i) {
        const QString n = QString::number((i * 7919) % kAddresses);
        ins.Bind(0, "person" + n + "@example" + QString::number(i % 97) + ".org")
            .Bind(1, "First" + n)
            .Bind(2, "Last" + n)
            .Bind(3, "Last" + n + ", First" + n)
            .Bind(4, QString::number(10000 + i % 89999));
        ins.Exec();
    }
    db::Statement mem = c.Prepare("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (?, 2)");
    for (int i = 0; i < kAddresses / 2; ++i) mem.Bind(0, 1 + 2 * i).Exec();
    t.Commit();
    c.Close();
}

// The dialog's reads and its write, sent straight to the database.
void directEdit(db::Connection& c, long id, const QString& first)
{
    db::Recordset rs;
    rs.Open(QStringLiteral("SELECT * FROM config;"), c);
    rs.Open(QStringLiteral("SELECT FieldID, FieldValue FROM ConfigCombo WHERE FieldID BETWEEN 0 AND 14 ORDER BY FieldID, FieldIDX;"), c);
    rs.Open(QStringLiteral("SELECT * FROM MasterList WHERE RecID = %1;").arg(id), c);
    const QString email = rs.Fields(QStringLiteral("Email")).toString();
    rs.Open(QStringLiteral("SELECT MailFolders.FolderName FROM MailFolders INNER JOIN ListMembers ON MailFolders.RecID = "
                           "ListMembers.FolderRecID WHERE ListMembers.MasterRecID = %1 ORDER BY FolderName;")
                .arg(id),
            c);
    rs.Open(QStringLiteral("SELECT Email FROM MasterList WHERE Email = '%1' AND RecID <> %2;").arg(email).arg(id), c);
    c.Execute(QStringLiteral("UPDATE MasterList SET First = '%1', SortName = 'Last, %1' WHERE RecID = %2").arg(first).arg(id));
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
    seedDatabase(dbPath);
    const QString mail = home.path() + "/Mail";
    if (!writeFolder(mail + "/Inbox", 0, kInbox, false) || !writeFolder(mail + "/Inbox/Clients", kInbox, kClients, false))
        return 1;

    if (!Main()) {
        std::printf("start-up failed\n");
        return 1;
    }
    Form1* f = Form1::Instance();
    if (!writeFolder(f->SentItemsFolder->Path(), kInbox + kClients, kSent, true)) return 1;
    f->LoadFolders();
    ui::TreeNode* root = f->TreeView1->Nodes(ListFolderKey(1));
    if (!root) return 1;
    f->LoadEmailAddresses(root);
    f->AddressListMode = 1;
    if (f->ex->UpperBound(1) != kAddresses) return 1;

    // ---- open, edit, apply ----
    int applied = 0;
    QString typed;
    scripted.dialogHandlers.insert(QStringLiteral("Form4"), [&](QDialog* d) {
        auto* dlg = static_cast<Form4*>(d);
        dlg->txtFirst->setText(typed);
        dlg->Command1_Click();
        applied += dlg->result() == QDialog::Accepted;
        return dlg->result();
    });
    db::Connection direct;
    direct.Open(dbPath);
    double ours = 1e18, reference = 1e18;
    for (int r = 0; r < kRounds; ++r) {
        const int row = 1 + (r * 37) % 1000 + 73000;
        f->TDBGrid2->SetBookmark(row);
        typed = QStringLiteral("Edited%1").arg(r);
        ours = std::min(ours, timed([&] { f->mnuBulkPopProperties_Click(); }));
        if (f->ex->Value(row, 2).toString().indexOf(typed) < 0) {
            std::printf("the grid row was not updated\n");
            return 1;
        }
        const long other = long(f->ex->Value(row + 500, 4).toLongLong());
        reference = std::min(reference, timed([&] { directEdit(direct, other, typed); }));
    }
    direct.Close();
    if (applied != kRounds) {
        std::printf("only %d of %d edits were applied\n", applied, kRounds);
        return 1;
    }
    std::printf("open, edit and apply one address of %d (address grid shown): %.1f ms (budget 50 ms); the same reads and "
                "write sent straight to the database: %.1f ms; ratio %.2f\n",
                kAddresses, ours, reference, ours / reference);

    // ---- message history ----
    scripted.dialogHandlers.clear();
    Form4 dlg(f);
    dlg.RecID = 0;
    dlg.eMailPrime = QStringLiteral("ann@example.org");
    dlg.Mode = 1;
    dlg.DisplayMode = 0;
    dlg.LoadData();
    QStringList keys;
    for (int i = 1; i <= f->TreeView1->Nodes().Count(); ++i) {
        const QString key = f->TreeView1->Nodes(i)->Key();
        if (!key.startsWith(kListFolderKeyMark) && MAPINameSpace->GetFolderFromID(key)->Items()->Count() > 0) keys << key;
    }
    if (keys.size() != 3) {
        std::printf("expected three mail folders with messages, found %lld\n", qlonglong(keys.size()));
        return 1;
    }
    double scan = 1e18, listing = 1e18;
    for (int r = 0; r < kScanRounds; ++r) {
        scan = std::min(scan, timed([&] { dlg.CommandRefresh_Click(); }));
        listing = std::min(listing, timed([&] {
            for (const QString& key : keys) f->LoadMessages(f->TreeView1->Nodes(key), true);
        }));
    }
    const int received = dlg.ReceivedMessageArray->UpperBound(1);
    const int sent = dlg.SentMessageArray->UpperBound(1);
    if (received != (kInbox + kClients) / 50 || sent != kSent / 50) {
        std::printf("wrong matches: %d received, %d sent\n", received, sent);
        return 1;
    }
    std::printf("message history of %d messages in three folders: %.1f ms; the message grid listing the same folders: %.1f ms; "
                "ratio %.2f (aim: at most 0.5)\n",
                kInbox + kClients + kSent, scan, listing, scan / listing);
    f->close();
    ReleaseInstanceLock();
    return 0;
}
