// Exporting the whole Master List of 100,000 addresses (every row filled as an import of
// fifteen-value records leaves it) through the main window's list-folder export, against the
// sqlite3 command-line tool writing the same rows to a file as CSV (.mode csv, .once) from the
// same database in the same run. Rounds alternate; the best of each counts.
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

#include "bench/BenchUtil.h"
#include "core/Database.h"
#include "core/Globals.h"
#include "core/Main.h"
#include "mainwindow/Form1.h"
#include "platform/db/Connection.h"
#include "platform/ui/ScriptedUi.h"

namespace {

constexpr int kAddresses = 100000;
constexpr int kRounds = 3;

void seed()
{
    db::Connection& c = DBConnection();
    db::Connection::Transaction tx(c);
    db::Statement ins = c.Prepare(QStringLiteral(
        "INSERT INTO MasterList (Email, Company, First, Last, Middle, Address1, Address2, City, State, Country, Zip, Phone1, "
        "Phone2, Fax, Cell, SortName) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (int i = 0; i < kAddresses; ++i) {
        const QString n = QString::number((i * 7919) % kAddresses);
        ins.Bind(0, QStringLiteral("user%1@example%2.com").arg(n).arg(i % 97))
            .Bind(1, QStringLiteral("Company %1, Inc").arg(n))
            .Bind(2, QStringLiteral("First%1").arg(n))
            .Bind(3, QStringLiteral("Last%1").arg(n))
            .Bind(4, QStringLiteral("M"))
            .Bind(5, QStringLiteral("%1 Main Street").arg(n))
            .Bind(6, QStringLiteral("Suite %1").arg(n))
            .Bind(7, QStringLiteral("Boston"))
            .Bind(8, QStringLiteral("MA"))
            .Bind(9, QStringLiteral("USA"))
            .Bind(10, QStringLiteral("02110"))
            .Bind(11, QStringLiteral("555-0100"))
            .Bind(12, QStringLiteral("555-0101"))
            .Bind(13, QStringLiteral("555-0102"))
            .Bind(14, QStringLiteral("555-0103"))
            .Bind(15, QStringLiteral("Last%1, First%1").arg(n));
        ins.Exec();
    }
    tx.Commit();
}

int lines(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? int(f.readAll().count('\n')) : -1;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("FERROWYN_HOME", home.path().toUtf8());
    ui::ScriptedUi scripted;
    ui::setServices(&scripted);
    if (!Main()) {
        std::printf("start-up failed\n");
        return 1;
    }
    Form1* f = Form1::Instance();
    seed();
    f->LoadFolders();
    for (int i = 1; i <= f->TreeView1->Nodes().Count(); ++i)
        if (f->TreeView1->Nodes(i)->Text() == QLatin1String("Master List"))
            f->TreeView1->Nodes(i)->SetSelected(true);

    const QString ours = home.filePath(QStringLiteral("export.csv"));
    const QString theirs = home.filePath(QStringLiteral("sqlite3.csv"));
    double best = 1e18, worst = 0, bestRef = 1e18, worstRef = 0;
    for (int round = 0; round < kRounds; ++round) {
        const double ref = RunTool(QStringLiteral("sqlite3"), {DatabasePath()},
                                   QStringLiteral(".mode csv\n.once %1\nSELECT Email FROM MasterList ORDER BY Email;\n").arg(theirs).toUtf8());
        if (ref < 0) {
            std::printf("sqlite3 failed\n");
            return 1;
        }
        bestRef = std::min(bestRef, ref);
        worstRef = std::max(worstRef, ref);
        QElapsedTimer t;
        t.start();
        if (!f->ExportAddressesBulkFolderPopup(ours)) {
            std::printf("export failed: %s\n", qPrintable(scripted.lastPrompt()));
            return 1;
        }
        const double v = ms(t);
        best = std::min(best, v);
        worst = std::max(worst, v);
    }
    const int ourLines = lines(ours), refLines = lines(theirs);
    std::printf("export of the whole Master List, %d addresses (%d lines; sqlite3 %d), best of %d (worst in brackets)\n", kAddresses,
                ourLines, refLines, kRounds);
    std::printf("  sqlite3 .mode csv / .once:   %8.1f ms (%.1f)\n", bestRef, worstRef);
    std::printf("  Master List export:          %8.1f ms (%.1f)\n", best, worst);
    std::printf("  ratio export / sqlite3: %.2f (aim: at most 3)\n", best / bestRef);

    f->close();
    delete f;
    ReleaseInstanceLock();
    ui::setServices(nullptr);
    return ourLines == kAddresses && refLines == kAddresses ? 0 : 2;
}
