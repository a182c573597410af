// Filling the main window's grids, as the user sees it after clicking a folder:
//   - the address grid of a 100,000-address Master List and of a 50,000-member list folder,
//     against the sqlite3 command-line tool running the same query to /dev/null;
//   - the message grid of a 10,000-message Maildir folder, against GMime alone parsing the
//     same files (and reading subject, sender and date).
// Each is the best of alternating rounds in the same run, on the same data.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <gmime/gmime.h>

#include "bench/BenchUtil.h"
#include "core/Database.h"
#include "core/Globals.h"
#include "core/Main.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/mail/MAPIFolder.h"

namespace {

constexpr int kAddresses = 100000;
constexpr int kMembers = 50000;
constexpr int kMessages = 10000;
constexpr int kRounds = 3;

const char* const kRootQuery = "SELECT * FROM MasterList ORDER By Email;";
const char* const kFolderQuery =
    "SELECT MasterList.RecID, MasterList.Disabled, MasterList.Email, MasterList.SortName, MasterList.City, "
    "MasterList.State, MasterList.Zip, MasterList.Country, ListMembers.RecID AS ListMemberRecID, "
    "ListMembers.FolderRecID AS ListMemberFolderRecID  FROM MasterList INNER JOIN ListMembers ON "
    "MasterList.RecID = ListMembers.MasterRecID WHERE ListMembers.FolderRecID = 2 ORDER BY MasterList.Email; ";

QByteArray message(int i)
{
    const QByteArray n = QByteArray::number(i);
    const QByteArray head = "From: Sender Number " + n + " <sender" + n + "@example.org>\n"
                      "To: Bob Baker <bob@example.net>\nCc: carol@example.net\n"
                      "Subject: Message number " + n + "\nDate: Tue, 14 Nov 2023 09:00:00 +0000\n"
                      "Message-ID: <" + n + "@example.org>\nMIME-Version: 1.0\n";
    return BenchMessage(head, i);
}

void seedDatabase(const QString& path)
{
    db::Connection c;
    OpenDatabase(c, path);
    auto t = c.BeginTrans();
    c.Execute("INSERT INTO MailFolders (RecID, FolderName, ParentFolderRecID, FolderType, Status) VALUES (1, 'Master List', 0, 0, -1)");
    c.Execute("INSERT INTO MailFolders (RecID, FolderName, ParentFolderRecID, FolderType, Status) VALUES (2, 'Half', 1, 1, -1)");
    db::Statement ins = c.Prepare("INSERT INTO MasterList (Email, Disabled, SortName, City, State, Country, Zip) VALUES (?, ?, ?, ?, ?, ?, ?)");
    for (int i = 0; i < kAddresses; ++i) {
        const QString n = QString::number((i * 7919) % kAddresses);
        ins.Bind(0, "person" + n + "@example" + QString::number(i % 97) + ".org")
            .Bind(1, i % 50 == 0 ? -1 : 0)
            .Bind(2, "Person, Number " + n)
            .Bind(3, i % 3 ? QVariant("Springfield") : QVariant())
            .Bind(4, "ST")
            .Bind(5, i % 5 ? QVariant() : QVariant("Country"))
            .Bind(6, QString::number(10000 + i % 89999));
        ins.Exec();
    }
    db::Statement mem = c.Prepare("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (?, 2)");
    for (int i = 0; i < kMembers; ++i) mem.Bind(0, 1 + 2 * i).Exec();
    t.Commit();
    c.Close();
}

double gmimeAlone(const QString& dir)
{
    QElapsedTimer t;
    t.start();
    int n = 0;
    for (const QString& f : QDir(dir).entryList(QDir::Files)) {
        QFile file(dir + QLatin1Char('/') + f);
        if (!file.open(QIODevice::ReadOnly)) continue;
        const QByteArray bytes = file.readAll();
        GMimeStream* stream = g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size()));
        GMimeParser* parser = g_mime_parser_new_with_stream(stream);
        if (GMimeMessage* msg = g_mime_parser_construct_message(parser, nullptr)) {
            n += g_mime_message_get_subject(msg) != nullptr;
            n += internet_address_list_length(g_mime_message_get_from(msg)) > 0;
            if (GDateTime* d = g_mime_message_get_date(msg)) n += g_date_time_get_year(d) > 0;
            g_object_unref(msg);
        }
        g_object_unref(parser);
        g_object_unref(stream);
    }
    if (n < 0) std::printf("?");
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    QApplication qapp(argc, argv);
    g_mime_init();

    const QString dbPath = home.path() + "/dv.db";
    seedDatabase(dbPath);
    const QString cur = home.path() + "/Mail/Inbox/cur";
    QDir().mkpath(cur);
    QDir().mkpath(home.path() + "/Mail/Inbox/new");
    QDir().mkpath(home.path() + "/Mail/Inbox/tmp");
    for (int i = 0; i < kMessages; ++i) {
        QFile f(cur + QStringLiteral("/%1.M%2P1.bench:2,S").arg(1700000000 + i).arg(i));
        if (!f.open(QIODevice::WriteOnly) || f.write(message(i)) < 0) return 1;
    }

    if (!Main()) {
        std::printf("start-up failed\n");
        return 1;
    }
    Form1* f = Form1::Instance();
    ui::TreeNode* root = f->TreeView1->Nodes(ListFolderKey(1));
    ui::TreeNode* half = f->TreeView1->Nodes(ListFolderKey(2));
    ui::TreeNode* inbox = f->TreeView1->Nodes(f->InboxFolder->EntryID());
    if (!root || !half || !inbox) return 1;

    double refRoot = 1e18, oursRoot = 1e18, refHalf = 1e18, oursHalf = 1e18, refMail = 1e18, oursMail = 1e18;
    for (int r = 0; r < kRounds; ++r) {
        refRoot = std::min(refRoot, RunTool(QStringLiteral("sqlite3"), {dbPath, QString::fromLatin1(kRootQuery)}));
        oursRoot = std::min(oursRoot, timed([&] { f->LoadEmailAddresses(root); }));
        refHalf = std::min(refHalf, RunTool(QStringLiteral("sqlite3"), {dbPath, QString::fromLatin1(kFolderQuery)}));
        oursHalf = std::min(oursHalf, timed([&] { f->LoadEmailAddresses(half); }));
        refMail = std::min(refMail, gmimeAlone(cur));
        oursMail = std::min(oursMail, timed([&] { f->LoadMessages(inbox); }));
    }
    if (f->ex->UpperBound(1) != kMembers || f->xa->UpperBound(1) != kMessages) {
        std::printf("wrong row counts: %d addresses, %d messages\n", f->ex->UpperBound(1), f->xa->UpperBound(1));
        return 1;
    }
    std::printf("address grid, Master List of %d: %.1f ms; sqlite3 tool, same query to /dev/null: %.1f ms; ratio %.2f (aim: at most 3)\n",
                kAddresses, oursRoot, refRoot, oursRoot / refRoot);
    std::printf("address grid, list folder of %d: %.1f ms; sqlite3 tool, same query to /dev/null: %.1f ms; ratio %.2f (aim: at most 3)\n",
                kMembers, oursHalf, refHalf, oursHalf / refHalf);
    std::printf("message grid, Maildir of %d: %.1f ms; GMime alone parsing the same files: %.1f ms; ratio %.2f (aim: at most 2)\n",
                kMessages, oursMail, refMail, oursMail / refMail);
    f->close();
    ReleaseInstanceLock();
    return 0;
}
