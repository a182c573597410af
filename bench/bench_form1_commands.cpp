// The main window's delete and select commands on large folders and lists:
//   - Delete of 1,000 selected messages of a 10,000-message folder (into Deleted Items), against
//     rename(2) moving the same number of files between two folders;
//   - Delete of a mail folder holding 10,000 messages, against `rm -rf` of a copy of it;
//   - Edit > Select All over a 100,000-address Master List (aim: under 0.2 s);
//   - Delete of every address of that Master List (half of them in a list folder), against the
//     sqlite3 command-line tool running the same two DELETE statements on a copy of the file.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <unistd.h>

#include "bench/BenchUtil.h"
#include "core/Database.h"
#include "core/Globals.h"
#include "core/Main.h"
#include "core/TreeKeys.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/mail/MAPIFolder.h"
#include "platform/ui/ScriptedUi.h"

namespace {

constexpr int kAddresses = 100000;
constexpr int kMembers = 50000;
constexpr int kMessages = 10000;
constexpr int kDeleted = 1000;

QByteArray message(int i)
{
    const QByteArray n = QByteArray::number(i);
    QByteArray text;
    for (int l = 0; l < 30; ++l) text += "Line " + QByteArray::number(l) + " of a plain message body that says little.\n";
    return "From: Sender Number " + n + " <sender" + n + "@example.org>\nTo: Bob Baker <bob@example.net>\n"
           "Subject: Message number " + n + "\nDate: Tue, 14 Nov 2023 09:00:00 +0000\nMessage-ID: <" + n +
           "@example.org>\nMIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n\n" + text;
}

bool writeMaildir(const QString& dir, int count, const QString& tag)
{
    for (const char* sub : {"cur", "new", "tmp"}) QDir().mkpath(dir + QLatin1Char('/') + QLatin1String(sub));
    for (int i = 0; i < count; ++i) {
        QFile f(dir + QStringLiteral("/cur/%1.M%2P1.%3:2,S").arg(1700000000 + i).arg(i).arg(tag));
        if (!f.open(QIODevice::WriteOnly) || f.write(message(i)) < 0) return false;
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
    db::Statement ins = c.Prepare("INSERT INTO MasterList (Email, SortName, City, State, Zip) VALUES (?, ?, ?, ?, ?)");
    for (int i = 0; i < kAddresses; ++i) {
        const QString n = QString::number((i * 7919) % kAddresses);
        ins.Bind(0, "person" + n + "@example" + QString::number(i % 97) + ".org")
            .Bind(1, "Person, Number " + n)
            .Bind(2, "Springfield")
            .Bind(3, "ST")
            .Bind(4, QString::number(10000 + i % 89999));
        ins.Exec();
    }
    db::Statement mem = c.Prepare("INSERT INTO ListMembers (MasterRecID, FolderRecID) VALUES (?, 2)");
    for (int i = 0; i < kMembers; ++i) mem.Bind(0, 1 + 2 * i).Exec();
    t.Commit();
    c.Close();
}

double renameFiles(const QString& from, const QString& to, int count)
{
    const QStringList names = QDir(from).entryList(QDir::Files, QDir::Name).mid(0, count);
    return timed([&] {
        for (const QString& n : names)
            ::rename(QFile::encodeName(from + QLatin1Char('/') + n).constData(), QFile::encodeName(to + QLatin1Char('/') + n).constData());
    });
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    QTemporaryDir scratch;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    QApplication qapp(argc, argv);

    const QString dbPath = home.path() + "/dv.db";
    seedDatabase(dbPath);
    if (!writeMaildir(home.path() + "/Mail/Inbox", kMessages, "inbox") || !writeMaildir(home.path() + "/Mail/Big", kMessages, "big")
        || !writeMaildir(scratch.path() + "/from", kMessages, "ref"))
        return 1;
    QDir().mkpath(scratch.path() + "/to/cur");

    ui::ScriptedUi scripted;
    ui::setServices(&scripted);
    if (!Main()) {
        std::printf("start-up failed\n");
        return 1;
    }
    Form1* f = Form1::Instance();
    ui::TreeNode* inbox = f->TreeView1->Nodes(f->InboxFolder->EntryID());
    ui::TreeNode* root = f->TreeView1->Nodes(ListFolderKey(1));
    QString bigKey;
    for (int i = 1; i <= f->TreeView1->Nodes().Count(); ++i)
        if (f->TreeView1->Nodes(i)->Text() == QLatin1String("Big")) bigKey = f->TreeView1->Nodes(i)->Key();
    if (!inbox || !root || bigKey.isEmpty()) return 1;

    // Messages: every tenth row of the Inbox.
    CurrentFolderNode = inbox->Key();
    f->LoadMessages(inbox, true);
    auto& msel = f->TDBGrid1->SelBookmarks();
    msel.Clear();
    for (int r = 1; r <= kDeleted; ++r) msel.Add(r * 10);
    const double oursMessages = timed([&] { f->mnuEmailPopDelete_Click(); });
    const double refMessages = renameFiles(scratch.path() + "/from/cur", scratch.path() + "/to/cur", kDeleted);
    if (f->xa->UpperBound(1) != kMessages - kDeleted || !scripted.boxes.value(1).prompt.isEmpty()) {
        std::printf("message delete went wrong: %d rows\n", f->xa->UpperBound(1));
        return 1;
    }

    // A mail folder of 10,000 messages.
    CurrentFolderNode = bigKey;
    const double oursFolder = timed([&] { f->mnuFolderEmailPopDelete_Click(); });
    const double refFolder = RunTool(QStringLiteral("rm"), {QStringLiteral("-rf"), scratch.path() + "/from"});
    if (QDir(home.path() + "/Mail/Big").exists()) {
        std::printf("folder delete went wrong: %s\n", qPrintable(scripted.lastPrompt()));
        return 1;
    }

    // The Master List: Select All, then Delete, against the same statements on a copy of the file.
    CurrentFolderNode = root->Key();
    f->LoadEmailAddresses(root);
    f->AddressListMode = 1;
    f->Form_Resize();
    const double oursSelect = timed([&] { f->mnuEdit_SelectAll_Click(); });
    if (f->TDBGrid2->SelBookmarks().Count() != kAddresses) return 1;
    QStringList ids;
    for (int r = 1; r <= f->ex->UpperBound(1); ++r) ids << f->ex->Value(r, 4).toString();
    const QString list = ids.join(QLatin1Char(','));
    const QByteArray script = ("BEGIN;\nDELETE FROM ListMembers WHERE MasterRecID IN (" + list + ");\nDELETE FROM MasterList WHERE RecID IN (" +
                               list + ");\nCOMMIT;\n")
                                  .toUtf8();
    DBConnection().Execute(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    const QString copy = scratch.path() + "/copy.db";
    QFile::copy(dbPath, copy);
    const double refAddresses = RunTool(QStringLiteral("sqlite3"), {copy}, script);
    scripted.clear();
    const double oursAddresses = timed([&] { f->mnuBulkPopDelete_Click(); });
    if (f->ex->UpperBound(1) != 0 || scripted.boxes.size() != 1) {
        std::printf("address delete went wrong: %d rows, %s\n", f->ex->UpperBound(1), qPrintable(scripted.lastPrompt()));
        return 1;
    }

    std::printf("delete %d of %d messages: %.1f ms; rename(2) of as many files: %.1f ms; ratio %.2f\n", kDeleted, kMessages,
                oursMessages, refMessages, oursMessages / refMessages);
    std::printf("delete a mail folder of %d messages: %.1f ms; rm -rf of a copy: %.1f ms; ratio %.2f (aim: seconds, not minutes)\n",
                kMessages, oursFolder, refFolder, oursFolder / refFolder);
    std::printf("select all of %d addresses: %.1f ms; aim 200 ms; ratio %.2f (aim: at most 1)\n", kAddresses, oursSelect,
                oursSelect / 200.0);
    std::printf("delete every address of a Master List of %d: %.1f ms; sqlite3 tool, the same two DELETE statements on a copy: "
                "%.1f ms; ratio %.2f (aim: at most 3)\n",
                kAddresses, oursAddresses, refAddresses, oursAddresses / refAddresses);
    f->close();
    ReleaseInstanceLock();
    ui::setServices(nullptr);
    return 0;
}
