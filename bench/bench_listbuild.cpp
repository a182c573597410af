// Building a list folder from two rules over a 100,000-address Master List (half of it matches),
// against the same INSERT ... SELECT run by the sqlite3 command-line tool on the same file.
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "core/Database.h"
#include "core/FieldVocabulary.h"
#include "core/Globals.h"
#include "core/TreeKeys.h"
#include "lists/Form13.h"
#include "platform/db/Connection.h"
#include "platform/db/Recordset.h"

namespace {
constexpr int kAddresses = 100000;
constexpr long kFolder = 2;

int members()
{
    db::Recordset rs;
    rs.Open(QStringLiteral("SELECT COUNT(*) FROM ListMembers WHERE FolderRecID = 2"), DBConnection());
    return rs.Fields(0).toInt();
}

// Seconds of the INSERT as the tool's own timer reports it; negative when the tool failed.
double referenceRun(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("sqlite3"), {path});
    p.write("DELETE FROM ListMembers;\n.timer on\n"
            "INSERT INTO ListMembers (MasterRecID, FolderRecID) SELECT RecID, 2 FROM MasterList "
            "WHERE MasterList.City = 'Paris' AND MasterList.Country = 'France' ORDER BY Email;\n");
    p.closeWriteChannel();
    if (!p.waitForFinished(120000) || p.exitCode() != 0) return -1;
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    const auto m = QRegularExpression(QStringLiteral("Run Time: real ([0-9.]+)")).match(out);
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}
} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    QApplication app(argc, argv);
    const QString path = home.path() + QStringLiteral("/dv.db");
    db::Connection& c = DBConnection();
    OpenDatabase(c, path);
    {
        auto tx = c.BeginTrans();
        c.Execute(QStringLiteral("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType, Status) VALUES ('Master List', 0, 0, -1)"));
        c.Execute(QStringLiteral("INSERT INTO MailFolders (FolderName, ParentFolderRecID, FolderType, Status) VALUES ('Paris', 1, 1, -1)"));
        db::Statement ins = c.Prepare(QStringLiteral("INSERT INTO MasterList (Email, City, Country, Last) VALUES (?, ?, ?, ?)"));
        for (int i = 0; i < kAddresses; ++i) {
            const int k = (i * 7919) % kAddresses;
            ins.Bind(0, QStringLiteral("user%1@example.org").arg(k, 6, 10, QLatin1Char('0')))
                .Bind(1, i % 2 ? QStringLiteral("Lyon") : QStringLiteral("Paris"))
                .Bind(2, i % 4 == 1 ? QStringLiteral("Italy") : QStringLiteral("France"))
                .Bind(3, QStringLiteral("Name %1").arg(i))
                .Exec();
        }
        c.Execute(QStringLiteral("INSERT INTO MailFolderProperties (Status, FolderRecID, Sequence, FieldType, FieldID, Operator, "
                                 "FieldValue, Conjunction) VALUES (1, 2, 1, 0, 8, 'Equal To', 'Paris', 'AND')"));
        c.Execute(QStringLiteral("INSERT INTO MailFolderProperties (Status, FolderRecID, Sequence, FieldType, FieldID, Operator, "
                                 "FieldValue, Conjunction) VALUES (1, 2, 2, 0, 10, 'Equal To', 'France', '')"));
        tx.Commit();
    }
    LoadComboFieldTypes();

    Form13 dlg;
    dlg.CurrentNode = ListFolderKey(kFolder);
    dlg.LoadProperties();

    double best = 1e9, bestRef = 1e9;
    int built = 0, builtRef = 0;
    for (int round = 0; round < 3; ++round) {
        c.Execute(QStringLiteral("DELETE FROM ListMembers"));
        QElapsedTimer t;
        t.start();
        dlg.BuildTheList();
        best = std::min(best, t.nsecsElapsed() / 1e6);
        built = members();

        const double ref = referenceRun(path);
        if (ref < 0) {
            std::printf("sqlite3 command-line tool did not run\n");
            return 1;
        }
        bestRef = std::min(bestRef, ref * 1000);
        builtRef = members();
    }
    std::printf("list build, 2 rules over %d addresses: %d members in %.1f ms (best of 3)\n", kAddresses, built, best);
    std::printf("reference sqlite3 INSERT ... SELECT: %d members in %.1f ms; ratio %.2f (aim: 5 or below)\n", builtRef, bestRef,
                best / bestRef);
    return built == builtRef ? 0 : 1;
}
